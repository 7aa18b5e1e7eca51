// AES against the FIPS-197 and SP 800-38A vectors and against `openssl enc`;
// RC4 against `openssl enc` (legacy provider).
#include <gtest/gtest.h>

#include "tests/crypto/CryptoTestUtil.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvAES.h"
#include "toolkit/crypto/CvRC4.h"

namespace corvane {
namespace {

using testutil::Hex;
using testutil::RandomBytes;
using testutil::Unhex;

std::string EncryptOne(const std::string& key, const std::string& block) {
  TOvAESSymmetricCrypto aes(key);
  std::string out(16, '\0');
  aes.EncryptBlock(reinterpret_cast<const uint8_t*>(block.data()),
                   reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

std::string DecryptOne(const std::string& key, const std::string& block) {
  TOvAESSymmetricCrypto aes(key);
  std::string out(16, '\0');
  aes.DecryptBlock(reinterpret_cast<const uint8_t*>(block.data()),
                   reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

// FIPS-197 Appendix C: one block under each key size, both directions.
TEST(AES, Fips197ExampleVectors) {
  const std::string plain = Unhex("00112233445566778899aabbccddeeff");
  const std::string key = Unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const struct {
    size_t keySize;
    const char* cipher;
  } cases[] = {{16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
               {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
               {32, "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keySize);
    const std::string k = key.substr(0, c.keySize);
    EXPECT_EQ(Hex(EncryptOne(k, plain)), c.cipher);
    EXPECT_EQ(Hex(DecryptOne(k, Unhex(c.cipher))), Hex(plain));
  }
}

// SP 800-38A F.2.1/F.2.5: four blocks of CBC, fed in two pieces to check chaining.
TEST(AES, Sp80038aCbcVectors) {
  const std::string iv = Unhex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = Unhex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const struct {
    const char* key;
    const char* cipher;
  } cases[] = {{"2b7e151628aed2a6abf7158809cf4f3c",
                "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
               {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"}};
  for (const auto& c : cases) {
    TOvAESSymmetricCrypto enc(Unhex(c.key), iv);
    std::string out = enc.EncryptCBC(plain.substr(0, 32));
    out += enc.EncryptCBC(plain.substr(32));
    EXPECT_EQ(Hex(out), c.cipher);
    TOvAESSymmetricCrypto dec(Unhex(c.key), iv);
    EXPECT_EQ(Hex(dec.DecryptCBC(out)), Hex(plain));
  }
}

// Random keys, IVs and data for every key size, checked in both directions
// by openssl.
TEST(AES, CbcAgreesWithOpenssl) {
  TAVRA_REQUIRE_TOOL("openssl");
  tavra_test::ScratchDir dir;
  for (size_t keySize : {16u, 24u, 32u}) {
    SCOPED_TRACE(keySize);
    const std::string key = RandomBytes(keySize, static_cast<uint32_t>(keySize));
    const std::string iv = RandomBytes(16, 99);
    const std::string data = RandomBytes(16 * 257, 7);
    const std::string mode =
        "-aes-" + std::to_string(keySize * 8) + "-cbc -nopad -K " + Hex(key) + " -iv " + Hex(iv);
    const std::string theirs = tavra_test::RunCommand(
        "openssl enc " + mode + " -in " + dir.Write("plain.bin", data) + " 2>/dev/null");
    TOvAESSymmetricCrypto ours(key, iv);
    EXPECT_EQ(ours.EncryptCBC(data), theirs);
    const std::string back = tavra_test::RunCommand(
        "openssl enc -d " + mode + " -in " + dir.Write("cipher.bin", theirs) + " 2>/dev/null");
    EXPECT_EQ(back, data);
  }
}

TEST(AES, RejectsBadKeyIvAndPartialBlocks) {
  EXPECT_THROW(TOvAESSymmetricCrypto(std::string(20, 'k')), EOvSymmetricCryptoError);
  TOvAESSymmetricCrypto aes(std::string(16, 'k'));
  EXPECT_THROW(aes.SetIV(std::string(15, 'i')), EOvSymmetricCryptoError);
  EXPECT_THROW(aes.EncryptCBC(std::string(17, 'x')), EOvSymmetricCryptoError);
  TOvAESSymmetricCrypto unkeyed;
  EXPECT_THROW(unkeyed.DecryptCBC(std::string(16, 'x')), EOvSymmetricCryptoError);
}

TEST(RC4, AgreesWithOpensslAndIsItsOwnInverse) {
  TAVRA_REQUIRE_TOOL("openssl");
  tavra_test::ScratchDir dir;
  const std::string data = RandomBytes(1000, 3);
  const std::string input = dir.Write("plain.bin", data);
  for (const char* cipher : {"rc4-40", "rc4"}) {
    SCOPED_TRACE(cipher);
    const std::string key = RandomBytes(std::string(cipher) == "rc4" ? 16 : 5, 11);
    const std::string theirs = tavra_test::RunCommand(
        "openssl enc -" + std::string(cipher) + " -provider legacy -provider default -nosalt -K " +
        Hex(key) + " -in " + input + " 2>/dev/null");
    // Two pieces: the key stream continues across calls.
    TOvRC4 ours(key);
    std::string out = ours.Process(data.substr(0, 333));
    out += ours.Process(data.substr(333));
    EXPECT_EQ(Hex(out), Hex(theirs));
    EXPECT_EQ(RC4(key, out), data);
  }
  EXPECT_THROW(RC4("", "x"), EOvSymmetricCryptoError);
}

}  // namespace
}  // namespace corvane
