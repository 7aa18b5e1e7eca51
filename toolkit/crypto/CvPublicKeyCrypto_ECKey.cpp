// TOvECKeyMaterial: an elliptic-curve public key on a named curve, read from
// and written as a SubjectPublicKeyInfo (RFC 5480), and ECDSA verification
// with it.
#include <cstring>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvEC.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace corvane {

namespace {

[[noreturn]] void Raise(const std::string& message) { throw EOvPublicKeyCryptoError(message); }

// id-ecPublicKey, 1.2.840.10045.2.1.
constexpr std::string_view kECPublicKey{"\x2A\x86\x48\xCE\x3D\x02\x01", 7};

std::string Element(uint8_t tag, std::string_view content) {
  std::string length;
  if (content.size() < 0x80) {
    length.push_back(static_cast<char>(content.size()));
  } else {
    for (size_t l = content.size(); l > 0; l >>= 8)
      length.insert(length.begin(), static_cast<char>(l & 0xFF));
    length.insert(length.begin(), static_cast<char>(0x80 | length.size()));
  }
  return std::string(1, static_cast<char>(tag)) + length + std::string(content);
}

}  // namespace

TOvECKeyMaterial::TOvECKeyMaterial(TOvCustomCryptoProvider* provider,
                                   TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyMaterial(provider, manager) {}

TOvECKeyMaterial::~TOvECKeyMaterial() = default;

int32_t TOvECKeyMaterial::Bits() const {
  return curve_ != nullptr ? static_cast<int32_t>(curve_->OrderBits()) : 0;
}

void TOvECKeyMaterial::LoadPublic(const void* data, size_t size) {
  curve_ = nullptr;
  point_.reset();
  const std::string_view input(static_cast<const char*>(data), data != nullptr ? size : 0);
  TCvDERReader outer(input);
  std::string_view spki, algorithm, bits, oid;
  if (!outer.Read(ASN1_SEQUENCE, spki) || !outer.AtEnd()) Raise("Invalid public key");
  TCvDERReader fields(spki);
  if (!fields.Read(ASN1_SEQUENCE, algorithm) || !fields.Read(ASN1_BIT_STRING, bits) ||
      !fields.AtEnd())
    Raise("Invalid public key");
  TCvDERReader identifier(algorithm);
  if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, oid) || oid != kECPublicKey)
    Raise("Invalid public key");
  std::string_view curve;
  // ECParameters: a namedCurve; specifiedCurve and implicitCurve are not taken.
  if (!identifier.Read(ASN1_OBJECT_IDENTIFIER, curve)) {
    const uint8_t tag = identifier.PeekTag();
    if (tag == ASN1_SEQUENCE || tag == ASN1_NULL) Raise("Unsupported elliptic curve");
    Raise("Invalid public key");
  }
  if (!identifier.AtEnd()) Raise("Invalid public key");
  if (bits.empty() || bits[0] != 0) Raise("Invalid public key");
  SetPublicKey(curve, bits.substr(1));
}

void TOvECKeyMaterial::SetPublicKey(std::string_view curveOID, std::string_view point) {
  curve_ = nullptr;
  point_.reset();
  const TOvECCurve* curve = TOvECCurve::ByOID(curveOID);
  if (curve == nullptr) Raise("Unsupported elliptic curve");
  auto decoded = std::make_unique<TCvECPoint>();
  if (!curve->DecodePoint(point, *decoded)) Raise("Invalid public key");
  curve_ = curve;
  point_ = std::move(decoded);
}

void TOvECKeyMaterial::SavePublic(void* buffer, size_t& size) {
  if (curve_ == nullptr) Raise("Bad key material");
  const std::string algorithm =
      Element(ASN1_SEQUENCE, Element(ASN1_OBJECT_IDENTIFIER, kECPublicKey) +
                                 Element(ASN1_OBJECT_IDENTIFIER, curve_->OID()));
  const std::string der = Element(
      ASN1_SEQUENCE, algorithm + Element(ASN1_BIT_STRING, std::string(1, '\0') + PublicPoint()));
  if (buffer == nullptr || size == 0) {
    size = der.size();
    return;
  }
  if (size < der.size()) throw EOvCryptoKeyError("Buffer too small");
  std::memcpy(buffer, der.data(), der.size());
  size = der.size();
}

