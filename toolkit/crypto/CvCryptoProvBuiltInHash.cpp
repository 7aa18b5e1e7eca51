#include "toolkit/crypto/CvCryptoProvBuiltInHash.h"

#include <cstring>

#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvGOSTHash.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvRIPEMD.h"
#include "toolkit/crypto/CvSHA.h"
#include "toolkit/crypto/CvSHA2.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Engines over the digest modules

class TOvBuiltInHashFunction::Engine {
 public:
  virtual ~Engine() = default;
  virtual void Update(const void* data, size_t size) = 0;
  virtual ByteString Finish() = 0;
  virtual std::unique_ptr<Engine> Clone() const = 0;
  virtual size_t DigestSize() const = 0;
  // Any data hashed yet.
  virtual bool Started() const = 0;
  // Only the GOST engine takes a substitution box.
  virtual bool SetSBox(const TGOST28147SBox&) { return false; }
};

namespace {

using Engine = TOvBuiltInHashFunction::Engine;

template <typename State, void (*InitFn)(State&), void (*UpdateFn)(State&, const void*, size_t),
          void (*FinishFn)(State&, uint8_t*), size_t kSize>
class ModuleEngine final : public Engine {
 public:
  ModuleEngine() { InitFn(state_); }
  void Update(const void* data, size_t size) override {
    started_ = started_ || size > 0;
    UpdateFn(state_, data, size);
  }
  ByteString Finish() override {
    ByteString digest(kSize, '\0');
    FinishFn(state_, reinterpret_cast<uint8_t*>(digest.data()));
    return digest;
  }
  std::unique_ptr<Engine> Clone() const override { return std::make_unique<ModuleEngine>(*this); }
  size_t DigestSize() const override { return kSize; }
  bool Started() const override { return started_; }

 private:
  State state_;
  bool started_ = false;
};

// The digest modules take fixed-size arrays; these adapters give them one shape.
void Md2Finish(TMD2State& s, uint8_t* d) { MD2Finish(s, d); }
void Md5Finish(TMD5State& s, uint8_t* d) { MD5Finish(s, d); }
void Sha1Finish(TSHA1State& s, uint8_t* d) { SHA1Finish(s, d); }
void Ripemd160Finish(TRIPEMD160State& s, uint8_t* d) { RIPEMD160Finish(s, d); }

using MD2Engine = ModuleEngine<TMD2State, MD2Init, MD2Update, Md2Finish, 16>;
using MD5Engine = ModuleEngine<TMD5State, MD5Init, MD5Update, Md5Finish, 16>;
using SHA1Engine = ModuleEngine<TSHA1State, SHA1Init, SHA1Update, Sha1Finish, 20>;
using SHA224Engine = ModuleEngine<TSHA256State, SHA224Init, SHA256Update, SHA256Finish, 28>;
using SHA256Engine = ModuleEngine<TSHA256State, SHA256Init, SHA256Update, SHA256Finish, 32>;
using SHA384Engine = ModuleEngine<TSHA512State, SHA384Init, SHA512Update, SHA512Finish, 48>;
using SHA512Engine = ModuleEngine<TSHA512State, SHA512Init, SHA512Update, SHA512Finish, 64>;
using RIPEMD160Engine =
    ModuleEngine<TRIPEMD160State, RIPEMD160Init, RIPEMD160Update, Ripemd160Finish, 20>;

// SSL 3.0 handshake hash: the MD5 digest followed by the SHA-1 digest.
class SSL3Engine final : public Engine {
 public:
  void Update(const void* data, size_t size) override {
    md5_.Update(data, size);
    sha1_.Update(data, size);
  }
  ByteString Finish() override { return md5_.Finish() + sha1_.Finish(); }
  std::unique_ptr<Engine> Clone() const override { return std::make_unique<SSL3Engine>(*this); }
  size_t DigestSize() const override { return 36; }
  bool Started() const override { return md5_.Started(); }

 private:
  MD5Engine md5_;
  SHA1Engine sha1_;
};

// GOST R 34.11-94; the CryptoPro parameter set unless another one is chosen.
class GOSTEngine final : public Engine {
 public:
  GOSTEngine() { GOSTR341194Init(state_, GOSTR341194CryptoProParamSet()); }
  void Update(const void* data, size_t size) override {
    started_ = started_ || size > 0;
    GOSTR341194Update(state_, data, size);
  }
  ByteString Finish() override {
    ByteString digest(GOSTR341194_DIGEST_SIZE, '\0');
    GOSTR341194Finish(state_, reinterpret_cast<uint8_t*>(digest.data()));
    return digest;
  }
  std::unique_ptr<Engine> Clone() const override { return std::make_unique<GOSTEngine>(*this); }
  size_t DigestSize() const override { return GOSTR341194_DIGEST_SIZE; }
  bool Started() const override { return started_; }
  bool SetSBox(const TGOST28147SBox& sbox) override {
    if (started_) return false;
    GOSTR341194Init(state_, sbox);
    return true;
  }

