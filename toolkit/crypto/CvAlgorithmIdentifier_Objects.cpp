// The AlgorithmIdentifier base class, the factory functions and the RSA family
// (PKCS#1 v1.5 signatures, RSASSA-PSS and RSAES-OAEP of RFC 4055).
#include "toolkit/crypto/CvAlgorithmIdentifier.h"

#include <array>

#include "toolkit/crypto/CvAlgorithmIdentifier_Detail.h"

namespace corvane {

using namespace algid_detail;

// --- shared helpers -----------------------------------------------------------------

namespace algid_detail {

void ThrowInvalid() { throw EOvAlgorithmIdentifierError("Invalid algorithm identifier"); }

void ThrowUnknown() { throw EOvAlgorithmIdentifierError("Unknown algorithm identifier"); }

void ThrowInvalidParameters() {
  throw EOvAlgorithmIdentifierError("Invalid algorithm identifier parameters");
}

void ThrowUnsupportedParameters() {
  throw EOvAlgorithmIdentifierError("Unsupported algorithm parameters");
}

bool IsNull(const TOvASN1CustomTag* node) {
  if (!CheckTag(node, ASN1_NULL, false)) return false;
  return static_cast<const TOvASN1SimpleTag*>(node)->ContentSize() == 0;
}

const TOvASN1ConstrainedTag* Constructed(const TOvASN1CustomTag* node, uint8_t tag) {
  if (!CheckTag(node, tag, true)) return nullptr;
  return static_cast<const TOvASN1ConstrainedTag*>(node);
}

const TOvASN1ConstrainedTag* OptionalParameterSequence(const TOvASN1ConstrainedTag& node) {
  if (node.Count() < 2) return nullptr;
  const TOvASN1CustomTag* parameters = node.GetChild(1);
  if (IsNull(parameters)) return nullptr;
  const TOvASN1ConstrainedTag* seq = Constructed(parameters, ASN1_SEQUENCE);
  if (seq == nullptr) ThrowInvalidParameters();
  return seq;
}

std::string PrimitiveContent(const TOvASN1CustomTag* node, uint8_t tag) {
  if (!CheckTag(node, tag, false)) ThrowInvalidParameters();
  return static_cast<const TOvASN1SimpleTag*>(node)->Content();
}

int32_t SmallInteger(const TOvASN1CustomTag* node) {
  std::string content = PrimitiveContent(node, ASN1_INTEGER);
  if (content.empty() || (static_cast<uint8_t>(content[0]) & 0x80) != 0) ThrowInvalidParameters();
  size_t skip = 0;
  while (skip + 1 < content.size() && content[skip] == '\0') ++skip;
  content.erase(0, skip);
  if (content.size() > 4 || (content.size() == 4 && (static_cast<uint8_t>(content[0]) & 0x80))) {
    ThrowInvalidParameters();
  }
  int32_t value = 0;
  for (const char c : content) value = (value << 8) | static_cast<uint8_t>(c);
  return value;
}

std::string IntegerMagnitude(const TOvASN1CustomTag* node) {
  std::string content = PrimitiveContent(node, ASN1_INTEGER);
  if (!content.empty() && content[0] == '\0') content.erase(0, 1);
  return content;
}

int32_t LoadHashIdentifier(const TOvASN1CustomTag* node) {
  const TOvASN1ConstrainedTag* seq = Constructed(node, ASN1_SEQUENCE);
  if (seq == nullptr || seq->Count() < 1 || seq->Count() > 2) ThrowInvalidParameters();
  const std::string oid = PrimitiveContent(seq->GetChild(0), ASN1_OBJECT_IDENTIFIER);
  if (seq->Count() == 2 && !IsNull(seq->GetChild(1))) ThrowInvalidParameters();
  return HashAlgorithmOfOID(oid);
}

void SaveHashIdentifier(TOvASN1ConstrainedTag& seq, int32_t hash) {
  const std::string oid = OIDOfHashAlgorithm(hash);
  if (oid.empty()) ThrowInvalidParameters();
  seq.SetTagByte(ASN1_SEQUENCE);
  AddOID(seq, oid);
  AddNull(seq);
}

void AddOID(TOvASN1ConstrainedTag& parent, std::string_view oid) {
  TOvASN1SimpleTag* node = parent.AddSimpleChild();
  node->SetTagByte(ASN1_OBJECT_IDENTIFIER);
  node->SetContent(std::string(oid));
}

void AddNull(TOvASN1ConstrainedTag& parent) {
  TOvASN1SimpleTag* node = parent.AddSimpleChild();
  node->SetTagByte(ASN1_NULL);
  node->SetContent({});
}

void AddInteger(TOvASN1ConstrainedTag& parent, const std::string& magnitude) {
  parent.AddSimpleChild()->SetIntegerBytes(magnitude);
}

TOvASN1ConstrainedTag& AddConstructed(TOvASN1ConstrainedTag& parent, uint8_t tag) {
  TOvASN1ConstrainedTag* node = parent.AddConstrainedChild();
  node->SetTagByte(tag);
  return *node;
}

}  // namespace algid_detail

// --- factory ------------------------------------------------------------------------

namespace {

enum class Kind { kNone, kRSA, kPSS, kOAEP, kDSA, kDH, kEC, kECDSA, kGOST3410, kGOST3411 };

bool OneOf(std::string_view oid, std::initializer_list<std::string_view> list) {
  for (const std::string_view item : list) {
    if (item == oid) return true;
  }
  return false;
}

bool IsRSAOID(std::string_view value) {
  return OneOf(value, {oid::RSA_ENCRYPTION, oid::RSA_X509, oid::MD2_RSA, oid::MD5_RSA,
                       oid::SHA1_RSA, oid::SHA1_RSA_OIW, oid::SHA224_RSA, oid::SHA256_RSA,
                       oid::SHA384_RSA, oid::SHA512_RSA, oid::RIPEMD160_RSA});
}

bool IsDSAOID(std::string_view value) {
  return OneOf(value, {oid::DSA, oid::DSA_OIW, oid::DSA_SHA1, oid::DSA_SHA1_OIW});
}

bool IsECDSAOID(std::string_view value) {
  return OneOf(value,
               {oid::ECDSA_SHA1, oid::ECDSA_RECOMMENDED, oid::ECDSA_SHA224, oid::ECDSA_SHA256,
                oid::ECDSA_SHA384, oid::ECDSA_SHA512, oid::ECDSA_SPECIFIED});
}

// Some signers put the MD5 digest OID where md5WithRSAEncryption belongs; a read
// identifier accepts it, a new one cannot be made from it.
Kind KindOfOID(std::string_view value, bool readingTag) {
  if (IsRSAOID(value) || (readingTag && value == oid::MD5)) return Kind::kRSA;
  if (value == oid::RSASSA_PSS) return Kind::kPSS;
  if (value == oid::RSAES_OAEP) return Kind::kOAEP;
  if (IsDSAOID(value)) return Kind::kDSA;
  if (value == oid::DH_PUBLIC_NUMBER) return Kind::kDH;
  if (value == oid::EC_PUBLIC_KEY) return Kind::kEC;
  if (IsECDSAOID(value)) return Kind::kECDSA;
  if (OneOf(value, {oid::GOST3410_94, oid::GOST3410_2001})) return Kind::kGOST3410;
  if (OneOf(value, {oid::GOST3411_GOST3410_94, oid::GOST3411_GOST3410_2001})) {
    return Kind::kGOST3411;
  }
  return Kind::kNone;
}

std::unique_ptr<TOvAlgorithmIdentifier> Create(Kind kind) {
  switch (kind) {
    case Kind::kRSA:
      return std::make_unique<TOvRSAAlgorithmIdentifier>();
    case Kind::kPSS:
      return std::make_unique<TOvRSAPSSAlgorithmIdentifier>();
    case Kind::kOAEP:
      return std::make_unique<TOvRSAOAEPAlgorithmIdentifier>();
    case Kind::kDSA:
      return std::make_unique<TOvDSAAlgorithmIdentifier>();
    case Kind::kDH:
      return std::make_unique<TOvDHAlgorithmIdentifier>();
    case Kind::kEC:
      return std::make_unique<TOvECAlgorithmIdentifier>();
    case Kind::kECDSA:
      return std::make_unique<TOvECDSAAlgorithmIdentifier>();
    case Kind::kGOST3410:
      return std::make_unique<TOvGOST3410AlgorithmIdentifier>();
    case Kind::kGOST3411:
      return std::make_unique<TOvGOST3411WithGOST3410AlgorithmIdentifier>();
    case Kind::kNone:
      break;
  }
  ThrowUnknown();
}

// The OID of an AlgorithmIdentifier node: 1 or 2 children, the first an OID.
std::string OIDOfNode(const TOvASN1ConstrainedTag& node) {
  if (node.Count() < 1 || node.Count() > 2) ThrowInvalid();
  const TOvASN1CustomTag* first = node.GetChild(0);
  if (!CheckTag(first, ASN1_OBJECT_IDENTIFIER, false)) ThrowInvalid();
  return static_cast<const TOvASN1SimpleTag*>(first)->Content();
}

}  // namespace

std::unique_ptr<TOvAlgorithmIdentifier> IdentifierFromTag(const TOvASN1ConstrainedTag& node) {
  std::unique_ptr<TOvAlgorithmIdentifier> identifier = Create(KindOfOID(OIDOfNode(node), true));
  identifier->LoadFromTag(node);
  return identifier;
}

std::unique_ptr<TOvAlgorithmIdentifier> IdentifierFromOID(std::string_view oid) {
  std::unique_ptr<TOvAlgorithmIdentifier> identifier = Create(KindOfOID(oid, false));
  identifier->SetOID(oid);
  return identifier;
}

// --- base class ---------------------------------------------------------------------

void TOvAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  if (node.Count() != 2 || !IsNull(node.GetChild(1))) ThrowInvalidParameters();
}

void TOvAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const { AddNull(node); }

void TOvAlgorithmIdentifier::SetAlgorithm(int32_t code) {
  std::string oid;
  switch (code) {
    case ALG_RSA:
      oid = oid::RSA_ENCRYPTION;
      break;
    case ALG_DSA:
      oid = oid::DSA;
      break;
    case ALG_DH:
      oid = oid::DH_PUBLIC_NUMBER;
      break;
    default:
      oid = OIDOfKeyAlgorithm(code);
      break;
  }
  if (oid.empty()) oid = OIDOfSignatureAlgorithm(code);
  SetOID(oid);
}

void TOvAlgorithmIdentifier::SetOID(std::string_view oid) {
  if (IsOIDSupported(oid)) StoreOID(oid);
}

void TOvAlgorithmIdentifier::StoreOID(std::string_view oid) {
  algorithm_oid_ = std::string(oid);
  algorithm_ = KeyAlgorithmOfOID(oid);
  if (algorithm_ == ALG_UNKNOWN) algorithm_ = SignatureAlgorithmOfOID(oid);
}

bool TOvAlgorithmIdentifier::IsOIDSupported(std::string_view) const { return false; }

void TOvAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  if (other == nullptr) ThrowInvalid();
  algorithm_oid_ = other->algorithm_oid_;
  algorithm_ = other->algorithm_;
}

