// The system key-store provider over the fixture database, and its signing
// logic over a scripted key store.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/fixtures/ScriptedPrompt.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProvBuiltIn.h"
#include "toolkit/crypto/CvCryptoProvManager.h"
#include "toolkit/crypto/CvCryptoProvWin32.h"
#include "toolkit/crypto/CvRSA.h"

namespace corvane {
namespace {

using tavra_fixture::Quote;
using tavra_fixture::RunTool;
using tavra_fixture::ScratchDir;
using tavra_fixture::Store;

ByteString Handle8(uint64_t h) {
  ByteString out(8, '\0');
  for (int i = 7; i >= 0; --i, h >>= 8) out[static_cast<size_t>(i)] = static_cast<char>(h & 0xFF);
  return out;
}

std::string Sha(const std::string& bits, const std::string& data) {
  ScratchDir dir;
  std::ofstream(dir.File("data"), std::ios::binary) << data;
  return RunTool("openssl dgst -sha" + bits + " -binary " + Quote(dir.File("data")));
}

bool OpensslVerifiesDigest(const std::string& cert, const std::string& digestName,
                           const std::string& digest, const std::string& signature) {
  ScratchDir dir;
  std::ofstream(dir.File("digest"), std::ios::binary) << digest;
  std::ofstream(dir.File("sig"), std::ios::binary) << signature;
  int status = 0;
  const std::string out =
      RunTool("openssl x509 -in " + Quote(Store::Get().File(cert + ".crt")) + " -pubkey -noout > " +
                  Quote(dir.File("pub.pem")) + " && openssl pkeyutl -verify -pubin -inkey " +
                  Quote(dir.File("pub.pem")) + " -in " + Quote(dir.File("digest")) + " -sigfile " +
                  Quote(dir.File("sig")) + " -pkeyopt digest:" + digestName + " 2>&1",
              &status);
  return status == 0 && out.find("Signature Verified Successfully") != std::string::npos;
}

std::string SpkiOf(const std::string& cert) {
  return RunTool("openssl x509 -in " + Quote(Store::Get().File(cert + ".crt")) +
                 " -pubkey -noout | openssl pkey -pubin -outform DER");
}

// Store keys through the process-wide provider, as the storages make them.
class StoreProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    tavra_fixture::ReopenKeyStore(Store::Get().Db(), &prompt_);
    ASSERT_EQ(platform::KeyStore::Instance().List(platform::KeyStoreName::My, listed_),
              platform::KeyStoreResult::Ok);
  }
  void TearDown() override {
    for (auto* k : keys_) provider_->ReleaseKey(k);
    for (auto& c : listed_) platform::KeyStore::Instance().FreeCertificate(c.Handle);
    platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }

  // A key for the fixture certificate, holding its own duplicate of the handle.
  TOvCustomCryptoKey* KeyFor(const std::string& nickname, const std::string& file) {
    uint64_t handle = 0;
    for (auto& c : listed_)
      if (c.Nickname == nickname) handle = c.Handle;
    EXPECT_NE(handle, 0u) << nickname;
    TOvCustomCryptoKey* key = provider_->CreateKey(ALG_RSA, 0, nullptr);
    const std::string spki = SpkiOf(file);
    key->ImportPublic(spki.data(), spki.size(), nullptr);
    key->SetKeyProp(PROP_WIN32_CERTCONTEXT,
                    Handle8(platform::KeyStore::Instance().DuplicateCertificate(handle)));
    keys_.push_back(key);
    return key;
  }

  // Signs through init / update / final, with the size query first.
  ByteString SignWith(TOvCustomCryptoKey* key, std::string_view input,
                      const TOvRelativeDistinguishedName& params) {
    TOvCustomCryptoContext* context = provider_->SignInit(ALG_RSA, key, true, &params);
    size_t size = 1;
    char dummy;  // an update without an output buffer only reports a size
    provider_->SignUpdate(context, input.data(), input.size(), &dummy, size, nullptr);
    size = 0;
    ByteString out;
    try {
      provider_->SignFinal(context, nullptr, size, nullptr);
      EXPECT_EQ(size, 16384u);
      out.resize(size);
      provider_->SignFinal(context, out.data(), size, nullptr);
      out.resize(size);
    } catch (...) {
      provider_->ReleaseCryptoContext(context);
      throw;
    }
    provider_->ReleaseCryptoContext(context);
    return out;
  }

