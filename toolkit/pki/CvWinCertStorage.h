// TOvWinCertStorage: a live view of the system certificate stores ("My",
// "ROOT", "CA"), which on this platform are the user's NSS database. Each
// certificate keeps a store handle on its key, through which the system
// key-store provider reaches the private key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/pki/CvCustomCertStorage.h"

namespace corvane {

class TOvCustomCryptoProvider;

enum TCvStorageType { stSystem, stRegistry, stLDAP, stMemory };
enum TCvStorageAccessType {
  atCurrentService,
  atCurrentUser,
  atCurrentUserGroupPolicy,
  atLocalMachine,
  atLocalMachineEnterprise,
  atLocalMachineGroupPolicy,
  atServices,
  atUsers
};
enum TCvStorageProviderType {
  ptDefault,
  ptBaseDSSDH,
  ptBaseDSS,
  ptBase,
  ptRSASchannel,
  ptRSASignature,
  ptEnhancedDSSDH,
  ptEnhancedRSAAES,
  ptEnhanced,
  ptBaseSmartCard,
  ptStrong,
  ptCryptoProGOST94,
  ptCryptoProGOST2001
};

// The store-location flag of an access type (0x10000 for the current user).
uint32_t AccessTypeFlag(TCvStorageAccessType type);

class TOvWinCertStorage : public TOvCustomCertStorage {
 public:
  TOvWinCertStorage();
  ~TOvWinCertStorage() override;

  const std::vector<std::string>& SystemStores() const { return system_stores_; }
  // Any change re-opens the storage (Refresh).
  void SetSystemStores(std::vector<std::string> value);
  const std::vector<std::string>& PhysicalStores() const { return physical_stores_; }
  void SetPhysicalStores(std::vector<std::string> value);
  TCvStorageType StorageType() const { return storage_type_; }
  void SetStorageType(TCvStorageType value);
  TCvStorageAccessType AccessType() const { return access_type_; }
  void SetAccessType(TCvStorageAccessType value);
  TCvStorageProviderType Provider() const { return provider_type_; }
  void SetProvider(TCvStorageProviderType value) { provider_type_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  // Not owned; none means the process-wide system key-store provider.
  TOvCustomCryptoProvider* CryptoProvider() const { return crypto_provider_; }
  void SetCryptoProvider(TOvCustomCryptoProvider* value) { crypto_provider_ = value; }

  // Raises EOvCertStorageError "Failed to open storage" when no name opens.
  void Refresh();
  void Close();

  int Count() override;
  TOvX509Certificate* Certificates(int index) override;
  void Add(TOvX509Certificate& certificate, bool copyPrivateKey) override;
  void Remove(int index) override;

  // The store's handle of the certificate at index (0 outside the list); the
  // storage keeps it.
  uint64_t ContextHandle(int index);

  // The store-location flags Refresh uses (access type, 0x8000 when read-only).
  uint32_t OpenFlags() const;

 private:
  struct Entry {
    uint64_t Handle = 0;
    int NameIndex = 0;
    std::unique_ptr<TOvX509Certificate> Certificate;
  };
  std::string StoreNameOf(int nameIndex) const;
  std::unique_ptr<TOvX509Certificate> Build(const std::string& der, uint64_t handle, int nameIndex);

  std::vector<std::string> system_stores_;
  std::vector<std::string> physical_stores_;
  TCvStorageType storage_type_ = stSystem;
  TCvStorageAccessType access_type_ = atCurrentUser;
  TCvStorageProviderType provider_type_ = ptDefault;
  bool read_only_ = false;
  TOvCustomCryptoProvider* crypto_provider_ = nullptr;
  bool system_store_fallback_ = true;
  std::vector<std::string> opened_names_;  // one per name tried; empty: failed
  std::vector<Entry> entries_;
};

}  // namespace corvane
