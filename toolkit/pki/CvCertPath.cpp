#include "toolkit/pki/CvCertPath.h"

#include <exception>
#include <map>
#include <unordered_map>
#include <utility>

#include "toolkit/pki/CvX509.h"
#include "toolkit/pki/CvX509Ext.h"

namespace corvane {

namespace {

// Known kinds whose rules this code does not apply; critical, they refuse.
constexpr std::string_view kNameConstraints{"\x55\x1D\x1E", 3};
constexpr std::string_view kPolicyMappings{"\x55\x1D\x21", 3};
constexpr std::string_view kPolicyConstraints{"\x55\x1D\x24", 3};

std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

std::string Named(const TOvX509Certificate& c) { return CertificateNameText(c, false); }

bool WithinValidity(const TOvX509Certificate& c, TDateTime moment) {
  return c.ValidFrom() <= moment && moment <= c.ValidTo();
}

// c issued x: c's subject is x's issuer, and their key identifiers agree when both are given.
bool IssuedBy(const TOvX509Certificate& x, const TOvX509Certificate& c) {
  if (c.SubjectNameDER() != x.IssuerNameDER() && !c.SubjectRDN().Equals(x.IssuerRDN()))
    return false;
  const TOvCertificateExtensions& xe = x.Extensions();
  const TOvCertificateExtensions& ce = c.Extensions();
  if (xe.IsPresent(cekAuthorityKeyIdentifier) && ce.IsPresent(cekSubjectKeyIdentifier)) {
    const ByteString& aki = xe.AuthorityKeyIdentifier().KeyIdentifier;
    const ByteString& ski = ce.SubjectKeyIdentifier().KeyIdentifier;
    if (!aki.empty() && !ski.empty() && aki != ski) return false;
  }
  return true;
}

// Checks every certificate needs: critical extensions and validity.
TCvPathFailure CheckAny(const TOvX509Certificate& c, TDateTime moment, std::string& reason) {
  const TOvCertificateExtensions& e = c.Extensions();
  for (const auto& other : e.OtherExtensions()) {
    if (other != nullptr && other->Critical()) {
      reason = "unknown critical extension " + OIDToText(other->OID()) + " in " + Named(c);
      return cpfCriticalExtension;
    }
  }
  const std::pair<uint32_t, std::string_view> unapplied[] = {
      {cekNameConstraints, kNameConstraints},
      {cekPolicyMappings, kPolicyMappings},
      {cekPolicyConstraints, kPolicyConstraints}};
  for (const auto& [kind, oid] : unapplied) {
    const bool critical = kind == cekNameConstraints  ? e.NameConstraints().Critical()
                          : kind == cekPolicyMappings ? e.PolicyMappings().Critical()
                                                      : e.PolicyConstraints().Critical();
    if (e.IsPresent(kind) && critical) {
      reason = "unsupported critical extension " + OIDToText(oid) + " in " + Named(c);
      return cpfCriticalExtension;
    }
  }
  if (moment < c.ValidFrom()) {
    reason = "certificate " + Named(c) + " not yet valid at signing time";
    return cpfNotYetValid;
  }
  if (moment > c.ValidTo()) {
    reason = "certificate " + Named(c) + " expired at signing time";
    return cpfExpired;
  }
  return cpfNone;
}

// An issuer with `below` certificates between it and the signer, self-issued ones not counted.
TCvPathFailure CheckIssuer(const TOvX509Certificate& c, int below, bool anchor,
                           std::string& reason) {
  const TOvCertificateExtensions& e = c.Extensions();
  // A version-1 anchor predates basicConstraints; being trusted is its CA mark.
  const bool oldAnchor = anchor && c.Version() < 3;
  if (!oldAnchor && !(e.IsPresent(cekBasicConstraints) && e.BasicConstraints().CA)) {
    reason = "issuer " + Named(c) + " is not a certification authority";
    return cpfNotCA;
  }
  if (e.IsPresent(cekBasicConstraints) && e.BasicConstraints().PathLenConstraint >= 0 &&
      below > e.BasicConstraints().PathLenConstraint) {
    reason = "path length constraint of " + Named(c) + " exceeded";
    return cpfPathLength;
  }
  if (e.IsPresent(cekKeyUsage) && !e.KeyUsage().KeyCertSign) {
    reason = "key usage of issuer " + Named(c) + " does not allow signing certificates";
    return cpfIssuerKeyUsage;
  }
  return cpfNone;
}

TCvPathFailure CheckSigner(const TOvX509Certificate& c, std::string& reason) {
  const TOvCertificateExtensions& e = c.Extensions();
  if (e.IsPresent(cekKeyUsage) && !e.KeyUsage().DigitalSignature && !e.KeyUsage().NonRepudiation) {
    reason = "signer key usage does not allow signing";
    return cpfSignerKeyUsage;
  }
  return cpfNone;
}

struct TPathCandidate {
  const TOvX509Certificate* Certificate;
  bool Anchor;
};

// Paths are searched depth first; a certificate stands at most once on a path.
class TSearch {
 public:
  TSearch(const std::vector<TPathCandidate>& candidates, TDateTime moment, int maxDepth)
      : candidates_(candidates),
        moment_(moment),
        max_depth_(maxDepth),
        on_path_(candidates.size(), false) {}

