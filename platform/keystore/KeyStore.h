// The user's certificate and key store (an NSS "sql:" database and the tokens
// of its PKCS#11 modules), seen through the few operations the signer needs.
// No NSS type appears here: certificates are numbered handles into a table the
// store keeps, so a stale or forged handle is refused instead of dereferenced.
#pragma once

#ifndef TAVRA_KEYSTORE_LINKED
#error "The key store is the application's: link tavra_keystore (no toolkit target does)"
#endif

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Supplied by the application. Called only when signing needs a token or
// database password, never while listing.
class KeyStorePasswordPrompt {
 public:
  virtual ~KeyStorePasswordPrompt() = default;
  // tokenName is UTF-8. retry is true when the store refused the previous
  // answer. Nothing means cancel.
  virtual std::optional<std::string> AskPassword(const std::string& tokenName, bool retry) = 0;
};

// 0 is never a valid handle.
using KeyStoreCertHandle = uint64_t;

enum class KeyStoreName { My, Root, CA };

enum class KeyStoreKeyType { None, RSA, EC, Other };

// How an RSA key signs a digest; EC keys always sign with ECDSA.
enum class KeyStorePadding {
  PKCS1,  // PKCS#1 v1.5 over the DigestInfo
  PSS,    // RSASSA-PSS: MGF1 with the digest's hash, a salt as long as the digest
};

enum class KeyStoreResult {
  Ok,
  CannotOpen,            // not a database, or it cannot be opened in the needed mode
  Busy,                  // certificates are still held and the database must be re-opened
  UnknownHandle,         // the handle was freed or never existed
  NoPrivateKey,          // the store holds no key for the certificate
  UnsupportedKey,        // a key the store cannot sign digests with here (DSA), or the
                         // padding does not fit the key (PSS with an EC key)
  UnsupportedHash,       // hash id without a DigestInfo, or digest of the wrong length
  WrongPassword,         // the token or database refused the password or PIN
  PasswordCancelled,     // the prompt gave no answer (cancelled, none set, or it failed)
  TokenRemoved,          // the token that holds the key is no longer there
  MechanismUnsupported,  // the token cannot make signatures of that kind with the key
  AlreadyExists,         // adding a certificate that is in the database already
  Failed,                // anything else; LastError tells the store's code
};

// What a database holds, counted without logging in to any token.
struct KeyStoreCounts {
  size_t Certificates = 0;  // every certificate, the tokens' too
  size_t WithKey = 0;       // those whose private key the database or a token holds
};

struct KeyStoreCertificate {
  KeyStoreCertHandle Handle = 0;  // owned by the caller: release with FreeCertificate
  std::string Der;
  std::string Nickname;
};

class KeyStore {
 public:
  // The process-wide store. It is never destroyed: handles freed late in
  // shutdown are simply unknown by then.
  static KeyStore& Instance();

  // TAVRA_NSSDB when set, else ~/.pki/nssdb.
  static std::string DefaultDatabaseDir();

  // How NSS is told to open the database in DIR: "sql:DIR" when it holds
  // cert9.db, "dbm:DIR" for the legacy cert8.db, else "sql:DIR". A DIR that
  // already starts with "sql:" or "dbm:" is taken as it is.
  static std::string DatabaseSpec(const std::string& dir);

  // The folder part of a DIR that may start with "sql:" or "dbm:".
  static std::string DatabaseFolder(const std::string& dir);

  // Whether DIR holds a database file of either format.
  static bool HoldsDatabase(const std::string& dir);

  // The database used from the next opening on; empty means the default.
  void SetDatabaseDir(const std::string& dir);
  std::string DatabaseDir() const;

  // Not owned; nullptr removes it (signing that needs a password then fails).
  void SetPasswordPrompt(KeyStorePasswordPrompt* prompt);

  // Lists one store in a fixed order. A missing database folder, or one
  // without database files, is an empty store; a folder whose database NSS
  // refuses cannot be opened.
  KeyStoreResult List(KeyStoreName store, std::vector<KeyStoreCertificate>& certificates);

  // Opens the database in DIR read-only (it becomes the open one, so no
  // handle may be held: Busy otherwise) and counts what it holds. A folder
  // without a database cannot be opened. Nothing in DIR is created or changed.
  KeyStoreResult Inspect(const std::string& dir, KeyStoreCounts& counts);

  KeyStoreCertHandle DuplicateCertificate(KeyStoreCertHandle handle);
  void FreeCertificate(KeyStoreCertHandle handle);
  bool Encoded(KeyStoreCertHandle handle, std::string& der);

  // Decided from what the database recorded when the certificate was
  // stored: no token is logged in and no password asked.
  bool HasPrivateKey(KeyStoreCertHandle handle);
  KeyStoreKeyType KeyType(KeyStoreCertHandle handle);
  // Size of the certificate's public key in bits, 0 when unknown.
  uint32_t KeyBits(KeyStoreCertHandle handle);

  // Signs a digest with the certificate's private key. RSA: PKCS#1 v1.5 over
  // the DigestInfo for the hash id (CryptoAPI ids: 0x8001 MD2, 0x8003 MD5,
  // 0x8004 SHA-1, 0x800C/D/E SHA-256/384/512; 0x8008 the 36-byte MD5+SHA-1
  // without DigestInfo), or RSASSA-PSS (SHA-1 and SHA-2 only). EC: ECDSA over
  // the digest, r and s each as long as the curve's order, r first. The
  // signature comes back little-endian as a whole.
  KeyStoreResult SignDigest(KeyStoreCertHandle handle, uint32_t hashId, std::string_view digest,
                            std::string& signatureLittleEndian,
                            KeyStorePadding padding = KeyStorePadding::PKCS1);

  // Write operations open the database read-write, which needs every handle
  // to be freed first (Busy otherwise). Add puts the certificate (without a
  // key) into the database with the trust of the store; Remove deletes the
  // certificate with these encoded bytes.
  KeyStoreResult Add(KeyStoreName store, std::string_view der);
  KeyStoreResult Remove(std::string_view der);

  // The store's code of the last failure (0 when none).
  int LastError() const;
  // What the store says about that code, in English; empty when it has no text.
  std::string LastErrorText() const;
  // The token the last signing used (UTF-8; empty when it never reached one).
  std::string LastTokenName() const;

  // Frees every handle and closes the database.
  void Shutdown();

  // Number of handles held (tests and the write operations use it).
  size_t HandleCount() const;

  struct Impl;

 private:
  KeyStore();
  Impl* impl_;
};

}  // namespace platform
