// Opening the hand-made hostile PDFs of tests/fixtures/make_hostile_pdfs.py:
// the time and peak memory of each, which must stay well under a second and
// near the size of the file.
//
// The inputs are generated in a temporary folder at run time (python3). Each
// case runs in a child process so that its peak memory (getrusage) is its own.
// Opening means what a signing or "tavrapdf info" does first: the document is
// opened through a file-backed working stream, then every object of the file
// is resolved.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/PlatformFiles.h"
#include "toolkit/pdf/CvPDF.h"

using namespace corvane;

namespace {

std::string g_folder;

struct TMeasure {
  double seconds = 0;
  // User and system time of the child: what the machine's load does not change.
  double cpuSeconds = 0;
  long peakKiB = 0;
  int64_t objects = 0;
  int64_t warnings = 0;
  bool opened = false;
};

TMeasure OpenAndResolve(const std::string& input) {
  const auto start = std::chrono::steady_clock::now();
  TMeasure m;
  TOvFileStream in(input, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  document.SetOnCreateTemporaryStream([](TOvPDFDocument*, TOvStream*& stream, bool& freeOnClose) {
    platform::TempFile temp;
    std::string error;
    if (!platform::CreateTempFile(g_folder, "work", temp, error)) throw std::runtime_error(error);
    ::unlink(temp.path.c_str());
    stream = new TOvFileStream(temp.fd, temp.path);
    freeOnClose = true;
  });
  try {
    document.Open(in);
    m.opened = true;
  } catch (const EOvPDFError&) {
    // A clear error is a fine outcome for hostile input; its cost is measured too.
  }
  if (m.opened) {
    TOvPDFFile& file = document.File();
    for (size_t i = 0; i < file.ObjectList().size(); ++i) {
      try {
        file.ObjectList()[i]->Resolve();
      } catch (const EOvPDFError&) {
      }
    }
    m.objects = static_cast<int64_t>(file.ObjectList().size());
    m.warnings = static_cast<int64_t>(file.Warnings().size() + file.WarningsDropped());
    document.Close(false);
  }
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return m;
}

TMeasure InChild(const std::string& input) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TMeasure m;
    try {
      m = OpenAndResolve(input);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
      _exit(1);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    m.peakKiB = usage.ru_maxrss;
    m.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (write(fds[1], &m, sizeof m) != static_cast<ssize_t>(sizeof m)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  TMeasure m;
  const ssize_t got = read(fds[0], &m, sizeof m);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    m.seconds = -1;
  }
  return m;
}

void BM_OpenHostile(benchmark::State& state, const std::string& name) {
  const std::string input = g_folder + "/" + name;
  for (auto _ : state) {
    const TMeasure m = InChild(input);
    if (m.seconds < 0) {
      state.SkipWithError("the open run failed");
      break;
    }
    state.SetIterationTime(m.seconds);
    state.counters["cpu_s"] = m.cpuSeconds;
    state.counters["peak_MiB"] = static_cast<double>(m.peakKiB) / 1024.0;
    state.counters["input_MiB"] =
        static_cast<double>(std::filesystem::file_size(input)) / (1024.0 * 1024.0);
    state.counters["opened"] = m.opened ? 1 : 0;
    state.counters["objects"] = static_cast<double>(m.objects);
    state.counters["warnings"] = static_cast<double>(m.warnings);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  g_folder = tavra_bench::MakeScratchFolder();
  if (g_folder.empty()) return 1;
  std::fprintf(stderr, "generating inputs in %s ...\n", g_folder.c_str());
  const std::string generate = "python3 '" + std::string(TAVRA_SOURCE_DIR) +
                               "/tests/fixtures/make_hostile_pdfs.py' '" + g_folder + "'";
  if (std::system(generate.c_str()) != 0) {
    std::fprintf(stderr, "could not generate the inputs (python3 is needed)\n");
    return 1;
  }
  for (const char* name :
       {"unterminated-strings.pdf", "shared-length.pdf", "duplicate-offsets.pdf", "prev-chain.pdf",
        "objstm-bombs.pdf", "objstm-overlap.pdf", "objstm-empty-headers.pdf",
        "objstm-members-in-nothing.pdf", "comments-in-dictionary.pdf", "comment-before-endobj.pdf",
        "no-trailer.pdf", "no-startxref.pdf", "wrong-lengths.pdf"}) {
    benchmark::RegisterBenchmark(("BM_OpenHostile/" + std::string(name)).c_str(), BM_OpenHostile,
                                 std::string(name))
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
