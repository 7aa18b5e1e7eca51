#include "toolkit/common/CvHTTP.h"

#include <atomic>
#include <exception>

namespace corvane {

namespace {
std::atomic<TOvHTTPTransport*> installed{nullptr};
}  // namespace

void SetHTTPTransport(TOvHTTPTransport* transport) { installed.store(transport); }

TOvHTTPTransport* HTTPTransport() { return installed.load(); }

TCvHTTPResponse TOvHTTPTransport::Get(const TCvHTTPRequest& /*request*/) {
  TCvHTTPResponse response;
  response.Failure = TCvHTTPFailure::NoTransport;
  response.Detail = "this HTTP transport cannot GET";
  return response;
}

namespace {

template <typename Call>
TCvHTTPResponse ThroughTransport(Call call) {
  TCvHTTPResponse response;
  TOvHTTPTransport* transport = HTTPTransport();
  if (transport == nullptr) {
    response.Failure = TCvHTTPFailure::NoTransport;
    response.Detail = "no HTTP transport is installed";
    return response;
  }
  try {
    return call(*transport);
  } catch (const std::exception& e) {
    // A transport is not supposed to raise; its callers do not expect it.
    response.Failure = TCvHTTPFailure::Failed;
    response.Detail = e.what();
  }
  return response;
}

}  // namespace

TCvHTTPResponse HTTPPost(const TCvHTTPRequest& request) {
  return ThroughTransport([&](TOvHTTPTransport& t) { return t.Post(request); });
}

TCvHTTPResponse HTTPGet(const TCvHTTPRequest& request) {
  return ThroughTransport([&](TOvHTTPTransport& t) { return t.Get(request); });
}

}  // namespace corvane
