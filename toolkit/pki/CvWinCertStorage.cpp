#include "toolkit/pki/CvWinCertStorage.h"

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvCryptoProvWin32.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

constexpr int32_t kCertExists = static_cast<int32_t>(0x80092005u);
constexpr int32_t kErrorBusy = 170;

// The key store the application installed; its handles are the ones the
// system key-store provider's keys hold.
TOvWin32KeyStore& Store() { return Win32KeyStore(); }

// Physical stores other than the default one do not exist here.
bool OpensAsSystemStore(const std::string& physical) { return physical == ".Default"; }

}  // namespace

uint32_t AccessTypeFlag(TCvStorageAccessType type) {
  switch (type) {
    case atCurrentService:
      return 0x40000;
    case atCurrentUser:
      return 0x10000;
    case atCurrentUserGroupPolicy:
      return 0x70000;
    case atLocalMachine:
      return 0x20000;
    case atLocalMachineEnterprise:
      return 0x90000;
    case atLocalMachineGroupPolicy:
      return 0x80000;
    case atServices:
      return 0x50000;
    case atUsers:
      return 0x60000;
  }
  return 0;
}

TOvWinCertStorage::TOvWinCertStorage() = default;

TOvWinCertStorage::~TOvWinCertStorage() { Close(); }

uint32_t TOvWinCertStorage::OpenFlags() const {
  return AccessTypeFlag(access_type_) | (read_only_ ? 0x8000u : 0u);
}

void TOvWinCertStorage::SetSystemStores(std::vector<std::string> value) {
  system_stores_ = std::move(value);
  Refresh();
}

void TOvWinCertStorage::SetPhysicalStores(std::vector<std::string> value) {
  physical_stores_ = std::move(value);
  Refresh();
}

void TOvWinCertStorage::SetStorageType(TCvStorageType value) {
  storage_type_ = value;
  if (!system_stores_.empty()) Refresh();
}

void TOvWinCertStorage::SetAccessType(TCvStorageAccessType value) {
  access_type_ = value;
  if (!system_stores_.empty()) Refresh();
}

void TOvWinCertStorage::Close() {
  TOvWriteLock guard(Lock());
  for (Entry& e : entries_) {
    e.Certificate.reset();  // frees the handle its key holds
    Store().FreeCertificate(e.Handle);
  }
  entries_.clear();
  opened_names_.clear();
  SetChanged(true);
}

std::string TOvWinCertStorage::StoreNameOf(int nameIndex) const {
  if (nameIndex < 0 || nameIndex >= static_cast<int>(opened_names_.size())) return {};
  return opened_names_[static_cast<size_t>(nameIndex)];
}

std::unique_ptr<TOvX509Certificate> TOvWinCertStorage::Build(const std::string& der,
                                                             uint64_t handle, int nameIndex) {
  auto certificate = std::make_unique<TOvX509Certificate>();
  certificate->SetCryptoProvider(crypto_provider_ != nullptr
                                     ? crypto_provider_
                                     : TOvWin32CryptoProvider::DefaultInstanceOfClass());
  certificate->SetCryptoProviderManager(CryptoProviderManager());
  certificate->SetStorageName(StoreNameOf(nameIndex));
  certificate->LoadFromBuffer(der.data(), der.size());
  if (certificate->KeyMaterial() != nullptr && certificate->KeyMaterial()->Key() != nullptr) {
    const uint64_t dup = Store().DuplicateCertificate(handle);
    try {
      certificate->SetCertContext(dup);  // the key owns the duplicate now
    } catch (const std::exception&) {
      Store().FreeCertificate(dup);
    }
  }
  certificate->SetFromStorage(true);
  return certificate;
}

