// Certificate storages: an ordered set of certificates answering index-based
// questions. TOvMemoryCertStorage holds copies; the system store view is in
// CvWinCertStorage.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/common/CvSharedResource.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvX509Certificate;
class TOvCustomCryptoProviderManager;

enum TCvCertStorageOption : uint32_t { csoStrictChainBuilding = 1 };

enum TCvCertificateValidity { cvOk, cvSelfSigned, cvInvalid, cvStorageError, cvChainUnvalidated };

// Reasons of a validation (a set of these bits).
inline constexpr uint16_t vrRevoked = 2;
inline constexpr uint16_t vrNotYetValid = 4;
inline constexpr uint16_t vrExpired = 8;
inline constexpr uint16_t vrBadSignature = 0x10;
inline constexpr uint16_t vrIssuerNotFound = 0x20;

// Where storages report what they leave out; the default writes to standard
// error. Tests and applications may replace it.
using TOvCertStorageLog = std::function<void(const std::string& line)>;
void SetCertStorageLog(TOvCertStorageLog log);
void CertStorageLog(const std::string& line);

class TOvCustomCertStorage {
 public:
  TOvCustomCertStorage();
  virtual ~TOvCustomCertStorage();
  TOvCustomCertStorage(const TOvCustomCertStorage&) = delete;
  TOvCustomCertStorage& operator=(const TOvCustomCertStorage&) = delete;

  uint32_t Options() const { return options_; }
  void SetOptions(uint32_t value) { options_ = value; }
  bool Changed() const { return changed_; }
  void SetChanged(bool value) { changed_ = value; }
  // Not owned; passed to the certificates the storage creates.
  TOvCustomCryptoProviderManager* CryptoProviderManager() const { return manager_; }
  void SetCryptoProviderManager(TOvCustomCryptoProviderManager* value) { manager_ = value; }

  virtual int Count();
  // The storage keeps ownership; nullptr outside 0 .. Count-1.
  virtual TOvX509Certificate* Certificates(int index);
  virtual TCvCertificateValidity Validate(TOvX509Certificate& certificate, uint16_t& reasons,
                                          TDateTime moment);
  virtual TCvCertificateValidity ValidateAt(TOvX509Certificate& certificate, uint16_t& reasons,
                                            TDateTime moment, bool checkIssuerDates);
  virtual void Add(TOvX509Certificate& certificate, bool copyPrivateKey);
  virtual void Remove(int index);
  virtual void ExportTo(TOvCustomCertStorage& storage);
  virtual int IndexOf(const TOvX509Certificate& certificate);
  virtual void Clear();
  virtual int IndexOfIssuer(const TOvX509Certificate& certificate);
  virtual int Reserved() { return 0; }
  virtual void ImportFrom(const std::vector<TOvX509Certificate*>& list);
  virtual void ImportFrom(const std::vector<TOvX509Certificate*>& list, bool includeFirst);

  bool Contains(const TOvX509Certificate& certificate);
  int IndexOfFingerprint(const ByteString& sha1);

  // Is issuer the issuer of subject (names, and key identifiers when strict)?
  bool IsIssuerOf(const TOvX509Certificate& issuer, const TOvX509Certificate& subject) const;

 protected:
  TOvSharedResource& Lock() { return lock_; }

 private:
  uint32_t options_ = csoStrictChainBuilding;
  bool changed_ = true;
  TOvCustomCryptoProviderManager* manager_ = nullptr;
  TOvSharedResource lock_;
};

class TOvMemoryCertStorage : public TOvCustomCertStorage {
 public:
  TOvMemoryCertStorage();
  ~TOvMemoryCertStorage() override;

  int Count() override;
  TOvX509Certificate* Certificates(int index) override;
  // Appends a clone; the caller keeps its certificate.
  void Add(TOvX509Certificate& certificate, bool copyPrivateKey) override;
  void Remove(int index) override;

 private:
  std::vector<std::unique_ptr<TOvX509Certificate>> list_;
};

}  // namespace corvane
