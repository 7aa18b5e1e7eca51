// TOvPDFPublicKeySecurityHandler: the signature dictionary entries, the size
// to reserve, hashing the byte ranges and the signature value.
#include "toolkit/pdf/CvPDFSecurity.h"

#include <unordered_set>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvConstants.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvDER.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvMath.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/crypto/CvRSA.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

const std::string_view kSigningSubFilters[] = {"adbe.x509.rsa_sha1", "adbe.pkcs7.detached",
                                               "adbe.pkcs7.sha1", "ETSI.CAdES.detached"};
const std::string_view kEncryptionSubFilters[] = {"adbe.pkcs7.s3", "adbe.pkcs7.s4",
                                                  "adbe.pkcs7.s5"};

template <size_t N>
bool OneOf(const std::string_view (&names)[N], std::string_view name) {
  for (std::string_view candidate : names)
    if (candidate == name) return true;
  return false;
}

[[noreturn]] void Fail(const std::string& message) {
  throw EOvPDFPublicKeySecurityHandlerError(message);
}

bool IsSupportedHash(int32_t algorithm) {
  switch (algorithm) {
    case ALG_SHA1:
    case ALG_MD5:
    case ALG_MD2:
    case ALG_SHA256:
    case ALG_SHA384:
    case ALG_SHA512:
    case ALG_RIPEMD160:
      return true;
    default:
      return false;
  }
}

// Length of the BER element at the start of data (definite or indefinite
// lengths, as other signers write them); 0 when there is none.
size_t BERElementLength(std::string_view data, int depth = 0) {
  if (depth > 64 || data.size() < 2) return 0;
  size_t at = 1;
  if ((static_cast<uint8_t>(data[0]) & 0x1F) == 0x1F) {  // high tag number
    while (at < data.size() && (static_cast<uint8_t>(data[at]) & 0x80)) ++at;
    ++at;
  }
  if (at >= data.size()) return 0;
  const uint8_t first = static_cast<uint8_t>(data[at++]);
  if (first == 0x80) {
    if (!(static_cast<uint8_t>(data[0]) & 0x20)) return 0;  // only constructed
    while (at + 2 <= data.size()) {
      if (data[at] == 0 && data[at + 1] == 0) return at + 2;
      const size_t child = BERElementLength(data.substr(at), depth + 1);
      if (child == 0) return 0;
      at += child;
    }
    return 0;
  }
  uint64_t length = first;
  if (first & 0x80) {
    const size_t octets = first & 0x7F;
    if (octets == 0 || octets > 8 || at + octets > data.size()) return 0;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | static_cast<uint8_t>(data[at++]);
  }
  if (length > data.size() - at) return 0;
  return at + static_cast<size_t>(length);
}

// The signature value inside a zero-padded /Contents string; empty when the
// value does not start with an ASN.1 element.
std::string_view DERPrefix(std::string_view value) {
  return value.substr(0, BERElementLength(value));
}

int32_t KeyBits(const TOvX509Certificate& certificate) {
  return certificate.KeyMaterial() ? certificate.KeyMaterial()->Bits() : 0;
}

}  // namespace

// --- revocation data ---------------------------------------------------------

void TOvPDFPublicKeyRevocationInfo::Clear() {
  crls_.clear();
  ocspResponses_.clear();
  others_.clear();
}

int64_t TOvPDFPublicKeyRevocationInfo::EstimatedSize() const {
  if (Empty()) return 0;
  int64_t size = 32;
  for (const ByteString& crl : crls_) size += static_cast<int64_t>(crl.size()) + 8;
  for (const ByteString& response : ocspResponses_)
    size += static_cast<int64_t>(response.size()) + 8;
  for (const TOtherEntry& entry : others_)
    size += static_cast<int64_t>(entry.TypeOID.size() + entry.Value.size()) + 8;
  return size;
}

