// Cipher throughput over 8 KiB buffers, the shape of decrypting PDF streams.
// Compare with `openssl speed -evp aes-128-cbc -bytes 8192` (and -decrypt).
#include <benchmark/benchmark.h>

#include <string>

#include "toolkit/crypto/CvAES.h"
#include "toolkit/crypto/CvRC4.h"

namespace {

constexpr size_t kBuffer = 8192;

std::string Buffer() {
  std::string b(kBuffer, '\0');
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>(i * 131 + 7);
  return b;
}

// One cipher object, chained across iterations, as a long stream is processed.
void RunAES(benchmark::State& bench, size_t keySize, bool encrypt) {
  std::string data = Buffer();
  corvane::TOvAESSymmetricCrypto aes(std::string(keySize, 'k'), std::string(16, 'i'));
  auto* bytes = reinterpret_cast<uint8_t*>(data.data());
  for (auto _ : bench) {
    if (encrypt) {
      aes.EncryptCBC(bytes, data.size());
    } else {
      aes.DecryptCBC(bytes, data.size());
    }
    benchmark::ClobberMemory();
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * static_cast<int64_t>(kBuffer));
}

void BM_AES128_CBC_Encrypt(benchmark::State& s) { RunAES(s, 16, true); }
void BM_AES128_CBC_Decrypt(benchmark::State& s) { RunAES(s, 16, false); }
void BM_AES256_CBC_Encrypt(benchmark::State& s) { RunAES(s, 32, true); }
void BM_AES256_CBC_Decrypt(benchmark::State& s) { RunAES(s, 32, false); }

void BM_RC4(benchmark::State& bench) {
  std::string data = Buffer();
  corvane::TOvRC4 rc4(std::string(16, 'k'));
  for (auto _ : bench) {
    rc4.Process(reinterpret_cast<uint8_t*>(data.data()), data.size());
    benchmark::ClobberMemory();
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * static_cast<int64_t>(kBuffer));
}

}  // namespace

BENCHMARK(BM_AES128_CBC_Encrypt);
BENCHMARK(BM_AES128_CBC_Decrypt);
BENCHMARK(BM_AES256_CBC_Encrypt);
BENCHMARK(BM_AES256_CBC_Decrypt);
BENCHMARK(BM_RC4);
BENCHMARK_MAIN();
