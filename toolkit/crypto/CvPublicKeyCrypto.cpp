#include "toolkit/crypto/CvPublicKeyCrypto.h"

#include <algorithm>
#include <cstring>

#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProvManager.h"

namespace corvane {

namespace {

[[noreturn]] void Raise(const std::string& message) { throw EOvPublicKeyCryptoError(message); }

// Two-call sizing: true when the call only asked for the size, which is then
// stored; a non-zero size that is too small raises.
bool AnswerSizeQuery(const void* output, size_t& outputSize, int64_t required) {
  if (outputSize >= static_cast<size_t>(required) && output != nullptr) return false;
  if (outputSize == 0 || output == nullptr) {
    outputSize = static_cast<size_t>(required);
    return true;
  }
  Raise("Output buffer is too small");
}

}  // namespace

// ---------------------------------------------------------------------------
// Public-key material

TOvPublicKeyMaterial::TOvPublicKeyMaterial(TOvCustomCryptoProvider* provider,
                                           TOvCustomCryptoProviderManager* manager)
    : provider_(provider), manager_(manager) {}

TOvCustomCryptoProvider* TOvPublicKeyMaterial::CreationProvider() const {
  if (provider_ != nullptr) return provider_;
  TOvCustomCryptoProviderManager* manager =
      manager_ != nullptr ? manager_ : DefaultCryptoProviderManager();
  TOvCustomCryptoProvider* provider = manager->DefaultProvider();
  if (provider == nullptr) Raise("Bad key material");
  return provider;
}

bool TOvPublicKeyMaterial::PublicKeyExists() const { return Key() != nullptr && Key()->IsPublic(); }
bool TOvPublicKeyMaterial::SecretKeyExists() const { return Key() != nullptr && Key()->IsSecret(); }
bool TOvPublicKeyMaterial::IsValid() const { return Key() != nullptr && Key()->IsValid(); }
int32_t TOvPublicKeyMaterial::Bits() const { return Key() != nullptr ? Key()->KeyBits() : 0; }

void TOvPublicKeyMaterial::LoadPublic(const void*, size_t) { Raise("Unsupported operation"); }
void TOvPublicKeyMaterial::LoadSecret(const void*, size_t) { Raise("Unsupported operation"); }
void TOvPublicKeyMaterial::SavePublic(void*, size_t&) { Raise("Unsupported operation"); }
void TOvPublicKeyMaterial::SaveSecret(void*, size_t&) { Raise("Unsupported operation"); }
void TOvPublicKeyMaterial::Assign(const TOvPublicKeyMaterial&) { Raise("Unsupported operation"); }
std::unique_ptr<TOvPublicKeyMaterial> TOvPublicKeyMaterial::Clone() const {
  Raise("Unsupported operation");
}
bool TOvPublicKeyMaterial::Equals(const TOvPublicKeyMaterial&, bool) const {
  Raise("Unsupported operation");
}
void TOvPublicKeyMaterial::Generate(int32_t) { Raise("Unsupported operation"); }

ByteString TOvPublicKeyMaterial::SavePublicBytes() {
  size_t size = 0;
  SavePublic(nullptr, size);
  ByteString out(size, '\0');
  SavePublic(out.data(), size);
  out.resize(size);
  return out;
}

ByteString TOvPublicKeyMaterial::SaveSecretBytes() {
  size_t size = 0;
  SaveSecret(nullptr, size);
  ByteString out(size, '\0');
  if (size == 0) return out;
  SaveSecret(out.data(), size);
  out.resize(size);
  return out;
}

// ---------------------------------------------------------------------------
// Front end

TOvPublicKeyCrypto::TOvPublicKeyCrypto(TOvCustomCryptoProvider* provider,
                                       TOvCustomCryptoProviderManager* manager)
    : provider_(provider), manager_(manager) {}

TOvPublicKeyCrypto::~TOvPublicKeyCrypto() { ReleaseContext(); }

void TOvPublicKeyCrypto::SetKeyMaterial(TOvPublicKeyMaterial* material) {
  key_material_ = material;
}

bool TOvPublicKeyCrypto::InputIsHash() const {
  return BytesToBool(ReadFromContext(PROP_INPUT_IS_HASH, BoolToBytes(input_is_hash_)),
                     input_is_hash_);
}

void TOvPublicKeyCrypto::SetInputIsHash(bool value) {
  input_is_hash_ = value;
  ForwardToContext(PROP_INPUT_IS_HASH, BoolToBytes(value));
}

int32_t TOvPublicKeyCrypto::HashAlgorithm() const {
  const ByteString oid = ReadFromContext(PROP_HASH_ALGORITHM, {});
  if (!oid.empty()) {
    const int32_t algorithm = AlgorithmByOID(oid);
    if (algorithm != ALG_UNKNOWN) return algorithm;
  }
  return hash_algorithm_;
}

void TOvPublicKeyCrypto::SetHashAlgorithm(int32_t value) {
  hash_algorithm_ = value;
  ForwardToContext(PROP_HASH_ALGORITHM, OIDByAlgorithm(value));
}

void TOvPublicKeyCrypto::ForwardToContext(const std::string& name, std::string_view value) {
  if (context_ != nullptr) context_->SetContextProp(name, value);
}

ByteString TOvPublicKeyCrypto::ReadFromContext(const std::string& name,
                                               std::string_view fallback) const {
  if (context_ == nullptr) return ByteString(fallback);
  return context_->GetContextProp(name, fallback);
}

void TOvPublicKeyCrypto::ReleaseContext() {
  if (context_ != nullptr && context_provider_ != nullptr)
    context_provider_->ReleaseCryptoContext(context_);
  context_ = nullptr;
  context_provider_ = nullptr;
}

void TOvPublicKeyCrypto::BuildParams(TOvRelativeDistinguishedName& params) const {
  params.Add(PROP_INPUT_IS_HASH, BoolToBytes(input_is_hash_));
}

TOvCustomCryptoProvider* TOvPublicKeyCrypto::GetSuitableProvider(TCvCryptoOperation operation,
                                                                 int32_t algorithm,
                                                                 TOvCryptoParams params) const {
  return ChoosePublicKeyProvider(operation, algorithm, provider_, manager_, key_material_, params);
}

ByteString TOvPublicKeyCrypto::DecodeInput(const void* input, size_t size) const {
  const std::string_view bytes(static_cast<const char*>(input), input != nullptr ? size : 0);
  if (input_encoding_ != pkeBase64) return ByteString(bytes);
  ByteString decoded;
  if (Base64DecodeString(bytes, decoded) != BASE64_OK) Raise("Invalid Base64 encoding");
  return decoded;
}

void TOvPublicKeyCrypto::WriteToOutput(std::string_view bytes) {
  if (output_encoding_ == pkeBase64) {
    output_ = Base64EncodeString(bytes, false);
  } else {
    output_.assign(bytes);
  }
}

int64_t TOvPublicKeyCrypto::EstimateOutputSize(const void*, size_t, TCvPublicKeyOperation) {
  return 0;
}
bool TOvPublicKeyCrypto::IsAlgorithmSupported(int32_t) const { return false; }
bool TOvPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view) const { return false; }

