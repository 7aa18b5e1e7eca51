// The system key-store provider: signs digests with private keys that only the
// system store holds. The provider logic (hash ids, byte order, size
// negotiation, key spec retry, errors) is the CryptoAPI one; the key-store
// operations it needs come from TOvWin32KeyStore, which the application
// installs (SetWin32KeyStore) over its key store (the user's NSS database).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

// CryptoAPI hash ids.
inline constexpr uint32_t CALG_MD2 = 0x8001;
inline constexpr uint32_t CALG_MD5 = 0x8003;
inline constexpr uint32_t CALG_SHA1 = 0x8004;
inline constexpr uint32_t CALG_SSL3_SHAMD5 = 0x8008;
inline constexpr uint32_t CALG_HMAC = 0x8009;
inline constexpr uint32_t CALG_SHA_256 = 0x800C;
inline constexpr uint32_t CALG_SHA_384 = 0x800D;
inline constexpr uint32_t CALG_SHA_512 = 0x800E;
// The signature algorithm a store lists when it signs with EC keys.
inline constexpr uint32_t CALG_ECDSA = 0x2203;

inline constexpr uint32_t AT_KEYEXCHANGE = 1;
inline constexpr uint32_t AT_SIGNATURE = 2;
inline constexpr uint32_t CRYPT_VERIFYCONTEXT = 0xF0000000u;

// Where a certificate's private key lives.
struct TOvWin32KeyLocation {
  std::u16string ContainerName;
  std::u16string CSPName;
  uint32_t CSPType = 0;
  uint32_t Flags = 0;
  uint32_t KeySpec = 0;
};

// One algorithm a CSP reports.
struct TOvWin32CSPAlgorithm {
  uint32_t Id = 0;
  uint32_t BitLength = 0;
  std::string Name;
};

// The system stores TOvWinCertStorage opens.
enum class TOvWin32StoreName { My, Root, CA };

// "My", "ROOT" or "CA", letter case ignored (ASCII); anything else is none.
std::optional<TOvWin32StoreName> Win32StoreNameFromText(std::string_view name);

enum class TOvWin32StoreResult {
  Ok,
  CannotOpen,     // the store cannot be opened in the needed mode
  Busy,           // handles are still held and the store must be re-opened
  AlreadyExists,  // adding a certificate the store holds already
  Failed,         // anything else; LastError tells the store's code
};

struct TOvWin32StoreCertificate {
  uint64_t Handle = 0;  // owned by the caller: release with FreeCertificate
  std::string Der;
  std::string Nickname;
};

// The key-store operations the provider and TOvWinCertStorage need from the
// system. Handles are opaque non-zero numbers; 0 means failure (LastError
// tells why). Certificate handles are shared by both sides.
class TOvWin32KeyStore {
 public:
  virtual ~TOvWin32KeyStore() = default;
  // Nothing when the certificate has no private key.
  virtual bool ReadKeyLocation(uint64_t certificate, TOvWin32KeyLocation& location) = 0;
  // cspName nullptr: the type's default CSP.
  virtual uint64_t OpenKeyContainer(const std::u16string& container, const std::u16string* cspName,
                                    uint32_t cspType, uint32_t flags) = 0;
  virtual uint64_t OpenVerifyOnly(const std::string& cspName, uint32_t cspType) = 0;
  virtual std::vector<TOvWin32CSPAlgorithm> ListAlgorithms(uint64_t csp) = 0;
  virtual void AddRefContainer(uint64_t csp) = 0;
  virtual void ReleaseContainer(uint64_t csp) = 0;
  virtual uint64_t GetUserKey(uint64_t csp, uint32_t keySpec) = 0;
  virtual uint32_t KeyBits(uint64_t key) = 0;
  virtual void DestroyKey(uint64_t key) = 0;
  virtual uint64_t CreateHash(uint64_t csp, uint32_t hashId) = 0;
  virtual bool SetHashValue(uint64_t hash, std::string_view digest) = 0;
  // The signature little-endian; size in: the buffer's, out: the signature's.
  virtual bool SignHash(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size) = 0;
  // The same with RSASSA-PSS: MGF1 with the hash's algorithm and a salt as long
  // as the hash. CryptoAPI has no such call; stores that cannot answer false.
  virtual bool SignHashPSS(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size) {
    (void)hash, (void)keySpec, (void)buffer, (void)size;
    return false;
  }
  virtual void DestroyHash(uint64_t hash) = 0;
  virtual uint64_t DuplicateCertificate(uint64_t certificate) = 0;
  virtual void FreeCertificate(uint64_t certificate) = 0;
  virtual bool SetParentWindow(uint64_t csp, uint64_t window) = 0;
  virtual int32_t LastError() = 0;
  // The cause of the last failure in words for the person signing (wrong PIN,
  // cancelled prompt, ...); empty when only the number is known.
  virtual std::string LastErrorText() { return {}; }

