// Signing large documents with `tavrapdf sign`, beside `pdfsig -add-signature`
// on the same file and key store and beside the floor any signer pays:
// copying the file and hashing it (`cp` + `openssl dgst -sha256`). Inputs: a
// generated 200 MB file whose bulk is one image, and a generated 50,000-page
// file (about 100,000 objects), signed invisibly and certified, and the same
// pages packed into object streams by qpdf. Verifying the signed 200 MB file
// with `tavrapdf verify` (signature, trust and later changes) is timed beside
// `pdfsig` and the floor of hashing it. Wall time and peak memory of each
// child process are printed as counters. PAdES B-B and B-T signing of the
// 200 MB file stand beside today's signature; B-T asks a time-stamping
// authority on 127.0.0.1, and the authority's share is shown by the "TSA
// round trip" line: a document timestamp of a one-page file, which asks it
// the same two times (one to size the reservation, one for the token).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "bench/PdfGenerators.h"
#include "tests/fixtures/LoopbackTSA.h"

using namespace tavra_bench;

namespace {

std::string g_folder;
std::string g_store;  // made by tests/fixtures/make-store.sh
std::string g_serial;
std::string g_popplerDb;  // the same key without the fixture's token module
std::string g_large;
std::string g_pages;
std::string g_largeSigned;  // g_large signed once by us, for the verify runs
std::string g_pagesObjStm;
std::string g_invoice;  // a one-page file for the authority's round trip
std::string g_tsaURL;   // the loopback authority

std::string StoreEnv() { return ". " + Quote(g_store + "/env.sh") + " && "; }

std::string OurCommand(const std::string& input, const std::string& output,
                       const std::string& type = "invisible") {
  return StoreEnv() + "exec " + Quote(std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf") + " sign " +
         Quote(input) + " " + Quote(output) + " --nssdb " + Quote(g_store + "/nssdb") +
         " --issuer 'Tavra Test CA' --serial " + g_serial + " --type " + type + " >/dev/null";
}

std::string TimestampCommand(const std::string& input, const std::string& output) {
  return "no_proxy='*' NO_PROXY='*' exec " +
         Quote(std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf") + " timestamp " + Quote(input) +
         " " + Quote(output) + " --tsa " + Quote(g_tsaURL) + " >/dev/null";
}

std::string PdfsigCommand(const std::string& input, const std::string& output) {
  return "exec pdfsig -add-signature -nssdir " + Quote("sql:" + g_popplerDb) +
         " -nick rsa2048 -new-signature-field-name Bench " + Quote(input) + " " + Quote(output) +
         " >/dev/null";
}

std::string FloorCommand(const std::string& input, const std::string& output) {
  return "cp " + Quote(input) + " " + Quote(output) + " && exec openssl dgst -sha256 " +
         Quote(output) + " >/dev/null";
}

std::string OurVerifyCommand(const std::string& input) {
  return StoreEnv() + "exec " + Quote(std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf") +
         " verify " + Quote(input) + " --nssdb " + Quote(g_store + "/nssdb") + " >/dev/null";
}

std::string PdfsigVerifyCommand(const std::string& input) {
  return "exec pdfsig -nssdir " + Quote("sql:" + g_popplerDb) + " " + Quote(input) + " >/dev/null";
}

void Report(benchmark::State& state, const std::string& command, const std::string& input,
            const std::string& output) {
  for (auto _ : state) {
    std::filesystem::remove(output);
    const TRunFigures run = MeasureCommand(command);
    if (run.Status != 0) {
      state.SkipWithError(("the command failed: " + command).c_str());
      break;
    }
    state.SetIterationTime(run.WallMs / 1000.0);
    state.counters["peak_MiB"] = static_cast<double>(run.PeakKiB) / 1024.0;
    state.counters["cpu_ms"] = run.CpuMs;
    state.counters["input_MiB"] =
        static_cast<double>(std::filesystem::file_size(input)) / (1024.0 * 1024.0);
  }
  std::filesystem::remove(output);
}

void BM_Large_Tavra(benchmark::State& s) {
  Report(s, OurCommand(g_large, g_folder + "/out.pdf"), g_large, g_folder + "/out.pdf");
}
void BM_Large_TavraBB(benchmark::State& s) {
  Report(s, OurCommand(g_large, g_folder + "/out.pdf") + " --level B-B", g_large,
         g_folder + "/out.pdf");
}
void BM_Large_TavraBT(benchmark::State& s) {
  Report(s,
         "no_proxy='*' NO_PROXY='*' " + OurCommand(g_large, g_folder + "/out.pdf") +
             " --level B-T --tsa " + Quote(g_tsaURL),
         g_large, g_folder + "/out.pdf");
}
void BM_TSARoundTrip(benchmark::State& s) {
  Report(s, TimestampCommand(g_invoice, g_folder + "/stamped.pdf"), g_invoice,
         g_folder + "/stamped.pdf");
}
void BM_Large_Pdfsig(benchmark::State& s) {
  Report(s, PdfsigCommand(g_large, g_folder + "/out.pdf"), g_large, g_folder + "/out.pdf");
}
void BM_Large_FloorCopyAndHash(benchmark::State& s) {
  Report(s, FloorCommand(g_large, g_folder + "/out.pdf"), g_large, g_folder + "/out.pdf");
}
void BM_Pages_Tavra(benchmark::State& s) {
  Report(s, OurCommand(g_pages, g_folder + "/out.pdf"), g_pages, g_folder + "/out.pdf");
}
void BM_Pages_Pdfsig(benchmark::State& s) {
  Report(s, PdfsigCommand(g_pages, g_folder + "/out.pdf"), g_pages, g_folder + "/out.pdf");
}
void BM_LargeVerify_Tavra(benchmark::State& s) {
  Report(s, OurVerifyCommand(g_largeSigned), g_largeSigned, g_folder + "/none.pdf");
}
void BM_LargeVerify_Pdfsig(benchmark::State& s) {
  Report(s, PdfsigVerifyCommand(g_largeSigned), g_largeSigned, g_folder + "/none.pdf");
}
void BM_LargeVerify_FloorHash(benchmark::State& s) {
  Report(s, "exec openssl dgst -sha256 " + Quote(g_largeSigned) + " >/dev/null", g_largeSigned,
         g_folder + "/none.pdf");
}
// Certifying digests every page: it should cost little more than signing.
void BM_Pages_TavraCertify(benchmark::State& s) {
  Report(s, OurCommand(g_pages, g_folder + "/out.pdf", "certify"), g_pages, g_folder + "/out.pdf");
}
void BM_PagesObjStm_Tavra(benchmark::State& s) {
  if (g_pagesObjStm.empty()) return s.SkipWithError("qpdf could not write the object-stream file");
  Report(s, OurCommand(g_pagesObjStm, g_folder + "/out.pdf"), g_pagesObjStm, g_folder + "/out.pdf");
}
void BM_PagesObjStm_Pdfsig(benchmark::State& s) {
  if (g_pagesObjStm.empty()) return s.SkipWithError("qpdf could not write the object-stream file");
  Report(s, PdfsigCommand(g_pagesObjStm, g_folder + "/out.pdf"), g_pagesObjStm,
         g_folder + "/out.pdf");
}

BENCHMARK(BM_Large_FloorCopyAndHash)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_Tavra)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_TavraBB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_TavraBT)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TSARoundTrip)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large_Pdfsig)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pages_Tavra)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pages_Pdfsig)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeVerify_FloorHash)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeVerify_Tavra)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeVerify_Pdfsig)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pages_TavraCertify)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesObjStm_Tavra)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PagesObjStm_Pdfsig)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

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
  g_large = g_folder + "/large.pdf";
  g_pages = g_folder + "/pages.pdf";
  WriteLargeStreamPdf(g_large, 200);
  WriteManyPagesPdf(g_pages, 50000);
  g_largeSigned = g_folder + "/large-signed.pdf";
  if (std::system(OurCommand(g_large, g_largeSigned).c_str()) != 0) {
    std::fprintf(stderr, "cannot sign the file to verify\n");
    return 1;
  }
  const std::string objStm = g_folder + "/pages-objstm.pdf";
  if (std::system(
          ("qpdf --object-streams=generate " + Quote(g_pages) + " " + Quote(objStm)).c_str()) ==
      0) {
    g_pagesObjStm = objStm;
  }
  g_invoice = g_folder + "/invoice.pdf";
  WriteInvoicePdf(g_invoice, 1);
  std::filesystem::create_directories(g_folder + "/authority");
  // Alive for the whole run, not only the tests' two minutes.
  tavra_fixture::LoopbackTSA tsa(g_folder + "/authority", "ok", {"--lifetime", "3600"});
  if (tsa.Port() <= 0) {
    std::fprintf(stderr, "cannot start the loopback time-stamping authority\n");
    return 1;
  }
  g_tsaURL = tsa.URL();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
  return 0;
}
