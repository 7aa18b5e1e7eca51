// RC4, the stream cipher of the V1/V2 crypt filters and the revision 2-4
// password checks. Kept only for reading and writing such files; it is not
// a cipher to protect anything new with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

class TOvRC4 {
 public:
  TOvRC4() = default;
  // 1 to 256 key bytes; others raise EOvSymmetricCryptoError "Invalid key length".
  explicit TOvRC4(std::string_view key) { SetKey(key); }
  ~TOvRC4();
  TOvRC4(const TOvRC4&) = delete;
  TOvRC4& operator=(const TOvRC4&) = delete;

  void SetKey(std::string_view key);
  // Encrypting and decrypting are the same operation; the key stream goes on
  // across calls.
  void Process(uint8_t* data, size_t size);
  std::string Process(std::string_view data);

 private:
  uint8_t s_[256] = {};
  uint8_t i_ = 0;
  uint8_t j_ = 0;
  bool keyed_ = false;
};

// One-shot RC4 of data under key.
std::string RC4(std::string_view key, std::string_view data);

}  // namespace corvane
