#include "toolkit/common/CvHTTP.h"

#include <atomic>
#include <exception>

namespace corvane {

namespace {
std::atomic<TOvHTTPTransport*> installed{nullptr};
}  // namespace

void SetHTTPTransport(TOvHTTPTransport* transport) { installed.store(transport); }

TOvHTTPTransport* HTTPTransport() { return installed.load(); }

TCvHTTPResponse HTTPPost(const TCvHTTPRequest& request) {
  TCvHTTPResponse response;
  TOvHTTPTransport* transport = HTTPTransport();
  if (transport == nullptr) {
    response.Failure = TCvHTTPFailure::NoTransport;
    response.Detail = "no HTTP transport is installed";
    return response;
  }
  try {
    return transport->Post(request);
  } catch (const std::exception& e) {
    // A transport is not supposed to raise; its callers do not expect it.
    response.Failure = TCvHTTPFailure::Failed;
    response.Detail = e.what();
  }
  return response;
}

}  // namespace corvane
