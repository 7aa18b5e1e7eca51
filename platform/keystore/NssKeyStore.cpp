// The key store on NSS. Everything NSS-specific stays in this file.
#include <cert.h>
#include <certdb.h>
#include <keyhi.h>
#include <nss.h>
#include <pk11pub.h>
#include <prerror.h>
#include <pwd.h>
#include <secerr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/keystore/KeyStore.h"
#include "toolkit/common/CvScope.h"

namespace platform {
namespace {

// CERT_LIST_END without the macro's C-style casts.
bool ListEnd(const CERTCertListNode* node, const CERTCertList* list) {
  return static_cast<const void*>(node) == static_cast<const void*>(&list->list);
}

constexpr uint32_t HASH_MD2 = 0x8001;
constexpr uint32_t HASH_MD5 = 0x8003;
constexpr uint32_t HASH_SHA1 = 0x8004;
constexpr uint32_t HASH_SSL3 = 0x8008;
constexpr uint32_t HASH_SHA256 = 0x800C;
constexpr uint32_t HASH_SHA384 = 0x800D;
constexpr uint32_t HASH_SHA512 = 0x800E;

// DER of DigestInfo up to the digest octets (RFC 8017, 9.2 note 1).
struct DigestInfoPrefix {
  uint32_t HashId;
  size_t DigestSize;
  std::string_view Prefix;
};

using namespace std::string_view_literals;
constexpr DigestInfoPrefix kPrefixes[] = {
    {HASH_MD2, 16, "\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x02\x05\x00\x04\x10"sv},
    {HASH_MD5, 16, "\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05\x05\x00\x04\x10"sv},
    {HASH_SHA1, 20, "\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14"sv},
    {HASH_SHA256, 32,
     "\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20"sv},
    {HASH_SHA384, 48,
     "\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30"sv},
    {HASH_SHA512, 64,
     "\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40"sv},
    // The SSL3 hash is signed bare, as CryptoAPI does.
    {HASH_SSL3, 36, ""sv},
};

// The PKCS#11 hash and MGF1 of RSASSA-PSS for a hash id.
struct PssHash {
  uint32_t HashId;
  CK_MECHANISM_TYPE Hash;
  CK_RSA_PKCS_MGF_TYPE Mgf;
};
constexpr PssHash kPssHashes[] = {
    {HASH_SHA1, CKM_SHA_1, CKG_MGF1_SHA1},
    {HASH_SHA256, CKM_SHA256, CKG_MGF1_SHA256},
    {HASH_SHA384, CKM_SHA384, CKG_MGF1_SHA384},
    {HASH_SHA512, CKM_SHA512, CKG_MGF1_SHA512},
};

SECItem ItemOf(std::string_view bytes) {
  SECItem item{};
  item.type = siBuffer;
  item.data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
  item.len = static_cast<unsigned int>(bytes.size());
  return item;
}

std::string BytesOf(const SECItem& item) {
  return item.data != nullptr ? std::string(reinterpret_cast<const char*>(item.data), item.len)
                              : std::string();
}

bool IsTrustedCA(CERTCertificate* cert) {
  CERTCertTrust trust{};
  if (CERT_GetCertTrust(cert, &trust) != SECSuccess) return false;
  const unsigned flags = trust.sslFlags | trust.emailFlags | trust.objectSigningFlags;
  return (flags & CERTDB_TRUSTED_CA) != 0;
}

struct CertListDeleter {
  void operator()(CERTCertList* list) const { CERT_DestroyCertList(list); }
};
struct CertDeleter {
  void operator()(CERTCertificate* cert) const { CERT_DestroyCertificate(cert); }
};
struct PrivateKeyDeleter {
  void operator()(SECKEYPrivateKey* key) const { SECKEY_DestroyPrivateKey(key); }
};
struct PublicKeyDeleter {
  void operator()(SECKEYPublicKey* key) const { SECKEY_DestroyPublicKey(key); }
};
struct SlotDeleter {
  void operator()(PK11SlotInfo* slot) const { PK11_FreeSlot(slot); }
};

}  // namespace

struct KeyStore::Impl {
  enum class Mode { Closed, ReadOnly, ReadWrite };

