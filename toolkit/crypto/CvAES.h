// AES-128/192/256 (FIPS-197) with the CBC mode of NIST SP 800-38A: the block
// cipher behind AESV2 and AESV3 crypt filters and the revision 5/6 password
// checks. The caller pads; this unit only ever sees whole blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr size_t AES_BLOCK_SIZE = 16;

class TOvAESSymmetricCrypto {
 public:
  TOvAESSymmetricCrypto() = default;
  // Key of 16, 24 or 32 bytes; IV of 16 bytes (zero when not given).
  explicit TOvAESSymmetricCrypto(std::string_view key, std::string_view iv = {});
  ~TOvAESSymmetricCrypto();
  TOvAESSymmetricCrypto(const TOvAESSymmetricCrypto&) = delete;
  TOvAESSymmetricCrypto& operator=(const TOvAESSymmetricCrypto&) = delete;

  // Any other length raises EOvSymmetricCryptoError "Invalid key length".
  void SetKey(std::string_view key);
  // Any other length raises EOvSymmetricCryptoError "Invalid IV length".
  void SetIV(std::string_view iv);
  // The chaining value: the IV, then the last ciphertext block processed.
  std::string IV() const;
  size_t KeySize() const { return keySize_; }

  void EncryptBlock(const uint8_t in[AES_BLOCK_SIZE], uint8_t out[AES_BLOCK_SIZE]) const;
  void DecryptBlock(const uint8_t in[AES_BLOCK_SIZE], uint8_t out[AES_BLOCK_SIZE]) const;

  // CBC in place over whole blocks (size a multiple of 16, else
  // EOvSymmetricCryptoError "Invalid data length"); consecutive calls chain,
  // so a long input may be fed in pieces.
  void EncryptCBC(uint8_t* data, size_t size);
  void DecryptCBC(uint8_t* data, size_t size);
  std::string EncryptCBC(std::string_view data);
  std::string DecryptCBC(std::string_view data);

 private:
  void RequireKey() const;

  uint32_t encKey_[60] = {};
  uint32_t decKey_[60] = {};
  int rounds_ = 0;
  size_t keySize_ = 0;
  uint8_t iv_[AES_BLOCK_SIZE] = {};
};

}  // namespace corvane
