// The toolkit signs and lists through the user's key store in these tests, as
// the programs arrange at start.
#include "platform/keystore/ToolkitKeyStore.h"

namespace {

[[maybe_unused]] const bool installed = [] {
  corvane::SetWin32KeyStore(&platform::ToolkitKeyStore());
  return true;
}();

}  // namespace
