// The key-store operations of the toolkit's system key-store provider and of
// TOvWinCertStorage, on KeyStore. A "key container" is the certificate whose
// key the store holds; the store keeps one key per certificate, used as the
// exchange key.
#include "platform/keystore/ToolkitKeyStore.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/keystore/KeyStore.h"

namespace platform {

namespace {

using namespace corvane;

// CryptoAPI error codes the operations report through LastError.
constexpr int32_t kNteBadUid = static_cast<int32_t>(0x80090001u);
constexpr int32_t kNteBadHash = static_cast<int32_t>(0x80090002u);
constexpr int32_t kNteBadLen = static_cast<int32_t>(0x80090004u);
constexpr int32_t kNteBadAlgId = static_cast<int32_t>(0x80090008u);
constexpr int32_t kNteNoKey = static_cast<int32_t>(0x8009000Du);
constexpr int32_t kNteBadKeyset = static_cast<int32_t>(0x80090016u);
constexpr int32_t kNteFail = static_cast<int32_t>(0x80090020u);
constexpr int32_t kScardRemovedCard = static_cast<int32_t>(0x80100069u);
constexpr int32_t kScardWrongChv = static_cast<int32_t>(0x8010006Bu);
constexpr int32_t kScardCancelledByUser = static_cast<int32_t>(0x8010006Eu);
constexpr int32_t kErrorMoreData = 234;

constexpr char16_t kContainerPrefix[] = u"tavra-store-certificate-";

const std::u16string kEnhancedName = u"Microsoft Enhanced Cryptographic Provider v1.0";

size_t DigestSize(uint32_t hashId) {
  switch (hashId) {
    case CALG_MD2:
    case CALG_MD5:
      return 16;
    case CALG_SHA1:
      return 20;
    case CALG_SSL3_SHAMD5:
      return 36;
    case CALG_SHA_256:
      return 32;
    case CALG_SHA_384:
      return 48;
    case CALG_SHA_512:
      return 64;
    default:
      return 0;
  }
}

// Why the store did not sign, in the words the person signing reads, naming
// the token when the store knows it.
std::string CauseOf(platform::KeyStoreResult result, const std::string& token,
                    const std::string& storeText) {
  using platform::KeyStoreResult;
  const std::string forToken = token.empty() ? "" : " for token \"" + token + "\"";
  switch (result) {
    case KeyStoreResult::WrongPassword:
      return "wrong password or PIN" + forToken;
    case KeyStoreResult::PasswordCancelled:
      return "password or PIN entry" + forToken + " cancelled";
    case KeyStoreResult::TokenRemoved:
      return token.empty() ? "the token holding the key was removed"
                           : "the token \"" + token + "\" holding the key was removed";
    case KeyStoreResult::NoPrivateKey:
      return "the private key of the certificate was not found";
    case KeyStoreResult::MechanismUnsupported:
      return "the token cannot sign with this key in the way asked";
    case KeyStoreResult::UnsupportedKey:
      return "the key cannot sign here (only RSA and EC keys sign; PSS needs an RSA key)";
    case KeyStoreResult::UnsupportedHash:
      return "the key store cannot sign this hash algorithm";
    case KeyStoreResult::UnknownHandle:
      return "the certificate is no longer open in the key store";
    default:
      return storeText.empty() ? "the key store could not sign"
                               : "the key store could not sign: " + storeText;
  }
}

// The CryptoAPI code a caller of the Windows call would see for the result.
int32_t CodeOf(platform::KeyStoreResult result, int storeCode) {
  using platform::KeyStoreResult;
  switch (result) {
    case KeyStoreResult::WrongPassword:
      return kScardWrongChv;
    case KeyStoreResult::PasswordCancelled:
      return kScardCancelledByUser;
    case KeyStoreResult::TokenRemoved:
      return kScardRemovedCard;
    case KeyStoreResult::NoPrivateKey:
      return kNteNoKey;
    case KeyStoreResult::MechanismUnsupported:
    case KeyStoreResult::UnsupportedKey:
    case KeyStoreResult::UnsupportedHash:
      return kNteBadAlgId;
    case KeyStoreResult::UnknownHandle:
      return kNteBadUid;
    default:
      return storeCode != 0 ? storeCode : kNteFail;
  }
}

class PlatformKeyStore final : public TOvWin32KeyStore {
 public:
  bool ReadKeyLocation(uint64_t certificate, TOvWin32KeyLocation& location) override {
    // The user-certificate flag decides: no login, no password.
    if (certificate == 0 || !Store().HasPrivateKey(certificate)) return Fail(kNteNoKey);
    location.ContainerName = kContainerPrefix + ToU16(std::to_string(certificate));
    location.CSPName = kEnhancedName;
    location.CSPType = 1;
    location.Flags = 0;
    location.KeySpec = AT_KEYEXCHANGE;
    return true;
  }

