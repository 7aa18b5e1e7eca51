#include "toolkit/pki/CvRevocationDER.h"

#include <cstdio>
#include <exception>

namespace corvane::revocation_der {

namespace {

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool ReadTime(TCvDERReader& reader, TDateTime& value, bool generalizedOnly) {
  std::string_view text;
  bool generalized = true;
  if (!reader.Read(0x18, text)) {
    if (generalizedOnly || !reader.Read(0x17, text)) return false;
    generalized = false;
  }
  const size_t yearDigits = generalized ? 4 : 2;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, yearDigits, year)) return false;
  size_t at = yearDigits;
  if (!Digits(text, at, 2, month) || !Digits(text, at + 2, 2, day) ||
      !Digits(text, at + 4, 2, hour) || !Digits(text, at + 6, 2, minute) ||
      !Digits(text, at + 8, 2, second))
    return false;
  at += 10;
  // Responders exist that give fractions of a second; they are dropped.
  if (generalized && at < text.size() && text[at] == '.') {
    size_t end = at + 1;
    while (end < text.size() && end < at + 10 && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == at + 1) return false;
    at = end;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return false;
  // RFC 5280 4.1.2.5.1: two-digit years from 50 are 19xx.
  if (!generalized) year += year >= 50 ? 1900 : 2000;
  try {
    value = EncodeDateTime(year, month, day, hour, minute, second, 0);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool ReadSmallEnumerated(std::string_view der, int& value) {
  TCvDERReader reader(der);
  std::string_view content;
  if (!reader.Read(0x0A, content) || !reader.AtEnd() || content.size() != 1 ||
      (static_cast<uint8_t>(content[0]) & 0x80) != 0)
    return false;
  value = static_cast<uint8_t>(content[0]);
  return true;
}

std::string ReasonName(int reason) {
  static const char* const names[] = {"unspecified",        "keyCompromise", "cACompromise",
                                      "affiliationChanged", "superseded",    "cessationOfOperation",
                                      "certificateHold",    nullptr,         "removeFromCRL",
                                      "privilegeWithdrawn", "aACompromise"};
  if (reason >= 0 && reason <= 10 && names[reason] != nullptr) return names[reason];
  return "reason " + std::to_string(reason);
}

std::string RevocationTimeText(TDateTime value) {
  try {
    const TDateTimeParts p = DecodeDateTime(value);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second);
    return text;
  } catch (const std::exception&) {
    return "an unreadable time";
  }
}

}  // namespace corvane::revocation_der
