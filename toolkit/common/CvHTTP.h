// HTTP as a platform service: the toolkit posts a request and reads the
// answer through TOvHTTPTransport, which the program installs at start
// (libcurl on Linux). Only bytes move through it; the messages are ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/common/CvUtils.h"

namespace corvane {

// Replies larger than this are refused by default: what the toolkit asks for
// over HTTP (timestamp, OCSP and CRL replies) is small.
inline constexpr size_t HTTP_DEFAULT_MAX_RESPONSE = size_t{1024} * 1024;

struct TCvHTTPRequest {
  std::string URL;  // http:// or https:// only
  std::string ContentType;
  std::string Accept;  // empty: no Accept header
  ByteString Body;
  std::string User;  // basic authentication when not empty
  std::string Password;
  int ConnectTimeoutMs = 10000;
  int TotalTimeoutMs = 60000;
  size_t MaxResponseSize = HTTP_DEFAULT_MAX_RESPONSE;
};

enum class TCvHTTPFailure {
  None,               // an answer came; Status tells which
  NoTransport,        // nothing installed
  BadURL,             // not an http:// or https:// URL the transport accepts
  Unreachable,        // host or proxy name not found, network unreachable
  ConnectionRefused,  // nothing listens there
  ConnectTimeout,     // no connection within ConnectTimeoutMs
  Timeout,            // connected, but no complete answer within TotalTimeoutMs
  TLS,                // the secure connection failed (certificate not trusted, handshake)
  TooLarge,           // the reply exceeds MaxResponseSize
  Failed,             // anything else (protocol error, refused redirect)
};

struct TCvHTTPResponse {
  TCvHTTPFailure Failure = TCvHTTPFailure::None;
  std::string Detail;  // the transport's own words on a failure
  int Status = 0;      // HTTP status of the final answer
  std::string ContentType;
  ByteString Body;
};

class TOvHTTPTransport {
 public:
  TOvHTTPTransport() = default;
  virtual ~TOvHTTPTransport() = default;
  TOvHTTPTransport(const TOvHTTPTransport&) = delete;
  TOvHTTPTransport& operator=(const TOvHTTPTransport&) = delete;

  // POSTs the body. Never raises: every failure is in the response.
  virtual TCvHTTPResponse Post(const TCvHTTPRequest& request) = 0;
  // GETs the URL (CRLs and issuer certificates are fetched this way); the
  // body and content type of the request are not sent. Never raises. A
  // transport that cannot GET answers NoTransport.
  virtual TCvHTTPResponse Get(const TCvHTTPRequest& request);
};

// Not owned; nullptr removes it. The program installs one at start.
void SetHTTPTransport(TOvHTTPTransport* transport);
// The installed transport, nullptr when none.
TOvHTTPTransport* HTTPTransport();
// Through the installed transport; NoTransport when there is none.
TCvHTTPResponse HTTPPost(const TCvHTTPRequest& request);
TCvHTTPResponse HTTPGet(const TCvHTTPRequest& request);

}  // namespace corvane
