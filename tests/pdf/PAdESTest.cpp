// PAdES signatures and document timestamps made by the toolkit, judged by
// pdfsig, openssl (cms, ts) and qpdf, with a time-stamp authority of the
// test's own answering in-process.
#include <gtest/gtest.h>

#include <regex>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/LocalTSA.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/SigningTestHandler.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace {

using namespace corvane;
using namespace pdftest;
using tavra_fixture::LocalTSA;
using tavra_fixture::LocalTSPClient;
using tavra_fixture::Store;
using tavra_test::Quote;
using tavra_test::RunCapturing;
using tavra_test::ScratchDir;

// /Contents (the DER element without its padding) and the bytes /ByteRange covers.
void Split(const std::string& pdf, std::string& value, std::string& covered) {
  std::smatch m;
  const std::string tail = pdf.substr(pdf.rfind("/ByteRange"), 80);
  ASSERT_TRUE(std::regex_search(tail, m, std::regex(R"(\[0 (\d+) (\d+) (\d+))")));
  const size_t b = std::stoull(m[1]), c = std::stoull(m[2]), d = std::stoull(m[3]);
  covered = pdf.substr(0, b) + pdf.substr(c, d);
  std::string bytes;
  for (size_t i = b + 1; i + 1 < c - 1; i += 2)
    bytes.push_back(static_cast<char>(std::stoi(pdf.substr(i, 2), nullptr, 16)));
  ASSERT_GE(bytes.size(), 4u);
  size_t length = static_cast<uint8_t>(bytes.at(1)), header = 2;
  if (length & 0x80) {
    const size_t octets = length & 0x7F;
    length = 0;
    for (size_t i = 0; i < octets; ++i)
      length = (length << 8) | static_cast<uint8_t>(bytes.at(2 + i));
    header += octets;
  }
  value = bytes.substr(0, header + length);
}

class PAdESTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tavra_test::ToolAvailable("openssl"));
    ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
    platform::KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
    store_.SetSystemStores({"My"});
    for (int i = 0; i < store_.Count(); ++i)
      if (store_.Certificates(i)->SubjectName().CommonName == "User RSA 2048")
        signer_ = store_.Certificates(i);
    ASSERT_NE(signer_, nullptr);
    storage_.Add(*signer_, true);
    ca_.LoadFromBytes(Store::Get().Der("ca"));
    storage_.Add(ca_, false);
    handler_.SetSignatureKind(PDF_SIGNATURE_KIND_PKCS7);
    handler_.SetCertStorage(&storage_);
  }

  // Signs (or stamps) a one-page file; error receives the failure, if any.
  std::string Sign(TOvPDFSecurityHandler& handler, std::string* error = nullptr) {
    TOvMemoryStream stream(input_);
    TOvPDFDocument document;
    try {
      document.Open(stream);
      TOvPDFSignature* entry = document.Signatures(document.AddSignature());
      entry->SetHandler(&handler);
      entry->SetInvisible(true);
      document.Close(true);
    } catch (const ECorvaneError& e) {
      if (error) *error = e.what();
      return {};
    }
    return stream.Data();
  }

  // openssl ts -verify of token against data (the bytes it stamps).
  void ExpectTokenOver(const std::string& token, const std::string& data) {
    const auto r =
        RunCapturing("openssl ts -verify -token_in -in " + Quote(dir_.Write("token.der", token)) +
                     " -data " + Quote(dir_.Write("stamped.bin", data)) + " -CAfile " +
                     Quote(Store::Get().File("ca.crt")) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Verification: OK"), std::string::npos) << r.out;
  }

  const std::string input_ = OnePage().Build();
  TOvWinCertStorage store_;
  TOvX509Certificate* signer_ = nullptr;
  TOvX509Certificate ca_;
  TOvMemoryCertStorage storage_;
  TOvPDFPublicKeySecurityHandler handler_;
  ScratchDir dir_;
};

