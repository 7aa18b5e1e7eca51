#include "toolkit/crypto/CvGOSTHash.h"

#include <cstring>

#include "toolkit/crypto/CvHashCommon.h"

namespace corvane {

namespace {

using hashdetail::LoadLE32;
using hashdetail::Rotl32;
using hashdetail::StoreLE32;

constexpr TGOST28147SBox kTestParamSet = {{
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
}};

constexpr TGOST28147SBox kCryptoProParamSet = {{
    {10, 4, 5, 6, 8, 1, 3, 7, 13, 12, 14, 0, 9, 2, 11, 15},
    {5, 15, 4, 0, 2, 13, 11, 9, 1, 7, 6, 3, 12, 14, 10, 8},
    {7, 15, 12, 14, 9, 4, 1, 0, 3, 11, 5, 2, 6, 10, 8, 13},
    {4, 10, 7, 12, 0, 15, 2, 8, 14, 1, 6, 5, 13, 11, 9, 3},
    {7, 6, 4, 11, 9, 12, 2, 10, 1, 8, 0, 14, 15, 13, 3, 5},
    {7, 6, 2, 4, 13, 9, 15, 0, 10, 1, 5, 11, 8, 14, 12, 3},
    {13, 14, 4, 1, 7, 0, 5, 10, 3, 12, 8, 15, 6, 2, 9, 11},
    {1, 3, 10, 9, 5, 11, 4, 15, 8, 6, 7, 14, 13, 0, 2, 12},
}};

void ExpandSBox(const TGOST28147SBox& sbox, uint32_t table[4][256]) {
  for (size_t b = 0; b < 4; ++b) {
    for (size_t x = 0; x < 256; ++x) {
      const uint32_t v = static_cast<uint32_t>(sbox.Rows[2 * b][x & 15]) |
                         static_cast<uint32_t>(sbox.Rows[2 * b + 1][x >> 4]) << 4;
      table[b][x] = Rotl32(v << (8 * b), 11);
    }
  }
}

inline uint32_t RoundF(const uint32_t table[4][256], uint32_t x) {
  return table[0][x & 0xFF] ^ table[1][(x >> 8) & 0xFF] ^ table[2][(x >> 16) & 0xFF] ^
         table[3][x >> 24];
}

// GOST 28147-89 simple substitution mode on one 64-bit block (little-endian
// halves): key words K0..K7 three times forward, then backward.
void EncryptBlock(const uint32_t table[4][256], const uint32_t key[8], const uint8_t in[8],
                  uint8_t out[8]) {
  uint32_t n1 = LoadLE32(in);
  uint32_t n2 = LoadLE32(in + 4);
  for (int pass = 0; pass < 3; ++pass) {
    for (int k = 0; k < 8; k += 2) {
      n2 ^= RoundF(table, n1 + key[k]);
      n1 ^= RoundF(table, n2 + key[k + 1]);
    }
  }
  for (int k = 7; k > 0; k -= 2) {
    n2 ^= RoundF(table, n1 + key[k]);
    n1 ^= RoundF(table, n2 + key[k - 1]);
  }
  StoreLE32(out, n2);
  StoreLE32(out + 4, n1);
}

// A(Y) = (y1 ^ y2) || y4 || y3 || y2 on 64-bit words, y1 least significant.
void TransformA(uint8_t y[32]) {
  uint8_t t[8];
  for (int i = 0; i < 8; ++i) t[i] = y[i] ^ y[8 + i];
  std::memmove(y, y + 8, 24);
  std::memcpy(y + 24, t, 8);
}

// P: byte i + 4k of the result is byte 8i + k of the input (i < 4, k < 8).
void TransformP(const uint8_t y[32], uint8_t out[32]) {
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 8; ++k) out[i + 4 * k] = y[8 * i + k];
  }
}

// psi: the 16-bit words shift down by one and the new top word is
// w0 ^ w1 ^ w2 ^ w3 ^ w12 ^ w15.
void Psi(uint16_t w[16]) {
  const uint16_t top = w[0] ^ w[1] ^ w[2] ^ w[3] ^ w[12] ^ w[15];
  std::memmove(w, w + 1, 15 * sizeof(uint16_t));
  w[15] = top;
}

