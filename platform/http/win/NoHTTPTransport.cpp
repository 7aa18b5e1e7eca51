// No transport on Windows yet (WinHTTP comes later): nothing is installed, so
// a timestamp or revocation request fails with the toolkit's own text.
#include "platform/http/CurlHTTPTransport.h"

namespace platform {

void InstallHTTPTransport() {}

}  // namespace platform
