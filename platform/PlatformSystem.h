// Clock, time zone and random numbers of the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {

// The current state of the local time zone in the shape the toolkit expects:
// UTC = local time + Bias minutes (+ StandardBias or DaylightBias by State).
struct TimeZoneInfo {
  enum class State { Unknown, Standard, Daylight };
  int32_t Bias = 0;
  int32_t StandardBias = 0;
  int32_t DaylightBias = 0;
  State ZoneState = State::Unknown;
};

// False when the C library cannot tell the zone.
bool GetTimeZoneInformation(TimeZoneInfo& info);

// Milliseconds of a monotonic clock.
uint64_t GetTickCount();

// Fills the buffer from the kernel's random source; false when it cannot.
bool SystemRandomBytes(void* buffer, size_t size);

// Seconds since 1970-01-01 UTC.
int64_t CurrentUnixTime();

// Tests that compare signed files byte for byte replace what makes two runs
// differ: the random bytes, the wall clock and the tick counter. An empty
// member keeps the system's own; an empty record restores all three.
struct SystemSources {
  std::function<bool(void* buffer, size_t size)> RandomBytes;
  std::function<int64_t()> UnixTime;
  std::function<uint64_t()> TickCount;
};
void SetSystemSourcesForTesting(SystemSources sources);

}  // namespace platform