// B-B: ETSI.CAdES.detached, signing-certificate-v2 naming the signer, no
// signing time, the chain in the certificates, SHA-384 when asked.
TEST_F(PAdESTest, BaselineBSignatureValidates) {
  handler_.SetCAdES(true);
  handler_.SetHashAlgorithm(ALG_SHA384);
  const std::string pdf = Sign(handler_);
  ASSERT_FALSE(pdf.empty());
  EXPECT_NE(pdf.find("/SubFilter /ETSI.CAdES.detached"), std::string::npos);
  const std::string path = dir_.Write("bb.pdf", pdf);
  ExpectSignedCleanly(input_, path, 1);
  EXPECT_NE(Pdfsig(path).find("Signature Type: ETSI.CAdES.detached"), std::string::npos);

  std::string value, covered;
  Split(pdf, value, covered);
  TOvPKCS7Message message;
  ASSERT_EQ(message.LoadFromBytes(value), 0);
  TOvPKCS7SignedData& data = message.SignedData();
  EXPECT_EQ(data.Certificates().Count(), 2);  // the signer and its CA
  TOvPKCS7Signer& info = *data.Signers(0);
  EXPECT_EQ(info.DigestAlgorithm, oid::SHA384);
  EXPECT_LT(info.AuthenticatedAttributes.IndexOfType(oid::ATTR_SIGNING_TIME), 0);
  const int ess = info.AuthenticatedAttributes.IndexOfType(
      std::string("\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x2F", 11));
  ASSERT_GE(ess, 0);
  // openssl reads the attribute and finds the signer's certificate hash in it.
  const auto r = RunCapturing("openssl cms -cmsout -print -inform DER -in " +
                              Quote(dir_.Write("bb.der", value)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("id-smime-aa-signingCertificateV2"), std::string::npos) << r.out;
  const std::string hash =
      RunCapturing("openssl x509 -in " + Quote(Store::Get().File("rsa2048.crt")) +
                   " -outform DER | openssl dgst -sha256 -binary")
          .out;
  ASSERT_EQ(hash.size(), 32u);
  EXPECT_NE(value.find(hash), std::string::npos);
}

// B-T: the token stamps the signature value; adbe.pkcs7.detached takes one too.
TEST_F(PAdESTest, BaselineTTokenStampsTheSignatureValue) {
  LocalTSA tsa;
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  for (const bool cades : {true, false}) {
    SCOPED_TRACE(cades ? "cades" : "pkcs7");
    LocalTSPClient client(tsa);
    handler_.SetCAdES(cades);
    handler_.SetTSPClient(&client);
    const std::string pdf = Sign(handler_);
    ASSERT_FALSE(pdf.empty());
    const std::string path = dir_.Write(cades ? "bt.pdf" : "pkcs7t.pdf", pdf);
    ExpectSignedCleanly(input_, path, 1);
    EXPECT_EQ(client.Calls, 2);  // the size, then the signature
    std::string value, covered;
    Split(pdf, value, covered);
    TOvPKCS7Message message;
    ASSERT_EQ(message.LoadFromBytes(value), 0);
    TOvPKCS7Signer& info = *message.SignedData().Signers(0);
    const int at = info.UnauthenticatedAttributes.IndexOfType(oid::ATTR_TIMESTAMP_TOKEN);
    ASSERT_GE(at, 0);
    EXPECT_EQ(info.UnauthenticatedAttributes.Values(at)->front(), client.LastToken);
    ExpectTokenOver(client.LastToken, info.EncryptedDigest);
  }
}

// A token with ten more certificates is far larger than the spare room a
// signature gets; the reservation is measured, so it still fits.
TEST_F(PAdESTest, LargeTokenFitsTheReservation) {
  LocalTSA tsa(10);
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  LocalTSPClient client(tsa);
  handler_.SetCAdES(true);
  handler_.SetTSPClient(&client);
  std::string error;
  const std::string pdf = Sign(handler_, &error);
  ASSERT_FALSE(pdf.empty()) << error;
  EXPECT_GT(client.LastToken.size(), 9000u);
  ExpectSignedCleanly(input_, dir_.Write("large.pdf", pdf), 1);
}

// Every way the authority fails ends the signing with its cause; nothing
// is written.
TEST_F(PAdESTest, AuthorityFailuresWriteNothing) {
  LocalTSA tsa;
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  struct {
    const char* name;
    int failAfter;
    bool empty, wrong;
    const char* cause;
  } cases[] = {
      {"unreachable", 0, false, false, "cannot be reached"},
      {"second request", 1, false, false, "cannot be reached"},
      {"no token", 1000, true, false, "sent no token"},
      {"wrong imprint", 1000, false, true, "does not cover the signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LocalTSPClient client(tsa);
    client.FailAfter = c.failAfter;
    client.EmptyToken = c.empty;
    client.WrongImprint = c.wrong;
    handler_.SetCAdES(true);
    handler_.SetTSPClient(&client);
    std::string error;
    EXPECT_TRUE(Sign(handler_, &error).empty());
    EXPECT_NE(error.find(c.cause), std::string::npos) << error;
  }
}

// A document timestamp: the token itself over the byte ranges, its own update.
TEST_F(PAdESTest, DocumentTimestampStampsTheByteRanges) {
  LocalTSA tsa;
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  handler_.SetCAdES(true);
  const std::string signedPdf = Sign(handler_);
  ASSERT_FALSE(signedPdf.empty());
  LocalTSPClient client(tsa);
  TOvPDFDocTimeStampHandler stamper;
  stamper.SetTSPClient(&client);
  TOvMemoryStream stream(signedPdf);
  TOvPDFDocument document;
  document.Open(stream);
  AddDocTimeStamp(document, stamper);
  document.Close(true);
  const std::string pdf = stream.Data();
  ASSERT_GT(pdf.size(), signedPdf.size());
  EXPECT_EQ(pdf.compare(0, signedPdf.size(), signedPdf), 0);
  const std::string tail = pdf.substr(signedPdf.size());
  EXPECT_NE(tail.find("/Type /DocTimeStamp"), std::string::npos);
  EXPECT_NE(tail.find("/Filter /Adobe.PPKLite"), std::string::npos);
  EXPECT_NE(tail.find("/SubFilter /ETSI.RFC3161"), std::string::npos);
  std::string value, covered;
  Split(pdf, value, covered);
  EXPECT_EQ(value, client.LastToken);
  ExpectTokenOver(value, covered);
  const std::string path = dir_.Write("stamped.pdf", pdf);
  // This pdfsig cannot validate RFC 3161 stamps itself: it must find it
  // over the whole file, signed by the authority, with the signature intact.
  const std::string report = Pdfsig(path);
  EXPECT_EQ(Count(report, "Signature is Valid"), 1) << report;
  EXPECT_NE(report.find("Signer Certificate Common Name: Tavra Test TSA"), std::string::npos);
  EXPECT_EQ(Count(report, "Total document signed"), 1) << report;
  const auto check = RunCapturing("qpdf --check " + Quote(path));
  EXPECT_EQ(check.status, 0) << check.out;

  // Read back, the stamp verifies over its ranges and names its authority.
  TOvMemoryStream again(pdf);
  TOvPDFDocument reread;
  reread.Open(again);
  ASSERT_EQ(reread.SignatureCount(), 2u);
  auto* read = dynamic_cast<TOvPDFDocTimeStampHandler*>(reread.Signatures(1)->Handler());
  ASSERT_NE(read, nullptr);
  TOvHashFunction sha(ALG_SHA256);
  sha.Update(covered);
  EXPECT_TRUE(read->VerifyDigest(sha.Finish())) << read->Problem();
  ASSERT_NE(read->AuthorityCertificate(), nullptr);
  EXPECT_EQ(read->AuthorityCertificate()->SubjectName().CommonName, "Tavra Test TSA");
  EXPECT_FALSE(read->VerifyDigest(std::string(32, 'x')));

  // A failing authority leaves the document as it was.
  LocalTSPClient failing(tsa);
  failing.FailAfter = 0;
  stamper.SetTSPClient(&failing);
  TOvMemoryStream untouched(signedPdf);
  TOvPDFDocument other;
  other.Open(untouched);
  AddDocTimeStamp(other, stamper);
  try {
    other.Close(true);
    ADD_FAILURE() << "the stamp was written";
  } catch (const ECorvaneError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot be reached"), std::string::npos) << e.what();
  }
  EXPECT_EQ(untouched.Data(), signedPdf);
}

}  // namespace