void TOvECKeyMaterial::Assign(const TOvPublicKeyMaterial& other) {
  const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(&other);
  if (ec == nullptr) Raise("Invalid key material type");
  if (ec == this) return;
  curve_ = ec->curve_;
  point_ = ec->point_ != nullptr ? std::make_unique<TCvECPoint>(*ec->point_) : nullptr;
  SetProviders(ec->Provider(), ec->Manager());
  // A copy made by the key's own provider, so a store key stays with its store.
  SetKey(ec->Key() != nullptr ? ec->Key()->Clone(nullptr) : nullptr);
}

std::unique_ptr<TOvPublicKeyMaterial> TOvECKeyMaterial::Clone() const {
  auto copy = std::make_unique<TOvECKeyMaterial>(Provider(), Manager());
  copy->Assign(*this);
  return copy;
}

bool TOvECKeyMaterial::Equals(const TOvPublicKeyMaterial& other, bool) const {
  const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(&other);
  return ec != nullptr && curve_ != nullptr && ec->curve_ == curve_ && point_->X == ec->point_->X &&
         point_->Y == ec->point_->Y;
}

ByteString TOvECKeyMaterial::CurveOID() const {
  return curve_ != nullptr ? curve_->OID() : ByteString();
}

ByteString TOvECKeyMaterial::PublicPoint() const {
  return curve_ != nullptr ? curve_->EncodePoint(*point_) : ByteString();
}

int32_t TOvECKeyMaterial::VerifyDigest(std::string_view digest, std::string_view signature) const {
  if (curve_ == nullptr || digest.empty()) return VERIFY_INVALID;
  return ECDSAVerifyDigest(*curve_, *point_, digest, signature) ? VERIFY_VALID : VERIFY_INVALID;
}

int32_t TOvECKeyMaterial::VerifyDetached(int32_t hashAlgorithm, std::string_view data,
                                         std::string_view signature) const {
  if (curve_ == nullptr) return VERIFY_INVALID;
  ByteString digest;
  try {
    TOvHashFunction hash(hashAlgorithm, nullptr, Manager(), TOvCryptoParams{nullptr});
    hash.Update(data);
    digest = hash.Finish();
  } catch (const ECorvaneError&) {
    return VERIFY_INVALID;  // a hash no provider computes
  }
  return VerifyDigest(digest, signature);
}

// ---------------------------------------------------------------------------
// ECDSA front end

int64_t TOvECDSAPublicKeyCrypto::EstimateOutputSize(const void*, size_t,
                                                    TCvPublicKeyOperation operation) {
  const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(KeyMaterial());
  if (ec == nullptr || ec->Curve() == nullptr) Raise("Bad key material");
  if (operation != pkoSignDetached && operation != pkoVerifyDetached)
    Raise("Only detached signatures are supported");
  // Two INTEGERs of up to n + 1 octets with their headers, in a SEQUENCE.
  const int64_t n = (ec->Bits() + 7) / 8;
  const int64_t der = 2 * (n + 1 + 3) + 4;
  return OutputEncoding() == pkeBase64 ? 4 * ((der + 2) / 3) : der;
}

bool TOvECDSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) const {
  return code == ALG_EC || code == ALG_ECDSA || KeyFamilyOf(code) == ALG_EC;
}

void TOvECDSAPublicKeyCrypto::BuildParams(TOvRelativeDistinguishedName& params) const {
  TOvPublicKeyCrypto::BuildParams(params);
  params.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(HashAlgorithm()));
}

void TOvECDSAPublicKeyCrypto::SignInit(bool detached) {
  if (!detached) Raise("Only detached signatures are supported");
  const auto* ec = dynamic_cast<const TOvECKeyMaterial*>(KeyMaterial());
  if (ec == nullptr || ec->Key() == nullptr || !ec->SecretKeyExists()) Raise("Bad key material");
  TOvRelativeDistinguishedName params;
  BuildParams(params);
  TOvCustomCryptoProvider* provider = GetSuitableProvider(coSignDetached, ALG_ECDSA, &params);
  context_ = provider->SignInit(ALG_ECDSA, ec->Key(), true, &params);
  context_provider_ = provider;
}

}  // namespace corvane