ByteString TOvPDFPublicKeyRevocationInfo::Encode() const {
  std::vector<std::string> parts;
  auto explicitSequence = [&](uint8_t number, const std::vector<std::string>& items) {
    parts.push_back(EncodeConstructed(0xA0 | number, {EncodeSequence(items)}));
  };
  if (!crls_.empty()) explicitSequence(0, {crls_.begin(), crls_.end()});
  if (!ocspResponses_.empty()) explicitSequence(1, {ocspResponses_.begin(), ocspResponses_.end()});
  if (!others_.empty()) {
    std::vector<std::string> items;
    for (const TOtherEntry& entry : others_)
      items.push_back(EncodeSequence({EncodeOID(entry.TypeOID), EncodeOctetString(entry.Value)}));
    explicitSequence(2, items);
  }
  return EncodeSequence(parts);
}

bool TOvPDFPublicKeyRevocationInfo::Decode(std::string_view der) {
  Clear();
  TCvDERReader outer(der);
  std::string_view body;
  if (!outer.Read(DER_SEQUENCE, body)) return false;
  TCvDERReader fields(body);
  while (!fields.AtEnd()) {
    uint8_t tag = 0;
    std::string_view content, whole, list;
    if (!fields.ReadAny(tag, content, whole)) return false;
    TCvDERReader wrapper(content);
    if (!wrapper.Read(DER_SEQUENCE, list)) return false;
    TCvDERReader items(list);
    while (!items.AtEnd()) {
      uint8_t itemTag = 0;
      std::string_view itemContent, item;
      if (!items.ReadAny(itemTag, itemContent, item)) return false;
      if (tag == 0xA0) {
        crls_.emplace_back(item);
      } else if (tag == 0xA1) {
        ocspResponses_.emplace_back(item);
      } else if (tag == 0xA2) {
        TCvDERReader pair(itemContent);
        std::string_view type, value;
        if (!pair.Read(ASN1_OBJECT_IDENTIFIER, type) || !pair.Read(ASN1_OCTET_STRING, value))
          return false;
        others_.push_back({ByteString(type), ByteString(value)});
      }
    }
  }
  return true;
}

// --- the handler -------------------------------------------------------------

const TOvPDFSecurityHandlerClass& TOvPDFPublicKeySecurityHandler::Class() {
  static const TOvPDFSecurityHandlerClass handlerClass{
      "Orvik.Corvane",
      "Adobe PKCS#7 encryption",
      true,
      true,
      [](std::string_view name) { return OneOf(kSigningSubFilters, name); },
      [](std::string_view name) { return OneOf(kEncryptionSubFilters, name); },
      [] { return std::make_unique<TOvPDFPublicKeySecurityHandler>(); }};
  return handlerClass;
}

TOvPDFPublicKeySecurityHandler::TOvPDFPublicKeySecurityHandler()
    : readCertificates_(std::make_unique<TOvMemoryCertStorage>()),
      // SHA-1 signatures are refused or flagged by current validators.
      hashAlgorithm_(ALG_SHA256) {
  InitializeHandler();
}

TOvPDFPublicKeySecurityHandler::~TOvPDFPublicKeySecurityHandler() { FinalizeHandler(); }

void TOvPDFPublicKeySecurityHandler::ResetHandler() {
  TOvPDFSecurityHandler::ResetHandler();
  readCertificates_->Clear();
  revocationInfo_.Clear();
  readSubFilter_.clear();
  readValue_.clear();
  collected_.clear();
  hashMode_ = false;
  hashAlgorithm_ = ALG_SHA256;
  hash_.reset();
  lastVerificationResult_ = 0;
  readSigningTime_ = 0;
  signerCertificate_.reset();
  readSignerCount_ = 0;
  readTimestampCount_ = 0;
}

TOvX509Certificate* TOvPDFPublicKeySecurityHandler::SigningCertificate() const {
  if (!certStorage_) return nullptr;
  for (int i = 0; i < certStorage_->Count(); ++i) {
    TOvX509Certificate* certificate = certStorage_->Certificates(i);
    if (certificate && certificate->PrivateKeyExists()) return certificate;
  }
  return nullptr;
}

TOvX509Certificate* TOvPDFPublicKeySecurityHandler::SignerCertificate() const {
  return signerCertificate_.get();
}

