// The HTTP transport handed to the toolkit before any test runs, as the
// programs do at start.
#include "platform/http/CurlHTTPTransport.h"

namespace {

[[maybe_unused]] const bool installed = [] {
  platform::InstallHTTPTransport();
  return true;
}();

}  // namespace
