// The crypto provider framework: operation codes, property identifiers, the
// provider interface with its keys and contexts, and key material.
//
// A provider owns every key and context it creates; callers hand them back
// through ReleaseKey / ReleaseCryptoContext and never delete them. Buffers
// filled for a caller follow the two-call rule: without a buffer the required
// size (at least 1) is stored in `size`; a buffer smaller than needed raises
// "Buffer too small"; otherwise the written size is stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvConstants.h"
#include "toolkit/common/CvSharedResource.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvRelativeDistinguishedName;
class TOvCustomCryptoProvider;
class TOvCustomCryptoProviderManager;

// Parameter lists: ordered (property name, value) pairs; nullptr means none.
using TOvCryptoParams = const TOvRelativeDistinguishedName*;

// Operation codes passed to IsOperationSupported and the manager.
using TCvCryptoOperation = int32_t;
inline constexpr TCvCryptoOperation coNone = 0;  // algorithm only
inline constexpr TCvCryptoOperation coEncrypt = 1;
inline constexpr TCvCryptoOperation coDecrypt = 2;
inline constexpr TCvCryptoOperation coSign = 3;  // signature embedded with the data
inline constexpr TCvCryptoOperation coSignDetached = 4;
inline constexpr TCvCryptoOperation coVerify = 5;
inline constexpr TCvCryptoOperation coVerifyDetached = 6;
inline constexpr TCvCryptoOperation coHash = 7;
inline constexpr TCvCryptoOperation coGenerateKey = 8;
inline constexpr TCvCryptoOperation coDecryptKey = 9;
inline constexpr TCvCryptoOperation coKeyless10 = 10;  // further codes without a key
inline constexpr TCvCryptoOperation coKeyless11 = 11;
inline constexpr TCvCryptoOperation coKeyless12 = 12;

// Algorithm classes (GetAlgorithmClass).
inline constexpr int32_t ALGCLASS_NONE = 0;
inline constexpr int32_t ALGCLASS_BLOCK = 1;
inline constexpr int32_t ALGCLASS_STREAM = 2;
inline constexpr int32_t ALGCLASS_PUBLICKEY = 3;
inline constexpr int32_t ALGCLASS_HASH = 4;

// VerifyFinal results.
inline constexpr int32_t VERIFY_VALID = 0;
inline constexpr int32_t VERIFY_INVALID = 1;
inline constexpr int32_t VERIFY_OTHER2 = 2;
inline constexpr int32_t VERIFY_OTHER3 = 3;

// "local-name@" + the vendor suffix.
inline std::string PropertyId(std::string_view localName) {
  std::string id(localName);
  id += '@';
  id += CV_VENDOR_SUFFIX;
  return id;
}

