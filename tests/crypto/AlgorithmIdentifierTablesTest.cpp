// The OID tables: lookups both ways, the key-family collapse, and the encoded
// OIDs checked against openssl's own OID decoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"

namespace corvane {
namespace {

TEST(AlgorithmTables, SignatureOidCollapsesToKeyFamily) {
  EXPECT_EQ(AlgorithmByOID(oid::SHA256_RSA), CERT_ALG_SHA256_RSA);
  EXPECT_EQ(AlgorithmByOID(oid::SHA256_RSA, true), ALG_RSA);
  EXPECT_EQ(AlgorithmByOID(oid::SHA256), ALG_SHA256);
  EXPECT_EQ(AlgorithmByOID(oid::SHA256, true), ALG_SHA256);
  EXPECT_EQ(AlgorithmByOID(oid::DSA_SHA1, true), ALG_DSA);
  EXPECT_EQ(AlgorithmByOID(oid::ECDSA_SHA384, true), ALG_EC);
  // rsaEncryption is code 0, which must collapse too (0 is not "not found").
  EXPECT_EQ(AlgorithmByOID(oid::RSA_ENCRYPTION), CERT_ALG_RSA);
  EXPECT_EQ(AlgorithmByOID(oid::RSA_ENCRYPTION, true), ALG_RSA);
}

TEST(AlgorithmTables, UnknownOidsGiveUnknown) {
  EXPECT_EQ(AlgorithmByOID(""), ALG_UNKNOWN);
  EXPECT_EQ(AlgorithmByOID(std::string_view("\x2B\x0E\x03\x02", 4)), ALG_UNKNOWN);  // prefix
  EXPECT_EQ(AlgorithmByOID(std::string(oid::SHA1) + '\x01'), ALG_UNKNOWN);          // longer
  EXPECT_EQ(AlgorithmByOID("", true), ALG_UNKNOWN);
  EXPECT_EQ(OIDByAlgorithm(0x7777), "");
  EXPECT_EQ(HashAlgorithmOfOID(oid::SHA256_RSA), ALG_UNKNOWN);
  EXPECT_EQ(OIDOfHashAlgorithm(ALG_RSA), "");
}

TEST(AlgorithmTables, KeyFamilyOf) {
  for (int32_t code : {0, 2, 3, 7, 8, 9, 10, 11, 12, 13})
    EXPECT_EQ(KeyFamilyOf(code), ALG_RSA) << code;
  EXPECT_EQ(KeyFamilyOf(4), ALG_DSA);
  EXPECT_EQ(KeyFamilyOf(5), ALG_DSA);
  for (int32_t code = 15; code <= 22; ++code) EXPECT_EQ(KeyFamilyOf(code), ALG_EC) << code;
  EXPECT_EQ(KeyFamilyOf(0xFFFF), ALG_UNKNOWN);
  EXPECT_EQ(KeyFamilyOf(6), 6);
  EXPECT_EQ(KeyFamilyOf(23), 23);
  EXPECT_EQ(KeyFamilyOf(ALG_SHA1), ALG_SHA1);
}

TEST(AlgorithmTables, OidByAlgorithmWritesFirstListedOid) {
  EXPECT_EQ(OIDByAlgorithm(CERT_ALG_SHA1_RSA), oid::SHA1_RSA);  // not the OIW alias
  EXPECT_EQ(OIDByAlgorithm(ALG_HMAC_SHA1), std::string("\x2B\x06\x01\x05\x05\x08\x01\x02", 8));
  EXPECT_EQ(OIDByAlgorithm(ALG_RSA), oid::RSA_ENCRYPTION);
  EXPECT_EQ(OIDByAlgorithm(ALG_DSA), oid::DSA);
  EXPECT_EQ(OIDByAlgorithm(ALG_DH), oid::DH_PUBLIC_NUMBER);
  EXPECT_EQ(OIDByAlgorithm(ALG_ECDSA), oid::ECDSA_RECOMMENDED);
  EXPECT_EQ(OIDByAlgorithm(ALG_GOST3410_2001), oid::GOST3410_2001);
  // Codes only the signature table knows fall back to it.
  EXPECT_EQ(OIDByAlgorithm(CERT_ALG_MD2_RSA), oid::MD2_RSA);
  EXPECT_EQ(OIDByAlgorithm(CERT_ALG_ECDSA_SPECIFIED), oid::ECDSA_SPECIFIED);
  EXPECT_EQ(OIDByAlgorithm(ALG_SSL3_HASH), std::string("ssl-hash@") + CV_VENDOR_SUFFIX);
  EXPECT_EQ(AlgorithmByOID(std::string("ssl-hash@") + CV_VENDOR_SUFFIX), ALG_SSL3_HASH);
}

TEST(AlgorithmTables, HashTableRoundTrips) {
  for (int32_t alg : {ALG_SHA1, ALG_MD2, ALG_MD4, ALG_MD5, ALG_SHA224, ALG_SHA256, ALG_SHA384,
                      ALG_SHA512, ALG_RIPEMD160, ALG_GOST3411_94}) {
    const std::string o = OIDOfHashAlgorithm(alg);
    ASSERT_FALSE(o.empty()) << alg;
    EXPECT_EQ(HashAlgorithmOfOID(o), alg);
    EXPECT_EQ(AlgorithmByOID(o), alg);
    EXPECT_EQ(OIDByAlgorithm(alg), o);
  }
}

TEST(AlgorithmTables, CertificateCodeTables) {
  EXPECT_EQ(KeyAlgorithmOfOID(oid::RSA_X509), CERT_ALG_RSA);
  EXPECT_EQ(OIDOfKeyAlgorithm(CERT_ALG_RSA), oid::RSA_ENCRYPTION);
  EXPECT_EQ(KeyAlgorithmOfOID(oid::DSA_OIW), CERT_ALG_DSA);
  EXPECT_EQ(KeyAlgorithmOfOID(oid::EC_PUBLIC_KEY), CERT_ALG_EC);
  EXPECT_EQ(KeyAlgorithmOfOID(oid::SHA1_RSA), ALG_UNKNOWN);
  EXPECT_EQ(SignatureAlgorithmOfOID(oid::SHA1_RSA_OIW), CERT_ALG_SHA1_RSA);
  EXPECT_EQ(SignatureAlgorithmOfOID(oid::DSA_SHA1_OIW), CERT_ALG_DSA_SHA1);
  EXPECT_EQ(SignatureAlgorithmOfOID(oid::EC_PUBLIC_KEY), ALG_UNKNOWN);
  EXPECT_EQ(OIDOfSignatureAlgorithm(CERT_ALG_DSA_SHA1), oid::DSA_SHA1);
  EXPECT_EQ(OIDOfSignatureAlgorithm(CERT_ALG_EC), "");
  EXPECT_EQ(OIDOfKeyAlgorithm(CERT_ALG_SHA256_RSA), "");
}

// The byte literals are checked by an independent decoder: openssl prints each
// OBJECT IDENTIFIER as dotted text.
TEST(AlgorithmTables, EncodedOidsMatchOpensslDecoding) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::vector<std::pair<std::string_view, std::string>> cases = {
      {oid::RSA_ENCRYPTION, "rsaEncryption"},
      {oid::SHA256_RSA, "sha256WithRSAEncryption"},
      {oid::RSASSA_PSS, "rsassaPss"},
      {oid::DSA_SHA1, "dsaWithSHA1"},
      {oid::ECDSA_SHA512, "ecdsa-with-SHA512"},
      {oid::EC_PUBLIC_KEY, "id-ecPublicKey"},
      {oid::SHA1, "sha1"},
      {oid::SHA224, "sha224"},
      {oid::SHA512, "sha512"},
      {oid::RIPEMD160, "ripemd160"},
      {oid::MGF1, "mgf1"},
      {oid::DH_PUBLIC_NUMBER, "X9.42 DH"},
      {oid::GOST3410_2001, "GOST R 34.10-2001"},
  };
  tavra_test::ScratchDir dir;
  for (const auto& [bytes, name] : cases) {
    const std::string path = dir.Write(
        "oid.der", "\x06" + std::string(1, static_cast<char>(bytes.size())) + std::string(bytes));
    const std::string output =
        tavra_test::RunCommand("openssl asn1parse -inform DER -in " + path + " 2>&1");
    EXPECT_NE(output.find(":" + name), std::string::npos) << name << " -> " << output;
  }
}

}  // namespace
}  // namespace corvane
