#include "toolkit/pki/CvTSPHTTPClient.h"

#include <charconv>
#include <exception>
#include <string_view>
#include <vector>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvHTTP.h"
#include "toolkit/common/CvRandom.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

// Every cause the client reports, in one place.
namespace text {
std::string Seconds(int ms) {
  const int whole = ms / 1000, tenths = (ms % 1000 + 99) / 100;
  if (tenths == 0) return std::to_string(whole);
  if (tenths == 10) return std::to_string(whole + 1);
  return std::to_string(whole) + "." + std::to_string(tenths);
}
std::string BadURL(const std::string& url) {
  return "timestamp server URL must start with http:// or https:// (" + url + ")";
}
std::string BadPolicy(const std::string& policy) {
  return "timestamp policy is not an object identifier (" + policy + ")";
}
std::string BadHash() { return "timestamp requested with a hash algorithm the client cannot name"; }
std::string BadDigest() { return "timestamp requested for a digest of the wrong length"; }
std::string NoTransport(const std::string& detail) {
  return "timestamp request cannot be sent (" + detail + ")";
}
std::string Unreachable(const std::string& detail) {
  return "timestamp server unreachable (" + detail + ")";
}
std::string Refused(const std::string& detail) {
  return "timestamp server unreachable: connection refused (" + detail + ")";
}
std::string ConnectTimeout(int ms) {
  return "timestamp server did not accept a connection within " + Seconds(ms) + " s";
}
std::string Timeout(int ms) {
  return "timestamp server did not answer within " + Seconds(ms) + " s";
}
std::string TLS(const std::string& detail) {
  return "secure connection to the timestamp server failed (" + detail + ")";
}
std::string TooLarge() { return "timestamp server's reply is larger than 1 MiB"; }
std::string TransportFailed(const std::string& detail) {
  return "timestamp request failed (" + detail + ")";
}
std::string HTTPStatus(int status, bool withUser) {
  std::string result = "timestamp server answered HTTP " + std::to_string(status);
  if (status == 401 || status == 407)
    result +=
        withUser ? " (user name or password refused)" : " (it asks for a user name and password)";
  return result;
}
std::string NotAReply(const std::string& type) {
  return "timestamp server answered with " +
         (type.empty() ? std::string("no content type") : type) +
         " instead of application/timestamp-reply";
}
std::string MalformedReply() { return "timestamp reply is malformed"; }
std::string Rejected(const std::string& reason) { return "timestamp request rejected: " + reason; }
std::string NoToken() { return "timestamp reply holds no token"; }
std::string MalformedToken() { return "timestamp token is malformed"; }
std::string WrongImprint() { return "timestamp reply has a wrong message imprint"; }
std::string WrongNonce() { return "timestamp reply has a wrong nonce"; }
std::string WrongPolicy() { return "timestamp reply names another policy than the one requested"; }
std::string NoCertificate() { return "timestamp token does not hold the server certificate"; }
std::string BadSignature() { return "timestamp token signature does not verify"; }
std::string NotForTimestamping() { return "timestamp server certificate is not for timestamping"; }
std::string CertificateRefused() { return "timestamp server certificate was refused"; }
}  // namespace text

// PKIFailureInfo bit names (RFC 3161 2.4.2).
const char* FailureBitName(int bit) {
  switch (bit) {
    case 0:
      return "badAlg";
    case 2:
      return "badRequest";
    case 5:
      return "badDataFormat";
    case 14:
      return "timeNotAvailable";
    case 15:
      return "unacceptedPolicy";
    case 16:
      return "unacceptedExtension";
    case 17:
      return "addInfoNotAvailable";
    case 25:
      return "systemFailure";
    default:
      return nullptr;
  }
}

