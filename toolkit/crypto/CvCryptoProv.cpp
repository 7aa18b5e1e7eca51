#include "toolkit/crypto/CvCryptoProv.h"

#include <algorithm>
#include <typeinfo>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProvManager.h"

namespace corvane {

std::string FormatUnsupportedAlgorithm(int32_t algorithm) {
  return "Unsupported algorithm (" + std::to_string(algorithm) + ")";
}

std::string FormatUnsupportedAlgorithmOID(std::string_view oid) {
  return "Unsupported algorithm (" + OIDToText(oid) + ")";
}

std::string FormatUnsupportedProperty(std::string_view name) {
  return "Unsupported property (" + std::string(name) + ")";
}

// ---------------------------------------------------------------------------
// Keys: every slot but Equals is abstract in the base; unimplemented slots raise.

namespace {
[[noreturn]] void NotImplemented() { throw EOvCryptoKeyError("Method not implemented"); }
}  // namespace

int32_t TOvCustomCryptoKey::GetMode() const { NotImplemented(); }
void TOvCustomCryptoKey::SetMode(int32_t) { NotImplemented(); }
ByteString TOvCustomCryptoKey::GetIV() const { NotImplemented(); }
void TOvCustomCryptoKey::SetIV(std::string_view) { NotImplemented(); }
ByteString TOvCustomCryptoKey::GetValue() const { NotImplemented(); }
void TOvCustomCryptoKey::SetValue(std::string_view) { NotImplemented(); }
void TOvCustomCryptoKey::Reset() {}
void TOvCustomCryptoKey::Generate(int32_t, TOvCryptoParams) { NotImplemented(); }
void TOvCustomCryptoKey::ImportPublic(const void*, size_t, TOvCryptoParams) { NotImplemented(); }
void TOvCustomCryptoKey::ImportSecret(const void*, size_t, TOvCryptoParams) { NotImplemented(); }
void TOvCustomCryptoKey::ExportPublic(void*, size_t&, TOvCryptoParams) { NotImplemented(); }
void TOvCustomCryptoKey::ExportSecret(void*, size_t&, TOvCryptoParams) { NotImplemented(); }
TOvCustomCryptoKey* TOvCustomCryptoKey::Clone(TOvCryptoParams) { NotImplemented(); }
TOvCustomCryptoKey* TOvCustomCryptoKey::ClonePublic(TOvCryptoParams) { NotImplemented(); }
void TOvCustomCryptoKey::ClearPublic() { NotImplemented(); }
void TOvCustomCryptoKey::ClearSecret() { NotImplemented(); }
ByteString TOvCustomCryptoKey::GetKeyProp(std::string_view, std::string_view) { NotImplemented(); }
void TOvCustomCryptoKey::SetKeyProp(std::string_view, std::string_view) { NotImplemented(); }
void TOvCustomCryptoKey::ChangeAlgorithm(int32_t) { NotImplemented(); }
void TOvCustomCryptoKey::PrepareForEncryption(bool) { NotImplemented(); }
void TOvCustomCryptoKey::PrepareForSigning(bool) { NotImplemented(); }
void TOvCustomCryptoKey::CancelPreparation() { NotImplemented(); }
bool TOvCustomCryptoKey::AsyncFinished() { NotImplemented(); }
bool TOvCustomCryptoKey::Equals(const TOvCustomCryptoKey&, bool, TOvCryptoParams) {
  throw EOvCryptoKeyError("Unsupported operation");
}
bool TOvCustomCryptoKey::Matches(const TOvCustomCryptoKey&) { NotImplemented(); }

int32_t TOvCustomCryptoContext::GetAlgorithmClass() const {
  return Provider() != nullptr ? Provider()->GetAlgorithmClass(GetAlgorithm()) : ALGCLASS_NONE;
}

// ---------------------------------------------------------------------------
// Provider: construction, lists, registration

TOvCustomCryptoProvider::TOvCustomCryptoProvider() = default;

TOvCustomCryptoProvider::~TOvCustomCryptoProvider() {
  Teardown();
  std::vector<TOvCustomCryptoProviderManager*> managers;
  {
    TOvWriteLock guard(lists_lock_);
    managers.swap(registered_in_);
  }
  for (auto* manager : managers) manager->ForgetProvider(this);
}

void TOvCustomCryptoProvider::Setup() {
  if (set_up_) return;
  options_ = CreateOptions();
  enabled_ = true;
  set_up_ = true;
  Init();
}

void TOvCustomCryptoProvider::Teardown() {
  if (set_up_) {
    set_up_ = false;
    Deinit();
  }
  // Whatever is still listed is released, each one reported.
  std::vector<std::unique_ptr<TOvCustomCryptoContext>> contexts;
  std::vector<std::unique_ptr<TOvCustomCryptoKey>> keys;
  {
    TOvWriteLock guard(lists_lock_);
    contexts.swap(contexts_);
    keys.swap(keys_);
  }
  for (auto& c : contexts) {
    if (OnObjectDestroyed) OnObjectDestroyed(*this, *c);
  }
  contexts.clear();
  for (auto& k : keys) {
    if (OnObjectDestroyed) OnObjectDestroyed(*this, *k);
  }
  keys.clear();
}

TOvCustomCryptoKey* TOvCustomCryptoProvider::AddKey(std::unique_ptr<TOvCustomCryptoKey> key) {
  TOvCustomCryptoKey* raw = key.get();
  {
    TOvWriteLock guard(lists_lock_);
    keys_.push_back(std::move(key));
  }
  if (OnObjectCreated) OnObjectCreated(*this, *raw);
  return raw;
}

TOvCustomCryptoContext* TOvCustomCryptoProvider::AddContext(
    std::unique_ptr<TOvCustomCryptoContext> context) {
  TOvCustomCryptoContext* raw = context.get();
  {
    TOvWriteLock guard(lists_lock_);
    contexts_.push_back(std::move(context));
  }
  if (OnObjectCreated) OnObjectCreated(*this, *raw);
  return raw;
}

bool TOvCustomCryptoProvider::OwnsKey(const TOvCustomCryptoKey* key) {
  if (key == nullptr) return false;
  TOvReadLock guard(lists_lock_);
  return std::any_of(keys_.begin(), keys_.end(), [&](const auto& k) { return k.get() == key; });
}

bool TOvCustomCryptoProvider::OwnsContext(const TOvCustomCryptoContext* context) {
  if (context == nullptr) return false;
  TOvReadLock guard(lists_lock_);
  return std::any_of(contexts_.begin(), contexts_.end(),
                     [&](const auto& c) { return c.get() == context; });
}

void TOvCustomCryptoProvider::RemoveKey(TOvCustomCryptoKey*& key) {
  if (key == nullptr) return;
  std::unique_ptr<TOvCustomCryptoKey> owned;
  {
    TOvWriteLock guard(lists_lock_);
    auto it =
        std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.get() == key; });
    if (it == keys_.end()) return;
    owned = std::move(*it);
    keys_.erase(it);
  }
  if (OnObjectDestroyed) OnObjectDestroyed(*this, *owned);
  key = nullptr;
}

