// TOvX509Certificate: one X.509 certificate (RFC 5280 4.1). It keeps the
// encoded certificate, the fields the rest of the toolkit reads, its extension
// set and the key material made from its public key, through which a private
// key held by the system store is reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/pki/CvX509Ext.h"

namespace corvane {

class TOvCustomCryptoProvider;
class TOvCustomCryptoProviderManager;
class TOvPublicKeyMaterial;

// The common attributes of a name, as UTF-8 text.
struct TOvCertificateName {
  std::string Country;
  std::string StateOrProvince;
  std::string Locality;
  std::string Organization;
  std::string OrganizationUnit;
  std::string CommonName;
  std::string EMail;
};

// Largest DER certificate accepted.
inline constexpr size_t X509_MAX_CERTIFICATE_SIZE = 32768;

class TOvX509Certificate {
 public:
  TOvX509Certificate();
  virtual ~TOvX509Certificate();
  TOvX509Certificate(const TOvX509Certificate&) = delete;
  TOvX509Certificate& operator=(const TOvX509Certificate&) = delete;

  // DER, Base64 text or UTF-16LE Base64 text. Raises "Certificate is too long"
  // (EOvX509Error) and "Invalid certificate data" / "Unrecognized critical
  // certificate extension" (EOvCertificateError); a failed load leaves the
  // certificate empty.
  void LoadFromBuffer(const void* bytes, size_t size);
  void LoadFromBytes(std::string_view bytes) { LoadFromBuffer(bytes.data(), bytes.size()); }

  // Empties every field, both names, the extensions and the key material.
  virtual void Clear();
  bool IsEmpty() const { return encoded_.empty(); }

  // The DER certificate as loaded, and the to-be-signed part inside it.
  std::string_view CertificateBinary() const { return encoded_; }
  size_t CertificateSize() const { return encoded_.size(); }
  std::string_view SignedRegion() const;
  int64_t SignedRegionOffset() const { return tbs_offset_; }
  int64_t SignedRegionSize() const { return tbs_size_; }

  uint8_t Version() const { return version_; }

  // The serial's content octets with 0x00 put in front of a first octet of
  // 0x80 or above (text forms); SerialNumberPadded tells whether that happened.
  const ByteString& SerialNumber() const { return serial_; }
  bool SerialNumberPadded() const { return serial_padded_; }
  // The serial's content octets exactly as they stand in the certificate
  // (IssuerAndSerialNumber copies these).
  const ByteString& SerialNumberOctets() const { return serial_octets_; }

  TDateTime ValidFrom() const { return valid_from_; }
  TDateTime ValidTo() const { return valid_to_; }

  const TOvRelativeDistinguishedName& IssuerRDN() const { return issuer_rdn_; }
  const TOvRelativeDistinguishedName& SubjectRDN() const { return subject_rdn_; }
  const TOvCertificateName& IssuerName() const { return issuer_name_; }
  const TOvCertificateName& SubjectName() const { return subject_name_; }
  // The Name elements exactly as encoded in the certificate.
  const ByteString& IssuerNameDER() const { return issuer_der_; }
  const ByteString& SubjectNameDER() const { return subject_der_; }

  const ByteString& IssuerUniqueID() const { return issuer_unique_id_; }
  const ByteString& SubjectUniqueID() const { return subject_unique_id_; }

  // The algorithm field of the to-be-signed part; nullptr when empty.
  const TOvAlgorithmIdentifier* InnerSignatureIdentifier() const { return inner_algorithm_.get(); }
  // The certificate's signatureAlgorithm; nullptr when empty.
  const TOvAlgorithmIdentifier* SignatureIdentifier() const { return outer_algorithm_.get(); }
  // The outer identifier's code; ALG_UNKNOWN when there is none.
  int32_t SignatureAlgorithm() const;
  // The signature BIT STRING without its unused-bits octet.
  const ByteString& Signature() const { return signature_; }

  const TOvAlgorithmIdentifier* PublicKeyAlgorithmIdentifier() const {
    return key_algorithm_.get();
  }
  // The key algorithm's OID (content octets), also when no identifier class
  // knows it; the identifier is then nullptr and the key unsupported.
  const ByteString& PublicKeyAlgorithmOID() const { return key_algorithm_oid_; }
  // The key algorithm code (CERT_ALG_RSA, CERT_ALG_EC, ...); ALG_UNKNOWN when
  // empty or unknown.
  int32_t PublicKeyAlgorithm() const;
  // The subjectPublicKey BIT STRING content with its leading 0x00 octet.
  ByteString GetPublicKeyBits() const { return public_key_bits_; }
  // The same without that octet.
  const ByteString& PublicKey() const { return public_key_; }
  // The whole SubjectPublicKeyInfo, re-encoded.
  const ByteString& SubjectPublicKeyInfo() const { return spki_; }

