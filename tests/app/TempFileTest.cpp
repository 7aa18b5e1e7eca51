// The temporary file and its guard.
#include "app/core/TempFile.h"

#include <gtest/gtest.h>

#include "app/core/SignerErrors.h"
#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

TEST(TempFile, MakesAnEmptyCvnFileThatTheGuardDeletes) {
  tavra_test::ScratchDir dir;
  std::string path;
  {
    TTempFileGuard temp = MakeTempFileName(dir.Path());
    path = temp.Path();
    EXPECT_EQ(platform::DirectoryOf(path), dir.Path());
    EXPECT_EQ(platform::FileNameOf(path).rfind("cvn", 0), 0u);
    EXPECT_TRUE(platform::FileExists(path));
    EXPECT_EQ(tavra_test::ReadFile(path), "");
    EXPECT_GE(temp.Descriptor(), 0);
  }
  EXPECT_FALSE(platform::FileExists(path));
}

TEST(TempFile, NamesAreUnique) {
  tavra_test::ScratchDir dir;
  TTempFileGuard a = MakeTempFileName(dir.Path());
  TTempFileGuard b = MakeTempFileName(dir.Path());
  EXPECT_NE(a.Path(), b.Path());
}

TEST(TempFile, ErrorsCarryTheirTexts) {
  try {
    MakeTempFileName("");
    FAIL() << "no error";
  } catch (const ESignerError& e) {
    EXPECT_STREQ(e.what(), "Nemohu zjistit dočasný adresář");
  }
  try {
    MakeTempFileName("/nonexistent-folder-of-tavra");
    FAIL() << "no error";
  } catch (const ESignerError& e) {
    EXPECT_STREQ(e.what(), "Nepodařilo se vygenerovat jméno dočasného souboru");
  }
}

TEST(TempFile, CopyReplacesTheContent) {
  tavra_test::ScratchDir dir;
  const std::string source = dir.Write("src.pdf", std::string(200000, 'x') + "end");
  TTempFileGuard temp = MakeTempFileName(dir.Path());
  ASSERT_TRUE(temp.CopyFrom(source));
  EXPECT_EQ(tavra_test::ReadFile(temp.Path()), tavra_test::ReadFile(source));
  const std::string shorter = dir.Write("short.pdf", "abc");
  ASSERT_TRUE(temp.CopyFrom(shorter));
  EXPECT_EQ(tavra_test::ReadFile(temp.Path()), "abc");
  EXPECT_FALSE(temp.CopyFrom(dir.File("missing")));
}

TEST(TempFile, MovedGuardKeepsOwnership) {
  tavra_test::ScratchDir dir;
  std::string path;
  {
    TTempFileGuard outer;
    {
      TTempFileGuard inner = MakeTempFileName(dir.Path());
      path = inner.Path();
      outer = std::move(inner);
    }
    EXPECT_TRUE(platform::FileExists(path));
  }
  EXPECT_FALSE(platform::FileExists(path));
}

}  // namespace
}  // namespace tavra
