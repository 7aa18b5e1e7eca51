// MD2 (RFC 1319) and MD5 (RFC 1321). Kept for old signatures and for the
// SSL 3.0 handshake hash; neither is collision resistant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t MD2_DIGEST_SIZE = 16;
inline constexpr size_t MD5_DIGEST_SIZE = 16;

struct TMD2State {
  uint8_t X[48];
  uint8_t Checksum[16];
  size_t Used;
  uint8_t Buffer[16];
};

struct TMD5State {
  uint32_t H[4];
  uint64_t Length;
  size_t Used;
  uint8_t Buffer[64];
};

void MD2Init(TMD2State& state);
void MD2Update(TMD2State& state, const void* data, size_t size);
void MD2Finish(TMD2State& state, uint8_t digest[MD2_DIGEST_SIZE]);
std::string HashMD2(std::string_view data);

void MD5Init(TMD5State& state);
void MD5Update(TMD5State& state, const void* data, size_t size);
void MD5Finish(TMD5State& state, uint8_t digest[MD5_DIGEST_SIZE]);
std::string HashMD5(std::string_view data);

}  // namespace corvane
