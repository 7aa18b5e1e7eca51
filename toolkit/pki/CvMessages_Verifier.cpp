// TOvMessageVerifier: checks the signers of a SignedData against the content
// (encapsulated or given apart), their countersignatures and timestamps.
#include <algorithm>
#include <cstring>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvMath.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/crypto/CvRSA.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {
namespace {

bool IsRSASignatureOID(std::string_view oid) {
  if (oid == oid::RSA_ENCRYPTION) return true;
  const int32_t code = SignatureAlgorithmOfOID(oid);
  return code != ALG_UNKNOWN && code != CERT_ALG_RSAPSS && KeyFamilyOf(code) == ALG_RSA;
}

// Whether an RSA signature opens to a well-formed PKCS#1 v1.5 block at all:
// tells a wrong key or damaged signature from a different digest.
bool OpensToPKCS1Block(const TOvRSAKeyMaterial& key, std::string_view signature) {
  const ByteString modulus = key.PublicModulus();
  if (signature.size() != modulus.size()) return false;
  const std::string em = RSAPublicApply(TOvMPInt::FromBytes(modulus),
                                        TOvMPInt::FromBytes(key.PublicExponent()), signature);
  if (em.size() < 11 || em[0] != 0 || em[1] != 1) return false;
  size_t i = 2;
  while (i < em.size() && static_cast<uint8_t>(em[i]) == 0xFF) ++i;
  return i >= 10 && i < em.size() && em[i] == 0;
}

// The first value of a messageDigest attribute as an OCTET STRING's content.
bool MessageDigestOf(const TOvPKCS7Attributes& attributes, ByteString& digest) {
  const int index = attributes.IndexOfType(oid::ATTR_MESSAGE_DIGEST);
  if (index < 0) return false;
  const std::vector<ByteString>& values = *attributes.Values(index);
  if (values.empty()) return false;
  uint8_t tag = 0;
  digest = UnwrapTag(values.front(), tag);
  return tag == ASN1_OCTET_STRING;
}

// ESS signing-certificate (RFC 2634 5.4) and signing-certificate-v2 (RFC 5035).
constexpr std::string_view kSigningCertificate{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0C", 11};
constexpr std::string_view kSigningCertificateV2{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x2F",
                                                 11};

// The first ESSCertID of a signing-certificate attribute value: the hash
// algorithm, the hash and the issuerSerial's issuer names and serial (both
// empty when it is absent). False when the value does not parse.
struct TESSCertID {
  int32_t HashAlgorithm = ALG_SHA1;
  std::string_view Hash;
  std::vector<std::string_view> IssuerNames;
  std::string_view Serial;
  bool HasIssuerSerial = false;
};

bool ReadFirstESSCertID(std::string_view value, bool v2, TESSCertID& id) {
  std::string_view attribute, certs, certID;
  TCvDERReader outer(value);
  if (!outer.Read(ASN1_SEQUENCE, attribute) || !outer.AtEnd()) return false;
  TCvDERReader fields(attribute);
  if (!fields.Read(ASN1_SEQUENCE, certs)) return false;
  TCvDERReader list(certs);
  if (!list.Read(ASN1_SEQUENCE, certID)) return false;
  TCvDERReader parts(certID);
  id.HashAlgorithm = v2 ? ALG_SHA256 : ALG_SHA1;
  if (v2 && parts.PeekTag() == ASN1_SEQUENCE) {
    std::string_view algorithm, oid;
    if (!parts.Read(ASN1_SEQUENCE, algorithm)) return false;
    TCvDERReader identifier(algorithm);
    if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, oid)) return false;
    id.HashAlgorithm = HashAlgorithmOfOID(oid);
    if (id.HashAlgorithm == ALG_UNKNOWN) return false;
  }
  if (!parts.Read(ASN1_OCTET_STRING, id.Hash)) return false;
  if (parts.AtEnd()) return true;
  std::string_view issuerSerial, names;
  if (!parts.Read(ASN1_SEQUENCE, issuerSerial) || !parts.AtEnd()) return false;
  TCvDERReader serialParts(issuerSerial);
  if (!serialParts.Read(ASN1_SEQUENCE, names)) return false;
  TCvDERReader generalNames(names);
  while (!generalNames.AtEnd()) {
    uint8_t tag = 0;
    std::string_view content, whole;
    if (!generalNames.ReadAny(tag, content, whole)) return false;
    if (tag == 0xA4) id.IssuerNames.push_back(content);  // directoryName [4] EXPLICIT Name
  }
  if (!serialParts.Read(ASN1_INTEGER, id.Serial) || !serialParts.AtEnd()) return false;
  id.HasIssuerSerial = true;
  return true;
}

}  // namespace