  static TOvRelativeDistinguishedName HashParams(int32_t hash, bool inputIsHash) {
    TOvRelativeDistinguishedName params;
    params.Add(PROP_INPUT_IS_HASH, BoolToBytes(inputIsHash));
    params.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(hash));
    return params;
  }

  TOvWin32CryptoProvider* provider_ = TOvWin32CryptoProvider::DefaultInstanceOfClass();
  tavra_fixture::ScriptedPrompt prompt_;
  std::vector<platform::KeyStoreCertificate> listed_;
  std::vector<TOvCustomCryptoKey*> keys_;
};

TEST_F(StoreProviderTest, SignsDigestsAndDataThatOpensslVerifies) {
  const std::string before = Store::Get().DatabaseChecksums();
  TOvCustomCryptoKey* key = KeyFor("rsa2048", "rsa2048");
  EXPECT_TRUE(key->IsSecret());
  EXPECT_EQ(key->KeyBits(), 2048);

  const std::string digest = Sha("256", "signed bytes");
  ByteString sig = SignWith(key, digest, HashParams(ALG_SHA256, true));
  EXPECT_EQ(sig.size(), 256u);  // the real call stores the actual length
  EXPECT_TRUE(OpensslVerifiesDigest("rsa2048", "sha256", digest, sig));

  // Data hashed by the built-in provider on the way.
  sig = SignWith(key, "signed bytes", HashParams(ALG_SHA1, false));
  EXPECT_TRUE(OpensslVerifiesDigest("rsa2048", "sha1", Sha("1", "signed bytes"), sig));

  // Without the algorithm prefix a DigestInfo input names its own hash.
  TOvRelativeDistinguishedName params = HashParams(ALG_SHA1, true);
  params.Add(PROP_USE_ALGORITHM_PREFIX, BoolToBytes(false));
  const std::string info =
      std::string("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
                  19) +
      digest;
  sig = SignWith(KeyFor("rsa4096", "rsa4096"), info, params);
  EXPECT_EQ(sig.size(), 512u);
  EXPECT_TRUE(OpensslVerifiesDigest("rsa4096", "sha256", digest, sig));
  EXPECT_EQ(prompt_.Calls, 0);
  EXPECT_EQ(Store::Get().DatabaseChecksums(), before);
}

TEST_F(StoreProviderTest, FailuresCarryTheirTexts) {
  TOvCustomCryptoKey* key = KeyFor("rsa2048", "rsa2048");
  const std::string digest = Sha("256", "x");
  try {
    SignWith(key, digest.substr(0, 20), HashParams(ALG_RIPEMD160, true));
    ADD_FAILURE() << "no exception";
  } catch (const EOvWin32CryptoProviderError& e) {
    EXPECT_STREQ(e.what(), "Unsupported hash algorithm (28937)");
  }
  try {
    SignWith(key, digest.substr(0, 31), HashParams(ALG_SHA256, true));
    ADD_FAILURE() << "no exception";
  } catch (const EOvWin32CryptoProviderError& e) {
    EXPECT_STREQ(e.what(), "Signing failed: ");
  }
  // A buffer smaller than the answer of the size query.
  TOvRelativeDistinguishedName params = HashParams(ALG_SHA256, true);
  TOvCustomCryptoContext* context = provider_->SignInit(ALG_RSA, key, true, &params);
  size_t size = 1;
  char dummy;
  provider_->SignUpdate(context, digest.data(), digest.size(), &dummy, size, nullptr);
  char small[300];
  size = sizeof small;
  EXPECT_THROW(
      try {
        provider_->SignFinal(context, small, size, nullptr);
      } catch (const EOvWin32CryptoProviderError& e) {
        EXPECT_STREQ(e.what(), "Buffer too small");
        throw;
      },
      EOvWin32CryptoProviderError);
  provider_->ReleaseCryptoContext(context);
  EXPECT_THROW(provider_->SignInit(ALG_RSA, key, false, &params), EOvWin32CryptoProviderError);
}