 private:
  TGOSTR341194State state_;
  bool started_ = false;
};

std::unique_ptr<Engine> MakeEngine(int32_t algorithm) {
  switch (algorithm) {
    case ALG_MD2:
      return std::make_unique<MD2Engine>();
    case ALG_MD5:
      return std::make_unique<MD5Engine>();
    case ALG_SHA1:
      return std::make_unique<SHA1Engine>();
    case ALG_SHA224:
      return std::make_unique<SHA224Engine>();
    case ALG_SHA256:
      return std::make_unique<SHA256Engine>();
    case ALG_SHA384:
      return std::make_unique<SHA384Engine>();
    case ALG_SHA512:
      return std::make_unique<SHA512Engine>();
    case ALG_RIPEMD160:
      return std::make_unique<RIPEMD160Engine>();
    case ALG_SSL3_HASH:
      return std::make_unique<SSL3Engine>();
    case ALG_GOST3411_94:
      return std::make_unique<GOSTEngine>();
    default:
      return nullptr;
  }
}

// The hash under each HMAC code.
int32_t HMACInnerAlgorithm(int32_t algorithm) {
  switch (algorithm) {
    case ALG_HMAC_SHA1:
      return ALG_SHA1;
    case ALG_HMAC_SHA224:
      return ALG_SHA224;
    case ALG_HMAC_SHA256:
      return ALG_SHA256;
    case ALG_HMAC_SHA384:
      return ALG_SHA384;
    case ALG_HMAC_SHA512:
      return ALG_SHA512;
    case ALG_HMAC_MD5:
      return ALG_MD5;
    case ALG_HMAC_RIPEMD160:
      return ALG_RIPEMD160;
    default:
      return ALG_UNKNOWN;
  }
}

[[noreturn]] void Unsupported(int32_t algorithm) {
  throw EOvHashFunctionUnsupportedError(FormatUnsupportedAlgorithm(algorithm));
}

}  // namespace

// ---------------------------------------------------------------------------

int32_t TOvBuiltInHashFunction::DigestSizeBits(int32_t algorithm) {
  switch (algorithm) {
    case ALG_SHA1:
      return 160;
    case ALG_MD5:
    case ALG_MD2:
      return 128;
    case ALG_SHA256:
      return 256;
    case ALG_SHA384:
      return 384;
    case ALG_SHA512:
      return 512;
    case ALG_SHA224:
      return 224;
    case ALG_RIPEMD160:
      return 160;
    case ALG_HASH_32BIT:
      return 32;
    case ALG_SSL3_HASH:
      return 288;
    case ALG_GOST3411_94:
      return 256;
    case ALG_HMAC_SHA1:
      return 160;
    case ALG_HMAC_SHA224:
      return 224;
    case ALG_HMAC_SHA256:
      return 256;
    case ALG_HMAC_SHA384:
      return 384;
    case ALG_HMAC_SHA512:
      return 512;
    case ALG_HMAC_MD5:
      return 128;
    case ALG_HMAC_RIPEMD160:
      return 160;
    case ALG_UMAC32:
      return 32;
    case ALG_UMAC64:
      return 64;
    case ALG_UMAC96:
      return 96;
    case ALG_UMAC128:
      return 128;
    case ALG_GOST28147_MAC:
      return 64;
    default:
      return 0;
  }
}

bool TOvBuiltInHashFunction::IsMACAlgorithm(int32_t algorithm) {
  return AlgorithmFamily(algorithm) == ALG_FAMILY_MAC;
}

bool TOvBuiltInHashFunction::IsAlgorithmSupported(int32_t algorithm) {
  if (HMACInnerAlgorithm(algorithm) != ALG_UNKNOWN) return true;
  switch (algorithm) {
    case ALG_MD2:
    case ALG_MD5:
    case ALG_SHA1:
    case ALG_SHA224:
    case ALG_SHA256:
    case ALG_SHA384:
    case ALG_SHA512:
    case ALG_RIPEMD160:
    case ALG_SSL3_HASH:
    case ALG_GOST3411_94:
      return true;
    default:
      return false;
  }
}

TOvBuiltInHashFunction::TOvBuiltInHashFunction(int32_t algorithm, const TOvCustomCryptoKey* key)
    : algorithm_(algorithm) {
  if (DigestSizeBits(algorithm) == 0) Unsupported(algorithm);
  inner_algorithm_ = HMACInnerAlgorithm(algorithm);
  if (inner_algorithm_ == ALG_UNKNOWN) {
    // Plain hashes; UMAC, the GOST MAC and the 32-bit code have no engine here.
    engine_ = MakeEngine(algorithm);
    if (!engine_) Unsupported(algorithm);
    return;
  }
  const auto* macKey = dynamic_cast<const TOvBuiltInMACKey*>(key);
  if (macKey == nullptr) throw EOvHashFunctionError("Invalid key material");
  // RFC 2104 section 2: keys longer than the block are hashed first; the key
  // is zero-padded to the block and XORed with 0x36 (inner) and 0x5C (outer).
  const size_t block =
      (inner_algorithm_ == ALG_SHA384 || inner_algorithm_ == ALG_SHA512) ? 128 : 64;
  ByteString k = macKey->GetValue();
  if (k.size() > block) {
    auto hasher = MakeEngine(inner_algorithm_);
    hasher->Update(k.data(), k.size());
    k = hasher->Finish();
  }
  k.resize(block, '\0');
  ByteString inner(block, '\0');
  outer_pad_.assign(block, '\0');
  for (size_t i = 0; i < block; ++i) {
    inner[i] = static_cast<char>(k[i] ^ 0x36);
    outer_pad_[i] = static_cast<char>(k[i] ^ 0x5C);
  }
  engine_ = MakeEngine(inner_algorithm_);
  engine_->Update(inner.data(), inner.size());
  // Wipe the key copies that are not needed any more.
  std::memset(k.data(), 0, k.size());
  std::memset(inner.data(), 0, inner.size());
}

