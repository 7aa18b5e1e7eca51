// The WinHTTP transport against a server of the test's own on 127.0.0.1
// (Winsock, in a thread): what arrives there, what comes back, and how each
// failure is named.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http/win/WinHTTPTransport.h"

namespace {

using corvane::TCvHTTPFailure;
using corvane::TCvHTTPRequest;
using corvane::TCvHTTPResponse;

struct Request {
  std::string Head;  // request line and headers
  std::string Body;
};

// Answers each connection with what the handler returns for the request; an
// empty answer keeps the connection open without a word until the server
// stops. Serves for at most 60 s.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<std::string(const Request&)> handler)
      : handler_(std::move(handler)) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no loopback listener: " << ::WSAGetLastError();
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::closesocket(listener_);
    ::WSACleanup();
  }
  std::string URL(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  Request Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }
  int Connections() const { return connections_; }

 private:
  bool Readable(SOCKET s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{0, ms * 1000};
    return ::select(0, &set, nullptr, nullptr, &wait) > 0;
  }
  void Serve() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      if (!Readable(listener_, 50)) continue;
      const SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      ++connections_;
      Handle(client);
      ::closesocket(client);
    }
  }
  void Handle(SOCKET client) {
    std::string data;
    size_t headEnd = std::string::npos, want = 0;
    char buffer[16384];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!stop_ && std::chrono::steady_clock::now() < end && data.size() < (1u << 22)) {
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + want) break;
      if (!Readable(client, 50)) continue;
      const int n = ::recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      data.append(buffer, static_cast<size_t>(n));
      if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
        const size_t at = Lower(data.substr(0, headEnd)).find("\r\ncontent-length:");
        if (at != std::string::npos) want = std::stoul(data.substr(at + 17));
      }
    }
    if (headEnd == std::string::npos) return;
    Request request{data.substr(0, headEnd), data.substr(headEnd + 4, want)};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_ = request;
    }
    const std::string answer = handler_(request);
    if (answer.empty()) {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    for (size_t sent = 0; sent < answer.size();) {
      const int n = ::send(client, answer.data() + sent,
                           static_cast<int>(std::min<size_t>(answer.size() - sent, 65536)), 0);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(client, SD_SEND);
  }
  static std::string Lower(std::string text) {
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  }

  std::function<std::string(const Request&)> handler_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::mutex mutex_;
  Request last_;
};

std::string Answer(int status, const std::string& type, const std::string& body,
                   const std::string& extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         extra + "\r\n" + body;
}

bool HasHeader(const Request& r, const std::string& line) {
  const std::string head = r.Head + "\r\n";
  return head.find("\r\n" + line + "\r\n") != std::string::npos;
}

TCvHTTPRequest Make(const std::string& url) {
  TCvHTTPRequest request;
  request.URL = url;
  request.ConnectTimeoutMs = 5000;
  request.TotalTimeoutMs = 15000;
  return request;
}

