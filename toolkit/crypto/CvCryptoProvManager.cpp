#include "toolkit/crypto/CvCryptoProvManager.h"

#include <algorithm>
#include <memory>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProvBuiltIn.h"

namespace corvane {

namespace {

std::string UnsupportedOperation(TCvCryptoOperation operation, int32_t algorithm, int32_t mode) {
  return "Unsupported cryptographic operation. Operation: " + std::to_string(operation) +
         ", Algorithm: " + std::to_string(algorithm) + ", Mode: " + std::to_string(mode) + ".";
}

std::string UnsupportedOperationOID(TCvCryptoOperation operation, std::string_view oid,
                                    std::string_view params, int32_t mode) {
  return "Unsupported cryptographic operation. Operation: " + std::to_string(operation) +
         ", Algorithm: " + OIDToText(oid) + ", Params: " + BytesToHex(params) +
         ", Mode: " + std::to_string(mode) + ".";
}

}  // namespace

TOvCustomCryptoProviderManager::~TOvCustomCryptoProviderManager() {
  TOvWriteLock guard(lock_);
  for (auto* provider : providers_) {
    TOvWriteLock providerGuard(provider->lists_lock_);
    auto& list = provider->registered_in_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (provider->manager_ == this) provider->manager_ = list.empty() ? nullptr : list.back();
  }
  providers_.clear();
  default_ = nullptr;
}

int TOvCustomCryptoProviderManager::RegisterProvider(TOvCustomCryptoProvider* provider) {
  if (provider == nullptr) return -1;
  TOvWriteLock guard(lock_);
  auto it = std::find(providers_.begin(), providers_.end(), provider);
  int index;
  if (it != providers_.end()) {
    index = static_cast<int>(it - providers_.begin());
  } else {
    providers_.push_back(provider);
    index = static_cast<int>(providers_.size()) - 1;
    TOvWriteLock providerGuard(provider->lists_lock_);
    provider->registered_in_.push_back(this);
  }
  provider->manager_ = this;
  if (default_ == nullptr) default_ = provider;
  return index;
}

void TOvCustomCryptoProviderManager::UnregisterProvider(TOvCustomCryptoProvider* provider) {
  if (provider == nullptr) return;
  TOvWriteLock guard(lock_);
  auto it = std::find(providers_.begin(), providers_.end(), provider);
  if (it == providers_.end()) return;
  providers_.erase(it);
  if (default_ == provider) default_ = nullptr;
  TOvWriteLock providerGuard(provider->lists_lock_);
  auto& list = provider->registered_in_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  if (provider->manager_ == this) provider->manager_ = list.empty() ? nullptr : list.back();
}

void TOvCustomCryptoProviderManager::ForgetProvider(TOvCustomCryptoProvider* provider) {
  TOvWriteLock guard(lock_);
  providers_.erase(std::remove(providers_.begin(), providers_.end(), provider), providers_.end());
  if (default_ == provider) default_ = nullptr;
}

void TOvCustomCryptoProviderManager::SetDefaultProviderByClass(
    const TOvCryptoProviderClass& providerClass) {
  {
    TOvReadLock guard(lock_);
    if (default_ != nullptr && providerClass.IsInstance(*default_)) return;
  }
  // The default instance is reached outside the lock: creating it may itself
  // use this manager.
  bool registered;
  {
    TOvReadLock guard(lock_);
    registered = std::any_of(providers_.begin(), providers_.end(), [&](TOvCustomCryptoProvider* p) {
      return providerClass.IsInstance(*p);
    });
  }
  TOvCustomCryptoProvider* fallback = registered ? nullptr : providerClass.DefaultInstance();
  TOvWriteLock guard(lock_);
  if (default_ != nullptr && providerClass.IsInstance(*default_)) return;
  for (auto* provider : providers_) {
    if (providerClass.IsInstance(*provider)) {
      default_ = provider;
      return;
    }
  }
  if (fallback != nullptr) {
    RegisterProvider(fallback);  // re-entrant write lock
    default_ = fallback;
  }
}

void TOvCustomCryptoProviderManager::SetDefaultProvider(TOvCustomCryptoProvider* provider) {
  TOvWriteLock guard(lock_);
  default_ = provider;
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::DefaultProvider() {
  TOvReadLock guard(lock_);
  return default_;
}

int TOvCustomCryptoProviderManager::ProviderCount() {
  TOvReadLock guard(lock_);
  return static_cast<int>(providers_.size());
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::Providers(int index) {
  TOvReadLock guard(lock_);
  if (index < 0 || index >= static_cast<int>(providers_.size())) return nullptr;
  return providers_[static_cast<size_t>(index)];
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::Find(
    const std::function<bool(TOvCustomCryptoProvider&)>& supports) {
  TOvReadLock guard(lock_);
  if (default_ != nullptr && supports(*default_)) return default_;
  for (auto* provider : providers_) {
    if (provider->Enabled() && supports(*provider)) return provider;
  }
  return nullptr;
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::GetSuitableProvider(
    TCvCryptoOperation operation, int32_t algorithm, int32_t mode, const TOvCustomCryptoKey* key,
    TOvCryptoParams params) {
  auto* provider = Find([&](TOvCustomCryptoProvider& p) {
    return p.IsOperationSupported(operation, algorithm, mode, key, params);
  });
  if (provider == nullptr)
    throw EOvCryptoProviderManagerError(UnsupportedOperation(operation, algorithm, mode));
  return provider;
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::GetSuitableProviderByOID(
    TCvCryptoOperation operation, std::string_view oid, std::string_view algParams, int32_t mode,
    const TOvCustomCryptoKey* key, TOvCryptoParams params) {
  auto* provider = Find([&](TOvCustomCryptoProvider& p) {
    return p.IsOperationSupportedByOID(operation, oid, algParams, mode, key, params);
  });
  if (provider == nullptr) {
    throw EOvCryptoProviderManagerError(UnsupportedOperationOID(operation, oid, algParams, mode));
  }
  return provider;
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::GetSuitableProviderForAlgorithm(
    int32_t algorithm, int32_t mode) {
  auto* provider =
      Find([&](TOvCustomCryptoProvider& p) { return p.IsAlgorithmSupported(algorithm, mode); });
  if (provider == nullptr)
    throw EOvCryptoProviderManagerError(UnsupportedOperation(coNone, algorithm, mode));
  return provider;
}

TOvCustomCryptoProvider* TOvCustomCryptoProviderManager::GetSuitableProviderForAlgorithmOID(
    std::string_view oid, std::string_view algParams, int32_t mode) {
  auto* provider = Find([&](TOvCustomCryptoProvider& p) {
    return p.IsAlgorithmSupportedByOID(oid, algParams, mode);
  });
  if (provider == nullptr) {
    throw EOvCryptoProviderManagerError(UnsupportedOperationOID(coNone, oid, algParams, mode));
  }
  return provider;
}

namespace {

template <typename Fn>
auto FirstEnabled(TOvSharedResource& lock, const std::vector<TOvCustomCryptoProvider*>& providers,
                  Fn fn) {
  TOvReadLock guard(lock);
  for (auto* provider : providers) {
    if (provider->Enabled() && fn(*provider)) return provider;
  }
  return static_cast<TOvCustomCryptoProvider*>(nullptr);
}

}  // namespace

bool TOvCustomCryptoProviderManager::IsAlgorithmSupported(int32_t algorithm, int32_t mode) {
  return FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
           return p.IsAlgorithmSupported(algorithm, mode);
         }) != nullptr;
}

bool TOvCustomCryptoProviderManager::IsAlgorithmSupportedByOID(std::string_view oid,
                                                               std::string_view algParams,
                                                               int32_t mode) {
  return FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
           return p.IsAlgorithmSupportedByOID(oid, algParams, mode);
         }) != nullptr;
}

ByteString TOvCustomCryptoProviderManager::GetAlgorithmProperty(int32_t algorithm, int32_t mode,
                                                                std::string_view name) {
  auto* provider = FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
    return p.IsAlgorithmSupported(algorithm, mode);
  });
  return provider != nullptr ? provider->GetAlgorithmProperty(algorithm, mode, name) : ByteString();
}

ByteString TOvCustomCryptoProviderManager::GetAlgorithmPropertyByOID(std::string_view oid,
                                                                     std::string_view algParams,
                                                                     int32_t mode,
                                                                     std::string_view name) {
  auto* provider = FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
    return p.IsAlgorithmSupportedByOID(oid, algParams, mode);
  });
  return provider != nullptr ? provider->GetAlgorithmPropertyByOID(oid, algParams, mode, name)
                             : ByteString();
}