TOvMessageVerifier::TOvMessageVerifier() = default;
TOvMessageVerifier::~TOvMessageVerifier() = default;

TOvClientTSPInfo* TOvMessageVerifier::Timestamps(int index) const {
  if (index < 0 || index >= TimestampCount()) return nullptr;
  return timestamps_[static_cast<size_t>(index)].get();
}

void TOvMessageVerifier::ClearTimestamps() { timestamps_.clear(); }

TOvX509Certificate* TOvMessageVerifier::SignerCertificate(int index) const {
  if (index < 0 || index >= SignerCount()) return nullptr;
  return signer_certificates_[static_cast<size_t>(index)].get();
}

int32_t TOvMessageVerifier::Verify(const void* message, int64_t size, int64_t& contentSize,
                                   void* content) {
  error_info_.clear();
  if (size < 0 || (message == nullptr && size > 0)) return MSG_ERROR_INVALID_MESSAGE;
  if (content == nullptr || contentSize < size) {
    contentSize = size;
    return MSG_ERROR_BUFFER_TOO_SMALL;
  }
  ByteString out;
  const int32_t rc =
      Run(std::string_view(static_cast<const char*>(message), static_cast<size_t>(size)), nullptr,
          &out);
  // The content is handed out whenever the message could be read; the result
  // says whether it may be trusted.
  const size_t written = std::min(out.size(), static_cast<size_t>(contentSize));
  if (written > 0) std::memcpy(content, out.data(), written);
  contentSize = static_cast<int64_t>(written);
  return rc;
}

int32_t TOvMessageVerifier::VerifyDetached(const void* data, int64_t dataSize,
                                           const void* signature, int64_t signatureSize) {
  error_info_.clear();
  if (dataSize < 0 || (data == nullptr && dataSize > 0) || signatureSize < 0 ||
      (signature == nullptr && signatureSize > 0))
    return MSG_ERROR_INVALID_MESSAGE;
  const std::string_view detached(static_cast<const char*>(data), static_cast<size_t>(dataSize));
  return Run(
      std::string_view(static_cast<const char*>(signature), static_cast<size_t>(signatureSize)),
      &detached, nullptr);
}

