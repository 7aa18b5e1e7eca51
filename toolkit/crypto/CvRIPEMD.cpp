#include "toolkit/crypto/CvRIPEMD.h"

#include "toolkit/crypto/CvHashCommon.h"

namespace corvane {

namespace {

using hashdetail::LoadLE32;
using hashdetail::Rotl32;

constexpr uint8_t kR[80] = {0, 1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
                            7, 4,  13, 1,  10, 6,  15, 3,  12, 0, 9,  5,  2,  14, 11, 8,
                            3, 10, 14, 4,  9,  15, 8,  1,  2,  7, 0,  6,  13, 11, 5,  12,
                            1, 9,  11, 10, 0,  8,  12, 4,  13, 3, 7,  15, 14, 5,  6,  2,
                            4, 0,  5,  9,  7,  12, 2,  10, 14, 1, 3,  8,  11, 6,  15, 13};
constexpr uint8_t kRP[80] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                             6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                             15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                             8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14,
                             12, 15, 10, 4, 1, 5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
constexpr uint8_t kS[80] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                            7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                            11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                            11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12,
                            9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
constexpr uint8_t kSP[80] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                             9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                             9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                             15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8,
                             8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};
constexpr uint32_t kK[5] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xA953FD4Eu};
constexpr uint32_t kKP[5] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x7A6D76E9u, 0x00000000u};

template <int J>
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  if constexpr (J == 0) return x ^ y ^ z;
  if constexpr (J == 1) return (x & y) | (~x & z);
  if constexpr (J == 2) return (x | ~y) ^ z;
  if constexpr (J == 3) return (x & z) | (y & ~z);
  if constexpr (J == 4) return x ^ (y | ~z);
}

// Sixteen steps of one round on both lines; the left line uses f1..f5, the
// right one f5..f1.
template <int Round>
inline void RoundPair(const uint32_t x[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d,
                      uint32_t& e, uint32_t& ap, uint32_t& bp, uint32_t& cp, uint32_t& dp,
                      uint32_t& ep) {
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) {
    const int j = Round * 16 + i;
    uint32_t t = Rotl32(a + F<Round>(b, c, d) + x[kR[j]] + kK[Round], kS[j]) + e;
    a = e;
    e = d;
    d = Rotl32(c, 10);
    c = b;
    b = t;
    t = Rotl32(ap + F<4 - Round>(bp, cp, dp) + x[kRP[j]] + kKP[Round], kSP[j]) + ep;
    ap = ep;
    ep = dp;
    dp = Rotl32(cp, 10);
    cp = bp;
    bp = t;
  }
}

void Blocks(uint32_t h[5], const uint8_t* data, size_t blocks) {
  uint32_t x[16];
  for (; blocks > 0; --blocks, data += 64) {
    for (size_t i = 0; i < 16; ++i) x[i] = LoadLE32(data + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    uint32_t ap = a, bp = b, cp = c, dp = d, ep = e;
    RoundPair<0>(x, a, b, c, d, e, ap, bp, cp, dp, ep);
    RoundPair<1>(x, a, b, c, d, e, ap, bp, cp, dp, ep);
    RoundPair<2>(x, a, b, c, d, e, ap, bp, cp, dp, ep);
    RoundPair<3>(x, a, b, c, d, e, ap, bp, cp, dp, ep);
    RoundPair<4>(x, a, b, c, d, e, ap, bp, cp, dp, ep);
    const uint32_t t = h[1] + c + dp;
    h[1] = h[2] + d + ep;
    h[2] = h[3] + e + ap;
    h[3] = h[4] + a + bp;
    h[4] = h[0] + b + cp;
    h[0] = t;
  }
}

}  // namespace

void RIPEMD160Init(TRIPEMD160State& state) {
  state.H[0] = 0x67452301u;
  state.H[1] = 0xEFCDAB89u;
  state.H[2] = 0x98BADCFEu;
  state.H[3] = 0x10325476u;
  state.H[4] = 0xC3D2E1F0u;
  state.Length = 0;
  state.Used = 0;
}

void RIPEMD160Update(TRIPEMD160State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { Blocks(state.H, p, n); });
}

void RIPEMD160Finish(TRIPEMD160State& state, uint8_t digest[RIPEMD160_DIGEST_SIZE]) {
  hashdetail::PadAndFinish<64, 8, false>(
      state.Buffer, state.Used, state.Length * 8,
      [&](const uint8_t* p, size_t n) { Blocks(state.H, p, n); });
  for (size_t i = 0; i < 5; ++i) hashdetail::StoreLE32(digest + 4 * i, state.H[i]);
}

std::string HashRIPEMD160(std::string_view data) {
  TRIPEMD160State state;
  RIPEMD160Init(state);
  RIPEMD160Update(state, data.data(), data.size());
  std::string digest(RIPEMD160_DIGEST_SIZE, '\0');
  RIPEMD160Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

}  // namespace corvane
