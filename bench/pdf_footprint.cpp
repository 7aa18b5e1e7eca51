// The memory and time a large document costs to open: a generated file of
// 50,000 pages (100,000 objects, classic table) is opened and its page tree
// walked the way `tavrapdf info` does, and qpdf reads the same file in the
// same run for comparison: `--show-npages`, which reads only the cross-reference
// table and the root's /Count, and `--show-pages`, which parses every page
// dictionary as we do. The same file with its pages in object streams is read
// by both sides too. Files of 50 and 200 MB whose bulk is
// four large embedded files show that stream data is never held in memory:
// their peak stays the same whatever their size. Each run is a child process;
// its wall time is taken around it and its peak memory comes from wait4, so
// both sides are measured the same way.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/PdfGenerators.h"
#include "platform/PlatformFiles.h"
#include "toolkit/pdf/CvPDF.h"

using namespace corvane;

// Allocation counting for --profile: how many blocks of which size are live
// after the document was opened, which is what the object model costs.
namespace {
std::atomic<bool> g_counting{false};
std::map<size_t, int64_t>* g_sizes = nullptr;
int64_t g_liveBytes = 0;
int64_t g_peakBytes = 0;

void* CountedNew(size_t size) {
  // The size rides in front of the block so that delete can subtract it.
  auto* block = static_cast<size_t*>(std::malloc(size + 16));
  if (!block) throw std::bad_alloc();
  *block = size;
  if (g_counting.load(std::memory_order_relaxed)) {
    g_counting = false;
    ++(*g_sizes)[size];
    g_liveBytes += static_cast<int64_t>(size);
    g_peakBytes = std::max(g_peakBytes, g_liveBytes);
    g_counting = true;
  }
  return reinterpret_cast<char*>(block) + 16;
}

void CountedDelete(void* p) noexcept {
  if (!p) return;
  auto* block = reinterpret_cast<size_t*>(static_cast<char*>(p) - 16);
  if (g_counting.load(std::memory_order_relaxed)) {
    g_counting = false;
    auto it = g_sizes->find(*block);
    if (it != g_sizes->end()) {
      --it->second;
      g_liveBytes -= static_cast<int64_t>(*block);
    }
    g_counting = true;
  }
  std::free(block);
}
}  // namespace

void* operator new(size_t size) { return CountedNew(size); }
void* operator new[](size_t size) { return CountedNew(size); }
void operator delete(void* p) noexcept { CountedDelete(p); }
void operator delete[](void* p) noexcept { CountedDelete(p); }
void operator delete(void* p, size_t) noexcept { CountedDelete(p); }
void operator delete[](void* p, size_t) noexcept { CountedDelete(p); }

namespace {

constexpr int kPages = 50000;
constexpr int kKidsPerNode = 100;

std::string g_folder;
std::string g_file;

// A file whose bulk is a few large embedded files (mib MiB in all, four
// streams of random bytes): a signer must open it without holding their data.
void MakeStreamsFile(const std::string& path, int mib) {
  constexpr int kStreams = 4;
  tavra_bench::TPdfBuilder pdf(path);
  std::string names;
  for (int i = 0; i < kStreams; ++i)
    names += "(file" + std::to_string(i) + ") " + std::to_string(5 + 2 * i) + " 0 R ";
  pdf.Begin(1);
  pdf.Put("<< /Type /Catalog /Pages 2 0 R /Names << /EmbeddedFiles << /Names [" + names +
          "] >> >> >>\nendobj\n");
  pdf.Begin(2);
  pdf.Put("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
  pdf.Begin(3);
  pdf.Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>\nendobj\n");
  pdf.Begin(4);
  pdf.Put("<< /Length 0 >>\nstream\n\nendstream\nendobj\n");
  const int64_t each = (int64_t{mib} << 20) / kStreams;
  std::string chunk(1 << 20, '\0');
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < kStreams; ++i) {
    const int spec = 5 + 2 * i;
    pdf.Begin(spec);
    pdf.Put("<< /Type /Filespec /F (file" + std::to_string(i) + ".bin) /EF << /F " +
            std::to_string(spec + 1) + " 0 R >> >>\nendobj\n");
    pdf.Begin(spec + 1);
    pdf.Put("<< /Type /EmbeddedFile /Length " + std::to_string(each) + " >>\nstream\n");
    for (int64_t done = 0; done < each;) {
      for (char& c : chunk) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        c = static_cast<char>(state >> 56);
      }
      const auto n = static_cast<size_t>(std::min<int64_t>(each - done, chunk.size()));
      pdf.Put(chunk.substr(0, n));
      done += static_cast<int64_t>(n);
    }
    pdf.Put("\nendstream\nendobj\n");
  }
  pdf.Finish(1);
}