  mutable std::recursive_mutex Lock;
  std::string Dir;  // empty: the default
  std::string OpenDir;
  Mode OpenMode = Mode::Closed;
  std::map<KeyStoreCertHandle, CERTCertificate*> Handles;
  KeyStoreCertHandle NextHandle = 1;
  KeyStorePasswordPrompt* Prompt = nullptr;
  int LastError = 0;
  bool ExitHookSet = false;

  // What the password callback saw during one signing, and the token it was for.
  bool PasswordAsked = false;
  bool PasswordCancelled = false;
  bool PasswordRefused = false;
  std::string Token;

  static char* PasswordCallback(PK11SlotInfo* slot, PRBool retry, void* arg);

  void StartSigning(PK11SlotInfo* slot) {
    LastError = 0;
    PORT_SetError(0);  // a code left by earlier work must not be read as this failure's
    PasswordAsked = PasswordCancelled = PasswordRefused = false;
    Token = TokenName(slot);
  }

  static std::string TokenName(PK11SlotInfo* slot) {
    const char* name = slot != nullptr ? PK11_GetTokenName(slot) : nullptr;
    return name != nullptr ? name : "";
  }

  // Why a signing failed, from what the prompt saw and the error NSS left
  // (it maps the token's PKCS#11 results to these codes). `otherwise` when
  // neither names a cause.
  KeyStoreResult FailureOf(PK11SlotInfo* slot, KeyStoreResult otherwise) {
    LastError = PORT_GetError();
    if (PasswordCancelled) return KeyStoreResult::PasswordCancelled;
    if (PasswordRefused || LastError == SEC_ERROR_BAD_PASSWORD)
      return KeyStoreResult::WrongPassword;
    // No login took place, so no password was given.
    if (LastError == SEC_ERROR_TOKEN_NOT_LOGGED_IN) return KeyStoreResult::PasswordCancelled;
    if (LastError == SEC_ERROR_NO_TOKEN || (slot != nullptr && !PK11_IsPresent(slot)))
      return KeyStoreResult::TokenRemoved;
    if (LastError == SEC_ERROR_NO_KEY) return KeyStoreResult::NoPrivateKey;
    if (LastError == SEC_ERROR_INVALID_ALGORITHM) return KeyStoreResult::MechanismUnsupported;
    return otherwise;
  }

  std::string EffectiveDir() const { return Dir.empty() ? DefaultDatabaseDir() : Dir; }

  void Close() {
    for (auto& [handle, cert] : Handles) CERT_DestroyCertificate(cert);
    Handles.clear();
    if (OpenMode != Mode::Closed) {
      NSS_Shutdown();
      OpenMode = Mode::Closed;
      OpenDir.clear();
    }
  }

  // Opens the database in the mode (read-write satisfies nothing but itself:
  // reads never run on a writable database). Missing folder, or one without
  // database files when reading: *missing = true.
  KeyStoreResult Open(Mode mode, bool* missing) { return OpenAt(EffectiveDir(), mode, missing); }

  KeyStoreResult OpenAt(const std::string& dir, Mode mode, bool* missing) {
    if (missing != nullptr) *missing = false;
    if (OpenMode == mode && OpenDir == dir) return KeyStoreResult::Ok;
    const std::string folder = DatabaseFolder(dir);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
      if (missing != nullptr) *missing = true;
      return KeyStoreResult::CannotOpen;
    }
    if (!S_ISDIR(st.st_mode)) return KeyStoreResult::CannotOpen;
    // Reading never creates a database where there is none.
    if (mode == Mode::ReadOnly && !HoldsDatabase(folder)) {
      if (missing != nullptr) *missing = true;
      return KeyStoreResult::CannotOpen;
    }
    if (OpenMode != Mode::Closed) {
      if (!Handles.empty()) return KeyStoreResult::Busy;
      Close();
    }
    const std::string config = DatabaseSpec(dir);
    // No NSS_INIT_NOMODDB: the security devices the database's module list
    // registers (smart cards) are loaded with it.
    PRUint32 flags = NSS_INIT_NOROOTINIT;
    if (mode == Mode::ReadOnly) flags |= NSS_INIT_READONLY;
    if (NSS_Initialize(config.c_str(), "", "", SECMOD_DB, flags) != SECSuccess) {
      LastError = PORT_GetError();
      return KeyStoreResult::CannotOpen;
    }
    PK11_SetPasswordFunc(&Impl::PasswordCallback);
    OpenMode = mode;
    OpenDir = dir;
    if (!ExitHookSet) {
      ExitHookSet = true;
      std::atexit([] { KeyStore::Instance().Shutdown(); });
    }
    return KeyStoreResult::Ok;
  }

  // Write operations: read-write, with no certificate held, closed again
  // afterwards so that the next read opens read-only.
  KeyStoreResult OpenForWriting() {
    if (!Handles.empty()) return KeyStoreResult::Busy;
    return Open(Mode::ReadWrite, nullptr);
  }

  CERTCertificate* Find(KeyStoreCertHandle handle) const {
    auto it = Handles.find(handle);
    return it != Handles.end() ? it->second : nullptr;
  }

  KeyStoreCertHandle Keep(CERTCertificate* cert) {
    const KeyStoreCertHandle handle = NextHandle++;
    Handles.emplace(handle, cert);
    return handle;
  }
};

// NSS calls this with the context given to the key lookup. Listing passes
// none, so it never reaches the prompt. A retry gets nothing: NSS would
// otherwise ask again and again with the same refused answer.
char* KeyStore::Impl::PasswordCallback(PK11SlotInfo* slot, PRBool retry, void* arg) {
  auto* self = static_cast<KeyStore::Impl*>(arg);
  if (self == nullptr) return nullptr;
  try {
    self->Token = TokenName(slot);
    // One question per signing: NSS may start a second login after a refusal.
    if (retry || self->PasswordAsked) {
      if (!self->PasswordCancelled) self->PasswordRefused = true;
      return nullptr;
    }
    self->PasswordAsked = true;
    std::optional<std::string> answer =
        self->Prompt != nullptr ? self->Prompt->AskPassword(self->Token, false) : std::nullopt;
    if (!answer) {
      self->PasswordCancelled = true;
      return nullptr;
    }
    return PORT_Strdup(answer->c_str());
  } catch (...) {
    // Nothing may unwind through NSS; a prompt that fails gave no answer.
    self->PasswordCancelled = true;
    return nullptr;
  }
}

KeyStore::KeyStore() : impl_(new Impl) {}

KeyStore& KeyStore::Instance() {
  static KeyStore* instance = new KeyStore;  // never destroyed, see the header
  return *instance;
}

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string KeyStore::DatabaseFolder(const std::string& dir) {
  return StartsWith(dir, "sql:") || StartsWith(dir, "dbm:") ? dir.substr(4) : dir;
}

bool KeyStore::HoldsDatabase(const std::string& dir) {
  const std::string folder = DatabaseFolder(dir);
  return IsFile(folder + "/cert9.db") || IsFile(folder + "/cert8.db");
}

std::string KeyStore::DatabaseSpec(const std::string& dir) {
  if (StartsWith(dir, "sql:") || StartsWith(dir, "dbm:")) return dir;
  // The new format wins when both are present: NSS keeps the old files after
  // moving their contents over.
  if (!IsFile(dir + "/cert9.db") && IsFile(dir + "/cert8.db")) return "dbm:" + dir;
  return "sql:" + dir;
}

std::string KeyStore::DefaultDatabaseDir() {
  const char* env = std::getenv("TAVRA_NSSDB");
  if (env != nullptr && *env != '\0') return env;
  const char* home = std::getenv("HOME");
  std::string base;
  if (home != nullptr && *home != '\0') {
    base = home;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    base = pw->pw_dir;
  }
  return base + "/.pki/nssdb";
}

void KeyStore::SetDatabaseDir(const std::string& dir) {
  std::lock_guard guard(impl_->Lock);
  impl_->Dir = dir;
}

std::string KeyStore::DatabaseDir() const {
  std::lock_guard guard(impl_->Lock);
  return impl_->EffectiveDir();
}

void KeyStore::SetPasswordPrompt(KeyStorePasswordPrompt* prompt) {
  std::lock_guard guard(impl_->Lock);
  impl_->Prompt = prompt;
}