TOvX509Certificate& TOvPDFPublicKeySecurityHandler::RequireSigningCertificate() const {
  TOvX509Certificate* certificate = SigningCertificate();
  if (!certificate) Fail("No signing certificate found");
  return *certificate;
}

int32_t TOvPDFPublicKeySecurityHandler::RequireSupportedHash() const {
  if (!IsSupportedHash(hashAlgorithm_)) Fail("Hash algorithm not supported");
  return hashAlgorithm_;
}

void TOvPDFPublicKeySecurityHandler::BeginSignatureField(TOvPDFFile* file) { file_ = file; }

void TOvPDFPublicKeySecurityHandler::BeginSigning(TOvPDFFile* file) {
  file_ = file;
  hashMode_ = true;
}

void TOvPDFPublicKeySecurityHandler::SaveSignatureInfo(TOvPDFDictionary* sigDict) {
  std::string subFilter;
  if (signatureKind_ == PDF_SIGNATURE_KIND_X509)
    subFilter = "adbe.x509.rsa_sha1";
  else if (signatureKind_ == PDF_SIGNATURE_KIND_PKCS7)
    subFilter = !detachedSignature_ ? "adbe.pkcs7.sha1"
                : cades_            ? "ETSI.CAdES.detached"
                                    : "adbe.pkcs7.detached";
  AddNameEntry(sigDict, "SubFilter", subFilter);
  if (signatureKind_ == PDF_SIGNATURE_KIND_X509) WriteCertificateChain(sigDict);
}

// /Cert: the signing certificate and its issuers found in the storage, in
// that order.
void TOvPDFPublicKeySecurityHandler::WriteCertificateChain(TOvPDFDictionary* sigDict) {
  if (!certStorage_ || certStorage_->Count() == 0) Fail("No signing certificate found");
  if (certStorage_->Count() == 1) {
    AddStringEntry(sigDict, "Cert", certStorage_->Certificates(0)->CertificateBinary(), 1);
    return;
  }
  TOvX509Certificate* current = SigningCertificate();
  if (!current) return;
  TOvPDFArray* chain = sigDict->Owner()->NewArray();
  std::unordered_set<const TOvX509Certificate*> seen;
  while (current) {
    if (!seen.insert(current).second) Fail("Invalid signing certificate chain");
    AppendString(chain, current->CertificateBinary(), 1);
    const int issuer = certStorage_->IndexOfIssuer(*current);
    current = issuer >= 0 ? certStorage_->Certificates(issuer) : nullptr;
  }
  sigDict->AddEntry("Cert", chain);
}

bool TOvPDFPublicKeySecurityHandler::GetSignerInfo(std::string& name, std::string& subjectLines,
                                                   std::string& keyDescription) {
  const TOvX509Certificate& certificate = RequireSigningCertificate();
  const TOvCertificateName& subject = certificate.SubjectName();
  name = !subject.CommonName.empty()     ? subject.CommonName
         : !subject.Organization.empty() ? subject.Organization
                                         : subject.EMail;
  subjectLines.clear();
  int lines = 0;
  auto addLine = [&](std::string_view prefix, const std::string& value) {
    if (value.empty()) return;
    subjectLines.append(prefix).append(value).append("\r\n");
    ++lines;
  };
  addLine("CN=", subject.CommonName);
  addLine("C=", subject.Country);
  addLine("O=", subject.Organization);
  addLine("E=", subject.EMail);
  static const std::string_view kListed[] = {
      {"\x55\x04\x03", 3},                          // common name
      {"\x55\x04\x06", 3},                          // country
      {"\x55\x04\x0A", 3},                          // organisation
      {"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x01", 9},  // e-mail
  };
  const TOvRelativeDistinguishedName& rdn = certificate.SubjectRDN();
  for (int i = 0; i < rdn.Count() && lines < 4; ++i) {
    if (OneOf(kListed, rdn.Types(i))) continue;
    subjectLines.append(OIDToText(rdn.Types(i))).append("=").append(rdn.Values(i));
    ++lines;
  }
  keyDescription = "RSA/" + std::to_string(KeyBits(certificate)) + " bits";
  return true;
}

