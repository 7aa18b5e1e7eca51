// Helpers shared by the crypto tests: hex conversion, deterministic random
// bytes, running openssl on a temporary file, and running a block of checks
// once per SHA kernel.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>

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
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

inline bool HaveTool(const char* name) {
  const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Runs a shell command and returns its standard output.
inline std::string RunCapture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

class TempFile {
 public:
  explicit TempFile(const std::string& contents) {
    char pattern[] = "/tmp/tavra-crypto-XXXXXX";
    const int fd = mkstemp(pattern);
    path_ = pattern;
    if (fd >= 0) {
      size_t off = 0;
      while (off < contents.size()) {
        const ssize_t w = write(fd, contents.data() + off, contents.size() - off);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
      }
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Binary digest of data by `openssl dgst -<name>`.
inline std::string OpenSSLDigest(const std::string& name, const std::string& data) {
  TempFile file(data);
  return RunCapture("openssl dgst -" + name + " -binary " + file.Path() + " 2>/dev/null");
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
