// Small helpers shared by the ASN.1 tests: hex literals, running openssl, and a
// scratch folder that removes itself.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace asn1test {

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

inline std::string ToHex(std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    out.push_back(digits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
    out.push_back(digits[static_cast<unsigned char>(c) & 0xF]);
  }
  return out;
}

// Runs a shell command; returns its standard output, sets ok to its success.
inline std::string Run(const std::string& command, bool* ok = nullptr) {
  std::string output;
  FILE* pipe = popen(("( " + command + " ) 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) {
    if (ok) *ok = false;
    return output;
  }
  char buffer[4096];
  while (const size_t n = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = pclose(pipe);
  if (ok) *ok = status == 0;
  return output;
}

inline bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("cv_asn1_" + std::to_string(rd()));
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

}  // namespace asn1test
