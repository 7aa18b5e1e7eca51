// `tavrapdf sign` of a large file stopped by a signal at several points:
// nothing may stay beside the output and the input must not change, on the
// nameless staging file and on the named one that file systems without
// nameless files get.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "bench/PdfGenerators.h"
#include "tests/fixtures/StoreFixture.h"

extern char** environ;

using namespace tavra_test;
using tavra_fixture::Store;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

// Where in the run the signal goes: at once, as soon as the staging file is
// open, while it is partly written, once it holds the whole copy.
enum class TPoint { Start, Opened, PartlyWritten, Copied };

class SignalTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new ScratchDir;
    input_ = inputs_->File("large.pdf");
    tavra_bench::WriteLargeStreamPdf(input_, 40);
    input_size_ = static_cast<int64_t>(std::filesystem::file_size(input_));
    input_hash_ = std::hash<std::string>()(ReadFile(input_));
  }
  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
  }

  pid_t StartSign(const std::string& output, bool named) const {
    const std::string command =
        ". " + Quote(Store::Get().File("env.sh")) + " && TMPDIR=" + Quote(dir_.Path()) +
        (named ? " TAVRA_NAMED_STAGING_FOR_TESTING=1" : "") + " exec " + kTool + " sign " +
        Quote(input_) + " " + Quote(output) + " --nssdb " + Quote(Store::Get().Db()) +
        " --issuer 'Tavra Test CA' --serial 1005 --type invisible >/dev/null 2>" +
        Quote(dir_ / "err");
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    return pid;
  }

  // The size of the file the child has open in the output folder, -1 while
  // it has none.
  int64_t StagingSize(pid_t pid) const {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fds, ec)) {
      const std::string link = std::filesystem::read_symlink(entry.path(), ec).string();
      if (ec || link.rfind(out_.Path() + "/", 0) != 0) continue;
      struct stat st {};
      if (::stat(entry.path().c_str(), &st) == 0) return st.st_size;
    }
    return -1;
  }

  // Waits (bounded) until the point is reached or the child is gone.
  void WaitFor(pid_t pid, TPoint point) const {
    if (point == TPoint::Start) return;
    for (int i = 0; i < 200000; ++i) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
          info.si_pid != 0)
        return;
      const int64_t size = StagingSize(pid);
      if (point == TPoint::Opened && size >= 0) return;
      if (point == TPoint::PartlyWritten && size > 0) return;
      if (point == TPoint::Copied && size >= input_size_) return;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  // The child's wait status; a child that runs for minutes is killed and fails.
  static int Reap(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 6000; ++i) {
      if (::waitpid(pid, &status, WNOHANG) == pid) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ADD_FAILURE() << "the signing did not end";
    return status;
  }

  // Signs into out/, sends the signal at the point; returns the status.
  int Interrupt(int signal_number, TPoint point, bool named) const {
    const pid_t pid = StartSign(out_ / "out.pdf", named);
    if (pid <= 0) return -1;
    WaitFor(pid, point);
    ::kill(pid, signal_number);
    return Reap(pid);
  }

  // Either no output at all or the whole signed one (the signal came after
  // the rename), and never anything else; the input unchanged.
  void ExpectNothingLeftBehind(int status, const std::string& what) const {
    const auto left = ListDir(out_.Path());
    const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(finished || WIFSIGNALED(status)) << what << ": status " << status;
    if (finished || !left.empty()) {
      EXPECT_EQ(left, std::vector<std::string>{"out.pdf"})
          << what << ": " << ReadFile(dir_ / "err");
      const std::string output = ReadFile(out_ / "out.pdf");
      EXPECT_GT(static_cast<int64_t>(output.size()), input_size_) << what;
      EXPECT_EQ(std::hash<std::string>()(output.substr(0, input_size_)), input_hash_) << what;
    }
    EXPECT_EQ(std::hash<std::string>()(ReadFile(input_)), input_hash_) << what;
    for (const auto& name : left) std::filesystem::remove(out_ / name);
  }

  static ScratchDir* inputs_;
  static std::string input_;
  static int64_t input_size_;
  static size_t input_hash_;
  ScratchDir dir_;
  ScratchDir out_;
};

ScratchDir* SignalTest::inputs_ = nullptr;
std::string SignalTest::input_;
int64_t SignalTest::input_size_ = 0;
size_t SignalTest::input_hash_ = 0;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGKILL};
constexpr TPoint kPoints[] = {TPoint::Start, TPoint::Opened, TPoint::PartlyWritten, TPoint::Copied};

TEST_F(SignalTest, NamelessStagingLeavesNothingWhateverTheSignal) {
  for (const int signal_number : kSignals) {
    for (const TPoint point : kPoints) {
      const int status = Interrupt(signal_number, point, false);
      ExpectNothingLeftBehind(status, std::string(strsignal(signal_number)) + " at point " +
                                          std::to_string(static_cast<int>(point)));
    }
  }
}

TEST_F(SignalTest, NamedStagingIsRemovedOnTermIntAndHup) {
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    for (const TPoint point : kPoints) {
      const int status = Interrupt(signal_number, point, true);
      ExpectNothingLeftBehind(status, std::string(strsignal(signal_number)) + " at point " +
                                          std::to_string(static_cast<int>(point)));
    }
  }
}

TEST_F(SignalTest, NamedStagingLeftByAKillIsRemovedByTheNextRun) {
  const int status = Interrupt(SIGKILL, TPoint::Copied, true);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the signing ended before the kill";
  const auto left = ListDir(out_.Path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left.front().rfind(".out.pdf.tmp-tavra-", 0), 0u) << left.front();

  // The next run signs into the same folder and takes the leftover away.
  const int next = Reap(StartSign(out_ / "out.pdf", true));
  ASSERT_TRUE(WIFEXITED(next) && WEXITSTATUS(next) == 0) << ReadFile(dir_ / "err");
  EXPECT_EQ(ListDir(out_.Path()), std::vector<std::string>{"out.pdf"});
  EXPECT_EQ(std::hash<std::string>()(ReadFile(input_)), input_hash_);
}

}  // namespace
