// The key store handed to the toolkit before any test runs, as the programs
// do at start.
#include "app/core/CertificateDatabase.h"

namespace {

[[maybe_unused]] const bool installed = [] {
  tavra::InstallKeyStore();
  return true;
}();

}  // namespace
