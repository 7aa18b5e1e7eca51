// SHA-1 on the x86 SHA extensions. Only this file is compiled for them (through
// the target attribute), so the rest of the toolkit runs on any x86-64.
#include "toolkit/crypto/CvSHAKernels.h"

#ifdef CV_HAVE_SHANI_KERNELS

#include <immintrin.h>

#include <utility>

#define CV_SHANI_TARGET __attribute__((target("sha,sse4.1,ssse3")))

namespace corvane::hashdetail {

namespace {

// One group of four rounds (G = 0..19). W[G % 4] holds words 4G..4G+3; the
// schedule for later groups is advanced here with SHA1MSG1/XOR/SHA1MSG2.
template <int G>
CV_SHANI_TARGET inline __attribute__((always_inline)) void Group(__m128i& abcd, __m128i& e0,
                                                                 __m128i& e1, __m128i (&w)[4],
                                                                 const uint8_t* data,
                                                                 const __m128i mask) {
  if constexpr (G < 4) {
    w[G] = _mm_shuffle_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + size_t{16} * G)), mask);
  }
  __m128i& ecur = (G % 2 == 0) ? e0 : e1;
  __m128i& enext = (G % 2 == 0) ? e1 : e0;
  if constexpr (G == 0) {
    ecur = _mm_add_epi32(ecur, w[0]);
  } else {
    ecur = _mm_sha1nexte_epu32(ecur, w[G % 4]);
  }
  enext = abcd;
  if constexpr (G >= 3 && G <= 18) w[(G + 1) % 4] = _mm_sha1msg2_epu32(w[(G + 1) % 4], w[G % 4]);
  abcd = _mm_sha1rnds4_epu32(abcd, ecur, G / 5);
  if constexpr (G >= 1 && G <= 16) w[(G + 3) % 4] = _mm_sha1msg1_epu32(w[(G + 3) % 4], w[G % 4]);
  if constexpr (G >= 2 && G <= 17) w[(G + 2) % 4] = _mm_xor_si128(w[(G + 2) % 4], w[G % 4]);
}

template <int... G>
CV_SHANI_TARGET inline __attribute__((always_inline)) void AllGroups(
    std::integer_sequence<int, G...>, __m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&w)[4],
    const uint8_t* data, const __m128i mask) {
  (Group<G>(abcd, e0, e1, w, data, mask), ...);
}

}  // namespace

CV_SHANI_TARGET void SHA1CompressShaNi(uint32_t state[5], const uint8_t* data, size_t blocks) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  __m128i e1 = _mm_setzero_si128();
  __m128i w[4];
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_save = abcd;
    const __m128i e0_save = e0;
    AllGroups(std::make_integer_sequence<int, 20>{}, abcd, e0, e1, w, data, mask);
    e0 = _mm_sha1nexte_epu32(e0, e0_save);
    abcd = _mm_add_epi32(abcd, abcd_save);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace corvane::hashdetail

#endif
