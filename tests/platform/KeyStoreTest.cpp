#include "platform/keystore/KeyStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "tests/fixtures/StoreFixture.h"

namespace platform {
namespace {

using tavra_fixture::Quote;
using tavra_fixture::RunTool;
using tavra_fixture::ScratchDir;
using tavra_fixture::Store;

class RecordingPrompt : public KeyStorePasswordPrompt {
 public:
  std::optional<std::string> Answer;
  bool Throw = false;
  int Calls = 0;
  std::string LastToken;
  std::optional<std::string> AskPassword(const std::string& tokenName, bool) override {
    ++Calls;
    LastToken = tokenName;
    if (Throw) throw std::runtime_error("prompt failed");
    return Answer;
  }
};

class KeyStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    // A fresh opening: no token stays logged in from an earlier test.
    KeyStore::Instance().Shutdown();
    KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
    KeyStore::Instance().SetPasswordPrompt(&prompt_);
  }
  void TearDown() override {
    for (auto& c : listed_) KeyStore::Instance().FreeCertificate(c.Handle);
    listed_.clear();
    KeyStore::Instance().SetPasswordPrompt(nullptr);
    KeyStore::Instance().Shutdown();
    KeyStore::Instance().SetDatabaseDir("");
  }

  std::vector<KeyStoreCertificate>& List(KeyStoreName name) {
    for (auto& c : listed_) KeyStore::Instance().FreeCertificate(c.Handle);
    EXPECT_EQ(KeyStore::Instance().List(name, listed_), KeyStoreResult::Ok);
    return listed_;
  }

  KeyStoreCertHandle HandleOf(const std::string& nickname) {
    for (auto& c : listed_)
      if (c.Nickname == nickname) return c.Handle;
    ADD_FAILURE() << "not listed: " << nickname;
    return 0;
  }

  // openssl's verdict on a big-endian PKCS#1 v1.5 signature of the digest.
  static bool OpensslVerifies(const std::string& certName, const std::string& digestName,
                              const std::string& digest, const std::string& signature,
                              const std::string& options = "") {
    ScratchDir dir;
    std::ofstream(dir.File("digest"), std::ios::binary) << digest;
    std::ofstream(dir.File("sig"), std::ios::binary) << signature;
    int status = 0;
    const std::string out = RunTool(
        "openssl x509 -in " + Quote(Store::Get().File(certName + ".crt")) + " -pubkey -noout > " +
            Quote(dir.File("pub.pem")) + " && openssl pkeyutl -verify -pubin -inkey " +
            Quote(dir.File("pub.pem")) + " -in " + Quote(dir.File("digest")) + " -sigfile " +
            Quote(dir.File("sig")) + " -pkeyopt digest:" + digestName + options + " 2>&1",
        &status);
    return status == 0 && out.find("Signature Verified Successfully") != std::string::npos;
  }

  RecordingPrompt prompt_;
  std::vector<KeyStoreCertificate> listed_;
};

std::string Reversed(const std::string& s) { return std::string(s.rbegin(), s.rend()); }

// The DER Ecdsa-Sig-Value openssl reads, from r and s of equal length
// (short forms only: enough for P-256).
std::string EcdsaDer(const std::string& rs) {
  const auto integer = [](std::string v) {
    while (v.size() > 1 && v[0] == '\0' && !(static_cast<uint8_t>(v[1]) & 0x80)) v.erase(0, 1);
    if (static_cast<uint8_t>(v[0]) & 0x80) v.insert(v.begin(), '\0');
    return std::string{'\x02', static_cast<char>(v.size())} + v;
  };
  const std::string body = integer(rs.substr(0, rs.size() / 2)) + integer(rs.substr(rs.size() / 2));
  return std::string{'\x30', static_cast<char>(body.size())} + body;
}

