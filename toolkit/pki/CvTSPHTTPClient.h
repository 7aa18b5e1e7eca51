// The RFC 3161 timestamp client over HTTP(S): it asks a time-stamping
// authority for a token over a digest and checks the reply before handing the
// token out (status, imprint, nonce, policy, the token's signature, the
// authority's certificate).
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/pki/CvTSPClient.h"

namespace corvane {

struct TCvTSPServer {
  std::string URL;   // http:// or https://
  std::string User;  // basic authentication when not empty
  std::string Password;
  std::string Policy;  // requested policy OID, dotted; empty: none
  int ConnectTimeoutMs = 10000;
  int TotalTimeoutMs = 60000;
};

// Results of TOvHTTPTSPClient::Timestamp besides 0; FailureText() says more.
// A reply that came but cannot be trusted gives MSG_ERROR_INVALID_TIMESTAMP.
inline constexpr int32_t TSP_ERROR_REQUEST = 81922;    // the request cannot be made as configured
inline constexpr int32_t TSP_ERROR_TRANSPORT = 81923;  // no answer from the server
inline constexpr int32_t TSP_ERROR_HTTP = 81924;       // an HTTP error, or not a timestamp reply
inline constexpr int32_t TSP_ERROR_REJECTED = 81925;   // the authority refused the request

class TOvHTTPTSPClient : public TOvCustomTSPClient {
 public:
  explicit TOvHTTPTSPClient(TCvTSPServer server);

  // Never raises for what the server sends. Each call asks with a fresh nonce
  // (kept in TSPInfo().Nonce). After a success the TSTInfo read from the token
  // (gen time, serial, TSA name) is in TSPInfo().
  int32_t Timestamp(const ByteString& digest, uint8_t& status, uint32_t& failureInfo,
                    ByteString& token) override;

  const TCvTSPServer& Server() const { return server_; }

 private:
  int32_t Run(const ByteString& digest, uint8_t& status, uint32_t& failureInfo, ByteString& token);
  int32_t CheckToken(const ByteString& token, const ByteString& hashOID, const ByteString& digest,
                     const ByteString& policy);

  TCvTSPServer server_;
};

}  // namespace corvane