void TOvPDFPublicKeySecurityHandler::HashInit() {
  if (!hashMode_) {
    collected_.clear();
    return;
  }
  hash_.reset();
  const int32_t algorithm = (signatureKind_ == PDF_SIGNATURE_KIND_PKCS7 && !detachedSignature_)
                                ? ALG_SHA1
                                : hashAlgorithm_;
  hash_ = std::make_unique<TOvHashFunction>(algorithm, nullptr, CryptoProviderManager(),
                                            static_cast<TOvCryptoParams>(nullptr));
}

bool TOvPDFPublicKeySecurityHandler::HashUpdate(std::string_view bytes) {
  if (!hashMode_) {
    collected_.append(bytes);
    return true;
  }
  if (!hash_) return false;
  hash_->Update(bytes);
  return true;
}

ByteString TOvPDFPublicKeySecurityHandler::HashFinal() {
  if (!hashMode_ || !hash_) return {};
  ByteString digest = hash_->Finish();
  hash_.reset();
  return digest;
}

ByteString TOvPDFPublicKeySecurityHandler::SignDigest(std::string_view digest) {
  if (signatureKind_ == PDF_SIGNATURE_KIND_X509) return SignRaw(digest);
  if (signatureKind_ == PDF_SIGNATURE_KIND_PKCS7) return SignPKCS7(digest);
  throw EOvPDFSecurityHandlerError("Unsupported algorithm: " + std::to_string(signatureKind_));
}

// adbe.x509.rsa_sha1: an OCTET STRING holding the PKCS#1 v1.5 signature.
ByteString TOvPDFPublicKeySecurityHandler::SignRaw(std::string_view digest) {
  TOvX509Certificate& certificate = RequireSigningCertificate();
  const int32_t algorithm = RequireSupportedHash();
  TOvRSAPublicKeyCrypto crypto(nullptr, CryptoProviderManager());
  crypto.SetKeyMaterial(certificate.KeyMaterial());
  crypto.SetInputIsHash(true);
  crypto.SetHashAlgorithm(algorithm);
  size_t size = 0;
  crypto.SignDetached(digest.data(), digest.size(), nullptr, size);
  ByteString signature(size, '\0');
  crypto.SignDetached(digest.data(), digest.size(), signature.data(), size);
  signature.resize(size);
  return EncodeOctetString(signature);
}

int64_t TOvPDFPublicKeySecurityHandler::EstimateSignatureSize() {
  if (signatureKind_ == PDF_SIGNATURE_KIND_X509) {
    const TOvX509Certificate& certificate = RequireSigningCertificate();
    const size_t bytes = static_cast<size_t>(KeyBits(certificate)) / 8 + 1;
    return static_cast<int64_t>(EncodeOctetString(ByteString(bytes, '\0')).size());
  }
  if (signatureKind_ == PDF_SIGNATURE_KIND_PKCS7) return EstimatePKCS7Size();
  return 0;
}

void TOvPDFPublicKeySecurityHandler::LoadSignatureInfo(TOvPDFDictionary* sigDict) {
  try {
    readSubFilter_ = GetNameEntry(sigDict, "SubFilter", "", false);
    readValue_ = GetStringEntry(sigDict, "Contents", false);
    readCertificates_->Clear();
    signerCertificate_.reset();
    readSignerCount_ = 0;
    if (TOvPDFObject* cert = GetResolvedEntry(sigDict, "Cert")) {
      std::vector<ByteString> blobs;
      if (auto* text = dynamic_cast<TOvPDFString*>(cert)) {
        blobs.push_back(text->GetText());
      } else if (auto* list = dynamic_cast<TOvPDFArray*>(cert)) {
        for (size_t i = 0; i < list->ItemCount(); ++i)
          if (auto* item = dynamic_cast<TOvPDFString*>(ResolveValue(list->GetItem(i))))
            blobs.push_back(item->GetText());
      }
      for (const ByteString& blob : blobs) {
        TOvX509Certificate certificate;
        certificate.LoadFromBytes(blob);
        readCertificates_->Add(certificate, false);
      }
    }
    // A CAdES value is a detached SignedData read as adbe.pkcs7.detached is.
    const bool detached =
        readSubFilter_ == "adbe.pkcs7.detached" || readSubFilter_ == "ETSI.CAdES.detached";
    if (detached || readSubFilter_ == "adbe.pkcs7.sha1") {
      signatureKind_ = PDF_SIGNATURE_KIND_PKCS7;
      detachedSignature_ = detached;
      cades_ = readSubFilter_ == "ETSI.CAdES.detached";
      LoadPKCS7Value();
    } else if (readSubFilter_ == "adbe.x509.rsa_sha1") {
      signatureKind_ = PDF_SIGNATURE_KIND_X509;
      LoadX509Value();
    }
  } catch (const EOvPDFPublicKeySecurityHandlerError&) {
    throw;
  } catch (const std::exception&) {
    Fail("Invalid security handler information");
  }
}

