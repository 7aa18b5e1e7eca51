// Helpers of the certificate tests over the shared test support: hex literals,
// the test certificates made once per build tree, and what openssl prints
// about a certificate.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "tests/support/TestSupport.h"
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
  return tavra_test::ReadFile(path.string());
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  tavra_test::WriteFile(path.string(), bytes);
}

inline bool HaveOpenssl() { return tavra_test::HaveTool("openssl"); }

// Standard output of a shell command (its standard error dropped); ok receives
// its success.
inline std::string Run(const std::string& command, bool* ok = nullptr) {
  int status = tavra_test::kNoExit;
  std::string output = tavra_test::RunCommand("( " + command + " ) 2>/dev/null", &status);
  if (ok) *ok = status == 0;
  return output;
}

using tavra_test::ScratchDir;

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