// Key properties.
inline const std::string PROP_DLL_PATH = PropertyId("dll-path");
inline const std::string PROP_SESSION_HANDLE = PropertyId("session-handle");
inline const std::string PROP_WINDOW_HANDLE = PropertyId("window-handle");
inline const std::string PROP_KEY_FORMAT = PropertyId("key-format");
inline const std::string PROP_HASH_ALGORITHM = PropertyId("hash-algorithm");
inline const std::string PROP_MGF_ALGORITHM = PropertyId("mgf-algorithm");
inline const std::string PROP_TRAILER_FIELD = PropertyId("trailer-field");
inline const std::string PROP_SALT_SIZE = PropertyId("salt-size");
inline const std::string PROP_STRLABEL = PropertyId("strlabel");
inline const std::string PROP_RSA_M = PropertyId("rsa-m");
inline const std::string PROP_RSA_E = PropertyId("rsa-e");
inline const std::string PROP_RSA_D = PropertyId("rsa-d");
inline const std::string PROP_RSA_RAW_KEY = PropertyId("rsa-raw-key");
inline const std::string PROP_DSA_STRICT = PropertyId("dsa-strict");
inline const std::string PROP_DSA_P = PropertyId("dsa-p");
inline const std::string PROP_DSA_Q = PropertyId("dsa-q");
inline const std::string PROP_DSA_G = PropertyId("dsa-g");
inline const std::string PROP_DSA_X = PropertyId("dsa-x");
inline const std::string PROP_DSA_Y = PropertyId("dsa-y");
inline const std::string PROP_DSA_QBITS = PropertyId("dsa-qbits");
inline const std::string PROP_ELG_P = PropertyId("elg-p");
inline const std::string PROP_ELG_G = PropertyId("elg-g");
inline const std::string PROP_ELG_X = PropertyId("elg-x");
inline const std::string PROP_ELG_Y = PropertyId("elg-y");
inline const std::string PROP_DH_P = PropertyId("dh-p");
inline const std::string PROP_DH_G = PropertyId("dh-g");
inline const std::string PROP_DH_X = PropertyId("dh-x");
inline const std::string PROP_DH_Y = PropertyId("dh-y");
inline const std::string PROP_DH_PEER_Y = PropertyId("dh-peer-y");
inline const std::string PROP_WIN32_CERTCONTEXT = PropertyId("win32-certcontext");
inline const std::string PROP_EFFECTIVE_KEY_LENGTH = PropertyId("effective-key-length");
// Algorithm properties.
inline const std::string PROP_DIGEST_SIZE = PropertyId("digest-size");
inline const std::string PROP_BLOCK_SIZE = PropertyId("block-size");
inline const std::string PROP_DEFAULT_KEY_SIZE = PropertyId("default-key-size");
// Context properties.
inline const std::string PROP_SKIP_KEYSTREAM_BYTES = PropertyId("skip-keystream-bytes");
inline const std::string PROP_USE_ALGORITHM_PREFIX = PropertyId("use-algorithm-prefix");
inline const std::string PROP_INPUT_IS_HASH = PropertyId("input-is-hash");
inline const std::string PROP_HASH_FUNC_OID = PropertyId("hash-func-oid");
inline const std::string PROP_ALG_SCHEME = PropertyId("alg-scheme");
inline const std::string PROP_STR_LABEL = PropertyId("str-label");
inline const std::string PROP_PADDING_TYPE = PropertyId("padding-type");
inline const std::string PROP_GOST3410_PARAMSET = PropertyId("gost-R3410_paramset");
inline const std::string PROP_GOST3410_DIGEST_PARAMSET = PropertyId("gost-R3410_digest_paramset");
inline const std::string PROP_GOST3410_ENCRYPTION_PARAMSET =
    PropertyId("gost-R3410_encryption_paramset");
inline const std::string PROP_GOST3411_PARAMSET = PropertyId("gost-R3411-1994-paramset");
inline const std::string PROP_GOST3411_PARAMETERS = PropertyId("gost-R3411-1994-parameters");
inline const std::string PROP_GOST28147_PARAMSET = PropertyId("gost-28147-1989-paramset");
inline const std::string PROP_GOST28147_PARAMETERS = PropertyId("gost-28147-1989-parameters");
inline const std::string PROP_AEAD_NONCE = PropertyId("aead-nonce");
inline const std::string PROP_AEAD_TAG_SIZE = PropertyId("aead-tag-size");
inline const std::string PROP_AEAD_ASSOCIATED_DATA = PropertyId("aead-associated-data");
inline const std::string PROP_CCM_A_SIZE = PropertyId("ccm-a-size");
inline const std::string PROP_CCM_PAYLOAD_SIZE = PropertyId("ccm-payload-size");
inline const std::string PROP_CTR_LITTLE_ENDIAN = PropertyId("ctr-little-endian");
// Values of "key-format" and "alg-scheme", and of "padding-type".
inline constexpr std::string_view SCHEME_PKCS1 = "pkcs#1";
inline constexpr std::string_view SCHEME_OAEP = "oaep";
inline constexpr std::string_view SCHEME_PSS = "pss";
inline constexpr std::string_view PADDING_PKCS5 = "pkcs#5";

// "Unsupported algorithm (%d)" and friends, formatted.
std::string FormatUnsupportedAlgorithm(int32_t algorithm);
std::string FormatUnsupportedAlgorithmOID(std::string_view oid);
std::string FormatUnsupportedProperty(std::string_view name);