// The hash of an adbe.x509.rsa_sha1 value is named inside the signature:
// opened with the first certificate's public key, it is a DigestInfo.
void TOvPDFPublicKeySecurityHandler::LoadX509Value() {
  hashAlgorithm_ = 0x7FFF;
  if (readCertificates_->Count() == 0) return;
  auto* key = dynamic_cast<TOvRSAKeyMaterial*>(readCertificates_->Certificates(0)->KeyMaterial());
  if (!key) return;
  TCvDERReader reader(DERPrefix(readValue_));
  std::string_view signature;
  if (!reader.Read(ASN1_OCTET_STRING, signature)) return;
  const TOvMPInt n = TOvMPInt::FromBytes(key->PublicModulus());
  const TOvMPInt e = TOvMPInt::FromBytes(key->PublicExponent());
  for (std::string_view attempt : {signature, signature.substr(0, signature.size() - 1)}) {
    const std::string em = RSAPublicApply(n, e, attempt);
    // 00 01 FF..FF 00 DigestInfo
    if (em.size() < 11 || em[0] != 0 || em[1] != 1) continue;
    const size_t zero = em.find('\0', 2);
    if (zero == std::string::npos) continue;
    TCvDERReader info(std::string_view(em).substr(zero + 1));
    std::string_view digestInfo, algorithm, oid;
    if (!info.Read(DER_SEQUENCE, digestInfo)) continue;
    TCvDERReader parts(digestInfo);
    if (!parts.Read(DER_SEQUENCE, algorithm)) continue;
    TCvDERReader identifier(algorithm);
    if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, oid)) continue;
    const int32_t found = HashAlgorithmOfOID(oid);
    if (found != ALG_UNKNOWN) hashAlgorithm_ = found;
    return;
  }
}

bool TOvPDFPublicKeySecurityHandler::VerifyDigest(std::string_view digest) {
  if (signatureKind_ == PDF_SIGNATURE_KIND_X509) return VerifyRaw(digest);
  return VerifyPKCS7(digest);
}

bool TOvPDFPublicKeySecurityHandler::VerifyRaw(std::string_view digest) {
  if (readCertificates_->Count() == 0) Fail("Signer certificate not found");
  signerCertificate_ = std::make_unique<TOvX509Certificate>();
  readCertificates_->Certificates(0)->Clone(signerCertificate_.get(), false);
  const int32_t algorithm = hashAlgorithm_ == 0x7FFF ? ALG_SHA1 : RequireSupportedHash();
  TCvDERReader reader(DERPrefix(readValue_));
  std::string_view signature;
  if (!reader.Read(ASN1_OCTET_STRING, signature)) return false;
  TOvRSAPublicKeyCrypto crypto(nullptr, CryptoProviderManager());
  crypto.SetKeyMaterial(readCertificates_->Certificates(0)->KeyMaterial());
  crypto.SetInputIsHash(true);
  crypto.SetHashAlgorithm(algorithm);
  return crypto.VerifyDetached(digest, signature) == 0;
}

// --- PKCS#7 values ----------------------------------------------------------

