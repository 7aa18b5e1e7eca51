#include "cli/CertsCommand.h"

#include <cstdio>

#include "app/core/LowStuff.h"
#include "platform/KeyStore.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace tavra {

namespace {

std::string DateText(corvane::TDateTime value) {
  try {
    const corvane::TDateTimeParts p = corvane::DecodeDateTime(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second);
    return buf;
  } catch (const std::exception&) {
    return "?";
  }
}

// Names may hold anything; a tab or line break must not split the line.
std::string Field(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

std::string ChooseCertificateDatabase(const std::string& option) {
  return option.empty() ? platform::KeyStore::DefaultDatabaseDir() : option;
}

void PrintCertificates(const std::string& database, const std::string& store, std::ostream& out) {
  platform::KeyStore::Instance().SetDatabaseDir(database);
  corvane::TOvWinCertStorage storage;
  storage.SetSystemStores({store});
  for (int i = 0; i < storage.Count(); ++i) {
    corvane::TOvX509Certificate* c = storage.Certificates(i);
    if (c == nullptr) continue;
    out << Field(c->SubjectName().CommonName) << '\t' << Field(c->IssuerName().CommonName) << '\t'
        << SerialNumberText(c->SerialNumber()) << '\t' << DateText(c->ValidTo()) << '\t'
        << (c->KeyAlgorithmCanSign() && c->PrivateKeyExists() ? "can-sign" : "cannot-sign") << '\t'
        << (platform::KeyStore::Instance().HasPrivateKey(storage.ContextHandle(i)) ? "key"
                                                                                   : "no-key")
        << '\n';
  }
}

}  // namespace tavra
