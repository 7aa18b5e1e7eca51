// The message signer and verifier against openssl: our detached signatures are
// accepted by openssl cms -verify, openssl's are accepted by our verifier, and
// damage gives the code that names it.
#include <gtest/gtest.h>

#include "tests/pki/MessageTestSupport.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvPKCS7.h"

namespace corvane {
namespace {

using msgtest::Quote;
using msgtest::ScratchDir;
using msgtest::Store;

constexpr int32_t kHashes[] = {ALG_SHA1, ALG_SHA256, ALG_SHA384, ALG_SHA512};

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVRA_REQUIRE_TOOL("openssl");
    ASSERT_STORE_FIXTURE();
    content_ = dir_.Write("content.bin", std::string("%PDF-1.7 signed byte ranges\n") +
                                             std::string(5000, '\x7F') + "\r\n%%EOF\n");
  }

  // Signs the file's digest the handler's way and has openssl check the result.
  void SignAndCheck(TOvCustomCertStorage& storage, const char* what) {
    for (const int32_t hash : kHashes) {
      SCOPED_TRACE(std::string(what) + " " + msgtest::OpensslDigestName(hash));
      const std::string digest = msgtest::OpensslDigest(hash, content_);
      std::string der;
      ASSERT_EQ(msgtest::SignDigestLikeTheHandler(storage, hash, digest, der), 0);
      EXPECT_LE(static_cast<int64_t>(der.size()), msgtest::HandlerEstimate(storage, hash));
      bool ok = false;
      const std::string out = msgtest::OpensslVerifyDetached(der, content_, ok);
      EXPECT_TRUE(ok) << out;

      // Our verifier as the handler calls it: liberal, the detached data is the digest.
      TOvMessageVerifier verifier;
      verifier.SetVerificationOptions(verifier.VerificationOptions() | voLiberalMode);
      verifier.SetInputIsHash(true);
      EXPECT_EQ(verifier.VerifyDetached(digest.data(), static_cast<int64_t>(digest.size()),
                                        der.data(), static_cast<int64_t>(der.size())),
                0)
          << verifier.ErrorInfo();
      std::string other = digest;
      other[0] ^= 1;
      EXPECT_EQ(verifier.VerifyDetached(other.data(), static_cast<int64_t>(other.size()),
                                        der.data(), static_cast<int64_t>(der.size())),
                MSG_ERROR_DIGEST_MISMATCH);
    }
  }

  ScratchDir dir_;
  std::string content_;
};

TEST_F(MessagesTest, DetachedSignatureOverADigestWithABuiltInKeyPassesOpenssl) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  SignAndCheck(storage, "built-in");
}

TEST_F(MessagesTest, DetachedSignatureOverADigestWithAStoreKeyPassesOpenssl) {
  msgtest::KeyStoreScope scope;
  TOvWinCertStorage my;
  my.SetSystemStores({"My"});
  TOvX509Certificate wanted;
  wanted.LoadFromBytes(Store::Get().Der("rsa3072"));
  const int index = my.IndexOf(wanted);
  ASSERT_GE(index, 0);
  // As the application does: a copy with access to the key in a memory storage.
  TOvMemoryCertStorage storage;
  storage.Add(*my.Certificates(index), true);
  ASSERT_TRUE(storage.Certificates(0)->PrivateKeyExists());
  SignAndCheck(storage, "store");
}

// IssuerAndSerialNumber carries the certificate's own serial octets: a negative
// serial padded to a positive one names no certificate.
TEST_F(MessagesTest, NegativeSerialNamesTheSigner) {
  const auto made = tavra_test::RunCapturing(
      "cd " + Quote(dir_.Path()) +
      " && openssl req -new -newkey rsa:2048 -nodes -keyout neg.key -out neg.csr"
      " -subj '/CN=Negative Serial' && openssl x509 -req -in neg.csr -CA " +
      Quote(Store::Get().File("ca.crt")) + " -CAkey " + Quote(Store::Get().File("ca.key")) +
      " -set_serial -0x1234 -days 30 -out neg.crt");
  ASSERT_EQ(made.status, 0) << made.err;
  auto cert = msgtest::BuiltInSigner(dir_.File("neg.crt"), dir_.File("neg.key"));
  ASSERT_EQ(cert->SerialNumberOctets(), std::string("\xED\xCC", 2));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  const std::string digest = msgtest::OpensslDigest(ALG_SHA256, content_);
  std::string der;
  ASSERT_EQ(msgtest::SignDigestLikeTheHandler(storage, ALG_SHA256, digest, der), 0);
  bool ok = false;
  const std::string out = msgtest::OpensslVerifyDetached(der, content_, ok);
  EXPECT_TRUE(ok) << out;
}

