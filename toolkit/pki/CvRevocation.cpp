#include "toolkit/pki/CvRevocation.h"

#include <exception>
#include <optional>
#include <string_view>

#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvHTTP.h"
#include "toolkit/common/CvRandom.h"
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

namespace {

// id-ad-ocsp, id-ad-caIssuers (RFC 5280 4.2.2.1)
constexpr std::string_view kAccessOCSP{"\x2B\x06\x01\x05\x05\x07\x30\x01", 8};
constexpr std::string_view kAccessCAIssuers{"\x2B\x06\x01\x05\x05\x07\x30\x02", 8};

// URLs tried per certificate at most, and the size a CRL may have.
constexpr size_t kMaxURLs = 4;
constexpr size_t kMaxCRLSize = size_t{32} * 1024 * 1024;
// A responder's clock may run a little ahead of ours.
constexpr TDateTime kClockSkew = 5.0 / (24 * 60);

bool IsHTTP(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

std::vector<std::string> AccessURLs(const TOvX509Certificate& certificate,
                                    std::string_view method) {
  std::vector<std::string> urls;
  const TOvCertificateExtensions& e = certificate.Extensions();
  if (!e.IsPresent(cekAuthorityInformationAccess)) return urls;
  for (const auto& access : e.AuthorityInformationAccess().AccessDescriptions) {
    if (access == nullptr || access->AccessMethod != method ||
        access->AccessLocation.NameType != gnUniformResourceIdentifier)
      continue;
    const std::string url(access->AccessLocation.UniformResourceIdentifier);
    if (IsHTTP(url) && urls.size() < kMaxURLs) urls.push_back(url);
  }
  return urls;
}

std::vector<std::string> CRLURLs(const TOvX509Certificate& certificate) {
  std::vector<std::string> urls;
  const TOvCertificateExtensions& e = certificate.Extensions();
  if (!e.IsPresent(cekCRLDistributionPoints)) return urls;
  for (const auto& point : e.CRLDistributionPoints().DistributionPoints) {
    if (point == nullptr) continue;
    for (int32_t i = 0; i < point->DistributionPoint.Count(); ++i) {
      const TOvGeneralName& name = point->DistributionPoint.Names(i);
      if (name.NameType != gnUniformResourceIdentifier) continue;
      const std::string url(name.UniformResourceIdentifier);
      if (IsHTTP(url) && urls.size() < kMaxURLs) urls.push_back(url);
    }
  }
  return urls;
}

// "<what> <url><separator><detail>", built in place: the fetchers say it in loops.
std::string Said(const std::string& what, const std::string& url, std::string_view separator,
                 std::string_view detail = {}) {
  std::string text = what;
  text += ' ';
  text += url;
  text += separator;
  text += detail;
  return text;
}

std::string Seconds(int ms) { return std::to_string((ms + 999) / 1000); }

// The transport's failure in words that name what was asked and where.
std::string TransportError(const std::string& what, const TCvHTTPRequest& request,
                           const TCvHTTPResponse& response) {
  const std::string& url = request.URL;
  switch (response.Failure) {
    case TCvHTTPFailure::NoTransport:
      return what + " " + url + " cannot be asked: " + response.Detail;
    case TCvHTTPFailure::BadURL:
      return what + " URL " + url + " is not a usable http:// or https:// URL";
    case TCvHTTPFailure::Unreachable:
      return what + " " + url + " unreachable: " + response.Detail;
    case TCvHTTPFailure::ConnectionRefused:
      return what + " " + url + " unreachable: connection refused";
    case TCvHTTPFailure::ConnectTimeout:
      return what + " " + url + " unreachable: no connection within " +
             Seconds(request.ConnectTimeoutMs) + " s";
    case TCvHTTPFailure::Timeout:
      return what + " " + url + " did not answer within " + Seconds(request.TotalTimeoutMs) + " s";
    case TCvHTTPFailure::TLS:
      return "secure connection to " + what + " " + url + " failed: " + response.Detail;
    case TCvHTTPFailure::TooLarge:
      return what + " " + url + " answered with more than " +
             std::to_string(request.MaxResponseSize / (size_t{1024} * 1024)) + " MiB";
    case TCvHTTPFailure::Failed:
      return what + " " + url + " request failed: " + response.Detail;
    case TCvHTTPFailure::None:
      break;
  }
  return what + " " + url + " answered HTTP " + std::to_string(response.Status);
}

// Asks; an empty result means success with the body in response.
std::string Ask(const std::string& what, const TCvHTTPRequest& request, bool post,
                TCvHTTPResponse& response) {
  response = post ? HTTPPost(request) : HTTPGet(request);
  if (response.Failure != TCvHTTPFailure::None || response.Status != 200)
    return TransportError(what, request, response);
  return {};
}

TCvHTTPRequest Request(const std::string& url, const TCvRevocationFetchOptions& options) {
  TCvHTTPRequest request;
  request.URL = url;
  request.ConnectTimeoutMs = options.ConnectTimeoutMs;
  request.TotalTimeoutMs = options.TotalTimeoutMs;
  return request;
}

void Join(std::string& into, const std::string& more) {
  if (more.empty()) return;
  if (!into.empty()) into += "; ";
  into += more;
}

// The certificates of a DER certificate or of a certs-only PKCS#7 SignedData.
std::vector<ByteString> CertificatesOf(std::string_view body) {
  std::vector<ByteString> found;
  TCvDERReader outer(body);
  std::string_view content, type, wrapped, signedData, field, whole;
  uint8_t tag = 0;
  if (!outer.Read(0x30, content) || !outer.AtEnd()) return found;
  TCvDERReader info(content);
  if (info.Read(0x06, type)) {
    if (type != std::string_view("\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9) ||
        !info.Read(0xA0, wrapped))
      return found;
    TCvDERReader explicitContent(wrapped);
    if (!explicitContent.Read(0x30, signedData)) return found;
    // SignedData ::= SEQUENCE { version, digestAlgorithms, encapContentInfo,
    //   certificates [0] IMPLICIT SET OF OPTIONAL, ... }
    TCvDERReader fields(signedData);
    if (!fields.Read(0x02, field) || !fields.Read(0x31, field) || !fields.Read(0x30, field) ||
        !fields.Read(0xA0, field))
      return found;
    TCvDERReader certs(field);
    while (!certs.AtEnd() && found.size() < revocation_der::MAX_CERTIFICATES) {
      if (!certs.ReadAny(tag, content, whole)) break;
      if (tag == 0x30) found.emplace_back(whole);
    }
    return found;
  }
  found.emplace_back(body);
  return found;
}

}  // namespace

TOvRevocationFetcher::TOvRevocationFetcher(TCvRevocationFetchOptions options) : options_(options) {}

bool TOvRevocationFetcher::FetchOCSP(const TOvX509Certificate& certificate,
                                     const TOvX509Certificate& issuer, ByteString& response,
                                     std::string& error) {
  response.clear();
  error.clear();
  try {
    const std::vector<std::string> urls = AccessURLs(certificate, kAccessOCSP);
    if (urls.empty()) {
      error = "no OCSP responder named";
      return false;
    }
    for (const std::string& url : urls) {
      const std::string what = "OCSP responder";
      const ByteString nonce = options_.UseNonce ? SharedRandomBytes(16) : ByteString();
      TCvHTTPRequest request = Request(url, options_);
      request.ContentType = "application/ocsp-request";
      request.Accept = "application/ocsp-response";
      request.Body = BuildOCSPRequest(certificate, issuer, nonce);
      TCvHTTPResponse answer;
      std::string failure = Ask(what, request, true, answer);
      TCvOCSPResponse parsed;
      if (failure.empty() && !ParseOCSPResponse(answer.Body, parsed, failure))
        failure = Said(what, url, ": ", failure);
      if (failure.empty() && parsed.ResponseStatus != OCSP_SUCCESSFUL)
        failure = Said(what, url, " answered ", OCSPResponseStatusText(parsed.ResponseStatus));
      const TCvOCSPSingleResponse* single = nullptr;
      ByteString responder;
      if (failure.empty() &&
          !VerifyOCSPResponse(parsed, certificate, issuer, single, responder, failure))
        failure = Said(what, url, ": ", failure);
      // RFC 8954: a responder may leave the nonce out, but never echo another.
      if (failure.empty() && !nonce.empty() && !parsed.NonceValue.empty() &&
          parsed.NonceValue != OCSPNonceValue(nonce))
        failure = Said(what, url, " answered with a wrong nonce");
      const TDateTime now = NowUTC();
      if (failure.empty() && single->ThisUpdate > now + kClockSkew)
        failure = Said(what, url, " answered with a response from the future");
      if (failure.empty()) {
        TCvValidationData one;
        one.OCSPs.push_back(answer.Body);
        const TCvRevocationResult judged = CheckRevocation(certificate, issuer, one, now, true);
        if (judged.Status != TCvRevocationStatus::Good &&
            judged.Status != TCvRevocationStatus::Revoked)
          failure = Said(what, url, ": ", judged.Detail);
      }
      if (failure.empty()) {
        response = answer.Body;
        error.clear();
        return true;
      }
      Join(error, failure);
    }
  } catch (const std::exception& e) {
    error = std::string("OCSP request failed: ") + e.what();
  }
  response.clear();
  return false;
}

bool TOvRevocationFetcher::FetchCRL(const TOvX509Certificate& certificate,
                                    const TOvX509Certificate& issuer, ByteString& crl,
                                    std::string& error) {
  crl.clear();
  error.clear();
  try {
    const std::vector<std::string> urls = CRLURLs(certificate);
    if (urls.empty()) {
      error = "no CRL distribution point named";
      return false;
    }
    for (const std::string& url : urls) {
      const std::string what = "CRL distribution point";
      TCvHTTPRequest request = Request(url, options_);
      request.MaxResponseSize = kMaxCRLSize;
      TCvHTTPResponse answer;
      std::string failure = Ask(what, request, false, answer);
      TCvCRL parsed;
      if (failure.empty() && !ParseCRL(answer.Body, parsed, failure))
        failure = Said(what, url, ": ", failure);
      if (failure.empty() && !VerifyCRL(parsed, issuer, failure))
        failure = Said(what, url, ": ", failure);
      if (failure.empty() && !CRLCovers(parsed, certificate))
        failure = Said(what, url, ": CRL does not cover the certificate");
      if (failure.empty()) {
        TCvValidationData one;
        one.CRLs.push_back(answer.Body);
        const TCvRevocationResult judged =
            CheckRevocation(certificate, issuer, one, NowUTC(), true);
        if (judged.Status != TCvRevocationStatus::Good &&
            judged.Status != TCvRevocationStatus::Revoked)
          failure = Said(what, url, ": ", judged.Detail);
      }
      if (failure.empty()) {
        crl = answer.Body;
        error.clear();
        return true;
      }
      Join(error, failure);
    }
  } catch (const std::exception& e) {
    error = std::string("CRL request failed: ") + e.what();
  }
  crl.clear();
  return false;
}

bool TOvRevocationFetcher::FetchOCSPOrCRL(const TOvX509Certificate& certificate,
                                          const TOvX509Certificate& issuer, TCvValidationData& into,
                                          std::string& error) {
  ByteString item;
  std::string ocspError, crlError;
  if (FetchOCSP(certificate, issuer, item, ocspError)) {
    into.OCSPs.push_back(std::move(item));
  } else if (FetchCRL(certificate, issuer, item, crlError)) {
    into.CRLs.push_back(std::move(item));
  } else {
    error = ocspError;
    error += "; ";
    error += crlError;
    return false;
  }
  error.clear();
  return true;
}

std::vector<ByteString> TOvRevocationFetcher::FetchIssuers(const TOvX509Certificate& certificate,
                                                           std::string& error) {
  error.clear();
  try {
    const std::vector<std::string> urls = AccessURLs(certificate, kAccessCAIssuers);
    if (urls.empty()) {
      error = "no issuer certificate URL named";
      return {};
    }
    for (const std::string& url : urls) {
      const std::string what = "issuer certificate URL";
      TCvHTTPResponse answer;
      std::string failure = Ask(what, Request(url, options_), false, answer);
      if (failure.empty()) {
        std::vector<ByteString> found = CertificatesOf(answer.Body);
        if (!found.empty()) {
          error.clear();
          return found;
        }
        failure = Said(what, url, " answered with no certificate");
      }
      Join(error, failure);
    }
  } catch (const std::exception& e) {
    error = std::string("issuer certificate request failed: ") + e.what();
  }
  return {};
}

}  // namespace corvane
