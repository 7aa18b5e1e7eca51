// Gathering the validation data of a certificate: its path, then an answer
// about every certificate of the path and of the responders that gave them.
#include <exception>
#include <memory>
#include <set>
#include <string_view>

#include "toolkit/pki/CvCertPath.h"
#include "toolkit/pki/CvOCSP.h"
#include "toolkit/pki/CvRevocation.h"
#include "toolkit/pki/CvRevocationDER.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

constexpr std::string_view kOCSPNoCheck{"\x2B\x06\x01\x05\x05\x07\x30\x01\x05", 9};
// Issuer certificates fetched from caIssuers URLs per path at most.
constexpr int kMaxIssuerFetches = 8;
// Responders whose own certificates need an answer: a responder answering
// about a responder, and so on, stops here.
constexpr int kMaxResponderDepth = 3;

bool HasNoCheck(const TOvX509Certificate& certificate) {
  for (const auto& other : certificate.Extensions().OtherExtensions())
    if (other != nullptr && other->OID() == kOCSPNoCheck) return true;
  return false;
}

// The delegated responder certificate of a successful OCSP response; empty
// when the issuer signed it.
ByteString ResponderOf(const ByteString& der, const TOvX509Certificate& certificate,
                       const TOvX509Certificate& issuer) {
  TCvOCSPResponse response;
  std::string error;
  const TCvOCSPSingleResponse* single = nullptr;
  ByteString responder;
  if (!ParseOCSPResponse(der, response, error) ||
      !VerifyOCSPResponse(response, certificate, issuer, single, responder, error))
    return {};
  return responder;
}

}  // namespace

struct TOvValidationDataCollector::TState {
  TCvRevocationFetchOptions Options;
  TOvRevocationFetcher Fetcher;
  std::vector<const TOvX509Certificate*> Candidates;
  std::vector<const TOvX509Certificate*> Anchors;
  // Issuer and responder certificates fetched or read from answers.
  std::vector<std::unique_ptr<TOvX509Certificate>> Owned;
  // Everything fetched so far, so that a certificate shared by several paths is asked once.
  TCvValidationData Fetched;

  explicit TState(TCvRevocationFetchOptions options) : Options(options), Fetcher(options) {}

  const TOvX509Certificate* Own(const ByteString& der) {
    for (const auto& c : Owned)
      if (c->CertificateBinary() == der) return c.get();
    std::unique_ptr<TOvX509Certificate> certificate = LoadCertificateOrNull(der);
    if (!certificate) return nullptr;
    Owned.push_back(std::move(certificate));
    return Owned.back().get();
  }

  TOvCertPathResult BuildPath(const TOvX509Certificate& certificate, TDateTime moment,
                              std::string& fetchError) {
    for (int round = 0;; ++round) {
      TOvCertificatePath path;
      for (const TOvX509Certificate* c : Anchors) path.AddAnchor(c);
      for (const TOvX509Certificate* c : Candidates) path.AddIntermediate(c);
      for (const auto& c : Owned) path.AddIntermediate(c.get());
      TOvCertPathResult result = path.Validate(&certificate, moment);
      if (result.Trusted || result.Failure != cpfNoAnchor || result.Path.empty() ||
          round >= kMaxIssuerFetches)
        return result;
      // A link is missing above the last certificate reached: ask its caIssuers URL.
      const TOvX509Certificate& top = *result.Path.back();
      bool added = false;
      for (const ByteString& der : Fetcher.FetchIssuers(top, fetchError)) {
        const size_t before = Owned.size();
        if (Own(der) != nullptr && Owned.size() > before) added = true;
      }
      if (!added) return result;
    }
  }