// Base of keys and contexts: both belong to the provider that created them.
class TOvCryptoProviderObject {
 public:
  explicit TOvCryptoProviderObject(TOvCustomCryptoProvider* provider) : provider_(provider) {}
  virtual ~TOvCryptoProviderObject() = default;
  TOvCryptoProviderObject(const TOvCryptoProviderObject&) = delete;
  TOvCryptoProviderObject& operator=(const TOvCryptoProviderObject&) = delete;

  TOvCustomCryptoProvider* Provider() const { return provider_; }

 private:
  TOvCustomCryptoProvider* provider_;
};

class TOvCustomCryptoKey : public TOvCryptoProviderObject {
 public:
  explicit TOvCustomCryptoKey(TOvCustomCryptoProvider* provider)
      : TOvCryptoProviderObject(provider) {}

  virtual bool IsPublic() const = 0;
  virtual bool IsSecret() const = 0;
  virtual bool IsExportable() const = 0;
  virtual bool IsPersistent() const = 0;
  virtual bool IsValid() const = 0;
  virtual int32_t KeyBits() const = 0;
  virtual int32_t Algorithm() const = 0;
  // An attribute every key of this system reports as 0.
  virtual int32_t KeyFlags() const { return 0; }
  virtual int32_t GetMode() const;
  virtual void SetMode(int32_t mode);
  virtual ByteString GetIV() const;
  virtual void SetIV(std::string_view iv);
  virtual ByteString GetValue() const;
  virtual void SetValue(std::string_view value);
  // Clears all key data.
  virtual void Reset();
  virtual void Generate(int32_t bits, TOvCryptoParams params);
  virtual void ImportPublic(const void* data, size_t size, TOvCryptoParams params);
  virtual void ImportSecret(const void* data, size_t size, TOvCryptoParams params);
  virtual void ExportPublic(void* buffer, size_t& size, TOvCryptoParams params);
  virtual void ExportSecret(void* buffer, size_t& size, TOvCryptoParams params);
  // A new key of the same provider (registered in its list).
  virtual TOvCustomCryptoKey* Clone(TOvCryptoParams params);
  virtual TOvCustomCryptoKey* ClonePublic(TOvCryptoParams params);
  virtual void ClearPublic();
  virtual void ClearSecret();
  virtual ByteString GetKeyProp(std::string_view name, std::string_view defaultValue);
  virtual void SetKeyProp(std::string_view name, std::string_view value);
  virtual void ChangeAlgorithm(int32_t algorithm);
  virtual void PrepareForEncryption(bool multiUse);
  virtual void PrepareForSigning(bool multiUse);
  virtual void CancelPreparation();
  virtual bool AsyncFinished();
  // Base: "Unsupported operation".
  virtual bool Equals(const TOvCustomCryptoKey& other, bool publicOnly, TOvCryptoParams params);
  virtual bool Matches(const TOvCustomCryptoKey& other);
};

class TOvCustomCryptoContext : public TOvCryptoProviderObject {
 public:
  explicit TOvCustomCryptoContext(TOvCustomCryptoProvider* provider)
      : TOvCryptoProviderObject(provider) {}

  virtual int32_t GetAlgorithm() const = 0;
  // Asks the owning provider.
  virtual int32_t GetAlgorithmClass() const;
  virtual int32_t GetKeySize() const = 0;
  virtual void SetKeySize(int32_t value) = 0;
  virtual int32_t GetBlockSize() const = 0;
  virtual void SetBlockSize(int32_t value) = 0;
  virtual int32_t GetDigestSize() const = 0;
  virtual void SetDigestSize(int32_t value) = 0;
  virtual int32_t GetMode() const = 0;
  virtual void SetMode(int32_t value) = 0;
  virtual int32_t GetPadding() const = 0;
  virtual void SetPadding(int32_t value) = 0;
  virtual ByteString GetContextProp(std::string_view name, std::string_view defaultValue) = 0;
  virtual void SetContextProp(std::string_view name, std::string_view value) = 0;
  virtual TOvCustomCryptoContext* Clone(TOvCryptoParams params) = 0;
  virtual int64_t EstimateOutputSize(int64_t inputSize) = 0;
};

