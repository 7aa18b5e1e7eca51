#include "toolkit/crypto/CvCryptoProvWin32.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProvManager.h"

namespace corvane {

namespace {

[[noreturn]] void Raise(const std::string& message) { throw EOvWin32CryptoProviderError(message); }

std::string Format(const char* pattern, int32_t value) {
  char buf[96];
  std::snprintf(buf, sizeof buf, pattern, static_cast<int>(value));
  return buf;
}

// Why the store failed: its own words when it has them (the person signing
// reads this), else its error number.
std::string StoreFailure(TOvWin32KeyStore& store) {
  std::string text = store.LastErrorText();
  return !text.empty() ? text : Format("Win32 error: %d", store.LastError());
}

struct AlgorithmRow {
  uint32_t Id;
  int32_t Algorithm;
  bool Generate, Encrypt, Sign, Digest, Exchange;
  int32_t KeyBytes, BlockBytes;
  bool Fips;
};

// CSP algorithm ids the provider knows; the first matching row wins.
constexpr AlgorithmRow kAlgorithmRows[] = {
    {0x8001, ALG_MD2, false, false, false, true, false, 0, 0, false},
    {0x8003, ALG_MD5, false, false, false, true, false, 0, 0, false},
    {0x8004, ALG_SHA1, false, false, false, true, false, 0, 0, true},
    {0x800C, ALG_SHA256, false, false, false, true, false, 0, 0, true},
    {0x800D, ALG_SHA384, false, false, false, true, false, 0, 0, true},
    {0x800E, ALG_SHA512, false, false, false, true, false, 0, 0, true},
    {0x8008, ALG_SSL3_HASH, false, false, false, true, false, 0, 0, false},
    {0xA003, ALG_MD5, false, false, false, true, false, 0, 0, false},
    {0x8009, ALG_HMAC_KEY, false, false, false, true, false, 0, 0, true},
    {0x801E, 0x710C, false, false, false, true, false, 0, 0, false},
    {0x2400, ALG_RSA, true, false, true, false, false, 0, 0, true},
    {0xA400, ALG_RSA, true, true, true, false, false, 0, 0, true},
    {0x2200, ALG_DSA, true, false, true, false, false, 0, 0, true},
    {0x2203, 0x7406, true, false, true, false, false, 0, 0, false},
    {0x2E1E, 0x7404, true, false, true, false, false, 0, 0, false},
    {0x2E23, 0x740A, true, false, true, false, false, 0, 0, false},
    {0xAA02, 0x7407, false, false, false, false, true, 0, 0, false},
    {0xAA05, 0x7409, false, false, false, false, true, 0, 0, false},
    {0x6601, 0x7002, true, true, false, false, false, 8, 8, false},
    {0x6603, 0x7003, true, true, false, false, false, 24, 8, true},
    {0x6602, 0x7004, true, true, false, false, false, 16, 8, false},
    {0x6801, 0x7001, true, true, false, false, false, 16, 0, false},
    {0x660E, 0x7005, true, true, false, false, false, 16, 16, true},
    {0x660F, 0x7006, true, true, false, false, false, 24, 16, true},
    {0x6610, 0x7007, true, true, false, false, false, 32, 16, true},
    {0x6611, 0x7005, true, true, false, false, false, 16, 16, true},
    {0x661E, 0x7023, true, true, false, false, false, 32, 8, false},
};
constexpr uint32_t kUnknownIds[] = {0x8002, 0x8005, 0x2000, 0x6609, 0x6604, 0x6802, 0xAA01, 0xAA03,
                                    0xAA04, 0x660A, 0x660B, 0x660C, 0x660D, 0x4C01, 0x4C02, 0x4C03,
                                    0x4C04, 0x4C05, 0x4C06, 0x4C07, 0x800A, 0x800B};

// The algorithm's code as a key family (signature codes collapse).
int32_t KeyCode(int32_t algorithm) { return KeyFamilyOf(algorithm); }

// MAC code -> its hash.
int32_t HashOfMac(int32_t mac) {
  switch (mac) {
    case ALG_HMAC_SHA1:
      return ALG_SHA1;
    case ALG_HMAC_SHA256:
      return ALG_SHA256;
    case ALG_HMAC_SHA384:
      return ALG_SHA384;
    case ALG_HMAC_SHA512:
      return ALG_SHA512;
    case ALG_HMAC_MD5:
      return ALG_MD5;
    case ALG_HMAC_SHA224:
      return ALG_SHA224;
    case ALG_HMAC_RIPEMD160:
      return ALG_RIPEMD160;
    default:
      return ALG_UNKNOWN;
  }
}

std::string_view StripZeros(std::string_view v) {
  while (v.size() > 1 && v[0] == '\0') v.remove_prefix(1);
  return v;
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }, bare
// or inside a SubjectPublicKeyInfo.
bool ParseRSAPublicKey(std::string_view data, ByteString& modulus, ByteString& exponent) {
  TCvDERReader outer(data);
  std::string_view seq;
  if (!outer.Read(ASN1_SEQUENCE, seq) || !outer.AtEnd()) return false;
  TCvDERReader inner(seq);
  if (inner.PeekTag() == ASN1_SEQUENCE) {
    // SubjectPublicKeyInfo: algorithm, BIT STRING with the RSAPublicKey.
    std::string_view algorithm, bits;
    if (!inner.Read(ASN1_SEQUENCE, algorithm) || !inner.Read(ASN1_BIT_STRING, bits) ||
        bits.empty() || bits[0] != '\0')
      return false;
    return ParseRSAPublicKey(bits.substr(1), modulus, exponent);
  }
  std::string_view m, e;
  if (!inner.Read(ASN1_INTEGER, m) || !inner.Read(ASN1_INTEGER, e) || !inner.AtEnd()) return false;
  if (m.empty() || e.empty()) return false;
  modulus = ByteString(StripZeros(m));
  exponent = ByteString(StripZeros(e));
  return true;
}

void AppendLength(ByteString& out, size_t len) {
  if (len < 0x80) {
    out += static_cast<char>(len);
    return;
  }
  ByteString bytes;
  for (; len > 0; len >>= 8) bytes.insert(bytes.begin(), static_cast<char>(len & 0xFF));
  out += static_cast<char>(0x80 | bytes.size());
  out += bytes;
}

ByteString DerInteger(std::string_view magnitude) {
  ByteString body(magnitude);
  if (body.empty() || (static_cast<uint8_t>(body[0]) & 0x80)) body.insert(body.begin(), '\0');
  ByteString out("\x02", 1);
  AppendLength(out, body.size());
  return out + body;
}

// Ecdsa-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER } from the big-endian
// halves.
ByteString EcdsaSigValue(std::string_view r, std::string_view s) {
  const ByteString body = DerInteger(StripZeros(r)) + DerInteger(StripZeros(s));
  ByteString seq("\x30", 1);
  AppendLength(seq, body.size());
  return seq + body;
}

ByteString RSAPublicKeyDer(std::string_view modulus, std::string_view exponent) {
  const ByteString body = DerInteger(modulus) + DerInteger(exponent);
  ByteString out("\x30", 1);
  AppendLength(out, body.size());
  return out + body;
}

// SubjectPublicKeyInfo of an RSA key (RFC 3279 2.3.1): what every provider's
// ImportPublic takes, where a bare RSAPublicKey needs a provider-specific flag.
ByteString RSASubjectPublicKeyInfo(std::string_view modulus, std::string_view exponent) {
  const ByteString algorithm = ByteString("\x30\x0d\x06\x09", 4) + ByteString(oid::RSA_ENCRYPTION) +
                               ByteString("\x05\x00", 2);
  ByteString bits("\x03", 1);
  const ByteString key = RSAPublicKeyDer(modulus, exponent);
  AppendLength(bits, key.size() + 1);
  bits += '\0';
  bits += key;
  const ByteString body = algorithm + bits;
  ByteString out("\x30", 1);
  AppendLength(out, body.size());
  return out + body;
}

// DigestInfo ::= SEQUENCE { SEQUENCE { OID, parameters }, OCTET STRING }.
bool ParseDigestInfo(std::string_view data, ByteString& oid, ByteString& digest) {
  TCvDERReader outer(data);
  std::string_view seq;
  if (!outer.Read(ASN1_SEQUENCE, seq) || !outer.AtEnd()) return false;
  TCvDERReader inner(seq);
  std::string_view alg, octets;
  if (!inner.Read(ASN1_SEQUENCE, alg)) return false;
  if (!inner.Read(ASN1_OCTET_STRING, octets) || !inner.AtEnd()) return false;
  TCvDERReader algorithm(alg);
  std::string_view oidBytes;
  if (!algorithm.Read(ASN1_OBJECT_IDENTIFIER, oidBytes)) return false;
  oid = ByteString(oidBytes);
  digest = ByteString(octets);
  return true;
}

uint32_t CryptoApiHashId(int32_t algorithm) {
  switch (algorithm) {
    case ALG_SHA1:
      return CALG_SHA1;
    case ALG_MD5:
      return CALG_MD5;
    case ALG_MD2:
      return CALG_MD2;
    case ALG_SHA256:
      return CALG_SHA_256;
    case ALG_SHA384:
      return CALG_SHA_384;
    case ALG_SHA512:
      return CALG_SHA_512;
    case ALG_SSL3_HASH:
      return CALG_SSL3_SHAMD5;
    default:
      return 0;
  }
}

ByteString Uint64ToBytes(uint64_t value) {
  ByteString out(8, '\0');
  for (int i = 7; i >= 0; --i, value >>= 8)
    out[static_cast<size_t>(i)] = static_cast<char>(value & 0xFF);
  return out;
}

void ApplyContextParams(TOvCustomCryptoContext& context, TOvCryptoParams params) {
  if (params == nullptr) return;
  for (int i = 0; i < params->Count(); ++i)
    context.SetContextProp(params->Types(i), params->Values(i));
}

void ApplyKeyParams(TOvCustomCryptoKey& key, TOvCryptoParams params) {
  if (params == nullptr) return;
  for (int i = 0; i < params->Count(); ++i) key.SetKeyProp(params->Types(i), params->Values(i));
}

}  // namespace

// ---------------------------------------------------------------------------
// Options

void TOvWin32CryptoProviderOptions::Reset() {
  TOvCustomCryptoProviderOptions::Reset();
  UseForPublicKeyOperations = true;
  UseForSymmetricCiphers = false;
  UseForHashes = false;
  UseForPublicKeyEncryptionAndVerification = false;
  UseBaseProvider = UseStrongProvider = UseEnhancedProvider = UseAESProvider = true;
  UseDSSProvider = UseBaseDSSDHProvider = UseEnhancedDSSDHProvider = UseRSASChannelProvider = true;
  UseRSASignatureProvider = false;
  UseECDSASigProvider = UseECNRASigProvider = UseECDSAFullProvider = UseECNRAFullProvider = false;
  UseDHSChannelProvider = UseCryptoProProviders = true;
  FIPSMode = false;
  CacheKeyContexts = false;
  StoreKeysPersistently = true;
  UseEnhancedProviderForLargeKeys = false;
  UseEnhancedProviderForLargeKeysOnNewSystems = true;
}

void TOvWin32CryptoProviderOptions::Assign(const TOvCustomCryptoProviderOptions& other) {
  TOvCustomCryptoProviderOptions::Assign(other);
  if (const auto* o = dynamic_cast<const TOvWin32CryptoProviderOptions*>(&other)) {
    const int32_t max = MaxPublicKeySize;
    *this = *o;
    MaxPublicKeySize = max;
  }
}

// ---------------------------------------------------------------------------
// Key

TOvWin32CryptoKey::TOvWin32CryptoKey(TOvWin32CryptoProvider* provider, int32_t algorithm)
    : TOvCustomCryptoKey(provider), algorithm_(algorithm) {}

TOvWin32CryptoKey::~TOvWin32CryptoKey() { ReleaseHandles(); }

TOvWin32KeyStore& TOvWin32CryptoKey::Store() const {
  return static_cast<TOvWin32CryptoProvider*>(Provider())->KeyStore();
}

void TOvWin32CryptoKey::ReleaseHandles() {
  TOvWin32KeyStore& store = Store();
  if (cert_ != 0) store.FreeCertificate(cert_);
  if (own_csp_ != 0) store.ReleaseContainer(own_csp_);
  if (cached_csp_ != 0) store.ReleaseContainer(cached_csp_);
  if (cached_csp24_ != 0) store.ReleaseContainer(cached_csp24_);
  cert_ = own_csp_ = cached_csp_ = cached_csp24_ = 0;
  cached_key_spec_ = 0;
}

bool TOvWin32CryptoKey::IsSecret() const {
  if (cert_ == 0) return false;
  TOvWin32KeyLocation location;
  return Store().ReadKeyLocation(cert_, location);
}

bool TOvWin32CryptoKey::IsExportable() const {
  // The store never hands private keys out.
  return false;
}

int32_t TOvWin32CryptoKey::KeyBits() const {
  TOvWin32KeyLocation location;
  if (cert_ != 0 && Store().ReadKeyLocation(cert_, location)) {
    TOvWin32KeyStore& store = Store();
    const uint64_t csp = cached_csp_ != 0
                             ? cached_csp_
                             : store.OpenKeyContainer(location.ContainerName, &location.CSPName,
                                                      location.CSPType, location.Flags);
    if (csp != 0) {
      uint64_t key = store.GetUserKey(csp, AT_SIGNATURE);
      if (key == 0) key = store.GetUserKey(csp, AT_KEYEXCHANGE);
      uint32_t bits = 0;
      if (key != 0) {
        bits = store.KeyBits(key);
        store.DestroyKey(key);
      }
      if (csp != cached_csp_) store.ReleaseContainer(csp);
      if (bits != 0) return static_cast<int32_t>(bits);
    }
  }
  if (modulus_.empty()) return 0;
  int32_t bits = static_cast<int32_t>(modulus_.size() * 8);
  for (uint8_t top = static_cast<uint8_t>(modulus_[0]); (top & 0x80) == 0 && bits > 0; top <<= 1)
    --bits;
  return bits;
}

void TOvWin32CryptoKey::Reset() {
  ReleaseHandles();
  modulus_.clear();
  exponent_.clear();
  algorithm_ = ALG_UNKNOWN;
  delete_container_on_release_ = false;
}

void TOvWin32CryptoKey::ImportPublic(const void* data, size_t size, TOvCryptoParams params) {
  ByteString m, e;
  if (data == nullptr ||
      !ParseRSAPublicKey(std::string_view(static_cast<const char*>(data), size), m, e))
    Raise("Invalid key material");
  modulus_ = std::move(m);
  exponent_ = std::move(e);
  ApplyKeyParams(*this, params);
}

TOvCustomCryptoKey* TOvWin32CryptoKey::Clone(TOvCryptoParams params) {
  auto* provider = static_cast<TOvWin32CryptoProvider*>(Provider());
  auto copy = std::make_unique<TOvWin32CryptoKey>(provider, algorithm_);
  copy->modulus_ = modulus_;
  copy->exponent_ = exponent_;
  TOvWin32KeyStore& store = Store();
  if (cert_ != 0) copy->cert_ = store.DuplicateCertificate(cert_);
  if (cached_csp_ != 0) {
    store.AddRefContainer(cached_csp_);
    copy->cached_csp_ = cached_csp_;
    copy->cached_key_spec_ = cached_key_spec_;
  }
  if (cached_csp24_ != 0) {
    store.AddRefContainer(cached_csp24_);
    copy->cached_csp24_ = cached_csp24_;
  }
  copy->delete_container_on_release_ = false;
  TOvCustomCryptoKey* result = provider->AdoptKey(std::move(copy));
  ApplyKeyParams(*result, params);
  return result;
}

TOvCustomCryptoKey* TOvWin32CryptoKey::ClonePublic(TOvCryptoParams params) {
  auto* provider = static_cast<TOvWin32CryptoProvider*>(Provider());
  auto copy = std::make_unique<TOvWin32CryptoKey>(provider, algorithm_);
  copy->modulus_ = modulus_;
  copy->exponent_ = exponent_;
  TOvCustomCryptoKey* result = provider->AdoptKey(std::move(copy));
  ApplyKeyParams(*result, params);
  return result;
}

void TOvWin32CryptoKey::ClearSecret() {
  // The secret part is the store's key, reached through the certificate.
  ReleaseHandles();
}

ByteString TOvWin32CryptoKey::GetKeyProp(std::string_view name, std::string_view defaultValue) {
  if (name == PROP_WIN32_CERTCONTEXT) return Uint64ToBytes(cert_);
  if (name == PROP_RSA_RAW_KEY) return BoolToBytes(false);
  if (name == PROP_RSA_M) return modulus_;
  if (name == PROP_RSA_E) return exponent_;
  if (name == PROP_RSA_D) return ByteString(defaultValue);  // never exportable
  if (name == PROP_KEY_FORMAT) return ByteString(SCHEME_PKCS1);
  if (name == PROP_HASH_ALGORITHM) return OIDByAlgorithm(ALG_SHA1);
  return ByteString(defaultValue);
}

void TOvWin32CryptoKey::SetKeyProp(std::string_view name, std::string_view value) {
  if (name == PROP_WIN32_CERTCONTEXT) {
    // The whole handle, big-endian: a handle above 2^32 must survive.
    if (value.size() > 8) Raise("Unsupported property value (" + ByteString(name) + ")");
    uint64_t handle = 0;
    for (char c : value) handle = (handle << 8) | static_cast<uint8_t>(c);
    if (cert_ != 0 && cert_ != handle) Store().FreeCertificate(cert_);
    cert_ = handle;  // the key owns the handle from now on
    return;
  }
  if (name == PROP_RSA_M) {
    modulus_ = ByteString(StripZeros(value));
    return;
  }
  if (name == PROP_RSA_E) {
    exponent_ = ByteString(StripZeros(value));
    return;
  }
  // Scheme parameters of PSS and OAEP keys concern signing elsewhere.
  if (name == PROP_RSA_RAW_KEY || name == PROP_KEY_FORMAT || name == PROP_HASH_ALGORITHM ||
      name == PROP_SALT_SIZE || name == PROP_TRAILER_FIELD || name == PROP_MGF_ALGORITHM ||
      name == PROP_STRLABEL)
    return;
  Raise("Cannot modify read-only property");
}

bool TOvWin32CryptoKey::Equals(const TOvCustomCryptoKey& other, bool, TOvCryptoParams) {
  const auto* o = dynamic_cast<const TOvWin32CryptoKey*>(&other);
  return o != nullptr && o->algorithm_ == algorithm_ && o->modulus_ == modulus_ &&
         o->exponent_ == exponent_;
}

// ---------------------------------------------------------------------------
// Context

TOvWin32CryptoContext::TOvWin32CryptoContext(TOvWin32CryptoProvider* provider, int32_t operation,
                                             int32_t algorithm, TOvWin32CryptoKey* key)
    : TOvCustomCryptoContext(provider), operation_(operation), algorithm_(algorithm), key_(key) {}

TOvWin32CryptoContext::~TOvWin32CryptoContext() {
  if (hash_context_ != nullptr && hash_provider_ != nullptr)
    hash_provider_->ReleaseCryptoContext(hash_context_);
}

int32_t TOvWin32CryptoContext::GetKeySize() const { return key_ != nullptr ? key_->KeyBits() : 0; }
void TOvWin32CryptoContext::SetKeySize(int32_t) { Raise("Cannot modify read-only property"); }
void TOvWin32CryptoContext::SetBlockSize(int32_t) { Raise("Cannot modify read-only property"); }
void TOvWin32CryptoContext::SetDigestSize(int32_t) { Raise("Cannot modify read-only property"); }
void TOvWin32CryptoContext::SetMode(int32_t) { Raise("Cannot modify read-only property"); }
void TOvWin32CryptoContext::SetPadding(int32_t) { Raise("Not a symmetric cipher context"); }

ByteString TOvWin32CryptoContext::GetContextProp(std::string_view name,
                                                 std::string_view defaultValue) {
  if (name == PROP_HASH_ALGORITHM) return OIDByAlgorithm(hash_algorithm_);
  if (name == PROP_INPUT_IS_HASH) return BoolToBytes(input_is_hash_);
  if (name == PROP_HASH_FUNC_OID) return hash_func_oid_;
  if (name == PROP_USE_ALGORITHM_PREFIX) return BoolToBytes(true);
  if (name == PROP_ALG_SCHEME) return scheme_;
  return ByteString(defaultValue);
}

void TOvWin32CryptoContext::SetContextProp(std::string_view name, std::string_view value) {
  if (name == PROP_HASH_ALGORITHM) {
    if (!value.empty()) hash_algorithm_ = AlgorithmByOID(value);
  } else if (name == PROP_INPUT_IS_HASH) {
    input_is_hash_ = BytesToBool(value, input_is_hash_);
  } else if (name == PROP_HASH_FUNC_OID) {
    hash_func_oid_ = ByteString(value);
  } else if (name == PROP_USE_ALGORITHM_PREFIX) {
    use_algorithm_prefix_ = BytesToBool(value, use_algorithm_prefix_);
  } else if (name == PROP_ALG_SCHEME) {
    if (value != SCHEME_PKCS1 && value != SCHEME_OAEP && value != SCHEME_PSS)
      Raise("Unsupported property value (" + ByteString(value) + ")");
    scheme_ = ByteString(value);
  } else if (name == PROP_SALT_SIZE) {
    salt_size_ = BytesToInt(value, 0);
  } else if (name == PROP_PADDING_TYPE) {
    Raise("Not a symmetric cipher context");
  }
}

TOvCustomCryptoContext* TOvWin32CryptoContext::Clone(TOvCryptoParams) {
  Raise("Cannot clone a context");
}

// ---------------------------------------------------------------------------
// Provider

TOvWin32CryptoProvider::TOvWin32CryptoProvider(TOvWin32KeyStore* store)
    : store_(store != nullptr ? store : &Win32KeyStore()) {
  Setup();
}

TOvWin32CryptoProvider::~TOvWin32CryptoProvider() { Teardown(); }

TOvWin32CryptoProvider* TOvWin32CryptoProvider::DefaultInstanceOfClass() {
  static TOvWin32CryptoProvider instance;
  return &instance;
}

std::unique_ptr<TOvCustomCryptoProviderOptions> TOvWin32CryptoProvider::CreateOptions() {
  return std::make_unique<TOvWin32CryptoProviderOptions>();
}

void TOvWin32CryptoProvider::RegisterCSP(const std::string& name, uint32_t type, bool fips) {
  const uint64_t handle = store_->OpenVerifyOnly(name, type);
  if (handle == 0) return;  // absent CSP
  TOvWin32ProviderInfo info;
  info.CSPType = type;
  info.CSPName = name;
  info.Handle = handle;
  info.FIPSCompliant = fips;
  for (const TOvWin32CSPAlgorithm& a : store_->ListAlgorithms(handle)) {
    const AlgorithmRow* row = nullptr;
    for (const auto& r : kAlgorithmRows)
      if (r.Id == a.Id) {
        row = &r;
        break;
      }
    const bool unknown =
        std::find(std::begin(kUnknownIds), std::end(kUnknownIds), a.Id) != std::end(kUnknownIds);
    if (row == nullptr && !unknown) continue;
    TOvWin32AlgorithmInfo rec;
    rec.Id = a.Id;
    rec.Name = a.Name;
    rec.BitLength = a.Id == 0x6601 ? 64 : a.Id == 0x6603 ? 192 : a.BitLength;
    if (row != nullptr) {
      rec.Algorithm = row->Algorithm;
      rec.CanGenerate = row->Generate;
      rec.CanEncrypt = row->Encrypt;
      rec.CanSign = row->Sign;
      rec.CanDigest = row->Digest;
      rec.CanExchange = row->Exchange;
      rec.DefaultKeySize = row->KeyBytes;
      rec.DefaultBlockSize = row->BlockBytes;
      rec.FIPSCompliant = row->Fips;
    }
    info.Algorithms.push_back(std::move(rec));
  }
  csps_.push_back(std::move(info));
}

void TOvWin32CryptoProvider::Init() {
  last_error_text_.clear();
  window_handle_ = 0;
  const TOvWin32CryptoProviderOptions& o = Win32Options();
  if (o.UseBaseProvider) RegisterCSP("Microsoft Base Cryptographic Provider v1.0", 1, false);
  if (o.UseStrongProvider) RegisterCSP("Microsoft Strong Cryptographic Provider", 1, false);
  if (o.UseEnhancedProvider) RegisterCSP("Microsoft Enhanced Cryptographic Provider v1.0", 1, true);
  if (o.UseAESProvider) {
    const size_t before = csps_.size();
    RegisterCSP("Microsoft Enhanced RSA and AES Cryptographic Provider", 24, true);
    if (csps_.size() == before)
      RegisterCSP("Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)", 24, true);
  }
  if (o.UseDSSProvider) RegisterCSP("Microsoft Base DSS Cryptographic Provider", 3, false);
  if (o.UseBaseDSSDHProvider)
    RegisterCSP("Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13, false);
  if (o.UseEnhancedDSSDHProvider)
    RegisterCSP("Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13, true);
  if (o.UseRSASChannelProvider)
    RegisterCSP("Microsoft RSA SChannel Cryptographic Provider", 12, false);
  if (o.UseRSASignatureProvider)
    RegisterCSP("Microsoft RSA Signature Cryptographic Provider", 2, false);
  if (o.UseECDSASigProvider) RegisterCSP("", 14, false);
  if (o.UseECNRASigProvider) RegisterCSP("", 15, false);
  if (o.UseECDSAFullProvider) RegisterCSP("", 16, false);
  if (o.UseECNRAFullProvider) RegisterCSP("", 17, false);
  if (o.UseDHSChannelProvider)
    RegisterCSP("Microsoft DH SChannel Cryptographic Provider", 18, false);
  if (o.UseCryptoProProviders) {
    RegisterCSP("Crypto-Pro GOST R 34.10-94 Cryptographic Service Provider", 71, false);
    RegisterCSP("Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", 75, false);
  }
}

void TOvWin32CryptoProvider::Deinit() {
  for (auto& csp : csps_)
    if (csp.OwnsHandle && csp.Handle != 0) store_->ReleaseContainer(csp.Handle);
  csps_.clear();
}

void TOvWin32CryptoProvider::Reinit() {
  Deinit();
  Init();
}

void TOvWin32CryptoProvider::SetAsDefault() {
  DefaultCryptoProviderManager()->SetDefaultProviderByClass<TOvWin32CryptoProvider>();
}

TOvCustomCryptoProvider* TOvWin32CryptoProvider::GetDefaultInstance() {
  return DefaultInstanceOfClass();
}

bool TOvWin32CryptoProvider::FamilyEnabled(int32_t algorithm) const {
  const TOvWin32CryptoProviderOptions& o =
      const_cast<TOvWin32CryptoProvider*>(this)->Win32Options();
  switch (AlgorithmFamily(algorithm)) {
    case ALG_FAMILY_PUBLICKEY:
      return o.UseForPublicKeyOperations;
    case ALG_FAMILY_SYMMETRIC:
      return o.UseForSymmetricCiphers;
    case ALG_FAMILY_HASH:
    case ALG_FAMILY_MAC:
      return o.UseForHashes;
    default:
      return false;
  }
}

const TOvWin32AlgorithmInfo* TOvWin32CryptoProvider::FindRecord(
    int32_t algorithm, bool (*fits)(const TOvWin32AlgorithmInfo&)) const {
  const bool fipsMode = const_cast<TOvWin32CryptoProvider*>(this)->Win32Options().FIPSMode;
  for (const auto& csp : csps_) {
    if (fipsMode && !csp.FIPSCompliant) continue;
    for (const auto& rec : csp.Algorithms) {
      if (rec.Algorithm == ALG_UNKNOWN) continue;
      if (fipsMode && !rec.FIPSCompliant) continue;
      const bool match =
          rec.Algorithm == algorithm ||
          (algorithm == 0x7022 && AlgorithmFamily(rec.Algorithm) == ALG_FAMILY_SYMMETRIC);
      if (match && (fits == nullptr || fits(rec))) return &rec;
    }
  }
  return nullptr;
}

bool TOvWin32CryptoProvider::HasHMAC() const {
  for (const auto& csp : csps_)
    for (const auto& rec : csp.Algorithms)
      if (rec.Id == CALG_HMAC) return true;
  return false;
}

bool TOvWin32CryptoProvider::IsAlgorithmSupported(int32_t algorithm, int32_t mode) {
  algorithm = KeyCode(algorithm);
  if (!FamilyEnabled(algorithm)) return false;
  if (AlgorithmFamily(algorithm) == ALG_FAMILY_MAC) {
    if (!HasHMAC()) return false;
    if (algorithm == ALG_HMAC_KEY) return true;
    algorithm = HashOfMac(algorithm);
  }
  if (AlgorithmFamily(algorithm) == ALG_FAMILY_SYMMETRIC && mode >= 3) return false;
  return FindRecord(algorithm, nullptr) != nullptr;
}

bool TOvWin32CryptoProvider::IsAlgorithmSupportedByOID(std::string_view oid, std::string_view,
                                                       int32_t mode) {
  return IsAlgorithmSupported(AlgorithmByOID(oid, true), mode);
}

bool TOvWin32CryptoProvider::IsOperationSupported(TCvCryptoOperation operation, int32_t algorithm,
                                                  int32_t mode, const TOvCustomCryptoKey* key,
                                                  TOvCryptoParams) {
  algorithm = KeyCode(algorithm);
  if (!FamilyEnabled(algorithm)) return false;
  if ((operation == coEncrypt || operation == coVerify || operation == coVerifyDetached) &&
      !Win32Options().UseForPublicKeyEncryptionAndVerification)
    return false;
  const bool isMac = AlgorithmFamily(algorithm) == ALG_FAMILY_MAC;
  int32_t lookup = algorithm;
  if (isMac) {
    if (!HasHMAC()) return false;
    if (algorithm != ALG_HMAC_KEY) lookup = HashOfMac(algorithm);
  }
  if (AlgorithmFamily(lookup) == ALG_FAMILY_SYMMETRIC && mode >= 3) return false;
  bool (*fits)(const TOvWin32AlgorithmInfo&) = nullptr;
  switch (operation) {
    case coNone:
    case coKeyless10:
    case coKeyless11:
      fits = [](const TOvWin32AlgorithmInfo&) { return true; };
      break;
    case coEncrypt:
    case coDecrypt:
    case coDecryptKey:
      fits = [](const TOvWin32AlgorithmInfo& r) { return r.CanEncrypt || r.CanExchange; };
      break;
    case coSignDetached:
    case coVerifyDetached:
      fits = [](const TOvWin32AlgorithmInfo& r) { return r.CanSign; };
      break;
    case coHash:
      fits = [](const TOvWin32AlgorithmInfo& r) { return r.CanDigest; };
      break;
    case coGenerateKey:
      fits = [](const TOvWin32AlgorithmInfo& r) { return r.CanGenerate; };
      break;
    default:
      return false;  // 3, 5 and 12 never fit
  }
  bool found;
  if (isMac && algorithm == ALG_HMAC_KEY)
    found = true;
  else
    found = FindRecord(lookup, fits) != nullptr;
  if (!found) return false;
  if (operation == coKeyless11) return true;
  return key == nullptr || dynamic_cast<const TOvWin32CryptoKey*>(key) != nullptr || isMac;
}

bool TOvWin32CryptoProvider::IsOperationSupportedByOID(TCvCryptoOperation operation,
                                                       std::string_view oid, std::string_view,
                                                       int32_t mode, const TOvCustomCryptoKey* key,
                                                       TOvCryptoParams params) {
  return IsOperationSupported(operation, AlgorithmByOID(oid, true), mode, key, params);
}

ByteString TOvWin32CryptoProvider::GetAlgorithmProperty(int32_t algorithm, int32_t mode,
                                                        std::string_view name) {
  if (!IsAlgorithmSupported(algorithm, mode)) {
    TOvCustomCryptoProviderManager* manager =
        Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
    return manager->GetAlgorithmProperty(algorithm, mode, name);
  }
  const TOvWin32AlgorithmInfo* rec = FindRecord(KeyCode(algorithm), nullptr);
  if (name == PROP_DEFAULT_KEY_SIZE) return IntToBytes(rec != nullptr ? rec->DefaultKeySize : 0);
  if (name == PROP_BLOCK_SIZE) return IntToBytes(rec != nullptr ? rec->DefaultBlockSize : 0);
  if (name == PROP_DIGEST_SIZE)
    return IntToBytes(rec != nullptr ? static_cast<int32_t>(rec->BitLength) : 0);
  return ByteString();
}

ByteString TOvWin32CryptoProvider::GetAlgorithmPropertyByOID(std::string_view oid,
                                                             std::string_view algParams,
                                                             int32_t mode, std::string_view name) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (!IsAlgorithmSupported(algorithm, mode)) {
    TOvCustomCryptoProviderManager* manager =
        Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
    return manager->GetAlgorithmPropertyByOID(oid, algParams, mode, name);
  }
  return GetAlgorithmProperty(algorithm, mode, name);
}

int32_t TOvWin32CryptoProvider::GetAlgorithmClass(int32_t algorithm) {
  if (!IsAlgorithmSupported(algorithm, 0)) {
    TOvCustomCryptoProviderManager* manager =
        Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
    return manager->GetAlgorithmClass(algorithm);
  }
  return ALGCLASS_PUBLICKEY;
}

int32_t TOvWin32CryptoProvider::GetAlgorithmClassByOID(std::string_view oid,
                                                       std::string_view algParams) {
  const int32_t algorithm = AlgorithmByOID(oid, true);
  if (!IsAlgorithmSupported(algorithm, 0)) {
    TOvCustomCryptoProviderManager* manager =
        Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
    return manager->GetAlgorithmClassByOID(oid, algParams);
  }
  return ALGCLASS_PUBLICKEY;
}

ByteString TOvWin32CryptoProvider::GetProviderProp(std::string_view name,
                                                   std::string_view defaultValue) {
  if (name == PROP_WINDOW_HANDLE) return Uint64ToBytes(window_handle_);
  return TOvCustomCryptoProvider::GetProviderProp(name, defaultValue);
}

void TOvWin32CryptoProvider::SetProviderProp(std::string_view name, std::string_view value) {
  if (name != PROP_WINDOW_HANDLE) return TOvCustomCryptoProvider::SetProviderProp(name, value);
  uint64_t handle = 0;
  for (char c : value.substr(0, 8)) handle = (handle << 8) | static_cast<uint8_t>(c);
  if (!store_->SetParentWindow(0, handle))
    throw EOvCryptoProviderError(Format("Win32 error: %d", store_->LastError()));
  window_handle_ = handle;
}

TOvCustomCryptoKey* TOvWin32CryptoProvider::AdoptKey(std::unique_ptr<TOvWin32CryptoKey> key) {
  return AddKey(std::move(key));
}

TOvCustomCryptoKey* TOvWin32CryptoProvider::CreateKey(int32_t algorithm, int32_t,
                                                      TOvCryptoParams params) {
  int32_t code = KeyCode(algorithm);
  if (code == ALG_ECDSA) code = ALG_EC;  // the key of the signature algorithm
  if (code != ALG_RSA && code != ALG_DSA && code != ALG_EC)
    Raise(FormatUnsupportedAlgorithm(algorithm));
  TOvCustomCryptoKey* key = AddKey(std::make_unique<TOvWin32CryptoKey>(this, code));
  ApplyKeyParams(*key, params);
  return key;
}

TOvCustomCryptoKey* TOvWin32CryptoProvider::CreateKeyByOID(std::string_view oid, std::string_view,
                                                           TOvCryptoParams params) {
  const int32_t code = AlgorithmByOID(oid, true);
  if (code != ALG_RSA && code != ALG_DSA && code != ALG_EC)
    Raise(FormatUnsupportedAlgorithmOID(oid));
  return CreateKey(code, 0, params);
}

TOvWin32CryptoKey* TOvWin32CryptoProvider::CheckKey(TOvCustomCryptoKey* key) {
  auto* k = dynamic_cast<TOvWin32CryptoKey*>(key);
  if (k == nullptr || !OwnsKey(k)) Raise("Invalid key material");
  return k;
}

TOvWin32CryptoContext* TOvWin32CryptoProvider::CheckContext(TOvCustomCryptoContext* context) {
  auto* c = dynamic_cast<TOvWin32CryptoContext*>(context);
  if (c == nullptr || !OwnsContext(c)) Raise("Invalid context");
  return c;
}

TOvCustomCryptoKey* TOvWin32CryptoProvider::CloneKey(TOvCustomCryptoKey* key) {
  return CheckKey(key)->Clone(nullptr);
}

void TOvWin32CryptoProvider::ReleaseKey(TOvCustomCryptoKey*& key) { RemoveKey(key); }

void TOvWin32CryptoProvider::DeleteKey(TOvCustomCryptoKey*&) { Raise("Feature not available"); }

TOvCustomCryptoKey* TOvWin32CryptoProvider::DecryptKey(const void*, size_t, std::string_view,
                                                       std::string_view, TOvCustomCryptoKey*,
                                                       std::string_view, std::string_view,
                                                       TOvCryptoParams) {
  Raise("Unsupported operation");
}

TOvCustomCryptoContext* TOvWin32CryptoProvider::EncryptInit(int32_t, int32_t, TOvCustomCryptoKey*,
                                                            TOvCryptoParams) {
  Raise("Unsupported operation");
}
TOvCustomCryptoContext* TOvWin32CryptoProvider::EncryptInitByOID(std::string_view, std::string_view,
                                                                 int32_t, TOvCustomCryptoKey*,
                                                                 TOvCryptoParams) {
  Raise("Unsupported operation");
}
TOvCustomCryptoContext* TOvWin32CryptoProvider::DecryptInit(int32_t, int32_t, TOvCustomCryptoKey*,
                                                            TOvCryptoParams) {
  Raise("Unsupported operation");
}
TOvCustomCryptoContext* TOvWin32CryptoProvider::DecryptInitByOID(std::string_view, std::string_view,
                                                                 int32_t, TOvCustomCryptoKey*,
                                                                 TOvCryptoParams) {
  Raise("Unsupported operation");
}

TOvCustomCryptoContext* TOvWin32CryptoProvider::SignInit(int32_t algorithm, TOvCustomCryptoKey* key,
                                                         bool detached, TOvCryptoParams params) {
  if (!IsOperationSupported(coSignDetached, algorithm, 0, key, params))
    Raise("Unsupported operation");
  if (!detached) Raise("Feature not available");
  TOvWin32CryptoKey* k = key != nullptr ? CheckKey(key) : nullptr;
  auto owned = std::make_unique<TOvWin32CryptoContext>(this, 5, KeyCode(algorithm), k);
  TOvWin32CryptoContext* context = owned.get();
  TOvCustomCryptoContext* added = AddContext(std::move(owned));
  try {
    ApplyContextParams(*context, params);
    if (!context->input_is_hash_) {
      TOvCustomCryptoProviderManager* manager =
          Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
      TOvCustomCryptoProvider* hashProvider =
          manager->GetSuitableProvider(coHash, context->hash_algorithm_, 0, nullptr, nullptr);
      context->hash_context_ = hashProvider->HashInit(context->hash_algorithm_, nullptr, nullptr);
      context->hash_provider_ = hashProvider;
    }
  } catch (...) {
    RemoveContext(added);
    throw;
  }
  return added;
}

TOvCustomCryptoContext* TOvWin32CryptoProvider::SignInitByOID(std::string_view oid,
                                                              std::string_view,
                                                              TOvCustomCryptoKey* key,
                                                              bool detached,
                                                              TOvCryptoParams params) {
  return SignInit(AlgorithmByOID(oid, true), key, detached, params);
}

TOvCustomCryptoContext* TOvWin32CryptoProvider::VerifyInit(int32_t, TOvCustomCryptoKey*,
                                                           const void*, size_t, TOvCryptoParams) {
  Raise("Unsupported operation");
}
TOvCustomCryptoContext* TOvWin32CryptoProvider::VerifyInitByOID(std::string_view, std::string_view,
                                                                TOvCustomCryptoKey*, const void*,
                                                                size_t, TOvCryptoParams) {
  Raise("Unsupported operation");
}

void TOvWin32CryptoProvider::EncryptUpdate(TOvCustomCryptoContext* context, const void*, size_t,
                                           void*, size_t&, TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}
void TOvWin32CryptoProvider::DecryptUpdate(TOvCustomCryptoContext* context, const void*, size_t,
                                           void*, size_t&, TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}

void TOvWin32CryptoProvider::SignUpdate(TOvCustomCryptoContext* context, const void* input,
                                        size_t inputSize, void* output, size_t& outputSize,
                                        TOvCryptoParams) {
  TOvWin32CryptoContext* c = CheckContext(context);
  if (output == nullptr) {
    outputSize = 1;
    return;
  }
  outputSize = 0;  // signing writes nothing until the final call
  if (inputSize == 0) return;
  if (c->input_is_hash_)
    c->input_.append(static_cast<const char*>(input), inputSize);
  else if (c->hash_context_ != nullptr)
    c->hash_provider_->HashUpdate(c->hash_context_, input, inputSize, nullptr);
}

void TOvWin32CryptoProvider::VerifyUpdate(TOvCustomCryptoContext* context, const void*, size_t,
                                          void*, size_t&, TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}
void TOvWin32CryptoProvider::EncryptFinal(TOvCustomCryptoContext* context, void*, size_t&,
                                          TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}
void TOvWin32CryptoProvider::DecryptFinal(TOvCustomCryptoContext* context, void*, size_t&,
                                          TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}

ByteString TOvWin32CryptoProvider::DetermineDigest(TOvWin32CryptoContext& c) {
  if (!c.digest_known_) {
    if (c.input_is_hash_) {
      c.digest_ = c.input_;
    } else if (c.hash_context_ != nullptr) {
      c.digest_ = c.hash_provider_->HashFinal(c.hash_context_, nullptr);
      c.hash_provider_->ReleaseCryptoContext(c.hash_context_);
      c.hash_context_ = nullptr;
    }
    c.digest_known_ = true;
  }
  return c.digest_;
}

void TOvWin32CryptoProvider::SignFinal(TOvCustomCryptoContext* context, void* output,
                                       size_t& outputSize, TOvCryptoParams) {
  TOvWin32CryptoContext* c = CheckContext(context);
  const size_t given = output != nullptr ? outputSize : 0;
  size_t size = given;
  const bool ok = SignDigest(*c, output, size);
  if (output == nullptr) {
    // The query's answer is the fixed size even when the store failed before it.
    outputSize = c->key_ != nullptr && c->key_->algorithm_ == ALG_DSA ? 16400 : 16384;
    return;
  }
  if (!ok) {
    if (size > given) Raise("Buffer too small");
    Raise("Signing failed: " + last_error_text_);
  }
  outputSize = size;
}

// The signature made with the other key spec is only taken when it verifies
// with the certificate's public key: a store that answers the retry with
// another key must not slip a foreign signature into the document. It is
// checked as the store made it: over the digest handed to the store (not a
// DigestInfo the caller sent), with the hash the store was told, in the
// scheme that was asked for.
bool TOvWin32CryptoProvider::RetryVerifies(const TOvWin32CryptoContext& c, std::string_view digest,
                                           std::string_view signature) {
  if (c.key_ == nullptr || c.key_->modulus_.empty() || c.key_->exponent_.empty()) return false;
  try {
    TOvCustomCryptoProviderManager* manager =
        Manager() != nullptr ? Manager() : DefaultCryptoProviderManager();
    TOvRelativeDistinguishedName params;
    params.Add(PROP_INPUT_IS_HASH, BoolToBytes(true));
    // The hash first: setting it resets another provider's scheme.
    params.Add(PROP_HASH_ALGORITHM, OIDByAlgorithm(c.hash_algorithm_));
    if (c.scheme_ == SCHEME_PSS) {
      params.Add(PROP_ALG_SCHEME, SCHEME_PSS);
      params.Add(PROP_SALT_SIZE, IntToBytes(static_cast<int32_t>(digest.size())));
    }
    const ByteString spki = RSASubjectPublicKeyInfo(c.key_->modulus_, c.key_->exponent_);
    for (int i = 0; i < manager->ProviderCount(); ++i) {
      TOvCustomCryptoProvider* p = manager->Providers(i);
      if (p == this || !p->Enabled() ||
          !p->IsOperationSupported(coVerifyDetached, ALG_RSA, 0, c.key_, nullptr))
        continue;
      TOvCustomCryptoKey* key = p->CreateKey(ALG_RSA, 0, nullptr);
      const TCvScopeExit release([&] { p->ReleaseKey(key); });
      key->ImportPublic(spki.data(), spki.size(), nullptr);
      return p->VerifyDetached(ALG_RSA, key, digest.data(), digest.size(), signature.data(),
                               signature.size(), &params) == VERIFY_VALID;
    }
  } catch (const std::exception&) {
  }
  return false;
}

bool TOvWin32CryptoProvider::SignDigest(TOvWin32CryptoContext& c, void* buffer, size_t& size) {
  ByteString digest = DetermineDigest(c);
  const bool ec = c.key_ != nullptr && c.key_->algorithm_ == ALG_EC;
  const bool pss = c.scheme_ == SCHEME_PSS;
  if (pss) {
    // The store signs PSS with MGF1 over the hash and a salt as long as the
    // hash, and nothing else.
    if (ec || (c.key_ != nullptr && c.key_->algorithm_ == ALG_DSA)) Raise("Unsupported operation");
    if (c.salt_size_ != 0 && static_cast<size_t>(c.salt_size_) != digest.size())
      Raise(Format("Unsupported salt size (%d)", c.salt_size_));
  }
  if (!c.use_algorithm_prefix_) {
    ByteString oid, inner;
    if (ParseDigestInfo(digest, oid, inner)) {
      // A signature algorithm stands for its hash; a hash stays as it is.
      const int32_t code = AlgorithmByOID(oid);
      const int32_t hash = HashOfSignatureAlgorithm(code);
      c.hash_algorithm_ = hash != ALG_UNKNOWN ? hash : code;
      digest = inner;
    }
  }
  const uint32_t hashId = CryptoApiHashId(c.hash_algorithm_);
  if (hashId == 0) Raise(Format("Unsupported hash algorithm (%d)", c.hash_algorithm_));
  const bool needs24 = hashId == CALG_SHA_256 || hashId == CALG_SHA_384 || hashId == CALG_SHA_512;
  const bool cache = Win32Options().CacheKeyContexts;
  TOvWin32CryptoKey* key = c.key_;

  uint64_t csp = 0, csp24 = 0;
  uint32_t keySpec = AT_KEYEXCHANGE, altSpec = AT_SIGNATURE;
  bool openedMain = false, opened24 = false;
  if (key == nullptr || key->cert_ == 0) {
    csp = key != nullptr ? key->own_csp_ : 0;
  } else if (cache && key->cached_csp_ != 0) {
    csp = key->cached_csp_;
    keySpec = key->cached_key_spec_;
    altSpec = keySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE;
    if (needs24) {
      if (key->cached_csp24_ == 0) {
        TOvWin32KeyLocation location;
        if (store_->ReadKeyLocation(key->cert_, location))
          key->cached_csp24_ =
              store_->OpenKeyContainer(location.ContainerName, nullptr, 24, location.Flags);
      }
      csp24 = key->cached_csp24_;
    }
  } else {
    TOvWin32KeyLocation location;
    if (store_->ReadKeyLocation(key->cert_, location)) {
      csp = store_->OpenKeyContainer(location.ContainerName, &location.CSPName, location.CSPType,
                                     location.Flags);
      openedMain = csp != 0;
      if (needs24) {
        csp24 = store_->OpenKeyContainer(location.ContainerName, nullptr, 24, location.Flags);
        opened24 = csp24 != 0;
      }
      keySpec = location.KeySpec;
      altSpec = keySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE;
    }
  }

  // Step 12 on every path: handles opened here are cached or released.
  struct HandleGuard {
    TOvWin32CryptoProvider* self;
    TOvWin32CryptoKey* key;
    uint64_t& csp;
    uint64_t& csp24;
    bool& openedMain;
    bool& opened24;
    uint32_t& keySpec;
    bool cache;
    uint64_t hash = 0;
    ~HandleGuard() {
      TOvWin32KeyStore& store = *self->store_;
      if (hash != 0) store.DestroyHash(hash);
      if (cache && key != nullptr && openedMain && key->cached_csp_ == 0) {
        key->cached_csp_ = csp;
        key->cached_key_spec_ = keySpec;
        openedMain = false;
      }
      if (openedMain) store.ReleaseContainer(csp);
      if (opened24) {
        if (cache && key != nullptr && key->cached_csp24_ == 0)
          key->cached_csp24_ = csp24;
        else
          store.ReleaseContainer(csp24);
      }
    }
  } guard{this, key, csp, csp24, openedMain, opened24, keySpec, cache};

  last_error_text_.clear();
  if (csp == 0) {
    last_error_text_ = "Failed to acquire key context";
    return false;
  }
  if (window_handle_ != 0) store_->SetParentWindow(csp, window_handle_);
  guard.hash = store_->CreateHash(csp, hashId);
  if (guard.hash == 0 && csp24 != 0) guard.hash = store_->CreateHash(csp24, hashId);
  if (guard.hash == 0) {
    last_error_text_ = StoreFailure(*store_);
    return false;
  }
  if (!store_->SetHashValue(guard.hash, digest)) return false;

  const size_t needed = key != nullptr && key->algorithm_ == ALG_DSA ? 16400 : 16384;
  if (size < needed) {
    size = needed;
    return false;
  }
  std::string out(needed, '\0');
  uint32_t outSize = static_cast<uint32_t>(needed);
  const auto sign = [&](uint32_t spec) {
    outSize = static_cast<uint32_t>(needed);
    return pss ? store_->SignHashPSS(guard.hash, spec, out.data(), outSize)
               : store_->SignHash(guard.hash, spec, out.data(), outSize);
  };
  bool signedOk = sign(keySpec);
  bool retried = false;
  std::string firstError;
  if (!signedOk) {
    firstError = StoreFailure(*store_);
    signedOk = sign(altSpec);
    retried = true;
  }
  if (!signedOk) {
    last_error_text_ = firstError;
    size = 0;
    return false;
  }
  out.resize(std::min<size_t>(outSize, out.size()));
  std::string bigEndian(out.rbegin(), out.rend());
  if (key != nullptr && key->algorithm_ == ALG_DSA) {
    if (bigEndian.size() != 40) {
      last_error_text_ = "Win32 error: 0";
      size = 0;
      return false;
    }
    // Reversed whole: s then r; the SEQUENCE wants r first.
    const ByteString body = DerInteger(StripZeros(bigEndian.substr(20, 20))) +
                            DerInteger(StripZeros(bigEndian.substr(0, 20)));
    ByteString seq("\x30", 1);
    AppendLength(seq, body.size());
    bigEndian = seq + body;
  } else if (ec) {
    // r then s, each as long as the order (PKCS#11 CKM_ECDSA); CMS wants the
    // DER Ecdsa-Sig-Value with minimal INTEGERs (RFC 5753 7.2, X9.62).
    if (bigEndian.empty() || bigEndian.size() % 2 != 0) {
      last_error_text_ = "The key store gave a malformed ECDSA signature";
      size = 0;
      return false;
    }
    const size_t half = bigEndian.size() / 2;
    bigEndian = EcdsaSigValue(std::string_view(bigEndian).substr(0, half),
                              std::string_view(bigEndian).substr(half));
  }
  if (retried && !RetryVerifies(c, digest, bigEndian)) {
    last_error_text_ = firstError;
    size = 0;
    return false;
  }
  if (bigEndian.size() > size) {
    size = bigEndian.size();
    return false;
  }
  std::memcpy(buffer, bigEndian.data(), bigEndian.size());
  size = bigEndian.size();
  return true;
}

int32_t TOvWin32CryptoProvider::VerifyFinal(TOvCustomCryptoContext* context, void*, size_t&,
                                            TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}

TOvCustomCryptoContext* TOvWin32CryptoProvider::HashInit(int32_t, TOvCustomCryptoKey*,
                                                         TOvCryptoParams) {
  Raise("Unsupported operation");
}
TOvCustomCryptoContext* TOvWin32CryptoProvider::HashInitByOID(std::string_view, std::string_view,
                                                              TOvCustomCryptoKey*,
                                                              TOvCryptoParams) {
  Raise("Unsupported operation");
}
ByteString TOvWin32CryptoProvider::HashFinal(TOvCustomCryptoContext* context, TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}
void TOvWin32CryptoProvider::HashUpdate(TOvCustomCryptoContext* context, const void*, size_t,
                                        TOvCryptoParams) {
  CheckContext(context);
  Raise("Unsupported operation");
}

void TOvWin32CryptoProvider::ReleaseCryptoContext(TOvCustomCryptoContext*& context) {
  RemoveContext(context);
}

void TOvWin32CryptoProvider::RandomInit(const void*, size_t, TOvCryptoParams) {
  Raise("Unsupported operation");
}
void TOvWin32CryptoProvider::RandomSeed(const void*, size_t) { Raise("Unsupported operation"); }
void TOvWin32CryptoProvider::RandomGenerate(void*, size_t) { Raise("Unsupported operation"); }
uint32_t TOvWin32CryptoProvider::RandomGenerateBelow(uint32_t) { Raise("Unsupported operation"); }

}  // namespace corvane