// The operations of the base have no algorithm to run.
void TOvPublicKeyCrypto::SignInit(bool) { Raise("Unsupported operation"); }
void TOvPublicKeyCrypto::EncryptInit() { Raise("Unsupported operation"); }
void TOvPublicKeyCrypto::DecryptInit() { Raise("Unsupported operation"); }
void TOvPublicKeyCrypto::VerifyInit(bool, const void*, size_t) { Raise("Unsupported operation"); }

namespace {

using UpdateFn = void (TOvCustomCryptoProvider::*)(TOvCustomCryptoContext*, const void*, size_t,
                                                   void*, size_t&, TOvCryptoParams);
using FinalFn = void (TOvCustomCryptoProvider::*)(TOvCustomCryptoContext*, void*, size_t&,
                                                  TOvCryptoParams);

// Size query, then the data; whatever the provider outputs is appended.
void RunUpdate(TOvCustomCryptoProvider* provider, TOvCustomCryptoContext* context, UpdateFn update,
               const void* data, size_t size, ByteString& output) {
  if (provider == nullptr || context == nullptr) Raise("Internal error");
  size_t needed = 0;
  (provider->*update)(context, data, size, nullptr, needed, nullptr);
  ByteString buffer(std::max<size_t>(1, needed), '\0');
  size_t written = buffer.size();
  (provider->*update)(context, data, size, buffer.data(), written, nullptr);
  output.append(buffer, 0, std::min(written, buffer.size()));
}

void RunFinal(TOvCustomCryptoProvider* provider, TOvCustomCryptoContext* context, FinalFn final,
              ByteString& output) {
  if (provider == nullptr || context == nullptr) Raise("Internal error");
  size_t needed = 0;
  (provider->*final)(context, nullptr, needed, nullptr);
  ByteString buffer(std::max<size_t>(1, needed), '\0');
  size_t written = buffer.size();
  (provider->*final)(context, buffer.data(), written, nullptr);
  output.append(buffer, 0, std::min(written, buffer.size()));
}

}  // namespace

