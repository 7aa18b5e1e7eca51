// The public-key handler's other signature formats and its refusals, judged
// by openssl and pdfsig. (The usual detached PKCS#7 path is covered end to
// end through `tavrapdf sign`.)
#include <gtest/gtest.h>

#include <regex>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"
#include "toolkit/common/CvConstants.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace {

using namespace corvane;
using namespace pdftest;
using tavra_fixture::Store;
using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::RunCommand;
using tavra_test::ScratchDir;
using tavra_test::WriteFile;

// The "Jan Čáp" certificate of the fixture store, with its key.
class PublicKeyHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
    platform::KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
    store_.SetSystemStores({"My"});
    for (int i = 0; i < store_.Count(); ++i)
      if (store_.Certificates(i)->SubjectName().CommonName == "Jan Čáp")
        signer_ = store_.Certificates(i);
    ASSERT_NE(signer_, nullptr);
  }

  // Signs a one-page file invisibly; error receives the failure, if any.
  std::string Sign(TOvPDFPublicKeySecurityHandler& handler, std::string* error = nullptr) {
    TOvMemoryStream stream(OnePage().Build());
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

  // /Contents (unpadded by its DER length) and the bytes /ByteRange covers.
  static void Split(const std::string& pdf, std::string& value, std::string& covered) {
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

  TOvWinCertStorage store_;
  TOvX509Certificate* signer_ = nullptr;
  ScratchDir dir_;
};

// adbe.x509.rsa_sha1: an OCTET STRING holding a PKCS#1 signature over the
// byte-range digest, and /Cert holding the certificate.
TEST_F(PublicKeyHandlerTest, RawRsaFormatVerifiesWithOpenssl) {
  TAVRA_REQUIRE_TOOL("openssl");
  TOvMemoryCertStorage storage;
  storage.Add(*signer_, true);
  TOvPDFPublicKeySecurityHandler handler;
  handler.SetSignatureKind(PDF_SIGNATURE_KIND_X509);
  handler.SetCertStorage(&storage);
  const std::string pdf = Sign(handler);
  ASSERT_FALSE(pdf.empty());
  EXPECT_NE(pdf.find("/SubFilter /adbe.x509.rsa_sha1"), std::string::npos);
  EXPECT_NE(pdf.find("/Cert <"), std::string::npos);
  std::string value, covered;
  Split(pdf, value, covered);
  ASSERT_EQ(value[0], '\x04');
  WriteFile(dir_ / "sig", value.substr(value.size() - 256));
  WriteFile(dir_ / "data", covered);
  int status = -1;
  const std::string out = RunCommand(
      "openssl x509 -in " + Quote(Store::Get().File("czech.crt")) + " -pubkey -noout > " +
          Quote(dir_ / "pub.pem") + " && openssl dgst -sha256 -verify " + Quote(dir_ / "pub.pem") +
          " -signature " + Quote(dir_ / "sig") + " " + Quote(dir_ / "data") + " 2>&1",
      &status);
  EXPECT_EQ(status, 0) << out;
}

// adbe.pkcs7.sha1: the message encapsulates the SHA-1 digest of the byte
// ranges, whatever the handler's hash algorithm.
TEST_F(PublicKeyHandlerTest, EncapsulatedFormatCarriesTheSha1Digest) {
  TAVRA_REQUIRE_TOOL("openssl");
  TOvMemoryCertStorage storage;
  storage.Add(*signer_, true);
  TOvPDFPublicKeySecurityHandler handler;
  handler.SetSignatureKind(PDF_SIGNATURE_KIND_PKCS7);
  handler.SetDetachedSignature(false);
  handler.SetCertStorage(&storage);
  const std::string pdf = Sign(handler);
  ASSERT_FALSE(pdf.empty());
  EXPECT_NE(pdf.find("/SubFilter /adbe.pkcs7.sha1"), std::string::npos);
  std::string value, covered;
  Split(pdf, value, covered);
  WriteFile(dir_ / "sig.der", value);
  WriteFile(dir_ / "data", covered);
  int status = -1;
  const std::string out =
      RunCommand("openssl cms -verify -inform DER -in " + Quote(dir_ / "sig.der") + " -CAfile " +
                     Quote(Store::Get().File("ca.crt")) + " -purpose any -out " +
                     Quote(dir_ / "content") + " 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(ReadFile(dir_ / "content"),
            RunCommand("openssl dgst -sha1 -binary " + Quote(dir_ / "data")));
}

// A storage whose certificate has no private key stops the save before any
// byte is written; so does a hash the format cannot carry.
TEST_F(PublicKeyHandlerTest, RefusesWithoutKeyOrWithAnUnsupportedHash) {
  TOvMemoryCertStorage keyless;
  keyless.Add(*signer_, false);
  TOvPDFPublicKeySecurityHandler handler;
  handler.SetSignatureKind(PDF_SIGNATURE_KIND_PKCS7);
  handler.SetCertStorage(&keyless);
  std::string error;
  EXPECT_TRUE(Sign(handler, &error).empty());
  EXPECT_EQ(error, "No signing certificate found");

  TOvMemoryCertStorage storage;
  storage.Add(*signer_, true);
  handler.SetCertStorage(&storage);
  handler.SetHashAlgorithm(ALG_SHA224);
  EXPECT_TRUE(Sign(handler, &error).empty());
  EXPECT_EQ(error, "Hash algorithm not supported");
}

// A reset forgets the last document's choice of hash: the handler is bound
// again with SHA-256, never with SHA-1.
TEST(PublicKeyHandler, ResetReturnsToSha256) {
  TOvPDFPublicKeySecurityHandler handler;
  handler.SetHashAlgorithm(ALG_SHA1);
  handler.ResetHandler();
  EXPECT_EQ(handler.HashAlgorithm(), ALG_SHA256);
}

}  // namespace