// Our side: open as `tavrapdf info` does and touch every page; exits 0 when
// the page count (and the number of embedded files) is right.
int OpenAndWalk(const std::string& path, const std::function<void()>& opened = {},
                size_t expectedPages = kPages, size_t expectedAttachments = 0) {
  TOvFileStream input(path, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  document.SetOnCreateTemporaryStream([](TOvPDFDocument*, TOvStream*& stream, bool& freeOnClose) {
    platform::TempFile temp;
    std::string error;
    if (!platform::CreateTempFile(g_folder, "work", temp, error)) throw std::runtime_error(error);
    ::unlink(temp.path.c_str());
    stream = new TOvFileStream(temp.fd, temp.path);
    freeOnClose = true;
  });
  document.Open(input);
  size_t pages = 0;
  for (const TOvPDFPageInfo& page : document.Pages()) pages += page.Width > 0;
  if (opened) opened();
  const size_t attachments = document.Attachments().size();
  document.Close(false);
  return pages == expectedPages && attachments == expectedAttachments ? 0 : 2;
}

struct TMeasure {
  double seconds = -1;
  double peakMiB = 0;
  // User and system time: on a busy machine the fairer comparison.
  double cpuSeconds = 0;
};

// Runs body in a child process; its wall time and peak resident memory.
TMeasure InChild(const std::function<int()>& body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
    }
    _exit(code);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {};
  TMeasure m;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    m.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  return m;
}

int RunQpdf(const std::string& path, const char* option = "--show-npages") {
  const int devnull = ::open("/dev/null", O_WRONLY);
  if (devnull >= 0) ::dup2(devnull, STDOUT_FILENO);
  ::execlp("qpdf", "qpdf", option, path.c_str(), static_cast<char*>(nullptr));
  std::fprintf(stderr, "cannot run qpdf\n");
  return 127;
}

void Report(benchmark::State& state, const std::string& path, const std::function<int()>& body) {
  for (auto _ : state) {
    const TMeasure m = InChild(body);
    if (m.seconds < 0) {
      state.SkipWithError("the run failed");
      break;
    }
    state.SetIterationTime(m.seconds);
    state.counters["peak_MiB"] = m.peakMiB;
    state.counters["cpu_ms"] = m.cpuSeconds * 1000;
    state.counters["input_MiB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
  }
}

void BM_TavraOpenAndWalkPages(benchmark::State& state) {
  Report(state, g_file, [] { return OpenAndWalk(g_file); });
}
void BM_QpdfShowNpages(benchmark::State& state) {
  Report(state, g_file, [] { return RunQpdf(g_file); });
}
void BM_QpdfShowPages(benchmark::State& state) {
  Report(state, g_file, [] { return RunQpdf(g_file, "--show-pages"); });
}

// The same pages packed into object streams with a cross-reference stream,
// as most current writers store them; made by qpdf on first use.
const std::string& ObjectStreamsFile() {
  static std::string made;
  if (made.empty()) {
    const std::string path = g_folder + "/pages-objstm.pdf";
    const std::string command = "qpdf --object-streams=generate '" + g_file + "' '" + path + "'";
    if (std::system(command.c_str()) != 0) return made;
    made = path;
  }
  return made;
}

// Runs body on the object-stream file, or marks the run failed without it.
void ReportObjectStreams(benchmark::State& state,
                         const std::function<int(const std::string& path)>& body) {
  const std::string& path = ObjectStreamsFile();
  if (path.empty()) {
    state.SkipWithError("qpdf could not write the object-stream file");
    return;
  }
  Report(state, path, [&] { return body(path); });
}

// `tavrapdf info` as people run it: the count of pages comes from the tree's
// root, nothing else of the tree is read.
int RunInfo(const std::string& path) {
  const int devnull = ::open("/dev/null", O_WRONLY);
  if (devnull >= 0) ::dup2(devnull, STDOUT_FILENO);
  const std::string tool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";
  ::execl(tool.c_str(), tool.c_str(), "info", path.c_str(), static_cast<char*>(nullptr));
  std::fprintf(stderr, "cannot run tavrapdf\n");
  return 127;
}

// What opening 100,000 objects costs, without touching the pages.
int OpenOnly(const std::string& path) {
  TOvFileStream input(path, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  document.SetWorkInPlace(true);
  document.Open(input);
  const size_t objects = document.File().ObjectList().size();
  document.Close(false);
  return objects > 100000 ? 0 : 2;
}

void BM_TavraOpenObjects(benchmark::State& state) {
  Report(state, g_file, [] { return OpenOnly(g_file); });
}
void BM_TavraInfo(benchmark::State& state) {
  Report(state, g_file, [] { return RunInfo(g_file); });
}
void BM_TavraInfoObjectStreams(benchmark::State& state) {
  ReportObjectStreams(state, [](const std::string& path) { return RunInfo(path); });
}

void BM_TavraOpenAndWalkObjectStreams(benchmark::State& state) {
  ReportObjectStreams(state, [](const std::string& path) { return OpenAndWalk(path); });
}
void BM_QpdfShowNpagesObjectStreams(benchmark::State& state) {
  ReportObjectStreams(state, [](const std::string& path) { return RunQpdf(path); });
}

// The large-stream files, made on first use (argument: size in MiB).
const std::string& StreamsFile(int mib) {
  static std::map<int, std::string> made;
  auto it = made.find(mib);
  if (it == made.end()) {
    const std::string path = g_folder + "/streams-" + std::to_string(mib) + ".pdf";
    MakeStreamsFile(path, mib);
    it = made.emplace(mib, path).first;
  }
  return it->second;
}

// Peak memory must not grow with the size of the streams.
void BM_TavraOpenLargeStreams(benchmark::State& state) {
  const std::string& path = StreamsFile(static_cast<int>(state.range(0)));
  Report(state, path, [&] { return OpenAndWalk(path, {}, 1, 4); });
}
void BM_QpdfLargeStreams(benchmark::State& state) {
  const std::string& path = StreamsFile(static_cast<int>(state.range(0)));
  Report(state, path, [&] { return RunQpdf(path); });
}

BENCHMARK(BM_TavraOpenAndWalkPages)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpdfShowNpages)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpdfShowPages)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TavraOpenObjects)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TavraInfo)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TavraInfoObjectStreams)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TavraOpenAndWalkObjectStreams)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpdfShowNpagesObjectStreams)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TavraOpenLargeStreams)
    ->Arg(50)
    ->Arg(200)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpdfLargeStreams)
    ->Arg(50)
    ->Arg(200)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