std::unique_ptr<TOvAlgorithmIdentifier> TOvAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvAlgorithmIdentifier>();
}

// A copy of the same class, so an identifier read with an OID that cannot start a
// new one (the MD5 digest OID in an RSA slot) still clones.
std::unique_ptr<TOvAlgorithmIdentifier> TOvAlgorithmIdentifier::Clone() const {
  std::unique_ptr<TOvAlgorithmIdentifier> copy = NewInstance();
  copy->Assign(this);
  return copy;
}

bool TOvAlgorithmIdentifier::Equals(const TOvAlgorithmIdentifier* other) const {
  if (other == nullptr) return false;
  try {
    const std::string mine = SaveToBytes();
    return !mine.empty() && mine == other->SaveToBytes();
  } catch (const ECorvaneError&) {
    return false;
  }
}

bool TOvAlgorithmIdentifier::IsAlgorithmSupported(int32_t algorithm) const {
  return IsOIDSupported(OIDByAlgorithm(algorithm)) ||
         IsOIDSupported(OIDOfSignatureAlgorithm(algorithm));
}

void TOvAlgorithmIdentifier::LoadFromBuffer(const void* bytes, int64_t size) {
  TOvASN1ConstrainedTag root;
  if (!root.LoadFromBuffer(bytes, size) || root.Count() < 1) ThrowInvalid();
  const TOvASN1ConstrainedTag* first = root.ConstrainedChild(0);
  if (first == nullptr) ThrowInvalid();
  LoadFromTag(*first);
}

