#include "toolkit/crypto/CvMD.h"

#include <cstring>

#include "toolkit/crypto/CvHashCommon.h"

namespace corvane {

namespace {

using hashdetail::LoadLE32;
using hashdetail::Rotl32;

// RFC 1319 3.2: the permutation of 0..255 built from the digits of pi.
constexpr uint8_t kMD2S[256] = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,
    243, 192, 199, 115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212,
    224, 22,  103, 66,  111, 24,  138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160,
    251, 245, 142, 187, 47,  238, 122, 169, 104, 121, 145, 21,  178, 7,   63,  148, 194, 16,  137,
    11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,  53,  62,  204, 231, 191, 247, 151,
    3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,  170, 198, 79,  184,
    56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,  100,
    113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246,
    28,  70,  97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249,
    206, 186, 197, 234, 38,  44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129,
    77,  82,  106, 220, 55,  200, 108, 193, 171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120,
    136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254, 59,  0,   29,  57,  242, 239, 183, 14,
    102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,  80,  180, 143, 237, 31,
    26,  219, 153, 141, 51,  159, 17,  131, 20};

constexpr bool IsPermutation(const uint8_t (&table)[256]) {
  bool seen[256] = {};
  for (uint8_t v : table) {
    if (seen[v]) return false;
    seen[v] = true;
  }
  return true;
}
static_assert(IsPermutation(kMD2S));

void MD2Blocks(TMD2State& s, const uint8_t* data, size_t blocks) {
  for (; blocks > 0; --blocks, data += 16) {
    for (int j = 0; j < 16; ++j) {
      s.X[16 + j] = data[j];
      s.X[32 + j] = static_cast<uint8_t>(data[j] ^ s.X[j]);
    }
    unsigned t = 0;
    for (int j = 0; j < 18; ++j) {
      for (int k = 0; k < 48; ++k) t = s.X[k] ^= kMD2S[t];
      t = (t + static_cast<unsigned>(j)) & 0xFF;
    }
    // The checksum as corrected in the RFC 1319 errata (C[j] ^= S[M[j] ^ L]).
    uint8_t l = s.Checksum[15];
    for (int j = 0; j < 16; ++j) l = s.Checksum[j] ^= kMD2S[data[j] ^ l];
  }
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

void MD5Blocks(uint32_t state[4], const uint8_t* data, size_t blocks) {
  uint32_t x[16];
  for (; blocks > 0; --blocks, data += 64) {
    for (size_t i = 0; i < 16; ++i) x[i] = LoadLE32(data + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
#define CV_STEP(f, a, b, c, d, xk, s, t) ((a) = (b) + Rotl32((a) + f(b, c, d) + (xk) + (t), s))
    CV_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
    CV_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
    CV_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
    CV_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
    CV_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
    CV_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
    CV_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
    CV_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
    CV_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
    CV_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
    CV_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
    CV_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
    CV_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
    CV_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
    CV_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
    CV_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);
    CV_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
    CV_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
    CV_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
    CV_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
    CV_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
    CV_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
    CV_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
    CV_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
    CV_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
    CV_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
    CV_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
    CV_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
    CV_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
    CV_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
    CV_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
    CV_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);
    CV_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
    CV_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
    CV_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
    CV_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
    CV_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
    CV_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
    CV_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
    CV_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
    CV_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
    CV_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
    CV_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
    CV_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
    CV_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
    CV_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
    CV_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
    CV_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);
    CV_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
    CV_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
    CV_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
    CV_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
    CV_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
    CV_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
    CV_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
    CV_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
    CV_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
    CV_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
    CV_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
    CV_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
    CV_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
    CV_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
    CV_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
    CV_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);
#undef CV_STEP
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
}

}  // namespace

void MD2Init(TMD2State& state) {
  std::memset(state.X, 0, sizeof state.X);
  std::memset(state.Checksum, 0, sizeof state.Checksum);
  state.Used = 0;
}

void MD2Update(TMD2State& state, const void* data, size_t size) {
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { MD2Blocks(state, p, n); });
}

void MD2Finish(TMD2State& state, uint8_t digest[MD2_DIGEST_SIZE]) {
  // RFC 1319 3.1: always pad, with i bytes of value i (1..16).
  const uint8_t pad = static_cast<uint8_t>(16 - state.Used);
  std::memset(state.Buffer + state.Used, pad, pad);
  MD2Blocks(state, state.Buffer, 1);
  uint8_t checksum[16];
  std::memcpy(checksum, state.Checksum, 16);
  MD2Blocks(state, checksum, 1);
  std::memcpy(digest, state.X, MD2_DIGEST_SIZE);
}

std::string HashMD2(std::string_view data) {
  TMD2State state;
  MD2Init(state);
  MD2Update(state, data.data(), data.size());
  std::string digest(MD2_DIGEST_SIZE, '\0');
  MD2Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

void MD5Init(TMD5State& state) {
  state.H[0] = 0x67452301u;
  state.H[1] = 0xefcdab89u;
  state.H[2] = 0x98badcfeu;
  state.H[3] = 0x10325476u;
  state.Length = 0;
  state.Used = 0;
}

void MD5Update(TMD5State& state, const void* data, size_t size) {
  state.Length += size;
  hashdetail::BufferedUpdate(state.Buffer, state.Used, static_cast<const uint8_t*>(data), size,
                             [&](const uint8_t* p, size_t n) { MD5Blocks(state.H, p, n); });
}

void MD5Finish(TMD5State& state, uint8_t digest[MD5_DIGEST_SIZE]) {
  hashdetail::PadAndFinish<64, 8, false>(
      state.Buffer, state.Used, state.Length * 8,
      [&](const uint8_t* p, size_t n) { MD5Blocks(state.H, p, n); });
  for (size_t i = 0; i < 4; ++i) hashdetail::StoreLE32(digest + 4 * i, state.H[i]);
}

std::string HashMD5(std::string_view data) {
  TMD5State state;
  MD5Init(state);
  MD5Update(state, data.data(), data.size());
  std::string digest(MD5_DIGEST_SIZE, '\0');
  MD5Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

}  // namespace corvane
