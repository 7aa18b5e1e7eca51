#include "app/core/RKSIni.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"

namespace tavra {
namespace {

using tavra_test::ScopedEnv;

namespace fs = std::filesystem;

// Entries in the folder: saving must leave no staging file behind.
size_t EntryCount(const tavra_test::ScratchDir& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path())) ++n;
  return n;
}

TPdfSignerOptions Read(const std::string& path) {
  TPdfSignerOptions options;
  options.CertIssuer = "stale";
  options.SigType = 1;
  ReadOptions(path, options);
  return options;
}

int SigTypeOf(const tavra_test::ScratchDir& dir, const std::string& value) {
  return Read(dir.Write("t.ini", "[options]\r\nsigtype=" + value + "\r\n")).SigType;
}

TEST(SettingsFile, MissingFileReadsDefaultsAndStaysMissing) {
  tavra_test::ScratchDir dir;
  const TPdfSignerOptions options = Read(dir.File("none.ini"));
  EXPECT_EQ(options.CertIssuer, "");
  EXPECT_EQ(options.CertSerial, "");
  EXPECT_EQ(options.CertCommonName, "");
  EXPECT_EQ(options.SigReason, "");
  EXPECT_EQ(options.SigType, 0);
  EXPECT_FALSE(fs::exists(dir.File("none.ini")));
}

TEST(SettingsFile, SigTypeIsClampedAndAcceptsHex) {
  tavra_test::ScratchDir dir;
  EXPECT_EQ(SigTypeOf(dir, "7"), 2);
  EXPECT_EQ(SigTypeOf(dir, "-1"), 0);
  EXPECT_EQ(SigTypeOf(dir, "abc"), 0);
  EXPECT_EQ(SigTypeOf(dir, "0x2"), 2);
  EXPECT_EQ(SigTypeOf(dir, "0X1"), 1);
  EXPECT_EQ(SigTypeOf(dir, "  1  "), 1);
  EXPECT_EQ(SigTypeOf(dir, "1.0"), 0);
  EXPECT_EQ(SigTypeOf(dir, "99999999999"), 0);  // out of range: the default
  EXPECT_EQ(SigTypeOf(dir, "0x"), 0);
}

TEST(SettingsFile, KeyMatchingRules) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.Write("k.ini",
                                     "[OPTIONS]\n"
                                     "certissuer =Blank Before Equals\n"
                                     "CERTSERIAL=  0A 1B  \t\n"
                                     "certcn=First\n"
                                     "certcn=Second\n"
                                     "sigreason=\n");
  const TPdfSignerOptions options = Read(path);
  EXPECT_EQ(options.CertIssuer, "");       // "certissuer " is another key
  EXPECT_EQ(options.CertSerial, "0A 1B");  // capitals match; blanks trimmed
  EXPECT_EQ(options.CertCommonName, "First");
  EXPECT_EQ(options.SigReason, "");
}

TEST(SettingsFile, WriteAndReadBack) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.File("rt.ini");
  TPdfSignerOptions options;
  options.CertIssuer = "Test CA";
  options.CertSerial = "01 02 03";
  options.CertCommonName = "Jan Nov\xC3\xA1k";
  options.SigReason = "Schv\xC3\xA1leno";
  options.SigType = 2;
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path),
            "[options]\r\ncertissuer=Test CA\r\ncertserial=01 02 03\r\n"
            "certcn=Jan Nov\xC3\xA1k\r\nsigreason=Schv\xC3\xA1leno\r\nsigtype=2\r\n");
  const TPdfSignerOptions back = Read(path);
  EXPECT_EQ(back.CertCommonName, options.CertCommonName);
  EXPECT_EQ(back.SigReason, options.SigReason);
  EXPECT_EQ(back.SigType, 2);
  EXPECT_EQ(EntryCount(dir), 1u);  // no staging file left behind
}