void TOvPublicKeyCrypto::SignUpdate(const void* data, size_t size) {
  RunUpdate(context_provider_, context_, &TOvCustomCryptoProvider::SignUpdate, data, size, output_);
}
void TOvPublicKeyCrypto::SignFinal() {
  ByteString raw = output_;
  RunFinal(context_provider_, context_, &TOvCustomCryptoProvider::SignFinal, raw);
  WriteToOutput(raw);
  ReleaseContext();
}
void TOvPublicKeyCrypto::EncryptUpdate(const void* data, size_t size) {
  RunUpdate(context_provider_, context_, &TOvCustomCryptoProvider::EncryptUpdate, data, size,
            output_);
}
void TOvPublicKeyCrypto::EncryptFinal() {
  ByteString raw = output_;
  RunFinal(context_provider_, context_, &TOvCustomCryptoProvider::EncryptFinal, raw);
  WriteToOutput(raw);
  ReleaseContext();
}
void TOvPublicKeyCrypto::DecryptUpdate(const void* data, size_t size) {
  RunUpdate(context_provider_, context_, &TOvCustomCryptoProvider::DecryptUpdate, data, size,
            output_);
}
void TOvPublicKeyCrypto::DecryptFinal() {
  ByteString raw = output_;
  RunFinal(context_provider_, context_, &TOvCustomCryptoProvider::DecryptFinal, raw);
  WriteToOutput(raw);
  ReleaseContext();
}
void TOvPublicKeyCrypto::VerifyUpdate(const void* data, size_t size) {
  ByteString ignored;
  RunUpdate(context_provider_, context_, &TOvCustomCryptoProvider::VerifyUpdate, data, size,
            ignored);
}
int32_t TOvPublicKeyCrypto::VerifyFinal() {
  if (context_provider_ == nullptr || context_ == nullptr) Raise("Internal error");
  size_t needed = 0;
  context_provider_->VerifyFinal(context_, nullptr, needed, nullptr);
  ByteString buffer(std::max<size_t>(1, needed), '\0');
  size_t written = buffer.size();
  const int32_t result = context_provider_->VerifyFinal(context_, buffer.data(), written, nullptr);
  ReleaseContext();
  return result;
}

void TOvPublicKeyCrypto::Finish(void* output, size_t& outputSize, int64_t) {
  if (output_.size() > outputSize) Raise("Internal error");
  if (!output_.empty()) std::memcpy(output, output_.data(), output_.size());
  outputSize = output_.size();
}

