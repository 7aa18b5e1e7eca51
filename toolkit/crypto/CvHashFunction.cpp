#include "toolkit/crypto/CvHashFunction.h"

#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvCryptoProvManager.h"

namespace corvane {

namespace {

constexpr size_t kStreamChunk = 32768;

}  // namespace

// ---------------------------------------------------------------------------

TOvHMACKeyMaterial::TOvHMACKeyMaterial(TOvCustomCryptoProvider* provider,
                                       TOvCustomCryptoProviderManager* manager) {
  if (provider == nullptr) {
    if (manager == nullptr) manager = DefaultCryptoProviderManager();
    provider = manager->GetSuitableProviderForAlgorithm(ALG_HMAC_KEY, 0);
  }
  TOvKeyMaterial::SetKey(provider->CreateKey(ALG_HMAC_KEY, 0, nullptr));
}

void TOvHMACKeyMaterial::SetKey(std::string_view secret) { Key()->SetValue(secret); }

ByteString TOvHMACKeyMaterial::GetKey() const { return Key()->GetValue(); }

// ---------------------------------------------------------------------------

TOvHashFunction::TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider)
    : TOvHashFunction(algorithm, provider, nullptr, TOvCryptoParams{nullptr}) {}

TOvHashFunction::TOvHashFunction(int32_t algorithm, TOvHMACKeyMaterial& keyMaterial)
    : provider_(keyMaterial.KeyProvider()), key_(&keyMaterial), algorithm_(algorithm) {
  if (provider_ == nullptr) throw EOvHashFunctionError("Invalid key material");
  Start();
}

TOvHashFunction::TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider,
                                 TOvCustomCryptoProviderManager* manager, TOvCryptoParams params)
    : provider_(provider), manager_(manager), algorithm_(algorithm) {
  if (manager_ == nullptr) manager_ = DefaultCryptoProviderManager();
  if (provider_ == nullptr)
    provider_ = manager_->GetSuitableProvider(coHash, algorithm, 0, nullptr, nullptr);
  context_ = provider_->HashInit(algorithm, nullptr, params);
}

TOvHashFunction::TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider,
                                 TOvCustomCryptoProviderManager* manager,
                                 TOvHMACKeyMaterial* keyMaterial)
    : provider_(provider), manager_(manager), key_(keyMaterial), algorithm_(algorithm) {
  if (manager_ == nullptr) manager_ = DefaultCryptoProviderManager();
  const TOvCustomCryptoKey* key = key_ != nullptr ? key_->Key() : nullptr;
  if (provider_ == nullptr)
    provider_ = manager_->GetSuitableProvider(coHash, algorithm, 0, key, nullptr);
  Start();
}

std::unique_ptr<TOvHashFunction> TOvHashFunction::CreateByOID(
    std::string_view oid, TOvCustomCryptoProvider* provider,
    TOvCustomCryptoProviderManager* manager, TOvCryptoParams params) {
  std::unique_ptr<TOvHashFunction> hash(new TOvHashFunction());
  hash->manager_ = manager != nullptr ? manager : DefaultCryptoProviderManager();
  hash->provider_ = provider != nullptr ? provider
                                        : hash->manager_->GetSuitableProviderByOID(
                                              coHash, oid, {}, 0, nullptr, nullptr);
  hash->oid_ = oid;
  hash->context_ = hash->provider_->HashInitByOID(oid, {}, nullptr, params);
  hash->algorithm_ = hash->context_->GetAlgorithm();
  return hash;
}

TOvHashFunction::~TOvHashFunction() {
  if (context_ != nullptr && provider_ != nullptr) provider_->ReleaseCryptoContext(context_);
}

void TOvHashFunction::Start() {
  TOvCustomCryptoKey* key = key_ != nullptr ? key_->Key() : nullptr;
  context_ = oid_.empty() ? provider_->HashInit(algorithm_, key, nullptr)
                          : provider_->HashInitByOID(oid_, {}, key, nullptr);
}

void TOvHashFunction::Update(const void* buffer, size_t count) {
  if (count == 0) return;
  provider_->HashUpdate(context_, buffer, count, nullptr);
}

void TOvHashFunction::UpdateStream(TOvStream& stream, int64_t count) {
  std::string buffer(kStreamChunk, '\0');
  if (count <= 0) {
    for (;;) {
      const size_t n = stream.Read(buffer.data(), buffer.size());
      if (n == 0) break;
      Update(buffer.data(), n);
    }
    return;
  }
  while (count > 0) {
    const size_t want =
        count < static_cast<int64_t>(kStreamChunk) ? static_cast<size_t>(count) : kStreamChunk;
    stream.ReadBuffer(buffer.data(), want);
    Update(buffer.data(), want);
    count -= static_cast<int64_t>(want);
  }
}

ByteString TOvHashFunction::Finish() { return provider_->HashFinal(context_, nullptr); }

void TOvHashFunction::Reset() {
  if (context_ != nullptr) provider_->ReleaseCryptoContext(context_);
  context_ = nullptr;
  Start();
}

int32_t TOvHashFunction::Algorithm() const {
  return context_ != nullptr ? context_->GetAlgorithm() : algorithm_;
}

bool TOvHashFunction::IsAlgorithmSupported(int32_t algorithm) {
  try {
    DefaultCryptoProviderManager()->GetSuitableProvider(coHash, algorithm, 0, nullptr, nullptr);
    return true;
  } catch (const EOvCryptoProviderManagerError&) {
    return false;
  }
}

int32_t TOvHashFunction::GetDigestSizeBits(int32_t algorithm,
                                           TOvCustomCryptoProviderManager* manager,
                                           TOvCustomCryptoProvider* provider) {
  if (provider == nullptr) {
    if (manager == nullptr) manager = DefaultCryptoProviderManager();
    provider = manager->GetSuitableProvider(coHash, algorithm, 0, nullptr, nullptr);
  }
  return BytesToInt(provider->GetAlgorithmProperty(algorithm, 0, PROP_DIGEST_SIZE), 0);
}

}  // namespace corvane
