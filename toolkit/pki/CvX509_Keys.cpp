// The certificate's key material: made from the public key after every parse,
// cloned with the certificate, and used to check certificate signatures.
#include "toolkit/pki/CvX509.h"

#include <exception>

#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace corvane {

namespace {

bool IsRSAKey(int32_t code) {
  return code == CERT_ALG_RSA || code == CERT_ALG_RSAPSS || code == CERT_ALG_RSAOAEP;
}

// The key algorithms a signature algorithm may be checked with.
bool SignatureFitsKey(int32_t signature, int32_t key) {
  switch (signature) {
    case CERT_ALG_MD2_RSA:
    case CERT_ALG_MD5_RSA:
    case CERT_ALG_SHA1_RSA:
    case CERT_ALG_SHA224_RSA:
    case CERT_ALG_SHA256_RSA:
    case CERT_ALG_SHA384_RSA:
    case CERT_ALG_SHA512_RSA:
    case CERT_ALG_RIPEMD160_RSA:
      return key == CERT_ALG_RSA;
    case CERT_ALG_RSAPSS:
      return key == CERT_ALG_RSA || key == CERT_ALG_RSAPSS;
    case CERT_ALG_DSA_SHA1:
      return key == CERT_ALG_DSA;
    case CERT_ALG_ECDSA_SHA1:
    case CERT_ALG_ECDSA_RECOMMENDED:
    case CERT_ALG_ECDSA_SHA224:
    case CERT_ALG_ECDSA_SHA256:
    case CERT_ALG_ECDSA_SHA384:
    case CERT_ALG_ECDSA_SHA512:
    case CERT_ALG_ECDSA_SPECIFIED:
      return key == CERT_ALG_EC;
    case CERT_ALG_GOST3411_GOST94:
      return key == CERT_ALG_GOST94;
    case CERT_ALG_GOST3411_GOST2001:
      return key == CERT_ALG_GOST2001;
    default:
      return false;
  }
}

}  // namespace

void TOvX509Certificate::CreateKeyMaterial() {
  key_material_.reset();
  if (public_key_.empty() || key_algorithm_ == nullptr) return;
  if (key_algorithm_->Algorithm() == CERT_ALG_EC) {
    // A curve we do not compute on, or a point off its curve: the certificate
    // loads, its key is unsupported.
    try {
      auto material = std::make_unique<TOvECKeyMaterial>(provider_, manager_);
      material->LoadPublic(spki_);
      key_material_ = std::move(material);
    } catch (const std::exception&) {
      key_material_.reset();
      return;
    }
    // A certificate's own provider (the key store's) keeps a key for it, which
    // the store context makes a private key; other providers have none.
    try {
      static_cast<TOvECKeyMaterial&>(*key_material_)
          .AttachKey(provider_ != nullptr ? provider_->CreateKey(ALG_EC, 0, nullptr) : nullptr);
    } catch (const std::exception&) {
    }
    return;
  }
  // RSA and EC have key material classes in the toolkit; other families parse
  // without key material.
  if (!IsRSAKey(key_algorithm_->Algorithm())) return;
  try {
    auto material = std::make_unique<TOvRSAKeyMaterial>(provider_, manager_);
    if (key_algorithm_->Algorithm() == CERT_ALG_RSAOAEP)
      material->LoadPublic(public_key_);  // the key import knows the rsaEncryption and PSS forms
    else
      material->LoadPublic(spki_);
    if (key_algorithm_->Algorithm() == CERT_ALG_RSAOAEP)
      material->SetKeyFormat(RSA_KEY_FORMAT_OAEP);
    key_material_ = std::move(material);
  } catch (const std::exception&) {
    // The certificate stays loaded without key material.
    key_material_.reset();
  }
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
  for (size_t i = 8; i-- > 0; handle >>= 8) bytes[i] = static_cast<char>(handle & 0xFF);
  key_material_->Key()->SetKeyProp(PROP_WIN32_CERTCONTEXT, bytes);
}

void TOvX509Certificate::Clone(TOvX509Certificate* target, bool copyPrivateKey) const {
  if (IsEmpty() || target == nullptr || target == this) return;
  target->LoadFromBytes(encoded_);
  target->storage_name_ = storage_name_;
  target->key_material_.reset();
  if (key_material_ != nullptr) {
    // A copy made by the key's own provider, so a store key stays with its store.
    target->key_material_ = key_material_->Clone();
    if (!copyPrivateKey && target->key_material_ != nullptr &&
        target->key_material_->Key() != nullptr)
      target->key_material_->Key()->ClearSecret();
  }
  target->from_storage_ = copyPrivateKey ? from_storage_ : false;
}

namespace {

// Checks a signature made with key's key under algorithm: RSA PKCS#1 v1.5,
// PSS and ECDSA, the families with key material here.
bool VerifyWithKey(const TOvX509Certificate& key, const TOvAlgorithmIdentifier& algorithm,
                   std::string_view data, std::string_view signature,
                   TOvCustomCryptoProviderManager* manager) {
  if (key.KeyMaterial() == nullptr) return false;
  if (!SignatureFitsKey(algorithm.Algorithm(), key.PublicKeyAlgorithm())) return false;
  if (const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(key.KeyMaterial())) {
    // ecdsa-with-SHA*: the hash comes with the identifier (RFC 5758 3.2).
    const int32_t hash = algorithm.SignatureHashAlgorithm();
    if (hash == ALG_UNKNOWN) return false;
    return ec->VerifyDetached(hash, data, signature) == VERIFY_VALID;
  }
  if (!IsRSAKey(key.PublicKeyAlgorithm())) return false;  // no other verifiers yet
  TOvRSAPublicKeyCrypto crypto(algorithm.AlgorithmOID(), nullptr, manager);
  crypto.LoadAlgorithmIdentifier(algorithm);
  crypto.SetKeyMaterial(key.KeyMaterial());
  return crypto.VerifyDetached(data, signature) == VERIFY_VALID;
}

}  // namespace

bool TOvX509Certificate::VerifySignatureWith(const TOvX509Certificate& issuer) const {
  if (outer_algorithm_ == nullptr) return false;
  return VerifyWithKey(issuer, *outer_algorithm_, SignedRegion(), signature_, manager_);
}

bool TOvX509Certificate::VerifySignedData(std::string_view algorithmDER, std::string_view data,
                                          std::string_view signature) const {
  try {
    TOvASN1ConstrainedTag root;
    if (IsEmpty() || !root.LoadFromBytes(algorithmDER) || root.Count() != 1) return false;
    const TOvASN1ConstrainedTag* node = root.ConstrainedChild(0);
    if (node == nullptr || node->TagByte() != ASN1_SEQUENCE) return false;
    const std::unique_ptr<TOvAlgorithmIdentifier> algorithm = IdentifierFromTag(*node);
    if (algorithm == nullptr || !algorithm->IsSignatureAlgorithm()) return false;
    return VerifyWithKey(*this, *algorithm, data, signature, manager_);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace corvane
