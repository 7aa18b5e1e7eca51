// Loading and parsing a certificate (RFC 5280 4.1), names, fingerprints and
// the comparisons between certificates.
#include "toolkit/pki/CvX509.h"

#include <exception>
#include <set>

#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvX509ExtDetail.h"

namespace corvane {

namespace {

[[noreturn]] void InvalidData() { throw EOvCertificateError("Invalid certificate data"); }

// Base64 text (stride 1) or UTF-16LE Base64 text (stride 2): only the alphabet,
// CR and LF, and at most two "=" followed by nothing but "=", CR, LF or NUL.
bool LooksLikeBase64(const uint8_t* bytes, size_t size, size_t stride) {
  if (stride == 2 && size % 2 != 0) return false;
  int padding = 0;
  for (size_t i = 0; i < size; i += stride) {
    if (stride == 2 && bytes[i + 1] != 0) return false;
    const uint8_t c = bytes[i];
    if (c == '=') {
      if (++padding > 2) return false;
      continue;
    }
    if (c == '\r' || c == '\n') continue;
    if (padding > 0) {
      if (c == 0) continue;
      return false;
    }
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!alphabet) return false;
  }
  return true;
}

// The octets of an element exactly as they stand in the source.
std::string_view RawElement(std::string_view source, const TOvASN1CustomTag& node) {
  const auto offset = static_cast<size_t>(node.ElementOffset());
  const auto size = static_cast<size_t>(node.ElementSize());
  if (offset > source.size() || size > source.size() - offset) InvalidData();
  return source.substr(offset, size);
}

// The content octets of a primitive element exactly as they stand in the source.
std::string_view RawContent(std::string_view source, const TOvASN1CustomTag& node) {
  const auto offset = static_cast<size_t>(node.ElementOffset() + node.HeaderLength());
  const auto size = static_cast<size_t>(node.ContentLength());
  if (offset > source.size() || size > source.size() - offset) InvalidData();
  return source.substr(offset, size);
}

const TOvASN1ConstrainedTag* ConstructedAt(const TOvASN1ConstrainedTag& parent, int32_t index,
                                           uint8_t tag) {
  const TOvASN1ConstrainedTag* node = parent.ConstrainedChild(index);
  return node != nullptr && node->TagByte() == tag ? node : nullptr;
}

const TOvASN1SimpleTag* SimpleAt(const TOvASN1ConstrainedTag& parent, int32_t index, uint8_t tag) {
  const TOvASN1SimpleTag* node = parent.SimpleChild(index);
  return node != nullptr && node->TagByte() == tag ? node : nullptr;
}

// A primitive BIT STRING whose raw content starts with a zero unused-bits
// octet; returns that content (with the octet).
std::string BitStringContent(std::string_view source, const TOvASN1SimpleTag* node) {
  if (node == nullptr || node->TagByte() != ASN1_BIT_STRING) InvalidData();
  const std::string_view raw = RawContent(source, *node);
  if (raw.empty() || raw[0] != 0) InvalidData();
  return std::string(raw);
}

// Whether some identifier class takes the OID.
bool IsKnownIdentifierOID(std::string_view oid) {
  try {
    return IdentifierFromOID(oid) != nullptr;
  } catch (const EOvAlgorithmIdentifierError&) {
    return false;
  }
}

// An identifier object for an AlgorithmIdentifier; nullptr when the OID is not known.
std::unique_ptr<TOvAlgorithmIdentifier> OptionalIdentifier(const TOvASN1ConstrainedTag& node) {
  try {
    return IdentifierFromTag(node);
  } catch (const EOvAlgorithmIdentifierError&) {
    return nullptr;
  }
}

const std::string_view kCountry{"\x55\x04\x06", 3};
const std::string_view kStateOrProvince{"\x55\x04\x08", 3};
const std::string_view kLocality{"\x55\x04\x07", 3};
const std::string_view kOrganization{"\x55\x04\x0A", 3};
const std::string_view kOrganizationUnit{"\x55\x04\x0B", 3};
const std::string_view kCommonNameOID{"\x55\x04\x03", 3};
const std::string_view kEMail{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x01", 9};

}  // namespace

TOvX509Certificate::TOvX509Certificate()
    : extensions_(std::make_unique<TOvCertificateExtensions>()) {}

TOvX509Certificate::~TOvX509Certificate() = default;

void TOvX509Certificate::Clear() {
  encoded_.clear();
  tbs_offset_ = tbs_size_ = 0;
  version_ = 0;
  serial_.clear();
  serial_octets_.clear();
  serial_padded_ = false;
  inner_algorithm_.reset();
  valid_from_ = valid_to_ = 0;
  issuer_rdn_.Clear();
  subject_rdn_.Clear();
  issuer_name_ = {};
  subject_name_ = {};
  issuer_der_.clear();
  subject_der_.clear();
  issuer_unique_id_.clear();
  subject_unique_id_.clear();
  key_algorithm_.reset();
  key_algorithm_oid_.clear();
  public_key_bits_.clear();
  public_key_.clear();
  spki_.clear();
  extensions_->Clear();
  outer_algorithm_.reset();
  signature_.clear();
  key_material_.reset();
}

void TOvX509Certificate::LoadFromBuffer(const void* bytes, size_t size) {
  if (bytes == nullptr && size > 0) InvalidData();
  const auto* input = static_cast<const uint8_t*>(bytes);
  ByteString der;
  if (LooksLikeBase64(input, size, 2)) {
    size_t needed = 0;
    if (Base64DecodeUTF16(input, size, nullptr, needed) == BASE64_BUFFER_TOO_SMALL) {
      der.resize(needed);
      if (Base64DecodeUTF16(input, size, der.data(), needed) != BASE64_OK) InvalidData();
      der.resize(needed);
    } else if (size > 0) {
      InvalidData();
    }
  } else if (LooksLikeBase64(input, size, 1)) {
    if (Base64DecodeString(std::string_view(reinterpret_cast<const char*>(input), size), der) !=
        BASE64_OK)
      InvalidData();
  } else {
    der.assign(reinterpret_cast<const char*>(input), size);
  }
  Clear();
  if (der.size() > X509_MAX_CERTIFICATE_SIZE) throw EOvX509Error("Certificate is too long");
  encoded_ = std::move(der);
  try {
    Parse();
  } catch (const ECorvaneError&) {
    // A certificate that failed to load is empty, never half-filled.
    Clear();
    throw;
  } catch (const std::exception&) {
    Clear();
    InvalidData();
  }
}

std::string_view TOvX509Certificate::SignedRegion() const {
  return std::string_view(encoded_).substr(static_cast<size_t>(tbs_offset_),
                                           static_cast<size_t>(tbs_size_));
}

void TOvX509Certificate::Parse() {
  TOvASN1ConstrainedTag tree;
  if (!tree.LoadFromBytes(encoded_) || tree.Count() < 1) InvalidData();
  const TOvASN1ConstrainedTag* certificate = ConstructedAt(tree, 0, ASN1_SEQUENCE);
  if (certificate == nullptr || certificate->Count() != 3) InvalidData();
  const TOvASN1ConstrainedTag* tbs = ConstructedAt(*certificate, 0, ASN1_SEQUENCE);
  const TOvASN1ConstrainedTag* outer = ConstructedAt(*certificate, 1, ASN1_SEQUENCE);
  const TOvASN1SimpleTag* signature = SimpleAt(*certificate, 2, ASN1_BIT_STRING);
  if (tbs == nullptr || outer == nullptr || signature == nullptr) InvalidData();
  const std::string_view raw_tbs = RawElement(encoded_, *tbs);
  tbs_offset_ = tbs->ElementOffset();
  tbs_size_ = static_cast<int64_t>(raw_tbs.size());

  int32_t pos = 0;
  version_ = 1;
  if (const TOvASN1ConstrainedTag* version = ConstructedAt(*tbs, 0, 0xA0);
      version != nullptr && version->Count() == 1) {
    const TOvASN1SimpleTag* number = SimpleAt(*version, 0, ASN1_INTEGER);
    if (number != nullptr && number->ContentSize() > 0) {
      version_ = static_cast<uint8_t>(static_cast<uint8_t>(number->Content()[0]) + 1);
      pos = 1;
    }
  }

  const TOvASN1SimpleTag* serial = SimpleAt(*tbs, pos++, ASN1_INTEGER);
  if (serial == nullptr) InvalidData();
  serial_octets_ = RawContent(encoded_, *serial);
  serial_ = serial->Content();
  if (serial_.empty()) serial_ = std::string(1, '\0');
  if (static_cast<uint8_t>(serial_[0]) >= 0x80) {
    serial_.insert(serial_.begin(), '\0');
    serial_padded_ = true;
  }

  const TOvASN1ConstrainedTag* inner = ConstructedAt(*tbs, pos++, ASN1_SEQUENCE);
  if (inner == nullptr) InvalidData();
  inner_algorithm_ = OptionalIdentifier(*inner);

  ReadName(tbs->GetChild(pos++), issuer_rdn_, issuer_name_, issuer_der_);

  const TOvASN1ConstrainedTag* validity = ConstructedAt(*tbs, pos++, ASN1_SEQUENCE);
  if (validity == nullptr || validity->Count() != 2) InvalidData();
  TDateTime* const times[] = {&valid_from_, &valid_to_};
  for (int32_t i = 0; i < 2; ++i) {
    const TOvASN1SimpleTag* time = validity->SimpleChild(i);
    if (time == nullptr) InvalidData();
    if (time->TagByte() == ASN1_UTC_TIME)
      *times[i] = UTCTimeToDateTime(time->Content());
    else if (time->TagByte() == ASN1_GENERALIZED_TIME)
      *times[i] = GeneralizedTimeToDateTime(time->Content());
    else
      InvalidData();
  }

  ReadName(tbs->GetChild(pos++), subject_rdn_, subject_name_, subject_der_);

  const TOvASN1ConstrainedTag* spki = ConstructedAt(*tbs, pos++, ASN1_SEQUENCE);
  if (spki == nullptr || spki->Count() != 2) InvalidData();
  const TOvASN1ConstrainedTag* key_algorithm = ConstructedAt(*spki, 0, ASN1_SEQUENCE);
  if (key_algorithm == nullptr) InvalidData();
  const TOvASN1SimpleTag* key_oid = SimpleAt(*key_algorithm, 0, ASN1_OBJECT_IDENTIFIER);
  if (key_oid == nullptr || key_algorithm->Count() > 2) InvalidData();
  key_algorithm_oid_ = key_oid->Content();
  try {
    key_algorithm_ = IdentifierFromTag(*key_algorithm);
  } catch (const ECorvaneError&) {
    // A key algorithm the toolkit has no class for (Ed25519, say) loads with
    // its key unsupported; a known one with bad parameters does not load.
    if (IsKnownIdentifierOID(key_algorithm_oid_)) InvalidData();
  }
  public_key_bits_ = BitStringContent(encoded_, spki->SimpleChild(1));
  public_key_ = public_key_bits_.substr(1);
  if (key_algorithm_ != nullptr && key_algorithm_->Algorithm() != CERT_ALG_EC) {
    TOvASN1ConstrainedTag key;
    if (public_key_.empty() || !key.LoadFromBytes(public_key_)) InvalidData();
  }
  spki_ = spki->SaveToBytes();

  if (version_ == 1 && pos != tbs->Count()) InvalidData();
  if (const TOvASN1SimpleTag* id = SimpleAt(*tbs, pos, 0x81)) {
    issuer_unique_id_ = id->Content();
    if (!issuer_unique_id_.empty() && issuer_unique_id_[0] == 0) issuer_unique_id_.erase(0, 1);
    ++pos;
  }
  if (const TOvASN1SimpleTag* id = SimpleAt(*tbs, pos, 0x82)) {
    subject_unique_id_ = id->Content();
    if (!subject_unique_id_.empty() && subject_unique_id_[0] == 0) subject_unique_id_.erase(0, 1);
    ++pos;
  }
  if (version_ == 2 && pos != tbs->Count()) InvalidData();

  if (const TOvASN1ConstrainedTag* wrapper = ConstructedAt(*tbs, pos, 0xA3)) {
    const TOvASN1ConstrainedTag* list = ConstructedAt(*wrapper, 0, ASN1_SEQUENCE);
    if (wrapper->Count() != 1 || list == nullptr) InvalidData();
    TOvExtensionReader reader(*extensions_);
    std::set<std::string> seen;
    for (int32_t i = 0; i < list->Count(); ++i) {
      const TOvASN1ConstrainedTag* extension = ConstructedAt(*list, i, ASN1_SEQUENCE);
      if (extension == nullptr) InvalidData();
      const TOvASN1SimpleTag* oid = SimpleAt(*extension, 0, ASN1_OBJECT_IDENTIFIER);
      // RFC 5280 4.2: an extension appears at most once.
      if (oid == nullptr || !seen.insert(oid->Content()).second) InvalidData();
      int32_t at = 1;
      bool critical = false;
      if (const TOvASN1SimpleTag* flag = SimpleAt(*extension, 1, ASN1_BOOLEAN)) {
        critical = flag->BooleanValue();
        at = 2;
      }
      const TOvASN1SimpleTag* value = SimpleAt(*extension, at, ASN1_OCTET_STRING);
      if (value == nullptr || extension->Count() != at + 1) InvalidData();
      reader.ReadExtension(oid->Content(), critical, value->Content());
    }
    ++pos;
  }
  if (pos != tbs->Count()) InvalidData();

  outer_algorithm_ = OptionalIdentifier(*outer);
  signature_ = BitStringContent(encoded_, signature).substr(1);
  CreateKeyMaterial();
}

void TOvX509Certificate::ReadName(const TOvASN1CustomTag* node, TOvRelativeDistinguishedName& rdn,
                                  TOvCertificateName& name, ByteString& der) {
  const auto* seq = dynamic_cast<const TOvASN1ConstrainedTag*>(node);
  if (seq == nullptr || seq->TagByte() != ASN1_SEQUENCE) InvalidData();
  rdn.Clear();
  for (int32_t set = 0; set < seq->Count(); ++set) {
    const TOvASN1ConstrainedTag* rdn_set = ConstructedAt(*seq, set, ASN1_SET);
    if (rdn_set == nullptr) InvalidData();
    for (int32_t k = 0; k < rdn_set->Count(); ++k) {
      const TOvASN1ConstrainedTag* pair = ConstructedAt(*rdn_set, k, ASN1_SEQUENCE);
      if (pair == nullptr || pair->Count() != 2) InvalidData();
      const TOvASN1SimpleTag* type = SimpleAt(*pair, 0, ASN1_OBJECT_IDENTIFIER);
      if (type == nullptr) InvalidData();
      const TOvASN1CustomTag* value = pair->GetChild(1);
      std::string content;
      uint8_t tag = TOvRelativeDistinguishedName::kDefaultTag;
      if (const auto* constructed = dynamic_cast<const TOvASN1ConstrainedTag*>(value)) {
        content = x509_detail::ContentOf(*constructed);
      } else {
        content = dynamic_cast<const TOvASN1SimpleTag&>(*value).Content();
        tag = value->TagByte();
      }
      const int index = rdn.Add(type->Content(), content, tag);
      rdn.SetGroups(index, set);
    }
  }
  name = {};
  for (int i = 0; i < rdn.Count(); ++i) {
    const std::string& type = rdn.Types(i);
    std::string* field = nullptr;
    if (type == kCountry)
      field = &name.Country;
    else if (type == kStateOrProvince)
      field = &name.StateOrProvince;
    else if (type == kLocality)
      field = &name.Locality;
    else if (type == kOrganization)
      field = &name.Organization;
    else if (type == kOrganizationUnit)
      field = &name.OrganizationUnit;
    else if (type == kCommonNameOID)
      field = &name.CommonName;
    else if (type == kEMail)
      field = &name.EMail;
    if (field != nullptr) *field = rdn.ValueText(i);
  }
  der = RawElement(encoded_, *seq);
}

int32_t TOvX509Certificate::SignatureAlgorithm() const {
  return outer_algorithm_ != nullptr ? outer_algorithm_->Algorithm() : ALG_UNKNOWN;
}

int32_t TOvX509Certificate::PublicKeyAlgorithm() const {
  return key_algorithm_ != nullptr ? key_algorithm_->Algorithm() : ALG_UNKNOWN;
}

bool TOvX509Certificate::KeyAlgorithmCanSign() const {
  const int32_t algorithm = PublicKeyAlgorithm();
  return algorithm == CERT_ALG_RSA || algorithm == CERT_ALG_DSA || algorithm == CERT_ALG_RSAPSS ||
         algorithm == CERT_ALG_EC;
}

bool TOvX509Certificate::KeyAlgorithmCanEncrypt() const {
  const int32_t algorithm = PublicKeyAlgorithm();
  return algorithm == CERT_ALG_RSA || algorithm == CERT_ALG_RSAOAEP;
}

ByteString TOvX509Certificate::FingerprintMD5() const {
  TOvHashFunction hash(ALG_MD5);
  hash.Update(encoded_);
  return hash.Finish();
}

ByteString TOvX509Certificate::FingerprintSHA1() const {
  TOvHashFunction hash(ALG_SHA1);
  hash.Update(encoded_);
  return hash.Finish();
}

bool TOvX509Certificate::SameCertificate(const TOvX509Certificate& a, const TOvX509Certificate& b) {
  return a.encoded_.size() == b.encoded_.size() && a.serial_ == b.serial_ &&
         a.valid_from_ == b.valid_from_ && a.valid_to_ == b.valid_to_ &&
         a.FingerprintSHA1() == b.FingerprintSHA1() && a.issuer_rdn_.Equals(b.issuer_rdn_) &&
         a.subject_rdn_.Equals(b.subject_rdn_);
}

bool TOvX509Certificate::IsSelfIssued() const {
  if (!issuer_rdn_.Equals(subject_rdn_)) return false;
  if (extensions_->IsPresent(cekAuthorityKeyIdentifier) &&
      extensions_->IsPresent(cekSubjectKeyIdentifier))
    return extensions_->AuthorityKeyIdentifier().KeyIdentifier ==
           extensions_->SubjectKeyIdentifier().KeyIdentifier;
  return true;
}

bool TOvX509Certificate::IsSelfSigned() const {
  return IsSelfIssued() && ValidateWithIssuer(*this);
}

bool TOvX509Certificate::ValidateWithIssuer(const TOvX509Certificate& issuer) const {
  try {
    return !IsEmpty() && VerifySignatureWith(issuer);
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<TOvX509Certificate> LoadCertificateOrNull(std::string_view der) {
  try {
    auto certificate = std::make_unique<TOvX509Certificate>();
    certificate->LoadFromBytes(der);
    if (!certificate->IsEmpty()) return certificate;
  } catch (const std::exception&) {
  }
  return nullptr;
}

}  // namespace corvane
