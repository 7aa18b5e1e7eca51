#include "toolkit/common/CvUtils.h"

#include <algorithm>
#include <mutex>

#include "toolkit/common/CvRandom.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Byte strings

bool BytesEqual(std::string_view a, std::string_view b) { return a == b; }

ByteString CopyBytes(std::string_view source, int64_t start, int64_t count) {
  if (start < 0 || count <= 0) return {};
  const auto size = static_cast<uint64_t>(source.size());
  const auto first = static_cast<uint64_t>(start);
  if (first >= size) return {};
  const uint64_t take = std::min<uint64_t>(static_cast<uint64_t>(count), size - first);
  return ByteString(source.substr(static_cast<size_t>(first), static_cast<size_t>(take)));
}

ByteString StripLeadingZeros(std::string_view bytes) {
  const size_t first = bytes.find_first_not_of('\0');
  return first == std::string_view::npos ? ByteString() : ByteString(bytes.substr(first));
}

ByteString ReverseBytes(std::string_view bytes) { return ByteString(bytes.rbegin(), bytes.rend()); }

ByteString SwapBytePairs(std::string_view bytes) {
  ByteString out(bytes);
  SwapBytePairsInPlace(out);
  return out;
}

void SwapBytePairsInPlace(ByteString& bytes) {
  for (size_t k = 0; k + 1 < bytes.size(); k += 2) std::swap(bytes[k], bytes[k + 1]);
}

uint32_t SwapUInt32(uint32_t value) {
  return ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) |
         (value >> 24);
}

uint64_t SwapUInt64(uint64_t value) {
  return (static_cast<uint64_t>(SwapUInt32(static_cast<uint32_t>(value))) << 32) |
         SwapUInt32(static_cast<uint32_t>(value >> 32));
}

ByteString BoolToBytes(bool value) { return ByteString(1, value ? '\x01' : '\x00'); }

bool BytesToBool(std::string_view bytes, bool defaultValue) {
  if (bytes.size() != 1) return defaultValue;
  if (bytes[0] == '\x01') return true;
  if (bytes[0] == '\x00') return false;
  return defaultValue;
}

ByteString IntToBytes(int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  ByteString out(4, '\0');
  for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((v >> (24 - 8 * k)) & 0xFF);
  return out;
}

int32_t BytesToInt(std::string_view bytes, int32_t defaultValue) {
  if (bytes.size() != 4) return defaultValue;
  uint32_t v = 0;
  for (char c : bytes) v = (v << 8) | static_cast<uint8_t>(c);
  return static_cast<int32_t>(v);
}

// ---------------------------------------------------------------------------
// Letter case

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (AsciiLower(a[k]) != AsciiLower(b[k])) return false;
  return true;
}

bool StartsTextAscii(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// ---------------------------------------------------------------------------
// UTF-8 and UTF-16

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

void AppendUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUTF16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Decodes one well-formed UTF-8 sequence at pos (Unicode 3.9, Table 3-7).
// Returns its length with cp set, or 0 with bad set to the length of the
// maximal ill-formed subpart (at least 1), which callers replace as one unit.
size_t DecodeUTF8(std::string_view s, size_t pos, char32_t& cp, size_t& bad) {
  const auto b0 = static_cast<uint8_t>(s[pos]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  for (size_t k = 1; k <= need; ++k) {
    if (pos + k >= s.size()) {
      bad = k;
      return 0;
    }
    const auto b = static_cast<uint8_t>(s[pos + k]);
    if (b < lo || b > hi) {
      bad = k;
      return 0;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  return need + 1;
}

// UTF-16 units to code points; unpaired surrogates become the replacement.
template <typename Sink>
void WalkUTF16(std::u16string_view text, Sink sink, char32_t replacement) {
  for (size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[k];
    if (c >= 0xD800 && c <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
        text[k + 1] <= 0xDFFF) {
      sink((static_cast<char32_t>(c - 0xD800) << 10) + (text[k + 1] - 0xDC00) + 0x10000);
      ++k;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      sink(replacement);
    } else {
      sink(c);
    }
  }
}

std::u16string LittleEndianUnits(std::string_view octets) {
  std::u16string units(octets.size() / 2, u'\0');
  for (size_t k = 0; k < units.size(); ++k)
    units[k] = static_cast<char16_t>(static_cast<uint8_t>(octets[2 * k]) |
                                     (static_cast<uint8_t>(octets[2 * k + 1]) << 8));
  return units;
}

}  // namespace

int UTF16ToUTF8(std::u16string_view text, bool lenient, bool withBOM, std::string& utf8) {
  utf8.clear();
  int result = 0;
  for (size_t k = 0; k < text.size(); ++k) {
    char32_t c = text[k];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (k + 1 < text.size()) {
        const char16_t next = text[k + 1];
        if (next >= 0xDC00 && next <= 0xDFFF) {
          c = ((c - 0xD800) << 10) + (next - 0xDC00) + 0x10000;
          ++k;
        } else if (!lenient) {
          result = 3;
          break;
        }
      }
      // A high surrogate in the last position is encoded by itself.
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      if (!lenient) {
        result = 3;
        break;
      }
    }
    AppendUTF8(utf8, c);
  }
  if (withBOM && utf8.compare(0, 3, "\xEF\xBB\xBF") != 0) utf8.insert(0, "\xEF\xBB\xBF");
  return result;
}

std::u16string UTF8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    size_t bad = 0;
    const size_t len = DecodeUTF8(utf8, pos, cp, bad);
    if (len == 0) {
      out.push_back(static_cast<char16_t>(kReplacementChar));
      pos += bad;
    } else {
      AppendUTF16(out, cp);
      pos += len;
    }
  }
  return out;
}

