// Public-key front ends and key materials. A front end is bound to a key
// material and drives whichever provider holds (or can use) its key through
// init / update / final; each operation creates and releases one context.
// Buffers follow the two-call rule: a size of 0 asks for the size needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

class TOvAlgorithmIdentifier;
class TOvRelativeDistinguishedName;
class TOvECCurve;
struct TCvECPoint;

// The OID-less name of the concatenated MD5 + SHA-1 hash ("ssl-hash@" + suffix).
inline const std::string SSL_HASH_IDENTIFIER = PropertyId("ssl-hash");

// RSA schemes (TOvRSAPublicKeyCrypto::Scheme).
inline constexpr int32_t RSA_SCHEME_PKCS1 = 0;
inline constexpr int32_t RSA_SCHEME_OAEP = 1;
inline constexpr int32_t RSA_SCHEME_PSS = 2;
inline constexpr int32_t RSA_SCHEME_SSL = 3;  // raw signature without DigestInfo

// RSA key formats and store formats (TOvRSAKeyMaterial).
inline constexpr int32_t RSA_KEY_FORMAT_PKCS1 = 0;
inline constexpr int32_t RSA_KEY_FORMAT_OAEP = 1;
inline constexpr int32_t RSA_KEY_FORMAT_PSS = 2;
inline constexpr int32_t RSA_STORE_FORMAT_PLAIN = 0;
inline constexpr int32_t RSA_STORE_FORMAT_PKCS8 = 1;

// Input and output encodings of a front end.
enum TCvPublicKeyEncoding : int32_t { pkeBinary = 0, pkeBase64 = 1 };

// Operation kinds for EstimateOutputSize.
enum TCvPublicKeyOperation : int32_t {
  pkoEncrypt = 0,
  pkoDecrypt = 1,
  pkoSign = 2,
  pkoSignDetached = 3,
  pkoVerify = 4,
  pkoVerifyDetached = 5
};

// A key of some public-key family, created on (in order of preference) the
// given provider, the default provider of the given manager, or the default
// provider of DefaultCryptoProviderManager().
class TOvPublicKeyMaterial : public TOvKeyMaterial {
 public:
  explicit TOvPublicKeyMaterial(TOvCustomCryptoProvider* provider = nullptr,
                                TOvCustomCryptoProviderManager* manager = nullptr);

  TOvCustomCryptoProvider* Provider() const { return provider_; }
  TOvCustomCryptoProviderManager* Manager() const { return manager_; }

  // Through the wrapped key; key materials that compute without a provider
  // key answer themselves.
  virtual bool PublicKeyExists() const;
  bool SecretKeyExists() const;
  virtual bool IsValid() const;
  virtual int32_t Bits() const;

  // Raise EOvPublicKeyCryptoError "Unsupported operation" in the base.
  virtual void LoadPublic(const void* data, size_t size);
  virtual void LoadSecret(const void* data, size_t size);
  // Two-call sizing ("Buffer too small" from the key when the buffer is short).
  virtual void SavePublic(void* buffer, size_t& size);
  virtual void SaveSecret(void* buffer, size_t& size);
  virtual void Assign(const TOvPublicKeyMaterial& other);
  virtual std::unique_ptr<TOvPublicKeyMaterial> Clone() const;
  virtual bool Equals(const TOvPublicKeyMaterial& other, bool publicOnly) const;
  virtual void Generate(int32_t bits);

  void LoadPublic(std::string_view bytes) { LoadPublic(bytes.data(), bytes.size()); }
  void LoadSecret(std::string_view bytes) { LoadSecret(bytes.data(), bytes.size()); }
  ByteString SavePublicBytes();
  ByteString SaveSecretBytes();

  // An asynchronous key computation is running (never, for now).
  bool Busy() const { return false; }

