#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {
namespace {

using namespace std::string_literals;
using tavra_test::RunCommand;
using tavra_test::ScratchDir;

std::string FromHex(const std::string& hex) {
  std::string out;
  EXPECT_TRUE(HexToBytes(hex, out));
  return out;
}

TEST(OIDToText, KnownEncodings) {
  EXPECT_EQ(OIDToText(FromHex("2A864886F70D010101")), "1.2.840.113549.1.1.1");
  EXPECT_EQ(OIDToText(FromHex("551D0E")), "2.5.29.14");
  EXPECT_EQ(OIDToText(FromHex("2A")), "1.2.0");
  EXPECT_EQ(OIDToText(""), "0.0.0");
  EXPECT_EQ(OIDToText(FromHex("00")), "0.0.0");
  EXPECT_EQ(OIDToText(FromHex("0001")), "0.0.1");
  EXPECT_EQ(OIDToText(FromHex("8837")), "2.999.0");  // first sub-identifier 1079
  // A last octet with the top bit set still ends the sub-identifier.
  EXPECT_EQ(OIDToText(FromHex("2A86")), "1.2.6");
}

TEST(OIDToText, ArcsPastThirtyTwoBitsAreExact) {
  // 2^32 would wrap to 0 in a 32-bit accumulator and read as "1.2.0".
  EXPECT_EQ(OIDToText(FromHex("2A9080808000")), "1.2.4294967296");
  // A first sub-identifier of 2^64 + 80 gives the second arc 2^64.
  EXPECT_EQ(OIDToText(FromHex("828080808080808080") + "\x50"s + "\x01"s),
            "2.18446744073709551616.1");
}

// A hostile arc of a megabyte must neither take quadratic time nor print as
// some other OID: it reads as "?" while its neighbours stay exact.
TEST(OIDToText, OverlongArcsReadAsQuestionMarks) {
  std::string huge(1 << 20, '\xFF');
  huge.back() = '\x7F';
  EXPECT_EQ(OIDToText("\x2A"s + huge + "\x05"s), "1.2.?.5");
  EXPECT_EQ(OIDToText(huge), "2.?.0");
  // 64 octets is still exact: 2^448 - 1.
  std::string longest(64, '\xFF');
  longest.back() = '\x7F';
  EXPECT_EQ(OIDToText("\x2A"s + longest).size(), std::string("1.2.").size() + 135);
}

// openssl encodes each dotted text; reading its content octets back must give
// the same text.
TEST(OIDToText, AgreesWithOpensslEncoder) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::vector<std::string> oids = {
      "1.2.840.113549.1.9.16.2.14", "2.16.840.1.101.3.4.2.1",
      "1.3.6.1.4.1.311.2.1.4",      "2.5.4.3",
      "0.9.2342.19200300.100.1.25", "2.999.1234567890123",
      "1.2.4294967295.4294967296",  "2.25.329800735698586629295641978511506172918"};
  ScratchDir dir;
  for (const std::string& oid : oids) {
    const std::string file = dir.File("oid.der");
    int code = 0;
    RunCommand("openssl asn1parse -genstr 'OID:" + oid + "' -out " + file + " >/dev/null 2>&1",
               &code);
    ASSERT_EQ(code, 0) << oid;
    const std::string der = tavra_test::ReadFile(file);
    ASSERT_GE(der.size(), 2u);
    ASSERT_EQ(der[0], '\x06');
    // Short or long definite length.
    size_t header = 2;
    if (static_cast<uint8_t>(der[1]) & 0x80) header += static_cast<uint8_t>(der[1]) & 0x7F;
    EXPECT_EQ(OIDToText(der.substr(header)), oid);
  }
}

TEST(Hex, EncodeAndDecode) {
  EXPECT_EQ(BytesToHex("\x0a\x1b\xff"s), "0A1BFF");
  EXPECT_EQ(BytesToHex(""), "");
  unsigned char buf[4] = {};
  size_t size = sizeof(buf);
  EXPECT_TRUE(HexToBytes("0a1B", buf, size));
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(buf[0], 0x0A);
  EXPECT_EQ(buf[1], 0x1B);
}

TEST(Hex, SizeAndErrorRules) {
  unsigned char buf[4] = {};
  size_t size = 3;
  EXPECT_FALSE(HexToBytes("ABC", buf, size));
  EXPECT_EQ(size, 3u);  // left unchanged for an odd length
  size = 1;
  try {
    HexToBytes("0G", buf, size);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "String contains non-hexadecimal characters");
  }
  size = 0;
  EXPECT_FALSE(HexToBytes("0G", nullptr, size));  // no room: not even looked at
  EXPECT_EQ(size, 1u);
  std::string out;
  EXPECT_FALSE(HexToBytes("123", out));
  EXPECT_THROW(HexToBytes("zz", out), EConvertError);
}

int Decode(const std::string& text, std::string& out) { return Base64DecodeString(text, out); }

