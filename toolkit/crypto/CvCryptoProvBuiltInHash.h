// The built-in provider's hash engine: one object per hash context, over the
// digest modules, with HMAC (RFC 2104) and the SSL 3.0 MD5+SHA-1 hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

// OIDs of the GOST R 34.11-94 parameter sets (values of the
// "gost-R3411-1994-paramset" property): 1.2.643.2.2.30.0 and .1.
inline constexpr std::string_view OID_GOST3411_TEST_PARAMSET{"\x2A\x85\x03\x02\x02\x1E\x00", 7};
inline constexpr std::string_view OID_GOST3411_CRYPTOPRO_PARAMSET{"\x2A\x85\x03\x02\x02\x1E\x01",
                                                                  7};

// The built-in MAC key: a secret value of any length.
class TOvBuiltInMACKey final : public TOvCustomCryptoKey {
 public:
  TOvBuiltInMACKey(TOvCustomCryptoProvider* provider, int32_t algorithm);

  bool IsPublic() const override { return false; }
  bool IsSecret() const override { return !value_.empty(); }
  bool IsExportable() const override { return true; }
  bool IsPersistent() const override { return false; }
  bool IsValid() const override { return true; }
  int32_t KeyBits() const override { return static_cast<int32_t>(value_.size() * 8); }
  int32_t Algorithm() const override { return algorithm_; }
  int32_t GetMode() const override { return mode_; }
  void SetMode(int32_t mode) override { mode_ = mode; }
  ByteString GetIV() const override { return {}; }
  void SetIV(std::string_view) override {}
  ByteString GetValue() const override { return value_; }
  void SetValue(std::string_view value) override { value_ = value; }
  void Reset() override { value_.clear(); }
  void Generate(int32_t bits, TOvCryptoParams params) override;
  void ImportSecret(const void* data, size_t size, TOvCryptoParams params) override;
  void ExportSecret(void* buffer, size_t& size, TOvCryptoParams params) override;
  TOvCustomCryptoKey* Clone(TOvCryptoParams params) override;
  void ClearSecret() override { value_.clear(); }
  void ClearPublic() override {}
  ByteString GetKeyProp(std::string_view name, std::string_view defaultValue) override;
  void SetKeyProp(std::string_view name, std::string_view value) override;
  bool Equals(const TOvCustomCryptoKey& other, bool publicOnly, TOvCryptoParams params) override;

 private:
  int32_t algorithm_;
  int32_t mode_ = 0;
  ByteString value_;
};

class TOvBuiltInHashFunction {
 public:
  // Raises EOvHashFunctionUnsupportedError "Unsupported algorithm (%d)" for an
  // algorithm without size or engine; HMAC needs a TOvBuiltInMACKey
  // (EOvHashFunctionError "Invalid key material" otherwise).
  TOvBuiltInHashFunction(int32_t algorithm, const TOvCustomCryptoKey* key = nullptr);
  ~TOvBuiltInHashFunction();
  TOvBuiltInHashFunction(const TOvBuiltInHashFunction&) = delete;
  TOvBuiltInHashFunction& operator=(const TOvBuiltInHashFunction&) = delete;

  static std::unique_ptr<TOvBuiltInHashFunction> CreateByOID(
      std::string_view oid, const TOvCustomCryptoKey* key = nullptr);
  // The digest size in bits from the size table (0 when not listed).
  static int32_t DigestSizeBits(int32_t algorithm);
  // An engine exists for the algorithm.
  static bool IsAlgorithmSupported(int32_t algorithm);
  static bool IsMACAlgorithm(int32_t algorithm);

  int32_t Algorithm() const { return algorithm_; }
  size_t DigestSize() const;
  void Update(const void* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest; the object is not used afterwards except to be destroyed.
  ByteString Finish();
  // An independent copy of the running state.
  std::unique_ptr<TOvBuiltInHashFunction> Clone() const;
  // GOST R 34.11-94 parameter set: "gost-R3411-1994-paramset" (a parameter
  // set OID) or "gost-R3411-1994-parameters" (128 hex digits), only before any
  // data was hashed; EOvHashFunctionError "Invalid property value" otherwise.
  // Other names do not concern hashing and are ignored.
  void SetProperty(std::string_view name, std::string_view value);

  class Engine;

 private:
  TOvBuiltInHashFunction() = default;

  int32_t algorithm_ = ALG_UNKNOWN;
  std::unique_ptr<Engine> engine_;
  // HMAC: the key padded to the block, XOR 0x5C, kept for the outer hash.
  ByteString outer_pad_;
  int32_t inner_algorithm_ = ALG_UNKNOWN;
};

}  // namespace corvane