  uint64_t OpenKeyContainer(const std::u16string& container, const std::u16string*,
                            uint32_t cspType, uint32_t) override {
    std::lock_guard guard(lock_);
    const std::u16string prefix = kContainerPrefix;
    if (container.compare(0, prefix.size(), prefix) != 0 || (cspType != 1 && cspType != 24))
      return Fail(kNteBadKeyset);
    uint64_t certificate = 0;
    for (size_t i = prefix.size(); i < container.size(); ++i) {
      const char16_t c = container[i];
      if (c < u'0' || c > u'9' || certificate > (UINT64_MAX - 9) / 10) return Fail(kNteBadKeyset);
      certificate = certificate * 10 + (c - u'0');
    }
    const uint64_t dup = Store().DuplicateCertificate(certificate);
    if (dup == 0) return Fail(kNteBadKeyset);
    return AddCsp(dup, cspType);
  }

  uint64_t OpenVerifyOnly(const std::string& cspName, uint32_t cspType) override {
    std::lock_guard guard(lock_);
    // The store signs with RSA keys; it stands in for the RSA CSPs of types 1 and 24.
    const bool known =
        (cspType == 1 && (cspName == "Microsoft Base Cryptographic Provider v1.0" ||
                          cspName == "Microsoft Strong Cryptographic Provider" ||
                          cspName == "Microsoft Enhanced Cryptographic Provider v1.0")) ||
        (cspType == 24 && cspName == "Microsoft Enhanced RSA and AES Cryptographic Provider");
    if (!known) return Fail(kNteBadKeyset);
    return AddCsp(0, cspType);
  }

  std::vector<TOvWin32CSPAlgorithm> ListAlgorithms(uint64_t csp) override {
    std::lock_guard guard(lock_);
    std::vector<TOvWin32CSPAlgorithm> list;
    auto it = csps_.find(csp);
    if (it == csps_.end()) return list;
    list = {{CALG_MD2, 128, "MD2"},     {CALG_MD5, 128, "MD5"},
            {CALG_SHA1, 160, "SHA-1"},  {CALG_SSL3_SHAMD5, 288, "SSL3 SHAMD5"},
            {CALG_HMAC, 0, "HMAC"},     {0x2400, 1024, "RSA_SIGN"},
            {0xA400, 1024, "RSA_KEYX"}, {CALG_ECDSA, 256, "ECDSA"}};
    if (it->second.Type == 24) {
      list.push_back({CALG_SHA_256, 256, "SHA-256"});
      list.push_back({CALG_SHA_384, 384, "SHA-384"});
      list.push_back({CALG_SHA_512, 512, "SHA-512"});
    }
    return list;
  }

  void AddRefContainer(uint64_t csp) override {
    std::lock_guard guard(lock_);
    auto it = csps_.find(csp);
    if (it != csps_.end()) ++it->second.Refs;
  }

  void ReleaseContainer(uint64_t csp) override {
    std::lock_guard guard(lock_);
    auto it = csps_.find(csp);
    if (it == csps_.end() || --it->second.Refs > 0) return;
    if (it->second.Certificate != 0) Store().FreeCertificate(it->second.Certificate);
    csps_.erase(it);
  }

  uint64_t GetUserKey(uint64_t csp, uint32_t keySpec) override {
    std::lock_guard guard(lock_);
    auto it = csps_.find(csp);
    if (it == csps_.end() || it->second.Certificate == 0) return Fail(kNteBadUid);
    if (keySpec != AT_KEYEXCHANGE || !Store().HasPrivateKey(it->second.Certificate))
      return Fail(kNteNoKey);
    const uint64_t handle = next_++;
    keys_[handle] = it->second.Certificate;
    return handle;
  }

  uint32_t KeyBits(uint64_t key) override {
    std::lock_guard guard(lock_);
    auto it = keys_.find(key);
    return it != keys_.end() ? Store().KeyBits(it->second) : 0;
  }

  void DestroyKey(uint64_t key) override {
    std::lock_guard guard(lock_);
    keys_.erase(key);
  }

  uint64_t CreateHash(uint64_t csp, uint32_t hashId) override {
    std::lock_guard guard(lock_);
    auto it = csps_.find(csp);
    if (it == csps_.end()) return Fail(kNteBadUid);
    const bool sha2 = hashId == CALG_SHA_256 || hashId == CALG_SHA_384 || hashId == CALG_SHA_512;
    if (DigestSize(hashId) == 0 || (sha2 && it->second.Type != 24)) return Fail(kNteBadAlgId);
    const uint64_t handle = next_++;
    hashes_[handle] = Hash{it->second.Certificate, hashId, {}, false};
    return handle;
  }

  bool SetHashValue(uint64_t hash, std::string_view digest) override {
    std::lock_guard guard(lock_);
    auto it = hashes_.find(hash);
    if (it == hashes_.end()) return Fail(kNteBadHash);
    if (digest.size() != DigestSize(it->second.Id)) return Fail(kNteBadLen);
    it->second.Digest = std::string(digest);
    it->second.HasValue = true;
    return true;
  }

  bool SignHash(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size) override {
    return Sign(hash, keySpec, buffer, size, KeyStorePadding::PKCS1);
  }

  bool SignHashPSS(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size) override {
    return Sign(hash, keySpec, buffer, size, KeyStorePadding::PSS);
  }

