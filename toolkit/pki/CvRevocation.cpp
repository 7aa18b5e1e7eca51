#include "toolkit/pki/CvRevocation.h"

#include <exception>
#include <optional>
#include <string_view>

#include "toolkit/pki/CvCRL.h"
#include "toolkit/pki/CvOCSP.h"
#include "toolkit/pki/CvRevocationDER.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

using revocation_der::RevocationTimeText;

struct TAnswer {
  TCvRevocationStatus Status;
  TCvRevocationSource Source;
  TDateTime Time = 0;
  std::string Detail;
};

std::string ReasonSuffix(int reason) {
  return reason < 0 ? std::string() : ", reason " + revocation_der::ReasonName(reason);
}

// What one answer says at the moment: revoked at or before it, or not revoked then.
TAnswer Judge(bool revoked, TDateTime revocationTime, int reason, TDateTime moment,
              TCvRevocationSource source) {
  if (revoked && revocationTime <= moment)
    return {TCvRevocationStatus::Revoked, source, revocationTime,
            "revoked since " + RevocationTimeText(revocationTime) + ReasonSuffix(reason)};
  if (revoked)
    return {TCvRevocationStatus::Good, source, 0,
            "revoked later, since " + RevocationTimeText(revocationTime) + ReasonSuffix(reason)};
  return {TCvRevocationStatus::Good, source, 0, {}};
}

}  // namespace

TCvRevocationResult CheckRevocation(const TOvX509Certificate& certificate,
                                    const TOvX509Certificate& issuer, const TCvValidationData& data,
                                    TDateTime moment, bool online) {
  TCvRevocationResult result;
  try {
    const TCvRevocationSource ocspSource =
        online ? TCvRevocationSource::OnlineOCSP : TCvRevocationSource::EmbeddedOCSP;
    const TCvRevocationSource crlSource =
        online ? TCvRevocationSource::OnlineCRL : TCvRevocationSource::EmbeddedCRL;
    std::optional<TAnswer> good, revoked;
    std::string reasons;
    bool concerned = false;
    auto note = [&reasons](const std::string& reason) {
      if (reasons.find(reason) != std::string::npos) return;
      if (!reasons.empty()) reasons += "; ";
      reasons += reason;
    };
    auto take = [&](TAnswer answer) {
      std::optional<TAnswer>& slot = answer.Status == TCvRevocationStatus::Revoked ? revoked : good;
      if (!slot) slot = std::move(answer);
    };

    for (const ByteString& der : data.OCSPs) {
      TCvOCSPResponse response;
      std::string error;
      if (!ParseOCSPResponse(der, response, error) || response.ResponseStatus != OCSP_SUCCESSFUL)
        continue;
      bool named = false;
      for (const TCvOCSPSingleResponse& s : response.Responses)
        named = named || CertIDMatches(s.CertID, certificate, issuer);
      if (!named) continue;
      concerned = true;
      const TCvOCSPSingleResponse* single = nullptr;
      ByteString responder;
      if (!VerifyOCSPResponse(response, certificate, issuer, single, responder, error)) {
        note(error);
        continue;
      }
      if (single->HasNextUpdate && moment > single->NextUpdate) {
        note("OCSP response was outdated at the moment (next update " +
             RevocationTimeText(single->NextUpdate) + ")");
        continue;
      }
      if (single->Status == TCvOCSPCertStatus::Unknown) {
        note("OCSP responder does not know the certificate");
        continue;
      }
      take(Judge(single->Status == TCvOCSPCertStatus::Revoked, single->RevocationTime,
                 single->RevocationReason, moment, ocspSource));
    }

    for (const ByteString& der : data.CRLs) {
      TCvCRL crl;
      std::string error;
      if (!ParseCRL(der, crl, error) || !CRLCovers(crl, certificate)) continue;
      concerned = true;
      if (!VerifyCRL(crl, issuer, error)) {
        note(error);
        continue;
      }
      if (crl.HasNextUpdate && moment > crl.NextUpdate) {
        note("CRL was outdated at the moment (next update " + RevocationTimeText(crl.NextUpdate) +
             ")");
        continue;
      }
      const TCvRevokedEntry* entry = crl.Find(certificate.SerialNumberOctets());
      take(Judge(entry != nullptr, entry != nullptr ? entry->RevocationDate : 0,
                 entry != nullptr ? entry->Reason : -1, moment, crlSource));
    }

    // A revocation found anywhere outweighs any "good"; OCSP was read first.
    const std::optional<TAnswer>& decided = revoked ? revoked : good;
    if (decided) {
      result.Status = decided->Status;
      result.Source = decided->Source;
      result.RevocationTime = decided->Time;
      result.Detail = decided->Detail;
    } else if (concerned) {
      result.Status = TCvRevocationStatus::Unknown;
      result.Detail = reasons;
    } else {
      result.Detail = "no revocation information for this certificate";
    }
  } catch (const std::exception& e) {
    result = TCvRevocationResult{};
    result.Status = TCvRevocationStatus::Unknown;
    result.Detail = std::string("revocation information could not be read: ") + e.what();
  }
  return result;
}

}  // namespace corvane
