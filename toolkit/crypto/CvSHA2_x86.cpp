// SHA-256 on the x86 SHA extensions; see CvSHA_x86.cpp for why it has its own file.
#include "toolkit/crypto/CvSHAKernels.h"

#ifdef CV_HAVE_SHANI_KERNELS

#include <immintrin.h>

#include <utility>

#define CV_SHANI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace corvane::hashdetail {

namespace {

alignas(16) constexpr uint32_t K256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Four rounds (G = 0..15) on ABEF/CDGH; W[G % 4] holds words 4G..4G+3 and the
// schedule two groups ahead is advanced with SHA256MSG1/SHA256MSG2.
template <int G>
CV_SHANI_TARGET inline __attribute__((always_inline)) void Group(__m128i& state0, __m128i& state1,
                                                                 __m128i (&w)[4],
                                                                 const uint8_t* data,
                                                                 const __m128i mask) {
  if constexpr (G < 4) {
    w[G] = _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size_t{16} * G)), mask);
  }
  __m128i msg = _mm_add_epi32(
      w[G % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(K256 + size_t{4} * G)));
  state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
  if constexpr (G >= 3 && G <= 14) {
    const __m128i tmp = _mm_alignr_epi8(w[G % 4], w[(G + 3) % 4], 4);
    w[(G + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(G + 1) % 4], tmp), w[G % 4]);
  }
  msg = _mm_shuffle_epi32(msg, 0x0E);
  state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
  if constexpr (G >= 1 && G <= 12) w[(G + 3) % 4] = _mm_sha256msg1_epu32(w[(G + 3) % 4], w[G % 4]);
}

template <int... G>
CV_SHANI_TARGET inline __attribute__((always_inline)) void AllGroups(
    std::integer_sequence<int, G...>, __m128i& state0, __m128i& state1, __m128i (&w)[4],
    const uint8_t* data, const __m128i mask) {
  (Group<G>(state0, state1, w, data, mask), ...);
}

}  // namespace

CV_SHANI_TARGET void SHA256CompressShaNi(uint32_t state[8], const uint8_t* data, size_t blocks) {
  const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  // The instructions keep the state as ABEF and CDGH.
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i state1 =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);
  __m128i w[4];
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abef_save = state0;
    const __m128i cdgh_save = state1;
    AllGroups(std::make_integer_sequence<int, 16>{}, state0, state1, w, data, mask);
    state0 = _mm_add_epi32(state0, abef_save);
    state1 = _mm_add_epi32(state1, cdgh_save);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);
  state1 = _mm_shuffle_epi32(state1, 0xB1);
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);
  state1 = _mm_alignr_epi8(state1, tmp, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

}  // namespace corvane::hashdetail

#endif