  // Returns the accepted path or the first failure met.
  TOvCertPathResult Run(const TOvX509Certificate& signer, bool signerIsAnchor) {
    path_.push_back(&signer);
    if (signerIsAnchor) {
      Complete();
    } else {
      Extend(signer);
    }
    if (!accepted_ && !have_report_) {
      report_.Failure = cpfNoAnchor;
      report_.Reason = "no trust anchor found for " + Named(signer);
      report_.Path = {&signer};
    }
    TOvCertPathResult result = report_;
    result.ValidAtMoment = !result.Path.empty();
    for (const TOvX509Certificate* c : result.Path)
      if (!WithinValidity(*c, moment_)) result.ValidAtMoment = false;
    return result;
  }

 private:
  void Report(TCvPathFailure failure, std::string reason, bool complete) {
    // A complete path's failure says more than a dead end; otherwise the first one wins.
    if (have_report_ && (report_complete_ || !complete)) return;
    have_report_ = true;
    report_complete_ = complete;
    report_.Trusted = false;
    report_.Failure = failure;
    report_.Reason = std::move(reason);
    report_.Path = path_;
  }

  // The path ends at an anchor: every check, from the signer up.
  void Complete() {
    std::string reason;
    TCvPathFailure failure = CheckAny(*path_[0], moment_, reason);
    if (failure == cpfNone) failure = CheckSigner(*path_[0], reason);
    int below = 0;
    for (size_t i = 1; i < path_.size() && failure == cpfNone; ++i) {
      const bool anchor = i + 1 == path_.size();
      failure = CheckAny(*path_[i], moment_, reason);
      if (failure == cpfNone) failure = CheckIssuer(*path_[i], below, anchor, reason);
      if (!path_[i]->IsSelfIssued()) ++below;
    }
    if (failure != cpfNone) {
      Report(failure, reason, true);
      return;
    }
    accepted_ = true;
    report_ = TOvCertPathResult{};
    report_.Trusted = true;
    report_.Failure = cpfNone;
    report_.Path = path_;
  }

  bool SignatureHolds(const TOvX509Certificate& x, const TOvX509Certificate& issuer) {
    const auto key = std::make_pair(&x, &issuer);
    const auto known = signatures_.find(key);
    if (known != signatures_.end()) return known->second;
    if (checks_left_ <= 0) return false;
    --checks_left_;
    bool holds = false;
    try {
      holds = x.ValidateWithIssuer(issuer);
    } catch (const std::exception&) {
      holds = false;
    }
    signatures_.emplace(key, holds);
    return holds;
  }

  void Extend(const TOvX509Certificate& current) {
    if (--steps_left_ < 0) {
      Report(cpfNoAnchor,
             "no trust anchor found for " + Named(*path_[0]) + " within the search limit", false);
      return;
    }
    if (static_cast<int>(path_.size()) >= max_depth_) {
      Report(cpfTooLong,
             "no trust anchor within " + std::to_string(max_depth_) + " certificates of " +
                 Named(*path_[0]),
             false);
      return;
    }
    bool named = false;
    for (size_t i = 0; i < candidates_.size() && !accepted_; ++i) {
      const TOvX509Certificate& c = *candidates_[i].Certificate;
      if (on_path_[i] || !IssuedBy(current, c)) continue;
      named = true;
      if (checks_left_ <= 0 && signatures_.find({&current, &c}) == signatures_.end()) {
        Report(cpfNoAnchor,
               "no trust anchor found for " + Named(*path_[0]) + " within the search limit", false);
        return;
      }
      if (!SignatureHolds(current, c)) {
        Report(cpfBadSignature,
               "signature of " + Named(current) + " does not verify with the key of " + Named(c),
               false);
        continue;
      }
      on_path_[i] = true;
      path_.push_back(&c);
      if (candidates_[i].Anchor)
        Complete();
      else
        Extend(c);
      path_.pop_back();
      on_path_[i] = false;
    }
    if (!named) {
      if (current.IsSelfIssued())
        Report(cpfNoAnchor, "self-signed certificate " + Named(current) + " is not a trust anchor",
               false);
      else
        Report(cpfNoAnchor, "no trust anchor for issuer " + CertificateNameText(current, true),
               false);
    }
  }