void LoadWords(const uint8_t bytes[32], uint16_t w[16]) {
  for (size_t i = 0; i < 16; ++i)
    w[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

void StoreWords(const uint16_t w[16], uint8_t bytes[32]) {
  for (size_t i = 0; i < 16; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(w[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(w[i] >> 8);
  }
}

// The step function f(H, M) of GOST R 34.11-94 section 7.
void Step(const uint32_t table[4][256], uint8_t h[32], const uint8_t m[32]) {
  static constexpr uint8_t kC3[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff,
                                      0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00,
                                      0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff,
                                      0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};
  uint8_t u[32], v[32], w[32], k[32];
  uint8_t s[32];
  std::memcpy(u, h, 32);
  std::memcpy(v, m, 32);
  for (int j = 0; j < 4; ++j) {
    if (j > 0) {
      TransformA(u);
      if (j == 2) {
        for (int i = 0; i < 32; ++i) u[i] ^= kC3[i];
      }
      TransformA(v);
      TransformA(v);
    }
    for (int i = 0; i < 32; ++i) w[i] = u[i] ^ v[i];
    TransformP(w, k);
    uint32_t key[8];
    for (size_t i = 0; i < 8; ++i) key[i] = LoadLE32(k + 4 * i);
    EncryptBlock(table, key, h + size_t{8} * j, s + size_t{8} * j);
  }
  // H' = psi^61(H ^ psi(M ^ psi^12(S)))
  uint16_t x[16], y[16];
  LoadWords(s, x);
  for (int i = 0; i < 12; ++i) Psi(x);
  LoadWords(m, y);
  for (int i = 0; i < 16; ++i) x[i] ^= y[i];
  Psi(x);
  LoadWords(h, y);
  for (int i = 0; i < 16; ++i) x[i] ^= y[i];
  for (int i = 0; i < 61; ++i) Psi(x);
  StoreWords(x, h);
}

void AddToSigma(uint8_t sigma[32], const uint8_t block[32]) {
  unsigned carry = 0;
  for (int i = 0; i < 32; ++i) {
    const unsigned sum = sigma[i] + block[i] + carry;
    sigma[i] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
}

void Blocks(TGOSTR341194State& state, const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 32) {
    Step(state.Table, state.H, data);
    AddToSigma(state.Sigma, data);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const TGOST28147SBox& GOSTR341194TestParamSet() { return kTestParamSet; }
const TGOST28147SBox& GOSTR341194CryptoProParamSet() { return kCryptoProParamSet; }

bool GOST28147SBoxFromHex(std::string_view hex, TGOST28147SBox& sbox) {
  if (hex.size() != 128) return false;
  TGOST28147SBox result;
  for (size_t i = 0; i < 128; ++i) {
    const int v = HexValue(hex[i]);
    if (v < 0) return false;
    result.Rows[i / 16][i % 16] = static_cast<uint8_t>(v);
  }
  sbox = result;
  return true;
}

void GOSTR341194Init(TGOSTR341194State& state, const TGOST28147SBox& sbox) {
  std::memset(state.H, 0, sizeof state.H);
  std::memset(state.Sigma, 0, sizeof state.Sigma);
  state.Length = 0;
  state.Used = 0;
  ExpandSBox(sbox, state.Table);
}

void GOSTR341194Update(TGOSTR341194State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { Blocks(state, p, n); });
}

void GOSTR341194Finish(TGOSTR341194State& state, uint8_t digest[GOSTR341194_DIGEST_SIZE]) {
  // A partial last block is zero-padded; an empty one is not processed.
  if (state.Used > 0) {
    std::memset(state.Buffer + state.Used, 0, 32 - state.Used);
    Blocks(state, state.Buffer, 1);
  }
  uint8_t length[32] = {};
  hashdetail::StoreLE64(length, state.Length << 3);
  length[8] = static_cast<uint8_t>(state.Length >> 61);
  Step(state.Table, state.H, length);
  Step(state.Table, state.H, state.Sigma);
  std::memcpy(digest, state.H, 32);
}

std::string HashGOSTR341194(std::string_view data, const TGOST28147SBox& sbox) {
  TGOSTR341194State state;
  GOSTR341194Init(state, sbox);
  GOSTR341194Update(state, data.data(), data.size());
  std::string digest(GOSTR341194_DIGEST_SIZE, '\0');
  GOSTR341194Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

}  // namespace corvane
