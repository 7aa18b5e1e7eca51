// Store discovery against fake home folders holding databases made by certutil
// and pk12util: which database wins, that its certificate signs (openssl
// verifies), and that nothing in a profile changes.
#include "platform/keystore/NssDiscovery.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include <filesystem>
#include <optional>

#include "tests/fixtures/StoreFixture.h"
#include "tests/support/TestSupport.h"

namespace platform {
namespace {

using tavra_fixture::Store;
using tavra_test::Quote;
using tavra_test::RunCommand;
using tavra_test::ScratchDir;

using EnvGuard = tavra_test::ScopedEnv;

class PinPrompt : public KeyStorePasswordPrompt {
 public:
  std::optional<std::string> AskPassword(const std::string&, bool) override {
    return Store::Get().Pin();
  }
};

// A database in DIR ("sql" or "dbm" format) holding the fixture's .p12 files.
void MakeDatabase(const std::string& dir, const std::string& format,
                  const std::vector<std::string>& p12 = {}) {
  std::string command = "mkdir -p " + Quote(dir) + " && certutil -N -d " +
                        Quote(format + ":" + dir) + " --empty-password";
  for (const std::string& name : p12)
    command += " && pk12util -i " + Quote(Store::Get().File(name + ".p12")) + " -d " +
               Quote(format + ":" + dir) + " -W tavra >/dev/null";
  int status = 0;
  RunCommand(command, &status);
  ASSERT_EQ(status, 0) << command;
}

// A checksum line per file below DIR, and the names of every entry.
std::string Checksums(const std::string& dir) {
  return RunCommand("cd " + Quote(dir) + " && find . | sort && find . -type f | sort | " +
                    "xargs -r sha256sum");
}

class NssDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    for (const char* tool : {"certutil", "pk12util", "modutil", "openssl"})
      TAVRA_REQUIRE_TOOL(tool);
    KeyStore::Instance().Shutdown();
    KeyStore::Instance().SetDatabaseDir("");
  }
  void TearDown() override {
    for (auto& c : listed_) KeyStore::Instance().FreeCertificate(c.Handle);
    listed_.clear();
    KeyStore::Instance().SetPasswordPrompt(nullptr);
    KeyStore::Instance().Shutdown();
    KeyStore::Instance().SetDatabaseDir("");
  }

  NssDatabase Discover(const std::string& explicitDir = {}) {
    NssDiscovery how;
    how.Explicit = explicitDir;
    how.Log = [this](const std::string& line) { log_ += line + "\n"; };
    return DiscoverNssDatabase(how);
  }

  // Writes a file under the home folder, making its folders.
  void Put(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(home_ / relative).parent_path());
    home_.Write(relative, text);
  }

  std::string Profile(const std::string& root, const std::string& name) const {
    return home_.Path() + "/" + root + "/" + name;
  }

  // Lists My of the database and signs a SHA-256 digest with the named
  // certificate; true when openssl verifies the signature with the fixture's
  // certificate of that name.
  bool SignsAndVerifies(const NssDatabase& db, const std::string& subjectCn,
                        const std::string& fixtureName) {
    KeyStore& ks = KeyStore::Instance();
    ks.SetDatabaseDir(db.Spec);
    ks.SetPasswordPrompt(&prompt_);
    for (auto& c : listed_) ks.FreeCertificate(c.Handle);
    if (ks.List(KeyStoreName::My, listed_) != KeyStoreResult::Ok) return false;
    KeyStoreCertHandle handle = 0;
    for (auto& c : listed_)
      if (c.Der == Store::Get().Der(fixtureName)) handle = c.Handle;
    if (handle == 0) {
      ADD_FAILURE() << subjectCn << " not listed in " << db.Spec;
      return false;
    }
    const std::string digest(32, '\x5a');
    std::string little;
    if (ks.SignDigest(handle, 0x800C, digest, little) != KeyStoreResult::Ok) return false;
    const std::string signature(little.rbegin(), little.rend());
    ScratchDir dir;
    dir.Write("digest", digest);
    dir.Write("sig", signature);
    int status = 0;
    const std::string out =
        RunCommand("openssl x509 -in " + Quote(Store::Get().File(fixtureName + ".crt")) +
                       " -pubkey -noout > " + Quote(dir / "pub.pem") +
                       " && openssl pkeyutl -verify -pubin -inkey " + Quote(dir / "pub.pem") +
                       " -in " + Quote(dir / "digest") + " -sigfile " + Quote(dir / "sig") +
                       " -pkeyopt digest:sha256 2>&1",
                   &status);
    return status == 0 && out.find("Signature Verified Successfully") != std::string::npos;
  }

  ScratchDir home_;
  EnvGuard homeEnv_{"HOME", home_.Path().c_str()};
  EnvGuard nssdbEnv_{"TAVRA_NSSDB", nullptr};
  std::string log_;
  PinPrompt prompt_;
  std::vector<KeyStoreCertificate> listed_;
};

