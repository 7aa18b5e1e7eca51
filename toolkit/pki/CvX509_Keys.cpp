// The certificate's key material: made from the public key after every parse,
// cloned with the certificate, and the key that checks certificate signatures.
#include "toolkit/pki/CvX509.h"

#include <exception>

#include "toolkit/crypto/CvCryptoProv.h"

namespace corvane {

void TOvX509Certificate::CreateKeyMaterial() {
  // No key material classes are available to this branch yet.
  key_material_.reset();
}

bool TOvX509Certificate::PrivateKeyExists() const {
  try {
    return key_material_ != nullptr && key_material_->Key() != nullptr &&
           key_material_->Key()->IsSecret();
  } catch (const std::exception&) {
    return false;
  }
}

uint64_t TOvX509Certificate::CertContextHandle() const {
  if (key_material_ == nullptr || key_material_->Key() == nullptr) return 0;
  try {
    const ByteString bytes = key_material_->Key()->GetKeyProp(PROP_WIN32_CERTCONTEXT, "");
    // 8 octets big-endian, so a 64-bit handle is never cut to 32 bits.
    if (bytes.size() != 8 && bytes.size() != 4) return 0;
    uint64_t handle = 0;
    for (const char c : bytes) handle = (handle << 8) | static_cast<uint8_t>(c);
    return handle;
  } catch (const std::exception&) {
    return 0;
  }
}

void TOvX509Certificate::SetCertContext(uint64_t handle) {
  if (key_material_ == nullptr || key_material_->Key() == nullptr) return;
  ByteString bytes(8, '\0');
  for (int i = 7; i >= 0; --i, handle >>= 8)
    bytes[static_cast<size_t>(i)] = static_cast<char>(handle & 0xFF);
  key_material_->Key()->SetKeyProp(PROP_WIN32_CERTCONTEXT, bytes);
}

void TOvX509Certificate::Clone(TOvX509Certificate* target, bool copyPrivateKey) const {
  if (IsEmpty() || target == nullptr || target == this) return;
  target->LoadFromBytes(encoded_);
  target->storage_name_ = storage_name_;
  target->key_material_.reset();
  target->from_storage_ = copyPrivateKey ? from_storage_ : false;
}

bool TOvX509Certificate::VerifySignatureWith(const TOvX509Certificate&) const { return false; }

}  // namespace corvane