  void DestroyHash(uint64_t hash) override {
    std::lock_guard guard(lock_);
    hashes_.erase(hash);
  }

  uint64_t DuplicateCertificate(uint64_t certificate) override {
    return Store().DuplicateCertificate(certificate);
  }
  void FreeCertificate(uint64_t certificate) override { Store().FreeCertificate(certificate); }
  bool SetParentWindow(uint64_t, uint64_t) override {
    return true;
  }  // prompts belong to the application
  int32_t LastError() override {
    std::lock_guard guard(lock_);
    return last_error_;
  }
  std::string LastErrorText() override {
    std::lock_guard guard(lock_);
    return last_error_text_;
  }

  TOvWin32StoreResult ListStore(TOvWin32StoreName store,
                                std::vector<TOvWin32StoreCertificate>& certificates) override {
    std::vector<KeyStoreCertificate> listed;
    const TOvWin32StoreResult result = Outcome(Store().List(StoreOf(store), listed));
    certificates.clear();
    for (KeyStoreCertificate& c : listed)
      certificates.push_back({c.Handle, std::move(c.Der), std::move(c.Nickname)});
    return result;
  }

  bool Encoded(uint64_t certificate, std::string& der) override {
    return Store().Encoded(certificate, der);
  }

  TOvWin32StoreResult AddCertificate(TOvWin32StoreName store, std::string_view der) override {
    return Outcome(Store().Add(StoreOf(store), der));
  }

  TOvWin32StoreResult RemoveCertificate(std::string_view der) override {
    return Outcome(Store().Remove(der));
  }

 private:
  bool Sign(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size,
            KeyStorePadding padding) {
    std::lock_guard guard(lock_);
    auto it = hashes_.find(hash);
    if (it == hashes_.end() || !it->second.HasValue) return Fail(kNteBadHash);
    // One key per certificate: the other key spec fails at once, without
    // asking for the password again.
    if (it->second.Certificate == 0 || keySpec != AT_KEYEXCHANGE) return Fail(kNteBadKeyset);
    std::string signature;
    const platform::KeyStoreResult result = Store().SignDigest(
        it->second.Certificate, it->second.Id, it->second.Digest, signature, padding);
    if (result != platform::KeyStoreResult::Ok) {
      Fail(CodeOf(result, Store().LastError()));
      last_error_text_ = CauseOf(result, Store().LastTokenName(), Store().LastErrorText());
      return false;
    }
    if (buffer == nullptr || size < signature.size()) {
      size = static_cast<uint32_t>(signature.size());
      return Fail(kErrorMoreData);
    }
    std::copy(signature.begin(), signature.end(), static_cast<char*>(buffer));
    size = static_cast<uint32_t>(signature.size());
    return true;
  }

  struct Csp {
    uint64_t Certificate = 0;  // a duplicate owned by the container, 0 for verify-only
    uint32_t Type = 0;
    int Refs = 1;
  };
  struct Hash {
    uint64_t Certificate = 0;
    uint32_t Id = 0;
    std::string Digest;
    bool HasValue = false;
  };

  static KeyStore& Store() { return KeyStore::Instance(); }

  static KeyStoreName StoreOf(TOvWin32StoreName store) {
    switch (store) {
      case TOvWin32StoreName::My:
        return KeyStoreName::My;
      case TOvWin32StoreName::Root:
        return KeyStoreName::Root;
      case TOvWin32StoreName::CA:
        return KeyStoreName::CA;
    }
    return KeyStoreName::My;
  }

  // A failure the storage reports with the store's own code keeps that code.
  TOvWin32StoreResult Outcome(KeyStoreResult result) {
    switch (result) {
      case KeyStoreResult::Ok:
        return TOvWin32StoreResult::Ok;
      case KeyStoreResult::CannotOpen:
        return TOvWin32StoreResult::CannotOpen;
      case KeyStoreResult::Busy:
        return TOvWin32StoreResult::Busy;
      case KeyStoreResult::AlreadyExists:
        return TOvWin32StoreResult::AlreadyExists;
      default: {
        std::lock_guard guard(lock_);
        last_error_ = Store().LastError();
        return TOvWin32StoreResult::Failed;
      }
    }
  }

  static std::u16string ToU16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
  }

  uint64_t Fail(int32_t code) {
    last_error_ = code;
    last_error_text_.clear();
    return 0;
  }

  uint64_t AddCsp(uint64_t certificate, uint32_t type) {
    const uint64_t handle = next_++;
    csps_[handle] = Csp{certificate, type, 1};
    return handle;
  }

  std::recursive_mutex lock_;
  std::map<uint64_t, Csp> csps_;
  std::map<uint64_t, uint64_t> keys_;
  std::map<uint64_t, Hash> hashes_;
  uint64_t next_ = 1;
  int32_t last_error_ = 0;
  std::string last_error_text_;  // the cause of a failed signing, in words
};

}  // namespace

corvane::TOvWin32KeyStore& ToolkitKeyStore() {
  static PlatformKeyStore* store = new PlatformKeyStore;  // outlives every provider
  return *store;
}

}  // namespace platform
