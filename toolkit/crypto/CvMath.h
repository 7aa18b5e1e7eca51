// The multi-precision integer module: non-negative integers of up to 3072
// octets (with room for the double-length products of their arithmetic),
// the arithmetic RSA needs, Montgomery exponentiation, random numbers from
// the operating system and prime generation.
//
// Errors raise EOvMathException: "Number too large", "Output buffer too
// small", "Division by zero", "Negative result", "No inverse", "Even modulus".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The longest big-endian number accepted (768 words of 32 bits).
inline constexpr size_t MATH_MAX_OCTETS = 3072;

// Progress of a long computation: (done, total); returning false cancels.
using TCvMathProgress = std::function<bool(int64_t done, int64_t total)>;

class TOvMPInt {
 public:
  TOvMPInt() = default;
  explicit TOvMPInt(uint64_t value);

  // Big-endian octets; more than MATH_MAX_OCTETS raises "Number too large".
  static TOvMPInt FromBytes(std::string_view bytes);
  // Minimal big-endian octets ("" for zero is never returned: zero gives one 00).
  std::string ToBytes() const;
  // Exactly size octets, left-padded with zeros; "Output buffer too small"
  // when the value needs more.
  void ToBytes(void* buffer, size_t size) const;
  std::string ToBytes(size_t size) const;

  bool IsZero() const { return limbs_.empty(); }
  bool IsOdd() const { return !limbs_.empty() && (limbs_[0] & 1) != 0; }
  bool IsOne() const { return limbs_.size() == 1 && limbs_[0] == 1; }
  size_t Bits() const;
  size_t Octets() const { return (Bits() + 7) / 8; }
  bool Bit(size_t index) const;
  uint64_t Low64() const { return limbs_.empty() ? 0 : limbs_[0]; }
  const std::vector<uint64_t>& Limbs() const { return limbs_; }

  // -1, 0, 1.
  static int Compare(const TOvMPInt& a, const TOvMPInt& b);
  static TOvMPInt Add(const TOvMPInt& a, const TOvMPInt& b);
  // a - b; "Negative result" when b > a.
  static TOvMPInt Sub(const TOvMPInt& a, const TOvMPInt& b);
  static TOvMPInt Mul(const TOvMPInt& a, const TOvMPInt& b);
  // "Division by zero" when b is zero.
  static void DivMod(const TOvMPInt& a, const TOvMPInt& b, TOvMPInt* quotient, TOvMPInt* remainder);
  static TOvMPInt Mod(const TOvMPInt& a, const TOvMPInt& m);
  static TOvMPInt ShiftRight(const TOvMPInt& a, size_t bits);
  static TOvMPInt ShiftLeft(const TOvMPInt& a, size_t bits);
  // The remainder of a by a small divisor (not zero).
  static uint32_t ModSmall(const TOvMPInt& a, uint32_t divisor);

  // (a * b) mod m.
  static TOvMPInt ModMul(const TOvMPInt& a, const TOvMPInt& b, const TOvMPInt& m);
  // base^exponent mod modulus. Odd moduli run in Montgomery form with a fixed
  // window whose pattern of operations does not depend on the exponent bits
  // (the exponent is processed over exponentBits bits, at least its length).
  // Returns false when progress cancelled.
  static bool ModPow(const TOvMPInt& base, const TOvMPInt& exponent, const TOvMPInt& modulus,
                     TOvMPInt& result, const TCvMathProgress& progress = {},
                     size_t exponentBits = 0);
  static TOvMPInt ModPow(const TOvMPInt& base, const TOvMPInt& exponent, const TOvMPInt& modulus);
  // a^-1 mod m; "No inverse" when gcd(a, m) != 1.
  static TOvMPInt ModInverse(const TOvMPInt& a, const TOvMPInt& m);
  static TOvMPInt Gcd(const TOvMPInt& a, const TOvMPInt& b);

  // Uniform random numbers from the kernel's random source. Random(octets)
  // raises "Number too large" for MATH_MAX_OCTETS octets or more.
  static TOvMPInt Random(size_t octets);
  static TOvMPInt RandomBits(size_t bits);
  // Uniform in [1, limit).
  static TOvMPInt RandomBelow(const TOvMPInt& limit);

  // Miller-Rabin with random bases after trial division by small primes.
  static bool IsProbablePrime(const TOvMPInt& n, int rounds = 0);
  // A random prime of exactly bits bits whose two top bits are set, so that
  // the product of two such primes has exactly 2 * bits bits. When
  // coprimeTo is non-zero, gcd(p - 1, coprimeTo) == 1. Returns false when
  // progress cancelled.
  static bool GeneratePrime(size_t bits, uint64_t coprimeTo, TOvMPInt& prime,
                            const TCvMathProgress& progress = {});

  friend bool operator==(const TOvMPInt& a, const TOvMPInt& b) { return a.limbs_ == b.limbs_; }

  // Overwrites the limbs before they are dropped.
  void Wipe();

 private:
  friend class TOvMontgomery;
  void Normalize();
  std::vector<uint64_t> limbs_;  // least significant first, no leading zero limbs
};

// Montgomery arithmetic modulo one odd number, reusable across exponentiations.
class TOvMontgomery {
 public:
  explicit TOvMontgomery(const TOvMPInt& modulus);  // "Even modulus" when even

  const TOvMPInt& Modulus() const { return modulus_; }
  // base^exponent mod modulus, see TOvMPInt::ModPow.
  bool Pow(const TOvMPInt& base, const TOvMPInt& exponent, TOvMPInt& result,
           const TCvMathProgress& progress = {}, size_t exponentBits = 0) const;

 private:
  TOvMPInt modulus_;
  size_t size_ = 0;            // limbs
  uint64_t n0inv_ = 0;         // -modulus^-1 mod 2^64
  std::vector<uint64_t> r2_;   // R^2 mod modulus
  std::vector<uint64_t> one_;  // R mod modulus
};

}  // namespace corvane
