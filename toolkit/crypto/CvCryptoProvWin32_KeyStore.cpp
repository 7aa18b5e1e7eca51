// Where the system key-store provider and TOvWinCertStorage find the key
// store: the one the application installs, else one that holds nothing.
#include <atomic>

#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProvWin32.h"

namespace corvane {

namespace {

constexpr int32_t kNteBadKeyset = static_cast<int32_t>(0x80090016u);

// No container opens and no store lists anything: the provider offers no
// CSP and a signature fails as it does for an unknown key.
class TEmptyKeyStore final : public TOvWin32KeyStore {
 public:
  bool ReadKeyLocation(uint64_t, TOvWin32KeyLocation&) override { return false; }
  uint64_t OpenKeyContainer(const std::u16string&, const std::u16string*, uint32_t,
                            uint32_t) override {
    return 0;
  }
  uint64_t OpenVerifyOnly(const std::string&, uint32_t) override { return 0; }
  std::vector<TOvWin32CSPAlgorithm> ListAlgorithms(uint64_t) override { return {}; }
  void AddRefContainer(uint64_t) override {}
  void ReleaseContainer(uint64_t) override {}
  uint64_t GetUserKey(uint64_t, uint32_t) override { return 0; }
  uint32_t KeyBits(uint64_t) override { return 0; }
  void DestroyKey(uint64_t) override {}
  uint64_t CreateHash(uint64_t, uint32_t) override { return 0; }
  bool SetHashValue(uint64_t, std::string_view) override { return false; }
  bool SignHash(uint64_t, uint32_t, void*, uint32_t&) override { return false; }
  void DestroyHash(uint64_t) override {}
  uint64_t DuplicateCertificate(uint64_t) override { return 0; }
  void FreeCertificate(uint64_t) override {}
  bool SetParentWindow(uint64_t, uint64_t) override { return true; }
  int32_t LastError() override { return kNteBadKeyset; }

  TOvWin32StoreResult ListStore(TOvWin32StoreName,
                                std::vector<TOvWin32StoreCertificate>& certificates) override {
    certificates.clear();
    return TOvWin32StoreResult::Ok;
  }
  bool Encoded(uint64_t, std::string&) override { return false; }
  TOvWin32StoreResult AddCertificate(TOvWin32StoreName, std::string_view) override {
    return TOvWin32StoreResult::CannotOpen;
  }
  TOvWin32StoreResult RemoveCertificate(std::string_view) override {
    return TOvWin32StoreResult::Failed;
  }
};

std::atomic<TOvWin32KeyStore*> installed{nullptr};

}  // namespace

std::optional<TOvWin32StoreName> Win32StoreNameFromText(std::string_view name) {
  if (SameTextAscii(name, "My")) return TOvWin32StoreName::My;
  if (SameTextAscii(name, "ROOT")) return TOvWin32StoreName::Root;
  if (SameTextAscii(name, "CA")) return TOvWin32StoreName::CA;
  return std::nullopt;
}

void SetWin32KeyStore(TOvWin32KeyStore* store) { installed.store(store); }

TOvWin32KeyStore& Win32KeyStore() {
  static TEmptyKeyStore* empty = new TEmptyKeyStore;  // outlives every provider
  TOvWin32KeyStore* store = installed.load();
  return store != nullptr ? *store : *empty;
}

}  // namespace corvane
