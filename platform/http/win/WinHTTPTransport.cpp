#include "platform/http/win/WinHTTPTransport.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/http/CurlHTTPTransport.h"
#include "platform/win/WinText.h"
#include "toolkit/common/CvScope.h"

namespace platform {

using corvane::StartsTextAscii;
using corvane::TCvHTTPFailure;
using corvane::TCvHTTPRequest;
using corvane::TCvHTTPResponse;
using platform::win::Utf8;
using platform::win::Wide;

namespace {

constexpr DWORD kMaxRedirects = 5;
// One read asks for at most this much; the reply limit is checked after each.
constexpr DWORD kReadChunk = 64 * 1024;

struct Handle {
  HINTERNET h = nullptr;
  Handle() = default;
  explicit Handle(HINTERNET handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h != nullptr) ::WinHttpCloseHandle(h);
  }
};

std::string Environment(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if (value == nullptr || value[0] == '\0') value = upper != nullptr ? std::getenv(upper) : nullptr;
  return value != nullptr ? value : "";
}

// "http://proxy:3128/" as WinHTTP names a proxy: "proxy:3128".
std::string ProxyHost(std::string proxy) {
  const size_t scheme = proxy.find("://");
  if (scheme != std::string::npos) proxy.erase(0, scheme + 3);
  const size_t at = proxy.rfind('@');  // credentials in the URL are not sent
  if (at != std::string::npos) proxy.erase(0, at + 1);
  const size_t slash = proxy.find('/');
  if (slash != std::string::npos) proxy.erase(slash);
  return proxy;
}

// no_proxy's "a.example,b.example" as a WinHTTP bypass list.
std::string BypassList(const std::string& noProxy) {
  std::string list;
  for (const char c : noProxy) {
    if (c == ',' || c == ' ') {
      if (!list.empty() && list.back() != ';') list += ';';
    } else {
      list += c;
    }
  }
  return list;
}

const char* WinHTTPErrorName(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return "the operation timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the host name could not be resolved";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "cannot connect";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "the connection was reset";
    case ERROR_WINHTTP_INVALID_URL:
      return "invalid URL";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return "unsupported scheme";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "the secure connection failed";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
      return "the server's certificate authority is not trusted";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return "the server's certificate names another host";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return "the server's certificate has expired or is not yet valid";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer is not HTTP";
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return "redirect refused";
    case WSAETIMEDOUT:
      return "the connection timed out";
    case WSAECONNREFUSED:
      return "connection refused";
    default:
      return nullptr;
  }
}

std::string Describe(DWORD code) {
  const char* name = WinHTTPErrorName(code);
  std::string text = "WinHTTP error " + std::to_string(code);
  if (name != nullptr) text += std::string(": ") + name;
  return text;
}

TCvHTTPResponse Failure(TCvHTTPFailure kind, std::string detail) {
  TCvHTTPResponse response;
  response.Failure = kind;
  response.Detail = std::move(detail);
  return response;
}

TCvHTTPResponse Failure(DWORD code, bool connected) {
  return Failure(WinHTTPFailureOf(code, connected), Describe(code));
}

std::wstring QueryText(HINTERNET request, DWORD what) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 65536) return {};
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX))
    return {};
  text.resize(bytes / sizeof(wchar_t));
  return text;
}

// scheme://host:port of a URL, letter case folded: where credentials may go.
std::string Origin(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t end =
      scheme == std::string::npos ? url.size() : url.find_first_of("/?#", scheme + 3);
  std::string origin = url.substr(0, end);
  for (char& c : origin)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return origin;
}

// The absolute URL a Location header names, seen from the URL it came with.
std::string Resolve(const std::string& base, const std::string& location) {
  if (location.find("://") != std::string::npos) return location;
  if (location.rfind("//", 0) == 0) return base.substr(0, base.find("://") + 1) + location;
  const std::string origin = base.substr(0, Origin(base).size());
  if (!location.empty() && location[0] == '/') return origin + location;
  std::string path = base.substr(origin.size());
  path = path.substr(0, path.find_first_of("?#"));
  return origin + path.substr(0, path.rfind('/') + 1) + (path.empty() ? "/" : "") + location;
}

using Clock = std::chrono::steady_clock;