  // An answer about certificate (issued by issuer) added to data; false with
  // the cause when none can be had or it says revoked at the moment.
  bool Answer(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
              const std::string& role, TDateTime moment, int depth, TCvValidationData& data,
              std::string& error) {
    TCvRevocationResult judged = CheckRevocation(certificate, issuer, Fetched, moment, true);
    if (judged.Status != TCvRevocationStatus::Good &&
        judged.Status != TCvRevocationStatus::Revoked) {
      std::string causes;
      if (!Fetcher.FetchOCSPOrCRL(certificate, issuer, Fetched, causes)) {
        error = "no revocation information for " + role + " " +
                CertificateNameText(certificate, false) + ": " + causes;
        return false;
      }
      judged = CheckRevocation(certificate, issuer, Fetched, moment, true);
    }
    if (judged.Status == TCvRevocationStatus::Revoked) {
      error = role + " " + CertificateNameText(certificate, false) + " is revoked (since " +
              revocation_der::RevocationTimeText(judged.RevocationTime) + ")";
      return false;
    }
    if (judged.Status != TCvRevocationStatus::Good) {
      error = "revocation of " + role + " " + CertificateNameText(certificate, false) +
              " cannot be decided: " + judged.Detail;
      return false;
    }
    // Only the answers about this certificate go into data. A copy: asking
    // about a responder below adds to Fetched.
    const std::vector<ByteString> answers = Fetched.OCSPs;
    for (const ByteString& der : answers) {
      TCvValidationData one;
      one.OCSPs.push_back(der);
      if (CheckRevocation(certificate, issuer, one, moment, true).Status !=
          TCvRevocationStatus::Good)
        continue;
      data.OCSPs.push_back(der);
      // The responder that signed it needs an answer of its own (RFC 6960 4.2.2.2.1).
      const ByteString responderDER = ResponderOf(der, certificate, issuer);
      if (responderDER.empty()) continue;
      data.Certificates.push_back(responderDER);
      const TOvX509Certificate* responder = Own(responderDER);
      if (responder == nullptr || HasNoCheck(*responder)) continue;
      if (depth >= kMaxResponderDepth) {
        error = "OCSP responders answer about each other beyond " +
                std::to_string(kMaxResponderDepth) + " levels";
        return false;
      }
      if (!Answer(*responder, issuer, "the OCSP responder's certificate", moment, depth + 1, data,
                  error))
        return false;
    }
    for (const ByteString& der : Fetched.CRLs) {
      TCvValidationData one;
      one.CRLs.push_back(der);
      if (CheckRevocation(certificate, issuer, one, moment, true).Status ==
          TCvRevocationStatus::Good)
        data.CRLs.push_back(der);
    }
    return true;
  }
};

TOvValidationDataCollector::TOvValidationDataCollector(TCvRevocationFetchOptions options)
    : state_(std::make_unique<TState>(options)) {}

TOvValidationDataCollector::~TOvValidationDataCollector() = default;

void TOvValidationDataCollector::AddCandidate(const TOvX509Certificate* certificate) {
  if (certificate != nullptr && !certificate->IsEmpty()) state_->Candidates.push_back(certificate);
}

void TOvValidationDataCollector::AddAnchor(const TOvX509Certificate* certificate) {
  if (certificate != nullptr && !certificate->IsEmpty()) state_->Anchors.push_back(certificate);
}

bool TOvValidationDataCollector::Collect(const TOvX509Certificate& certificate, TDateTime moment,
                                         TCvValidationData& data, std::string& error) {
  error.clear();
  try {
    std::string fetchError;
    const TOvCertPathResult path = state_->BuildPath(certificate, moment, fetchError);
    if (!path.Trusted) {
      error = path.Reason.empty() ? "no certification path" : path.Reason;
      if (!fetchError.empty()) error += " (" + fetchError + ")";
      return false;
    }
    // Nothing reaches data unless every certificate got its answer.
    TCvValidationData gathered;
    for (const TOvX509Certificate* c : path.Path)
      gathered.Certificates.emplace_back(c->CertificateBinary());
    for (size_t i = 0; i + 1 < path.Path.size(); ++i) {
      const std::string role = i == 0 ? "the signer's certificate" : "the authority's certificate";
      if (!state_->Answer(*path.Path[i], *path.Path[i + 1], role, moment, 0, gathered, error))
        return false;
    }
    data.Merge(gathered);
    return true;
  } catch (const std::exception& e) {
    error = std::string("validation data could not be gathered: ") + e.what();
    return false;
  }
}

}  // namespace corvane
