// The database the signer's windows use: the settings key over discovery.
#include "app/core/CertificateDatabase.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/keystore/KeyStore.h"
#include "tests/support/TestSupport.h"

namespace {

using tavra_test::ScratchDir;

TEST(CertificateDatabaseTest, SettingsKeyOverDiscovery) {
  ScratchDir home;
  const std::string oldHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  const char* oldNssdb = std::getenv("TAVRA_NSSDB");
  const std::string savedNssdb = oldNssdb != nullptr ? oldNssdb : "";
  struct Restore {
    std::string home, nssdb;
    bool hadNssdb;
    ~Restore() {
      ::setenv("HOME", home.c_str(), 1);
      if (hadNssdb)
        ::setenv("TAVRA_NSSDB", nssdb.c_str(), 1);
      else
        ::unsetenv("TAVRA_NSSDB");
      platform::KeyStore::Instance().SetDatabaseDir("");
    }
  } restore{oldHome, savedNssdb, oldNssdb != nullptr};
  ::setenv("HOME", home.Path().c_str(), 1);
  ::unsetenv("TAVRA_NSSDB");

  // Existing settings files have no key: discovery decides.
  const std::string ini = home.Write("tavrapdfsg.ini", "[options]\nsigtype=1\n");
  std::vector<std::string> log;
  platform::NssDatabase db = tavra::UseCertificateDatabase(log, ini);
  EXPECT_EQ(db.Dir, home / ".pki/nssdb");
  EXPECT_EQ(platform::KeyStore::Instance().DatabaseDir(), "sql:" + (home / ".pki/nssdb"));

  home.Write("tavrapdfsg.ini", "[options]\nsigtype=1\nnssdb=" + (home / "mine") + "\n");
  ::setenv("TAVRA_NSSDB", (home / "env").c_str(), 1);
  db = tavra::UseCertificateDatabase(log, ini);
  EXPECT_EQ(db.Dir, home / "mine");
  EXPECT_EQ(db.Where, "settings");
  EXPECT_EQ(platform::KeyStore::Instance().DatabaseDir(), "sql:" + (home / "mine"));
  EXPECT_TRUE(log.empty());
  // Reading the key leaves the settings file as it was.
  EXPECT_EQ(tavra_test::ReadFile(ini), "[options]\nsigtype=1\nnssdb=" + (home / "mine") + "\n");
}

}  // namespace