class TOvCustomCryptoProviderOptions {
 public:
  TOvCustomCryptoProviderOptions() { Reset(); }
  virtual ~TOvCustomCryptoProviderOptions() = default;
  virtual void Reset() { MaxPublicKeySize = 8192; }
  virtual void Assign(const TOvCustomCryptoProviderOptions& other) {
    MaxPublicKeySize = other.MaxPublicKeySize;
  }

  int32_t MaxPublicKeySize = 8192;  // bits
};

// Every key and context the provider creates or releases is reported here.
using TOvCryptoObjectEvent =
    std::function<void(TOvCustomCryptoProvider&, TOvCryptoProviderObject&)>;

class TOvCustomCryptoProvider {
 public:
  TOvCustomCryptoProvider();
  virtual ~TOvCustomCryptoProvider();
  TOvCustomCryptoProvider(const TOvCustomCryptoProvider&) = delete;
  TOvCustomCryptoProvider& operator=(const TOvCustomCryptoProvider&) = delete;

  // Two-phase construction: subclasses call Setup() at the end of their own
  // constructor (options, then Init), and Teardown() at the start of their
  // destructor (Deinit, then release what is left).
  TOvCustomCryptoProviderOptions& Options() { return *options_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  TOvCustomCryptoProviderManager* Manager() const { return manager_; }
  TOvCryptoObjectEvent OnObjectCreated;
  TOvCryptoObjectEvent OnObjectDestroyed;

  // 1-6
  virtual std::unique_ptr<TOvCustomCryptoProviderOptions> CreateOptions();
  virtual void Init() {}
  virtual void Deinit() {}
  virtual void SetAsDefault();
  virtual TOvCustomCryptoProvider* GetDefaultInstance();
  virtual std::unique_ptr<TOvCustomCryptoProvider> CreateInstance();
  // 7-16
  virtual bool IsAlgorithmSupported(int32_t algorithm, int32_t mode);
  virtual bool IsAlgorithmSupportedByOID(std::string_view oid, std::string_view algParams,
                                         int32_t mode);
  virtual bool IsOperationSupported(TCvCryptoOperation operation, int32_t algorithm, int32_t mode,
                                    const TOvCustomCryptoKey* key, TOvCryptoParams params);
  virtual bool IsOperationSupportedByOID(TCvCryptoOperation operation, std::string_view oid,
                                         std::string_view algParams, int32_t mode,
                                         const TOvCustomCryptoKey* key, TOvCryptoParams params);
  virtual ByteString GetAlgorithmProperty(int32_t algorithm, int32_t mode, std::string_view name);
  virtual ByteString GetAlgorithmPropertyByOID(std::string_view oid, std::string_view algParams,
                                               int32_t mode, std::string_view name);
  virtual int32_t GetAlgorithmClass(int32_t algorithm) = 0;
  virtual int32_t GetAlgorithmClassByOID(std::string_view oid, std::string_view algParams) = 0;
  virtual ByteString GetProviderProp(std::string_view name, std::string_view defaultValue);
  virtual void SetProviderProp(std::string_view name, std::string_view value);
  // 17-25
  virtual TOvCustomCryptoKey* CreateKey(int32_t algorithm, int32_t mode,
                                        TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoKey* CreateKeyByOID(std::string_view oid, std::string_view algParams,
                                             TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoKey* CloneKey(TOvCustomCryptoKey* key) = 0;
  virtual void ReleaseKey(TOvCustomCryptoKey*& key) = 0;
  virtual void DeleteKey(TOvCustomCryptoKey*& key) = 0;
  virtual TOvCustomCryptoKey* DecryptKey(const void* encryptedKey, size_t size,
                                         std::string_view algOID, std::string_view algParams,
                                         TOvCustomCryptoKey* key, std::string_view keyAlgOID,
                                         std::string_view keyAlgParams, TOvCryptoParams params) = 0;
  // 26-41
  virtual TOvCustomCryptoContext* EncryptInit(int32_t algorithm, int32_t mode,
                                              TOvCustomCryptoKey* key, TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* EncryptInitByOID(std::string_view oid, std::string_view algParams,
                                                   int32_t mode, TOvCustomCryptoKey* key,
                                                   TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* DecryptInit(int32_t algorithm, int32_t mode,
                                              TOvCustomCryptoKey* key, TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* DecryptInitByOID(std::string_view oid, std::string_view algParams,
                                                   int32_t mode, TOvCustomCryptoKey* key,
                                                   TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* SignInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                           bool detached, TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* SignInitByOID(std::string_view oid, std::string_view algParams,
                                                TOvCustomCryptoKey* key, bool detached,
                                                TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* VerifyInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                             const void* signature, size_t signatureSize,
                                             TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* VerifyInitByOID(std::string_view oid, std::string_view algParams,
                                                  TOvCustomCryptoKey* key, const void* signature,
                                                  size_t signatureSize, TOvCryptoParams params) = 0;
  virtual void EncryptUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                             void* output, size_t& outputSize, TOvCryptoParams params) = 0;
  virtual void DecryptUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                             void* output, size_t& outputSize, TOvCryptoParams params) = 0;
  virtual void SignUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                          void* output, size_t& outputSize, TOvCryptoParams params) = 0;
  virtual void VerifyUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                            void* output, size_t& outputSize, TOvCryptoParams params) = 0;
  virtual void EncryptFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                            TOvCryptoParams params) = 0;
  virtual void DecryptFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                            TOvCryptoParams params) = 0;
  virtual void SignFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                         TOvCryptoParams params) = 0;
  virtual int32_t VerifyFinal(TOvCustomCryptoContext* context, void* buffer, size_t& size,
                              TOvCryptoParams params) = 0;
  // 42-51: one-shot operations over the init/update/final slots; the context
  // is released on every path.
  virtual void Encrypt(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key, const void* input,
                       size_t inputSize, void* output, size_t& outputSize, TOvCryptoParams params);
  virtual void EncryptByOID(std::string_view oid, std::string_view algParams, int32_t mode,
                            TOvCustomCryptoKey* key, const void* input, size_t inputSize,
                            void* output, size_t& outputSize, TOvCryptoParams params);
  virtual void Decrypt(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key, const void* input,
                       size_t inputSize, void* output, size_t& outputSize, TOvCryptoParams params);
  virtual void DecryptByOID(std::string_view oid, std::string_view algParams, int32_t mode,
                            TOvCustomCryptoKey* key, const void* input, size_t inputSize,
                            void* output, size_t& outputSize, TOvCryptoParams params);
  virtual void Sign(int32_t algorithm, TOvCustomCryptoKey* key, bool detached, const void* input,
                    size_t inputSize, void* output, size_t& outputSize, TOvCryptoParams params);
  virtual void SignByOID(std::string_view oid, std::string_view algParams, TOvCustomCryptoKey* key,
                         bool detached, const void* input, size_t inputSize, void* output,
                         size_t& outputSize, TOvCryptoParams params);
  virtual int32_t Verify(int32_t algorithm, TOvCustomCryptoKey* key, const void* input,
                         size_t inputSize, void* output, size_t& outputSize,
                         TOvCryptoParams params);
  virtual int32_t VerifyByOID(std::string_view oid, std::string_view algParams,
                              TOvCustomCryptoKey* key, const void* input, size_t inputSize,
                              void* output, size_t& outputSize, TOvCryptoParams params);
  virtual int32_t VerifyDetached(int32_t algorithm, TOvCustomCryptoKey* key, const void* data,
                                 size_t dataSize, const void* signature, size_t signatureSize,
                                 TOvCryptoParams params);
  virtual int32_t VerifyDetachedByOID(std::string_view oid, std::string_view algParams,
                                      TOvCustomCryptoKey* key, const void* data, size_t dataSize,
                                      const void* signature, size_t signatureSize,
                                      TOvCryptoParams params);
  // 52-58
  virtual TOvCustomCryptoContext* HashInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                           TOvCryptoParams params) = 0;
  virtual TOvCustomCryptoContext* HashInitByOID(std::string_view oid, std::string_view algParams,
                                                TOvCustomCryptoKey* key,
                                                TOvCryptoParams params) = 0;
  virtual ByteString HashFinal(TOvCustomCryptoContext* context, TOvCryptoParams params) = 0;
  virtual void HashUpdate(TOvCustomCryptoContext* context, const void* data, size_t size,
                          TOvCryptoParams params) = 0;
  virtual ByteString Hash(int32_t algorithm, const void* data, size_t size, TOvCustomCryptoKey* key,
                          TOvCryptoParams params);
  virtual ByteString HashByOID(std::string_view oid, std::string_view algParams, const void* data,
                               size_t size, TOvCustomCryptoKey* key, TOvCryptoParams params);
  virtual void ReleaseCryptoContext(TOvCustomCryptoContext*& context) = 0;
  // 59-62
  virtual void RandomInit(const void* seed, size_t size, TOvCryptoParams params) = 0;
  virtual void RandomSeed(const void* data, size_t size) = 0;
  virtual void RandomGenerate(void* buffer, size_t size) = 0;
  virtual uint32_t RandomGenerateBelow(uint32_t maximum) = 0;

