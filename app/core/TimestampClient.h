// The timestamping client that signing and document timestamps ask: the
// RFC 3161 client over the HTTP transport the program installed.
#pragma once

#include <memory>

#include "app/core/SigningRequest.h"

namespace corvane {
class TOvCustomTSPClient;
}
namespace platform {
class KeyStorePasswordPrompt;
}

namespace tavra {

// A client for the authority. TAVRA_TSA_TIMEOUT (whole seconds, 1 to 600)
// bounds a request instead of the client's default of a minute.
std::unique_ptr<corvane::TOvCustomTSPClient> MakeTimestampClient(const TTimestampServer& server);

// Fills in the basic-auth password when the server names a user and has none:
// TAVRA_TSA_PASSWORD, else asked through prompt. False when the prompt was
// cancelled (or there is none to ask).
bool AskTimestampPassword(TTimestampServer& server, platform::KeyStorePasswordPrompt* prompt);

}  // namespace tavra