TEST_F(StoreProviderTest, TokenKeyAsksPinOnceAndWrongPinFails) {
  TOvCustomCryptoKey* key = KeyFor("TavraCard:card", "card");
  EXPECT_TRUE(key->IsSecret());
  EXPECT_EQ(prompt_.Calls, 0);  // knowing about the key needs no login
  const std::string digest = Sha("256", "card");

  prompt_.Answer = "1111";
  try {
    SignWith(key, digest, HashParams(ALG_SHA256, true));
    ADD_FAILURE() << "no exception";
  } catch (const EOvWin32CryptoProviderError& e) {
    EXPECT_STREQ(e.what(), "Signing failed: wrong password or PIN for token \"TavraCard\"");
  }
  EXPECT_EQ(prompt_.Calls, 1);  // the retry with the other key spec asks nothing

  prompt_.Answer = Store::Get().Pin();
  const ByteString sig = SignWith(key, digest, HashParams(ALG_SHA256, true));
  EXPECT_EQ(prompt_.Calls, 2);
  EXPECT_TRUE(OpensslVerifiesDigest("card", "sha256", digest, sig));
}

TEST_F(StoreProviderTest, KeysWithoutStoreKeyAndHandleProperty) {
  TOvCustomCryptoKey* key = provider_->CreateKey(ALG_RSA, 0, nullptr);
  keys_.push_back(key);
  EXPECT_FALSE(key->IsSecret());
  // The handle travels whole, all eight bytes.
  const ByteString wide = Handle8(0x0000000100000005ull);
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, wide);
  EXPECT_EQ(key->GetKeyProp(PROP_WIN32_CERTCONTEXT, ""), wide);
  EXPECT_FALSE(key->IsSecret());  // no such certificate: no key, no crash
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(0));
  EXPECT_THROW(provider_->CreateKey(ALG_DH, 0, nullptr), EOvWin32CryptoProviderError);
  EXPECT_EQ(key->GetKeyProp(PROP_KEY_FORMAT, ""), "pkcs#1");

  // Registered after the built-in provider, chosen for its own keys only.
  auto* manager = DefaultCryptoProviderManager();
  int builtIn = -1, win32 = -1;
  for (int i = 0; i < manager->ProviderCount(); ++i) {
    if (manager->Providers(i) == TOvBuiltInCryptoProvider::DefaultInstanceOfClass()) builtIn = i;
    if (manager->Providers(i) == provider_) win32 = i;
  }
  EXPECT_GE(builtIn, 0);
  EXPECT_GT(win32, builtIn);
  EXPECT_EQ(manager->DefaultProvider(), TOvBuiltInCryptoProvider::DefaultInstanceOfClass());
  EXPECT_EQ(manager->GetSuitableProvider(coSignDetached, ALG_RSA, 0, key, nullptr), provider_);
  EXPECT_FALSE(provider_->IsOperationSupported(coHash, ALG_SHA1, 0, nullptr, nullptr));
  EXPECT_FALSE(provider_->IsOperationSupported(coVerifyDetached, ALG_RSA, 0, key, nullptr));
}

// A key store whose answers the test scripts: the recorded key spec is the
// signature key, which it refuses; the exchange key answers with what the
// test gives.
class ScriptedStore : public TOvWin32KeyStore {
 public:
  std::string RetrySignatureLE;
  uint32_t KeySpec = AT_SIGNATURE;  // the key kind the location names; the store refuses it
  int SignCalls = 0, PssCalls = 0;
  int Opened = 0, Released = 0;