TEST(WinHTTPTransport, PostCarriesBodyAndHeadersAndGetsTheAnswer) {
  const std::string reply("\x30\x03\x02\x01\x00 and \0 more", 18);
  LoopbackServer server(
      [&](const Request&) { return Answer(200, "application/timestamp-reply", reply); });
  platform::WinHTTPTransport transport;
  TCvHTTPRequest request = Make(server.URL("/tsa?policy=1"));
  request.ContentType = "application/timestamp-query";
  request.Accept = "application/timestamp-reply";
  request.Body = std::string("\x30\x00\x01\xff\r\n\r\n", 8);
  const TCvHTTPResponse response = transport.Post(request);
  ASSERT_EQ(response.Failure, TCvHTTPFailure::None) << response.Detail;
  EXPECT_EQ(response.Status, 200);
  EXPECT_EQ(response.ContentType, "application/timestamp-reply");
  EXPECT_EQ(response.Body, reply);
  const Request got = server.Last();
  EXPECT_EQ(got.Head.substr(0, got.Head.find("\r\n")), "POST /tsa?policy=1 HTTP/1.1");
  EXPECT_TRUE(HasHeader(got, "Content-Type: application/timestamp-query")) << got.Head;
  EXPECT_TRUE(HasHeader(got, "Accept: application/timestamp-reply")) << got.Head;
  EXPECT_EQ(got.Body, request.Body);

  // A GET sends no body and no content type.
  request.URL = server.URL("/ca.crl");
  const TCvHTTPResponse fetched = transport.Get(request);
  ASSERT_EQ(fetched.Failure, TCvHTTPFailure::None) << fetched.Detail;
  EXPECT_EQ(fetched.Body, reply);
  const Request get = server.Last();
  EXPECT_EQ(get.Head.substr(0, get.Head.find("\r\n")), "GET /ca.crl HTTP/1.1");
  EXPECT_EQ(get.Head.find("Content-Type"), std::string::npos) << get.Head;
  EXPECT_TRUE(get.Body.empty());
}

TEST(WinHTTPTransport, BasicAuthenticationIsSent) {
  LoopbackServer server([](const Request& r) {
    // "user:heslo" in base64.
    if (HasHeader(r, "Authorization: Basic dXNlcjpoZXNsbw=="))
      return Answer(200, "text/plain", "ok");
    return Answer(401, "text/plain", "who", "WWW-Authenticate: Basic realm=\"tsa\"\r\n");
  });
  platform::WinHTTPTransport transport;
  TCvHTTPRequest request = Make(server.URL());
  request.ContentType = "text/plain";
  EXPECT_EQ(transport.Post(request).Status, 401);
  request.User = "user";
  request.Password = "heslo";
  const TCvHTTPResponse response = transport.Post(request);
  ASSERT_EQ(response.Failure, TCvHTTPFailure::None) << response.Detail;
  EXPECT_EQ(response.Status, 200);
  EXPECT_EQ(response.Body, "ok");
}

TEST(WinHTTPTransport, ReplyLimitHoldsWithAndWithoutALength) {
  const std::string big(3 * 65536 + 5, 'x');
  LoopbackServer server([&](const Request& r) {
    if (r.Head.rfind("GET /declared", 0) == 0) return Answer(200, "text/plain", big);
    // No length: the body ends with the connection.
    return "HTTP/1.1 200 X\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + big;
  });
  platform::WinHTTPTransport transport;
  for (const char* path : {"/declared", "/undeclared"}) {
    TCvHTTPRequest request = Make(server.URL(path));
    request.MaxResponseSize = big.size() - 1;
    EXPECT_EQ(transport.Get(request).Failure, TCvHTTPFailure::TooLarge) << path;
    request.MaxResponseSize = big.size();
    const TCvHTTPResponse whole = transport.Get(request);
    EXPECT_EQ(whole.Failure, TCvHTTPFailure::None) << path << ": " << whole.Detail;
    EXPECT_EQ(whole.Body, big) << path;
  }
}

TEST(WinHTTPTransport, RedirectsAreFollowedWithinHttpOnly) {
  LoopbackServer server([](const Request& r) {
    if (r.Head.rfind("POST /old", 0) == 0)
      return Answer(307, "text/plain", "", "Location: /new\r\n");
    if (r.Head.rfind("POST /ftp", 0) == 0)
      return Answer(302, "text/plain", "", "Location: ftp://127.0.0.1/x\r\n");
    return Answer(200, "text/plain", r.Head.substr(0, r.Head.find(' ', 5)) + "|" + r.Body);
  });
  platform::WinHTTPTransport transport;
  TCvHTTPRequest request = Make(server.URL("/old"));
  request.ContentType = "text/plain";
  request.Body = "data";
  const TCvHTTPResponse moved = transport.Post(request);
  ASSERT_EQ(moved.Failure, TCvHTTPFailure::None) << moved.Detail;
  EXPECT_EQ(moved.Body, "POST /new|data");
  request.URL = server.URL("/ftp");
  const TCvHTTPResponse ftp = transport.Post(request);
  EXPECT_EQ(ftp.Failure, TCvHTTPFailure::Failed);
  EXPECT_NE(ftp.Detail.find("redirect refused"), std::string::npos) << ftp.Detail;
}

