#include "toolkit/common/CvRandom.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {
namespace {

using tavra_test::RunCommand;
using tavra_test::ScratchDir;

// A seed of four bytes expands to a 16-byte RC4 key repeated 16 times: each
// byte followed by its right shifts by 1, 2 and 3 bits.
std::string ExpandedKey(const std::string& seed4) {
  std::string key;
  for (char c : seed4)
    for (int r = 0; r < 4; ++r) key.push_back(static_cast<char>(static_cast<uint8_t>(c) >> r));
  return key;
}

// RC4 keystream from openssl (legacy provider), or empty when it cannot make one.
std::string OpensslRc4Stream(const std::string& key16, size_t length) {
  ScratchDir dir;
  const std::string input = dir.Write("zeros.bin", std::string(length, '\0'));
  int code = 0;
  const std::string out = RunCommand("openssl enc -rc4 -provider legacy -provider default -K " +
                                         BytesToHex(key16) + " -in " + input + " 2>/dev/null",
                                     &code);
  return code == 0 ? out : std::string();
}

TEST(Random, ZeroSeedGivesTheZeroKeyRc4Stream) {
  // RC4 with an all-zero key (any length): DE 18 89 41 A3 37 5D 3A ...
  TOvRandom random(std::string(1, '\0'));
  EXPECT_EQ(BytesToHex(random.Generate(8)), "DE188941A3375D3A");
}

TEST(Random, MatchesOpensslRc4ForFourByteSeeds) {
  TAVRA_REQUIRE_TOOL("openssl");
  ASSERT_FALSE(OpensslRc4Stream(std::string(16, '\0'), 8).empty())
      << "openssl gives no RC4 stream (its legacy provider is missing)";
  const std::vector<std::string> seeds = {std::string("\x01\x02\x03\x04", 4),
                                          std::string("\xFF\x80\x7F\x10", 4),
                                          std::string("\xA5\x5A\xC3\x3C", 4)};
  for (const std::string& seed : seeds) {
    TOvRandom random(seed);
    const std::string ours = random.Generate(1000);
    EXPECT_EQ(BytesToHex(ours), BytesToHex(OpensslRc4Stream(ExpandedKey(seed), 1000)))
        << "seed " << BytesToHex(seed);
  }
}

TEST(Random, ExplicitSeedIsDeterministicAndSeedResets) {
  TOvRandom a(std::string("seed bytes"));
  TOvRandom b(std::string("seed bytes"));
  const std::string first = a.Generate(64);
  EXPECT_EQ(first, b.Generate(64));
  a.Seed("seed bytes");  // full seeding starts over from the identity
  EXPECT_EQ(a.Generate(64), first);
  TOvRandom c(std::string("seed bytez"));
  EXPECT_NE(c.Generate(64), first);
}

TEST(Random, MixKeepsThePermutationAndEmptySeedChangesNothing) {
  TOvRandom a(std::string("abc"));
  TOvRandom b(std::string("abc"));
  a.Generate(10);
  b.Generate(10);
  a.Mix("");
  EXPECT_EQ(a.Generate(16), b.Generate(16));  // not even the indices were reset

  TOvRandom mixed(std::string("abc"));
  mixed.Mix("more");
  TOvRandom reseeded(std::string("more"));
  const std::string m = mixed.Generate(32);
  EXPECT_NE(m, reseeded.Generate(32));  // mixing is not a reset
  TOvRandom again(std::string("abc"));
  again.Mix("more");
  EXPECT_EQ(again.Generate(32), m);
}

TEST(Random, GenerateBelowTakesFourBytesLittleEndian) {
  TOvRandom a(std::string("below"));
  TOvRandom b(std::string("below"));
  const std::string bytes = b.Generate(4);
  const uint32_t raw = static_cast<uint8_t>(bytes[0]) | (static_cast<uint8_t>(bytes[1]) << 8) |
                       (static_cast<uint8_t>(bytes[2]) << 16) |
                       (static_cast<uint32_t>(static_cast<uint8_t>(bytes[3])) << 24);
  EXPECT_EQ(a.GenerateBelow(0), raw);
  EXPECT_EQ(a.GenerateBelow(1000), b.GenerateBelow(0) % 1000);
  for (int k = 0; k < 200; ++k) EXPECT_LT(a.GenerateBelow(7), 7u);
}

TEST(Random, TickSeededConstructorsProduceOutput) {
  TOvRandom random;
  const std::string out = random.Generate(256);
  EXPECT_EQ(out.size(), 256u);
  EXPECT_NE(out, std::string(256, out[0]));
}

TEST(SharedRandom, IsSeededFromTheKernelAndDrawsDiffer) {
  const std::string a = SharedRandomBytes(32);
  const std::string b = SharedRandomBytes(32);
  EXPECT_NE(a, b);
  // Tick count and clock are guessable; the kernel's random source is not.
  EXPECT_TRUE(SharedRandomSeededFromSystem());
  SharedRandomMix("extra");
  EXPECT_LT(SharedRandomBelow(10), 10u);
}

TEST(SharedRandom, ConcurrentDrawsAreSerialised) {
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&results, t] {
      for (int k = 0; k < 200; ++k) results[t] += SharedRandomBytes(16);
    });
  for (auto& thread : threads) thread.join();
  std::set<std::string> blocks;
  for (const std::string& r : results)
    for (size_t k = 0; k < r.size(); k += 16) blocks.insert(r.substr(k, 16));
  EXPECT_EQ(blocks.size(), 800u);  // no block handed out twice
}

TEST(RandomGuidText, HasTheRegistryFormat) {
  const std::string guid = RandomGuidText();
  ASSERT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_EQ(guid.back(), '}');
  for (size_t k : {9u, 14u, 19u, 24u}) EXPECT_EQ(guid[k], '-') << k;
  for (size_t k = 1; k < 37; ++k) {
    if (k == 9 || k == 14 || k == 19 || k == 24) continue;
    const char c = guid[k];
    EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << guid;
  }
  EXPECT_NE(RandomGuidText(), guid);
}

}  // namespace
}  // namespace corvane