bool TOvAlgorithmIdentifier::SaveToBuffer(void* buffer, int64_t& size) const {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBuffer(buffer, size);
}

std::string TOvAlgorithmIdentifier::SaveToBytes() const {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBytes();
}

void TOvAlgorithmIdentifier::LoadFromTag(const TOvASN1ConstrainedTag& node) {
  const std::string oid = OIDOfNode(node);
  if (!IsOIDSupported(oid)) ThrowUnknown();
  SetOID(oid);
  LoadParameters(node);
}

void TOvAlgorithmIdentifier::SaveToTag(TOvASN1ConstrainedTag& node) const {
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  node.SetIndefiniteLength(false);
  AddOID(node, algorithm_oid_);
  SaveParameters(node);
}

std::string TOvAlgorithmIdentifier::EncodedParameters() const {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  const TOvASN1CustomTag* parameters = node.GetChild(1);
  return parameters != nullptr ? parameters->SaveToBytes() : std::string();
}

// --- RSA ----------------------------------------------------------------------------

TOvRSAAlgorithmIdentifier::TOvRSAAlgorithmIdentifier() { SetOID(oid::RSA_ENCRYPTION); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvRSAAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvRSAAlgorithmIdentifier>();
}

bool TOvRSAAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return IsRSAOID(value) || value == oid::MD5;
}

void TOvRSAAlgorithmIdentifier::SetOID(std::string_view value) {
  TOvAlgorithmIdentifier::SetOID(value);
  hash_algorithm_ = HashOfSignatureAlgorithm(algorithm_, ALG_RSA);
}

void TOvRSAAlgorithmIdentifier::SetSignatureHash(int32_t hash) {
  static constexpr std::array<std::pair<int32_t, int32_t>, 8> kCodes{{
      {ALG_SHA1, CERT_ALG_SHA1_RSA},
      {ALG_MD5, CERT_ALG_MD5_RSA},
      {ALG_MD2, CERT_ALG_MD2_RSA},
      {ALG_SHA256, CERT_ALG_SHA256_RSA},
      {ALG_SHA384, CERT_ALG_SHA384_RSA},
      {ALG_SHA512, CERT_ALG_SHA512_RSA},
      {ALG_SHA224, CERT_ALG_SHA224_RSA},
      {ALG_RIPEMD160, CERT_ALG_RIPEMD160_RSA},
  }};
  int32_t code = CERT_ALG_RSA;
  hash_algorithm_ = ALG_UNKNOWN;
  for (const auto& [h, c] : kCodes) {
    if (h == hash) {
      code = c;
      hash_algorithm_ = hash;
    }
  }
  // The OID follows the code, so what is saved matches what is reported.
  StoreOID(code == CERT_ALG_RSA ? std::string(oid::RSA_ENCRYPTION) : OIDOfSignatureAlgorithm(code));
}

void TOvRSAAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  if (node.Count() == 1) return;
  const TOvASN1CustomTag* parameters = node.GetChild(1);
  if (IsNull(parameters) || CheckTag(parameters, ASN1_INTEGER, false)) return;
  ThrowInvalidParameters();
}

void TOvRSAAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const { AddNull(node); }

void TOvRSAAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* rsa = dynamic_cast<const TOvRSAAlgorithmIdentifier*>(other);
  if (rsa == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  hash_algorithm_ = rsa->hash_algorithm_;
}

// --- RSASSA-PSS ---------------------------------------------------------------------