// "pss" is written only when set: a file saved without it stays as before.
TEST(SettingsFile, PssKeyOnlyWhenSet) {
  tavra_test::ScratchDir dir;
  EXPECT_FALSE(Read(dir.File("none.ini")).UsePSS);
  const std::string path = dir.Write("p.ini", "[options]\r\npss=1\r\nsigtype=1\r\n");
  TPdfSignerOptions options = Read(path);
  EXPECT_TRUE(options.UsePSS);
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), "[options]\r\npss=1\r\nsigtype=1\r\n");
  options.UsePSS = false;
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), "[options]\r\nsigtype=1\r\n");
  EXPECT_FALSE(Read(path).UsePSS);
}

// The timestamp keys are written only when set; absent they stay absent.
TEST(SettingsFile, TimestampKeysOnlyWhenSet) {
  tavra_test::ScratchDir dir;
  const std::string plain = "[options]\r\nsigtype=1\r\n";
  const std::string path = dir.Write("t.ini", plain);
  TPdfSignerOptions options = Read(path);
  EXPECT_TRUE(options.Level.empty() && options.TSA.empty() && options.TSAUser.empty());
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), plain);
  options.Level = "B-T";
  options.TSA = "http://127.0.0.1:1/rfc3161";
  options.TSAUser = "signer";
  WriteOptions(path, options);
  const TPdfSignerOptions back = Read(path);
  EXPECT_EQ(back.Level, "B-T");
  EXPECT_EQ(back.TSA, "http://127.0.0.1:1/rfc3161");
  EXPECT_EQ(back.TSAUser, "signer");
  options.Level.clear();
  options.TSA.clear();
  options.TSAUser.clear();
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), plain);
}

TEST(SettingsFile, EmptyReasonRemovesItsLine) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.Write("r.ini", "[options]\r\nsigreason=Old\r\nsigtype=1\r\n");
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  TPdfSignerOptions options;
  options.SigType = 1;
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path), "[options]\r\nsigtype=1\r\n");
  // Replaced by a rename, never truncated and rewritten in place.
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(EntryCount(dir), 1u);
  EXPECT_EQ(Read(path).SigReason, "");
}

TEST(SettingsFile, LayoutIsNormalisedOnWriteBack) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.Write("layout.ini",
                                     "; written by hand\n"
                                     "\n"
                                     "  [not a header]\n"
                                     "[Options]\n"
                                     "certissuer=CA\n"
                                     "\n"
                                     "other=1\n"
                                     "[second]\r"
                                     "a=b\r\n"
                                     "\r\n"
                                     "[OPTIONS]\n"
                                     "sigtype=1");
  {
    TRKSIniFile ini(path);
    ini.WriteString("options", "certcn", "Jan");
    ini.UpdateFile();
  }
  EXPECT_EQ(tavra_test::ReadFile(path),
            "; written by hand\r\n"
            "\r\n"
            "  [not a header]\r\n"
            "[Options]\r\n"
            "certissuer=CA\r\n"
            "other=1\r\n"
            "sigtype=1\r\n"
            "certcn=Jan\r\n"
            "\r\n"
            "[second]\r\n"
            "a=b\r\n");
}

TEST(SettingsFile, ReadOnlyFileIsNeverWritten) {
  tavra_test::ScratchDir dir;
  const std::string original = "[options]\nsigtype=1\n\n";
  const std::string path = dir.Write("ro.ini", original);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TPdfSignerOptions options;
  options.SigReason = "changed";
  EXPECT_NO_THROW(WriteOptions(path, options));
  EXPECT_EQ(tavra_test::ReadFile(path), original);
  EXPECT_EQ(Read(path).SigReason, "");
}

