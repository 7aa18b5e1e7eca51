// The typed certificate extensions (RFC 5280 4.2) and the reader that routes
// each extension of a certificate to its object.
#include "toolkit/pki/CvX509Ext.h"

#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvX509ExtDetail.h"

namespace corvane {

namespace x509_detail {

std::string ContentOf(const TOvASN1ConstrainedTag& node) {
  std::string out;
  for (int32_t i = 0; i < node.Count(); ++i) out += node.GetChild(i)->SaveToBytes();
  return out;
}

void CopyInto(const TOvASN1CustomTag& node, TOvASN1ConstrainedTag& parent) {
  if (const auto* simple = dynamic_cast<const TOvASN1SimpleTag*>(&node)) {
    TOvASN1SimpleTag* copy = parent.AddSimpleChild();
    copy->SetTagByte(simple->TagByte());
    copy->SetContent(simple->Content());
    return;
  }
  const auto& constructed = dynamic_cast<const TOvASN1ConstrainedTag&>(node);
  TOvASN1ConstrainedTag* copy = parent.AddConstrainedChild();
  copy->SetTagByte(constructed.TagByte());
  // Loaded trees are at most ASN1_MAX_TREE_DEPTH deep, so this recursion is bounded.
  for (int32_t i = 0; i < constructed.Count(); ++i) CopyInto(*constructed.GetChild(i), *copy);
}

bool AppendEncoded(TOvASN1ConstrainedTag& parent, std::string_view bytes) {
  TOvASN1ConstrainedTag holder;
  if (!holder.LoadFromBytes(bytes)) return false;
  for (int32_t i = 0; i < holder.Count(); ++i) CopyInto(*holder.GetChild(i), parent);
  return true;
}

}  // namespace x509_detail

namespace {

using std::string_view;

// Encoded OIDs of the known kinds.
constexpr string_view kBasicConstraints{"\x55\x1D\x13", 3};
constexpr string_view kBasicConstraintsOld{"\x55\x1D\x0A", 3};
constexpr string_view kAuthorityKeyId{"\x55\x1D\x23", 3};
constexpr string_view kAuthorityKeyIdOld{"\x55\x1D\x01", 3};
constexpr string_view kSubjectKeyId{"\x55\x1D\x0E", 3};
constexpr string_view kKeyUsage{"\x55\x1D\x0F", 3};
constexpr string_view kPrivateKeyUsage{"\x55\x1D\x10", 3};
constexpr string_view kCertificatePolicies{"\x55\x1D\x20", 3};
constexpr string_view kPolicyMappings{"\x55\x1D\x21", 3};
constexpr string_view kPolicyConstraints{"\x55\x1D\x24", 3};
constexpr string_view kExtendedKeyUsage{"\x55\x1D\x25", 3};
constexpr string_view kAuthorityInfoAccess{"\x2B\x06\x01\x05\x05\x07\x01\x01", 8};
constexpr string_view kNameConstraints{"\x55\x1D\x1E", 3};
constexpr string_view kCRLDistributionPoints{"\x55\x1D\x1F", 3};
constexpr string_view kIssuerAltName{"\x55\x1D\x12", 3};
constexpr string_view kSubjectAltName{"\x55\x1D\x11", 3};
constexpr string_view kCommonName{"\x55\x04\x03", 3};
constexpr string_view kSubjectDirectoryAttributes{"\x55\x1D\x09", 3};
// 2.16.840.1.113730.1.n
std::string NetscapeOID(char n) { return std::string("\x60\x86\x48\x01\x86\xF8\x42\x01", 8) + n; }
// 1.3.6.1.5.5.7.3.n (extended key usages) and 1.3.6.1.5.5.7.2.n (policy qualifiers)
constexpr string_view kKeyPurposePrefix{"\x2B\x06\x01\x05\x05\x07\x03", 7};
constexpr string_view kCPSQualifier{"\x2B\x06\x01\x05\x05\x07\x02\x01", 8};
constexpr string_view kUserNoticeQualifier{"\x2B\x06\x01\x05\x05\x07\x02\x02", 8};

bool Is(const TOvASN1CustomTag* node, uint8_t tag) {
  return node != nullptr && node->TagByte() == tag;
}

const TOvASN1SimpleTag* Simple(const TOvASN1ConstrainedTag& parent, int32_t index, uint8_t tag) {
  const TOvASN1SimpleTag* node = parent.SimpleChild(index);
  return Is(node, tag) ? node : nullptr;
}

const TOvASN1ConstrainedTag* Constructed(const TOvASN1ConstrainedTag& parent, int32_t index,
                                         uint8_t tag) {
  const TOvASN1ConstrainedTag* node = parent.ConstrainedChild(index);
  return Is(node, tag) ? node : nullptr;
}

int32_t IntegerOf(const TOvASN1SimpleTag& node) {
  return static_cast<int32_t>(node.IntegerValue());
}

}  // namespace

// ---------------------------------------------------------------------------
// Base

void TOvCustomExtension::Clear() {
  oid_.clear();
  value_.clear();
}

ByteString TOvCustomExtension::GetOID() const { return oid_; }
void TOvCustomExtension::SetOID(std::string_view oid) { oid_ = oid; }

void TOvCustomExtension::SetValue(std::string_view value) {
  Clear();
  value_ = value;
}

ByteString TOvCustomExtension::GetValue() const { return value_; }

void TOvCustomExtension::SaveToTag(TOvASN1ConstrainedTag& node) const {
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  TOvASN1SimpleTag* oid = node.AddSimpleChild();
  oid->SetTagByte(ASN1_OBJECT_IDENTIFIER);
  oid->SetContent(GetOID());
  node.AddSimpleChild()->SetBooleanValue(critical_);
  TOvASN1SimpleTag* value = node.AddSimpleChild();
  value->SetTagByte(ASN1_OCTET_STRING);
  value->SetContent(GetValue());
}

void TOvCustomExtension::RaiseIfCritical() const {
  if (critical_) throw EOvCertificateError("Unrecognized critical certificate extension");
}

const TOvASN1CustomTag* TOvCustomExtension::SingleElement(std::string_view value, uint8_t tag,
                                                          TOvASN1ConstrainedTag& holder) {
  if (!holder.LoadFromBytes(value) || holder.Count() != 1) return nullptr;
  const TOvASN1CustomTag* node = holder.GetChild(0);
  return CheckTag(node, tag, (tag & 0x20) != 0) ? node : nullptr;
}

// ---------------------------------------------------------------------------
// Key identifiers

void TOvAuthorityKeyIdentifierExtension::Clear() {
  TOvCustomExtension::Clear();
  KeyIdentifier.clear();
  AuthorityCertIssuer.Clear();
  AuthorityCertSerial.clear();
}

ByteString TOvAuthorityKeyIdentifierExtension::GetOID() const {
  return ByteString(kAuthorityKeyId);
}

void TOvAuthorityKeyIdentifierExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  int32_t pos = 0;
  if (const TOvASN1SimpleTag* id = Simple(*seq, 0, 0x80)) {
    KeyIdentifier = id->Content();
    pos = 1;
  } else if (const TOvASN1ConstrainedTag* wrapped = Constructed(*seq, 0, 0xA0)) {
    if (const TOvASN1SimpleTag* inner = Simple(*wrapped, 0, ASN1_OCTET_STRING))
      KeyIdentifier = inner->Content();
    pos = 1;
  }
  if (const TOvASN1ConstrainedTag* issuer = Constructed(*seq, pos, 0xA1)) {
    AuthorityCertIssuer.LoadFromTag(*issuer, true);
    ++pos;
  }
  if (const TOvASN1SimpleTag* serial = Simple(*seq, pos, 0x82))
    AuthorityCertSerial = serial->Content();
}

