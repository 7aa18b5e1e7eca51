// Pseudo-random generation: an RC4-based generator and the toolkit's shared
// instance for nonces and identifiers drawn outside a crypto provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// RC4 output over a permutation that seeds are stirred into. Seeded
// explicitly, it is fully deterministic (tests rely on that); the shared
// instance below is seeded from the operating system.
class TOvRandom {
 public:
  // Fully seeded with the 4-byte tick count (little-endian).
  TOvRandom();
  // Fully seeded with the given bytes.
  explicit TOvRandom(std::string_view seed);

  // Full seeding: the permutation is reset to the identity, then seed is mixed in.
  void Seed(std::string_view seed);
  // Stirs seed into the current permutation and resets the output indices.
  // An empty seed changes nothing.
  void Mix(std::string_view seed);
  void Generate(void* buffer, size_t size);
  std::string Generate(size_t size);
  // Four output bytes as a little-endian unsigned value, modulo max (max 0: the value).
  uint32_t GenerateBelow(uint32_t max);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// Where system entropy comes from: fills the buffer, or returns false.
using TCvSystemRandomSource = bool (*)(void* buffer, size_t size);

// Seeds a generator as the shared instance is seeded: 64 bytes of source
// mixed in, then clockBytes. Returns whether the source delivered.
bool SeedFromSystem(TOvRandom& random, TCvSystemRandomSource source, std::string_view clockBytes);

// The process-wide generator, created on first use: seeded with the tick count,
// then with 64 bytes of the kernel's random source and four (tick count, time)
// pairs. Every access takes its lock, so any thread may draw from it.
void SharedRandomGenerate(void* buffer, size_t size);
std::string SharedRandomBytes(size_t size);
uint32_t SharedRandomBelow(uint32_t max);
void SharedRandomMix(std::string_view seed);
// True when the kernel's random source contributed to the shared generator's seed.
bool SharedRandomSeededFromSystem();

}  // namespace corvane
