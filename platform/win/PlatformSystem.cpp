#include "platform/PlatformSystem.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <climits>
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
  TIME_ZONE_INFORMATION zone{};
  const DWORD state = ::GetTimeZoneInformation(&zone);
  if (state == TIME_ZONE_ID_INVALID) return false;
  info.Bias = zone.Bias;
  info.StandardBias = zone.StandardBias;
  info.DaylightBias = zone.DaylightBias;
  info.ZoneState = state == TIME_ZONE_ID_STANDARD   ? TimeZoneInfo::State::Standard
                   : state == TIME_ZONE_ID_DAYLIGHT ? TimeZoneInfo::State::Daylight
                                                    : TimeZoneInfo::State::Unknown;
  return true;
}

uint64_t GetTickCount() {
  if (Overrides().TickCount) return Overrides().TickCount();
  // The 64-bit counter: the 32-bit one wraps after 49 days.
  return ::GetTickCount64();
}

int64_t CurrentUnixTime() {
  if (Overrides().UnixTime) return Overrides().UnixTime();
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  // 100-ns ticks since 1601-01-01.
  return static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
}

bool SystemRandomBytes(void* buffer, size_t size) {
  if (Overrides().RandomBytes) return Overrides().RandomBytes(buffer, size);
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG chunk = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
    if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      return false;
    out += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace platform
