#include "toolkit/crypto/CvCpuFeatures.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace corvane {

namespace {

bool DetectSHAExtensions() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, eax, ebx, ecx, edx);
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const bool sha = (ebx & bit_SHA) != 0;
  return ssse3 && sse41 && sha;
#else
  return false;
#endif
}

bool EnvironmentDisables() {
  const char* value = std::getenv("TAVRA_NO_SHANI");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

std::atomic<bool>& EnabledFlag() {
  static std::atomic<bool> flag{CPUHasSHAExtensions() && !EnvironmentDisables()};
  return flag;
}

}  // namespace

bool CPUHasSHAExtensions() {
  static const bool has = DetectSHAExtensions();
  return has;
}

bool SHAExtensionsEnabled() { return EnabledFlag().load(std::memory_order_relaxed); }

bool SetSHAExtensionsEnabled(bool enabled) {
  const bool state = enabled && CPUHasSHAExtensions();
  EnabledFlag().store(state, std::memory_order_relaxed);
  return state;
}

const char* SHAKernelName() { return SHAExtensionsEnabled() ? "sha-ni" : "portable"; }

}  // namespace corvane
