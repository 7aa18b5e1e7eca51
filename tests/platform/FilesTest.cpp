#include "platform/PlatformFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tavra-files-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    std::filesystem::remove_all(path_);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

size_t EntriesIn(const std::string& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

TEST(TempFiles, CreatesDistinctEmptyFiles) {
  TempDir dir;
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
  TempDir dir;
  WriteText(dir.File("in.pdf"), "new content");
  WriteText(dir.File("out.pdf"), "old");
  chmod(dir.File("out.pdf").c_str(), 0640);
  std::string error;
  ASSERT_TRUE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("out.pdf"), error)) << error;
  EXPECT_EQ(ReadAll(dir.File("out.pdf")), "new content");
  struct stat st {};
  stat(dir.File("out.pdf").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(EntriesIn(dir.Path()), 2u);
}

TEST(ReplaceFileWithCopy, FollowsSymlinkAndKeepsIt) {
  TempDir dir;
  WriteText(dir.File("in.pdf"), "signed");
  WriteText(dir.File("real.pdf"), "old");
  std::filesystem::create_symlink("real.pdf", dir.File("link.pdf"));
  std::string error;
  ASSERT_TRUE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("link.pdf"), error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.pdf")));
  EXPECT_EQ(ReadAll(dir.File("real.pdf")), "signed");
}

TEST(ReplaceFileWithCopy, FailureLeavesTargetUntouched) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  TempDir dir;
  WriteText(dir.File("in.pdf"), "new");
  std::filesystem::create_directory(dir.File("locked"));
  WriteText(dir.File("locked/out.pdf"), "old");
  chmod(dir.File("locked").c_str(), 0500);
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy(dir.File("in.pdf"), dir.File("locked/out.pdf"), error));
  EXPECT_FALSE(error.empty());
  chmod(dir.File("locked").c_str(), 0700);
  EXPECT_EQ(ReadAll(dir.File("locked/out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.File("locked")), 1u);
}

// Fails for root as well: the first page of /proc/self/mem cannot be read (EIO).
TEST(ReplaceFileWithCopy, UnreadableSourceLeavesTargetAndNoStaging) {
  TempDir dir;
  WriteText(dir.File("out.pdf"), "old");
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy("/proc/self/mem", dir.File("out.pdf"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadAll(dir.File("out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ReplaceFileWithCopy, MissingSourceFailsWithoutTouchingTarget) {
  TempDir dir;
  WriteText(dir.File("out.pdf"), "old");
  std::string error;
  EXPECT_FALSE(ReplaceFileWithCopy(dir.File("missing.pdf"), dir.File("out.pdf"), error));
  EXPECT_EQ(ReadAll(dir.File("out.pdf")), "old");
  EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ReplaceFileWithCopy, MissingTargetFolderFails) {
  TempDir dir;
  WriteText(dir.File("in.pdf"), "new");
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
