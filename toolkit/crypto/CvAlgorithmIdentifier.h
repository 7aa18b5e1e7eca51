// Algorithm identifiers: the tables that map OIDs to the toolkit's algorithm
// constants and back, and the AlgorithmIdentifier objects (RFC 5280 4.1.1.2)
// that read and write each key family's parameters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/common/CvConstants.h"

namespace corvane {

// Certificate key and signature algorithm codes. They are small integers that
// live beside the 0x7xxx constants; KeyFamilyOf maps them onto those.
inline constexpr int32_t CERT_ALG_RSA = 0;
inline constexpr int32_t CERT_ALG_MD2_RSA = 1;
inline constexpr int32_t CERT_ALG_MD5_RSA = 2;
inline constexpr int32_t CERT_ALG_SHA1_RSA = 3;
inline constexpr int32_t CERT_ALG_DSA = 4;
inline constexpr int32_t CERT_ALG_DSA_SHA1 = 5;
inline constexpr int32_t CERT_ALG_DH = 6;
inline constexpr int32_t CERT_ALG_SHA224_RSA = 7;
inline constexpr int32_t CERT_ALG_SHA256_RSA = 8;
inline constexpr int32_t CERT_ALG_SHA384_RSA = 9;
inline constexpr int32_t CERT_ALG_SHA512_RSA = 10;
inline constexpr int32_t CERT_ALG_RSAPSS = 11;
inline constexpr int32_t CERT_ALG_RSAOAEP = 12;
inline constexpr int32_t CERT_ALG_RIPEMD160_RSA = 13;
inline constexpr int32_t CERT_ALG_ECDSA_SHA1 = 15;
inline constexpr int32_t CERT_ALG_ECDSA_RECOMMENDED = 16;
inline constexpr int32_t CERT_ALG_ECDSA_SHA224 = 17;
inline constexpr int32_t CERT_ALG_ECDSA_SHA256 = 18;
inline constexpr int32_t CERT_ALG_ECDSA_SHA384 = 19;
inline constexpr int32_t CERT_ALG_ECDSA_SHA512 = 20;
inline constexpr int32_t CERT_ALG_EC = 21;
inline constexpr int32_t CERT_ALG_ECDSA_SPECIFIED = 22;
inline constexpr int32_t CERT_ALG_GOST94 = 23;
inline constexpr int32_t CERT_ALG_GOST2001 = 24;
inline constexpr int32_t CERT_ALG_GOST3411_GOST94 = 25;
inline constexpr int32_t CERT_ALG_GOST3411_GOST2001 = 26;
inline constexpr int32_t CERT_ALG_MGF1 = 513;

// Encoded OIDs (content octets of the OBJECT IDENTIFIER) used outside the tables.
namespace oid {
inline constexpr std::string_view RSA_ENCRYPTION{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 9};
inline constexpr std::string_view RSA_X509{"\x55\x08\x01\x01", 4};
inline constexpr std::string_view MD2_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x02", 9};
inline constexpr std::string_view MD5_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04", 9};
inline constexpr std::string_view SHA1_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05", 9};
inline constexpr std::string_view SHA1_RSA_OIW{"\x2B\x0E\x03\x02\x1D", 5};
inline constexpr std::string_view RSAES_OAEP{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x07", 9};
inline constexpr std::string_view MGF1{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x08", 9};
inline constexpr std::string_view P_SPECIFIED{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x09", 9};
inline constexpr std::string_view RSASSA_PSS{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0A", 9};
inline constexpr std::string_view SHA256_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 9};
inline constexpr std::string_view SHA384_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0C", 9};
inline constexpr std::string_view SHA512_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D", 9};
inline constexpr std::string_view SHA224_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0E", 9};
inline constexpr std::string_view RIPEMD160_RSA{"\x2B\x24\x03\x03\x01\x02", 6};
inline constexpr std::string_view DSA{"\x2A\x86\x48\xCE\x38\x04\x01", 7};
inline constexpr std::string_view DSA_OIW{"\x2B\x0E\x03\x02\x0C", 5};
inline constexpr std::string_view DSA_SHA1{"\x2A\x86\x48\xCE\x38\x04\x03", 7};
inline constexpr std::string_view DSA_SHA1_OIW{"\x2B\x0E\x03\x02\x0D", 5};
inline constexpr std::string_view DH_PUBLIC_NUMBER{"\x2A\x86\x48\xCE\x3E\x02\x01", 7};
inline constexpr std::string_view EC_PUBLIC_KEY{"\x2A\x86\x48\xCE\x3D\x02\x01", 7};
inline constexpr std::string_view ECDSA_SHA1{"\x2A\x86\x48\xCE\x3D\x04\x01", 7};
inline constexpr std::string_view ECDSA_RECOMMENDED{"\x2A\x86\x48\xCE\x3D\x04\x02", 7};
inline constexpr std::string_view ECDSA_SPECIFIED{"\x2A\x86\x48\xCE\x3D\x04\x03", 7};
inline constexpr std::string_view ECDSA_SHA224{"\x2A\x86\x48\xCE\x3D\x04\x03\x01", 8};
inline constexpr std::string_view ECDSA_SHA256{"\x2A\x86\x48\xCE\x3D\x04\x03\x02", 8};
inline constexpr std::string_view ECDSA_SHA384{"\x2A\x86\x48\xCE\x3D\x04\x03\x03", 8};
inline constexpr std::string_view ECDSA_SHA512{"\x2A\x86\x48\xCE\x3D\x04\x03\x04", 8};
inline constexpr std::string_view EC_PRIME_FIELD{"\x2A\x86\x48\xCE\x3D\x01\x01", 7};
inline constexpr std::string_view EC_CHAR2_FIELD{"\x2A\x86\x48\xCE\x3D\x01\x02", 7};
inline constexpr std::string_view EC_BASIS_GN{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x01", 9};
inline constexpr std::string_view EC_BASIS_TP{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x02", 9};
inline constexpr std::string_view EC_BASIS_PP{"\x2A\x86\x48\xCE\x3D\x01\x02\x03\x03", 9};
inline constexpr std::string_view GOST3410_94{"\x2A\x85\x03\x02\x02\x14", 6};
inline constexpr std::string_view GOST3410_2001{"\x2A\x85\x03\x02\x02\x13", 6};
inline constexpr std::string_view GOST3411_GOST3410_94{"\x2A\x85\x03\x02\x02\x04", 6};
inline constexpr std::string_view GOST3411_GOST3410_2001{"\x2A\x85\x03\x02\x02\x03", 6};
inline constexpr std::string_view GOST28147_CRYPTOPRO_A{"\x2A\x85\x03\x02\x02\x1F\x01", 7};
inline constexpr std::string_view SHA1{"\x2B\x0E\x03\x02\x1A", 5};
inline constexpr std::string_view MD2{"\x2A\x86\x48\x86\xF7\x0D\x02\x02", 8};
inline constexpr std::string_view MD4{"\x2A\x86\x48\x86\xF7\x0D\x02\x04", 8};
inline constexpr std::string_view MD5{"\x2A\x86\x48\x86\xF7\x0D\x02\x05", 8};
inline constexpr std::string_view SHA224{"\x60\x86\x48\x01\x65\x03\x04\x02\x04", 9};
inline constexpr std::string_view SHA256{"\x60\x86\x48\x01\x65\x03\x04\x02\x01", 9};
inline constexpr std::string_view SHA384{"\x60\x86\x48\x01\x65\x03\x04\x02\x02", 9};
inline constexpr std::string_view SHA512{"\x60\x86\x48\x01\x65\x03\x04\x02\x03", 9};
inline constexpr std::string_view RIPEMD160{"\x2B\x24\x03\x02\x01", 5};
inline constexpr std::string_view GOST3411_94{"\x2A\x85\x03\x02\x02\x09", 6};
}  // namespace oid

// Maps a certificate signature or key code onto its public-key family constant
// (0, 2, 3, 7..13 -> ALG_RSA; 4, 5 -> ALG_DSA; 15..22 -> ALG_EC); other values
// pass unchanged, except 0xFFFF which becomes ALG_UNKNOWN.
int32_t KeyFamilyOf(int32_t code);

// The algorithm constant (or certificate code) of an encoded OID, ALG_UNKNOWN when
// the table has none; with collapse the result passes through KeyFamilyOf.
int32_t AlgorithmByOID(std::string_view oid, bool collapse = false);
// The encoded OID of an algorithm constant or certificate code; empty when unknown.
std::string OIDByAlgorithm(int32_t algorithm);

// The certificate code tables: key algorithms (0, 4, 6, 11, 12, 21, 23, 24) and
// signature algorithms; ALG_UNKNOWN for an OID of neither, empty for a code of neither.
int32_t KeyAlgorithmOfOID(std::string_view oid);
int32_t SignatureAlgorithmOfOID(std::string_view oid);
std::string OIDOfKeyAlgorithm(int32_t code);
std::string OIDOfSignatureAlgorithm(int32_t code);

// The hash a signature algorithm code names (CERT_ALG_SHA256_RSA -> ALG_SHA256,
// CERT_ALG_ECDSA_SHA1 -> ALG_SHA1, ...). ALG_UNKNOWN for every other code: key
// codes, RSASSA-PSS and the ECDSA codes whose hash is in their parameters, hash
// constants, and anything unknown. With keyFamily (ALG_RSA, ALG_DSA, ALG_EC),
// only that family's signature codes answer.
int32_t HashOfSignatureAlgorithm(int32_t code, int32_t keyFamily = ALG_UNKNOWN);

// Digest OIDs and their hash constants; ALG_UNKNOWN / empty when not a digest.
int32_t HashAlgorithmOfOID(std::string_view oid);
std::string OIDOfHashAlgorithm(int32_t algorithm);

// --- AlgorithmIdentifier objects ----------------------------------------------------
// All errors raise EOvAlgorithmIdentifierError.

class TOvAlgorithmIdentifier {
 public:
  TOvAlgorithmIdentifier() = default;
  virtual ~TOvAlgorithmIdentifier() = default;
  TOvAlgorithmIdentifier(const TOvAlgorithmIdentifier&) = delete;
  TOvAlgorithmIdentifier& operator=(const TOvAlgorithmIdentifier&) = delete;

  // Reads / writes the parameters of the AlgorithmIdentifier SEQUENCE node.
  virtual void LoadParameters(const TOvASN1ConstrainedTag& node);
  virtual void SaveParameters(TOvASN1ConstrainedTag& node) const;
  // Sets the OID of a certificate code or key family constant, then SetOID.
  virtual void SetAlgorithm(int32_t code);
  // Takes the OID and its code when the class supports it; otherwise nothing changes.
  virtual void SetOID(std::string_view oid);
  virtual bool IsOIDSupported(std::string_view oid) const;
  virtual bool IsSignatureAlgorithm() const { return false; }
  virtual bool IsPublicKeyAlgorithm() const { return false; }
  virtual bool IsEncryptionAlgorithm() const { return false; }
  virtual int32_t SignatureHashAlgorithm() const { return ALG_UNKNOWN; }
  virtual void Assign(const TOvAlgorithmIdentifier* other);
  virtual std::unique_ptr<TOvAlgorithmIdentifier> Clone() const;
  // Both encodings are non-empty and identical.
  virtual bool Equals(const TOvAlgorithmIdentifier* other) const;
  virtual bool IsAlgorithmSupported(int32_t algorithm) const;
  virtual void LoadFromBuffer(const void* bytes, int64_t size);
  virtual bool SaveToBuffer(void* buffer, int64_t& size) const;
  virtual void LoadFromTag(const TOvASN1ConstrainedTag& node);
  virtual void SaveToTag(TOvASN1ConstrainedTag& node) const;
  // The serialised parameters element, empty when the identifier writes none.
  virtual std::string EncodedParameters() const;

  void LoadFromBytes(std::string_view bytes) {
    LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  std::string SaveToBytes() const;

  const std::string& AlgorithmOID() const { return algorithm_oid_; }
  int32_t Algorithm() const { return algorithm_; }

 protected:
  // A new default object of the same class (for Clone).
  virtual std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const;
  // Stores the OID and its code without asking IsOIDSupported.
  void StoreOID(std::string_view oid);

  std::string algorithm_oid_;
  int32_t algorithm_ = ALG_UNKNOWN;
};

class TOvRSAAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvRSAAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  void SetOID(std::string_view oid) override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsSignatureAlgorithm() const override { return true; }
  bool IsPublicKeyAlgorithm() const override { return algorithm_ == CERT_ALG_RSA; }
  bool IsEncryptionAlgorithm() const override { return true; }
  int32_t SignatureHashAlgorithm() const override { return hash_algorithm_; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  // Sets the hash and the matching sha*WithRSAEncryption code; any other hash gives
  // plain rsaEncryption.
  void SetSignatureHash(int32_t hash);

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  int32_t hash_algorithm_ = ALG_UNKNOWN;
};

// RSASSA-PSS (RFC 4055 3.1).
class TOvRSAPSSAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvRSAPSSAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsSignatureAlgorithm() const override { return true; }
  bool IsPublicKeyAlgorithm() const override { return true; }
  int32_t SignatureHashAlgorithm() const override { return hash_algorithm_; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  int32_t HashAlgorithm() const { return hash_algorithm_; }
  void SetHashAlgorithm(int32_t value) { hash_algorithm_ = value; }
  int32_t SaltSize() const { return salt_size_; }
  void SetSaltSize(int32_t value) { salt_size_ = value; }
  int32_t TrailerField() const { return trailer_field_; }
  void SetTrailerField(int32_t value) { trailer_field_ = value; }
  int32_t MGFAlgorithm() const { return mgf_algorithm_; }
  void SetMGFAlgorithm(int32_t value) { mgf_algorithm_ = value; }
  int32_t MGFHashAlgorithm() const { return mgf_hash_algorithm_; }
  void SetMGFHashAlgorithm(int32_t value) { mgf_hash_algorithm_ = value; }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  void ResetParameters();

  int32_t hash_algorithm_ = ALG_SHA1;
  int32_t salt_size_ = 20;
  int32_t trailer_field_ = 1;
  int32_t mgf_algorithm_ = CERT_ALG_MGF1;
  int32_t mgf_hash_algorithm_ = ALG_SHA1;
};

// RSAES-OAEP (RFC 4055 4.1).
class TOvRSAOAEPAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvRSAOAEPAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsPublicKeyAlgorithm() const override { return true; }
  bool IsEncryptionAlgorithm() const override { return true; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  int32_t HashAlgorithm() const { return hash_algorithm_; }
  void SetHashAlgorithm(int32_t value) { hash_algorithm_ = value; }
  int32_t MGFAlgorithm() const { return mgf_algorithm_; }
  void SetMGFAlgorithm(int32_t value) { mgf_algorithm_ = value; }
  int32_t MGFHashAlgorithm() const { return mgf_hash_algorithm_; }
  void SetMGFHashAlgorithm(int32_t value) { mgf_hash_algorithm_ = value; }
  const std::string& StrLabel() const { return label_; }
  void SetStrLabel(std::string value) { label_ = std::move(value); }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  void ResetParameters();

  int32_t hash_algorithm_ = ALG_SHA1;
  int32_t mgf_algorithm_ = CERT_ALG_MGF1;
  int32_t mgf_hash_algorithm_ = ALG_SHA1;
  std::string label_;
};

// DSA (RFC 3279 2.3.2); P, Q and G are kept without a leading 0x00 octet.
class TOvDSAAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvDSAAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsSignatureAlgorithm() const override { return algorithm_ == CERT_ALG_DSA_SHA1; }
  bool IsPublicKeyAlgorithm() const override { return algorithm_ == CERT_ALG_DSA; }
  int32_t SignatureHashAlgorithm() const override { return ALG_SHA1; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  const std::string& P() const { return p_; }
  void SetP(std::string value) { p_ = std::move(value); }
  const std::string& Q() const { return q_; }
  void SetQ(std::string value) { q_ = std::move(value); }
  const std::string& G() const { return g_; }
  void SetG(std::string value) { g_ = std::move(value); }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  std::string p_, q_, g_;
};

// Diffie-Hellman domain parameters (RFC 3279 2.3.3).
class TOvDHAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvDHAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsPublicKeyAlgorithm() const override { return true; }
  bool IsEncryptionAlgorithm() const override { return true; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  const std::string& P() const { return p_; }
  void SetP(std::string value) { p_ = std::move(value); }
  const std::string& G() const { return g_; }
  void SetG(std::string value) { g_ = std::move(value); }
  const std::string& Q() const { return q_; }
  void SetQ(std::string value) { q_ = std::move(value); }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  std::string p_, g_, q_;
};

enum TCvECFieldType { eftPrime, eftCharacteristicTwo };

// Elliptic-curve public keys (RFC 5480 2.1.1, SEC 1 C.2): a named curve, an
// implicit curve (NULL) or a specified domain.
class TOvECAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvECAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsPublicKeyAlgorithm() const override { return true; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  // Plain record of the domain; integers without a leading 0x00 octet.
  struct TDomain {
    int32_t Version = 1;
    std::string CurveOID;  // named curve
    std::string FieldOID;  // prime-field or characteristic-two-field
    TCvECFieldType FieldType = eftPrime;
    std::string BasisOID;  // trinomial or pentanomial basis
    int32_t M = 0, K1 = 0, K2 = 0, K3 = 0;
    std::string Seed;  // bits of the seed, without the unused-bits octet
    std::string P, A, B;
    std::string Base;  // encoded base point
    std::string N, H;  // order and cofactor
    int32_t Hash = ALG_UNKNOWN;
    bool SpecifiedCurve = false;
    bool ImplicitCurve = false;
    bool CompressPoints = false;
    bool HybridPoints = false;
  };

  const TDomain& Domain() const { return domain_; }
  TDomain& Domain() { return domain_; }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  void LoadSpecifiedDomain(const TOvASN1ConstrainedTag& domain);
  void SaveSpecifiedDomain(TOvASN1ConstrainedTag& domain) const;

  TDomain domain_;
};

class TOvECDSAAlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvECDSAAlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  void SetOID(std::string_view oid) override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsSignatureAlgorithm() const override { return true; }
  int32_t SignatureHashAlgorithm() const override { return hash_algorithm_; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  int32_t HashAlgorithm() const { return hash_algorithm_; }
  // Stores the hash; unless the identifier is ecdsa-with-Specified the OID follows it.
  void SetHash(int32_t hash);

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  int32_t hash_algorithm_ = ALG_SHA1;
};

// GOST R 34.10 public keys (RFC 4491 2.3).
class TOvGOST3410AlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvGOST3410AlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsPublicKeyAlgorithm() const override { return true; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

  const std::string& PublicKeyParamSet() const { return public_key_param_set_; }
  void SetPublicKeyParamSet(std::string value) { public_key_param_set_ = std::move(value); }
  const std::string& DigestParamSet() const { return digest_param_set_; }
  void SetDigestParamSet(std::string value) { digest_param_set_ = std::move(value); }
  const std::string& EncryptionParamSet() const { return encryption_param_set_; }
  void SetEncryptionParamSet(std::string value) { encryption_param_set_ = std::move(value); }

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;

 private:
  std::string public_key_param_set_, digest_param_set_, encryption_param_set_;
};

class TOvGOST3411WithGOST3410AlgorithmIdentifier : public TOvAlgorithmIdentifier {
 public:
  TOvGOST3411WithGOST3410AlgorithmIdentifier();
  void LoadParameters(const TOvASN1ConstrainedTag& node) override;
  void SaveParameters(TOvASN1ConstrainedTag& node) const override;
  bool IsOIDSupported(std::string_view oid) const override;
  bool IsSignatureAlgorithm() const override { return true; }
  int32_t SignatureHashAlgorithm() const override { return ALG_GOST3411_94; }
  void Assign(const TOvAlgorithmIdentifier* other) override;

 protected:
  std::unique_ptr<TOvAlgorithmIdentifier> NewInstance() const override;
};

// The identifier object for an AlgorithmIdentifier node, loaded from it; raises
// "Invalid algorithm identifier" for a malformed node and "Unknown algorithm
// identifier" for an OID no class accepts.
std::unique_ptr<TOvAlgorithmIdentifier> IdentifierFromTag(const TOvASN1ConstrainedTag& node);
// A new identifier for the OID, without parameters.
std::unique_ptr<TOvAlgorithmIdentifier> IdentifierFromOID(std::string_view oid);

}  // namespace corvane
