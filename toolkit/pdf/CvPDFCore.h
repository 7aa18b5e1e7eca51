// PDF objects, the parser, cross-reference reading and the file writer.
//
// Every object keeps its serialized text (Data) beside its value together with
// the whitespace that surrounded it in the source, so that an object that was
// parsed and is written back unchanged gives the same bytes, and every object
// remembers where it was last written so that signature code can find and
// patch nested values after an incremental update.
//
// Objects are owned by their TOvPDFFile (a registry freed on Reset or
// destruction); containers only refer to their items.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDFUtils.h"

namespace corvane {

// Limits for hostile input, kept in one place.
inline constexpr int PDF_MAX_NESTING = 256;  // containers and values inside each other
inline constexpr int PDF_MAX_LOAD_DEPTH =
    32;  // loads started while loading (lengths, object streams)
inline constexpr int PDF_MAX_TREE_DEPTH = 256;  // page tree, field tree, /Parent chains
inline constexpr size_t PDF_MAX_INFLATE_SIZE = size_t{256} << 20;   // one decoded stream
inline constexpr int64_t PDF_MAX_INFLATE_TOTAL = int64_t{1} << 30;  // all decoded streams of a file
inline constexpr int32_t PDF_MAX_OBJECT_NUMBER = 0x7FFFFFFF;
inline constexpr size_t PDF_MAX_WARNINGS = 1000;  // recoveries kept per file

class TOvPDFFile;
class TOvPDFIndirect;
class TOvPDFDictionary;
class TOvPDFArray;
class TOvPDFStream;
class TOvPDFRef;

// ---------------------------------------------------------------------------
// Whitespace beside objects

// The whitespace kept beside an object (and the comments folded into it).
// Nearly all of it is a short run such as " ", "\n" or "\r\n": those are
// shared, and only other text gets a block of its own, so an object pays a
// pointer instead of a whole string for each of its spaces. Assigns from and
// reads as a string.
class TCvPDFSpace {
 public:
  TCvPDFSpace() noexcept : text_(Common(0)) {}
  TCvPDFSpace(std::string_view text) : text_(Make(text)) {}
  TCvPDFSpace(const char* text) : text_(Make(std::string_view(text))) {}
  TCvPDFSpace(const std::string& text) : text_(Make(text)) {}
  TCvPDFSpace(std::string&& text) : text_(Make(std::move(text))) {}
  TCvPDFSpace(const TCvPDFSpace& other) : text_(Copy(other.text_)) {}
  TCvPDFSpace(TCvPDFSpace&& other) noexcept : text_(other.text_) { other.text_ = Common(0); }
  ~TCvPDFSpace() { Release(); }

  TCvPDFSpace& operator=(const TCvPDFSpace& other);
  TCvPDFSpace& operator=(TCvPDFSpace&& other) noexcept;
  TCvPDFSpace& operator=(std::string_view text) { return Replace(Make(text)); }
  TCvPDFSpace& operator=(const char* text) { return Replace(Make(std::string_view(text))); }
  TCvPDFSpace& operator=(const std::string& text) { return Replace(Make(text)); }
  TCvPDFSpace& operator=(std::string&& text) { return Replace(Make(std::move(text))); }
  TCvPDFSpace& operator+=(std::string_view text);
  TCvPDFSpace& operator+=(char c) { return *this += std::string_view(&c, 1); }

  operator const std::string&() const noexcept { return *text_; }
  operator std::string_view() const noexcept { return *text_; }
  const std::string& str() const noexcept { return *text_; }

  bool empty() const noexcept { return text_->empty(); }
  size_t size() const noexcept { return text_->size(); }
  size_t length() const noexcept { return text_->size(); }
  const char* data() const noexcept { return text_->data(); }
  const char* c_str() const noexcept { return text_->c_str(); }
  char front() const { return text_->front(); }
  char back() const { return text_->back(); }
  char operator[](size_t i) const { return (*text_)[i]; }
  std::string::const_iterator begin() const noexcept { return text_->begin(); }
  std::string::const_iterator end() const noexcept { return text_->end(); }
  void clear() noexcept { Replace(Common(0)); }
  TCvPDFSpace& assign(std::string_view text) { return *this = text; }
  TCvPDFSpace& assign(size_t count, char c) { return *this = std::string(count, c); }

  friend bool operator==(const TCvPDFSpace& a, const TCvPDFSpace& b) noexcept {
    return *a.text_ == *b.text_;
  }
  friend bool operator==(const TCvPDFSpace& a, std::string_view b) noexcept {
    return std::string_view(*a.text_) == b;
  }
  friend bool operator==(const TCvPDFSpace& a, const std::string& b) noexcept {
    return *a.text_ == b;
  }
  friend bool operator==(const TCvPDFSpace& a, const char* b) noexcept {
    return std::string_view(*a.text_) == b;
  }

 private:
  // The shared text at index i of the table of short whitespace runs.
  static const std::string* Common(size_t i) noexcept;
  // The shared text equal to text, or nil.
  static const std::string* FindCommon(std::string_view text) noexcept;
  static bool IsCommon(const std::string* text) noexcept;
  static const std::string* Make(std::string_view text);
  static const std::string* Make(std::string&& text);
  static const std::string* Copy(const std::string* text);
  TCvPDFSpace& Replace(const std::string* text) noexcept {
    Release();
    text_ = text;
    return *this;
  }
  void Release() noexcept {
    if (!IsCommon(text_)) delete text_;
  }

  const std::string* text_;
};
static_assert(sizeof(TCvPDFSpace) == sizeof(void*));

std::string operator+(const std::string& a, const TCvPDFSpace& b);
std::string operator+(std::string&& a, const TCvPDFSpace& b);
std::string operator+(const TCvPDFSpace& a, const std::string& b);
std::string operator+(const char* a, const TCvPDFSpace& b);
std::string operator+(const TCvPDFSpace& a, const char* b);
std::string operator+(const TCvPDFSpace& a, const TCvPDFSpace& b);
std::ostream& operator<<(std::ostream& out, const TCvPDFSpace& space);

// ---------------------------------------------------------------------------
// Object text

// The text of an object, in sixteen bytes: up to fifteen bytes are held in
// place (numbers, names, references and keywords nearly always are), longer
// text in a block of its own. A large document holds a million of these.
// Reads like a constant std::string; assigns from any text.
class TCvPDFText {
 public:
  TCvPDFText() noexcept { SetInline({}); }
  TCvPDFText(std::string_view text) { Assign(text); }
  TCvPDFText(const char* text) { Assign(std::string_view(text)); }
  TCvPDFText(const std::string& text) { Assign(text); }
  TCvPDFText(const TCvPDFText& other) { Assign(other.view()); }
  TCvPDFText(TCvPDFText&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.SetInline({});
  }
  ~TCvPDFText() { Release(); }

