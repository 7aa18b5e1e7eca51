#include "toolkit/pdf/CvPDFUtils.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "toolkit/common/CvErrors.h"

namespace corvane {

namespace {

bool IsTrimmed(uint8_t c) { return c == 0x00 || c == 0x09 || c == 0x0A || c == 0x0D || c == 0x20; }

std::string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at i; malformed input yields U+FFFD and moves on
// by one byte.
uint32_t NextUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  uint32_t cp = 0;
  uint32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<size_t>(len) > s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + static_cast<size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<size_t>(len);
  return cp;
}

// ISO 32000-1 Annex D.2: PDFDocEncoding where it differs from Latin-1.
uint32_t PdfDocToUnicode(uint8_t b) {
  static const uint16_t k18[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
  static const uint16_t k80[33] = {
      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
      0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
      0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0xFFFD, 0x20AC};
  if (b >= 0x18 && b <= 0x1F) return k18[b - 0x18];
  if (b == 0x7F || b == 0xAD) return kReplacement;
  if (b >= 0x80 && b <= 0xA0) return k80[b - 0x80];
  return b;
}

}  // namespace

std::string TrimPdfSpace(std::string_view bytes) {
  size_t begin = 0;
  size_t end = bytes.size();
  while (begin < end && IsTrimmed(static_cast<uint8_t>(bytes[begin]))) ++begin;
  while (end > begin && IsTrimmed(static_cast<uint8_t>(bytes[end - 1]))) --end;
  return std::string(bytes.substr(begin, end - begin));
}

std::string IntToBytes4(int32_t n, bool littleEndian) {
  const auto u = static_cast<uint32_t>(n);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) {
    const auto byte = static_cast<char>((u >> (8 * i)) & 0xFF);
    out[littleEndian ? i : 3 - i] = byte;
  }
  return out;
}

size_t LastPos(std::string_view sub, std::string_view text) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  const size_t pos = text.rfind(sub);
  return pos == std::string_view::npos ? 0 : pos + 1;
}

bool TryStrToInt64(std::string_view text, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  uint64_t acc = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (acc > (limit - digit) / 10) return false;
    acc = acc * 10 + digit;
  }
  value = negative ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
  return true;
}