namespace {

// The OID of id-data as the DER value of a contentType attribute.
ByteString DataContentTypeValue() { return EncodeOID(oid::PKCS7_DATA); }

constexpr std::string_view kRevocationInfoArchival{"\x2A\x86\x48\x86\xF7\x2F\x01\x01\x08", 9};
// id-aa-signingCertificateV2 (RFC 5035).
constexpr std::string_view kSigningCertificateV2{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x2F",
                                                 11};

// SigningCertificateV2 { certs { ESSCertIDv2 } }: the SHA-256 hash of the
// certificate (the default algorithm, so not written) and its issuer and
// serial, which binds the signature to this very certificate.
ByteString SigningCertificateV2Value(const TOvX509Certificate& certificate) {
  TOvHashFunction sha256(ALG_SHA256);
  sha256.Update(certificate.CertificateBinary());
  const std::string issuerSerial =
      EncodeSequence({EncodeSequence({EncodeConstructed(0xA4, {certificate.IssuerNameDER()})}),
                      EncodePrimitive(ASN1_INTEGER, certificate.SerialNumberOctets())});
  const std::string certId = EncodeSequence({EncodeOctetString(sha256.Finish()), issuerSerial});
  return EncodeSequence({EncodeSequence({certId})});
}

// The person reads this: the cause in words, never the signer's bare code.
std::string SignerFailure(int32_t code, const std::string& info) {
  constexpr std::string_view kPrefix = "Signing failed: ";
  // A provider's text may say so already; it is not said twice.
  std::string cause = info.starts_with(kPrefix) ? info.substr(kPrefix.size()) : info;
  if (cause.empty()) cause = MessageErrorText(code);
  return std::string(kPrefix) + cause;
}

}  // namespace

int64_t TOvPDFPublicKeySecurityHandler::EstimatePKCS7Size() {
  TOvMessageSigner signer;
  signer.SetCryptoProviderManager(CryptoProviderManager());
  signer.SetCertStorage(certStorage_);
  signer.SetIncludeCertificates(true);
  signer.SetHashAlgorithm(hashAlgorithm_);
  signer.SetUsePSS(usePSS_);
  signer.SetTSPClient(tspClient_);
  signer.AuthenticatedAttributes().Add(oid::ATTR_MESSAGE_DIGEST,
                                       EncodeOctetString(ByteString(64, '\0')));
  if (cades_ && detachedSignature_) AddCAdESAttributes(signer.AuthenticatedAttributes());
  int64_t size = 0;
  const int32_t result = signer.Sign(nullptr, 0, detachedSignature_, size, nullptr);
  if (result == MSG_ERROR_NO_CERTIFICATE) Fail("No signing certificate found");
  // A token carries the authority's certificates and grows with them; the
  // authority itself says how large, so a long chain never overflows.
  const int64_t token = tspClient_ ? MeasureTimestampToken() + 1024 : 0;
  return size + 256 + revocationInfo_.EstimatedSize() + token;
}

int64_t TOvPDFPublicKeySecurityHandler::MeasureTimestampToken() {
  TOvHashFunction hash(tspClient_->HashAlgorithm(), nullptr, CryptoProviderManager(),
                       static_cast<TOvCryptoParams>(nullptr));
  hash.Update("size of a timestamp token");
  ByteString token;
  const std::string failure = RequestTimestampToken(*tspClient_, hash.Finish(), token);
  if (!failure.empty()) Fail(failure);
  measuredToken_ = static_cast<int64_t>(token.size());
  return measuredToken_;
}

void TOvPDFPublicKeySecurityHandler::AddCAdESAttributes(TOvPKCS7Attributes& attributes) const {
  // No signing-time: the time of a PAdES signature is /M (or its timestamp).
  attributes.Add(kSigningCertificateV2, SigningCertificateV2Value(RequireSigningCertificate()));
}

