// Helpers of the certificate tests: hex literals, files, running openssl (a
// missing openssl fails the test), the test certificates made once per run,
// and what openssl prints about a certificate.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "toolkit/common/CvUtils.h"

namespace pkitest {

inline std::string Hex(std::string_view text) {
  std::string out;
  int pending = -1;
  for (const char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      continue;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<char>(pending * 16 + v));
      pending = -1;
    }
  }
  return out;
}

inline std::string ToHex(std::string_view bytes) { return corvane::BytesToHex(bytes); }

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

// Standard output of a shell command; ok receives its success.
inline std::string Run(const std::string& command, bool* ok = nullptr) {
  std::string output;
  FILE* pipe = ::popen(("( " + command + " ) 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) {
    if (ok) *ok = false;
    return output;
  }
  char buffer[4096];
  while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (ok) *ok = status == 0;
  return output;
}

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("cv_pki_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The test certificates, made with openssl in a scratch folder on first use:
// a CA and certificates it issued (DER files NAME.der, keys NAME.key).
// Returns the folder, or an empty path when openssl is missing or failed.
const std::filesystem::path& Fixtures();
inline std::string FixtureDER(const std::string& name) {
  return ReadFile(Fixtures() / (name + ".der"));
}

// What openssl prints about a certificate file (DER or PEM).
struct OpensslView {
  bool ok = false;
  std::string serial;  // as "serial=" prints it: uppercase hex, "-" for negative
  std::multimap<std::string, std::string> subject, issuer;  // short name -> UTF-8 value
  std::string notBefore, notAfter;                          // "YYYY-MM-DD hh:mm:ssZ"
  // The last value of an attribute (empty when absent).
  static std::string Last(const std::multimap<std::string, std::string>& name,
                          const std::string& key) {
    std::string value;
    for (auto [it, end] = name.equal_range(key); it != end; ++it) value = it->second;
    return value;
  }
};
OpensslView ReadWithOpenssl(const std::string& path, bool der);

// The serial as openssl prints it, from the INTEGER content octets.
std::string OpensslSerialText(std::string_view contentOctets);
// "YYYY-MM-DD hh:mm:ssZ" of a date-time.
std::string IsoText(corvane::TDateTime value);

}  // namespace pkitest
