// The toolkit's view of the key store: TOvWin32KeyStore over KeyStore, for
// the CryptoAPI provider and TOvWinCertStorage. The application installs it
// once at start (corvane::SetWin32KeyStore).
#pragma once

#ifndef TAVRA_KEYSTORE_LINKED
#error "The key store is the application's: link tavra_keystore (no toolkit target does)"
#endif

#include "toolkit/crypto/CvCryptoProvWin32.h"

namespace platform {

// Process-wide, never destroyed; the handles it gives out are KeyStore's.
corvane::TOvWin32KeyStore& ToolkitKeyStore();

}  // namespace platform
