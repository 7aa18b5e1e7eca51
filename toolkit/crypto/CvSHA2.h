// SHA-224, SHA-256, SHA-384 and SHA-512 (FIPS 180-4). SHA-224 shares the
// SHA-256 state and SHA-384 the SHA-512 state; only the initial values and the
// output length differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t SHA224_DIGEST_SIZE = 28;
inline constexpr size_t SHA256_DIGEST_SIZE = 32;
inline constexpr size_t SHA384_DIGEST_SIZE = 48;
inline constexpr size_t SHA512_DIGEST_SIZE = 64;
inline constexpr size_t SHA256_BLOCK_SIZE = 64;
inline constexpr size_t SHA512_BLOCK_SIZE = 128;

struct TSHA256State {
  uint32_t H[8];
  uint64_t Length;  // bytes hashed so far
  size_t Used;
  size_t DigestSize;  // 28 or 32
  uint8_t Buffer[SHA256_BLOCK_SIZE];
};

struct TSHA512State {
  uint64_t H[8];
  uint64_t Length;
  size_t Used;
  size_t DigestSize;  // 48 or 64
  uint8_t Buffer[SHA512_BLOCK_SIZE];
};

void SHA224Init(TSHA256State& state);
void SHA256Init(TSHA256State& state);
void SHA256Update(TSHA256State& state, const void* data, size_t size);
// Writes DigestSize bytes.
void SHA256Finish(TSHA256State& state, uint8_t* digest);

void SHA384Init(TSHA512State& state);
void SHA512Init(TSHA512State& state);
void SHA512Update(TSHA512State& state, const void* data, size_t size);
void SHA512Finish(TSHA512State& state, uint8_t* digest);

std::string HashSHA224(std::string_view data);
std::string HashSHA256(std::string_view data);
std::string HashSHA384(std::string_view data);
std::string HashSHA512(std::string_view data);

}  // namespace corvane