int32_t TOvMessageVerifier::Run(std::string_view bytes, const std::string_view* detached,
                                ByteString* content) {
  certificates_.Clear();
  attributes_.Clear();
  timestamps_.clear();
  signer_certificates_.clear();
  content_type_.clear();
  try {
    TOvPKCS7Message message;
    if (options_ & voNoOuterContentInfo) {
      message.NoOuterContentInfo = true;
      message.ContentType = ctSignedData;
    }
    if (message.LoadFromBytes(bytes) != 0) return MSG_ERROR_INVALID_MESSAGE;
    if (message.ContentType == ctAuthenticatedData) {
      // Checking a MAC needs a recipient key of our own.
      bool recipient = false;
      const int count = cert_storage_ != nullptr ? cert_storage_->Count() : 0;
      for (int i = 0; i < count && !recipient; ++i)
        recipient = cert_storage_->Certificates(i)->PrivateKeyExists();
      if (!recipient) return MSG_ERROR_NO_CERTIFICATE;
      return CheckAuthenticatedData(message.AuthenticatedData().Encoding, detached, content);
    }
    if (message.ContentType != ctSignedData) return MSG_ERROR_NOT_SIGNED_DATA;
    TOvPKCS7SignedData& data = message.SignedData();
    if (data.SignerCount() == 0) return MSG_ERROR_INVALID_MESSAGE;
    content_type_ = data.ContentType;
    data.Certificates().ExportTo(certificates_);
    const ByteString encapsulated = data.ContentBytes();
    if (content != nullptr) *content = encapsulated;
    if (on_cert_ids_) {
      std::vector<const TOvPKCS7Issuer*> ids;
      ids.reserve(static_cast<size_t>(data.SignerCount()));
      for (int i = 0; i < data.SignerCount(); ++i) ids.push_back(&data.Signers(i)->Issuer);
      on_cert_ids_(this, ids);
    }
    for (int i = 0; i < data.SignerCount(); ++i) {
      TOvPKCS7Signer& signer = *data.Signers(i);
      const int32_t hash = DigestAlgorithmOf(signer);
      if (hash == ALG_UNKNOWN) return MSG_ERROR_UNSUPPORTED_HASH;
      ByteString digest;
      try {
        if (detached != nullptr && input_is_hash_)
          digest = ByteString(*detached);
        else
          digest =
              HashBuffer(hash, detached != nullptr ? *detached : std::string_view(encapsulated));
      } catch (const EOvMessageUserCancelledError&) {
        throw;
      } catch (const std::exception& e) {
        error_info_ = e.what();
        return MSG_ERROR_UNSUPPORTED_HASH;
      }
      if (const int32_t rc = CheckSigner(signer, data, digest, hash, true)) return rc;
    }
    return 0;
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_EXCEPTION;
  }
}

int32_t TOvMessageVerifier::DigestAlgorithmOf(const TOvPKCS7Signer& signer) const {
  int32_t hash = HashAlgorithmOfOID(signer.DigestAlgorithm);
  // Some signers put the signature algorithm where the digest algorithm belongs.
  if (hash == ALG_UNKNOWN && (options_ & voLiberalMode))
    hash = HashOfSignatureAlgorithm(SignatureAlgorithmOfOID(signer.DigestAlgorithm));
  return hash;
}

TOvX509Certificate* TOvMessageVerifier::FindCertificate(const TOvPKCS7Issuer& issuer,
                                                        TOvPKCS7SignedData& data) {
  auto matches = [&](const TOvX509Certificate& c) {
    if (IssuerIdentifies(issuer, c)) return true;
    if (issuer.IdentificationKind == PKCS7_SUBJECT_KEY_IDENTIFIER) return false;
    // Liberal: a name and serial equal in value though not in encoding.
    return (options_ & voLiberalMode) != 0 &&
           StripLeadingZeros(issuer.SerialNumber) == StripLeadingZeros(c.SerialNumberOctets()) &&
           issuer.IssuerName.Equals(c.IssuerRDN());
  };
  auto search = [&](TOvCustomCertStorage& storage) -> TOvX509Certificate* {
    const int count = storage.Count();
    for (int i = 0; i < count; ++i) {
      TOvX509Certificate* c = storage.Certificates(i);
      if (c != nullptr && matches(*c)) return c;
    }
    return nullptr;
  };
  TOvX509Certificate* found = nullptr;
  if (options_ & voUseEmbeddedCerts) found = search(data.Certificates());
  if (found == nullptr && (options_ & voUseLocalCerts) && cert_storage_ != nullptr)
    found = search(*cert_storage_);
  return found;
}