void TOvPublicKeyCrypto::SignDetached(const void* input, size_t size, void* signature,
                                      size_t& signatureSize) {
  if (busy_) Raise("Async operation pending");
  if (!SupportsSigning()) Raise("Unsupported operation");
  if (key_material_ == nullptr || !key_material_->SecretKeyExists()) Raise("Secret key not found");
  const ByteString data =
      input_is_hash_ ? ByteString(static_cast<const char*>(input), input != nullptr ? size : 0)
                     : DecodeInput(input, size);
  const int64_t required = EstimateOutputSize(data.data(), data.size(), pkoSignDetached);
  if (AnswerSizeQuery(signature, signatureSize, required)) return;
  TCvScopeExit release([this] { ReleaseContext(); });
  output_.clear();
  SignInit(true);
  SignUpdate(data.data(), data.size());
  SignFinal();
  Finish(signature, signatureSize, required);
}

int32_t TOvPublicKeyCrypto::VerifyDetached(const void* input, size_t size, const void* signature,
                                           size_t signatureSize) {
  if (busy_) Raise("Async operation pending");
  if (!SupportsSigning()) Raise("Unsupported operation");
  if (key_material_ == nullptr || !key_material_->PublicKeyExists()) Raise("Public key not found");
  const ByteString data =
      input_is_hash_ ? ByteString(static_cast<const char*>(input), input != nullptr ? size : 0)
                     : DecodeInput(input, size);
  const ByteString sig = DecodeInput(signature, signatureSize);
  EstimateOutputSize(data.data(), data.size(), pkoVerifyDetached);
  TCvScopeExit release([this] { ReleaseContext(); });
  VerifyInit(true, sig.data(), sig.size());
  VerifyUpdate(data.data(), data.size());
  return VerifyFinal();
}

void TOvPublicKeyCrypto::Encrypt(const void* input, size_t size, void* output, size_t& outputSize) {
  if (busy_) Raise("Async operation pending");
  if (!SupportsEncryption()) Raise("Unsupported operation");
  if (key_material_ == nullptr || !key_material_->PublicKeyExists()) Raise("Public key not found");
  const ByteString data = DecodeInput(input, size);
  const int64_t required = EstimateOutputSize(data.data(), data.size(), pkoEncrypt);
  if (AnswerSizeQuery(output, outputSize, required)) return;
  TCvScopeExit release([this] { ReleaseContext(); });
  output_.clear();
  EncryptInit();
  EncryptUpdate(data.data(), data.size());
  EncryptFinal();
  Finish(output, outputSize, required);
}

void TOvPublicKeyCrypto::Decrypt(const void* input, size_t size, void* output, size_t& outputSize) {
  if (busy_) Raise("Async operation pending");
  if (!SupportsEncryption()) Raise("Unsupported operation");
  if (key_material_ == nullptr || !key_material_->SecretKeyExists()) Raise("Secret key not found");
  const ByteString data = DecodeInput(input, size);
  const int64_t required = EstimateOutputSize(data.data(), data.size(), pkoDecrypt);
  if (AnswerSizeQuery(output, outputSize, required)) return;
  TCvScopeExit release([this] { ReleaseContext(); });
  output_.clear();
  DecryptInit();
  DecryptUpdate(data.data(), data.size());
  DecryptFinal();
  Finish(output, outputSize, required);
}

ByteString TOvPublicKeyCrypto::SignDetached(std::string_view input) {
  size_t size = 0;
  SignDetached(input.data(), input.size(), nullptr, size);
  ByteString out(size, '\0');
  SignDetached(input.data(), input.size(), out.data(), size);
  out.resize(size);
  return out;
}

int32_t TOvPublicKeyCrypto::VerifyDetached(std::string_view input, std::string_view signature) {
  return VerifyDetached(input.data(), input.size(), signature.data(), signature.size());
}

