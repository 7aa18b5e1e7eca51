// The PKCS#7 codec: the exact shape written, and the codes malformed input gives.
#include <gtest/gtest.h>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvPKCS7Utils.h"

namespace corvane {
namespace {

std::string Int(std::string_view octets) { return EncodePrimitive(ASN1_INTEGER, octets); }

std::string Name() {
  return EncodeSequence({EncodeSet({EncodeSequence(
      {EncodeOID(std::string("\x55\x04\x03", 3)), EncodePrintableString("Issuer")})})});
}

// A SignerInfo with the given version octets and signed attributes (raw [0] content).
std::string SignerInfo(std::string_view version, std::string_view attributes = {}) {
  std::vector<std::string> parts = {Int(version), EncodeSequence({Name(), Int("\x05")}),
                                    EncodeAlgorithmIdentifier(oid::SHA256, {}, true)};
  if (!attributes.empty()) parts.push_back(EncodeConstructed(0xA0, {attributes}));
  parts.push_back(EncodeAlgorithmIdentifier(oid::RSA_ENCRYPTION, {}, true));
  parts.push_back(EncodeOctetString("signature"));
  return EncodeSequence(parts);
}

std::string SignedData(std::string_view version, std::string_view signerInfo) {
  return EncodeSequence(
      {EncodeOID(oid::PKCS7_SIGNED_DATA),
       EncodeConstructed(0xA0, {EncodeSequence({Int(version), EncodeSet({}),
                                                EncodeSequence({EncodeOID(oid::PKCS7_DATA)}),
                                                EncodeSet({signerInfo})})})});
}

TEST(PKCS7, WrittenShape) {
  TOvPKCS7Message message;
  message.ContentType = ctSignedData;
  message.UseUndefSize = false;
  TOvPKCS7SignedData& data = message.SignedData();
  for (const auto& hash : {oid::SHA256, oid::SHA256, oid::SHA1}) {
    TOvPKCS7Signer& s = *data.Signers(data.AddSigner());
    s.Issuer.IssuerNameDER = Name();
    s.Issuer.SerialNumber = "\xFF";  // a negative serial stays as it is
    s.DigestAlgorithm = std::string(hash);
    s.DigestEncryptionAlgorithm = std::string(oid::RSA_ENCRYPTION);
    s.EncryptedDigest = "sig";
  }
  data.Signers(1)->Issuer.IdentificationKind = PKCS7_SUBJECT_KEY_IDENTIFIER;
  data.Signers(1)->Issuer.SubjectKeyIdentifier = "key-id";
  data.Signers(2)->WriteNullParams = false;

  int64_t size = 0;
  EXPECT_FALSE(message.SaveToBuffer(nullptr, size));
  std::string der(static_cast<size_t>(size), '\0');
  ASSERT_TRUE(message.SaveToBuffer(der.data(), size));
  EXPECT_EQ(static_cast<size_t>(size), der.size());

  // digestAlgorithms: SHA-256 once, then SHA-1, in signer order.
  const std::string algorithms = EncodeSet({EncodeAlgorithmIdentifier(oid::SHA256, {}, true),
                                            EncodeAlgorithmIdentifier(oid::SHA1, {}, true)});
  EXPECT_NE(der.find(algorithms), std::string::npos);
  // A detached content: the content SEQUENCE holds the OID alone.
  EXPECT_NE(der.find(EncodeSequence({EncodeOID(oid::PKCS7_DATA)}) + "\x31"), std::string::npos);
  EXPECT_NE(der.find(EncodeSequence({Name(), Int("\xFF")})), std::string::npos);
  EXPECT_EQ(data.Signers(1)->Version, 3);
  EXPECT_NE(der.find(EncodePrimitive(0x80, "key-id")), std::string::npos);
  EXPECT_NE(der.find(EncodeSequence({EncodeOID(oid::RSA_ENCRYPTION)}) + EncodeOctetString("sig")),
            std::string::npos);

  TOvPKCS7Message parsed;
  ASSERT_EQ(parsed.LoadFromBytes(der), 0);
  ASSERT_EQ(parsed.SignedData().SignerCount(), 3);
  EXPECT_EQ(parsed.SignedData().Signers(1)->Issuer.SubjectKeyIdentifier, "key-id");
  EXPECT_FALSE(parsed.SignedData().Signers(2)->WriteNullParams);
  EXPECT_EQ(parsed.SaveToBytes(), der);

  // Indefinite lengths on the outer nodes only.
  message.UseUndefSize = true;
  data.SetContent("abc");
  const std::string ber = message.SaveToBytes();
  EXPECT_EQ(ber.substr(0, 2), "\x30\x80");
  ASSERT_EQ(parsed.LoadFromBytes(ber), 0);
  EXPECT_TRUE(parsed.UseUndefSize);
  EXPECT_EQ(parsed.SignedData().ContentBytes(), "abc");
  EXPECT_EQ(parsed.SaveToBytes(), ber);
}

TEST(PKCS7, AttributesAreASortedSetOf) {
  // Ordered by encoding: the shorter SEQUENCE first, values within a SET too.
  TOvPKCS7Attributes attributes;
  attributes.Add(oid::ATTR_MESSAGE_DIGEST, EncodeOctetString(std::string(32, 'd')));
  attributes.Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  const int index = attributes.Add(oid::ATTR_SIGNING_TIME, EncodeOctetString("b"));
  attributes.Values(index)->push_back(EncodeOctetString("a"));
  const std::string expected = EncodeSet(
      {EncodeSequence({EncodeOID(oid::ATTR_SIGNING_TIME),
                       EncodeSet({EncodeOctetString("a"), EncodeOctetString("b")})}),
       EncodeSequence({EncodeOID(oid::ATTR_CONTENT_TYPE), EncodeSet({EncodeOID(oid::PKCS7_DATA)})}),
       EncodeSequence({EncodeOID(oid::ATTR_MESSAGE_DIGEST),
                       EncodeSet({EncodeOctetString(std::string(32, 'd'))})})});
  EXPECT_EQ(attributes.SaveToBytes(), expected);
  // The list itself keeps the caller's order.
  EXPECT_EQ(attributes.GetType(0), oid::ATTR_MESSAGE_DIGEST);
  EXPECT_TRUE(DEROrderLess(std::string("\x01", 1), std::string("\x01\x01", 2)));
  EXPECT_FALSE(DEROrderLess(std::string("\x01\x00", 2), std::string("\x01", 1)));
}

TEST(PKCS7, MalformedInputGivesItsCode) {
  TOvPKCS7Message message;
  EXPECT_EQ(message.LoadFromBytes(SignedData("\x01", SignerInfo("\x01"))), 0);
  EXPECT_EQ(message.LoadFromBytes(SignedData(std::string("\x00\x04", 2), SignerInfo("\x01"))),
            PKCS7_ERROR_SIGNED_DATA_VERSION);
  EXPECT_EQ(message.LoadFromBytes(SignedData("\x01", SignerInfo("\x02"))),
            PKCS7_ERROR_SIGNER_INFO_VERSION);
  EXPECT_EQ(message.LoadFromBytes(SignedData("\x01", SignerInfo("\x01", EncodeOctetString("x")))),
            PKCS7_ERROR_INVALID_ATTRIBUTE);
  EXPECT_EQ(message.LoadFromBytes(SignedData("\x01", EncodeSequence({Int("\x01")}))),
            PKCS7_ERROR_INVALID_SIGNER_INFO);
  EXPECT_EQ(message.LoadFromBytes(
                EncodeSequence({EncodeOID(oid::PKCS7_SIGNED_DATA),
                                EncodeConstructed(0xA0, {EncodeSequence({Int("\x01")})})})),
            PKCS7_ERROR_INVALID_SIGNED_DATA);
  EXPECT_EQ(message.LoadFromBytes(EncodeSequence(
                {EncodeOID(oid::PKCS7_DATA), EncodeConstructed(0xA0, {Int("\x01")})})),
            PKCS7_ERROR_INVALID_DATA);
  const std::string unknown = EncodeSequence(
      {EncodeOID(std::string("\x2A\x03", 2)), EncodeConstructed(0xA0, {Int("\x01")})});
  EXPECT_EQ(message.LoadFromBytes(unknown), 0);
  EXPECT_EQ(message.ContentType, ctUnknown);
  message.AllowUnknownContentTypes = false;
  EXPECT_EQ(message.LoadFromBytes(unknown), PKCS7_ERROR_UNKNOWN_CONTENT_TYPE);
  EXPECT_EQ(message.LoadFromBytes("\x30"), PKCS7_ERROR_NOT_ASN1);
  EXPECT_EQ(message.LoadFromBytes(EncodeSequence({Int("\x01")})), PKCS7_ERROR_NOT_CONTENT_INFO);
  // Deep nesting stays within the ASN.1 layer's depth limit.
  std::string deep = Int("\x01");
  for (int i = 0; i < 400; ++i) deep = EncodeSequence({deep});
  EXPECT_EQ(message.LoadFromBytes(deep), PKCS7_ERROR_NOT_ASN1);
}

}  // namespace
}  // namespace corvane