int32_t TOvMessageVerifier::CheckSignature(TOvPKCS7Signer& signer,
                                           const TOvX509Certificate& certificate,
                                           std::string_view value, int32_t hashAlgorithm) {
  auto* key = dynamic_cast<TOvRSAKeyMaterial*>(certificate.KeyMaterial());
  const std::string_view algorithm = signer.DigestEncryptionAlgorithm;
  if (algorithm == oid::RSASSA_PSS) {
    if (key == nullptr) return MSG_ERROR_UNSUPPORTED_ALGORITHM;
    TOvRSAPublicKeyCrypto crypto(oid::RSASSA_PSS, nullptr, CryptoProviderManager());
    if (!signer.DigestEncryptionAlgorithmParameters.empty()) {
      TOvRSAPSSAlgorithmIdentifier id;
      id.LoadFromBytes(
          EncodeAlgorithmIdentifier(algorithm, signer.DigestEncryptionAlgorithmParameters, false));
      crypto.LoadAlgorithmIdentifier(id);
    }
    crypto.SetKeyMaterial(key);
    crypto.SetInputIsHash(true);
    return crypto.VerifyDetached(value, signer.EncryptedDigest) == VERIFY_VALID
               ? 0
               : MSG_ERROR_DIGEST_MISMATCH;
  }
  if (IsRSASignatureOID(algorithm)) {
    if (key == nullptr || KeyFamilyOf(certificate.PublicKeyAlgorithm()) != ALG_RSA)
      return MSG_ERROR_UNSUPPORTED_ALGORITHM;
    TOvRSAPublicKeyCrypto crypto(nullptr, CryptoProviderManager());
    crypto.SetKeyMaterial(key);
    crypto.SetScheme(RSA_SCHEME_PKCS1);
    crypto.SetInputIsHash(true);
    crypto.SetHashAlgorithm(hashAlgorithm);
    crypto.SetHashFuncOID(OIDOfHashAlgorithm(hashAlgorithm));
    crypto.SetUseAlgorithmPrefix(true);
    if (crypto.VerifyDetached(value, signer.EncryptedDigest) == VERIFY_VALID) return 0;
    return OpensToPKCS1Block(*key, signer.EncryptedDigest) ? MSG_ERROR_DIGEST_MISMATCH
                                                           : MSG_ERROR_INVALID_SIGNATURE;
  }
  if (algorithm == oid::EC_PUBLIC_KEY ||
      KeyFamilyOf(SignatureAlgorithmOfOID(algorithm)) == ALG_EC) {
    // id-ecPublicKey or ecdsa-with-*: the value is the digest of the signer's
    // digest algorithm (RFC 5753 7.1.3).
    const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(certificate.KeyMaterial());
    if (ec == nullptr) return MSG_ERROR_UNSUPPORTED_ALGORITHM;
    return ec->VerifyDigest(value, signer.EncryptedDigest) == VERIFY_VALID
               ? 0
               : MSG_ERROR_INVALID_SIGNATURE;
  }
  // DSA keys cannot be checked with the keys this toolkit makes.
  return MSG_ERROR_UNSUPPORTED_ALGORITHM;
}