 protected:
  // The provider new keys are created on.
  TOvCustomCryptoProvider* CreationProvider() const;
  // Replaces the wrapped key (released through its provider).
  void AdoptKey(TOvCustomCryptoKey* key) { SetKey(key); }
  void SetProviders(TOvCustomCryptoProvider* provider, TOvCustomCryptoProviderManager* manager) {
    provider_ = provider;
    manager_ = manager;
  }

 private:
  TOvCustomCryptoProvider* provider_ = nullptr;
  TOvCustomCryptoProviderManager* manager_ = nullptr;
};

class TOvRSAKeyMaterial : public TOvPublicKeyMaterial {
 public:
  // Creates the key with CreateKey(ALG_RSA) on the material's provider.
  explicit TOvRSAKeyMaterial(TOvCustomCryptoProvider* provider = nullptr,
                             TOvCustomCryptoProviderManager* manager = nullptr);
  // Wraps an existing key (for example one a certificate's provider made); the
  // material owns it from now on.
  TOvRSAKeyMaterial(TOvCustomCryptoKey* key, TOvCustomCryptoProviderManager* manager);

  // DER (SubjectPublicKeyInfo or bare RSAPublicKey) or PEM.
  void LoadPublic(const void* data, size_t size) override;
  // DER (PKCS#1 RSAPrivateKey or unencrypted PKCS#8) or PEM.
  void LoadSecret(const void* data, size_t size) override;
  // SubjectPublicKeyInfo (PEM "PUBLIC KEY" with the PEM flag).
  void SavePublic(void* buffer, size_t& size) override;
  // RSAPrivateKey, or PKCS#8 with the PKCS#8 store format (PEM with the flag).
  void SaveSecret(void* buffer, size_t& size) override;
  // "Invalid key material type" unless other is RSA key material.
  void Assign(const TOvPublicKeyMaterial& other) override;
  std::unique_ptr<TOvPublicKeyMaterial> Clone() const override;
  bool Equals(const TOvPublicKeyMaterial& other, bool publicOnly) const override;
  void Generate(int32_t bits) override;

  using TOvPublicKeyMaterial::LoadPublic;
  using TOvPublicKeyMaterial::LoadSecret;

  const std::string& Passphrase() const { return passphrase_; }
  void SetPassphrase(std::string value) { passphrase_ = std::move(value); }
  bool PEMOutput() const { return pem_output_; }
  void SetPEMOutput(bool value) { pem_output_ = value; }
  int32_t KeyFormat() const { return key_format_; }
  void SetKeyFormat(int32_t value);
  int32_t StoreFormat() const { return store_format_; }
  void SetStoreFormat(int32_t value) { store_format_ = value; }

  // Big-endian, without leading zero bytes (at least one byte); through the
  // key's "rsa-m", "rsa-e", "rsa-d" properties.
  ByteString PublicModulus() const;
  ByteString PublicExponent() const;
  ByteString PrivateExponent() const;

  // PSS / OAEP parameters carried by the key ("hash-algorithm" and friends).
  int32_t HashAlgorithm() const;
  int32_t SaltSize() const;
  int32_t TrailerField() const;
  int32_t MGFAlgorithm() const;
  ByteString StrLabel() const;

 private:
  std::string passphrase_;
  bool pem_output_ = false;
  int32_t key_format_ = RSA_KEY_FORMAT_PKCS1;
  int32_t store_format_ = RSA_STORE_FORMAT_PLAIN;
};

// The public key of an id-ecPublicKey SubjectPublicKeyInfo on a named curve
// (P-256, P-384, P-521). Verification needs nothing but the point, so the
// material holds it itself instead of a provider key; it never has a secret part.
class TOvECKeyMaterial : public TOvPublicKeyMaterial {
 public:
  explicit TOvECKeyMaterial(TOvCustomCryptoProvider* provider = nullptr,
                            TOvCustomCryptoProviderManager* manager = nullptr);
  ~TOvECKeyMaterial() override;