  TCvPDFText& operator=(const TCvPDFText& other) {
    if (this != &other) assign(other.view());
    return *this;
  }
  TCvPDFText& operator=(TCvPDFText&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.SetInline({});
    }
    return *this;
  }
  TCvPDFText& operator=(std::string_view text) { return assign(text); }
  TCvPDFText& operator=(const std::string& text) { return assign(text); }
  TCvPDFText& operator=(const char* text) { return assign(std::string_view(text)); }
  TCvPDFText& assign(std::string_view text);
  TCvPDFText& operator+=(std::string_view text);
  TCvPDFText& operator+=(char c) { return *this += std::string_view(&c, 1); }
  void clear() noexcept {
    Release();
    SetInline({});
  }

  std::string_view view() const noexcept {
    if (IsInline()) return {reinterpret_cast<const char*>(bytes_), size_t{bytes_[15]} & 0x7F};
    return {HeapPointer(), HeapSize()};
  }
  operator std::string_view() const noexcept { return view(); }
  std::string str() const { return std::string(view()); }
  size_t size() const noexcept { return view().size(); }
  size_t length() const noexcept { return size(); }
  bool empty() const noexcept { return size() == 0; }
  const char* data() const noexcept { return view().data(); }
  const char* begin() const noexcept { return data(); }
  const char* end() const noexcept { return data() + size(); }
  char operator[](size_t i) const noexcept { return view()[i]; }
  char front() const noexcept { return view().front(); }
  char back() const noexcept { return view().back(); }
  std::string substr(size_t pos, size_t count = std::string::npos) const {
    return std::string(view().substr(pos, count));
  }
  size_t find(std::string_view text, size_t pos = 0) const noexcept {
    return view().find(text, pos);
  }

