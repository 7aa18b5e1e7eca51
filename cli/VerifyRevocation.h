// The revocation part of "tavrapdf verify": the status of a signature's
// certificates at the moment it is judged at, from the validation data the
// document embeds and, unless offline, from the responders and distribution
// points the certificates name.
#pragma once

#include <string>
#include <vector>

#include "toolkit/pki/CvValidationData.h"

namespace corvane {
class TOvX509Certificate;
}

namespace tavra {

// One status for the whole path: the worst of its certificates' (revoked,
// then unknown, then not checked, then good), and which certificate it is.
struct TRevocationReport {
  corvane::TCvRevocationStatus Status = corvane::TCvRevocationStatus::NotChecked;
  corvane::TCvRevocationSource Source = corvane::TCvRevocationSource::None;
  double RevocationTime = 0;  // when Revoked
  std::string Detail;         // why Unknown or NotChecked; the reason when Revoked
  std::string Certificate;    // "CN=..." of the certificate the status is of
  bool OfSigner = true;       // that certificate is the signer's own
};

// Judges every certificate of path (the signer first; each issued by the
// next) but an anchor that ends it, at moment. Embedded data decide first;
// a certificate they do not decide for is asked about online unless offline
// is set (and only when it names a responder or a distribution point).
// Never raises.
TRevocationReport JudgeRevocation(const std::vector<const corvane::TOvX509Certificate*>& path,
                                  bool endsAtAnchor, const corvane::TCvValidationData& embedded,
                                  double moment, bool offline);

}  // namespace tavra
