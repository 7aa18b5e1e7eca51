#include "toolkit/pki/CvPKCS7.h"

#include <algorithm>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {

// --- attributes -----------------------------------------------------------------------

void TOvPKCS7Attributes::SetCount(int count) {
  if (count < 0) count = 0;
  types_.resize(static_cast<size_t>(count));
  values_.resize(static_cast<size_t>(count));
}

std::string TOvPKCS7Attributes::GetType(int index) const {
  if (index < 0 || index >= Count()) return {};
  return types_[static_cast<size_t>(index)];
}

void TOvPKCS7Attributes::SetType(int index, std::string_view oid) {
  if (index < 0 || index >= Count()) return;
  types_[static_cast<size_t>(index)] = std::string(oid);
}

std::vector<ByteString>* TOvPKCS7Attributes::Values(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  return &values_[static_cast<size_t>(index)];
}

const std::vector<ByteString>* TOvPKCS7Attributes::Values(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return &values_[static_cast<size_t>(index)];
}

int TOvPKCS7Attributes::Add(std::string_view type, ByteString value) {
  types_.emplace_back(type);
  values_.push_back({std::move(value)});
  return Count() - 1;
}

void TOvPKCS7Attributes::Remove(int index) {
  if (index < 0 || index >= Count()) return;
  types_.erase(types_.begin() + index);
  values_.erase(values_.begin() + index);
}

void TOvPKCS7Attributes::Clear() {
  types_.clear();
  values_.clear();
}

int TOvPKCS7Attributes::IndexOfType(std::string_view type, int start) const {
  for (int i = start < 0 ? 0 : start; i < Count(); ++i)
    if (types_[static_cast<size_t>(i)] == type) return i;
  return -1;
}

void TOvPKCS7Attributes::CopyTo(TOvPKCS7Attributes& other) const {
  if (&other == this) {
    const TOvPKCS7Attributes copy = *this;
    copy.CopyTo(other);
    return;
  }
  for (int i = 0; i < Count(); ++i) {
    other.types_.push_back(types_[static_cast<size_t>(i)]);
    other.values_.push_back(values_[static_cast<size_t>(i)]);
  }
}

void TOvPKCS7Attributes::SaveToTag(TOvASN1ConstrainedTag& node) const {
  node.ClearChildren();
  node.SetTagByte(ASN1_SET);
  node.SetIndefiniteLength(false);
  std::vector<ByteString> encoded;
  encoded.reserve(types_.size());
  for (size_t i = 0; i < types_.size(); ++i) {
    TOvASN1ConstrainedTag attribute;
    attribute.SetTagByte(ASN1_SEQUENCE);
    AddRawChild(attribute, EncodeOID(types_[i]));
    TOvASN1ConstrainedTag* set = attribute.AddConstrainedChild();
    set->SetTagByte(ASN1_SET);
    AddRawChild(*set, SortedSetContent(values_[i]));
    encoded.push_back(attribute.SaveToBytes());
  }
  // DER: a SET OF is written in the order of its encodings.
  AddRawChild(node, SortedSetContent(std::move(encoded)));
}

bool TOvPKCS7Attributes::SaveToBuffer(void* buffer, int64_t& size) const {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBuffer(buffer, size);
}

ByteString TOvPKCS7Attributes::SaveToBytes() const {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBytes();
}

// --- SignerInfo -----------------------------------------------------------------------

bool IssuerIdentifies(const TOvPKCS7Issuer& issuer, const TOvX509Certificate& certificate) {
  if (issuer.IdentificationKind == PKCS7_SUBJECT_KEY_IDENTIFIER)
    return !issuer.SubjectKeyIdentifier.empty() &&
           certificate.Extensions().SubjectKeyIdentifier().KeyIdentifier ==
               issuer.SubjectKeyIdentifier;
  return issuer.SerialNumber == certificate.SerialNumberOctets() &&
         issuer.IssuerNameDER == certificate.IssuerNameDER();
}

