// AlgorithmIdentifier classes whose parameters describe a key domain: DSA and
// Diffie-Hellman (RFC 3279), elliptic curves (RFC 5480, SEC 1), ECDSA signatures
// (RFC 5758) and GOST R 34.10 (RFC 4491).
#include "toolkit/crypto/CvAlgorithmIdentifier.h"

#include "toolkit/crypto/CvAlgorithmIdentifier_Detail.h"

namespace corvane {

using namespace algid_detail;

namespace {

bool OneOf(std::string_view value, std::initializer_list<std::string_view> list) {
  for (const std::string_view item : list) {
    if (item == value) return true;
  }
  return false;
}

// The parameters element, or nullptr when the identifier has none.
const TOvASN1CustomTag* ParametersOf(const TOvASN1ConstrainedTag& node) {
  return node.Count() >= 2 ? node.GetChild(1) : nullptr;
}

}  // namespace

// --- DSA ----------------------------------------------------------------------------

TOvDSAAlgorithmIdentifier::TOvDSAAlgorithmIdentifier() { StoreOID(oid::DSA); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvDSAAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvDSAAlgorithmIdentifier>();
}

bool TOvDSAAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return OneOf(value, {oid::DSA, oid::DSA_OIW, oid::DSA_SHA1, oid::DSA_SHA1_OIW});
}

void TOvDSAAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  p_.clear();
  q_.clear();
  g_.clear();
  const TOvASN1CustomTag* parameters = ParametersOf(node);
  if (parameters == nullptr) return;
  if (algorithm_ != CERT_ALG_DSA) {
    if (!IsNull(parameters)) ThrowInvalidParameters();
    return;
  }
  // Dss-Parms ::= SEQUENCE { p INTEGER, q INTEGER, g INTEGER }
  const TOvASN1ConstrainedTag* seq = Constructed(parameters, ASN1_SEQUENCE);
  if (seq == nullptr || seq->Count() != 3) ThrowInvalidParameters();
  std::string p = IntegerMagnitude(seq->GetChild(0));
  std::string q = IntegerMagnitude(seq->GetChild(1));
  std::string g = IntegerMagnitude(seq->GetChild(2));
  p_ = std::move(p);
  q_ = std::move(q);
  g_ = std::move(g);
}

void TOvDSAAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  // Without domain parameters the field is absent (RFC 3279 2.3.2), never NULL.
  if (algorithm_ != CERT_ALG_DSA || p_.empty() || q_.empty() || g_.empty()) return;
  TOvASN1ConstrainedTag& seq = AddConstructed(node, ASN1_SEQUENCE);
  AddInteger(seq, p_);
  AddInteger(seq, q_);
  AddInteger(seq, g_);
}

void TOvDSAAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* dsa = dynamic_cast<const TOvDSAAlgorithmIdentifier*>(other);
  if (dsa == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  p_ = dsa->p_;
  q_ = dsa->q_;
  g_ = dsa->g_;
}

// --- Diffie-Hellman -----------------------------------------------------------------

TOvDHAlgorithmIdentifier::TOvDHAlgorithmIdentifier() { StoreOID(oid::DH_PUBLIC_NUMBER); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvDHAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvDHAlgorithmIdentifier>();
}

bool TOvDHAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return value == oid::DH_PUBLIC_NUMBER;
}

void TOvDHAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  // DomainParameters ::= SEQUENCE { p, g, q INTEGER, j INTEGER OPTIONAL,
  //                                 validationParms OPTIONAL }
  if (node.Count() != 2) ThrowInvalidParameters();
  const TOvASN1ConstrainedTag* seq = Constructed(node.GetChild(1), ASN1_SEQUENCE);
  if (seq == nullptr || seq->Count() < 3) ThrowInvalidParameters();
  std::string p = IntegerMagnitude(seq->GetChild(0));
  std::string g = IntegerMagnitude(seq->GetChild(1));
  std::string q = IntegerMagnitude(seq->GetChild(2));
  p_ = std::move(p);
  g_ = std::move(g);
  q_ = std::move(q);
}

void TOvDHAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  TOvASN1ConstrainedTag& seq = AddConstructed(node, ASN1_SEQUENCE);
  AddInteger(seq, p_);
  AddInteger(seq, g_);
  AddInteger(seq, q_);
}

void TOvDHAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* dh = dynamic_cast<const TOvDHAlgorithmIdentifier*>(other);
  if (dh == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  p_ = dh->p_;
  g_ = dh->g_;
  q_ = dh->q_;
}

// --- elliptic curves ----------------------------------------------------------------

TOvECAlgorithmIdentifier::TOvECAlgorithmIdentifier() { StoreOID(oid::EC_PUBLIC_KEY); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvECAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvECAlgorithmIdentifier>();
}

bool TOvECAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return value == oid::EC_PUBLIC_KEY;
}

void TOvECAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  // ECParameters ::= CHOICE { namedCurve OID, implicitCurve NULL, specifiedCurve SEQUENCE }
  domain_ = TDomain{};
  if (node.Count() != 2) ThrowInvalidParameters();
  const TOvASN1CustomTag* parameters = node.GetChild(1);
  if (CheckTag(parameters, ASN1_OBJECT_IDENTIFIER, false)) {
    domain_.CurveOID = static_cast<const TOvASN1SimpleTag*>(parameters)->Content();
  } else if (IsNull(parameters)) {
    domain_.ImplicitCurve = true;
  } else if (const TOvASN1ConstrainedTag* specified = Constructed(parameters, ASN1_SEQUENCE)) {
    try {
      LoadSpecifiedDomain(*specified);
    } catch (...) {
      domain_ = TDomain{};
      throw;
    }
    domain_.SpecifiedCurve = true;
  } else {
    ThrowInvalidParameters();
  }
}

// SpecifiedECDomain (SEC 1 C.2): version, fieldID, curve, base, order,
// cofactor OPTIONAL, hash OPTIONAL.
void TOvECAlgorithmIdentifier::LoadSpecifiedDomain(const TOvASN1ConstrainedTag& spec) {
  if (spec.Count() < 5 || spec.Count() > 7) ThrowInvalidParameters();
  domain_.Version = SmallInteger(spec.GetChild(0));

  const TOvASN1ConstrainedTag* field = Constructed(spec.GetChild(1), ASN1_SEQUENCE);
  if (field == nullptr || field->Count() != 2) ThrowInvalidParameters();
  domain_.FieldOID = PrimitiveContent(field->GetChild(0), ASN1_OBJECT_IDENTIFIER);
  if (domain_.FieldOID == oid::EC_PRIME_FIELD) {
    domain_.FieldType = eftPrime;
    domain_.P = IntegerMagnitude(field->GetChild(1));
  } else if (domain_.FieldOID == oid::EC_CHAR2_FIELD) {
    // Characteristic-two ::= SEQUENCE { m INTEGER, basis OID, parameters }
    domain_.FieldType = eftCharacteristicTwo;
    const TOvASN1ConstrainedTag* two = Constructed(field->GetChild(1), ASN1_SEQUENCE);
    if (two == nullptr || two->Count() < 2 || two->Count() > 3) ThrowInvalidParameters();
    domain_.M = SmallInteger(two->GetChild(0));
    domain_.BasisOID = PrimitiveContent(two->GetChild(1), ASN1_OBJECT_IDENTIFIER);
    if (domain_.BasisOID == oid::EC_BASIS_TP) {
      if (two->Count() != 3) ThrowInvalidParameters();
      domain_.K1 = SmallInteger(two->GetChild(2));
    } else if (domain_.BasisOID == oid::EC_BASIS_PP) {
      const TOvASN1ConstrainedTag* ks =
          two->Count() == 3 ? Constructed(two->GetChild(2), ASN1_SEQUENCE) : nullptr;
      if (ks == nullptr || ks->Count() != 3) ThrowInvalidParameters();
      domain_.K1 = SmallInteger(ks->GetChild(0));
      domain_.K2 = SmallInteger(ks->GetChild(1));
      domain_.K3 = SmallInteger(ks->GetChild(2));
    } else {
      ThrowUnsupportedParameters();
    }
  } else {
    ThrowUnsupportedParameters();
  }

  // Curve ::= SEQUENCE { a OCTET STRING, b OCTET STRING, seed BIT STRING OPTIONAL }
  const TOvASN1ConstrainedTag* curve = Constructed(spec.GetChild(2), ASN1_SEQUENCE);
  if (curve == nullptr || curve->Count() < 2 || curve->Count() > 3) ThrowInvalidParameters();
  domain_.A = PrimitiveContent(curve->GetChild(0), ASN1_OCTET_STRING);
  domain_.B = PrimitiveContent(curve->GetChild(1), ASN1_OCTET_STRING);
  if (curve->Count() == 3) {
    const std::string seed = PrimitiveContent(curve->GetChild(2), ASN1_BIT_STRING);
    if (seed.empty() || seed[0] != '\0') ThrowInvalidParameters();
    domain_.Seed = seed.substr(1);
  }

  domain_.Base = PrimitiveContent(spec.GetChild(3), ASN1_OCTET_STRING);
  if (!domain_.Base.empty()) {
    const uint8_t form = static_cast<uint8_t>(domain_.Base[0]);
    domain_.CompressPoints = form == 0x02 || form == 0x03;
    domain_.HybridPoints = form == 0x06 || form == 0x07;
  }
  domain_.N = IntegerMagnitude(spec.GetChild(4));

  int32_t index = 5;
  if (CheckTag(spec.GetChild(index), ASN1_INTEGER, false)) {
    domain_.H = IntegerMagnitude(spec.GetChild(index++));
  }
  if (index < spec.Count()) domain_.Hash = LoadHashIdentifier(spec.GetChild(index++));
  if (index != spec.Count()) ThrowInvalidParameters();
}