  // The certificate store. Lists one store in a fixed order.
  virtual TOvWin32StoreResult ListStore(TOvWin32StoreName store,
                                        std::vector<TOvWin32StoreCertificate>& certificates) = 0;
  virtual bool Encoded(uint64_t certificate, std::string& der) = 0;
  // Writing needs every handle freed first (Busy otherwise).
  virtual TOvWin32StoreResult AddCertificate(TOvWin32StoreName store, std::string_view der) = 0;
  virtual TOvWin32StoreResult RemoveCertificate(std::string_view der) = 0;
};

// The key store the application installs once at start, before any provider
// or storage is used; nullptr removes it. Not owned. With none installed the
// stores are empty and no key-store CSP exists.
void SetWin32KeyStore(TOvWin32KeyStore* store);
// The installed key store, else one that holds nothing.
TOvWin32KeyStore& Win32KeyStore();

class TOvWin32CryptoProviderOptions : public TOvCustomCryptoProviderOptions {
 public:
  TOvWin32CryptoProviderOptions() { Reset(); }
  void Reset() override;
  void Assign(const TOvCustomCryptoProviderOptions& other) override;

  bool UseForPublicKeyOperations = true;
  bool UseForSymmetricCiphers = false;
  bool UseForHashes = false;
  bool UseForPublicKeyEncryptionAndVerification = false;
  bool UseBaseProvider = true;
  bool UseStrongProvider = true;
  bool UseEnhancedProvider = true;
  bool UseAESProvider = true;
  bool UseDSSProvider = true;
  bool UseBaseDSSDHProvider = true;
  bool UseEnhancedDSSDHProvider = true;
  bool UseRSASChannelProvider = true;
  bool UseRSASignatureProvider = false;
  bool UseECDSASigProvider = false;
  bool UseECNRASigProvider = false;
  bool UseECDSAFullProvider = false;
  bool UseECNRAFullProvider = false;
  bool UseDHSChannelProvider = true;
  bool UseCryptoProProviders = true;
  bool FIPSMode = false;
  bool CacheKeyContexts = false;
  bool StoreKeysPersistently = true;
  bool UseEnhancedProviderForLargeKeys = false;
  bool UseEnhancedProviderForLargeKeysOnNewSystems = true;
};

struct TOvWin32AlgorithmInfo {
  int32_t Algorithm = ALG_UNKNOWN;
  uint32_t Id = 0;
  uint32_t BitLength = 0;
  bool CanGenerate = false;
  bool CanEncrypt = false;
  bool CanSign = false;
  bool CanDigest = false;
  bool CanExchange = false;
  int32_t DefaultKeySize = 0;
  int32_t DefaultBlockSize = 0;
  bool FIPSCompliant = false;
  std::string Name;
};

struct TOvWin32ProviderInfo {
  uint32_t CSPType = 0;
  std::string CSPName;
  uint64_t Handle = 0;
  bool OwnsHandle = true;
  bool FIPSCompliant = false;
  std::vector<TOvWin32AlgorithmInfo> Algorithms;
};

class TOvWin32CryptoProvider;

class TOvWin32CryptoKey : public TOvCustomCryptoKey {
 public:
  TOvWin32CryptoKey(TOvWin32CryptoProvider* provider, int32_t algorithm);
  ~TOvWin32CryptoKey() override;

  bool IsPublic() const override { return !modulus_.empty(); }
  bool IsSecret() const override;
  bool IsExportable() const override;
  bool IsPersistent() const override { return cert_ != 0; }
  bool IsValid() const override { return IsPublic() || cert_ != 0; }
  int32_t KeyBits() const override;
  int32_t Algorithm() const override { return algorithm_; }
  void Reset() override;
  void ImportPublic(const void* data, size_t size, TOvCryptoParams params) override;
  TOvCustomCryptoKey* Clone(TOvCryptoParams params) override;
  TOvCustomCryptoKey* ClonePublic(TOvCryptoParams params) override;
  void ClearSecret() override;
  ByteString GetKeyProp(std::string_view name, std::string_view defaultValue) override;
  void SetKeyProp(std::string_view name, std::string_view value) override;
  bool Equals(const TOvCustomCryptoKey& other, bool publicOnly, TOvCryptoParams params) override;

  uint64_t CertContext() const { return cert_; }
  const ByteString& Modulus() const { return modulus_; }
  const ByteString& Exponent() const { return exponent_; }

 private:
  friend class TOvWin32CryptoProvider;
  TOvWin32KeyStore& Store() const;
  void ReleaseHandles();

