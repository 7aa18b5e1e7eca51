// Certification paths (RFC 5280 6): from a signer certificate up to a trust
// anchor through candidate certificates, every link's signature verified and
// the basic constraints, key usages, validity periods and critical extensions
// of every certificate on the way checked at one moment.
//
// The caller gathers the certificates (those a message carries, a database's
// authorities, anchors it was given); nothing here knows where they came from.
// None of them is owned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvX509Certificate;

// Why a path was refused; cpfNone when it was accepted.
enum TCvPathFailure {
  cpfNone,
  cpfNoAnchor,           // no issuer found, or the issuers found lead to no anchor
  cpfBadSignature,       // a certificate's signature does not verify with its issuer's key
  cpfNotYetValid,        // a certificate's validity starts after the moment
  cpfExpired,            // a certificate's validity ended before the moment
  cpfNotCA,              // an issuer without basicConstraints cA
  cpfPathLength,         // an issuer's pathLenConstraint is exceeded
  cpfIssuerKeyUsage,     // an issuer whose key usage lacks keyCertSign
  cpfSignerKeyUsage,     // the signer's key usage allows neither signing bit
  cpfCriticalExtension,  // a critical extension that is not processed here
  cpfTooLong,            // the path would exceed the depth limit
  cpfNoSigner,           // no signer certificate was given
};

struct TOvCertPathResult {
  // A path to an anchor was found and every check passed.
  bool Trusted = false;
  TCvPathFailure Failure = cpfNoSigner;
  // The first failure in plain English ("no trust anchor for issuer CN=..."); empty when trusted.
  std::string Reason;
  // Every certificate of Path is within its validity period at the moment.
  bool ValidAtMoment = false;
  // The path accepted, or the one whose failure is reported: the signer first,
  // the anchor last when one was reached.
  std::vector<const TOvX509Certificate*> Path;
};

class TOvCertificatePath {
 public:
  // Longest path accepted, the signer and the anchor included.
  static constexpr int DEFAULT_MAX_DEPTH = 12;
  // Issuer signatures checked at most while searching, so that many
  // certificates of one name cannot make the search run long.
  static constexpr int MAX_SIGNATURE_CHECKS = 512;
  // Certificates tried as the next link at most, for the same reason.
  static constexpr int MAX_SEARCH_STEPS = 4096;

  // Certificates that may stand between the signer and an anchor.
  void AddIntermediate(const TOvX509Certificate* certificate);
  // Certificates trusted as they are: a path ends at the first one reached.
  void AddAnchor(const TOvX509Certificate* certificate);
  void Clear();

  int MaxDepth() const { return max_depth_; }
  void SetMaxDepth(int value) { max_depth_ = value < 1 ? 1 : value; }

  // Builds and checks the paths from signer at the moment (UTC); the first
  // path that passes every check wins. Never raises.
  TOvCertPathResult Validate(const TOvX509Certificate* signer, TDateTime moment) const;

 private:
  struct TCandidate {
    const TOvX509Certificate* Certificate;
    bool Anchor;
  };
  std::vector<TCandidate> candidates_;
  int max_depth_ = DEFAULT_MAX_DEPTH;
};

// One call over the same: intermediates and anchors as they come.
TOvCertPathResult BuildAndValidatePath(const TOvX509Certificate* signer,
                                       const std::vector<const TOvX509Certificate*>& intermediates,
                                       const std::vector<const TOvX509Certificate*>& anchors,
                                       TDateTime moment);

// "CN=<common name>", else "O=<organization>", else the other attributes of
// the name record; control characters become "?".
std::string CertificateNameText(const TOvX509Certificate& certificate, bool issuer);

}  // namespace corvane
