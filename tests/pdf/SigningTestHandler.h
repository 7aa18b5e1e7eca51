// A signing handler for document tests that owes nothing to our PKCS#7 code:
// it collects the bytes the document hashes and has openssl make a detached
// CMS signature over them with a fixture certificate. Plus the checks that
// independent tools make of a signed file.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "tests/fixtures/StoreFixture.h"
#include "tests/support/TestSupport.h"
#include "toolkit/crypto/CvSHA2.h"
#include "toolkit/pdf/CvPDF.h"

namespace pdftest {

class TSigningTestHandler : public corvane::TOvPDFSecurityHandler {
 public:
  // signer: a fixture certificate name (rsa2048, czech, ...).
  explicit TSigningTestHandler(std::string signer = "rsa2048") : signer_(std::move(signer)) {}

  static const corvane::TOvPDFSecurityHandlerClass& Class() {
    static const corvane::TOvPDFSecurityHandlerClass cls = [] {
      corvane::TOvPDFSecurityHandlerClass c;
      c.HandlerName = "Adobe.PPKMS";
      c.CanSign = true;
      c.IsSigningSubFilter = [](std::string_view s) { return s == "adbe.pkcs7.detached"; };
      c.IsEncryptionSubFilter = [](std::string_view) { return false; };
      c.Create = [] { return std::make_unique<TSigningTestHandler>(); };
      return c;
    }();
    return cls;
  }
  const corvane::TOvPDFSecurityHandlerClass& HandlerClass() const override { return Class(); }

