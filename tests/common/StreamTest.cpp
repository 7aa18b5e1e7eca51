#include "toolkit/common/CvStream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "tests/support/TestSupport.h"

namespace corvane {
namespace {

TEST(MemoryStream, ReadWriteSeekAndGrow) {
  TOvMemoryStream s;
  s.Write("hello world");
  EXPECT_EQ(s.Size(), 11);
  s.SetPosition(6);
  s.Write("WORLD!");
  EXPECT_EQ(s.Data(), "hello WORLD!");
  s.Seek(-6, TSeekOrigin::soEnd);
  EXPECT_EQ(s.ReadString(100), "WORLD!");
  EXPECT_EQ(s.ReadString(1), "");
  // Writing past the end fills the gap with zero bytes.
  s.SetPosition(14);
  s.Write("x");
  EXPECT_EQ(s.Data(), std::string("hello WORLD!\0\0x", 15));
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
}

TEST(MemoryStream, ReadBufferFailsWhenShort) {
  TOvMemoryStream s(std::string("abc"));
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 4), EStreamError);
}

// Random reads and writes against a file stream and a memory stream must agree:
// the file stream's buffer must never lose a write or serve stale bytes.
TEST(FileStream, AgreesWithMemoryStreamUnderRandomAccess) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.File("random.bin");
  std::mt19937 rng(1234);
  TOvMemoryStream mem;
  {
    TOvFileStream file(path, TFileMode::fmCreate);
    for (int step = 0; step < 3000; ++step) {
      const int op = rng() % 4;
      const int64_t size = mem.Size();
      const int64_t pos = size == 0 ? 0 : static_cast<int64_t>(rng() % (size + 100));
      if (op == 0 || op == 1) {
        // Sizes around the buffer size exercise the direct-write path too.
        const size_t len = (rng() % 10 == 0) ? 70000 + rng() % 1000 : rng() % 300;
        std::string data(len, '\0');
        for (auto& c : data) c = static_cast<char>(rng());
        mem.SetPosition(pos);
        mem.Write(data);
        file.SetPosition(pos);
        file.Write(data);
      } else if (op == 2) {
        const size_t len = rng() % 100000;
        mem.SetPosition(pos);
        file.SetPosition(pos);
        ASSERT_EQ(file.ReadString(len), mem.ReadString(len)) << "step " << step;
      } else if (rng() % 20 == 0) {
        const int64_t new_size = size / 2;
        mem.SetSize(new_size);
        file.SetSize(new_size);
      }
      ASSERT_EQ(file.Size(), mem.Size());
    }
    file.Close();
  }
  TOvFileStream reread(path, TFileMode::fmOpenRead);
  EXPECT_EQ(reread.ReadString(static_cast<size_t>(reread.Size())), mem.Data());
}

TEST(FileStream, PositionsBeyondFourGigabytesAreKept) {
  tavra_test::ScratchDir dir;
  const std::string path = dir.File("sparse.bin");
  const int64_t far = (int64_t{5} << 30) + 17;
  {
    TOvFileStream file(path, TFileMode::fmCreate);
    file.SetPosition(far);
    file.Write("tail");
    file.Close();
  }
  TOvFileStream file(path, TFileMode::fmOpenRead);
  EXPECT_EQ(file.Size(), far + 4);
  file.Seek(-4, TSeekOrigin::soEnd);
  EXPECT_EQ(file.ReadString(4), "tail");
}

TEST(FileStream, OpenErrorsNameTheFile) {
  try {
    TOvFileStream file("/no/such/dir/x.pdf", TFileMode::fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \"/no/such/dir/x.pdf\""),
              std::string::npos);
  }
}

TEST(Stream, CopyFromWholeSourceStartsAtTheBeginning) {
  TOvMemoryStream source(std::string(3 << 20, 'q'));
  source.SetPosition(100);
  TOvMemoryStream target;
  EXPECT_EQ(target.CopyFrom(source, 0), 3 << 20);
  EXPECT_EQ(target.Data(), source.Data());
}

}  // namespace
}  // namespace corvane