  friend bool operator==(const TCvPDFText& a, const TCvPDFText& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const TCvPDFText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const TCvPDFText& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend bool operator==(const TCvPDFText& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }

 private:
  static constexpr size_t kInlineSize = 15;
  // Inline: the text, then its length with the top bit set in the last byte.
  // Otherwise: a pointer, the size and the capacity, which stays below 2^31
  // so that the top bit of the last byte is clear.
  bool IsInline() const noexcept { return (bytes_[15] & 0x80) != 0; }
  char* HeapPointer() const noexcept {
    char* p = nullptr;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  size_t HeapSize() const noexcept {
    uint32_t n = 0;
    std::memcpy(&n, bytes_ + 8, sizeof n);
    return n;
  }
  size_t HeapCapacity() const noexcept {
    uint32_t n = 0;
    std::memcpy(&n, bytes_ + 12, sizeof n);
    return n;
  }
  void SetInline(std::string_view text) noexcept {
    std::memset(bytes_, 0, sizeof bytes_);
    if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
    bytes_[15] = static_cast<unsigned char>(0x80 | text.size());
  }
  void Assign(std::string_view text);
  void Release() noexcept {
    if (!IsInline()) delete[] HeapPointer();
  }

  alignas(8) unsigned char bytes_[16];
};
static_assert(sizeof(TCvPDFText) == 16);

std::string operator+(const std::string& a, const TCvPDFText& b);
std::string operator+(const TCvPDFText& a, const std::string& b);
std::string operator+(const char* a, const TCvPDFText& b);
std::string operator+(const TCvPDFText& a, const char* b);
std::ostream& operator<<(std::ostream& out, const TCvPDFText& text);

// ---------------------------------------------------------------------------
// Dictionary keys

// The key of a dictionary entry, in eight bytes: a key of up to seven bytes
// is held in place, the common longer ones ("MediaBox", "Resources" ...) point
// into a shared table, and only other text gets a block of its own. A large
// document has millions of entries; nearly all keys are of the first two kinds.
class TCvPDFKey {
 public:
  TCvPDFKey() noexcept { SetInline({}); }
  TCvPDFKey(std::string_view text) { Assign(text); }
  TCvPDFKey(const char* text) { Assign(std::string_view(text)); }
  TCvPDFKey(const std::string& text) { Assign(text); }
  TCvPDFKey(const TCvPDFKey& other) { Assign(other.view()); }
  TCvPDFKey(TCvPDFKey&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.SetInline({});
  }
  ~TCvPDFKey() { Release(); }

  TCvPDFKey& operator=(const TCvPDFKey& other) {
    if (this != &other) *this = TCvPDFKey(other);
    return *this;
  }
  TCvPDFKey& operator=(TCvPDFKey&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.SetInline({});
    }
    return *this;
  }

  std::string_view view() const noexcept {
    if (IsInline()) return {reinterpret_cast<const char*>(bytes_) + 1, size_t{bytes_[0]} >> 1};
    return *Pointer();
  }
  operator std::string_view() const noexcept { return view(); }
  std::string str() const { return std::string(view()); }
  bool empty() const noexcept { return view().empty(); }
  size_t size() const noexcept { return view().size(); }

  friend bool operator==(const TCvPDFKey& a, const TCvPDFKey& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const TCvPDFKey& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const TCvPDFKey& a, const std::string& b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend bool operator==(const TCvPDFKey& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }

 private:
  static constexpr size_t kInlineSize = 7;
  // The shared text equal to text, or nil.
  static const std::string* FindCommon(std::string_view text) noexcept;
  static bool IsCommon(const std::string* text) noexcept;

  bool IsInline() const noexcept { return (bytes_[0] & 1) != 0; }
  const std::string* Pointer() const noexcept {
    const std::string* text = nullptr;
    std::memcpy(&text, bytes_, sizeof text);  // NOLINT(bugprone-sizeof-expression): its bytes
    return text;
  }
  void SetInline(std::string_view text) noexcept {
    std::memset(bytes_, 0, sizeof bytes_);
    bytes_[0] = static_cast<unsigned char>(text.size() << 1 | 1);
    if (!text.empty()) std::memcpy(bytes_ + 1, text.data(), text.size());
  }
  void SetPointer(const std::string* text) noexcept {
    std::memcpy(bytes_, &text, sizeof text);  // NOLINT(bugprone-sizeof-expression): its bytes
  }
  void Assign(std::string_view text);
  void Release() noexcept {
    if (!IsInline() && !IsCommon(Pointer())) delete Pointer();
  }

  // Either the text (first byte: length * 2 + 1) or a pointer, whose first
  // byte is even: strings are aligned and the machine is little-endian.
  alignas(8) unsigned char bytes_[8];
};
static_assert(sizeof(TCvPDFKey) == 8);
static_assert(std::endian::native == std::endian::little);

// ---------------------------------------------------------------------------
// Objects

class TOvPDFObject {
 public:
  explicit TOvPDFObject(TOvPDFFile* owner);
  virtual ~TOvPDFObject() = default;
  TOvPDFObject(const TOvPDFObject&) = delete;
  TOvPDFObject& operator=(const TOvPDFObject&) = delete;

  virtual const char* ClassName() const { return "TOvPDFObject"; }

  // Replaces Data and decodes it (subclasses set Invalid).
  virtual void SetData(std::string_view bytes);
  // Regenerates Data from the structured content.
  virtual void Rebuild() {}
  // A deep copy registered in the same file.
  virtual TOvPDFObject* Clone();
  // Writes Data (after Rebuild when asked) and TrailingSpace, and
  // records where it was written.
  virtual void WriteTo(TOvStream& stream, bool rebuildFirst);

  // Where the object was last written: from the start of the output for an
  // indirect object, from the start of its container's text for any other;
  // both 0 before it was written. A parsed object nested in another records
  // nothing (a large document holds a million of those, and nothing patches
  // them in place): see KeepsWritePosition.
  int64_t WriteOffset() const;
  int64_t WriteLength() const;
  void SetWritePosition(int64_t offset, int64_t length);
  void SetWriteOffset(int64_t offset) { SetWritePosition(offset, WriteLength()); }
  void ShiftWriteOffset(int64_t delta);
  bool KeepsWritePosition() const { return keepsWritePosition_; }

  // The file the object belongs to (set when the file makes it) and the
  // container that holds it (set by the container when it takes the object).
  TOvPDFFile* Owner() const { return owner_; }
  TOvPDFObject* Parent() const { return parent_; }

  // The members are ordered so that the flags close the object and a
  // subclass's small members fill the space after them: a large document
  // holds millions of these.
 private:
  TOvPDFFile* owner_ = nullptr;
  TOvPDFObject* parent_ = nullptr;

 public:
  TCvPDFText Data;
  TCvPDFSpace TrailingSpace;
  TCvPDFSpace LeadingSpace;
  int64_t SourceOffset = 0;
  bool Invalid = false;

 protected:
  // A parsed container or indirect object has no text until it is written
  // (or rebuilt): the text is produced then, even when no rebuild was asked.
  bool textPending_ = false;

 private:
  friend class TOvPDFFile;
  friend class TCvPDFParser;
  // Bytes taken from the owner's arena (0 for an object made elsewhere).
  uint16_t allocated_ = 0;
  // Whether the object records where it is written (all but parsed objects
  // nested in another), and whether the owner holds such a record now.
  bool keepsWritePosition_ = true;
  bool writeRecorded_ = false;
  // Made while the owner peeked: freed when that look ends.
  bool scratch_ = false;

 protected:
  // The common part of Clone: whitespace and Invalid; Data empty.
  void AssignBase(const TOvPDFObject& source);
  // How a container takes an item (parent: the container) or lets it go
  // (parent: nil).
  static void Link(TOvPDFObject* child, TOvPDFObject* parent) {
    if (child) child->parent_ = parent;
  }
  // New objects take the file's line-end text as their whitespace.
  const std::string& OwnerLineEnd() const;
};

class TOvPDFNull final : public TOvPDFObject {
 public:
  explicit TOvPDFNull(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFNull"; }
  TOvPDFObject* Clone() override;
};

class TOvPDFBoolean final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TOvPDFBoolean"; }
  TOvPDFObject* Clone() override;
  bool GetBool() const { return Data == "true"; }
  void SetBool(bool value) { Data = value ? "true" : "false"; }
};

// Every number, integer or real.
class TOvPDFReal final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TOvPDFReal"; }
  void SetData(std::string_view bytes) override;
  TOvPDFObject* Clone() override;

  // 0 (and Invalid) when Data is not a number.
  double GetValue();
  // Fixed notation, at most 15 significant digits, "." whatever the locale;
  // rebuilds the parent.
  void SetValue(double value);
  void SetInt(int64_t value);
  // Data is a decimal integer that fits 32 bits.
  bool IsInteger() const;
  // Rounded to the nearest integer, halves toward +infinity. A value outside
  // the 32-bit (AsInt) or 64-bit (AsInt64) range raises EOvPDFParseError "Bad object".
  int32_t AsInt();
  int64_t AsInt64();

  // The formatting used by SetValue.
  static std::string FormatReal(double value);
};

class TOvPDFString final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TOvPDFString"; }
  void SetData(std::string_view bytes) override;
  TOvPDFObject* Clone() override;

  // Decoded bytes; empty with Invalid set when Data is not a well-formed string.
  std::string GetText();
  // Encodes the bytes in the string's Kind.
  void SetText(std::string_view bytes);

  // 0 literal, 1 hexadecimal, 2 literal with octal escapes for non-printable bytes.
  uint8_t Kind = 0;
  std::string PlainValue;
};

class TOvPDFComment final : public TOvPDFObject {
 public:
  explicit TOvPDFComment(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFComment"; }
  void SetData(std::string_view bytes) override;
  TOvPDFObject* Clone() override;
  std::string GetComment() const;
  void SetComment(std::string_view text);
};

class TOvPDFName final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TOvPDFName"; }
  void SetData(std::string_view bytes) override;
  TOvPDFObject* Clone() override;
  std::string GetName();
  void SetName(std::string_view name);

  static std::string EncodeName(std::string_view name);
  // False for malformed text (the value is then empty).
  static bool DecodeName(std::string_view text, std::string& name);
};

class TOvPDFRef final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TOvPDFRef"; }
  void Rebuild() override;
  TOvPDFObject* Clone() override;

  // The indirect object this reference names, loading it on first use; nil
  // when the file does not know it.
  TOvPDFIndirect* Resolve();
  // The file's canonical reference with the same number and generation.
  TOvPDFRef* FindCanonical() const;
  void SetTarget(int32_t number, int32_t generation);

  bool Resolved = false;
  int32_t Number = 0;
  int32_t Generation = 0;
  TOvPDFIndirect* Target = nullptr;
};

// Parser markers for "]" and ">>".
class TPDFEndA final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TPDFEndA"; }
};
class TPDFEndD final : public TOvPDFObject {
 public:
  using TOvPDFObject::TOvPDFObject;
  const char* ClassName() const override { return "TPDFEndD"; }
};

