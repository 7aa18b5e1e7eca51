#include "toolkit/crypto/CvMath.h"

#include <algorithm>
#include <cstring>

#include "platform/PlatformSystem.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvRandom.h"

namespace corvane {

namespace {

using u128 = unsigned __int128;

[[noreturn]] void Fail(const char* message) { throw EOvMathException(message); }

// Products of two maximal numbers still fit (twice the octets, plus a limb).
constexpr size_t kMaxLimbs = 2 * MATH_MAX_OCTETS / 8 + 2;

void CheckSize(size_t limbs) {
  if (limbs > kMaxLimbs) Fail("Number too large");
}

std::vector<uint32_t> ToWords(const std::vector<uint64_t>& limbs) {
  std::vector<uint32_t> words;
  words.reserve(limbs.size() * 2);
  for (uint64_t l : limbs) {
    words.push_back(static_cast<uint32_t>(l));
    words.push_back(static_cast<uint32_t>(l >> 32));
  }
  while (!words.empty() && words.back() == 0) words.pop_back();
  return words;
}

std::vector<uint64_t> FromWords(const std::vector<uint32_t>& words) {
  std::vector<uint64_t> limbs((words.size() + 1) / 2, 0);
  for (size_t i = 0; i < words.size(); ++i)
    limbs[i / 2] |= static_cast<uint64_t>(words[i]) << (32 * (i % 2));
  return limbs;
}

// Knuth's algorithm D (TAOCP 4.3.1) on 32-bit digits; v has at least two
// digits and no leading zero digit, u is at least as long as v.
void DivideWords(const std::vector<uint32_t>& u, const std::vector<uint32_t>& v,
                 std::vector<uint32_t>& q, std::vector<uint32_t>& r) {
  const size_t m = u.size();
  const size_t n = v.size();
  const int s = __builtin_clz(v[n - 1]);
  std::vector<uint32_t> vn(n), un(m + 1);
  for (size_t i = n - 1; i > 0; --i)
    vn[i] = static_cast<uint32_t>((static_cast<uint64_t>(v[i]) << s) |
                                  (static_cast<uint64_t>(v[i - 1]) >> (32 - s)));
  vn[0] = v[0] << s;
  un[m] = static_cast<uint32_t>(static_cast<uint64_t>(u[m - 1]) >> (32 - s));
  for (size_t i = m - 1; i > 0; --i)
    un[i] = static_cast<uint32_t>((static_cast<uint64_t>(u[i]) << s) |
                                  (static_cast<uint64_t>(u[i - 1]) >> (32 - s)));
  un[0] = u[0] << s;
  q.assign(m - n + 1, 0);
  constexpr uint64_t b = 1ULL << 32;
  for (size_t jj = m - n + 1; jj-- > 0;) {
    const size_t j = jj;
    const uint64_t num = (static_cast<uint64_t>(un[j + n]) << 32) | un[j + n - 1];
    uint64_t qhat = num / vn[n - 1];
    uint64_t rhat = num - qhat * vn[n - 1];
    while (qhat >= b || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= b) break;
    }
    int64_t k = 0;
    int64_t t = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t p = qhat * vn[i];
      t = static_cast<int64_t>(un[i + j]) - k - static_cast<int64_t>(p & 0xFFFFFFFFULL);
      un[i + j] = static_cast<uint32_t>(t);
      k = static_cast<int64_t>(p >> 32) - (t >> 32);
    }
    t = static_cast<int64_t>(un[j + n]) - k;
    un[j + n] = static_cast<uint32_t>(t);
    q[j] = static_cast<uint32_t>(qhat);
    if (t < 0) {
      // Estimated one too high: add the divisor back.
      --q[j];
      uint64_t c = 0;
      for (size_t i = 0; i < n; ++i) {
        const uint64_t sum = static_cast<uint64_t>(un[i + j]) + vn[i] + c;
        un[i + j] = static_cast<uint32_t>(sum);
        c = sum >> 32;
      }
      un[j + n] = static_cast<uint32_t>(un[j + n] + c);
    }
  }
  r.assign(n, 0);
  for (size_t i = 0; i + 1 < n; ++i)
    r[i] = static_cast<uint32_t>((static_cast<uint64_t>(un[i]) >> s) |
                                 (static_cast<uint64_t>(un[i + 1]) << (32 - s)));
  r[n - 1] = static_cast<uint32_t>((static_cast<uint64_t>(un[n - 1]) >> s) |
                                   (static_cast<uint64_t>(un[n]) << (32 - s)));
}