ByteString TOvAuthorityKeyIdentifierExtension::GetValue() const {
  if (!value_.empty()) return value_;
  TOvASN1ConstrainedTag seq;
  seq.SetTagByte(ASN1_SEQUENCE);
  TOvASN1SimpleTag* id = seq.AddSimpleChild();
  id->SetTagByte(0x80);
  id->SetContent(KeyIdentifier);
  if (AuthorityCertIssuer.Count() > 0) {
    TOvASN1ConstrainedTag names;
    AuthorityCertIssuer.SaveToTag(names);
    TOvASN1ConstrainedTag* issuer = seq.AddConstrainedChild();
    issuer->SetTagByte(0xA1);
    for (int32_t i = 0; i < names.Count(); ++i) x509_detail::CopyInto(*names.GetChild(i), *issuer);
  }
  if (!AuthorityCertSerial.empty()) {
    TOvASN1SimpleTag* serial = seq.AddSimpleChild();
    serial->SetTagByte(0x82);
    serial->SetContent(AuthorityCertSerial);
  }
  return seq.SaveToBytes();
}

void TOvSubjectKeyIdentifierExtension::Clear() {
  TOvCustomExtension::Clear();
  KeyIdentifier.clear();
}

ByteString TOvSubjectKeyIdentifierExtension::GetOID() const { return ByteString(kSubjectKeyId); }

void TOvSubjectKeyIdentifierExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* id =
      dynamic_cast<const TOvASN1SimpleTag*>(SingleElement(value, ASN1_OCTET_STRING, holder));
  if (id == nullptr) return RaiseIfCritical();
  KeyIdentifier = id->Content();
}

// ---------------------------------------------------------------------------
// Usage and constraints

void TOvKeyUsageExtension::Clear() {
  TOvCustomExtension::Clear();
  DigitalSignature = NonRepudiation = KeyEncipherment = DataEncipherment = KeyAgreement = false;
  KeyCertSign = CRLSign = EncipherOnly = DecipherOnly = false;
}

ByteString TOvKeyUsageExtension::GetOID() const { return ByteString(kKeyUsage); }

void TOvKeyUsageExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* bits =
      dynamic_cast<const TOvASN1SimpleTag*>(SingleElement(value, ASN1_BIT_STRING, holder));
  if (bits == nullptr) return RaiseIfCritical();
  // The tree stores a BIT STRING as 0x00 followed by the bit octets.
  const std::string content = bits->Content();
  if (content.size() >= 2) {
    const auto b = static_cast<uint8_t>(content[1]);
    DigitalSignature = (b & 0x80) != 0;
    NonRepudiation = (b & 0x40) != 0;
    KeyEncipherment = (b & 0x20) != 0;
    DataEncipherment = (b & 0x10) != 0;
    KeyAgreement = (b & 0x08) != 0;
    KeyCertSign = (b & 0x04) != 0;
    CRLSign = (b & 0x02) != 0;
    EncipherOnly = (b & 0x01) != 0;
  }
  if (content.size() >= 3) DecipherOnly = (static_cast<uint8_t>(content[2]) & 0x80) != 0;
}

void TOvPrivateKeyUsagePeriodExtension::Clear() {
  TOvCustomExtension::Clear();
  NotBefore = NotAfter = 0;
}

ByteString TOvPrivateKeyUsagePeriodExtension::GetOID() const {
  return ByteString(kPrivateKeyUsage);
}

void TOvPrivateKeyUsagePeriodExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  int32_t pos = 0;
  if (const TOvASN1SimpleTag* from = Simple(*seq, 0, 0x80)) {
    NotBefore = GeneralizedTimeToDateTime(from->Content());
    pos = 1;
  }
  if (const TOvASN1SimpleTag* to = Simple(*seq, pos, 0x81))
    NotAfter = GeneralizedTimeToDateTime(to->Content());
}

void TOvBasicConstraintsExtension::Clear() {
  TOvCustomExtension::Clear();
  CA = false;
  PathLenConstraint = 0;
}

ByteString TOvBasicConstraintsExtension::GetOID() const { return ByteString(kBasicConstraints); }

void TOvBasicConstraintsExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  CA = false;
  PathLenConstraint = -1;
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  int32_t pos = 0;
  if (const TOvASN1SimpleTag* ca = Simple(*seq, 0, ASN1_BOOLEAN)) {
    const std::string content = ca->Content();
    CA = !content.empty() && static_cast<uint8_t>(content[0]) == 0xFF;
    pos = 1;
  }
  if (const TOvASN1SimpleTag* length = Simple(*seq, pos, ASN1_INTEGER))
    PathLenConstraint = IntegerOf(*length);
}

void TOvPolicyConstraintsExtension::Clear() {
  TOvCustomExtension::Clear();
  RequireExplicitPolicy = InhibitPolicyMapping = 0;
}

ByteString TOvPolicyConstraintsExtension::GetOID() const { return ByteString(kPolicyConstraints); }

void TOvPolicyConstraintsExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  int32_t pos = 0;
  if (const TOvASN1SimpleTag* require = Simple(*seq, 0, 0x80)) {
    RequireExplicitPolicy = IntegerOf(*require);
    pos = 1;
  }
  if (const TOvASN1SimpleTag* inhibit = Simple(*seq, pos, 0x81))
    InhibitPolicyMapping = IntegerOf(*inhibit);
}

void TOvExtendedKeyUsageExtension::Clear() {
  TOvCustomExtension::Clear();
  ServerAuthentication = ClientAuthentication = CodeSigning = EmailProtection = false;
  TimeStamping = OCSPSigning = false;
  CustomUsages.clear();
}