void TOvPKCS7Signer::SaveToTag(TOvASN1ConstrainedTag& node) {
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  node.SetIndefiniteLength(false);
  const bool byKeyId = Issuer.IdentificationKind == PKCS7_SUBJECT_KEY_IDENTIFIER;
  Version = byKeyId ? 3 : 1;
  TOvASN1SimpleTag* version = node.AddSimpleChild();
  version->SetTagByte(ASN1_INTEGER);
  version->SetIntegerValue(static_cast<uint32_t>(Version));
  if (byKeyId) {
    AddRawChild(node, WrapInTag(0x80, Issuer.SubjectKeyIdentifier));
  } else {
    TOvASN1ConstrainedTag* ias = node.AddConstrainedChild();
    ias->SetTagByte(ASN1_SEQUENCE);
    if (!Issuer.IssuerNameDER.empty()) {
      AddRawChild(*ias, Issuer.IssuerNameDER);
    } else {
      TOvASN1ConstrainedTag* name = ias->AddConstrainedChild();
      name->SetTagByte(ASN1_SEQUENCE);
      Issuer.IssuerName.SaveToTag(*name);
    }
    // The serial's content octets as they stand in the certificate.
    AddRawChild(*ias, WrapInTag(ASN1_INTEGER, Issuer.SerialNumber.empty() ? std::string(1, '\0')
                                                                          : Issuer.SerialNumber));
  }
  AddRawChild(node, EncodeAlgorithmIdentifier(DigestAlgorithm, {}, true));
  if (!AuthenticatedAttributesEncoding.empty()) {
    // A loaded signer keeps the signed octets as received: re-encoding them
    // would break its signature.
    ByteString received = AuthenticatedAttributesEncoding;
    received[0] = '\xA0';
    AddRawChild(node, std::move(received));
  } else if (AuthenticatedAttributes.Count() > 0) {
    TOvASN1ConstrainedTag* attrs = node.AddConstrainedChild();
    AuthenticatedAttributes.SaveToTag(*attrs);
    attrs->SetTagByte(0xA0);
  }
  AddRawChild(node,
              EncodeAlgorithmIdentifier(DigestEncryptionAlgorithm,
                                        DigestEncryptionAlgorithmParameters, WriteNullParams));
  AddRawChild(node, EncodeOctetString(EncryptedDigest));
  if (UnauthenticatedAttributes.Count() > 0) {
    TOvASN1ConstrainedTag* attrs = node.AddConstrainedChild();
    UnauthenticatedAttributes.SaveToTag(*attrs);
    attrs->SetTagByte(0xA1);
  }
}

ByteString TOvPKCS7Signer::SaveToBytes() {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBytes();
}

// --- SignedData -----------------------------------------------------------------------

TOvPKCS7SignedData::TOvPKCS7SignedData(TOvPKCS7Message* owner) : owner_(owner) {}
TOvPKCS7SignedData::~TOvPKCS7SignedData() = default;

int TOvPKCS7SignedData::AddSigner() {
  signers_.push_back(std::make_unique<TOvPKCS7Signer>());
  return SignerCount() - 1;
}

TOvPKCS7Signer* TOvPKCS7SignedData::Signers(int index) const {
  if (index < 0 || index >= SignerCount()) return nullptr;
  return signers_[static_cast<size_t>(index)].get();
}

void TOvPKCS7SignedData::SetContent(ByteString bytes) {
  content_.clear();
  content_.emplace_back();
  content_.back().SetBytes(std::move(bytes));
}

TOvASN1DataSource& TOvPKCS7SignedData::Content() {
  if (content_.empty()) content_.emplace_back();
  return content_.front();
}

void TOvPKCS7SignedData::AddContentPart(TOvASN1DataSource part) {
  content_.push_back(std::move(part));
}

int64_t TOvPKCS7SignedData::ContentSize() const {
  int64_t total = 0;
  for (const auto& part : content_) total += part.Size();
  return total;
}

ByteString TOvPKCS7SignedData::ContentBytes() const {
  ByteString out;
  for (const auto& part : content_) out += part.Read();
  return out;
}

void TOvPKCS7SignedData::Clear() {
  Version = 1;
  signers_.clear();
  certificates_.Clear();
  crls_.clear();
  ContentType.clear();
  content_.clear();
  RawCertificates.clear();
  RawCRLs.clear();
  ContentPrefix.clear();
  ContentSuffix.clear();
}

void TOvPKCS7SignedData::SaveToTag(TOvASN1ConstrainedTag& node) {
  const bool undef = owner_ != nullptr && owner_->UseUndefSize;
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  node.SetIndefiniteLength(undef);
  TOvASN1SimpleTag* version = node.AddSimpleChild();
  version->SetTagByte(ASN1_INTEGER);
  version->SetContent(std::string(1, static_cast<char>(Version)));

  // digestAlgorithms: distinct OIDs in order of first use.
  std::vector<ByteString> seen;
  ByteString algorithms;
  for (const auto& s : signers_) {
    if (std::find(seen.begin(), seen.end(), s->DigestAlgorithm) != seen.end()) continue;
    seen.push_back(s->DigestAlgorithm);
    algorithms += EncodeAlgorithmIdentifier(s->DigestAlgorithm, {}, true);
  }
  TOvASN1ConstrainedTag* set = node.AddConstrainedChild();
  set->SetTagByte(ASN1_SET);
  if (!algorithms.empty()) AddRawChild(*set, algorithms);

  TOvASN1ConstrainedTag* encap = node.AddConstrainedChild();
  encap->SetTagByte(ASN1_SEQUENCE);
  encap->SetIndefiniteLength(undef);
  AddRawChild(*encap, EncodeOID(ContentType.empty() ? ByteString(oid::PKCS7_DATA) : ContentType));
  if (ContentSize() > 0) {
    if (owner_ != nullptr && owner_->UseImplicitContent) {
      TOvASN1SimpleTag* content = encap->AddSimpleChild();
      content->SetTagByte(0xA0);
      content->SetContent(ContentBytes());
    } else {
      TOvASN1ConstrainedTag* explicitTag = encap->AddConstrainedChild();
      explicitTag->SetTagByte(0xA0);
      explicitTag->SetIndefiniteLength(undef);
      TOvASN1SimpleTag* octets = explicitTag->AddSimpleChild();
      octets->SetTagByte(ASN1_OCTET_STRING);
      octets->SetContent(ContentBytes());
    }
  }

  const int certificates = certificates_.Count();
  if (certificates > 0) {
    TOvASN1ConstrainedTag* certs = node.AddConstrainedChild();
    certs->SetTagByte(0xA0);
    for (int i = 0; i < certificates; ++i)
      AddRawChild(*certs, ByteString(certificates_.Certificates(i)->CertificateBinary()));
  }

  TOvASN1ConstrainedTag* infos = node.AddConstrainedChild();
  infos->SetTagByte(ASN1_SET);
  for (const auto& s : signers_) s->SaveToTag(*infos->AddConstrainedChild());
}