TEST(SettingsFile, ReadingDoesNotRewriteTheFile) {
  tavra_test::ScratchDir dir;
  // A layout that a write-back would change (LF, blank line in the section).
  const std::string original = "[options]\nsigtype=1\n\ncertcn=X\n";
  const std::string path = dir.Write("keep.ini", original);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  Read(path);
  {
    TRKSIniFile ini(path);
    std::vector<std::string> names;
    ini.ReadSections(names);
    ini.EraseSection("no such section");  // changes nothing
    EXPECT_FALSE(ini.Image().Modified());
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(tavra_test::ReadFile(path), original);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by an identical copy
}

TEST(SettingsFile, LineBreaksInValuesCannotInjectKeys) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.File("inject.ini");
  TPdfSignerOptions options;
  options.SigReason = "first line\r\nsigtype=2\n[other]";
  options.SigType = 1;
  WriteOptions(path, options);
  const TPdfSignerOptions back = Read(path);
  EXPECT_EQ(back.SigType, 1);
  EXPECT_EQ(back.SigReason, "first line  sigtype=2 [other]");
  TRKSIniFile ini(path);
  std::vector<std::string> sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections, std::vector<std::string>{"options"});
}

TEST(SettingsFile, SaveErrorReachesTheCaller) {
  tavra_test::ScratchDir dir;
  dir.Write("plain", "x");
  // The folder of the settings file is a regular file: nothing can be created there.
  const std::string path = dir.File("plain/settings.ini");
  TPdfSignerOptions options;
  options.SigReason = "x";
  try {
    WriteOptions(path, options);
    FAIL() << "no exception";
  } catch (const EIniFileError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + path + "\""), std::string::npos)
        << e.what();
  }
  // Closing a modified handle that cannot be saved must not raise.
  EXPECT_NO_THROW({
    TRKSIniFile ini(path);
    ini.WriteString("options", "k", "v");
  });
}

TEST(SettingsFile, BinaryOrSpecialFilesGiveClearErrors) {
  tavra_test::ScratchDir dir;
  const std::string binary = std::string("[options]\nsigtype=1\n\0\x01\x02", 23);
  const std::string path = dir.Write("bin.ini", binary);
  try {
    Read(path);
    FAIL() << "no exception";
  } catch (const EIniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". It is not a text file.");
  }
  TPdfSignerOptions options;
  EXPECT_THROW(WriteOptions(path, options), EIniFileError);
  EXPECT_EQ(tavra_test::ReadFile(path), binary);  // untouched
  fs::create_directory(dir.File("folder.ini"));
  EXPECT_THROW(Read(dir.File("folder.ini")), EIniFileError);
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0600), 0);
  EXPECT_THROW(Read(dir.File("fifo.ini")), EIniFileError);  // and does not hang
}

TEST(SettingsFile, MalformedUtf8ReadsAsQuestionMarks) {
  tavra_test::ScratchDir dir;
  const std::string path =
      dir.Write("enc.ini", "[options]\r\nsigreason=ok\xC5\xA1 bad\xFF\xFE end\r\n");
  EXPECT_EQ(Read(path).SigReason, "ok\xC5\xA1 bad?? end");
}

TEST(SharedImage, TwoHandlesShareOneImage) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.File("shared.ini");
  const size_t live = SharedIniFileCount();
  ::mkdir(dir.File("sub").c_str(), 0700);
  {
    TRKSIniFile a(path);
    TRKSIniFile b(dir.Path() + "/sub/../././shared.ini");
    EXPECT_EQ(&a.Image(), &b.Image());
    EXPECT_EQ(a.Image().ReferenceCount(), 2);
    EXPECT_EQ(SharedIniFileCount(), live + 1);
    a.WriteString("Options", "certcn", "Shared");
    EXPECT_EQ(b.ReadString("OPTIONS", "CERTCN", ""), "Shared");
    {
      TRKSIniFile c(path);
      EXPECT_EQ(c.ReadString("options", "certcn", ""), "Shared");
    }
    EXPECT_FALSE(fs::exists(path));  // b still holds the image
  }
  EXPECT_EQ(SharedIniFileCount(), live);
  EXPECT_EQ(tavra_test::ReadFile(path),
            "[Options]\r\ncertcn=Shared\r\n");  // written by the last close
}

