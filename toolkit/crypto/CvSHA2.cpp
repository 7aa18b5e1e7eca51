#include "toolkit/crypto/CvSHA2.h"

#include "toolkit/crypto/CvCpuFeatures.h"
#include "toolkit/crypto/CvHashCommon.h"
#include "toolkit/crypto/CvSHAKernels.h"

namespace corvane {

namespace hashdetail {

namespace {

constexpr uint32_t K256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint64_t K512[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL};

inline void Sha512Blocks(uint64_t state[8], const uint8_t* data, size_t blocks) {
  uint64_t w[16];
  for (; blocks > 0; --blocks, data += 128) {
    uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
    // Rounds are written with rotating variable roles (the eight-round body
    // below) so that no register shuffling is needed between rounds.
#define CV_S0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define CV_S1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define CV_s0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define CV_s1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
#define CV_ROUND(a, b, c, d, e, f, g, h, i, wi)                                        \
  do {                                                                                 \
    const uint64_t t1 = (h) + CV_S1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + K512[i] + (wi); \
    const uint64_t t2 = CV_S0(a) + (((a) & (b)) | ((c) & ((a) | (b))));                \
    (d) += t1;                                                                         \
    (h) = t1 + t2;                                                                     \
  } while (0)
#define CV_WX(j) \
  (w[(j)&15] += CV_s1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + CV_s0(w[((j) + 1) & 15]))
    for (int i = 0; i < 16; i += 8) {
      for (int k = 0; k < 8; ++k) w[i + k] = LoadBE64(data + size_t{8} * (i + k));
      CV_ROUND(a, b, c, d, e, f, g, h, i + 0, w[i + 0]);
      CV_ROUND(h, a, b, c, d, e, f, g, i + 1, w[i + 1]);
      CV_ROUND(g, h, a, b, c, d, e, f, i + 2, w[i + 2]);
      CV_ROUND(f, g, h, a, b, c, d, e, i + 3, w[i + 3]);
      CV_ROUND(e, f, g, h, a, b, c, d, i + 4, w[i + 4]);
      CV_ROUND(d, e, f, g, h, a, b, c, i + 5, w[i + 5]);
      CV_ROUND(c, d, e, f, g, h, a, b, i + 6, w[i + 6]);
      CV_ROUND(b, c, d, e, f, g, h, a, i + 7, w[i + 7]);
    }
    for (int i = 16; i < 80; i += 8) {
      CV_ROUND(a, b, c, d, e, f, g, h, i + 0, CV_WX(i + 0));
      CV_ROUND(h, a, b, c, d, e, f, g, i + 1, CV_WX(i + 1));
      CV_ROUND(g, h, a, b, c, d, e, f, i + 2, CV_WX(i + 2));
      CV_ROUND(f, g, h, a, b, c, d, e, i + 3, CV_WX(i + 3));
      CV_ROUND(e, f, g, h, a, b, c, d, i + 4, CV_WX(i + 4));
      CV_ROUND(d, e, f, g, h, a, b, c, i + 5, CV_WX(i + 5));
      CV_ROUND(c, d, e, f, g, h, a, b, i + 6, CV_WX(i + 6));
      CV_ROUND(b, c, d, e, f, g, h, a, i + 7, CV_WX(i + 7));
    }
#undef CV_WX
#undef CV_ROUND
#undef CV_s1
#undef CV_s0
#undef CV_S1
#undef CV_S0
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace

void SHA256CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
  uint32_t w[16];
  for (; blocks > 0; --blocks, data += 64) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#define CV_S0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define CV_S1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define CV_s0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define CV_s1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define CV_ROUND(a, b, c, d, e, f, g, h, i, wi)                                        \
  do {                                                                                 \
    const uint32_t t1 = (h) + CV_S1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + K256[i] + (wi); \
    const uint32_t t2 = CV_S0(a) + (((a) & (b)) | ((c) & ((a) | (b))));                \
    (d) += t1;                                                                         \
    (h) = t1 + t2;                                                                     \
  } while (0)
#define CV_WX(j) \
  (w[(j)&15] += CV_s1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + CV_s0(w[((j) + 1) & 15]))
    for (int i = 0; i < 16; i += 8) {
      for (int k = 0; k < 8; ++k) w[i + k] = LoadBE32(data + size_t{4} * (i + k));
      CV_ROUND(a, b, c, d, e, f, g, h, i + 0, w[i + 0]);
      CV_ROUND(h, a, b, c, d, e, f, g, i + 1, w[i + 1]);
      CV_ROUND(g, h, a, b, c, d, e, f, i + 2, w[i + 2]);
      CV_ROUND(f, g, h, a, b, c, d, e, i + 3, w[i + 3]);
      CV_ROUND(e, f, g, h, a, b, c, d, i + 4, w[i + 4]);
      CV_ROUND(d, e, f, g, h, a, b, c, i + 5, w[i + 5]);
      CV_ROUND(c, d, e, f, g, h, a, b, i + 6, w[i + 6]);
      CV_ROUND(b, c, d, e, f, g, h, a, i + 7, w[i + 7]);
    }
    for (int i = 16; i < 64; i += 8) {
      CV_ROUND(a, b, c, d, e, f, g, h, i + 0, CV_WX(i + 0));
      CV_ROUND(h, a, b, c, d, e, f, g, i + 1, CV_WX(i + 1));
      CV_ROUND(g, h, a, b, c, d, e, f, i + 2, CV_WX(i + 2));
      CV_ROUND(f, g, h, a, b, c, d, e, i + 3, CV_WX(i + 3));
      CV_ROUND(e, f, g, h, a, b, c, d, i + 4, CV_WX(i + 4));
      CV_ROUND(d, e, f, g, h, a, b, c, i + 5, CV_WX(i + 5));
      CV_ROUND(c, d, e, f, g, h, a, b, i + 6, CV_WX(i + 6));
      CV_ROUND(b, c, d, e, f, g, h, a, i + 7, CV_WX(i + 7));
    }
#undef CV_WX
#undef CV_ROUND
#undef CV_s1
#undef CV_s0
#undef CV_S1
#undef CV_S0
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace hashdetail

namespace {

void Compress256(uint32_t state[8], const uint8_t* data, size_t blocks) {
#ifdef CV_HAVE_SHANI_KERNELS
  if (SHAExtensionsEnabled()) {
    hashdetail::SHA256CompressShaNi(state, data, blocks);
    return;
  }
#endif
  hashdetail::SHA256CompressPortable(state, data, blocks);
}

template <typename State, typename Init>
std::string OneShot(std::string_view data, Init init) {
  State state;
  init(state);
  if constexpr (sizeof(state.H[0]) == 4) {
    SHA256Update(state, data.data(), data.size());
    std::string digest(state.DigestSize, '\0');
    SHA256Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
    return digest;
  } else {
    SHA512Update(state, data.data(), data.size());
    std::string digest(state.DigestSize, '\0');
    SHA512Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
    return digest;
  }
}

}  // namespace

void SHA224Init(TSHA256State& state) {
  static constexpr uint32_t kIV[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                      0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
  for (int i = 0; i < 8; ++i) state.H[i] = kIV[i];
  state.Length = 0;
  state.Used = 0;
  state.DigestSize = SHA224_DIGEST_SIZE;
}

void SHA256Init(TSHA256State& state) {
  static constexpr uint32_t kIV[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  for (int i = 0; i < 8; ++i) state.H[i] = kIV[i];
  state.Length = 0;
  state.Used = 0;
  state.DigestSize = SHA256_DIGEST_SIZE;
}

void SHA256Update(TSHA256State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { Compress256(state.H, p, n); });
}

void SHA256Finish(TSHA256State& state, uint8_t* digest) {
  hashdetail::PadAndFinish<64, 8, true>(
      state.Buffer, state.Used, state.Length * 8,
      [&](const uint8_t* p, size_t n) { Compress256(state.H, p, n); });
  for (size_t i = 0; i < state.DigestSize / 4; ++i)
    hashdetail::StoreBE32(digest + 4 * i, state.H[i]);
}

void SHA384Init(TSHA512State& state) {
  static constexpr uint64_t kIV[8] = {
      0xcbbb9d5dc1059ed8ULL, 0x629a292a367cd507ULL, 0x9159015a3070dd17ULL, 0x152fecd8f70e5939ULL,
      0x67332667ffc00b31ULL, 0x8eb44a8768581511ULL, 0xdb0c2e0d64f98fa7ULL, 0x47b5481dbefa4fa4ULL};
  for (int i = 0; i < 8; ++i) state.H[i] = kIV[i];
  state.Length = 0;
  state.Used = 0;
  state.DigestSize = SHA384_DIGEST_SIZE;
}

void SHA512Init(TSHA512State& state) {
  static constexpr uint64_t kIV[8] = {
      0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
      0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
  for (int i = 0; i < 8; ++i) state.H[i] = kIV[i];
  state.Length = 0;
  state.Used = 0;
  state.DigestSize = SHA512_DIGEST_SIZE;
}

void SHA512Update(TSHA512State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(
      state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
      [&](const uint8_t* p, size_t n) { hashdetail::Sha512Blocks(state.H, p, n); });
}

void SHA512Finish(TSHA512State& state, uint8_t* digest) {
  hashdetail::PadAndFinish<128, 16, true>(
      state.Buffer, state.Used, state.Length * 8,
      [&](const uint8_t* p, size_t n) { hashdetail::Sha512Blocks(state.H, p, n); });
  for (size_t i = 0; i < state.DigestSize / 8; ++i)
    hashdetail::StoreBE64(digest + 8 * i, state.H[i]);
}

std::string HashSHA224(std::string_view data) { return OneShot<TSHA256State>(data, SHA224Init); }
std::string HashSHA256(std::string_view data) { return OneShot<TSHA256State>(data, SHA256Init); }
std::string HashSHA384(std::string_view data) { return OneShot<TSHA512State>(data, SHA384Init); }
std::string HashSHA512(std::string_view data) { return OneShot<TSHA512State>(data, SHA512Init); }

}  // namespace corvane