bool TOvPKCS7SignedData::SaveToBuffer(void* buffer, int64_t& size) {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  return node.SaveToBuffer(buffer, size);
}

void TOvPKCS7SignedData::SaveToStream(TOvStream& stream) {
  TOvASN1ConstrainedTag node;
  SaveToTag(node);
  node.SaveToStream(stream);
}

// --- message --------------------------------------------------------------------------

std::string_view PKCS7ContentTypeOID(TCvPKCS7ContentType type) {
  switch (type) {
    case ctData:
      return oid::PKCS7_DATA;
    case ctSignedData:
      return oid::PKCS7_SIGNED_DATA;
    case ctEnvelopedData:
      return oid::PKCS7_ENVELOPED_DATA;
    case ctSignedAndEnvelopedData:
      return oid::PKCS7_SIGNED_AND_ENVELOPED_DATA;
    case ctDigestedData:
      return oid::PKCS7_DIGESTED_DATA;
    case ctEncryptedData:
      return oid::PKCS7_ENCRYPTED_DATA;
    case ctAuthenticatedData:
      return oid::PKCS7_AUTHENTICATED_DATA;
    default:
      return {};
  }
}

TOvPKCS7Message::TOvPKCS7Message() : signed_data_(this) {}
TOvPKCS7Message::~TOvPKCS7Message() = default;

void TOvPKCS7Message::Reset() {
  Data.clear();
  OtherContentTypeOID.clear();
  signed_data_.Clear();
  enveloped_.Encoding.clear();
  signed_enveloped_.Encoding.clear();
  digested_.Encoding.clear();
  encrypted_.Encoding.clear();
  authenticated_.Encoding.clear();
}

void TOvPKCS7Message::BuildTree() {
  tree_.ClearChildren();
  tree_.SetTagByte(ASN1_SEQUENCE);
  tree_.SetIndefiniteLength(UseUndefSize);
  std::string_view type = PKCS7ContentTypeOID(ContentType);
  if (ContentType == ctUnknown) type = OtherContentTypeOID;
  AddRawChild(tree_, EncodeOID(type));
  TOvASN1ConstrainedTag* content = tree_.AddConstrainedChild();
  content->SetTagByte(0xA0);
  content->SetIndefiniteLength(UseUndefSize);
  switch (ContentType) {
    case ctData:
      AddRawChild(*content, EncodeOctetString(Data));
      break;
    case ctSignedData:
      signed_data_.SaveToTag(*content->AddConstrainedChild());
      break;
    case ctEnvelopedData:
      AddRawChild(*content, enveloped_.Encoding);
      break;
    case ctSignedAndEnvelopedData:
      AddRawChild(*content, signed_enveloped_.Encoding);
      break;
    case ctDigestedData:
      AddRawChild(*content, digested_.Encoding);
      break;
    case ctEncryptedData:
      AddRawChild(*content, encrypted_.Encoding);
      break;
    case ctAuthenticatedData:
      AddRawChild(*content, authenticated_.Encoding);
      break;
    default:
      AddRawChild(*content, Data);
      break;
  }
  // A ContentInfo without content has no [0] at all: an empty one is not valid.
  if (ContentType != ctData && ContentType != ctSignedData && content->SaveToBytes().size() <= 4)
    tree_.RemoveChild(1);
}

bool TOvPKCS7Message::SaveToBuffer(void* buffer, int64_t& size) {
  BuildTree();
  return tree_.SaveToBuffer(buffer, size);
}

void TOvPKCS7Message::SaveToStream(TOvStream& stream) {
  BuildTree();
  tree_.SaveToStream(stream);
}

ByteString TOvPKCS7Message::SaveToBytes() {
  BuildTree();
  return tree_.SaveToBytes();
}

}  // namespace corvane