// Signed attributes are a DER SET OF: contentType sorts before messageDigest
// whatever order the caller gave, and the octets hashed are the octets written
// (openssl checks the signature over the received octets).
TEST_F(MessagesTest, SignedAttributesAreWrittenInDEROrder) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  const std::string digest = msgtest::OpensslDigest(ALG_SHA256, content_);
  std::string der;
  ASSERT_EQ(msgtest::SignDigestLikeTheHandler(storage, ALG_SHA256, digest, der), 0);
  TOvPKCS7Message message;
  ASSERT_EQ(message.LoadFromBytes(der), 0);
  const TOvPKCS7Signer* signer = message.SignedData().Signers(0);
  ASSERT_NE(signer, nullptr);
  ASSERT_EQ(signer->AuthenticatedAttributes.Count(), 2);
  EXPECT_EQ(signer->AuthenticatedAttributes.GetType(0), oid::ATTR_CONTENT_TYPE);
  EXPECT_EQ(signer->AuthenticatedAttributes.GetType(1), oid::ATTR_MESSAGE_DIGEST);
  // Definite lengths throughout, and the message re-parses to the same octets.
  EXPECT_EQ(message.UseUndefSize, false);
  EXPECT_EQ(message.SaveToBytes(), der);
}

// openssl's own signatures, detached and attached, with and without signed
// attributes, and what damage to each part gives.
TEST_F(MessagesTest, VerifierAcceptsOpensslSignaturesAndNamesTheDamage) {
  struct Case {
    const char* flags;
    bool attached;
    bool attributes;
  };
  for (const Case c :
       {Case{"", false, true}, Case{"-noattr", false, false}, Case{"-keyid", false, true},
        Case{"-nodetach", true, true}, Case{"-nodetach -noattr", true, false}}) {
    SCOPED_TRACE(c.flags);
    const auto made = tavra_test::RunCapturing(
        "openssl cms -sign -binary -md sha256 -outform DER " + std::string(c.flags) + " -in " +
        Quote(content_) + " -signer " + Quote(Store::Get().File("rsa2048.crt")) + " -inkey " +
        Quote(Store::Get().File("rsa2048.key")) + " -out " + Quote(dir_.File("cms.der")));
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string der = tavra_test::ReadFile(dir_.File("cms.der"));
    const std::string data = tavra_test::ReadFile(content_);

    TOvPKCS7Message parsed;
    ASSERT_EQ(parsed.LoadFromBytes(der), 0);
    const TOvPKCS7Signer& info = *parsed.SignedData().Signers(0);
    EXPECT_EQ(info.AuthenticatedAttributes.Count() > 0, c.attributes);

    // Runs the verifier the way the message needs; content replaces the data.
    auto verify = [&](const std::string& message, const std::string& content) {
      TOvMessageVerifier verifier;
      int32_t rc;
      if (c.attached) {
        int64_t size = static_cast<int64_t>(message.size());
        std::string out(message.size(), '\0');
        rc = verifier.Verify(message.data(), size, size, out.data());
        if (rc == 0) {
          EXPECT_EQ(out.substr(0, static_cast<size_t>(size)), data);
        }
      } else {
        rc = verifier.VerifyDetached(content.data(), static_cast<int64_t>(content.size()),
                                     message.data(), static_cast<int64_t>(message.size()));
      }
      return rc;
    };
    EXPECT_EQ(verify(der, data), 0);

    // A bit of the content.
    std::string damaged = data;
    damaged[100] ^= 0x01;
    if (c.attached) {
      std::string message = der;
      const size_t at = message.find(data);
      ASSERT_NE(at, std::string::npos);
      message[at + 100] ^= 0x01;
      EXPECT_EQ(verify(message, data), MSG_ERROR_DIGEST_MISMATCH);
    } else {
      EXPECT_EQ(verify(der, damaged), MSG_ERROR_DIGEST_MISMATCH);
    }

    // A bit of the signature value: it no longer opens with the signer's key.
    std::string message = der;
    const size_t sigAt = message.rfind(info.EncryptedDigest);
    ASSERT_NE(sigAt, std::string::npos);
    message[sigAt + info.EncryptedDigest.size() / 2] ^= 0x10;
    EXPECT_EQ(verify(message, data), MSG_ERROR_INVALID_SIGNATURE);

    if (c.attributes) {
      // A bit of the signing time: the signature opens to another digest.
      const int t = info.AuthenticatedAttributes.IndexOfType(oid::ATTR_SIGNING_TIME);
      ASSERT_GE(t, 0);
      const std::string time = info.AuthenticatedAttributes.Values(t)->front();
      message = der;
      const size_t timeAt = message.find(time);
      ASSERT_NE(timeAt, std::string::npos);
      message[timeAt + time.size() - 2] ^= 0x01;  // a digit of the seconds
      EXPECT_EQ(verify(message, data), MSG_ERROR_DIGEST_MISMATCH);
    }
  }
}

