// Seeding from the system's random source: its bytes must reach the state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "toolkit/common/CvRandom.h"

namespace corvane {
namespace {

size_t g_requested = 0;

bool SourceA(void* buffer, size_t size) {
  g_requested = size;
  std::memset(buffer, 0xA5, size);
  return true;
}

bool SourceB(void* buffer, size_t size) {
  std::memset(buffer, 0x5A, size);
  return true;
}

bool Unavailable(void*, size_t) { return false; }

TEST(RandomSeed, SystemBytesAreMixedInBeforeTheClock) {
  const std::string tick("tick", 4);
  const std::string clock = "four tick and time pairs";
  TOvRandom a(tick);
  EXPECT_TRUE(SeedFromSystem(a, &SourceA, clock));
  EXPECT_EQ(g_requested, 64u);
  TOvRandom expected(tick);
  expected.Mix(std::string(64, '\xA5'));
  expected.Mix(clock);
  const std::string fromA = a.Generate(32);
  EXPECT_EQ(fromA, expected.Generate(32));

  // Other system bytes, other output; no system bytes, the clock alone.
  TOvRandom b(tick);
  EXPECT_TRUE(SeedFromSystem(b, &SourceB, clock));
  EXPECT_NE(b.Generate(32), fromA);
  TOvRandom none(tick);
  EXPECT_FALSE(SeedFromSystem(none, &Unavailable, clock));
  TOvRandom clockOnly(tick);
  clockOnly.Mix(clock);
  EXPECT_EQ(none.Generate(32), clockOnly.Generate(32));
}

TEST(RandomSeed, SharedGeneratorIsSeededFromTheKernel) {
  EXPECT_TRUE(SharedRandomSeededFromSystem());
  EXPECT_NE(SharedRandomBytes(16), SharedRandomBytes(16));
}

}  // namespace
}  // namespace corvane