 protected:
  // Called by concrete constructors / destructors (C++ cannot dispatch to the
  // subclass from the base constructor).
  void Setup();
  void Teardown();

  // Key and context lists, guarded by one lock (write lock for add, remove, release).
  TOvCustomCryptoKey* AddKey(std::unique_ptr<TOvCustomCryptoKey> key);
  TOvCustomCryptoContext* AddContext(std::unique_ptr<TOvCustomCryptoContext> context);
  bool OwnsKey(const TOvCustomCryptoKey* key);
  bool OwnsContext(const TOvCustomCryptoContext* context);
  // Frees the object when it is in the list and clears the variable; otherwise nothing.
  void RemoveKey(TOvCustomCryptoKey*& key);
  void RemoveContext(TOvCustomCryptoContext*& context);
  size_t KeyCount();
  size_t ContextCount();

 private:
  friend class TOvCustomCryptoProviderManager;
  friend class TOvCryptoProviderLists;

  std::unique_ptr<TOvCustomCryptoProviderOptions> options_;
  bool enabled_ = true;
  bool set_up_ = false;
  TOvCustomCryptoProviderManager* manager_ = nullptr;
  std::vector<TOvCustomCryptoProviderManager*> registered_in_;
  TOvSharedResource lists_lock_;
  std::vector<std::unique_ptr<TOvCustomCryptoKey>> keys_;
  std::vector<std::unique_ptr<TOvCustomCryptoContext>> contexts_;
};

// The toolkit's own provider family.
class TOvCorvaneCryptoProvider : public TOvCustomCryptoProvider {};
// Providers that delegate to something outside the process.
class TOvExternalCryptoProvider : public TOvCorvaneCryptoProvider {};

// A provider key wrapped for the public-key front ends and hash functions.
// The material owns its key and releases it through the key's provider.
class TOvKeyMaterial {
 public:
  TOvKeyMaterial() = default;
  virtual ~TOvKeyMaterial();
  TOvKeyMaterial(const TOvKeyMaterial&) = delete;
  TOvKeyMaterial& operator=(const TOvKeyMaterial&) = delete;

  TOvCustomCryptoKey* Key() const { return key_; }
  TOvCustomCryptoProvider* KeyProvider() const {
    return key_ != nullptr ? key_->Provider() : nullptr;
  }
  // The key's algorithm, ALG_UNKNOWN without a key.
  virtual int32_t Algorithm() const;

 protected:
  // Takes ownership of key (released through its provider), releasing the previous one.
  void SetKey(TOvCustomCryptoKey* key);

 private:
  TOvCustomCryptoKey* key_ = nullptr;
};

}  // namespace corvane
