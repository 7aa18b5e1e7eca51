// The object classes: values, text, rebuild, clone and write.
#include "toolkit/pdf/CvPDFCore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <ostream>
#include <stdexcept>

#include "toolkit/common/CvScope.h"

namespace corvane {

namespace {

const std::string kEmpty;

[[noreturn]] void FailedToClone() { throw EOvPDFError("Failed to clone object"); }

// Objects whose text starts with a delimiter need no space after a key.
bool StartsWithDelimiter(const TOvPDFObject* obj) {
  return dynamic_cast<const TOvPDFName*>(obj) || dynamic_cast<const TOvPDFString*>(obj) ||
         dynamic_cast<const TOvPDFArray*>(obj);
}

bool ParseDouble(std::string_view text, double& value) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) return false;
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value, std::chars_format::general);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

// Copies stream data from its source to the output in chunks. Source and
// output may be the same stream (an update appended to the file it reads), so
// both positions are kept apart.
void CopyFromSource(TOvStream& source, int64_t offset, int64_t length, TOvStream& out) {
  const int64_t saved = source.Position();
  int64_t writeAt = out.Position();
  std::string chunk(static_cast<size_t>(std::min<int64_t>(length, 1 << 20)), '\0');
  int64_t done = 0;
  while (done < length) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(length - done, 1 << 20));
    source.SetPosition(offset + done);
    const size_t got = source.Read(chunk.data(), want);
    if (got != want) {
      source.SetPosition(saved);
      throw EOvPDFParseError("Invalid stream data");
    }
    out.SetPosition(writeAt);
    out.Write(chunk.data(), got);
    writeAt += static_cast<int64_t>(got);
    done += static_cast<int64_t>(got);
  }
  if (&source != &out) source.SetPosition(saved);
}

}  // namespace

// --- TCvPDFSpace --------------------------------------------------------------------

namespace {

// Every run of at most two whitespace bytes: index 0 is empty, 1..6 one byte,
// 7..42 two bytes, in the order of kSpaceBytes.
constexpr char kSpaceBytes[] = {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20};
constexpr size_t kSpaceKinds = sizeof kSpaceBytes;
constexpr size_t kCommonSpaces = 1 + kSpaceKinds + kSpaceKinds * kSpaceKinds;

const std::string* CommonSpaces() {
  static const std::string* table = [] {
    auto* spaces = new std::string[kCommonSpaces];  // lives as long as the process
    for (size_t a = 0; a < kSpaceKinds; ++a) {
      spaces[1 + a].assign(1, kSpaceBytes[a]);
      for (size_t b = 0; b < kSpaceKinds; ++b) {
        spaces[1 + kSpaceKinds + a * kSpaceKinds + b] = {kSpaceBytes[a], kSpaceBytes[b]};
      }
    }
    return spaces;
  }();
  return table;
}

int SpaceKind(char c) {
  switch (c) {
    case 0x00:
      return 0;
    case 0x09:
      return 1;
    case 0x0A:
      return 2;
    case 0x0C:
      return 3;
    case 0x0D:
      return 4;
    case 0x20:
      return 5;
    default:
      return -1;
  }
}

}  // namespace

const std::string* TCvPDFSpace::Common(size_t i) noexcept { return CommonSpaces() + i; }

const std::string* TCvPDFSpace::FindCommon(std::string_view text) noexcept {
  if (text.empty()) return Common(0);
  if (text.size() > 2) return nullptr;
  const int a = SpaceKind(text[0]);
  if (a < 0) return nullptr;
  if (text.size() == 1) return Common(1 + static_cast<size_t>(a));
  const int b = SpaceKind(text[1]);
  if (b < 0) return nullptr;
  return Common(1 + kSpaceKinds + static_cast<size_t>(a) * kSpaceKinds + static_cast<size_t>(b));
}

bool TCvPDFSpace::IsCommon(const std::string* text) noexcept {
  const std::string* table = CommonSpaces();
  return std::less_equal<const std::string*>()(table, text) &&
         std::less<const std::string*>()(text, table + kCommonSpaces);
}

const std::string* TCvPDFSpace::Make(std::string_view text) {
  if (const std::string* common = FindCommon(text)) return common;
  return new std::string(text);
}

const std::string* TCvPDFSpace::Make(std::string&& text) {
  if (const std::string* common = FindCommon(text)) return common;
  return new std::string(std::move(text));
}

const std::string* TCvPDFSpace::Copy(const std::string* text) {
  return IsCommon(text) ? text : new std::string(*text);
}

TCvPDFSpace& TCvPDFSpace::operator=(const TCvPDFSpace& other) {
  if (this != &other) Replace(Copy(other.text_));
  return *this;
}

TCvPDFSpace& TCvPDFSpace::operator=(TCvPDFSpace&& other) noexcept {
  if (this != &other) {
    Replace(other.text_);
    other.text_ = Common(0);
  }
  return *this;
}

TCvPDFSpace& TCvPDFSpace::operator+=(std::string_view text) {
  if (text.empty()) return *this;
  std::string joined;
  joined.reserve(text_->size() + text.size());
  joined += *text_;
  joined += text;
  return Replace(Make(std::move(joined)));
}