int32_t TOvMessageVerifier::CheckSigner(TOvPKCS7Signer& signer, TOvPKCS7SignedData& data,
                                        std::string_view contentDigest, int32_t hashAlgorithm,
                                        bool checkDigest) {
  TOvX509Certificate* certificate = FindCertificate(signer.Issuer, data);
  if (certificate == nullptr) return MSG_ERROR_NO_CERTIFICATE;
  auto kept = std::make_unique<TOvX509Certificate>();
  certificate->Clone(kept.get(), false);
  signer_certificates_.push_back(std::move(kept));

  const bool signedAttributes = signer.AuthenticatedAttributes.Count() > 0;
  ByteString value(contentDigest);
  if (signedAttributes) {
    // The octets received, not a re-encoding of them (RFC 5652 5.4).
    value = HashBuffer(hashAlgorithm, signer.AuthenticatedAttributesEncoding);
  }
  if (const int32_t rc = CheckSignature(signer, *certificate, value, hashAlgorithm)) return rc;
  if (signedAttributes)
    if (const int32_t rc = CheckSigningCertificate(signer, *certificate)) return rc;
  if (checkDigest && (options_ & voVerifyMessageDigests) && signedAttributes) {
    ByteString digest;
    if (!MessageDigestOf(signer.AuthenticatedAttributes, digest))
      return MSG_ERROR_NO_MESSAGE_DIGEST;
    if (digest != contentDigest) return MSG_ERROR_DIGEST_MISMATCH;
  }
  signer.AuthenticatedAttributes.CopyTo(attributes_);
  signer.UnauthenticatedAttributes.CopyTo(attributes_);
  if (verify_countersignatures_)
    if (const int32_t rc = CheckCountersignatures(signer, data)) return rc;
  if (options_ & voVerifyTimestamps)
    if (const int32_t rc = CheckTimestamps(signer)) return rc;
  return 0;
}

// A signer that names its certificate in the signed attributes binds the
// signature to that certificate: another one with the same key (a new name,
// the same issuer and serial) is refused.
int32_t TOvMessageVerifier::CheckSigningCertificate(const TOvPKCS7Signer& signer,
                                                    const TOvX509Certificate& certificate) {
  const TOvPKCS7Attributes& attributes = signer.AuthenticatedAttributes;
  for (const bool v2 : {false, true}) {
    const int index = attributes.IndexOfType(v2 ? kSigningCertificateV2 : kSigningCertificate);
    if (index < 0) continue;
    const std::vector<ByteString>* values = attributes.Values(index);
    TESSCertID id;
    if (values == nullptr || values->empty() || !ReadFirstESSCertID(values->front(), v2, id))
      return MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH;
    ByteString hash;
    try {
      hash = HashBuffer(id.HashAlgorithm, certificate.CertificateBinary());
    } catch (const EOvMessageUserCancelledError&) {
      throw;
    } catch (const std::exception& e) {
      error_info_ = e.what();
      return MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH;
    }
    if (hash != id.Hash) return MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH;
    if (id.HasIssuerSerial) {
      const bool serial = id.Serial == certificate.SerialNumberOctets();
      const bool issuer =
          std::find(id.IssuerNames.begin(), id.IssuerNames.end(),
                    std::string_view(certificate.IssuerNameDER())) != id.IssuerNames.end();
      if (!serial || !issuer) return MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH;
    }
  }
  return 0;
}

int32_t TOvMessageVerifier::CheckCountersignatures(TOvPKCS7Signer& signer,
                                                   TOvPKCS7SignedData& data) {
  const TOvPKCS7Attributes& attributes = signer.UnauthenticatedAttributes;
  for (int i = 0; i < attributes.Count(); ++i) {
    if (attributes.GetType(i) != oid::ATTR_COUNTERSIGNATURE) continue;
    for (const ByteString& encoded : *attributes.Values(i)) {
      TOvASN1ConstrainedTag tree;
      if (tree.LoadSingleFromBuffer(encoded.data(), static_cast<int64_t>(encoded.size())) < 0)
        return MSG_ERROR_INVALID_COUNTERSIGNATURE;
      const TOvASN1ConstrainedTag* node = tree.ConstrainedChild(0);
      TOvPKCS7Signer countersigner;
      if (node == nullptr || countersigner.LoadFromTag(*node, encoded) != 0)
        return MSG_ERROR_INVALID_COUNTERSIGNATURE;
      const int32_t hash = DigestAlgorithmOf(countersigner);
      if (hash == ALG_UNKNOWN) return MSG_ERROR_INVALID_COUNTERSIGNATURE;
      const ByteString digest = HashBuffer(hash, signer.EncryptedDigest);
      TOvX509Certificate* certificate = FindCertificate(countersigner.Issuer, data);
      if (certificate == nullptr) return MSG_ERROR_INVALID_COUNTERSIGNATURE;
      ByteString value = digest;
      const bool signedAttributes = countersigner.AuthenticatedAttributes.Count() > 0;
      if (signedAttributes) value = HashBuffer(hash, countersigner.AuthenticatedAttributesEncoding);
      if (CheckSignature(countersigner, *certificate, value, hash) != 0)
        return MSG_ERROR_INVALID_COUNTERSIGNATURE;
      ByteString signedDigest;
      if (signedAttributes &&
          (!MessageDigestOf(countersigner.AuthenticatedAttributes, signedDigest) ||
           signedDigest != digest))
        return MSG_ERROR_INVALID_COUNTERSIGNATURE;
    }
  }
  return 0;
}