TEST_F(KeyStoreTest, MyListsKeyHoldersInFixedOrderWithoutLoginOrWrites) {
  const std::string before = Store::Get().DatabaseChecksums();
  auto& my = List(KeyStoreName::My);
  std::vector<std::string> names;
  for (auto& c : my) names.push_back(c.Nickname);
  // The token's certificate is there although nobody logged in to the token;
  // the certificate without its key is not.
  EXPECT_EQ(names,
            (std::vector<std::string>{"TavraCard:card", "czech", "ec", "expired", "highserial",
                                      "oddext", "rsa2048", "rsa3072", "rsa4096"}));
  for (auto& c : my) {
    const std::string file = c.Nickname == "TavraCard:card" ? "card" : c.Nickname;
    EXPECT_EQ(c.Der, Store::Get().Der(file)) << c.Nickname;
    EXPECT_TRUE(KeyStore::Instance().HasPrivateKey(c.Handle)) << c.Nickname;
  }
  EXPECT_EQ(KeyStore::Instance().KeyType(HandleOf("ec")), KeyStoreKeyType::EC);
  EXPECT_EQ(KeyStore::Instance().KeyType(HandleOf("rsa3072")), KeyStoreKeyType::RSA);

  const std::vector<std::string> first = names;
  auto& again = List(KeyStoreName::My);
  names.clear();
  for (auto& c : again) names.push_back(c.Nickname);
  EXPECT_EQ(names, first);
  EXPECT_EQ(prompt_.Calls, 0);
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(KeyStoreTest, RootAndCaStoresAndHandles) {
  auto& root = List(KeyStoreName::Root);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].Der, Store::Get().Der("ca"));
  EXPECT_FALSE(KeyStore::Instance().HasPrivateKey(root[0].Handle));
  const KeyStoreCertHandle dup = KeyStore::Instance().DuplicateCertificate(root[0].Handle);
  ASSERT_NE(dup, 0u);
  KeyStore::Instance().FreeCertificate(root[0].Handle);
  root[0].Handle = 0;
  // The duplicate holds its own reference.
  std::string der;
  ASSERT_TRUE(KeyStore::Instance().Encoded(dup, der));
  EXPECT_EQ(der, Store::Get().Der("ca"));
  KeyStore::Instance().FreeCertificate(dup);
  EXPECT_FALSE(KeyStore::Instance().Encoded(dup, der));
  KeyStore::Instance().FreeCertificate(dup);  // freeing twice is harmless

  auto& ca = List(KeyStoreName::CA);
  ASSERT_EQ(ca.size(), 1u);
  EXPECT_EQ(ca[0].Der, Store::Get().Der("inter"));
  EXPECT_EQ(KeyStore::Instance().KeyType(ca[0].Handle), KeyStoreKeyType::None);
}

TEST_F(KeyStoreTest, SignedDigestsVerifyWithOpenssl) {
  const std::string before = Store::Get().DatabaseChecksums();
  List(KeyStoreName::My);
  const std::string sha256 = RunTool("printf 'Tavra' | openssl dgst -sha256 -binary");
  const std::string sha1 = RunTool("printf 'Tavra' | openssl dgst -sha1 -binary");
  const std::string sha512 = RunTool("printf 'Tavra' | openssl dgst -sha512 -binary");
  ASSERT_EQ(sha256.size(), 32u);

  std::string sig;
  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa2048"), 0x800C, sha256, sig),
            KeyStoreResult::Ok);
  ASSERT_EQ(sig.size(), 256u);
  EXPECT_TRUE(OpensslVerifies("rsa2048", "sha256", sha256, Reversed(sig)));
  // Little-endian as delivered must not verify: the order is really reversed.
  EXPECT_FALSE(OpensslVerifies("rsa2048", "sha256", sha256, sig));

  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa4096"), 0x800E, sha512, sig),
            KeyStoreResult::Ok);
  EXPECT_EQ(sig.size(), 512u);
  EXPECT_TRUE(OpensslVerifies("rsa4096", "sha512", sha512, Reversed(sig)));
  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("czech"), 0x8004, sha1, sig),
            KeyStoreResult::Ok);
  EXPECT_TRUE(OpensslVerifies("czech", "sha1", sha1, Reversed(sig)));

  // ECDSA: r and s of 32 octets each, reversed as a whole like the rest.
  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("ec"), 0x800C, sha256, sig),
            KeyStoreResult::Ok);
  ASSERT_EQ(sig.size(), 64u);
  EXPECT_TRUE(OpensslVerifies("ec", "sha256", sha256, EcdsaDer(Reversed(sig))));
  EXPECT_EQ(
      KeyStore::Instance().SignDigest(HandleOf("ec"), 0x800C, sha256, sig, KeyStorePadding::PSS),
      KeyStoreResult::UnsupportedKey);

  // RSASSA-PSS: MGF1 with the digest's hash, a salt as long as the digest.
  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa2048"), 0x800C, sha256, sig,
                                            KeyStorePadding::PSS),
            KeyStoreResult::Ok);
  ASSERT_EQ(sig.size(), 256u);
  EXPECT_TRUE(OpensslVerifies("rsa2048", "sha256", sha256, Reversed(sig),
                              " -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32"
                              " -pkeyopt rsa_mgf1_md:sha256"));
  EXPECT_FALSE(OpensslVerifies("rsa2048", "sha256", sha256, Reversed(sig)));
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa2048"), 0x8003, sha256.substr(0, 16), sig,
                                            KeyStorePadding::PSS),
            KeyStoreResult::UnsupportedHash);
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa2048"), 0x800C, sha1, sig),
            KeyStoreResult::UnsupportedHash);
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("rsa2048"), 0x801E, sha256, sig),
            KeyStoreResult::UnsupportedHash);
  EXPECT_EQ(KeyStore::Instance().SignDigest(987654, 0x800C, sha256, sig),
            KeyStoreResult::UnknownHandle);
  EXPECT_EQ(prompt_.Calls, 0);  // the database has no password
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(KeyStoreTest, TokenKeySignsAfterPinFromPrompt) {
  const std::string before = Store::Get().DatabaseChecksums();
  List(KeyStoreName::My);
  prompt_.Answer = Store::Get().Pin();
  const std::string digest = RunTool("printf 'card' | openssl dgst -sha256 -binary");
  std::string sig;
  ASSERT_EQ(KeyStore::Instance().SignDigest(HandleOf("TavraCard:card"), 0x800C, digest, sig),
            KeyStoreResult::Ok);
  EXPECT_EQ(prompt_.Calls, 1);
  EXPECT_EQ(prompt_.LastToken, "TavraCard");
  EXPECT_TRUE(OpensslVerifies("card", "sha256", digest, Reversed(sig)));
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(KeyStoreTest, WrongCancelledOrFailingPinEndsSigningWithoutRetryLoop) {
  List(KeyStoreName::My);
  const std::string digest = RunTool("printf 'card' | openssl dgst -sha256 -binary");
  std::string sig;
  prompt_.Answer = "0000";
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("TavraCard:card"), 0x800C, digest, sig),
            KeyStoreResult::WrongPassword);
  EXPECT_EQ(prompt_.Calls, 1);  // asked once; the retry gets no answer
  EXPECT_TRUE(sig.empty());
  EXPECT_EQ(KeyStore::Instance().LastTokenName(), "TavraCard");

  prompt_.Answer.reset();
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("TavraCard:card"), 0x800C, digest, sig),
            KeyStoreResult::PasswordCancelled);
  prompt_.Throw = true;
  EXPECT_EQ(KeyStore::Instance().SignDigest(HandleOf("TavraCard:card"), 0x800C, digest, sig),
            KeyStoreResult::PasswordCancelled);
  EXPECT_EQ(prompt_.Calls, 3);
}