// One request to one URL, redirects not followed: a redirect's target comes
// back in location.
TCvHTTPResponse Exchange(const TCvHTTPRequest& request, const std::string& target, bool post,
                         Clock::time_point deadline, std::string& location) {
  const bool https = StartsTextAscii(target, "https://");
  const std::wstring url = Wide(target);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.dwHostNameLength == 0)
    return Failure(TCvHTTPFailure::BadURL, "the URL cannot be read: " + target);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath != nullptr ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // The environment's proxy as libcurl would take it; else the system's.
  const std::string proxy =
      https ? Environment("https_proxy", "HTTPS_PROXY") : Environment("http_proxy", nullptr);
  const std::string anyProxy = proxy.empty() ? Environment("all_proxy", "ALL_PROXY") : proxy;
  const std::string noProxy = Environment("no_proxy", "NO_PROXY");
  Handle session;
  if (!anyProxy.empty() && noProxy != "*") {
    const std::wstring name = Wide(ProxyHost(anyProxy));
    const std::wstring bypass = Wide(BypassList(noProxy));
    session.h = ::WinHttpOpen(L"Tavra PDF Signer", WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                              bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
  } else if (!anyProxy.empty()) {
    session.h = ::WinHttpOpen(L"Tavra PDF Signer", WINHTTP_ACCESS_TYPE_NO_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  } else {
    session.h = ::WinHttpOpen(L"Tavra PDF Signer", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  }
  if (session.h == nullptr) return Failure(::GetLastError(), false);
  // Name resolution counts to the connection; sending and each wait for the
  // answer to the whole request, whose deadline the reading loop keeps too.
  if (!::WinHttpSetTimeouts(session.h, request.ConnectTimeoutMs, request.ConnectTimeoutMs,
                            request.TotalTimeoutMs, request.TotalTimeoutMs))
    return Failure(::GetLastError(), false);

  Handle connection(::WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
  if (connection.h == nullptr) return Failure(::GetLastError(), false);
  Handle http(::WinHttpOpenRequest(connection.h, post ? L"POST" : L"GET", path.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   https ? WINHTTP_FLAG_SECURE : 0));
  if (http.h == nullptr) return Failure(::GetLastError(), false);

  // Redirects are followed by Perform, which decides where they may lead (and
  // Wine's WinHTTP fails a redirect to another scheme without saying so).
  // Again on the request: Wine's WinHTTP does not pass the session's on.
  if (!::WinHttpSetTimeouts(http.h, request.ConnectTimeoutMs, request.ConnectTimeoutMs,
                            request.TotalTimeoutMs, request.TotalTimeoutMs))
    return Failure(::GetLastError(), false);
  DWORD wait = static_cast<DWORD>(request.TotalTimeoutMs);
  ::WinHttpSetOption(http.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait, sizeof wait);
  DWORD feature = WINHTTP_DISABLE_REDIRECTS;
  if (!::WinHttpSetOption(http.h, WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature))
    return Failure(::GetLastError(), false);
  // Credentials go to the origin they were given for only.
  if (!request.User.empty() && Origin(target) == Origin(request.URL)) {
    const std::wstring user = Wide(request.User), password = Wide(request.Password);
    if (!::WinHttpSetCredentials(http.h, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                                 user.c_str(), password.c_str(), nullptr))
      return Failure(::GetLastError(), false);
  }

  std::wstring headers;
  if (post) headers += L"Content-Type: " + Wide(request.ContentType) + L"\r\n";
  if (!request.Accept.empty()) headers += L"Accept: " + Wide(request.Accept) + L"\r\n";
  const DWORD bodySize = post ? static_cast<DWORD>(request.Body.size()) : 0;
  LPVOID body = post && bodySize > 0 ? const_cast<char*>(request.Body.data()) : nullptr;
  if (!::WinHttpSendRequest(
          http.h, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
          headers.empty() ? 0 : static_cast<DWORD>(-1), body, bodySize, bodySize, 0))
    return Failure(::GetLastError(), false);
  if (!::WinHttpReceiveResponse(http.h, nullptr)) return Failure(::GetLastError(), true);

  TCvHTTPResponse response;
  DWORD status = 0, size = sizeof status;
  if (!::WinHttpQueryHeaders(http.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return Failure(::GetLastError(), true);
  if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
    location = Utf8(QueryText(http.h, WINHTTP_QUERY_LOCATION));
    if (!location.empty()) return {};
  }
  const std::wstring length = QueryText(http.h, WINHTTP_QUERY_CONTENT_LENGTH);
  if (!length.empty()) {
    // Refused before reading when the server says it is too large.
    const unsigned long long declared = std::wcstoull(length.c_str(), nullptr, 10);
    if (declared > request.MaxResponseSize)
      return Failure(TCvHTTPFailure::TooLarge, "the reply is larger than the limit");
  }

  for (;;) {
    if (Clock::now() > deadline)
      return Failure(TCvHTTPFailure::Timeout, "no complete answer within the time allowed");
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(http.h, &available)) return Failure(::GetLastError(), true);
    if (available == 0) break;
    const size_t room = request.MaxResponseSize - response.Body.size();
    // One byte beyond the limit is enough to know it is exceeded.
    const DWORD want = static_cast<DWORD>(std::min<size_t>(
        {static_cast<size_t>(available), static_cast<size_t>(kReadChunk), room + 1}));
    const size_t before = response.Body.size();
    response.Body.resize(before + want);
    DWORD read = 0;
    if (!::WinHttpReadData(http.h, response.Body.data() + before, want, &read))
      return Failure(::GetLastError(), true);
    response.Body.resize(before + read);
    if (response.Body.size() > request.MaxResponseSize)
      return Failure(TCvHTTPFailure::TooLarge, "the reply is larger than the limit");
    if (read == 0) break;
  }
  response.Status = static_cast<int>(status);
  response.ContentType = Utf8(QueryText(http.h, WINHTTP_QUERY_CONTENT_TYPE));
  return response;
}

TCvHTTPResponse Perform(const TCvHTTPRequest& request, bool post) {
  if (!StartsTextAscii(request.URL, "https://") && !StartsTextAscii(request.URL, "http://"))
    return Failure(TCvHTTPFailure::BadURL, "only http:// and https:// URLs are supported");
  if (request.ConnectTimeoutMs <= 0 || request.TotalTimeoutMs <= 0 || request.MaxResponseSize == 0)
    return Failure(TCvHTTPFailure::Failed, "timeouts and the reply limit must be positive");
  if (request.Body.size() > 0x7FFFFFFF)
    return Failure(TCvHTTPFailure::Failed, "the request body is too large");
  const auto deadline = Clock::now() + std::chrono::milliseconds(request.TotalTimeoutMs);
  std::string url = request.URL;
  for (DWORD hop = 0;; ++hop) {
    std::string location;
    TCvHTTPResponse response = Exchange(request, url, post, deadline, location);
    if (location.empty()) return response;
    if (hop == kMaxRedirects) return Failure(TCvHTTPFailure::Failed, "too many redirects");
    // A redirected POST stays a POST; https never falls back to http.
    const std::string next = Resolve(url, location);
    if (!StartsTextAscii(next, "https://") &&
        (StartsTextAscii(url, "https://") || !StartsTextAscii(next, "http://")))
      return Failure(TCvHTTPFailure::Failed, "redirect refused: " + next);
    if (Clock::now() > deadline)
      return Failure(TCvHTTPFailure::Timeout, "no complete answer within the time allowed");
    url = next;
  }
}

TCvHTTPResponse Guarded(const TCvHTTPRequest& request, bool post) {
  try {
    return Perform(request, post);
  } catch (const std::exception& e) {
    return Failure(TCvHTTPFailure::Failed, e.what());
  }
}

}  // namespace

TCvHTTPFailure WinHTTPFailureOf(unsigned long code, bool connected) {
  switch (code) {
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return connected ? TCvHTTPFailure::Failed : TCvHTTPFailure::BadURL;
    // Wine's WinHTTP passes some socket errors on as they are.
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case WSAHOST_NOT_FOUND:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return TCvHTTPFailure::Unreachable;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return TCvHTTPFailure::ConnectionRefused;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return connected ? TCvHTTPFailure::Timeout : TCvHTTPFailure::ConnectTimeout;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
      return TCvHTTPFailure::TLS;
    default:
      return TCvHTTPFailure::Failed;
  }
}

TCvHTTPResponse WinHTTPTransport::Post(const TCvHTTPRequest& request) {
  return Guarded(request, true);
}

TCvHTTPResponse WinHTTPTransport::Get(const TCvHTTPRequest& request) {
  return Guarded(request, false);
}

void InstallHTTPTransport() {
  static WinHTTPTransport transport;
  corvane::SetHTTPTransport(&transport);
}

}  // namespace platform
