// The key store and the HTTP transport handed to the toolkit before any test
// runs, as the programs do at start.
#include "app/core/CertificateDatabase.h"
#include "platform/http/CurlHTTPTransport.h"

namespace {

[[maybe_unused]] const bool installed = [] {
  tavra::InstallKeyStore();
  platform::InstallHTTPTransport();
  return true;
}();

}  // namespace
