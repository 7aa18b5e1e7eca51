// Shared reading helpers of the OCSP and CRL units: times, extensions and
// the limits that bound every list read from a response or a CRL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvUtils.h"

namespace corvane::revocation_der {

// Lists read from hostile input stop here; the item that passes the limit
// makes the whole structure malformed.
inline constexpr size_t MAX_EXTENSIONS = 64;
inline constexpr size_t MAX_CERTIFICATES = 64;
inline constexpr size_t MAX_SINGLE_RESPONSES = 1024;
inline constexpr size_t MAX_REVOKED_ENTRIES = 1000000;

// UTCTime or GeneralizedTime in the DER form RFC 5280 4.1.2.5 requires:
// digits to the second and a "Z". False for anything else.
bool ReadTime(TCvDERReader& reader, TDateTime& value, bool generalizedOnly = false);

struct TExtension {
  std::string_view OID;
  bool Critical = false;
  std::string_view Value;  // the content of extnValue
};

// Calls visit(extension) for each Extension of an Extensions SEQUENCE's
// content; false when the list is malformed, too long or visit refuses one.
template <typename Visit>
bool ForEachExtension(std::string_view extensions, Visit visit) {
  TCvDERReader list(extensions);
  for (size_t n = 0; !list.AtEnd(); ++n) {
    std::string_view body, critical;
    TExtension e;
    if (n >= MAX_EXTENSIONS || !list.Read(0x30, body)) return false;
    TCvDERReader fields(body);
    if (!fields.Read(0x06, e.OID)) return false;
    if (fields.Read(0x01, critical)) {
      if (critical.size() != 1) return false;
      e.Critical = critical[0] != 0;
    }
    if (!fields.Read(0x04, e.Value) || !fields.AtEnd()) return false;
    if (!visit(e)) return false;
  }
  return true;
}

// An ENUMERATED of one octet (CRLReason); false otherwise.
bool ReadSmallEnumerated(std::string_view der, int& value);

// "keyCompromise", "superseded", ... (RFC 5280 5.3.1); "reason N" for others.
std::string ReasonName(int reason);

// "2026-01-31 12:00:00 UTC"
std::string RevocationTimeText(TDateTime value);

}  // namespace corvane::revocation_der
