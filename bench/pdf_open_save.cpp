// Opening and saving large documents the way signing does: the document is
// copied into a file-backed working stream, one object is changed, an
// incremental update is appended and the result is copied to an output file.
//
// Two inputs are generated in a temporary folder at run time: a file of about
// 1 GB (a page and large streams) and a file with 100,000 objects. Each case
// runs in a child process so that its peak memory (getrusage) is its own.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/PlatformFiles.h"
#include "toolkit/pdf/CvPDF.h"

using namespace corvane;

namespace {

std::string g_folder;
std::string g_bigFile;
std::string g_manyFile;

// Writes a PDF with a catalog, one page and the given extra objects, object by
// object, without holding the file in memory.
class TPdfWriter {
 public:
  explicit TPdfWriter(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {
    Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  }
  void BeginObject(int number) {
    offsets_.resize(std::max<size_t>(offsets_.size(), static_cast<size_t>(number) + 1), -1);
    offsets_[static_cast<size_t>(number)] = position_;
    Put(std::to_string(number) + " 0 obj\n");
  }
  void Put(const std::string& text) { Put(text.data(), text.size()); }
  void Put(const char* data, size_t size) {
    out_.write(data, static_cast<std::streamsize>(size));
    position_ += static_cast<int64_t>(size);
  }
  void Finish() {
    const int64_t xref = position_;
    Put("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    char line[32];
    for (size_t n = 1; n < offsets_.size(); ++n) {
      if (offsets_[n] < 0) {
        Put("0000000000 00001 f \n");
      } else {
        std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(offsets_[n]));
        Put(line);
      }
    }
    Put("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root 1 0 R >>\nstartxref\n" +
        std::to_string(xref) + "\n%%EOF\n");
    out_.close();
  }

 private:
  std::ofstream out_;
  int64_t position_ = 0;
  std::vector<int64_t> offsets_;
};

void WritePageObjects(TPdfWriter& w, const std::string& kids, int count) {
  w.BeginObject(1);
  w.Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  w.BeginObject(2);
  w.Put("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>\nendobj\n");
}

void MakeBigFile(const std::string& path) {
  // 16 image-like streams of 64 MiB: 1 GiB of stream data.
  constexpr int kStreams = 16;
  constexpr size_t kStreamSize = size_t{64} << 20;
  TPdfWriter w(path);
  WritePageObjects(w, "3 0 R", 1);
  w.BeginObject(3);
  std::string xobjects;
  for (int i = 0; i < kStreams; ++i)
    xobjects += "/Im" + std::to_string(i) + " " + std::to_string(4 + i) + " 0 R ";
  w.Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << " +
        xobjects + ">> >> >>\nendobj\n");
  std::string chunk(1 << 20, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < kStreams; ++i) {
    w.BeginObject(4 + i);
    w.Put(
        "<< /Type /XObject /Subtype /Image /Width 4096 /Height 4096 /ColorSpace /DeviceRGB "
        "/BitsPerComponent 4 /Length " +
        std::to_string(kStreamSize) + " >>\nstream\n");
    for (size_t done = 0; done < kStreamSize; done += chunk.size()) {
      for (size_t k = 0; k < chunk.size(); k += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(chunk.data() + k, &x, 8);
      }
      w.Put(chunk.data(), chunk.size());
    }
    w.Put("\nendstream\nendobj\n");
  }
  w.Finish();
}

void MakeManyObjectsFile(const std::string& path) {
  constexpr int kObjects = 100000;
  TPdfWriter w(path);
  WritePageObjects(w, "3 0 R", 1);
  w.BeginObject(3);
  w.Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [4 0 R] >>\nendobj\n");
  for (int n = 4; n <= kObjects; ++n) {
    w.BeginObject(n);
    w.Put("<< /Type /Annot /Subtype /Text /Rect [0 0 10 10] /Contents (note " + std::to_string(n) +
          ") /Next " + std::to_string(n + 1 <= kObjects ? n + 1 : 4) + " 0 R >>\nendobj\n");
  }
  w.Finish();
}

struct TMeasure {
  double seconds = 0;
  long peakKiB = 0;
  int64_t objects = 0;
  int64_t outputBytes = 0;
};

// The signing path without the signature: open through a file-backed working
// stream, change the catalog, append an update, copy the result out.
TMeasure OpenModifySave(const std::string& input, const std::string& output) {
  const auto start = std::chrono::steady_clock::now();
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
  document.Open(in);
  TOvPDFFile& file = document.File();
  auto* root = dynamic_cast<TOvPDFRef*>(GetEntry(file.Trailer(), "Root"));
  TOvPDFIndirect* catalog = root->Resolve();
  SetNameEntry(dynamic_cast<TOvPDFDictionary*>(catalog->Value), "PageMode", "UseNone", true);
  catalog->MarkModified();
  file.SetFullRewrite(false);
  file.Save();
  TOvStream& working = *document.WorkingStream();
  TOvFileStream out(output, TFileMode::fmCreate);
  working.SetPosition(0);
  out.CopyFrom(working, working.Size());
  out.Close();
  TMeasure m;
  m.objects = static_cast<int64_t>(file.ObjectList().size());
  m.outputBytes = working.Size();
  document.Close(false);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return m;
}

// Runs the case in a child process and reports its time and peak memory.
TMeasure InChild(const std::string& input, const std::string& output) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    TMeasure m;
    try {
      m = OpenModifySave(input, output);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "failed: %s\n", e.what());
      _exit(1);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    m.peakKiB = usage.ru_maxrss;
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

void Report(benchmark::State& state, const std::string& input) {
  for (auto _ : state) {
    const TMeasure m = InChild(input, g_folder + "/out.pdf");
    if (m.seconds < 0) {
      state.SkipWithError("the open/save run failed");
      break;
    }
    state.SetIterationTime(m.seconds);
    state.counters["peak_MiB"] = static_cast<double>(m.peakKiB) / 1024.0;
    state.counters["input_MiB"] =
        static_cast<double>(std::filesystem::file_size(input)) / (1024.0 * 1024.0);
    state.counters["objects"] = static_cast<double>(m.objects);
    state.counters["update_bytes"] = static_cast<double>(
        m.outputBytes - static_cast<int64_t>(std::filesystem::file_size(input)));
  }
}

void BM_OpenSave1GB(benchmark::State& state) { Report(state, g_bigFile); }
void BM_OpenSave100kObjects(benchmark::State& state) { Report(state, g_manyFile); }

BENCHMARK(BM_OpenSave1GB)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSave100kObjects)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  g_folder = tavra_bench::MakeScratchFolder();
  if (g_folder.empty()) return 1;
  g_bigFile = g_folder + "/big.pdf";
  g_manyFile = g_folder + "/many.pdf";
  std::fprintf(stderr, "generating inputs in %s ...\n", g_folder.c_str());
  MakeBigFile(g_bigFile);
  MakeManyObjectsFile(g_manyFile);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