ByteString TOvExtendedKeyUsageExtension::GetOID() const { return ByteString(kExtendedKeyUsage); }

void TOvExtendedKeyUsageExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1SimpleTag* oid = Simple(*seq, i, ASN1_OBJECT_IDENTIFIER);
    if (oid == nullptr) {
      RaiseIfCritical();
      continue;
    }
    const std::string usage = oid->Content();
    bool* flag = nullptr;
    if (usage.size() == kKeyPurposePrefix.size() + 1 && usage.starts_with(kKeyPurposePrefix)) {
      switch (usage.back()) {
        case 1:
          flag = &ServerAuthentication;
          break;
        case 2:
          flag = &ClientAuthentication;
          break;
        case 3:
          flag = &CodeSigning;
          break;
        case 4:
          flag = &EmailProtection;
          break;
        case 8:
          flag = &TimeStamping;
          break;
        case 9:
          flag = &OCSPSigning;
          break;
        default:
          break;
      }
    }
    if (flag != nullptr)
      *flag = true;
    else
      CustomUsages.push_back(usage);
  }
}

// ---------------------------------------------------------------------------
// Names

void TOvAlternativeNameExtension::Clear() {
  TOvCustomExtension::Clear();
  Content.Clear();
}

ByteString TOvAlternativeNameExtension::GetOID() const {
  if (!oid_.empty()) return oid_;
  return ByteString(issuer_ ? kIssuerAltName : kSubjectAltName);
}

void TOvAlternativeNameExtension::SetOID(std::string_view oid) {
  if (oid == kIssuerAltName || oid == kSubjectAltName) oid_ = oid;
}

void TOvAlternativeNameExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  Content.LoadFromTag(*seq, false);
}

ByteString TOvAlternativeNameExtension::GetValue() const {
  if (!value_.empty()) return value_;
  TOvASN1ConstrainedTag seq;
  Content.SaveToTag(seq);
  return seq.SaveToBytes();
}

void TOvNameConstraintsExtension::Clear() {
  TOvCustomExtension::Clear();
  PermittedSubtrees.clear();
  ExcludedSubtrees.clear();
}

ByteString TOvNameConstraintsExtension::GetOID() const { return ByteString(kNameConstraints); }

void TOvNameConstraintsExtension::ReadSubtrees(
    const TOvASN1ConstrainedTag& node, std::vector<std::unique_ptr<TOvNameConstraint>>& list) {
  for (int32_t i = 0; i < node.Count(); ++i) {
    const TOvASN1ConstrainedTag* subtree = Constructed(node, i, ASN1_SEQUENCE);
    if (subtree == nullptr) {
      RaiseIfCritical();
      continue;
    }
    auto& constraint = *list.emplace_back(std::make_unique<TOvNameConstraint>());
    if (subtree->Count() == 0) continue;
    constraint.Base.LoadFromTag(*subtree->GetChild(0));
    int32_t pos = 1;
    if (const TOvASN1SimpleTag* minimum = Simple(*subtree, 1, 0x80)) {
      constraint.Minimum = IntegerOf(*minimum);
      pos = 2;
    }
    if (const TOvASN1SimpleTag* maximum = Simple(*subtree, pos, 0x81))
      constraint.Maximum = IntegerOf(*maximum);
  }
}

void TOvNameConstraintsExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  int32_t pos = 0;
  if (const TOvASN1ConstrainedTag* permitted = Constructed(*seq, 0, 0xA0)) {
    ReadSubtrees(*permitted, PermittedSubtrees);
    pos = 1;
  }
  if (const TOvASN1ConstrainedTag* excluded = Constructed(*seq, pos, 0xA1))
    ReadSubtrees(*excluded, ExcludedSubtrees);
}

// ---------------------------------------------------------------------------
// Policies

void TOvPolicyMappingsExtension::Clear() {
  TOvCustomExtension::Clear();
  Mappings.clear();
}

ByteString TOvPolicyMappingsExtension::GetOID() const { return ByteString(kPolicyMappings); }

void TOvPolicyMappingsExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1ConstrainedTag* pair = Constructed(*seq, i, ASN1_SEQUENCE);
    const TOvASN1SimpleTag* issuer = pair ? Simple(*pair, 0, ASN1_OBJECT_IDENTIFIER) : nullptr;
    const TOvASN1SimpleTag* subject = pair ? Simple(*pair, 1, ASN1_OBJECT_IDENTIFIER) : nullptr;
    if (pair == nullptr || pair->Count() != 2 || issuer == nullptr || subject == nullptr) {
      RaiseIfCritical();
      continue;
    }
    Mappings.push_back({issuer->Content(), subject->Content()});
  }
}