TEST(ProfilesIniTest, DefaultProfileOfTheFile) {
  ScratchDir dir;
  std::string log;
  const NssLog record = [&log](const std::string& line) { log += line + "\n"; };
  // The install's choice wins over Default=1; relative paths are under the file's folder.
  dir.Write("profiles.ini",
            "\xEF\xBB\xBF[Profile1]\r\nName=old\r\nIsRelative=1\r\nPath=old.default\r\n"
            "Default=1\r\n\r\n[Profile0]\nName=new\nIsRelative=0\nPath=/abs/new\n\n"
            "; comment\n[Install4F96D1932A9F858E]\nDefault=/abs/new\nLocked=1\n"
            "[General]\nStartWithLastProfile=1\n");
  std::vector<NssProfile> p = ReadProfilesIni(dir / "profiles.ini", false, record);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].Folder, "/abs/new");
  EXPECT_EQ(p[1].Folder, dir / "old.default");
  EXPECT_EQ(log, "");

  // Without an install section, Default=1; with all, every profile once.
  dir.Write("profiles.ini",
            "[Profile0]\nIsRelative=1\nPath=a\n[Profile1]\nIsRelative=1\nPath=b\nDefault=1\n");
  p = ReadProfilesIni(dir / "profiles.ini", false, record);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].Folder, dir / "b");
  p = ReadProfilesIni(dir / "profiles.ini", true, record);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[1].Folder, dir / "a");

  // Malformed: nothing, and a line in the log.
  for (const char* text : {"Path=x\n[Profile0]\n", "[Profile0\nPath=x\n", "[Profile0]\njunk\n"}) {
    log.clear();
    dir.Write("profiles.ini", text);
    EXPECT_TRUE(ReadProfilesIni(dir / "profiles.ini", false, record).empty()) << text;
    EXPECT_NE(log.find("malformed line"), std::string::npos) << text;
  }
  EXPECT_TRUE(ReadProfilesIni(dir / "missing.ini", false, record).empty());
}

