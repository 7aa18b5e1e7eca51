// The HTTP timestamp client against a time-stamping authority started on
// 127.0.0.1 for each test (tests/fixtures/tsa_server.py over openssl ts), in
// its proper and its broken modes. Accepted tokens are checked by openssl.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/fixtures/LoopbackTSA.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvConstants.h"
#include "toolkit/common/CvHTTP.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvTSPHTTPClient.h"

namespace corvane {
namespace {

using tavra_test::Quote;

using tavra_fixture::LoopbackTSA;

ByteString Sha256(std::string_view data) {
  TOvHashFunction hash(ALG_SHA256);
  hash.Update(data);
  return hash.Finish();
}

struct Outcome {
  int32_t result = -1;
  uint8_t status = 0xFF;
  uint32_t failureInfo = 0;
  ByteString token;
  std::string text;
};

class TSPHTTPClientTest : public ::testing::Test {
 protected:
  std::string Folder() const { return scratch_ / "authority"; }

  // One request to an authority in the given mode.
  Outcome Ask(const std::string& mode, TCvTSPServer server = {},
              std::vector<std::string> extra = {}) {
    LoopbackTSA tsa(Folder(), mode, std::move(extra));
    EXPECT_GT(tsa.Port(), 0) << "the loopback authority did not start";
    if (server.URL.empty()) server.URL = tsa.URL(mode == "tls" ? "https" : "http");
    return Ask(server);
  }
  Outcome Ask(const TCvTSPServer& server) {
    TOvHTTPTSPClient client(server);
    Outcome o;
    o.result = client.Timestamp(digest_, o.status, o.failureInfo, o.token);
    o.text = client.FailureText();
    return o;
  }