class TOvPDFCpxObj : public TOvPDFObject {
 public:
  explicit TOvPDFCpxObj(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFCpxObj"; }
  // Whitespace written right after "[", "<<", "obj" or "stream".
  TCvPDFSpace OpenSpace;
};

class TOvPDFArray : public TOvPDFCpxObj {
 public:
  struct TItem {
    TCvPDFKey Key;  // empty for arrays
    TOvPDFObject* Object = nullptr;
    // What followed the key in the source (whitespace, and comments kept as
    // they were); new entries are written with one space.
    TCvPDFSpace KeySpace;
    bool HasKeySpace = false;
  };

  explicit TOvPDFArray(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFArray"; }
  void Rebuild() override;
  TOvPDFObject* Clone() override;

  virtual TOvPDFObject* GetItem(size_t index) const;
  virtual void SetItem(TOvPDFObject* obj, size_t index);
  virtual void SetModified(bool flag);
  virtual void AddItem(TOvPDFObject* obj);
  // Appends all and rebuilds once (AddItem rebuilds after each).
  void AddItems(const std::vector<TOvPDFObject*>& objs);
  virtual void InsertItem(TOvPDFObject* obj, size_t index);
  virtual void RemoveItem(TOvPDFObject* obj);
  void RemoveItemAt(size_t index);
  virtual void ClearItems();

  size_t ItemCount() const { return Items().size(); }
  std::string_view KeyAt(size_t index) const { return Items().at(index).Key; }
  bool Modified() const { return modified_; }

  // The entries; they change only through the operations above, which link
  // each item to its container. A container parsed inside another is kept as
  // its text until its entries are first asked for, and read then (a parse
  // error raises here): most of what a large document holds is never looked at.
  const std::vector<TItem>& Items() const {
    if (unread_) const_cast<TOvPDFArray*>(this)->ReadItems();
    return items_;
  }
  // Whether the container is still only text.
  bool Unread() const { return unread_; }

 protected:
  std::vector<TItem>& MutableItems() {
    if (unread_) ReadItems();
    return items_;
  }
  // Regenerates Data; nested items are rebuilt first only when asked.
  void RebuildItems(bool rebuildChildren);
  // The common part of Clone: whitespace and a deep copy of the entries.
  void CloneInto(TOvPDFArray* clone);
  friend class TCvPDFParser;

 private:
  // Parses Data into the entries (CvPDFCore_Parser.cpp).
  void ReadItems();

  std::vector<TItem> items_;
  // New containers are written from their items; SetModified(false) freezes
  // Data for a caller that sets it by hand.
  bool modified_ = true;
  // Data holds the text and the entries are not read yet.
  bool unread_ = false;
};

class TOvPDFDictionary final : public TOvPDFArray {
 public:
  using TOvPDFArray::TOvPDFArray;
  const char* ClassName() const override { return "TOvPDFDictionary"; }
  TOvPDFObject* Clone() override;
  // Appends (key, obj) without looking for an existing key.
  virtual void AddEntry(std::string_view key, TOvPDFObject* obj);
  // Index of the first entry with the key, or -1.
  int64_t IndexOfKey(std::string_view key) const;
};

class TOvPDFIndirect;

// The members of an object stream (ISO 32000-1 7.5.7). The stream is
// decoded once and the decoded bytes are kept; a member becomes an object
// when it is first asked for: its bytes are far smaller than the object
// made of them.
struct TCvObjectStreamCache {
  bool Loaded = false;
  // The decoded content, as far as it was inflated; Truncated when the
  // stream goes on beyond it.
  std::string Content;
  bool Truncated = false;
  int64_t First = 0;
  std::vector<int32_t> Numbers;
  // Where each member's bytes begin and end, from First; the end is -1 for
  // a member at an offset an earlier member has.
  std::vector<int64_t> Offsets;
  std::vector<int64_t> Ends;
  // Nil until the member is asked for; Made counts the others. The content
  // is let go when every member is made.
  std::vector<TOvPDFIndirect*> Objects;
  size_t Made = 0;
  // Number to index, made when an entry gives a wrong index (first wins).
  std::unordered_map<int32_t, size_t> Index;
  // Why decoding failed, raised again for every later member.
  std::exception_ptr Failure;
};

class TOvPDFStream final : public TOvPDFCpxObj {
 public:
  explicit TOvPDFStream(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFStream"; }
  void SetData(std::string_view bytes) override;
  void WriteTo(TOvStream& stream, bool rebuildFirst) override;

  // The text from "stream" to "endstream".
  virtual std::string GetStreamText();
  // The data between the keywords, through the file's stream-data hook when set.
  std::string GetRawData();
  // Replaces the data (keeps it in memory) and updates /Length.
  void SetContent(std::string_view bytes);
  // A stream with a new, empty dictionary.
  static TOvPDFStream* NewStream(TOvPDFFile* file);

  TOvPDFDictionary* Dictionary = nullptr;
  TOvStream* Source = nullptr;
  TCvObjectStreamCache ObjectStream;
  std::string CloseSpace;
  std::string Tail;
  int64_t DataOffset = 0;
  int64_t DataLength = 0;
  bool InMemory = false;
  std::string TransformBuffer;
  bool InTransform = false;

 private:
  std::string ReadSourceData();
  void UpdateLength(int64_t length);
  std::string RunStreamDataHook();
};

class TOvPDFIndirect final : public TOvPDFCpxObj {
 public:
  explicit TOvPDFIndirect(TOvPDFFile* owner);
  const char* ClassName() const override { return "TOvPDFIndirect"; }
  void Rebuild() override;
  // A value that is a stream held in the source is copied straight to the
  // output instead of being built in memory first.
  void WriteTo(TOvStream& stream, bool rebuildFirst) override;

  void SetObject(TOvPDFObject* obj);
  void SetNumber(int32_t number);
  void SetGeneration(int32_t generation);
  // Records the object in the file's modified list (to write, or to free).
  void MarkModified();
  void MarkFree();
  // Sets number and generation of a parsed object; its text (like that of
  // parsed containers) is produced when it is written.
  void Renumber(int32_t number, int32_t generation);

  int32_t Number = 0;
  int32_t Generation = 0;
  TOvPDFObject* Value = nullptr;
  bool InObjectStream = false;
  int32_t ContainerNumber = 0;
  int32_t ContainerIndex = 0;

