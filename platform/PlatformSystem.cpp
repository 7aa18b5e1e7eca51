#include "platform/PlatformSystem.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <ctime>

namespace platform {

namespace {
SystemSources& Overrides() {
  static SystemSources sources;
  return sources;
}
}  // namespace

void SetSystemSourcesForTesting(SystemSources sources) { Overrides() = std::move(sources); }

bool GetTimeZoneInformation(TimeZoneInfo& info) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return false;
  // tm_gmtoff is seconds east of UTC; the bias counts the other way, in minutes.
  info.Bias = static_cast<int32_t>(-local.tm_gmtoff / 60);
  info.StandardBias = 0;
  info.DaylightBias = 0;
  info.ZoneState = TimeZoneInfo::State::Unknown;
  return true;
}

uint64_t GetTickCount() {
  if (Overrides().TickCount) return Overrides().TickCount();
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int64_t CurrentUnixTime() {
  if (Overrides().UnixTime) return Overrides().UnixTime();
  return static_cast<int64_t>(std::time(nullptr));
}

bool SystemRandomBytes(void* buffer, size_t size) {
  if (Overrides().RandomBytes) return Overrides().RandomBytes(buffer, size);
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::getrandom(out, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform
