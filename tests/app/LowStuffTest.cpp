// Serial text, text conversions, trimming and folding, the error display's
// full stop, the application title and the shell opener.
#include "app/core/LowStuff.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/core/SignerReporter.h"
#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

TEST(SerialNumberText, UppercaseHexInStoredOrder) {
  EXPECT_EQ(SerialNumberText(std::string("\x01\xA2\x0F", 3)), "01A20F");
  EXPECT_EQ(SerialNumberText(std::string("\x7F", 1)), "7F");
}

TEST(SerialNumberText, HighFirstOctetAndEmptyContentAreZeroPadded) {
  EXPECT_EQ(SerialNumberText(std::string("\x80\x01", 2)), "008001");
  EXPECT_EQ(SerialNumberText(std::string("\xFF", 1)), "00FF");
  EXPECT_EQ(SerialNumberText(std::string()), "00");
  // Bytes that already carry the pad come out the same.
  EXPECT_EQ(SerialNumberText(std::string("\x00\x80\x01", 3)), "008001");
  EXPECT_EQ(SerialNumberText(std::string("\x00", 1)), "00");
}

TEST(SerialNumberText, OfCertificate) {
  tavra_test::FakeCertificate c("CA", std::string("\x0A\x1B", 2));
  EXPECT_EQ(SerialNumberText(c), "0A1B");
}

TEST(TextConversion, ValidUtf8PassesUnchanged) {
  const std::string czech = "Příliš žluťoučký kůň úpěl ďábelské ódy €𝄞";
  EXPECT_EQ(ToUtf8Text(czech), czech);
  EXPECT_EQ(FromUtf8Text(czech), czech);
  EXPECT_EQ(ToUtf8Text(""), "");
}

TEST(TextConversion, InvalidSequencesAreReplacedOncePerBrokenSequence) {
  EXPECT_EQ(FromUtf8Text("a\xFF"
                         "b"),
            "a?b");
  EXPECT_EQ(ToUtf8Text("a\xFF"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A truncated three-byte sequence is one broken sequence.
  EXPECT_EQ(FromUtf8Text("\xE2\x82"
                         "A"),
            "?A");
  // Overlong forms, surrogates and code points above U+10FFFF are invalid.
  EXPECT_EQ(FromUtf8Text("\xC0\xAF"), "??");
  EXPECT_EQ(FromUtf8Text("\xED\xA0\x80"), "???");
  EXPECT_EQ(FromUtf8Text("\xF4\x90\x80\x80"), "????");
  // A sequence cut off at the end of the text.
  EXPECT_EQ(FromUtf8Text("x\xF0\x9F\x98"), "x?");
  // A Windows-1250 text (not UTF-8) never passes through unchanged.
  EXPECT_EQ(FromUtf8Text("\x9Elu\x9Dou\xE8k\xFD"), "?lu?ou?k?");
}

TEST(TextHelpers, TrimRemovesBlanksAndControlCharactersOnly) {
  EXPECT_EQ(TrimText(" \t\r\n/tmp/a b.pdf\x01 "), "/tmp/a b.pdf");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");  // no-break space is text
}

TEST(TextHelpers, SameTextFoldsAsciiOnly) {
  EXPECT_TRUE(SameTextAscii("Test CA", "TEST ca"));
  EXPECT_FALSE(SameTextAscii("Test CA", "Test CA "));
  EXPECT_FALSE(SameTextAscii("Čeněk", "čeněk"));
  EXPECT_TRUE(SameTextAscii("Čeněk", "ČENěK"));
  EXPECT_FALSE(SameTextAscii("[", "{"));  // '[' + 32 is '{', not a letter pair
}

TEST(ErrorDisplay, FullStopRule) {
  EXPECT_EQ(ApplicationErrorText("Certfikát nenalezen"), "Certfikát nenalezen.");
  EXPECT_EQ(ApplicationErrorText("Hotovo."), "Hotovo.");
  EXPECT_EQ(ApplicationErrorText("Soubor \"a\" nenalezen"), "Soubor \"a\" nenalezen.");
  EXPECT_EQ(ApplicationErrorText("ends with quote\""), "ends with quote\"");
  EXPECT_EQ(ApplicationErrorText("ends with dash-"), "ends with dash-");
  EXPECT_EQ(ApplicationErrorText("ends with slash/"), "ends with slash/.");
  EXPECT_EQ(ApplicationErrorText("adresář"), "adresář.");
  EXPECT_EQ(ApplicationErrorText(""), "");
}

TEST(ErrorDisplay, TitleIsTheExecutableNameWithoutExtension) {
  EXPECT_EQ(ApplicationTitle("/opt/tavra/tavrapdfsg"), "tavrapdfsg");
  EXPECT_EQ(ApplicationTitle("C/tavrapdfsg.exe"), "tavrapdfsg");
  EXPECT_EQ(ApplicationTitle("/a.b/tavra.pdf.sg"), "tavra.pdf");
  EXPECT_EQ(ApplicationTitle("tavrapdfsg"), "tavrapdfsg");
}

// A fake xdg-open on PATH records the arguments it got, one per line.
class ShellOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    old_path_ = path != nullptr ? path : "";
    bin_ = dir_.MakeDir("bin");
    record_ = dir_.File("record.txt");
    const std::string script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                               record_ + ".part'\nmv '" + record_ + ".part' '" + record_ + "'\n";
    const std::string opener = dir_.Write("bin/xdg-open", script);
    ::chmod(opener.c_str(), 0755);
    ::setenv("PATH", (bin_ + ":" + old_path_).c_str(), 1);
  }
  void TearDown() override { ::setenv("PATH", old_path_.c_str(), 1); }

  std::string WaitForRecord() {
    for (int i = 0; i < 500 && !platform::FileExists(record_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return tavra_test::ReadFile(record_);
  }

  tavra_test::ScratchDir dir_;
  std::string old_path_, bin_, record_;
};

TEST_F(ShellOpenTest, FileIsOpenedByItsAbsolutePathAsOneArgument) {
  const std::string file = dir_.Write("my file \"quoted\".pdf", "%PDF");
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.Path());
  const bool started = ShellOpenFile("./my file \"quoted\".pdf");
  std::filesystem::current_path(cwd);
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForRecord(), file + "\n");
}

TEST_F(ShellOpenTest, UrlIsPassedAsGiven) {
  ASSERT_TRUE(ShellOpen("https://example.org/a?b=c d"));
  EXPECT_EQ(WaitForRecord(), "https://example.org/a?b=c d\n");
}

TEST(ShellOpen, MissingOpenerReportsFailure) {
  const char* path = std::getenv("PATH");
  const std::string old = path != nullptr ? path : "";
  tavra_test::ScratchDir empty;
  ::setenv("PATH", empty.Path().c_str(), 1);
  EXPECT_FALSE(ShellOpen("/tmp/x.pdf"));
  ::setenv("PATH", old.c_str(), 1);
}

}  // namespace
}  // namespace tavra
