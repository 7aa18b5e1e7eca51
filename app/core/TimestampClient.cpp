#include "app/core/TimestampClient.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/keystore/KeyStore.h"
#include "toolkit/pki/CvTSPHTTPClient.h"

namespace tavra {

namespace {

// Milliseconds of TAVRA_TSA_TIMEOUT, or 0 when it is unset or not a number in range.
int TimeoutFromEnvironment() {
  const char* text = std::getenv("TAVRA_TSA_TIMEOUT");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds < 1 || seconds > 600) return 0;
  return static_cast<int>(seconds) * 1000;
}

}  // namespace

std::unique_ptr<corvane::TOvCustomTSPClient> MakeTimestampClient(const TTimestampServer& server) {
  corvane::TCvTSPServer http;
  http.URL = server.URL;
  http.User = server.User;
  http.Password = server.Password;
  http.Policy = server.Policy;
  if (const int total = TimeoutFromEnvironment()) {
    http.TotalTimeoutMs = total;
    if (http.ConnectTimeoutMs > total) http.ConnectTimeoutMs = total;
  }
  return std::make_unique<corvane::TOvHTTPTSPClient>(std::move(http));
}

bool AskTimestampPassword(TTimestampServer& server, platform::KeyStorePasswordPrompt* prompt) {
  if (server.User.empty() || !server.Password.empty()) return true;
  if (const char* password = std::getenv("TAVRA_TSA_PASSWORD")) {
    server.Password = password;
    return true;
  }
  if (!prompt) return false;
  const std::optional<std::string> answer =
      prompt->AskPassword("časové razítko, uživatel " + server.User, false);
  if (!answer) return false;
  server.Password = *answer;
  return true;
}

}  // namespace tavra