  bool ReadKeyLocation(uint64_t cert, TOvWin32KeyLocation& l) override {
    if (cert != 7) return false;
    l.ContainerName = u"c";
    l.CSPName = u"Microsoft Enhanced Cryptographic Provider v1.0";
    l.CSPType = 1;
    l.KeySpec = KeySpec;
    return true;
  }
  uint64_t OpenKeyContainer(const std::u16string&, const std::u16string*, uint32_t type,
                            uint32_t) override {
    ++Opened;
    return type == 24 ? 24 : 1;
  }
  uint64_t OpenVerifyOnly(const std::string& name, uint32_t type) override {
    return type == 1 && name == "Microsoft Enhanced Cryptographic Provider v1.0" ? 100 : 0;
  }
  std::vector<TOvWin32CSPAlgorithm> ListAlgorithms(uint64_t) override {
    return {{CALG_SHA1, 160, "SHA-1"}, {0x2400, 1024, "RSA_SIGN"}, {CALG_ECDSA, 256, "ECDSA"}};
  }
  void AddRefContainer(uint64_t) override {}
  void ReleaseContainer(uint64_t csp) override {
    if (csp != 100) ++Released;
  }
  uint64_t GetUserKey(uint64_t, uint32_t) override { return 0; }
  uint32_t KeyBits(uint64_t) override { return 0; }
  void DestroyKey(uint64_t) override {}
  uint64_t CreateHash(uint64_t csp, uint32_t id) override {
    return csp == 24 || id == CALG_SHA1 ? 50 : 0;
  }
  bool SetHashValue(uint64_t, std::string_view) override { return true; }
  bool SignHash(uint64_t, uint32_t spec, void* buffer, uint32_t& size) override {
    ++SignCalls;
    if (spec == AT_SIGNATURE) {
      error_ = 0x16;
      return false;
    }
    std::copy(RetrySignatureLE.begin(), RetrySignatureLE.end(), static_cast<char*>(buffer));
    size = static_cast<uint32_t>(RetrySignatureLE.size());
    return true;
  }
  bool SignHashPSS(uint64_t hash, uint32_t spec, void* buffer, uint32_t& size) override {
    ++PssCalls;
    return SignHash(hash, spec, buffer, size);
  }
  void DestroyHash(uint64_t) override {}
  uint64_t DuplicateCertificate(uint64_t c) override { return c; }
  void FreeCertificate(uint64_t) override {}
  bool SetParentWindow(uint64_t, uint64_t) override { return true; }
  int32_t LastError() override { return error_; }
  TOvWin32StoreResult ListStore(TOvWin32StoreName,
                                std::vector<TOvWin32StoreCertificate>&) override {
    return TOvWin32StoreResult::CannotOpen;
  }
  bool Encoded(uint64_t, std::string&) override { return false; }
  TOvWin32StoreResult AddCertificate(TOvWin32StoreName, std::string_view) override {
    return TOvWin32StoreResult::CannotOpen;
  }
  TOvWin32StoreResult RemoveCertificate(std::string_view) override {
    return TOvWin32StoreResult::Failed;
  }

 private:
  int32_t error_ = 0;
};

TEST(Win32ProviderLogic, RetryWithTheOtherKeySpecMustVerifyWithTheCertificateKey) {
  ScriptedStore store;
  TOvWin32CryptoProvider provider(&store);
  ASSERT_EQ(provider.CSPs().size(), 1u);
  TOvCustomCryptoKey* key = provider.CreateKey(ALG_RSA, 0, nullptr);
  key->SetKeyProp(PROP_RSA_M, std::string(255, '\x7f') + "\x01");
  key->SetKeyProp(PROP_RSA_E, "\x01\x00\x01");
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(7));
  EXPECT_TRUE(key->IsSecret());

  // The other key answers with bytes that are no signature of this key.
  store.RetrySignatureLE = std::string(256, '\x5a');
  TOvRelativeDistinguishedName params;
  params.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
  TOvCustomCryptoContext* context = provider.SignInit(ALG_RSA, key, true, &params);
  const std::string digest(20, '\x11');
  size_t size = 1;
  char dummy;
  provider.SignUpdate(context, digest.data(), digest.size(), &dummy, size, nullptr);
  ByteString out(16384, '\0');
  size = out.size();
  try {
    provider.SignFinal(context, out.data(), size, nullptr);
    ADD_FAILURE() << "a foreign signature was accepted";
  } catch (const EOvWin32CryptoProviderError& e) {
    EXPECT_STREQ(e.what(), "Signing failed: Win32 error: 22");  // the first error
  }
  EXPECT_EQ(store.SignCalls, 2);
  EXPECT_EQ(store.Opened, store.Released);  // no container left open
  provider.ReleaseCryptoContext(context);
  provider.ReleaseKey(key);
}

