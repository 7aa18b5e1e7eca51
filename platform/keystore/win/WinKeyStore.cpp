// The key store on Windows: the system's certificate stores (crypt32) and the
// key containers of their certificates (advapi32). Certificate handles are
// numbers in one table shared by KeyStore and the toolkit's view of it, each
// owning one reference to its context, so that a stale handle is refused
// rather than dereferenced. CSP, key and hash handles are CryptoAPI's own.
#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "platform/keystore/KeyStore.h"
#include "platform/keystore/ToolkitKeyStore.h"

// The system headers last: their CALG_ macros would rename the toolkit's
// constants of the same names and values.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

namespace platform {

namespace {

using namespace corvane;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// No store holds more; the enumeration stops there.
constexpr size_t kMaxStoreCertificates = 100000;
constexpr int32_t kNteBadLen = static_cast<int32_t>(0x80090004u);
constexpr int32_t kNteBadUid = static_cast<int32_t>(0x80090001u);

constexpr int32_t kNteBadAlgid = static_cast<int32_t>(0x80090008u);

thread_local int32_t lastError = 0;
thread_local std::string lastErrorText;

// Records the calling thread's system error; returns 0 or false for the caller.
uint64_t Fail() {
  lastError = static_cast<int32_t>(::GetLastError());
  lastErrorText.clear();
  return 0;
}
uint64_t Fail(int32_t code, std::string text = {}) {
  lastError = code;
  lastErrorText = std::move(text);
  ::SetLastError(static_cast<DWORD>(code));
  return 0;
}

const wchar_t* SystemName(KeyStoreName store) {
  switch (store) {
    case KeyStoreName::Root:
      return L"ROOT";
    case KeyStoreName::CA:
      return L"CA";
    default:
      return L"My";
  }
}

// The current user's system store, read-write; the older single-call open
// when the first one fails.
HCERTSTORE OpenSystemStore(KeyStoreName store) {
  HCERTSTORE handle = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER, SystemName(store));
  if (handle != nullptr) return handle;
  const char* name = store == KeyStoreName::Root ? "ROOT" : store == KeyStoreName::CA ? "CA" : "My";
  return ::CertOpenSystemStoreA(0, name);
}

std::string WideToAnsi(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int count = ::WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string result(static_cast<size_t>(count), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, size, result.data(), count, nullptr, nullptr);
  return result;
}

}  // namespace

struct KeyStore::Impl {
  mutable std::recursive_mutex lock;
  std::map<uint64_t, PCCERT_CONTEXT> handles;
  uint64_t next = 1;
  std::string databaseDir;
  KeyStorePasswordPrompt* prompt = nullptr;
  int lastError = 0;
  std::string lastErrorText;

  uint64_t Register(PCCERT_CONTEXT context) {
    std::lock_guard guard(lock);
    const uint64_t handle = next++;
    handles[handle] = context;
    return handle;
  }
  // A context of the handle the caller must free, or nullptr.
  PCCERT_CONTEXT Borrow(uint64_t handle) {
    std::lock_guard guard(lock);
    auto it = handles.find(handle);
    return it == handles.end() ? nullptr : ::CertDuplicateCertificateContext(it->second);
  }
  KeyStoreResult Failed() {
    lastError = static_cast<int>(::GetLastError());
    return KeyStoreResult::Failed;
  }
};

KeyStore& KeyStore::Instance() {
  static KeyStore* store = new KeyStore;  // outlives every handle
  return *store;
}

// The one store's table, for the toolkit's view below.
KeyStore::Impl* storeTable = nullptr;

KeyStore::KeyStore() : impl_(new Impl) { storeTable = impl_; }

// No database on Windows: the current user's system stores are the store.
std::string KeyStore::DefaultDatabaseDir() { return {}; }
std::string KeyStore::DatabaseSpec(const std::string& dir) { return dir; }
std::string KeyStore::DatabaseFolder(const std::string& dir) { return dir; }
bool KeyStore::HoldsDatabase(const std::string&) { return false; }

void KeyStore::SetDatabaseDir(const std::string& dir) {
  std::lock_guard guard(impl_->lock);
  impl_->databaseDir = dir;
}

std::string KeyStore::DatabaseDir() const {
  std::lock_guard guard(impl_->lock);
  return impl_->databaseDir;
}