void TOvECAlgorithmIdentifier::SaveSpecifiedDomain(TOvASN1ConstrainedTag& spec) const {
  spec.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.Version));

  TOvASN1ConstrainedTag& field = AddConstructed(spec, ASN1_SEQUENCE);
  if (domain_.FieldType == eftPrime) {
    AddOID(field, oid::EC_PRIME_FIELD);
    AddInteger(field, domain_.P);
  } else {
    AddOID(field, oid::EC_CHAR2_FIELD);
    TOvASN1ConstrainedTag& two = AddConstructed(field, ASN1_SEQUENCE);
    two.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.M));
    if (domain_.BasisOID == oid::EC_BASIS_TP) {
      AddOID(two, oid::EC_BASIS_TP);
      two.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.K1));
    } else if (domain_.BasisOID == oid::EC_BASIS_PP) {
      AddOID(two, oid::EC_BASIS_PP);
      TOvASN1ConstrainedTag& ks = AddConstructed(two, ASN1_SEQUENCE);
      ks.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.K1));
      ks.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.K2));
      ks.AddSimpleChild()->SetIntegerValue(static_cast<uint32_t>(domain_.K3));
    } else {
      ThrowUnsupportedParameters();
    }
  }

  TOvASN1ConstrainedTag& curve = AddConstructed(spec, ASN1_SEQUENCE);
  auto addOctets = [](TOvASN1ConstrainedTag& parent, uint8_t tag, std::string content) {
    TOvASN1SimpleTag* node = parent.AddSimpleChild();
    node->SetTagByte(tag);
    node->SetContent(std::move(content));
  };
  addOctets(curve, ASN1_OCTET_STRING, domain_.A);
  addOctets(curve, ASN1_OCTET_STRING, domain_.B);
  if (!domain_.Seed.empty()) addOctets(curve, ASN1_BIT_STRING, std::string(1, '\0') + domain_.Seed);
  addOctets(spec, ASN1_OCTET_STRING, domain_.Base);
  AddInteger(spec, domain_.N);
  if (!domain_.H.empty()) AddInteger(spec, domain_.H);
  if (domain_.Hash != ALG_UNKNOWN) {
    SaveHashIdentifier(AddConstructed(spec, ASN1_SEQUENCE), domain_.Hash);
  }
}

void TOvECAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  if (domain_.SpecifiedCurve) {
    SaveSpecifiedDomain(AddConstructed(node, ASN1_SEQUENCE));
  } else if (!domain_.ImplicitCurve && !domain_.CurveOID.empty()) {
    AddOID(node, domain_.CurveOID);
  } else {
    AddNull(node);
  }
}

void TOvECAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* ec = dynamic_cast<const TOvECAlgorithmIdentifier*>(other);
  if (ec == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  domain_ = ec->domain_;
}

// --- ECDSA --------------------------------------------------------------------------

TOvECDSAAlgorithmIdentifier::TOvECDSAAlgorithmIdentifier() { SetOID(oid::ECDSA_SHA1); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvECDSAAlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvECDSAAlgorithmIdentifier>();
}

bool TOvECDSAAlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return OneOf(value,
               {oid::ECDSA_SHA1, oid::ECDSA_RECOMMENDED, oid::ECDSA_SHA224, oid::ECDSA_SHA256,
                oid::ECDSA_SHA384, oid::ECDSA_SHA512, oid::ECDSA_SPECIFIED});
}

void TOvECDSAAlgorithmIdentifier::SetOID(std::string_view value) {
  TOvAlgorithmIdentifier::SetOID(value);
  switch (algorithm_) {
    case CERT_ALG_ECDSA_SHA1:
    case CERT_ALG_ECDSA_SPECIFIED:
      hash_algorithm_ = ALG_SHA1;
      break;
    case CERT_ALG_ECDSA_SHA224:
      hash_algorithm_ = ALG_SHA224;
      break;
    case CERT_ALG_ECDSA_SHA256:
      hash_algorithm_ = ALG_SHA256;
      break;
    case CERT_ALG_ECDSA_SHA384:
      hash_algorithm_ = ALG_SHA384;
      break;
    case CERT_ALG_ECDSA_SHA512:
      hash_algorithm_ = ALG_SHA512;
      break;
    default:
      hash_algorithm_ = ALG_UNKNOWN;
      break;
  }
}

void TOvECDSAAlgorithmIdentifier::SetHash(int32_t hash) {
  if (algorithm_ == CERT_ALG_ECDSA_SPECIFIED) {
    hash_algorithm_ = OIDOfHashAlgorithm(hash).empty() ? ALG_SHA1 : hash;
    return;
  }
  int32_t code;
  switch (hash) {
    case ALG_SHA224:
      code = CERT_ALG_ECDSA_SHA224;
      break;
    case ALG_SHA256:
      code = CERT_ALG_ECDSA_SHA256;
      break;
    case ALG_SHA384:
      code = CERT_ALG_ECDSA_SHA384;
      break;
    case ALG_SHA512:
      code = CERT_ALG_ECDSA_SHA512;
      break;
    default:
      hash = ALG_SHA1;
      code = CERT_ALG_ECDSA_SHA1;
      break;
  }
  StoreOID(OIDOfSignatureAlgorithm(code));
  hash_algorithm_ = hash;
}

void TOvECDSAAlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  const TOvASN1CustomTag* parameters = ParametersOf(node);
  if (algorithm_ != CERT_ALG_ECDSA_SPECIFIED) {
    if (parameters != nullptr && !IsNull(parameters)) ThrowInvalidParameters();
    return;
  }
  // ecdsa-with-Specified names its hash: a bare OID or a hash AlgorithmIdentifier.
  if (CheckTag(parameters, ASN1_OBJECT_IDENTIFIER, false)) {
    hash_algorithm_ =
        HashAlgorithmOfOID(static_cast<const TOvASN1SimpleTag*>(parameters)->Content());
  } else if (Constructed(parameters, ASN1_SEQUENCE) != nullptr) {
    hash_algorithm_ = LoadHashIdentifier(parameters);
  } else {
    ThrowInvalidParameters();
  }
}

void TOvECDSAAlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  if (algorithm_ != CERT_ALG_ECDSA_SPECIFIED) {
    AddNull(node);
    return;
  }
  const std::string hash = OIDOfHashAlgorithm(hash_algorithm_);
  if (hash.empty()) ThrowInvalidParameters();
  AddOID(node, hash);
}

void TOvECDSAAlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* ecdsa = dynamic_cast<const TOvECDSAAlgorithmIdentifier*>(other);
  if (ecdsa == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  hash_algorithm_ = ecdsa->hash_algorithm_;
}