void TOvCustomCryptoProvider::RemoveContext(TOvCustomCryptoContext*& context) {
  if (context == nullptr) return;
  std::unique_ptr<TOvCustomCryptoContext> owned;
  {
    TOvWriteLock guard(lists_lock_);
    auto it = std::find_if(contexts_.begin(), contexts_.end(),
                           [&](const auto& c) { return c.get() == context; });
    if (it == contexts_.end()) return;
    owned = std::move(*it);
    contexts_.erase(it);
  }
  if (OnObjectDestroyed) OnObjectDestroyed(*this, *owned);
  context = nullptr;
}

size_t TOvCustomCryptoProvider::KeyCount() {
  TOvReadLock guard(lists_lock_);
  return keys_.size();
}

size_t TOvCustomCryptoProvider::ContextCount() {
  TOvReadLock guard(lists_lock_);
  return contexts_.size();
}

// ---------------------------------------------------------------------------
// Provider: base answers

std::unique_ptr<TOvCustomCryptoProviderOptions> TOvCustomCryptoProvider::CreateOptions() {
  return std::make_unique<TOvCustomCryptoProviderOptions>();
}

void TOvCustomCryptoProvider::SetAsDefault() {
  const std::type_info& mine = typeid(*this);
  TOvCustomCryptoProvider* self = this;
  DefaultCryptoProviderManager()->SetDefaultProviderByClass(
      {[&mine](const TOvCustomCryptoProvider& p) { return typeid(p) == mine; },
       [self] { return self->GetDefaultInstance(); }});
}

