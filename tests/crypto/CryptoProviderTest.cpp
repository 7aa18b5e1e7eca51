// The provider framework: manager choice, registration, the built-in
// provider's answers, key and context ownership, one-shot operations.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "tests/crypto/CryptoTestUtil.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvCryptoProvBuiltIn.h"
#include "toolkit/crypto/CvCryptoProvManager.h"
#include "toolkit/crypto/CvHashFunction.h"

namespace corvane {
namespace {

using testutil::Hex;
using Ops = std::set<std::pair<int32_t, int32_t>>;

// A key that only knows its algorithm and whether it has a secret part.
class FakeKey final : public TOvCustomCryptoKey {
 public:
  FakeKey(TOvCustomCryptoProvider* p, int32_t alg) : TOvCustomCryptoKey(p), alg_(alg) {}
  bool IsPublic() const override { return true; }
  bool IsSecret() const override { return true; }
  bool IsExportable() const override { return true; }
  bool IsPersistent() const override { return false; }
  bool IsValid() const override { return true; }
  int32_t KeyBits() const override { return 1024; }
  int32_t Algorithm() const override { return alg_; }
  void SetMode(int32_t) override {}

 private:
  int32_t alg_;
};

// A signing context whose signature is 64 bytes of 'S'; it estimates 128.
class FakeSignContext final : public TOvCustomCryptoContext {
 public:
  explicit FakeSignContext(TOvCustomCryptoProvider* p) : TOvCustomCryptoContext(p) {}
  int32_t GetAlgorithm() const override { return ALG_RSA; }
  int32_t GetKeySize() const override { return 0; }
  void SetKeySize(int32_t) override {}
  int32_t GetBlockSize() const override { return 0; }
  void SetBlockSize(int32_t) override {}
  int32_t GetDigestSize() const override { return 0; }
  void SetDigestSize(int32_t) override {}
  int32_t GetMode() const override { return 0; }
  void SetMode(int32_t) override {}
  int32_t GetPadding() const override { return 0; }
  void SetPadding(int32_t) override {}
  ByteString GetContextProp(std::string_view, std::string_view d) override { return ByteString(d); }
  void SetContextProp(std::string_view, std::string_view) override {}
  TOvCustomCryptoContext* Clone(TOvCryptoParams) override { return nullptr; }
  int64_t EstimateOutputSize(int64_t) override { return 128; }
  std::string data;
};

[[noreturn]] void Nope() { throw EOvCryptoProviderError("Method not implemented"); }

// Supports exactly the (operation, algorithm) pairs it is given.
class FakeProvider : public TOvCorvaneCryptoProvider {
 public:
  explicit FakeProvider(std::set<std::pair<int32_t, int32_t>> supported = {})
      : supported_(std::move(supported)) {
    Setup();
  }
  ~FakeProvider() override { Teardown(); }
  static FakeProvider* DefaultInstanceOfClass() {
    static FakeProvider instance;
    return &instance;
  }
  TOvCustomCryptoProvider* GetDefaultInstance() override { return DefaultInstanceOfClass(); }

