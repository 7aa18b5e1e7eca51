// The node tree: loading, the two-call save, node helpers, and the bounds on
// hostile input.
#include <gtest/gtest.h>

#include <string>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/asn1/CvASN1Tree.h"

namespace corvane {
namespace {

using asn1test::Hex;
using asn1test::ToHex;

// Loads bytes into a fresh container; the container is returned for inspection.
std::unique_ptr<TOvASN1ConstrainedTag> Load(const std::string& bytes, bool* ok = nullptr) {
  auto root = std::make_unique<TOvASN1ConstrainedTag>();
  const bool loaded = root->LoadFromBytes(bytes);
  if (ok) *ok = loaded;
  return root;
}

bool Loads(const std::string& bytes) {
  TOvASN1ConstrainedTag root;
  return root.LoadFromBytes(bytes);
}

// depth nested constructed elements, the innermost one empty.
std::string Nested(int depth, bool indefinite) {
  std::string out = indefinite ? Hex("30800000") : Hex("3000");
  for (int i = 1; i < depth; ++i) {
    out = indefinite ? Hex("3080") + out + std::string(2, '\0') : EncodeSequence({out});
  }
  return out;
}

TEST(ASN1Tree, SequenceWithIntegerRoundTrips) {
  bool ok = false;
  auto root = Load(Hex("3003020105"), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(root->Count(), 1);
  TOvASN1ConstrainedTag* seq = root->ConstrainedChild(0);
  ASSERT_NE(seq, nullptr);
  EXPECT_TRUE(CheckTag(seq, 0x30, true));
  EXPECT_FALSE(CheckTag(seq, 0x30, false));
  ASSERT_EQ(seq->Count(), 1);
  TOvASN1SimpleTag* integer = seq->SimpleChild(0);
  ASSERT_NE(integer, nullptr);
  EXPECT_EQ(integer->Content(), Hex("05"));
  EXPECT_EQ(integer->IntegerValue(), 5u);
  EXPECT_EQ(integer->Level(), 2);
  EXPECT_EQ(integer->ElementOffset(), 2);
  EXPECT_EQ(integer->ElementSize(), 3);
  EXPECT_EQ(seq->SaveToBytes(), Hex("3003020105"));
}

TEST(ASN1Tree, EmptyIntegerBecomesZero) {
  auto root = Load(Hex("0200"));
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->SimpleChild(0)->Content(), Hex("00"));
  EXPECT_EQ(root->GetChild(0)->SaveToBytes(), Hex("020100"));
}

// The unused-bits octet is content (X.690 8.6.2); rewriting it as 0 would turn a
// 1-bit string into an 8-bit one.
TEST(ASN1Tree, BitStringKeepsUnusedBitCount) {
  auto root = Load(Hex("03020780"));
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->SimpleChild(0)->Content(), Hex("0780"));
  EXPECT_EQ(root->GetChild(0)->ElementSize(), 4);
  EXPECT_EQ(root->GetChild(0)->ContentLength(), 2);
  EXPECT_EQ(root->GetChild(0)->SaveToBytes(), Hex("03020780"));
}

TEST(ASN1Tree, IndefiniteLengthIsKeptAndCanBeDropped) {
  bool ok = false;
  auto root = Load(Hex("30800201010000"), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(root->Count(), 1);
  TOvASN1ConstrainedTag* seq = root->ConstrainedChild(0);
  EXPECT_TRUE(seq->IndefiniteLength());
  EXPECT_EQ(seq->Count(), 1);
  EXPECT_EQ(seq->ElementSize(), 7);
  EXPECT_EQ(seq->ContentLength(), 3);
  EXPECT_EQ(seq->SaveToBytes(), Hex("30800201010000"));
  seq->SetIndefiniteLength(false);
  EXPECT_EQ(seq->SaveToBytes(), Hex("3003020101"));
}

TEST(ASN1Tree, NestedIndefiniteElementsCloseInOrder) {
  const std::string ber = Hex("3080 3180 020101 0000 020102 0000");
  auto root = Load(ber);
  ASSERT_EQ(root->Count(), 1);
  TOvASN1ConstrainedTag* seq = root->ConstrainedChild(0);
  ASSERT_EQ(seq->Count(), 2);
  TOvASN1ConstrainedTag* set = seq->ConstrainedChild(0);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->Count(), 1);
  EXPECT_EQ(set->Level(), 2);
  EXPECT_EQ(set->SimpleChild(0)->Level(), 3);
  EXPECT_EQ(seq->SimpleChild(1)->IntegerValue(), 2u);
  EXPECT_EQ(seq->SaveToBytes(), ber);
}

TEST(ASN1Tree, LongFormLengthsAreMinimal) {
  TOvASN1SimpleTag node;
  node.SetTagByte(0x04);
  node.SetContent(std::string(200, 'x'));
  EXPECT_EQ(node.SaveToBytes().substr(0, 3), Hex("0481C8"));
  node.SetContent(std::string(300, 'x'));
  EXPECT_EQ(node.SaveToBytes().substr(0, 4), Hex("0482012C"));
  node.SetContent(std::string(70000, 'x'));
  EXPECT_EQ(node.SaveToBytes().substr(0, 5), Hex("0483011170"));
  EXPECT_EQ(node.EncodedLength(), 70005);
}

TEST(ASN1Tree, SaveToBufferTwoCalls) {
  auto root = Load(Hex("300A020105040548656C6C6F"));
  TOvASN1CustomTag* seq = root->GetChild(0);
  int64_t size = 0;
  EXPECT_FALSE(seq->SaveToBuffer(nullptr, size));
  EXPECT_EQ(size, 12);
  std::string buffer(static_cast<size_t>(size), '\0');
  int64_t small = size - 1;
  EXPECT_FALSE(seq->SaveToBuffer(buffer.data(), small));
  EXPECT_EQ(small, 12);
  EXPECT_EQ(buffer, std::string(12, '\0'));  // nothing written
  EXPECT_TRUE(seq->SaveToBuffer(buffer.data(), size));
  EXPECT_EQ(size, 12);
  EXPECT_EQ(buffer, Hex("300A020105040548656C6C6F"));
}

TEST(ASN1Tree, EmitHeaderFalseWritesContentOnly) {
  auto root = Load(Hex("3003020105"));
  root->GetChild(0)->SetEmitHeader(false);
  EXPECT_EQ(root->GetChild(0)->SaveToBytes(), Hex("020105"));
  EXPECT_EQ(root->GetChild(0)->EncodedLength(), 3);
}

TEST(ASN1Tree, PrimitiveNeverWritesIndefiniteLength) {
  TOvASN1SimpleTag node;
  node.SetTagByte(0x04);
  node.SetContent("ab");
  node.SetIndefiniteLength(true);
  EXPECT_EQ(node.SaveToBytes(), Hex("04026162"));
  EXPECT_TRUE(Loads(node.SaveToBytes()));
}

TEST(ASN1Tree, IntegerHelpers) {
  TOvASN1SimpleTag node;
  node.SetIntegerValue(static_cast<uint32_t>(-1));
  EXPECT_EQ(node.TagByte(), 0x02);
  EXPECT_EQ(node.Content(), Hex("00FFFFFFFF"));
  EXPECT_EQ(node.IntegerValue(), 0xFFFFFFFFu);
  node.SetIntegerValue(0);
  EXPECT_EQ(node.Content(), Hex("00"));
  node.SetIntegerValue(0x80);
  EXPECT_EQ(node.Content(), Hex("0080"));
  node.SetIntegerValue(0x1234);
  EXPECT_EQ(node.Content(), Hex("1234"));
  EXPECT_EQ(node.IntegerValue(), 0x1234u);
  node.SetIntegerBytes(Hex("0001"));
  EXPECT_EQ(node.Content(), Hex("0001"));  // leading zeros are the caller's choice
  node.SetIntegerBytes(Hex("C1"));
  EXPECT_EQ(node.Content(), Hex("00C1"));
  node.SetIntegerBytes("");
  EXPECT_EQ(node.Content(), Hex("00"));
}

TEST(ASN1Tree, BooleanHelpers) {
  TOvASN1SimpleTag node;
  node.SetBooleanValue(true);
  EXPECT_EQ(node.SaveToBytes(), Hex("0101FF"));
  EXPECT_TRUE(node.BooleanValue());
  node.SetBooleanValue(false);
  EXPECT_EQ(node.SaveToBytes(), Hex("010100"));
  EXPECT_FALSE(node.BooleanValue());
  node.SetContent(Hex("01"));  // BER "true" other than FF is not taken
  EXPECT_FALSE(node.BooleanValue());
}

TEST(ASN1Tree, ChildListOperations) {
  TOvASN1ConstrainedTag seq;
  seq.SetTagByte(0x30);
  EXPECT_EQ(seq.AddChild(false), 0);
  EXPECT_EQ(seq.AddChild(true), 1);
  EXPECT_EQ(seq.Count(), 2);
  EXPECT_EQ(seq.GetChild(2), nullptr);
  EXPECT_EQ(seq.GetChild(-1), nullptr);
  EXPECT_EQ(seq.SimpleChild(1), nullptr);
  EXPECT_NE(seq.ConstrainedChild(1), nullptr);
  EXPECT_EQ(seq.GetChild(0)->Level(), 0);
  seq.SimpleChild(0)->SetIntegerValue(7);
  seq.ConstrainedChild(1)->SetTagByte(0x31);
  EXPECT_EQ(seq.SaveToBytes(), Hex("3005020107 3100"));
  EXPECT_FALSE(seq.RemoveChild(5));
  EXPECT_TRUE(seq.RemoveChild(0));
  EXPECT_EQ(seq.SaveToBytes(), Hex("30023100"));
  seq.ClearChildren();
  EXPECT_EQ(seq.SaveToBytes(), Hex("3000"));
}

TEST(ASN1Tree, ConcatenatedContent) {
  auto root = Load(Hex("2406 040141 040142"));  // constructed OCTET STRING (BER)
  TOvASN1ConstrainedTag* octets = root->ConstrainedChild(0);
  ASSERT_NE(octets, nullptr);
  int64_t size = 0;
  EXPECT_FALSE(octets->ConcatenatedContent(nullptr, size));
  EXPECT_EQ(size, 2);
  std::string joined(2, '\0');
  EXPECT_TRUE(octets->ConcatenatedContent(joined.data(), size));
  EXPECT_EQ(joined, "AB");

  auto nested = Load(Hex("3004 3002 0500"));
  size = 100;
  EXPECT_FALSE(nested->ConstrainedChild(0)->ConcatenatedContent(joined.data(), size));
}

TEST(ASN1Tree, WrapAndUnwrap) {
  EXPECT_EQ(WrapInTag(0x04, "abc"), Hex("0403616263"));
  uint8_t tag = 0xEE;
  EXPECT_EQ(UnwrapTag(Hex("3003020105"), tag), Hex("020105"));
  EXPECT_EQ(tag, 0x30);
  EXPECT_EQ(UnwrapTag(Hex("0403616263"), tag), "abc");
  EXPECT_EQ(tag, 0x04);
  EXPECT_EQ(UnwrapTag(Hex("3005020105"), tag), Hex("3005020105"));  // truncated: unchanged
  EXPECT_EQ(tag, 0);
  EXPECT_EQ(UnwrapTag("", tag), "");
  EXPECT_EQ(tag, 0);
}

TEST(ASN1Tree, LoadSingleStopsAfterFirstElement) {
  TOvASN1ConstrainedTag root;
  const std::string bytes = Hex("3003020105 FFFF");  // trailing garbage is not read
  EXPECT_EQ(root.LoadSingleFromBuffer(bytes.data(), static_cast<int64_t>(bytes.size())), 5);
  EXPECT_EQ(root.Count(), 1);

  TOvASN1ConstrainedTag ber;
  const std::string indefinite = Hex("30800201010000 0000");  // PDF-style zero padding after it
  EXPECT_EQ(ber.LoadSingleFromBuffer(indefinite.data(), static_cast<int64_t>(indefinite.size())),
            7);

  TOvASN1ConstrainedTag empty;
  EXPECT_EQ(empty.LoadSingleFromBuffer("", 0), -1);
  TOvASN1ConstrainedTag broken;
  const std::string truncated = Hex("300502");
  EXPECT_EQ(broken.LoadSingleFromBuffer(truncated.data(), 3), -1);
}

TEST(ASN1Tree, EmptyInputLoadsNoChildren) {
  bool ok = false;
  auto root = Load("", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(root->Count(), 0);
}

// --- hostile input ------------------------------------------------------------------

TEST(ASN1Hostile, TruncatedInputFails) {
  EXPECT_FALSE(Loads(Hex("30")));
  EXPECT_FALSE(Loads(Hex("3005020105")));
  EXPECT_FALSE(Loads(Hex("0281")));
  EXPECT_FALSE(Loads(Hex("04820100")));
}

TEST(ASN1Hostile, AbsurdLengthsFail) {
  EXPECT_FALSE(Loads(Hex("0484FFFFFFFF0000000000")));     // beyond a ten-byte input
  EXPECT_FALSE(Loads(Hex("0488FFFFFFFFFFFFFFFF00")));     // 2^64-1 must not wrap
  EXPECT_FALSE(Loads(Hex("04888000000000000000")));       // 2^63 must not turn negative
  EXPECT_FALSE(Loads(Hex("0489010000000000000000000")));  // nine length octets
  EXPECT_FALSE(Loads(Hex("04FF00")));                     // reserved length octet
}

// A child must fit in the bytes left in its parent, not merely in the input.
TEST(ASN1Hostile, ChildLengthCheckedAgainstParent) {
  EXPECT_FALSE(Loads(Hex("3003 0205 0102030405")));
  EXPECT_FALSE(Loads(Hex("3004 3001 020101")));
  // The header of a child that crosses its parent's end.
  EXPECT_FALSE(Loads(Hex("3001 0201 05")));
  // Inside an indefinite parent the bound is that of the nearest definite ancestor.
  EXPECT_FALSE(Loads(Hex("3006 3080 020501 0000 020101")));
}

TEST(ASN1Hostile, IndefiniteLengthOnPrimitiveFails) {
  EXPECT_FALSE(Loads(Hex("0480 41 0000")));
  EXPECT_FALSE(Loads(Hex("0280 01 0000")));
}

// A failure deep inside fails every enclosing element, not only the innermost.
TEST(ASN1Hostile, ChildFailureFailsEveryAncestor) {
  EXPECT_FALSE(Loads(Hex("3005 0480 41 0000")));
  EXPECT_FALSE(Loads(Hex("3007 3005 0480 41 0000")));
  EXPECT_FALSE(Loads(Hex("A009 3007 3005 0480 41 0000")));
  EXPECT_FALSE(Loads(Hex("3080 3003 0000 01 0000")));  // a stray marker two levels down
  EXPECT_TRUE(Loads(Hex("3007 3005 0403 41 0000")));
}

TEST(ASN1Hostile, UnterminatedIndefiniteFails) {
  EXPECT_FALSE(Loads(Hex("3080 020101")));
  EXPECT_FALSE(Loads(Hex("3080 3080 020101 0000")));
  // Ends with its definite parent instead of with a marker.
  EXPECT_FALSE(Loads(Hex("3005 3080 020101")));
}

TEST(ASN1Hostile, StrayEndOfContentsFails) {
  EXPECT_FALSE(Loads(Hex("020101 0000")));
  EXPECT_FALSE(Loads(Hex("3002 0000")));
  EXPECT_FALSE(Loads(Hex("0001")));
}

TEST(ASN1Hostile, DepthLimitCountsBothLengthForms) {
  EXPECT_TRUE(Loads(Nested(256, false)));
  EXPECT_FALSE(Loads(Nested(257, false)));
  EXPECT_TRUE(Loads(Nested(256, true)));
  EXPECT_FALSE(Loads(Nested(257, true)));
  // Mixed forms: 200 definite around 100 indefinite.
  std::string mixed = Nested(100, true);
  for (int i = 0; i < 200; ++i) mixed = EncodeSequence({mixed});
  EXPECT_FALSE(Loads(mixed));
}

TEST(ASN1Hostile, DepthCountsFromTheLoadingNode) {
  auto root = Load(Hex("3000"));
  TOvASN1ConstrainedTag* seq = root->ConstrainedChild(0);
  ASSERT_EQ(seq->Level(), 1);
  EXPECT_FALSE(seq->LoadFromBytes(Nested(256, false)));
  TOvASN1ConstrainedTag fresh;
  EXPECT_TRUE(fresh.LoadFromBytes(Nested(256, false)));
}

TEST(ASN1Hostile, ThousandsDeepFailsQuickly) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += Hex("3080");
  EXPECT_FALSE(Loads(deep));
  EXPECT_FALSE(Loads(Nested(5000, false)));
}

TEST(ASN1Hostile, MultiOctetTagNumbers) {
  EXPECT_FALSE(Loads(Hex("1F8100 00")));  // valid BER, but the tree keeps one identifier octet
  std::string longTag = Hex("1F") + std::string(150, '\x81') + Hex("01 00");
  EXPECT_FALSE(Loads(longTag));
  TOvASN1Parser parser;
  try {
    parser.ParseBuffer(longTag.data(), longTag.size());
    ADD_FAILURE() << "no error";
  } catch (const EOvASN1Error& e) {
    EXPECT_STREQ(e.what(), "Tag size too large");
  }
}

TEST(ASN1Hostile, OverlongOidArcsLoadAsPlainContent) {
  // The tree does not interpret OBJECT IDENTIFIER contents; a 500-octet arc is data.
  const std::string oid = std::string(1, '\x2A') + std::string(500, '\xFF') + '\x01';
  const std::string der = EncodeOID(oid);
  auto root = Load(der);
  ASSERT_EQ(root->Count(), 1);
  EXPECT_EQ(root->SimpleChild(0)->Content(), oid);
  EXPECT_EQ(root->GetChild(0)->SaveToBytes(), der);
}

TEST(ASN1Hostile, FailureKeepsEarlierSiblings) {
  bool ok = true;
  auto root = Load(Hex("020105 3080"), &ok);
  EXPECT_FALSE(ok);
  EXPECT_GE(root->Count(), 1);
  EXPECT_EQ(root->SimpleChild(0)->IntegerValue(), 5u);
}

}  // namespace
}  // namespace corvane