void TOvCertificatePoliciesExtension::Clear() {
  TOvCustomExtension::Clear();
  Policies.clear();
}

ByteString TOvCertificatePoliciesExtension::GetOID() const {
  return ByteString(kCertificatePolicies);
}

namespace {

void ReadUserNotice(const TOvASN1ConstrainedTag& notice, TOvUserNotice& out) {
  int32_t pos = 0;
  if (const TOvASN1ConstrainedTag* reference = Constructed(notice, 0, ASN1_SEQUENCE)) {
    pos = 1;
    const TOvASN1SimpleTag* organization = reference->SimpleChild(0);
    const TOvASN1ConstrainedTag* numbers = Constructed(*reference, 1, ASN1_SEQUENCE);
    if (reference->Count() == 2 && organization != nullptr && numbers != nullptr &&
        (organization->TagByte() == ASN1_UTF8_STRING ||
         organization->TagByte() == ASN1_IA5_STRING || organization->TagByte() == 0x1A)) {
      out.Organization = organization->Content();
      for (int32_t i = 0; i < numbers->Count(); ++i) {
        if (const TOvASN1SimpleTag* number = Simple(*numbers, i, ASN1_INTEGER))
          out.NoticeNumbers.push_back(IntegerOf(*number));
      }
    }
  }
  if (const TOvASN1SimpleTag* text = notice.SimpleChild(pos);
      text != nullptr && (text->TagByte() == ASN1_UTF8_STRING || text->TagByte() == 0x1A))
    out.ExplicitText = text->Content();
}

}  // namespace

void TOvCertificatePoliciesExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1ConstrainedTag* info = Constructed(*seq, i, ASN1_SEQUENCE);
    const TOvASN1SimpleTag* id = info ? Simple(*info, 0, ASN1_OBJECT_IDENTIFIER) : nullptr;
    if (id == nullptr) {
      RaiseIfCritical();
      continue;
    }
    TOvSinglePolicyInformation& policy = Policies.emplace_back();
    policy.PolicyIdentifier = id->Content();
    const TOvASN1ConstrainedTag* qualifiers = Constructed(*info, 1, ASN1_SEQUENCE);
    if (qualifiers == nullptr) continue;
    for (int32_t k = 0; k < qualifiers->Count(); ++k) {
      const TOvASN1ConstrainedTag* qualifier = Constructed(*qualifiers, k, ASN1_SEQUENCE);
      if (qualifier == nullptr || qualifier->Count() < 2) continue;
      const TOvASN1SimpleTag* kind = Simple(*qualifier, 0, ASN1_OBJECT_IDENTIFIER);
      if (kind == nullptr) continue;
      const std::string qualifierId = kind->Content();
      if (qualifierId == kCPSQualifier) {
        if (const TOvASN1SimpleTag* uri = Simple(*qualifier, 1, ASN1_IA5_STRING))
          policy.CPSURI = uri->Content();
      } else if (qualifierId == kUserNoticeQualifier) {
        if (const TOvASN1ConstrainedTag* notice = Constructed(*qualifier, 1, ASN1_SEQUENCE))
          ReadUserNotice(*notice, policy.UserNotice);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Distribution points and access descriptions

void TOvCRLDistributionPointsExtension::Clear() {
  TOvCustomExtension::Clear();
  DistributionPoints.clear();
}

ByteString TOvCRLDistributionPointsExtension::GetOID() const {
  return ByteString(kCRLDistributionPoints);
}

namespace {

uint16_t ReasonFlagsOf(const std::string& c) {
  uint16_t v = 0;
  if (c.size() >= 3)
    v = static_cast<uint16_t>(static_cast<uint8_t>(c[1]) + 256 * static_cast<uint8_t>(c[2]));
  else if (c.size() == 2)
    v = static_cast<uint8_t>(c[1]);
  uint16_t flags = v & 0x0780;
  if (v & 0x40) flags |= 0x02;
  if (v & 0x20) flags |= 0x04;
  if (v & 0x10) flags |= 0x08;
  if (v & 0x08) flags |= 0x10;
  if (v & 0x04) flags |= 0x20;
  if (v & 0x02) flags |= 0x40;
  return flags;
}

}  // namespace

void TOvCRLDistributionPointsExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1ConstrainedTag* dp = Constructed(*seq, i, ASN1_SEQUENCE);
    if (dp == nullptr) continue;
    auto& point = *DistributionPoints.emplace_back(std::make_unique<TOvDistributionPoint>());
    int32_t pos = 0;
    if (const TOvASN1ConstrainedTag* name = Constructed(*dp, 0, 0xA0)) {
      if (name->Count() == 1) {
        if (const TOvASN1ConstrainedTag* full = Constructed(*name, 0, 0xA0)) {
          point.DistributionPoint.LoadFromTag(*full, false);
        } else if (const TOvASN1ConstrainedTag* relative = Constructed(*name, 0, 0xA1)) {
          TOvGeneralName& entry = point.DistributionPoint.Names(point.DistributionPoint.Add());
          entry.NameType = gnDirectoryName;
          entry.DirectoryName.LoadFromTag(*relative, false);
        }
      }
      pos = 1;
    }
    if (const TOvASN1SimpleTag* reasons = Simple(*dp, pos, 0x81)) {
      point.ReasonFlags = ReasonFlagsOf(reasons->Content());
      ++pos;
    }
    if (const TOvASN1ConstrainedTag* issuer = Constructed(*dp, pos, 0xA2))
      point.CRLIssuer.LoadFromTag(*issuer, false);
  }
}

