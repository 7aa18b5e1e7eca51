// Compression kernels behind the SHA-1 and SHA-256 modules. Internal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::hashdetail {

void SHA1CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks);
void SHA256CompressPortable(uint32_t state[8], const uint8_t* data, size_t blocks);

#if defined(__x86_64__) || defined(__i386__)
#define CV_HAVE_SHANI_KERNELS 1
// Need CPUHasSHAExtensions(); callers check SHAExtensionsEnabled().
void SHA1CompressShaNi(uint32_t state[5], const uint8_t* data, size_t blocks);
void SHA256CompressShaNi(uint32_t state[8], const uint8_t* data, size_t blocks);
#endif

}  // namespace corvane::hashdetail
