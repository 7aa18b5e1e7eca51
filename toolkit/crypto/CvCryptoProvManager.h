// Provider managers: an ordered list of providers and a default one, asked for
// a provider that supports an operation, an algorithm and a key.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "toolkit/common/CvSharedResource.h"
#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

class TOvKeyMaterial;

// A provider class as a value: how to recognise its instances and how to reach
// its process-wide default instance.
struct TOvCryptoProviderClass {
  std::function<bool(const TOvCustomCryptoProvider&)> IsInstance;
  std::function<TOvCustomCryptoProvider*()> DefaultInstance;
};

// T must have a static DefaultInstanceOfClass().
template <class T>
TOvCryptoProviderClass CryptoProviderClassOf() {
  return {[](const TOvCustomCryptoProvider& p) { return dynamic_cast<const T*>(&p) != nullptr; },
          [] { return static_cast<TOvCustomCryptoProvider*>(T::DefaultInstanceOfClass()); }};
}

class TOvCustomCryptoProviderManager {
 public:
  TOvCustomCryptoProviderManager() = default;
  virtual ~TOvCustomCryptoProviderManager();
  TOvCustomCryptoProviderManager(const TOvCustomCryptoProviderManager&) = delete;
  TOvCustomCryptoProviderManager& operator=(const TOvCustomCryptoProviderManager&) = delete;

  // Hooks for subclasses; constructors of concrete managers call Init, and
  // their destructors Deinit.
  virtual void Init() {}
  virtual void Deinit() {}

  // Appends the provider (once), sets its manager and makes it the default when
  // there is none. Returns its index.
  int RegisterProvider(TOvCustomCryptoProvider* provider);
  // Removes the provider from the list (and as default). Also called when a
  // registered provider is destroyed.
  void UnregisterProvider(TOvCustomCryptoProvider* provider);

  void SetDefaultProviderByClass(const TOvCryptoProviderClass& providerClass);
  template <class T>
  void SetDefaultProviderByClass() {
    SetDefaultProviderByClass(CryptoProviderClassOf<T>());
  }
  void SetDefaultProvider(TOvCustomCryptoProvider* provider);
  TOvCustomCryptoProvider* DefaultProvider();
  int ProviderCount();
  TOvCustomCryptoProvider* Providers(int index);

  // Raise EOvCryptoProviderManagerError when no provider qualifies.
  TOvCustomCryptoProvider* GetSuitableProvider(TCvCryptoOperation operation, int32_t algorithm,
                                               int32_t mode, const TOvCustomCryptoKey* key,
                                               TOvCryptoParams params);
  TOvCustomCryptoProvider* GetSuitableProviderByOID(TCvCryptoOperation operation,
                                                    std::string_view oid,
                                                    std::string_view algParams, int32_t mode,
                                                    const TOvCustomCryptoKey* key,
                                                    TOvCryptoParams params);
  TOvCustomCryptoProvider* GetSuitableProviderForAlgorithm(int32_t algorithm, int32_t mode);
  TOvCustomCryptoProvider* GetSuitableProviderForAlgorithmOID(std::string_view oid,
                                                              std::string_view algParams,
                                                              int32_t mode);

  bool IsAlgorithmSupported(int32_t algorithm, int32_t mode);
  bool IsAlgorithmSupportedByOID(std::string_view oid, std::string_view algParams, int32_t mode);
  // Empty / 0 when no enabled provider supports the algorithm.
  ByteString GetAlgorithmProperty(int32_t algorithm, int32_t mode, std::string_view name);
  ByteString GetAlgorithmPropertyByOID(std::string_view oid, std::string_view algParams,
                                       int32_t mode, std::string_view name);
  int32_t GetAlgorithmClass(int32_t algorithm);
  int32_t GetAlgorithmClassByOID(std::string_view oid, std::string_view algParams);

  virtual bool IsProviderAllowed(const TOvCustomCryptoProvider* provider);

 private:
  friend class TOvCustomCryptoProvider;
  // Searches under the read lock: the default first (even when disabled), then
  // every enabled provider in registration order.
  TOvCustomCryptoProvider* Find(const std::function<bool(TOvCustomCryptoProvider&)>& supports);
  // A provider being destroyed leaves the list without calling back.
  void ForgetProvider(TOvCustomCryptoProvider* provider);

  TOvSharedResource lock_;
  std::vector<TOvCustomCryptoProvider*> providers_;
  TOvCustomCryptoProvider* default_ = nullptr;
};

class TOvBuiltInCryptoProviderManager : public TOvCustomCryptoProviderManager {
 public:
  // Registers the built-in provider's default instance and makes the first
  // enabled built-in provider the default.
  TOvBuiltInCryptoProviderManager();
  ~TOvBuiltInCryptoProviderManager() override;

  void Init() override;
  // True unless the restriction mode is 1 (then only FIPS-restricted platform
  // providers would qualify; this system keeps mode 0).
  bool IsProviderAllowed(const TOvCustomCryptoProvider* provider) override;
  int32_t RestrictionMode() const { return restriction_mode_; }
  void SetRestrictionMode(int32_t mode) { restriction_mode_ = mode; }

 private:
  int32_t restriction_mode_ = 0;
};

// The process-wide manager, created on first use and destroyed at exit.
TOvCustomCryptoProviderManager* DefaultCryptoProviderManager();

// Provider choice of the public-key front ends: the explicitly assigned
// provider, else the key's own provider (when the manager allows it), else the
// manager's (or the default manager's) GetSuitableProvider.
TOvCustomCryptoProvider* ChoosePublicKeyProvider(TCvCryptoOperation operation, int32_t algorithm,
                                                 TOvCustomCryptoProvider* assigned,
                                                 TOvCustomCryptoProviderManager* manager,
                                                 const TOvKeyMaterial* keyMaterial,
                                                 TOvCryptoParams params);

}  // namespace corvane