  bool IsAlgorithmSupported(int32_t alg, int32_t) override {
    for (const auto& s : supported_) {
      if (s.second == alg) return true;
    }
    return false;
  }
  bool IsOperationSupported(TCvCryptoOperation op, int32_t alg, int32_t, const TOvCustomCryptoKey*,
                            TOvCryptoParams) override {
    return supported_.count({op, alg}) > 0;
  }
  int32_t GetAlgorithmClass(int32_t) override { return 0; }
  int32_t GetAlgorithmClassByOID(std::string_view, std::string_view) override { return 0; }
  TOvCustomCryptoKey* CreateKey(int32_t alg, int32_t, TOvCryptoParams) override {
    return AddKey(std::make_unique<FakeKey>(this, alg));
  }
  TOvCustomCryptoKey* CreateKeyByOID(std::string_view, std::string_view, TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoKey* CloneKey(TOvCustomCryptoKey*) override { Nope(); }
  void ReleaseKey(TOvCustomCryptoKey*& key) override { RemoveKey(key); }
  void DeleteKey(TOvCustomCryptoKey*& key) override { RemoveKey(key); }
  TOvCustomCryptoKey* DecryptKey(const void*, size_t, std::string_view, std::string_view,
                                 TOvCustomCryptoKey*, std::string_view, std::string_view,
                                 TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* EncryptInit(int32_t, int32_t, TOvCustomCryptoKey*,
                                      TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* EncryptInitByOID(std::string_view, std::string_view, int32_t,
                                           TOvCustomCryptoKey*, TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* DecryptInit(int32_t, int32_t, TOvCustomCryptoKey*,
                                      TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* DecryptInitByOID(std::string_view, std::string_view, int32_t,
                                           TOvCustomCryptoKey*, TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* SignInit(int32_t, TOvCustomCryptoKey*, bool, TOvCryptoParams) override {
    return AddContext(std::make_unique<FakeSignContext>(this));
  }
  TOvCustomCryptoContext* SignInitByOID(std::string_view, std::string_view, TOvCustomCryptoKey*,
                                        bool, TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* VerifyInit(int32_t, TOvCustomCryptoKey*, const void*, size_t,
                                     TOvCryptoParams) override {
    return AddContext(std::make_unique<FakeSignContext>(this));
  }
  TOvCustomCryptoContext* VerifyInitByOID(std::string_view, std::string_view, TOvCustomCryptoKey*,
                                          const void*, size_t, TOvCryptoParams) override {
    Nope();
  }
  void EncryptUpdate(TOvCustomCryptoContext*, const void*, size_t, void*, size_t&,
                     TOvCryptoParams) override {
    Nope();
  }
  void DecryptUpdate(TOvCustomCryptoContext*, const void*, size_t, void*, size_t&,
                     TOvCryptoParams) override {
    Nope();
  }
  void SignUpdate(TOvCustomCryptoContext* c, const void* in, size_t n, void*, size_t& out,
                  TOvCryptoParams) override {
    static_cast<FakeSignContext*>(c)->data.append(static_cast<const char*>(in), n);
    out = 0;
  }
  void VerifyUpdate(TOvCustomCryptoContext*, const void*, size_t, void*, size_t& out,
                    TOvCryptoParams) override {
    out = 0;
  }
  void EncryptFinal(TOvCustomCryptoContext*, void*, size_t&, TOvCryptoParams) override { Nope(); }
  void DecryptFinal(TOvCustomCryptoContext*, void*, size_t&, TOvCryptoParams) override { Nope(); }
  void SignFinal(TOvCustomCryptoContext*, void* out, size_t& size, TOvCryptoParams) override {
    if (out == nullptr) {
      size = 64;
      return;
    }
    if (size < 64) throw EOvCryptoProviderError("Buffer too small");
    std::memset(out, 'S', 64);
    size = 64;
  }
  int32_t VerifyFinal(TOvCustomCryptoContext*, void*, size_t& size, TOvCryptoParams) override {
    size = 0;
    return VERIFY_VALID;
  }
  TOvCustomCryptoContext* HashInit(int32_t, TOvCustomCryptoKey*, TOvCryptoParams) override {
    Nope();
  }
  TOvCustomCryptoContext* HashInitByOID(std::string_view, std::string_view, TOvCustomCryptoKey*,
                                        TOvCryptoParams) override {
    Nope();
  }
  ByteString HashFinal(TOvCustomCryptoContext*, TOvCryptoParams) override { Nope(); }
  void HashUpdate(TOvCustomCryptoContext*, const void*, size_t, TOvCryptoParams) override {
    Nope();
  }
  void ReleaseCryptoContext(TOvCustomCryptoContext*& c) override { RemoveContext(c); }
  void RandomInit(const void*, size_t, TOvCryptoParams) override {}
  void RandomSeed(const void*, size_t) override {}
  void RandomGenerate(void*, size_t) override {}
  uint32_t RandomGenerateBelow(uint32_t) override { return 0; }

  size_t Contexts() { return ContextCount(); }
  size_t Keys() { return KeyCount(); }

 private:
  std::set<std::pair<int32_t, int32_t>> supported_;
};

class OtherFakeProvider final : public FakeProvider {
 public:
  static OtherFakeProvider* DefaultInstanceOfClass() {
    static OtherFakeProvider instance;
    return &instance;
  }
  TOvCustomCryptoProvider* GetDefaultInstance() override { return DefaultInstanceOfClass(); }
};

template <typename Fn>
std::string MessageOf(Fn fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

// ---------------------------------------------------------------------------
// Manager

TEST(ProviderManager, FirstRegisteredBecomesDefault) {
  TOvCustomCryptoProviderManager manager;
  FakeProvider a, b;
  EXPECT_EQ(manager.RegisterProvider(&a), 0);
  EXPECT_EQ(manager.RegisterProvider(&b), 1);
  EXPECT_EQ(manager.RegisterProvider(&a), 0);  // once only
  EXPECT_EQ(manager.ProviderCount(), 2);
  EXPECT_EQ(manager.DefaultProvider(), &a);
  EXPECT_EQ(a.Manager(), &manager);
}

TEST(ProviderManager, DisabledDefaultStillServes) {
  TOvCustomCryptoProviderManager manager;
  FakeProvider def(Ops{{coSignDetached, ALG_RSA}});
  FakeProvider other(Ops{{coSignDetached, ALG_RSA}});
  manager.RegisterProvider(&def);
  manager.RegisterProvider(&other);
  def.SetEnabled(false);
  EXPECT_EQ(manager.GetSuitableProvider(coSignDetached, ALG_RSA, 0, nullptr, nullptr), &def);
}

TEST(ProviderManager, DisabledNonDefaultIsNeverReturned) {
  TOvCustomCryptoProviderManager manager;
  FakeProvider def;
  FakeProvider disabled(Ops{{coSignDetached, ALG_RSA}});
  FakeProvider enabled(Ops{{coSignDetached, ALG_RSA}});
  manager.RegisterProvider(&def);
  manager.RegisterProvider(&disabled);
  disabled.SetEnabled(false);
  EXPECT_THROW(manager.GetSuitableProvider(coSignDetached, ALG_RSA, 0, nullptr, nullptr),
               EOvCryptoProviderManagerError);
  manager.RegisterProvider(&enabled);
  EXPECT_EQ(manager.GetSuitableProvider(coSignDetached, ALG_RSA, 0, nullptr, nullptr), &enabled);
}

TEST(ProviderManager, NoSuitableProviderMessages) {
  auto* manager = DefaultCryptoProviderManager();
  auto* builtIn = TOvBuiltInCryptoProvider::DefaultInstanceOfClass();
  TOvCustomCryptoKey* key = builtIn->CreateKey(ALG_HMAC_KEY, 0, nullptr);
  EXPECT_EQ(
      MessageOf([&] { manager->GetSuitableProvider(coSignDetached, ALG_RSA, 0, key, nullptr); }),
      "Unsupported cryptographic operation. Operation: 4, Algorithm: 29697, Mode: 0.");
  builtIn->ReleaseKey(key);
  EXPECT_EQ(MessageOf([&] {
              manager->GetSuitableProviderByOID(coSignDetached, oid::EC_PUBLIC_KEY,
                                                std::string("\x05\x00", 2), 0, nullptr, nullptr);
            }),
            "Unsupported cryptographic operation. Operation: 4, Algorithm: 1.2.840.10045.2.1, "
            "Params: 0500, "
            "Mode: 0.");
  EXPECT_EQ(MessageOf([&] { manager->GetSuitableProviderForAlgorithm(ALG_MD4, 0); }),
            "Unsupported cryptographic operation. Operation: 0, Algorithm: 28936, Mode: 0.");
}

TEST(ProviderManager, SetDefaultProviderByClassRegistersTheDefaultInstanceOnce) {
  TOvCustomCryptoProviderManager manager;
  FakeProvider first;
  manager.RegisterProvider(&first);
  manager.SetDefaultProviderByClass<OtherFakeProvider>();
  EXPECT_EQ(manager.ProviderCount(), 2);
  EXPECT_EQ(manager.DefaultProvider(), OtherFakeProvider::DefaultInstanceOfClass());
  manager.SetDefaultProviderByClass<OtherFakeProvider>();
  EXPECT_EQ(manager.ProviderCount(), 2);
  // A registered provider of the class is preferred over the default instance.
  manager.SetDefaultProviderByClass<FakeProvider>();  // the default already is one (subclass)
  EXPECT_EQ(manager.DefaultProvider(), OtherFakeProvider::DefaultInstanceOfClass());
}

TEST(ProviderManager, DestroyedProviderLeavesTheList) {
  TOvCustomCryptoProviderManager manager;
  FakeProvider keep;
  {
    FakeProvider gone(Ops{{coHash, ALG_SHA1}});
    manager.RegisterProvider(&gone);
    manager.RegisterProvider(&keep);
    EXPECT_EQ(manager.DefaultProvider(), &gone);
  }
  EXPECT_EQ(manager.ProviderCount(), 1);
  EXPECT_EQ(manager.DefaultProvider(), nullptr);
  EXPECT_EQ(manager.Providers(0), &keep);
}

TEST(ProviderManager, DestroyedManagerClearsProviderReference) {
  FakeProvider provider;
  {
    TOvCustomCryptoProviderManager manager;
    manager.RegisterProvider(&provider);
    EXPECT_EQ(provider.Manager(), &manager);
  }
  EXPECT_EQ(provider.Manager(), nullptr);
}

TEST(ProviderManager, DefaultManagerUsesTheBuiltInProvider) {
  auto* manager = DefaultCryptoProviderManager();
  EXPECT_EQ(manager->DefaultProvider(), TOvBuiltInCryptoProvider::DefaultInstanceOfClass());
  EXPECT_TRUE(manager->IsAlgorithmSupported(ALG_SHA256, 0));
  EXPECT_TRUE(manager->IsAlgorithmSupportedByOID(oid::SHA256, {}, 0));
  EXPECT_FALSE(manager->IsAlgorithmSupported(ALG_MD4, 0));
  EXPECT_EQ(manager->GetAlgorithmProperty(ALG_SHA256, 0, PROP_DIGEST_SIZE), IntToBytes(256));
  EXPECT_EQ(manager->GetAlgorithmPropertyByOID(oid::SHA1, {}, 0, PROP_DIGEST_SIZE),
            IntToBytes(160));
  EXPECT_EQ(manager->GetAlgorithmProperty(ALG_MD4, 0, PROP_DIGEST_SIZE), "");
  EXPECT_EQ(manager->GetAlgorithmClass(ALG_SHA1), ALGCLASS_HASH);
  EXPECT_EQ(manager->GetAlgorithmClass(ALG_MD4), ALGCLASS_NONE);
  EXPECT_TRUE(manager->IsProviderAllowed(TOvBuiltInCryptoProvider::DefaultInstanceOfClass()));
}

TEST(ProviderManager, PublicKeyChoicePrefersAssignedThenKeyOwner) {
  FakeProvider assigned(Ops{{coSignDetached, ALG_RSA}});
  FakeProvider owner(Ops{{coSignDetached, ALG_RSA}});
  FakeProvider managed(Ops{{coSignDetached, ALG_RSA}});
  TOvCustomCryptoProviderManager manager;
  manager.RegisterProvider(&managed);

  class Material : public TOvKeyMaterial {
   public:
    explicit Material(TOvCustomCryptoKey* key) { SetKey(key); }
  } material(owner.CreateKey(ALG_RSA, 0, nullptr));

  EXPECT_EQ(
      ChoosePublicKeyProvider(coSignDetached, ALG_RSA, &assigned, &manager, &material, nullptr),
      &assigned);
  EXPECT_EQ(ChoosePublicKeyProvider(coSignDetached, ALG_RSA, nullptr, &manager, &material, nullptr),
            &owner);
  EXPECT_EQ(ChoosePublicKeyProvider(coSignDetached, ALG_RSA, nullptr, &manager, nullptr, nullptr),
            &managed);
  EXPECT_EQ(material.Algorithm(), ALG_RSA);
}

// ---------------------------------------------------------------------------
// Built-in provider

TEST(BuiltInProvider, OperationSupportRules) {
  TOvBuiltInCryptoProvider p;
  EXPECT_TRUE(p.IsOperationSupported(coNone, ALG_UNKNOWN, 0, nullptr, nullptr));
  EXPECT_TRUE(p.IsOperationSupported(coKeyless10, 12345, 0, nullptr, nullptr));
  EXPECT_FALSE(p.IsOperationSupported(coKeyless12, ALG_SHA1, 0, nullptr, nullptr));
  EXPECT_FALSE(p.IsOperationSupported(coSign, ALG_SHA1, 0, nullptr, nullptr));
  EXPECT_FALSE(p.IsOperationSupported(coVerify, ALG_SHA1, 0, nullptr, nullptr));
  EXPECT_TRUE(p.IsOperationSupported(coHash, ALG_SHA256, 0, nullptr, nullptr));
  EXPECT_TRUE(p.IsOperationSupported(coHash, ALG_HMAC_SHA256, 0, nullptr, nullptr));
  EXPECT_FALSE(p.IsOperationSupported(coHash, ALG_MD4, 0, nullptr, nullptr));
  EXPECT_TRUE(p.IsOperationSupportedByOID(coHash, oid::RIPEMD160, {}, 0, nullptr, nullptr));
  // Key generation needs a key object.
  EXPECT_FALSE(p.IsOperationSupported(coGenerateKey, ALG_HMAC_KEY, 0, nullptr, nullptr));
  TOvCustomCryptoKey* key = p.CreateKey(ALG_HMAC_KEY, 0, nullptr);
  EXPECT_TRUE(p.IsOperationSupported(coGenerateKey, ALG_HMAC_KEY, 0, key, nullptr));
  // RSA is the one public-key engine; other families are reported unsupported, never faked.
  EXPECT_TRUE(p.IsAlgorithmSupported(ALG_RSA, 0));
  EXPECT_FALSE(p.IsAlgorithmSupported(ALG_DSA, 0));
  // An RSA operation with a key that is not an RSA key of this provider.
  EXPECT_FALSE(p.IsOperationSupported(coSignDetached, ALG_RSA, 0, key, nullptr));
  EXPECT_EQ(MessageOf([&] { p.SignInit(ALG_RSA, key, true, nullptr); }), "Invalid key material");
  EXPECT_EQ(MessageOf([&] { p.SignInit(ALG_DSA, key, true, nullptr); }),
            "Unsupported algorithm (29698)");
  p.ReleaseKey(key);
}

TEST(BuiltInProvider, AlgorithmClassesAndProperties) {
  TOvBuiltInCryptoProvider p;
  EXPECT_EQ(p.GetAlgorithmClass(ALG_RC4), ALGCLASS_STREAM);
  EXPECT_EQ(p.GetAlgorithmClass(0x7002), ALGCLASS_BLOCK);
  EXPECT_EQ(p.GetAlgorithmClass(ALG_RSA), ALGCLASS_PUBLICKEY);
  EXPECT_EQ(p.GetAlgorithmClass(ALG_HMAC_SHA1), ALGCLASS_HASH);
  EXPECT_EQ(p.GetAlgorithmClassByOID(oid::SHA256_RSA, {}), ALGCLASS_PUBLICKEY);
  EXPECT_EQ(p.GetAlgorithmClass(ALG_UNKNOWN), ALGCLASS_NONE);
  EXPECT_EQ(BytesToInt(p.GetAlgorithmProperty(ALG_HMAC_SHA384, 0, PROP_DIGEST_SIZE), 0), 384);
  EXPECT_EQ(MessageOf([&] { p.GetAlgorithmProperty(ALG_SHA1, 0, PROP_BLOCK_SIZE); }),
            "Unknown algorithm property (" + PROP_BLOCK_SIZE + ")");
  EXPECT_EQ(MessageOf([&] { p.GetAlgorithmProperty(ALG_RSA, 0, PROP_DIGEST_SIZE); }),
            "Unsupported algorithm (29697)");
  EXPECT_EQ(MessageOf([&] {
              p.GetAlgorithmPropertyByOID(std::string("\x2A\x03\x04", 3), {}, 0, PROP_DIGEST_SIZE);
            }),
            "Unsupported algorithm (1.2.3.4)");
  EXPECT_EQ(MessageOf([&] { p.GetProviderProp(PROP_WINDOW_HANDLE, ""); }),
            "Unsupported property (" + PROP_WINDOW_HANDLE + ")");
  EXPECT_EQ(MessageOf([&] { p.CreateKey(ALG_DSA, 0, nullptr); }), "Unsupported algorithm (29698)");
}

TEST(BuiltInProvider, ReleaseKeyOfAnotherProviderChangesNothing) {
  TOvBuiltInCryptoProvider a, b;
  TOvCustomCryptoKey* key = a.CreateKey(ALG_HMAC_KEY, 0, nullptr);
  TOvCustomCryptoKey* alias = key;
  b.ReleaseKey(alias);
  EXPECT_EQ(alias, key);
  EXPECT_EQ(a.KeyCount(), 1u);
  EXPECT_EQ(b.KeyCount(), 0u);
  EXPECT_EQ(MessageOf([&] { b.CloneKey(key); }), "Invalid key material");
  a.ReleaseKey(key);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(a.KeyCount(), 0u);
}

TEST(BuiltInProvider, ObjectEventsAndCleanupOnDestruction) {
  int created = 0, destroyed = 0;
  {
    TOvBuiltInCryptoProvider p;
    p.OnObjectCreated = [&](TOvCustomCryptoProvider&, TOvCryptoProviderObject&) { ++created; };
    p.OnObjectDestroyed = [&](TOvCustomCryptoProvider&, TOvCryptoProviderObject&) { ++destroyed; };
    TOvCustomCryptoKey* key = p.CreateKey(ALG_HMAC_KEY, 0, nullptr);
    TOvCustomCryptoContext* ctx = p.HashInit(ALG_SHA1, nullptr, nullptr);
    p.HashInit(ALG_MD5, nullptr, nullptr);  // left for the destructor
    EXPECT_EQ(created, 3);
    p.ReleaseCryptoContext(ctx);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(destroyed, 1);
    (void)key;  // left for the destructor
  }
  EXPECT_EQ(destroyed, 3);
}

TEST(BuiltInProvider, HashContextRules) {
  TOvBuiltInCryptoProvider p, other;
  TOvCustomCryptoContext* ctx = p.HashInit(ALG_SHA256, nullptr, nullptr);
  EXPECT_EQ(ctx->GetAlgorithmClass(), ALGCLASS_HASH);
  EXPECT_EQ(ctx->GetDigestSize(), 256);
  EXPECT_EQ(ctx->EstimateOutputSize(1000), 32);
  EXPECT_EQ(MessageOf([&] { ctx->SetKeySize(1); }), "Cannot change read-only property");
  EXPECT_EQ(MessageOf([&] { ctx->SetMode(1); }), "Cannot change read-only property");
  EXPECT_EQ(MessageOf([&] { ctx->SetPadding(1); }), "Not a symmetric cipher context");
  EXPECT_EQ(MessageOf([&] { ctx->SetContextProp(PROP_HASH_ALGORITHM, IntToBytes(ALG_SHA1)); }),
            "The algorithm cannot be changed");
  EXPECT_EQ(ctx->GetContextProp(PROP_HASH_ALGORITHM, ""), IntToBytes(ALG_SHA256));
  EXPECT_EQ(MessageOf([&] { other.HashUpdate(ctx, "x", 1, nullptr); }), "Invalid context");
  size_t none = 0;
  EXPECT_EQ(MessageOf([&] { p.SignFinal(ctx, nullptr, none, nullptr); }), "Invalid context");
  p.HashUpdate(ctx, "ab", 2, nullptr);
  TOvCustomCryptoContext* copy = ctx->Clone(nullptr);
  p.HashUpdate(ctx, "c", 1, nullptr);
  p.HashUpdate(copy, "c", 1, nullptr);
  EXPECT_EQ(Hex(p.HashFinal(ctx, nullptr)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(p.HashFinal(copy, nullptr)),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  p.ReleaseCryptoContext(ctx);
  p.ReleaseCryptoContext(copy);
  EXPECT_EQ(p.ContextCount(), 0u);
}

TEST(BuiltInProvider, OneShotHashLeavesNoContext) {
  TOvBuiltInCryptoProvider p;
  EXPECT_EQ(Hex(p.Hash(ALG_SHA1, "abc", 3, nullptr, nullptr)),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(p.HashByOID(oid::MD5, {}, "abc", 3, nullptr, nullptr)),
            "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_THROW(p.Hash(ALG_HMAC_SHA1, "abc", 3, nullptr, nullptr), EOvHashFunctionError);
  EXPECT_EQ(p.ContextCount(), 0u);
}

TEST(BuiltInProvider, DecryptKeyWithoutEngineFails) {
  TOvBuiltInCryptoProvider p;
  TOvCustomCryptoKey* key = p.CreateKey(ALG_HMAC_KEY, 0, nullptr);
  EXPECT_EQ(MessageOf([&] {
              p.DecryptKey("x", 1, oid::RSA_ENCRYPTION, {}, key, oid::SHA1, {}, nullptr);
            }),
            "Decryption failed");
  p.ReleaseKey(key);
}

TEST(BuiltInProvider, MACKeyValueAndExport) {
  TOvBuiltInCryptoProvider p;
  TOvCustomCryptoKey* key = p.CreateKey(ALG_HMAC_KEY, 0, nullptr);
  EXPECT_FALSE(key->IsSecret());
  key->Generate(256, nullptr);
  EXPECT_EQ(key->KeyBits(), 256);
  size_t size = 0;
  key->ExportSecret(nullptr, size, nullptr);
  EXPECT_EQ(size, 32u);
  std::string out(10, '\0');
  size = out.size();
  EXPECT_EQ(MessageOf([&] { key->ExportSecret(out.data(), size, nullptr); }), "Buffer too small");
  TOvCustomCryptoKey* copy = key->Clone(nullptr);
  EXPECT_TRUE(copy->Equals(*key, false, nullptr));
  p.ReleaseKey(copy);
  p.ReleaseKey(key);
}

TEST(BuiltInProvider, RandomGenerateBelow) {
  TOvBuiltInCryptoProvider p;
  bool high = false;
  for (int i = 0; i < 200; ++i) {
    EXPECT_LT(p.RandomGenerateBelow(10), 10u);
    // Maximum 0 returns the raw 32-bit value, so large values appear.
    high = high || p.RandomGenerateBelow(0) > 0x7FFFFFFFu;
  }
  EXPECT_TRUE(high);
  std::string a(32, '\0'), b(32, '\0');
  p.RandomGenerate(a.data(), a.size());
  p.RandomInit("seed", 4, nullptr);
  p.RandomGenerate(b.data(), b.size());
  EXPECT_NE(a, b);
}

// ---------------------------------------------------------------------------
// One-shot operations of the base class

TEST(OneShot, SignWithoutBufferReturnsEstimateAndLeavesNoContext) {
  FakeProvider p;
  TOvCustomCryptoKey* key = p.CreateKey(ALG_RSA, 0, nullptr);
  size_t size = 0;
  p.Sign(ALG_RSA, key, true, "data", 4, nullptr, size, nullptr);
  EXPECT_EQ(size, 128u);
  EXPECT_EQ(p.Contexts(), 0u);
  std::string out(size, '\0');
  p.Sign(ALG_RSA, key, true, "data", 4, out.data(), size, nullptr);
  EXPECT_EQ(size, 64u);
  EXPECT_EQ(out.substr(0, 64), std::string(64, 'S'));
  EXPECT_EQ(p.Contexts(), 0u);
  size = 10;
  EXPECT_EQ(MessageOf([&] { p.Sign(ALG_RSA, key, true, "data", 4, out.data(), size, nullptr); }),
            "Buffer too small");
  EXPECT_EQ(p.Contexts(), 0u);
}

TEST(OneShot, VerifyWithoutBufferReturnsThree) {
  FakeProvider p;
  size_t size = 0;
  EXPECT_EQ(p.Verify(ALG_RSA, nullptr, "data", 4, nullptr, size, nullptr), VERIFY_OTHER3);
  EXPECT_EQ(size, 128u);
  EXPECT_EQ(p.VerifyDetached(ALG_RSA, nullptr, "data", 4, "sig", 3, nullptr), VERIFY_VALID);
  EXPECT_EQ(p.Contexts(), 0u);
}

TEST(ProviderBase, OptionsAndIdentifiers) {
  TOvCustomCryptoProviderOptions options;
  EXPECT_EQ(options.MaxPublicKeySize, 8192);
  TOvCustomCryptoProviderOptions other;
  other.MaxPublicKeySize = 4096;
  options.Assign(other);
  EXPECT_EQ(options.MaxPublicKeySize, 4096);
  options.Reset();
  EXPECT_EQ(options.MaxPublicKeySize, 8192);
  EXPECT_EQ(PROP_HASH_ALGORITHM, std::string("hash-algorithm@") + CV_VENDOR_SUFFIX);
  FakeProvider p;
  EXPECT_TRUE(p.Enabled());
  EXPECT_EQ(p.Options().MaxPublicKeySize, 8192);
  class Bare : public TOvKeyMaterial {
  } bare;
  EXPECT_EQ(bare.Algorithm(), ALG_UNKNOWN);
}

}  // namespace
}  // namespace corvane
