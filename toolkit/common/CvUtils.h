// Small shared services of the toolkit: byte strings, property encodings of
// booleans and integers, text conversions, OID text, hex and Base64 codecs,
// ASN.1 time texts and date-time values, and an owning object list.
//
// Byte strings are std::string (octets, zeros allowed); text is UTF-8; UTF-16
// text is std::u16string. The system "ANSI" code page is UTF-8 on this platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvErrors.h"

namespace platform {
struct TimeZoneInfo;
}

namespace corvane {

using ByteString = std::string;

// ---------------------------------------------------------------------------
// Byte strings

bool BytesEqual(std::string_view a, std::string_view b);
// start < 0 or count <= 0: empty; count is cut to what remains after start.
ByteString CopyBytes(std::string_view source, int64_t start, int64_t count);
ByteString StripLeadingZeros(std::string_view bytes);
ByteString ReverseBytes(std::string_view bytes);
// Exchanges the two octets of every pair (UTF-16 byte-order change); an odd
// last octet stays where it is.
ByteString SwapBytePairs(std::string_view bytes);
void SwapBytePairsInPlace(ByteString& bytes);
uint32_t SwapUInt32(uint32_t value);
uint64_t SwapUInt64(uint64_t value);

// Property encodings: one octet 0x01/0x00 for booleans, four octets most
// significant first for integers. Anything else decodes to the default.
ByteString BoolToBytes(bool value);
bool BytesToBool(std::string_view bytes, bool defaultValue);
ByteString IntToBytes(int32_t value);
int32_t BytesToInt(std::string_view bytes, int32_t defaultValue);

// ---------------------------------------------------------------------------
// Letter case (ASCII only: locale never matters)

char AsciiLower(char c);
char AsciiUpper(char c);
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
// Equal ignoring the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);
// text begins with prefix, ignoring the case of ASCII letters.
bool StartsTextAscii(std::string_view text, std::string_view prefix);

// ---------------------------------------------------------------------------
// Text conversions

// UTF-16 to UTF-8 (ISO/IEC 10646 encoding rules). Not lenient: an unpaired
// surrogate stops the conversion with result 3, keeping what was produced so
// far. Lenient: an unpaired surrogate is encoded by itself. withBOM puts
// EF BB BF in front unless the result already starts with it. Result 0 on success.
int UTF16ToUTF8(std::u16string_view text, bool lenient, bool withBOM, std::string& utf8);
// UTF-8 <-> UTF-16; malformed sequences and unpaired surrogates become U+FFFD.
std::u16string UTF8ToWide(std::string_view utf8);
std::string WideToUTF8(std::u16string_view text);
bool IsValidUTF8(std::string_view text);
// The valid UTF-8 text of the input: every malformed sequence (overlong forms,
// surrogates, code points past U+10FFFF, truncated sequences) is replaced.
std::string SanitizeUTF8(std::string_view text, std::string_view replacement = "?");

// The text converter between the system ANSI code page and UTF-8 / UTF-16LE
// octets. The base class refuses every operation ("Unicode library not
// initialized"); the platform converter does the work.
class TOvStringConverter {
 public:
  virtual ~TOvStringConverter() = default;
  virtual std::string AnsiToUTF8(std::string_view text);
  virtual std::string UTF8ToAnsi(std::string_view text);
  // UTF-16 little-endian octets.
  virtual ByteString AnsiToUTF16(std::string_view text);
  virtual std::string UTF16ToAnsi(std::string_view utf16le);
  virtual std::string CharsetToUTF8(std::string_view charset, std::string_view text);
};

// ANSI is UTF-8 here: conversions keep valid text as it is and replace
// malformed sequences with "?"; empty or unconvertible input gives an empty
// result. No other character sets are supported.
class TOvPlatformStringConverter final : public TOvStringConverter {
 public:
  std::string AnsiToUTF8(std::string_view text) override;
  std::string UTF8ToAnsi(std::string_view text) override;
  ByteString AnsiToUTF16(std::string_view text) override;
  std::string UTF16ToAnsi(std::string_view utf16le) override;
  // Always raises EOvUnicodeError "Unsupported charset".
  std::string CharsetToUTF8(std::string_view charset, std::string_view text) override;
};

// The process-wide converter (a TOvPlatformStringConverter from start-up), or
// nullptr after SetStringConverter(nullptr).
TOvStringConverter* StringConverter();
// Replaces the process-wide converter (tests); returns the previous one.
std::unique_ptr<TOvStringConverter> SetStringConverter(
    std::unique_ptr<TOvStringConverter> converter);
// Through the process-wide converter; "Unicode library not initialized" when there is none.
ByteString ConvertAnsiToUTF16(std::string_view text);

// ---------------------------------------------------------------------------
// Object identifiers, hex and Base64

// The dotted text of the content octets of an OBJECT IDENTIFIER (X.690 8.19).
// Arcs of any size are written exactly. The one-octet encoding 2A gives
// "1.2.0"; an empty input gives "0.0.0".
std::string OIDToText(std::string_view oid);

// Two uppercase digits per octet, no separators.
std::string BytesToHex(std::string_view bytes);
// Odd text length: false, size unchanged. Otherwise size is set to half the
// text length; when the given size was at least that, the digits are decoded
// into buffer and the result is true. A non-hex digit raises EConvertError
// "String contains non-hexadecimal characters" (only when decoding).
bool HexToBytes(std::string_view text, void* buffer, size_t& size);
// Convenience form: false for an odd length; raises like the form above.
bool HexToBytes(std::string_view text, ByteString& bytes);

// Base64 (RFC 4648 alphabet, "=" padding). With wrapLines, lines of 64
// characters are separated by CR LF (none after the last). A size below the
// required one: the required size is stored and the result is false.
bool Base64Encode(const void* data, size_t n, char* buffer, size_t& size, bool wrapLines);
std::string Base64EncodeString(std::string_view data, bool wrapLines);

inline constexpr int BASE64_OK = 0;
inline constexpr int BASE64_INVALID_DATA = 1;
inline constexpr int BASE64_INVALID_LENGTH = 2;
inline constexpr int BASE64_BUFFER_TOO_SMALL = 3;

// Decodes n characters; NUL, TAB, CR, LF and space are skipped (NUL, CR, LF do
// not count toward the length, which must be a multiple of 4). Returns one of
// the BASE64_ codes; on BASE64_BUFFER_TOO_SMALL size holds the size needed, on
// success the octets written, otherwise 0.
int Base64Decode(const char* text, size_t n, void* buffer, size_t& size);
int Base64DecodeString(std::string_view text, ByteString& bytes);
// The same over UTF-16 little-endian text of n octets.
int Base64DecodeUTF16(const void* text, size_t n, void* buffer, size_t& size);

// ---------------------------------------------------------------------------
// Date-time values: days since 1899-12-30, the time of day as the fraction.
// Dates before 1899-12-30 are negative with the fraction counting forward
// from the start of the day (-1.25 is 1899-12-29 06:00).

using TDateTime = double;

inline constexpr double DATE_DELTA_UNIX = 25569.0;  // 1970-01-01

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Raise EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
// Date plus time of day, the way negative dates carry their time.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

struct TDateTimeParts {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
// Splits a value (rounded to the millisecond); raises EConvertError
// "Invalid date-time value" for values outside the years 1..9999 or not finite.
TDateTimeParts DecodeDateTime(TDateTime value);

// The current time in UTC (the signing time).
TDateTime NowUTC();
TDateTime UnixTimeToDateTime(int64_t secondsSinceEpoch);

// ASN.1 times (X.680 UTCTime / GeneralizedTime); read and written as UTC.
// Missing or non-numeric fields take their defaults; the suffix ("Z", an
// offset, further fraction digits) is ignored.
TDateTime UTCTimeToDateTime(std::string_view text);
TDateTime GeneralizedTimeToDateTime(std::string_view text);
// "YYMMDDhhmmssZ" and "YYYYMMDDhhmmssZ"; milliseconds are dropped.
std::string DateTimeToUTCTime(TDateTime value);
std::string DateTimeToGeneralizedTime(TDateTime value);

// Local time to UTC with the current state of the local zone (whatever the
// date of the value); unchanged when the zone is unknown.
TDateTime LocalTimeToUTC(TDateTime value);
TDateTime LocalTimeToUTC(TDateTime value, const platform::TimeZoneInfo& zone);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from 16 octets of the shared random
// generator, in order, uppercase.
std::string RandomGuidText();

// ---------------------------------------------------------------------------
// A list that owns its items unless told otherwise: deleting an item or
// clearing the list frees the items; Extract hands one item back unfreed.

template <typename T>
class TCvObjectList {
 public:
  explicit TCvObjectList(bool ownsObjects = true) : owns_objects_(ownsObjects) {}
  ~TCvObjectList() { Clear(); }
  TCvObjectList(const TCvObjectList&) = delete;
  TCvObjectList& operator=(const TCvObjectList&) = delete;