TEST(SharedImage, RelativePathsShareWithAbsoluteOnes) {
  tavra_test::ScratchDir dir;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.Path());
  {
    TRKSIniFile relative("./rel.ini");
    TRKSIniFile absolute(dir.File("rel.ini"));
    EXPECT_EQ(&relative.Image(), &absolute.Image());
    EXPECT_EQ(relative.FileName(), dir.File("rel.ini"));
  }
  fs::current_path(cwd);
}

// Lower-casing the path, as on Windows, would merge two different files here.
TEST(SharedImage, LetterCaseOfThePathNamesAnotherFile) {
  tavra_test::ScratchDir dir;
  const std::string upper = dir.Write("Tavra.ini", "[options]\r\ncertcn=Upper\r\n");
  const std::string lower = dir.Write("tavra.ini", "[options]\r\ncertcn=Lower\r\n");
  TRKSIniFile a(upper);
  TRKSIniFile b(lower);
  EXPECT_NE(&a.Image(), &b.Image());
  EXPECT_EQ(a.ReadString("options", "certcn", ""), "Upper");
  EXPECT_EQ(b.ReadString("options", "certcn", ""), "Lower");
  EXPECT_EQ(a.FileName(), upper);  // not lower-cased
}

TEST(SharedImage, BareNamesGoToTheConfigFolder) {
  tavra_test::ScratchDir dir;
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path().c_str());
    EXPECT_EQ(IniRegistryKey("bare.ini"), dir.File("bare.ini"));
    EXPECT_EQ(IniRegistryKey(""), dir.File("win.ini"));
    TPdfSignerOptions options;
    options.CertCommonName = "X";
    WriteOptions("bare.ini", options);
    EXPECT_TRUE(fs::exists(dir.File("bare.ini")));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", dir.Path().c_str());
    EXPECT_EQ(IniRegistryKey("bare.ini"), dir.File(".config/bare.ini"));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/is/ignored");
    ScopedEnv home("HOME", nullptr);
    try {
      IniRegistryKey("bare.ini");
      FAIL() << "no exception";
    } catch (const EIniFileError& e) {
      EXPECT_STREQ(e.what(), "Unable to retrieve Windows directory");
    }
  }
}

TEST(SettingsPath, BesideTheExecutableOrInTheConfigFolder) {
  tavra_test::ScratchDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.File("config").c_str());
  EXPECT_EQ(SettingsFilePathFor(dir.File("tavrapdfsg")), dir.File("tavrapdfsg.ini"));
  EXPECT_EQ(SettingsFilePathFor(dir.File("tavrapdfsg.exe")), dir.File("tavrapdfsg.ini"));
  // A folder that cannot be written (here: one that does not exist) and no file in it.
  EXPECT_EQ(SettingsFilePathFor("/nonexistent-tavra-folder/bin/tavrapdfsg"),
            dir.File("config/tavrapdfsg/tavrapdfsg.ini"));
  EXPECT_EQ(SettingsFilePathFor(""), dir.File("config/tavrapdfsg/tavrapdfsg.ini"));
  // The running test binary sits in a writable build folder.
  const std::string own = SettingsFilePath();
  EXPECT_EQ(fs::path(own).filename(), "test_appcore.ini");
  EXPECT_EQ(fs::path(own).parent_path(), fs::canonical("/proc/self/exe").parent_path());
}

TEST(SettingsPath, WritingCreatesTheConfigFolder) {
  tavra_test::ScratchDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.File("config").c_str());
  const std::string path = SettingsFilePathFor("/nonexistent-tavra-folder/tavrapdfsg");
  TPdfSignerOptions options;
  options.SigType = 1;
  WriteOptions(path, options);
  EXPECT_EQ(Read(path).SigType, 1);
}