TEST_F(NssDiscoveryTest, OrderOfThePlaces) {
  // An empty ~/.pki/nssdb does not hide the Firefox profile's certificate.
  MakeDatabase(home_ / ".pki/nssdb", "sql");
  MakeDatabase(Profile(".mozilla/firefox", "x1.default-release"), "sql", {"rsa2048"});
  MakeDatabase(Profile(".mozilla/firefox", "x0.default"), "sql", {"rsa3072"});
  Put(".mozilla/firefox/profiles.ini",
      "[Profile1]\nName=default-release\nIsRelative=1\nPath=x1.default-release\n"
      "[Profile0]\nName=default\nIsRelative=1\nPath=x0.default\nDefault=1\n"
      "[InstallABC]\nDefault=x1.default-release\nLocked=1\n");
  MakeDatabase(Profile(".thunderbird", "t.default"), "sql", {"rsa4096"});
  Put(".thunderbird/profiles.ini", "[Profile0]\nIsRelative=1\nPath=t.default\nDefault=1\n");

  NssDatabase db = Discover();
  EXPECT_EQ(db.Dir, Profile(".mozilla/firefox", "x1.default-release"));
  EXPECT_EQ(db.Spec, "sql:" + db.Dir);
  EXPECT_EQ(db.Where, "Firefox");
  EXPECT_EQ(db.Counts.WithKey, 1u);
  EXPECT_TRUE(SignsAndVerifies(db, "User RSA 2048", "rsa2048"));
  KeyStore::Instance().Shutdown();

  // A key in ~/.pki/nssdb puts it first.
  MakeDatabase(home_ / "pki-key", "sql", {"czech"});
  std::filesystem::remove_all(home_ / ".pki/nssdb");
  std::filesystem::rename(home_ / "pki-key", home_ / ".pki/nssdb");
  db = Discover();
  EXPECT_EQ(db.Dir, home_ / ".pki/nssdb");
  EXPECT_EQ(db.Where, "~/.pki/nssdb");

  // TAVRA_NSSDB over that, the named folder over everything; taken as they are.
  {
    EnvGuard env("TAVRA_NSSDB", "/nonexistent/env");
    EXPECT_EQ(Discover().Dir, "/nonexistent/env");
    EXPECT_EQ(Discover("/nonexistent/named").Dir, "/nonexistent/named");
  }

  // Every database, each once, counted; the default profile of each file first.
  NssDiscovery how;
  how.Explicit = Profile(".mozilla/firefox", "x0.default");
  how.Log = [this](const std::string& line) { log_ += line + "\n"; };
  const std::vector<NssDatabase> all = FindNssDatabases(how);
  ASSERT_EQ(all.size(), 4u) << log_;
  EXPECT_EQ(all[0].Where, "--nssdb");
  EXPECT_EQ(all[1].Where, "~/.pki/nssdb");
  EXPECT_EQ(all[2].Dir, Profile(".mozilla/firefox", "x1.default-release"));
  EXPECT_EQ(all[3].Where, "Thunderbird");
  EXPECT_EQ(all[3].Counts.WithKey, 1u);
  // The fixture's CA comes in with each .p12 as a certificate without a key.
  EXPECT_GE(all[3].Counts.Certificates, all[3].Counts.WithKey);
  EXPECT_EQ(log_, "");
}

TEST_F(NssDiscoveryTest, SnapFlatpakAndThunderbirdOnlyHomes) {
  MakeDatabase(Profile("snap/firefox/common/.mozilla/firefox", "s.default"), "sql", {"rsa2048"});
  Put("snap/firefox/common/.mozilla/firefox/profiles.ini",
      "[Profile0]\nIsRelative=1\nPath=s.default\nDefault=1\n");
  NssDatabase db = Discover();
  EXPECT_EQ(db.Where, "Firefox (Snap)");
  EXPECT_EQ(db.Dir, Profile("snap/firefox/common/.mozilla/firefox", "s.default"));

  // Flatpak comes after Snap; with Snap gone, it is found.
  std::filesystem::remove_all(home_ / "snap");
  const std::string flatpak = ".var/app/org.mozilla.firefox/.mozilla/firefox";
  MakeDatabase(Profile(flatpak, "f.default"), "sql", {"rsa3072"});
  Put(flatpak + "/profiles.ini", "[Profile0]\nIsRelative=1\nPath=f.default\nDefault=1\n");
  db = Discover();
  EXPECT_EQ(db.Where, "Firefox (Flatpak)");
  EXPECT_TRUE(SignsAndVerifies(db, "User RSA 3072", "rsa3072"));
  KeyStore::Instance().Shutdown();

  // Thunderbird only, with the legacy database format, by an absolute path.
  std::filesystem::remove_all(home_ / ".var");
  const std::string legacy = home_ / "mail-profile";
  MakeDatabase(legacy, "dbm", {"rsa2048"});
  Put(".thunderbird/profiles.ini", "[Profile0]\nIsRelative=0\nPath=" + legacy + "\nDefault=1\n");
  const std::string before = Checksums(legacy);
  db = Discover();
  EXPECT_EQ(db.Where, "Thunderbird");
  EXPECT_EQ(db.Spec, "dbm:" + legacy);
  EXPECT_TRUE(SignsAndVerifies(db, "User RSA 2048", "rsa2048"));
  KeyStore::Instance().Shutdown();
  EXPECT_EQ(Checksums(legacy), before);
}