bool TryStrToInt32(std::string_view text, int32_t& value) {
  int64_t v = 0;
  if (!TryStrToInt64(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       double& value) {
  try {
    value = EncodeDateTime(year, month, day, hour, minute, second, 0);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

void DecodeDateTimeParts(double value, int& year, int& month, int& day, int& hour, int& minute,
                         int& second) {
  // A value no PDF date can hold (not finite, outside the years 1..9999) is
  // written as the zero date rather than failing the save.
  TDateTimeParts parts;
  try {
    parts = DecodeDateTime(value);
  } catch (const EConvertError&) {
    parts = DecodeDateTime(0);
  }
  year = parts.Year;
  month = parts.Month;
  day = parts.Day;
  hour = parts.Hour;
  minute = parts.Minute;
  second = parts.Second;
}

std::string PdfDateToString(double dateTime, bool withZone) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  DecodeDateTimeParts(dateTime, y, mo, d, h, mi, s);
  char year[16];
  std::snprintf(year, sizeof year, "%04d", y);
  return std::string("D:") + year + TwoDigits(mo) + TwoDigits(d) + TwoDigits(h) + TwoDigits(mi) +
         TwoDigits(s) + (withZone ? TimeZoneSuffix() : std::string("Z"));
}

std::string TimeZoneSuffix(const platform::TimeZoneInfo& info, bool known) {
  int64_t bias = 0;
  if (known) {
    bias = info.Bias;
    if (info.ZoneState == platform::TimeZoneInfo::State::Standard) bias += info.StandardBias;
    if (info.ZoneState == platform::TimeZoneInfo::State::Daylight) bias += info.DaylightBias;
  }
  const int64_t magnitude = bias < 0 ? -bias : bias;
  const int64_t hours = magnitude / 60 % 24;
  const int64_t minutes = magnitude % 60;
  if (hours == 0 && minutes == 0) return "Z00'00'";
  // A negative bias means local time is ahead of UTC (east of Greenwich).
  return std::string(bias < 0 ? "+" : "-") + TwoDigits(static_cast<int>(hours)) + "'" +
         TwoDigits(static_cast<int>(minutes)) + "'";
}

std::string TimeZoneSuffix() {
  platform::TimeZoneInfo info;
  const bool known = platform::GetTimeZoneInformation(info);
  return TimeZoneSuffix(info, known);
}

double PdfDateFromString(std::string_view text) {
  if (text.substr(0, 2) == "D:") text.remove_prefix(2);
  if (text.empty()) return 0;
  // A field with too few characters left is 0 and consumes nothing; a field
  // that is not a number is 0.
  auto field = [&text](size_t width) -> int {
    if (text.size() < width) return 0;
    const std::string_view part = text.substr(0, width);
    text.remove_prefix(width);
    int value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return 0;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  const int year = field(4);
  int month = field(2);
  int day = field(2);
  const int hour = field(2);
  const int minute = field(2);
  const int second = field(2);
  if (month == 0) month = 1;
  if (day == 0) day = 1;
  double value = 0;
  if (!TryEncodeDateTime(year, month, day, hour, minute, second, value)) return 0;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    const bool plus = text[0] == '+';
    text.remove_prefix(1);
    const int offsetHours = field(2);
    if (!text.empty()) text.remove_prefix(1);
    const int offsetMinutes = field(2);
    const double offset = (offsetHours * 60.0 + offsetMinutes) / 1440.0;
    value = plus ? value - offset : value + offset;
  }
  return value;
}

std::string EncodeTextString(std::string_view utf8) {
  bool ascii = true;
  for (const char c : utf8) {
    if (static_cast<uint8_t>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(utf8);
  std::string out("\xFE\xFF", 2);
  auto put = [&out](uint32_t unit) {
    out += static_cast<char>((unit >> 8) & 0xFF);
    out += static_cast<char>(unit & 0xFF);
  };
  for (size_t i = 0; i < utf8.size();) {
    const uint32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string DecodeTextString(std::string_view bytes) {
  std::string out;
  if (bytes.size() >= 2 && bytes.size() % 2 == 0 && static_cast<uint8_t>(bytes[0]) == 0xFE &&
      static_cast<uint8_t>(bytes[1]) == 0xFF) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint32_t unit = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 8 |
                      static_cast<uint8_t>(bytes[i + 1]);
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        const uint32_t low = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 2])) << 8 |
                             static_cast<uint8_t>(bytes[i + 3]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          i += 2;
          continue;
        }
      }
      if (unit >= 0xD800 && unit <= 0xDFFF) unit = kReplacement;
      AppendUtf8(out, unit);
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    const std::string_view rest = bytes.substr(3);
    for (size_t i = 0; i < rest.size();) AppendUtf8(out, NextUtf8(rest, i));
    return out;
  }
  bool plain = true;
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 0x7F || (b >= 0x18 && b <= 0x1F)) {
      plain = false;
      break;
    }
  }
  if (plain) return std::string(bytes);
  for (const char c : bytes) AppendUtf8(out, PdfDocToUnicode(static_cast<uint8_t>(c)));
  return out;
}

// --- TOvPDFPermissions -----------------------------------------------------------

void TOvPDFPermissions::SetAll(bool flag) {
  CanModify = CanCopy = CanAnnotate = CanFillForms = CanExtractForAccessibility = CanAssemble =
      CanPrint = CanPrintHighQuality = flag;
}

void TOvPDFPermissions::FromP(int32_t p, int32_t revision) {
  const auto u = static_cast<uint32_t>(p);
  auto bit = [u](uint32_t mask) { return (u & mask) != 0; };
  if (revision == 2) {
    CanModify = CanAssemble = bit(8);
    CanCopy = CanExtractForAccessibility = bit(16);
    CanAnnotate = CanFillForms = bit(32);
    CanPrint = CanPrintHighQuality = bit(4);
  } else if (revision >= 3) {
    CanModify = bit(8);
    CanCopy = bit(16);
    CanAnnotate = bit(32);
    CanFillForms = bit(256);
    CanExtractForAccessibility = bit(512);
    CanAssemble = bit(1024);
    CanPrint = bit(4);
    CanPrintHighQuality = bit(2048);
  }
}

