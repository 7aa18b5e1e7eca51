// Shared value helpers: PDF dates, text strings and byte helpers.
#include <gtest/gtest.h>

#include <cmath>

#include "toolkit/pdf/CvPDFUtils.h"

using namespace corvane;

namespace {

double Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  double v = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, v));
  return v;
}

}  // namespace

TEST(PdfDate, ParsesFieldsAndOffsets) {
  EXPECT_DOUBLE_EQ(PdfDateFromString("D:2010"), Date(2010, 1, 1));
  EXPECT_NEAR(PdfDateFromString("D:20100101120000+01'00'"), Date(2010, 1, 1, 11), 1e-9);
  EXPECT_NEAR(PdfDateFromString("D:20100101120000-02'30'"), Date(2010, 1, 1, 14, 30), 1e-9);
  EXPECT_NEAR(PdfDateFromString("20100305090703Z"), Date(2010, 3, 5, 9, 7, 3), 1e-9);
  EXPECT_EQ(PdfDateFromString("D:20101301"), 0);  // month 13
  EXPECT_EQ(PdfDateFromString("D:20100230"), 0);  // 30 February
  EXPECT_EQ(PdfDateFromString(""), 0);
  EXPECT_EQ(PdfDateFromString("D:"), 0);
  EXPECT_DOUBLE_EQ(PdfDateFromString("D:2010xx15"),
                   Date(2010, 1, 15));  // non-numeric month is 0 → 1
}

TEST(PdfDate, FormatsWithoutAndWithZone) {
  EXPECT_EQ(PdfDateToString(Date(2010, 3, 5, 9, 7, 3), false), "D:20100305090703Z");
  EXPECT_EQ(PdfDateToString(Date(1999, 12, 31, 23, 59, 59), false), "D:19991231235959Z");
  platform::TimeZoneInfo prague;
  prague.Bias = -60;
  prague.DaylightBias = -60;
  prague.ZoneState = platform::TimeZoneInfo::State::Daylight;
  EXPECT_EQ(TimeZoneSuffix(prague, true), "+02'00'");
  platform::TimeZoneInfo newfoundland;
  newfoundland.Bias = 210;
  newfoundland.ZoneState = platform::TimeZoneInfo::State::Standard;
  EXPECT_EQ(TimeZoneSuffix(newfoundland, true), "-03'30'");
  EXPECT_EQ(TimeZoneSuffix(newfoundland, false), "Z00'00'");
  const std::string local = PdfDateToString(Date(2020, 6, 1), true);
  EXPECT_EQ(local.substr(0, 16), "D:20200601000000");
  EXPECT_EQ(local.size(), 23u);
}

TEST(PdfDate, RoundTripsThroughText) {
  for (const double v : {Date(1900, 1, 1), Date(2038, 1, 19, 3, 14, 7), Date(1850, 6, 15, 12)}) {
    EXPECT_NEAR(PdfDateFromString(PdfDateToString(v, false)), v, 1e-9);
  }
}

TEST(PdfText, Utf16AndPdfDocEncoding) {
  EXPECT_EQ(EncodeTextString("abc"), "abc");
  EXPECT_EQ(EncodeTextString("\xC3\xA9"), std::string("\xFE\xFF\x00\xE9", 4));
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\x00\xE9", 4)), "\xC3\xA9");
  EXPECT_EQ(DecodeTextString("abc"), "abc");
  // A character outside the BMP goes through a surrogate pair.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(EncodeTextString(emoji), std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6));
  EXPECT_EQ(DecodeTextString(EncodeTextString(emoji)), emoji);
  // PDFDocEncoding: Latin-1 range, and the bullet and euro of 0x80 and 0xA0.
  EXPECT_EQ(DecodeTextString("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(DecodeTextString("\x80\xA0"), "\xE2\x80\xA2\xE2\x82\xAC");
  // Odd length with the mark is not UTF-16.
  EXPECT_EQ(DecodeTextString(std::string("\xFE\xFF\x00", 3)),
            "\xC3\xBE\xC3\xBF" + std::string(1, '\0'));
  // Malformed UTF-8 input becomes U+FFFD, never invalid UTF-16.
  EXPECT_EQ(EncodeTextString("\xFF"), std::string("\xFE\xFF\xFF\xFD", 4));
  // Czech text round-trips.
  const std::string czech = "P\xC5\x99\xC3\xAD\x6C\x69\xC5\xA1 \xC5\xBEluou\xC4\x8Dk\xC3\xBD";
  EXPECT_EQ(DecodeTextString(EncodeTextString(czech)), czech);
}

TEST(PdfBytes, TrimLastPosAndIntBytes) {
  EXPECT_EQ(TrimPdfSpace(std::string("\0\t\n\r x y \f", 10)), "x y \f");
  EXPECT_EQ(TrimPdfSpace(" \r\n"), "");
  EXPECT_EQ(LastPos("ab", "xabyab"), 5u);
  EXPECT_EQ(LastPos("zz", "xabyab"), 0u);
  EXPECT_EQ(IntToBytes4(0x01020304, true), "\x04\x03\x02\x01");
  EXPECT_EQ(IntToBytes4(0x01020304, false), "\x01\x02\x03\x04");
  int64_t v = 0;
  EXPECT_TRUE(TryStrToInt64("+12", v));
  EXPECT_EQ(v, 12);
  EXPECT_FALSE(TryStrToInt64("9223372036854775808", v));
  EXPECT_TRUE(TryStrToInt64("-9223372036854775808", v));
  EXPECT_FALSE(TryStrToInt64("1x", v));
  EXPECT_TRUE(SameTextAscii("FlateDecode", "FLATEdecode"));
}
