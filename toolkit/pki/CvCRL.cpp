#include "toolkit/pki/CvCRL.h"

#include <exception>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/pki/CvRevocationDER.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

using revocation_der::ForEachExtension;
using revocation_der::ReadTime;
using revocation_der::TExtension;

constexpr std::string_view kAuthorityKeyIdentifier{"\x55\x1D\x23", 3};
constexpr std::string_view kCRLNumber{"\x55\x1D\x14", 3};
constexpr std::string_view kIssuingDistributionPoint{"\x55\x1D\x1C", 3};
constexpr std::string_view kReasonCode{"\x55\x1D\x15", 3};
constexpr std::string_view kInvalidityDate{"\x55\x1D\x18", 3};

// IssuingDistributionPoint ::= SEQUENCE { distributionPoint [0] OPTIONAL,
//   onlyContainsUserCerts [1] BOOLEAN DEFAULT FALSE, onlyContainsCACerts [2],
//   onlySomeReasons [3], indirectCRL [4], onlyContainsAttributeCerts [5] }
// Only the scopes by certificate kind are applied; a list limited to some
// reasons, or one that lists other issuers' certificates, is refused.
bool ReadScope(std::string_view value, TCvCRLScope& scope, std::string& error) {
  TCvDERReader outer(value);
  std::string_view body;
  if (!outer.Read(ASN1_SEQUENCE, body) || !outer.AtEnd()) return false;
  TCvDERReader fields(body);
  std::string_view content, whole;
  uint8_t tag = 0;
  bool user = false, ca = false;
  while (!fields.AtEnd()) {
    if (!fields.ReadAny(tag, content, whole)) return false;
    const bool flag = content.size() == 1 && content[0] != 0;
    switch (tag) {
      case 0xA0:
        break;
      case 0x81:
        user = flag;
        break;
      case 0x82:
        ca = flag;
        break;
      case 0x83:
      case 0x84:
      case 0x85:
        error = "CRL covers only some reasons or other issuers, which is not supported";
        return false;
      default:
        return false;
    }
  }
  if (user && ca) return false;
  scope = user ? TCvCRLScope::UserCertificates
          : ca ? TCvCRLScope::CACertificates
               : TCvCRLScope::All;
  return true;
}

bool ReadEntry(std::string_view body, TCvRevokedEntry& entry, std::string& error) {
  TCvDERReader fields(body);
  std::string_view serial, extensions;
  if (!fields.Read(ASN1_INTEGER, serial) || serial.empty() ||
      !ReadTime(fields, entry.RevocationDate))
    return false;
  entry.Serial = serial;
  if (fields.Read(ASN1_SEQUENCE, extensions)) {
    bool ok = ForEachExtension(extensions, [&](const TExtension& e) {
      if (e.OID == kReasonCode) return revocation_der::ReadSmallEnumerated(e.Value, entry.Reason);
      if (e.OID == kInvalidityDate || !e.Critical) return true;
      error = "CRL entry has an unknown critical extension";
      return false;
    });
    if (!ok) return false;
  }
  return fields.AtEnd();
}

bool ReadTBS(std::string_view body, TCvCRL& crl, std::string& error) {
  TCvDERReader fields(body);
  std::string_view version, algorithm, issuerContent, issuerWhole, list, wrapped, extensions;
  uint8_t tag = 0;
  if (fields.ReadUnsigned(version)) {
    // Only v2 writes its version (RFC 5280 5.1.2.1).
    if (version != std::string_view("\x01", 1)) {
      error = "CRL has an unknown version";
      return false;
    }
    crl.Version = 2;
  }
  if (!fields.Read(ASN1_SEQUENCE, algorithm) || !fields.ReadAny(tag, issuerContent, issuerWhole) ||
      tag != ASN1_SEQUENCE || !ReadTime(fields, crl.ThisUpdate))
    return false;
  crl.IssuerNameDER = issuerWhole;
  const uint8_t next = fields.PeekTag();
  if (next == ASN1_UTC_TIME || next == ASN1_GENERALIZED_TIME) {
    if (!ReadTime(fields, crl.NextUpdate)) return false;
    crl.HasNextUpdate = true;
  }
  if (fields.Read(ASN1_SEQUENCE, list)) {
    TCvDERReader entries(list);
    while (!entries.AtEnd()) {
      std::string_view entry;
      if (crl.Revoked.size() >= revocation_der::MAX_REVOKED_ENTRIES ||
          !entries.Read(ASN1_SEQUENCE, entry) ||
          !ReadEntry(entry, crl.Revoked.emplace_back(), error))
        return false;
    }
  }
  if (fields.Read(0xA0, wrapped)) {
    TCvDERReader outer(wrapped);
    if (crl.Version != 2 || !outer.Read(ASN1_SEQUENCE, extensions) || !outer.AtEnd()) return false;
    bool ok = ForEachExtension(extensions, [&](const TExtension& e) {
      if (e.OID == kIssuingDistributionPoint) return ReadScope(e.Value, crl.Scope, error);
      if (e.OID == kAuthorityKeyIdentifier || e.OID == kCRLNumber || !e.Critical) return true;
      // A delta CRL's indicator is critical and lands here too: deltas are not applied.
      error = "CRL has an unknown critical extension";
      return false;
    });
    if (!ok) return false;
  }
  return fields.AtEnd();
}

