// GOST R 34.11-94 hash function (RFC 5831) over the GOST 28147-89 block cipher,
// with the two published parameter sets of RFC 4357 (test set and CryptoPro set)
// or any substitution box given directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t GOSTR341194_DIGEST_SIZE = 32;

// Eight rows of sixteen 4-bit entries; row 0 substitutes the least significant
// nibble of the cipher's round function input.
struct TGOST28147SBox {
  uint8_t Rows[8][16];
};

// id-GostR3411-94-TestParamSet (1.2.643.2.2.30.0) and
// id-GostR3411-94-CryptoProParamSet (1.2.643.2.2.30.1), RFC 4357 11.2.
const TGOST28147SBox& GOSTR341194TestParamSet();
const TGOST28147SBox& GOSTR341194CryptoProParamSet();

// Reads 128 hexadecimal characters, row 0 first, one character per entry.
// Returns false for anything else.
bool GOST28147SBoxFromHex(std::string_view hex, TGOST28147SBox& sbox);

struct TGOSTR341194State {
  uint8_t H[32];
  uint8_t Sigma[32];  // sum of the message blocks mod 2^256, little-endian
  uint64_t Length;    // bytes hashed so far
  size_t Used;
  uint8_t Buffer[32];
  uint32_t Table[4][256];  // the substitution merged with the rotation by 11, per byte
};

void GOSTR341194Init(TGOSTR341194State& state, const TGOST28147SBox& sbox);
void GOSTR341194Update(TGOSTR341194State& state, const void* data, size_t size);
void GOSTR341194Finish(TGOSTR341194State& state, uint8_t digest[GOSTR341194_DIGEST_SIZE]);
std::string HashGOSTR341194(std::string_view data, const TGOST28147SBox& sbox);

}  // namespace corvane
