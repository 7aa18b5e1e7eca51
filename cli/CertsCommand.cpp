#include "cli/CertsCommand.h"

#include <cstdio>

#include "app/core/LowStuff.h"
#include "platform/keystore/KeyStore.h"
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

namespace {

platform::NssDiscovery Discovery(const std::string& option, std::vector<std::string>& log) {
  platform::NssDiscovery how;
  how.Explicit = option;
  how.Log = [&log](const std::string& line) { log.push_back(line); };
  return how;
}

bool FromProfile(const platform::NssDatabase& database) {
  return database.Where.rfind("Firefox", 0) == 0 || database.Where.rfind("Thunderbird", 0) == 0;
}

}  // namespace

platform::NssDatabase ChooseCertificateDatabase(const std::string& option,
                                                std::vector<std::string>& log) {
  return platform::DiscoverNssDatabase(Discovery(option, log));
}

std::string DatabaseLine(const platform::NssDatabase& database) {
  std::string line = "certificate database ";
  line += database.Spec.rfind("dbm:", 0) == 0 ? database.Spec : database.Dir;
  if (FromProfile(database)) line += " (" + database.Where + ")";
  return line;
}

void PrintStores(const std::string& option, const platform::NssDatabase& chosen, std::ostream& out,
                 std::vector<std::string>& log) {
  const std::vector<platform::NssDatabase> found =
      platform::FindNssDatabases(Discovery(option, log));
  for (const platform::NssDatabase& db : found) {
    out << (db.Spec == chosen.Spec ? "*" : "-") << '\t' << Field(db.Spec) << '\t' << db.Where
        << '\t' << db.Counts.Certificates << '\t' << db.Counts.WithKey << '\n';
  }
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
