// `tavrapdf sign` with keys that are not plain RSA PKCS#1 v1.5: EC P-256 and
// P-384 keys in the database and on a SoftHSM token (ECDSA), and an RSA key
// with --pss (RSASSA-PSS). Each output is judged by pdfsig, openssl and our
// own verify command. The signers are made fresh in a scratch folder by
// tests/fixtures/make-key-kinds.sh.
#include <gtest/gtest.h>

#include <regex>

#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"

using namespace pdftest;
using namespace tavra_test;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

// The signers of make-key-kinds.sh, made once per test program.
const std::string& KindsDir() {
  static ScratchDir dir;
  static const std::string made = [] {
    int status = -1;
    const std::string out =
        RunCommand(Quote(std::string(TAVRA_SOURCE_DIR) + "/tests/fixtures/make-key-kinds.sh") +
                       " " + Quote(dir.Path()) + " 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << out;
    return status == 0 ? dir.Path() : std::string();
  }();
  return made;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The signature value (DER, without the zero padding) and the bytes its
// /ByteRange covers.
bool SignatureOf(const std::string& pdf, std::string& der, std::string& covered) {
  std::smatch m;
  const size_t at = pdf.rfind("/ByteRange");
  if (at == std::string::npos) return false;
  const std::string tail = pdf.substr(at, 120);
  if (!std::regex_search(tail, m, std::regex(R"(\[\s*(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*\])")))
    return false;
  const size_t b = std::stoull(m[2]), c = std::stoull(m[3]), d = std::stoull(m[4]);
  if (c < b + 2 || c + d > pdf.size()) return false;
  covered = pdf.substr(0, b) + pdf.substr(c, d);
  std::string bytes;
  const std::string hex = pdf.substr(b + 1, c - b - 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  if (bytes.size() < 4 || static_cast<uint8_t>(bytes[1]) != 0x82) return false;
  der =
      bytes.substr(0, 4 + ((static_cast<uint8_t>(bytes[2]) << 8) | static_cast<uint8_t>(bytes[3])));
  return true;
}

// Signs the one-page fixture with the signer SERIAL and runs every checker.
// printedAlgorithm must appear in openssl's print of the SignerInfo.
void ExpectSignsAndCheckersAccept(const std::string& serial, const std::string& extra,
                                  const std::vector<std::string>& printedAlgorithm) {
  SCOPED_TRACE("signer " + serial + extra);
  const std::string& kinds = KindsDir();
  ASSERT_FALSE(kinds.empty());
  ScratchDir dir;
  const std::string input = OnePage().Build();
  WriteFile(dir / "in.pdf", input);
  int status = -1;
  const std::string env =
      ". " + Quote(kinds + "/env.sh") + " && TAVRA_PIN=4321 TMPDIR=" + Quote(dir.Path()) + " ";
  RunCommand(env + kTool + " sign " + Quote(dir / "in.pdf") + " " + Quote(dir / "out.pdf") +
                 " --nssdb " + Quote(kinds + "/nssdb") + " --issuer 'Tavra Kinds CA' --serial " +
                 serial + extra + " 2>" + Quote(dir / "err"),
             &status);
  ASSERT_EQ(status, 0) << ReadFile(dir / "err");
  const std::string pdf = ReadFile(dir / "out.pdf");
  ASSERT_GT(pdf.size(), input.size());
  EXPECT_EQ(pdf.compare(0, input.size(), input), 0) << "the input is not the output's prefix";

  const std::string report = RunCommand("pdfsig -nssdir " + Quote("sql:" + kinds + "/checkdb") +
                                        " " + Quote(dir / "out.pdf") + " 2>&1");
  EXPECT_EQ(Count(report, "Signature Validation: Signature is Valid."), 1) << report;
  EXPECT_NE(report.find("Total document signed"), std::string::npos) << report;

  std::string der, covered;
  ASSERT_TRUE(SignatureOf(pdf, der, covered));
  WriteFile(dir / "sig.der", der);
  WriteFile(dir / "signed.bin", covered);
  const std::string cms =
      RunCommand("openssl cms -verify -binary -inform DER -in " + Quote(dir / "sig.der") +
                     " -content " + Quote(dir / "signed.bin") + " -CAfile " +
                     Quote(kinds + "/ca.crt") + " -purpose any -out /dev/null 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << cms;
  const std::string printed =
      RunCommand("openssl cms -cmsout -print -inform DER -in " + Quote(dir / "sig.der") + " 2>&1");
  const size_t signerInfo = printed.find("signatureAlgorithm:", printed.find("signerInfos:"));
  ASSERT_NE(signerInfo, std::string::npos) << printed;
  size_t at = signerInfo;
  for (const std::string& line : printedAlgorithm) {
    at = printed.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << printed.substr(signerInfo, 1200);
    if (at == std::string::npos) break;
  }

  std::string qpdf;
  EXPECT_TRUE(QpdfCheck(dir, pdf, &qpdf)) << qpdf;

  const std::string verify = RunCommand(env + kTool + " verify " + Quote(dir / "out.pdf") +
                                            " --nssdb " + Quote(kinds + "/nssdb") + " 2>&1",
                                        &status);
  EXPECT_EQ(status, 0) << verify;
  EXPECT_EQ(Count(verify, "valid: yes"), 1) << verify;
}

const std::vector<std::string> kEcdsaSha256 = {"algorithm: ecdsa-with-SHA256 (1.2.840.10045.4.3.2)",
                                               "parameter: <ABSENT>"};

TEST(SignKeyKinds, DatabaseEcKeysAndPssSignAndCheckersAccept) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("openssl");
  TAVRA_REQUIRE_TOOL("qpdf");
  ExpectSignsAndCheckersAccept("2001", "", kEcdsaSha256);
  ExpectSignsAndCheckersAccept("2002", "", kEcdsaSha256);
  // RFC 4055: SHA-256, MGF1 with SHA-256, a salt of 32 octets, the trailer 1
  // left as its default.
  ExpectSignsAndCheckersAccept("2003", " --pss",
                               {"algorithm: rsassaPss (1.2.840.113549.1.1.10)", ":sha256", ":mgf1",
                                ":sha256", "cont [ 2 ]", "INTEGER           :20"});
}

TEST(SignKeyKinds, TokenEcKeysSignWithThePin) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("openssl");
  TAVRA_REQUIRE_TOOL("qpdf");
  ExpectSignsAndCheckersAccept("2011", "", kEcdsaSha256);
  ExpectSignsAndCheckersAccept("2012", "", kEcdsaSha256);
}

// Without --pss the RSA key signs PKCS#1 v1.5, as always.
TEST(SignKeyKinds, RsaWithoutPssStaysPkcs1) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("openssl");
  TAVRA_REQUIRE_TOOL("qpdf");
  ExpectSignsAndCheckersAccept(
      "2003", "", {"algorithm: rsaEncryption (1.2.840.113549.1.1.1)", "parameter: NULL"});
}

}  // namespace