std::string WideToUTF8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  WalkUTF16(
      text, [&out](char32_t cp) { AppendUTF8(out, cp); }, kReplacementChar);
  return out;
}

bool IsValidUTF8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    size_t bad = 0;
    const size_t len = DecodeUTF8(text, pos, cp, bad);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

std::string SanitizeUTF8(std::string_view text, std::string_view replacement) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = 0;
    size_t bad = 0;
    const size_t len = DecodeUTF8(text, pos, cp, bad);
    if (len == 0) {
      out.append(replacement);
      pos += bad;
    } else {
      out.append(text.substr(pos, len));
      pos += len;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Text converter

namespace {

[[noreturn]] void NotInitialized() { throw EOvUnicodeError("Unicode library not initialized"); }

}  // namespace

std::string TOvStringConverter::AnsiToUTF8(std::string_view) { NotInitialized(); }
std::string TOvStringConverter::UTF8ToAnsi(std::string_view) { NotInitialized(); }
ByteString TOvStringConverter::AnsiToUTF16(std::string_view) { NotInitialized(); }
std::string TOvStringConverter::UTF16ToAnsi(std::string_view) { NotInitialized(); }
std::string TOvStringConverter::CharsetToUTF8(std::string_view, std::string_view) {
  NotInitialized();
}

std::string TOvPlatformStringConverter::AnsiToUTF8(std::string_view text) {
  return SanitizeUTF8(text, "?");
}

std::string TOvPlatformStringConverter::UTF8ToAnsi(std::string_view text) {
  return SanitizeUTF8(text, "?");
}

ByteString TOvPlatformStringConverter::AnsiToUTF16(std::string_view text) {
  const std::u16string units = UTF8ToWide(SanitizeUTF8(text, "?"));
  ByteString out(units.size() * 2, '\0');
  for (size_t k = 0; k < units.size(); ++k) {
    out[2 * k] = static_cast<char>(units[k] & 0xFF);
    out[2 * k + 1] = static_cast<char>(units[k] >> 8);
  }
  return out;
}

std::string TOvPlatformStringConverter::UTF16ToAnsi(std::string_view utf16le) {
  if (utf16le.size() % 2 != 0) return {};  // not UTF-16 at all
  std::string out;
  WalkUTF16(
      LittleEndianUnits(utf16le), [&out](char32_t cp) { AppendUTF8(out, cp); }, U'?');
  return out;
}

std::string TOvPlatformStringConverter::CharsetToUTF8(std::string_view, std::string_view) {
  throw EOvUnicodeError("Unsupported charset");
}

namespace {

struct ConverterSlot {
  std::mutex lock;
  std::unique_ptr<TOvStringConverter> converter = std::make_unique<TOvPlatformStringConverter>();
};

ConverterSlot& Slot() {
  static ConverterSlot slot;
  return slot;
}

}  // namespace

TOvStringConverter* StringConverter() {
  ConverterSlot& slot = Slot();
  const std::lock_guard<std::mutex> guard(slot.lock);
  return slot.converter.get();
}

std::unique_ptr<TOvStringConverter> SetStringConverter(
    std::unique_ptr<TOvStringConverter> converter) {
  ConverterSlot& slot = Slot();
  const std::lock_guard<std::mutex> guard(slot.lock);
  slot.converter.swap(converter);
  return converter;
}

ByteString ConvertAnsiToUTF16(std::string_view text) {
  TOvStringConverter* converter = StringConverter();
  if (converter == nullptr) NotInitialized();
  return converter->AnsiToUTF16(text);
}

// ---------------------------------------------------------------------------
// Object identifiers

namespace {

// An unsigned number of any size in base 10^9 limbs, least significant first;
// X.660 arcs are unbounded (UUID arcs under 2.25 take 128 bits).
class DecimalNumber {
 public:
  void MulAdd(uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (uint32_t& limb : limbs_) {
      const uint64_t v = static_cast<uint64_t>(limb) * factor + carry;
      limb = static_cast<uint32_t>(v % kBase);
      carry = v / kBase;
    }
    while (carry != 0) {
      limbs_.push_back(static_cast<uint32_t>(carry % kBase));
      carry /= kBase;
    }
  }
  // Compares with a small value.
  bool Below(uint32_t value) const {
    Trim();
    return limbs_.empty() || (limbs_.size() == 1 && limbs_[0] < value);
  }
  // this -= value; the caller ensures this >= value.
  void Subtract(uint32_t value) {
    uint64_t borrow = value;
    for (uint32_t& limb : limbs_) {
      if (borrow == 0) break;
      if (limb >= borrow) {
        limb = static_cast<uint32_t>(limb - borrow);
        borrow = 0;
      } else {
        limb = static_cast<uint32_t>(limb + kBase - borrow);
        borrow = 1;
      }
    }
  }
  uint32_t Low() const { return limbs_.empty() ? 0 : limbs_[0]; }
  std::string Text() const {
    Trim();
    if (limbs_.empty()) return "0";
    std::string out = std::to_string(limbs_.back());
    for (size_t k = limbs_.size() - 1; k-- > 0;) {
      const std::string part = std::to_string(limbs_[k]);
      out.append(9 - part.size(), '0');
      out += part;
    }
    return out;
  }

 private:
  static constexpr uint64_t kBase = 1000000000;
  void Trim() const {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  mutable std::vector<uint32_t> limbs_;
};

// Arcs are exact up to this many octets (448 bits, far beyond the 128-bit UUID
// arcs of 2.25); a longer one is skipped and printed as "?", so hostile input
// costs linear time and still never prints as another OID's text.
constexpr size_t kMaxArcOctets = 64;

struct SubIdentifier {
  DecimalNumber Value;
  bool Overlong = false;
  std::string Text() const { return Overlong ? "?" : Value.Text(); }
};

// Reads one sub-identifier: up to and including the first octet with the top
// bit clear, or to the end.
SubIdentifier ReadSubIdentifier(std::string_view oid, size_t& pos) {
  SubIdentifier arc;
  size_t octets = 0;
  while (pos < oid.size()) {
    const auto b = static_cast<uint8_t>(oid[pos++]);
    if (++octets > kMaxArcOctets) {
      arc.Overlong = true;
    } else {
      arc.Value.MulAdd(128, b & 0x7F);
    }
    if ((b & 0x80) == 0) break;
  }
  return arc;
}

}  // namespace

std::string OIDToText(std::string_view oid) {
  size_t pos = 0;
  SubIdentifier first = ReadSubIdentifier(oid, pos);
  std::string text;
  if (first.Overlong) {
    text = "2.?";
  } else if (first.Value.Below(40)) {
    text = "0." + first.Value.Text();
  } else if (first.Value.Below(80)) {
    text = "1." + std::to_string(first.Value.Low() - 40);
  } else {
    first.Value.Subtract(80);
    text = "2." + first.Value.Text();
  }
  if (pos >= oid.size()) return text + ".0";
  while (pos < oid.size()) {
    text += '.';
    text += ReadSubIdentifier(oid, pos).Text();
  }
  return text;
}

// ---------------------------------------------------------------------------

std::string RandomGuidText() {
  const std::string b = SharedRandomBytes(16);
  const std::string hex = BytesToHex(b);
  std::string text = "{";
  for (const auto& [start, count] : {std::pair{0, 8}, {8, 4}, {12, 4}, {16, 4}, {20, 12}}) {
    if (start != 0) text += '-';
    text.append(hex, start, count);
  }
  text += '}';
  return text;
}

}  // namespace corvane