TEST_F(MessagesTest, MalformedMessagesGiveTheirCodes) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  const std::string digest = msgtest::OpensslDigest(ALG_SHA256, content_);
  std::string der;
  ASSERT_EQ(msgtest::SignDigestLikeTheHandler(storage, ALG_SHA256, digest, der), 0);

  TOvMessageVerifier verifier;
  verifier.SetInputIsHash(true);
  auto check = [&](const std::string& message) {
    return verifier.VerifyDetached(digest.data(), static_cast<int64_t>(digest.size()),
                                   message.data(), static_cast<int64_t>(message.size()));
  };
  // Every truncation is refused without a crash.
  for (size_t n = 0; n < der.size(); n += 7) EXPECT_NE(check(der.substr(0, n)), 0) << n;
  EXPECT_EQ(check(der.substr(0, der.size() / 2)), MSG_ERROR_INVALID_MESSAGE);
  TOvPKCS7Message message;
  EXPECT_EQ(message.LoadFromBytes(der.substr(0, der.size() - 1)), PKCS7_ERROR_NOT_ASN1);
  EXPECT_EQ(message.LoadFromBytes(""), PKCS7_ERROR_EMPTY);

  // A data message where a signature belongs.
  TOvPKCS7Message data;
  data.ContentType = ctData;
  data.Data = "not a signature";
  EXPECT_EQ(check(data.SaveToBytes()), MSG_ERROR_NOT_SIGNED_DATA);
  EXPECT_EQ(message.LoadFromBytes(std::string("\x30\x03\x02\x01\x01", 5)),
            PKCS7_ERROR_NOT_CONTENT_INFO);

  // A signer whose certificate is neither embedded nor local.
  TOvMessageSigner signer;
  signer.SetCertStorage(&storage);
  signer.SetIncludeCertificates(false);
  int64_t size = 0;
  ASSERT_EQ(signer.Sign("x", 1, true, size, nullptr), MSG_ERROR_BUFFER_TOO_SMALL);
  std::string bare(static_cast<size_t>(size), '\0');
  ASSERT_EQ(signer.Sign("x", 1, true, size, bare.data()), 0);
  bare.resize(static_cast<size_t>(size));
  TOvMessageVerifier plain;
  EXPECT_EQ(plain.VerifyDetached("x", 1, bare.data(), static_cast<int64_t>(bare.size())),
            MSG_ERROR_NO_CERTIFICATE);
  plain.SetCertStorage(&storage);  // found among the local certificates
  EXPECT_EQ(plain.VerifyDetached("x", 1, bare.data(), static_cast<int64_t>(bare.size())), 0);
}

TEST_F(MessagesTest, SignerRefusesWithoutAKeyAndEncapsulatesWhenAsked) {
  TOvMemoryCertStorage noKey;
  auto cert = std::make_unique<TOvX509Certificate>();
  cert->LoadFromBytes(Store::Get().Der("rsa2048"));
  noKey.Add(*cert, false);
  TOvMessageSigner signer;
  signer.SetCertStorage(&noKey);
  int64_t size = 0;
  EXPECT_EQ(signer.Sign("data", 4, true, size, nullptr), MSG_ERROR_NO_CERTIFICATE);
  EXPECT_EQ(signer.ErrorInfo(), "");

  // Encapsulated, indefinite lengths, signing time and inserted messageDigest:
  // openssl reads the content back out and checks it.
  auto keyed =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*keyed, true);
  signer.SetCertStorage(&storage);
  signer.SetHashAlgorithm(ALG_SHA256);
  signer.SetSigningOptions(soInsertMessageDigests | soInsertSigningTime);
  signer.SetSigningTime(EncodeDateTime(2026, 12, 8, 9, 5, 3, 0));
  signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  const std::string data = tavra_test::ReadFile(content_);
  size = 0;
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), false, size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string der(static_cast<size_t>(size), '\0');
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), false, size, der.data()),
            0);
  der.resize(static_cast<size_t>(size));
  EXPECT_NE(der.find("261208090503Z"), std::string::npos);
  const std::string sig = dir_.Write("attached.der", der);
  const auto r = tavra_test::RunCapturing(
      "openssl cms -verify -binary -inform DER -in " + Quote(sig) + " -CAfile " +
      Quote(Store::Get().File("ca.crt")) + " -purpose any -out " + Quote(dir_.File("out.bin")));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tavra_test::ReadFile(dir_.File("out.bin")), data);
}