ByteString TOvPDFPublicKeySecurityHandler::SignPKCS7(std::string_view digest) {
  RequireSigningCertificate();
  RequireSupportedHash();
  TOvMessageSigner signer;
  signer.SetCryptoProviderManager(CryptoProviderManager());
  signer.SetUseUndefSize(false);
  signer.SetCertStorage(certStorage_);
  signer.SetIncludeCertificates(true);
  signer.SetHashAlgorithm(hashAlgorithm_);
  signer.SetUsePSS(usePSS_);
  TCvSigningOptions options = ignoreTimestampFailure_ ? soIgnoreTimestampFailure : 0;
  signer.SetTSPClient(tspClient_);
  std::string_view data = digest;
  bool detached = true;
  if (hashMode_) {
    TOvPKCS7Attributes& attributes = signer.AuthenticatedAttributes();
    if (detachedSignature_) {
      attributes.Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(digest));
      attributes.Add(oid::ATTR_CONTENT_TYPE, DataContentTypeValue());
      if (cades_) AddCAdESAttributes(attributes);
    } else {
      // adbe.pkcs7.sha1: the message carries the SHA-1 digest as its content.
      options |= soInsertMessageDigests;
      attributes.Add(oid::ATTR_CONTENT_TYPE, DataContentTypeValue());
      detached = false;
    }
  } else {
    data = collected_;
  }
  if (!revocationInfo_.Empty())
    signer.AuthenticatedAttributes().Add(kRevocationInfoArchival, revocationInfo_.Encode());
  signer.SetSigningOptions(options);

  int64_t size = 0;
  int32_t result =
      signer.Sign(data.data(), static_cast<int64_t>(data.size()), detached, size, nullptr);
  if (result != MSG_ERROR_BUFFER_TOO_SMALL && result != 0)
    throw EOvPDFSecurityHandlerError(SignerFailure(result, signer.ErrorInfo()));
  // The signer's own allowance for a token is smaller than many tokens.
  if (tspClient_) size += (measuredToken_ > 0 ? measuredToken_ : 65536) + 1024;
  ByteString value(static_cast<size_t>(size), '\0');
  result =
      signer.Sign(data.data(), static_cast<int64_t>(data.size()), detached, size, value.data());
  if (result != 0) throw EOvPDFSecurityHandlerError(SignerFailure(result, signer.ErrorInfo()));
  value.resize(static_cast<size_t>(size));
  return value;
}

void TOvPDFPublicKeySecurityHandler::LoadPKCS7Value() {
  const std::string_view der = DERPrefix(readValue_);
  if (der.empty()) Fail("Invalid PKCS#7 data");
  TOvPKCS7Message message;
  const int32_t result = message.LoadFromBytes(der);
  if (result != 0) throw EOvPDFPublicKeySecurityHandlerError("Invalid PKCS#7 data", result);
  if (message.ContentType != ctSignedData) Fail("Invalid PKCS#7 data");
  TOvPKCS7SignedData& data = message.SignedData();
  for (int i = 0; i < data.Certificates().Count(); ++i)
    if (TOvX509Certificate* certificate = data.Certificates().Certificates(i))
      readCertificates_->Add(*certificate, false);
  hashAlgorithm_ = ALG_SHA1;
  readSignerCount_ = data.SignerCount();
  if (data.SignerCount() > 0) {
    const int32_t found = HashAlgorithmOfOID(data.Signers(0)->DigestAlgorithm);
    if (IsSupportedHash(found)) hashAlgorithm_ = found;
  }
}