  TOvCertificateExtensions& Extensions() const { return *extensions_; }

  // Key material made from the public key (RSA keys, EC keys on P-256, P-384
  // and P-521); nullptr when none could be made. Families without key material
  // classes (DSA, GOST, DH, unknown algorithms) and other curves get none.
  TOvPublicKeyMaterial* KeyMaterial() const { return key_material_.get(); }

  bool KeyAlgorithmCanSign() const;
  bool KeyAlgorithmCanEncrypt() const;
  // The key material's key says it has a secret part; false without one.
  bool PrivateKeyExists() const;
  // The store context handle kept in the key's "win32-certcontext" property;
  // 0 without key material.
  uint64_t CertContextHandle() const;
  void SetCertContext(uint64_t handle);

  // Loads target from this certificate's encoding and gives it a clone of the
  // key material; without copyPrivateKey the clone's secret part is cleared.
  void Clone(TOvX509Certificate* target, bool copyPrivateKey) const;
  static bool SameCertificate(const TOvX509Certificate& a, const TOvX509Certificate& b);

  ByteString FingerprintMD5() const;
  ByteString FingerprintSHA1() const;

  bool IsSelfIssued() const;
  // Self-issued and its signature verifies with its own key; false on any error.
  bool IsSelfSigned() const;
  // The signature verifies with the issuer certificate's key; false on any error.
  bool ValidateWithIssuer(const TOvX509Certificate& issuer) const;
  // A signature over data made with this certificate's key under the signature
  // algorithm whose AlgorithmIdentifier DER is given (OCSP responses, CRLs);
  // false on any error.
  bool VerifySignedData(std::string_view algorithmDER, std::string_view data,
                        std::string_view signature) const;

  // Used when key material is made; none by default (the default manager).
  TOvCustomCryptoProvider* CryptoProvider() const { return provider_; }
  void SetCryptoProvider(TOvCustomCryptoProvider* value) { provider_ = value; }
  TOvCustomCryptoProviderManager* CryptoProviderManager() const { return manager_; }
  void SetCryptoProviderManager(TOvCustomCryptoProviderManager* value) { manager_ = value; }

  // Name of the system store the certificate came from, and whether a storage built it.
  const std::string& StorageName() const { return storage_name_; }
  void SetStorageName(std::string value) { storage_name_ = std::move(value); }
  bool FromStorage() const { return from_storage_; }
  void SetFromStorage(bool value) { from_storage_ = value; }

 private:
  void Parse();
  void ReadName(const TOvASN1CustomTag* node, TOvRelativeDistinguishedName& rdn,
                TOvCertificateName& name, ByteString& der);
  void CreateKeyMaterial();
  bool VerifySignatureWith(const TOvX509Certificate& issuer) const;

  ByteString encoded_;
  int64_t tbs_offset_ = 0;
  int64_t tbs_size_ = 0;
  uint8_t version_ = 0;
  ByteString serial_;
  ByteString serial_octets_;
  bool serial_padded_ = false;
  std::unique_ptr<TOvAlgorithmIdentifier> inner_algorithm_;
  TDateTime valid_from_ = 0;
  TDateTime valid_to_ = 0;
  TOvRelativeDistinguishedName issuer_rdn_;
  TOvRelativeDistinguishedName subject_rdn_;
  TOvCertificateName issuer_name_;
  TOvCertificateName subject_name_;
  ByteString issuer_der_;
  ByteString subject_der_;
  ByteString issuer_unique_id_;
  ByteString subject_unique_id_;
  std::unique_ptr<TOvAlgorithmIdentifier> key_algorithm_;
  ByteString key_algorithm_oid_;
  ByteString public_key_bits_;
  ByteString public_key_;
  ByteString spki_;
  std::unique_ptr<TOvCertificateExtensions> extensions_;
  std::unique_ptr<TOvAlgorithmIdentifier> outer_algorithm_;
  ByteString signature_;
  std::unique_ptr<TOvPublicKeyMaterial> key_material_;
  TOvCustomCryptoProvider* provider_ = nullptr;
  TOvCustomCryptoProviderManager* manager_ = nullptr;
  std::string storage_name_;
  bool from_storage_ = false;
};

// The certificate der holds; nullptr when it does not load. Never raises.
std::unique_ptr<TOvX509Certificate> LoadCertificateOrNull(std::string_view der);

}  // namespace corvane