TEST_F(MessagesTest, CountersignatureVerifiesAndItsDamageIsReported) {
  auto first =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  auto second =
      msgtest::BuiltInSigner(Store::Get().File("rsa3072.crt"), Store::Get().File("rsa3072.key"));
  TOvMemoryCertStorage a, b;
  a.Add(*first, true);
  b.Add(*second, true);
  TOvMessageSigner signer;
  signer.SetCertStorage(&a);
  signer.SetHashAlgorithm(ALG_SHA256);
  signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  int64_t size = 0;
  ASSERT_EQ(signer.Sign("content", 7, true, size, nullptr), MSG_ERROR_BUFFER_TOO_SMALL);
  std::string der(static_cast<size_t>(size), '\0');
  ASSERT_EQ(signer.Sign("content", 7, true, size, der.data()), 0);
  der.resize(static_cast<size_t>(size));

  TOvMessageSigner countersigner;
  countersigner.SetCertStorage(&b);
  countersigner.SetHashAlgorithm(ALG_SHA256);
  countersigner.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  size = 0;
  ASSERT_EQ(countersigner.Countersign(der.data(), static_cast<int64_t>(der.size()), size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string counter(static_cast<size_t>(size), '\0');
  ASSERT_EQ(
      countersigner.Countersign(der.data(), static_cast<int64_t>(der.size()), size, counter.data()),
      0)
      << countersigner.ErrorInfo();
  counter.resize(static_cast<size_t>(size));
  // contentType is dropped from a countersignature's attributes.
  EXPECT_EQ(countersigner.AuthenticatedAttributes().IndexOfType(oid::ATTR_CONTENT_TYPE), -1);

  TOvMessageVerifier verifier;
  EXPECT_EQ(
      verifier.VerifyDetached("content", 7, counter.data(), static_cast<int64_t>(counter.size())),
      0)
      << verifier.ErrorInfo();
  EXPECT_NE(verifier.Attributes().IndexOfType(oid::ATTR_COUNTERSIGNATURE), -1);
  // openssl still accepts the signature with the unsigned attribute added.
  const std::string file = dir_.Write("c.bin", "content");
  const auto r = tavra_test::RunCapturing(
      "openssl cms -verify -binary -inform DER -in " + Quote(dir_.Write("cs.der", counter)) +
      " -content " + Quote(file) + " -CAfile " + Quote(Store::Get().File("ca.crt")) +
      " -purpose any -out /dev/null");
  EXPECT_EQ(r.status, 0) << r.err;

  TOvPKCS7Message parsed;
  ASSERT_EQ(parsed.LoadFromBytes(counter), 0);
  const TOvPKCS7Attributes& unsignedAttrs =
      parsed.SignedData().Signers(0)->UnauthenticatedAttributes;
  const std::string cs = unsignedAttrs.Values(0)->front();
  TOvASN1ConstrainedTag tree;
  ASSERT_GT(tree.LoadSingleFromBuffer(cs.data(), static_cast<int64_t>(cs.size())), 0);
  TOvPKCS7Signer inner;
  ASSERT_EQ(inner.LoadFromTag(*tree.ConstrainedChild(0), cs), 0);
  std::string damaged = counter;
  const size_t at = damaged.rfind(inner.EncryptedDigest);
  ASSERT_NE(at, std::string::npos);
  damaged[at + 5] ^= 0x01;
  EXPECT_EQ(
      verifier.VerifyDetached("content", 7, damaged.data(), static_cast<int64_t>(damaged.size())),
      MSG_ERROR_INVALID_COUNTERSIGNATURE);
}

// A signature made elsewhere with its signed attributes out of DER order stays
// valid when the message is rewritten (here: countersigned): the signed octets
// are written back as they were received.
TEST_F(MessagesTest, RewritingALoadedMessageKeepsItsSignedOctets) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvHashFunction sha(ALG_SHA256);
  sha.Update("content");
  const std::string digest = sha.Finish();
  const std::string md =
      EncodeSequence({EncodeOID(oid::ATTR_MESSAGE_DIGEST), EncodeSet({EncodeOctetString(digest)})});
  const std::string ct =
      EncodeSequence({EncodeOID(oid::ATTR_CONTENT_TYPE), EncodeSet({EncodeOID(oid::PKCS7_DATA)})});
  TOvHashFunction attrHash(ALG_SHA256);
  attrHash.Update(EncodeConstructed(ASN1_SET, {md, ct}));
  TOvRSAPublicKeyCrypto rsa;
  rsa.SetKeyMaterial(cert->KeyMaterial());
  rsa.SetInputIsHash(true);
  rsa.SetHashAlgorithm(ALG_SHA256);
  rsa.SetHashFuncOID(oid::SHA256);
  const std::string signature = rsa.SignDetached(attrHash.Finish());
  const std::string sha256 = EncodeAlgorithmIdentifier(oid::SHA256, {}, true);
  const std::string der = EncodeSequence(
      {EncodeOID(oid::PKCS7_SIGNED_DATA),
       EncodeConstructed(
           0xA0,
           {EncodeSequence(
               {EncodePrimitive(ASN1_INTEGER, "\x01"), EncodeSet({sha256}),
                EncodeSequence({EncodeOID(oid::PKCS7_DATA)}),
                EncodeConstructed(0xA0, {cert->CertificateBinary()}),
                EncodeSet({EncodeSequence(
                    {EncodePrimitive(ASN1_INTEGER, "\x01"),
                     EncodeSequence({cert->IssuerNameDER(),
                                     EncodePrimitive(ASN1_INTEGER, cert->SerialNumberOctets())}),
                     sha256, EncodeConstructed(0xA0, {md, ct}),
                     EncodeAlgorithmIdentifier(oid::RSA_ENCRYPTION, {}, true),
                     EncodeOctetString(signature)})})})})});
  TOvMessageVerifier verifier;
  ASSERT_EQ(verifier.VerifyDetached("content", 7, der.data(), static_cast<int64_t>(der.size())), 0);

  auto other =
      msgtest::BuiltInSigner(Store::Get().File("rsa3072.crt"), Store::Get().File("rsa3072.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*other, true);
  TOvMessageSigner countersigner;
  countersigner.SetCertStorage(&storage);
  int64_t size = 0;
  ASSERT_EQ(countersigner.Countersign(der.data(), static_cast<int64_t>(der.size()), size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string out(static_cast<size_t>(size), '\0');
  ASSERT_EQ(
      countersigner.Countersign(der.data(), static_cast<int64_t>(der.size()), size, out.data()), 0);
  out.resize(static_cast<size_t>(size));
  EXPECT_EQ(verifier.VerifyDetached("content", 7, out.data(), static_cast<int64_t>(out.size())), 0);
}

// PSS with the signer's hash for the digest, MGF1 and the salt length; openssl
// checks it, and so does our verifier. Hashing can be cancelled.
TEST_F(MessagesTest, PSSSignatureAndCancelledHashing) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  TOvMessageSigner signer;
  signer.SetCertStorage(&storage);
  signer.SetUsePSS(true);
  signer.SetHashAlgorithm(ALG_SHA384);
  signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  const std::string data = tavra_test::ReadFile(content_);
  int64_t size = 0;
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), true, size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string der(static_cast<size_t>(size), '\0');
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), true, size, der.data()), 0);
  der.resize(static_cast<size_t>(size));
  bool ok = false;
  const std::string out = msgtest::OpensslVerifyDetached(der, content_, ok);
  EXPECT_TRUE(ok) << out;
  TOvMessageVerifier verifier;
  EXPECT_EQ(verifier.VerifyDetached(data.data(), static_cast<int64_t>(data.size()), der.data(),
                                    static_cast<int64_t>(der.size())),
            0);
  // The parameters as openssl reads them: a 48-byte salt for SHA-384 (a
  // consistent 20 would verify just as well above).
  const auto parsed = tavra_test::RunCapturing("openssl cms -cmsout -print -inform DER -in " +
                                               Quote(dir_.Write("pss.der", der)));
  ASSERT_EQ(parsed.status, 0) << parsed.err;
  const size_t pss = parsed.out.find("rsassaPss");
  ASSERT_NE(pss, std::string::npos) << parsed.out;
  // openssl dumps the parameters as parsed DER; single spaces make it searchable.
  std::string params;
  for (char ch : parsed.out.substr(pss, parsed.out.find("signature:", pss) - pss))
    if (ch != ' ' || params.empty() || params.back() != ' ') params += ch;
  size_t at = 0;
  for (const char* part : {"cont [ 0 ]", ":sha384", "cont [ 1 ]", ":mgf1", ":sha384", "cont [ 2 ]",
                           "prim: INTEGER :30\n"}) {
    at = params.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << " in\n" << params;
  }

  int calls = 0;
  signer.SetOnProgress([&](TOvMessageProcessor*, int64_t total, int64_t done, bool& cancel) {
    ++calls;
    EXPECT_EQ(total, static_cast<int64_t>(data.size()));
    cancel = done > 0;
  });
  size = static_cast<int64_t>(der.size()) + 1000000;
  std::string buffer(static_cast<size_t>(size), '\0');
  EXPECT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), true, size, buffer.data()),
            MSG_ERROR_HASHING);
  EXPECT_EQ(signer.ErrorInfo(), "Cancelled by user");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(size, static_cast<int64_t>(der.size()) + 1000000);  // untouched on failure
}

