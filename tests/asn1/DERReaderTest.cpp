// The strict DER reader: what DER forbids is refused, nothing is read past the
// input, and a refused element leaves the reader where it was.
#include "toolkit/asn1/CvDERReader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/asn1/CvASN1.h"

namespace corvane {
namespace {

using asn1test::Hex;
using asn1test::ToHex;

bool ReadsOneElement(const std::string& der) {
  TCvDERReader reader(der);
  uint8_t tag = 0;
  std::string_view content, whole;
  return reader.ReadAny(tag, content, whole) && reader.AtEnd();
}

TEST(DERReader, ReadsNestedElementsWithTheirHeaders) {
  const std::string der = Hex("300B 0201 05 0481 03 AABBCC 0500");
  TCvDERReader outer(der);
  std::string_view body;
  ASSERT_TRUE(outer.Read(ASN1_SEQUENCE, body));
  EXPECT_TRUE(outer.AtEnd());
  TCvDERReader inner(body);
  std::string_view value;
  // A wrong tag is refused without moving on.
  EXPECT_FALSE(inner.Read(ASN1_OCTET_STRING, value));
  EXPECT_EQ(inner.PeekTag(), ASN1_INTEGER);
  ASSERT_TRUE(inner.Read(ASN1_INTEGER, value));
  EXPECT_EQ(ToHex(value), "05");
  // The long form is refused below 0x80: 81 03 is not minimal.
  EXPECT_FALSE(inner.Read(ASN1_OCTET_STRING, value));
}

TEST(DERReader, RefusesWhatDERForbids) {
  EXPECT_TRUE(ReadsOneElement(Hex("0481 80") + std::string(0x80, 'x')));
  EXPECT_FALSE(ReadsOneElement(Hex("0482 0080") + std::string(0x80, 'x')));  // not minimal
  EXPECT_FALSE(ReadsOneElement(Hex("3080 0000")));                           // indefinite
  EXPECT_FALSE(ReadsOneElement(Hex("1F81 00 00")));                          // multi-octet tag
  EXPECT_FALSE(ReadsOneElement(Hex("0403 AABB")));                           // past the input
  EXPECT_FALSE(ReadsOneElement(Hex("0485 0000000001 AA")));                  // over four octets
  EXPECT_FALSE(ReadsOneElement(Hex("04")));
}

TEST(DERReader, UnsignedIntegersAreMinimalAndNotNegative) {
  auto unsignedOf = [](const std::string& der, std::string* out = nullptr) {
    TCvDERReader reader(der);
    std::string_view content;
    const bool ok = reader.ReadUnsigned(content);
    if (ok && out != nullptr) *out = ToHex(content);
    return ok;
  };
  std::string content;
  EXPECT_TRUE(unsignedOf(Hex("0202 0080"), &content));
  EXPECT_EQ(content, "0080");
  EXPECT_TRUE(unsignedOf(Hex("0201 00")));
  EXPECT_FALSE(unsignedOf(Hex("0201 80")));    // negative
  EXPECT_FALSE(unsignedOf(Hex("0202 007F")));  // not minimal
  EXPECT_FALSE(unsignedOf(Hex("0200")));       // empty
  EXPECT_FALSE(unsignedOf(Hex("0401 01")));    // not an INTEGER
}

}  // namespace
}  // namespace corvane
