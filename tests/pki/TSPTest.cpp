// Timestamps: tokens from a local time-stamp authority run by openssl ts are
// embedded by the signer and checked by the verifier; TSTInfo reading.
#include <gtest/gtest.h>

#include "tests/pki/MessageTestSupport.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"

namespace corvane {
namespace {

using msgtest::Quote;
using msgtest::ScratchDir;
using msgtest::Store;

// A time-stamp authority made with openssl in a scratch folder: its certificate
// is issued by the fixture CA with the critical timeStamping extended key usage.
class LocalTSA {
 public:
  LocalTSA() {
    const std::string d = Quote(dir_.Path());
    dir_.Write("tsa.ext", "extendedKeyUsage=critical,timeStamping\nbasicConstraints=CA:FALSE\n");
    dir_.Write("tsa.cnf", "[tsa]\ndefault_tsa = local\n[local]\ndir = " + dir_.Path() +
                              "\nserial = $dir/serial\nsigner_cert = $dir/tsa.crt\n"
                              "signer_key = $dir/tsa.key\nsigner_digest = sha256\n"
                              "default_policy = 1.2.3.4.1\ndigests = sha1, sha256, sha384, sha512\n"
                              "accuracy = secs:1, millisecs:500\nordering = yes\ntsa_name = yes\n"
                              "ess_cert_id_alg = sha256\n");
    dir_.Write("serial", "01\n");
    const auto r = tavra_test::RunCapturing(
        "cd " + d +
        " && openssl req -new -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr"
        " -subj '/O=Tavra Test/CN=Tavra Test TSA' && openssl x509 -req -in tsa.csr -CA " +
        Quote(Store::Get().File("ca.crt")) + " -CAkey " + Quote(Store::Get().File("ca.key")) +
        " -set_serial 77 -days 30 -extfile tsa.ext -out tsa.crt");
    ok_ = r.status == 0;
    error_ = r.err;
  }
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }

  // The token (or, with wholeResponse, the whole reply) for a digest.
  std::string Stamp(int32_t hash, const std::string& digest, bool wholeResponse,
                    bool withCertificate = true) const {
    const std::string d = Quote(dir_.Path());
    const auto r = tavra_test::RunCapturing(
        "cd " + d + " && openssl ts -query -" + msgtest::OpensslDigestName(hash) + " -digest " +
        BytesToHex(digest) + (withCertificate ? " -cert" : "") +
        " -out req.tsq && openssl ts -reply -config tsa.cnf" + " -queryfile req.tsq" +
        (wholeResponse ? "" : " -token_out") + " -out reply.der");
    EXPECT_EQ(r.status, 0) << r.err;
    return tavra_test::ReadFile(dir_.File("reply.der"));
  }

  // The token's TSTInfo signed again by the authority's key as plain id-data:
  // a sound signature over a sound TSTInfo, under the wrong content type.
  std::string ResignAsData(const std::string& token) const {
    const std::string d = Quote(dir_.Path());
    dir_.Write("token.der", token);
    const auto r = tavra_test::RunCapturing(
        "cd " + d +
        " && openssl cms -verify -noverify -inform DER -in token.der -out tstinfo.der"
        " && openssl cms -sign -binary -nodetach -outform DER -md sha256 -in tstinfo.der"
        " -signer tsa.crt -inkey tsa.key -out data.der");
    EXPECT_EQ(r.status, 0) << r.err;
    return tavra_test::ReadFile(dir_.File("data.der"));
  }

 private:
  ScratchDir dir_;
  bool ok_ = false;
  std::string error_;
};

// A client answering from the local authority; it can be told to stamp the
// wrong digest, to hand back the whole reply, or to fail.
class LocalTSPClient : public TOvCustomTSPClient {
 public:
  explicit LocalTSPClient(const LocalTSA& tsa) : tsa_(tsa) { SetHashAlgorithm(ALG_SHA256); }
  int32_t Timestamp(const ByteString& digest, uint8_t& status, uint32_t& failureInfo,
                    ByteString& token) override {
    ++Calls;
    status = 0;
    failureInfo = 0;
    if (FailWith != 0) return FailWith;
    std::string stamped = digest;
    if (WrongImprint) stamped[0] ^= 0x01;
    token = tsa_.Stamp(HashAlgorithm(), stamped, WholeResponse);
    if (AsData) token = tsa_.ResignAsData(token);
    LastToken = token;
    return 0;
  }
  bool WrongImprint = false;
  bool WholeResponse = false;
  bool AsData = false;
  int32_t FailWith = 0;
  int Calls = 0;
  std::string LastToken;