  void SaveSignatureInfo(corvane::TOvPDFDictionary* dict) override {
    corvane::AddNameEntry(dict, "SubFilter", "adbe.pkcs7.detached");
  }
  void HashInit() override { data_.clear(); }
  bool HashUpdate(std::string_view bytes) override {
    if (failHash) return false;
    data_.append(bytes);
    return true;
  }
  corvane::ByteString HashFinal() override { return corvane::HashSHA256(data_); }
  corvane::ByteString SignDigest(std::string_view) override {
    if (fixedSignature) return *fixedSignature;
    const tavra_fixture::Store& store = tavra_fixture::Store::Get();
    const std::string in = dir_.Write("data.bin", data_);
    const std::string out = dir_ / "sig.der";
    int status = -1;
    tavra_test::RunCommand(
        "openssl cms -sign -binary -md sha256 -outform DER -in " + tavra_test::Quote(in) +
            " -signer " + tavra_test::Quote(store.File(signer_ + ".crt")) + " -inkey " +
            tavra_test::Quote(store.File(signer_ + ".key")) + " -certfile " +
            tavra_test::Quote(store.File("ca.crt")) + " -out " + tavra_test::Quote(out) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << "openssl cms -sign failed";
    return tavra_test::ReadFile(out);
  }
  int64_t EstimateSignatureSize() override { return estimate; }
  bool GetSignerInfo(std::string& name, std::string& subjectLines,
                     std::string& keyDescription) override {
    name = signerName;
    subjectLines = "O=Tavra Test\r\nC=CZ";
    keyDescription = "RSA 2048 bits";
    return true;
  }

  const std::string& HashedBytes() const { return data_; }

  std::string signerName = "Jan Čáp";
  int64_t estimate = 8192;
  bool failHash = false;
  std::optional<std::string> fixedSignature;

 private:
  std::string signer_;
  std::string data_;
  tavra_test::ScratchDir dir_;
};

// An NSS database for pdfsig that trusts the fixture CA and holds the
// rsa2048 key. Made once per process: the fixture's own database also
// registers the SoftHSM token, which pdfsig cannot load.
inline const std::string& PdfsigDatabase() {
  static tavra_test::ScratchDir dir;
  static const std::string db = [] {
    const tavra_fixture::Store& store = tavra_fixture::Store::Get();
    EXPECT_TRUE(store.Ok()) << store.Error();
    EXPECT_TRUE(tavra_test::ToolAvailable("certutil"));
    EXPECT_TRUE(tavra_test::ToolAvailable("pk12util"));
    const std::string path = "sql:" + dir.Path();
    int status = -1;
    const std::string log = tavra_test::RunCommand(
        "certutil -N -d " + tavra_test::Quote(path) + " --empty-password && certutil -A -d " +
            tavra_test::Quote(path) + " -n 'Tavra Test CA' -t CT,C,C -i " +
            tavra_test::Quote(store.File("ca.crt")) + " && pk12util -i " +
            tavra_test::Quote(store.File("rsa2048.p12")) + " -d " + tavra_test::Quote(path) +
            " -W tavra 2>&1",
        &status);
    EXPECT_EQ(status, 0) << log;
    return path;
  }();
  return db;
}

// pdfsig's report of a file.
inline std::string Pdfsig(const std::string& path) {
  EXPECT_TRUE(tavra_test::ToolAvailable("pdfsig"));
  return tavra_test::RunCommand("pdfsig -nssdir " + tavra_test::Quote(PdfsigDatabase()) + " " +
                                tavra_test::Quote(path) + " 2>&1");
}

inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The signed file passes every independent check: each of its signatures
// valid, the last covering the whole file, qpdf finding nothing wrong, and
// the input unchanged at its start.
inline void ExpectSignedCleanly(const std::string& input, const std::string& path, int signatures) {
  const std::string output = tavra_test::ReadFile(path);
  ASSERT_GT(output.size(), input.size());
  EXPECT_EQ(output.compare(0, input.size(), input), 0) << "the input is not a prefix";
  // openssl accepts the newest /Contents over its byte ranges.
  const size_t range = output.rfind("/ByteRange [");
  ASSERT_NE(range, std::string::npos);
  long long r[4] = {};
  ASSERT_EQ(std::sscanf(output.c_str() + range, "/ByteRange [%lld %lld %lld %lld]", &r[0], &r[1],
                        &r[2], &r[3]),
            4);
  EXPECT_EQ(r[2] + r[3], static_cast<long long>(output.size()));
  std::string der;
  for (long long i = r[1] + 1; i + 1 < r[2] - 1; i += 2) {
    der += static_cast<char>(std::stoi(output.substr(static_cast<size_t>(i), 2), nullptr, 16));
  }
  // The value is padded with zeros; openssl gets the DER element only.
  ASSERT_GT(der.size(), 4u);
  size_t length = static_cast<uint8_t>(der[1]);
  size_t header = 2;
  if (length & 0x80) {
    header += length & 0x7F;
    length = 0;
    for (size_t i = 2; i < header; ++i) length = length << 8 | static_cast<uint8_t>(der[i]);
  }
  ASSERT_LE(header + length, der.size());
  tavra_test::ScratchDir dir;
  const std::string sig = dir.Write("sig.der", der.substr(0, header + length));
  const std::string data = dir.Write(
      "data.bin", output.substr(0, static_cast<size_t>(r[1])) +
                      output.substr(static_cast<size_t>(r[2]), static_cast<size_t>(r[3])));
  int verified = -1;
  const std::string verifyLog = tavra_test::RunCommand(
      "openssl cms -verify -binary -inform DER -in " + tavra_test::Quote(sig) + " -content " +
          tavra_test::Quote(data) + " -CAfile " +
          tavra_test::Quote(tavra_fixture::Store::Get().File("ca.crt")) +
          " -purpose any -out /dev/null 2>&1",
      &verified);
  EXPECT_EQ(verified, 0) << verifyLog;
  const std::string report = Pdfsig(path);
  EXPECT_EQ(Count(report, "Signature is Valid"), signatures) << report;
  EXPECT_EQ(Count(report, "Total document signed"), 1) << report;
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  int status = -1;
  const std::string check =
      tavra_test::RunCommand("qpdf --check " + tavra_test::Quote(path) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << check;
  EXPECT_NE(check.find("No syntax or stream encoding errors"), std::string::npos) << check;
}

}  // namespace pdftest