bool TOvPDFPublicKeySecurityHandler::VerifyPKCS7(std::string_view digest) {
  signerCertificate_.reset();
  // A PDF signature is one signer's; a second SignerInfo could stand for
  // anything its verifier chooses to show. (None at all is the verifier's
  // invalid message.)
  if (readSignerCount_ > 1) {
    lastVerificationResult_ = MSG_ERROR_SIGNER_COUNT;
    return false;
  }
  const std::string_view der = DERPrefix(readValue_);
  TOvMessageVerifier verifier;
  verifier.SetCryptoProviderManager(CryptoProviderManager());
  // The value's own certificates come first; a signer certificate it lacks
  // is looked up in the local storage.
  verifier.SetCertStorage(certStorage_ ? certStorage_ : readCertificates_.get());
  TCvVerificationOptions options = verifier.VerificationOptions() | voLiberalMode;
  if (!verifyTimestamps_) options &= ~voVerifyTimestamps;
  verifier.SetVerificationOptions(options);
  int32_t result = 0;
  if (detachedSignature_) {
    verifier.SetInputIsHash(true);
    result = verifier.VerifyDetached(digest.data(), static_cast<int64_t>(digest.size()), der.data(),
                                     static_cast<int64_t>(der.size()));
  } else {
    ByteString content(der.size(), '\0');
    int64_t size = static_cast<int64_t>(content.size());
    result = verifier.Verify(der.data(), static_cast<int64_t>(der.size()), size, content.data());
    if (result == 0 && content.substr(0, static_cast<size_t>(size)) != digest)
      result = MSG_ERROR_DIGEST_MISMATCH;
  }
  lastVerificationResult_ = result;
  readTimestampCount_ = verifier.TimestampCount();
  if (TOvX509Certificate* found = verifier.SignerCertificate(0)) {
    signerCertificate_ = std::make_unique<TOvX509Certificate>();
    found->Clone(signerCertificate_.get(), false);
  }
  const int revocation = verifier.Attributes().IndexOfType(kRevocationInfoArchival);
  if (revocation >= 0) {
    const std::vector<ByteString>* values = verifier.Attributes().Values(revocation);
    if (values && !values->empty()) revocationInfo_.Decode(values->front());
  }
  return result == 0;
}

void TOvPDFPublicKeySecurityHandler::CheckWrittenValue(std::string_view value,
                                                       std::string_view digest) const {
  // A handler of its own reads the value, so nothing of this one changes.
  TOvPDFPublicKeySecurityHandler checker;
  checker.SetCryptoProviderManager(CryptoProviderManager());
  checker.certStorage_ = certStorage_;
  checker.signatureKind_ = signatureKind_;
  checker.detachedSignature_ = detachedSignature_;
  // A timestamp asked for must be one of this signature value, and sound.
  checker.verifyTimestamps_ = tspClient_ != nullptr;
  checker.readValue_ = ByteString(value);
  const TOvX509Certificate* signing = SigningCertificate();
  bool verified = false;
  try {
    if (signatureKind_ == PDF_SIGNATURE_KIND_X509) {
      if (signing) checker.readCertificates_->Add(*SigningCertificate(), false);
      checker.LoadX509Value();
    } else {
      checker.LoadPKCS7Value();
    }
    verified = checker.VerifyDigest(digest);
  } catch (const std::exception& e) {
    Fail(std::string("The signature written cannot be read back: ") + e.what());
  }
  if (!verified && checker.lastVerificationResult_ == MSG_ERROR_INVALID_TIMESTAMP)
    Fail("The timestamp token received does not cover the signature written");
  if (!verified) {
    const int32_t code = checker.lastVerificationResult_;
    Fail("The signature written does not verify" +
         (code != 0 ? " (error " + std::to_string(code) + ")" : std::string()));
  }
  if (tspClient_ && checker.readTimestampCount_ == 0)
    Fail("The signature written carries no timestamp");
  const TOvX509Certificate* named = checker.SignerCertificate();
  if (!signing || !named || named->CertificateBinary() != signing->CertificateBinary())
    Fail("The signature written names another signer");
}

ByteString TOvPDFPublicKeySecurityHandler::TimestampSignature() {
  if (!tspClient_) Fail("TSP client component not found");
  const std::string_view der = DERPrefix(readValue_);
  if (der.empty()) Fail("Invalid PKCS#7 data");
  TOvMessageSigner signer;
  signer.SetCryptoProviderManager(CryptoProviderManager());
  signer.SetTSPClient(tspClient_);
  int64_t size = 0;
  int32_t result = signer.Timestamp(der.data(), static_cast<int64_t>(der.size()), size, nullptr);
  if (result == MSG_ERROR_BUFFER_TOO_SMALL) {
    ByteString value(static_cast<size_t>(size), '\0');
    result = signer.Timestamp(der.data(), static_cast<int64_t>(der.size()), size, value.data());
    if (result == 0) {
      value.resize(static_cast<size_t>(size));
      return value;
    }
  }
  Fail("Signing failed (error " + std::to_string(result) + ")");
}

void TOvPDFPublicKeySecurityHandler::BeginTimestamping() { hashMode_ = true; }

}  // namespace corvane