TEST_F(NssDiscoveryTest, BadPlacesAreSkippedAndNothingIsCreated) {
  // A valid database outside the home folder that a profile points at.
  ScratchDir elsewhere;
  MakeDatabase(elsewhere / "p", "sql", {"rsa2048"});
  Put(".mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=x\nDefault\n");
  Put("snap/firefox/common/.mozilla/firefox/profiles.ini",
      "[InstallX]\nDefault=gone.default\n[Profile0]\nIsRelative=0\nPath=" + (elsewhere / "p") +
          "\nDefault=1\n");
  // A symbolic link inside the home folder to the outside is outside too.
  const std::string flatpak = home_ / ".var/app/org.mozilla.firefox/.mozilla/firefox";
  std::filesystem::create_directories(flatpak);
  std::filesystem::create_directory_symlink(elsewhere / "p", flatpak + "/link");
  home_.MakeDir(".var/app/org.mozilla.firefox/.mozilla/firefox/empty.default");
  Put(".var/app/org.mozilla.firefox/.mozilla/firefox/profiles.ini",
      "[Profile0]\nIsRelative=1\nPath=link\nDefault=1\n"
      "[Profile1]\nIsRelative=1\nPath=../firefox/empty.default\nDefault=1\n");
  Put(".thunderbird/bad.default/cert9.db", "not a database");
  Put(".thunderbird/bad.default/key4.db", "not a database");
  Put(".thunderbird/profiles.ini", "[Profile0]\nIsRelative=1\nPath=bad.default\nDefault=1\n");
  const std::string before = Checksums(home_.Path()) + Checksums(elsewhere.Path());

  const NssDatabase db = Discover();
  EXPECT_EQ(db.Dir, home_ / ".pki/nssdb");
  EXPECT_EQ(db.Where, "~/.pki/nssdb");
  for (const std::string& line :
       {std::string("/.mozilla/firefox/profiles.ini skipped: malformed line 4"),
        "Firefox (Snap) profile " +
            Profile("snap/firefox/common/.mozilla/firefox", "gone.default") +
            " skipped: no such folder",
        "Firefox (Snap) profile " + (elsewhere / "p") + " skipped: it is outside the home folder",
        "Firefox (Flatpak) profile " + flatpak + "/link skipped: it is outside the home folder",
        "Firefox (Flatpak) profile " + flatpak + "/empty.default skipped: it holds no certificate",
        "Thunderbird database sql:" + Profile(".thunderbird", "bad.default") +
            " skipped: it cannot be opened"})
    EXPECT_NE(log_.find(line), std::string::npos) << line << "\nin:\n" << log_;

  // Listing the fallback finds nothing and creates nothing.
  KeyStore::Instance().SetDatabaseDir(db.Spec);
  EXPECT_EQ(KeyStore::Instance().List(KeyStoreName::My, listed_), KeyStoreResult::Ok);
  EXPECT_TRUE(listed_.empty());
  KeyStore::Instance().Shutdown();
  EXPECT_EQ(Checksums(home_.Path()) + Checksums(elsewhere.Path()), before);
  EXPECT_FALSE(std::filesystem::exists(home_ / ".pki"));

  // An empty ~/.pki/nssdb folder is an empty store too, and stays empty.
  home_.MakeDir(".pki/nssdb");
  KeyStore::Instance().SetDatabaseDir(home_ / ".pki/nssdb");
  EXPECT_EQ(KeyStore::Instance().List(KeyStoreName::My, listed_), KeyStoreResult::Ok);
  EXPECT_TRUE(tavra_test::ListDir(home_ / ".pki/nssdb").empty());
}

