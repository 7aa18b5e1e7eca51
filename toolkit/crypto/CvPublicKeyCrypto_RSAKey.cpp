// TOvRSAKeyMaterial: the key formats around the provider key (PEM, PKCS#8).
#include <cstring>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvDER.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace corvane {

namespace {

[[noreturn]] void Raise(const std::string& message) { throw EOvPublicKeyCryptoError(message); }

constexpr std::string_view kPEMBegin = "-----BEGIN ";
constexpr std::string_view kPEMEnd = "-----END ";
constexpr std::string_view kDashes = "-----";

void Wipe(std::string& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

bool IsPEM(std::string_view data) {
  size_t i = 0;
  while (i < data.size() &&
         (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
    ++i;
  return data.substr(i).substr(0, kPEMBegin.size()) == kPEMBegin;
}

// RFC 7468 text: the label and the decoded body. Encrypted PEM (RFC 1421
// headers) needs ciphers this toolkit does not carry, so it is invalid here.
bool DecodePEM(std::string_view text, std::string& label, std::string& der) {
  const size_t begin = text.find(kPEMBegin);
  if (begin == std::string_view::npos) return false;
  const size_t labelStart = begin + kPEMBegin.size();
  const size_t labelEnd = text.find(kDashes, labelStart);
  if (labelEnd == std::string_view::npos) return false;
  label.assign(text.substr(labelStart, labelEnd - labelStart));
  const size_t bodyStart = labelEnd + kDashes.size();
  const std::string endLine = std::string(kPEMEnd) + label + std::string(kDashes);
  const size_t end = text.find(endLine, bodyStart);
  if (end == std::string_view::npos) return false;
  const std::string_view body = text.substr(bodyStart, end - bodyStart);
  if (body.find(':') != std::string_view::npos) return false;  // Proc-Type / DEK-Info headers
  return Base64DecodeString(body, der) == BASE64_OK && !der.empty();
}

std::string EncodePEM(std::string_view label, std::string_view der) {
  std::string out = std::string(kPEMBegin) + std::string(label) + std::string(kDashes) + "\n";
  std::string b64 = Base64EncodeString(der, false);
  for (size_t i = 0; i < b64.size(); i += 64) out += b64.substr(i, 64) + "\n";
  out += std::string(kPEMEnd) + std::string(label) + std::string(kDashes) + "\n";
  Wipe(b64);
  return out;
}

void CopyOut(const std::string& bytes, void* buffer, size_t& size) {
  if (buffer == nullptr || size == 0) {
    size = bytes.size();
    return;
  }
  if (size < bytes.size()) throw EOvCryptoKeyError("Buffer too small");
  std::memcpy(buffer, bytes.data(), bytes.size());
  size = bytes.size();
}

std::string KeyFormatName(int32_t format) {
  switch (format) {
    case RSA_KEY_FORMAT_OAEP:
      return std::string(SCHEME_OAEP);
    case RSA_KEY_FORMAT_PSS:
      return std::string(SCHEME_PSS);
    default:
      return std::string(SCHEME_PKCS1);
  }
}

}  // namespace

TOvRSAKeyMaterial::TOvRSAKeyMaterial(TOvCustomCryptoProvider* provider,
                                     TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyMaterial(provider, manager) {
  AdoptKey(CreationProvider()->CreateKey(ALG_RSA, 0, nullptr));
}

TOvRSAKeyMaterial::TOvRSAKeyMaterial(TOvCustomCryptoKey* key,
                                     TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyMaterial(key != nullptr ? key->Provider() : nullptr, manager) {
  if (key == nullptr || key->Algorithm() != ALG_RSA) Raise("Invalid key material type");
  AdoptKey(key);
}

void TOvRSAKeyMaterial::SetKeyFormat(int32_t value) {
  key_format_ = value;
  if (Key() != nullptr) Key()->SetKeyProp(PROP_KEY_FORMAT, KeyFormatName(value));
}

void TOvRSAKeyMaterial::LoadPublic(const void* data, size_t size) {
  if (Key() == nullptr) Raise("Bad key material");
  std::string_view input(static_cast<const char*>(data), data != nullptr ? size : 0);
  std::string label, der;
  bool raw = false;
  if (IsPEM(input)) {
    if (!DecodePEM(input, label, der) || (label != "PUBLIC KEY" && label != "RSA PUBLIC KEY")) {
      Raise("Invalid PEM data");
    }
    raw = label == "RSA PUBLIC KEY";
  } else {
    der.assign(input);
  }
  Key()->SetKeyProp(PROP_RSA_RAW_KEY, BoolToBytes(raw));
  try {
    Key()->ImportPublic(der.data(), der.size(), nullptr);
  } catch (const EOvCryptoKeyError&) {
    if (raw) throw;
    // A bare RSAPublicKey in DER: take it as such.
    Key()->SetKeyProp(PROP_RSA_RAW_KEY, BoolToBytes(true));
    try {
      Key()->ImportPublic(der.data(), der.size(), nullptr);
    } catch (const EOvCryptoKeyError&) {
      Key()->SetKeyProp(PROP_RSA_RAW_KEY, BoolToBytes(false));
      throw;
    }
  }
  const ByteString format = Key()->GetKeyProp(PROP_KEY_FORMAT, SCHEME_PKCS1);
  key_format_ = format == SCHEME_PSS
                    ? RSA_KEY_FORMAT_PSS
                    : (format == SCHEME_OAEP ? RSA_KEY_FORMAT_OAEP : RSA_KEY_FORMAT_PKCS1);
}

void TOvRSAKeyMaterial::LoadSecret(const void* data, size_t size) {
  if (Key() == nullptr) Raise("Bad key material");
  std::string_view input(static_cast<const char*>(data), data != nullptr ? size : 0);
  std::string label, der;
  if (IsPEM(input)) {
    if (!DecodePEM(input, label, der)) Raise("Invalid PEM data");
    if (label != "RSA PRIVATE KEY" && label != "PRIVATE KEY" && label != "ENCRYPTED PRIVATE KEY") {
      Wipe(der);
      Raise("Invalid PEM data");
    }
  } else {
    der.assign(input);
  }
  // PrivateKeyInfo ::= SEQUENCE { version, AlgorithmIdentifier, OCTET STRING, ... }
  // EncryptedPrivateKeyInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING }
  std::string_view body, algorithm, algOID, keyBytes, versionBytes;
  TCvDERReader outer(der);
  bool pkcs8 = false;
  int32_t format = RSA_KEY_FORMAT_PKCS1;
  std::string pssParams;
  if (outer.Read(DER_SEQUENCE, body) && outer.AtEnd()) {
    TCvDERReader seq(body);
    if (seq.PeekTag() == DER_SEQUENCE) {
      if (seq.Read(DER_SEQUENCE, algorithm)) {
        TCvDERReader alg(algorithm);
        if (alg.Read(DER_OID, algOID) && seq.Read(DER_OCTET_STRING, keyBytes) && seq.AtEnd()) {
          const std::string text = OIDToText(algOID);
          Wipe(der);
          Raise("Unsupported algorithm: " + text);
        }
      }
    } else if (seq.Read(DER_INTEGER, versionBytes) && versionBytes.size() == 1 &&
               static_cast<uint8_t>(versionBytes[0]) <= 1 && seq.PeekTag() == DER_SEQUENCE) {
      std::string_view whole;
      uint8_t tag = 0;
      if (seq.ReadAny(tag, algorithm, whole) && seq.Read(DER_OCTET_STRING, keyBytes)) {
        TCvDERReader alg(algorithm);
        if (!alg.Read(DER_OID, algOID)) Raise("Invalid key material type");
        pkcs8 = true;
        if (algOID == oid::RSASSA_PSS) {
          format = RSA_KEY_FORMAT_PSS;
          pssParams.assign(whole);
        } else if (algOID == oid::RSAES_OAEP) {
          format = RSA_KEY_FORMAT_OAEP;
          pssParams.assign(whole);
        } else if (algOID != oid::RSA_ENCRYPTION) {
          const std::string text = OIDToText(algOID);
          Wipe(der);
          Raise("Unsupported algorithm: " + text);
        }
      }
    }
  }
  try {
    if (pkcs8) {
      Key()->ImportSecret(keyBytes.data(), keyBytes.size(), nullptr);
    } else {
      Key()->ImportSecret(der.data(), der.size(), nullptr);
    }
  } catch (...) {
    Wipe(der);
    throw;
  }
  Wipe(der);
  key_format_ = format;
  store_format_ = pkcs8 ? RSA_STORE_FORMAT_PKCS8 : RSA_STORE_FORMAT_PLAIN;
  Key()->SetKeyProp(PROP_KEY_FORMAT, KeyFormatName(format));
  if (!pssParams.empty()) {
    try {
      if (format == RSA_KEY_FORMAT_PSS) {
        TOvRSAPSSAlgorithmIdentifier id;
        id.LoadFromBytes(pssParams);
        Key()->SetKeyProp(PROP_HASH_ALGORITHM, OIDByAlgorithm(id.HashAlgorithm()));
        Key()->SetKeyProp(PROP_SALT_SIZE, IntToBytes(id.SaltSize()));
        Key()->SetKeyProp(PROP_TRAILER_FIELD, IntToBytes(id.TrailerField()));
        Key()->SetKeyProp(PROP_MGF_ALGORITHM, IntToBytes(id.MGFAlgorithm()));
      } else {
        TOvRSAOAEPAlgorithmIdentifier id;
        id.LoadFromBytes(pssParams);
        Key()->SetKeyProp(PROP_HASH_ALGORITHM, OIDByAlgorithm(id.HashAlgorithm()));
        Key()->SetKeyProp(PROP_MGF_ALGORITHM, IntToBytes(id.MGFAlgorithm()));
        Key()->SetKeyProp(PROP_STRLABEL, id.StrLabel());
      }
    } catch (const EOvAlgorithmIdentifierError&) {
      Key()->ClearSecret();
      Key()->ClearPublic();
      Raise("Invalid key material type");
    }
  }
}

void TOvRSAKeyMaterial::SavePublic(void* buffer, size_t& size) {
  if (!PublicKeyExists()) Raise("Public key not found");
  size_t n = 0;
  Key()->ExportPublic(nullptr, n, nullptr);
  std::string der(n, '\0');
  Key()->ExportPublic(der.data(), n, nullptr);
  der.resize(n);
  if (pem_output_) {
    const bool raw = BytesToBool(Key()->GetKeyProp(PROP_RSA_RAW_KEY, BoolToBytes(false)), false);
    der = EncodePEM(raw ? "RSA PUBLIC KEY" : "PUBLIC KEY", der);
  }
  CopyOut(der, buffer, size);
}

void TOvRSAKeyMaterial::SaveSecret(void* buffer, size_t& size) {
  if (!SecretKeyExists()) Raise("Secret key not found");
  // Writing a key in the clear when a passphrase was asked for would be a
  // silent downgrade; the ciphers to encrypt it are not part of this toolkit.
  if (!passphrase_.empty()) Raise("Unsupported operation");
  size_t n = 0;
  Key()->ExportSecret(nullptr, n, nullptr);
  std::string der(n, '\0');
  Key()->ExportSecret(der.data(), n, nullptr);
  der.resize(n);
  if (store_format_ == RSA_STORE_FORMAT_PKCS8) {
    std::string algorithm;
    if (key_format_ == RSA_KEY_FORMAT_PSS) {
      TOvRSAPSSAlgorithmIdentifier id;
      id.SetHashAlgorithm(HashAlgorithm());
      id.SetMGFHashAlgorithm(HashAlgorithm());
      id.SetSaltSize(SaltSize());
      id.SetTrailerField(TrailerField());
      algorithm = id.SaveToBytes();
    } else {
      algorithm = DERSequence(DERTLV(DER_OID, oid::RSA_ENCRYPTION) + std::string("\x05\x00", 2));
    }
    std::string wrapped =
        DERSequence(DERInteger(TOvMPInt()) + algorithm + DERTLV(DER_OCTET_STRING, der));
    Wipe(der);
    der = std::move(wrapped);
  }
  if (pem_output_) {
    std::string pem =
        EncodePEM(store_format_ == RSA_STORE_FORMAT_PKCS8 ? "PRIVATE KEY" : "RSA PRIVATE KEY", der);
    Wipe(der);
    der = std::move(pem);
  }
  try {
    CopyOut(der, buffer, size);
  } catch (...) {
    Wipe(der);
    throw;
  }
  Wipe(der);
}

void TOvRSAKeyMaterial::Assign(const TOvPublicKeyMaterial& other) {
  const auto* rsa = dynamic_cast<const TOvRSAKeyMaterial*>(&other);
  if (rsa == nullptr) Raise("Invalid key material type");
  if (rsa == this) return;
  passphrase_ = rsa->passphrase_;
  pem_output_ = rsa->pem_output_;
  key_format_ = rsa->key_format_;
  store_format_ = rsa->store_format_;
  TOvCustomCryptoKey* copy = nullptr;
  if (rsa->Key() != nullptr && rsa->Key()->Provider() != nullptr)
    copy = rsa->Key()->Provider()->CloneKey(rsa->Key());
  AdoptKey(copy);
  SetProviders(rsa->Provider() != nullptr ? rsa->Provider() : rsa->KeyProvider(), rsa->Manager());
}

std::unique_ptr<TOvPublicKeyMaterial> TOvRSAKeyMaterial::Clone() const {
  auto copy = std::make_unique<TOvRSAKeyMaterial>(
      KeyProvider() != nullptr ? KeyProvider() : Provider(), Manager());
  copy->Assign(*this);
  return copy;
}

bool TOvRSAKeyMaterial::Equals(const TOvPublicKeyMaterial& other, bool publicOnly) const {
  const auto* rsa = dynamic_cast<const TOvRSAKeyMaterial*>(&other);
  if (rsa == nullptr || Key() == nullptr || rsa->Key() == nullptr) return false;
  return Key()->Equals(*rsa->Key(), publicOnly, nullptr);
}

void TOvRSAKeyMaterial::Generate(int32_t bits) {
  if (Key() == nullptr) Raise("Bad key material");
  Key()->Generate(bits, nullptr);
}

ByteString TOvRSAKeyMaterial::PublicModulus() const {
  return Key() != nullptr ? Key()->GetKeyProp(PROP_RSA_M, {}) : ByteString();
}
ByteString TOvRSAKeyMaterial::PublicExponent() const {
  return Key() != nullptr ? Key()->GetKeyProp(PROP_RSA_E, {}) : ByteString();
}
ByteString TOvRSAKeyMaterial::PrivateExponent() const {
  return Key() != nullptr ? Key()->GetKeyProp(PROP_RSA_D, {}) : ByteString();
}

int32_t TOvRSAKeyMaterial::HashAlgorithm() const {
  if (Key() == nullptr) return ALG_SHA1;
  const int32_t algorithm = AlgorithmByOID(Key()->GetKeyProp(PROP_HASH_ALGORITHM, {}));
  return algorithm != ALG_UNKNOWN ? algorithm : ALG_SHA1;
}
int32_t TOvRSAKeyMaterial::SaltSize() const {
  return Key() != nullptr ? BytesToInt(Key()->GetKeyProp(PROP_SALT_SIZE, {}), 20) : 20;
}
int32_t TOvRSAKeyMaterial::TrailerField() const {
  return Key() != nullptr ? BytesToInt(Key()->GetKeyProp(PROP_TRAILER_FIELD, {}), 1) : 1;
}
int32_t TOvRSAKeyMaterial::MGFAlgorithm() const {
  return Key() != nullptr ? BytesToInt(Key()->GetKeyProp(PROP_MGF_ALGORITHM, {}), 513) : 513;
}
ByteString TOvRSAKeyMaterial::StrLabel() const {
  return Key() != nullptr ? Key()->GetKeyProp(PROP_STRLABEL, {}) : ByteString();
}

}  // namespace corvane
