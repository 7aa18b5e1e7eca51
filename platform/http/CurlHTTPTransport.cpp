#include "platform/http/CurlHTTPTransport.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

#include "toolkit/common/CvScope.h"

namespace platform {

using corvane::StartsTextAscii;
using corvane::TCvHTTPFailure;
using corvane::TCvHTTPRequest;
using corvane::TCvHTTPResponse;

namespace {

constexpr long kMaxRedirects = 5;

struct Sink {
  std::string* body;
  size_t limit;
  bool overflow = false;
};

size_t Write(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t n = size * count;
  if (n > sink->limit - sink->body->size()) {
    sink->overflow = true;
    return 0;  // libcurl stops with CURLE_WRITE_ERROR
  }
  sink->body->append(data, n);
  return n;
}

TCvHTTPFailure Classify(CURLcode code, bool overflow, bool connected) {
  switch (code) {
    case CURLE_OK:
      return TCvHTTPFailure::None;
    case CURLE_URL_MALFORMAT:
      return TCvHTTPFailure::BadURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return TCvHTTPFailure::Unreachable;
    case CURLE_COULDNT_CONNECT:
      return TCvHTTPFailure::ConnectionRefused;
    case CURLE_OPERATION_TIMEDOUT:
      return connected ? TCvHTTPFailure::Timeout : TCvHTTPFailure::ConnectTimeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_USE_SSL_FAILED:
      return TCvHTTPFailure::TLS;
    case CURLE_FILESIZE_EXCEEDED:
      return TCvHTTPFailure::TooLarge;
    case CURLE_WRITE_ERROR:
      return overflow ? TCvHTTPFailure::TooLarge : TCvHTTPFailure::Failed;
    default:
      return TCvHTTPFailure::Failed;
  }
}

}  // namespace

TCvHTTPResponse CurlHTTPTransport::Post(const TCvHTTPRequest& request) {
  return Perform(request, true);
}

TCvHTTPResponse CurlHTTPTransport::Get(const TCvHTTPRequest& request) {
  return Perform(request, false);
}

TCvHTTPResponse CurlHTTPTransport::Perform(const TCvHTTPRequest& request, bool post) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  TCvHTTPResponse response;
  // Checked here too, so that no other scheme reaches libcurl at all.
  const bool https = StartsTextAscii(request.URL, "https://");
  if (!https && !StartsTextAscii(request.URL, "http://")) {
    response.Failure = TCvHTTPFailure::BadURL;
    response.Detail = "only http:// and https:// URLs are supported";
    return response;
  }
  if (request.ConnectTimeoutMs <= 0 || request.TotalTimeoutMs <= 0 ||
      request.MaxResponseSize == 0) {
    response.Failure = TCvHTTPFailure::Failed;
    response.Detail = "timeouts and the reply limit must be positive";
    return response;
  }

  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    response.Failure = TCvHTTPFailure::Failed;
    response.Detail = "libcurl could not start a request";
    return response;
  }
  curl_slist* headers = nullptr;
  corvane::TCvScopeExit cleanup([&] {
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
  });

  const std::string contentType = "Content-Type: " + request.ContentType;
  if (post) headers = curl_slist_append(headers, contentType.c_str());
  if (!request.Accept.empty()) {
    const std::string accept = "Accept: " + request.Accept;
    headers = curl_slist_append(headers, accept.c_str());
  }
  // No "Expect: 100-continue" round trip for a small body.
  headers = curl_slist_append(headers, "Expect:");

  Sink sink{&response.Body, request.MaxResponseSize};
  char error[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_URL, request.URL.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  // A redirected POST stays a POST; an https request never falls back to http.
  curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.ConnectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.TotalTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tavra PDF Signer");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (post) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.Body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.Body.size()));
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(request.MaxResponseSize));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Write);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  if (!request.User.empty()) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.User.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.Password.c_str());
  }

  const CURLcode code = curl_easy_perform(curl);
  curl_off_t connectTime = 0;
  curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectTime);
  response.Failure = Classify(code, sink.overflow, connectTime > 0);
  if (response.Failure != TCvHTTPFailure::None) {
    response.Detail = error[0] != 0 ? error : curl_easy_strerror(code);
    // The scheme of the request was checked above: this was a redirect.
    if (code == CURLE_UNSUPPORTED_PROTOCOL)
      response.Detail = "redirect refused: " + response.Detail;
    response.Body.clear();
    return response;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response.Status = static_cast<int>(status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr)
    response.ContentType = type;
  return response;
}

CurlHTTPTransport& ToolkitHTTPTransport() {
  static CurlHTTPTransport transport;
  return transport;
}

void InstallHTTPTransport() { corvane::SetHTTPTransport(&ToolkitHTTPTransport()); }

}  // namespace platform