void TOvAuthorityInformationAccessExtension::Clear() {
  TOvCustomExtension::Clear();
  AccessDescriptions.clear();
}

ByteString TOvAuthorityInformationAccessExtension::GetOID() const {
  return ByteString(kAuthorityInfoAccess);
}

void TOvAuthorityInformationAccessExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return RaiseIfCritical();
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1ConstrainedTag* description = Constructed(*seq, i, ASN1_SEQUENCE);
    if (description == nullptr) {
      RaiseIfCritical();
      continue;
    }
    const TOvASN1SimpleTag* method = Simple(*description, 0, ASN1_OBJECT_IDENTIFIER);
    if (description->Count() != 2 || method == nullptr) continue;
    auto& access = *AccessDescriptions.emplace_back(std::make_unique<TOvAccessDescription>());
    access.AccessMethod = method->Content();
    access.AccessLocation.LoadFromTag(*description->GetChild(1));
  }
}

// ---------------------------------------------------------------------------
// Netscape extensions

void TOvNetscapeCertTypeExtension::Clear() {
  TOvCustomExtension::Clear();
  CertType = 0;
}

ByteString TOvNetscapeCertTypeExtension::GetOID() const { return NetscapeOID(1); }

void TOvNetscapeCertTypeExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* bits =
      dynamic_cast<const TOvASN1SimpleTag*>(SingleElement(value, ASN1_BIT_STRING, holder));
  if (bits == nullptr) return RaiseIfCritical();
  const std::string content = bits->Content();
  if (content.size() < 2) return;
  const auto b = static_cast<uint8_t>(content[1]);
  if (b & 0x80) CertType |= NS_SSL_CLIENT;
  if (b & 0x40) CertType |= NS_SSL_SERVER;
  if (b & 0x20) CertType |= NS_SMIME;
  if (b & 0x10) CertType |= NS_OBJECT_SIGNING;
  if (b & 0x04) CertType |= NS_SSL_CA;
  if (b & 0x02) CertType |= NS_SMIME_CA;
  if (b & 0x01) CertType |= NS_OBJECT_SIGNING_CA;
}

void TOvNetscapeString::Clear() {
  TOvCustomExtension::Clear();
  Text.clear();
}

void TOvNetscapeString::SetValue(std::string_view value) { DecodeString(value); }

void TOvNetscapeString::DecodeString(std::string_view value) {
  Clear();
  TOvASN1ConstrainedTag holder;
  if (!holder.LoadFromBytes(value)) return RaiseIfCritical();
  if (holder.Count() != 1) return;
  const TOvASN1SimpleTag* text = holder.SimpleChild(0);
  if (text != nullptr && (text->TagByte() == ASN1_PRINTABLE_STRING ||
                          text->TagByte() == ASN1_IA5_STRING || text->TagByte() == 0x1A))
    Text = text->Content();
}

