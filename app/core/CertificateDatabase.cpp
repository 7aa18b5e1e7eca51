#include "app/core/CertificateDatabase.h"

#include "app/core/RKSIni.h"
#include "platform/keystore/KeyStore.h"
#include "platform/keystore/ToolkitKeyStore.h"

namespace tavra {

std::string ReadNssDbSetting(const std::string& iniPath) {
  TRKSIniFile ini(iniPath.empty() ? SettingsFilePath() : iniPath);
  return ini.ReadString("options", "nssdb", "");
}

platform::NssDatabase UseCertificateDatabase(std::vector<std::string>& log,
                                             const std::string& iniPath) {
  platform::NssDiscovery how;
  how.Explicit = ReadNssDbSetting(iniPath);
  how.ExplicitWhere = "settings";
  how.Log = [&log](const std::string& line) { log.push_back(line); };
  platform::NssDatabase chosen = platform::DiscoverNssDatabase(how);
  platform::KeyStore::Instance().SetDatabaseDir(chosen.Spec);
  return chosen;
}

void InstallKeyStore() { corvane::SetWin32KeyStore(&platform::ToolkitKeyStore()); }

}  // namespace tavra
