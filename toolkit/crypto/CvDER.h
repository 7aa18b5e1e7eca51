// A strict reader and a writer for the few DER structures of RSA keys
// (X.690 8.1, definite lengths only). The reader never reads past its input
// and rejects what DER forbids: indefinite and non-minimal lengths,
// negative or non-minimal INTEGERs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/crypto/CvMath.h"

namespace corvane {

inline constexpr uint8_t DER_INTEGER = 0x02;
inline constexpr uint8_t DER_BIT_STRING = 0x03;
inline constexpr uint8_t DER_OCTET_STRING = 0x04;
inline constexpr uint8_t DER_NULL = 0x05;
inline constexpr uint8_t DER_OID = 0x06;
inline constexpr uint8_t DER_SEQUENCE = 0x30;

class TCvDERReader {
 public:
  explicit TCvDERReader(std::string_view data) : data_(data) {}

  bool AtEnd() const { return pos_ == data_.size(); }
  // The next element's tag, 0 at the end.
  uint8_t PeekTag() const { return AtEnd() ? 0 : static_cast<uint8_t>(data_[pos_]); }
  // Reads one element with the given tag; content is a view into the input.
  bool Read(uint8_t tag, std::string_view& content);
  // Reads one element of any tag, with its header.
  bool ReadAny(uint8_t& tag, std::string_view& content, std::string_view& whole);
  // A non-negative INTEGER (zero only when allowZero).
  bool ReadInteger(TOvMPInt& value, bool allowZero = false);

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

std::string DERTLV(uint8_t tag, std::string_view content);
inline std::string DERSequence(std::string_view content) { return DERTLV(DER_SEQUENCE, content); }
std::string DERInteger(const TOvMPInt& value);

}  // namespace corvane
