#include "toolkit/asn1/CvDERReader.h"

#include "toolkit/asn1/CvASN1.h"

namespace corvane {

bool TCvDERReader::ReadAny(uint8_t& tag, std::string_view& content, std::string_view& whole) {
  const size_t start = pos_;
  size_t p = pos_;
  if (data_.size() - p < 2) return false;
  tag = static_cast<uint8_t>(data_[p++]);
  // Multi-octet tags never occur in the structures read this way.
  if ((tag & 0x1F) == 0x1F) return false;
  size_t length = static_cast<uint8_t>(data_[p++]);
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || data_.size() - p < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<uint8_t>(data_[p++]);
    // Minimal length encoding only.
    if (length < 0x80 || (count > 1 && (length >> (8 * (count - 1))) == 0)) return false;
  }
  if (data_.size() - p < length) return false;
  content = data_.substr(p, length);
  whole = data_.substr(start, p + length - start);
  pos_ = p + length;
  return true;
}

bool TCvDERReader::Read(uint8_t tag, std::string_view& content) {
  const size_t saved = pos_;
  uint8_t actual = 0;
  std::string_view whole;
  if (!ReadAny(actual, content, whole) || actual != tag) {
    pos_ = saved;
    return false;
  }
  return true;
}

bool TCvDERReader::ReadUnsigned(std::string_view& content) {
  if (!Read(ASN1_INTEGER, content) || content.empty()) return false;
  const auto first = static_cast<uint8_t>(content[0]);
  if (first & 0x80) return false;  // negative
  return content.size() == 1 || first != 0 || (static_cast<uint8_t>(content[1]) & 0x80) != 0;
}

std::string_view LeadingDERElement(std::string_view bytes) {
  TCvDERReader reader(bytes);
  uint8_t tag = 0;
  std::string_view content, whole;
  return reader.ReadAny(tag, content, whole) ? whole : bytes;
}

}  // namespace corvane