KeyStoreResult KeyStore::List(KeyStoreName store, std::vector<KeyStoreCertificate>& certificates) {
  std::lock_guard guard(impl_->Lock);
  certificates.clear();
  bool missing = false;
  const KeyStoreResult opened = impl_->Open(Impl::Mode::ReadOnly, &missing);
  if (missing) return KeyStoreResult::Ok;  // no database: an empty store
  if (opened != KeyStoreResult::Ok) return opened;

  const PK11CertListType type =
      store == KeyStoreName::My ? PK11CertListUserUnique : PK11CertListUnique;
  std::unique_ptr<CERTCertList, CertListDeleter> list(PK11_ListCerts(type, nullptr));
  if (!list) return KeyStoreResult::Ok;

  std::vector<CERTCertificate*> chosen;
  for (CERTCertListNode* node = CERT_LIST_HEAD(list.get()); !ListEnd(node, list.get());
       node = CERT_LIST_NEXT(node)) {
    CERTCertificate* cert = node->cert;
    bool take = false;
    switch (store) {
      case KeyStoreName::My:
        take = CERT_IsUserCert(cert);
        break;
      case KeyStoreName::Root:
        take = IsTrustedCA(cert);
        break;
      case KeyStoreName::CA:
        take = !IsTrustedCA(cert) && !CERT_IsUserCert(cert) && CERT_IsCACert(cert, nullptr);
        break;
    }
    if (take) chosen.push_back(cert);
  }
  // NSS lists in hash order; users and tests need the same order every time.
  std::sort(chosen.begin(), chosen.end(), [](CERTCertificate* a, CERTCertificate* b) {
    const std::string_view na = a->nickname != nullptr ? a->nickname : "";
    const std::string_view nb = b->nickname != nullptr ? b->nickname : "";
    if (na != nb) return na < nb;
    return BytesOf(a->derCert) < BytesOf(b->derCert);
  });
  for (CERTCertificate* cert : chosen) {
    KeyStoreCertificate entry;
    entry.Der = BytesOf(cert->derCert);
    entry.Nickname = cert->nickname != nullptr ? cert->nickname : "";
    entry.Handle = impl_->Keep(CERT_DupCertificate(cert));
    certificates.push_back(std::move(entry));
  }
  return KeyStoreResult::Ok;
}

KeyStoreResult KeyStore::Inspect(const std::string& dir, KeyStoreCounts& counts) {
  std::lock_guard guard(impl_->Lock);
  counts = {};
  impl_->LastError = 0;
  const KeyStoreResult opened = impl_->OpenAt(dir, Impl::Mode::ReadOnly, nullptr);
  if (opened != KeyStoreResult::Ok) return opened;
  std::unique_ptr<CERTCertList, CertListDeleter> all(PK11_ListCerts(PK11CertListUnique, nullptr));
  if (all) {
    for (CERTCertListNode* node = CERT_LIST_HEAD(all.get()); !ListEnd(node, all.get());
         node = CERT_LIST_NEXT(node)) {
      ++counts.Certificates;
      if (CERT_IsUserCert(node->cert)) ++counts.WithKey;
    }
  }
  return KeyStoreResult::Ok;
}

KeyStoreCertHandle KeyStore::DuplicateCertificate(KeyStoreCertHandle handle) {
  std::lock_guard guard(impl_->Lock);
  CERTCertificate* cert = impl_->Find(handle);
  return cert != nullptr ? impl_->Keep(CERT_DupCertificate(cert)) : 0;
}

void KeyStore::FreeCertificate(KeyStoreCertHandle handle) {
  std::lock_guard guard(impl_->Lock);
  auto it = impl_->Handles.find(handle);
  if (it == impl_->Handles.end()) return;
  CERT_DestroyCertificate(it->second);
  impl_->Handles.erase(it);
}

bool KeyStore::Encoded(KeyStoreCertHandle handle, std::string& der) {
  std::lock_guard guard(impl_->Lock);
  CERTCertificate* cert = impl_->Find(handle);
  if (cert == nullptr) return false;
  der = BytesOf(cert->derCert);
  return true;
}

bool KeyStore::HasPrivateKey(KeyStoreCertHandle handle) {
  std::lock_guard guard(impl_->Lock);
  CERTCertificate* cert = impl_->Find(handle);
  return cert != nullptr && CERT_IsUserCert(cert);
}

KeyStoreKeyType KeyStore::KeyType(KeyStoreCertHandle handle) {
  std::lock_guard guard(impl_->Lock);
  CERTCertificate* cert = impl_->Find(handle);
  if (cert == nullptr || !CERT_IsUserCert(cert)) return KeyStoreKeyType::None;
  std::unique_ptr<SECKEYPublicKey, PublicKeyDeleter> key(CERT_ExtractPublicKey(cert));
  if (!key) return KeyStoreKeyType::Other;
  switch (key->keyType) {
    case rsaKey:
      return KeyStoreKeyType::RSA;
    case ecKey:
      return KeyStoreKeyType::EC;
    default:
      return KeyStoreKeyType::Other;
  }
}

