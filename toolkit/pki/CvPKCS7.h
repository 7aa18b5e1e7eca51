// TOvPKCS7Message: the in-memory model of a PKCS#7 / CMS ContentInfo
// (RFC 2315, RFC 5652) and the codec between that model and bytes. The model
// builds an ASN.1 tree on every save; parsing walks a loaded tree and keeps
// the raw octets that signatures are computed over.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvCustomCertStorage.h"

namespace corvane {

class TOvX509Certificate;

// Results of TOvPKCS7Message::LoadFromBuffer.
inline constexpr int32_t PKCS7_ERROR_NOT_ASN1 = 7681;
inline constexpr int32_t PKCS7_ERROR_EMPTY = 7682;
inline constexpr int32_t PKCS7_ERROR_NOT_CONTENT_INFO = 7683;
inline constexpr int32_t PKCS7_ERROR_UNKNOWN_CONTENT_TYPE = 7684;
inline constexpr int32_t PKCS7_ERROR_INVALID_DATA = 7685;
inline constexpr int32_t PKCS7_ERROR_INVALID_SIGNED_DATA = 7695;
inline constexpr int32_t PKCS7_ERROR_SIGNED_DATA_VERSION = 7696;
inline constexpr int32_t PKCS7_ERROR_SIGNER_INFO_VERSION = 7698;
inline constexpr int32_t PKCS7_ERROR_INVALID_SIGNER_INFO = 7699;
inline constexpr int32_t PKCS7_ERROR_INVALID_ATTRIBUTE = 7701;

// Content OIDs and attribute types (encoded content octets).
namespace oid {
inline constexpr std::string_view PKCS7_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01", 9};
inline constexpr std::string_view PKCS7_SIGNED_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02", 9};
inline constexpr std::string_view PKCS7_ENVELOPED_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x03", 9};
inline constexpr std::string_view PKCS7_SIGNED_AND_ENVELOPED_DATA{
    "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x04", 9};
inline constexpr std::string_view PKCS7_DIGESTED_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x05", 9};
inline constexpr std::string_view PKCS7_ENCRYPTED_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x06", 9};
inline constexpr std::string_view PKCS7_AUTHENTICATED_DATA{
    "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x01\x02", 11};
inline constexpr std::string_view TST_INFO{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x01\x04", 11};
inline constexpr std::string_view ATTR_CONTENT_TYPE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x03", 9};
inline constexpr std::string_view ATTR_MESSAGE_DIGEST{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04", 9};
inline constexpr std::string_view ATTR_SIGNING_TIME{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x05", 9};
inline constexpr std::string_view ATTR_COUNTERSIGNATURE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x06", 9};
inline constexpr std::string_view ATTR_TIMESTAMP_TOKEN{
    "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0E", 11};
}  // namespace oid

enum TCvPKCS7ContentType : int32_t {
  ctData = 0,
  ctSignedData = 1,
  ctEnvelopedData = 2,
  ctSignedAndEnvelopedData = 3,
  ctDigestedData = 4,
  ctEncryptedData = 5,
  ctAuthenticatedData = 6,
  ctUnknown = 7,
};

class TOvPKCS7Message;

// An ordered list of attributes, each a type OID and a list of values (one
// complete DER element each). Written as a DER SET OF: the encoded attributes
// are sorted (X.690 11.6), and so are the values inside each attribute, so the
// octets written are the octets a re-encoding verifier hashes.
class TOvPKCS7Attributes {
 public:
  int Count() const { return static_cast<int>(types_.size()); }
  void SetCount(int count);
  // Empty / ignored outside 0 .. Count-1.
  std::string GetType(int index) const;
  void SetType(int index, std::string_view oid);
  // nullptr outside 0 .. Count-1.
  std::vector<ByteString>* Values(int index);
  const std::vector<ByteString>* Values(int index) const;
  // Appends an entry with one value; returns its index.
  int Add(std::string_view type, ByteString value);
  void Remove(int index);
  void Clear();
  // The first entry of the type at or after start, -1 when none.
  int IndexOfType(std::string_view type, int start = 0) const;
  // Appends this list's entries after other's.
  void CopyTo(TOvPKCS7Attributes& other) const;

  // The SET OF encoding (tag 0x31); two-call sizing.
  bool SaveToBuffer(void* buffer, int64_t& size) const;
  ByteString SaveToBytes() const;
  // Makes node the SET (tag 0x31; the caller may change the tag).
  void SaveToTag(TOvASN1ConstrainedTag& node) const;

 private:
  std::vector<std::string> types_;
  std::vector<std::vector<ByteString>> values_;
};

inline constexpr int32_t PKCS7_ISSUER_AND_SERIAL = 0;
inline constexpr int32_t PKCS7_SUBJECT_KEY_IDENTIFIER = 1;

struct TOvPKCS7Issuer {
  TOvRelativeDistinguishedName IssuerName;
  // The Name element as the certificate encodes it; written in place of
  // IssuerName when set, so the signer is found by an exact comparison.
  ByteString IssuerNameDER;
  ByteString SerialNumber;  // INTEGER content octets as they stand
  int32_t IdentificationKind = PKCS7_ISSUER_AND_SERIAL;
  ByteString SubjectKeyIdentifier;
};

// The certificate is the one issuer names: by subject key identifier, or by
// the issuer name's encoding and the serial number exactly as they stand.
bool IssuerIdentifies(const TOvPKCS7Issuer& issuer, const TOvX509Certificate& certificate);

// One SignerInfo.
class TOvPKCS7Signer {
 public:
  int32_t Version = 1;
  TOvPKCS7Issuer Issuer;
  ByteString DigestAlgorithm;
  ByteString DigestAlgorithmParameters;
  TOvPKCS7Attributes AuthenticatedAttributes;
  TOvPKCS7Attributes UnauthenticatedAttributes;
  ByteString DigestEncryptionAlgorithm;
  ByteString DigestEncryptionAlgorithmParameters;
  bool WriteNullParams = true;
  ByteString EncryptedDigest;
  // Kept by parsing: the whole SignerInfo, and the signed attributes as
  // received with the SET OF tag in front (the octets the signature covers).
  // While the latter is set it is written in place of AuthenticatedAttributes,
  // so a loaded signer keeps a valid signature; clear it to write the list.
  ByteString SignerInfoEncoding;
  ByteString AuthenticatedAttributesEncoding;

  // Writes the SignerInfo SEQUENCE into node (stores the version written).
  void SaveToTag(TOvASN1ConstrainedTag& node);
  ByteString SaveToBytes();
  // Reads a SignerInfo from node; source holds the octets the tree was loaded
  // from. 0 or a PKCS#7 parsing code.
  int32_t LoadFromTag(const TOvASN1ConstrainedTag& node, std::string_view source);
};

class TOvPKCS7SignedData {
 public:
  explicit TOvPKCS7SignedData(TOvPKCS7Message* owner);
  ~TOvPKCS7SignedData();
  TOvPKCS7SignedData(const TOvPKCS7SignedData&) = delete;
  TOvPKCS7SignedData& operator=(const TOvPKCS7SignedData&) = delete;

  TOvPKCS7Message* Message() const { return owner_; }
  uint8_t Version = 1;

  int AddSigner();
  // nullptr outside 0 .. SignerCount-1.
  TOvPKCS7Signer* Signers(int index) const;
  int SignerCount() const { return static_cast<int>(signers_.size()); }
  TOvMemoryCertStorage& Certificates() { return certificates_; }
  // The CRLs as their DER encodings.
  std::vector<ByteString>& CRLs() { return crls_; }

  // eContentType; empty means data.
  ByteString ContentType;
  // The content parts; the content is their concatenation.
  void SetContent(ByteString bytes);
  // The first part (created empty when there is none).
  TOvASN1DataSource& Content();
  void AddContentPart(TOvASN1DataSource part);
  int64_t ContentSize() const;
  ByteString ContentBytes() const;

  // Kept by parsing.
  ByteString RawCertificates;
  ByteString RawCRLs;
  ByteString ContentPrefix;
  ByteString ContentSuffix;

  // The SignedData SEQUENCE alone.
  bool SaveToBuffer(void* buffer, int64_t& size);
  void SaveToStream(TOvStream& stream);
  void SaveToTag(TOvASN1ConstrainedTag& node);
  int32_t LoadFromTag(const TOvASN1ConstrainedTag& node, std::string_view source);
  void Clear();

 private:
  TOvPKCS7Message* owner_;
  std::vector<std::unique_ptr<TOvPKCS7Signer>> signers_;
  TOvMemoryCertStorage certificates_;
  std::vector<ByteString> crls_;
  std::vector<TOvASN1DataSource> content_;
};

// Content types this toolkit does not build are kept as their encoded content
// and written back unchanged.
class TOvPKCS7OpaqueContent {
 public:
  ByteString Encoding;  // the content element inside [0]
};
class TOvPKCS7EnvelopedData : public TOvPKCS7OpaqueContent {};
class TOvPKCS7SignedAndEnvelopedData : public TOvPKCS7OpaqueContent {};
class TOvPKCS7DigestedData : public TOvPKCS7OpaqueContent {};
class TOvPKCS7EncryptedData : public TOvPKCS7OpaqueContent {};
class TOvPKCS7AuthenticatedData : public TOvPKCS7OpaqueContent {};

class TOvPKCS7Message {
 public:
  TOvPKCS7Message();
  ~TOvPKCS7Message();
  TOvPKCS7Message(const TOvPKCS7Message&) = delete;
  TOvPKCS7Message& operator=(const TOvPKCS7Message&) = delete;

  TCvPKCS7ContentType ContentType = ctData;
  ByteString Data;
  bool UseImplicitContent = false;
  bool UseUndefSize = true;
  bool NoOuterContentInfo = false;
  bool AllowUnknownContentTypes = true;
  ByteString OtherContentTypeOID;

  TOvPKCS7SignedData& SignedData() { return signed_data_; }
  TOvPKCS7EnvelopedData& EnvelopedData() { return enveloped_; }
  TOvPKCS7SignedAndEnvelopedData& SignedAndEnvelopedData() { return signed_enveloped_; }
  TOvPKCS7DigestedData& DigestedData() { return digested_; }
  TOvPKCS7EncryptedData& EncryptedData() { return encrypted_; }
  TOvPKCS7AuthenticatedData& AuthenticatedData() { return authenticated_; }

  // 0 or a PKCS7_ERROR_* code; the model is reset first.
  int32_t LoadFromBuffer(const void* bytes, int64_t size);
  int32_t LoadFromBytes(std::string_view bytes) {
    return LoadFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  int32_t LoadFromStream(TOvStream& stream, int64_t count);
  // Two-call sizing: without a buffer or with a short one the size is stored
  // and the result is false.
  bool SaveToBuffer(void* buffer, int64_t& size);
  void SaveToStream(TOvStream& stream);
  ByteString SaveToBytes();

  // Resets the model (content type and options stay).
  void Reset();

 private:
  void BuildTree();
  int32_t ParseTree(std::string_view source);

  TOvASN1ConstrainedTag tree_;
  TOvPKCS7SignedData signed_data_;
  TOvPKCS7EnvelopedData enveloped_;
  TOvPKCS7SignedAndEnvelopedData signed_enveloped_;
  TOvPKCS7DigestedData digested_;
  TOvPKCS7EncryptedData encrypted_;
  TOvPKCS7AuthenticatedData authenticated_;
};

// The OID of a content type constant (empty for ctUnknown).
std::string_view PKCS7ContentTypeOID(TCvPKCS7ContentType type);

}  // namespace corvane
