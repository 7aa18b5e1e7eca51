#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "toolkit/common/CvUtils.h"

namespace corvane {
namespace {

using namespace std::string_literals;

TEST(CorvaneError, CodeIsAppendedInSignedDecimal) {
  const ECorvaneError plain("Failure");
  EXPECT_EQ(plain.ErrorCode(), 0);
  EXPECT_STREQ(plain.what(), "Failure");
  const ECorvaneError coded("Failure", 5);
  EXPECT_EQ(coded.ErrorCode(), 5);
  EXPECT_STREQ(coded.what(), "Failure (error code is 5)");
  const EOvCertStorageError hr("Failed", static_cast<int32_t>(0x80092005u));
  EXPECT_STREQ(hr.what(), "Failed (error code is -2146885627)");
}

TEST(Bytes, CopyBytesCutsToWhatRemains) {
  const std::string s = "\x00\x01\x02\x03\x04"s;
  EXPECT_EQ(CopyBytes(s, 1, 2), "\x01\x02"s);
  EXPECT_EQ(CopyBytes(s, 3, 100), "\x03\x04"s);
  EXPECT_EQ(CopyBytes(s, 5, 1), "");
  EXPECT_EQ(CopyBytes(s, -1, 2), "");
  EXPECT_EQ(CopyBytes(s, 0, 0), "");
  EXPECT_EQ(CopyBytes(s, 0, -3), "");
  EXPECT_EQ(CopyBytes(s, INT64_MAX, INT64_MAX), "");
  EXPECT_EQ(CopyBytes(s, 2, INT64_MAX), "\x02\x03\x04"s);
}

TEST(Bytes, StripReverseSwap) {
  EXPECT_EQ(StripLeadingZeros("\x00\x00\x01\x00"s), "\x01\x00"s);
  EXPECT_EQ(StripLeadingZeros("\x00\x00"s), "");
  EXPECT_EQ(ReverseBytes("abc"), "cba");
  EXPECT_EQ(SwapBytePairs("\x00\x41\x01\x42"s), "\x41\x00\x42\x01"s);
  std::string odd = "abc";
  SwapBytePairsInPlace(odd);
  EXPECT_EQ(odd, "bac");
  EXPECT_EQ(SwapUInt32(0x11223344u), 0x44332211u);
  EXPECT_EQ(SwapUInt64(0x1122334455667788ull), 0x8877665544332211ull);
  EXPECT_TRUE(BytesEqual("a\0b"s, "a\0b"s));
  EXPECT_FALSE(BytesEqual("a\0b"s, "a\0c"s));
}

TEST(Bytes, PropertyEncodingsRejectOtherShapes) {
  EXPECT_EQ(BoolToBytes(true), "\x01");
  EXPECT_EQ(BoolToBytes(false), "\x00"s);
  EXPECT_TRUE(BytesToBool("\x01", false));
  EXPECT_FALSE(BytesToBool("\x00"s, true));
  EXPECT_TRUE(BytesToBool("\x02", true));
  EXPECT_FALSE(BytesToBool("\x02", false));
  EXPECT_TRUE(BytesToBool("\x01\x01", true));
  EXPECT_FALSE(BytesToBool("", false));
  EXPECT_EQ(IntToBytes(0x01020304), "\x01\x02\x03\x04");
  EXPECT_EQ(IntToBytes(-2), "\xFF\xFF\xFF\xFE");
  EXPECT_EQ(BytesToInt("\xFF\xFF\xFF\xFE", 0), -2);
  EXPECT_EQ(BytesToInt("\x01\x02\x03", 77), 77);
  EXPECT_EQ(BytesToInt("\x01\x02\x03\x04\x05", 77), 77);
}

TEST(Text, AsciiCaseFoldLeavesOtherBytesAlone) {
  EXPECT_TRUE(SameTextAscii("Options", "oPTIONS"));
  EXPECT_FALSE(SameTextAscii("opt", "opts"));
  // UTF-8 letters are not folded: "É" (C3 89) and "é" (C3 A9) differ.
  EXPECT_FALSE(SameTextAscii("\xC3\x89", "\xC3\xA9"));
  EXPECT_EQ(AsciiLowerCase("AbC\xC3\x89"), "abc\xC3\x89");
  EXPECT_EQ(AsciiUpperCase("ab-z"), "AB-Z");
}

TEST(UTF16ToUTF8, EncodesEveryLength) {
  std::string out;
  EXPECT_EQ(UTF16ToUTF8(u"A\u00E9\u20AC\U0001F600", false, false, out), 0);
  EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(UTF16ToUTF8, UnpairedLowSurrogateStopsStrictConversion) {
  std::u16string text = u"A";
  text += static_cast<char16_t>(0xDC00);
  text += u"B";
  std::string out;
  EXPECT_EQ(UTF16ToUTF8(text, false, false, out), 3);
  EXPECT_EQ(out, "A");
  EXPECT_EQ(UTF16ToUTF8(text, true, false, out), 0);
  EXPECT_EQ(out,
            "A\xED\xB0\x80"
            "B");
}

TEST(UTF16ToUTF8, HighSurrogateRules) {
  std::u16string mid = u"A";
  mid += static_cast<char16_t>(0xD800);
  mid += u"B";
  std::string out;
  EXPECT_EQ(UTF16ToUTF8(mid, false, false, out), 3);
  EXPECT_EQ(out, "A");
  EXPECT_EQ(UTF16ToUTF8(mid, true, false, out), 0);
  EXPECT_EQ(out,
            "A\xED\xA0\x80"
            "B");
  // A high surrogate at the very end is encoded by itself in both modes.
  std::u16string last = u"A";
  last += static_cast<char16_t>(0xD800);
  EXPECT_EQ(UTF16ToUTF8(last, false, false, out), 0);
  EXPECT_EQ(out, "A\xED\xA0\x80");
}

TEST(UTF16ToUTF8, BomIsAddedOnce) {
  std::string out;
  UTF16ToUTF8(u"x", false, true, out);
  EXPECT_EQ(out, "\xEF\xBB\xBFx");
  UTF16ToUTF8(u"\uFEFFx", false, true, out);
  EXPECT_EQ(out, "\xEF\xBB\xBFx");
}

TEST(UTF16ToUTF8, BmpStringNamesAreSwappedFirst) {
  // A BMPString value is big-endian: swap the pairs, then read as UTF-16LE.
  const std::string be = "\x00T\x01\x61"s;  // "Tš"
  const std::string le = SwapBytePairs(be);
  std::u16string units;
  for (size_t k = 0; k < le.size(); k += 2)
    units +=
        static_cast<char16_t>(static_cast<uint8_t>(le[k]) | (static_cast<uint8_t>(le[k + 1]) << 8));
  std::string out;
  EXPECT_EQ(UTF16ToUTF8(units, false, false, out), 0);
  EXPECT_EQ(out, "T\xC5\xA1");
}

TEST(WideText, RoundTripAndReplacement) {
  const std::string text = "P\xC5\x99\xC3\xADli\xC5\xA1 \xF0\x9F\x98\x80";
  EXPECT_EQ(WideToUTF8(UTF8ToWide(text)), text);
  EXPECT_EQ(UTF8ToWide(""), u"");
  // Malformed: a lone continuation byte, an overlong "/", a surrogate, a
  // truncated sequence at the end; each maximal subpart becomes one U+FFFD.
  EXPECT_EQ(UTF8ToWide("a\x80"
                       "b"),
            u"a\uFFFDb");
  EXPECT_EQ(UTF8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(UTF8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(UTF8ToWide("x\xE2\x82"), u"x\uFFFD");
  EXPECT_EQ(UTF8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  std::u16string lone = u"a";
  lone += static_cast<char16_t>(0xDBFF);
  EXPECT_EQ(WideToUTF8(lone), "a\xEF\xBF\xBD");
}

TEST(WideText, SanitizeKeepsValidTextExactly) {
  EXPECT_TRUE(IsValidUTF8("\xC5\xA1\xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUTF8("\xFF"));
  EXPECT_EQ(SanitizeUTF8("ok \xC5\xA1"), "ok \xC5\xA1");
  EXPECT_EQ(SanitizeUTF8("a\xFF\xFE"
                         "b"),
            "a??b");
  EXPECT_EQ(SanitizeUTF8("\xE2\x82", "\xEF\xBF\xBD"), "\xEF\xBF\xBD");
}

TEST(StringConverter, PlatformConverterTreatsAnsiAsUtf8) {
  TOvPlatformStringConverter converter;
  EXPECT_EQ(converter.AnsiToUTF8("\xC5\xA1"
                                 "a\xFF"),
            "\xC5\xA1"
            "a?");
  EXPECT_EQ(converter.UTF8ToAnsi("x"), "x");
  EXPECT_EQ(converter.AnsiToUTF16("A\xC5\xA1"), "A\x00\x61\x01"s);
  EXPECT_EQ(converter.AnsiToUTF16(""), "");
  EXPECT_EQ(converter.UTF16ToAnsi("A\x00\x61\x01"s), "A\xC5\xA1");
  EXPECT_EQ(converter.UTF16ToAnsi("A\x00\x61"s), "");  // odd octet count
  try {
    converter.CharsetToUTF8("koi8-r", "x");
    FAIL() << "no exception";
  } catch (const EOvUnicodeError& e) {
    EXPECT_STREQ(e.what(), "Unsupported charset");
  }
}

TEST(StringConverter, BaseClassAndMissingConverterRefuse) {
  TOvStringConverter base;
  EXPECT_THROW(base.AnsiToUTF16("x"), EOvUnicodeError);
  EXPECT_THROW(base.UTF8ToAnsi("x"), EOvUnicodeError);
  EXPECT_EQ(ConvertAnsiToUTF16("A"), "A\x00"s);
  auto previous = SetStringConverter(nullptr);
  try {
    ConvertAnsiToUTF16("A");
    ADD_FAILURE() << "no exception";
  } catch (const EOvUnicodeError& e) {
    EXPECT_STREQ(e.what(), "Unicode library not initialized");
  }
  SetStringConverter(std::move(previous));
  EXPECT_NE(StringConverter(), nullptr);
}

struct Counted {
  explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
  ~Counted() { --*alive_; }
  int* alive_;
};

TEST(ObjectList, OwnsItemsUnlessExtracted) {
  int alive = 0;
  {
    TCvObjectList<Counted> list;
    Counted* a = new Counted(&alive);
    list.Add(a);
    list.Add(std::make_unique<Counted>(&alive));
    Counted* c = new Counted(&alive);
    list.Add(c);
    EXPECT_EQ(alive, 3);
    std::unique_ptr<Counted> taken = list.Extract(a);
    EXPECT_EQ(taken.get(), a);
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Extract(a), nullptr);  // absent now
    EXPECT_EQ(list.Remove(c), 1);
    EXPECT_EQ(alive, 2);  // c freed, a held by `taken`
    list.Delete(0);
    EXPECT_EQ(alive, 1);
    list.Add(new Counted(&alive));
  }
  EXPECT_EQ(alive, 0);
  Counted outside(&alive);
  {
    TCvObjectList<Counted> borrowed(false);
    borrowed.Add(&outside);
    borrowed.Clear();
  }
  EXPECT_EQ(alive, 1);
}

}  // namespace
}  // namespace corvane
