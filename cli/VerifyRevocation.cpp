#include "cli/VerifyRevocation.h"

#include <exception>

#include "toolkit/pki/CvCertPath.h"
#include "toolkit/pki/CvRevocation.h"
#include "toolkit/pki/CvX509.h"
#include "toolkit/pki/CvX509Ext.h"

namespace tavra {

using namespace corvane;

namespace {

// Higher is worse; the path reports its worst.
int Severity(TCvRevocationStatus status) {
  switch (status) {
    case TCvRevocationStatus::Revoked:
      return 3;
    case TCvRevocationStatus::Unknown:
      return 2;
    case TCvRevocationStatus::NotChecked:
      return 1;
    case TCvRevocationStatus::Good:
      break;
  }
  return 0;
}

bool Decided(TCvRevocationStatus status) {
  return status == TCvRevocationStatus::Good || status == TCvRevocationStatus::Revoked;
}

bool NamesWhereToAsk(const TOvX509Certificate& certificate) {
  const TOvCertificateExtensions& e = certificate.Extensions();
  return e.IsPresent(cekAuthorityInformationAccess) || e.IsPresent(cekCRLDistributionPoints);
}

// The responder first, the distribution point when it gives no usable answer.
TCvRevocationResult AskOnline(const TOvX509Certificate& certificate,
                              const TOvX509Certificate& issuer, double moment) {
  TOvRevocationFetcher fetcher;
  TCvValidationData fetched;
  std::string error;
  if (!fetcher.FetchOCSPOrCRL(certificate, issuer, fetched, error)) {
    TCvRevocationResult failed;
    failed.Status = TCvRevocationStatus::Unknown;
    failed.Detail = error;
    return failed;
  }
  return CheckRevocation(certificate, issuer, fetched, moment, true);
}

TCvRevocationResult JudgeOne(const TOvX509Certificate& certificate,
                             const TOvX509Certificate& issuer, const TCvValidationData& embedded,
                             double moment, bool offline) {
  TCvRevocationResult result = CheckRevocation(certificate, issuer, embedded, moment);
  if (offline || Decided(result.Status) || !NamesWhereToAsk(certificate)) return result;
  const TCvRevocationResult online = AskOnline(certificate, issuer, moment);
  if (Decided(online.Status) || result.Status == TCvRevocationStatus::NotChecked) return online;
  result.Detail += "; " + online.Detail;
  return result;
}

}  // namespace

TRevocationReport JudgeRevocation(const std::vector<const TOvX509Certificate*>& path,
                                  bool endsAtAnchor, const TCvValidationData& embedded,
                                  double moment, bool offline) {
  TRevocationReport report;
  try {
    if (path.empty() || path.front() == nullptr) {
      report.Detail = "no signer certificate";
      return report;
    }
    report.Certificate = CertificateNameText(*path.front(), false);
    // The anchor is trusted as it is; a certificate without its issuer in
    // the path cannot be judged.
    const size_t judged = path.size() - 1;
    if (judged == 0) {
      report.Detail = endsAtAnchor ? "the signer's certificate is itself trusted"
                                   : "the issuer of the signer's certificate was not found";
      return report;
    }
    bool first = true;
    for (size_t i = 0; i < judged; ++i) {
      if (path[i] == nullptr || path[i + 1] == nullptr) break;
      const TCvRevocationResult one = JudgeOne(*path[i], *path[i + 1], embedded, moment, offline);
      if (!first && Severity(one.Status) <= Severity(report.Status)) continue;
      report.Status = one.Status;
      report.Source = one.Source;
      report.RevocationTime = one.RevocationTime;
      report.Detail = one.Detail;
      report.OfSigner = i == 0;
      report.Certificate = CertificateNameText(*path[i], false);
      first = false;
    }
  } catch (const std::exception& e) {
    report = TRevocationReport{};
    report.Status = TCvRevocationStatus::Unknown;
    report.Detail = std::string("revocation could not be judged: ") + e.what();
  }
  return report;
}

}  // namespace tavra
