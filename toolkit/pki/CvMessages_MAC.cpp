// The MAC variant: AuthenticatedData (RFC 5652 9) with a random HMAC key sent
// to every recipient by RSA key transport, and its check by the verifier.
#include <algorithm>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvRandom.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7Utils.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {
namespace {

constexpr size_t kMacPlaceholder = 64;

ByteString IssuerAndSerial(const TOvX509Certificate& c) {
  return EncodeSequence({c.IssuerNameDER(), EncodePrimitive(ASN1_INTEGER, c.SerialNumberOctets())});
}

struct TAuthenticatedParts {
  std::vector<ByteString> recipients;
  ByteString macAlgorithm;
  ByteString digestAlgorithm;  // empty without attributes
  ByteString contentType;
  ByteString content;
  bool detached = true;
  ByteString attributes;  // the SET OF encoding, empty without attributes
  ByteString mac;
};

ByteString EncodeAuthenticatedData(const TAuthenticatedParts& p) {
  std::vector<ByteString> parts = {EncodePrimitive(ASN1_INTEGER, std::string(1, '\0')),
                                   EncodeSet(p.recipients),
                                   EncodeAlgorithmIdentifier(p.macAlgorithm, {}, false)};
  if (!p.digestAlgorithm.empty()) {
    const std::string id = EncodeAlgorithmIdentifier(p.digestAlgorithm, {}, true);
    parts.push_back(EncodeConstructed(0xA1, {UnwrapTagContent(id)}));
  }
  std::vector<ByteString> encap = {EncodeOID(p.contentType)};
  if (!p.detached) encap.push_back(EncodeConstructed(0xA0, {EncodeOctetString(p.content)}));
  parts.push_back(EncodeSequence(encap));
  if (!p.attributes.empty()) {
    ByteString attrs = p.attributes;
    attrs[0] = '\xA2';
    parts.push_back(attrs);
  }
  parts.push_back(EncodeOctetString(p.mac));
  return EncodeSequence(parts);
}

ByteString ComputeMAC(int32_t algorithm, TOvCustomCryptoProviderManager* manager,
                      std::string_view key, std::string_view data) {
  TOvHMACKeyMaterial material(nullptr, manager);
  material.SetKey(key);
  TOvHashFunction mac(algorithm, nullptr, manager, &material);
  mac.Update(data);
  return mac.Finish();
}

std::vector<TOvX509Certificate*> StorageCertificates(TOvCustomCertStorage* storage) {
  std::vector<TOvX509Certificate*> out;
  const int count = storage != nullptr ? storage->Count() : 0;
  for (int i = 0; i < count; ++i)
    if (TOvX509Certificate* c = storage->Certificates(i)) out.push_back(c);
  return out;
}

}  // namespace

int64_t TOvMessageSigner::EstimateMACSize(int64_t dataSize, bool detached) {
  const std::vector<TOvX509Certificate*> recipients = StorageCertificates(recipient_certs_);
  if (recipients.empty()) return 0;
  TAuthenticatedParts parts;
  for (const TOvX509Certificate* c : recipients) {
    const int32_t bits = c->KeyMaterial() != nullptr ? c->KeyMaterial()->Bits() : 4096;
    parts.recipients.push_back(EncodeSequence(
        {EncodePrimitive(ASN1_INTEGER, std::string(1, '\0')), IssuerAndSerial(*c),
         EncodeAlgorithmIdentifier(oid::RSA_ENCRYPTION, {}, true),
         EncodeOctetString(ByteString(static_cast<size_t>(std::max(bits, 512) / 8 + 1), '\0'))}));
  }
  parts.macAlgorithm = ByteString(16, '\x01');
  parts.digestAlgorithm = ByteString(16, '\x01');
  parts.contentType = content_type_;
  parts.attributes = authenticated_attributes_.SaveToBytes() + ByteString(128, '\0');
  parts.mac = ByteString(kMacPlaceholder, '\0');
  const int64_t size = static_cast<int64_t>(EncodeAuthenticatedData(parts).size());
  const int64_t content = detached ? 0 : dataSize + int64_t{2} * (2 + 8);
  return size + content + 64;
}

