#include "toolkit/crypto/CvCryptoProvBuiltInPKI.h"

#include <cstring>

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvDER.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace corvane {

namespace {

[[noreturn]] void RaiseEngine(const std::string& message) {
  throw EOvBuiltInCryptoProviderError(message);
}
[[noreturn]] void RaiseKey(const std::string& message) { throw EOvCryptoKeyError(message); }

constexpr int32_t kPublicExponent = 65537;

void WipeBytes(ByteString& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

// Big-endian without leading zero octets, at least one octet.
ByteString Trimmed(const TOvMPInt& v) { return v.ToBytes(); }

// A hostile key must not buy minutes of exponentiation per verification.
constexpr size_t kMaxModulusBits = 16384;
constexpr size_t kMaxPublicExponentBits = 256;

// n odd, 64 to 16384 bits; e odd, 3 <= e < n, at most 256 bits.
bool PlausiblePublic(const TOvMPInt& n, const TOvMPInt& e) {
  return n.IsOdd() && n.Bits() >= 64 && n.Bits() <= kMaxModulusBits && e.IsOdd() &&
         TOvMPInt::Compare(e, TOvMPInt(3)) >= 0 && TOvMPInt::Compare(e, n) < 0 &&
         e.Bits() <= kMaxPublicExponentBits;
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
bool ParseRSAPublicKey(std::string_view der, TOvMPInt& n, TOvMPInt& e) {
  TCvDERReader outer(der);
  std::string_view body;
  if (!outer.Read(DER_SEQUENCE, body) || !outer.AtEnd()) return false;
  TCvDERReader seq(body);
  return ReadDERInteger(seq, n) && ReadDERInteger(seq, e) && seq.AtEnd();
}

}  // namespace

// ---------------------------------------------------------------------------
// RSA key

TOvBuiltInRSACryptoKey::TOvBuiltInRSACryptoKey(TOvCustomCryptoProvider* provider)
    : TOvBuiltInCryptoKey(provider) {}

TOvBuiltInRSACryptoKey::~TOvBuiltInRSACryptoKey() { Reset(); }

void TOvBuiltInRSACryptoKey::Reset() {
  ClearSecret();
  ClearPublic();
}

void TOvBuiltInRSACryptoKey::ClearPublic() {
  public_ = false;
  public_blob_.clear();
  m_.clear();
  e_.clear();
}

void TOvBuiltInRSACryptoKey::ClearSecret() {
  secret_ = false;
  WipeBytes(private_blob_);
  WipeBytes(d_);
  components_.Wipe();
  private_op_.reset();
}

bool TOvBuiltInRSACryptoKey::IsValid() const {
  if (!secret_) return true;
  // The CRT parameters belong together: n = pq, e dP = 1 mod p-1, e dQ = 1
  // mod q-1, q qInv = 1 mod p, d = dP mod p-1.
  const TCvRSAComponents& c = components_;
  const TOvMPInt one(1);
  const TOvMPInt p1 = TOvMPInt::Sub(c.p, one), q1 = TOvMPInt::Sub(c.q, one);
  return TOvMPInt::Mul(c.p, c.q) == c.n && TOvMPInt::ModMul(c.e, c.dP, p1).IsOne() &&
         TOvMPInt::ModMul(c.e, c.dQ, q1).IsOne() && TOvMPInt::ModMul(c.q, c.qInv, c.p).IsOne() &&
         TOvMPInt::Mod(c.d, p1) == c.dP && TOvMPInt::Mod(c.d, q1) == c.dQ;
}

void TOvBuiltInRSACryptoKey::SetPublicComponents(const TOvMPInt& n, const TOvMPInt& e) {
  m_ = Trimmed(n);
  e_ = Trimmed(e);
  public_ = true;
}

void TOvBuiltInRSACryptoKey::RebuildPublicBlob() {
  const std::string rsaPublic =
      DERSequence(DERInteger(TOvMPInt::FromBytes(m_)) + DERInteger(TOvMPInt::FromBytes(e_)));
  if (raw_key_) {
    public_blob_ = rsaPublic;
    return;
  }
  const std::string algorithm =
      DERSequence(DERTLV(DER_OID, oid::RSA_ENCRYPTION) + std::string("\x05\x00", 2));
  public_blob_ = DERSequence(algorithm + DERTLV(DER_BIT_STRING, std::string(1, '\0') + rsaPublic));
}

void TOvBuiltInRSACryptoKey::ImportPublic(const void* data, size_t size, TOvCryptoParams) {
  const std::string_view der(static_cast<const char*>(data), data != nullptr ? size : 0);
  TOvMPInt n, e;
  bool ok = false;
  int32_t format = key_format_;
  try {
    if (raw_key_) {
      ok = ParseRSAPublicKey(der, n, e);
    } else {
      // SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier, BIT STRING }
      TCvDERReader outer(der);
      std::string_view spki, algorithm, bits, algOID;
      if (outer.Read(DER_SEQUENCE, spki) && outer.AtEnd()) {
        TCvDERReader seq(spki);
        if (seq.Read(DER_SEQUENCE, algorithm) && seq.Read(DER_BIT_STRING, bits) && seq.AtEnd()) {
          TCvDERReader alg(algorithm);
          if (alg.Read(DER_OID, algOID) && !bits.empty() && bits[0] == '\0') {
            if (algOID == oid::RSA_ENCRYPTION) {
              ok = true;
            } else if (algOID == oid::RSASSA_PSS) {
              ok = true;
              format = RSA_KEY_FORMAT_PSS;
            }
            ok = ok && ParseRSAPublicKey(bits.substr(1), n, e);
          }
        }
      }
    }
  } catch (const EOvMathException&) {
    ok = false;
  }
  if (!ok || !PlausiblePublic(n, e)) RaiseKey("Invalid public key");
  ClearSecret();
  SetPublicComponents(n, e);
  public_blob_.assign(der);
  key_format_ = format;
}

void TOvBuiltInRSACryptoKey::ImportSecret(const void* data, size_t size, TOvCryptoParams) {
  const std::string_view der(static_cast<const char*>(data), data != nullptr ? size : 0);
  TCvRSAComponents c;
  bool ok = false;
  try {
    // RSAPrivateKey ::= SEQUENCE { version 0, n, e, d, p, q, dP, dQ, qInv }
    TCvDERReader outer(der);
    std::string_view body;
    if (outer.Read(DER_SEQUENCE, body) && outer.AtEnd()) {
      TCvDERReader seq(body);
      TOvMPInt version;
      ok = ReadDERInteger(seq, version, true) && version.IsZero();
      for (TOvMPInt* v : {&c.n, &c.e, &c.d, &c.p, &c.q, &c.dP, &c.dQ, &c.qInv})
        ok = ok && ReadDERInteger(seq, *v);
      ok = ok && seq.AtEnd();
    }
    ok = ok && PlausiblePublic(c.n, c.e) && c.p.IsOdd() && c.q.IsOdd() && !c.p.IsOne() &&
         !c.q.IsOne() && TOvMPInt::Mul(c.p, c.q) == c.n && TOvMPInt::Compare(c.qInv, c.p) < 0 &&
         TOvMPInt::ModMul(c.q, c.qInv, c.p).IsOne() && TOvMPInt::Compare(c.d, c.n) < 0;
  } catch (const EOvMathException&) {
    ok = false;
  }
  if (!ok) {
    c.Wipe();
    RaiseKey("Invalid secret key");
  }
  ClearSecret();
  SetPublicComponents(c.n, c.e);
  d_ = Trimmed(c.d);
  components_ = c;
  c.Wipe();
  private_blob_.assign(der);
  secret_ = true;
  RebuildPublicBlob();
}

void TOvBuiltInRSACryptoKey::Generate(int32_t bits, TOvCryptoParams) {
  const int32_t limit = Provider() != nullptr ? Provider()->Options().MaxPublicKeySize : 0;
  if (limit > 0 && limit < bits) RaiseEngine("Public key is too long");
  if (bits < 256 || bits > 16384) RaiseKey("Internal error");
  TCvRSAComponents c;
  try {
    const TOvMPInt e(kPublicExponent), one(1);
    for (;;) {
      TOvMPInt p, q;
      TOvMPInt::GeneratePrime(static_cast<size_t>(bits - bits / 2), kPublicExponent, p);
      TOvMPInt::GeneratePrime(static_cast<size_t>(bits / 2), kPublicExponent, q);
      if (p == q) continue;
      if (TOvMPInt::Compare(p, q) < 0) std::swap(p, q);
      c.n = TOvMPInt::Mul(p, q);
      if (c.n.Bits() != static_cast<size_t>(bits)) continue;
      const TOvMPInt p1 = TOvMPInt::Sub(p, one), q1 = TOvMPInt::Sub(q, one);
      const TOvMPInt g = TOvMPInt::Gcd(p1, q1);
      TOvMPInt lambda;
      TOvMPInt::DivMod(TOvMPInt::Mul(p1, q1), g, &lambda, nullptr);
      c.e = e;
      c.d = TOvMPInt::ModInverse(e, lambda);
      c.p = p;
      c.q = q;
      c.dP = TOvMPInt::Mod(c.d, p1);
      c.dQ = TOvMPInt::Mod(c.d, q1);
      c.qInv = TOvMPInt::ModInverse(q, p);
      p.Wipe();
      q.Wipe();
      break;
    }
  } catch (const EOvMathException&) {
    c.Wipe();
    RaiseKey("Internal error");
  }
  std::string body = DERInteger(TOvMPInt());
  for (const TOvMPInt* v : {&c.n, &c.e, &c.d, &c.p, &c.q, &c.dP, &c.dQ, &c.qInv})
    body += DERInteger(*v);
  const std::string blob = DERSequence(body);
  WipeBytes(body);
  c.Wipe();
  std::string copy = blob;
  ImportSecret(copy.data(), copy.size(), nullptr);
  WipeBytes(copy);
}

void TOvBuiltInRSACryptoKey::ExportPublic(void* buffer, size_t& size, TOvCryptoParams) {
  if (buffer == nullptr || size == 0) {
    size = std::max<size_t>(1, public_blob_.size());
    return;
  }
  if (size < public_blob_.size()) RaiseKey("Buffer too small");
  std::memcpy(buffer, public_blob_.data(), public_blob_.size());
  size = public_blob_.size();
}

void TOvBuiltInRSACryptoKey::ExportSecret(void* buffer, size_t& size, TOvCryptoParams) {
  if (!secret_) {
    size = 0;
    return;
  }
  if (buffer == nullptr || size == 0) {
    size = private_blob_.size();
    return;
  }
  if (size < private_blob_.size()) RaiseKey("Buffer too small");
  std::memcpy(buffer, private_blob_.data(), private_blob_.size());
  size = private_blob_.size();
}

void TOvBuiltInRSACryptoKey::CopyTo(TOvBuiltInRSACryptoKey& other, bool withSecret) const {
  other.public_ = public_;
  other.public_blob_ = public_blob_;
  other.m_ = m_;
  other.e_ = e_;
  other.hash_algorithm_ = hash_algorithm_;
  other.mgf_algorithm_ = mgf_algorithm_;
  other.salt_size_ = salt_size_;
  other.trailer_field_ = trailer_field_;
  other.label_ = label_;
  other.key_format_ = key_format_;
  other.raw_key_ = raw_key_;
  other.SetMode(GetMode());
  if (withSecret && secret_) {
    other.secret_ = true;
    other.private_blob_ = private_blob_;
    other.d_ = d_;
    other.components_ = components_;
  }
}

TOvCustomCryptoKey* TOvBuiltInRSACryptoKey::Clone(TOvCryptoParams) {
  TOvCustomCryptoKey* key = Provider()->CreateKey(ALG_RSA, GetMode(), nullptr);
  CopyTo(static_cast<TOvBuiltInRSACryptoKey&>(*key), true);
  return key;
}

TOvCustomCryptoKey* TOvBuiltInRSACryptoKey::ClonePublic(TOvCryptoParams) {
  TOvCustomCryptoKey* key = Provider()->CreateKey(ALG_RSA, GetMode(), nullptr);
  CopyTo(static_cast<TOvBuiltInRSACryptoKey&>(*key), false);
  return key;
}

TOvRSAPrivateOperation& TOvBuiltInRSACryptoKey::PrivateOperation() {
  if (!secret_) RaiseEngine("Secret key not found");
  if (!private_op_) private_op_ = std::make_unique<TOvRSAPrivateOperation>(components_);
  return *private_op_;
}

ByteString TOvBuiltInRSACryptoKey::GetKeyProp(std::string_view name,
                                              std::string_view defaultValue) {
  if (name == PROP_RSA_M) return m_;
  if (name == PROP_RSA_E) return e_;
  if (name == PROP_RSA_D) return d_;
  if (name == PROP_RSA_RAW_KEY) return BoolToBytes(raw_key_);
  if (name == PROP_HASH_ALGORITHM) return OIDByAlgorithm(hash_algorithm_);
  if (name == PROP_MGF_ALGORITHM) return IntToBytes(mgf_algorithm_);
  if (name == PROP_SALT_SIZE) return IntToBytes(salt_size_);
  if (name == PROP_TRAILER_FIELD) return IntToBytes(trailer_field_);
  if (name == PROP_STRLABEL) return label_;
  if (name == PROP_KEY_FORMAT) {
    switch (key_format_) {
      case RSA_KEY_FORMAT_OAEP:
        return ByteString(SCHEME_OAEP);
      case RSA_KEY_FORMAT_PSS:
        return ByteString(SCHEME_PSS);
      default:
        return ByteString(SCHEME_PKCS1);
    }
  }
  return ByteString(defaultValue);
}

void TOvBuiltInRSACryptoKey::SetKeyProp(std::string_view name, std::string_view value) {
  if (name == PROP_KEY_FORMAT) {
    if (value == SCHEME_PKCS1)
      key_format_ = RSA_KEY_FORMAT_PKCS1;
    else if (value == SCHEME_OAEP)
      key_format_ = RSA_KEY_FORMAT_OAEP;
    else if (value == SCHEME_PSS)
      key_format_ = RSA_KEY_FORMAT_PSS;
    else
      RaiseEngine("Unsupported property value (" + std::string(value) + ")");
  } else if (name == PROP_HASH_ALGORITHM) {
    // An OID, or the algorithm constant as an integer.
    int32_t algorithm = AlgorithmByOID(value);
    if (algorithm == ALG_UNKNOWN && value.size() == 4) algorithm = BytesToInt(value, ALG_UNKNOWN);
    if (RSAHashSize(algorithm) == 0) RaiseEngine(FormatUnsupportedAlgorithmOID(value));
    hash_algorithm_ = algorithm;
  } else if (name == PROP_MGF_ALGORITHM) {
    mgf_algorithm_ = value == oid::MGF1 ? CERT_ALG_MGF1 : BytesToInt(value, mgf_algorithm_);
  } else if (name == PROP_SALT_SIZE) {
    salt_size_ = BytesToInt(value, salt_size_);
  } else if (name == PROP_TRAILER_FIELD) {
    trailer_field_ = BytesToInt(value, trailer_field_);
  } else if (name == PROP_STRLABEL) {
    label_ = value;
  } else if (name == PROP_RSA_RAW_KEY) {
    raw_key_ = BytesToBool(value, raw_key_);
    if (public_ && !secret_) return;  // the imported blob stays as it was given
    if (public_) RebuildPublicBlob();
  } else if (name == PROP_RSA_M || name == PROP_RSA_E) {
    // Building a public key from its components drops any secret part.
    ClearSecret();
    if (name == PROP_RSA_M)
      m_ = Trimmed(TOvMPInt::FromBytes(value));
    else
      e_ = Trimmed(TOvMPInt::FromBytes(value));
    public_ = !m_.empty() && !e_.empty() &&
              PlausiblePublic(TOvMPInt::FromBytes(m_), TOvMPInt::FromBytes(e_));
    if (public_) RebuildPublicBlob();
  } else {
    RaiseEngine(FormatUnsupportedProperty(name));
  }
}

bool TOvBuiltInRSACryptoKey::Equals(const TOvCustomCryptoKey& other, bool publicOnly,
                                    TOvCryptoParams) {
  const auto* rsa = dynamic_cast<const TOvBuiltInRSACryptoKey*>(&other);
  if (rsa == nullptr) return false;
  if (m_ != rsa->m_ || e_ != rsa->e_) return false;
  if (publicOnly) return true;
  return secret_ == rsa->secret_ && ConstantTimeEqual(d_, rsa->d_);
}

// ---------------------------------------------------------------------------
// Contexts

void TOvBuiltInPublicKeyContext::SetKeySize(int32_t) {
  RaiseEngine("Cannot change read-only property");
}
void TOvBuiltInPublicKeyContext::SetBlockSize(int32_t) {
  RaiseEngine("Cannot change read-only property");
}
void TOvBuiltInPublicKeyContext::SetDigestSize(int32_t) {
  RaiseEngine("Cannot change read-only property");
}
void TOvBuiltInPublicKeyContext::SetMode(int32_t) {
  RaiseEngine("Cannot change read-only property");
}
void TOvBuiltInPublicKeyContext::SetPadding(int32_t) {
  RaiseEngine("Not a symmetric cipher context");
}

TOvBuiltInRSAContext::TOvBuiltInRSAContext(TOvCustomCryptoProvider* provider,
                                           TCvPublicKeyContextKind kind,
                                           TOvBuiltInRSACryptoKey* key, int32_t hashFromOID)
    : TOvBuiltInPublicKeyContext(provider, kind), key_(key), hash_from_oid_(hashFromOID) {}

TOvBuiltInRSAContext::~TOvBuiltInRSAContext() {
  WipeBytes(data_);
  WipeBytes(output_);
}

void TOvBuiltInRSAContext::SetPSSParameters(int32_t hash, int32_t salt, int32_t trailer,
                                            int32_t mgf) {
  scheme_ = RSA_SCHEME_PSS;
  hash_algorithm_ = hash;
  salt_size_ = salt;
  trailer_field_ = trailer;
  mgf_algorithm_ = mgf;
}

void TOvBuiltInRSAContext::SetOAEPParameters(int32_t hash, int32_t mgf, std::string_view label) {
  scheme_ = RSA_SCHEME_OAEP;
  hash_algorithm_ = hash;
  mgf_algorithm_ = mgf;
  label_ = label;
  label_set_ = true;
}

ByteString TOvBuiltInRSAContext::GetContextProp(std::string_view name,
                                                std::string_view defaultValue) {
  if (name == PROP_USE_ALGORITHM_PREFIX) return BoolToBytes(use_algorithm_prefix_);
  if (name == PROP_HASH_FUNC_OID) return hash_func_oid_;
  if (name == PROP_INPUT_IS_HASH) return BoolToBytes(input_is_hash_);
  if (name == PROP_HASH_ALGORITHM) {
    if (scheme_ == RSA_SCHEME_SSL) return SSL_HASH_IDENTIFIER;
    return hash_algorithm_ == ALG_UNKNOWN ? ByteString(defaultValue)
                                          : OIDByAlgorithm(hash_algorithm_);
  }
  if (name == PROP_ALG_SCHEME) {
    switch (scheme_) {
      case RSA_SCHEME_OAEP:
        return ByteString(SCHEME_OAEP);
      case RSA_SCHEME_PSS:
        return ByteString(SCHEME_PSS);
      default:
        return ByteString(SCHEME_PKCS1);
    }
  }
  if (name == PROP_SALT_SIZE) return IntToBytes(salt_size_);
  if (name == PROP_TRAILER_FIELD) return IntToBytes(trailer_field_);
  if (name == PROP_MGF_ALGORITHM)
    return mgf_algorithm_ == CERT_ALG_MGF1 ? ByteString(oid::MGF1) : ByteString();
  if (name == PROP_STR_LABEL) return label_;
  return ByteString(defaultValue);
}

void TOvBuiltInRSAContext::SetContextProp(std::string_view name, std::string_view value) {
  if (name == PROP_USE_ALGORITHM_PREFIX) {
    use_algorithm_prefix_ = BytesToBool(value, use_algorithm_prefix_);
  } else if (name == PROP_HASH_FUNC_OID) {
    hash_func_oid_ = value;
  } else if (name == PROP_INPUT_IS_HASH) {
    input_is_hash_ = BytesToBool(value, input_is_hash_);
  } else if (name == PROP_HASH_ALGORITHM) {
    if (value == SSL_HASH_IDENTIFIER) {
      scheme_ = RSA_SCHEME_SSL;
      hash_algorithm_ = ALG_SSL3_HASH;
      return;
    }
    scheme_ = RSA_SCHEME_PKCS1;
    if (value.empty()) {
      hash_algorithm_ = ALG_UNKNOWN;
      return;
    }
    const int32_t algorithm = AlgorithmByOID(value);
    if (RSAHashSize(algorithm) == 0) RaiseEngine(FormatUnsupportedAlgorithmOID(value));
    hash_algorithm_ = algorithm;
  } else if (name == PROP_ALG_SCHEME) {
    if (value == SCHEME_PKCS1)
      scheme_ = RSA_SCHEME_PKCS1;
    else if (value == SCHEME_OAEP)
      scheme_ = RSA_SCHEME_OAEP;
    else if (value == SCHEME_PSS)
      scheme_ = RSA_SCHEME_PSS;
    else
      RaiseEngine("Unsupported property value (" + std::string(value) + ")");
  } else if (name == PROP_SALT_SIZE) {
    salt_size_ = BytesToInt(value, salt_size_);
  } else if (name == PROP_TRAILER_FIELD) {
    trailer_field_ = BytesToInt(value, trailer_field_);
  } else if (name == PROP_MGF_ALGORITHM) {
    mgf_algorithm_ = value.empty() ? 0 : (value == oid::MGF1 ? CERT_ALG_MGF1 : ALG_UNKNOWN);
  } else if (name == PROP_STR_LABEL) {
    label_ = value;
    label_set_ = true;
  }
  // Other properties do not concern RSA.
}

TOvCustomCryptoContext* TOvBuiltInRSAContext::Clone(TOvCryptoParams) {
  RaiseEngine("Unsupported operation");
}

int64_t TOvBuiltInRSAContext::EstimateOutputSize(int64_t) {
  return static_cast<int64_t>(key_->Modulus().size());
}

int32_t TOvBuiltInRSAContext::SignatureHash() const {
  if (scheme_ == RSA_SCHEME_SSL) return ALG_SSL3_HASH;
  if (hash_algorithm_ != ALG_UNKNOWN) return hash_algorithm_;
  if (scheme_ == RSA_SCHEME_PSS) return key_->HashAlgorithm();
  return hash_from_oid_ != ALG_UNKNOWN ? hash_from_oid_ : ALG_SHA1;
}

int32_t TOvBuiltInRSAContext::EncryptionHash() const {
  return hash_algorithm_ != ALG_UNKNOWN ? hash_algorithm_ : key_->HashAlgorithm();
}

void TOvBuiltInRSAContext::Update(const void* data, size_t size) {
  if (finished_) RaiseEngine("Invalid context");
  if (size == 0) return;
  const std::string_view bytes(static_cast<const char*>(data), size);
  if (kind_ == pkcEncrypt || kind_ == pkcDecrypt || input_is_hash_) {
    // Bounded by the modulus (or the digest): nothing legitimate is longer.
    if (data_.size() + size > 2 * MATH_MAX_OCTETS) RaiseEngine("Input is too long");
    data_ += bytes;
    return;
  }
  if (!hash_) hash_ = std::make_unique<TOvBuiltInHashFunction>(SignatureHash());
  hash_->Update(bytes);
}

ByteString TOvBuiltInRSAContext::Digest() {
  if (input_is_hash_) return data_;
  if (!hash_) hash_ = std::make_unique<TOvBuiltInHashFunction>(SignatureHash());
  ByteString digest = hash_->Finish();
  hash_.reset();
  return digest;
}

ByteString TOvBuiltInRSAContext::PrivateApply(std::string_view input, const char* message) {
  ByteString result;
  try {
    result = key_->PrivateOperation().Apply(input);
  } catch (const EOvMathException&) {
    result.clear();
  }
  if (result.empty()) RaiseEngine(message);
  return result;
}

ByteString TOvBuiltInRSAContext::Sign() {
  const ByteString digest = Digest();
  size_t blobSize = 0;
  key_->ExportSecret(nullptr, blobSize, nullptr);
  if (blobSize == 0) RaiseEngine("Secret key not found");
  const size_t k = key_->Modulus().size();
  const int32_t hash = SignatureHash();
  if (scheme_ == RSA_SCHEME_PKCS1 || scheme_ == RSA_SCHEME_SSL) {
    if (key_->KeyFormat() != RSA_KEY_FORMAT_PKCS1) RaiseEngine("Invalid key material type");
    ByteString t = digest;
    if (scheme_ == RSA_SCHEME_PKCS1 && use_algorithm_prefix_) {
      const ByteString hashOID = !hash_func_oid_.empty() ? hash_func_oid_ : OIDByAlgorithm(hash);
      t = BuildDigestInfo(hashOID, digest);
      if (t.empty()) RaiseEngine("Signing failed");
    }
    const auto em = EncodePKCS1Signature(t, k);
    if (!em) RaiseEngine("Signing failed");
    return PrivateApply(*em, "Signing failed");
  }
  if (scheme_ == RSA_SCHEME_PSS) {
    if (key_->KeyFormat() != RSA_KEY_FORMAT_PKCS1 && key_->KeyFormat() != RSA_KEY_FORMAT_PSS) {
      RaiseEngine("Invalid key material type");
    }
    const int32_t salt = salt_size_ != 0 ? salt_size_ : key_->SaltSize();
    const int32_t trailer = trailer_field_ != 0 ? trailer_field_ : key_->TrailerField();
    const int32_t mgf = mgf_algorithm_ != 0 ? mgf_algorithm_ : key_->MGFAlgorithm();
    if (trailer != 1 || mgf != CERT_ALG_MGF1) {
      RaiseEngine("Unsupported property value (" + std::to_string(trailer) + "/" +
                  std::to_string(mgf) + ")");
    }
    const size_t modBits = TOvMPInt::FromBytes(key_->Modulus()).Bits();
    const auto em =
        salt >= 0 ? EncodePSS(hash, digest, modBits - 1, static_cast<size_t>(salt)) : std::nullopt;
    if (!em) RaiseEngine("Signing failed");
    // EM has ceil((modBits - 1) / 8) octets; as an integer it is the same below k octets.
    return PrivateApply(*em, "Signing failed");
  }
  RaiseEngine("Unsupported operation");
}

int32_t TOvBuiltInRSAContext::VerifyResult() {
  if (kind_ != pkcVerify || finished_) RaiseEngine("Invalid context");
  finished_ = true;
  const ByteString digest = Digest();
  const TOvMPInt n = TOvMPInt::FromBytes(key_->Modulus());
  const TOvMPInt e = TOvMPInt::FromBytes(key_->PublicExponent());
  const size_t k = key_->Modulus().size();
  // RFC 8017 8.2.2: the signature is exactly k octets and below n.
  if (signature_.size() != k) return VERIFY_INVALID;
  const ByteString em = RSAPublicApply(n, e, signature_);
  if (em.empty()) return VERIFY_INVALID;
  const int32_t hash = SignatureHash();
  if (scheme_ == RSA_SCHEME_PKCS1 || scheme_ == RSA_SCHEME_SSL) {
    // Build the expected encoding and compare all of it; the DigestInfo
    // names the hash we expect, never one read from the signature.
    if (scheme_ == RSA_SCHEME_SSL && digest.size() != RSAHashSize(hash)) return VERIFY_INVALID;
    if (scheme_ == RSA_SCHEME_PKCS1 && use_algorithm_prefix_) {
      if (digest.size() != RSAHashSize(hash)) return VERIFY_INVALID;
      const ByteString hashOID = !hash_func_oid_.empty() ? hash_func_oid_ : OIDByAlgorithm(hash);
      bool match = false;
      // The NULL parameters are sometimes left out (RFC 8017 9.2 note 2).
      for (bool withNull : {true, false}) {
        const auto expected = EncodePKCS1Signature(BuildDigestInfo(hashOID, digest, withNull), k);
        match |= expected.has_value() && ConstantTimeEqual(*expected, em);
      }
      return match ? VERIFY_VALID : VERIFY_INVALID;
    }
    const auto expected = EncodePKCS1Signature(digest, k);
    return expected.has_value() && ConstantTimeEqual(*expected, em) ? VERIFY_VALID : VERIFY_INVALID;
  }
  if (scheme_ == RSA_SCHEME_PSS) {
    const int32_t salt = salt_size_ != 0 ? salt_size_ : key_->SaltSize();
    const int32_t trailer = trailer_field_ != 0 ? trailer_field_ : key_->TrailerField();
    const int32_t mgf = mgf_algorithm_ != 0 ? mgf_algorithm_ : key_->MGFAlgorithm();
    if (trailer != 1 || mgf != CERT_ALG_MGF1) {
      RaiseEngine("Unsupported property value (" + std::to_string(trailer) + "/" +
                  std::to_string(mgf) + ")");
    }
    const size_t emBits = n.Bits() - 1;
    const size_t emLen = (emBits + 7) / 8;
    std::string_view encoded(em);
    if (emLen < k) {
      if (encoded[0] != '\0') return VERIFY_INVALID;
      encoded.remove_prefix(1);
    }
    return salt >= 0 && VerifyPSS(hash, digest, encoded, emBits, static_cast<size_t>(salt))
               ? VERIFY_VALID
               : VERIFY_INVALID;
  }
  RaiseEngine("Unsupported operation");
}

ByteString TOvBuiltInRSAContext::Encrypt() {
  const size_t k = key_->Modulus().size();
  std::optional<std::string> em;
  if (scheme_ == RSA_SCHEME_PKCS1) {
    em = EncodePKCS1Encryption(data_, k);
  } else if (scheme_ == RSA_SCHEME_OAEP) {
    if (key_->KeyFormat() == RSA_KEY_FORMAT_PSS) RaiseEngine("Invalid key material type");
    const int32_t mgf = mgf_algorithm_ != 0 ? mgf_algorithm_ : key_->MGFAlgorithm();
    if (mgf != CERT_ALG_MGF1)
      RaiseEngine("Unsupported property value (" + std::to_string(mgf) + ")");
    em = EncodeOAEP(EncryptionHash(), label_set_ ? label_ : key_->StrLabel(), data_, k);
  } else {
    RaiseEngine("Unsupported operation");
  }
  if (!em) RaiseEngine("Input is too long");
  ByteString out = RSAPublicApply(TOvMPInt::FromBytes(key_->Modulus()),
                                  TOvMPInt::FromBytes(key_->PublicExponent()), *em);
  if (out.empty()) RaiseEngine("Encryption failed");
  return out;
}

ByteString TOvBuiltInRSAContext::Decrypt() {
  const size_t k = key_->Modulus().size();
  if (data_.size() != k) RaiseEngine("Decryption failed");
  if (scheme_ != RSA_SCHEME_PKCS1 && scheme_ != RSA_SCHEME_OAEP)
    RaiseEngine("Unsupported operation");
  ByteString em = PrivateApply(data_, "Decryption failed");
  std::optional<std::string> message;
  if (scheme_ == RSA_SCHEME_PKCS1) {
    message = DecodePKCS1Encryption(em);
  } else {
    const int32_t mgf = mgf_algorithm_ != 0 ? mgf_algorithm_ : key_->MGFAlgorithm();
    if (mgf != CERT_ALG_MGF1)
      RaiseEngine("Unsupported property value (" + std::to_string(mgf) + ")");
    message = DecodeOAEP(EncryptionHash(), label_set_ ? label_ : key_->StrLabel(), em);
  }
  WipeBytes(em);
  if (!message) RaiseEngine("Decryption failed");
  return *message;
}

const ByteString& TOvBuiltInRSAContext::Final() {
  if (finished_) return output_;
  switch (kind_) {
    case pkcSign:
      output_ = Sign();
      break;
    case pkcEncrypt:
      output_ = Encrypt();
      break;
    case pkcDecrypt:
      output_ = Decrypt();
      break;
    default:
      RaiseEngine("Invalid context");
  }
  finished_ = true;
  return output_;
}

}  // namespace corvane