void TCvPDFText::Assign(std::string_view text) {
  if (text.size() <= kInlineSize) {
    SetInline(text);
    return;
  }
  if (text.size() > 0x7FFFFFFF) throw std::length_error("PDF object text too long");
  char* p = new char[text.size()];
  std::memcpy(p, text.data(), text.size());
  const auto n = static_cast<uint32_t>(text.size());
  std::memcpy(bytes_, &p, sizeof p);
  std::memcpy(bytes_ + 8, &n, sizeof n);
  std::memcpy(bytes_ + 12, &n, sizeof n);
}

TCvPDFText& TCvPDFText::assign(std::string_view text) {
  if (!IsInline() && text.size() > kInlineSize && text.size() <= HeapCapacity()) {
    // Reuses the block (text may lie inside it).
    std::memmove(HeapPointer(), text.data(), text.size());
    const auto n = static_cast<uint32_t>(text.size());
    std::memcpy(bytes_ + 8, &n, sizeof n);
    return *this;
  }
  TCvPDFText copy(text);
  return *this = std::move(copy);
}

TCvPDFText& TCvPDFText::operator+=(std::string_view text) {
  const size_t size = this->size();
  const size_t total = size + text.size();
  if (total <= kInlineSize || (!IsInline() && total <= HeapCapacity())) {
    if (IsInline()) {
      std::memcpy(bytes_ + size, text.data(), text.size());
      bytes_[15] = static_cast<unsigned char>(0x80 | total);
    } else {
      std::memcpy(HeapPointer() + size, text.data(), text.size());
      const auto n = static_cast<uint32_t>(total);
      std::memcpy(bytes_ + 8, &n, sizeof n);
    }
    return *this;
  }
  if (total > 0x7FFFFFFF) throw std::length_error("PDF object text too long");
  // Doubles, so that text built piece by piece costs linear time.
  const size_t capacity = std::min<size_t>(std::max(total, 2 * size), 0x7FFFFFFF);
  char* p = new char[capacity];
  std::memcpy(p, data(), size);
  std::memcpy(p + size, text.data(), text.size());
  Release();
  const auto n = static_cast<uint32_t>(total);
  const auto c = static_cast<uint32_t>(capacity);
  std::memcpy(bytes_, &p, sizeof p);
  std::memcpy(bytes_ + 8, &n, sizeof n);
  std::memcpy(bytes_ + 12, &c, sizeof c);
  return *this;
}

std::string operator+(const std::string& a, const TCvPDFText& b) { return a + b.str(); }
std::string operator+(const TCvPDFText& a, const std::string& b) { return a.str() + b; }
std::string operator+(const char* a, const TCvPDFText& b) { return a + b.str(); }
std::string operator+(const TCvPDFText& a, const char* b) { return a.str() + b; }
std::ostream& operator<<(std::ostream& out, const TCvPDFText& text) { return out << text.view(); }

std::string operator+(const std::string& a, const TCvPDFSpace& b) { return a + b.str(); }
std::string operator+(std::string&& a, const TCvPDFSpace& b) { return std::move(a) + b.str(); }
std::string operator+(const TCvPDFSpace& a, const std::string& b) { return a.str() + b; }
std::string operator+(const char* a, const TCvPDFSpace& b) { return a + b.str(); }
std::string operator+(const TCvPDFSpace& a, const char* b) { return a.str() + b; }
std::string operator+(const TCvPDFSpace& a, const TCvPDFSpace& b) { return a.str() + b.str(); }
std::ostream& operator<<(std::ostream& out, const TCvPDFSpace& space) { return out << space.str(); }

// --- TCvPDFKey ---------------------------------------------------------------------

namespace {

// Keys longer than what a key holds in place that most documents use.
constexpr std::string_view kCommonKeys[] = {
    "AcroForm",         "Alternate",       "AvgWidth",        "BaseEncoding",  "BaseFont",
    "BitsPerComponent", "BleedBox",        "ByteRange",       "CIDSystemInfo", "CIDToGIDMap",
    "CapHeight",        "CharProcs",       "ColorSpace",      "Contents",      "ContactInfo",
    "CreationDate",     "DecodeParms",     "DescendantFonts", "Differences",   "DigestMethod",
    "EmbeddedFiles",    "EncryptMetadata", "Encoding",        "ExtGState",     "FirstChar",
    "FontBBox",         "FontDescriptor",  "FontFamily",      "FontFile",      "FontFile2",
    "FontFile3",        "FontMatrix",      "FontName",        "FontStretch",   "FontWeight",
    "FormType",         "ImageMask",       "Interpolate",     "ItalicAngle",   "JavaScript",
    "Keywords",         "LastChar",        "Linearized",      "Location",      "MarkInfo",
    "MaxWidth",         "MediaBox",        "Metadata",        "MissingWidth",  "NeedAppearances",
    "OpenAction",       "Ordering",        "Outlines",        "OutputIntents", "PageLabels",
    "PageLayout",       "PageMode",        "ParentTree",      "Predictor",     "Producer",
    "Properties",       "Reference",       "Registry",        "Resources",     "SMaskInData",
    "StructParent",     "StructParents",   "StructTreeRoot",  "SubFilter",     "Supplement",
    "ToUnicode",        "TransformMethod", "TransformParams", "UserUnit",      "ViewerPreferences",
};

const std::string* CommonKeys() {
  static const auto* table = [] {
    auto* keys = new std::string[std::size(kCommonKeys)];
    for (size_t i = 0; i < std::size(kCommonKeys); ++i) keys[i] = kCommonKeys[i];
    return keys;
  }();
  return table;
}

const std::unordered_map<std::string_view, const std::string*>& CommonKeyIndex() {
  static const auto* index = [] {
    auto* map = new std::unordered_map<std::string_view, const std::string*>();
    const std::string* keys = CommonKeys();
    for (size_t i = 0; i < std::size(kCommonKeys); ++i) map->emplace(keys[i], keys + i);
    return map;
  }();
  return *index;
}

}  // namespace