  int32_t Algorithm() const override { return ALG_EC; }
  bool PublicKeyExists() const override { return curve_ != nullptr; }
  bool IsValid() const override { return curve_ != nullptr; }
  // The curve's order in bits; 0 when empty.
  int32_t Bits() const override;

  // A DER SubjectPublicKeyInfo. "Invalid public key" for anything malformed,
  // a point that is not on its curve included; "Unsupported elliptic curve"
  // for explicit, implicit or unknown curves. A failed load leaves the
  // material empty.
  void LoadPublic(const void* data, size_t size) override;
  // A namedCurve and an encoded point (SEC1 2.3.4); raises as LoadPublic.
  void SetPublicKey(std::string_view curveOID, std::string_view point);
  // The SubjectPublicKeyInfo with the point uncompressed.
  void SavePublic(void* buffer, size_t& size) override;
  // "Invalid key material type" unless other is EC key material.
  void Assign(const TOvPublicKeyMaterial& other) override;
  std::unique_ptr<TOvPublicKeyMaterial> Clone() const override;
  bool Equals(const TOvPublicKeyMaterial& other, bool publicOnly) const override;

  using TOvPublicKeyMaterial::LoadPublic;

  // A provider key that stands for the private half (a key-store key reached
  // through the certificate); the material owns it from now on. Without one
  // the material can only verify.
  void AttachKey(TOvCustomCryptoKey* key) { SetKey(key); }

  // nullptr when empty.
  const TOvECCurve* Curve() const { return curve_; }
  // The namedCurve OID's content octets.
  ByteString CurveOID() const;
  // The point, uncompressed (04 X Y); empty when empty.
  ByteString PublicPoint() const;

  // VERIFY_VALID when the DER ECDSA signature is valid for the digest (cut to
  // the order's length), VERIFY_INVALID otherwise, an empty material included.
  int32_t VerifyDigest(std::string_view digest, std::string_view signature) const;
  // The same over data hashed with hashAlgorithm (ALG_SHA1, ALG_SHA256, ...);
  // an unknown hash gives VERIFY_INVALID.
  int32_t VerifyDetached(int32_t hashAlgorithm, std::string_view data,
                         std::string_view signature) const;

 private:
  const TOvECCurve* curve_ = nullptr;
  std::unique_ptr<TCvECPoint> point_;
};

class TOvPublicKeyCrypto {
 public:
  explicit TOvPublicKeyCrypto(TOvCustomCryptoProvider* provider = nullptr,
                              TOvCustomCryptoProviderManager* manager = nullptr);
  virtual ~TOvPublicKeyCrypto();
  TOvPublicKeyCrypto(const TOvPublicKeyCrypto&) = delete;
  TOvPublicKeyCrypto& operator=(const TOvPublicKeyCrypto&) = delete;

  // Not owned.
  TOvPublicKeyMaterial* KeyMaterial() const { return key_material_; }
  virtual void SetKeyMaterial(TOvPublicKeyMaterial* material);
  TOvCustomCryptoProvider* CryptoProvider() const { return provider_; }
  void SetCryptoProvider(TOvCustomCryptoProvider* provider) { provider_ = provider; }
  TOvCustomCryptoProviderManager* CryptoProviderManager() const { return manager_; }
  void SetCryptoProviderManager(TOvCustomCryptoProviderManager* manager) { manager_ = manager; }

  bool InputIsHash() const;
  void SetInputIsHash(bool value);
  int32_t HashAlgorithm() const;
  void SetHashAlgorithm(int32_t value);
  TCvPublicKeyEncoding InputEncoding() const { return input_encoding_; }
  void SetInputEncoding(TCvPublicKeyEncoding value) { input_encoding_ = value; }
  TCvPublicKeyEncoding OutputEncoding() const { return output_encoding_; }
  void SetOutputEncoding(TCvPublicKeyEncoding value) { output_encoding_ = value; }
  bool Busy() const { return busy_; }