// Dotted text to the content octets of an OBJECT IDENTIFIER; false when it is none.
bool EncodeDottedOID(std::string_view dotted, ByteString& out) {
  std::vector<uint64_t> arcs;
  size_t at = 0;
  while (at <= dotted.size() && arcs.size() < 128) {
    const size_t dot = std::min(dotted.find('.', at), dotted.size());
    const std::string_view part = dotted.substr(at, dot - at);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return false;
    arcs.push_back(value);
    at = dot + 1;
  }
  if (at <= dotted.size() || arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) ||
      arcs[1] > UINT64_MAX - 80)
    return false;
  out.clear();
  auto put = [&out](uint64_t value) {
    char bytes[10];
    int n = 0;
    do {
      bytes[n++] = static_cast<char>(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<char>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
  };
  put(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
  return true;
}

std::string_view WithoutLeadingZeros(std::string_view value) {
  while (!value.empty() && value.front() == '\0') value.remove_prefix(1);
  return value;
}

bool IsTimestampReplyType(std::string_view type) {
  type = type.substr(0, type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.remove_suffix(1);
  std::string lower(type);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  // The second spelling is what some older servers send.
  return lower == "application/timestamp-reply" || lower == "application/timestamp-response";
}

// A small non-negative INTEGER's value; false when it is larger than 255.
bool SmallUnsigned(std::string_view content, uint8_t& value) {
  content = WithoutLeadingZeros(content);
  if (content.size() > 1) return false;
  value = content.empty() ? 0 : static_cast<uint8_t>(content[0]);
  return true;
}

// PKIStatusInfo ::= SEQUENCE { status, statusString PKIFreeText OPTIONAL,
// failInfo PKIFailureInfo OPTIONAL }
bool ReadStatusInfo(std::string_view info, uint8_t& status, std::string& statusText,
                    uint32_t& failureInfo) {
  TCvDERReader reader(info);
  std::string_view value;
  if (!reader.ReadUnsigned(value) || !SmallUnsigned(value, status)) return false;
  std::string_view freeText;
  if (reader.Read(ASN1_SEQUENCE, freeText)) {
    TCvDERReader strings(freeText);
    for (int i = 0; i < 16 && !strings.AtEnd(); ++i) {
      std::string_view line;
      if (!strings.Read(ASN1_UTF8_STRING, line)) return false;
      if (!statusText.empty()) statusText += "; ";
      statusText.append(line.substr(0, 512));
    }
    if (!strings.AtEnd()) return false;
  }
  std::string_view bits;
  if (reader.Read(ASN1_BIT_STRING, bits)) {
    if (bits.empty() || static_cast<uint8_t>(bits[0]) > 7) return false;
    for (size_t i = 1; i < bits.size() && i <= 4; ++i)
      for (int b = 0; b < 8; ++b)
        if ((static_cast<uint8_t>(bits[i]) >> (7 - b)) & 1)
          failureInfo |= uint32_t{1} << ((i - 1) * 8 + static_cast<size_t>(b));
  }
  return reader.AtEnd();
}

std::string RejectionReason(uint8_t status, const std::string& statusText, uint32_t failureInfo) {
  std::string reason = statusText.empty() ? "status " + std::to_string(status) : statusText;
  std::string bits;
  for (int bit = 0; bit < 32; ++bit) {
    if ((failureInfo >> bit & 1) == 0) continue;
    if (!bits.empty()) bits += ", ";
    const char* name = FailureBitName(bit);
    bits += name != nullptr ? std::string(name) : "bit " + std::to_string(bit);
  }
  return bits.empty() ? reason : reason + " (" + bits + ")";
}

// The TSTInfo a token encapsulates, with its content type checked; false when
// the token is no ContentInfo with SignedData around a TSTInfo.
bool EncapsulatedTSTInfo(std::string_view token, std::string_view& tstInfo) {
  std::string_view contentInfo, type, wrapped, signedData, version, algorithms, encapsulated;
  TCvDERReader outer(token);
  if (!outer.Read(ASN1_SEQUENCE, contentInfo) || !outer.AtEnd()) return false;
  TCvDERReader info(contentInfo);
  if (!info.Read(ASN1_OBJECT_IDENTIFIER, type) || type != oid::PKCS7_SIGNED_DATA ||
      !info.Read(0xA0, wrapped))
    return false;
  TCvDERReader explicitContent(wrapped);
  if (!explicitContent.Read(ASN1_SEQUENCE, signedData)) return false;
  TCvDERReader data(signedData);
  if (!data.Read(ASN1_INTEGER, version) || !data.Read(ASN1_SET, algorithms) ||
      !data.Read(ASN1_SEQUENCE, encapsulated))
    return false;
  TCvDERReader encap(encapsulated);
  std::string_view contentType, eContent;
  if (!encap.Read(ASN1_OBJECT_IDENTIFIER, contentType) || contentType != oid::TST_INFO ||
      !encap.Read(0xA0, eContent))
    return false;
  TCvDERReader octets(eContent);
  return octets.Read(ASN1_OCTET_STRING, tstInfo) && octets.AtEnd();
}

// The policy OID of a TSTInfo (its second element).
bool TSTInfoPolicy(std::string_view tstInfo, std::string_view& policy) {
  std::string_view body, version;
  TCvDERReader outer(tstInfo);
  if (!outer.Read(ASN1_SEQUENCE, body)) return false;
  TCvDERReader fields(body);
  return fields.Read(ASN1_INTEGER, version) && fields.Read(ASN1_OBJECT_IDENTIFIER, policy);
}

// MessageImprint ::= SEQUENCE { hashAlgorithm AlgorithmIdentifier, hashedMessage OCTET STRING }
bool SameImprint(std::string_view imprint, std::string_view hashOID, std::string_view digest) {
  std::string_view body, algorithm, hashed, algorithmOID, parameters;
  TCvDERReader outer(imprint);
  if (!outer.Read(ASN1_SEQUENCE, body) || !outer.AtEnd()) return false;
  TCvDERReader fields(body);
  if (!fields.Read(ASN1_SEQUENCE, algorithm) || !fields.Read(ASN1_OCTET_STRING, hashed) ||
      !fields.AtEnd())
    return false;
  TCvDERReader identifier(algorithm);
  if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, algorithmOID)) return false;
  // Parameters of a hash are absent or NULL (RFC 5754 2).
  if (!identifier.AtEnd() && (!identifier.Read(ASN1_NULL, parameters) || !parameters.empty()))
    return false;
  return identifier.AtEnd() && algorithmOID == hashOID && hashed == digest;
}

bool IsSignatureFailure(int32_t code) {
  return code == MSG_ERROR_INVALID_SIGNATURE || code == MSG_ERROR_DIGEST_MISMATCH ||
         code == MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH ||
         code == MSG_ERROR_UNSUPPORTED_ALGORITHM || code == MSG_ERROR_UNSUPPORTED_SIGNATURE_TYPE ||
         code == MSG_ERROR_UNSUPPORTED_HASH;
}

// RFC 3161 2.3: the one extended key usage is id-kp-timeStamping, and critical.
bool IsTimestampingCertificate(const TOvX509Certificate& certificate) {
  const TOvCertificateExtensions& extensions = certificate.Extensions();
  if (!extensions.IsPresent(cekExtendedKeyUsage)) return false;
  const TOvExtendedKeyUsageExtension& usage = extensions.ExtendedKeyUsage();
  return usage.Critical() && usage.TimeStamping && !usage.ServerAuthentication &&
         !usage.ClientAuthentication && !usage.CodeSigning && !usage.EmailProtection &&
         !usage.OCSPSigning && usage.CustomUsages.empty();
}

}  // namespace

