// The built-in provider's public-key engine: RSA keys (PKCS#1, PKCS#8 and
// SubjectPublicKeyInfo forms) and the RSA sign, verify, encrypt and decrypt
// contexts. Key errors are EOvCryptoKeyError, engine errors
// EOvBuiltInCryptoProviderError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvCryptoProvBuiltInHash.h"
#include "toolkit/crypto/CvMath.h"
#include "toolkit/crypto/CvRSA.h"

namespace corvane {

// Common ground of the built-in public-key keys.
class TOvBuiltInCryptoKey : public TOvCustomCryptoKey {
 public:
  using TOvCustomCryptoKey::TOvCustomCryptoKey;

  bool IsExportable() const override { return true; }
  bool IsPersistent() const override { return false; }
  int32_t GetMode() const override { return mode_; }
  void SetMode(int32_t mode) override { mode_ = mode; }

 private:
  int32_t mode_ = 0;
};

class TOvBuiltInRSACryptoKey final : public TOvBuiltInCryptoKey {
 public:
  explicit TOvBuiltInRSACryptoKey(TOvCustomCryptoProvider* provider);
  ~TOvBuiltInRSACryptoKey() override;

  bool IsPublic() const override { return public_; }
  bool IsSecret() const override { return secret_; }
  bool IsValid() const override;
  int32_t KeyBits() const override { return static_cast<int32_t>(8 * m_.size()); }
  int32_t Algorithm() const override { return ALG_RSA; }
  void Reset() override;
  // Public exponent 65537; "Public key is too long" above the provider's limit.
  void Generate(int32_t bits, TOvCryptoParams params) override;
  // SubjectPublicKeyInfo (rsaEncryption or RSASSA-PSS), or a bare
  // RSAPublicKey with "rsa-raw-key"; "Invalid public key" otherwise.
  void ImportPublic(const void* data, size_t size, TOvCryptoParams params) override;
  // PKCS#1 RSAPrivateKey; "Invalid secret key" otherwise.
  void ImportSecret(const void* data, size_t size, TOvCryptoParams params) override;
  void ExportPublic(void* buffer, size_t& size, TOvCryptoParams params) override;
  // Without a secret part the size stored is 0.
  void ExportSecret(void* buffer, size_t& size, TOvCryptoParams params) override;
  TOvCustomCryptoKey* Clone(TOvCryptoParams params) override;
  TOvCustomCryptoKey* ClonePublic(TOvCryptoParams params) override;
  void ClearPublic() override;
  void ClearSecret() override;
  ByteString GetKeyProp(std::string_view name, std::string_view defaultValue) override;
  void SetKeyProp(std::string_view name, std::string_view value) override;
  bool Equals(const TOvCustomCryptoKey& other, bool publicOnly, TOvCryptoParams params) override;
  bool Matches(const TOvCustomCryptoKey& other) override { return Equals(other, true, nullptr); }

  const ByteString& PrivateKeyBlob() const { return private_blob_; }
  const ByteString& PublicKeyBlob() const { return public_blob_; }
  const ByteString& Modulus() const { return m_; }
  const ByteString& PublicExponent() const { return e_; }
  int32_t HashAlgorithm() const { return hash_algorithm_; }
  int32_t MGFAlgorithm() const { return mgf_algorithm_; }
  int32_t SaltSize() const { return salt_size_; }
  int32_t TrailerField() const { return trailer_field_; }
  const ByteString& StrLabel() const { return label_; }
  int32_t KeyFormat() const { return key_format_; }

  // The secret-key operation (built on first use); "Secret key not found"
  // without a secret part.
  TOvRSAPrivateOperation& PrivateOperation();

 private:
  void CopyTo(TOvBuiltInRSACryptoKey& other, bool withSecret) const;
  void SetPublicComponents(const TOvMPInt& n, const TOvMPInt& e);
  void RebuildPublicBlob();

