// Small value helpers shared by the PDF units: byte classes, PDF dates, PDF
// text strings, permission flags and the PNG "Up" predictor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/PlatformSystem.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

// ISO 32000-1 7.2.2: the six white-space bytes and the ten delimiters.
constexpr bool IsPdfWhitespace(uint8_t c) {
  return c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}
constexpr bool IsPdfDelimiter(uint8_t c) {
  return c == '%' || c == '(' || c == ')' || c == '/' || c == '<' || c == '>' || c == '[' ||
         c == ']' || c == '{' || c == '}';
}
constexpr bool IsPdfRegular(uint8_t c) { return !IsPdfWhitespace(c) && !IsPdfDelimiter(c); }
constexpr bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr int HexValue(uint8_t c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Removes 0x00, 0x09, 0x0A, 0x0D and 0x20 (not 0x0C) from both ends.
std::string TrimPdfSpace(std::string_view bytes);
// The four bytes of n in the requested order.
std::string IntToBytes4(int32_t n, bool littleEndian);
// 1-based position of the last occurrence of sub in text, 0 when absent.
size_t LastPos(std::string_view sub, std::string_view text);
// SameTextAscii (ASCII-only case folding) comes from CvUtils.h.

// Strict decimal conversions: an optional sign and digits only, in range.
bool TryStrToInt64(std::string_view text, int64_t& value);
bool TryStrToInt32(std::string_view text, int32_t& value);

// Date-time values: days since 1899-12-30, time of day as the fraction.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       double& value);
void DecodeDateTimeParts(double value, int& year, int& month, int& day, int& hour, int& minute,
                         int& second);

// "D:YYYYMMDDHHmmSS" + TimeZoneSuffix() (withZone) or "Z".
std::string PdfDateToString(double dateTime, bool withZone);
// The local zone as "+HH'mm'", "-HH'mm'" or "Z00'00'".
std::string TimeZoneSuffix();
std::string TimeZoneSuffix(const platform::TimeZoneInfo& info, bool known);
// Parses a PDF date into UTC; 0 for empty or invalid text.
double PdfDateFromString(std::string_view text);

// UTF-8 text to a PDF text string: unchanged when pure ASCII, else UTF-16BE
// with the byte order mark.
std::string EncodeTextString(std::string_view utf8);
// A PDF text string to UTF-8: UTF-16BE with its mark, UTF-8 with its mark, or
// PDFDocEncoding (ISO 32000-1 D.2) for everything else.
std::string DecodeTextString(std::string_view bytes);

class TOvPDFPermissions {
 public:
  bool CanModify = false;
  bool CanCopy = false;
  bool CanAnnotate = false;
  bool CanFillForms = false;
  bool CanExtractForAccessibility = false;
  bool CanAssemble = false;
  bool CanPrint = false;
  bool CanPrintHighQuality = false;

  void SetAll(bool flag);
  void FromP(int32_t p, int32_t revision);
  int32_t ToP(int32_t revision, bool publicKeyForm) const;
};

// PNG "Up" rows of columns samples of colors components of bitsPerComponent
// bits each (predictor 10 and above); predictor 1 (and below) leaves the data
// alone; 2..9 are not supported. Parameters out of their ranges (columns < 1,
// colors outside 1..65535, bits not 1, 2, 4, 8 or 16) are "Invalid PNG data".
std::string ApplyPredictor(std::string_view data, int64_t predictor, int64_t columns,
                           int64_t colors = 1, int64_t bitsPerComponent = 8);

}  // namespace corvane
