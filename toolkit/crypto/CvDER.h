// The DER writer for the few structures of RSA keys, and the INTEGER reading
// of the strict DER reader for big numbers (X.690 8.3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/crypto/CvMath.h"

namespace corvane {

inline constexpr uint8_t DER_INTEGER = ASN1_INTEGER;
inline constexpr uint8_t DER_BIT_STRING = ASN1_BIT_STRING;
inline constexpr uint8_t DER_OCTET_STRING = ASN1_OCTET_STRING;
inline constexpr uint8_t DER_NULL = ASN1_NULL;
inline constexpr uint8_t DER_OID = ASN1_OBJECT_IDENTIFIER;
inline constexpr uint8_t DER_SEQUENCE = ASN1_SEQUENCE;

// A non-negative INTEGER (zero only when allowZero) that fits a TOvMPInt.
bool ReadDERInteger(TCvDERReader& reader, TOvMPInt& value, bool allowZero = false);

std::string DERTLV(uint8_t tag, std::string_view content);
inline std::string DERSequence(std::string_view content) { return DERTLV(DER_SEQUENCE, content); }
std::string DERInteger(const TOvMPInt& value);

}  // namespace corvane