const std::string* TCvPDFKey::FindCommon(std::string_view text) noexcept {
  const auto& index = CommonKeyIndex();
  auto it = index.find(text);
  return it == index.end() ? nullptr : it->second;
}

bool TCvPDFKey::IsCommon(const std::string* text) noexcept {
  const std::string* table = CommonKeys();
  return std::less_equal<const std::string*>()(table, text) &&
         std::less<const std::string*>()(text, table + std::size(kCommonKeys));
}

void TCvPDFKey::Assign(std::string_view text) {
  if (text.size() <= kInlineSize) {
    SetInline(text);
  } else if (const std::string* common = FindCommon(text)) {
    SetPointer(common);
  } else {
    SetPointer(new std::string(text));
  }
}

// --- TOvPDFObject ------------------------------------------------------------------

TOvPDFObject::TOvPDFObject(TOvPDFFile* owner) : owner_(owner) {
  TrailingSpace = OwnerLineEnd();
  LeadingSpace = OwnerLineEnd();
}

const std::string& TOvPDFObject::OwnerLineEnd() const {
  return owner_ ? owner_->LineEnd() : kEmpty;
}

void TOvPDFObject::SetData(std::string_view bytes) { Data.assign(bytes); }

TOvPDFObject* TOvPDFObject::Clone() { FailedToClone(); }

void TOvPDFObject::AssignBase(const TOvPDFObject& source) {
  Data.clear();
  TrailingSpace = source.TrailingSpace;
  LeadingSpace = source.LeadingSpace;
  Invalid = source.Invalid;
  SourceOffset = 0;
  SetWritePosition(0, 0);
  parent_ = nullptr;
}

void TOvPDFObject::WriteTo(TOvStream& stream, bool rebuildFirst) {
  if (rebuildFirst || textPending_) Rebuild();
  SetWritePosition(stream.Position(), static_cast<int64_t>(Data.size()));
  stream.Write(Data);
  if (!TrailingSpace.empty()) stream.Write(TrailingSpace);
}

int64_t TOvPDFObject::WriteOffset() const {
  if (!writeRecorded_) return 0;
  return owner_->write_positions_.at(this).first;
}

int64_t TOvPDFObject::WriteLength() const {
  if (!writeRecorded_) return 0;
  return owner_->write_positions_.at(this).second;
}

void TOvPDFObject::SetWritePosition(int64_t offset, int64_t length) {
  if (!keepsWritePosition_ || !owner_) return;
  if (!writeRecorded_ && offset == 0 && length == 0) return;
  owner_->write_positions_[this] = {offset, length};
  writeRecorded_ = true;
}

void TOvPDFObject::ShiftWriteOffset(int64_t delta) {
  if (writeRecorded_) owner_->write_positions_.at(this).first += delta;
}

int64_t AbsoluteWriteOffset(const TOvPDFObject* obj) {
  int64_t sum = 0;
  for (int depth = 0; obj && depth <= 4 * PDF_MAX_NESTING; ++depth) {
    // A parsed object has no record of its place inside its container.
    if (!obj->KeepsWritePosition()) throw EOvPDFTypeError("Internal error");
    sum += obj->WriteOffset();
    if (dynamic_cast<const TOvPDFIndirect*>(obj)) break;
    obj = obj->Parent();
  }
  return sum;
}

// --- scalars -------------------------------------------------------------------

TOvPDFNull::TOvPDFNull(TOvPDFFile* owner) : TOvPDFObject(owner) { Data = "null"; }

TOvPDFObject* TOvPDFNull::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFNull>();
  clone->AssignBase(*this);
  clone->Data = "null";  // never an empty text, even for the empty value of "obj endobj"
  return clone;
}

TOvPDFObject* TOvPDFBoolean::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFBoolean>();
  clone->AssignBase(*this);
  clone->SetBool(GetBool());
  return clone;
}

void TOvPDFReal::SetData(std::string_view bytes) {
  Data.assign(bytes);
  double value = 0;
  Invalid = !ParseDouble(Data, value);
}

double TOvPDFReal::GetValue() {
  double value = 0;
  if (!ParseDouble(Data, value)) {
    Invalid = true;
    return 0;
  }
  return value;
}

