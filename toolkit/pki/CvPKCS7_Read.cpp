// Reading a ContentInfo into the model. Every element is checked for its tag
// before use; raw octets are sliced from the input by the offsets the tree kept.
#include <algorithm>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {
namespace {

const TOvASN1ConstrainedTag* Constructed(const TOvASN1CustomTag* node, uint8_t tag) {
  return CheckTag(node, tag, true) ? static_cast<const TOvASN1ConstrainedTag*>(node) : nullptr;
}

const TOvASN1SimpleTag* Primitive(const TOvASN1CustomTag* node, uint8_t tag) {
  return CheckTag(node, tag, false) ? static_cast<const TOvASN1SimpleTag*>(node) : nullptr;
}

// The octets of an OCTET STRING, primitive or (BER) constructed from primitive
// segments; false for anything else.
bool ReadOctets(const TOvASN1CustomTag* node, ByteString& out) {
  if (const auto* p = Primitive(node, ASN1_OCTET_STRING)) {
    out = p->Content();
    return true;
  }
  if (const auto* c = Constructed(node, 0x24)) {
    out.clear();
    for (int32_t i = 0; i < c->Count(); ++i) {
      const auto* part = Primitive(c->GetChild(i), ASN1_OCTET_STRING);
      if (part == nullptr) return false;
      out += part->Content();
    }
    return true;
  }
  return false;
}

int32_t ReadAttributes(const TOvASN1ConstrainedTag& node, std::string_view source,
                       TOvPKCS7Attributes& attributes) {
  for (int32_t i = 0; i < node.Count(); ++i) {
    const auto* attribute = Constructed(node.GetChild(i), ASN1_SEQUENCE);
    if (attribute == nullptr || attribute->Count() < 2) return PKCS7_ERROR_INVALID_ATTRIBUTE;
    const auto* type = Primitive(attribute->GetChild(0), ASN1_OBJECT_IDENTIFIER);
    const auto* values = Constructed(attribute->GetChild(1), ASN1_SET);
    if (type == nullptr || values == nullptr) return PKCS7_ERROR_INVALID_ATTRIBUTE;
    const int index = attributes.Add(type->Content(), {});
    std::vector<ByteString>& list = *attributes.Values(index);
    list.clear();
    for (int32_t v = 0; v < values->Count(); ++v)
      list.emplace_back(ElementOctets(source, *values->GetChild(v)));
  }
  return 0;
}

}  // namespace

int32_t TOvPKCS7Signer::LoadFromTag(const TOvASN1ConstrainedTag& node, std::string_view source) {
  if (!node.IsConstructed() || node.TagByte() != ASN1_SEQUENCE || node.Count() <= 4)
    return PKCS7_ERROR_INVALID_SIGNER_INFO;
  SignerInfoEncoding = ByteString(ElementOctets(source, node));
  int32_t at = 0;
  const auto* version = Primitive(node.GetChild(at++), ASN1_INTEGER);
  if (version == nullptr) return PKCS7_ERROR_INVALID_SIGNER_INFO;
  const ByteString v = version->Content();
  if (v != std::string_view("\x01", 1) && v != std::string_view("\x03", 1))
    return PKCS7_ERROR_SIGNER_INFO_VERSION;
  Version = static_cast<uint8_t>(v[0]);
  if (Version == 1) {
    const auto* ias = Constructed(node.GetChild(at++), ASN1_SEQUENCE);
    if (ias == nullptr || ias->Count() < 2) return PKCS7_ERROR_INVALID_SIGNER_INFO;
    const auto* name = Constructed(ias->GetChild(0), ASN1_SEQUENCE);
    const auto* serial = Primitive(ias->GetChild(1), ASN1_INTEGER);
    if (name == nullptr || serial == nullptr) return PKCS7_ERROR_INVALID_SIGNER_INFO;
    Issuer.IdentificationKind = PKCS7_ISSUER_AND_SERIAL;
    Issuer.IssuerNameDER = ByteString(ElementOctets(source, *name));
    Issuer.IssuerName.Clear();
    Issuer.IssuerName.LoadFromTag(*name);
    Issuer.SerialNumber = serial->Content();
  } else {
    const auto* ski = Primitive(node.GetChild(at++), 0x80);
    if (ski == nullptr) return PKCS7_ERROR_INVALID_SIGNER_INFO;
    Issuer.IdentificationKind = PKCS7_SUBJECT_KEY_IDENTIFIER;
    Issuer.SubjectKeyIdentifier = ski->Content();
  }
  bool hadParams = false;
  if (!ReadAlgorithmIdentifier(node.GetChild(at++), source, DigestAlgorithm,
                               DigestAlgorithmParameters, hadParams))
    return PKCS7_ERROR_INVALID_SIGNER_INFO;
  if (const auto* signedAttrs = Constructed(node.GetChild(at), 0xA0)) {
    ++at;
    if (const int32_t rc = ReadAttributes(*signedAttrs, source, AuthenticatedAttributes)) return rc;
    // The signature covers the attributes with the SET OF tag (RFC 5652 5.4).
    AuthenticatedAttributesEncoding = ByteString(ElementOctets(source, *signedAttrs));
    if (!AuthenticatedAttributesEncoding.empty()) AuthenticatedAttributesEncoding[0] = '\x31';
  }
  if (!ReadAlgorithmIdentifier(node.GetChild(at++), source, DigestEncryptionAlgorithm,
                               DigestEncryptionAlgorithmParameters, hadParams))
    return PKCS7_ERROR_INVALID_SIGNER_INFO;
  WriteNullParams = hadParams;
  if (!ReadOctets(node.GetChild(at++), EncryptedDigest)) return PKCS7_ERROR_INVALID_SIGNER_INFO;
  if (const auto* unsignedAttrs = Constructed(node.GetChild(at), 0xA1)) {
    ++at;
    if (const int32_t rc = ReadAttributes(*unsignedAttrs, source, UnauthenticatedAttributes))
      return rc;
  }
  return 0;
}

