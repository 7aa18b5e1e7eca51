#include "toolkit/asn1/CvRDN.h"

#include <stdexcept>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

namespace {

constexpr uint8_t kT61String = 0x14;
constexpr uint8_t kUniversalString = 0x1C;
constexpr uint8_t kBMPString = 0x1E;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void AppendUTF8(std::string& out, uint32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    out += kReplacement;
  } else if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

uint32_t BigEndian(std::string_view bytes, size_t at, size_t count) {
  uint32_t v = 0;
  for (size_t i = 0; i < count; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

}  // namespace

std::string DirectoryStringText(std::string_view value, uint8_t tag) {
  std::string out;
  switch (tag) {
    case kT61String:
      for (const char c : value) AppendUTF8(out, static_cast<uint8_t>(c));
      return out;
    case kUniversalString:
      for (size_t i = 0; i + 4 <= value.size(); i += 4) AppendUTF8(out, BigEndian(value, i, 4));
      if (value.size() % 4 != 0) out += kReplacement;
      return out;
    case kBMPString:
      // UCS-2 (X.680 41.3): a surrogate unit is not a character.
      for (size_t i = 0; i + 2 <= value.size(); i += 2) AppendUTF8(out, BigEndian(value, i, 2));
      if (value.size() % 2 != 0) out += kReplacement;
      return out;
    default:
      return SanitizeUTF8(value, kReplacement);
  }
}

const TOvRelativeDistinguishedName::Entry& TOvRelativeDistinguishedName::At(int index) const {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return entries_[static_cast<size_t>(index)];
}

TOvRelativeDistinguishedName::Entry& TOvRelativeDistinguishedName::At(int index) {
  if (index < 0 || index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return entries_[static_cast<size_t>(index)];
}

void TOvRelativeDistinguishedName::SetCount(int count) {
  if (count < 0) count = 0;
  while (Count() > count) entries_.pop_back();
  while (Count() < count) {
    Entry e;
    e.group = NextGroup();
    entries_.push_back(std::move(e));
  }
}

const std::string& TOvRelativeDistinguishedName::Types(int index) const { return At(index).type; }
const std::string& TOvRelativeDistinguishedName::Values(int index) const { return At(index).value; }
uint8_t TOvRelativeDistinguishedName::Tags(int index) const { return At(index).tag; }
int32_t TOvRelativeDistinguishedName::Groups(int index) const { return At(index).group; }
std::string TOvRelativeDistinguishedName::ValueText(int index) const {
  const Entry& e = At(index);
  return DirectoryStringText(e.value, e.tag);
}
void TOvRelativeDistinguishedName::SetTypes(int index, std::string_view type) {
  At(index).type = type;
}
void TOvRelativeDistinguishedName::SetValues(int index, std::string_view value) {
  At(index).value = value;
}
void TOvRelativeDistinguishedName::SetTags(int index, uint8_t tag) { At(index).tag = tag; }
void TOvRelativeDistinguishedName::SetGroups(int index, int32_t group) { At(index).group = group; }

int TOvRelativeDistinguishedName::Add(std::string_view type, std::string_view value, uint8_t tag) {
  Entry e;
  e.type = type;
  e.value = value;
  e.tag = tag == 0 ? kDefaultTag : tag;
  e.group = NextGroup();
  entries_.push_back(std::move(e));
  return Count() - 1;
}

void TOvRelativeDistinguishedName::GetValuesByType(std::string_view type,
                                                   std::vector<std::string>& list) const {
  list.clear();
  for (const auto& e : entries_) {
    if (e.type == type) list.push_back(e.value);
  }
}

int TOvRelativeDistinguishedName::IndexOfType(std::string_view type, int start) const {
  for (int i = start < 0 ? 0 : start; i < Count(); ++i) {
    if (entries_[static_cast<size_t>(i)].type == type) return i;
  }
  return -1;
}

std::string TOvRelativeDistinguishedName::ValueByType(std::string_view type,
                                                      std::string_view defaultValue) const {
  const int index = IndexOfType(type);
  return index < 0 ? std::string(defaultValue) : entries_[static_cast<size_t>(index)].value;
}

bool TOvRelativeDistinguishedName::Equals(const TOvRelativeDistinguishedName& other) const {
  if (Count() != other.Count()) return false;
  for (const auto& mine : entries_) {
    bool found = false;
    for (const auto& theirs : other.entries_) {
      if (mine.type == theirs.type && mine.value == theirs.value && mine.tag == theirs.tag) {
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

void TOvRelativeDistinguishedName::Assign(const TOvRelativeDistinguishedName* other) {
  if (other == nullptr)
    throw EOvCertificateError("Can not assign nil to TOvRelativeDistinguishedName");
  if (other != this) entries_ = other->entries_;
}

bool TOvRelativeDistinguishedName::LoadFromTag(const TOvASN1ConstrainedTag& node, bool anyTag) {
  if (!anyTag && node.TagByte() != ASN1_SEQUENCE) return false;
  for (int32_t set = 0; set < node.Count(); ++set) {
    const TOvASN1ConstrainedTag* rdn = node.ConstrainedChild(set);
    if (rdn == nullptr || rdn->TagByte() != ASN1_SET) return false;
    for (int32_t k = 0; k < rdn->Count(); ++k) {
      const TOvASN1ConstrainedTag* pair = rdn->ConstrainedChild(k);
      if (pair == nullptr || pair->TagByte() != ASN1_SEQUENCE || pair->Count() != 2) return false;
      const TOvASN1SimpleTag* type = pair->SimpleChild(0);
      const TOvASN1SimpleTag* value = pair->SimpleChild(1);
      if (type == nullptr || type->TagByte() != ASN1_OBJECT_IDENTIFIER || value == nullptr)
        return false;
      Entry e;
      e.type = type->Content();
      e.value = value->Content();
      e.tag = value->TagByte();
      e.group = set;
      entries_.push_back(std::move(e));
    }
  }
  return true;
}

void TOvRelativeDistinguishedName::SaveToTag(TOvASN1ConstrainedTag& node) const {
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  TOvASN1ConstrainedTag* set = nullptr;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (set == nullptr || e.group != entries_[i - 1].group) {
      set = node.AddConstrainedChild();
      set->SetTagByte(ASN1_SET);
    }
    TOvASN1ConstrainedTag* pair = set->AddConstrainedChild();
    pair->SetTagByte(ASN1_SEQUENCE);
    TOvASN1SimpleTag* type = pair->AddSimpleChild();
    type->SetTagByte(ASN1_OBJECT_IDENTIFIER);
    type->SetContent(e.type);
    TOvASN1SimpleTag* value = pair->AddSimpleChild();
    value->SetTagByte(e.tag);
    value->SetContent(e.value);
  }
}

}  // namespace corvane
