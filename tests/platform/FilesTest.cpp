#include "platform/PlatformFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace platform {
namespace {

using tavra_test::ReadFile;
using tavra_test::ScratchDir;
using tavra_test::WriteFile;

size_t EntriesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(TempFiles, CreatesDistinctEmptyFiles) {
  ScratchDir dir;
  TempFile a, b;
  std::string error;
  ASSERT_TRUE(CreateTempFile(dir.Path(), "cvn", a, error)) << error;
  ASSERT_TRUE(CreateTempFile(dir.Path(), "cvn", b, error)) << error;
  EXPECT_NE(a.path, b.path);
  EXPECT_EQ(FileNameOf(a.path).rfind("cvn", 0), 0u);
  EXPECT_EQ(std::filesystem::file_size(a.path), 0u);
  close(a.fd);
  close(b.fd);
}

TEST(ReplaceFileWithCopy, ReplacesContentKeepsModeAndLeavesNoStaging) {
  ScratchDir dir;
  WriteFile(dir.File("in.pdf"), "new content");
  WriteFile(dir.File("out.pdf"), "old");
  chmod(dir.File("out.pdf").c_str(), 0640);
  std::string error;
  ASSERT_TRUE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("out.pdf"), error)) << error;
  EXPECT_EQ(ReadFile(dir.File("out.pdf")), "new content");
  struct stat st {};
  stat(dir.File("out.pdf").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(EntriesIn(dir.Path()), 2u);
}

TEST(ReplaceFileWithCopy, FollowsSymlinkAndKeepsIt) {
  ScratchDir dir;
  WriteFile(dir.File("in.pdf"), "signed");
  WriteFile(dir.File("real.pdf"), "old");
  std::filesystem::create_symlink("real.pdf", dir.File("link.pdf"));
  std::string error;
  ASSERT_TRUE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("link.pdf"), error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.pdf")));
  EXPECT_EQ(ReadFile(dir.File("real.pdf")), "signed");
}

TEST(ReplaceFileWithCopy, FailureLeavesTargetUntouched) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  ScratchDir dir;
  WriteFile(dir.File("in.pdf"), "new");
  std::filesystem::create_directory(dir.File("locked"));
  WriteFile(dir.File("locked/out.pdf"), "old");
  chmod(dir.File("locked").c_str(), 0500);
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("locked/out.pdf"), error));
  EXPECT_FALSE(error.empty());
  chmod(dir.File("locked").c_str(), 0700);
  EXPECT_EQ(ReadFile(dir.File("locked/out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.File("locked")), 1u);
}

// Fails for root as well: the first page of /proc/self/mem cannot be read (EIO).
TEST(ReplaceFileWithCopy, UnreadableSourceLeavesTargetAndNoStaging) {
  ScratchDir dir;
  WriteFile(dir.File("out.pdf"), "old");
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy("/proc/self/mem", dir.File("out.pdf"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(dir.File("out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ReplaceFileWithCopy, MissingSourceFailsWithoutTouchingTarget) {
  ScratchDir dir;
  WriteFile(dir.File("out.pdf"), "old");
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy(dir.File("missing.pdf"), dir.File("out.pdf"), error));
  EXPECT_EQ(ReadFile(dir.File("out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ReplaceFileWithCopy, MissingTargetFolderFails) {
  ScratchDir dir;
  WriteFile(dir.File("in.pdf"), "new");
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("nowhere/out.pdf"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(Paths, AbsolutePathIsCleanedButKeepsLetterCase) {
  EXPECT_EQ(AbsolutePath("/a/b/../C/./d.ini"), "/a/C/d.ini");
  EXPECT_EQ(AbsolutePath("/a//b/"), "/a/b");
  EXPECT_EQ(DirectoryOf("/x/y.ini"), "/x");
  EXPECT_EQ(DirectoryOf("y.ini"), "");
  EXPECT_EQ(FileNameOf("/x/y.ini"), "y.ini");
}

}  // namespace
}  // namespace platform
