// SHA-1 (FIPS 180-4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t SHA1_DIGEST_SIZE = 20;
inline constexpr size_t SHA1_BLOCK_SIZE = 64;

struct TSHA1State {
  uint32_t H[5];
  uint64_t Length;  // bytes hashed so far
  size_t Used;      // bytes waiting in Buffer
  uint8_t Buffer[SHA1_BLOCK_SIZE];
};

void SHA1Init(TSHA1State& state);
void SHA1Update(TSHA1State& state, const void* data, size_t size);
// Writes the digest; the state must be initialised again before reuse.
void SHA1Finish(TSHA1State& state, uint8_t digest[SHA1_DIGEST_SIZE]);
std::string HashSHA1(std::string_view data);

}  // namespace corvane