// A store that refuses the recorded key spec and signs with the other one
// (as Wine's CSP does for imported keys) gives a real signature: it must be
// taken, in every form the input and the scheme come in.
TEST(Win32ProviderLogic, ValidSignatureOfTheRetryIsTaken) {
  TOvBuiltInCryptoProvider builtIn;
  TOvCustomCryptoKey* real = builtIn.CreateKey(ALG_RSA, 0, nullptr);
  const TCvScopeExit releaseReal([&] { builtIn.ReleaseKey(real); });
  real->Generate(1024, nullptr);

  ScriptedStore store;
  TOvWin32CryptoProvider provider(&store);
  TOvCustomCryptoKey* key = provider.CreateKey(ALG_RSA, 0, nullptr);
  const TCvScopeExit releaseKey([&] { provider.ReleaseKey(key); });
  key->SetKeyProp(PROP_RSA_M, real->GetKeyProp(PROP_RSA_M, ""));
  key->SetKeyProp(PROP_RSA_E, real->GetKeyProp(PROP_RSA_E, ""));
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(7));

  const std::string digest(32, '\x42');
  const auto storeSigns = [&](const TOvRelativeDistinguishedName& how) {
    ByteString sig(1024, '\0');
    size_t size = sig.size();
    builtIn.Sign(ALG_RSA, real, true, digest.data(), digest.size(), sig.data(), size, &how);
    sig.resize(size);
    store.RetrySignatureLE.assign(sig.rbegin(), sig.rend());
    return sig;
  };
  const auto sign = [&](const TOvRelativeDistinguishedName& params, std::string_view input) {
    TOvCustomCryptoContext* context = provider.SignInit(ALG_RSA, key, true, &params);
    const TCvScopeExit release([&] { provider.ReleaseCryptoContext(context); });
    size_t size = 1;
    char dummy;
    provider.SignUpdate(context, input.data(), input.size(), &dummy, size, nullptr);
    ByteString out(16384, '\0');
    size = out.size();
    provider.SignFinal(context, out.data(), size, nullptr);
    out.resize(size);
    return out;
  };
  TOvRelativeDistinguishedName pkcs1;
  pkcs1.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
  pkcs1.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(ALG_SHA256));

  // The digest as it is.
  ByteString expected = storeSigns(pkcs1);
  EXPECT_EQ(sign(pkcs1, digest), expected);
  EXPECT_EQ(store.SignCalls, 2);

  // A DigestInfo without the prefix: the store gets the inner digest, and so
  // must the check.
  TOvRelativeDistinguishedName prefixed = pkcs1;
  prefixed.Add(PROP_USE_ALGORITHM_PREFIX, BoolToBytes(false));
  prefixed.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(ALG_SHA1));
  EXPECT_EQ(sign(prefixed, BuildDigestInfo(OIDByAlgorithm(ALG_SHA256), digest)), expected);

  // PSS is checked as PSS.
  TOvRelativeDistinguishedName pss = pkcs1;
  pss.Add(PROP_ALG_SCHEME, SCHEME_PSS);
  pss.Add(PROP_SALT_SIZE, IntToBytes(32));
  expected = storeSigns(pss);
  EXPECT_EQ(sign(pss, digest), expected);
  EXPECT_EQ(store.Opened, store.Released);

  // One bit off is still refused.
  store.RetrySignatureLE[5] = static_cast<char>(store.RetrySignatureLE[5] ^ 1);
  EXPECT_THROW(sign(pss, digest), EOvWin32CryptoProviderError);
}