  bool OwnsObjects() const { return owns_objects_; }
  void SetOwnsObjects(bool value) { owns_objects_ = value; }

  size_t Count() const { return items_.size(); }
  T* operator[](size_t index) const { return items_.at(index); }
  T* Items(size_t index) const { return items_.at(index); }

  // Takes the item (owned when the list owns objects); returns its index.
  size_t Add(T* item) {
    items_.push_back(item);
    return items_.size() - 1;
  }
  size_t Add(std::unique_ptr<T> item) {
    items_.push_back(item.get());
    item.release();
    return items_.size() - 1;
  }
  void Insert(size_t index, T* item) {
    if (index > items_.size()) throw std::out_of_range("List index out of bounds");
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), item);
  }
  // -1 when absent.
  int64_t IndexOf(const T* item) const {
    for (size_t k = 0; k < items_.size(); ++k)
      if (items_[k] == item) return static_cast<int64_t>(k);
    return -1;
  }
  void Delete(size_t index) {
    T* item = items_.at(index);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    if (owns_objects_) delete item;
  }
  // Removes (and frees, when owning) the item; returns its former index or -1.
  int64_t Remove(const T* item) {
    const int64_t index = IndexOf(item);
    if (index >= 0) Delete(static_cast<size_t>(index));
    return index;
  }
  // Removes the item without freeing it; nullptr when absent.
  std::unique_ptr<T> Extract(const T* item) {
    const int64_t index = IndexOf(item);
    if (index < 0) return nullptr;
    T* found = items_[static_cast<size_t>(index)];
    items_.erase(items_.begin() + index);
    return std::unique_ptr<T>(found);
  }
  void Clear() {
    std::vector<T*> items;
    items.swap(items_);
    if (owns_objects_)
      for (T* item : items) delete item;
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T*> items_;
  bool owns_objects_;
};

}  // namespace corvane