void TOvWinCertStorage::Refresh() {
  Close();
  if (system_stores_.empty()) return;
  bool nothingOpened = true;
  {
    TOvWriteLock guard(Lock());
    // The names tried, in order; a name that cannot be opened keeps its slot.
    std::vector<std::pair<std::string, std::optional<TOvWin32StoreName>>> names;
    if (storage_type_ == stMemory) {
      nothingOpened = false;  // an empty in-memory store
    } else if (!physical_stores_.empty() && storage_type_ == stSystem) {
      for (const std::string& s : system_stores_)
        for (const std::string& p : physical_stores_)
          names.emplace_back(std::string(s).append("\\").append(p),
                             OpensAsSystemStore(p) ? Win32StoreNameFromText(s) : std::nullopt);
    } else {
      for (const std::string& s : system_stores_)
        // Registry and LDAP stores do not exist on this platform.
        names.emplace_back(s, storage_type_ == stSystem ? Win32StoreNameFromText(s) : std::nullopt);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      opened_names_.push_back(names[i].first);
      if (!names[i].second) continue;
      std::vector<TOvWin32StoreCertificate> listed;
      if (Store().ListStore(*names[i].second, listed) != TOvWin32StoreResult::Ok) continue;
      nothingOpened = false;
      for (TOvWin32StoreCertificate& c : listed) {
        Entry entry;
        entry.Handle = c.Handle;
        entry.NameIndex = static_cast<int>(i);
        // Parsed now: a certificate we cannot read is left out, so it never
        // stops the user from signing with the others.
        try {
          entry.Certificate = Build(c.Der, c.Handle, entry.NameIndex);
        } catch (const std::exception& e) {
          CertStorageLog("Certificate \"" + c.Nickname + "\" of store \"" + names[i].first +
                         "\" left out: " + e.what());
          Store().FreeCertificate(c.Handle);
          continue;
        }
        entries_.push_back(std::move(entry));
      }
    }
    SetChanged(true);
  }
  if (nothingOpened) {
    Close();
    throw EOvCertStorageError("Failed to open storage");
  }
}

int TOvWinCertStorage::Count() { return static_cast<int>(entries_.size()); }

TOvX509Certificate* TOvWinCertStorage::Certificates(int index) {
  TOvReadLock guard(Lock());
  if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
  return entries_[static_cast<size_t>(index)].Certificate.get();
}

uint64_t TOvWinCertStorage::ContextHandle(int index) {
  TOvReadLock guard(Lock());
  if (index < 0 || index >= static_cast<int>(entries_.size())) return 0;
  return entries_[static_cast<size_t>(index)].Handle;
}

void TOvWinCertStorage::Add(TOvX509Certificate& certificate, bool copyPrivateKey) {
  const std::string name = system_stores_.empty() ? std::string("ROOT") : system_stores_.front();
  const std::optional<TOvWin32StoreName> store =
      storage_type_ == stSystem ? Win32StoreNameFromText(name) : std::nullopt;
  if (!store) throw ECorvaneError("Failed to open storage");
  // The store keeps its private keys to itself and takes none in: refuse
  // before anything changes rather than leave a certificate without its key.
  if (copyPrivateKey && certificate.PrivateKeyExists())
    throw EOvCertStorageError("Failed to retrieve certificate private key");
  const std::string der(certificate.CertificateBinary());
  // The certificate may be one of ours: everything needed is copied above.
  // Writing needs every handle back; the lists are read afresh on every path.
  Close();
  TCvScopeExit relist([this] {
    try {
      Refresh();
    } catch (const std::exception&) {
      // The add's own outcome is what the caller hears about.
    }
  });
  TOvWin32StoreResult result = Store().AddCertificate(*store, der);
  if (result == TOvWin32StoreResult::CannotOpen && system_store_fallback_)
    result = Store().AddCertificate(*store, der);
  switch (result) {
    case TOvWin32StoreResult::Ok:
      break;
    case TOvWin32StoreResult::CannotOpen:
      throw ECorvaneError("Failed to open storage");
    case TOvWin32StoreResult::AlreadyExists:
      throw EOvDuplicateCertError("Certificate already exists", kCertExists);
    case TOvWin32StoreResult::Busy:
      throw EOvCertStorageError("Failed to add certificate to Windows storage due to error ",
                                kErrorBusy);
    default:
      throw EOvCertStorageError("Failed to add certificate to Windows storage due to error ",
                                Store().LastError());
  }
}

void TOvWinCertStorage::Remove(int index) {
  if (index < 0 || index >= Count()) throw EOvCertStorageError("Index out of bounds");
  std::string der;
  {
    TOvReadLock guard(Lock());
    if (!Store().Encoded(entries_[static_cast<size_t>(index)].Handle, der))
      throw EOvCertStorageError("Unable to delete certificate");
  }
  // Deleting opens the database for writing, which needs every handle given
  // back; the storage lists afresh afterwards.
  Close();
  const TOvWin32StoreResult result = Store().RemoveCertificate(der);
  Refresh();
  if (result != TOvWin32StoreResult::Ok) throw EOvCertStorageError("Unable to delete certificate");
}

}  // namespace corvane
