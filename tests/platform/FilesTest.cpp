#include "platform/PlatformFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

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

TEST(StagingFile, HasNoNameUntilTheCommitAndAFailedRenameLeavesNone) {
  ScratchDir dir;
  WriteFile(dir.File("out.pdf"), "old");
  StagingFile staging;
  std::string error;
  ASSERT_TRUE(CreateStagingFile(dir.File("out.pdf"), staging, error)) << error;
  EXPECT_TRUE(staging.path.empty());
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
  ASSERT_EQ(write(staging.fd, "new", 3), 3);
  ASSERT_TRUE(CommitStagingFile(staging, error)) << error;
  EXPECT_EQ(ReadFile(dir.File("out.pdf")), "new");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);

  // A folder in the way makes the final rename fail after the link was made.
  std::filesystem::create_directory(dir.File("taken"));
  ASSERT_TRUE(CreateStagingFile(dir.File("taken"), staging, error)) << error;
  EXPECT_FALSE(CommitStagingFile(staging, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(EntriesIn(dir.Path()), 2u);
  EXPECT_EQ(staging.fd, -1);
}

TEST(StagingFile, NamedOneRemovesOnlyStaleLeftoversOfDeadRuns) {
  const tavra_test::ScopedEnv named("TAVRA_NAMED_STAGING_FOR_TESTING", "1");
  ScratchDir dir;
  const auto old_file = [&](const std::string& name) {
    WriteFile(dir.File(name), "left");
    const timespec hour_ago[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    utimensat(AT_FDCWD, dir.File(name).c_str(), hour_ago, 0);
  };
  old_file(".a.pdf.tmp-tavra-Stale1");    // a dead run's, of another output
  old_file(".out.pdf.tmp-tavra-Held01");  // a live run's that waits
  old_file(".out.pdf.tmp-tavra-x");       // not our pattern
  WriteFile(dir.File(".out.pdf.tmp-tavra-Fresh1"), "newer than this run");
  const int held = open(dir.File(".out.pdf.tmp-tavra-Held01").c_str(), O_RDWR | O_CLOEXEC);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(held, F_OFD_SETLK, &lock), 0);

  StagingFile staging;
  std::string error;
  ASSERT_TRUE(CreateStagingFile(dir.File("out.pdf"), staging, error)) << error;
  EXPECT_EQ(FileNameOf(staging.path).rfind(".out.pdf.tmp-tavra-", 0), 0u) << staging.path;
  EXPECT_EQ(DirectoryOf(staging.path), dir.Path());
  EXPECT_FALSE(FileExists(dir.File(".a.pdf.tmp-tavra-Stale1")));
  EXPECT_TRUE(FileExists(dir.File(".out.pdf.tmp-tavra-Held01")));
  EXPECT_TRUE(FileExists(dir.File(".out.pdf.tmp-tavra-x")));
  EXPECT_TRUE(FileExists(dir.File(".out.pdf.tmp-tavra-Fresh1")));
  close(held);
  const std::string path = staging.path;
  AbandonStagingFile(staging);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(EntriesIn(dir.Path()), 3u);
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
