// Names read from and written to ASN.1: groups follow the SETs, values keep
// their string tags, and the encoding comes back byte for byte.
#include <gtest/gtest.h>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"

using namespace corvane;
using pkitest::Hex;

namespace {

const std::string kCN{"\x55\x04\x03", 3};
const std::string kO{"\x55\x04\x0A", 3};
const std::string kC{"\x55\x04\x06", 3};

std::string Attribute(const std::string& type, const std::string& value) {
  return EncodeSequence({EncodeOID(type), value});
}

// CN=a + O=b in one multi-valued RDN, then C=CZ.
const std::string kName = EncodeSequence(
    {EncodeSet({Attribute(kCN, EncodeUTF8String("a")), Attribute(kO, EncodePrintableString("b"))}),
     EncodeSet({Attribute(kC, EncodePrintableString("CZ"))})});

std::unique_ptr<TOvASN1ConstrainedTag> Tree(const std::string& bytes) {
  auto root = std::make_unique<TOvASN1ConstrainedTag>();
  EXPECT_TRUE(root->LoadFromBytes(bytes));
  return root;
}

}  // namespace

TEST(RDN, LoadKeepsGroupsAndTagsAndSavesTheSameBytes) {
  const auto root = Tree(kName);
  TOvRelativeDistinguishedName rdn;
  ASSERT_TRUE(rdn.LoadFromTag(*root->ConstrainedChild(0)));
  ASSERT_EQ(rdn.Count(), 3);
  EXPECT_EQ(rdn.Groups(0), 0);
  EXPECT_EQ(rdn.Groups(1), 0);
  EXPECT_EQ(rdn.Groups(2), 1);
  EXPECT_EQ(rdn.Tags(0), ASN1_UTF8_STRING);
  EXPECT_EQ(rdn.Tags(1), ASN1_PRINTABLE_STRING);
  EXPECT_EQ(rdn.Values(2), "CZ");

  TOvASN1ConstrainedTag saved;
  rdn.SaveToTag(saved);
  EXPECT_EQ(saved.SaveToBytes(), kName);
}

TEST(RDN, OtherShapesStopReadingAndKeepWhatWasRead) {
  // A second SET holding an INTEGER instead of an attribute.
  const std::string bad = EncodeSequence(
      {EncodeSet({Attribute(kCN, EncodeUTF8String("a"))}), EncodeSet({Hex("020101")})});
  const auto root = Tree(bad);
  TOvRelativeDistinguishedName rdn;
  EXPECT_FALSE(rdn.LoadFromTag(*root->ConstrainedChild(0)));
  ASSERT_EQ(rdn.Count(), 1);
  EXPECT_EQ(rdn.Values(0), "a");

  // Only a SEQUENCE is a Name, unless any constructed node is allowed.
  const std::string tagged =
      EncodeConstructed(0xA4, {EncodeSet({Attribute(kCN, EncodeUTF8String("x"))})});
  const auto other = Tree(tagged);
  TOvRelativeDistinguishedName strict, any;
  EXPECT_FALSE(strict.LoadFromTag(*other->ConstrainedChild(0), false));
  EXPECT_TRUE(any.LoadFromTag(*other->ConstrainedChild(0), true));
  EXPECT_EQ(any.Count(), 1);

  // An attribute with a constructed value is not a plain Name entry.
  const auto constructed = Tree(EncodeSequence(
      {EncodeSet({EncodeSequence({EncodeOID(kCN), EncodeSequence({EncodeNull()})})})}));
  EXPECT_FALSE(TOvRelativeDistinguishedName().LoadFromTag(*constructed->ConstrainedChild(0)));
}

TEST(RDN, EqualsIgnoresOrderButNotTheStringTag) {
  TOvRelativeDistinguishedName a, b;
  a.Add(kCN, "Jan", ASN1_PRINTABLE_STRING);
  a.Add(kO, "Tavra", ASN1_UTF8_STRING);
  b.Add(kO, "Tavra", ASN1_UTF8_STRING);
  b.Add(kCN, "Jan", ASN1_PRINTABLE_STRING);
  EXPECT_TRUE(a.Equals(b));
  b.SetTags(1, ASN1_UTF8_STRING);
  EXPECT_FALSE(a.Equals(b));
}

TEST(RDN, AssignFromNothingRaises) {
  TOvRelativeDistinguishedName rdn;
  rdn.Add(kCN, "x");
  try {
    rdn.Assign(static_cast<const TOvRelativeDistinguishedName*>(nullptr));
    FAIL();
  } catch (const ECorvaneError& e) {
    EXPECT_STREQ(e.what(), "Can not assign nil to TOvRelativeDistinguishedName");
  }
  TOvRelativeDistinguishedName copy;
  copy.Assign(&rdn);
  EXPECT_TRUE(copy.Equals(rdn));
}
