// TOvRelativeDistinguishedName: an ordered list of (type, value) byte-string
// pairs with the value's ASN.1 string tag and the index of the RDN (SET) each
// entry belongs to. Certificates use it for names; crypto providers use it as
// the parameter list of keys and contexts (type = property name).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class TOvASN1ConstrainedTag;

// A directory string as UTF-8 text, by its tag: T61String as Latin-1,
// BMPString as UCS-2 and UniversalString as UCS-4 (both big-endian), every
// other tag as UTF-8. Whatever is not a character (a malformed UTF-8 sequence,
// a surrogate, a code point past U+10FFFF, a cut last unit) becomes U+FFFD,
// so the result is always valid UTF-8.
std::string DirectoryStringText(std::string_view value, uint8_t tag);

class TOvRelativeDistinguishedName {
 public:
  // Tag stored when none is given.
  static constexpr uint8_t kDefaultTag = 4;

  int Count() const { return static_cast<int>(entries_.size()); }
  // Grows with empty entries (tag 4, each in a new group) or drops entries from the end.
  void SetCount(int count);

  // Entry access; an index outside 0..Count-1 raises std::out_of_range.
  const std::string& Types(int index) const;
  const std::string& Values(int index) const;
  uint8_t Tags(int index) const;
  int32_t Groups(int index) const;
  // The value as UTF-8 text (DirectoryStringText of value and tag).
  std::string ValueText(int index) const;
  void SetTypes(int index, std::string_view type);
  void SetValues(int index, std::string_view value);
  void SetTags(int index, uint8_t tag);
  void SetGroups(int index, int32_t group);

  // Appends an entry in a new group (previous group + 1, 0 for the first);
  // tag 0 is stored as 4. Returns its index.
  int Add(std::string_view type, std::string_view value, uint8_t tag = 0);

  // Values of all entries whose type equals type, in order.
  void GetValuesByType(std::string_view type, std::vector<std::string>& list) const;
  // Index of the first entry at or after start with this type, -1 when none.
  int IndexOfType(std::string_view type, int start = 0) const;
  // Value of the first entry with this type, or defaultValue.
  std::string ValueByType(std::string_view type, std::string_view defaultValue = {}) const;

  // Same count and every entry here has an entry in other with equal type,
  // value and tag; order and grouping do not matter.
  bool Equals(const TOvRelativeDistinguishedName& other) const;

  void Clear() { entries_.clear(); }
  void Assign(const TOvRelativeDistinguishedName& other) { entries_ = other.entries_; }
  // A null source raises "Can not assign nil to TOvRelativeDistinguishedName".
  void Assign(const TOvRelativeDistinguishedName* other);

  // Reads a Name (RFC 5280 4.1.2.4): a SEQUENCE (any constructed node with
  // anyTag) of SETs of SEQUENCE { OID, primitive value }. Each attribute becomes
  // an entry whose group is the index of its SET. Another shape stops reading
  // and gives false; the entries read so far stay.
  bool LoadFromTag(const TOvASN1ConstrainedTag& node, bool anyTag = false);
  // Makes node that Name SEQUENCE; consecutive entries of one group share a SET.
  void SaveToTag(TOvASN1ConstrainedTag& node) const;

 private:
  struct Entry {
    std::string type;
    std::string value;
    uint8_t tag = kDefaultTag;
    int32_t group = 0;
  };
  const Entry& At(int index) const;
  Entry& At(int index);
  int32_t NextGroup() const { return entries_.empty() ? 0 : entries_.back().group + 1; }

  std::vector<Entry> entries_;
};

}  // namespace corvane
