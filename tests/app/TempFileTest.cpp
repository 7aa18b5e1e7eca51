// The temporary copy staged beside the output and its guard.
#include "app/core/TempFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

using tavra_test::ListDir;
using tavra_test::ReadFile;

int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

TEST(TempFile, StagedBesideTheOutputAndDeletedUnlessCommitted) {
  // The named staging file, so that the copy can be looked at by its name.
  const tavra_test::ScopedEnv named("TAVRA_NAMED_STAGING_FOR_TESTING", "1");
  tavra_test::ScratchDir dir;
  const std::string output = dir.Write("out.pdf", "old");
  const std::string source = dir.Write("src.pdf", std::string(17 << 20, 'x') + "end");
  std::string path;
  {
    TTempFileGuard temp;
    ASSERT_TRUE(MakeStagingTempFile(output, temp));
    path = temp.Path();
    EXPECT_EQ(platform::DirectoryOf(path), dir.Path());
    EXPECT_EQ(platform::FileNameOf(path).rfind(".out.pdf.tmp", 0), 0u);
    const int in = OpenForReading(source);
    EXPECT_TRUE(temp.CopyFrom(in));  // more than one piece
    ::close(in);
    EXPECT_EQ(ReadFile(path), ReadFile(source));
    TTempFileGuard moved = std::move(temp);
    EXPECT_TRUE(platform::FileExists(path));
  }
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_EQ(ReadFile(output), "old");

  TTempFileGuard none;
  EXPECT_FALSE(MakeStagingTempFile(dir.File("missing/out.pdf"), none));
}

TEST(TempFile, CommitReplacesTheOutputAndTheGuardKeepsItThen) {
  tavra_test::ScratchDir dir;
  const std::string output = dir.Write("out.pdf", "old");
  const std::string source = dir.Write("src.pdf", "new");
  {
    TTempFileGuard temp;
    ASSERT_TRUE(MakeStagingTempFile(output, temp));
    const int in = OpenForReading(source);
    ASSERT_TRUE(temp.CopyFrom(in));
    ::close(in);
    std::string error;
    ASSERT_TRUE(temp.Commit(error)) << error;
  }
  EXPECT_EQ(ReadFile(output), "new");
  EXPECT_EQ(ListDir(dir.Path()).size(), 2u);
}

}  // namespace
}  // namespace tavra
