// Certificate revocation lists (RFC 5280 5): a CertificateList read into its
// fields, its signature and issuer checked against the issuing certificate,
// and the lookup of a serial number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvX509Certificate;

struct TCvRevokedEntry {
  ByteString Serial;  // content octets of the INTEGER
  TDateTime RevocationDate = 0;
  int Reason = -1;  // CRLReason; -1 when the entry gives none
};

// The scope an issuing distribution point limits the list to (RFC 5280 5.2.5).
enum class TCvCRLScope { All, UserCertificates, CACertificates };

struct TCvCRL {
  int Version = 1;         // 1 or 2
  ByteString TBSCertList;  // DER, the signed bytes
  ByteString IssuerNameDER;
  TDateTime ThisUpdate = 0;
  bool HasNextUpdate = false;
  TDateTime NextUpdate = 0;
  TCvCRLScope Scope = TCvCRLScope::All;
  std::vector<TCvRevokedEntry> Revoked;
  ByteString SignatureAlgorithm;  // AlgorithmIdentifier DER
  ByteString Signature;           // BIT STRING content without the unused-bits octet

  // The entry for a serial (INTEGER content octets); nullptr when it is not listed.
  const TCvRevokedEntry* Find(std::string_view serial) const;
};

// Reads a DER CertificateList; false with the cause when it is malformed or
// carries a critical extension (list or entry) this code does not process.
bool ParseCRL(std::string_view der, TCvCRL& crl, std::string& error);

// The list is issued by issuer: the names agree, the issuer's key usage allows
// cRLSign when it is present, the signature verifies with the issuer's key.
bool VerifyCRL(const TCvCRL& crl, const TOvX509Certificate& issuer, std::string& error);

// The list covers certificate (its issuer and the list's scope).
bool CRLCovers(const TCvCRL& crl, const TOvX509Certificate& certificate);

}  // namespace corvane