uint32_t KeyStore::KeyBits(KeyStoreCertHandle handle) {
  std::lock_guard guard(impl_->Lock);
  CERTCertificate* cert = impl_->Find(handle);
  if (cert == nullptr) return 0;
  std::unique_ptr<SECKEYPublicKey, PublicKeyDeleter> key(CERT_ExtractPublicKey(cert));
  return key ? SECKEY_PublicKeyStrengthInBits(key.get()) : 0;
}

KeyStoreResult KeyStore::SignDigest(KeyStoreCertHandle handle, uint32_t hashId,
                                    std::string_view digest, std::string& signatureLittleEndian,
                                    KeyStorePadding padding) {
  std::lock_guard guard(impl_->Lock);
  signatureLittleEndian.clear();
  impl_->LastError = 0;
  impl_->Token.clear();
  CERTCertificate* cert = impl_->Find(handle);
  if (cert == nullptr) return KeyStoreResult::UnknownHandle;

  const DigestInfoPrefix* prefix = nullptr;
  for (const auto& p : kPrefixes)
    if (p.HashId == hashId) prefix = &p;
  if (prefix == nullptr || digest.size() != prefix->DigestSize)
    return KeyStoreResult::UnsupportedHash;
  const PssHash* pss = nullptr;
  if (padding == KeyStorePadding::PSS) {
    for (const auto& p : kPssHashes)
      if (p.HashId == hashId) pss = &p;
    if (pss == nullptr) return KeyStoreResult::UnsupportedHash;
  }

  impl_->StartSigning(cert->slot);
  std::unique_ptr<SECKEYPrivateKey, PrivateKeyDeleter> key(PK11_FindKeyByAnyCert(cert, impl_));
  if (!key) return impl_->FailureOf(cert->slot, KeyStoreResult::NoPrivateKey);
  PK11SlotInfo* slot = key->pkcs11Slot;
  impl_->Token = Impl::TokenName(slot);

  // What the token is given: the DigestInfo for PKCS#1 v1.5, the bare digest
  // for PSS and ECDSA (PKCS#11 CKM_RSA_PKCS_PSS and CKM_ECDSA take the hash).
  std::string toSign;
  CK_MECHANISM_TYPE mechanism = CKM_RSA_PKCS;
  CK_RSA_PKCS_PSS_PARAMS pssParams{};
  SECItem params{};
  SECItem* mechanismParams = nullptr;
  switch (SECKEY_GetPrivateKeyType(key.get())) {
    case rsaKey:
      if (pss != nullptr) {
        mechanism = CKM_RSA_PKCS_PSS;
        pssParams.hashAlg = pss->Hash;
        pssParams.mgf = pss->Mgf;
        pssParams.sLen = digest.size();
        params.type = siBuffer;
        params.data = reinterpret_cast<unsigned char*>(&pssParams);
        params.len = sizeof pssParams;
        mechanismParams = &params;
        toSign = std::string(digest);
      } else {
        toSign = std::string(prefix->Prefix) + std::string(digest);
      }
      break;
    case ecKey:
      if (padding != KeyStorePadding::PKCS1) return KeyStoreResult::UnsupportedKey;
      mechanism = CKM_ECDSA;
      toSign = std::string(digest);
      break;
    default:
      return KeyStoreResult::UnsupportedKey;
  }

  const int length = PK11_SignatureLen(key.get());
  if (length <= 0) return impl_->FailureOf(slot, KeyStoreResult::Failed);
  std::string signature(static_cast<size_t>(length), '\0');
  SECItem out = ItemOf(signature);
  SECItem in = ItemOf(toSign);
  if (PK11_SignWithMechanism(key.get(), mechanism, mechanismParams, &out, &in) != SECSuccess)
    return impl_->FailureOf(slot, KeyStoreResult::Failed);
  signature.resize(out.len);
  // CryptoAPI hands signatures out little-endian; the provider above expects that.
  signatureLittleEndian.assign(signature.rbegin(), signature.rend());
  return KeyStoreResult::Ok;
}

