#include "toolkit/pki/CvCustomCertStorage.h"

#include <iostream>
#include <mutex>

#include "toolkit/pki/CvX509.h"

namespace corvane {

namespace {

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

TOvCertStorageLog& LogSink() {
  static TOvCertStorageLog sink;
  return sink;
}

}  // namespace

void SetCertStorageLog(TOvCertStorageLog log) {
  std::lock_guard guard(LogLock());
  LogSink() = std::move(log);
}

void CertStorageLog(const std::string& line) {
  std::lock_guard guard(LogLock());
  if (LogSink())
    LogSink()(line);
  else
    std::cerr << line << '\n';
}

// ---------------------------------------------------------------------------

TOvCustomCertStorage::TOvCustomCertStorage() = default;
TOvCustomCertStorage::~TOvCustomCertStorage() = default;

int TOvCustomCertStorage::Count() { return 0; }
TOvX509Certificate* TOvCustomCertStorage::Certificates(int) { return nullptr; }

TCvCertificateValidity TOvCustomCertStorage::Validate(TOvX509Certificate& certificate,
                                                      uint16_t& reasons, TDateTime moment) {
  return ValidateAt(certificate, reasons, moment, false);
}

TCvCertificateValidity TOvCustomCertStorage::ValidateAt(TOvX509Certificate& certificate,
                                                        uint16_t& reasons, TDateTime moment,
                                                        bool checkIssuerDates) {
  reasons = vrIssuerNotFound;
  try {
    if (moment == 0) moment = NowUTC();
    TCvCertificateValidity result = cvOk;
    if (certificate.ValidFrom() > moment) {
      reasons |= vrNotYetValid;
      result = cvInvalid;
    }
    if (moment > certificate.ValidTo()) {
      reasons |= vrExpired;
      result = cvInvalid;
    }
    if (certificate.IsSelfIssued()) {
      reasons &= static_cast<uint16_t>(~vrIssuerNotFound);
      if (certificate.IsSelfSigned()) return result == cvInvalid ? cvInvalid : cvSelfSigned;
      reasons |= vrBadSignature;
      result = cvInvalid;
    }
    TOvReadLock guard(lock_);
    const int count = Count();
    for (int i = 0; i < count; ++i) {
      TOvX509Certificate* c = Certificates(i);
      if (c == nullptr) continue;
      if (checkIssuerDates) {
        if (moment < c->ValidFrom()) {
          reasons |= vrNotYetValid;
          result = cvInvalid;
        }
        if (moment > c->ValidTo()) {
          reasons |= vrExpired;
          result = cvInvalid;
        }
      }
      if (IsIssuerOf(*c, certificate)) {
        if (certificate.ValidateWithIssuer(*c)) {
          reasons &= static_cast<uint16_t>(~(vrBadSignature | vrIssuerNotFound));
          return result;
        }
        reasons |= vrBadSignature;
        result = cvInvalid;
      } else if (c->CertificateBinary() == certificate.CertificateBinary()) {
        reasons &= static_cast<uint16_t>(~(vrBadSignature | vrIssuerNotFound));
        return result;
      }
    }
    return (reasons & vrIssuerNotFound) != 0 ? cvInvalid : result;
  } catch (const std::exception&) {
    return cvStorageError;
  }
}

void TOvCustomCertStorage::Add(TOvX509Certificate&, bool) { changed_ = true; }
void TOvCustomCertStorage::Remove(int) {}

void TOvCustomCertStorage::ExportTo(TOvCustomCertStorage& storage) {
  const int count = Count();
  for (int i = 0; i < count; ++i)
    if (TOvX509Certificate* c = Certificates(i)) storage.Add(*c, true);
}

int TOvCustomCertStorage::IndexOf(const TOvX509Certificate& certificate) {
  TOvReadLock guard(lock_);
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TOvX509Certificate* c = Certificates(i);
    if (c != nullptr && c->CertificateBinary() == certificate.CertificateBinary()) return i;
  }
  return -1;
}