 private:
  std::string Header() const;
};

// One cross-reference section: a classic table with its trailer, or a
// cross-reference stream.
class TOvPDFXRef final : public TOvPDFCpxObj {
 public:
  using TOvPDFCpxObj::TOvPDFCpxObj;
  const char* ClassName() const override { return "TOvPDFXRef"; }
  TOvPDFDictionary* Dictionary = nullptr;
  bool IsStream = false;
  TOvPDFIndirect* StreamObject = nullptr;
};

// Sum of WriteOffset over the object and its ancestors up to the indirect
// object: the absolute position of a nested object after the file was written.
int64_t AbsoluteWriteOffset(const TOvPDFObject* obj);

// ---------------------------------------------------------------------------
// Dictionary helpers. Typed getters resolve references (except the real and
// boolean getters); a required lookup that fails raises EOvPDFSilentError.

TOvPDFObject* GetEntry(const TOvPDFDictionary* dict, std::string_view key);
// The entry's value with references resolved to the indirect object's value.
TOvPDFObject* GetResolvedEntry(const TOvPDFDictionary* dict, std::string_view key);
TOvPDFObject* ResolveValue(TOvPDFObject* obj);
void SetEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFObject* obj);
void RemoveEntry(TOvPDFDictionary* dict, std::string_view key);
std::string GetNameEntry(const TOvPDFDictionary* dict, std::string_view key,
                         std::string_view defaultValue, bool required);
int32_t GetIntEntry(const TOvPDFDictionary* dict, std::string_view key, int32_t defaultValue,
                    bool required);
int64_t GetInt64Entry(const TOvPDFDictionary* dict, std::string_view key, int64_t defaultValue,
                      bool required);
double GetRealEntry(const TOvPDFDictionary* dict, std::string_view key, bool required,
                    double defaultValue);
std::string GetStringEntry(const TOvPDFDictionary* dict, std::string_view key, bool required);
TOvPDFArray* GetArrayEntry(const TOvPDFDictionary* dict, std::string_view key, bool required);
TOvPDFDictionary* GetDictEntry(const TOvPDFDictionary* dict, std::string_view key, bool required);
bool GetBoolEntry(const TOvPDFDictionary* dict, std::string_view key, bool defaultValue,
                  bool required);
TOvPDFReal* AddIntEntry(TOvPDFDictionary* dict, std::string_view key, int64_t n);
void SetIntEntry(TOvPDFDictionary* dict, std::string_view key, int64_t n, bool inPlace);
TOvPDFString* AddStringEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view bytes,
                             uint8_t kind);
void SetStringEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view text,
                    bool inPlace, uint8_t kind);
TOvPDFName* AddNameEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view name);
void SetNameEntry(TOvPDFDictionary* dict, std::string_view key, std::string_view name,
                  bool inPlace);
TOvPDFArray* AddRectEntry(TOvPDFDictionary* dict, std::string_view key, int64_t a, int64_t b,
                          int64_t c, int64_t d);
void AddRefEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFRef* ref);
void SetRefEntry(TOvPDFDictionary* dict, std::string_view key, TOvPDFRef* ref, bool replace);
void AppendReal(TOvPDFArray* array, double x);
void AppendInt(TOvPDFArray* array, int64_t n);
void AppendName(TOvPDFArray* array, std::string_view name);
void AppendString(TOvPDFArray* array, std::string_view bytes, uint8_t kind);

// ---------------------------------------------------------------------------
// Stream filters (ISO 32000-1 7.4.4)

// Inflates the stream's raw data (bounded by PDF_MAX_INFLATE_SIZE and by the
// owner file's InflateBudget, which it consumes).
std::string DecodeFlate(TOvPDFStream* stream);
// True when /Filter is /FlateDecode or the one-element array [/FlateDecode]
// (/Fl, the abbreviation, counts as /FlateDecode).
bool IsFlateFilter(TOvPDFObject* filter);
// The data of a stream the PDF layer reads itself (object streams): raw
// without a filter, inflated with Flate; any other filter raises EOvPDFError
// "Unsupported encoding filter".
std::string DecodeStreamData(TOvPDFStream* stream);
// Deflates an unfiltered stream and adds /Filter /FlateDecode; a stream that
// already has a filter is left untouched.
void CompressStream(TOvPDFStream* stream, bool appendLineEnd);

// The highest object number a reference ("n g R") names in text of PDF
// objects without streams, read token by token; 0 when there is none.
int32_t HighestReferenceIn(std::string_view text);

// ---------------------------------------------------------------------------
// Cross-reference entries and the file

struct TOvPDFXrefEntry {
  int32_t Number = 0;
  int32_t Generation = 0;
  int64_t Offset = 0;
  bool Compressed = false;
  int32_t StreamNumber = 0;
  int32_t StreamIndex = 0;
};

// The cross-reference table, ordered by (generation, number). A flat array
// sized as the sections declare: a large document has a hundred thousand
// entries, and tables come mostly in order. Entries that come out of order
// wait beside it (in order, or in a small tree) and are merged in when they
// grow as many or when the table is gone through.
class TOvPDFXRefs {
 public:
  using TKey = std::pair<int32_t, int32_t>;  // generation, number

  // Goes through the entries in order as (key, entry) pairs.
  class TIterator {
   public:
    using TBase = std::vector<TOvPDFXrefEntry>::const_iterator;
    explicit TIterator(TBase at) : at_(at) {}
    std::pair<TKey, const TOvPDFXrefEntry&> operator*() const {
      return {TKey{at_->Generation, at_->Number}, *at_};
    }
    TIterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const TIterator& other) const { return at_ == other.at_; }

   private:
    TBase at_;
  };

  // New entry: inserted. Existing: raiseIfExists raises "Object [%d, %d]
  // already exists"; replace overwrites the entry (it becomes uncompressed at
  // offset); otherwise nothing changes and nil is returned (first wins). The
  // entry returned is valid until the table next changes.
  TOvPDFXrefEntry* Add(int32_t number, int32_t generation, bool replace, bool raiseIfExists,
                       int64_t offset);
  TOvPDFXrefEntry* AddCompressed(int32_t number, int32_t generation, int32_t index,
                                 int32_t streamNumber, bool replace = false);
  TOvPDFXrefEntry* Find(int32_t number, int32_t generation);
  const TOvPDFXrefEntry* Find(int32_t number, int32_t generation) const;
  void Remove(int32_t number, int32_t generation);
  // Removes every entry drop picks, in one pass.
  void RemoveIf(const std::function<bool(const TOvPDFXrefEntry& entry)>& drop);
  // Room for count more entries, when that is many.
  void Reserve(size_t count);
  size_t Count() const { return entries_.size() + inOrder_.size() + stray_.size(); }
  void Clear();
  TIterator begin() const {
    Merge();
    return TIterator(entries_.begin());
  }
  TIterator end() const {
    Merge();
    return TIterator(entries_.end());
  }

 private:
  static TKey KeyOf(const TOvPDFXrefEntry& entry) { return {entry.Generation, entry.Number}; }
  // Merges the waiting entries into the array.
  void Merge() const;

  mutable std::vector<TOvPDFXrefEntry> entries_;
  // Entries below the array's last: a run in order, and the others.
  mutable std::vector<TOvPDFXrefEntry> inOrder_;
  mutable std::map<TKey, TOvPDFXrefEntry> stray_;
};