TEST(Win32ProviderLogic, SizeQueryAnswersWithoutTheStoreAndContainersAreReleased) {
  ScriptedStore store;
  TOvWin32CryptoProvider provider(&store);
  TOvCustomCryptoKey* key = provider.CreateKey(ALG_RSA, 0, nullptr);
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(7));
  TOvRelativeDistinguishedName params;
  params.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
  TOvCustomCryptoContext* context = provider.SignInit(ALG_RSA, key, true, &params);
  size_t size = 0;
  provider.SignFinal(context, nullptr, size, nullptr);
  EXPECT_EQ(size, 16384u);
  EXPECT_EQ(store.SignCalls, 0);
  EXPECT_EQ(store.Opened, 1);
  EXPECT_EQ(store.Released, 1);
  provider.ReleaseCryptoContext(context);

  // With the key cache on, the container stays with the key until it goes.
  provider.Win32Options().CacheKeyContexts = true;
  context = provider.SignInit(ALG_RSA, key, true, &params);
  size = 0;
  provider.SignFinal(context, nullptr, size, nullptr);
  provider.SignFinal(context, nullptr, size, nullptr);
  EXPECT_EQ(store.Opened, 2);
  EXPECT_EQ(store.Released, 1);
  provider.ReleaseCryptoContext(context);
  provider.ReleaseKey(key);
  EXPECT_EQ(store.Released, 2);
}

// The store's r and s become the DER Ecdsa-Sig-Value CMS carries, with
// minimal INTEGERs: leading zero octets go, a sign octet comes where the top
// bit is set.
TEST(Win32ProviderLogic, EcdsaValueIsStrictDerAndPssUsesTheStoresPssCall) {
  ScriptedStore store;
  store.KeySpec = AT_KEYEXCHANGE;
  TOvWin32CryptoProvider provider(&store);
  TOvCustomCryptoKey* key = provider.CreateKey(ALG_EC, 0, nullptr);
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(7));
  const std::string r = std::string("\x00\x00\x80", 3) + std::string(29, '\x11');
  const std::string s = "\x7f" + std::string(31, '\x22');
  const std::string rs = r + s;
  store.RetrySignatureLE.assign(rs.rbegin(), rs.rend());
  TOvRelativeDistinguishedName params;
  params.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
  params.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(ALG_SHA256));
  const std::string digest(32, '\x33');

  const auto sign = [&](int32_t algorithm) {
    TOvCustomCryptoContext* context = provider.SignInit(algorithm, key, true, &params);
    size_t size = 1;
    char dummy;
    provider.SignUpdate(context, digest.data(), digest.size(), &dummy, size, nullptr);
    ByteString out(16384, '\0');
    size = out.size();
    const TCvScopeExit release([&] { provider.ReleaseCryptoContext(context); });
    provider.SignFinal(context, out.data(), size, nullptr);
    out.resize(size);
    return out;
  };
  const std::string expected =
      std::string("\x30\x43\x02\x1f\x00\x80", 6) + std::string(29, '\x11') + "\x02\x20" + s;
  EXPECT_EQ(sign(ALG_ECDSA), expected);
  EXPECT_EQ(store.PssCalls, 0);
  provider.ReleaseKey(key);

  // PSS goes to the store's own call, with the only salt the store makes.
  key = provider.CreateKey(ALG_RSA, 0, nullptr);
  key->SetKeyProp(PROP_WIN32_CERTCONTEXT, Handle8(7));
  store.RetrySignatureLE = std::string(256, '\x5a');
  params.Add(PROP_ALG_SCHEME, SCHEME_PSS);
  EXPECT_EQ(sign(ALG_RSA), std::string(256, '\x5a'));
  EXPECT_EQ(store.PssCalls, 1);
  params.Add(PROP_SALT_SIZE, IntToBytes(20));
  EXPECT_THROW(sign(ALG_RSA), EOvWin32CryptoProviderError);
  EXPECT_EQ(store.PssCalls, 1);
  provider.ReleaseKey(key);
}

}  // namespace
}  // namespace corvane
