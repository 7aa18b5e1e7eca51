// The event reader, stream loading with contents left in the stream, and the
// stand-alone encoders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvASN1Tree.h"

namespace corvane {
namespace {

using asn1test::Hex;
using asn1test::ToHex;

std::vector<std::string> Events(const std::string& bytes) {
  std::vector<std::string> events;
  TOvASN1Parser parser;
  parser.ReportEndOfContents = true;
  parser.OnElement = [&events](TOvASN1Element& e) {
    switch (e.Kind) {
      case aekElement:
        events.push_back(std::to_string(e.Offset) + ":" + ToHex(std::string(1, e.Identifier)) +
                         (e.Indefinite ? "/inf" : "/" + std::to_string(e.ContentLength)) +
                         (e.Content.empty() ? "" : "=" + ToHex(e.Content)));
        break;
      case aekEndOfElement:
        events.push_back("end");
        break;
      case aekEndOfContents:
        events.push_back("eoc");
        break;
    }
  };
  parser.ParseBuffer(bytes.data(), bytes.size());
  return events;
}

TEST(ASN1Reader, ReportsElementsInOrder) {
  const std::vector<std::string> expected = {"0:30/5", "2:02/1=05", "5:31/0",
                                             "end",    "end",       "7:05/0"};
  EXPECT_EQ(Events(Hex("3005 020105 3100 0500")), expected);
}

TEST(ASN1Reader, IndefiniteElementsEndWithMarker) {
  const std::vector<std::string> expected = {"0:30/inf", "2:24/inf", "4:04/1=41", "eoc", "eoc"};
  EXPECT_EQ(Events(Hex("3080 2480 040141 0000 0000")), expected);
}

TEST(ASN1Reader, IntegerContentInEncodedOrder) {
  EXPECT_EQ(Events(Hex("0203010203")), std::vector<std::string>{"0:02/3=010203"});
}

TEST(ASN1Reader, HighTagNumberIsDecoded) {
  TOvASN1Parser parser;
  std::string number;
  parser.OnElement = [&number](TOvASN1Element& e) {
    if (e.HighTagNumber) number = e.TagNumber;
  };
  const std::string bytes = Hex("9F 87 68 01 00");  // [context 1000] primitive
  parser.ParseBuffer(bytes.data(), bytes.size());
  EXPECT_EQ(number, Hex("03E8"));
}

TEST(ASN1Reader, ErrorMessages) {
  auto message = [](const std::string& bytes) -> std::string {
    TOvASN1Parser parser;
    try {
      parser.ParseBuffer(bytes.data(), bytes.size());
    } catch (const ECorvaneError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message(Hex("0489000000000000000000")), "Block size too large");
  EXPECT_EQ(message(Hex("0405 41")), "Invalid size");
  EXPECT_EQ(message(Hex("0480 0000")), "Invalid ASN1 sequence");
  EXPECT_EQ(message(Hex("3080 0001")), "Invalid ASN1 Sequence");
  EXPECT_EQ(message(Hex("3080 020101")), "Unexpected stream end");
  EXPECT_EQ(message(Hex("3001 0201 05")), "Invalid stream data");
  EXPECT_EQ(message(Hex("02")), "Invalid ASN1 sequence");
  EXPECT_EQ(message(Hex("0201")), "Invalid size");
  std::string deep;
  for (int i = 0; i < 1200; ++i) deep += Hex("3080");
  EXPECT_EQ(message(deep), "Maximal ASN.1 tag depth exceeded");
}

TEST(ASN1Reader, MaxTreeDepthMessage) {
  // The tree's own bound gives its own text through the reader's callback.
  std::string deep = Hex("020101");
  for (int i = 0; i < 300; ++i) deep = EncodeSequence({deep});
  TOvASN1ConstrainedTag root;
  EXPECT_FALSE(root.LoadFromBytes(deep));
}

// --- streams ----------------------------------------------------------------------

TEST(ASN1Stream, LargeContentStaysInStream) {
  const std::string big(20000, 'Z');
  const std::string bigInteger = std::string(1, '\x01') + std::string(9999, '\x02');
  const std::string der = EncodeSequence({EncodeOctetString(big), EncodeInteger(bigInteger)});
  TOvMemoryStream stream(std::string("PREFIX") + der + "SUFFIX");
  stream.SetPosition(6);
  TOvASN1ConstrainedTag root;
  root.SetMaxInMemoryContent(8192);
  EXPECT_EQ(root.LoadSingleFromStream(stream, 0), static_cast<int64_t>(der.size()));
  EXPECT_EQ(stream.Position(), 6 + static_cast<int64_t>(der.size()));
  TOvASN1ConstrainedTag* seq = root.ConstrainedChild(0);
  ASSERT_NE(seq, nullptr);
  EXPECT_EQ(seq->MaxInMemoryContent(), 8192);
  EXPECT_EQ(seq->ElementOffset(), 6);
  TOvASN1SimpleTag* octets = seq->SimpleChild(0);
  TOvASN1SimpleTag* integer = seq->SimpleChild(1);
  ASSERT_NE(octets, nullptr);
  ASSERT_NE(integer, nullptr);
  EXPECT_EQ(octets->DataSource().Mode(), dmStreamRegion);
  EXPECT_EQ(integer->DataSource().Mode(), dmMemory);  // INTEGERs are always read
  EXPECT_EQ(octets->Content(), big);
  EXPECT_EQ(integer->Content(), bigInteger);

  TOvMemoryStream out;
  seq->SaveToStream(out);
  EXPECT_EQ(out.Data(), der);
  EXPECT_EQ(seq->SaveToBytes(), der);

  // The region is read on demand: a stream cut short afterwards is an error.
  stream.SetSize(100);
  try {
    (void)octets->Content();
    ADD_FAILURE() << "no error";
  } catch (const EOvASN1Error& e) {
    EXPECT_STREQ(e.what(), "End of stream reached");
  }
}

TEST(ASN1Stream, CountLimitsTheInput) {
  const std::string der = Hex("3003020105 3003020106");
  TOvMemoryStream stream(der);
  TOvASN1ConstrainedTag root;
  EXPECT_TRUE(root.LoadFromStream(stream, 5));
  EXPECT_EQ(root.Count(), 1);
  TOvASN1ConstrainedTag rest;
  EXPECT_TRUE(rest.LoadFromStream(stream, 0));
  ASSERT_EQ(rest.Count(), 1);
  EXPECT_EQ(rest.GetChild(0)->ElementOffset(), 5);
  // A declared length that reaches past the count fails even though the stream has it.
  TOvMemoryStream again(der);
  TOvASN1ConstrainedTag cut;
  EXPECT_FALSE(cut.LoadFromStream(again, 4));
  EXPECT_FALSE(cut.LoadFromStream(again, -1));
}

TEST(ASN1Stream, SaveToStreamWritesIndefiniteForm) {
  const std::string ber = Hex("3080 2480 040141 0000 020101 0000");
  TOvMemoryStream in(ber);
  TOvASN1ConstrainedTag root;
  ASSERT_TRUE(root.LoadFromStream(in, 0));
  TOvMemoryStream out;
  root.GetChild(0)->SaveToStream(out);
  EXPECT_EQ(ToHex(out.Data()), ToHex(ber));
}

// --- encoders ---------------------------------------------------------------------

TEST(ASN1Encode, LengthForms) {
  EXPECT_EQ(EncodeLength(0), Hex("00"));
  EXPECT_EQ(EncodeLength(127), Hex("7F"));
  EXPECT_EQ(EncodeLength(128), Hex("8180"));
  EXPECT_EQ(EncodeLength(200), Hex("81C8"));
  EXPECT_EQ(EncodeLength(255), Hex("81FF"));
  EXPECT_EQ(EncodeLength(256), Hex("820100"));
  EXPECT_EQ(EncodeLength(300), Hex("82012C"));
  EXPECT_EQ(EncodeLength(65535), Hex("82FFFF"));
  // Past 65535 the long form keeps growing instead of wrapping.
  EXPECT_EQ(EncodeLength(65536), Hex("83010000"));
  EXPECT_EQ(EncodeLength(0x100000000ull), Hex("850100000000"));
  EXPECT_EQ(EncodeHeader(0x30, 0xFFFFFFFFFFFFFFFFull), Hex("3088FFFFFFFFFFFFFFFF"));
}

TEST(ASN1Encode, Integers) {
  EXPECT_EQ(EncodeInteger(Hex("000080")), Hex("02020080"));
  EXPECT_EQ(EncodeInteger(""), Hex("020100"));
  EXPECT_EQ(EncodeInteger(Hex("0000")), Hex("020100"));
  EXPECT_EQ(EncodeInteger(Hex("7F")), Hex("02017F"));
  EXPECT_EQ(EncodeInteger(Hex("05"), 0x80), Hex("800105"));
}

TEST(ASN1Encode, Primitives) {
  EXPECT_EQ(EncodeNull(), Hex("0500"));
  EXPECT_EQ(EncodeBitString(Hex("A0")), Hex("030200A0"));
  EXPECT_EQ(EncodeOctetString("ab"), Hex("04026162"));
  EXPECT_EQ(EncodePrintableString("A"), Hex("130141"));
  EXPECT_EQ(EncodeUTF8String("A"), Hex("0C0141"));
  EXPECT_EQ(EncodeIA5String("A"), Hex("160141"));
  EXPECT_EQ(EncodeOID(Hex("2B0E03021A")), Hex("06052B0E03021A"));
  EXPECT_EQ(EncodeOctetString(std::string(300, 'x')).substr(0, 4), Hex("0482012C"));
}

TEST(ASN1Encode, ConstructedKeepsPartOrder) {
  EXPECT_EQ(EncodeSequence({EncodeNull(), Hex("020101")}), Hex("3005 0500 020101"));
  EXPECT_EQ(EncodeSet({Hex("020102"), Hex("020101")}), Hex("3106 020102 020101"));
  const std::vector<std::string> parts = {Hex("0500"), Hex("0500")};
  EXPECT_EQ(EncodeConstructed(0xA0, parts), Hex("A004 0500 0500"));
  EXPECT_EQ(EncodeSequence(std::vector<std::string>{}), Hex("3000"));
}

}  // namespace
}  // namespace corvane
