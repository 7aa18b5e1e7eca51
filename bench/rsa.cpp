// Built-in RSA: private-key operations (PKCS#1 v1.5 signing of a SHA-256
// digest, CRT with blinding and the public check) and public operations
// (verification) for 2048- and 4096-bit keys. When openssl is installed,
// `openssl speed -seconds 3 rsa2048 rsa4096` runs in the same process's
// time and its figures are printed beside ours.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace {

using corvane::TOvRSAKeyMaterial;
using corvane::TOvRSAPublicKeyCrypto;

// Keys are generated once per size by the engine itself; main releases them
// while the provider that holds them still exists.
std::map<int, std::unique_ptr<TOvRSAKeyMaterial>> keys;

TOvRSAKeyMaterial& Key(int bits) {
  auto& slot = keys[bits];
  if (!slot) {
    slot = std::make_unique<TOvRSAKeyMaterial>();
    slot->Generate(bits);
  }
  return *slot;
}

const std::string kDigest(32, '\x5A');

void BM_RSASign(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  TOvRSAPublicKeyCrypto crypto(corvane::oid::SHA256_RSA);
  crypto.SetKeyMaterial(&Key(bits));
  crypto.SetInputIsHash(true);
  std::string sig(bits / 8, '\0');
  for (auto _ : state) {
    size_t size = sig.size();
    crypto.SignDetached(kDigest.data(), kDigest.size(), sig.data(), size);
    benchmark::DoNotOptimize(sig.data());
  }
}

void BM_RSAVerify(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  TOvRSAPublicKeyCrypto crypto(corvane::oid::SHA256_RSA);
  crypto.SetKeyMaterial(&Key(bits));
  crypto.SetInputIsHash(true);
  const std::string sig = crypto.SignDetached(kDigest);
  for (auto _ : state) {
    const int32_t result = crypto.VerifyDetached(kDigest, sig);
    if (result != 0) state.SkipWithError("signature did not verify");
    benchmark::DoNotOptimize(result);
  }
}

BENCHMARK(BM_RSASign)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RSAVerify)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);

// Keeps the seconds per operation of every run for the comparison table.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        // CPU time, as openssl speed divides by CPU user time (the machine may be busy).
        seconds[run.benchmark_name()] = run.GetAdjustedCPUTime() / 1e6;  // reported in microseconds
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

struct OpenSSLFigure {
  double sign = 0, verify = 0;  // seconds per operation
};

// Parses lines such as "rsa 2048 bits 0.000642s 0.000019s   1557.6  52450.2".
std::map<int, OpenSSLFigure> RunOpenSSLSpeed() {
  std::map<int, OpenSSLFigure> figures;
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) return figures;
  FILE* pipe = popen("openssl speed -seconds 3 rsa2048 rsa4096 2>/dev/null", "r");
  if (pipe == nullptr) return figures;
  char line[512];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream in(line);
    std::string rsa, bitsWord, sign, verify;
    int bits = 0;
    if (!(in >> rsa >> bits >> bitsWord >> sign >> verify) || rsa != "rsa" || bitsWord != "bits")
      continue;
    if (sign.empty() || sign.back() != 's' || verify.empty() || verify.back() != 's') continue;
    figures[bits] = {std::stod(sign.substr(0, sign.size() - 1)),
                     std::stod(verify.substr(0, verify.size() - 1))};
  }
  pclose(pipe);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  keys.clear();

  const auto openssl = RunOpenSSLSpeed();
  std::printf("\n%-10s %14s %14s %8s %14s %14s %8s\n", "key", "sign ours", "sign openssl", "ratio",
              "verify ours", "verify openssl", "ratio");
  for (int bits : {2048, 4096}) {
    const std::string arg = "/" + std::to_string(bits);
    const double ourSign = reporter.seconds["BM_RSASign" + arg];
    const double ourVerify = reporter.seconds["BM_RSAVerify" + arg];
    const auto it = openssl.find(bits);
    if (it == openssl.end()) {
      std::printf("rsa%-7d %12.1fus %14s %8s %12.1fus %14s %8s\n", bits, ourSign * 1e6, "-", "-",
                  ourVerify * 1e6, "-", "-");
      continue;
    }
    std::printf("rsa%-7d %12.1fus %12.1fus %7.2fx %12.1fus %12.1fus %7.2fx\n", bits, ourSign * 1e6,
                it->second.sign * 1e6, ourSign / it->second.sign, ourVerify * 1e6,
                it->second.verify * 1e6, ourVerify / it->second.verify);
  }
  if (openssl.empty()) std::printf("(openssl not found: no comparison)\n");
  return 0;
}
