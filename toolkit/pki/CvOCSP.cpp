#include "toolkit/pki/CvOCSP.h"

#include <exception>
#include <memory>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvRevocationDER.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

using revocation_der::ReadTime;

// id-pkix-ocsp-basic, id-pkix-ocsp-nonce (RFC 6960 4.2.1, 4.4.1)
constexpr std::string_view kBasicResponse{"\x2B\x06\x01\x05\x05\x07\x30\x01\x01", 9};
constexpr std::string_view kNonce{"\x2B\x06\x01\x05\x05\x07\x30\x01\x02", 9};

ByteString Hash(int32_t algorithm, std::string_view data) {
  TOvHashFunction hash(algorithm);
  hash.Update(data);
  return hash.Finish();
}

// CertID ::= SEQUENCE { hashAlgorithm, issuerNameHash, issuerKeyHash, serialNumber }
bool ReadCertID(std::string_view body, TCvOCSPCertID& id) {
  TCvDERReader fields(body);
  std::string_view algorithm, oid, parameters, nameHash, keyHash, serial;
  if (!fields.Read(ASN1_SEQUENCE, algorithm) || !fields.Read(ASN1_OCTET_STRING, nameHash) ||
      !fields.Read(ASN1_OCTET_STRING, keyHash) || !fields.Read(ASN1_INTEGER, serial) ||
      serial.empty() || !fields.AtEnd())
    return false;
  TCvDERReader identifier(algorithm);
  if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, oid)) return false;
  // Hash parameters are absent or NULL (RFC 5754 2).
  if (!identifier.AtEnd() && (!identifier.Read(ASN1_NULL, parameters) || !parameters.empty()))
    return false;
  if (!identifier.AtEnd()) return false;
  id.HashOID = oid;
  id.IssuerNameHash = nameHash;
  id.IssuerKeyHash = keyHash;
  id.Serial = serial;
  return true;
}

// SingleResponse ::= SEQUENCE { certID, certStatus, thisUpdate,
//   nextUpdate [0] EXPLICIT OPTIONAL, singleExtensions [1] EXPLICIT OPTIONAL }
bool ReadSingle(std::string_view body, TCvOCSPSingleResponse& single) {
  TCvDERReader fields(body);
  std::string_view certID, status, wrapped, extensions;
  uint8_t tag = 0;
  std::string_view whole;
  if (!fields.Read(ASN1_SEQUENCE, certID) || !ReadCertID(certID, single.CertID) ||
      !fields.ReadAny(tag, status, whole))
    return false;
  if (tag == 0x80 && status.empty()) {
    single.Status = TCvOCSPCertStatus::Good;
  } else if (tag == 0x82 && status.empty()) {
    single.Status = TCvOCSPCertStatus::Unknown;
  } else if (tag == 0xA1) {
    // RevokedInfo ::= SEQUENCE { revocationTime, revocationReason [0] EXPLICIT CRLReason OPTIONAL }
    single.Status = TCvOCSPCertStatus::Revoked;
    TCvDERReader info(status);
    if (!ReadTime(info, single.RevocationTime, true)) return false;
    std::string_view reason;
    if (info.Read(0xA0, reason) &&
        !revocation_der::ReadSmallEnumerated(reason, single.RevocationReason))
      return false;
    if (!info.AtEnd()) return false;
  } else {
    return false;
  }
  if (!ReadTime(fields, single.ThisUpdate, true)) return false;
  if (fields.Read(0xA0, wrapped)) {
    TCvDERReader next(wrapped);
    if (!ReadTime(next, single.NextUpdate, true) || !next.AtEnd()) return false;
    single.HasNextUpdate = true;
  }
  if (fields.Read(0xA1, wrapped)) {
    TCvDERReader list(wrapped);
    if (!list.Read(ASN1_SEQUENCE, extensions) || !list.AtEnd()) return false;
    // Entry extensions we do not know are ignored unless critical.
    if (!revocation_der::ForEachExtension(
            extensions, [](const revocation_der::TExtension& e) { return !e.Critical; }))
      return false;
  }
  return fields.AtEnd();
}

