// The built-in provider: everything computed in-process. Hashes and HMACs run
// on TOvBuiltInHashFunction, RSA on the engine of CvCryptoProvBuiltInPKI;
// the other public-key families and the symmetric ciphers are not part of the
// signing path and are reported unsupported.
#pragma once

#include <memory>

#include "toolkit/common/CvRandom.h"
#include "toolkit/common/CvSharedResource.h"
#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvCryptoProvBuiltInHash.h"

namespace corvane {

class TOvBuiltInRSAContext;

// A hash or HMAC context of the built-in provider.
class TOvBuiltInHashContext final : public TOvCustomCryptoContext {
 public:
  TOvBuiltInHashContext(TOvCustomCryptoProvider* provider,
                        std::unique_ptr<TOvBuiltInHashFunction> function);

  TOvBuiltInHashFunction& Function() { return *function_; }

  int32_t GetAlgorithm() const override { return function_->Algorithm(); }
  int32_t GetKeySize() const override { return 0; }
  void SetKeySize(int32_t value) override;
  int32_t GetBlockSize() const override { return 0; }
  void SetBlockSize(int32_t value) override;
  // In bits, as the "digest-size" algorithm property.
  int32_t GetDigestSize() const override {
    return static_cast<int32_t>(function_->DigestSize() * 8);
  }
  void SetDigestSize(int32_t value) override;
  int32_t GetMode() const override { return 0; }
  void SetMode(int32_t value) override;
  int32_t GetPadding() const override { return 0; }
  void SetPadding(int32_t value) override;
  ByteString GetContextProp(std::string_view name, std::string_view defaultValue) override;
  void SetContextProp(std::string_view name, std::string_view value) override;
  TOvCustomCryptoContext* Clone(TOvCryptoParams params) override;
  int64_t EstimateOutputSize(int64_t inputSize) override;

 private:
  std::unique_ptr<TOvBuiltInHashFunction> function_;
};

class TOvBuiltInCryptoProvider : public TOvCorvaneCryptoProvider {
 public:
  TOvBuiltInCryptoProvider();
  ~TOvBuiltInCryptoProvider() override;

  // The process-wide instance, created on first request, destroyed at exit.
  static TOvBuiltInCryptoProvider* DefaultInstanceOfClass();

  void Init() override;
  void Deinit() override;
  void SetAsDefault() override;
  TOvCustomCryptoProvider* GetDefaultInstance() override;

  bool IsAlgorithmSupported(int32_t algorithm, int32_t mode) override;
  bool IsAlgorithmSupportedByOID(std::string_view oid, std::string_view algParams,
                                 int32_t mode) override;
  bool IsOperationSupported(TCvCryptoOperation operation, int32_t algorithm, int32_t mode,
                            const TOvCustomCryptoKey* key, TOvCryptoParams params) override;
  bool IsOperationSupportedByOID(TCvCryptoOperation operation, std::string_view oid,
                                 std::string_view algParams, int32_t mode,
                                 const TOvCustomCryptoKey* key, TOvCryptoParams params) override;
  ByteString GetAlgorithmProperty(int32_t algorithm, int32_t mode, std::string_view name) override;
  ByteString GetAlgorithmPropertyByOID(std::string_view oid, std::string_view algParams,
                                       int32_t mode, std::string_view name) override;
  int32_t GetAlgorithmClass(int32_t algorithm) override;
  int32_t GetAlgorithmClassByOID(std::string_view oid, std::string_view algParams) override;

  TOvCustomCryptoKey* CreateKey(int32_t algorithm, int32_t mode, TOvCryptoParams params) override;
  TOvCustomCryptoKey* CreateKeyByOID(std::string_view oid, std::string_view algParams,
                                     TOvCryptoParams params) override;
  TOvCustomCryptoKey* CloneKey(TOvCustomCryptoKey* key) override;
  void ReleaseKey(TOvCustomCryptoKey*& key) override;
  void DeleteKey(TOvCustomCryptoKey*& key) override;
  TOvCustomCryptoKey* DecryptKey(const void* encryptedKey, size_t size, std::string_view algOID,
                                 std::string_view algParams, TOvCustomCryptoKey* key,
                                 std::string_view keyAlgOID, std::string_view keyAlgParams,
                                 TOvCryptoParams params) override;

