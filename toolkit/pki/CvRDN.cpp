#include "toolkit/pki/CvRDN.h"

#include <stdexcept>

namespace corvane {

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

}  // namespace corvane