void FillRandom(void* buffer, size_t size) {
  if (!platform::SystemRandomBytes(buffer, size)) SharedRandomGenerate(buffer, size);
}

// First odd primes for trial division and the prime sieve.
const std::vector<uint32_t>& SmallPrimes() {
  static const std::vector<uint32_t> primes = [] {
    std::vector<uint32_t> out;
    for (uint32_t c = 3; c < 4096; c += 2) {
      bool prime = true;
      for (uint32_t p : out) {
        if (p * p > c) break;
        if (c % p == 0) {
          prime = false;
          break;
        }
      }
      if (prime) out.push_back(c);
    }
    return out;
  }();
  return primes;
}

uint64_t MaskIfEqual(uint64_t a, uint64_t b) {
  const uint64_t x = a ^ b;
  // 0 - 1 = all ones when x == 0.
  return ((x | (0 - x)) >> 63) - 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Representation

TOvMPInt::TOvMPInt(uint64_t value) {
  if (value != 0) limbs_.push_back(value);
}

void TOvMPInt::Normalize() {
  while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
}

void TOvMPInt::Wipe() {
  volatile uint64_t* p = limbs_.data();
  for (size_t i = 0; i < limbs_.size(); ++i) p[i] = 0;
  limbs_.clear();
}

TOvMPInt TOvMPInt::FromBytes(std::string_view bytes) {
  if (bytes.size() > MATH_MAX_OCTETS) Fail("Number too large");
  TOvMPInt r;
  r.limbs_.assign((bytes.size() + 7) / 8, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const size_t bit = 8 * (bytes.size() - 1 - i);
    r.limbs_[bit / 64] |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (bit % 64);
  }
  r.Normalize();
  return r;
}

void TOvMPInt::ToBytes(void* buffer, size_t size) const {
  if (Octets() > size) Fail("Output buffer too small");
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < size; ++i) {
    const size_t bit = 8 * (size - 1 - i);
    const size_t limb = bit / 64;
    out[i] = limb < limbs_.size() ? static_cast<uint8_t>(limbs_[limb] >> (bit % 64)) : 0;
  }
}

std::string TOvMPInt::ToBytes(size_t size) const {
  std::string out(size, '\0');
  ToBytes(out.data(), size);
  return out;
}

std::string TOvMPInt::ToBytes() const { return ToBytes(std::max<size_t>(1, Octets())); }

size_t TOvMPInt::Bits() const {
  if (limbs_.empty()) return 0;
  return 64 * limbs_.size() - static_cast<size_t>(__builtin_clzll(limbs_.back()));
}

bool TOvMPInt::Bit(size_t index) const {
  const size_t limb = index / 64;
  return limb < limbs_.size() && ((limbs_[limb] >> (index % 64)) & 1) != 0;
}

// ---------------------------------------------------------------------------
// Arithmetic

int TOvMPInt::Compare(const TOvMPInt& a, const TOvMPInt& b) {
  if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
  for (size_t i = a.limbs_.size(); i-- > 0;) {
    if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
  }
  return 0;
}

TOvMPInt TOvMPInt::Add(const TOvMPInt& a, const TOvMPInt& b) {
  const TOvMPInt& big = a.limbs_.size() >= b.limbs_.size() ? a : b;
  const TOvMPInt& small = a.limbs_.size() >= b.limbs_.size() ? b : a;
  CheckSize(big.limbs_.size() + 1);
  TOvMPInt r;
  r.limbs_.resize(big.limbs_.size() + 1);
  uint64_t carry = 0;
  for (size_t i = 0; i < big.limbs_.size(); ++i) {
    const u128 s =
        static_cast<u128>(big.limbs_[i]) + (i < small.limbs_.size() ? small.limbs_[i] : 0) + carry;
    r.limbs_[i] = static_cast<uint64_t>(s);
    carry = static_cast<uint64_t>(s >> 64);
  }
  r.limbs_.back() = carry;
  r.Normalize();
  return r;
}