TEST(WinHTTPTransport, BadRequestsAreRefusedBeforeAnyConnection) {
  platform::WinHTTPTransport transport;
  EXPECT_EQ(transport.Post(Make("ftp://127.0.0.1/")).Failure, TCvHTTPFailure::BadURL);
  EXPECT_EQ(transport.Get(Make("http://")).Failure, TCvHTTPFailure::BadURL);
  TCvHTTPRequest zero = Make("http://127.0.0.1/");
  zero.TotalTimeoutMs = 0;
  EXPECT_EQ(transport.Post(zero).Failure, TCvHTTPFailure::Failed);
}

TEST(WinHTTPTransport, NothingListeningIsConnectionRefused) {
  int closedPort = 0;
  {
    LoopbackServer gone([](const Request&) { return std::string("x"); });
    closedPort = std::stoi(gone.URL().substr(17));
  }
  platform::WinHTTPTransport transport;
  const TCvHTTPResponse refused =
      transport.Post(Make("http://127.0.0.1:" + std::to_string(closedPort) + "/"));
  EXPECT_EQ(refused.Failure, TCvHTTPFailure::ConnectionRefused) << refused.Detail;
  EXPECT_FALSE(refused.Detail.empty());
}

TEST(WinHTTPTransport, SilentServerTimesOut) {
  LoopbackServer silent([](const Request&) { return std::string(); });
  platform::WinHTTPTransport transport;
  TCvHTTPRequest hang = Make(silent.URL());
  hang.TotalTimeoutMs = 1500;
  const TCvHTTPResponse late = transport.Post(hang);
  EXPECT_EQ(late.Failure, TCvHTTPFailure::Timeout) << late.Detail;
}

TEST(WinHTTPTransport, PlainServerFailsTheHandshake) {
  LoopbackServer plain([](const Request&) { return Answer(200, "text/plain", "not tls"); });
  platform::WinHTTPTransport transport;
  TCvHTTPRequest tls = Make("https" + plain.URL().substr(4));
  tls.TotalTimeoutMs = 5000;
  const TCvHTTPResponse secure = transport.Post(tls);
  EXPECT_NE(secure.Failure, TCvHTTPFailure::None) << secure.Detail;
  EXPECT_EQ(secure.Body, "");
}

TEST(WinHTTPTransport, ErrorCodesMapToFailureKinds) {
  using platform::WinHTTPFailureOf;
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_NAME_NOT_RESOLVED, false), TCvHTTPFailure::Unreachable);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_CANNOT_CONNECT, false),
            TCvHTTPFailure::ConnectionRefused);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_TIMEOUT, false), TCvHTTPFailure::ConnectTimeout);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_TIMEOUT, true), TCvHTTPFailure::Timeout);
  // As Wine reports them.
  EXPECT_EQ(WinHTTPFailureOf(WSAETIMEDOUT, true), TCvHTTPFailure::Timeout);
  EXPECT_EQ(WinHTTPFailureOf(WSAECONNREFUSED, false), TCvHTTPFailure::ConnectionRefused);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_SECURE_FAILURE, false), TCvHTTPFailure::TLS);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_SECURE_INVALID_CA, true), TCvHTTPFailure::TLS);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, false), TCvHTTPFailure::BadURL);
  EXPECT_EQ(WinHTTPFailureOf(ERROR_WINHTTP_CONNECTION_ERROR, true), TCvHTTPFailure::Failed);
}

}  // namespace