 private:
  const LocalTSA& tsa_;
};

class TSPTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TAVRA_REQUIRE_TOOL("openssl");
    ASSERT_STORE_FIXTURE();
    ASSERT_TRUE(tsa_.Ok()) << tsa_.Error();
    cert_ =
        msgtest::BuiltInSigner(Store::Get().File("rsa2048.crt"), Store::Get().File("rsa2048.key"));
    storage_.Add(*cert_, true);
  }

  // A detached signature over "content" with the client's timestamp.
  int32_t SignWith(TOvCustomTSPClient* client, std::string& der, TCvSigningOptions options = 0) {
    TOvMessageSigner signer;
    signer.SetCertStorage(&storage_);
    signer.SetHashAlgorithm(ALG_SHA256);
    signer.SetUseUndefSize(false);
    signer.SetTSPClient(client);
    signer.SetSigningOptions(soInsertMessageDigests | options);
    signer.AuthenticatedAttributes().Add(oid::ATTR_CONTENT_TYPE, EncodeOID(oid::PKCS7_DATA));
    int64_t size = 0;
    EXPECT_EQ(signer.Sign("content", 7, true, size, nullptr), MSG_ERROR_BUFFER_TOO_SMALL);
    der.assign(static_cast<size_t>(size), '\0');
    const int32_t rc = signer.Sign("content", 7, true, size, der.data());
    der.resize(rc == 0 ? static_cast<size_t>(size) : 0);
    return rc;
  }

  int32_t Verify(const std::string& der, TOvMessageVerifier& verifier) {
    return verifier.VerifyDetached("content", 7, der.data(), static_cast<int64_t>(der.size()));
  }

  LocalTSA tsa_;
  std::unique_ptr<TOvX509Certificate> cert_;
  TOvMemoryCertStorage storage_;
};

