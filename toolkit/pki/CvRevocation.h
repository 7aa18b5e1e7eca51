// Revocation checking (RFC 6960 OCSP, RFC 5280 CRLs) and the gathering of
// validation data for long-term validation.
//
// Reading and judging are apart from fetching: CheckRevocation decides from
// the data it is given (what a document embeds, or what was just fetched),
// TOvRevocationFetcher asks the network through the installed HTTP transport,
// TOvValidationDataCollector does both for every certificate of a path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvValidationData.h"

namespace corvane {

class TOvX509Certificate;

// The status of certificate (issued by issuer) at moment (UTC), decided from
// the OCSP responses first and then the CRLs of data. A response counts only
// when it parses, its signature verifies with the issuer's key or a delegated
// responder's (issued by issuer, id-kp-OCSPSigning), it names this
// certificate, and moment is not after its nextUpdate when it has one
// (thisUpdate after moment is accepted: a later answer of "good" still says
// the certificate was not revoked then; "revoked" compares its revocation
// time with moment). CRLs likewise: signed by the issuer (key usage cRLSign
// when present), the serial looked up. Source is EmbeddedOCSP/EmbeddedCRL
// unless online is true (OnlineOCSP/OnlineCRL). Never raises.
TCvRevocationResult CheckRevocation(const TOvX509Certificate& certificate,
                                    const TOvX509Certificate& issuer, const TCvValidationData& data,
                                    TDateTime moment, bool online = false);

struct TCvRevocationFetchOptions {
  int ConnectTimeoutMs = 10000;
  int TotalTimeoutMs = 60000;
  bool UseNonce = true;  // an OCSP nonce; checked when the responder echoes one
};

class TOvRevocationFetcher {
 public:
  explicit TOvRevocationFetcher(TCvRevocationFetchOptions options = {});

  // Asks the OCSP responder of certificate's authority-information-access
  // (POST, application/ocsp-request). True with the DER OCSPResponse when the
  // responder answered "successful" with a response that CheckRevocation
  // accepts for certificate; else false and error says why in plain English
  // ("no OCSP responder named", "OCSP responder http://... unreachable: ...",
  // "OCSP responder answered unauthorized", ...).
  bool FetchOCSP(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
                 ByteString& response, std::string& error);
  // Fetches a CRL from certificate's distribution points (GET, the first that
  // answers with a CRL signed by issuer). Same contract as FetchOCSP.
  bool FetchCRL(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
                ByteString& crl, std::string& error);
  // OCSP first, the CRL when the responder gives no usable answer: the
  // answer is added to into (OCSPs or CRLs). False when neither came, with
  // both causes in error ("<OCSP cause>; <CRL cause>").
  bool FetchOCSPOrCRL(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
                      TCvValidationData& into, std::string& error);
  // Fetches the issuer certificate(s) from the caIssuers URL of certificate's
  // authority-information-access (DER or a certs-only PKCS#7). Empty on failure.
  std::vector<ByteString> FetchIssuers(const TOvX509Certificate& certificate, std::string& error);

 private:
  TCvRevocationFetchOptions options_;
};

// Gathers the validation data of one or more certificates (a signer's, a
// timestamp authority's): the path to an anchor, built from the candidates,
// the anchors and, where a link is missing, the caIssuers URL; then for every
// certificate of the path but the anchor an OCSP response, else a CRL (OCSP
// first, CRL when there is no responder or it fails), and the same for the
// certificates of the OCSP responders that signed the answers (unless they
// carry id-pkix-ocsp-nocheck). Certificates are not owned.
class TOvValidationDataCollector {
 public:
  explicit TOvValidationDataCollector(TCvRevocationFetchOptions options = {});
  ~TOvValidationDataCollector();

  void AddCandidate(const TOvX509Certificate* certificate);
  void AddAnchor(const TOvX509Certificate* certificate);

  // Adds to data what certificate's validation needs, judged at moment.
  // False with the cause when a path cannot be built, no revocation answer
  // can be had for a certificate, or a certificate of the path is revoked:
  // "the signer's certificate CN=... is revoked (since ...)". Never raises.
  bool Collect(const TOvX509Certificate& certificate, TDateTime moment, TCvValidationData& data,
               std::string& error);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace corvane
