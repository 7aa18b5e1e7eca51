// OCSP (RFC 6960): the request for one certificate, the response read into
// its fields, and the checks that make a response an answer about that
// certificate (who signed it, which certificate it names, the nonce).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvX509Certificate;

// OCSPResponseStatus (RFC 6960 4.2.1).
inline constexpr int OCSP_SUCCESSFUL = 0;
inline constexpr int OCSP_MALFORMED_REQUEST = 1;
inline constexpr int OCSP_INTERNAL_ERROR = 2;
inline constexpr int OCSP_TRY_LATER = 3;
inline constexpr int OCSP_SIG_REQUIRED = 5;
inline constexpr int OCSP_UNAUTHORIZED = 6;

enum class TCvOCSPCertStatus { Good, Revoked, Unknown };

struct TCvOCSPCertID {
  ByteString HashOID;  // content octets of the hash algorithm's OID
  ByteString IssuerNameHash;
  ByteString IssuerKeyHash;
  ByteString Serial;  // content octets of the INTEGER
};

struct TCvOCSPSingleResponse {
  TCvOCSPCertID CertID;
  TCvOCSPCertStatus Status = TCvOCSPCertStatus::Unknown;
  TDateTime RevocationTime = 0;
  int RevocationReason = -1;  // CRLReason; -1 when none is given
  TDateTime ThisUpdate = 0;
  bool HasNextUpdate = false;
  TDateTime NextUpdate = 0;
};

struct TCvOCSPResponse {
  int ResponseStatus = -1;
  // The fields of the BasicOCSPResponse; set only when ResponseStatus is successful.
  ByteString TBSResponseData;  // DER, the signed bytes
  bool ResponderByName = true;
  ByteString ResponderID;  // the Name's DER, or the key hash
  TDateTime ProducedAt = 0;
  std::vector<TCvOCSPSingleResponse> Responses;
  ByteString NonceValue;          // extnValue content of the nonce extension; empty when none
  ByteString SignatureAlgorithm;  // AlgorithmIdentifier DER
  ByteString Signature;           // BIT STRING content without the unused-bits octet
  std::vector<ByteString> Certificates;
};

// "successful", "malformedRequest", "internalError", "tryLater", "sigRequired",
// "unauthorized", "status N".
std::string OCSPResponseStatusText(int status);

// Reads a DER OCSPResponse; false with the cause when it is malformed. A
// status other than successful is read (without a body) and gives true.
bool ParseOCSPResponse(std::string_view der, TCvOCSPResponse& response, std::string& error);

// The extnValue of a nonce extension (id-pkix-ocsp-nonce) carrying nonce.
ByteString OCSPNonceValue(std::string_view nonce);

// An OCSPRequest for certificate issued by issuer: CertID with SHA-1 hashes
// of the issuer's name and key, and the nonce extension when nonce is not empty.
ByteString BuildOCSPRequest(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
                            std::string_view nonce);

// The CertID names certificate of issuer (hash SHA-1 or SHA-256).
bool CertIDMatches(const TCvOCSPCertID& id, const TOvX509Certificate& certificate,
                   const TOvX509Certificate& issuer);

// Checks a successful response as an answer about certificate: signed by the
// issuer, or by a responder certificate the response carries that the issuer
// signed and that has id-kp-OCSPSigning, the responder ID naming the signer.
// Sets single to the response for certificate and responder to the delegated
// responder's DER (empty when the issuer signed). False with the cause.
bool VerifyOCSPResponse(const TCvOCSPResponse& response, const TOvX509Certificate& certificate,
                        const TOvX509Certificate& issuer, const TCvOCSPSingleResponse*& single,
                        ByteString& responder, std::string& error);

}  // namespace corvane