// --- GOST R 34.10 -------------------------------------------------------------------

TOvGOST3410AlgorithmIdentifier::TOvGOST3410AlgorithmIdentifier() { StoreOID(oid::GOST3410_2001); }

std::unique_ptr<TOvAlgorithmIdentifier> TOvGOST3410AlgorithmIdentifier::NewInstance() const {
  return std::make_unique<TOvGOST3410AlgorithmIdentifier>();
}

bool TOvGOST3410AlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return OneOf(value, {oid::GOST3410_94, oid::GOST3410_2001});
}

void TOvGOST3410AlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  public_key_param_set_.clear();
  digest_param_set_.clear();
  encryption_param_set_.clear();
  // SEQUENCE { publicKeyParamSet, digestParamSet, encryptionParamSet OPTIONAL }
  const TOvASN1ConstrainedTag* seq = OptionalParameterSequence(node);
  if (seq == nullptr) return;
  if (seq->Count() < 2 || seq->Count() > 3) ThrowInvalidParameters();
  std::string publicKey = PrimitiveContent(seq->GetChild(0), ASN1_OBJECT_IDENTIFIER);
  std::string digest = PrimitiveContent(seq->GetChild(1), ASN1_OBJECT_IDENTIFIER);
  std::string encryption = seq->Count() == 3
                               ? PrimitiveContent(seq->GetChild(2), ASN1_OBJECT_IDENTIFIER)
                               : std::string(oid::GOST28147_CRYPTOPRO_A);
  public_key_param_set_ = std::move(publicKey);
  digest_param_set_ = std::move(digest);
  encryption_param_set_ = std::move(encryption);
}

void TOvGOST3410AlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag& node) const {
  if (public_key_param_set_.empty() || digest_param_set_.empty()) return;
  TOvASN1ConstrainedTag& seq = AddConstructed(node, ASN1_SEQUENCE);
  AddOID(seq, public_key_param_set_);
  AddOID(seq, digest_param_set_);
  if (!encryption_param_set_.empty()) AddOID(seq, encryption_param_set_);
}

void TOvGOST3410AlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  const auto* gost = dynamic_cast<const TOvGOST3410AlgorithmIdentifier*>(other);
  if (gost == nullptr) ThrowInvalid();
  TOvAlgorithmIdentifier::Assign(other);
  public_key_param_set_ = gost->public_key_param_set_;
  digest_param_set_ = gost->digest_param_set_;
  encryption_param_set_ = gost->encryption_param_set_;
}

// --- GOST R 34.11 with GOST R 34.10 -------------------------------------------------

TOvGOST3411WithGOST3410AlgorithmIdentifier::TOvGOST3411WithGOST3410AlgorithmIdentifier() {
  StoreOID(oid::GOST3411_GOST3410_2001);
}

std::unique_ptr<TOvAlgorithmIdentifier> TOvGOST3411WithGOST3410AlgorithmIdentifier::NewInstance()
    const {
  return std::make_unique<TOvGOST3411WithGOST3410AlgorithmIdentifier>();
}

bool TOvGOST3411WithGOST3410AlgorithmIdentifier::IsOIDSupported(std::string_view value) const {
  return OneOf(value, {oid::GOST3411_GOST3410_94, oid::GOST3411_GOST3410_2001});
}

void TOvGOST3411WithGOST3410AlgorithmIdentifier::LoadParameters(const TOvASN1ConstrainedTag& node) {
  const TOvASN1CustomTag* parameters = ParametersOf(node);
  if (parameters != nullptr && !IsNull(parameters)) ThrowInvalidParameters();
}

void TOvGOST3411WithGOST3410AlgorithmIdentifier::SaveParameters(TOvASN1ConstrainedTag&) const {}

void TOvGOST3411WithGOST3410AlgorithmIdentifier::Assign(const TOvAlgorithmIdentifier* other) {
  if (dynamic_cast<const TOvGOST3411WithGOST3410AlgorithmIdentifier*>(other) == nullptr) {
    ThrowInvalid();
  }
  TOvAlgorithmIdentifier::Assign(other);
}

}  // namespace corvane