TOvHTTPTSPClient::TOvHTTPTSPClient(TCvTSPServer server) : server_(std::move(server)) {
  SetHashAlgorithm(ALG_SHA256);
}

int32_t TOvHTTPTSPClient::Timestamp(const ByteString& digest, uint8_t& status,
                                    uint32_t& failureInfo, ByteString& token) {
  status = 0;
  failureInfo = 0;
  token.clear();
  SetFailureText("");
  int32_t result = MSG_ERROR_INVALID_TIMESTAMP;
  try {
    result = Run(digest, status, failureInfo, token);
  } catch (const std::exception&) {
    // Whatever raised while reading the reply: the reply is not usable.
    SetFailureText(text::MalformedReply());
    result = MSG_ERROR_INVALID_TIMESTAMP;
  }
  if (result != 0) token.clear();
  return result;
}

int32_t TOvHTTPTSPClient::Run(const ByteString& digest, uint8_t& status, uint32_t& failureInfo,
                              ByteString& token) {
  auto fail = [this](int32_t code, std::string cause) {
    SetFailureText(std::move(cause));
    return code;
  };

  // The request: TimeStampReq (RFC 3161 2.4.1).
  const std::string hashOID = OIDByAlgorithm(HashAlgorithm());
  if ((HashAlgorithm() & 0x7FFFFF00) != 0x7100 || hashOID.empty())
    return fail(TSP_ERROR_REQUEST, text::BadHash());
  const int32_t bits = TOvHashFunction::GetDigestSizeBits(HashAlgorithm());
  if (bits <= 0 || digest.size() * 8 != static_cast<size_t>(bits))
    return fail(TSP_ERROR_REQUEST, text::BadDigest());
  std::string policyText = server_.Policy;
  if (policyText.empty() && (Options() & tsoIncludeReqPolicy) != 0) policyText = ReqPolicy();
  ByteString policy;
  if (!policyText.empty() && !EncodeDottedOID(policyText, policy))
    return fail(TSP_ERROR_REQUEST, text::BadPolicy(policyText));

  // A fresh nonce for every request, so no earlier reply can stand for this one.
  ByteString nonce = SharedRandomBytes(8);
  nonce[0] = static_cast<char>(nonce[0] | 1);
  TSPInfo().Nonce = nonce;

  const ByteString imprint = EncodeSequence(
      {EncodeSequence({EncodeOID(hashOID), EncodeNull()}), EncodeOctetString(digest)});
  std::vector<std::string> fields{EncodeInteger(std::string_view("\x01", 1)), imprint};
  if (!policy.empty()) fields.push_back(EncodeOID(policy));
  fields.push_back(EncodeInteger(nonce));
  if (IncludeCertificates()) fields.push_back(EncodePrimitive(ASN1_BOOLEAN, "\xFF"));

  TCvHTTPRequest request;
  request.URL = server_.URL;
  request.ContentType = "application/timestamp-query";
  request.Accept = "application/timestamp-reply";
  request.Body = EncodeSequence(fields);
  request.User = server_.User;
  request.Password = server_.Password;
  request.ConnectTimeoutMs = server_.ConnectTimeoutMs;
  request.TotalTimeoutMs = server_.TotalTimeoutMs;
  request.MaxResponseSize = HTTP_DEFAULT_MAX_RESPONSE;

  const TCvHTTPResponse response = HTTPPost(request);
  switch (response.Failure) {
    case TCvHTTPFailure::None:
      break;
    case TCvHTTPFailure::NoTransport:
      return fail(TSP_ERROR_TRANSPORT, text::NoTransport(response.Detail));
    case TCvHTTPFailure::BadURL:
      return fail(TSP_ERROR_REQUEST, text::BadURL(server_.URL));
    case TCvHTTPFailure::Unreachable:
      return fail(TSP_ERROR_TRANSPORT, text::Unreachable(response.Detail));
    case TCvHTTPFailure::ConnectionRefused:
      return fail(TSP_ERROR_TRANSPORT, text::Refused(response.Detail));
    case TCvHTTPFailure::ConnectTimeout:
      return fail(TSP_ERROR_TRANSPORT, text::ConnectTimeout(server_.ConnectTimeoutMs));
    case TCvHTTPFailure::Timeout:
      return fail(TSP_ERROR_TRANSPORT, text::Timeout(server_.TotalTimeoutMs));
    case TCvHTTPFailure::TLS:
      return fail(TSP_ERROR_TRANSPORT, text::TLS(response.Detail));
    case TCvHTTPFailure::TooLarge:
      return fail(TSP_ERROR_HTTP, text::TooLarge());
    case TCvHTTPFailure::Failed:
      return fail(TSP_ERROR_TRANSPORT, text::TransportFailed(response.Detail));
  }
  if (response.Status != 200)
    return fail(TSP_ERROR_HTTP, text::HTTPStatus(response.Status, !server_.User.empty()));
  if (!IsTimestampReplyType(response.ContentType))
    return fail(TSP_ERROR_HTTP, text::NotAReply(response.ContentType.substr(0, 100)));

  // TimeStampResp ::= SEQUENCE { status PKIStatusInfo, timeStampToken OPTIONAL }
  std::string_view reply, statusInfo;
  TCvDERReader outer(response.Body);
  if (!outer.Read(ASN1_SEQUENCE, reply) || !outer.AtEnd())
    return fail(MSG_ERROR_INVALID_TIMESTAMP, text::MalformedReply());
  TCvDERReader fieldsReader(reply);
  std::string statusText;
  if (!fieldsReader.Read(ASN1_SEQUENCE, statusInfo) ||
      !ReadStatusInfo(statusInfo, status, statusText, failureInfo))
    return fail(MSG_ERROR_INVALID_TIMESTAMP, text::MalformedReply());
  if (status != 0 && status != 1)
    return fail(TSP_ERROR_REJECTED,
                text::Rejected(RejectionReason(status, statusText, failureInfo)));
  if (fieldsReader.AtEnd()) return fail(MSG_ERROR_INVALID_TIMESTAMP, text::NoToken());
  uint8_t tag = 0;
  std::string_view content, whole;
  if (!fieldsReader.ReadAny(tag, content, whole) || tag != ASN1_SEQUENCE || !fieldsReader.AtEnd())
    return fail(MSG_ERROR_INVALID_TIMESTAMP, text::MalformedToken());

  const ByteString candidate(whole);
  const int32_t checked = CheckToken(candidate, hashOID, digest, policy);
  if (checked != 0) return checked;
  token = candidate;
  return 0;
}

