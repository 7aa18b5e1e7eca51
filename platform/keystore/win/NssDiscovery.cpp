// On Windows the store is the current user's system store: there is no
// database to find, and the places of the Linux discovery do not exist.
#include "platform/keystore/NssDiscovery.h"

namespace platform {

namespace {

NssDatabase SystemStore(const NssDiscovery& how) {
  if (!how.Explicit.empty() && how.Log)
    how.Log(how.ExplicitWhere + " " + how.Explicit +
            " passed over: on Windows the system certificate store is used");
  NssDatabase database;
  database.Dir = "Windows system store (current user)";
  database.Where = "system";
  (how.Inspect ? how.Inspect : [](const std::string& dir, KeyStoreCounts& counts) {
    return KeyStore::Instance().Inspect(dir, counts);
  })(database.Spec, database.Counts);
  return database;
}

}  // namespace

NssDatabase DiscoverNssDatabase(const NssDiscovery& how) { return SystemStore(how); }

std::vector<NssDatabase> FindNssDatabases(const NssDiscovery& how) { return {SystemStore(how)}; }

std::vector<NssProfile> ReadProfilesIni(const std::string&, bool, const NssLog&) { return {}; }

}  // namespace platform