// ResponseData ::= SEQUENCE { version [0] EXPLICIT DEFAULT v1, responderID,
//   producedAt, responses, responseExtensions [1] EXPLICIT OPTIONAL }
bool ReadResponseData(std::string_view body, TCvOCSPResponse& response, std::string& error) {
  TCvDERReader fields(body);
  std::string_view wrapped, responses, extensions;
  if (fields.Read(0xA0, wrapped)) {
    TCvDERReader version(wrapped);
    std::string_view value;
    if (!version.ReadUnsigned(value) || value != std::string_view("\x00", 1) || !version.AtEnd()) {
      error = "OCSP response has an unknown version";
      return false;
    }
  }
  if (fields.Read(0xA1, wrapped)) {
    TCvDERReader name(wrapped);
    uint8_t tag = 0;
    std::string_view content, whole;
    if (!name.ReadAny(tag, content, whole) || tag != ASN1_SEQUENCE || !name.AtEnd()) return false;
    response.ResponderByName = true;
    response.ResponderID = whole;
  } else if (fields.Read(0xA2, wrapped)) {
    TCvDERReader key(wrapped);
    std::string_view hash;
    if (!key.Read(ASN1_OCTET_STRING, hash) || !key.AtEnd()) return false;
    response.ResponderByName = false;
    response.ResponderID = hash;
  } else {
    return false;
  }
  if (!ReadTime(fields, response.ProducedAt, true) || !fields.Read(ASN1_SEQUENCE, responses))
    return false;
  TCvDERReader list(responses);
  while (!list.AtEnd()) {
    std::string_view single;
    if (response.Responses.size() >= revocation_der::MAX_SINGLE_RESPONSES ||
        !list.Read(ASN1_SEQUENCE, single) || !ReadSingle(single, response.Responses.emplace_back()))
      return false;
  }
  if (fields.Read(0xA1, wrapped)) {
    TCvDERReader outer(wrapped);
    if (!outer.Read(ASN1_SEQUENCE, extensions) || !outer.AtEnd()) return false;
    bool criticalUnknown = false;
    if (!revocation_der::ForEachExtension(extensions, [&](const revocation_der::TExtension& e) {
          if (e.OID == kNonce) {
            response.NonceValue = e.Value;
          } else if (e.Critical) {
            criticalUnknown = true;
          }
          return true;
        }))
      return false;
    if (criticalUnknown) {
      error = "OCSP response has an unknown critical extension";
      return false;
    }
  }
  return fields.AtEnd();
}

bool ReadBasic(std::string_view der, TCvOCSPResponse& response, std::string& error) {
  TCvDERReader outer(der);
  std::string_view body, tbs, tbsWhole, algorithm, algorithmWhole, signature, wrapped, certs;
  uint8_t tag = 0;
  if (!outer.Read(ASN1_SEQUENCE, body) || !outer.AtEnd()) return false;
  TCvDERReader fields(body);
  if (!fields.ReadAny(tag, tbs, tbsWhole) || tag != ASN1_SEQUENCE ||
      !fields.ReadAny(tag, algorithm, algorithmWhole) || tag != ASN1_SEQUENCE ||
      !fields.Read(ASN1_BIT_STRING, signature) || signature.empty() || signature[0] != 0)
    return false;
  response.TBSResponseData = tbsWhole;
  response.SignatureAlgorithm = algorithmWhole;
  response.Signature = signature.substr(1);
  if (fields.Read(0xA0, wrapped)) {
    TCvDERReader seq(wrapped);
    if (!seq.Read(ASN1_SEQUENCE, certs) || !seq.AtEnd()) return false;
    TCvDERReader list(certs);
    while (!list.AtEnd()) {
      std::string_view content, whole;
      if (response.Certificates.size() >= revocation_der::MAX_CERTIFICATES ||
          !list.ReadAny(tag, content, whole) || tag != ASN1_SEQUENCE)
        return false;
      response.Certificates.emplace_back(whole);
    }
  }
  if (!fields.AtEnd()) return false;
  return ReadResponseData(tbs, response, error);
}

