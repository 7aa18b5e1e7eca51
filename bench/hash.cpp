// Hash throughput over 8 KiB updates, the shape of hashing a PDF's byte ranges.
// Compare with `openssl speed -evp sha256 -bytes 8192`. TAVRA_NO_SHANI=1 runs
// SHA-1 and SHA-256 on the portable kernels.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/crypto/CvCpuFeatures.h"
#include "toolkit/crypto/CvGOSTHash.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvRIPEMD.h"
#include "toolkit/crypto/CvSHA.h"
#include "toolkit/crypto/CvSHA2.h"

namespace {

constexpr size_t kUpdate = 8192;

const std::string& Buffer() {
  static const std::string buffer = [] {
    std::string b(kUpdate, '\0');
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 131 + 7);
    return b;
  }();
  return buffer;
}

// Hashes 8 KiB per iteration into one running state; the digest is taken once.
template <typename State, typename Init, typename Update, typename Finish>
void Run(benchmark::State& bench, Init init, Update update, Finish finish) {
  const std::string& data = Buffer();
  State state;
  init(state);
  for (auto _ : bench) {
    update(state, data.data(), data.size());
    benchmark::ClobberMemory();
  }
  uint8_t digest[64];
  finish(state, digest);
  benchmark::DoNotOptimize(digest);
  const double bytes = static_cast<double>(bench.iterations()) * static_cast<double>(kUpdate);
  bench.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_MD2(benchmark::State& s) {
  Run<corvane::TMD2State>(s, corvane::MD2Init, corvane::MD2Update, corvane::MD2Finish);
}
void BM_MD5(benchmark::State& s) {
  Run<corvane::TMD5State>(s, corvane::MD5Init, corvane::MD5Update, corvane::MD5Finish);
}
void BM_SHA1(benchmark::State& s) {
  s.SetLabel(corvane::SHAKernelName());
  Run<corvane::TSHA1State>(s, corvane::SHA1Init, corvane::SHA1Update, corvane::SHA1Finish);
}
void BM_SHA224(benchmark::State& s) {
  s.SetLabel(corvane::SHAKernelName());
  Run<corvane::TSHA256State>(s, corvane::SHA224Init, corvane::SHA256Update, corvane::SHA256Finish);
}
void BM_SHA256(benchmark::State& s) {
  s.SetLabel(corvane::SHAKernelName());
  Run<corvane::TSHA256State>(s, corvane::SHA256Init, corvane::SHA256Update, corvane::SHA256Finish);
}
void BM_SHA384(benchmark::State& s) {
  Run<corvane::TSHA512State>(s, corvane::SHA384Init, corvane::SHA512Update, corvane::SHA512Finish);
}
void BM_SHA512(benchmark::State& s) {
  Run<corvane::TSHA512State>(s, corvane::SHA512Init, corvane::SHA512Update, corvane::SHA512Finish);
}
void BM_RIPEMD160(benchmark::State& s) {
  Run<corvane::TRIPEMD160State>(s, corvane::RIPEMD160Init, corvane::RIPEMD160Update,
                                corvane::RIPEMD160Finish);
}

void BM_GOSTR341194(benchmark::State& s) {
  Run<corvane::TGOSTR341194State>(
      s,
      [](corvane::TGOSTR341194State& st) {
        corvane::GOSTR341194Init(st, corvane::GOSTR341194CryptoProParamSet());
      },
      corvane::GOSTR341194Update, corvane::GOSTR341194Finish);
}

// The same through TOvHashFunction and the default provider manager, the path
// a signature's byte ranges take.
void BM_HashFunction_SHA256(benchmark::State& s) {
  const std::string& data = Buffer();
  corvane::TOvHashFunction hash(corvane::ALG_SHA256);
  for (auto _ : s) {
    hash.Update(data.data(), data.size());
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(hash.Finish());
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(kUpdate));
}

BENCHMARK(BM_MD2);
BENCHMARK(BM_MD5);
BENCHMARK(BM_SHA1);
BENCHMARK(BM_SHA224);
BENCHMARK(BM_SHA256);
BENCHMARK(BM_SHA384);
BENCHMARK(BM_SHA512);
BENCHMARK(BM_RIPEMD160);
BENCHMARK(BM_GOSTR341194);
BENCHMARK(BM_HashFunction_SHA256);

// Prints a closing table in decimal megabytes per second, the unit of
// `openssl speed`, beside the usual console output.
class MegabyteReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end())
        rows_.emplace_back(run.benchmark_name(), it->second.value / 1e6);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-20s %12s   (8 KiB updates, SHA kernel: %s)\n", "algorithm", "MB/s",
                corvane::SHAKernelName());
    for (const auto& [name, rate] : rows_)
      std::printf("%-20s %12.1f\n", name.substr(3).c_str(), rate);
  }

 private:
  std::vector<std::pair<std::string, double>> rows_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MegabyteReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
