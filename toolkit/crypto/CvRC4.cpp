#include "toolkit/crypto/CvRC4.h"

#include <cstring>
#include <utility>

#include "toolkit/common/CvErrors.h"

namespace corvane {

TOvRC4::~TOvRC4() {
  // The permutation is the key in another form.
  volatile uint8_t* s = s_;
  for (size_t k = 0; k < sizeof s_; ++k) s[k] = 0;
}

void TOvRC4::SetKey(std::string_view key) {
  if (key.empty() || key.size() > 256) throw EOvSymmetricCryptoError("Invalid key length");
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (size_t k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + static_cast<uint8_t>(key[k % key.size()]));
    std::swap(s_[k], s_[j]);
  }
  i_ = j_ = 0;
  keyed_ = true;
}

void TOvRC4::Process(uint8_t* data, size_t size) {
  if (!keyed_) throw EOvSymmetricCryptoError("Invalid key length");
  uint8_t i = i_;
  uint8_t j = j_;
  for (size_t k = 0; k < size; ++k) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s_[i]);
    std::swap(s_[i], s_[j]);
    data[k] ^= s_[static_cast<uint8_t>(s_[i] + s_[j])];
  }
  i_ = i;
  j_ = j;
}

std::string TOvRC4::Process(std::string_view data) {
  std::string out(data);
  Process(reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

std::string RC4(std::string_view key, std::string_view data) {
  TOvRC4 cipher(key);
  return cipher.Process(data);
}

}  // namespace corvane