TOvMPInt TOvMPInt::Sub(const TOvMPInt& a, const TOvMPInt& b) {
  if (Compare(a, b) < 0) Fail("Negative result");
  TOvMPInt r;
  r.limbs_.resize(a.limbs_.size());
  uint64_t borrow = 0;
  for (size_t i = 0; i < a.limbs_.size(); ++i) {
    const uint64_t bi = i < b.limbs_.size() ? b.limbs_[i] : 0;
    const u128 d = static_cast<u128>(a.limbs_[i]) - bi - borrow;
    r.limbs_[i] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  r.Normalize();
  return r;
}

TOvMPInt TOvMPInt::Mul(const TOvMPInt& a, const TOvMPInt& b) {
  if (a.IsZero() || b.IsZero()) return TOvMPInt();
  CheckSize(a.limbs_.size() + b.limbs_.size());
  TOvMPInt r;
  r.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
  for (size_t i = 0; i < a.limbs_.size(); ++i) {
    uint64_t carry = 0;
    const uint64_t ai = a.limbs_[i];
    for (size_t j = 0; j < b.limbs_.size(); ++j) {
      const u128 t = static_cast<u128>(ai) * b.limbs_[j] + r.limbs_[i + j] + carry;
      r.limbs_[i + j] = static_cast<uint64_t>(t);
      carry = static_cast<uint64_t>(t >> 64);
    }
    r.limbs_[i + b.limbs_.size()] = carry;
  }
  r.Normalize();
  return r;
}

void TOvMPInt::DivMod(const TOvMPInt& a, const TOvMPInt& b, TOvMPInt* quotient,
                      TOvMPInt* remainder) {
  if (b.IsZero()) Fail("Division by zero");
  if (Compare(a, b) < 0) {
    if (remainder != nullptr) *remainder = a;
    if (quotient != nullptr) *quotient = TOvMPInt();
    return;
  }
  const std::vector<uint32_t> u = ToWords(a.limbs_);
  const std::vector<uint32_t> v = ToWords(b.limbs_);
  std::vector<uint32_t> q, r;
  if (v.size() == 1) {
    q.assign(u.size(), 0);
    uint64_t rem = 0;
    for (size_t i = u.size(); i-- > 0;) {
      const uint64_t cur = (rem << 32) | u[i];
      q[i] = static_cast<uint32_t>(cur / v[0]);
      rem = cur % v[0];
    }
    r.assign(1, static_cast<uint32_t>(rem));
  } else {
    DivideWords(u, v, q, r);
  }
  if (quotient != nullptr) {
    quotient->limbs_ = FromWords(q);
    quotient->Normalize();
  }
  if (remainder != nullptr) {
    remainder->limbs_ = FromWords(r);
    remainder->Normalize();
  }
}

TOvMPInt TOvMPInt::Mod(const TOvMPInt& a, const TOvMPInt& m) {
  TOvMPInt r;
  DivMod(a, m, nullptr, &r);
  return r;
}

uint32_t TOvMPInt::ModSmall(const TOvMPInt& a, uint32_t divisor) {
  if (divisor == 0) Fail("Division by zero");
  uint64_t rem = 0;
  for (size_t i = a.limbs_.size(); i-- > 0;) {
    rem = static_cast<uint64_t>(((static_cast<u128>(rem) << 64) | a.limbs_[i]) % divisor);
  }
  return static_cast<uint32_t>(rem);
}

TOvMPInt TOvMPInt::ShiftRight(const TOvMPInt& a, size_t bits) {
  const size_t limbShift = bits / 64;
  const unsigned bitShift = bits % 64;
  if (limbShift >= a.limbs_.size()) return TOvMPInt();
  TOvMPInt r;
  r.limbs_.assign(a.limbs_.size() - limbShift, 0);
  for (size_t i = 0; i < r.limbs_.size(); ++i) {
    uint64_t v = a.limbs_[i + limbShift] >> bitShift;
    if (bitShift != 0 && i + limbShift + 1 < a.limbs_.size())
      v |= a.limbs_[i + limbShift + 1] << (64 - bitShift);
    r.limbs_[i] = v;
  }
  r.Normalize();
  return r;
}

TOvMPInt TOvMPInt::ShiftLeft(const TOvMPInt& a, size_t bits) {
  if (a.IsZero()) return TOvMPInt();
  const size_t limbShift = bits / 64;
  const unsigned bitShift = bits % 64;
  CheckSize(a.limbs_.size() + limbShift + 1);
  TOvMPInt r;
  r.limbs_.assign(a.limbs_.size() + limbShift + 1, 0);
  for (size_t i = 0; i < a.limbs_.size(); ++i) {
    r.limbs_[i + limbShift] |= a.limbs_[i] << bitShift;
    if (bitShift != 0) r.limbs_[i + limbShift + 1] |= a.limbs_[i] >> (64 - bitShift);
  }
  r.Normalize();
  return r;
}

TOvMPInt TOvMPInt::ModMul(const TOvMPInt& a, const TOvMPInt& b, const TOvMPInt& m) {
  return Mod(Mul(a, b), m);
}

TOvMPInt TOvMPInt::Gcd(const TOvMPInt& a, const TOvMPInt& b) {
  TOvMPInt x = a, y = b;
  while (!y.IsZero()) {
    TOvMPInt r = Mod(x, y);
    x = std::move(y);
    y = std::move(r);
  }
  return x;
}

TOvMPInt TOvMPInt::ModInverse(const TOvMPInt& a, const TOvMPInt& m) {
  if (m.IsZero()) Fail("Division by zero");
  // Extended Euclid; the coefficient of a is kept as magnitude and sign.
  TOvMPInt r0 = m, r1 = Mod(a, m);
  TOvMPInt t0, t1(1);
  bool neg0 = false, neg1 = false;
  while (!r1.IsZero()) {
    TOvMPInt q, r;
    DivMod(r0, r1, &q, &r);
    // t2 = t0 - q * t1
    const TOvMPInt qt = Mul(q, t1);
    TOvMPInt t2;
    bool neg2;
    if (neg0 != neg1) {
      t2 = Add(t0, qt);
      neg2 = neg0;
    } else if (Compare(t0, qt) >= 0) {
      t2 = Sub(t0, qt);
      neg2 = neg0;
    } else {
      t2 = Sub(qt, t0);
      neg2 = !neg0;
    }
    r0 = std::move(r1);
    r1 = std::move(r);
    t0 = std::move(t1);
    neg0 = neg1;
    t1 = std::move(t2);
    neg1 = neg2;
  }
  if (!r0.IsOne()) Fail("No inverse");
  t0 = Mod(t0, m);
  if (neg0 && !t0.IsZero()) t0 = Sub(m, t0);
  return t0;
}

// ---------------------------------------------------------------------------
// Montgomery arithmetic

namespace {

// One pass of CIOS with the multiplication and the reduction fused, so the
// two carry chains run side by side; t < 2n throughout, so t[s] is 0 or 1.
// The final subtraction is done by masking, not by branching.
template <size_t kFixed>
inline void MontMulImpl(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n,
                        uint64_t n0inv, size_t dynamicSize, uint64_t* t) {
  const size_t s = kFixed != 0 ? kFixed : dynamicSize;
  for (size_t j = 0; j <= s; ++j) t[j] = 0;
  for (size_t i = 0; i < s; ++i) {
    const uint64_t ai = a[i];
    u128 x = static_cast<u128>(ai) * b[0] + t[0];
    uint64_t c1 = static_cast<uint64_t>(x >> 64);
    const uint64_t lo = static_cast<uint64_t>(x);
    const uint64_t m = lo * n0inv;
    u128 y = static_cast<u128>(m) * n[0] + lo;
    uint64_t c2 = static_cast<uint64_t>(y >> 64);
#pragma GCC unroll 16
    for (size_t j = 1; j < s; ++j) {
      x = static_cast<u128>(ai) * b[j] + t[j] + c1;
      c1 = static_cast<uint64_t>(x >> 64);
      y = static_cast<u128>(m) * n[j] + static_cast<uint64_t>(x) + c2;
      c2 = static_cast<uint64_t>(y >> 64);
      t[j - 1] = static_cast<uint64_t>(y);
    }
    x = static_cast<u128>(t[s]) + c1 + c2;
    t[s - 1] = static_cast<uint64_t>(x);
    t[s] = static_cast<uint64_t>(x >> 64);
  }
  // t < 2n: subtract n, keep the difference unless it borrowed past t[s].
  uint64_t borrow = 0;
  for (size_t j = 0; j < s; ++j) {
    const u128 d = static_cast<u128>(t[j]) - n[j] - borrow;
    r[j] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  const uint64_t keepT = MaskIfEqual(t[s], 0) & (0 - borrow);
  for (size_t j = 0; j < s; ++j) r[j] = (t[j] & keepT) | (r[j] & ~keepT);
}

// r = a^2 * R^-1 mod n: the square costs about half a product (each cross
// term once, doubled), then a separate Montgomery reduction; t has 2s + 2 limbs.
template <size_t kFixed>
inline void MontSqrImpl(uint64_t* r, const uint64_t* a, const uint64_t* n, uint64_t n0inv,
                        size_t dynamicSize, uint64_t* t) {
  const size_t s = kFixed != 0 ? kFixed : dynamicSize;
  for (size_t j = 0; j < 2 * s; ++j) t[j] = 0;
  for (size_t i = 0; i + 1 < s; ++i) {
    const uint64_t ai = a[i];
    uint64_t c = 0;
    for (size_t j = i + 1; j < s; ++j) {
      const u128 x = static_cast<u128>(ai) * a[j] + t[i + j] + c;
      t[i + j] = static_cast<uint64_t>(x);
      c = static_cast<uint64_t>(x >> 64);
    }
    t[i + s] = c;
  }
  // Double the cross terms and add the squares on the diagonal.
  uint64_t shifted = 0;
  for (size_t j = 0; j < 2 * s; ++j) {
    const uint64_t v = t[j];
    t[j] = (v << 1) | shifted;
    shifted = v >> 63;
  }
  uint64_t c = 0;
  for (size_t i = 0; i < s; ++i) {
    const u128 sq = static_cast<u128>(a[i]) * a[i];
    u128 x = static_cast<u128>(t[2 * i]) + static_cast<uint64_t>(sq) + c;
    t[2 * i] = static_cast<uint64_t>(x);
    x = static_cast<u128>(t[2 * i + 1]) + static_cast<uint64_t>(sq >> 64) + (x >> 64);
    t[2 * i + 1] = static_cast<uint64_t>(x);
    c = static_cast<uint64_t>(x >> 64);
  }
  // Montgomery reduction; the carry out of each row waits in top for the next.
  uint64_t top = 0;
  for (size_t i = 0; i < s; ++i) {
    const uint64_t m = t[i] * n0inv;
    uint64_t k = 0;
#pragma GCC unroll 16
    for (size_t j = 0; j < s; ++j) {
      const u128 x = static_cast<u128>(m) * n[j] + t[i + j] + k;
      t[i + j] = static_cast<uint64_t>(x);
      k = static_cast<uint64_t>(x >> 64);
    }
    const u128 x = static_cast<u128>(t[i + s]) + k + top;
    t[i + s] = static_cast<uint64_t>(x);
    top = static_cast<uint64_t>(x >> 64);
  }
  const uint64_t* u = t + s;
  uint64_t borrow = 0;
  for (size_t j = 0; j < s; ++j) {
    const u128 d = static_cast<u128>(u[j]) - n[j] - borrow;
    r[j] = static_cast<uint64_t>(d);
    borrow = static_cast<uint64_t>(d >> 64) & 1;
  }
  const uint64_t keepU = MaskIfEqual(top, 0) & (0 - borrow);
  for (size_t j = 0; j < s; ++j) r[j] = (u[j] & keepU) | (r[j] & ~keepU);
}

void MontSqr(uint64_t* r, const uint64_t* a, const uint64_t* n, uint64_t n0inv, size_t s,
             uint64_t* t) {
  switch (s) {
    case 8:
      return MontSqrImpl<8>(r, a, n, n0inv, s, t);
    case 16:
      return MontSqrImpl<16>(r, a, n, n0inv, s, t);
    case 24:
      return MontSqrImpl<24>(r, a, n, n0inv, s, t);
    case 32:
      return MontSqrImpl<32>(r, a, n, n0inv, s, t);
    case 48:
      return MontSqrImpl<48>(r, a, n, n0inv, s, t);
    case 64:
      return MontSqrImpl<64>(r, a, n, n0inv, s, t);
    default:
      return MontSqrImpl<0>(r, a, n, n0inv, s, t);
  }
}

// r = a * b * R^-1 mod n over s limbs; t has s + 2 limbs of scratch. The
// common prime and modulus sizes get a loop the compiler can unroll.
void MontMul(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n, uint64_t n0inv,
             size_t s, uint64_t* t) {
  switch (s) {
    case 8:
      return MontMulImpl<8>(r, a, b, n, n0inv, s, t);
    case 16:
      return MontMulImpl<16>(r, a, b, n, n0inv, s, t);
    case 24:
      return MontMulImpl<24>(r, a, b, n, n0inv, s, t);
    case 32:
      return MontMulImpl<32>(r, a, b, n, n0inv, s, t);
    case 48:
      return MontMulImpl<48>(r, a, b, n, n0inv, s, t);
    case 64:
      return MontMulImpl<64>(r, a, b, n, n0inv, s, t);
    default:
      return MontMulImpl<0>(r, a, b, n, n0inv, s, t);
  }
}

}  // namespace

TOvMontgomery::TOvMontgomery(const TOvMPInt& modulus) : modulus_(modulus) {
  if (!modulus.IsOdd()) Fail("Even modulus");
  size_ = modulus.limbs_.size();
  // Newton iteration for modulus^-1 mod 2^64.
  const uint64_t n0 = modulus.limbs_[0];
  uint64_t inv = n0;  // correct to 3 bits for odd n0
  for (int i = 0; i < 6; ++i) inv *= 2 - n0 * inv;
  n0inv_ = 0 - inv;
  const TOvMPInt r = TOvMPInt::Mod(TOvMPInt::ShiftLeft(TOvMPInt(1), 64 * size_), modulus);
  const TOvMPInt r2 = TOvMPInt::Mod(TOvMPInt::ShiftLeft(TOvMPInt(1), 128 * size_), modulus);
  one_ = r.limbs_;
  one_.resize(size_, 0);
  r2_ = r2.limbs_;
  r2_.resize(size_, 0);
}

bool TOvMontgomery::Pow(const TOvMPInt& base, const TOvMPInt& exponent, TOvMPInt& result,
                        const TCvMathProgress& progress, size_t exponentBits) const {
  const size_t s = size_;
  const uint64_t* n = modulus_.limbs_.data();
  const size_t bits = std::max(exponentBits, exponent.Bits());
  const unsigned w = bits > 512 ? 5 : (bits > 64 ? 4 : 1);
  const size_t entries = size_t{1} << w;
  const size_t windows = (bits + w - 1) / w;

  std::vector<uint64_t> table(entries * s, 0), acc(s), tmp(s), sel(s), scratch(2 * s + 2), b(s, 0);
  TOvMPInt reduced = TOvMPInt::Compare(base, modulus_) >= 0 ? TOvMPInt::Mod(base, modulus_) : base;
  std::copy(reduced.limbs_.begin(), reduced.limbs_.end(), b.begin());
  reduced.Wipe();
  // table[k] = base^k in Montgomery form.
  std::copy(one_.begin(), one_.end(), table.begin());
  MontMul(table.data() + s, b.data(), r2_.data(), n, n0inv_, s, scratch.data());
  for (size_t k = 2; k < entries; ++k)
    MontMul(table.data() + k * s, table.data() + (k - 1) * s, table.data() + s, n, n0inv_, s,
            scratch.data());

  auto window = [&](size_t index) {
    uint64_t v = 0;
    for (unsigned i = 0; i < w; ++i) v |= static_cast<uint64_t>(exponent.Bit(index * w + i)) << i;
    return v;
  };
  // Reads every entry so the memory pattern does not reveal the index.
  auto select = [&](uint64_t index) {
    std::fill(sel.begin(), sel.end(), 0);
    for (size_t k = 0; k < entries; ++k) {
      const uint64_t mask = MaskIfEqual(k, index);
      const uint64_t* e = table.data() + k * s;
      for (size_t j = 0; j < s; ++j) sel[j] |= e[j] & mask;
    }
  };

  bool completed = true;
  if (windows == 0) {
    acc = one_;
  } else {
    select(window(windows - 1));
    acc = sel;
    for (size_t i = windows - 1; i-- > 0;) {
      for (unsigned k = 0; k < w; ++k) {
        MontSqr(tmp.data(), acc.data(), n, n0inv_, s, scratch.data());
        acc.swap(tmp);
      }
      select(window(i));
      MontMul(tmp.data(), acc.data(), sel.data(), n, n0inv_, s, scratch.data());
      acc.swap(tmp);
      if (progress && (i % 16) == 0 &&
          !progress(static_cast<int64_t>(windows - i), static_cast<int64_t>(windows))) {
        completed = false;
        break;
      }
    }
  }
  if (completed) {
    std::vector<uint64_t> unit(s, 0);
    unit[0] = 1;
    MontMul(tmp.data(), acc.data(), unit.data(), n, n0inv_, s, scratch.data());
    result.limbs_ = tmp;
    result.Normalize();
  }
  auto wipe = [](std::vector<uint64_t>& v) {
    volatile uint64_t* p = v.data();
    for (size_t i = 0; i < v.size(); ++i) p[i] = 0;
  };
  wipe(table);
  wipe(acc);
  wipe(tmp);
  wipe(sel);
  wipe(b);
  wipe(scratch);
  return completed;
}

bool TOvMPInt::ModPow(const TOvMPInt& base, const TOvMPInt& exponent, const TOvMPInt& modulus,
                      TOvMPInt& result, const TCvMathProgress& progress, size_t exponentBits) {
  if (modulus.IsZero()) Fail("Division by zero");
  if (modulus.IsOne()) {
    result = TOvMPInt();
    return true;
  }
  if (modulus.IsOdd())
    return TOvMontgomery(modulus).Pow(base, exponent, result, progress, exponentBits);
  // Even moduli are rare here (never secret): plain square and multiply.
  TOvMPInt acc(1);
  const TOvMPInt b = Mod(base, modulus);
  const size_t bits = exponent.Bits();
  for (size_t i = bits; i-- > 0;) {
    acc = ModMul(acc, acc, modulus);
    if (exponent.Bit(i)) acc = ModMul(acc, b, modulus);
    if (progress && (i % 64) == 0 &&
        !progress(static_cast<int64_t>(bits - i), static_cast<int64_t>(bits))) {
      return false;
    }
  }
  result = std::move(acc);
  return true;
}

TOvMPInt TOvMPInt::ModPow(const TOvMPInt& base, const TOvMPInt& exponent, const TOvMPInt& modulus) {
  TOvMPInt r;
  ModPow(base, exponent, modulus, r);
  return r;
}

// ---------------------------------------------------------------------------
// Random numbers and primes

TOvMPInt TOvMPInt::Random(size_t octets) {
  if (octets >= MATH_MAX_OCTETS) Fail("Number too large");
  std::string bytes(octets, '\0');
  FillRandom(bytes.data(), bytes.size());
  TOvMPInt r = FromBytes(bytes);
  std::memset(bytes.data(), 0, bytes.size());
  return r;
}

TOvMPInt TOvMPInt::RandomBits(size_t bits) {
  TOvMPInt r = Random((bits + 7) / 8);
  if (bits % 8 != 0 && !r.limbs_.empty()) {
    const size_t excess = 8 * ((bits + 7) / 8) - bits;
    r = ShiftRight(r, excess);
  }
  return r;
}

TOvMPInt TOvMPInt::RandomBelow(const TOvMPInt& limit) {
  if (Compare(limit, TOvMPInt(1)) <= 0) Fail("Number too large");
  const size_t bits = limit.Bits();
  // Rejection sampling keeps the result uniform.
  for (;;) {
    TOvMPInt r = RandomBits(bits);
    if (!r.IsZero() && Compare(r, limit) < 0) return r;
  }
}

bool TOvMPInt::IsProbablePrime(const TOvMPInt& n, int rounds) {
  if (n.limbs_.empty()) return false;
  if (n.limbs_.size() == 1 && n.limbs_[0] < 4) return n.limbs_[0] >= 2;
  if (!n.IsOdd()) return false;
  for (uint32_t p : SmallPrimes()) {
    if (n.limbs_.size() == 1 && n.limbs_[0] == p) return true;
    if (ModSmall(n, p) == 0) return false;
  }
  const size_t bits = n.Bits();
  if (rounds <= 0) rounds = bits >= 1024 ? 6 : (bits >= 512 ? 8 : (bits >= 256 ? 16 : 40));
  const TOvMPInt nMinus1 = Sub(n, TOvMPInt(1));
  size_t s = 0;
  while (!nMinus1.Bit(s)) ++s;
  const TOvMPInt d = ShiftRight(nMinus1, s);
  const TOvMontgomery mont(n);
  const TOvMPInt three(3);
  if (Compare(n, TOvMPInt(5)) < 0) return true;
  for (int round = 0; round < rounds; ++round) {
    // Base in [2, n - 2].
    const TOvMPInt a = Add(RandomBelow(Sub(n, three)), TOvMPInt(1));
    TOvMPInt x;
    mont.Pow(a, d, x);
    if (x.IsOne() || x == nMinus1) continue;
    bool witness = true;
    for (size_t i = 1; i < s; ++i) {
      x = ModMul(x, x, n);
      if (x == nMinus1) {
        witness = false;
        break;
      }
      if (x.IsOne()) break;
    }
    if (witness) return false;
  }
  return true;
}

bool TOvMPInt::GeneratePrime(size_t bits, uint64_t coprimeTo, TOvMPInt& prime,
                             const TCvMathProgress& progress) {
  if (bits < 16 || bits > 8 * MATH_MAX_OCTETS / 2) Fail("Number too large");
  const std::vector<uint32_t>& primes = SmallPrimes();
  std::vector<uint32_t> residues(primes.size());
  int64_t attempts = 0;
  for (;;) {
    TOvMPInt base = RandomBits(bits);
    // Top two bits set, odd.
    base.limbs_.resize((bits + 63) / 64, 0);
    base.limbs_[(bits - 1) / 64] |= uint64_t{1} << ((bits - 1) % 64);
    base.limbs_[(bits - 2) / 64] |= uint64_t{1} << ((bits - 2) % 64);
    base.limbs_[0] |= 1;
    base.Normalize();
    for (size_t i = 0; i < primes.size(); ++i) residues[i] = ModSmall(base, primes[i]);
    const uint64_t eResidue = coprimeTo > 1 ? ModSmall(base, static_cast<uint32_t>(coprimeTo)) : 0;
    // Walk odd candidates base + delta, skipping those a small prime divides.
    for (uint32_t delta = 0; delta < (1u << 16); delta += 2) {
      bool candidate = true;
      for (size_t i = 0; i < primes.size(); ++i) {
        if ((residues[i] + delta) % primes[i] == 0) {
          candidate = false;
          break;
        }
      }
      // gcd(p - 1, e) == 1 for a prime e: p mod e != 1.
      if (candidate && coprimeTo > 1 && (eResidue + delta) % coprimeTo == 1) candidate = false;
      if (!candidate) continue;
      TOvMPInt c = Add(base, TOvMPInt(delta));
      if (c.Bits() != bits) break;
      ++attempts;
      if (progress && !progress(attempts, 0)) return false;
      if (IsProbablePrime(c)) {
        if (coprimeTo > 1 && !Gcd(Sub(c, TOvMPInt(1)), TOvMPInt(coprimeTo)).IsOne()) continue;
        prime = std::move(c);
        return true;
      }
    }
  }
}

}  // namespace corvane
