// Validation data for long-term validation: the certificates of the paths
// and the revocation answers (OCSP responses, CRLs) that show each of them
// was not revoked. It is what a document security store holds and what the
// revocation-info-archival attribute of a signature carries; every item is
// DER as it came, so that it can be stored and checked again byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvX509Certificate;

struct TCvValidationData {
  std::vector<ByteString> Certificates;  // DER Certificate
  std::vector<ByteString> OCSPs;         // DER OCSPResponse (the whole response)
  std::vector<ByteString> CRLs;          // DER CertificateList

  bool Empty() const { return Certificates.empty() && OCSPs.empty() && CRLs.empty(); }
  // Adds the items of other that are not here yet (byte-equal items are one).
  void Merge(const TCvValidationData& other);
};

enum class TCvRevocationStatus {
  NotChecked,  // nothing was asked or found
  Good,        // an answer says not revoked at the moment
  Revoked,     // revoked at or before the moment
  Unknown,     // answers were found but none decides (unknown serial, stale, unverifiable)
};

enum class TCvRevocationSource {
  None,
  EmbeddedOCSP,  // an OCSP response of the document (DSS or the signature's archive)
  EmbeddedCRL,
  OnlineOCSP,  // fetched from the responder the certificate names
  OnlineCRL,
};

// One certificate's revocation as judged at one moment.
struct TCvRevocationResult {
  TCvRevocationStatus Status = TCvRevocationStatus::NotChecked;
  TCvRevocationSource Source = TCvRevocationSource::None;
  TDateTime RevocationTime = 0;  // when Revoked
  std::string Detail;            // plain English: why Unknown, or the revocation reason
};

// "good", "revoked", "unknown", "not checked"
std::string RevocationStatusText(TCvRevocationStatus status);
// "embedded OCSP", "embedded CRL", "OCSP", "CRL", ""
std::string RevocationSourceText(TCvRevocationSource source);

}  // namespace corvane
