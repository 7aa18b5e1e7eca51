#include "toolkit/crypto/CvSHA.h"

#include "toolkit/crypto/CvCpuFeatures.h"
#include "toolkit/crypto/CvHashCommon.h"
#include "toolkit/crypto/CvSHAKernels.h"

namespace corvane {

namespace hashdetail {

namespace {

inline uint32_t Ch(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t Maj(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }

}  // namespace

void SHA1CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  uint32_t a, b, c, d, e;
  uint32_t w[16];
  for (; blocks > 0; --blocks, data += 64) {
    for (size_t i = 0; i < 16; ++i) w[i] = LoadBE32(data + 4 * i);
    a = state[0];
    b = state[1];
    c = state[2];
    d = state[3];
    e = state[4];
    // Message schedule kept in a 16-word ring (FIPS 180-4 6.1.3).
#define CV_W(t) \
  (w[(t)&15] = Rotl32(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define CV_R(f, k, wt)                                               \
  do {                                                               \
    const uint32_t tmp = Rotl32(a, 5) + f(b, c, d) + e + (k) + (wt); \
    e = d;                                                           \
    d = c;                                                           \
    c = Rotl32(b, 30);                                               \
    b = a;                                                           \
    a = tmp;                                                         \
  } while (0)
#pragma GCC unroll 16
    for (int t = 0; t < 16; ++t) CV_R(Ch, 0x5A827999u, w[t]);
#pragma GCC unroll 4
    for (int t = 16; t < 20; ++t) CV_R(Ch, 0x5A827999u, CV_W(t));
#pragma GCC unroll 20
    for (int t = 20; t < 40; ++t) CV_R(Parity, 0x6ED9EBA1u, CV_W(t));
#pragma GCC unroll 20
    for (int t = 40; t < 60; ++t) CV_R(Maj, 0x8F1BBCDCu, CV_W(t));
#pragma GCC unroll 20
    for (int t = 60; t < 80; ++t) CV_R(Parity, 0xCA62C1D6u, CV_W(t));
#undef CV_R
#undef CV_W
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

}  // namespace hashdetail

namespace {

void Compress(uint32_t state[5], const uint8_t* data, size_t blocks) {
#ifdef CV_HAVE_SHANI_KERNELS
  if (SHAExtensionsEnabled()) {
    hashdetail::SHA1CompressShaNi(state, data, blocks);
    return;
  }
#endif
  hashdetail::SHA1CompressPortable(state, data, blocks);
}

}  // namespace

void SHA1Init(TSHA1State& state) {
  state.H[0] = 0x67452301u;
  state.H[1] = 0xEFCDAB89u;
  state.H[2] = 0x98BADCFEu;
  state.H[3] = 0x10325476u;
  state.H[4] = 0xC3D2E1F0u;
  state.Length = 0;
  state.Used = 0;
}

void SHA1Update(TSHA1State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { Compress(state.H, p, n); });
}

void SHA1Finish(TSHA1State& state, uint8_t digest[SHA1_DIGEST_SIZE]) {
  hashdetail::PadAndFinish<64, 8, true>(
      state.Buffer, state.Used, state.Length * 8,
      [&](const uint8_t* p, size_t n) { Compress(state.H, p, n); });
  for (size_t i = 0; i < 5; ++i) hashdetail::StoreBE32(digest + 4 * i, state.H[i]);
}

std::string HashSHA1(std::string_view data) {
  TSHA1State state;
  SHA1Init(state);
  SHA1Update(state, data.data(), data.size());
  std::string digest(SHA1_DIGEST_SIZE, '\0');
  SHA1Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

}  // namespace corvane
