#include "toolkit/crypto/CvDER.h"

namespace corvane {

bool ReadDERInteger(TCvDERReader& reader, TOvMPInt& value, bool allowZero) {
  std::string_view content;
  if (!reader.ReadUnsigned(content)) return false;
  if (content.size() > MATH_MAX_OCTETS + 1) return false;
  value = TOvMPInt::FromBytes(content.size() > MATH_MAX_OCTETS ? content.substr(1) : content);
  return allowZero || !value.IsZero();
}

std::string DERTLV(uint8_t tag, std::string_view content) {
  std::string out(1, static_cast<char>(tag));
  const size_t n = content.size();
  if (n < 0x80) {
    out += static_cast<char>(n);
  } else {
    std::string len;
    for (size_t v = n; v != 0; v >>= 8) len.insert(len.begin(), static_cast<char>(v & 0xFF));
    out += static_cast<char>(0x80 | len.size());
    out += len;
  }
  out += content;
  return out;
}

std::string DERInteger(const TOvMPInt& value) {
  std::string bytes = value.ToBytes();
  if (static_cast<uint8_t>(bytes[0]) & 0x80) bytes.insert(bytes.begin(), '\0');
  return DERTLV(DER_INTEGER, bytes);
}

}  // namespace corvane
