// Fuzz target for the checks of a timestamp reply: the input (after one
// octet of options) is what the server answers, handed to the HTTP
// timestamp client by an in-memory transport. The client never raises, and
// it hands out a token only when it reports success without a cause.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "toolkit/common/CvHTTP.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvTSPHTTPClient.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

class Canned final : public TOvHTTPTransport {
 public:
  std::string_view body;
  TCvHTTPResponse Post(const TCvHTTPRequest& request) override {
    Check(request.Body.size() > 0 && request.URL == "http://127.0.0.1/tsa");
    TCvHTTPResponse response;
    response.Status = 200;
    response.ContentType = "application/timestamp-reply";
    response.Body = ByteString(body);
    return response;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static Canned transport;
  SetHTTPTransport(&transport);
  // The seeds' tokens are over this digest.
  static const ByteString digest = [] {
    TOvHashFunction hash(ALG_SHA256);
    hash.Update(std::string_view("fuzz seed"));
    return hash.Finish();
  }();
  transport.body = std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1);

  TCvTSPServer server;
  server.URL = "http://127.0.0.1/tsa";
  TOvHTTPTSPClient client(server);
  // The nonce is fresh for every request, so the first octet may let a
  // recorded reply past the nonce (and its signature) to the later checks.
  TCvTSPOptions options = 0;
  if (data[0] & 1) options |= tsoIgnoreBadNonce;
  if (data[0] & 2) options |= tsoIgnoreBadSignature;
  client.SetOptions(options);
  uint8_t status = 0;
  uint32_t failureInfo = 0;
  ByteString token;
  const int32_t result = client.Timestamp(digest, status, failureInfo, token);
  Check(result == 0 ? !token.empty() && client.FailureText().empty()
                    : token.empty() && !client.FailureText().empty());
  SetHTTPTransport(nullptr);
  return 0;
}