namespace {

// The context-tagged fields of RSASSA-PSS-params / RSAES-OAEP-params: each [n]
// EXPLICIT with one child, in ascending order, each at most once.
template <typename Handler>
void ForEachTaggedField(const TOvASN1ConstrainedTag& params, int32_t maxFields, Handler handle) {
  if (params.Count() > maxFields) ThrowInvalidParameters();
  int32_t next = 0;
  for (int32_t i = 0; i < params.Count(); ++i) {
    const TOvASN1CustomTag* field = params.GetChild(i);
    if (field == nullptr || !field->IsConstructed() || (field->TagByte() & 0xE0) != 0xA0) {
      ThrowInvalidParameters();
    }
    const int32_t number = field->TagByte() & 0x1F;
    if (number < next || number >= maxFields) ThrowInvalidParameters();
    next = number + 1;
    const auto* tagged = static_cast<const TOvASN1ConstrainedTag*>(field);
    if (tagged->Count() != 1) ThrowInvalidParameters();
    handle(number, tagged->GetChild(0));
  }
}

// MaskGenAlgorithm: SEQUENCE { id-mgf1, hash AlgorithmIdentifier } -> MGF hash.
int32_t LoadMaskGeneration(const TOvASN1CustomTag* node) {
  const TOvASN1ConstrainedTag* mgf = Constructed(node, ASN1_SEQUENCE);
  if (mgf == nullptr || mgf->Count() != 2) ThrowInvalidParameters();
  const std::string oid = PrimitiveContent(mgf->GetChild(0), ASN1_OBJECT_IDENTIFIER);
  if (Constructed(mgf->GetChild(1), ASN1_SEQUENCE) == nullptr) ThrowInvalidParameters();
  if (oid != oid::MGF1) ThrowUnsupportedParameters();
  return LoadHashIdentifier(mgf->GetChild(1));
}

void SaveMaskGeneration(TOvASN1ConstrainedTag& tagged, int32_t hash) {
  TOvASN1ConstrainedTag& mgf = AddConstructed(tagged, ASN1_SEQUENCE);
  AddOID(mgf, oid::MGF1);
  SaveHashIdentifier(AddConstructed(mgf, ASN1_SEQUENCE), hash);
}

}  // namespace

TOvRSAPSSAlgorithmIdentifier::TOvRSAPSSAlgorithmIdentifier() { StoreOID(oid::RSASSA_PSS); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvRSAPSSAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvRSAPSSAlgorithmIdentifier>();
}

bool TOvRSAPSSAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return value == oid::RSASSA_PSS;
}

void TOvRSAPSSAlgorithmIdentifier::ResetParameters() {
  hash_algorithm_ = ALG_SHA1;
  salt_size_ = 20;
  trailer_field_ = 1;
  mgf_algorithm_ = CERT_ALG_MGF1;
  mgf_hash_algorithm_ = ALG_SHA1;
}

void TOvRSAPSSAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  ResetParameters();
  // RFC 4055 3.1: parameters may be absent in a subject public key; all defaults.
  const TOvASN1ConstrainedTag* seq = OptionalParameterSequence(node);
  if (seq == nullptr) return;
  ForEachTaggedField(*seq, 4, [this](int32_t number, const TOvASN1CustomTag* value) {
    switch (number) {
      case 0:
        hash_algorithm_ = LoadHashIdentifier(value);
        break;
      case 1:
        mgf_hash_algorithm_ = LoadMaskGeneration(value);
        break;
      case 2:
        salt_size_ = SmallInteger(value);
        break;
      default:
        if (SmallInteger(value) != 1) ThrowUnsupportedParameters();
        break;
    }
  });
}

void TOvRSAPSSAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  if (mgf_algorithm_ != CERT_ALG_MGF1) ThrowInvalidParameters();
  if (hash_algorithm_ == ALG_SHA1 && salt_size_ == 20 && mgf_hash_algorithm_ == ALG_SHA1 &&
      trailer_field_ == 1) {
    AddNull(node);
    return;
  }
  TOvASN1ConstrainedTag& seq = AddConstructed(node, ASN1_SEQUENCE);
  if (hash_algorithm_ != ALG_SHA1) {
    SaveHashIdentifier(AddConstructed(AddConstructed(seq, 0xA0), ASN1_SEQUENCE), hash_algorithm_);
  }
  if (mgf_hash_algorithm_ != ALG_SHA1) {
    SaveMaskGeneration(AddConstructed(seq, 0xA1), mgf_hash_algorithm_);
  }
  AddConstructed(seq, 0xA2).AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(salt_size_));
  if (trailer_field_ != 1) {
    AddConstructed(seq, 0xA3).AddSimpleChild()->SetIntegerValue(
        static_cast<uint32_t>(trailer_field_));
  }
}

void TOvRSAPSSAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  if (const auto* pss = dynamic_cast<const TOvRSAPSSAlgorithmIdentifier*>(other)) {
    TOvAlgorithmIdentifier::Assign(other);
    hash_algorithm_ = pss->hash_algorithm_;
    salt_size_ = pss->salt_size_;
    trailer_field_ = pss->trailer_field_;
    mgf_algorithm_ = pss->mgf_algorithm_;
    mgf_hash_algorithm_ = pss->mgf_hash_algorithm_;
    return;
  }
  if (dynamic_cast<const TOvRSAAlgorithmIdentifier*>(other) == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  ResetParameters();
}

// --- RSAES-OAEP ---------------------------------------------------------------------

TOvRSAOAEPAlgorithmIdentifier::TOvRSAOAEPAlgorithmIdentifier() { StoreOID(oid::RSAES_OAEP); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvRSAOAEPAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvRSAOAEPAlgorithmIdentifier>();
}

bool TOvRSAOAEPAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return value == oid::RSAES_OAEP;
}

void TOvRSAOAEPAlgorithmIdentifier::ResetParameters() {
  hash_algorithm_ = ALG_SHA1;
  mgf_algorithm_ = CERT_ALG_MGF1;
  mgf_hash_algorithm_ = ALG_SHA1;
  label_.clear();
}

void TOvRSAOAEPAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  ResetParameters();
  // RFC 4055 4.1: parameters may be absent in a subject public key; all defaults.
  const TOvASN1ConstrainedTag* seq = OptionalParameterSequence(node);
  if (seq == nullptr) return;
  ForEachTaggedField(*seq, 3, [this](int32_t number, const TOvASN1CustomTag* value) {
    switch (number) {
      case 0:
        hash_algorithm_ = LoadHashIdentifier(value);
        break;
      case 1:
        mgf_hash_algorithm_ = LoadMaskGeneration(value);
        break;
      default: {
        const TOvASN1ConstrainedTag* source = Constructed(value, ASN1_SEQUENCE);
        if (source == nullptr || source->Count() != 2) ThrowInvalidParameters();
        const std::string oid = PrimitiveContent(source->GetChild(0), ASN1_OBJECT_IDENTIFIER);
        std::string label = PrimitiveContent(source->GetChild(1), ASN1_OCTET_STRING);
        if (oid != oid::P_SPECIFIED) ThrowUnsupportedParameters();
        label_ = std::move(label);
        break;
      }
    }
  });
}

void TOvRSAOAEPAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  if (mgf_algorithm_ != CERT_ALG_MGF1) ThrowInvalidParameters();
  if (hash_algorithm_ == ALG_SHA1 && mgf_hash_algorithm_ == ALG_SHA1 && label_.empty()) {
    AddNull(node);
    return;
  }
  TOvASN1ConstrainedTag& seq = AddConstructed(node, ASN1_SEQUENCE);
  if (hash_algorithm_ != ALG_SHA1) {
    SaveHashIdentifier(AddConstructed(AddConstructed(seq, 0xA0), ASN1_SEQUENCE), hash_algorithm_);
  }
  if (mgf_hash_algorithm_ != ALG_SHA1) {
    SaveMaskGeneration(AddConstructed(seq, 0xA1), mgf_hash_algorithm_);
  }
  if (!label_.empty()) {
    TOvASN1ConstrainedTag& source = AddConstructed(AddConstructed(seq, 0xA2), ASN1_SEQUENCE);
    AddOID(source, oid::P_SPECIFIED);
    TOvASN1SimpleTag* label = source.AddSimpleChild();
    label->SetTagByte(ASN1_OCTET_STRING);
    label->SetContent(label_);
  }
}

void TOvRSAOAEPAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* oaep = dynamic_cast<const TOvRSAOAEPAlgorithmIdentifier*>(other);
  if (oaep == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  hash_algorithm_ = oaep->hash_algorithm_;
  mgf_algorithm_ = oaep->mgf_algorithm_;
  mgf_hash_algorithm_ = oaep->mgf_hash_algorithm_;
  label_ = oaep->label_;
}

}  // namespace corvane
