// Certificate storages over the fixture database.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/ScriptedPrompt.h"
#include "tests/fixtures/StoreFixture.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {
namespace {

using tavra_fixture::Quote;
using tavra_fixture::RunTool;
using tavra_fixture::ScratchDir;
using tavra_fixture::Store;

template <class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

class CertStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    tavra_fixture::ReopenKeyStore(Store::Get().Db(), &prompt_);
    SetCertStorageLog([this](const std::string& line) { log_.push_back(line); });
  }
  void TearDown() override {
    SetCertStorageLog(nullptr);
    platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }

  static std::unique_ptr<TOvX509Certificate> FromFile(const std::string& name) {
    auto cert = std::make_unique<TOvX509Certificate>();
    cert->LoadFromBytes(Store::Get().Der(name));
    return cert;
  }

  tavra_fixture::ScriptedPrompt prompt_;  // answers nothing
  std::vector<std::string> log_;
};

TEST_F(CertStorageTest, MyListsTheStoreAndLeavesOutWhatCannotBeParsed) {
  const std::string before = Store::Get().DatabaseChecksums();
  TOvWinCertStorage storage;
  storage.SetSystemStores({"My"});
  EXPECT_EQ(storage.OpenFlags(), 0x10000u);
  std::set<std::string> expected;
  for (const char* n :
       {"card", "czech", "ec", "expired", "highserial", "rsa2048", "rsa3072", "rsa4096"})
    expected.insert(Store::Get().Der(n));
  std::set<std::string> listed;
  ASSERT_EQ(storage.Count(), 8);
  for (int i = 0; i < storage.Count(); ++i) {
    TOvX509Certificate* c = storage.Certificates(i);
    ASSERT_NE(c, nullptr);
    listed.insert(std::string(c->CertificateBinary()));
    EXPECT_EQ(c->StorageName(), "My");
    EXPECT_TRUE(c->FromStorage());
    // EC keys too: the store signs with them.
    EXPECT_TRUE(c->PrivateKeyExists()) << c->SubjectName().CommonName;
  }
  EXPECT_EQ(listed, expected);
  // The certificate with an unknown critical extension is out, and said so.
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_NE(log_[0].find("oddext"), std::string::npos) << log_[0];
  EXPECT_EQ(storage.Certificates(storage.Count()), nullptr);
  EXPECT_EQ(storage.Certificates(0), storage.Certificates(0));
  EXPECT_EQ(prompt_.Calls, 0);  // listing and key checks never log in
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(CertStorageTest, StoreNamesThatCannotBeOpened) {
  TOvWinCertStorage storage;
  EXPECT_EQ(MessageOf([&] { storage.SetSystemStores({"AddressBook"}); }), "Failed to open storage");
  EXPECT_EQ(storage.Count(), 0);
  storage.SetSystemStores({"Bogus", "ROOT"});
  ASSERT_EQ(storage.Count(), 1);
  EXPECT_EQ(storage.Certificates(0)->StorageName(), "ROOT");
  storage.SetSystemStores({"CA"});
  ASSERT_EQ(storage.Count(), 1);
  EXPECT_EQ(storage.Certificates(0)->SubjectName().CommonName, "Tavra Test Intermediate");

  ScratchDir dir;
  std::ofstream(dir.File("cert9.db"), std::ios::binary) << "not a database";
  platform::KeyStore::Instance().SetDatabaseDir(dir.Path());
  storage.Close();
  EXPECT_THROW(storage.SetSystemStores({"My"}), EOvCertStorageError);
  EXPECT_EQ(storage.Count(), 0);
}

TEST_F(CertStorageTest, MemoryCopySignsWithTheStoreKey) {
  TOvWinCertStorage store;
  store.SetSystemStores({"My"});
  TOvX509Certificate* original = nullptr;
  for (int i = 0; i < store.Count(); ++i)
    if (store.Certificates(i)->SubjectName().CommonName == "Jan Čáp")
      original = store.Certificates(i);
  ASSERT_NE(original, nullptr);

  TOvMemoryCertStorage memory;
  memory.Add(*original, true);
  memory.Add(*original, false);
  ASSERT_EQ(memory.Count(), 2);
  EXPECT_TRUE(memory.Certificates(0)->PrivateKeyExists());
  EXPECT_FALSE(memory.Certificates(1)->PrivateKeyExists());
  EXPECT_EQ(memory.IndexOf(*original), 0);
  EXPECT_TRUE(memory.Contains(*original));

  // The copy reaches the store's key: the signature verifies with openssl.
  const std::string digest = RunTool("printf 'memory' | openssl dgst -sha256 -binary");
  TOvRSAPublicKeyCrypto crypto;
  crypto.SetKeyMaterial(memory.Certificates(0)->KeyMaterial());
  crypto.SetInputIsHash(true);
  crypto.SetHashAlgorithm(ALG_SHA256);
  const ByteString signature = crypto.SignDetached(digest);
  ScratchDir dir;
  std::ofstream(dir.File("digest"), std::ios::binary) << digest;
  std::ofstream(dir.File("sig"), std::ios::binary) << signature;
  int status = 0;
  RunTool("openssl x509 -in " + Quote(Store::Get().File("czech.crt")) + " -pubkey -noout > " +
              Quote(dir.File("pub.pem")) + " && openssl pkeyutl -verify -pubin -inkey " +
              Quote(dir.File("pub.pem")) + " -in " + Quote(dir.File("digest")) + " -sigfile " +
              Quote(dir.File("sig")) + " -pkeyopt digest:sha256",
          &status);
  EXPECT_EQ(status, 0);

  memory.Clear();
  EXPECT_EQ(memory.Count(), 0);
}

TEST_F(CertStorageTest, AddAndRemoveChangeTheDatabase) {
  ScratchDir dir;
  platform::KeyStore::Instance().SetDatabaseDir(Store::Get().CopyDatabase(dir.File("db")));
  TOvWinCertStorage storage;
  storage.SetSystemStores({"ROOT"});
  ASSERT_EQ(storage.Count(), 1);
  auto outside = FromFile("outside");
  storage.Add(*outside, false);
  ASSERT_EQ(storage.Count(), 2);
  EXPECT_GE(storage.IndexOf(*outside), 0);
  try {
    storage.Add(*outside, false);
    ADD_FAILURE() << "no exception";
  } catch (const EOvDuplicateCertError& e) {
    EXPECT_STREQ(e.what(), "Certificate already exists (error code is -2146885627)");
    EXPECT_EQ(e.ErrorCode(), -2146885627);
  }
  EXPECT_EQ(MessageOf([&] { storage.Remove(2); }), "Index out of bounds");
  storage.Remove(storage.IndexOf(*outside));
  ASSERT_EQ(storage.Count(), 1);
  EXPECT_EQ(storage.IndexOf(*outside), -1);
  // A certificate the store cannot take its key with is refused before anything changes.
  TOvWinCertStorage my;
  my.SetSystemStores({"My"});
  EXPECT_EQ(MessageOf([&] { storage.Add(*my.Certificates(1), true); }),
            "Failed to retrieve certificate private key");
  EXPECT_EQ(storage.Count(), 1);
}

TEST_F(CertStorageTest, ValidationAgainstAStorage) {
  TOvMemoryCertStorage cas;
  auto ca = FromFile("ca");
  cas.Add(*ca, false);
  uint16_t reasons = 0;
  auto user = FromFile("rsa2048");
  EXPECT_EQ(cas.Validate(*user, reasons, 0), cvOk);
  EXPECT_EQ(reasons, 0);
  EXPECT_EQ(cas.IndexOfIssuer(*user), 0);
  EXPECT_EQ(cas.IndexOfIssuer(*ca), -1);  // not its own issuer here
  EXPECT_EQ(cas.Validate(*ca, reasons, 0), cvSelfSigned);
  auto expired = FromFile("expired");
  EXPECT_EQ(cas.Validate(*expired, reasons, 0), cvInvalid);
  EXPECT_EQ(reasons, vrExpired);
  TOvMemoryCertStorage empty;
  EXPECT_EQ(empty.Validate(*user, reasons, 0), cvInvalid);
  EXPECT_EQ(reasons, vrIssuerNotFound);
}

// The authority's key then belongs to the key store's provider; checking a
// signature needs only its public part, which the built-in engine computes with.
TEST_F(CertStorageTest, StoreCertificatesValidateAgainstTheStoresAuthorities) {
  TOvWinCertStorage my;
  my.SetSystemStores({"My"});
  TOvWinCertStorage roots;
  roots.SetSystemStores({"ROOT"});
  const int index = my.IndexOf(*FromFile("rsa2048"));
  ASSERT_GE(index, 0);
  uint16_t reasons = 0;
  EXPECT_EQ(roots.Validate(*my.Certificates(index), reasons, 0), cvOk);
  EXPECT_EQ(reasons, 0);
  auto forged = FromFile("rsa2048");
  ByteString der(forged->CertificateBinary());
  der[der.size() - 1] ^= 1;
  forged->LoadFromBytes(der);
  EXPECT_EQ(roots.Validate(*forged, reasons, 0), cvInvalid);
  EXPECT_NE(reasons & vrBadSignature, 0);
}

}  // namespace
}  // namespace corvane