std::string TOvPDFReal::FormatReal(double value) {
  if (!std::isfinite(value) || value == 0) return "0";
  char buf[64];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view text(buf, static_cast<size_t>(result.ptr - buf));
  const bool negative = text[0] == '-';
  const size_t mantissaStart = negative ? 1 : 0;
  const size_t ePos = text.find('e');
  std::string digits;
  for (size_t i = mantissaStart; i < ePos; ++i) {
    if (text[i] != '.') digits += text[i];
  }
  int exponent = 0;
  std::from_chars(text.data() + ePos + (text[ePos + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string intPart;
  std::string fraction;
  if (exponent >= 0) {
    const auto intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      intPart = digits + std::string(intDigits - digits.size(), '0');
    } else {
      intPart = digits.substr(0, intDigits);
      fraction = digits.substr(intDigits);
    }
  } else {
    intPart = "0";
    fraction = std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  std::string out = negative ? "-" : "";
  out += intPart;
  if (!fraction.empty()) out += "." + fraction;
  return out;
}

void TOvPDFReal::SetValue(double value) {
  Data = FormatReal(value);
  Invalid = false;
  if (Parent()) Parent()->Rebuild();
}

void TOvPDFReal::SetInt(int64_t value) {
  Data = std::to_string(value);
  Invalid = false;
  if (Parent()) Parent()->Rebuild();
}

bool TOvPDFReal::IsInteger() const {
  int32_t value = 0;
  return TryStrToInt32(Data, value);
}

int64_t TOvPDFReal::AsInt64() {
  int64_t exact = 0;
  if (TryStrToInt64(Data, exact)) return exact;
  const double rounded = std::floor(GetValue() + 0.5);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) {
    throw EOvPDFParseError("Bad object");
  }
  return static_cast<int64_t>(rounded);
}

int32_t TOvPDFReal::AsInt() {
  const int64_t value = AsInt64();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    throw EOvPDFParseError("Bad object");
  }
  return static_cast<int32_t>(value);
}

TOvPDFObject* TOvPDFReal::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFReal>();
  clone->AssignBase(*this);
  if (IsInteger()) {
    clone->Data = std::to_string(AsInt());
  } else {
    clone->Data = FormatReal(GetValue());
  }
  return clone;
}

// --- strings ---------------------------------------------------------------------

void TOvPDFString::SetData(std::string_view bytes) {
  Data.assign(bytes);
  GetText();
}

std::string TOvPDFString::GetText() {
  Invalid = true;
  std::string out;
  const std::string_view text = Data;
  if (text.size() < 2) return {};
  if (text[0] == '(') {
    int depth = 0;
    size_t i = 1;
    bool closed = false;
    while (i < text.size()) {
      const char c = text[i++];
      if (c == '\\') {
        if (i >= text.size()) return {};  // backslash as the last byte
        const char e = text[i++];
        switch (e) {
          case '\n':
            break;
          case '\r':
            if (i < text.size() && text[i] == '\n') ++i;
            break;
          case 'b':
            out += '\x08';
            break;
          case 'f':
            out += '\x0C';
            break;
          case 'n':
            out += '\x0A';
            break;
          case 'r':
            out += '\x0D';
            break;
          case 't':
            out += '\x09';
            break;
          default:
            if (e >= '0' && e <= '7') {
              int value = e - '0';
              for (int k = 0; k < 2 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++k) {
                value = value * 8 + (text[i++] - '0');
              }
              out += static_cast<char>(value & 0xFF);
            } else {
              out += e;
            }
        }
        continue;
      }
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (depth == 0) {
          closed = true;
          break;
        }
        --depth;
      }
      out += c;
    }
    if (!closed) return {};
    Invalid = false;
    return out;
  }
  if (text[0] == '<' && text[1] != '<') {
    size_t i = 1;
    int pending = -1;
    while (i < text.size() && IsHexDigit(static_cast<uint8_t>(text[i]))) {
      const int v = HexValue(static_cast<uint8_t>(text[i++]));
      if (pending < 0) {
        pending = v;
      } else {
        out += static_cast<char>(pending * 16 + v);
        pending = -1;
      }
    }
    if (i >= text.size() || text[i] != '>') return {};
    if (pending >= 0) out += static_cast<char>(pending * 16);
    Kind = 1;
    Invalid = false;
    return out;
  }
  return {};
}

void TOvPDFString::SetText(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  if (Kind == 1) {
    text.reserve(bytes.size() * 2 + 2);
    text += '<';
    for (const char c : bytes) {
      const auto b = static_cast<uint8_t>(c);
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    text += '>';
  } else {
    text.reserve(bytes.size() + 2);
    text += '(';
    for (const char c : bytes) {
      const auto b = static_cast<uint8_t>(c);
      switch (b) {
        case 0x08:
          text += "\\b";
          break;
        case 0x09:
          text += "\\t";
          break;
        case 0x0A:
          text += "\\n";
          break;
        case 0x0C:
          text += "\\f";
          break;
        case 0x0D:
          text += "\\r";
          break;
        case '(':
          text += "\\(";
          break;
        case ')':
          text += "\\)";
          break;
        case '\\':
          text += "\\\\";
          break;
        default:
          if (Kind == 2 && (b < 0x20 || b > 0x7E)) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\%03o", b);
            text += esc;
          } else {
            text += c;
          }
      }
    }
    text += ')';
  }
  Data = text;
  Invalid = false;
}