  // Signs input into signature; signatureSize 0 stores the size needed.
  void SignDetached(const void* input, size_t size, void* signature, size_t& signatureSize);
  // VERIFY_VALID (0) when the signature is valid, VERIFY_INVALID (1) otherwise.
  int32_t VerifyDetached(const void* input, size_t size, const void* signature,
                         size_t signatureSize);
  void Encrypt(const void* input, size_t size, void* output, size_t& outputSize);
  void Decrypt(const void* input, size_t size, void* output, size_t& outputSize);

  // Convenience forms over the two-call operations.
  ByteString SignDetached(std::string_view input);
  int32_t VerifyDetached(std::string_view input, std::string_view signature);
  ByteString Encrypt(std::string_view input);
  ByteString Decrypt(std::string_view input);

  virtual bool SupportsEncryption() const { return false; }
  virtual bool SupportsSigning() const { return false; }
  virtual int64_t EstimateOutputSize(const void* input, size_t size,
                                     TCvPublicKeyOperation operation);
  virtual bool IsAlgorithmSupported(int32_t code) const;
  virtual bool IsAlgorithmSupportedByOID(std::string_view oid) const;
  virtual std::string GetName() const { return "Empty"; }
  virtual std::string GetDescription() const {
    return "Base class for public key encryption. Do not instantiate.";
  }

 protected:
  // The ordered parameter list sent with every init.
  virtual void BuildParams(TOvRelativeDistinguishedName& params) const;
  virtual void SignInit(bool detached);
  virtual void SignUpdate(const void* data, size_t size);
  virtual void SignFinal();
  virtual void EncryptInit();
  virtual void EncryptUpdate(const void* data, size_t size);
  virtual void EncryptFinal();
  virtual void DecryptInit();
  virtual void DecryptUpdate(const void* data, size_t size);
  virtual void DecryptFinal();
  virtual void VerifyInit(bool detached, const void* signature, size_t size);
  virtual void VerifyUpdate(const void* data, size_t size);
  virtual int32_t VerifyFinal();
  void WriteToOutput(std::string_view bytes);

  // The provider for a public-key operation (coSignDetached and friends).
  TOvCustomCryptoProvider* GetSuitableProvider(TCvCryptoOperation operation, int32_t algorithm,
                                               TOvCryptoParams params) const;
  // Sets a context property on the live context, when there is one.
  void ForwardToContext(const std::string& name, std::string_view value);
  ByteString ReadFromContext(const std::string& name, std::string_view fallback) const;
  void ReleaseContext();
  // Decodes Base64 input when the input encoding says so.
  ByteString DecodeInput(const void* input, size_t size) const;

  TOvCustomCryptoContext* context_ = nullptr;
  TOvCustomCryptoProvider* context_provider_ = nullptr;
  ByteString output_;

 private:
  void Finish(void* output, size_t& outputSize, int64_t required);

  TOvCustomCryptoProvider* provider_;
  TOvCustomCryptoProviderManager* manager_;
  TOvPublicKeyMaterial* key_material_ = nullptr;
  bool input_is_hash_ = false;
  int32_t hash_algorithm_ = ALG_SHA1;
  TCvPublicKeyEncoding input_encoding_ = pkeBinary;
  TCvPublicKeyEncoding output_encoding_ = pkeBinary;
  bool busy_ = false;
};

class TOvRSAPublicKeyCrypto : public TOvPublicKeyCrypto {
 public:
  explicit TOvRSAPublicKeyCrypto(TOvCustomCryptoProvider* provider = nullptr,
                                 TOvCustomCryptoProviderManager* manager = nullptr);
  // rsaEncryption and the *WithRSAEncryption OIDs: PKCS#1 with the OID's hash;
  // RSASSA-PSS: PSS; RSAES-OAEP: OAEP; others "Unsupported algorithm: %s".
  explicit TOvRSAPublicKeyCrypto(std::string_view algorithmOID,
                                 TOvCustomCryptoProvider* provider = nullptr,
                                 TOvCustomCryptoProviderManager* manager = nullptr);
  // Certificate signature-algorithm codes (0-3, 7-10, 13 PKCS#1; 11 PSS; 12
  // OAEP); others "Unsupported algorithm: %d".
  explicit TOvRSAPublicKeyCrypto(int32_t signatureAlgorithm,
                                 TOvCustomCryptoProvider* provider = nullptr,
                                 TOvCustomCryptoProviderManager* manager = nullptr);

