#include "toolkit/common/CvRandom.h"

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/PlatformSystem.h"

namespace corvane {

namespace {

void AppendLE32(std::string& out, uint32_t value) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

std::string TickSeed() {
  std::string seed;
  AppendLE32(seed, static_cast<uint32_t>(platform::GetTickCount()));
  return seed;
}

// Current time as a date-time value (days since 1899-12-30), as its 8 raw bytes.
void AppendTimeBytes(std::string& out) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  const double days = 25569.0 + static_cast<double>(ms) / 86400000.0;
  char raw[sizeof(double)];
  std::memcpy(raw, &days, sizeof(raw));
  out.append(raw, sizeof(raw));
}

// Four (tick count, time) pairs: 48 bytes.
std::string TickTimePairs() {
  std::string out;
  for (int k = 0; k < 4; ++k) {
    AppendLE32(out, static_cast<uint32_t>(platform::GetTickCount()));
    AppendTimeBytes(out);
  }
  return out;
}

struct SharedGenerator {
  std::mutex lock;
  TOvRandom random;
  bool system_seeded = false;

  SharedGenerator() {
    system_seeded = SeedFromSystem(random, &platform::SystemRandomBytes, TickTimePairs());
  }
};

SharedGenerator& Shared() {
  static SharedGenerator generator;
  return generator;
}

}  // namespace

bool SeedFromSystem(TOvRandom& random, TCvSystemRandomSource source, std::string_view clockBytes) {
  // The system's source carries the entropy; the clock bytes only matter if
  // it is unavailable.
  unsigned char os[64];
  const bool delivered = source && source(os, sizeof(os));
  if (delivered) random.Mix(std::string_view(reinterpret_cast<const char*>(os), sizeof(os)));
  random.Mix(clockBytes);
  std::memset(os, 0, sizeof(os));
  return delivered;
}

TOvRandom::TOvRandom() { Seed(TickSeed()); }

TOvRandom::TOvRandom(std::string_view seed) { Seed(seed); }

void TOvRandom::Seed(std::string_view seed) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  i_ = 0;
  j_ = 0;
  Mix(seed);
}

void TOvRandom::Mix(std::string_view seed) {
  const size_t n = seed.size();
  if (n == 0) return;
  // Every seed byte yields itself and its right shifts by 1, 2 and 3 bits; the
  // seed is reused from its start when it runs out.
  uint8_t key[256];
  for (size_t m = 0; m < 64; ++m) {
    const auto b = static_cast<uint8_t>(seed[m % n]);
    for (unsigned r = 0; r < 4; ++r) key[4 * m + r] = static_cast<uint8_t>(b >> r);
  }
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + key[k]);
    std::swap(s_[k], s_[j]);
  }
  i_ = 0;
  j_ = 0;
}

void TOvRandom::Generate(void* buffer, size_t size) {
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t k = 0; k < size; ++k) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    out[k] = s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
  }
}

std::string TOvRandom::Generate(size_t size) {
  std::string out(size, '\0');
  Generate(out.data(), size);
  return out;
}

uint32_t TOvRandom::GenerateBelow(uint32_t max) {
  uint8_t b[4];
  Generate(b, sizeof(b));
  const uint32_t value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return max == 0 ? value : value % max;
}

void SharedRandomGenerate(void* buffer, size_t size) {
  SharedGenerator& g = Shared();
  const std::lock_guard<std::mutex> guard(g.lock);
  g.random.Generate(buffer, size);
}

std::string SharedRandomBytes(size_t size) {
  std::string out(size, '\0');
  SharedRandomGenerate(out.data(), size);
  return out;
}

uint32_t SharedRandomBelow(uint32_t max) {
  SharedGenerator& g = Shared();
  const std::lock_guard<std::mutex> guard(g.lock);
  return g.random.GenerateBelow(max);
}

void SharedRandomMix(std::string_view seed) {
  SharedGenerator& g = Shared();
  const std::lock_guard<std::mutex> guard(g.lock);
  g.random.Mix(seed);
}

bool SharedRandomSeededFromSystem() {
  SharedGenerator& g = Shared();
  const std::lock_guard<std::mutex> guard(g.lock);
  return g.system_seeded;
}

}  // namespace corvane