// The responder ID names this certificate: its subject, or the SHA-1 of its key.
bool ResponderIs(const TCvOCSPResponse& response, const TOvX509Certificate& certificate) {
  if (response.ResponderByName) return response.ResponderID == certificate.SubjectNameDER();
  return response.ResponderID == Hash(ALG_SHA1, certificate.PublicKey());
}

bool IssuedByAndSigned(const TOvX509Certificate& subject, const TOvX509Certificate& issuer) {
  return (subject.IssuerNameDER() == issuer.SubjectNameDER() ||
          subject.IssuerRDN().Equals(issuer.SubjectRDN())) &&
         subject.ValidateWithIssuer(issuer);
}

}  // namespace

std::string OCSPResponseStatusText(int status) {
  switch (status) {
    case OCSP_SUCCESSFUL:
      return "successful";
    case OCSP_MALFORMED_REQUEST:
      return "malformedRequest";
    case OCSP_INTERNAL_ERROR:
      return "internalError";
    case OCSP_TRY_LATER:
      return "tryLater";
    case OCSP_SIG_REQUIRED:
      return "sigRequired";
    case OCSP_UNAUTHORIZED:
      return "unauthorized";
    default:
      return "status " + std::to_string(status);
  }
}

bool ParseOCSPResponse(std::string_view der, TCvOCSPResponse& response, std::string& error) {
  response = TCvOCSPResponse{};
  error.clear();
  try {
    // OCSPResponse ::= SEQUENCE { responseStatus ENUMERATED,
    //   responseBytes [0] EXPLICIT SEQUENCE { responseType, response OCTET STRING } OPTIONAL }
    TCvDERReader outer(der);
    std::string_view body, status, wrapped, bytes, type, basic;
    if (!outer.Read(ASN1_SEQUENCE, body) || !outer.AtEnd()) {
      error = "OCSP response is malformed";
      return false;
    }
    TCvDERReader fields(body);
    if (!fields.Read(0x0A, status) || status.size() != 1 ||
        (static_cast<uint8_t>(status[0]) & 0x80) != 0) {
      error = "OCSP response is malformed";
      return false;
    }
    response.ResponseStatus = static_cast<uint8_t>(status[0]);
    if (response.ResponseStatus != OCSP_SUCCESSFUL) {
      if (!fields.AtEnd() && !(fields.Read(0xA0, wrapped) && fields.AtEnd())) {
        error = "OCSP response is malformed";
        return false;
      }
      return true;
    }
    if (!fields.Read(0xA0, wrapped) || !fields.AtEnd()) {
      error = "OCSP response is malformed";
      return false;
    }
    TCvDERReader responseBytes(wrapped);
    if (!responseBytes.Read(ASN1_SEQUENCE, bytes) || !responseBytes.AtEnd()) {
      error = "OCSP response is malformed";
      return false;
    }
    TCvDERReader typed(bytes);
    if (!typed.Read(ASN1_OBJECT_IDENTIFIER, type) || !typed.Read(ASN1_OCTET_STRING, basic) ||
        !typed.AtEnd()) {
      error = "OCSP response is malformed";
      return false;
    }
    if (type != kBasicResponse) {
      error = "OCSP response is not a basic response";
      return false;
    }
    if (!ReadBasic(basic, response, error)) {
      if (error.empty()) error = "OCSP response is malformed";
      return false;
    }
    return true;
  } catch (const std::exception&) {
    error = "OCSP response is malformed";
    return false;
  }
}

ByteString OCSPNonceValue(std::string_view nonce) { return EncodeOctetString(nonce); }

ByteString BuildOCSPRequest(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
                            std::string_view nonce) {
  // RFC 6960 4.1.1: the hashes of the issuer's DN (as the certificate names it)
  // and of the issuer's public key BIT STRING value.
  const ByteString certID =
      EncodeSequence({EncodeSequence({EncodeOID(OIDByAlgorithm(ALG_SHA1)), EncodeNull()}),
                      EncodeOctetString(Hash(ALG_SHA1, certificate.IssuerNameDER())),
                      EncodeOctetString(Hash(ALG_SHA1, issuer.PublicKey())),
                      EncodePrimitive(ASN1_INTEGER, certificate.SerialNumberOctets())});
  std::vector<std::string> tbs{EncodeSequence({EncodeSequence({certID})})};
  if (!nonce.empty()) {
    const ByteString extension =
        EncodeSequence({EncodeOID(kNonce), EncodeOctetString(OCSPNonceValue(nonce))});
    tbs.push_back(EncodeConstructed(0xA2, {EncodeSequence({extension})}));
  }
  return EncodeSequence({EncodeSequence(tbs)});
}