  bool public_ = false;
  bool secret_ = false;
  ByteString private_blob_;
  ByteString public_blob_;
  ByteString m_, e_, d_;
  TCvRSAComponents components_;
  std::unique_ptr<TOvRSAPrivateOperation> private_op_;
  int32_t hash_algorithm_ = ALG_SHA1;
  int32_t mgf_algorithm_ = 513;  // MGF1
  int32_t salt_size_ = 20;
  int32_t trailer_field_ = 1;
  ByteString label_;
  int32_t key_format_ = 0;
  bool raw_key_ = false;
};

// What a public-key context was created for.
enum TCvPublicKeyContextKind : int32_t { pkcSign, pkcVerify, pkcEncrypt, pkcDecrypt };

class TOvBuiltInPublicKeyContext : public TOvCustomCryptoContext {
 public:
  TOvBuiltInPublicKeyContext(TOvCustomCryptoProvider* provider, TCvPublicKeyContextKind kind)
      : TOvCustomCryptoContext(provider), kind_(kind) {}

  TCvPublicKeyContextKind Kind() const { return kind_; }
  bool InputIsHash() const { return input_is_hash_; }

  int32_t GetKeySize() const override { return 0; }
  void SetKeySize(int32_t value) override;
  int32_t GetBlockSize() const override { return 0; }
  void SetBlockSize(int32_t value) override;
  int32_t GetDigestSize() const override { return 0; }
  void SetDigestSize(int32_t value) override;
  int32_t GetMode() const override { return 0; }
  void SetMode(int32_t value) override;
  int32_t GetPadding() const override { return 0; }
  void SetPadding(int32_t value) override;

 protected:
  TCvPublicKeyContextKind kind_;
  bool input_is_hash_ = false;
};

class TOvBuiltInRSAContext final : public TOvBuiltInPublicKeyContext {
 public:
  // hashFromOID: the hash a signature-algorithm OID named (ALG_UNKNOWN for rsaEncryption).
  TOvBuiltInRSAContext(TOvCustomCryptoProvider* provider, TCvPublicKeyContextKind kind,
                       TOvBuiltInRSACryptoKey* key, int32_t hashFromOID);
  ~TOvBuiltInRSAContext() override;

  int32_t GetAlgorithm() const override { return ALG_RSA; }
  ByteString GetContextProp(std::string_view name, std::string_view defaultValue) override;
  void SetContextProp(std::string_view name, std::string_view value) override;
  TOvCustomCryptoContext* Clone(TOvCryptoParams params) override;
  // The modulus length in octets.
  int64_t EstimateOutputSize(int64_t inputSize) override;

  void SetSignature(std::string_view signature) { signature_ = signature; }
  void SetScheme(int32_t scheme) { scheme_ = scheme; }
  void SetPSSParameters(int32_t hash, int32_t salt, int32_t trailer, int32_t mgf);
  void SetOAEPParameters(int32_t hash, int32_t mgf, std::string_view label);

  void Update(const void* data, size_t size);
  // Computes the output once (sign, encrypt, decrypt) and returns it.
  const ByteString& Final();
  int32_t VerifyResult();

 private:
  int32_t SignatureHash() const;
  int32_t EncryptionHash() const;
  ByteString Digest();
  ByteString Sign();
  ByteString Encrypt();
  ByteString Decrypt();
  // Exactly k octets from the private operation; raises message on failure.
  ByteString PrivateApply(std::string_view input, const char* message);

  TOvBuiltInRSACryptoKey* key_;
  int32_t hash_from_oid_;
  int32_t scheme_ = 0;
  bool use_algorithm_prefix_ = true;
  ByteString hash_func_oid_;
  int32_t hash_algorithm_ = ALG_UNKNOWN;  // unset
  int32_t salt_size_ = 0;
  int32_t trailer_field_ = 0;
  int32_t mgf_algorithm_ = 0;
  ByteString label_;
  bool label_set_ = false;
  ByteString data_;  // input of encrypt / decrypt, or the digest given as input
  std::unique_ptr<TOvBuiltInHashFunction> hash_;
  ByteString signature_;
  ByteString output_;
  bool finished_ = false;
};

}  // namespace corvane