  const std::vector<TPathCandidate>& candidates_;
  TDateTime moment_;
  int max_depth_;
  int checks_left_ = TOvCertificatePath::MAX_SIGNATURE_CHECKS;
  int steps_left_ = TOvCertificatePath::MAX_SEARCH_STEPS;
  std::vector<bool> on_path_;
  std::vector<const TOvX509Certificate*> path_;
  std::map<std::pair<const TOvX509Certificate*, const TOvX509Certificate*>, bool> signatures_;
  bool accepted_ = false;
  bool have_report_ = false;
  bool report_complete_ = false;
  TOvCertPathResult report_;
};

}  // namespace

std::string CertificateNameText(const TOvX509Certificate& certificate, bool issuer) {
  const TOvCertificateName& n = issuer ? certificate.IssuerName() : certificate.SubjectName();
  const std::pair<const char*, const std::string*> parts[] = {
      {"CN=", &n.CommonName}, {"O=", &n.Organization}, {"OU=", &n.OrganizationUnit},
      {"E=", &n.EMail},       {"L=", &n.Locality},     {"C=", &n.Country}};
  for (const auto& [label, value] : parts)
    if (!value->empty()) return Printable(label + *value);
  return "(no name)";
}

void TOvCertificatePath::AddIntermediate(const TOvX509Certificate* certificate) {
  if (certificate != nullptr && !certificate->IsEmpty())
    candidates_.push_back({certificate, false});
}

void TOvCertificatePath::AddAnchor(const TOvX509Certificate* certificate) {
  if (certificate != nullptr && !certificate->IsEmpty()) candidates_.push_back({certificate, true});
}

void TOvCertificatePath::Clear() { candidates_.clear(); }

TOvCertPathResult TOvCertificatePath::Validate(const TOvX509Certificate* signer,
                                               TDateTime moment) const {
  TOvCertPathResult result;
  if (signer == nullptr || signer->IsEmpty()) {
    result.Failure = cpfNoSigner;
    result.Reason = "no signer certificate";
    return result;
  }
  try {
    // One entry per encoding: anchors first, so a certificate given both ways
    // is an anchor, and the signer itself is no candidate above itself.
    std::vector<TPathCandidate> unique;
    std::unordered_map<std::string_view, size_t> seen;
    bool signerIsAnchor = false;
    for (const bool anchors : {true, false}) {
      for (const TCandidate& c : candidates_) {
        if (c.Anchor != anchors) continue;
        const std::string_view bytes = c.Certificate->CertificateBinary();
        if (bytes == signer->CertificateBinary()) {
          signerIsAnchor = signerIsAnchor || c.Anchor;
          continue;
        }
        if (seen.emplace(bytes, unique.size()).second) unique.push_back({c.Certificate, c.Anchor});
      }
    }
    TSearch search(unique, moment, max_depth_);
    return search.Run(*signer, signerIsAnchor);
  } catch (const std::exception& e) {
    result.Failure = cpfNoAnchor;
    result.Reason = std::string("path could not be built: ") + e.what();
    return result;
  }
}

TOvCertPathResult BuildAndValidatePath(const TOvX509Certificate* signer,
                                       const std::vector<const TOvX509Certificate*>& intermediates,
                                       const std::vector<const TOvX509Certificate*>& anchors,
                                       TDateTime moment) {
  TOvCertificatePath path;
  for (const TOvX509Certificate* c : anchors) path.AddAnchor(c);
  for (const TOvX509Certificate* c : intermediates) path.AddIntermediate(c);
  return path.Validate(signer, moment);
}

}  // namespace corvane