TOvPDFObject* TOvPDFString::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFString>();
  clone->AssignBase(*this);
  clone->Kind = Kind;
  clone->PlainValue = PlainValue;
  clone->SetText(GetText());
  return clone;
}

// --- comments and names -------------------------------------------------------------

TOvPDFComment::TOvPDFComment(TOvPDFFile* owner) : TOvPDFObject(owner) { TrailingSpace.clear(); }

void TOvPDFComment::SetData(std::string_view bytes) {
  Data.assign(bytes);
  Invalid = Data.empty() || Data[0] != '%';
}

std::string TOvPDFComment::GetComment() const {
  return Data.empty() ? std::string() : Data.substr(1);
}

void TOvPDFComment::SetComment(std::string_view text) {
  Data = "%";
  Data += text;
  Data += OwnerLineEnd();
  Invalid = false;
}

TOvPDFObject* TOvPDFComment::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFComment>();
  clone->AssignBase(*this);
  clone->Data = "%" + GetComment();  // the kept line end comes with the text
  return clone;
}

std::string TOvPDFName::EncodeName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    const auto b = static_cast<uint8_t>(c);
    if (IsPdfWhitespace(b) || IsPdfDelimiter(b) || b == '#') {
      out += '#';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool TOvPDFName::DecodeName(std::string_view text, std::string& name) {
  name.clear();
  if (text.size() < 2 || text[0] != '/') return false;
  for (size_t i = 1; i < text.size(); ++i) {
    const auto b = static_cast<uint8_t>(text[i]);
    if (IsPdfWhitespace(b) || IsPdfDelimiter(b)) {
      name.clear();
      return false;
    }
    if (b == '#') {
      if (i + 2 >= text.size() || !IsHexDigit(static_cast<uint8_t>(text[i + 1])) ||
          !IsHexDigit(static_cast<uint8_t>(text[i + 2]))) {
        name.clear();
        return false;
      }
      name += static_cast<char>(HexValue(static_cast<uint8_t>(text[i + 1])) * 16 +
                                HexValue(static_cast<uint8_t>(text[i + 2])));
      i += 2;
      continue;
    }
    name += static_cast<char>(b);
  }
  return true;
}

void TOvPDFName::SetData(std::string_view bytes) {
  Data.assign(bytes);
  std::string name;
  Invalid = !DecodeName(Data, name);
}

std::string TOvPDFName::GetName() {
  std::string name;
  Invalid = !DecodeName(Data, name);
  return name;
}

void TOvPDFName::SetName(std::string_view name) {
  Data = "/" + EncodeName(name);
  Invalid = false;
}

TOvPDFObject* TOvPDFName::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFName>();
  clone->AssignBase(*this);
  clone->SetName(GetName());
  return clone;
}

// --- references ----------------------------------------------------------------------

void TOvPDFRef::Rebuild() {
  Data = std::to_string(Number) + " " + std::to_string(Generation) + " R";
}

void TOvPDFRef::SetTarget(int32_t number, int32_t generation) {
  Number = number;
  Generation = generation;
  Rebuild();
}

TOvPDFRef* TOvPDFRef::FindCanonical() const {
  return Owner() ? Owner()->FindCanonical(Number, Generation) : nullptr;
}

TOvPDFIndirect* TOvPDFRef::Resolve() {
  if (Resolved) return Target;
  TOvPDFIndirect* target = nullptr;
  TOvPDFRef* canonical = FindCanonical();
  if (canonical && canonical->Resolved) target = canonical->Target;
  // A peek frees what it parsed: it loads nothing for good.
  TOvPDFFile* file = Owner();
  if (!target && file && file->Source() && !file->peeking_) {
    TOvPDFIndirect* loaded = file->LoadObject(*file->Source(), Number, Generation);
    if (loaded) {
      Link(loaded->Value, loaded);
      if (!canonical) throw EOvPDFTypeError("Internal error");
      Link(loaded, canonical);
      canonical->Target = loaded;
      canonical->Resolved = true;
      target = loaded;
    }
  }
  if (!target && canonical && canonical->Target) {
    for (const auto& entry : file->ModifiedEntries()) {
      if (entry.Number == Number && entry.Generation == Generation) {
        canonical->Resolved = true;
        target = canonical->Target;
        break;
      }
    }
  }
  if (target) {
    Target = target;
    Resolved = true;
  }
  return target;
}

TOvPDFObject* TOvPDFRef::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFRef>();
  clone->AssignBase(*this);
  clone->Number = Number;
  clone->Generation = Generation;
  clone->Target = Target;
  clone->Resolved = Resolved;
  return clone;
}

// --- containers ---------------------------------------------------------------------

TOvPDFCpxObj::TOvPDFCpxObj(TOvPDFFile* owner) : TOvPDFObject(owner) { OpenSpace = OwnerLineEnd(); }

TOvPDFArray::TOvPDFArray(TOvPDFFile* owner) : TOvPDFCpxObj(owner) {
  TrailingSpace.clear();
  LeadingSpace.clear();
}

void TOvPDFArray::Rebuild() {
  if (modified_) RebuildItems(true);
}