KeyStoreResult KeyStore::Add(KeyStoreName store, std::string_view der) {
  std::lock_guard guard(impl_->Lock);
  impl_->LastError = 0;
  const KeyStoreResult opened = impl_->OpenForWriting();
  if (opened != KeyStoreResult::Ok) return opened;
  // Whatever happens, the database is not left writable.
  const corvane::TCvScopeExit closeAfter([this] { impl_->Close(); });

  SECItem item = ItemOf(der);
  {
    std::unique_ptr<CERTCertificate, CertDeleter> existing(
        CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &item));
    if (existing && existing->isperm) return KeyStoreResult::AlreadyExists;
  }
  std::unique_ptr<CERTCertificate, CertDeleter> temp(
      CERT_NewTempCertificate(CERT_GetDefaultCertDB(), &item, nullptr, PR_FALSE, PR_TRUE));
  if (!temp) {
    impl_->LastError = PORT_GetError();
    return KeyStoreResult::Failed;
  }
  std::string nickname;
  if (char* cn = CERT_GetCommonName(&temp->subject); cn != nullptr) {
    nickname = cn;
    PORT_Free(cn);
  }
  if (nickname.empty()) nickname = "Certificate";
  // Distinct certificates of one subject need distinct nicknames in NSS.
  static const char* hex = "0123456789ABCDEF";
  nickname += " #";
  for (unsigned i = 0; i < temp->serialNumber.len && i < 16; ++i) {
    nickname += hex[temp->serialNumber.data[i] >> 4];
    nickname += hex[temp->serialNumber.data[i] & 15];
  }

  std::unique_ptr<PK11SlotInfo, SlotDeleter> slot(PK11_GetInternalKeySlot());
  if (!slot || PK11_ImportCert(slot.get(), temp.get(), CK_INVALID_HANDLE, nickname.c_str(),
                               PR_FALSE) != SECSuccess) {
    impl_->LastError = PORT_GetError();
    return KeyStoreResult::Failed;
  }
  CERTCertTrust trust{};
  CERT_DecodeTrustString(&trust, store == KeyStoreName::Root ? "CT,C,C" : ",,");
  std::unique_ptr<CERTCertificate, CertDeleter> stored(
      CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &item));
  if (!stored ||
      CERT_ChangeCertTrust(CERT_GetDefaultCertDB(), stored.get(), &trust) != SECSuccess) {
    impl_->LastError = PORT_GetError();
    return KeyStoreResult::Failed;
  }
  return KeyStoreResult::Ok;
}

KeyStoreResult KeyStore::Remove(std::string_view der) {
  std::lock_guard guard(impl_->Lock);
  impl_->LastError = 0;
  const KeyStoreResult opened = impl_->OpenForWriting();
  if (opened != KeyStoreResult::Ok) return opened;
  // Whatever happens, the database is not left writable.
  const corvane::TCvScopeExit closeAfter([this] { impl_->Close(); });
  SECItem item = ItemOf(der);
  CERTCertificate* cert = CERT_FindCertByDERCert(CERT_GetDefaultCertDB(), &item);
  if (cert == nullptr) {
    impl_->LastError = PORT_GetError();
    return KeyStoreResult::Failed;
  }
  const SECStatus deleted = SEC_DeletePermCertificate(cert);
  if (deleted != SECSuccess) impl_->LastError = PORT_GetError();
  CERT_DestroyCertificate(cert);
  return deleted == SECSuccess ? KeyStoreResult::Ok : KeyStoreResult::Failed;
}

int KeyStore::LastError() const {
  std::lock_guard guard(impl_->Lock);
  return impl_->LastError;
}

std::string KeyStore::LastErrorText() const {
  std::lock_guard guard(impl_->Lock);
  if (impl_->LastError == 0) return {};
  const char* text = PR_ErrorToString(impl_->LastError, PR_LANGUAGE_I_DEFAULT);
  // NSS answers codes it has no table for with "Unknown code ...".
  if (text == nullptr || std::string_view(text).starts_with("Unknown code")) return {};
  return text;
}

std::string KeyStore::LastTokenName() const {
  std::lock_guard guard(impl_->Lock);
  return impl_->Token;
}

void KeyStore::Shutdown() {
  std::lock_guard guard(impl_->Lock);
  impl_->Close();
}

size_t KeyStore::HandleCount() const {
  std::lock_guard guard(impl_->Lock);
  return impl_->Handles.size();
}

}  // namespace platform
