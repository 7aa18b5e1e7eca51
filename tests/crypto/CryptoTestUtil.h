// Helpers shared by the crypto tests: hex conversion, deterministic random
// bytes, digests by openssl, and running a block of checks once per SHA kernel.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "tests/support/TestSupport.h"
#include "toolkit/crypto/CvCpuFeatures.h"

namespace corvane::testutil {

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

// Binary digest of data by `openssl dgst -<name>`.
inline std::string OpenSSLDigest(const std::string& name, const std::string& data) {
  tavra_test::ScratchDir dir;
  return tavra_test::RunCommand("openssl dgst -" + name + " -binary " +
                                dir.Write("data.bin", data) + " 2>/dev/null");
}

// Runs body once with the portable SHA kernel and, when the processor has the
// SHA extensions, once more with them; restores the previous choice.
inline void ForEachSHAKernel(const std::function<void()>& body) {
  const bool previous = SHAExtensionsEnabled();
  SetSHAExtensionsEnabled(false);
  {
    SCOPED_TRACE("kernel: portable");
    body();
  }
  if (CPUHasSHAExtensions()) {
    SetSHAExtensionsEnabled(true);
    SCOPED_TRACE("kernel: sha-ni");
    body();
  }
  SetSHAExtensionsEnabled(previous);
}

}  // namespace corvane::testutil