TOvCustomCryptoProvider* TOvCustomCryptoProvider::GetDefaultInstance() {
  throw EOvCryptoProviderError("Failed to instantiate the type");
}

std::unique_ptr<TOvCustomCryptoProvider> TOvCustomCryptoProvider::CreateInstance() {
  throw EOvCryptoProviderError("Failed to instantiate the type");
}

bool TOvCustomCryptoProvider::IsAlgorithmSupported(int32_t, int32_t) { return false; }
bool TOvCustomCryptoProvider::IsAlgorithmSupportedByOID(std::string_view, std::string_view,
                                                        int32_t) {
  return false;
}
bool TOvCustomCryptoProvider::IsOperationSupported(TCvCryptoOperation, int32_t, int32_t,
                                                   const TOvCustomCryptoKey*, TOvCryptoParams) {
  return false;
}
bool TOvCustomCryptoProvider::IsOperationSupportedByOID(TCvCryptoOperation, std::string_view,
                                                        std::string_view, int32_t,
                                                        const TOvCustomCryptoKey*,
                                                        TOvCryptoParams) {
  return false;
}

ByteString TOvCustomCryptoProvider::GetAlgorithmProperty(int32_t algorithm, int32_t,
                                                         std::string_view) {
  throw EOvCryptoProviderError(FormatUnsupportedAlgorithm(algorithm));
}

ByteString TOvCustomCryptoProvider::GetAlgorithmPropertyByOID(std::string_view oid,
                                                              std::string_view, int32_t,
                                                              std::string_view) {
  throw EOvCryptoProviderError(FormatUnsupportedAlgorithmOID(oid));
}

ByteString TOvCustomCryptoProvider::GetProviderProp(std::string_view name, std::string_view) {
  throw EOvCryptoProviderError(FormatUnsupportedProperty(name));
}

void TOvCustomCryptoProvider::SetProviderProp(std::string_view name, std::string_view) {
  throw EOvCryptoProviderError(FormatUnsupportedProperty(name));
}

// ---------------------------------------------------------------------------
// One-shot operations

namespace {

// Releases the context however the block is left.
class ContextGuard {
 public:
  ContextGuard(TOvCustomCryptoProvider& provider, TOvCustomCryptoContext* context)
      : provider_(provider), context_(context) {}
  ~ContextGuard() {
    if (context_ != nullptr) provider_.ReleaseCryptoContext(context_);
  }
  ContextGuard(const ContextGuard&) = delete;
  ContextGuard& operator=(const ContextGuard&) = delete;
  TOvCustomCryptoContext* get() const { return context_; }

 private:
  TOvCustomCryptoProvider& provider_;
  TOvCustomCryptoContext* context_;
};

using UpdateFn = void (TOvCustomCryptoProvider::*)(TOvCustomCryptoContext*, const void*, size_t,
                                                   void*, size_t&, TOvCryptoParams);
using FinalFn = void (TOvCustomCryptoProvider::*)(TOvCustomCryptoContext*, void*, size_t&,
                                                  TOvCryptoParams);

size_t EstimateSize(TOvCustomCryptoContext* context, size_t inputSize) {
  const int64_t estimate = context->EstimateOutputSize(static_cast<int64_t>(inputSize));
  return estimate > 0 ? static_cast<size_t>(estimate) : 0;
}

// Update into the buffer, then Final into the room that is left.
void RunUpdateFinal(TOvCustomCryptoProvider& provider, TOvCustomCryptoContext* context,
                    UpdateFn update, FinalFn final, const void* input, size_t inputSize,
                    void* output, size_t& outputSize, TOvCryptoParams params) {
  if (output == nullptr) {
    outputSize = EstimateSize(context, inputSize);
    return;
  }
  size_t written = outputSize;
  (provider.*update)(context, input, inputSize, output, written, params);
  if (written > outputSize) throw EOvCryptoProviderError("Buffer too small");
  size_t rest = outputSize - written;
  (provider.*final)(context, static_cast<uint8_t*>(output) + written, rest, params);
  outputSize = written + rest;
}

}  // namespace

