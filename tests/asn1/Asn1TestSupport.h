// Hex literals for the ASN.1 tests; running openssl and scratch folders come
// from the shared test support.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/TestSupport.h"

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

}  // namespace asn1test
