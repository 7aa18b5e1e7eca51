// TOvHashFunction over the default manager and the built-in provider, HMAC,
// the SSL 3.0 hash, GOST parameter sets and stream hashing.
#include "toolkit/crypto/CvHashFunction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/crypto/CryptoTestUtil.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvCryptoProvBuiltIn.h"
#include "toolkit/crypto/CvCryptoProvManager.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvSHA.h"

namespace corvane {
namespace {

using testutil::Hex;
using testutil::Unhex;

std::string Digest(int32_t algorithm, const std::string& data) {
  TOvHashFunction hash(algorithm);
  hash.Update(data);
  return Hex(hash.Finish());
}

std::string Mac(int32_t algorithm, const std::string& key, const std::string& data) {
  TOvHMACKeyMaterial material;
  material.SetKey(key);
  TOvHashFunction hash(algorithm, material);
  hash.Update(data);
  return Hex(hash.Finish());
}

TEST(HashFunction, EmptySHA1MatchesFIPS) {
  TOvHashFunction hash(ALG_SHA1);
  EXPECT_EQ(Hex(hash.Finish()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hash.Algorithm(), ALG_SHA1);
  EXPECT_EQ(hash.Provider(), TOvBuiltInCryptoProvider::DefaultInstanceOfClass());
}

TEST(HashFunction, AnyChunkingEqualsOneShot) {
  const std::string data = testutil::RandomBytes(1000, 3);
  for (int32_t alg : {ALG_MD2, ALG_MD5, ALG_SHA1, ALG_SHA224, ALG_SHA256, ALG_SHA384, ALG_SHA512,
                      ALG_RIPEMD160, ALG_SSL3_HASH, ALG_GOST3411_94}) {
    const std::string whole = Digest(alg, data);
    for (size_t chunk : {1u, 3u, 63u, 64u, 65u, 127u, 129u, 999u}) {
      TOvHashFunction hash(alg);
      for (size_t off = 0; off < data.size(); off += chunk) hash.Update(data.substr(off, chunk));
      EXPECT_EQ(Hex(hash.Finish()), whole) << alg << " chunk " << chunk;
    }
  }
}

TEST(HashFunction, PublishedVectorsThroughTheProvider) {
  testutil::ForEachSHAKernel([] {
    EXPECT_EQ(Digest(ALG_SHA1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Digest(ALG_SHA256, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest(ALG_SHA224, "abc"),
              "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7");
  });
  EXPECT_EQ(Digest(ALG_MD5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Digest(ALG_MD2, "abc"), "da853b0d3f88d99b30283a69e6ded6bb");
  EXPECT_EQ(Digest(ALG_RIPEMD160, "abc"), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
  EXPECT_EQ(Digest(ALG_SHA384, "abc"),
            "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baec"
            "a134c825a7");
}

TEST(HashFunction, SSL3HashIsMD5ThenSHA1) {
  const std::string data = "handshake messages";
  TOvHashFunction hash(ALG_SSL3_HASH);
  hash.Update(data);
  const std::string digest = hash.Finish();
  ASSERT_EQ(digest.size(), 36u);
  EXPECT_EQ(digest, HashMD5(data) + HashSHA1(data));
  EXPECT_EQ(TOvHashFunction::GetDigestSizeBits(ALG_SSL3_HASH), 288);
}

TEST(HashFunction, MD4AndEnginelessCodesAreUnsupported) {
  try {
    TOvBuiltInHashFunction engine(ALG_MD4);
    FAIL() << "MD4 has no engine";
  } catch (const EOvHashFunctionUnsupportedError& e) {
    EXPECT_STREQ(e.what(), "Unsupported algorithm (28936)");
  }
  EXPECT_THROW(TOvBuiltInHashFunction engine(ALG_HASH_32BIT), EOvHashFunctionUnsupportedError);
  EXPECT_THROW(TOvBuiltInHashFunction engine(ALG_UMAC64), EOvHashFunctionUnsupportedError);
  // Through the front end the manager finds no provider.
  EXPECT_THROW(TOvHashFunction hash(ALG_MD4), EOvCryptoProviderManagerError);
  EXPECT_FALSE(TOvHashFunction::IsAlgorithmSupported(ALG_MD4));
  EXPECT_TRUE(TOvHashFunction::IsAlgorithmSupported(ALG_SHA256));
}

TEST(HashFunction, DigestSizes) {
  const std::vector<std::pair<int32_t, int32_t>> sizes = {
      {ALG_SHA1, 160},      {ALG_MD5, 128},         {ALG_MD2, 128},         {ALG_SHA256, 256},
      {ALG_SHA384, 384},    {ALG_SHA512, 512},      {ALG_SHA224, 224},      {ALG_RIPEMD160, 160},
      {ALG_SSL3_HASH, 288}, {ALG_GOST3411_94, 256}, {ALG_HMAC_SHA512, 512}, {ALG_HMAC_MD5, 128}};
  for (const auto& [alg, bits] : sizes) {
    EXPECT_EQ(TOvHashFunction::GetDigestSizeBits(alg), bits) << alg;
    EXPECT_EQ(TOvBuiltInHashFunction::DigestSizeBits(alg), bits) << alg;
  }
}

TEST(HashFunction, CreateByOIDUsesTheTables) {
  auto hash = TOvHashFunction::CreateByOID(OIDByAlgorithm(ALG_SHA256));
  hash->Update("abc");
  EXPECT_EQ(hash->Algorithm(), ALG_SHA256);
  EXPECT_EQ(Hex(hash->Finish()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_THROW(TOvHashFunction::CreateByOID(std::string("\x2A\x03\x04", 3)),
               EOvCryptoProviderManagerError);
}

TEST(HashFunction, ResetStartsOver) {
  TOvHashFunction hash(ALG_SHA256);
  hash.Update("garbage");
  hash.Reset();
  hash.Update("abc");
  EXPECT_EQ(Hex(hash.Finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(HashFunction, UpdateStreamFromPositionToEnd) {
  const std::string data = testutil::RandomBytes(100000, 8);
  TOvMemoryStream stream(data);
  stream.SetPosition(1234);
  TOvHashFunction hash(ALG_SHA256);
  hash.UpdateStream(stream, 0);
  EXPECT_EQ(Hex(hash.Finish()), Digest(ALG_SHA256, data.substr(1234)));

  stream.SetPosition(10);
  TOvHashFunction part(ALG_SHA1);
  part.UpdateStream(stream, 70000);
  EXPECT_EQ(Hex(part.Finish()), Digest(ALG_SHA1, data.substr(10, 70000)));
  EXPECT_EQ(stream.Position(), 70010);
}

// A range that runs past the end must not quietly hash fewer bytes.
TEST(HashFunction, UpdateStreamPastTheEndFails) {
  TOvMemoryStream stream(std::string(100, 'x'));
  TOvHashFunction hash(ALG_SHA256);
  EXPECT_THROW(hash.UpdateStream(stream, 101), EStreamError);
}

// RFC 2202 (SHA-1, MD5), RFC 2286 (RIPEMD-160), RFC 4231 (SHA-2).
TEST(HashFunction, HMACPublishedVectors) {
  const std::string k20(20, '\x0b');
  const std::string k16(16, '\x0b');
  const std::string big80(80, '\xaa');
  const std::string big131(131, '\xaa');
  const std::string bigData = "Test Using Larger Than Block-Size Key - Hash Key First";
  const std::string jefe = "what do ya want for nothing?";
  testutil::ForEachSHAKernel([&] {
    EXPECT_EQ(Mac(ALG_HMAC_SHA1, k20, "Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00");
    EXPECT_EQ(Mac(ALG_HMAC_SHA1, "Jefe", jefe), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    EXPECT_EQ(Mac(ALG_HMAC_SHA1, big80, bigData), "aa4ae5e15272d00e95705637ce8a3b55ed402112");
    EXPECT_EQ(Mac(ALG_HMAC_SHA224, k20, "Hi There"),
              "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22");
    EXPECT_EQ(Mac(ALG_HMAC_SHA256, k20, "Hi There"),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(Mac(ALG_HMAC_SHA256, "Jefe", jefe),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(Mac(ALG_HMAC_SHA256, big131, bigData),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  });
  EXPECT_EQ(Mac(ALG_HMAC_MD5, k16, "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
  EXPECT_EQ(Mac(ALG_HMAC_MD5, "Jefe", jefe), "750c783e6ab0b503eaa86e310a5db738");
  EXPECT_EQ(Mac(ALG_HMAC_MD5, big80, bigData), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(Mac(ALG_HMAC_RIPEMD160, k20, "Hi There"), "24cb4bd67d20fc1a5d2ed7732dcc39377f0a5668");
  EXPECT_EQ(Mac(ALG_HMAC_RIPEMD160, "Jefe", jefe), "dda6c0213a485a9e24f4742064a7f033b43c4069");
  EXPECT_EQ(Mac(ALG_HMAC_SHA384, k20, "Hi There"),
            "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152"
            "e8b2fa9cb6");
  EXPECT_EQ(Mac(ALG_HMAC_SHA384, big131, bigData),
            "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248d"
            "f163f44952");
  EXPECT_EQ(Mac(ALG_HMAC_SHA512, "Jefe", jefe),
            "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f"
            "65f8f0e6fdcaeab1a3"
            "4d4a6b4b636e070a38bce737");
  EXPECT_EQ(Mac(ALG_HMAC_SHA512, big131, bigData),
            "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2"
            "215d6a1e5295e64f73"
            "f63f0aec8b915a985d786598");
}

// Keys just below, at and above each block size, checked by openssl; the
// 200-byte SHA-512 key is hashed first (block 128), the 100-byte one is not.
TEST(HashFunction, HMACMatchesOpenSSLAroundTheBlockSize) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string data = testutil::RandomBytes(777, 21);
  tavra_test::ScratchDir dir;
  const std::string file = dir.Write("data.bin", data);
  const std::vector<std::pair<int32_t, const char*>> algs = {
      {ALG_HMAC_SHA1, "sha1"},          {ALG_HMAC_SHA224, "sha224"}, {ALG_HMAC_SHA256, "sha256"},
      {ALG_HMAC_SHA384, "sha384"},      {ALG_HMAC_SHA512, "sha512"}, {ALG_HMAC_MD5, "md5"},
      {ALG_HMAC_RIPEMD160, "ripemd160"}};
  for (const auto& [alg, name] : algs) {
    for (size_t keySize : {1u, 63u, 64u, 65u, 100u, 128u, 129u, 200u}) {
      const std::string key = testutil::RandomBytes(keySize, static_cast<uint32_t>(keySize));
      const std::string expected = tavra_test::RunCommand(std::string("openssl dgst -") + name +
                                                          " -mac HMAC -macopt hexkey:" + Hex(key) +
                                                          " -binary " + file + " 2>/dev/null");
      EXPECT_EQ(Mac(alg, key, data), Hex(expected)) << name << " key " << keySize;
    }
  }
}

TEST(HashFunction, HMACWithoutAKeyIsInvalidKeyMaterial) {
  try {
    TOvHashFunction hash(ALG_HMAC_SHA256);
    FAIL() << "an HMAC needs a key";
  } catch (const EOvHashFunctionError& e) {
    EXPECT_STREQ(e.what(), "Invalid key material");
  }
  // The failed init leaves no context behind.
  EXPECT_EQ(TOvBuiltInCryptoProvider::DefaultInstanceOfClass()->ContextCount(), 0u);
}

TEST(HashFunction, HMACResetKeepsTheKey) {
  TOvHMACKeyMaterial material;
  material.SetKey("Jefe");
  TOvHashFunction hash(ALG_HMAC_SHA256, material);
  hash.Update("noise");
  hash.Reset();
  hash.Update("what do ya want for nothing?");
  EXPECT_EQ(Hex(hash.Finish()), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(HashFunction, GOSTParameterSetsThroughParameters) {
  TOvRelativeDistinguishedName params;
  params.Add(PROP_GOST3411_PARAMSET, OID_GOST3411_TEST_PARAMSET);
  TOvHashFunction test(ALG_GOST3411_94, nullptr, nullptr, &params);
  test.Update("abc");
  EXPECT_EQ(Hex(test.Finish()), "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d");
  // Without parameters: the CryptoPro set.
  EXPECT_EQ(Digest(ALG_GOST3411_94, "abc"),
            "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c");

  const size_t contexts = TOvBuiltInCryptoProvider::DefaultInstanceOfClass()->ContextCount();
  TOvRelativeDistinguishedName bad;
  bad.Add(PROP_GOST3411_PARAMETERS, "0123");
  try {
    TOvHashFunction hash(ALG_GOST3411_94, nullptr, nullptr, &bad);
    FAIL() << "a short S-box must be refused";
  } catch (const EOvHashFunctionError& e) {
    EXPECT_STREQ(e.what(), "Invalid property value");
  }
  EXPECT_EQ(TOvBuiltInCryptoProvider::DefaultInstanceOfClass()->ContextCount(), contexts);
}

TEST(HashFunction, EngineCloneContinuesIndependently) {
  TOvBuiltInHashFunction engine(ALG_SHA512);
  engine.Update("ab");
  auto copy = engine.Clone();
  engine.Update("c");
  copy->Update("c");
  EXPECT_EQ(engine.Finish(), copy->Finish());
}

TEST(HashFunction, ReleasedOnDestruction) {
  auto* provider = TOvBuiltInCryptoProvider::DefaultInstanceOfClass();
  const size_t before = provider->ContextCount();
  {
    TOvHashFunction a(ALG_SHA1), b(ALG_MD5);
    EXPECT_EQ(provider->ContextCount(), before + 2);
  }
  EXPECT_EQ(provider->ContextCount(), before);
}

}  // namespace
}  // namespace corvane
