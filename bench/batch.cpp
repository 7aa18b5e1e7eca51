// Signing many one-page invoices into one folder: one `tavrapdf sign
// --out-dir` run beside a loop of single `tavrapdf sign` runs and a loop of
// `pdfsig -add-signature` on the same files, with a software key. The rate of
// each is printed as files_per_s.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/PdfGenerators.h"

using namespace tavra_bench;

namespace {

constexpr int kInvoices = 400;  // the batch signs them all
constexpr int kLooped = 60;     // the loops sign the first of them

std::string g_folder;
std::string g_store;  // made by tests/fixtures/make-store.sh
std::string g_serial;
std::string g_popplerDb;

std::string Tool() { return Quote(std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf"); }

std::string Signer() {
  return " --nssdb " + Quote(g_store + "/nssdb") + " --issuer 'Tavra Test CA' --serial " +
         g_serial + " --type invisible";
}

std::string Input(int i) { return g_folder + "/in/faktura-" + std::to_string(i) + ".pdf"; }

void Report(benchmark::State& state, const std::string& command, int files) {
  for (auto _ : state) {
    std::filesystem::remove_all(g_folder + "/out");
    std::filesystem::create_directories(g_folder + "/out");
    const TRunFigures run = MeasureCommand(". " + Quote(g_store + "/env.sh") + " && " + command);
    if (run.Status != 0) {
      state.SkipWithError(("the command failed: " + command).c_str());
      break;
    }
    state.SetIterationTime(run.WallMs / 1000.0);
    state.counters["files"] = files;
    state.counters["files_per_s"] = files / (run.WallMs / 1000.0);
    state.counters["peak_MiB"] = static_cast<double>(run.PeakKiB) / 1024.0;
  }
}

void BM_Batch_Tavra(benchmark::State& s) {
  Report(s,
         "ls " + Quote(g_folder + "/in") + " | sed 's|^|" + g_folder + "/in/|' | " + Tool() +
             " sign --from-file - --out-dir " + Quote(g_folder + "/out") + Signer() + " >/dev/null",
         kInvoices);
}

void BM_LoopOfSingle_Tavra(benchmark::State& s) {
  std::string loop = "for i in $(seq 1 " + std::to_string(kLooped) + "); do " + Tool() + " sign " +
                     Quote(g_folder + "/in/faktura-") + "$i.pdf " +
                     Quote(g_folder + "/out/faktura-") + "$i.pdf" + Signer() +
                     " 2>/dev/null || exit 1; done";
  Report(s, loop, kLooped);
}

void BM_LoopOf_Pdfsig(benchmark::State& s) {
  std::string loop = "for i in $(seq 1 " + std::to_string(kLooped) +
                     "); do pdfsig -add-signature -nssdir " + Quote("sql:" + g_popplerDb) +
                     " -nick rsa2048 -new-signature-field-name Bench " +
                     Quote(g_folder + "/in/faktura-") + "$i.pdf " +
                     Quote(g_folder + "/out/faktura-") + "$i.pdf >/dev/null || exit 1; done";
  Report(s, loop, kLooped);
}

BENCHMARK(BM_Batch_Tavra)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopOfSingle_Tavra)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopOf_Pdfsig)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  g_folder = tavra_bench::MakeScratchFolder();
  if (g_folder.empty()) return 1;
  tavra_bench::TSigningStores stores;
  if (!tavra_bench::MakeSigningStores(g_folder, stores)) return 1;
  g_store = stores.Store;
  g_popplerDb = stores.PopplerDb;
  g_serial = stores.Serial;
  std::filesystem::create_directories(g_folder + "/in");
  for (int i = 1; i <= kInvoices; ++i) WriteInvoicePdf(Input(i), i);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
