// The digest modules against published vectors and against openssl.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/crypto/CryptoTestUtil.h"
#include "toolkit/crypto/CvCpuFeatures.h"
#include "toolkit/crypto/CvGOSTHash.h"
#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvRIPEMD.h"
#include "toolkit/crypto/CvSHA.h"
#include "toolkit/crypto/CvSHA2.h"

namespace corvane {
namespace {

using testutil::Hex;

// Hashes data fed in pieces of `chunk` bytes (0: one piece).
template <typename State, typename Init, typename Update, typename Finish>
std::string Chunked(const std::string& data, size_t chunk, size_t digest_size, Init init,
                    Update update, Finish finish) {
  State state;
  init(state);
  if (chunk == 0) chunk = data.size() + 1;
  for (size_t off = 0; off < data.size(); off += chunk) {
    update(state, data.data() + off, std::min(chunk, data.size() - off));
  }
  std::string digest(digest_size, '\0');
  finish(state, reinterpret_cast<uint8_t*>(digest.data()));
  return digest;
}

struct Module {
  const char* name;
  const char* openssl;  // nullptr: openssl 3 has no default implementation
  std::function<std::string(const std::string&, size_t)> hash;
};

std::vector<Module> Modules() {
  return {
      {"MD2", nullptr,
       [](const std::string& d, size_t c) {
         return Chunked<TMD2State>(d, c, 16, MD2Init, MD2Update, MD2Finish);
       }},
      {"MD5", "md5",
       [](const std::string& d, size_t c) {
         return Chunked<TMD5State>(d, c, 16, MD5Init, MD5Update, MD5Finish);
       }},
      {"SHA1", "sha1",
       [](const std::string& d, size_t c) {
         return Chunked<TSHA1State>(d, c, 20, SHA1Init, SHA1Update, SHA1Finish);
       }},
      {"SHA224", "sha224",
       [](const std::string& d, size_t c) {
         return Chunked<TSHA256State>(d, c, 28, SHA224Init, SHA256Update, SHA256Finish);
       }},
      {"SHA256", "sha256",
       [](const std::string& d, size_t c) {
         return Chunked<TSHA256State>(d, c, 32, SHA256Init, SHA256Update, SHA256Finish);
       }},
      {"SHA384", "sha384",
       [](const std::string& d, size_t c) {
         return Chunked<TSHA512State>(d, c, 48, SHA384Init, SHA512Update, SHA512Finish);
       }},
      {"SHA512", "sha512",
       [](const std::string& d, size_t c) {
         return Chunked<TSHA512State>(d, c, 64, SHA512Init, SHA512Update, SHA512Finish);
       }},
      {"RIPEMD160", "ripemd160",
       [](const std::string& d, size_t c) {
         return Chunked<TRIPEMD160State>(d, c, 20, RIPEMD160Init, RIPEMD160Update, RIPEMD160Finish);
       }},
  };
}

const Module& Find(const std::string& name) {
  static const std::vector<Module> modules = Modules();
  for (const auto& m : modules) {
    if (name == m.name) return m;
  }
  throw std::runtime_error("no module " + name);
}

struct Vector {
  const char* algorithm;
  std::string input;
  const char* digest;
};

const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string kDigits80 = [] {
  std::string s;
  for (int i = 0; i < 8; ++i) s += "1234567890";
  return s;
}();
const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rsmnopqrstnopqrstu";
const std::string kMillionA(1000000, 'a');

// RFC 1319 A.5, RFC 1321 A.5, FIPS 180-2 appendices, the RIPEMD-160 page.
std::vector<Vector> PublishedVectors() {
  return {
      {"MD2", "", "8350e5a3e24c153df2275c9f80692773"},
      {"MD2", "a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
      {"MD2", "abc", "da853b0d3f88d99b30283a69e6ded6bb"},
      {"MD2", "message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
      {"MD2", "abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
      {"MD2", kAlnum, "da33def2a42df13975352846c30338cd"},
      {"MD2", kDigits80, "d5976f79d83d3a0dc9806c3c66f3efd8"},
      {"MD5", "", "d41d8cd98f00b204e9800998ecf8427e"},
      {"MD5", "a", "0cc175b9c0f1b6a831c399e269772661"},
      {"MD5", "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"MD5", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"MD5", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"MD5", kAlnum, "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"MD5", kDigits80, "57edf4a22be3c955ac49da2e2107b67a"},
      {"SHA1", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"SHA1", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"SHA1", k448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"SHA1", kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"SHA224", "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
      {"SHA224", k448, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
      {"SHA224", kMillionA, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
      {"SHA256", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"SHA256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"SHA256", k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"SHA256", kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {"SHA384", "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c"
       "825a7"},
      {"SHA384", k896,
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa917"
       "46039"},
      {"SHA384", kMillionA,
       "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3"
       "d8985"},
      {"SHA512", "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3f"
       "eebbd"
       "454d4423643ce80e2a9ac94fa54ca49f"},
      {"SHA512", k896,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b"
       "5433a"
       "c7d329eeb6dd26545e96e55b874be909"},
      {"SHA512", kMillionA,
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce57"
       "7c31b"
       "eb009c5c2c49aa2e4eadb217ad8cc09b"},
      {"RIPEMD160", "", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"RIPEMD160", "a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"RIPEMD160", "abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"RIPEMD160", "message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"RIPEMD160", "abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"RIPEMD160", k448, "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"RIPEMD160", kAlnum, "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {"RIPEMD160", kDigits80, "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
      {"RIPEMD160", kMillionA, "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
}

TEST(DigestModules, PublishedVectorsWithEveryKernel) {
  testutil::ForEachSHAKernel([] {
    for (const auto& v : PublishedVectors()) {
      SCOPED_TRACE(std::string(v.algorithm) + " of " + std::to_string(v.input.size()) + " bytes");
      const Module& m = Find(v.algorithm);
      EXPECT_EQ(Hex(m.hash(v.input, 0)), v.digest);
      // Odd pieces cross block boundaries at every phase.
      EXPECT_EQ(Hex(m.hash(v.input, 7)), v.digest);
    }
  });
}

TEST(DigestModules, OneShotFunctionsMatchIncremental) {
  const std::string data = testutil::RandomBytes(3000, 11);
  EXPECT_EQ(HashMD2(data), Find("MD2").hash(data, 0));
  EXPECT_EQ(HashMD5(data), Find("MD5").hash(data, 0));
  EXPECT_EQ(HashSHA1(data), Find("SHA1").hash(data, 0));
  EXPECT_EQ(HashSHA224(data), Find("SHA224").hash(data, 0));
  EXPECT_EQ(HashSHA256(data), Find("SHA256").hash(data, 0));
  EXPECT_EQ(HashSHA384(data), Find("SHA384").hash(data, 0));
  EXPECT_EQ(HashSHA512(data), Find("SHA512").hash(data, 0));
  EXPECT_EQ(HashRIPEMD160(data), Find("RIPEMD160").hash(data, 0));
}

// Lengths around the padding boundaries (55/56/63/64 and 111/112/127/128) are
// where buffering and length encoding go wrong.
TEST(DigestModules, PaddingBoundariesMatchOpenSSL) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string data = testutil::RandomBytes(260, 5);
  testutil::ForEachSHAKernel([&] {
    for (const auto& m : Modules()) {
      if (m.openssl == nullptr) continue;
      for (size_t len :
           {55, 56, 57, 63, 64, 65, 111, 112, 113, 119, 120, 127, 128, 129, 255, 256}) {
        SCOPED_TRACE(std::string(m.name) + " length " + std::to_string(len));
        const std::string input = data.substr(0, len);
        EXPECT_EQ(Hex(m.hash(input, 0)), Hex(testutil::OpenSSLDigest(m.openssl, input)));
      }
    }
  });
}

TEST(DigestModules, EveryChunkSizeMatchesOpenSSL) {
  TAVRA_REQUIRE_TOOL("openssl");
  for (uint32_t seed : {1u, 2u}) {
    const std::string data = testutil::RandomBytes(seed == 1 ? 1531 : 4099, seed);
    for (const auto& m : Modules()) {
      if (m.openssl == nullptr) continue;
      const std::string expected = testutil::OpenSSLDigest(m.openssl, data);
      ASSERT_FALSE(expected.empty()) << m.name;
      testutil::ForEachSHAKernel([&] {
        for (size_t chunk = 1; chunk <= 200; ++chunk) {
          const std::string got = m.hash(data, chunk);
          if (got != expected) {
            ADD_FAILURE() << m.name << " differs with chunk size " << chunk;
            break;
          }
        }
      });
    }
  }
}

// MD2 has no openssl counterpart here; its chunking must still not matter.
TEST(DigestModules, MD2ChunkingDoesNotMatter) {
  const std::string data = testutil::RandomBytes(700, 9);
  const std::string whole = Find("MD2").hash(data, 0);
  for (size_t chunk = 1; chunk <= 200; ++chunk)
    ASSERT_EQ(Find("MD2").hash(data, chunk), whole) << chunk;
}

// RFC 5831 section 7 and the published examples for both parameter sets.
TEST(DigestModules, GOSTR341194PublishedVectors) {
  const auto& test = GOSTR341194TestParamSet();
  const auto& cp = GOSTR341194CryptoProParamSet();
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Hex(HashGOSTR341194("", test)),
            "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d");
  EXPECT_EQ(Hex(HashGOSTR341194("a", test)),
            "d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd");
  EXPECT_EQ(Hex(HashGOSTR341194("abc", test)),
            "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d");
  EXPECT_EQ(Hex(HashGOSTR341194("message digest", test)),
            "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d");
  EXPECT_EQ(Hex(HashGOSTR341194(fox, test)),
            "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294");
  EXPECT_EQ(Hex(HashGOSTR341194(std::string(128, 'U'), test)),
            "53a3a3ed25180cef0c1d85a074273e551c25660a87062a52d926a9e8fe5733a4");
  EXPECT_EQ(Hex(HashGOSTR341194(kMillionA, test)),
            "5c00ccc2734cdd3332d3d4749576e3c1a7dbaf0e7ea74e9fa602413c90a129fa");
  EXPECT_EQ(Hex(HashGOSTR341194("", cp)),
            "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0");
  EXPECT_EQ(Hex(HashGOSTR341194("a", cp)),
            "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011");
  EXPECT_EQ(Hex(HashGOSTR341194("abc", cp)),
            "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c");
  EXPECT_EQ(Hex(HashGOSTR341194("message digest", cp)),
            "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0");
  EXPECT_EQ(Hex(HashGOSTR341194(fox, cp)),
            "9004294a361a508c586fe53d1f1b02746765e71b765472786e4770d565830a76");
}

TEST(DigestModules, GOSTR341194ChunkingDoesNotMatter) {
  const std::string data = testutil::RandomBytes(300, 4);
  const std::string whole = HashGOSTR341194(data, GOSTR341194CryptoProParamSet());
  for (size_t chunk = 1; chunk <= 70; ++chunk) {
    TGOSTR341194State state;
    GOSTR341194Init(state, GOSTR341194CryptoProParamSet());
    for (size_t off = 0; off < data.size(); off += chunk) {
      GOSTR341194Update(state, data.data() + off, std::min(chunk, data.size() - off));
    }
    std::string digest(32, '\0');
    GOSTR341194Finish(state, reinterpret_cast<uint8_t*>(digest.data()));
    ASSERT_EQ(Hex(digest), Hex(whole)) << chunk;
  }
}

TEST(DigestModules, GOSTSBoxFromHex) {
  std::string hex;
  for (const auto& row : GOSTR341194TestParamSet().Rows) {
    for (uint8_t v : row) hex += "0123456789ABCDEF"[v];
  }
  TGOST28147SBox sbox{};
  ASSERT_TRUE(GOST28147SBoxFromHex(hex, sbox));
  EXPECT_EQ(HashGOSTR341194("abc", sbox), HashGOSTR341194("abc", GOSTR341194TestParamSet()));
  EXPECT_FALSE(GOST28147SBoxFromHex(hex.substr(1), sbox));
  EXPECT_FALSE(GOST28147SBoxFromHex(hex.substr(1) + "g", sbox));
}

TEST(DigestModules, KernelSwitchReportsState) {
  const bool previous = SHAExtensionsEnabled();
  EXPECT_FALSE(SetSHAExtensionsEnabled(false));
  EXPECT_STREQ(SHAKernelName(), "portable");
  EXPECT_EQ(SetSHAExtensionsEnabled(true), CPUHasSHAExtensions());
  SetSHAExtensionsEnabled(previous);
}

}  // namespace
}  // namespace corvane
