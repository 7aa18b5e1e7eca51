// Byte-order helpers and the Merkle-Damgard buffering shared by the digest
// modules. Internal to toolkit/crypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane::hashdetail {

inline uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t Rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint64_t Rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline uint32_t LoadBE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline uint64_t LoadBE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
inline uint32_t LoadLE32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void StoreLE64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the digest modules assume a little-endian host");

// Feeds data through a block buffer: whole blocks go straight to
// compress(ptr, block_count), the tail waits in buffer until the next call.
template <size_t kBlock, typename Compress>
inline void BufferedUpdate(uint8_t (&buffer)[kBlock], size_t& used, const uint8_t* data,
                           size_t size, Compress&& compress) {
  if (size == 0) return;
  if (used > 0) {
    const size_t take = kBlock - used < size ? kBlock - used : size;
    std::memcpy(buffer + used, data, take);
    used += take;
    data += take;
    size -= take;
    if (used < kBlock) return;
    compress(buffer, size_t{1});
    used = 0;
  }
  const size_t blocks = size / kBlock;
  if (blocks > 0) {
    compress(data, blocks);
    data += blocks * kBlock;
    size -= blocks * kBlock;
  }
  if (size > 0) {
    std::memcpy(buffer, data, size);
    used = size;
  }
}

// MD-strengthening (FIPS 180-4 5.1): 0x80, zeros, then the bit length in the
// last kLenBytes bytes of the final block, big- or little-endian.
template <size_t kBlock, size_t kLenBytes, bool kBigEndian, typename Compress>
inline void PadAndFinish(uint8_t (&buffer)[kBlock], size_t used, uint64_t bit_length,
                         Compress&& compress) {
  buffer[used++] = 0x80;
  if (used > kBlock - kLenBytes) {
    std::memset(buffer + used, 0, kBlock - used);
    compress(buffer, size_t{1});
    used = 0;
  }
  std::memset(buffer + used, 0, kBlock - used);
  // Messages here are below 2^61 bytes, so only the low 64 bits of a 128-bit length are set.
  if (kBigEndian) {
    StoreBE64(buffer + kBlock - 8, bit_length);
  } else {
    StoreLE64(buffer + kBlock - kLenBytes, bit_length);
  }
  compress(buffer, size_t{1});
}

}  // namespace corvane::hashdetail