int32_t TOvCustomCryptoProviderManager::GetAlgorithmClass(int32_t algorithm) {
  auto* provider = FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
    return p.IsAlgorithmSupported(algorithm, 0);
  });
  return provider != nullptr ? provider->GetAlgorithmClass(algorithm) : ALGCLASS_NONE;
}

int32_t TOvCustomCryptoProviderManager::GetAlgorithmClassByOID(std::string_view oid,
                                                               std::string_view algParams) {
  auto* provider = FirstEnabled(lock_, providers_, [&](TOvCustomCryptoProvider& p) {
    return p.IsAlgorithmSupportedByOID(oid, algParams, 0);
  });
  return provider != nullptr ? provider->GetAlgorithmClassByOID(oid, algParams) : ALGCLASS_NONE;
}

bool TOvCustomCryptoProviderManager::IsProviderAllowed(const TOvCustomCryptoProvider*) {
  return true;
}

// ---------------------------------------------------------------------------

TOvBuiltInCryptoProviderManager::TOvBuiltInCryptoProviderManager() { Init(); }

TOvBuiltInCryptoProviderManager::~TOvBuiltInCryptoProviderManager() { Deinit(); }

void TOvBuiltInCryptoProviderManager::Init() {
  RegisterProvider(TOvBuiltInCryptoProvider::DefaultInstanceOfClass());
  // The platform key-store provider is registered here, after the built-in
  // one, once it exists.
  for (int i = 0; i < ProviderCount(); ++i) {
    auto* provider = Providers(i);
    if (provider->Enabled() && dynamic_cast<TOvBuiltInCryptoProvider*>(provider) != nullptr) {
      SetDefaultProvider(provider);
      break;
    }
  }
}