int32_t TOvPDFPermissions::ToP(int32_t revision, bool publicKeyForm) const {
  uint32_t p = 0;
  if (revision < 2) return 0xC0;
  if (revision == 2) {
    p = 0xC0;
    if (CanModify || CanAssemble) p += 8;
    if (CanCopy || CanExtractForAccessibility) p += 16;
    if (CanAnnotate || CanFillForms) p += 32;
    if (CanPrint || CanPrintHighQuality) p += 4;
    return static_cast<int32_t>(p);
  }
  if (!publicKeyForm) {
    p = 0xFFFFF0C0u;
    if (CanModify) p += 8;
    if (CanCopy) p += 16;
    if (CanAnnotate) p += 32;
    if (CanFillForms) p += 256;
    if (CanExtractForAccessibility) p += 512;
    if (CanAssemble) p += 1024;
    if (CanPrint) p += 4;
    if (CanPrintHighQuality) p += 2048;
  } else {
    // The public-key form adds the values as listed; CanModify and CanAnnotate
    // share a value, so both together carry into the next bit, as they always have.
    p = 0x010000C0u;
    if (CanModify) p += 0x20010000u;
    if (CanCopy) p += 0x10000000u;
    if (CanAnnotate) p += 0x20010000u;
    if (CanFillForms) p += 0x00010000u;
    if (CanExtractForAccessibility) p += 0x00020000u;
    if (CanAssemble) p += 0x00040000u;
    if (CanPrint) p += 0x04000000u;
    if (CanPrintHighQuality) p += 0x04080000u;
  }
  return static_cast<int32_t>(p);
}

std::string ApplyPredictor(std::string_view data, int64_t predictor, int64_t columns,
                           int64_t colors, int64_t bitsPerComponent) {
  if (predictor < 2) return std::string(data);
  if (predictor < 10) {
    throw EOvPDFError("Unsupported predictor algorithm: " + std::to_string(predictor));
  }
  // Checked here, not by the callers: a bad value must never reach the
  // division and the row arithmetic below.
  const bool bitsValid = bitsPerComponent == 1 || bitsPerComponent == 2 || bitsPerComponent == 4 ||
                         bitsPerComponent == 8 || bitsPerComponent == 16;
  if (columns < 1 || columns > (int64_t{1} << 40) || colors < 1 || colors > 65535 || !bitsValid) {
    throw EOvPDFError("Invalid PNG data");
  }
  // At most 2^40 * 2^16 * 16 bits: no overflow.
  const int64_t rowBytes = (columns * colors * bitsPerComponent + 7) / 8;
  const auto size = static_cast<int64_t>(data.size());
  const int64_t rowSize = rowBytes + 1;
  if (size % rowSize != 0) throw EOvPDFError("Invalid PNG data");
  const int64_t rows = size / rowSize;
  std::string out;
  if (rows == 0) return out;
  const auto cols = static_cast<size_t>(rowBytes);
  out.resize(static_cast<size_t>(rows) * cols);
  for (int64_t r = 0; r < rows; ++r) {
    const size_t in = static_cast<size_t>(r * rowSize);
    const auto type = static_cast<uint8_t>(data[in]);
    if (type != 2) throw EOvPDFError("Unsupported PNG predictor: " + std::to_string(type));
    const size_t outRow = static_cast<size_t>(r) * cols;
    for (size_t c = 0; c < cols; ++c) {
      const uint8_t above = r == 0 ? 0 : static_cast<uint8_t>(out[outRow - cols + c]);
      out[outRow + c] = static_cast<char>(static_cast<uint8_t>(data[in + 1 + c]) + above);
    }
  }
  return out;
}

}  // namespace corvane