ByteString TOvPublicKeyCrypto::Encrypt(std::string_view input) {
  size_t size = 0;
  Encrypt(input.data(), input.size(), nullptr, size);
  ByteString out(size, '\0');
  Encrypt(input.data(), input.size(), out.data(), size);
  out.resize(size);
  return out;
}

ByteString TOvPublicKeyCrypto::Decrypt(std::string_view input) {
  size_t size = 0;
  Decrypt(input.data(), input.size(), nullptr, size);
  ByteString out(size, '\0');
  Decrypt(input.data(), input.size(), out.data(), size);
  out.resize(size);
  return out;
}

// ---------------------------------------------------------------------------
// RSA front end

TOvRSAPublicKeyCrypto::TOvRSAPublicKeyCrypto(TOvCustomCryptoProvider* provider,
                                             TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyCrypto(provider, manager) {
  algorithm_oid_ = std::string(oid::RSA_ENCRYPTION);
}

TOvRSAPublicKeyCrypto::TOvRSAPublicKeyCrypto(std::string_view algorithmOID,
                                             TOvCustomCryptoProvider* provider,
                                             TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyCrypto(provider, manager) {
  const int32_t hash = HashOfSignatureAlgorithm(AlgorithmByOID(algorithmOID), ALG_RSA);
  if (algorithmOID == oid::RSASSA_PSS) {
    scheme_ = RSA_SCHEME_PSS;
  } else if (algorithmOID == oid::RSAES_OAEP) {
    scheme_ = RSA_SCHEME_OAEP;
  } else if (algorithmOID == oid::RSA_ENCRYPTION || hash != ALG_UNKNOWN) {
    scheme_ = RSA_SCHEME_PKCS1;
    if (hash != ALG_UNKNOWN) SetHashAlgorithm(hash);
  } else {
    Raise("Unsupported algorithm: " + OIDToText(algorithmOID));
  }
  SetSchemeFlags();
  algorithm_oid_ = std::string(algorithmOID);
}

TOvRSAPublicKeyCrypto::TOvRSAPublicKeyCrypto(int32_t signatureAlgorithm,
                                             TOvCustomCryptoProvider* provider,
                                             TOvCustomCryptoProviderManager* manager)
    : TOvPublicKeyCrypto(provider, manager) {
  switch (signatureAlgorithm) {
    case CERT_ALG_RSA:
    case CERT_ALG_MD2_RSA:
    case CERT_ALG_MD5_RSA:
    case CERT_ALG_SHA1_RSA:
    case CERT_ALG_SHA224_RSA:
    case CERT_ALG_SHA256_RSA:
    case CERT_ALG_SHA384_RSA:
    case CERT_ALG_SHA512_RSA:
    case CERT_ALG_RIPEMD160_RSA:
      scheme_ = RSA_SCHEME_PKCS1;
      if (const int32_t hash = HashOfSignatureAlgorithm(signatureAlgorithm, ALG_RSA);
          hash != ALG_UNKNOWN)
        SetHashAlgorithm(hash);
      break;
    case CERT_ALG_RSAPSS:
      scheme_ = RSA_SCHEME_PSS;
      break;
    case CERT_ALG_RSAOAEP:
      scheme_ = RSA_SCHEME_OAEP;
      break;
    default:
      Raise("Unsupported algorithm: " + std::to_string(signatureAlgorithm));
  }
  SetSchemeFlags();
  algorithm_oid_ = OIDOfSignatureAlgorithm(signatureAlgorithm);
  if (algorithm_oid_.empty()) algorithm_oid_ = OIDOfKeyAlgorithm(signatureAlgorithm);
}

void TOvRSAPublicKeyCrypto::SetSchemeFlags() {
  can_sign_ = scheme_ != RSA_SCHEME_OAEP;
  can_encrypt_ = scheme_ == RSA_SCHEME_PKCS1 || scheme_ == RSA_SCHEME_OAEP;
}

void TOvRSAPublicKeyCrypto::SetKeyMaterial(TOvPublicKeyMaterial* material) {
  TOvPublicKeyCrypto::SetKeyMaterial(material);
}

void TOvRSAPublicKeyCrypto::SetScheme(int32_t value) {
  if (value < RSA_SCHEME_PKCS1 || value > RSA_SCHEME_SSL)
    Raise("Unsupported algorithm: " + std::to_string(value));
  scheme_ = value;
  SetSchemeFlags();
  if (value == RSA_SCHEME_SSL) {
    ForwardToContext(PROP_HASH_ALGORITHM, SSL_HASH_IDENTIFIER);
  } else {
    ForwardToContext(PROP_ALG_SCHEME, value == RSA_SCHEME_OAEP
                                          ? SCHEME_OAEP
                                          : (value == RSA_SCHEME_PSS ? SCHEME_PSS : SCHEME_PKCS1));
  }
}

bool TOvRSAPublicKeyCrypto::UseAlgorithmPrefix() const {
  return BytesToBool(ReadFromContext(PROP_USE_ALGORITHM_PREFIX, BoolToBytes(use_algorithm_prefix_)),
                     use_algorithm_prefix_);
}
void TOvRSAPublicKeyCrypto::SetUseAlgorithmPrefix(bool value) {
  use_algorithm_prefix_ = value;
  ForwardToContext(PROP_USE_ALGORITHM_PREFIX, BoolToBytes(value));
}
ByteString TOvRSAPublicKeyCrypto::HashFuncOID() const {
  return ReadFromContext(PROP_HASH_FUNC_OID, hash_func_oid_);
}
void TOvRSAPublicKeyCrypto::SetHashFuncOID(std::string_view value) {
  hash_func_oid_ = value;
  ForwardToContext(PROP_HASH_FUNC_OID, value);
}
int32_t TOvRSAPublicKeyCrypto::SaltSize() const {
  return BytesToInt(ReadFromContext(PROP_SALT_SIZE, IntToBytes(salt_size_)), salt_size_);
}
void TOvRSAPublicKeyCrypto::SetSaltSize(int32_t value) {
  salt_size_ = value;
  ForwardToContext(PROP_SALT_SIZE, IntToBytes(value));
}
int32_t TOvRSAPublicKeyCrypto::TrailerField() const {
  return BytesToInt(ReadFromContext(PROP_TRAILER_FIELD, IntToBytes(trailer_field_)),
                    trailer_field_);
}
void TOvRSAPublicKeyCrypto::SetTrailerField(int32_t value) {
  trailer_field_ = value;
  ForwardToContext(PROP_TRAILER_FIELD, IntToBytes(value));
}
int32_t TOvRSAPublicKeyCrypto::MGFAlgorithm() const {
  if (context_ == nullptr) return mgf_algorithm_;
  const ByteString oid = context_->GetContextProp(PROP_MGF_ALGORITHM, {});
  return oid == oid::MGF1 ? CERT_ALG_MGF1 : mgf_algorithm_;
}
void TOvRSAPublicKeyCrypto::SetMGFAlgorithm(int32_t value) {
  mgf_algorithm_ = value;
  ForwardToContext(PROP_MGF_ALGORITHM,
                   value == CERT_ALG_MGF1 ? ByteString(oid::MGF1) : OIDByAlgorithm(value));
}
void TOvRSAPublicKeyCrypto::SetStrLabel(std::string value) {
  label_ = std::move(value);
  ForwardToContext(PROP_STR_LABEL, label_);
}

void TOvRSAPublicKeyCrypto::BuildParams(TOvRelativeDistinguishedName& params) const {
  TOvPublicKeyCrypto::BuildParams(params);
  params.Add(PROP_USE_ALGORITHM_PREFIX, BoolToBytes(use_algorithm_prefix_));
  params.Add(PROP_HASH_FUNC_OID, hash_func_oid_);
  params.Add(PROP_HASH_ALGORITHM,
             scheme_ == RSA_SCHEME_SSL ? SSL_HASH_IDENTIFIER : OIDByAlgorithm(HashAlgorithm()));
  switch (scheme_) {
    case RSA_SCHEME_PKCS1:
      params.Add(PROP_ALG_SCHEME, SCHEME_PKCS1);
      break;
    case RSA_SCHEME_OAEP:
      params.Add(PROP_ALG_SCHEME, SCHEME_OAEP);
      // Without these the engine would fall back to the key's label and MGF.
      if (mgf_algorithm_ != 0) params.Add(PROP_MGF_ALGORITHM, ByteString(oid::MGF1));
      if (!label_.empty()) params.Add(PROP_STR_LABEL, label_);
      break;
    case RSA_SCHEME_PSS:
      params.Add(PROP_ALG_SCHEME, SCHEME_PSS);
      if (salt_size_ != 0) params.Add(PROP_SALT_SIZE, IntToBytes(salt_size_));
      if (trailer_field_ != 0) params.Add(PROP_TRAILER_FIELD, IntToBytes(trailer_field_));
      if (mgf_algorithm_ != 0) {
        params.Add(PROP_MGF_ALGORITHM, mgf_algorithm_ == CERT_ALG_MGF1
                                           ? ByteString(oid::MGF1)
                                           : OIDByAlgorithm(mgf_algorithm_));
      }
      break;
    default:
      break;
  }
}

void TOvRSAPublicKeyCrypto::CheckKeyMaterial(bool needSecret) const {
  auto* rsa = dynamic_cast<TOvRSAKeyMaterial*>(KeyMaterial());
  if (rsa == nullptr || rsa->Key() == nullptr) Raise("Bad key material");
  if (needSecret && !rsa->SecretKeyExists()) Raise("Bad key material");
}

int64_t TOvRSAPublicKeyCrypto::EstimateOutputSize(const void*, size_t size,
                                                  TCvPublicKeyOperation operation) {
  auto* rsa = dynamic_cast<TOvRSAKeyMaterial*>(KeyMaterial());
  if (rsa == nullptr || rsa->Key() == nullptr) Raise("Bad key material");
  if ((operation == pkoSign || operation == pkoVerify) &&
      (scheme_ == RSA_SCHEME_PKCS1 || scheme_ == RSA_SCHEME_PSS)) {
    Raise("Only detached signatures are supported");
  }
  const int64_t k = static_cast<int64_t>(rsa->PublicModulus().size());
  if (operation == pkoEncrypt && static_cast<int64_t>(size) > k) Raise("Input is too long");
  if (OutputEncoding() == pkeBase64) return 4 * ((k + 2) / 3);
  return k;
}

bool TOvRSAPublicKeyCrypto::IsAlgorithmSupported(int32_t code) const {
  return code == ALG_RSA || KeyFamilyOf(code) == ALG_RSA;
}

bool TOvRSAPublicKeyCrypto::IsAlgorithmSupportedByOID(std::string_view oid) const {
  return AlgorithmByOID(oid, true) == ALG_RSA;
}

void TOvRSAPublicKeyCrypto::SignInit(bool detached) {
  if (!can_sign_) Raise("Unsupported operation");
  CheckKeyMaterial(true);
  if (!detached) Raise("Only detached signatures are supported");
  TOvRelativeDistinguishedName params;
  BuildParams(params);
  TOvCustomCryptoProvider* provider = GetSuitableProvider(coSignDetached, ALG_RSA, &params);
  context_ = provider->SignInit(ALG_RSA, KeyMaterial()->Key(), true, &params);
  context_provider_ = provider;
}

void TOvRSAPublicKeyCrypto::VerifyInit(bool detached, const void* signature, size_t size) {
  if (!can_sign_) Raise("Unsupported operation");
  CheckKeyMaterial(false);
  if (!detached) Raise("Only detached signatures are supported");
  TOvRelativeDistinguishedName params;
  BuildParams(params);
  TOvCustomCryptoProvider* provider = GetSuitableProvider(coVerifyDetached, ALG_RSA, &params);
  context_ = provider->VerifyInit(ALG_RSA, KeyMaterial()->Key(), signature, size, &params);
  context_provider_ = provider;
}

void TOvRSAPublicKeyCrypto::EncryptInit() {
  if (!can_encrypt_) Raise("Unsupported operation");
  CheckKeyMaterial(false);
  TOvRelativeDistinguishedName params;
  BuildParams(params);
  TOvCustomCryptoProvider* provider = GetSuitableProvider(coEncrypt, ALG_RSA, &params);
  context_ = provider->EncryptInit(ALG_RSA, 0, KeyMaterial()->Key(), &params);
  context_provider_ = provider;
}

void TOvRSAPublicKeyCrypto::DecryptInit() {
  if (!can_encrypt_) Raise("Unsupported operation");
  CheckKeyMaterial(true);
  TOvRelativeDistinguishedName params;
  BuildParams(params);
  TOvCustomCryptoProvider* provider = GetSuitableProvider(coDecrypt, ALG_RSA, &params);
  context_ = provider->DecryptInit(ALG_RSA, 0, KeyMaterial()->Key(), &params);
  context_provider_ = provider;
}

void TOvRSAPublicKeyCrypto::LoadAlgorithmIdentifier(const TOvAlgorithmIdentifier& identifier) {
  if (const auto* pss = dynamic_cast<const TOvRSAPSSAlgorithmIdentifier*>(&identifier)) {
    SetHashAlgorithm(pss->HashAlgorithm());
    SetSaltSize(pss->SaltSize());
    SetTrailerField(pss->TrailerField());
    SetMGFAlgorithm(pss->MGFAlgorithm());
  } else if (const auto* oaep = dynamic_cast<const TOvRSAOAEPAlgorithmIdentifier*>(&identifier)) {
    SetHashAlgorithm(oaep->HashAlgorithm());
    SetStrLabel(oaep->StrLabel());
    SetMGFAlgorithm(oaep->MGFAlgorithm());
  } else if (const auto* rsa = dynamic_cast<const TOvRSAAlgorithmIdentifier*>(&identifier)) {
    if (rsa->SignatureHashAlgorithm() != ALG_UNKNOWN)
      SetHashAlgorithm(rsa->SignatureHashAlgorithm());
  } else {
    Raise("Invalid algorithm identifier");
  }
}

void TOvRSAPublicKeyCrypto::SaveAlgorithmIdentifier(TOvAlgorithmIdentifier& identifier) const {
  if (auto* pss = dynamic_cast<TOvRSAPSSAlgorithmIdentifier*>(&identifier)) {
    pss->SetHashAlgorithm(HashAlgorithm());
    pss->SetMGFHashAlgorithm(HashAlgorithm());
    if (SaltSize() != 0) pss->SetSaltSize(SaltSize());
    if (TrailerField() != 0) pss->SetTrailerField(TrailerField());
    if (MGFAlgorithm() != 0) pss->SetMGFAlgorithm(MGFAlgorithm());
  } else if (auto* oaep = dynamic_cast<TOvRSAOAEPAlgorithmIdentifier*>(&identifier)) {
    oaep->SetHashAlgorithm(HashAlgorithm());
    oaep->SetMGFHashAlgorithm(HashAlgorithm());
    oaep->SetStrLabel(label_);
    if (MGFAlgorithm() != 0) oaep->SetMGFAlgorithm(MGFAlgorithm());
  } else if (auto* rsa = dynamic_cast<TOvRSAAlgorithmIdentifier*>(&identifier)) {
    rsa->SetSignatureHash(HashAlgorithm());
  } else {
    Raise("Invalid algorithm identifier");
  }
}

}  // namespace corvane