int32_t TOvPKCS7SignedData::LoadFromTag(const TOvASN1ConstrainedTag& node,
                                        std::string_view source) {
  if (!node.IsConstructed() || node.TagByte() != ASN1_SEQUENCE || node.Count() <= 3)
    return PKCS7_ERROR_INVALID_SIGNED_DATA;
  const auto* version = Primitive(node.GetChild(0), ASN1_INTEGER);
  if (version == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;
  const ByteString v = version->Content();
  const uint8_t last = v.empty() ? 0 : static_cast<uint8_t>(v.back());
  if (v.size() != 1 || last < 1 || last > 3) return PKCS7_ERROR_SIGNED_DATA_VERSION;
  Version = last;
  if (owner_ != nullptr) owner_->UseUndefSize = node.IndefiniteLength();
  if (Constructed(node.GetChild(1), ASN1_SET) == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;

  const auto* encap = Constructed(node.GetChild(2), ASN1_SEQUENCE);
  if (encap == nullptr || encap->Count() < 1) return PKCS7_ERROR_INVALID_SIGNED_DATA;
  const auto* type = Primitive(encap->GetChild(0), ASN1_OBJECT_IDENTIFIER);
  if (type == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;
  ContentType = type->Content();
  content_.clear();
  if (const TOvASN1CustomTag* wrapper = encap->GetChild(1)) {
    if (wrapper->TagByte() != 0xA0) return PKCS7_ERROR_INVALID_SIGNED_DATA;
    ByteString content;
    if (!wrapper->IsConstructed()) {
      content = static_cast<const TOvASN1SimpleTag*>(wrapper)->Content();
    } else {
      const auto* explicitTag = static_cast<const TOvASN1ConstrainedTag*>(wrapper);
      const TOvASN1CustomTag* inner = explicitTag->GetChild(0);
      if (inner == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;
      if (!ReadOctets(inner, content)) {
        // Content types other than data may be carried as their own element.
        content = ByteString(ElementOctets(source, *inner));
      }
      // The octets around the content: the [0] header and the inner header in
      // front, end-of-contents markers behind.
      const std::string_view whole = ElementOctets(source, *wrapper);
      const int64_t start =
          inner->ElementOffset() + inner->HeaderLength() - wrapper->ElementOffset();
      const int64_t end = inner->ElementOffset() + inner->ElementSize() - wrapper->ElementOffset();
      if (start >= 0 && end >= start && static_cast<uint64_t>(end) <= whole.size()) {
        ContentPrefix = ByteString(whole.substr(0, static_cast<size_t>(start)));
        ContentSuffix = ByteString(whole.substr(static_cast<size_t>(end)));
      }
    }
    SetContent(std::move(content));
  }

  int32_t at = 3;
  try {
    if (const auto* certs = Constructed(node.GetChild(at), 0xA0)) {
      ++at;
      RawCertificates = ByteString(ElementOctets(source, *certs));
      for (int32_t i = 0; i < certs->Count(); ++i) {
        const TOvASN1CustomTag* c = certs->GetChild(i);
        if (!CheckTag(c, ASN1_SEQUENCE, true)) continue;  // other certificate formats
        const std::string_view der = ElementOctets(source, *c);
        TOvX509Certificate certificate;
        certificate.LoadFromBuffer(der.data(), der.size());
        certificates_.Add(certificate, false);
      }
    }
    if (const auto* crls = Constructed(node.GetChild(at), 0xA1)) {
      ++at;
      RawCRLs = ByteString(ElementOctets(source, *crls));
      for (int32_t i = 0; i < crls->Count(); ++i)
        crls_.emplace_back(ElementOctets(source, *crls->GetChild(i)));
    }
  } catch (const std::exception&) {
    return PKCS7_ERROR_INVALID_SIGNED_DATA;
  }
  const auto* infos = Constructed(node.GetChild(at), ASN1_SET);
  if (infos == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;
  for (int32_t i = 0; i < infos->Count(); ++i) {
    const auto* info = dynamic_cast<const TOvASN1ConstrainedTag*>(infos->GetChild(i));
    if (info == nullptr) return PKCS7_ERROR_INVALID_SIGNER_INFO;
    TOvPKCS7Signer& signer = *Signers(AddSigner());
    if (const int32_t rc = signer.LoadFromTag(*info, source)) return rc;
  }
  return 0;
}

int32_t TOvPKCS7Message::LoadFromBuffer(const void* bytes, int64_t size) {
  tree_.ClearChildren();
  Reset();
  if (size < 0 || (bytes == nullptr && size > 0)) return PKCS7_ERROR_NOT_ASN1;
  if (size == 0) return PKCS7_ERROR_EMPTY;
  // Only the first element counts: signature values are often followed by padding.
  if (tree_.LoadSingleFromBuffer(bytes, size) < 0) {
    tree_.ClearChildren();
    return PKCS7_ERROR_NOT_ASN1;
  }
  const std::string_view source(static_cast<const char*>(bytes), static_cast<size_t>(size));
  try {
    return ParseTree(source);
  } catch (const std::exception&) {
    return PKCS7_ERROR_INVALID_SIGNED_DATA;
  }
}

int32_t TOvPKCS7Message::LoadFromStream(TOvStream& stream, int64_t count) {
  const int64_t available = std::max<int64_t>(0, stream.Size() - stream.Position());
  if (count <= 0 || count > available) count = available;
  const std::string bytes = stream.ReadString(static_cast<size_t>(count));
  return LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

int32_t TOvPKCS7Message::ParseTree(std::string_view source) {
  if (tree_.Count() == 0) return PKCS7_ERROR_EMPTY;
  const TOvASN1CustomTag* content = nullptr;
  if (NoOuterContentInfo) {
    content = tree_.GetChild(0);
  } else {
    const auto* info = dynamic_cast<const TOvASN1ConstrainedTag*>(tree_.GetChild(0));
    if (info == nullptr || info->TagByte() != ASN1_SEQUENCE ||
        !CheckTag(info->GetChild(0), ASN1_OBJECT_IDENTIFIER, false))
      return PKCS7_ERROR_NOT_CONTENT_INFO;
    const ByteString type = static_cast<const TOvASN1SimpleTag*>(info->GetChild(0))->Content();
    if (info->Count() > 1) {
      const auto* wrapper = dynamic_cast<const TOvASN1ConstrainedTag*>(info->GetChild(1));
      if (wrapper == nullptr || wrapper->Count() < 1) return PKCS7_ERROR_NOT_CONTENT_INFO;
      content = wrapper->GetChild(0);
    }
    static constexpr TCvPKCS7ContentType kKnown[] = {
        ctData,         ctSignedData,    ctEnvelopedData,    ctSignedAndEnvelopedData,
        ctDigestedData, ctEncryptedData, ctAuthenticatedData};
    ContentType = ctUnknown;
    for (const auto known : kKnown)
      if (PKCS7ContentTypeOID(known) == type) ContentType = known;
    if (ContentType == ctUnknown) {
      if (!AllowUnknownContentTypes) return PKCS7_ERROR_UNKNOWN_CONTENT_TYPE;
      OtherContentTypeOID = type;
    }
  }
  if (content == nullptr) return ContentType == ctSignedData ? PKCS7_ERROR_INVALID_SIGNED_DATA : 0;
  switch (ContentType) {
    case ctData:
      return ReadOctets(content, Data) ? 0 : PKCS7_ERROR_INVALID_DATA;
    case ctSignedData: {
      const auto* sd = dynamic_cast<const TOvASN1ConstrainedTag*>(content);
      if (sd == nullptr) return PKCS7_ERROR_INVALID_SIGNED_DATA;
      return signed_data_.LoadFromTag(*sd, source);
    }
    case ctEnvelopedData:
      enveloped_.Encoding = ByteString(ElementOctets(source, *content));
      break;
    case ctSignedAndEnvelopedData:
      signed_enveloped_.Encoding = ByteString(ElementOctets(source, *content));
      break;
    case ctDigestedData:
      digested_.Encoding = ByteString(ElementOctets(source, *content));
      break;
    case ctEncryptedData:
      encrypted_.Encoding = ByteString(ElementOctets(source, *content));
      break;
    case ctAuthenticatedData:
      authenticated_.Encoding = ByteString(ElementOctets(source, *content));
      break;
    default:
      Data = ByteString(ElementOctets(source, *content));
      break;
  }
  return 0;
}

}  // namespace corvane