int32_t TOvMessageVerifier::CheckTimestamps(TOvPKCS7Signer& signer) {
  int32_t result = 0;
  const TOvPKCS7Attributes& attributes = signer.UnauthenticatedAttributes;
  for (int i = 0; i < attributes.Count(); ++i) {
    if (attributes.GetType(i) != oid::ATTR_TIMESTAMP_TOKEN || attributes.Values(i)->empty())
      continue;
    const ByteString& value = attributes.Values(i)->front();
    auto info = std::make_unique<TOvClientTSPInfo>();
    info->Verifier().SetCryptoProviderManager(CryptoProviderManager());
    int32_t rc = info->ParseToken(value);
    if (rc != 0 && info->ParseResult() == TSP_ERROR_INVALID_TSTINFO) {
      // A whole TimeStampResp { status, token } where the token belongs.
      TOvASN1ConstrainedTag tree;
      if (tree.LoadSingleFromBuffer(value.data(), static_cast<int64_t>(value.size())) > 0 &&
          tree.Count() == 1) {
        const TOvASN1ConstrainedTag* response = tree.ConstrainedChild(0);
        if (response != nullptr && response->TagByte() == ASN1_SEQUENCE && response->Count() == 2 &&
            CheckTag(response->GetChild(0), ASN1_SEQUENCE, true) &&
            CheckTag(response->GetChild(1), ASN1_SEQUENCE, true))
          rc = info->ParseToken(ElementOctets(value, *response->GetChild(1)));
      }
    }
    int32_t outcome = MSG_ERROR_INVALID_TIMESTAMP;
    // Fail closed: the token's own signature must hold and it must carry a TSTInfo.
    if (rc == 0 && info->SignatureResult() == 0 && info->ContentType() == oid::TST_INFO) {
      try {
        TOvASN1ConstrainedTag tree;
        const ByteString& imprint = info->MessageImprint();
        if (tree.LoadSingleFromBuffer(imprint.data(), static_cast<int64_t>(imprint.size())) ==
                static_cast<int64_t>(imprint.size()) &&
            tree.Count() == 1) {
          const TOvASN1ConstrainedTag* seq = tree.ConstrainedChild(0);
          ByteString hashOID, params;
          bool hadParams = false;
          const TOvASN1SimpleTag* hashed = seq != nullptr ? seq->SimpleChild(1) : nullptr;
          if (seq != nullptr && seq->TagByte() == ASN1_SEQUENCE && seq->Count() == 2 &&
              ReadAlgorithmIdentifier(seq->GetChild(0), imprint, hashOID, params, hadParams) &&
              hashed != nullptr && hashed->TagByte() == ASN1_OCTET_STRING) {
            auto hash = TOvHashFunction::CreateByOID(hashOID, nullptr, CryptoProviderManager());
            hash->Update(signer.EncryptedDigest);
            if (hash->Finish() == hashed->Content()) outcome = 0;
          }
        }
      } catch (const std::exception&) {
        outcome = MSG_ERROR_INVALID_TIMESTAMP;
      }
    }
    timestamps_.push_back(std::move(info));
    if (result == 0) result = outcome;
  }
  return result;
}

}  // namespace corvane