ByteString TOvNetscapeBaseURL::GetOID() const { return NetscapeOID(2); }
ByteString TOvNetscapeRevokeURL::GetOID() const { return NetscapeOID(3); }
ByteString TOvNetscapeCARevokeURL::GetOID() const { return NetscapeOID(4); }
ByteString TOvNetscapeRenewalURL::GetOID() const { return NetscapeOID(7); }
ByteString TOvNetscapeCAPolicy::GetOID() const { return NetscapeOID(8); }
ByteString TOvNetscapeServerName::GetOID() const { return NetscapeOID(12); }
ByteString TOvNetscapeComment::GetOID() const { return NetscapeOID(13); }
ByteString TOvCommonName::GetOID() const { return ByteString(kCommonName); }

// ---------------------------------------------------------------------------
// Subject directory attributes

void TOvSubjectDirectoryAttributesExtension::Clear() {
  TOvCustomExtension::Clear();
  Attributes.clear();
}

ByteString TOvSubjectDirectoryAttributesExtension::GetOID() const {
  return ByteString(kSubjectDirectoryAttributes);
}

void TOvSubjectDirectoryAttributesExtension::SetValue(std::string_view value) {
  TOvCustomExtension::SetValue(value);
  TOvASN1ConstrainedTag holder;
  const auto* seq =
      dynamic_cast<const TOvASN1ConstrainedTag*>(SingleElement(value, ASN1_SEQUENCE, holder));
  if (seq == nullptr) return;
  for (int32_t i = 0; i < seq->Count(); ++i) {
    const TOvASN1ConstrainedTag* attribute = Constructed(*seq, i, ASN1_SEQUENCE);
    if (attribute == nullptr || attribute->Count() != 2) continue;
    const TOvASN1SimpleTag* type = Simple(*attribute, 0, ASN1_OBJECT_IDENTIFIER);
    const TOvASN1ConstrainedTag* values = Constructed(*attribute, 1, ASN1_SET);
    if (type == nullptr || values == nullptr) continue;
    TOvExtensionAttribute& entry = Attributes.emplace_back();
    entry.Type = type->Content();
    for (int32_t k = 0; k < values->Count(); ++k)
      entry.Values.push_back(values->GetChild(k)->SaveToBytes());
  }
}

// ---------------------------------------------------------------------------
// The set and the reader

TOvCertificateExtensions::TOvCertificateExtensions()
    : basic_constraints_(std::make_unique<TOvBasicConstraintsExtension>()),
      authority_key_id_(std::make_unique<TOvAuthorityKeyIdentifierExtension>()),
      subject_key_id_(std::make_unique<TOvSubjectKeyIdentifierExtension>()),
      key_usage_(std::make_unique<TOvKeyUsageExtension>()),
      private_key_usage_(std::make_unique<TOvPrivateKeyUsagePeriodExtension>()),
      policies_(std::make_unique<TOvCertificatePoliciesExtension>()),
      policy_mappings_(std::make_unique<TOvPolicyMappingsExtension>()),
      policy_constraints_(std::make_unique<TOvPolicyConstraintsExtension>()),
      extended_key_usage_(std::make_unique<TOvExtendedKeyUsageExtension>()),
      aia_(std::make_unique<TOvAuthorityInformationAccessExtension>()),
      name_constraints_(std::make_unique<TOvNameConstraintsExtension>()),
      crl_points_(std::make_unique<TOvCRLDistributionPointsExtension>()),
      issuer_alt_name_(std::make_unique<TOvAlternativeNameExtension>(true)),
      subject_alt_name_(std::make_unique<TOvAlternativeNameExtension>(false)),
      ns_cert_type_(std::make_unique<TOvNetscapeCertTypeExtension>()),
      ns_base_url_(std::make_unique<TOvNetscapeBaseURL>()),
      ns_revoke_url_(std::make_unique<TOvNetscapeRevokeURL>()),
      ns_ca_revoke_url_(std::make_unique<TOvNetscapeCARevokeURL>()),
      ns_renewal_url_(std::make_unique<TOvNetscapeRenewalURL>()),
      ns_ca_policy_(std::make_unique<TOvNetscapeCAPolicy>()),
      ns_server_name_(std::make_unique<TOvNetscapeServerName>()),
      ns_comment_(std::make_unique<TOvNetscapeComment>()),
      common_name_(std::make_unique<TOvCommonName>()),
      directory_attributes_(std::make_unique<TOvSubjectDirectoryAttributesExtension>()) {}

TOvCertificateExtensions::~TOvCertificateExtensions() = default;