TEST_F(TSPTest, TokenIsEmbeddedAndReadBack) {
  LocalTSPClient client(tsa_);
  std::string der;
  ASSERT_EQ(SignWith(&client, der), 0);
  EXPECT_EQ(client.Calls, 1);

  TOvMessageVerifier verifier;
  ASSERT_EQ(Verify(der, verifier), 0) << verifier.ErrorInfo();
  ASSERT_EQ(verifier.TimestampCount(), 1);
  const TOvClientTSPInfo& info = *verifier.Timestamps(0);
  EXPECT_EQ(info.Token(), client.LastToken);  // the token unchanged
  EXPECT_EQ(info.SignatureResult(), 0);
  EXPECT_LT(std::abs(info.GenTime - NowUTC()), 1.0 / 24);
  EXPECT_TRUE(info.AccuracySet);
  EXPECT_EQ(info.AccuracySec, 1);
  EXPECT_EQ(info.AccuracyMilli, 500);
  EXPECT_TRUE(info.TSANameSet);
  EXPECT_FALSE(info.SerialNumber.empty());
  EXPECT_FALSE(info.ServerNonce().empty());  // openssl ts -query puts a 64-bit nonce

  // openssl agrees: the signature still verifies, and the token is a valid
  // stamp of the signature value.
  ScratchDir dir;
  const std::string content = dir.Write("content", "content");
  bool ok = false;
  EXPECT_TRUE((msgtest::OpensslVerifyDetached(der, content, ok), ok));
  TOvPKCS7Message message;
  ASSERT_EQ(message.LoadFromBytes(der), 0);
  const std::string signature = message.SignedData().Signers(0)->EncryptedDigest;
  const auto r = tavra_test::RunCapturing("openssl ts -verify -token_in -in " +
                                          Quote(dir.Write("token.der", info.Token())) + " -data " +
                                          Quote(dir.Write("sig.bin", signature)) + " -CAfile " +
                                          Quote(Store::Get().File("ca.crt")));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(TSPTest, WrongImprintAndBadTokenSignatureFailClosed) {
  LocalTSPClient client(tsa_);
  client.WrongImprint = true;
  std::string der;
  ASSERT_EQ(SignWith(&client, der), 0);
  TOvMessageVerifier verifier;
  EXPECT_EQ(Verify(der, verifier), MSG_ERROR_INVALID_TIMESTAMP);
  EXPECT_EQ(verifier.TimestampCount(), 1);

  // A token whose own signature is damaged is not trusted either, though its
  // TSTInfo reads and its imprint matches.
  client.WrongImprint = false;
  ASSERT_EQ(SignWith(&client, der), 0);
  TOvPKCS7Message token;
  ASSERT_EQ(token.LoadFromBytes(client.LastToken), 0);
  const std::string tokenSignature = token.SignedData().Signers(0)->EncryptedDigest;
  const size_t at = der.find(tokenSignature);
  ASSERT_NE(at, std::string::npos);
  der[at + 10] ^= 0x01;
  TOvMessageVerifier second;
  EXPECT_EQ(Verify(der, second), MSG_ERROR_INVALID_TIMESTAMP);
  ASSERT_EQ(second.TimestampCount(), 1);
  EXPECT_EQ(second.Timestamps(0)->SignatureResult(), MSG_ERROR_INVALID_SIGNATURE);
  // Without the timestamp check the signature itself is fine.
  TOvMessageVerifier lenient;
  lenient.SetVerificationOptions(lenient.VerificationOptions() & ~voVerifyTimestamps);
  EXPECT_EQ(Verify(der, lenient), 0);
}

// A token is trusted only when it carries a TSTInfo, even when its
// signature holds and its content reads as one.
TEST_F(TSPTest, TokenOfAnotherContentTypeFailsClosed) {
  LocalTSPClient client(tsa_);
  client.AsData = true;
  std::string der;
  ASSERT_EQ(SignWith(&client, der), 0);
  TOvMessageVerifier verifier;
  EXPECT_EQ(Verify(der, verifier), MSG_ERROR_INVALID_TIMESTAMP);
  ASSERT_EQ(verifier.TimestampCount(), 1);
  EXPECT_EQ(verifier.Timestamps(0)->SignatureResult(), 0);
  EXPECT_EQ(verifier.Timestamps(0)->ContentType(), oid::PKCS7_DATA);
}

TEST_F(TSPTest, WholeReplyIsAcceptedWhereATokenBelongs) {
  LocalTSPClient client(tsa_);
  client.WholeResponse = true;
  std::string der;
  ASSERT_EQ(SignWith(&client, der), 0);
  TOvMessageVerifier verifier;
  EXPECT_EQ(Verify(der, verifier), 0) << verifier.ErrorInfo();
  EXPECT_EQ(verifier.TimestampCount(), 1);
}

TEST_F(TSPTest, FailuresAndTheTimestampOnlyOperation) {
  LocalTSPClient client(tsa_);
  client.FailWith = 4242;
  std::string der;
  EXPECT_EQ(SignWith(&client, der), 4242);
  ASSERT_EQ(SignWith(&client, der, soIgnoreTimestampFailure), 0);
  TOvPKCS7Message message;
  ASSERT_EQ(message.LoadFromBytes(der), 0);
  EXPECT_EQ(message.SignedData().Signers(0)->UnauthenticatedAttributes.Count(), 0);

  // Stamping the existing signature later keeps it valid for openssl too.
  client.FailWith = 0;
  TOvMessageSigner stamper;
  int64_t size = 0;
  EXPECT_EQ(stamper.Timestamp(der.data(), static_cast<int64_t>(der.size()), size, nullptr),
            MSG_ERROR_NO_TSP_CLIENT);
  stamper.SetTSPClient(&client);
  ASSERT_EQ(stamper.Timestamp(der.data(), static_cast<int64_t>(der.size()), size, nullptr),
            MSG_ERROR_BUFFER_TOO_SMALL);
  std::string stamped(static_cast<size_t>(size), '\0');
  ASSERT_EQ(stamper.Timestamp(der.data(), static_cast<int64_t>(der.size()), size, stamped.data()),
            0);
  stamped.resize(static_cast<size_t>(size));
  TOvMessageVerifier verifier;
  EXPECT_EQ(Verify(stamped, verifier), 0) << verifier.ErrorInfo();
  EXPECT_EQ(verifier.TimestampCount(), 1);
  ScratchDir dir;
  bool ok = false;
  EXPECT_TRUE((msgtest::OpensslVerifyDetached(stamped, dir.Write("c", "content"), ok), ok));

  TOvPKCS7Message data;
  data.ContentType = ctData;
  data.Data = "plain";
  const std::string plain = data.SaveToBytes();
  size = 1 << 20;
  std::string out(static_cast<size_t>(size), '\0');
  EXPECT_EQ(stamper.Timestamp(plain.data(), static_cast<int64_t>(plain.size()), size, out.data()),
            MSG_ERROR_NOT_SIGNED_DATA);
}

// A reply for which no certificate was asked is read even when bad signatures
// are not ignored; one that should have carried the certificate is not.
TEST_F(TSPTest, TokenWithoutCertificateIsReadWhenNoneWasAsked) {
  TOvHashFunction sha(ALG_SHA256);
  sha.Update("stamped");
  const std::string token = tsa_.Stamp(ALG_SHA256, sha.Finish(), false, false);
  LocalTSPClient client(tsa_);
  client.SetIncludeCertificates(false);
  TOvClientTSPInfo& info = client.TSPInfo();
  info.SetIgnoreBadSignature(false);
  EXPECT_EQ(info.ParseToken(token), 0);
  EXPECT_EQ(info.SignatureResult(), MSG_ERROR_NO_CERTIFICATE);
  EXPECT_FALSE(info.SerialNumber.empty());
  client.SetIncludeCertificates(true);
  EXPECT_EQ(info.ParseToken(token), MSG_ERROR_NO_CERTIFICATE);
}

std::string TSTInfo(std::initializer_list<std::string_view> tail,
                    std::string_view version = "\x01") {
  std::vector<std::string> parts = {
      EncodePrimitive(ASN1_INTEGER, version), EncodeOID(std::string("\x2A\x03\x04", 3)),
      EncodeSequence({EncodeSequence({EncodeOID(oid::SHA256), EncodeNull()}),
                      EncodeOctetString(std::string(32, 'h'))}),
      EncodePrimitive(ASN1_INTEGER, "\x05"),
      EncodePrimitive(ASN1_GENERALIZED_TIME, "20261208090503Z")};
  for (auto t : tail) parts.emplace_back(t);
  return EncodeSequence(parts);
}

TEST(TSPInfo, TSTInfoFieldsAndNonces) {
  TOvClientTSPInfo info;
  EXPECT_EQ(info.ParseTSTInfo(TSTInfo({})), 0);
  EXPECT_EQ(info.GenTime, EncodeDateTime(2026, 12, 8, 9, 5, 3, 0));
  EXPECT_FALSE(info.AccuracySet);
  EXPECT_TRUE(info.ServerNonce().empty());
  EXPECT_FALSE(info.TSANameSet);
  EXPECT_EQ(info.SerialNumber, "\x05");

  EXPECT_EQ(info.ParseTSTInfo(TSTInfo({}, "\x02")), -1);
  EXPECT_EQ(info.ParseResult(), TSP_ERROR_INVALID_TSTINFO);

  EXPECT_EQ(info.ParseTSTInfo(TSTInfo({EncodePrimitive(ASN1_INTEGER, "\x11\x22")})), 0);
  EXPECT_EQ(info.ServerNonce(), "\x11\x22");
  EXPECT_FALSE(info.AccuracySet);

  EXPECT_EQ(info.ParseTSTInfo(TSTInfo({EncodeSequence({EncodePrimitive(0x80, "\x01\xF4")})})), 0);
  EXPECT_TRUE(info.AccuracySet);
  EXPECT_EQ(info.AccuracySec, 0);
  EXPECT_EQ(info.AccuracyMilli, 500);

  // Garbage and truncations never raise.
  const std::string whole = TSTInfo({EncodeSequence({EncodePrimitive(ASN1_INTEGER, "\x01")})});
  for (size_t n = 0; n < whole.size(); ++n) EXPECT_EQ(info.ParseTSTInfo(whole.substr(0, n)), -1);
  EXPECT_NE(info.ParseToken("\x30\x80"), 0);

  TOvTSPInfo a, b;
  EXPECT_NE(a.Nonce, b.Nonce);
  EXPECT_EQ(a.Nonce.size(), 8u);
  EXPECT_EQ(static_cast<uint8_t>(a.Nonce[0]) & 1, 1);
  EXPECT_EQ(static_cast<uint8_t>(b.Nonce[0]) & 1, 1);
  b.Assign(&a);
  EXPECT_EQ(b.Nonce, a.Nonce);
  EXPECT_THROW(b.Assign(nullptr), EConvertError);
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// A client that answers "granted" without a token, or fails with words.
class SilentTSPClient : public TOvCustomTSPClient {
 public:
  int32_t Timestamp(const ByteString&, uint8_t& status, uint32_t& failureInfo,
                    ByteString& token) override {
    status = Status;
    failureInfo = 0;
    token.clear();
    SetFailureText(Words);
    return Code;
  }
  uint8_t Status = 0;
  int32_t Code = 0;
  std::string Words;
};

// Asked for a timestamp, the signer never returns a signature without one.
TEST_F(TSPTest, NoTokenIsAFailureWithItsCause) {
  SilentTSPClient client;
  std::string der;
  EXPECT_EQ(SignWith(&client, der), MSG_ERROR_INVALID_TIMESTAMP);
  client.Status = 2;  // rejection
  EXPECT_EQ(SignWith(&client, der), MSG_ERROR_INVALID_TIMESTAMP);
  EXPECT_EQ(SignWith(&client, der, soIgnoreTimestampFailure), 0);

  client.Code = 4242;
  client.Words = "HTTP status 401 from the authority";
  TOvMessageSigner signer;
  signer.SetCertStorage(&storage_);
  signer.SetTSPClient(&client);
  int64_t size = 1 << 16;
  std::string out(static_cast<size_t>(size), '\0');
  EXPECT_EQ(signer.Sign("content", 7, true, size, out.data()), 4242);
  EXPECT_EQ(signer.ErrorInfo(), client.Words);
}

}  // namespace
}  // namespace corvane