TEST_F(NssDiscoveryTest, ReadsBesideARunningFirefox) {
  TAVRA_REQUIRE_TOOL("sqlite3");
  const std::string profile = Profile(".mozilla/firefox", "run.default");
  MakeDatabase(profile, "sql", {"rsa2048"});
  Put(".mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=run.default\nDefault=1\n");
  const std::string before = Checksums(profile);

  // Firefox holds both databases open, here in the middle of a write
  // transaction (a reserved lock on each).
  const std::string ready = home_ / "ready";
  FILE* firefox =
      ::popen(("cd " + Quote(profile) + " && sqlite3 cert9.db > " + Quote(ready)).c_str(), "w");
  ASSERT_NE(firefox, nullptr);
  struct Close {
    FILE* pipe;
    ~Close() {
      std::fputs(".quit\n", pipe);
      ::pclose(pipe);
    }
  } closeFirefox{firefox};
  std::fputs("ATTACH 'key4.db' AS k;\nBEGIN IMMEDIATE;\nSELECT 'held';\n", firefox);
  std::fflush(firefox);
  for (int i = 0; i < 200 && tavra_test::ReadFile(ready).find("held") == std::string::npos; ++i)
    ::usleep(50 * 1000);
  ASSERT_NE(tavra_test::ReadFile(ready).find("held"), std::string::npos);

  const NssDatabase db = Discover();
  EXPECT_EQ(db.Dir, profile) << log_;
  EXPECT_TRUE(SignsAndVerifies(db, "User RSA 2048", "rsa2048"));
  EXPECT_EQ(Checksums(profile), before);
  // With our database still open, Firefox can still commit: nothing of ours
  // locks the profile.
  std::fputs("CREATE TABLE k.probe(x);\nCOMMIT;\nSELECT 'committed';\n", firefox);
  std::fflush(firefox);
  for (int i = 0; i < 200 && tavra_test::ReadFile(ready).find("committed") == std::string::npos;
       ++i)
    ::usleep(50 * 1000);
  EXPECT_EQ(RunCommand("sqlite3 " + Quote(profile + "/key4.db") +
                       " \"SELECT count(*) FROM sqlite_master WHERE name='probe'\""),
            "1\n");
  KeyStore::Instance().Shutdown();
}

TEST_F(NssDiscoveryTest, TokenOfTheProfilesModuleListSignsAndTheProfileStaysAsItWas) {
  TAVRA_REQUIRE_TOOL("softhsm2-util");
  // A profile whose own database holds nothing but registers the SoftHSM
  // module, as Firefox's security devices dialog would.
  const std::string profile = Profile(".mozilla/firefox", "card.default");
  MakeDatabase(profile, "sql");
  int status = 0;
  RunCommand("modutil -dbdir " + Quote("sql:" + profile) +
                 " -add SoftHSM -libfile /usr/lib/softhsm/libsofthsm2.so -force >/dev/null",
             &status);
  ASSERT_EQ(status, 0);
  ASSERT_NE(tavra_test::ReadFile(profile + "/pkcs11.txt").find("libsofthsm2"), std::string::npos);
  Put(".mozilla/firefox/profiles.ini", "[Profile0]\nIsRelative=1\nPath=card.default\nDefault=1\n");
  const std::string before = Checksums(profile);

  const NssDatabase db = Discover();
  EXPECT_EQ(db.Dir, profile);
  EXPECT_EQ(db.Counts.WithKey, 1u) << "the token's certificate";
  EXPECT_TRUE(SignsAndVerifies(db, "Card User", "card"));
  KeyStore::Instance().Shutdown();
  EXPECT_EQ(Checksums(profile), before);
}

}  // namespace
}  // namespace platform