// One cross-reference section as its table or stream lists it, for a caller
// that asks to keep them (TOvPDFFile::SetKeepSections): where it starts and
// every entry it holds, in its own order. A free entry has Offset 0 and is not
// compressed. A hybrid table and the stream its /XRefStm names are one section.
struct TOvPDFXRefSection {
  int64_t Offset = 0;
  bool IsStream = false;
  std::vector<TOvPDFXrefEntry> Entries;
};

// One recovery from damaged input: where (file offset, or -1), which object
// (or -1) and what was done.
struct TOvPDFWarning {
  int64_t Offset = -1;
  int32_t Number = -1;
  std::string Text;
};

// Memory for a file's objects: carved from large blocks and, once an
// object is freed, reused for the next object of the same size. Saves the
// allocator's per-block overhead and time on the million objects of a large
// document.
class TCvObjectArena {
 public:
  TCvObjectArena() = default;
  ~TCvObjectArena() { Clear(); }
  TCvObjectArena(const TCvObjectArena&) = delete;
  TCvObjectArena& operator=(const TCvObjectArena&) = delete;

  void* Allocate(size_t size);
  void Free(void* memory, size_t size) noexcept;
  // Forgets every block; only after every object in them was destroyed.
  void Clear() noexcept;

  static constexpr size_t kLargest = 512;

 private:
  // Small blocks first, so that a small document stays small; then blocks
  // the size of a huge page, each faulted in at once instead of 4 KB at a
  // time (page faults are much of the cost of reading a large document).
  static constexpr size_t kSmallBlock = size_t{64} << 10;
  static constexpr size_t kSmallBlocks = 16;
  static constexpr size_t kLargeBlock = size_t{2} << 20;
  static constexpr size_t kGrain = 8;
  static size_t Rounded(size_t size) { return (size + kGrain - 1) & ~(kGrain - 1); }
  void AddBlock();

  std::vector<void*> blocks_;
  std::byte* next_ = nullptr;
  size_t left_ = 0;
  // Freed memory by size class, each chain linked through its first bytes.
  void* free_[kLargest / kGrain + 1] = {};
};

using TCvPDFFileProgressHook = std::function<void(TOvPDFFile& file, int percent, bool& cancel)>;
using TCvPDFTemporaryStreamHook =
    std::function<void(TOvPDFFile& file, TOvStream*& stream, bool& owns)>;
using TCvPDFStreamDataHook = std::function<void(TOvPDFStream& stream)>;

class TOvPDFFile {
 public:
  TOvPDFFile();
  virtual ~TOvPDFFile();
  TOvPDFFile(const TOvPDFFile&) = delete;
  TOvPDFFile& operator=(const TOvPDFFile&) = delete;

  // Registers a new indirect object with a canonical reference.
  virtual void AddObject(TOvPDFObject* indirect);
  // Forgets the object list, tables, trailer and modified list. The
  // objects themselves stay allocated (callers may still hold them) until
  // FreeObjects or destruction.
  virtual void Reset();
  // Reset, then frees every object created for this file.
  void FreeObjects();
  // Reset, then reads the header and the cross-reference information of
  // source, which becomes Source: the first reading, and each later one of
  // a stream that Save changed. The next Save appends an update to it.
  void Reload(TOvStream& source);
  // Appends an incremental update, or rewrites the file (FullRewrite).
  virtual void Save();

  // Reads one object at the input's position (ISO 32000-1 7.3); nil when only
  // whitespace remains. Leaves the input at the first byte not consumed.
  TOvPDFObject* ParseObject(TOvStream& input);

  TOvPDFIndirect* LoadObject(TOvStream& input, int32_t number, int32_t generation);
  // Member number of object stream streamNumber, where its entry says index.
  TOvPDFIndirect* LoadCompressedObject(int32_t number, int32_t streamNumber, int32_t index);
  bool IsEncrypted();
  void AddCompressedObjects();
  int64_t IndexOfObject(TOvPDFObject* obj);
  int32_t MaxObjectNumber() const;
  // The highest object number the file defines (its entries, /Size - 1) or
  // that any of its objects references, so that a new object never takes the
  // number of a dangling reference. Reads every object of ObjectList; those
  // not loaded before are looked at and freed again, not kept.
  int32_t HighestUsedNumber();
  // The same over what has been parsed so far (no loading).
  int32_t HighestKnownNumber() const;
  // Raises the highest known number to every reference among the members
  // of object stream streamNumber (decoded for good; number names the member
  // for warnings). False when the stream cannot be read.
  bool CountObjectStreamReferences(int32_t number, int32_t streamNumber);
  // Parses an object not loaded yet at its entry, hands it to look (nil when
  // the entry reads as null) and frees everything the parse made: a look at
  // an object that keeps nothing of it. Its references still raise the
  // highest known number. While it runs references are not loaded (they
  // resolve to what is loaded already); ResolveForGood loads, and entries of
  // containers loaded before are read for good. Looks may nest. The object
  // stream of a compressed object is loaded for good first. False, with
  // nothing done, for an object that is loaded or unknown. Raises what the
  // parse raises.
  bool PeekObject(int32_t number, int32_t generation,
                  const std::function<void(TOvPDFIndirect* object)>& look);
  // Resolves ref, loading its object for good even inside a look: what the
  // load makes outlives the look.
  TOvPDFIndirect* ResolveForGood(TOvPDFRef* ref);
  bool Progress(int percent);
  // First canonical reference with this number and generation, or nil.
  TOvPDFRef* FindCanonical(int32_t number, int32_t generation);

  void WriteXRefTable(TOvStream& output, std::vector<TOvPDFXrefEntry>& entries, bool noTail,
                      bool full);
  int32_t WriteXRefStream(TOvStream& output, std::vector<TOvPDFXrefEntry>& entries, bool noTail);