bool TOvBuiltInCryptoProviderManager::IsProviderAllowed(const TOvCustomCryptoProvider*) {
  // Mode 1 admits only FIPS-restricted platform providers, and this system has
  // none yet.
  return restriction_mode_ != 1;
}

TOvCustomCryptoProviderManager* DefaultCryptoProviderManager() {
  static TOvBuiltInCryptoProviderManager manager;
  return &manager;
}

// ---------------------------------------------------------------------------

TOvCustomCryptoProvider* ChoosePublicKeyProvider(TCvCryptoOperation operation, int32_t algorithm,
                                                 TOvCustomCryptoProvider* assigned,
                                                 TOvCustomCryptoProviderManager* manager,
                                                 const TOvKeyMaterial* keyMaterial,
                                                 TOvCryptoParams params) {
  const TOvCustomCryptoKey* key = keyMaterial != nullptr ? keyMaterial->Key() : nullptr;
  if (assigned != nullptr && assigned->IsOperationSupported(operation, algorithm, 0, key, params))
    return assigned;
  TOvCustomCryptoProvider* own = key != nullptr ? key->Provider() : nullptr;
  if (manager != nullptr) {
    if (own != nullptr && manager->IsProviderAllowed(own) &&
        own->IsOperationSupported(operation, algorithm, 0, key, params)) {
      return own;
    }
  } else {
    if (own != nullptr && own->IsOperationSupported(operation, algorithm, 0, key, params))
      return own;
    manager = DefaultCryptoProviderManager();
  }
  return manager->GetSuitableProvider(operation, algorithm, 0, key, params);
}

}  // namespace corvane