void TOvPDFArray::RebuildItems(bool rebuildChildren) {
  // Text not read yet is the text the entries would give.
  if (unread_) return;
  const bool isDict = dynamic_cast<TOvPDFDictionary*>(this) != nullptr;
  TOvMemoryStream body;
  for (auto& item : items_) {
    if (isDict) {
      body.Write("/" + TOvPDFName::EncodeName(item.Key));
      const bool keepSpace =
          item.HasKeySpace && (!item.KeySpace.empty() || StartsWithDelimiter(item.Object));
      body.Write(keepSpace ? std::string_view(item.KeySpace) : std::string_view(" "));
    }
    if (item.Object) item.Object->WriteTo(body, rebuildChildren);
    if (!isDict && !LeadingSpace.empty()) body.Write(LeadingSpace);
  }
  const std::string prefix = (isDict ? "<<" : "[") + OpenSpace;
  textPending_ = false;
  Data = prefix;
  Data += body.Data();
  Data += isDict ? ">>" : "]";
  const auto shift = static_cast<int64_t>(prefix.size());
  for (auto& item : items_) {
    if (item.Object) item.Object->ShiftWriteOffset(shift);
  }
}

TOvPDFObject* TOvPDFArray::GetItem(size_t index) const {
  const std::vector<TItem>& items = Items();
  return index < items.size() ? items[index].Object : nullptr;
}

void TOvPDFArray::SetItem(TOvPDFObject* obj, size_t index) {
  std::vector<TItem>& items = MutableItems();
  if (index >= items.size()) return;
  TOvPDFObject*& slot = items[index].Object;
  if (slot != obj) Link(slot, nullptr);
  slot = obj;
  Link(obj, this);
  Rebuild();
}

void TOvPDFArray::SetModified(bool flag) {
  // Freezing the text of a parsed container freezes the text it was read as.
  if (!flag && textPending_) RebuildItems(true);
  modified_ = flag;
  if (flag) Rebuild();
}

void TOvPDFArray::AddItem(TOvPDFObject* obj) {
  MutableItems().push_back(TItem{{}, obj, {}, false});
  Link(obj, this);
  Rebuild();
}

void TOvPDFArray::AddItems(const std::vector<TOvPDFObject*>& objs) {
  std::vector<TItem>& items = MutableItems();
  items.reserve(items.size() + objs.size());
  for (TOvPDFObject* obj : objs) {
    items.push_back(TItem{{}, obj, {}, false});
    Link(obj, this);
  }
  Rebuild();
}

void TOvPDFArray::InsertItem(TOvPDFObject* obj, size_t index) {
  std::vector<TItem>& items = MutableItems();
  index = std::min(index, items.size());
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), TItem{{}, obj, {}, false});
  Link(obj, this);
  Rebuild();
}

void TOvPDFArray::RemoveItem(TOvPDFObject* obj) {
  std::vector<TItem>& items = MutableItems();
  for (auto it = items.begin(); it != items.end(); ++it) {
    if (it->Object == obj) {
      Link(obj, nullptr);
      items.erase(it);
      break;
    }
  }
  Rebuild();
}

void TOvPDFArray::RemoveItemAt(size_t index) {
  std::vector<TItem>& items = MutableItems();
  if (index >= items.size()) return;
  Link(items[index].Object, nullptr);
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
  Rebuild();
}

void TOvPDFArray::ClearItems() {
  std::vector<TItem>& items = MutableItems();
  for (auto& item : items) Link(item.Object, nullptr);
  items.clear();
  Rebuild();
}

void TOvPDFArray::CloneInto(TOvPDFArray* clone) {
  clone->AssignBase(*this);
  for (const auto& item : Items()) {
    TOvPDFObject* copy = item.Object ? item.Object->Clone() : nullptr;
    clone->items_.push_back(TItem{item.Key, copy, {}, false});
    Link(copy, clone);
  }
  clone->SetModified(true);
}

TOvPDFObject* TOvPDFArray::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFArray>();
  CloneInto(clone);
  return clone;
}

TOvPDFObject* TOvPDFDictionary::Clone() {
  auto* clone = Owner()->NewObject<TOvPDFDictionary>();
  CloneInto(clone);
  return clone;
}

void TOvPDFDictionary::AddEntry(std::string_view key, TOvPDFObject* obj) {
  MutableItems().push_back(TItem{std::string(key), obj, {}, false});
  Link(obj, this);
  Rebuild();
}

int64_t TOvPDFDictionary::IndexOfKey(std::string_view key) const {
  const std::vector<TItem>& items = Items();
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].Key == key) return static_cast<int64_t>(i);
  }
  return -1;
}

// --- streams ------------------------------------------------------------------------

TOvPDFStream::TOvPDFStream(TOvPDFFile* owner) : TOvPDFCpxObj(owner) {
  CloseSpace = OwnerLineEnd();
  Tail = CloseSpace + "endstream";
}

TOvPDFStream* TOvPDFStream::NewStream(TOvPDFFile* file) {
  auto* stream = file->NewObject<TOvPDFStream>();
  stream->Dictionary = file->NewDictionary();
  Link(stream->Dictionary, stream);
  stream->Dictionary->TrailingSpace = stream->OpenSpace;  // ">>" and "stream" on their own lines
  stream->InMemory = true;
  stream->Data = "stream" + stream->OpenSpace + stream->CloseSpace + "endstream";
  return stream;
}