int32_t TOvMessageSigner::SignMAC(const TContent& content, bool detached,
                                  TOvPKCS7Message& message) {
  const std::vector<TOvX509Certificate*> recipients = StorageCertificates(recipient_certs_);
  if (recipients.empty()) return MSG_ERROR_NO_CERTIFICATE;
  ByteString data;
  try {
    if (content.stream != nullptr) {
      content.stream->SetPosition(content.start);
      data = content.stream->ReadString(static_cast<size_t>(content.count));
      if (static_cast<int64_t>(data.size()) != content.count)
        throw EStreamError("Stream read error");
    } else {
      data = ByteString(content.buffer);
    }
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_HASHING;
  }

  // The key fits every recipient's RSA block with room for the padding.
  int32_t smallest = 64 + 16;
  bool first = true;
  for (const TOvX509Certificate* c : recipients) {
    const int32_t bytes = c->KeyMaterial() != nullptr ? c->KeyMaterial()->Bits() / 8 : 0;
    if (first || bytes < smallest) smallest = bytes;
    first = false;
  }
  const int32_t keySize = std::min(64, smallest - 16);
  if (keySize <= 0) return MSG_ERROR_NO_RECIPIENT;
  const ByteString key = SharedRandomBytes(static_cast<size_t>(keySize));

  TAuthenticatedParts parts;
  for (TOvX509Certificate* c : recipients) {
    try {
      TOvRSAPublicKeyCrypto rsa(nullptr, CryptoProviderManager());
      rsa.SetKeyMaterial(c->KeyMaterial());
      rsa.SetScheme(RSA_SCHEME_PKCS1);
      const ByteString encrypted = rsa.Encrypt(key);
      parts.recipients.push_back(
          EncodeSequence({EncodePrimitive(ASN1_INTEGER, std::string(1, '\0')), IssuerAndSerial(*c),
                          EncodeAlgorithmIdentifier(oid::RSA_ENCRYPTION, {}, true),
                          EncodeOctetString(encrypted)}));
    } catch (const std::exception&) {
      // A recipient whose key cannot take the MAC key is left out.
    }
  }
  if (parts.recipients.empty()) return MSG_ERROR_NO_RECIPIENT;

  parts.macAlgorithm = OIDByAlgorithm(mac_algorithm_);
  parts.contentType = content_type_;
  parts.detached = detached;
  parts.content = data;
  try {
    ByteString macInput = data;
    if (authenticated_attributes_.Count() > 0) {
      content_digest_ = HashBuffer(hash_algorithm_, data);
      const int index = authenticated_attributes_.IndexOfType(oid::ATTR_MESSAGE_DIGEST);
      if (index < 0)
        authenticated_attributes_.Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(content_digest_));
      else
        *authenticated_attributes_.Values(index) = {EncodeOctetString(content_digest_)};
      parts.digestAlgorithm = OIDOfHashAlgorithm(hash_algorithm_);
      parts.attributes = authenticated_attributes_.SaveToBytes();
      macInput = parts.attributes;
    }
    if (parts.macAlgorithm.empty())
      throw EOvMessageError("Unsupported algorithm: " + std::to_string(mac_algorithm_));
    parts.mac = ComputeMAC(mac_algorithm_, CryptoProviderManager(), key, macInput);
  } catch (const std::exception& e) {
    error_info_ = e.what();
    return MSG_ERROR_MAC;
  }
  message.ContentType = ctAuthenticatedData;
  message.UseUndefSize = false;
  message.AuthenticatedData().Encoding = EncodeAuthenticatedData(parts);
  return 0;
}

