// The multi-precision integer module against bc and openssl.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RsaTestUtil.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvMath.h"

namespace corvane {
using namespace std::string_literals;
namespace {

using testutil::RandomBytes;
using testutil::RunTool;

std::string HexOf(const TOvMPInt& v) {
  std::string hex = BytesToHex(v.ToBytes());
  const size_t first = hex.find_first_not_of('0');
  return first == std::string::npos ? "0" : hex.substr(first);
}

TOvMPInt FromHex(const std::string& hex) {
  std::string padded = hex.size() % 2 ? "0" + hex : hex;
  ByteString bytes;
  HexToBytes(padded, bytes);
  return TOvMPInt::FromBytes(bytes);
}

// Evaluates one expression per line with bc in hexadecimal.
std::vector<std::string> Bc(const std::vector<std::string>& lines) {
  std::string script =
      "obase=16\nibase=16\n"
      "define m(b,e,n){ auto r; r=1; b=b%n; while(e>0){ if(e%2==1){r=(r*b)%n}; e=e/2; b=(b*b)%n }; "
      "return r }\n";
  for (const auto& l : lines) script += l + "\n";
  tavra_test::ScratchDir dir;
  const auto result = RunTool(
      "BC_LINE_LENGTH=0 bc -q " + testutil::Quote(dir.Write("script.bc", script)) + " </dev/null",
      false);
  EXPECT_EQ(result.status, 0) << result.output;
  std::vector<std::string> out;
  size_t start = 0;
  while (start < result.output.size()) {
    const size_t end = result.output.find('\n', start);
    out.push_back(result.output.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

TEST(MathTest, ArithmeticAgreesWithBc) {
  TAVRA_REQUIRE_TOOL("bc");
  struct Case {
    TOvMPInt a, b;
  };
  std::vector<Case> cases;
  const size_t sizes[][2] = {{1, 1},     {9, 8},     {17, 9},    {64, 32},
                             {128, 127}, {300, 150}, {512, 256}, {40, 17}};
  uint32_t seed = 1;
  for (const auto& s : sizes) {
    cases.push_back({TOvMPInt::FromBytes(RandomBytes(s[0], seed)),
                     TOvMPInt::FromBytes(RandomBytes(s[1], seed + 1))});
    seed += 2;
  }
  // Divisions where the first quotient estimate is one too high and the
  // divisor must be added back (32-bit digits 8000 0000FFFE 00000000 /
  // 8000 0000FFFF), and a borrow that must not be read as signed.
  cases.push_back({FromHex("80000000FFFE00000000"), FromHex("800000000FFFF")});
  cases.push_back({FromHex("000080000000FFFE00000000"), FromHex("000080000000FFFF")});
  cases.push_back({FromHex("800000000000000000000003"), FromHex("200000000000000000000001")});
  cases.push_back({FromHex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"), FromHex("FFFFFFFFFFFFFFFF")});

  std::vector<std::string> lines;
  std::vector<std::string> ours;
  for (const auto& c : cases) {
    const std::string a = HexOf(c.a), b = HexOf(c.b);
    TOvMPInt q, r;
    TOvMPInt::DivMod(c.a, c.b, &q, &r);
    lines.push_back(a + "*" + b);
    ours.push_back(HexOf(TOvMPInt::Mul(c.a, c.b)));
    lines.push_back(a + "+" + b);
    ours.push_back(HexOf(TOvMPInt::Add(c.a, c.b)));
    lines.push_back(a + "/" + b);
    ours.push_back(HexOf(q));
    lines.push_back(a + "%" + b);
    ours.push_back(HexOf(r));
    if (TOvMPInt::Compare(c.a, c.b) >= 0) {
      lines.push_back(a + "-" + b);
      ours.push_back(HexOf(TOvMPInt::Sub(c.a, c.b)));
    }
  }
  // Exponentiation: odd moduli (Montgomery, every window size) and an even one.
  for (size_t bytes : {8, 40, 96, 128, 200}) {
    TOvMPInt m = TOvMPInt::FromBytes(RandomBytes(bytes, 100 + static_cast<uint32_t>(bytes)));
    if (!m.IsOdd()) m = TOvMPInt::Add(m, TOvMPInt(1));
    const TOvMPInt base =
        TOvMPInt::FromBytes(RandomBytes(bytes + 3, 200 + static_cast<uint32_t>(bytes)));
    const TOvMPInt e = TOvMPInt::FromBytes(
        RandomBytes(std::min<size_t>(bytes, 40), 300 + static_cast<uint32_t>(bytes)));
    lines.push_back("m(" + HexOf(base) + "," + HexOf(e) + "," + HexOf(m) + ")");
    ours.push_back(HexOf(TOvMPInt::ModPow(base, e, m)));
    // A long window-aligned exponent of zero bits above its length.
    TOvMPInt viaExtraBits;
    ASSERT_TRUE(TOvMPInt::ModPow(base, e, m, viaExtraBits, {}, 8 * bytes + 77));
    EXPECT_EQ(HexOf(viaExtraBits), ours.back());
  }
  const TOvMPInt even = TOvMPInt::FromBytes(RandomBytes(64, 7)), evenBase(12345);
  const TOvMPInt evenMod = TOvMPInt::ShiftLeft(TOvMPInt::ShiftRight(even, 1), 1);
  lines.push_back("m(" + HexOf(evenBase) + "," + HexOf(even) + "," + HexOf(evenMod) + ")");
  ours.push_back(HexOf(TOvMPInt::ModPow(evenBase, even, evenMod)));

  const auto expected = Bc(lines);
  ASSERT_EQ(expected.size(), ours.size());
  for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], expected[i]) << lines[i];
}

TEST(MathTest, ByteConversionLimitsAndErrors) {
  const std::string bytes = "\x00\x00\x01\x02\x03"s;
  const TOvMPInt v = TOvMPInt::FromBytes(bytes);
  EXPECT_EQ(v.ToBytes(), "\x01\x02\x03");
  EXPECT_EQ(v.ToBytes(6), "\x00\x00\x00\x01\x02\x03"s);
  EXPECT_EQ(TOvMPInt().ToBytes(), "\x00"s);
  char small[2];
  try {
    v.ToBytes(small, sizeof small);
    FAIL() << "no exception";
  } catch (const EOvMathException& e) {
    EXPECT_STREQ(e.what(), "Output buffer too small");
  }
  EXPECT_NO_THROW(TOvMPInt::FromBytes(std::string(MATH_MAX_OCTETS, '\xFF')));
  try {
    TOvMPInt::FromBytes(std::string(MATH_MAX_OCTETS + 1, '\x01'));
    FAIL() << "no exception";
  } catch (const EOvMathException& e) {
    EXPECT_STREQ(e.what(), "Number too large");
  }
  EXPECT_THROW(TOvMPInt::Random(MATH_MAX_OCTETS), EOvMathException);
  try {
    TOvMPInt::DivMod(v, TOvMPInt(), nullptr, nullptr);
    FAIL() << "no exception";
  } catch (const EOvMathException& e) {
    EXPECT_STREQ(e.what(), "Division by zero");
  }
}

TEST(MathTest, InverseAndGcd) {
  const TOvMPInt m = TOvMPInt::FromBytes(RandomBytes(128, 11));
  for (uint32_t seed = 20; seed < 26; ++seed) {
    const TOvMPInt a = TOvMPInt::FromBytes(RandomBytes(100, seed));
    const TOvMPInt g = TOvMPInt::Gcd(a, m);
    EXPECT_TRUE(TOvMPInt::Mod(a, g).IsZero());
    EXPECT_TRUE(TOvMPInt::Mod(m, g).IsZero());
    if (g.IsOne()) {
      EXPECT_TRUE(TOvMPInt::ModMul(a, TOvMPInt::ModInverse(a, m), m).IsOne());
    } else {
      EXPECT_THROW(TOvMPInt::ModInverse(a, m), EOvMathException);
    }
  }
  EXPECT_EQ(TOvMPInt::ModInverse(TOvMPInt(3), TOvMPInt(7)), TOvMPInt(5));
  try {
    TOvMPInt::ModInverse(TOvMPInt(6), TOvMPInt(9));
    FAIL() << "no exception";
  } catch (const EOvMathException& e) {
    EXPECT_STREQ(e.what(), "No inverse");
  }
}

TEST(MathTest, PrimesAgreeWithOpenSSL) {
  TAVRA_REQUIRE_TOOL("openssl");
  TOvMPInt p;
  ASSERT_TRUE(TOvMPInt::GeneratePrime(512, 65537, p));
  EXPECT_EQ(p.Bits(), 512u);
  EXPECT_TRUE(p.Bit(510));  // the two top bits
  EXPECT_FALSE(TOvMPInt::Mod(TOvMPInt::Sub(p, TOvMPInt(1)), TOvMPInt(65537)).IsZero());
  const auto check = RunTool("openssl prime -hex " + HexOf(p));
  EXPECT_NE(check.output.find("is prime"), std::string::npos) << check.output;

  TOvMPInt q;
  ASSERT_TRUE(TOvMPInt::GeneratePrime(256, 0, q));
  EXPECT_FALSE(TOvMPInt::IsProbablePrime(TOvMPInt::Mul(p, q)));
  EXPECT_FALSE(TOvMPInt::IsProbablePrime(TOvMPInt(561)));  // Carmichael
  EXPECT_FALSE(TOvMPInt::IsProbablePrime(FromHex("1A8F7EB8B3D2F3A1B5")));
  EXPECT_TRUE(TOvMPInt::IsProbablePrime(FromHex("7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF")));  // 2^127 - 1
  // A strong pseudoprime to the bases 2..37 (3825123056546413051) is caught by random bases.
  EXPECT_FALSE(TOvMPInt::IsProbablePrime(TOvMPInt(3825123056546413051ULL), 20));
}

TEST(MathTest, ProgressCanCancelExponentiation) {
  const TOvMPInt m =
      TOvMPInt::Add(TOvMPInt::ShiftLeft(TOvMPInt::FromBytes(RandomBytes(128, 5)), 1), TOvMPInt(1));
  const TOvMPInt e = TOvMPInt::FromBytes(RandomBytes(128, 6));
  int calls = 0;
  TOvMPInt result(99);
  EXPECT_FALSE(
      TOvMPInt::ModPow(TOvMPInt(3), e, m, result, [&](int64_t, int64_t) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(result, TOvMPInt(99));  // untouched
  EXPECT_TRUE(TOvMPInt::ModPow(TOvMPInt(3), e, m, result, [](int64_t, int64_t) { return true; }));
  EXPECT_EQ(result, TOvMPInt::ModPow(TOvMPInt(3), e, m));
}

}  // namespace
}  // namespace corvane