  void SetKeyMaterial(TOvPublicKeyMaterial* material) override;
  bool SupportsEncryption() const override { return can_encrypt_; }
  bool SupportsSigning() const override { return can_sign_; }
  int64_t EstimateOutputSize(const void* input, size_t size,
                             TCvPublicKeyOperation operation) override;
  bool IsAlgorithmSupported(int32_t code) const override;
  bool IsAlgorithmSupportedByOID(std::string_view oid) const override;
  std::string GetName() const override { return "RSA"; }
  std::string GetDescription() const override {
    return "Implements base RSA encrypting and signing functionality";
  }

  int32_t Scheme() const { return scheme_; }
  void SetScheme(int32_t value);
  bool UseAlgorithmPrefix() const;
  void SetUseAlgorithmPrefix(bool value);
  ByteString HashFuncOID() const;
  void SetHashFuncOID(std::string_view value);
  int32_t SaltSize() const;
  void SetSaltSize(int32_t value);
  int32_t TrailerField() const;
  void SetTrailerField(int32_t value);
  int32_t MGFAlgorithm() const;
  void SetMGFAlgorithm(int32_t value);
  const std::string& StrLabel() const { return label_; }
  void SetStrLabel(std::string value);
  const std::string& AlgorithmOID() const { return algorithm_oid_; }

  // RSA, PSS and OAEP identifiers set the matching settings; any other raises
  // "Invalid algorithm identifier".
  void LoadAlgorithmIdentifier(const TOvAlgorithmIdentifier& identifier);
  void SaveAlgorithmIdentifier(TOvAlgorithmIdentifier& identifier) const;

 protected:
  void BuildParams(TOvRelativeDistinguishedName& params) const override;
  void SignInit(bool detached) override;
  void VerifyInit(bool detached, const void* signature, size_t size) override;
  void EncryptInit() override;
  void DecryptInit() override;

 private:
  void SetSchemeFlags();
  // "Bad key material" unless RSA material (with a secret part when asked).
  void CheckKeyMaterial(bool needSecret) const;

  int32_t scheme_ = RSA_SCHEME_PKCS1;
  bool can_sign_ = true;
  bool can_encrypt_ = true;
  bool use_algorithm_prefix_ = true;
  std::string hash_func_oid_;
  int32_t salt_size_ = 0;
  int32_t trailer_field_ = 0;
  int32_t mgf_algorithm_ = 0;
  std::string label_;
  std::string algorithm_oid_;
};

// ECDSA signing with an EC key material whose private half a provider holds
// (AttachKey): the digest goes to the provider, the DER Ecdsa-Sig-Value comes
// back. Verification needs nothing but the point: TOvECKeyMaterial does it.
class TOvECDSAPublicKeyCrypto : public TOvPublicKeyCrypto {
 public:
  using TOvPublicKeyCrypto::TOvPublicKeyCrypto;

  bool SupportsSigning() const override { return true; }
  // The longest DER signature for the curve.
  int64_t EstimateOutputSize(const void* input, size_t size,
                             TCvPublicKeyOperation operation) override;
  bool IsAlgorithmSupported(int32_t code) const override;
  std::string GetName() const override { return "ECDSA"; }
  std::string GetDescription() const override {
    return "Implements ECDSA signing with keys a provider holds";
  }

 protected:
  void BuildParams(TOvRelativeDistinguishedName& params) const override;
  void SignInit(bool detached) override;
};

}  // namespace corvane
