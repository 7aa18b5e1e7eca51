// ECDSA verification against openssl: keys and signatures openssl made on
// P-256, P-384 and P-521 verify, in both point forms; tampered signatures,
// out-of-range r and s and points off the curve are refused.
#include <gtest/gtest.h>

#include <string>

#include "tests/crypto/CryptoTestUtil.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvCryptoProv.h"
#include "toolkit/crypto/CvEC.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"

namespace corvane {
namespace {

using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::RunCommand;
using tavra_test::ScratchDir;

struct Made {
  std::string spki, compressedSpki, signature, data;
};

// A key on the curve, its public key in both forms, and data signed with it.
Made MakeWithOpenssl(const ScratchDir& dir, const std::string& curve, const std::string& digest) {
  Made m;
  m.data = "ECDSA over " + curve + " with " + digest;
  const std::string key = dir.File(curve + ".pem");
  const std::string data = dir.Write("data.bin", m.data);
  int status = -1;
  RunCommand(
      "openssl ecparam -name " + curve + " -genkey -noout -out " + Quote(key) + " 2>/dev/null",
      &status);
  EXPECT_EQ(status, 0);
  m.spki = RunCommand("openssl ec -in " + Quote(key) + " -pubout -outform DER 2>/dev/null");
  m.compressedSpki = RunCommand("openssl ec -in " + Quote(key) +
                                " -pubout -conv_form compressed -outform DER 2>/dev/null");
  m.signature = RunCommand("openssl dgst -" + digest + " -sign " + Quote(key) + " " + Quote(data) +
                           " 2>/dev/null");
  return m;
}

int32_t HashOf(const std::string& digest) {
  if (digest == "sha1") return ALG_SHA1;
  if (digest == "sha224") return ALG_SHA224;
  if (digest == "sha256") return ALG_SHA256;
  if (digest == "sha384") return ALG_SHA384;
  return ALG_SHA512;
}

TEST(Ecdsa, OpensslSignaturesVerifyAndTamperingIsRefused) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  const struct {
    const char* curve;
    const char* name;
    const char* digest;
  } cases[] = {{"prime256v1", "P-256", "sha256"}, {"prime256v1", "P-256", "sha512"},
               {"prime256v1", "P-256", "sha1"},   {"secp384r1", "P-384", "sha384"},
               {"secp384r1", "P-384", "sha224"},  {"secp521r1", "P-521", "sha512"},
               {"secp521r1", "P-521", "sha256"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.curve) + " " + c.digest);
    const Made m = MakeWithOpenssl(dir, c.curve, c.digest);
    ASSERT_FALSE(m.signature.empty());
    for (const std::string* spki : {&m.spki, &m.compressedSpki}) {
      TOvECKeyMaterial key;
      key.LoadPublic(*spki);
      ASSERT_NE(key.Curve(), nullptr);
      EXPECT_EQ(key.Curve()->Name(), c.name);
      EXPECT_EQ(key.VerifyDetached(HashOf(c.digest), m.data, m.signature), VERIFY_VALID);
      // Our encoding of the key is openssl's uncompressed one.
      EXPECT_EQ(key.SavePublicBytes(), m.spki);
    }
    TOvECKeyMaterial key;
    key.LoadPublic(m.spki);
    std::string data = m.data;
    data[0] ^= 1;
    EXPECT_EQ(key.VerifyDetached(HashOf(c.digest), data, m.signature), VERIFY_INVALID);
    std::string tampered = m.signature;
    tampered[tampered.size() - 1] ^= 0x01;
    EXPECT_EQ(key.VerifyDetached(HashOf(c.digest), m.data, tampered), VERIFY_INVALID);
    // A signature with a trailing octet is not DER.
    EXPECT_EQ(key.VerifyDetached(HashOf(c.digest), m.data, m.signature + '\0'), VERIFY_INVALID);
  }
}

TEST(Ecdsa, OutOfRangeScalarsAndBadPointsAreRefused) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  const Made m = MakeWithOpenssl(dir, "prime256v1", "sha256");
  TOvECKeyMaterial key;
  key.LoadPublic(m.spki);
  const TOvECCurve& curve = *key.Curve();
  TOvMPInt r, s;
  ASSERT_TRUE(ECDSADecodeSignature(m.signature, r, s));
  ASSERT_EQ(ECDSAEncodeSignature(r, s), m.signature);
  const TOvMPInt& n = curve.Order();
  const TOvMPInt zero;
  // s and n - s are both valid (x of the sum does not depend on the sign), but
  // 0, n and s + n never are.
  EXPECT_EQ(key.VerifyDetached(ALG_SHA256, m.data, ECDSAEncodeSignature(r, TOvMPInt::Sub(n, s))),
            VERIFY_VALID);
  for (const auto& [rr, ss] :
       {std::pair{zero, s}, std::pair{r, zero}, std::pair{n, s}, std::pair{r, n},
        std::pair{TOvMPInt::Add(r, n), s}, std::pair{r, TOvMPInt::Add(s, n)}})
    EXPECT_EQ(key.VerifyDetached(ALG_SHA256, m.data, ECDSAEncodeSignature(rr, ss)), VERIFY_INVALID);

  // The point: off the curve (y + 1), at infinity, x >= p, hybrid, short.
  const std::string point = key.PublicPoint();
  const std::string p = curve.Prime().ToBytes(32);
  std::string offCurve = point;
  offCurve[64] ^= 1;
  const std::string bad[] = {offCurve,
                             std::string(1, '\0'),
                             std::string(1, '\x04') + p + point.substr(33),
                             std::string(1, '\x02') + p,
                             std::string(1, '\x06') + point.substr(1),
                             point.substr(0, 64),
                             ""};
  for (const std::string& b : bad) {
    TOvECKeyMaterial other;
    EXPECT_THROW(other.SetPublicKey(curve.OID(), b), EOvPublicKeyCryptoError);
    EXPECT_EQ(other.Curve(), nullptr);
    EXPECT_EQ(other.VerifyDetached(ALG_SHA256, m.data, m.signature), VERIFY_INVALID);
  }
  // An x for which no y exists cannot be decompressed.
  TCvECPoint decoded;
  bool someXHasNoRoot = false;
  for (uint8_t x = 1; x < 16 && !someXHasNoRoot; ++x)
    someXHasNoRoot = !curve.DecodePoint(
        std::string(1, '\x02') + std::string(31, '\0') + std::string(1, static_cast<char>(x)),
        decoded);
  EXPECT_TRUE(someXHasNoRoot);

  // Unknown curves and explicit parameters are unsupported, not crashes.
  std::string otherCurve = m.spki;
  otherCurve[otherCurve.find(curve.OID()) + curve.OID().size() - 1] = 0x05;
  TOvECKeyMaterial unsupported;
  EXPECT_THROW(unsupported.LoadPublic(otherCurve), EOvPublicKeyCryptoError);
  EXPECT_THROW(unsupported.LoadPublic(m.spki.substr(0, m.spki.size() - 1)),
               EOvPublicKeyCryptoError);
}

}  // namespace
}  // namespace corvane