bool CertIDMatches(const TCvOCSPCertID& id, const TOvX509Certificate& certificate,
                   const TOvX509Certificate& issuer) {
  int32_t algorithm = ALG_UNKNOWN;
  if (id.HashOID == OIDByAlgorithm(ALG_SHA1))
    algorithm = ALG_SHA1;
  else if (id.HashOID == OIDByAlgorithm(ALG_SHA256))
    algorithm = ALG_SHA256;
  else
    return false;
  try {
    return id.Serial == certificate.SerialNumberOctets() &&
           id.IssuerNameHash == Hash(algorithm, certificate.IssuerNameDER()) &&
           id.IssuerKeyHash == Hash(algorithm, issuer.PublicKey());
  } catch (const std::exception&) {
    return false;
  }
}

bool VerifyOCSPResponse(const TCvOCSPResponse& response, const TOvX509Certificate& certificate,
                        const TOvX509Certificate& issuer, const TCvOCSPSingleResponse*& single,
                        ByteString& responder, std::string& error) {
  single = nullptr;
  responder.clear();
  try {
    if (response.ResponseStatus != OCSP_SUCCESSFUL) {
      error = "OCSP responder answered " + OCSPResponseStatusText(response.ResponseStatus);
      return false;
    }
    for (const TCvOCSPSingleResponse& candidate : response.Responses)
      if (CertIDMatches(candidate.CertID, certificate, issuer)) {
        single = &candidate;
        break;
      }
    if (single == nullptr) {
      error = "OCSP response is about another certificate";
      return false;
    }
    if (single->HasNextUpdate && single->NextUpdate < single->ThisUpdate) {
      error = "OCSP response's next update is before its this update";
      return false;
    }

    // The issuer itself (RFC 6960 4.2.2.2, first case).
    if (ResponderIs(response, issuer)) {
      if (!issuer.VerifySignedData(response.SignatureAlgorithm, response.TBSResponseData,
                                   response.Signature)) {
        error = "OCSP response signature does not verify";
        single = nullptr;
        return false;
      }
      return true;
    }
    // A delegated responder: carried in the response, issued and signed by
    // the issuer, marked for OCSP signing.
    bool named = false;
    for (const ByteString& der : response.Certificates) {
      const std::unique_ptr<TOvX509Certificate> candidate = LoadCertificateOrNull(der);
      if (candidate == nullptr || !ResponderIs(response, *candidate)) continue;
      named = true;
      if (!candidate->VerifySignedData(response.SignatureAlgorithm, response.TBSResponseData,
                                       response.Signature)) {
        error = "OCSP response signature does not verify";
        continue;
      }
      if (!IssuedByAndSigned(*candidate, issuer)) {
        error = "OCSP responder certificate is not issued by the certificate's issuer";
        continue;
      }
      const TOvCertificateExtensions& e = candidate->Extensions();
      if (!e.IsPresent(cekExtendedKeyUsage) || !e.ExtendedKeyUsage().OCSPSigning) {
        error = "OCSP responder certificate is not authorized for OCSP signing";
        continue;
      }
      if (response.ProducedAt < candidate->ValidFrom() ||
          response.ProducedAt > candidate->ValidTo()) {
        error = "OCSP responder certificate was not valid when the response was produced";
        continue;
      }
      responder = der;
      error.clear();
      return true;
    }
    if (!named) error = "OCSP response is signed by an unknown responder";
    single = nullptr;
    return false;
  } catch (const std::exception&) {
    error = "OCSP response could not be checked";
    single = nullptr;
    responder.clear();
    return false;
  }
}

}  // namespace corvane