  // Registers a new object of type T (owned by the file).
  template <class T>
  T* NewObject() {
    static_assert(sizeof(T) <= TCvObjectArena::kLargest);
    void* memory = arena_.Allocate(sizeof(T));
    T* raw = nullptr;
    try {
      raw = new (memory) T(this);
    } catch (...) {
      arena_.Free(memory, sizeof(T));
      throw;
    }
    raw->allocated_ = sizeof(T);
    raw->scratch_ = peeking_;
    try {
      registry_.push_back(raw);
    } catch (...) {
      Destroy(raw);
      throw;
    }
    return raw;
  }
  TOvPDFNull* NewNull();
  TOvPDFBoolean* NewBoolean(bool value);
  TOvPDFReal* NewInt(int64_t value);
  TOvPDFReal* NewReal(double value);
  TOvPDFName* NewName(std::string_view name);
  TOvPDFString* NewString(std::string_view bytes, uint8_t kind);
  TOvPDFArray* NewArray();
  TOvPDFDictionary* NewDictionary();
  TOvPDFRef* NewRef(int32_t number, int32_t generation);
  TOvPDFIndirect* NewIndirect(int32_t number, int32_t generation, TOvPDFObject* value);

  size_t RegistrySize() const { return registry_.size(); }

  // Every recovery made while reading, in order, at most PDF_MAX_WARNINGS of
  // them (the same warning twice is kept once); WarningsDropped counts the rest.
  const std::vector<TOvPDFWarning>& Warnings() const { return warnings_; }
  size_t WarningsDropped() const { return warnings_dropped_; }
  void AddWarning(int64_t offset, int32_t number, const std::string& text);

  // --- what was read, and how the next Save writes ---

  // The header version as major * 100 + minor * 10 ("1.4" gives 140); 0 when unknown.
  int32_t Version() const { return version_; }
  // A full rewrite writes at least this version in its header.
  void RequireVersion(int32_t version) { version_ = std::max(version_, version); }
  // The stream read and, for incremental updates, appended to (not owned).
  TOvStream* Source() const { return source_; }
  // One canonical reference per known object, in the order they were added.
  const std::vector<TOvPDFRef*>& ObjectList() const { return object_list_; }
  // Save rewrites the whole file instead of appending an update.
  bool FullRewrite() const { return full_rewrite_; }
  void SetFullRewrite(bool value) { full_rewrite_ = value; }
  // Objects changed or added since loading, in the order they were recorded
  // (Offset 0: to be freed); after Save, where each was written.
  const std::vector<TOvPDFXrefEntry>& ModifiedEntries() const { return modified_entries_; }
  // The trailer of the newest section; nil before loading.
  TOvPDFDictionary* Trailer() const { return trailer_; }
  // The cross-reference table read from the file.
  const TOvPDFXRefs& XRefs() const { return xrefs_; }
  // The offset the last "startxref" names, as read (-1 when not a number).
  int64_t LastStartXRef() const { return last_start_xref_; }
  // The cross-reference information was rebuilt by scanning, and why.
  bool Damaged() const { return damaged_; }
  const std::string& DamageReason() const { return damage_reason_; }
  // The newest section is a cross-reference stream.
  bool UsesXRefStreams() const { return uses_xref_streams_; }
  // The object the trailer's /XRefStm names (hybrid files), or nil.
  TOvPDFIndirect* XRefStreamObject() const { return xref_stream_object_; }
  // Some section declared objects in object streams.
  bool HasCompressedObjects() const { return has_compressed_objects_; }
  // Cross-reference sections read along the /Prev chain (a hybrid table and
  // its stream count once).
  int32_t RevisionCount() const { return revision_count_; }
  // Whether the next reading keeps each section's own entries (off at
  // construction: they double the memory of the table), and the sections
  // read along the /Prev chain, newest first. A chain broken by damage keeps
  // the sections read before the break.
  void SetKeepSections(bool value) { keep_sections_ = value; }
  const std::vector<TOvPDFXRefSection>& Sections() const { return sections_; }
  // Line-end text of new objects; "\n" at construction.
  const std::string& LineEnd() const { return line_end_; }
  void SetLineEnd(std::string value) { line_end_ = std::move(value); }
  // What DecodeFlate may still produce for this file. Decoded object streams
  // stay cached, so many small deflate bombs must not add up without bound.
  int64_t InflateBudget() const { return inflate_budget_; }
  void SetInflateBudget(int64_t value) { inflate_budget_ = value; }

  // Supplies the stream a full rewrite is built in (a memory stream owned by
  // the file when unset or when it supplies none).
  const TCvPDFTemporaryStreamHook& OnCreateTemporaryStream() const {
    return on_create_temporary_stream_;
  }
  void SetOnCreateTemporaryStream(TCvPDFTemporaryStreamHook hook) {
    on_create_temporary_stream_ = std::move(hook);
  }
  // Told the progress of loading and saving; may cancel.
  const TCvPDFFileProgressHook& OnProgress() const { return on_progress_; }
  void SetOnProgress(TCvPDFFileProgressHook hook) { on_progress_ = std::move(hook); }
  // Transforms stream data read from Source (decryption); Reset removes it.
  const TCvPDFStreamDataHook& OnStreamData() const { return on_stream_data_; }
  void SetOnStreamData(TCvPDFStreamDataHook hook) { on_stream_data_ = std::move(hook); }

 private:
  friend class TCvPDFParser;
  friend class TOvPDFRef;
  friend class TOvPDFIndirect;
  friend class TOvPDFObject;
  friend class TOvPDFArray;

  // Cross-reference reading (CvPDFCore_XRef.cpp).
  // Reads the header and the cross-reference information of Source.
  virtual void Load();
  void ReadHeader();
  // Returns where the rebuild scan stops.
  int64_t ReadCrossReference();
  bool FindStartXRef(int64_t& scanLimit);
  // current: the offset of the section being read (for the warning when it fails).
  void WalkSections(int64_t& current);
  void ReadClassicEntries(TOvPDFXRef* section);
  TOvPDFXRef* ReadXRefStreamAt(TOvStream& input, int64_t offset);
  TOvPDFXRef* ParseXRefStream(TOvPDFIndirect* indirect);
  // False with the reason and the entry at fault when an entry cannot be followed.
  bool VerifyEntries(std::string& reason, const TOvPDFXrefEntry*& bad);
  bool HeaderAt(int64_t offset, int32_t& number, int32_t& generation);
  // Adds an entry to the section being walked, when sections are kept.
  void NoteSectionEntry(const TOvPDFXrefEntry& entry);
  void RebuildByScanning(int64_t scanLimit);
  void IndexObjectStream(TOvPDFIndirect* indirect);
  void BuildObjectList();
  // Entries sharing an offset with another: those whose object is not the
  // one found there, keyed by number << 32 | generation.
  std::unordered_set<uint64_t> ResolveDuplicateOffsets();
  void FindXRefStm();
  void MarkDamaged(const std::string& reason, int64_t offset = -1, int32_t number = -1);
  // True when an object reachable from the trailer has a stale entry or
  // cannot be read.
  bool StaleEntryIsReached();
  void DecodeObjectStream(TOvPDFStream* stream);
  void DecodeObjectStreamOnce(TOvPDFStream* stream);
  // The object stream streamNumber, loaded and decoded; nil (with a warning
  // naming member number) when it cannot be had.
  TOvPDFStream* DecodedObjectStream(int32_t number, int32_t streamNumber);
  // Where member number lies in a decoded object stream (its entry says
  // index), or -1.
  int64_t MemberIndex(TCvObjectStreamCache& cache, int32_t number, int32_t index);
  // Makes an object of member i; the caller keeps or frees it.
  TOvPDFIndirect* ParseMemberAt(TOvPDFStream* stream, size_t i);
  // Hands parse the decoded content of an object stream, inflated only as
  // far as needed: parse returns false when it ran into the end of a
  // truncated prefix (a longer one is then decoded). The budget pays for
  // what is finally kept.
  void ReadObjectStreamPrefix(
      TOvPDFStream* stream,
      const std::function<bool(TOvMemoryStream& input, bool truncated)>& parse);