void TOvCustomCryptoProvider::Encrypt(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key,
                                      const void* input, size_t inputSize, void* output,
                                      size_t& outputSize, TOvCryptoParams params) {
  ContextGuard ctx(*this, EncryptInit(algorithm, mode, key, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::EncryptUpdate,
                 &TOvCustomCryptoProvider::EncryptFinal, input, inputSize, output, outputSize,
                 params);
}

void TOvCustomCryptoProvider::EncryptByOID(std::string_view oid, std::string_view algParams,
                                           int32_t mode, TOvCustomCryptoKey* key, const void* input,
                                           size_t inputSize, void* output, size_t& outputSize,
                                           TOvCryptoParams params) {
  ContextGuard ctx(*this, EncryptInitByOID(oid, algParams, mode, key, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::EncryptUpdate,
                 &TOvCustomCryptoProvider::EncryptFinal, input, inputSize, output, outputSize,
                 params);
}

void TOvCustomCryptoProvider::Decrypt(int32_t algorithm, int32_t mode, TOvCustomCryptoKey* key,
                                      const void* input, size_t inputSize, void* output,
                                      size_t& outputSize, TOvCryptoParams params) {
  ContextGuard ctx(*this, DecryptInit(algorithm, mode, key, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::DecryptUpdate,
                 &TOvCustomCryptoProvider::DecryptFinal, input, inputSize, output, outputSize,
                 params);
}

void TOvCustomCryptoProvider::DecryptByOID(std::string_view oid, std::string_view algParams,
                                           int32_t mode, TOvCustomCryptoKey* key, const void* input,
                                           size_t inputSize, void* output, size_t& outputSize,
                                           TOvCryptoParams params) {
  ContextGuard ctx(*this, DecryptInitByOID(oid, algParams, mode, key, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::DecryptUpdate,
                 &TOvCustomCryptoProvider::DecryptFinal, input, inputSize, output, outputSize,
                 params);
}

void TOvCustomCryptoProvider::Sign(int32_t algorithm, TOvCustomCryptoKey* key, bool detached,
                                   const void* input, size_t inputSize, void* output,
                                   size_t& outputSize, TOvCryptoParams params) {
  ContextGuard ctx(*this, SignInit(algorithm, key, detached, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::SignUpdate,
                 &TOvCustomCryptoProvider::SignFinal, input, inputSize, output, outputSize, params);
}

void TOvCustomCryptoProvider::SignByOID(std::string_view oid, std::string_view algParams,
                                        TOvCustomCryptoKey* key, bool detached, const void* input,
                                        size_t inputSize, void* output, size_t& outputSize,
                                        TOvCryptoParams params) {
  ContextGuard ctx(*this, SignInitByOID(oid, algParams, key, detached, params));
  RunUpdateFinal(*this, ctx.get(), &TOvCustomCryptoProvider::SignUpdate,
                 &TOvCustomCryptoProvider::SignFinal, input, inputSize, output, outputSize, params);
}

namespace {

int32_t RunVerify(TOvCustomCryptoProvider& provider, TOvCustomCryptoContext* context,
                  const void* input, size_t inputSize, void* output, size_t& outputSize,
                  TOvCryptoParams params) {
  if (output == nullptr) {
    outputSize = EstimateSize(context, inputSize);
    return VERIFY_OTHER3;
  }
  size_t written = outputSize;
  provider.VerifyUpdate(context, input, inputSize, output, written, params);
  if (written > outputSize) throw EOvCryptoProviderError("Buffer too small");
  size_t rest = outputSize - written;
  const int32_t result =
      provider.VerifyFinal(context, static_cast<uint8_t*>(output) + written, rest, params);
  outputSize = written + rest;
  return result;
}

// Detached verification: the data goes through VerifyUpdate (size query, then
// into a scratch buffer), then VerifyFinal likewise.
int32_t RunVerifyDetached(TOvCustomCryptoProvider& provider, TOvCustomCryptoContext* context,
                          const void* data, size_t dataSize, TOvCryptoParams params) {
  size_t size = 0;
  provider.VerifyUpdate(context, data, dataSize, nullptr, size, params);
  std::string scratch(size > 0 ? size : 1, '\0');
  size = scratch.size();
  provider.VerifyUpdate(context, data, dataSize, scratch.data(), size, params);
  size_t finalSize = 0;
  provider.VerifyFinal(context, nullptr, finalSize, params);
  std::string tail(finalSize > 0 ? finalSize : 1, '\0');
  finalSize = tail.size();
  return provider.VerifyFinal(context, tail.data(), finalSize, params);
}

}  // namespace

int32_t TOvCustomCryptoProvider::Verify(int32_t algorithm, TOvCustomCryptoKey* key,
                                        const void* input, size_t inputSize, void* output,
                                        size_t& outputSize, TOvCryptoParams params) {
  ContextGuard ctx(*this, VerifyInit(algorithm, key, nullptr, 0, params));
  return RunVerify(*this, ctx.get(), input, inputSize, output, outputSize, params);
}

int32_t TOvCustomCryptoProvider::VerifyByOID(std::string_view oid, std::string_view algParams,
                                             TOvCustomCryptoKey* key, const void* input,
                                             size_t inputSize, void* output, size_t& outputSize,
                                             TOvCryptoParams params) {
  ContextGuard ctx(*this, VerifyInitByOID(oid, algParams, key, nullptr, 0, params));
  return RunVerify(*this, ctx.get(), input, inputSize, output, outputSize, params);
}

int32_t TOvCustomCryptoProvider::VerifyDetached(int32_t algorithm, TOvCustomCryptoKey* key,
                                                const void* data, size_t dataSize,
                                                const void* signature, size_t signatureSize,
                                                TOvCryptoParams params) {
  ContextGuard ctx(*this, VerifyInit(algorithm, key, signature, signatureSize, params));
  return RunVerifyDetached(*this, ctx.get(), data, dataSize, params);
}

int32_t TOvCustomCryptoProvider::VerifyDetachedByOID(std::string_view oid,
                                                     std::string_view algParams,
                                                     TOvCustomCryptoKey* key, const void* data,
                                                     size_t dataSize, const void* signature,
                                                     size_t signatureSize, TOvCryptoParams params) {
  ContextGuard ctx(*this, VerifyInitByOID(oid, algParams, key, signature, signatureSize, params));
  return RunVerifyDetached(*this, ctx.get(), data, dataSize, params);
}

ByteString TOvCustomCryptoProvider::Hash(int32_t algorithm, const void* data, size_t size,
                                         TOvCustomCryptoKey* key, TOvCryptoParams params) {
  ContextGuard ctx(*this, HashInit(algorithm, key, params));
  HashUpdate(ctx.get(), data, size, params);
  return HashFinal(ctx.get(), params);
}

ByteString TOvCustomCryptoProvider::HashByOID(std::string_view oid, std::string_view algParams,
                                              const void* data, size_t size,
                                              TOvCustomCryptoKey* key, TOvCryptoParams params) {
  ContextGuard ctx(*this, HashInitByOID(oid, algParams, key, params));
  HashUpdate(ctx.get(), data, size, params);
  return HashFinal(ctx.get(), params);
}

// ---------------------------------------------------------------------------
// Key material

TOvKeyMaterial::~TOvKeyMaterial() { SetKey(nullptr); }

int32_t TOvKeyMaterial::Algorithm() const {
  return key_ != nullptr ? key_->Algorithm() : ALG_UNKNOWN;
}

void TOvKeyMaterial::SetKey(TOvCustomCryptoKey* key) {
  if (key_ == key) return;
  TOvCustomCryptoKey* old = key_;
  key_ = key;
  if (old != nullptr && old->Provider() != nullptr) old->Provider()->ReleaseKey(old);
}

}  // namespace corvane