int32_t TOvHTTPTSPClient::CheckToken(const ByteString& token, const ByteString& hashOID,
                                     const ByteString& digest, const ByteString& policy) {
  auto fail = [this](std::string cause) {
    SetFailureText(std::move(cause));
    return MSG_ERROR_INVALID_TIMESTAMP;
  };
  TOvClientTSPInfo& info = TSPInfo();

  // What the token says, read before its signature is looked at so that a
  // reply for another request is named as such.
  std::string_view tstInfo, tokenPolicy;
  if (!EncapsulatedTSTInfo(token, tstInfo) || info.ParseTSTInfo(tstInfo) != 0 ||
      !TSTInfoPolicy(tstInfo, tokenPolicy))
    return fail(text::MalformedToken());
  if (!SameImprint(info.MessageImprint(), hashOID, digest)) return fail(text::WrongImprint());
  if ((Options() & tsoIgnoreBadNonce) == 0 &&
      WithoutLeadingZeros(info.ServerNonce()) != WithoutLeadingZeros(info.Nonce))
    return fail(text::WrongNonce());
  if (!policy.empty() && tokenPolicy != policy) return fail(text::WrongPolicy());

  // The token's own signature, by a certificate made for timestamping.
  info.SetIgnoreBadSignature(true);
  info.Verifier().SetCertStorage(CertStorage());
  if (info.ParseToken(token) != 0) return fail(text::MalformedToken());
  if (info.ContentType() != oid::TST_INFO) return fail(text::MalformedToken());
  const bool ignoreSignature = (Options() & tsoIgnoreBadSignature) != 0;
  const int32_t signature = info.SignatureResult();
  if (signature != 0 && !ignoreSignature) {
    if (signature == MSG_ERROR_NO_CERTIFICATE) return fail(text::NoCertificate());
    if (IsSignatureFailure(signature)) return fail(text::BadSignature());
    return fail(text::MalformedToken());
  }
  TOvMessageVerifier& verifier = info.Verifier();
  if (verifier.SignerCount() != 1 && !ignoreSignature) return fail(text::MalformedToken());
  TOvX509Certificate* certificate =
      verifier.SignerCount() == 1 ? verifier.SignerCertificate(0) : nullptr;
  if (certificate == nullptr) {
    if (!ignoreSignature) return fail(text::NoCertificate());
  } else {
    if (!IsTimestampingCertificate(*certificate)) return fail(text::NotForTimestamping());
    TCvCertificateValidity validity = cvOk;
    TCvCertificateValidityReason reason = 0;
    bool doContinue = true;
    ValidateTSACertificate(*certificate, &verifier.Certificates(), validity, reason, doContinue);
    if (!doContinue) return fail(text::CertificateRefused());
  }
  return 0;
}

}  // namespace corvane