TEST_F(KeyStoreTest, FolderThatIsNotADatabaseCannotBeOpenedAndMissingOneIsEmpty) {
  ScratchDir dir;
  std::ofstream(dir.File("cert9.db"), std::ios::binary) << "not a database at all";
  KeyStore::Instance().SetDatabaseDir(dir.Path());
  std::vector<KeyStoreCertificate> certs;
  EXPECT_EQ(KeyStore::Instance().List(KeyStoreName::My, certs), KeyStoreResult::CannotOpen);
  EXPECT_EQ(KeyStore::Instance().List(KeyStoreName::Root, certs), KeyStoreResult::CannotOpen);
  EXPECT_EQ(tavra_fixture::ReadFile(dir.File("cert9.db")), "not a database at all");

  KeyStore::Instance().SetDatabaseDir(dir.File("absent"));
  EXPECT_EQ(KeyStore::Instance().List(KeyStoreName::My, certs), KeyStoreResult::Ok);
  EXPECT_TRUE(certs.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("absent")));  // nothing is created
}

TEST_F(KeyStoreTest, AddAndRemoveOnACopy) {
  ScratchDir dir;
  const std::string db = Store::Get().CopyDatabase(dir.File("db"));
  KeyStore::Instance().SetDatabaseDir(db);
  const std::string outside = Store::Get().Der("outside");

  auto& root = List(KeyStoreName::Root);
  ASSERT_EQ(root.size(), 1u);
  // Writing needs the database re-opened, which cannot happen while handles live.
  EXPECT_EQ(KeyStore::Instance().Add(KeyStoreName::Root, outside), KeyStoreResult::Busy);
  for (auto& c : listed_) KeyStore::Instance().FreeCertificate(c.Handle);
  listed_.clear();

  ASSERT_EQ(KeyStore::Instance().Add(KeyStoreName::Root, outside), KeyStoreResult::Ok)
      << KeyStore::Instance().LastError();
  EXPECT_EQ(KeyStore::Instance().Add(KeyStoreName::Root, outside), KeyStoreResult::AlreadyExists);
  EXPECT_EQ(KeyStore::Instance().Add(KeyStoreName::CA, Store::Get().Der("ca")),
            KeyStoreResult::AlreadyExists);
  {
    std::vector<KeyStoreCertificate> certs;
    ASSERT_EQ(KeyStore::Instance().List(KeyStoreName::Root, certs), KeyStoreResult::Ok);
    bool found = false;
    for (auto& c : certs) {
      found = found || c.Der == outside;
      KeyStore::Instance().FreeCertificate(c.Handle);
    }
    EXPECT_TRUE(found);
  }
  // certutil sees it too, with the root trust.
  const std::string listing = RunTool("certutil -L -d " + Quote("sql:" + db));
  EXPECT_NE(listing.find("CT,C,C"), listing.rfind("CT,C,C")) << listing;

  ASSERT_EQ(KeyStore::Instance().Remove(outside), KeyStoreResult::Ok);
  EXPECT_EQ(KeyStore::Instance().Remove(outside), KeyStoreResult::Failed);
  EXPECT_EQ(KeyStore::Instance().Add(KeyStoreName::Root, "garbage"), KeyStoreResult::Failed);
  auto& after = List(KeyStoreName::Root);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].Der, Store::Get().Der("ca"));
}

}  // namespace
}  // namespace platform
