#include "toolkit/crypto/CvCryptoProvBuiltIn.h"

#include <algorithm>
#include <cstring>

#include "platform/PlatformSystem.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProvBuiltInPKI.h"
#include "toolkit/crypto/CvDER.h"
#include "toolkit/crypto/CvCryptoProvManager.h"

namespace corvane {

namespace {

// A symmetric code that the built-in provider always reports as supported.
constexpr int32_t kAlwaysSupportedSymmetric = 0x7022;

[[noreturn]] void Raise(const std::string& message) {
  throw EOvBuiltInCryptoProviderError(message);
}

// RSA is the only public-key engine compiled in; the signing path needs no other.
bool PublicKeyEngineAvailable(int32_t algorithm) { return algorithm == ALG_RSA; }

void ApplyContextParams(TOvCustomCryptoContext& context, TOvCryptoParams params) {
  if (params == nullptr) return;
  for (int i = 0; i < params->Count(); ++i)
    context.SetContextProp(params->Types(i), params->Values(i));
}

void ApplyKeyParams(TOvCustomCryptoKey& key, TOvCryptoParams params) {
  if (params == nullptr) return;
  for (int i = 0; i < params->Count(); ++i) key.SetKeyProp(params->Types(i), params->Values(i));
}

// Tick count (4 bytes, little-endian) and time (8-byte day count), four times.
std::string TickAndTimeBytes() {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const uint32_t tick = static_cast<uint32_t>(platform::GetTickCount());
    const double now = NowUTC();
    char buf[12];
    for (int b = 0; b < 4; ++b) buf[b] = static_cast<char>(tick >> (8 * b));
    std::memcpy(buf + 4, &now, 8);
    out.append(buf, sizeof buf);
  }
  return out;
}

// The tick count and the clock are guessable; the kernel's random source is
// mixed in as well, so keys and blinding values never depend on them alone.
void MixSystemEntropy(TOvRandom& random) {
  std::string bytes(64, '\0');
  if (platform::SystemRandomBytes(bytes.data(), bytes.size())) random.Mix(bytes);
  std::memset(bytes.data(), 0, bytes.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// Hash context

TOvBuiltInHashContext::TOvBuiltInHashContext(TOvCustomCryptoProvider* provider,
                                             std::unique_ptr<TOvBuiltInHashFunction> function)
    : TOvCustomCryptoContext(provider), function_(std::move(function)) {}

void TOvBuiltInHashContext::SetKeySize(int32_t) { Raise("Cannot change read-only property"); }
void TOvBuiltInHashContext::SetBlockSize(int32_t) { Raise("Cannot change read-only property"); }
void TOvBuiltInHashContext::SetDigestSize(int32_t) { Raise("Cannot change read-only property"); }
void TOvBuiltInHashContext::SetMode(int32_t) { Raise("Cannot change read-only property"); }
void TOvBuiltInHashContext::SetPadding(int32_t) { Raise("Not a symmetric cipher context"); }

ByteString TOvBuiltInHashContext::GetContextProp(std::string_view name,
                                                 std::string_view defaultValue) {
  if (name == PROP_HASH_ALGORITHM) return IntToBytes(function_->Algorithm());
  if (name == PROP_DIGEST_SIZE) return IntToBytes(GetDigestSize());
  return ByteString(defaultValue);
}

void TOvBuiltInHashContext::SetContextProp(std::string_view name, std::string_view value) {
  if (name == PROP_HASH_ALGORITHM) {
    if (BytesToInt(value, ALG_UNKNOWN) != function_->Algorithm())
      Raise("The algorithm cannot be changed");
    return;
  }
  // The GOST parameter set goes to the engine; other properties do not
  // concern hashing.
  function_->SetProperty(name, value);
}

TOvCustomCryptoContext* TOvBuiltInHashContext::Clone(TOvCryptoParams params) {
  auto* provider = dynamic_cast<TOvBuiltInCryptoProvider*>(Provider());
  if (provider == nullptr) Raise("Invalid context");
  return provider->AdoptHashContext(
      std::make_unique<TOvBuiltInHashContext>(provider, function_->Clone()), params);
}

int64_t TOvBuiltInHashContext::EstimateOutputSize(int64_t) {
  return static_cast<int64_t>(function_->DigestSize());
}

// ---------------------------------------------------------------------------
// Provider

TOvBuiltInCryptoProvider::TOvBuiltInCryptoProvider() { Setup(); }

TOvBuiltInCryptoProvider::~TOvBuiltInCryptoProvider() { Teardown(); }

TOvBuiltInCryptoProvider* TOvBuiltInCryptoProvider::DefaultInstanceOfClass() {
  static TOvBuiltInCryptoProvider instance;
  return &instance;
}

void TOvBuiltInCryptoProvider::Init() {
  TOvWriteLock guard(random_lock_);
  random_ = std::make_unique<TOvRandom>();
  MixSystemEntropy(*random_);
}

void TOvBuiltInCryptoProvider::Deinit() {
  TOvWriteLock guard(random_lock_);
  random_.reset();
}

void TOvBuiltInCryptoProvider::SetAsDefault() {
  DefaultCryptoProviderManager()->SetDefaultProviderByClass<TOvBuiltInCryptoProvider>();
}

TOvCustomCryptoProvider* TOvBuiltInCryptoProvider::GetDefaultInstance() {
  return DefaultInstanceOfClass();
}

bool TOvBuiltInCryptoProvider::IsAlgorithmSupported(int32_t algorithm, int32_t) {
  switch (AlgorithmFamily(algorithm)) {
    case ALG_FAMILY_SYMMETRIC:
      return algorithm == kAlwaysSupportedSymmetric;
    case ALG_FAMILY_HASH:
    case ALG_FAMILY_MAC:
      return algorithm == ALG_HMAC_KEY || TOvBuiltInHashFunction::IsAlgorithmSupported(algorithm);
    case ALG_FAMILY_PUBLICKEY:
      return PublicKeyEngineAvailable(algorithm);
    default:
      return false;
  }
}

bool TOvBuiltInCryptoProvider::IsAlgorithmSupportedByOID(std::string_view oid, std::string_view,
                                                         int32_t mode) {
  return IsAlgorithmSupported(AlgorithmByOID(oid, true), mode);
}

bool TOvBuiltInCryptoProvider::IsOperationSupported(TCvCryptoOperation operation, int32_t algorithm,
                                                    int32_t mode, const TOvCustomCryptoKey* key,
                                                    TOvCryptoParams) {
  if (operation == coNone || operation == coKeyless10) return true;
  if (operation == coKeyless12 || operation == coSign || operation == coVerify) return false;
  if (!IsAlgorithmSupported(algorithm, mode)) return false;
  switch (operation) {
    case coEncrypt:
    case coDecrypt:
    case coSignDetached:
    case coVerifyDetached:
    case coGenerateKey:
    case coDecryptKey:
      if (key == nullptr) return false;
      break;
    default:
      break;
  }
  if (operation == coDecrypt || operation == coSignDetached || operation == coDecryptKey) {
    if (!key->IsSecret() || !key->IsExportable()) return false;
  }
  if ((algorithm == ALG_DSA || algorithm == ALG_ECDSA) &&
      (operation == coEncrypt || operation == coDecrypt)) {
    return false;
  }
  // Keys of other providers (a key store's, say) keep their secret part to
  // themselves; their public part serves verification and encryption here.
  if (key != nullptr && algorithm == ALG_RSA &&
      dynamic_cast<const TOvBuiltInRSACryptoKey*>(key) == nullptr &&
      operation != coVerifyDetached && operation != coEncrypt) {
    return false;
  }
  return true;
}

bool TOvBuiltInCryptoProvider::IsOperationSupportedByOID(TCvCryptoOperation operation,
                                                         std::string_view oid, std::string_view,
                                                         int32_t mode,
                                                         const TOvCustomCryptoKey* key,
                                                         TOvCryptoParams params) {
  return IsOperationSupported(operation, AlgorithmByOID(oid, true), mode, key, params);
}

ByteString TOvBuiltInCryptoProvider::GetAlgorithmProperty(int32_t algorithm, int32_t,
                                                          std::string_view name) {
  const int32_t family = AlgorithmFamily(algorithm);
  if (family == ALG_FAMILY_HASH || family == ALG_FAMILY_MAC) {
    const int32_t bits = TOvBuiltInHashFunction::DigestSizeBits(algorithm);
    if (bits == 0) Raise(FormatUnsupportedAlgorithm(algorithm));
    if (name != PROP_DIGEST_SIZE) Raise("Unknown algorithm property (" + std::string(name) + ")");
    return IntToBytes(bits);
  }
  // No symmetric engines: "default-key-size" and "block-size" have nothing to describe.
  Raise(FormatUnsupportedAlgorithm(algorithm));
}

ByteString TOvBuiltInCryptoProvider::GetAlgorithmPropertyByOID(std::string_view oid,
                                                               std::string_view, int32_t mode,
                                                               std::string_view name) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  return GetAlgorithmProperty(algorithm, mode, name);
}

int32_t TOvBuiltInCryptoProvider::GetAlgorithmClass(int32_t algorithm) {
  switch (AlgorithmFamily(algorithm)) {
    case ALG_FAMILY_SYMMETRIC:
      return (algorithm == ALG_RC4 || algorithm == 0x700A) ? ALGCLASS_STREAM : ALGCLASS_BLOCK;
    case ALG_FAMILY_PUBLICKEY:
      return ALGCLASS_PUBLICKEY;
    case ALG_FAMILY_HASH:
    case ALG_FAMILY_MAC:
      return ALGCLASS_HASH;
    default:
      return ALGCLASS_NONE;
  }
}

int32_t TOvBuiltInCryptoProvider::GetAlgorithmClassByOID(std::string_view oid, std::string_view) {
  return GetAlgorithmClass(AlgorithmByOID(oid, true));
}

// ---------------------------------------------------------------------------
// Keys

TOvCustomCryptoKey* TOvBuiltInCryptoProvider::CreateKey(int32_t algorithm, int32_t mode,
                                                        TOvCryptoParams params) {
  std::unique_ptr<TOvCustomCryptoKey> key;
  if (AlgorithmFamily(algorithm) == ALG_FAMILY_MAC &&
      (algorithm == ALG_HMAC_KEY || TOvBuiltInHashFunction::IsAlgorithmSupported(algorithm))) {
    key = std::make_unique<TOvBuiltInMACKey>(this, algorithm);
  } else if (algorithm == ALG_RSA) {
    key = std::make_unique<TOvBuiltInRSACryptoKey>(this);
  } else {
    Raise(FormatUnsupportedAlgorithm(algorithm));
  }
  key->SetMode(mode);
  ApplyKeyParams(*key, params);
  return AddKey(std::move(key));
}

TOvCustomCryptoKey* TOvBuiltInCryptoProvider::CreateKeyByOID(std::string_view oid, std::string_view,
                                                             TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  return CreateKey(algorithm, 0, params);
}

TOvCustomCryptoKey* TOvBuiltInCryptoProvider::CloneKey(TOvCustomCryptoKey* key) {
  if (!OwnsKey(key)) Raise("Invalid key material");
  if (const auto* mac = dynamic_cast<const TOvBuiltInMACKey*>(key)) {
    auto copy = std::make_unique<TOvBuiltInMACKey>(this, mac->Algorithm());
    copy->SetMode(mac->GetMode());
    copy->SetValue(mac->GetValue());
    return AddKey(std::move(copy));
  }
  if (dynamic_cast<TOvBuiltInRSACryptoKey*>(key) != nullptr) return key->Clone(nullptr);
  Raise(FormatUnsupportedAlgorithm(key->Algorithm()));
}

void TOvBuiltInCryptoProvider::ReleaseKey(TOvCustomCryptoKey*& key) { RemoveKey(key); }

// Built-in keys live only in memory, so deleting one is releasing it.
void TOvBuiltInCryptoProvider::DeleteKey(TOvCustomCryptoKey*& key) { RemoveKey(key); }

TOvCustomCryptoKey* TOvBuiltInCryptoProvider::DecryptKey(
    const void* encryptedKey, size_t size, std::string_view algOID, std::string_view algParams,
    TOvCustomCryptoKey* key, std::string_view keyAlgOID, std::string_view keyAlgParams,
    TOvCryptoParams params) {
  if (!IsOperationSupportedByOID(coDecryptKey, algOID, algParams, 0, key, params))
    Raise("Decryption failed");
  size_t needed = 0;
  DecryptByOID(algOID, algParams, 0, key, encryptedKey, size, nullptr, needed, params);
  std::string plain(needed, '\0');
  size_t written = plain.size();
  DecryptByOID(algOID, algParams, 0, key, encryptedKey, size, plain.data(), written, params);
  plain.resize(written);
  TOvCustomCryptoKey* result = CreateKeyByOID(keyAlgOID, keyAlgParams, params);
  try {
    result->SetValue(plain);
  } catch (...) {
    std::memset(plain.data(), 0, plain.size());
    ReleaseKey(result);
    throw;
  }
  std::memset(plain.data(), 0, plain.size());
  return result;
}

// ---------------------------------------------------------------------------
// Cipher and signature contexts: RSA is the only engine.

namespace {

// The scheme settings an RSA algorithm OID (with its parameters) carries.
void ApplyOIDSettings(TOvBuiltInRSAContext& context, std::string_view oidBytes,
                      std::string_view algParams) {
  const std::string whole = DERSequence(DERTLV(DER_OID, oidBytes) + std::string(algParams));
  try {
    if (oidBytes == oid::RSASSA_PSS) {
      TOvRSAPSSAlgorithmIdentifier id;
      if (!algParams.empty()) id.LoadFromBytes(whole);
      context.SetPSSParameters(id.HashAlgorithm(), id.SaltSize(), id.TrailerField(),
                               id.MGFAlgorithm());
    } else if (oidBytes == oid::RSAES_OAEP) {
      TOvRSAOAEPAlgorithmIdentifier id;
      if (!algParams.empty()) id.LoadFromBytes(whole);
      context.SetOAEPParameters(id.HashAlgorithm(), id.MGFAlgorithm(), id.StrLabel());
    }
  } catch (const EOvAlgorithmIdentifierError&) {
    Raise("Invalid algorithm");
  }
}

void CopyOut(const ByteString& bytes, void* output, size_t& outputSize) {
  if (output == nullptr) {
    outputSize = std::max<size_t>(1, bytes.size());
    return;
  }
  if (outputSize < bytes.size()) Raise("Buffer too small");
  std::memcpy(output, bytes.data(), bytes.size());
  outputSize = bytes.size();
}

}  // namespace

TOvCustomCryptoContext* TOvBuiltInCryptoProvider::NewRSAContext(
    int kind, int32_t algorithm, TOvCustomCryptoKey* key, std::string_view oidBytes,
    std::string_view algParams, std::string_view signature, TOvCryptoParams params) {
  if (algorithm != ALG_RSA) Raise(FormatUnsupportedAlgorithm(algorithm));
  auto* rsaKey = dynamic_cast<TOvBuiltInRSACryptoKey*>(key);
  std::unique_ptr<TOvBuiltInRSACryptoKey> publicCopy;
  if (rsaKey == nullptr && key != nullptr && key->Algorithm() == ALG_RSA &&
      (kind == pkcVerify || kind == pkcEncrypt)) {
    publicCopy = std::make_unique<TOvBuiltInRSACryptoKey>(this);
    publicCopy->SetKeyProp(PROP_RSA_M, key->GetKeyProp(PROP_RSA_M, {}));
    publicCopy->SetKeyProp(PROP_RSA_E, key->GetKeyProp(PROP_RSA_E, {}));
    rsaKey = publicCopy.get();
  } else if (rsaKey == nullptr || !OwnsKey(key)) {
    Raise("Invalid key material");
  }
  if (!rsaKey->IsPublic()) Raise("Bad key material");
  const int32_t hashFromOID =
      oidBytes.empty() ? ALG_UNKNOWN : HashOfSignatureAlgorithm(AlgorithmByOID(oidBytes), ALG_RSA);
  auto context = std::make_unique<TOvBuiltInRSAContext>(
      this, static_cast<TCvPublicKeyContextKind>(kind), rsaKey, hashFromOID);
  if (publicCopy) context->AdoptPublicCopy(std::move(publicCopy));
  if (!oidBytes.empty()) ApplyOIDSettings(*context, oidBytes, algParams);
  context->SetSignature(signature);
  // Parameters go in before the context is listed, so a failing one leaves nothing behind.
  ApplyContextParams(*context, params);
  return AddContext(std::move(context));
}

TOvBuiltInRSAContext& TOvBuiltInCryptoProvider::RSAContextOf(TOvCustomCryptoContext* context,
                                                             int kind) {
  auto* rsa = dynamic_cast<TOvBuiltInRSAContext*>(context);
  if (rsa == nullptr || rsa->Provider() != this || rsa->Kind() != kind) Raise("Invalid context");
  return *rsa;
}

TOvCustomCryptoContext* TOvBuiltInCryptoProvider::EncryptInit(int32_t algorithm, int32_t,
                                                              TOvCustomCryptoKey* key,
                                                              TOvCryptoParams params) {
  return NewRSAContext(pkcEncrypt, algorithm, key, {}, {}, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::EncryptInitByOID(std::string_view oid,
                                                                   std::string_view algParams,
                                                                   int32_t, TOvCustomCryptoKey* key,
                                                                   TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  return NewRSAContext(pkcEncrypt, algorithm, key, oid, algParams, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::DecryptInit(int32_t algorithm, int32_t,
                                                              TOvCustomCryptoKey* key,
                                                              TOvCryptoParams params) {
  return NewRSAContext(pkcDecrypt, algorithm, key, {}, {}, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::DecryptInitByOID(std::string_view oid,
                                                                   std::string_view algParams,
                                                                   int32_t, TOvCustomCryptoKey* key,
                                                                   TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  return NewRSAContext(pkcDecrypt, algorithm, key, oid, algParams, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::SignInit(int32_t algorithm,
                                                           TOvCustomCryptoKey* key, bool detached,
                                                           TOvCryptoParams params) {
  if (!detached) Raise("Unsupported operation");
  return NewRSAContext(pkcSign, algorithm, key, {}, {}, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::SignInitByOID(std::string_view oid,
                                                                std::string_view algParams,
                                                                TOvCustomCryptoKey* key,
                                                                bool detached,
                                                                TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  if (!detached) Raise("Unsupported operation");
  return NewRSAContext(pkcSign, algorithm, key, oid, algParams, {}, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::VerifyInit(int32_t algorithm,
                                                             TOvCustomCryptoKey* key,
                                                             const void* signature,
                                                             size_t signatureSize,
                                                             TOvCryptoParams params) {
  const std::string_view sig(static_cast<const char*>(signature),
                             signature != nullptr ? signatureSize : 0);
  return NewRSAContext(pkcVerify, algorithm, key, {}, {}, sig, params);
}
TOvCustomCryptoContext* TOvBuiltInCryptoProvider::VerifyInitByOID(
    std::string_view oid, std::string_view algParams, TOvCustomCryptoKey* key,
    const void* signature, size_t signatureSize, TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  const std::string_view sig(static_cast<const char*>(signature),
                             signature != nullptr ? signatureSize : 0);
  return NewRSAContext(pkcVerify, algorithm, key, oid, algParams, sig, params);
}

// Updates output nothing: without a buffer they only answer the size (0), so
// a size query never feeds the data twice.
void TOvBuiltInCryptoProvider::EncryptUpdate(TOvCustomCryptoContext* context, const void* input,
                                             size_t inputSize, void* output, size_t& outputSize,
                                             TOvCryptoParams) {
  auto& rsa = RSAContextOf(context, pkcEncrypt);
  if (output != nullptr) rsa.Update(input, inputSize);
  outputSize = 0;
}
void TOvBuiltInCryptoProvider::DecryptUpdate(TOvCustomCryptoContext* context, const void* input,
                                             size_t inputSize, void* output, size_t& outputSize,
                                             TOvCryptoParams) {
  auto& rsa = RSAContextOf(context, pkcDecrypt);
  if (output != nullptr) rsa.Update(input, inputSize);
  outputSize = 0;
}
void TOvBuiltInCryptoProvider::SignUpdate(TOvCustomCryptoContext* context, const void* input,
                                          size_t inputSize, void* output, size_t& outputSize,
                                          TOvCryptoParams) {
  auto& rsa = RSAContextOf(context, pkcSign);
  if (output != nullptr) rsa.Update(input, inputSize);
  outputSize = 0;
}
void TOvBuiltInCryptoProvider::VerifyUpdate(TOvCustomCryptoContext* context, const void* input,
                                            size_t inputSize, void* output, size_t& outputSize,
                                            TOvCryptoParams) {
  auto& rsa = RSAContextOf(context, pkcVerify);
  if (output != nullptr) rsa.Update(input, inputSize);
  outputSize = 0;
}
void TOvBuiltInCryptoProvider::EncryptFinal(TOvCustomCryptoContext* context, void* output,
                                            size_t& outputSize, TOvCryptoParams) {
  CopyOut(RSAContextOf(context, pkcEncrypt).Final(), output, outputSize);
}
void TOvBuiltInCryptoProvider::DecryptFinal(TOvCustomCryptoContext* context, void* output,
                                            size_t& outputSize, TOvCryptoParams) {
  CopyOut(RSAContextOf(context, pkcDecrypt).Final(), output, outputSize);
}
void TOvBuiltInCryptoProvider::SignFinal(TOvCustomCryptoContext* context, void* output,
                                         size_t& outputSize, TOvCryptoParams) {
  CopyOut(RSAContextOf(context, pkcSign).Final(), output, outputSize);
}
int32_t TOvBuiltInCryptoProvider::VerifyFinal(TOvCustomCryptoContext* context, void* buffer,
                                              size_t& size, TOvCryptoParams) {
  auto& rsa = RSAContextOf(context, pkcVerify);
  size = 0;
  if (buffer == nullptr) return VERIFY_OTHER3;
  return rsa.VerifyResult();
}

// ---------------------------------------------------------------------------
// Hashing

TOvBuiltInHashContext& TOvBuiltInCryptoProvider::HashContextOf(TOvCustomCryptoContext* context) {
  auto* hash = dynamic_cast<TOvBuiltInHashContext*>(context);
  if (hash == nullptr || hash->Provider() != this) Raise("Invalid context");
  return *hash;
}

TOvCustomCryptoContext* TOvBuiltInCryptoProvider::AdoptHashContext(
    std::unique_ptr<TOvBuiltInHashContext> context, TOvCryptoParams params) {
  // Parameters go in before the context is listed, so a failing one leaves nothing behind.
  ApplyContextParams(*context, params);
  return AddContext(std::move(context));
}

TOvCustomCryptoContext* TOvBuiltInCryptoProvider::HashInit(int32_t algorithm,
                                                           TOvCustomCryptoKey* key,
                                                           TOvCryptoParams params) {
  auto function = std::make_unique<TOvBuiltInHashFunction>(algorithm, key);
  return AdoptHashContext(std::make_unique<TOvBuiltInHashContext>(this, std::move(function)),
                          params);
}

TOvCustomCryptoContext* TOvBuiltInCryptoProvider::HashInitByOID(std::string_view oid,
                                                                std::string_view,
                                                                TOvCustomCryptoKey* key,
                                                                TOvCryptoParams params) {
  const int32_t algorithm = AlgorithmByOID(oid);
  if (algorithm == ALG_UNKNOWN) Raise(FormatUnsupportedAlgorithmOID(oid));
  return HashInit(algorithm, key, params);
}

void TOvBuiltInCryptoProvider::HashUpdate(TOvCustomCryptoContext* context, const void* data,
                                          size_t size, TOvCryptoParams) {
  HashContextOf(context).Function().Update(data, size);
}

ByteString TOvBuiltInCryptoProvider::HashFinal(TOvCustomCryptoContext* context, TOvCryptoParams) {
  return HashContextOf(context).Function().Finish();
}

void TOvBuiltInCryptoProvider::ReleaseCryptoContext(TOvCustomCryptoContext*& context) {
  RemoveContext(context);
}

// ---------------------------------------------------------------------------
// Random numbers

void TOvBuiltInCryptoProvider::RandomInit(const void* seed, size_t size, TOvCryptoParams) {
  auto fresh = std::make_unique<TOvRandom>();
  if (seed != nullptr && size > 0)
    fresh->Mix(std::string_view(static_cast<const char*>(seed), size));
  fresh->Mix(TickAndTimeBytes());
  MixSystemEntropy(*fresh);
  TOvWriteLock guard(random_lock_);
  random_ = std::move(fresh);
}

void TOvBuiltInCryptoProvider::RandomSeed(const void* data, size_t size) {
  if (data == nullptr || size == 0) return;
  TOvWriteLock guard(random_lock_);
  random_->Mix(std::string_view(static_cast<const char*>(data), size));
}

void TOvBuiltInCryptoProvider::RandomGenerate(void* buffer, size_t size) {
  TOvWriteLock guard(random_lock_);
  random_->Generate(buffer, size);
}

uint32_t TOvBuiltInCryptoProvider::RandomGenerateBelow(uint32_t maximum) {
  TOvWriteLock guard(random_lock_);
  return random_->GenerateBelow(maximum);
}

}  // namespace corvane