bool NamesAgree(std::string_view crlIssuer, const TOvX509Certificate& certificate, bool subject) {
  const ByteString& der = subject ? certificate.SubjectNameDER() : certificate.IssuerNameDER();
  if (der == crlIssuer) return true;
  try {
    TOvRelativeDistinguishedName name;
    TOvASN1ConstrainedTag root;
    if (!root.LoadFromBytes(crlIssuer) || root.Count() != 1 || root.ConstrainedChild(0) == nullptr)
      return false;
    name.LoadFromTag(*root.ConstrainedChild(0), false);
    return name.Equals(subject ? certificate.SubjectRDN() : certificate.IssuerRDN());
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

const TCvRevokedEntry* TCvCRL::Find(std::string_view serial) const {
  for (const TCvRevokedEntry& entry : Revoked)
    if (entry.Serial == serial) return &entry;
  return nullptr;
}

bool ParseCRL(std::string_view der, TCvCRL& crl, std::string& error) {
  crl = TCvCRL{};
  error.clear();
  try {
    // CertificateList ::= SEQUENCE { tbsCertList, signatureAlgorithm, signatureValue }
    TCvDERReader outer(der);
    std::string_view body, tbs, tbsWhole, algorithm, algorithmWhole, signature;
    uint8_t tag = 0;
    bool ok = outer.Read(ASN1_SEQUENCE, body) && outer.AtEnd();
    TCvDERReader fields(body);
    ok = ok && fields.ReadAny(tag, tbs, tbsWhole) && tag == ASN1_SEQUENCE &&
         fields.ReadAny(tag, algorithm, algorithmWhole) && tag == ASN1_SEQUENCE &&
         fields.Read(ASN1_BIT_STRING, signature) && !signature.empty() && signature[0] == 0 &&
         fields.AtEnd();
    if (ok) {
      crl.TBSCertList = tbsWhole;
      crl.SignatureAlgorithm = algorithmWhole;
      crl.Signature = signature.substr(1);
      ok = ReadTBS(tbs, crl, error);
    }
    if (!ok && error.empty()) error = "CRL is malformed";
    if (ok && crl.HasNextUpdate && crl.NextUpdate < crl.ThisUpdate) {
      error = "CRL's next update is before its this update";
      ok = false;
    }
    if (!ok) crl = TCvCRL{};
    return ok;
  } catch (const std::exception&) {
    crl = TCvCRL{};
    error = "CRL is malformed";
    return false;
  }
}

bool VerifyCRL(const TCvCRL& crl, const TOvX509Certificate& issuer, std::string& error) {
  if (!NamesAgree(crl.IssuerNameDER, issuer, true)) {
    error = "CRL is issued by another authority";
    return false;
  }
  const TOvCertificateExtensions& e = issuer.Extensions();
  if (e.IsPresent(cekKeyUsage) && !e.KeyUsage().CRLSign) {
    error = "CRL issuer's key usage does not allow signing CRLs";
    return false;
  }
  if (!issuer.VerifySignedData(crl.SignatureAlgorithm, crl.TBSCertList, crl.Signature)) {
    error = "CRL signature does not verify";
    return false;
  }
  return true;
}

bool CRLCovers(const TCvCRL& crl, const TOvX509Certificate& certificate) {
  if (!NamesAgree(crl.IssuerNameDER, certificate, false)) return false;
  const TOvCertificateExtensions& e = certificate.Extensions();
  const bool ca = e.IsPresent(cekBasicConstraints) && e.BasicConstraints().CA;
  switch (crl.Scope) {
    case TCvCRLScope::UserCertificates:
      return !ca;
    case TCvCRLScope::CACertificates:
      return ca;
    default:
      return true;
  }
}

}  // namespace corvane