// The MAC variant: the key reaches the recipient, whose private key checks the
// MAC; other holders and damaged content are refused.
TEST_F(MessagesTest, MacVariantRoundTrip) {
  auto recipient =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage publicOnly, withKey;
  publicOnly.Add(*recipient, false);
  withKey.Add(*recipient, true);
  TOvMessageSigner signer;
  signer.SetSignatureType(mstMAC);
  int64_t size = 0;
  EXPECT_EQ(signer.Sign("data", 4, false, size, nullptr), MSG_ERROR_NO_CERTIFICATE);
  signer.SetRecipientCerts(&publicOnly);
  signer.SetHashAlgorithm(ALG_SHA256);
  signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
  const std::string data = tavra_test::ReadFile(content_);
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), false, size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string der(static_cast<size_t>(size), '\0');
  ASSERT_EQ(signer.Sign(data.data(), static_cast<int64_t>(data.size()), false, size, der.data()), 0)
      << signer.ErrorInfo();
  der.resize(static_cast<size_t>(size));
  // openssl reads the structure.
  const auto parsed = tavra_test::RunCapturing("openssl cms -cmsout -print -inform DER -in " +
                                               Quote(dir_.Write("mac.der", der)));
  EXPECT_EQ(parsed.status, 0) << parsed.err;
  EXPECT_NE(parsed.out.find("authenticatedData"), std::string::npos) << parsed.out;

  auto verify = [&](const std::string& message, TOvCustomCertStorage* storage) {
    TOvMessageVerifier verifier;
    verifier.SetCertStorage(storage);
    int64_t out = static_cast<int64_t>(message.size());
    std::string content(message.size(), '\0');
    const int32_t rc = verifier.Verify(message.data(), out, out, content.data());
    if (rc == 0) {
      EXPECT_EQ(content.substr(0, static_cast<size_t>(out)), data);
    }
    return rc;
  };
  EXPECT_EQ(verify(der, &withKey), 0);
  EXPECT_EQ(verify(der, &publicOnly), MSG_ERROR_NO_CERTIFICATE);
  std::string damaged = der;
  damaged[damaged.find(data) + 10] ^= 0x01;
  EXPECT_EQ(verify(damaged, &withKey), MSG_ERROR_DIGEST_MISMATCH);
}

// Signing a stream range: the content is the range only, and openssl reads it
// back out of the encapsulated message.
TEST_F(MessagesTest, StreamRangeIsSignedAndEncapsulated) {
  auto cert =
      msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
  TOvMemoryCertStorage storage;
  storage.Add(*cert, true);
  TOvMessageSigner signer;
  signer.SetCertStorage(&storage);
  signer.SetHashAlgorithm(ALG_SHA512);
  const std::string data = std::string(40000, 'a') + std::string(40000, 'b');
  TOvMemoryStream in(data);
  in.SetPosition(100);
  TOvMemoryStream out;
  ASSERT_EQ(signer.SignStream(in, out, 70000, false), 0) << signer.ErrorInfo();
  const auto r = tavra_test::RunCapturing("openssl cms -verify -binary -inform DER -in " +
                                          Quote(dir_.Write("s.der", out.Data())) + " -CAfile " +
                                          Quote(Store::Get().File("ca.crt")) +
                                          " -purpose any -out " + Quote(dir_.File("range.bin")));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tavra_test::ReadFile(dir_.File("range.bin")), data.substr(100, 70000));
}

}  // namespace
}  // namespace corvane