  int32_t algorithm_;
  ByteString modulus_;  // big-endian, no leading zeros
  ByteString exponent_;
  uint64_t cert_ = 0;     // store certificate handle, owned
  uint64_t own_csp_ = 0;  // for keys made in a container of their own (none here)
  uint64_t cached_csp_ = 0;
  uint64_t cached_csp24_ = 0;
  uint32_t cached_key_spec_ = 0;
  bool delete_container_on_release_ = false;
};

class TOvWin32CryptoContext : public TOvCustomCryptoContext {
 public:
  TOvWin32CryptoContext(TOvWin32CryptoProvider* provider, int32_t operation, int32_t algorithm,
                        TOvWin32CryptoKey* key);
  ~TOvWin32CryptoContext() override;

  int32_t GetAlgorithm() const override { return algorithm_; }
  int32_t GetKeySize() const override;
  void SetKeySize(int32_t value) override;
  int32_t GetBlockSize() const override { return 0; }
  void SetBlockSize(int32_t value) override;
  int32_t GetDigestSize() const override { return 0; }
  void SetDigestSize(int32_t value) override;
  int32_t GetMode() const override { return 0; }
  void SetMode(int32_t value) override;
  int32_t GetPadding() const override { return 0; }
  void SetPadding(int32_t value) override;
  ByteString GetContextProp(std::string_view name, std::string_view defaultValue) override;
  void SetContextProp(std::string_view name, std::string_view value) override;
  TOvCustomCryptoContext* Clone(TOvCryptoParams params) override;
  int64_t EstimateOutputSize(int64_t) override { return 16640; }
  // The operation (TCvCryptoOperation) the context was created for.
  int32_t Operation() const { return operation_; }

 private:
  friend class TOvWin32CryptoProvider;
  int32_t operation_;
  int32_t algorithm_;
  TOvWin32CryptoKey* key_;
  int32_t hash_algorithm_ = ALG_SHA1;
  bool input_is_hash_ = false;
  bool use_algorithm_prefix_ = true;
  ByteString hash_func_oid_;
  std::string scheme_ = "pkcs#1";
  int32_t salt_size_ = 0;  // PSS; 0 means as long as the hash
  ByteString input_;
  TOvCustomCryptoContext* hash_context_ = nullptr;
  TOvCustomCryptoProvider* hash_provider_ = nullptr;
  bool digest_known_ = false;
  ByteString digest_;
};

class TOvWin32CryptoProvider : public TOvExternalCryptoProvider {
 public:
  // store nullptr: the installed one (Win32KeyStore).
  explicit TOvWin32CryptoProvider(TOvWin32KeyStore* store = nullptr);
  ~TOvWin32CryptoProvider() override;

  static TOvWin32CryptoProvider* DefaultInstanceOfClass();

  TOvWin32CryptoProviderOptions& Win32Options() {
    return static_cast<TOvWin32CryptoProviderOptions&>(Options());
  }
  TOvWin32KeyStore& KeyStore() const { return *store_; }
  const std::string& LastErrorText() const { return last_error_text_; }
  const std::vector<TOvWin32ProviderInfo>& CSPs() const { return csps_; }
  // Rebuilds the CSP list from the options (they take effect here).
  void Reinit();

  std::unique_ptr<TOvCustomCryptoProviderOptions> CreateOptions() override;
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
  ByteString GetProviderProp(std::string_view name, std::string_view defaultValue) override;
  void SetProviderProp(std::string_view name, std::string_view value) override;

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

  size_t KeyCount() { return TOvCustomCryptoProvider::KeyCount(); }
  size_t ContextCount() { return TOvCustomCryptoProvider::ContextCount(); }

 private:
  friend class TOvWin32CryptoKey;
  friend class TOvWin32CryptoContext;
  void RegisterCSP(const std::string& name, uint32_t type, bool fips);
  bool FamilyEnabled(int32_t algorithm) const;
  bool HasHMAC() const;
  const TOvWin32AlgorithmInfo* FindRecord(int32_t algorithm,
                                          bool (*fits)(const TOvWin32AlgorithmInfo&)) const;
  TOvWin32CryptoKey* CheckKey(TOvCustomCryptoKey* key);
  TOvWin32CryptoContext* CheckContext(TOvCustomCryptoContext* context);
  TOvCustomCryptoKey* AdoptKey(std::unique_ptr<TOvWin32CryptoKey> key);
  // The signing helper: never raises for store failures; records
  // LastErrorText and answers false.
  bool SignDigest(TOvWin32CryptoContext& context, void* buffer, size_t& size);
  bool RetryVerifies(const TOvWin32CryptoContext& context, std::string_view digest,
                     std::string_view signatureBigEndian);
  ByteString DetermineDigest(TOvWin32CryptoContext& context);

  TOvWin32KeyStore* store_;
  std::vector<TOvWin32ProviderInfo> csps_;
  uint64_t window_handle_ = 0;
  std::string last_error_text_;
};

}  // namespace corvane