void TOvPDFStream::SetData(std::string_view bytes) {
  Data.assign(bytes);
  InMemory = true;
  GetRawData();
}

std::string TOvPDFStream::ReadSourceData() {
  Invalid = true;
  if (!Source || DataLength < 0 || DataOffset < 0) return {};
  const int64_t available = Source->Size() - DataOffset;
  if (available <= 0 && DataLength > 0) return {};
  const int64_t want = std::min(DataLength, std::max<int64_t>(available, 0));
  std::string out(static_cast<size_t>(want), '\0');
  size_t got = 0;
  {
    const TCvPositionGuard restore(*Source);
    Source->SetPosition(DataOffset);
    got = Source->Read(out.data(), out.size());
  }
  out.resize(got);
  if (static_cast<int64_t>(got) == DataLength) Invalid = false;
  return out;
}

std::string TOvPDFStream::RunStreamDataHook() {
  // SetContent writes into TransformBuffer while the hook runs.
  const TCvScopedValue<bool> inTransform(InTransform, true);
  const TCvScopedValue<std::string> buffer(TransformBuffer, std::string());
  Owner()->OnStreamData()(*this);
  std::string result = std::move(TransformBuffer);
  return result;
}

std::string TOvPDFStream::GetRawData() {
  Invalid = true;
  if (InMemory) {
    const std::string_view text = Data;
    if (text.size() <= 14 || text.substr(0, 6) != "stream") return {};
    size_t start = 6;
    while (start < text.size() && text[start] == ' ') ++start;
    if (text.size() - start >= 9) {
      if (text.compare(start, 2, "\r\n") == 0) {
        start += 2;
      } else if (text[start] == '\r' || text[start] == '\n') {
        start += 1;
      }
    }
    size_t end = text.size();
    if (text.size() - start >= 9 && text.substr(text.size() - 9) == "endstream") {
      end = text.size() - 9;
      if (end >= start + 2 && text.compare(end - 2, 2, "\r\n") == 0) {
        end -= 2;
      } else if (end >= start + 1 && (text[end - 1] == '\r' || text[end - 1] == '\n')) {
        end -= 1;
      }
    }
    int64_t length = end > start ? static_cast<int64_t>(end - start) : 0;
    if (Dictionary) {
      auto* declared = dynamic_cast<TOvPDFReal*>(GetResolvedEntry(Dictionary, "Length"));
      int64_t l = 0;
      if (declared && TryStrToInt64(declared->Data, l) && l > length &&
          l < static_cast<int64_t>(text.size() - start)) {
        length = l;
      }
    }
    Invalid = false;
    if (length <= 0) return {};
    return std::string(text.substr(start, static_cast<size_t>(length)));
  }
  if (Source) {
    if (!Owner() || !Owner()->OnStreamData() || InTransform) return ReadSourceData();
    std::string result = RunStreamDataHook();
    Invalid = false;
    return result;
  }
  return {};
}

void TOvPDFStream::UpdateLength(int64_t length) {
  TOvPDFObject* entry = GetEntry(Dictionary, "Length");
  TOvPDFReal* number = nullptr;
  if (auto* ref = dynamic_cast<TOvPDFRef*>(entry)) {
    if (TOvPDFIndirect* target = ref->Resolve()) {
      target->MarkModified();
      number = dynamic_cast<TOvPDFReal*>(target->Value);
      if (!number) throw EOvPDFError("Invalid stream dictionary");
    }
  } else if (entry) {
    number = dynamic_cast<TOvPDFReal*>(entry);
    if (!number) throw EOvPDFError("Invalid stream dictionary");
  }
  if (!number) {
    number = Owner()->NewInt(length);
    SetEntry(Dictionary, "Length", number);
  }
  number->SetInt(length);
  if (number->Parent()) number->Parent()->Rebuild();
  Dictionary->SetModified(true);
}

void TOvPDFStream::SetContent(std::string_view bytes) {
  if (InTransform) {
    TransformBuffer.assign(bytes);
    return;
  }
  InMemory = true;
  Data = "stream" + OpenSpace;
  Data += bytes;
  Data += CloseSpace + "endstream";
  Tail = CloseSpace + "endstream";
  Invalid = false;
  UpdateLength(static_cast<int64_t>(bytes.size()));
}

std::string TOvPDFStream::GetStreamText() {
  if (InMemory) return Data.str();
  std::string text = Data.str();
  if (Owner() && Owner()->OnStreamData()) {
    text += RunStreamDataHook();
  } else {
    if (!Source) throw EOvPDFParseError("Invalid stream data");
    const std::string data = ReadSourceData();
    if (Invalid) throw EOvPDFParseError("Invalid stream data");
    text += data;
  }
  return text + Tail;
}