void TOvCustomCertStorage::Clear() {
  // Bounded by the count at the start: a storage that cannot remove does not loop.
  for (int n = Count(); n > 0 && Count() > 0; --n) Remove(0);
  changed_ = true;
}

int TOvCustomCertStorage::IndexOfIssuer(const TOvX509Certificate& certificate) {
  TOvReadLock guard(lock_);
  const ByteString md5 = certificate.FingerprintMD5();
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TOvX509Certificate* c = Certificates(i);
    if (c != nullptr && IsIssuerOf(*c, certificate) && c->FingerprintMD5() != md5) return i;
  }
  return -1;
}

void TOvCustomCertStorage::ImportFrom(const std::vector<TOvX509Certificate*>& list) {
  ImportFrom(list, true);
}

void TOvCustomCertStorage::ImportFrom(const std::vector<TOvX509Certificate*>& list,
                                      bool includeFirst) {
  for (size_t i = includeFirst ? 0 : 1; i < list.size(); ++i)
    if (list[i] != nullptr && !Contains(*list[i])) Add(*list[i], true);
}

bool TOvCustomCertStorage::Contains(const TOvX509Certificate& certificate) {
  TOvReadLock guard(lock_);
  const ByteString sha1 = certificate.FingerprintSHA1();
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TOvX509Certificate* c = Certificates(i);
    if (c != nullptr && c->FingerprintSHA1() == sha1 &&
        TOvX509Certificate::SameCertificate(*c, certificate))
      return true;
  }
  return false;
}

int TOvCustomCertStorage::IndexOfFingerprint(const ByteString& sha1) {
  TOvReadLock guard(lock_);
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    TOvX509Certificate* c = Certificates(i);
    if (c != nullptr && c->FingerprintSHA1() == sha1) return i;
  }
  return -1;
}

bool TOvCustomCertStorage::IsIssuerOf(const TOvX509Certificate& issuer,
                                      const TOvX509Certificate& subject) const {
  const TOvRelativeDistinguishedName& names = issuer.SubjectRDN();
  const TOvRelativeDistinguishedName& wanted = subject.IssuerRDN();
  if (names.Count() != wanted.Count()) return false;
  for (int i = 0; i < wanted.Count(); ++i) {
    bool found = false;
    for (int j = 0; j < names.Count() && !found; ++j)
      found = names.Types(j) == wanted.Types(i) && names.Values(j) == wanted.Values(i);
    if (!found) return false;
  }
  if ((options_ & csoStrictChainBuilding) != 0) {
    const ByteString& ski = issuer.Extensions().SubjectKeyIdentifier().KeyIdentifier;
    const ByteString& aki = subject.Extensions().AuthorityKeyIdentifier().KeyIdentifier;
    if (!ski.empty() && !aki.empty() && ski != aki) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

TOvMemoryCertStorage::TOvMemoryCertStorage() = default;

TOvMemoryCertStorage::~TOvMemoryCertStorage() {
  TOvWriteLock guard(Lock());
  list_.clear();
}

int TOvMemoryCertStorage::Count() { return static_cast<int>(list_.size()); }

TOvX509Certificate* TOvMemoryCertStorage::Certificates(int index) {
  TOvReadLock guard(Lock());
  if (index < 0 || index >= static_cast<int>(list_.size())) return nullptr;
  return list_[static_cast<size_t>(index)].get();
}

void TOvMemoryCertStorage::Add(TOvX509Certificate& certificate, bool copyPrivateKey) {
  TOvWriteLock guard(Lock());
  SetChanged(true);
  auto copy = std::make_unique<TOvX509Certificate>();
  copy->SetCryptoProviderManager(CryptoProviderManager());
  certificate.Clone(copy.get(), copyPrivateKey);
  list_.push_back(std::move(copy));
}

void TOvMemoryCertStorage::Remove(int index) {
  TOvWriteLock guard(Lock());
  if (index >= 0 && index < static_cast<int>(list_.size())) list_.erase(list_.begin() + index);
  SetChanged(true);
}

}  // namespace corvane
