// TOvHashFunction: the incremental hash front end. It asks a provider manager
// for a provider that hashes with the algorithm and drives that provider's
// hash context; every digest of the system goes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

class TOvCustomCryptoProviderManager;

// The key of an HMAC: a provider key of the generic HMAC algorithm, created by
// the given provider or by the one the manager (default: the process-wide
// one) picks for that algorithm. Owned here, released through its provider.
class TOvHMACKeyMaterial : public TOvKeyMaterial {
 public:
  explicit TOvHMACKeyMaterial(TOvCustomCryptoProvider* provider = nullptr,
                              TOvCustomCryptoProviderManager* manager = nullptr);
  void SetKey(std::string_view secret);
  ByteString GetKey() const;
};

class TOvHashFunction {
 public:
  // The given provider, or the one the default manager selects for hashing.
  explicit TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider = nullptr);
  // Provider and key from the key material.
  TOvHashFunction(int32_t algorithm, TOvHMACKeyMaterial& keyMaterial);
  // With a manager (default manager when none) and a parameter list for HashInit.
  TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider,
                  TOvCustomCryptoProviderManager* manager, TOvCryptoParams params);
  // The provider is selected for the algorithm and the key.
  TOvHashFunction(int32_t algorithm, TOvCustomCryptoProvider* provider,
                  TOvCustomCryptoProviderManager* manager, TOvHMACKeyMaterial* keyMaterial);
  // Selected by OID; the context is made by the provider's HashInitByOID.
  static std::unique_ptr<TOvHashFunction> CreateByOID(
      std::string_view oid, TOvCustomCryptoProvider* provider = nullptr,
      TOvCustomCryptoProviderManager* manager = nullptr, TOvCryptoParams params = nullptr);
  ~TOvHashFunction();
  TOvHashFunction(const TOvHashFunction&) = delete;
  TOvHashFunction& operator=(const TOvHashFunction&) = delete;

  void Update(const void* buffer, size_t count);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Hashes count bytes from the stream's position (count 0: to its end),
  // 32 KiB at a time. A stream that ends before count bytes raises
  // EStreamError "Stream read error": a short digest must never pass for the
  // requested range.
  void UpdateStream(TOvStream& stream, int64_t count);
  ByteString Finish();
  // Releases the context and starts a new one with the same algorithm and key.
  void Reset();
  int32_t Algorithm() const;
  TOvCustomCryptoProvider* Provider() const { return provider_; }

  // A provider of the default manager hashes with the algorithm.
  static bool IsAlgorithmSupported(int32_t algorithm);
  // The provider's "digest-size" property (the given provider, else the one the
  // manager, else the default manager, picks).
  static int32_t GetDigestSizeBits(int32_t algorithm,
                                   TOvCustomCryptoProviderManager* manager = nullptr,
                                   TOvCustomCryptoProvider* provider = nullptr);

 private:
  TOvHashFunction() = default;
  void Start();

  TOvCustomCryptoProvider* provider_ = nullptr;
  TOvCustomCryptoProviderManager* manager_ = nullptr;
  TOvHMACKeyMaterial* key_ = nullptr;
  TOvCustomCryptoContext* context_ = nullptr;
  int32_t algorithm_ = ALG_UNKNOWN;
  ByteString oid_;  // set when made by OID
};

}  // namespace corvane