// The container's CSP asks for a PIN itself when it needs one.
void KeyStore::SetPasswordPrompt(KeyStorePasswordPrompt* prompt) {
  std::lock_guard guard(impl_->lock);
  impl_->prompt = prompt;
}

KeyStoreResult KeyStore::List(KeyStoreName store, std::vector<KeyStoreCertificate>& certificates) {
  certificates.clear();
  HCERTSTORE handle = OpenSystemStore(store);
  if (handle == nullptr) {
    impl_->Failed();
    return KeyStoreResult::CannotOpen;
  }
  PCCERT_CONTEXT context = nullptr;
  while (certificates.size() < kMaxStoreCertificates &&
         (context = ::CertEnumCertificatesInStore(handle, context)) != nullptr) {
    KeyStoreCertificate entry;
    entry.Der.assign(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
    entry.Handle = impl_->Register(::CertDuplicateCertificateContext(context));
    certificates.push_back(std::move(entry));
  }
  if (context != nullptr) ::CertFreeCertificateContext(context);
  ::CertCloseStore(handle, 0);
  return KeyStoreResult::Ok;
}

KeyStoreResult KeyStore::Inspect(const std::string&, KeyStoreCounts& counts) {
  counts = {};
  std::vector<KeyStoreCertificate> listed;
  const KeyStoreResult result = List(KeyStoreName::My, listed);
  for (const KeyStoreCertificate& c : listed) {
    ++counts.Certificates;
    if (HasPrivateKey(c.Handle)) ++counts.WithKey;
    FreeCertificate(c.Handle);
  }
  return result;
}

KeyStoreCertHandle KeyStore::DuplicateCertificate(KeyStoreCertHandle handle) {
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  return context != nullptr ? impl_->Register(context) : 0;
}

void KeyStore::FreeCertificate(KeyStoreCertHandle handle) {
  PCCERT_CONTEXT context = nullptr;
  {
    std::lock_guard guard(impl_->lock);
    auto it = impl_->handles.find(handle);
    if (it == impl_->handles.end()) return;
    context = it->second;
    impl_->handles.erase(it);
  }
  ::CertFreeCertificateContext(context);
}

bool KeyStore::Encoded(KeyStoreCertHandle handle, std::string& der) {
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  if (context == nullptr) return false;
  der.assign(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
  ::CertFreeCertificateContext(context);
  return true;
}

bool KeyStore::HasPrivateKey(KeyStoreCertHandle handle) {
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  if (context == nullptr) return false;
  DWORD size = 0;
  const bool has =
      ::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
      size >= sizeof(CRYPT_KEY_PROV_INFO);
  ::CertFreeCertificateContext(context);
  return has;
}

KeyStoreKeyType KeyStore::KeyType(KeyStoreCertHandle handle) {
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  if (context == nullptr) return KeyStoreKeyType::None;
  const char* oid = context->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
  const std::string id = oid != nullptr ? oid : "";
  ::CertFreeCertificateContext(context);
  if (id == szOID_RSA_RSA) return KeyStoreKeyType::RSA;
  if (id == szOID_ECC_PUBLIC_KEY) return KeyStoreKeyType::EC;
  return KeyStoreKeyType::Other;
}

uint32_t KeyStore::KeyBits(KeyStoreCertHandle handle) {
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  if (context == nullptr) return 0;
  const DWORD bits = ::CertGetPublicKeyLength(kEncoding, &context->pCertInfo->SubjectPublicKeyInfo);
  ::CertFreeCertificateContext(context);
  return bits;
}

// Through the toolkit's view, which holds the CryptoAPI sequence.
KeyStoreResult KeyStore::SignDigest(KeyStoreCertHandle handle, uint32_t hashId,
                                    std::string_view digest, std::string& signatureLittleEndian,
                                    KeyStorePadding padding) {
  signatureLittleEndian.clear();
  if (padding != KeyStorePadding::PKCS1) return KeyStoreResult::MechanismUnsupported;
  TOvWin32KeyStore& store = ToolkitKeyStore();
  TOvWin32KeyLocation location;
  PCCERT_CONTEXT context = impl_->Borrow(handle);
  if (context == nullptr) return KeyStoreResult::UnknownHandle;
  ::CertFreeCertificateContext(context);
  if (!store.ReadKeyLocation(handle, location)) return KeyStoreResult::NoPrivateKey;
  const uint64_t csp =
      store.OpenKeyContainer(location.ContainerName, nullptr, PROV_RSA_AES, location.Flags);
  if (csp == 0) return impl_->Failed();
  KeyStoreResult result = KeyStoreResult::Ok;
  const uint64_t hash = store.CreateHash(csp, hashId);
  if (hash == 0) {
    result = KeyStoreResult::UnsupportedHash;
  } else if (!store.SetHashValue(hash, digest)) {
    result = KeyStoreResult::UnsupportedHash;
  } else {
    std::string buffer(16384, '\0');
    uint32_t size = static_cast<uint32_t>(buffer.size());
    bool ok = store.SignHash(hash, location.KeySpec, buffer.data(), size);
    if (!ok) {
      size = static_cast<uint32_t>(buffer.size());
      ok = store.SignHash(hash, location.KeySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE,
                          buffer.data(), size);
    }
    if (ok) {
      signatureLittleEndian.assign(buffer.data(), size);
    } else {
      result = impl_->Failed();
    }
  }
  if (hash != 0) store.DestroyHash(hash);
  store.ReleaseContainer(csp);
  return result;
}

KeyStoreResult KeyStore::Add(KeyStoreName store, std::string_view der) {
  HCERTSTORE handle = OpenSystemStore(store);
  if (handle == nullptr) return KeyStoreResult::CannotOpen;
  const BOOL added = ::CertAddEncodedCertificateToStore(
      handle, kEncoding, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()),
      CERT_STORE_ADD_NEW, nullptr);
  KeyStoreResult result = KeyStoreResult::Ok;
  if (!added) {
    result = static_cast<HRESULT>(::GetLastError()) == CRYPT_E_EXISTS
                 ? KeyStoreResult::AlreadyExists
                 : impl_->Failed();
  }
  ::CertCloseStore(handle, 0);
  return result;
}

KeyStoreResult KeyStore::Remove(std::string_view der) {
  PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
      kEncoding, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
  if (wanted == nullptr) return impl_->Failed();
  KeyStoreResult result = KeyStoreResult::Failed;
  impl_->lastError = static_cast<int>(CRYPT_E_NOT_FOUND);
  for (KeyStoreName name : {KeyStoreName::My, KeyStoreName::Root, KeyStoreName::CA}) {
    HCERTSTORE handle = OpenSystemStore(name);
    if (handle == nullptr) continue;
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(handle, kEncoding, 0, CERT_FIND_EXISTING, wanted, nullptr);
    // Deleting frees the context it is given.
    if (found != nullptr)
      result = ::CertDeleteCertificateFromStore(found) ? KeyStoreResult::Ok : impl_->Failed();
    ::CertCloseStore(handle, 0);
    if (found != nullptr) break;
  }
  ::CertFreeCertificateContext(wanted);
  return result;
}

int KeyStore::LastError() const {
  std::lock_guard guard(impl_->lock);
  return impl_->lastError;
}

std::string KeyStore::LastErrorText() const { return {}; }
std::string KeyStore::LastTokenName() const { return {}; }

void KeyStore::Shutdown() {
  std::map<uint64_t, PCCERT_CONTEXT> held;
  {
    std::lock_guard guard(impl_->lock);
    held.swap(impl_->handles);
  }
  for (auto& [handle, context] : held) ::CertFreeCertificateContext(context);
}

size_t KeyStore::HandleCount() const {
  std::lock_guard guard(impl_->lock);
  return impl_->handles.size();
}

namespace {

// The key-store operations of the CryptoAPI provider, one system call each.
class CryptoApiKeyStore final : public TOvWin32KeyStore {
 public:
  bool ReadKeyLocation(uint64_t certificate, TOvWin32KeyLocation& location) override {
    KeyStore::Instance();
    PCCERT_CONTEXT context = storeTable->Borrow(certificate);
    if (context == nullptr) return Fail(kNteBadUid);
    DWORD size = 0;
    bool ok =
        ::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) &&
        size >= sizeof(CRYPT_KEY_PROV_INFO);
    std::vector<BYTE> buffer(ok ? size : 0);
    ok = ok && ::CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID,
                                                   buffer.data(), &size);
    if (!ok) Fail();
    ::CertFreeCertificateContext(context);
    if (!ok) return false;
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    location.ContainerName = Text(info->pwszContainerName);
    location.CSPName = Text(info->pwszProvName);
    location.CSPType = info->dwProvType;
    location.Flags = info->dwFlags;
    // The provider knows the exchange (1) and the signature key (2). A
    // PKCS#12 import records 3 and keeps the key as the exchange key.
    location.KeySpec = info->dwKeySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;
    return true;
  }

  uint64_t OpenKeyContainer(const std::u16string& container, const std::u16string* cspName,
                            uint32_t cspType, uint32_t flags) override {
    const std::string name = WideToAnsi(container);
    const std::string csp = cspName != nullptr ? WideToAnsi(*cspName) : std::string();
    HCRYPTPROV handle = 0;
    if (!::CryptAcquireContextA(&handle, name.c_str(), cspName != nullptr ? csp.c_str() : nullptr,
                                cspType, flags))
      return Fail();
    return handle;
  }

  uint64_t OpenVerifyOnly(const std::string& cspName, uint32_t cspType) override {
    HCRYPTPROV handle = 0;
    if (!::CryptAcquireContextA(&handle, nullptr, cspName.empty() ? nullptr : cspName.c_str(),
                                cspType, CRYPT_VERIFYCONTEXT))
      return Fail();
    return handle;
  }

  std::vector<TOvWin32CSPAlgorithm> ListAlgorithms(uint64_t csp) override {
    std::vector<TOvWin32CSPAlgorithm> list;
    DWORD flags = CRYPT_FIRST;
    // A CSP knows a few dozen algorithms; the bound keeps a broken one finite.
    for (int i = 0; i < 1024; ++i) {
      PROV_ENUMALGS record{};
      DWORD size = sizeof record;
      if (!::CryptGetProvParam(static_cast<HCRYPTPROV>(csp), PP_ENUMALGS,
                               reinterpret_cast<BYTE*>(&record), &size, flags))
        break;
      flags = 0;
      const size_t length = std::min<size_t>(record.dwNameLen, sizeof record.szName);
      std::string name(record.szName, length);
      while (!name.empty() && name.back() == '\0') name.pop_back();
      list.push_back({record.aiAlgid, record.dwBitLen, name});
    }
    return list;
  }

  void AddRefContainer(uint64_t csp) override {
    ::CryptContextAddRef(static_cast<HCRYPTPROV>(csp), nullptr, 0);
  }
  void ReleaseContainer(uint64_t csp) override {
    ::CryptReleaseContext(static_cast<HCRYPTPROV>(csp), 0);
  }

  uint64_t GetUserKey(uint64_t csp, uint32_t keySpec) override {
    HCRYPTKEY key = 0;
    if (!::CryptGetUserKey(static_cast<HCRYPTPROV>(csp), keySpec, &key)) return Fail();
    return key;
  }

  uint32_t KeyBits(uint64_t key) override {
    DWORD bits = 0, size = sizeof bits;
    if (!::CryptGetKeyParam(static_cast<HCRYPTKEY>(key), KP_KEYLEN, reinterpret_cast<BYTE*>(&bits),
                            &size, 0))
      return static_cast<uint32_t>(Fail());
    return bits;
  }

  void DestroyKey(uint64_t key) override { ::CryptDestroyKey(static_cast<HCRYPTKEY>(key)); }

  uint64_t CreateHash(uint64_t csp, uint32_t hashId) override {
    HCRYPTHASH hash = 0;
    if (!::CryptCreateHash(static_cast<HCRYPTPROV>(csp), hashId, 0, 0, &hash)) return Fail();
    return hash;
  }

  bool SetHashValue(uint64_t hash, std::string_view digest) override {
    // The call reads as many bytes as the hash is long: a shorter digest would
    // be read past its end, so the lengths must agree first.
    DWORD expected = 0, size = sizeof expected;
    if (!::CryptGetHashParam(static_cast<HCRYPTHASH>(hash), HP_HASHSIZE,
                             reinterpret_cast<BYTE*>(&expected), &size, 0))
      return Fail();
    if (expected != digest.size()) return Fail(kNteBadLen);
    if (!::CryptSetHashParam(static_cast<HCRYPTHASH>(hash), HP_HASHVAL,
                             reinterpret_cast<const BYTE*>(digest.data()), 0))
      return Fail();
    return true;
  }

  bool SignHash(uint64_t hash, uint32_t keySpec, void* buffer, uint32_t& size) override {
    DWORD length = size;
    if (!::CryptSignHashA(static_cast<HCRYPTHASH>(hash), keySpec, nullptr, 0,
                          static_cast<BYTE*>(buffer), &length)) {
      size = length;
      return Fail();
    }
    size = length;
    return true;
  }

  // CryptSignHash pads with PKCS#1 v1.5 only; PSS needs CNG, which the store's
  // legacy CSPs do not offer. Refused in words rather than signed otherwise.
  bool SignHashPSS(uint64_t, uint32_t, void*, uint32_t& size) override {
    size = 0;
    Fail(kNteBadAlgid,
         "RSASSA-PSS is not available with the Windows certificate store: its CryptoAPI "
         "providers sign with PKCS#1 v1.5 only");
    return false;
  }

  void DestroyHash(uint64_t hash) override { ::CryptDestroyHash(static_cast<HCRYPTHASH>(hash)); }

  uint64_t DuplicateCertificate(uint64_t certificate) override {
    return KeyStore::Instance().DuplicateCertificate(certificate);
  }
  void FreeCertificate(uint64_t certificate) override {
    KeyStore::Instance().FreeCertificate(certificate);
  }

  bool SetParentWindow(uint64_t csp, uint64_t window) override {
    HWND handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
    if (!::CryptSetProvParam(static_cast<HCRYPTPROV>(csp), PP_CLIENT_HWND,
                             reinterpret_cast<const BYTE*>(&handle), 0))
      return Fail();
    return true;
  }

  int32_t LastError() override { return lastError; }
  std::string LastErrorText() override { return lastErrorText; }

  TOvWin32StoreResult ListStore(TOvWin32StoreName store,
                                std::vector<TOvWin32StoreCertificate>& certificates) override {
    std::vector<KeyStoreCertificate> listed;
    const KeyStoreResult result = KeyStore::Instance().List(NameOf(store), listed);
    certificates.clear();
    for (KeyStoreCertificate& c : listed)
      certificates.push_back({c.Handle, std::move(c.Der), std::move(c.Nickname)});
    return Outcome(result);
  }

  bool Encoded(uint64_t certificate, std::string& der) override {
    return KeyStore::Instance().Encoded(certificate, der);
  }

  TOvWin32StoreResult AddCertificate(TOvWin32StoreName store, std::string_view der) override {
    return Outcome(KeyStore::Instance().Add(NameOf(store), der));
  }

  TOvWin32StoreResult RemoveCertificate(std::string_view der) override {
    return Outcome(KeyStore::Instance().Remove(der));
  }

 private:
  static std::u16string Text(const wchar_t* text) {
    if (text == nullptr) return {};
    std::u16string result;
    // Names are short; the bound keeps a property without its end finite.
    for (size_t i = 0; i < 4096 && text[i] != L'\0'; ++i)
      result.push_back(static_cast<char16_t>(text[i]));
    return result;
  }

  static KeyStoreName NameOf(TOvWin32StoreName store) {
    switch (store) {
      case TOvWin32StoreName::Root:
        return KeyStoreName::Root;
      case TOvWin32StoreName::CA:
        return KeyStoreName::CA;
      default:
        return KeyStoreName::My;
    }
  }

  static TOvWin32StoreResult Outcome(KeyStoreResult result) {
    switch (result) {
      case KeyStoreResult::Ok:
        return TOvWin32StoreResult::Ok;
      case KeyStoreResult::CannotOpen:
        return TOvWin32StoreResult::CannotOpen;
      case KeyStoreResult::AlreadyExists:
        lastError = static_cast<int32_t>(CRYPT_E_EXISTS);
        return TOvWin32StoreResult::AlreadyExists;
      default:
        lastError = KeyStore::Instance().LastError();
        return TOvWin32StoreResult::Failed;
    }
  }
};

}  // namespace

corvane::TOvWin32KeyStore& ToolkitKeyStore() {
  static CryptoApiKeyStore* store = new CryptoApiKeyStore;  // outlives every provider
  return *store;
}

}  // namespace platform
