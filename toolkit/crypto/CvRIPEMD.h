// RIPEMD-160 (ISO/IEC 10118-3; Dobbertin, Bosselaers, Preneel 1996).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t RIPEMD160_DIGEST_SIZE = 20;

struct TRIPEMD160State {
  uint32_t H[5];
  uint64_t Length;
  size_t Used;
  uint8_t Buffer[64];
};

void RIPEMD160Init(TRIPEMD160State& state);
void RIPEMD160Update(TRIPEMD160State& state, const void* data, size_t size);
void RIPEMD160Finish(TRIPEMD160State& state, uint8_t digest[RIPEMD160_DIGEST_SIZE]);
std::string HashRIPEMD160(std::string_view data);

}  // namespace corvane