void TOvCertificateExtensions::Clear() {
  TOvCustomExtension* typed[] = {basic_constraints_.get(),  authority_key_id_.get(),
                                 subject_key_id_.get(),     key_usage_.get(),
                                 private_key_usage_.get(),  policies_.get(),
                                 policy_mappings_.get(),    policy_constraints_.get(),
                                 extended_key_usage_.get(), aia_.get(),
                                 name_constraints_.get(),   crl_points_.get(),
                                 issuer_alt_name_.get(),    subject_alt_name_.get(),
                                 ns_cert_type_.get(),       ns_base_url_.get(),
                                 ns_revoke_url_.get(),      ns_ca_revoke_url_.get(),
                                 ns_renewal_url_.get(),     ns_ca_policy_.get(),
                                 ns_server_name_.get(),     ns_comment_.get(),
                                 common_name_.get(),        directory_attributes_.get()};
  for (TOvCustomExtension* extension : typed) {
    extension->Clear();
    extension->SetCritical(false);
  }
  other_.clear();
  present_kinds_ = 0;
}

void TOvExtensionReader::ReadExtension(std::string_view oid, bool critical,
                                       std::string_view value) {
  TOvCertificateExtensions& e = extensions_;
  struct Kind {
    string_view oid;
    TOvCustomExtension* object;
    uint32_t bit;
  };
  const std::string ns[] = {NetscapeOID(1), NetscapeOID(2), NetscapeOID(3),  NetscapeOID(4),
                            NetscapeOID(7), NetscapeOID(8), NetscapeOID(12), NetscapeOID(13)};
  // The order in which OIDs are tested.
  const Kind kinds[] = {
      {kBasicConstraints, e.basic_constraints_.get(), cekBasicConstraints},
      {kBasicConstraintsOld, e.basic_constraints_.get(), cekBasicConstraints},
      {kAuthorityKeyId, e.authority_key_id_.get(), cekAuthorityKeyIdentifier},
      {kAuthorityKeyIdOld, e.authority_key_id_.get(), cekAuthorityKeyIdentifier},
      {kSubjectKeyId, e.subject_key_id_.get(), cekSubjectKeyIdentifier},
      {kKeyUsage, e.key_usage_.get(), cekKeyUsage},
      {kPrivateKeyUsage, e.private_key_usage_.get(), cekPrivateKeyUsagePeriod},
      {kCertificatePolicies, e.policies_.get(), cekCertificatePolicies},
      {kPolicyMappings, e.policy_mappings_.get(), cekPolicyMappings},
      {kPolicyConstraints, e.policy_constraints_.get(), cekPolicyConstraints},
      {kExtendedKeyUsage, e.extended_key_usage_.get(), cekExtendedKeyUsage},
      {kAuthorityInfoAccess, e.aia_.get(), cekAuthorityInformationAccess},
      {kNameConstraints, e.name_constraints_.get(), cekNameConstraints},
      {kCRLDistributionPoints, e.crl_points_.get(), cekCRLDistributionPoints},
      {kIssuerAltName, e.issuer_alt_name_.get(), cekIssuerAlternativeName},
      {kSubjectAltName, e.subject_alt_name_.get(), cekSubjectAlternativeName},
      {ns[0], e.ns_cert_type_.get(), cekNetscapeCertType},
      {ns[1], e.ns_base_url_.get(), cekNetscapeBaseURL},
      {ns[2], e.ns_revoke_url_.get(), cekNetscapeRevokeURL},
      {ns[3], e.ns_ca_revoke_url_.get(), cekNetscapeCARevokeURL},
      {ns[4], e.ns_renewal_url_.get(), cekNetscapeRenewalURL},
      {ns[5], e.ns_ca_policy_.get(), cekNetscapeCAPolicy},
      {ns[6], e.ns_server_name_.get(), cekNetscapeServerName},
      {ns[7], e.ns_comment_.get(), cekNetscapeComment},
      {kCommonName, e.common_name_.get(), cekCommonName},
      {kSubjectDirectoryAttributes, e.directory_attributes_.get(), cekSubjectDirectoryAttributes},
  };
  TOvCustomExtension* target = nullptr;
  for (const Kind& kind : kinds) {
    if (oid == kind.oid) {
      target = kind.object;
      e.present_kinds_ |= kind.bit;
      break;
    }
  }
  if (target == nullptr)
    target = e.other_.emplace_back(std::make_unique<TOvCustomExtension>()).get();
  target->SetCritical(critical);
  target->SetValue(value);
  target->SetOID(oid);
}

}  // namespace corvane
