// A small strict reader for DER structures held in memory (X.690 8.1 with the
// DER rules of 10.1): single-octet tags, definite and minimal lengths only.
// It never reads past its input; every failure is a false result, so callers
// that look into keys and digests need no exception handling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

class TCvDERReader {
 public:
  explicit TCvDERReader(std::string_view data) : data_(data) {}

  bool AtEnd() const { return pos_ == data_.size(); }
  // The next element's tag, 0 at the end.
  uint8_t PeekTag() const { return AtEnd() ? 0 : static_cast<uint8_t>(data_[pos_]); }
  // Reads one element with the given tag; content is a view into the input. On
  // a tag mismatch the reader stays where it was.
  bool Read(uint8_t tag, std::string_view& content);
  // Reads one element of any tag, with its header.
  bool ReadAny(uint8_t& tag, std::string_view& content, std::string_view& whole);
  // An INTEGER that is not negative and minimally encoded; content keeps the
  // 0x00 octet that stands in front of a set top bit.
  bool ReadUnsigned(std::string_view& content);

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// The DER element at the start of bytes without what follows it (the zero
// padding of a signature's /Contents); bytes as they are when none reads.
std::string_view LeadingDERElement(std::string_view bytes);

}  // namespace corvane
