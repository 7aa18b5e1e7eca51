// ECDSA verification of a SHA-256 digest on P-256, P-384 and P-521. The key
// pair and the signature are made here with the curve arithmetic itself (the
// toolkit only verifies), so the bench needs no outside tool.
#include <benchmark/benchmark.h>

#include <string>

#include "toolkit/crypto/CvEC.h"
#include "toolkit/crypto/CvMath.h"

namespace {

using corvane::TCvECPoint;
using corvane::TOvECCurve;
using corvane::TOvMPInt;

const std::string kDigest(32, '\x5A');

struct Signed {
  TCvECPoint key;
  std::string signature;
};

// d * G and a signature (r, s) with s = k^-1 (e + r d) mod n.
Signed Make(const TOvECCurve& curve) {
  const TOvMPInt& n = curve.Order();
  const TOvMPInt zero;
  Signed out;
  const TOvMPInt d = TOvMPInt::RandomBelow(n);
  curve.MulAdd(d, zero, curve.Generator(), out.key);
  const TOvMPInt k = TOvMPInt::RandomBelow(n);
  TCvECPoint kg;
  curve.MulAdd(k, zero, curve.Generator(), kg);
  const TOvMPInt r = TOvMPInt::Mod(kg.X, n);
  TOvMPInt e = TOvMPInt::FromBytes(kDigest);
  if (curve.OrderBits() < 256) e = TOvMPInt::ShiftRight(e, 256 - curve.OrderBits());
  const TOvMPInt s = TOvMPInt::ModMul(
      TOvMPInt::ModInverse(k, n), TOvMPInt::Mod(TOvMPInt::Add(e, TOvMPInt::ModMul(r, d, n)), n), n);
  out.signature = corvane::ECDSAEncodeSignature(r, s);
  return out;
}

void BM_ECDSAVerify(benchmark::State& state, const char* name) {
  const TOvECCurve& curve = *TOvECCurve::ByName(name);
  const Signed made = Make(curve);
  for (auto _ : state) {
    const bool valid = corvane::ECDSAVerifyDigest(curve, made.key, kDigest, made.signature);
    if (!valid) state.SkipWithError("signature did not verify");
    benchmark::DoNotOptimize(valid);
  }
}

BENCHMARK_CAPTURE(BM_ECDSAVerify, P256, "P-256")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ECDSAVerify, P384, "P-384")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ECDSAVerify, P521, "P-521")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