int32_t TOvMessageVerifier::CheckAuthenticatedData(std::string_view encoding,
                                                   const std::string_view* detached,
                                                   ByteString* content) {
  TOvASN1ConstrainedTag tree;
  if (tree.LoadSingleFromBuffer(encoding.data(), static_cast<int64_t>(encoding.size())) < 0)
    return MSG_ERROR_INVALID_MESSAGE;
  const TOvASN1ConstrainedTag* data = tree.ConstrainedChild(0);
  if (data == nullptr || data->TagByte() != ASN1_SEQUENCE || data->Count() < 5)
    return MSG_ERROR_INVALID_MESSAGE;
  int32_t at = 1;
  if (CheckTag(data->GetChild(at), 0xA0, true)) ++at;  // originatorInfo
  const TOvASN1ConstrainedTag* recipients = data->ConstrainedChild(at++);
  if (recipients == nullptr || recipients->TagByte() != ASN1_SET) return MSG_ERROR_INVALID_MESSAGE;

  // The MAC key, from the first recipient we hold the private key of.
  ByteString key;
  bool found = false;
  for (int32_t i = 0; i < recipients->Count() && !found; ++i) {
    const TOvASN1ConstrainedTag* info = recipients->ConstrainedChild(i);
    if (info == nullptr || info->Count() < 4) continue;
    const TOvASN1ConstrainedTag* ias = info->ConstrainedChild(1);
    const TOvASN1SimpleTag* encrypted = info->SimpleChild(3);
    if (ias == nullptr || ias->Count() < 2 || encrypted == nullptr) continue;
    const std::string_view name = ElementOctets(encoding, *ias->GetChild(0));
    const TOvASN1SimpleTag* serial = ias->SimpleChild(1);
    if (serial == nullptr) continue;
    for (TOvX509Certificate* c : StorageCertificates(cert_storage_)) {
      if (!c->PrivateKeyExists() || c->IssuerNameDER() != name ||
          c->SerialNumberOctets() != serial->Content())
        continue;
      try {
        TOvRSAPublicKeyCrypto rsa(nullptr, CryptoProviderManager());
        rsa.SetKeyMaterial(c->KeyMaterial());
        rsa.SetScheme(RSA_SCHEME_PKCS1);
        key = rsa.Decrypt(encrypted->Content());
        found = true;
        break;
      } catch (const std::exception&) {
      }
    }
  }
  if (!found) return MSG_ERROR_NO_CERTIFICATE;

  ByteString macOID, params;
  bool hadParams = false;
  if (!ReadAlgorithmIdentifier(data->GetChild(at++), encoding, macOID, params, hadParams))
    return MSG_ERROR_INVALID_MESSAGE;
  ByteString digestOID;
  if (const TOvASN1ConstrainedTag* digest = data->ConstrainedChild(at);
      digest != nullptr && digest->TagByte() == 0xA1) {
    const TOvASN1SimpleTag* id = digest->SimpleChild(0);
    if (id == nullptr || id->TagByte() != ASN1_OBJECT_IDENTIFIER) return MSG_ERROR_INVALID_MESSAGE;
    digestOID = id->Content();
    ++at;
  }
  const TOvASN1ConstrainedTag* encap = data->ConstrainedChild(at++);
  if (encap == nullptr || encap->TagByte() != ASN1_SEQUENCE || encap->Count() < 1)
    return MSG_ERROR_INVALID_MESSAGE;
  ByteString inner;
  if (const TOvASN1ConstrainedTag* wrapper = encap->ConstrainedChild(1)) {
    const TOvASN1SimpleTag* octets = wrapper->SimpleChild(0);
    if (wrapper->TagByte() != 0xA0 || octets == nullptr || octets->TagByte() != ASN1_OCTET_STRING)
      return MSG_ERROR_INVALID_MESSAGE;
    inner = octets->Content();
  }
  if (content != nullptr) *content = inner;
  const std::string_view checked = detached != nullptr ? *detached : std::string_view(inner);
  ByteString macInput(checked);
  if (const TOvASN1ConstrainedTag* attrs = data->ConstrainedChild(at);
      attrs != nullptr && attrs->TagByte() == 0xA2) {
    ++at;
    const int32_t hash = HashAlgorithmOfOID(digestOID);
    if (hash == ALG_UNKNOWN) return MSG_ERROR_UNSUPPORTED_HASH;
    TOvPKCS7Attributes list;
    for (int32_t i = 0; i < attrs->Count(); ++i) {
      const TOvASN1ConstrainedTag* a = attrs->ConstrainedChild(i);
      const TOvASN1SimpleTag* type = a != nullptr ? a->SimpleChild(0) : nullptr;
      const TOvASN1ConstrainedTag* values = a != nullptr ? a->ConstrainedChild(1) : nullptr;
      if (type == nullptr || values == nullptr) return MSG_ERROR_INVALID_MESSAGE;
      const int index = list.Add(type->Content(), {});
      list.Values(index)->clear();
      for (int32_t v = 0; v < values->Count(); ++v)
        list.Values(index)->emplace_back(ElementOctets(encoding, *values->GetChild(v)));
    }
    const int index = list.IndexOfType(oid::ATTR_MESSAGE_DIGEST);
    if (index < 0 || list.Values(index)->empty()) return MSG_ERROR_NO_MESSAGE_DIGEST;
    if (UnwrapTagContent(list.Values(index)->front()) != HashBuffer(hash, checked))
      return MSG_ERROR_DIGEST_MISMATCH;
    list.CopyTo(attributes_);
    macInput = ByteString(ElementOctets(encoding, *attrs));
    if (!macInput.empty()) macInput[0] = '\x31';
  }
  const TOvASN1SimpleTag* mac = data->SimpleChild(at);
  if (mac == nullptr || mac->TagByte() != ASN1_OCTET_STRING) return MSG_ERROR_INVALID_MESSAGE;
  const int32_t algorithm = AlgorithmByOID(macOID);
  if (AlgorithmFamily(algorithm) != ALG_FAMILY_MAC) return MSG_ERROR_UNSUPPORTED_ALGORITHM;
  const ByteString expected = ComputeMAC(algorithm, CryptoProviderManager(), key, macInput);
  return expected == mac->Content() ? 0 : MSG_ERROR_DIGEST_MISMATCH;
}

}  // namespace corvane