  tavra_test::ScratchDir scratch_;
  // libcurl takes proxies from the environment; the loopback is reached directly.
  tavra_test::ScopedEnv no_proxy_{"no_proxy", "*"};
  tavra_test::ScopedEnv no_proxy_upper_{"NO_PROXY", "*"};
  const ByteString digest_ = Sha256("the signature value to be timestamped");
};

TEST_F(TSPHTTPClientTest, GrantedTokenIsCheckedAndAcceptedByOpenssl) {
  LoopbackTSA tsa(Folder(), "ok");
  ASSERT_GT(tsa.Port(), 0);
  TCvTSPServer server;
  server.URL = tsa.URL();
  TOvHTTPTSPClient client(server);
  uint8_t status = 0xFF;
  uint32_t failureInfo = 1;
  ByteString token;
  ASSERT_EQ(client.Timestamp(digest_, status, failureInfo, token), 0) << client.FailureText();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(failureInfo, 0u);
  EXPECT_TRUE(client.FailureText().empty());
  EXPECT_FALSE(client.TSPInfo().SerialNumber.empty());
  EXPECT_TRUE(client.TSPInfo().TSANameSet);
  EXPECT_NEAR(client.TSPInfo().GenTime, NowUTC(), 1.0 / 24);

  ASSERT_TRUE(tavra_test::ToolAvailable("openssl"));
  const std::string file = scratch_.Write("token.der", token);
  const auto verify = tavra_test::RunCapturing("openssl ts -verify -digest " + BytesToHex(digest_) +
                                               " -token_in -in " + Quote(file) + " -CAfile " +
                                               Quote(Folder() + "/ca.crt") + " 2>&1");
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_NE(verify.out.find("Verification: OK"), std::string::npos) << verify.out;

  // Each request carries a nonce of its own.
  const ByteString first = client.TSPInfo().Nonce;
  ASSERT_EQ(client.Timestamp(digest_, status, failureInfo, token), 0) << client.FailureText();
  EXPECT_NE(client.TSPInfo().Nonce, first);
}

TEST_F(TSPHTTPClientTest, RequestedPolicyIsAskedForAndAnUnacceptedOneRejected) {
  TCvTSPServer server;
  server.Policy = "1.2.3.4.5";
  const Outcome taken = Ask("ok", server);
  ASSERT_EQ(taken.result, 0) << taken.text;
  const std::string file = scratch_.Write("token.der", taken.token);
  const auto text =
      tavra_test::RunCapturing("openssl ts -reply -token_in -in " + Quote(file) + " -text");
  EXPECT_NE(text.out.find("Policy OID: 1.2.3.4.5"), std::string::npos) << text.out;

  server.Policy = "1.2.3.4.9";
  const Outcome refused = Ask("ok", server);
  EXPECT_EQ(refused.result, TSP_ERROR_REJECTED);
  EXPECT_EQ(refused.text,
            "timestamp request rejected: Requested policy is not supported. "
            "(unacceptedPolicy)");

  server.Policy = "1.2.x";
  EXPECT_EQ(Ask(server).text, "timestamp policy is not an object identifier (1.2.x)");
}

TEST_F(TSPHTTPClientTest, BrokenAuthoritiesAreNamedAndGiveNoToken) {
  struct Case {
    const char* mode;
    int32_t result;
    const char* text;
  };
  const Case cases[] = {
      {"reject", TSP_ERROR_REJECTED,
       "timestamp request rejected: Message digest algorithm is not supported. (badAlg)"},
      {"wrong-imprint", MSG_ERROR_INVALID_TIMESTAMP, "timestamp reply has a wrong message imprint"},
      {"wrong-nonce", MSG_ERROR_INVALID_TIMESTAMP, "timestamp reply has a wrong nonce"},
      {"garbage", MSG_ERROR_INVALID_TIMESTAMP, "timestamp reply is malformed"},
      {"bad-signature", MSG_ERROR_INVALID_TIMESTAMP, "timestamp token signature does not verify"},
      {"no-eku", MSG_ERROR_INVALID_TIMESTAMP,
       "timestamp server certificate is not for timestamping"},
      {"huge", TSP_ERROR_HTTP, "timestamp server's reply is larger than 1 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const Outcome o = Ask(c.mode);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.text, c.text);
    EXPECT_TRUE(o.token.empty());
    if (std::string_view(c.mode) == "reject") {
      EXPECT_EQ(o.status, 2);
      EXPECT_EQ(o.failureInfo, 1u);  // badAlg is bit 0
    }
  }
}

TEST_F(TSPHTTPClientTest, BasicAuthenticationIsSentWhenConfigured) {
  const std::vector<std::string> credentials{"--user", "signer", "--password", "s3cret:x"};
  const Outcome none = Ask("auth", {}, credentials);
  EXPECT_EQ(none.result, TSP_ERROR_HTTP);
  EXPECT_EQ(none.text, "timestamp server answered HTTP 401 (it asks for a user name and password)");

  TCvTSPServer server;
  server.User = "signer";
  server.Password = "wrong";
  EXPECT_EQ(Ask("auth", server, credentials).text,
            "timestamp server answered HTTP 401 (user name or password refused)");
  server.Password = "s3cret:x";
  const Outcome granted = Ask("auth", server, credentials);
  EXPECT_EQ(granted.result, 0) << granted.text;
  EXPECT_FALSE(granted.token.empty());
}

TEST_F(TSPHTTPClientTest, TransportFailuresNameTheirCause) {
  TCvTSPServer server;
  server.TotalTimeoutMs = 1500;
  const Outcome silent = Ask("hang", server);
  EXPECT_EQ(silent.result, TSP_ERROR_TRANSPORT);
  EXPECT_EQ(silent.text, "timestamp server did not answer within 1.5 s");

  const Outcome tls = Ask("tls");
  EXPECT_EQ(tls.result, TSP_ERROR_TRANSPORT);
  EXPECT_EQ(tls.text.rfind("secure connection to the timestamp server failed (", 0), 0u)
      << tls.text;

  const Outcome redirected = Ask("redirect-ftp");
  EXPECT_EQ(redirected.result, TSP_ERROR_TRANSPORT);
  EXPECT_EQ(redirected.text.rfind("timestamp request failed (redirect", 0), 0u) << redirected.text;

  // A port nobody listens on: bound, then released.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&address), &size), 0);
  close(s);
  server.URL = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/tsa";
  const Outcome refused = Ask(server);
  EXPECT_EQ(refused.result, TSP_ERROR_TRANSPORT);
  EXPECT_EQ(refused.text.rfind("timestamp server unreachable: connection refused (", 0), 0u)
      << refused.text;

  server.URL = "ftp://127.0.0.1/tsa";
  EXPECT_EQ(Ask(server).text,
            "timestamp server URL must start with http:// or https:// (ftp://127.0.0.1/tsa)");

  TOvHTTPTransport* installed = HTTPTransport();
  TCvScopeExit restore([installed] { SetHTTPTransport(installed); });
  SetHTTPTransport(nullptr);
  server.URL = "http://127.0.0.1:1/tsa";
  EXPECT_EQ(Ask(server).text, "timestamp request cannot be sent (no HTTP transport is installed)");
}

}  // namespace
}  // namespace corvane