TEST(Base64, DecodeSpecimens) {
  std::string out;
  EXPECT_EQ(Decode("QUJD", out), BASE64_OK);
  EXPECT_EQ(out, "ABC");
  EXPECT_EQ(Decode("QUI=", out), BASE64_OK);
  EXPECT_EQ(out, "AB");
  EXPECT_EQ(Decode("QQ==", out), BASE64_OK);
  EXPECT_EQ(out, "A");
  EXPECT_EQ(Decode("QU\r\nJD", out), BASE64_OK);
  EXPECT_EQ(out, "ABC");
  EXPECT_EQ(Decode("QUJ", out), BASE64_INVALID_LENGTH);
  EXPECT_EQ(Decode("QU JD", out), BASE64_INVALID_LENGTH);  // a space counts toward the length
  EXPECT_EQ(Decode("QUJ*", out), BASE64_INVALID_DATA);
  EXPECT_EQ(Decode("Q===", out), BASE64_INVALID_DATA);
  EXPECT_EQ(Decode("QUJDQ===", out), BASE64_INVALID_DATA);
  EXPECT_EQ(Decode("QUI=QUJD", out), BASE64_INVALID_DATA);  // data after padding
  EXPECT_EQ(Decode("QQ=A", out), BASE64_INVALID_DATA);
  EXPECT_EQ(Decode("", out), BASE64_OK);
  EXPECT_EQ(out, "");
  // TAB and space are skipped once the length test has passed.
  EXPECT_EQ(Decode("QUJD QUJ\tD ", out), BASE64_INVALID_LENGTH);
  EXPECT_EQ(Decode("QU JD\t\tQQ==\t", out), BASE64_OK);  // 8 characters + 4 blanks
  EXPECT_EQ(out, "ABCA");
}

TEST(Base64, DecodeReportsSizes) {
  size_t size = 2;
  char buf[8];
  EXPECT_EQ(Base64Decode("QUI=", 4, buf, size), BASE64_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(Base64Decode("QUI=", 4, buf, size), BASE64_OK);
  EXPECT_EQ(size, 2u);
  size = 8;
  EXPECT_EQ(Base64Decode("QUJ*", 4, buf, size), BASE64_INVALID_DATA);
  EXPECT_EQ(size, 0u);
  size = 8;
  EXPECT_EQ(Base64Decode("QUJ", 3, buf, size), BASE64_INVALID_LENGTH);
  EXPECT_EQ(size, 0u);
}

TEST(Base64, DecodeUTF16) {
  const std::string text = "Q\0U\0I\0=\0\r\0\n\0"s;
  size_t size = 0;
  char buf[8];
  EXPECT_EQ(Base64DecodeUTF16(text.data(), text.size(), buf, size), BASE64_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 4u);  // (6 - 2) * 3 / 4 = 3, plus one
  EXPECT_EQ(Base64DecodeUTF16(text.data(), text.size(), buf, size), BASE64_OK);
  EXPECT_EQ(std::string(buf, size), "AB");
  size = 8;
  EXPECT_EQ(Base64DecodeUTF16(text.data(), 5, buf, size), BASE64_INVALID_LENGTH);
  // U+0141 must not be read as its low octet "A".
  const std::string wide = "Q\0U\0I\0A\x01"s;
  size = 8;
  EXPECT_EQ(Base64DecodeUTF16(wide.data(), wide.size(), buf, size), BASE64_INVALID_DATA);
}

TEST(Base64, EncodeSizesAndLineWrapping) {
  size_t size = 0;
  EXPECT_FALSE(Base64Encode("abcd", 4, nullptr, size, false));
  EXPECT_EQ(size, 8u);
  const std::string s48 = Base64EncodeString(std::string(48, 'x'), true);
  EXPECT_EQ(s48.size(), 64u);
  EXPECT_EQ(s48.find('\r'), std::string::npos);
  const std::string s49 = Base64EncodeString(std::string(49, 'x'), true);
  ASSERT_EQ(s49.size(), 64u + 2u + 4u);
  EXPECT_EQ(s49.substr(64, 2), "\r\n");
  EXPECT_EQ(Base64EncodeString("", true), "");
  EXPECT_EQ(Base64EncodeString("A", false), "QQ==");
  EXPECT_EQ(Base64EncodeString("AB", false), "QUI=");
}

// Random data against coreutils base64, unwrapped and wrapped at 64 columns.
TEST(Base64, AgreesWithCoreutils) {
  TAVRA_REQUIRE_TOOL("base64");
  std::mt19937 rng(42);
  ScratchDir dir;
  for (size_t length : {0u, 1u, 2u, 3u, 47u, 48u, 49u, 50u, 96u, 97u, 1000u}) {
    std::string data(length, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string file = dir.Write("data.bin", data);
    std::string plain = RunCommand("base64 -w 0 " + file);
    EXPECT_EQ(Base64EncodeString(data, false), plain) << length;
    std::string wrapped = RunCommand("base64 -w 64 " + file);
    if (!wrapped.empty() && wrapped.back() == '\n') wrapped.pop_back();
    std::string crlf;
    for (char c : wrapped) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    EXPECT_EQ(Base64EncodeString(data, true), crlf) << length;
    std::string back;
    EXPECT_EQ(Base64DecodeString(crlf, back), BASE64_OK);
    EXPECT_EQ(back, data);
  }
}

TEST(Base64, DecoderNeverOverrunsOnNoise) {
  std::mt19937 rng(7);
  const std::string alphabet = "ABCxyz019+/= \t\r\n\0*"s;
  for (int round = 0; round < 20000; ++round) {
    std::string text(rng() % 24, '\0');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    size_t size = 0;
    const int first = Base64Decode(text.data(), text.size(), nullptr, size);
    if (first != BASE64_BUFFER_TOO_SMALL) continue;
    std::vector<char> buf(size);  // exactly the size asked for
    const int second = Base64Decode(text.data(), text.size(), buf.data(), size);
    EXPECT_NE(second, BASE64_BUFFER_TOO_SMALL);
    if (second == BASE64_OK) {
      EXPECT_LE(size, buf.size());
    }
  }
}

}  // namespace
}  // namespace corvane