TOvBuiltInHashFunction::~TOvBuiltInHashFunction() {
  if (!outer_pad_.empty()) std::memset(outer_pad_.data(), 0, outer_pad_.size());
}

std::unique_ptr<TOvBuiltInHashFunction> TOvBuiltInHashFunction::CreateByOID(
    std::string_view oid, const TOvCustomCryptoKey* key) {
  return std::make_unique<TOvBuiltInHashFunction>(AlgorithmByOID(oid), key);
}

size_t TOvBuiltInHashFunction::DigestSize() const {
  return static_cast<size_t>(DigestSizeBits(algorithm_) / 8);
}

void TOvBuiltInHashFunction::Update(const void* data, size_t size) { engine_->Update(data, size); }

ByteString TOvBuiltInHashFunction::Finish() {
  ByteString digest = engine_->Finish();
  if (inner_algorithm_ == ALG_UNKNOWN) return digest;
  auto outer = MakeEngine(inner_algorithm_);
  outer->Update(outer_pad_.data(), outer_pad_.size());
  outer->Update(digest.data(), digest.size());
  return outer->Finish();
}

std::unique_ptr<TOvBuiltInHashFunction> TOvBuiltInHashFunction::Clone() const {
  std::unique_ptr<TOvBuiltInHashFunction> copy(new TOvBuiltInHashFunction());
  copy->algorithm_ = algorithm_;
  copy->engine_ = engine_->Clone();
  copy->outer_pad_ = outer_pad_;
  copy->inner_algorithm_ = inner_algorithm_;
  return copy;
}

void TOvBuiltInHashFunction::SetProperty(std::string_view name, std::string_view value) {
  TGOST28147SBox sbox;
  if (name == PROP_GOST3411_PARAMSET) {
    if (value == OID_GOST3411_TEST_PARAMSET) {
      sbox = GOSTR341194TestParamSet();
    } else if (value == OID_GOST3411_CRYPTOPRO_PARAMSET) {
      sbox = GOSTR341194CryptoProParamSet();
    } else {
      throw EOvHashFunctionError("Invalid property value");
    }
  } else if (name == PROP_GOST3411_PARAMETERS) {
    if (!GOST28147SBoxFromHex(value, sbox)) throw EOvHashFunctionError("Invalid property value");
  } else {
    return;
  }
  // Only the GOST engine has a parameter set, and only before any data.
  if (!engine_->SetSBox(sbox)) throw EOvHashFunctionError("Invalid property value");
}

// ---------------------------------------------------------------------------
// MAC key

TOvBuiltInMACKey::TOvBuiltInMACKey(TOvCustomCryptoProvider* provider, int32_t algorithm)
    : TOvCustomCryptoKey(provider), algorithm_(algorithm) {}

void TOvBuiltInMACKey::Generate(int32_t bits, TOvCryptoParams) {
  if (bits <= 0 || bits % 8 != 0) throw EOvCryptoKeyError("Invalid key material");
  ByteString value(static_cast<size_t>(bits / 8), '\0');
  Provider()->RandomGenerate(value.data(), value.size());
  value_ = std::move(value);
}

void TOvBuiltInMACKey::ImportSecret(const void* data, size_t size, TOvCryptoParams) {
  value_.assign(static_cast<const char*>(data), size);
}

void TOvBuiltInMACKey::ExportSecret(void* buffer, size_t& size, TOvCryptoParams) {
  const size_t needed = value_.empty() ? 1 : value_.size();
  if (buffer == nullptr) {
    size = needed;
    return;
  }
  if (size < value_.size()) throw EOvCryptoKeyError("Buffer too small");
  std::memcpy(buffer, value_.data(), value_.size());
  size = value_.size();
}

TOvCustomCryptoKey* TOvBuiltInMACKey::Clone(TOvCryptoParams) { return Provider()->CloneKey(this); }

ByteString TOvBuiltInMACKey::GetKeyProp(std::string_view, std::string_view defaultValue) {
  return ByteString(defaultValue);
}

void TOvBuiltInMACKey::SetKeyProp(std::string_view, std::string_view) {}

bool TOvBuiltInMACKey::Equals(const TOvCustomCryptoKey& other, bool, TOvCryptoParams) {
  const auto* mac = dynamic_cast<const TOvBuiltInMACKey*>(&other);
  return mac != nullptr && mac->value_ == value_;
}

}  // namespace corvane