  // Writing (CvPDFCore_Writer.cpp).
  void SaveIncremental();
  void SaveFull();

  // Frees an object the parser made only to look at (a dictionary key, the
  // numbers before "R" or "obj", a comment, a closing bracket) when it is among
  // the newest in the registry; anything else stays until the file is freed.
  void ReleaseScratch(TOvPDFObject* obj);
  // The next object that is not a comment; the comments are released.
  TOvPDFObject* ParseMember(TOvStream& input);
  // Parses the next object (after any comments) as a 32-bit integer and
  // releases it; false when it is something else.
  bool ParseInteger(TOvStream& input, int32_t& value);

  // The integer a stream's indirect /Length names; false when it cannot be
  // loaded. A loaded value that is not an integer raises.
  bool LoadLengthValue(int32_t number, int32_t generation, int64_t& length);

  void RebuildCanonicalIndex();
  void AppendCanonical(TOvPDFRef* ref);

  // Destroys, when it goes, every scratch object made since it was made
  // (what was loaded for good meanwhile stays).
  struct TCvRegistryRollback {
    TOvPDFFile& file;
    size_t mark;
    ~TCvRegistryRollback() { file.DestroyScratch(mark); }
  };

  // Destroys an object of the registry and gives its memory back.
  void Destroy(TOvPDFObject* obj) noexcept;
  // Destroys the newest objects until count remain.
  void DestroyNewest(size_t count) noexcept;
  // Destroys the scratch objects among all but the first count; the others
  // move down in their order.
  void DestroyScratch(size_t count) noexcept;

  TCvObjectArena arena_;
  // Every object made for this file, which the file destroys. A deque:
  // growing it never copies (and never briefly doubles) a million entries.
  std::deque<TOvPDFObject*> registry_;
  // The canonical reference of each object: generation 0 of a dense range
  // of numbers in a flat table (a pointer an object), the rest in a map.
  struct TCvCanonicalIndex {
    std::vector<TOvPDFRef*> table;
    std::unordered_map<uint64_t, TOvPDFRef*> other;
    void Clear();
    // Makes the table reach highest when the numbers are dense enough.
    void Size(int32_t highest, size_t objects);
    // The first reference with a number and generation stays.
    void Insert(TOvPDFRef* ref);
    TOvPDFRef* Find(int32_t number, int32_t generation) const;
  };
  TCvCanonicalIndex canonical_;
  bool canonical_dirty_ = false;
  // Objects and object streams whose loading is in progress (re-entry means
  // a cycle), and how deeply loads are nested.
  std::unordered_set<int32_t> loading_objects_;
  std::unordered_set<int32_t> loading_streams_;
  int load_depth_ = 0;
  // Nesting of objects being parsed, shared by nested loads.
  int parse_depth_ = 0;
  // The items of the container being parsed at each nesting level.
  std::deque<std::vector<TOvPDFArray::TItem>> parse_items_;
  // Bytes the parser has fetched from its inputs (bounds the rebuild scan).
  int64_t parse_read_ = 0;
  // Integers read from indirect /Length objects before the object list
  // exists (while the tables are read or rebuilt), by number and generation;
  // -1 when the object could not be read.
  std::unordered_map<uint64_t, int64_t> lengths_;
  std::vector<TOvPDFWarning> warnings_;
  std::unordered_set<std::string> warning_keys_;
  size_t warnings_dropped_ = 0;
  // Entries that name another object's header (number << 32 | generation),
  // left out of ObjectList while nothing reaches them, and why the first was
  // found wrong.
  std::unordered_set<uint64_t> stale_entries_;
  // The highest object number named by a reference parsed so far.
  int32_t highest_reference_ = 0;
  std::string stale_reason_;
  // Set while PeekObject parses an object it will free again.
  bool peeking_ = false;
  // Objects a look parsed in full, whose references are counted: by number
  // for generation 0 within the canonical table's range, the rest by key.
  std::vector<bool> counted_;
  std::unordered_set<uint64_t> counted_other_;
  void NoteCounted(int32_t number, int32_t generation);
  bool Counted(int32_t number, int32_t generation) const;
  // Where objects that keep it were last written: offset and length.
  std::unordered_map<const TOvPDFObject*, std::pair<int64_t, int64_t>> write_positions_;

  int32_t version_ = 0;
  TOvStream* source_ = nullptr;
  std::vector<TOvPDFRef*> object_list_;
  bool full_rewrite_ = false;
  std::vector<TOvPDFXrefEntry> modified_entries_;
  TOvPDFDictionary* trailer_ = nullptr;
  TCvPDFTemporaryStreamHook on_create_temporary_stream_;
  TOvPDFXRefs xrefs_;
  int64_t last_start_xref_ = -1;
  bool damaged_ = false;
  bool uses_xref_streams_ = false;
  TOvPDFIndirect* xref_stream_object_ = nullptr;
  std::string line_end_ = "\n";
  bool has_compressed_objects_ = false;
  TCvPDFFileProgressHook on_progress_;
  TCvPDFStreamDataHook on_stream_data_;
  int32_t revision_count_ = 0;
  bool keep_sections_ = false;
  // Set while WalkSections reads a section whose entries are kept.
  bool noting_sections_ = false;
  std::vector<TOvPDFXRefSection> sections_;
  std::string damage_reason_;
  int64_t inflate_budget_ = PDF_MAX_INFLATE_TOTAL;
};

}  // namespace corvane