  TOvCustomCryptoContext* EncryptInit(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key,
                                      TOvCryptoParams params) override;
  TOvCustomCryptoContext* EncryptInitByOID(std::string_view oid, std::string_view algParams,
                                           int32_t mode, TOvCustomCryptoKey* key,
                                           TOvCryptoParams params) override;
  TOvCustomCryptoContext* DecryptInit(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key,
                                      TOvCryptoParams params) override;
  TOvCustomCryptoContext* DecryptInitByOID(std::string_view oid, std::string_view algParams,
                                           int32_t mode, TOvCustomCryptoKey* key,
                                           TOvCryptoParams params) override;
  TOvCustomCryptoContext* SignInit(int32_t algorithm, TOvCustomCryptoKey* key, bool detached,
                                   TOvCryptoParams params) override;
  TOvCustomCryptoContext* SignInitByOID(std::string_view oid, std::string_view algParams,
                                        TOvCustomCryptoKey* key, bool detached,
                                        TOvCryptoParams params) override;
  TOvCustomCryptoContext* VerifyInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                     const void* signature, size_t signatureSize,
                                     TOvCryptoParams params) override;
  TOvCustomCryptoContext* VerifyInitByOID(std::string_view oid, std::string_view algParams,
                                          TOvCustomCryptoKey* key, const void* signature,
                                          size_t signatureSize, TOvCryptoParams params) override;
  void EncryptUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                     void* output, size_t& outputSize, TOvCryptoParams params) override;
  void DecryptUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                     void* output, size_t& outputSize, TOvCryptoParams params) override;
  void SignUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                  void* output, size_t& outputSize, TOvCryptoParams params) override;
  void VerifyUpdate(TOvCustomCryptoContext* context, const void* input, size_t inputSize,
                    void* output, size_t& outputSize, TOvCryptoParams params) override;
  void EncryptFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                    TOvCryptoParams params) override;
  void DecryptFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                    TOvCryptoParams params) override;
  void SignFinal(TOvCustomCryptoContext* context, void* output, size_t& outputSize,
                 TOvCryptoParams params) override;
  int32_t VerifyFinal(TOvCustomCryptoContext* context, void* buffer, size_t& size,
                      TOvCryptoParams params) override;

  TOvCustomCryptoContext* HashInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                   TOvCryptoParams params) override;
  TOvCustomCryptoContext* HashInitByOID(std::string_view oid, std::string_view algParams,
                                        TOvCustomCryptoKey* key, TOvCryptoParams params) override;
  ByteString HashFinal(TOvCustomCryptoContext* context, TOvCryptoParams params) override;
  void HashUpdate(TOvCustomCryptoContext* context, const void* data, size_t size,
                  TOvCryptoParams params) override;
  void ReleaseCryptoContext(TOvCustomCryptoContext*& context) override;

  void RandomInit(const void* seed, size_t size, TOvCryptoParams params) override;
  void RandomSeed(const void* data, size_t size) override;
  void RandomGenerate(void* buffer, size_t size) override;
  uint32_t RandomGenerateBelow(uint32_t maximum) override;

  // For tests and diagnostics.
  size_t KeyCount() { return TOvCustomCryptoProvider::KeyCount(); }
  size_t ContextCount() { return TOvCustomCryptoProvider::ContextCount(); }
  bool OwnsKey(const TOvCustomCryptoKey* key) { return TOvCustomCryptoProvider::OwnsKey(key); }
  bool OwnsContext(const TOvCustomCryptoContext* c) {
    return TOvCustomCryptoProvider::OwnsContext(c);
  }

 private:
  friend class TOvBuiltInHashContext;
  TOvBuiltInHashContext& HashContextOf(TOvCustomCryptoContext* context);
  TOvCustomCryptoContext* AdoptHashContext(std::unique_ptr<TOvBuiltInHashContext> context,
                                           TOvCryptoParams params);
  // kind is a TCvPublicKeyContextKind; oidBytes empty for the by-code inits.
  TOvCustomCryptoContext* NewRSAContext(int kind, int32_t algorithm, TOvCustomCryptoKey* key,
                                        std::string_view oidBytes, std::string_view algParams,
                                        std::string_view signature, TOvCryptoParams params);
  TOvBuiltInRSAContext& RSAContextOf(TOvCustomCryptoContext* context, int kind);

  TOvSharedResource random_lock_;
  std::unique_ptr<TOvRandom> random_;
};

}  // namespace corvane