// Opens the file in this process and prints the live blocks by size.
int Profile() {
  std::map<size_t, int64_t> sizes;
  g_sizes = &sizes;
  g_counting = true;
  const int code = OpenAndWalk(g_file, [] {
    g_counting = false;
    std::vector<std::pair<int64_t, size_t>> bySpace;
    int64_t blocks = 0;
    for (const auto& [size, count] : *g_sizes) {
      if (count <= 0) continue;
      blocks += count;
      bySpace.emplace_back(count * static_cast<int64_t>(size), size);
    }
    std::sort(bySpace.rbegin(), bySpace.rend());
    std::printf("live: %lld bytes in %lld blocks (peak %lld); per page %.0f bytes, %.1f blocks\n",
                static_cast<long long>(g_liveBytes), static_cast<long long>(blocks),
                static_cast<long long>(g_peakBytes), static_cast<double>(g_liveBytes) / kPages,
                static_cast<double>(blocks) / kPages);
    // The object arena takes its blocks from malloc, not operator new: the
    // resident size shows it.
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
      std::fclose(statm);
    }
    std::printf("resident, object arena included: %ld bytes\n", resident * ::sysconf(_SC_PAGESIZE));
    for (size_t i = 0; i < bySpace.size() && i < 15; ++i) {
      std::printf("  %6zu bytes x %8lld = %lld\n", bySpace[i].second,
                  static_cast<long long>((*g_sizes)[bySpace[i].second]),
                  static_cast<long long>(bySpace[i].first));
    }
  });
  g_sizes = nullptr;
  return code;
}

int main(int argc, char** argv) {
  // --profile: live blocks by size after opening; --once: one plain run
  // (for a profiler).
  const std::string mode = argc > 1 ? argv[1] : "";
  const bool profile = mode == "--profile" || mode == "--once";
  if (profile) {
    --argc;
    ++argv;
  }
  benchmark::Initialize(&argc, argv);
  g_folder = tavra_bench::MakeScratchFolder();
  if (g_folder.empty()) return 1;
  g_file = g_folder + "/pages.pdf";
  tavra_bench::WriteManyPagesPdf(g_file, kPages, kKidsPerNode);
  if (profile) {
    const int code = mode == "--once" ? OpenAndWalk(g_file) : Profile();
    std::error_code ec;
    std::filesystem::remove_all(g_folder, ec);
    return code;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