TEST(IniFile, SectionOperations) {
  tavra_test::ScratchDir dir;
  const std::string path =
      dir.Write("ops.ini", "[a]\r\nx=1\r\nnot a pair\r\nY=2\r\n[B]\r\nz=3\r\n[a]\r\nw=4\r\n");
  TRKSIniFile ini(path);
  std::vector<std::string> list;
  ini.ReadSections(list);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "B"}));
  ini.ReadSection("A", list);
  EXPECT_EQ(list, (std::vector<std::string>{"x", "Y", "w"}));
  ini.ReadSectionValues("a", list);
  EXPECT_EQ(list, (std::vector<std::string>{"x=1", "not a pair", "Y=2", "w=4"}));
  EXPECT_TRUE(ini.SectionExists("b"));
  EXPECT_FALSE(ini.SectionExists("c"));
  EXPECT_TRUE(ini.ValueExists("a", "y"));
  EXPECT_FALSE(ini.ValueExists("a", "not a pair"));
  ini.DeleteKey("a", "Y");
  ini.EraseSection("b");
  EXPECT_TRUE(ini.Image().Modified());
  ini.WriteString("", "", "");  // all empty: write-back
  EXPECT_FALSE(ini.Image().Modified());
  EXPECT_EQ(tavra_test::ReadFile(path), "[a]\r\nx=1\r\nnot a pair\r\nw=4\r\n");
}

TEST(IniFile, TypedValues) {
  tavra_test::ScratchDir dir;
  TRKSIniFile ini(dir.File("typed.ini"));
  ini.WriteBool("s", "on", true);
  ini.WriteBool("s", "off", false);
  EXPECT_EQ(ini.ReadString("s", "on", ""), "1");
  EXPECT_TRUE(ini.ReadBool("s", "on", false));
  EXPECT_FALSE(ini.ReadBool("s", "off", true));
  EXPECT_TRUE(ini.ReadBool("s", "missing", true));
  ini.WriteInteger("s", "neg", -42);
  EXPECT_EQ(ini.ReadString("s", "neg", ""), "-42");
  EXPECT_EQ(ini.ReadInteger("s", "neg", 0), -42);
  ini.WriteString("s", "hex", "$ff");
  EXPECT_EQ(ini.ReadInteger("s", "hex", 0), 255);

  ini.WriteFloat("s", "f", 1.25);
  EXPECT_EQ(ini.ReadString("s", "f", ""), "1.25");
  EXPECT_EQ(ini.ReadFloat("s", "f", 0), 1.25);
  ini.WriteString("s", "comma", "1,5");
  EXPECT_EQ(ini.ReadFloat("s", "comma", -1), -1);  // "." only, never the locale's
  ini.WriteString("s", "plus", "+2.5");
  EXPECT_EQ(ini.ReadFloat("s", "plus", 0), 2.5);
  ini.WriteString("s", "inf", "inf");
  EXPECT_EQ(ini.ReadFloat("s", "inf", 7), 7);

  const double when = corvane::EncodeDateTime(2026, 12, 8, 9, 5, 3, 0);
  ini.WriteDateTime("s", "dt", when);
  EXPECT_EQ(ini.ReadString("s", "dt", ""), "2026-12-08 09:05:03");
  EXPECT_DOUBLE_EQ(ini.ReadDateTime("s", "dt", 0), when);
  ini.WriteDate("s", "d", when);
  EXPECT_EQ(ini.ReadDate("s", "d", 0), corvane::EncodeDate(2026, 12, 8));
  ini.WriteTime("s", "t", when);
  EXPECT_DOUBLE_EQ(ini.ReadTime("s", "t", 0), corvane::EncodeTime(9, 5, 3, 0));
  ini.WriteString("s", "bad", "2026-02-30");
  EXPECT_EQ(ini.ReadDate("s", "bad", -5), -5);

  corvane::TOvMemoryStream in(std::string("\x00\x01\xFE", 3));
  ini.WriteBinaryStream("s", "bin", in);
  EXPECT_EQ(ini.ReadString("s", "bin", ""), "0001FE");
  corvane::TOvMemoryStream out;
  EXPECT_EQ(ini.ReadBinaryStream("s", "bin", out), 3u);
  EXPECT_EQ(out.Data(), std::string("\x00\x01\xFE", 3));
  ini.WriteString("s", "badbin", "0G");
  EXPECT_EQ(ini.ReadBinaryStream("s", "badbin", out), 0u);
}

}  // namespace
}  // namespace tavra