// Writing is strict: the /Length written is the length of the data written,
// also when the source's was wrong and the data was found by its
// "endstream". A wrong indirect length becomes a direct one, since its
// object may already have been written.
void WriteTrueLength(TOvPDFDictionary* dict, int64_t length) {
  TOvPDFObject* entry = GetEntry(dict, "Length");
  int64_t declared = -1;
  TOvPDFReal* direct = dynamic_cast<TOvPDFReal*>(entry);
  const auto* value = direct ? direct : dynamic_cast<TOvPDFReal*>(ResolveValue(entry));
  if (value && TryStrToInt64(value->Data, declared) && declared == length) return;
  if (direct) {
    direct->SetInt(length);
  } else {
    TOvPDFReal* number = dict->Owner()->NewInt(length);
    if (entry) number->LeadingSpace = entry->LeadingSpace;
    SetEntry(dict, "Length", number);
  }
  dict->SetModified(true);
}

void TOvPDFStream::WriteTo(TOvStream& stream, bool rebuildFirst) {
  std::string transformed;
  const bool useHook = !InMemory && Owner() && Owner()->OnStreamData();
  if (useHook) {
    transformed = RunStreamDataHook();
    UpdateLength(static_cast<int64_t>(transformed.size()));
  } else if (!InMemory && Dictionary && Dictionary->Owner() && rebuildFirst) {
    WriteTrueLength(Dictionary, DataLength);
  }
  const int64_t start = stream.Position();
  if (Dictionary) {
    Dictionary->WriteTo(stream, rebuildFirst);
    Dictionary->ShiftWriteOffset(-start);  // relative to the start of this stream's text
  }
  if (InMemory) {
    stream.Write(Data);
    SetWritePosition(start, static_cast<int64_t>(Data.size()));
  } else {
    if (!Source && !useHook) throw EOvPDFParseError("Invalid stream data");
    stream.Write(Data);
    int64_t dataLength = 0;
    if (useHook) {
      stream.Write(transformed);
      dataLength = static_cast<int64_t>(transformed.size());
    } else {
      CopyFromSource(*Source, DataOffset, DataLength, stream);
      dataLength = DataLength;
    }
    stream.Write(Tail);
    SetWritePosition(start, static_cast<int64_t>(Data.size() + Tail.size()) + dataLength);
  }
  if (!TrailingSpace.empty()) stream.Write(TrailingSpace);
}

// --- indirect objects -------------------------------------------------------------

TOvPDFIndirect::TOvPDFIndirect(TOvPDFFile* owner) : TOvPDFCpxObj(owner) {}

std::string TOvPDFIndirect::Header() const {
  return std::to_string(Number) + " " + std::to_string(Generation) + " obj";
}

void TOvPDFIndirect::Rebuild() {
  const std::string prefix = Header() + OpenSpace;
  TOvMemoryStream body;
  if (Value) Value->WriteTo(body, true);
  textPending_ = false;
  Data = prefix;
  Data += body.Data();
  Data += "endobj";
  if (Value) Value->SetWriteOffset(static_cast<int64_t>(prefix.size()));
}

void TOvPDFIndirect::WriteTo(TOvStream& stream, bool rebuildFirst) {
  auto* sourceStream = dynamic_cast<TOvPDFStream*>(Value);
  if (!sourceStream || sourceStream->InMemory) {
    TOvPDFObject::WriteTo(stream, rebuildFirst);
    return;
  }
  const int64_t start = stream.Position();
  stream.Write(Header() + OpenSpace);
  sourceStream->WriteTo(stream, rebuildFirst);
  sourceStream->ShiftWriteOffset(-start);
  stream.Write(std::string_view("endobj"));
  SetWritePosition(start, stream.Position() - start);
  if (!TrailingSpace.empty()) stream.Write(TrailingSpace);
}

namespace {
// Rebuilding an object whose value is a stream held in the source would read
// all its data into memory; such objects get their text when written.
bool HoldsSourceStream(const TOvPDFIndirect* indirect) {
  const auto* stream = dynamic_cast<const TOvPDFStream*>(indirect->Value);
  return stream && !stream->InMemory;
}
}  // namespace

void TOvPDFIndirect::SetObject(TOvPDFObject* obj) {
  Value = obj;
  Link(obj, this);
  if (!HoldsSourceStream(this)) Rebuild();
  MarkModified();
}

void TOvPDFIndirect::SetNumber(int32_t number) {
  Number = number;
  if (!HoldsSourceStream(this)) Rebuild();
}

void TOvPDFIndirect::SetGeneration(int32_t generation) {
  Generation = generation;
  if (!HoldsSourceStream(this)) Rebuild();
}

void TOvPDFIndirect::Renumber(int32_t number, int32_t generation) {
  Number = number;
  Generation = generation;
  // Like a parsed container, a parsed object gets its text when written.
  Data.clear();
  textPending_ = !HoldsSourceStream(this);
}

void TOvPDFIndirect::MarkModified() {
  if (!Owner() || (Number == 0 && Generation == 0)) return;
  Owner()->modified_entries_.push_back(TOvPDFXrefEntry{Number, Generation, 1, false, 0, 0});
}

void TOvPDFIndirect::MarkFree() {
  if (!Owner() || (Number == 0 && Generation == 0)) return;
  Owner()->modified_entries_.push_back(TOvPDFXrefEntry{Number, Generation, 0, false, 0, 0});
}

}  // namespace corvane
