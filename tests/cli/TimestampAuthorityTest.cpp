// `tavrapdf sign --tsa` and `tavrapdf timestamp` against a time-stamping
// authority on 127.0.0.1 (tests/fixtures/tsa_server.py), proper and broken.
// Outputs are judged by pdfsig, openssl cms/ts, qpdf and our verify command.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/fixtures/LoopbackTSA.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace tavra_test;
using tavra_fixture::LoopbackTSA;
using tavra_fixture::Store;

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

// The authorities' CA and certificates, made once for every mode.
const std::string& AuthorityDir() {
  static ScratchDir dir;
  return dir.Path();
}

// A database for poppler: the fixture CA trusted, no security modules.
const std::string& PopplerDb() {
  static ScratchDir dir;
  static const std::string db = [] {
    const std::string path = dir.MakeDir("nssdb");
    int status = -1;
    const std::string out =
        RunCommand("certutil -N -d " + Quote("sql:" + path) +
                       " --empty-password && certutil -A -d " + Quote("sql:" + path) +
                       " -n ca -t CT,C,C -i " + Quote(Store::Get().File("ca.crt")) + " 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << out;
    return path;
  }();
  return db;
}

// Runs tavrapdf with the fixture store's environment, loopback without a proxy
// and a short bound on every timestamp request.
TCommandResult Tavrapdf(const ScratchDir& dir, const std::string& args,
                        const std::string& env = {}) {
  return RunCapturing(
      ". " + Quote(Store::Get().File("env.sh")) + " && TMPDIR=" + Quote(dir.Path()) +
      " no_proxy='*' NO_PROXY='*' TAVRA_TSA_TIMEOUT=3 " + env + " " + kTool + " " + args);
}

std::string SignArgs(const std::string& in, const std::string& out) {
  return "sign " + Quote(in) + " " + Quote(out) + " --nssdb " + Quote(Store::Get().Db()) +
         " --issuer 'Tavra Test CA' --serial 1001 --type invisible";
}

// The last signature's value (DER without padding) and the bytes its byte range covers.
bool LastSignature(const std::string& pdf, std::string& der, std::string& covered) {
  const size_t at = pdf.rfind("/ByteRange");
  if (at == std::string::npos) return false;
  std::smatch m;
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

std::string BytesOfHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// openssl's own reading of a SignedData: the SignerInfo's signature value and
// the token of its signature-time-stamp attribute, written beside sig.der.
void ExtractTimestamp(const ScratchDir& dir, std::string& signatureValue, std::string& token) {
  const std::string parsed =
      RunCommand("openssl asn1parse -inform DER -in " + Quote(dir / "sig.der") + " 2>&1");
  const size_t oid = parsed.find(":id-smime-aa-timeStampToken");
  ASSERT_NE(oid, std::string::npos) << parsed.substr(0, 2000);
  // The OCTET STRING just before the unsigned attributes is the signature value.
  const size_t value = parsed.rfind("OCTET STRING", oid);
  ASSERT_NE(value, std::string::npos);
  const size_t dump = parsed.find("[HEX DUMP]:", value);
  ASSERT_LT(dump, oid);
  signatureValue = BytesOfHex(parsed.substr(dump + 11, parsed.find('\n', dump) - dump - 11));
  // The attribute's SET holds the token, a SEQUENCE: its offset starts its line.
  std::smatch m;
  const std::string after = parsed.substr(oid);
  ASSERT_TRUE(std::regex_search(
      after, m, std::regex(R"(\n\s*(\d+):d=\d+\s+hl=\d+\s+l=\s*\d+\s+cons: SET\s*\n\s*(\d+):)")))
      << after.substr(0, 400);
  RunCommand("openssl asn1parse -inform DER -in " + Quote(dir / "sig.der") + " -strparse " +
             m[2].str() + " -noout -out " + Quote(dir / "token.der"));
  token = ReadFile(dir / "token.der");
}

TCommandResult TsVerify(const ScratchDir& dir, const std::string& data, const std::string& token) {
  WriteFile(dir / "stamped.bin", data);
  WriteFile(dir / "check-token.der", token);
  return RunCapturing("openssl ts -verify -data " + Quote(dir / "stamped.bin") + " -in " +
                      Quote(dir / "check-token.der") + " -token_in -CAfile " +
                      Quote(AuthorityDir() + "/ca.crt") + " 2>&1");
}

// Files in the folder other than the named ones (staging leftovers).
std::vector<std::string> OtherFiles(const ScratchDir& dir, const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

TEST(TimestampAuthority, StampedSignaturesPassEveryChecker) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("openssl");
  LoopbackTSA tsa(AuthorityDir(), "ok");
  ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
  const struct {
    const char* args;
    const char* subfilter;
  } kinds[] = {{" --level B-T", "ETSI.CAdES.detached"}, {"", "adbe.pkcs7.detached"}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.subfilter);
    ScratchDir dir;
    const std::string input = pdftest::OnePage().Build();
    const std::string in = dir.Write("in.pdf", input);
    const TCommandResult run =
        Tavrapdf(dir, SignArgs(in, dir / "out.pdf") + kind.args + " --tsa " + tsa.URL());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string pdf = ReadFile(dir / "out.pdf");
    EXPECT_EQ(pdf.compare(0, input.size(), input), 0) << "the input is not the output's prefix";
    EXPECT_EQ(ReadFile(in), input);

    const std::string report = RunCommand("pdfsig -nssdir " + Quote("sql:" + PopplerDb()) + " " +
                                          Quote(dir / "out.pdf") + " 2>&1");
    EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos)
        << report;
    EXPECT_NE(report.find("Total document signed"), std::string::npos) << report;
    EXPECT_NE(report.find(std::string("Signature Type: ") + kind.subfilter), std::string::npos)
        << report;

    std::string der, covered;
    ASSERT_TRUE(LastSignature(pdf, der, covered));
    dir.Write("sig.der", der);
    dir.Write("signed.bin", covered);
    const TCommandResult cms =
        RunCapturing("openssl cms -verify -binary -inform DER -in " + Quote(dir / "sig.der") +
                     " -content " + Quote(dir / "signed.bin") + " -CAfile " +
                     Quote(Store::Get().File("ca.crt")) + " -purpose any -out /dev/null 2>&1");
    EXPECT_EQ(cms.status, 0) << cms.out;

    std::string signatureValue, token;
    ExtractTimestamp(dir, signatureValue, token);
    ASSERT_FALSE(token.empty());
    const TCommandResult ts = TsVerify(dir, signatureValue, token);
    EXPECT_EQ(ts.status, 0) << ts.out;
    EXPECT_NE(ts.out.find("Verification: OK"), std::string::npos) << ts.out;

    std::string qpdf;
    EXPECT_TRUE(pdftest::QpdfCheck(dir, pdf, &qpdf)) << qpdf;

    const TCommandResult verify = Tavrapdf(
        dir, "verify " + Quote(dir / "out.pdf") + " --trust " + Quote(Store::Get().File("ca.crt")) +
                 " --trust " + Quote(AuthorityDir() + "/ca.crt"));
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    EXPECT_TRUE(std::regex_search(verify.out, std::regex("  timestamp: .* UTC by .*, valid\n")))
        << verify.out;
    if (std::string(kind.subfilter) == "ETSI.CAdES.detached") {
      EXPECT_NE(verify.out.find("  level: B-T\n"), std::string::npos) << verify.out;
    }
  }
}

// The batch signs each file with a token of its own.
TEST(TimestampAuthority, BatchStampsEveryFile) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  LoopbackTSA tsa(AuthorityDir(), "ok");
  ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
  ScratchDir dir;
  const std::string a = dir.Write("a.pdf", pdftest::OnePage().Build());
  const std::string b = dir.Write("b.pdf", pdftest::OnePage().Build());
  const std::string out = dir.MakeDir("out");
  const TCommandResult run =
      Tavrapdf(dir, "sign " + Quote(a) + " " + Quote(b) + " --out-dir " + Quote(out) +
                        " --jobs 2 --nssdb " + Quote(Store::Get().Db()) +
                        " --issuer 'Tavra Test CA' --serial 1001 --level B-T --tsa " + tsa.URL());
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const char* name : {"a-signed.pdf", "b-signed.pdf"}) {
    SCOPED_TRACE(name);
    std::string der, covered;
    ASSERT_TRUE(LastSignature(ReadFile(out + "/" + name), der, covered));
    ScratchDir work;
    work.Write("sig.der", der);
    std::string signatureValue, token;
    ExtractTimestamp(work, signatureValue, token);
    const TCommandResult ts = TsVerify(work, signatureValue, token);
    EXPECT_EQ(ts.status, 0) << ts.out;
  }
}

// Every broken authority ends the run with status 1, names the cause, and
// leaves nothing in the output's folder, for sign and for timestamp alike.
TEST(TimestampAuthority, BrokenAuthoritiesWriteNothing) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  const struct {
    const char* mode;
    const char* cause;
  } cases[] = {
      {"reject", "timestamp request rejected: Message digest algorithm is not supported."},
      {"wrong-imprint", "timestamp reply has a wrong message imprint"},
      {"wrong-nonce", "timestamp reply has a wrong nonce"},
      {"garbage", "timestamp reply is malformed"},
      {"auth", "timestamp server answered HTTP 401 (it asks for a user name and password)"},
      {"hang", "timestamp server did not answer within 3 s"},
  };
  const std::string input = pdftest::OnePage().Build();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    LoopbackTSA tsa(AuthorityDir(), c.mode, {"--user", "signer", "--password", "s3cret"});
    ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
    ScratchDir dir;
    const std::string in = dir.Write("in.pdf", input);
    const TCommandResult sign =
        Tavrapdf(dir, SignArgs(in, dir / "out.pdf") + " --level B-T --tsa " + tsa.URL());
    EXPECT_EQ(sign.status, 1) << sign.err;
    EXPECT_NE(sign.err.find(c.cause), std::string::npos) << sign.err;
    if (std::string_view(c.mode) == "hang") continue;  // one wait is enough
    const TCommandResult stamp = Tavrapdf(
        dir, "timestamp " + Quote(in) + " " + Quote(dir / "out.pdf") + " --tsa " + tsa.URL());
    EXPECT_EQ(stamp.status, 1) << stamp.err;
    EXPECT_NE(stamp.err.find(c.cause), std::string::npos) << stamp.err;
    EXPECT_EQ(OtherFiles(dir, {"in.pdf"}), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(in), input);
  }
}

TEST(TimestampAuthority, BasicAuthenticationWithThePasswordOfTheEnvironment) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  LoopbackTSA tsa(AuthorityDir(), "auth", {"--user", "signer", "--password", "s3cret"});
  ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
  ScratchDir dir;
  const std::string in = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string args =
      SignArgs(in, dir / "out.pdf") + " --level B-T --tsa " + tsa.URL() + " --tsa-user signer";
  const TCommandResult refused = Tavrapdf(dir, args, "TAVRA_TSA_PASSWORD=wrong");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("user name or password refused"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
  const TCommandResult run = Tavrapdf(dir, args, "TAVRA_TSA_PASSWORD=s3cret");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "out.pdf"));

  // The same from the settings file beside the program.
  const std::string app = dir.MakeDir("app") + "/tavrapdf";
  std::filesystem::copy_file(kTool, app);
  dir.Write("app/tavrapdfsg.ini", "[options]\nlevel=B-T\ntsa=" + tsa.URL() + "\ntsauser=signer\n");
  const TCommandResult stored =
      RunCapturing(". " + Quote(Store::Get().File("env.sh")) + " && TMPDIR=" + Quote(dir.Path()) +
                   " no_proxy='*' NO_PROXY='*' TAVRA_TSA_PASSWORD=s3cret " + app + " " +
                   SignArgs(in, dir / "stored.pdf"));
  EXPECT_EQ(stored.status, 0) << stored.err;
  const std::string pdf = ReadFile(dir / "stored.pdf");
  EXPECT_NE(pdf.find("/SubFilter /ETSI.CAdES.detached"), std::string::npos);
  std::string der, covered;
  ASSERT_TRUE(LastSignature(pdf, der, covered));
  EXPECT_NE(der.find("\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0E"), std::string::npos)
      << "no signature-time-stamp attribute";
}

// A document timestamp over a signed file: its own update, the token over
// the byte ranges, the earlier signature still valid.
TEST(TimestampAuthority, DocumentTimestampOverASignedFile) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("openssl");
  LoopbackTSA tsa(AuthorityDir(), "ok");
  ASSERT_GT(tsa.Port(), 0) << "the loopback authority did not start";
  ScratchDir dir;
  const std::string in = dir.Write("in.pdf", pdftest::OnePage().Build());
  ASSERT_EQ(Tavrapdf(dir, SignArgs(in, dir / "signed.pdf")).status, 0);
  const std::string signedPdf = ReadFile(dir / "signed.pdf");
  const TCommandResult run = Tavrapdf(dir, "timestamp " + Quote(dir / "signed.pdf") + " " +
                                               Quote(dir / "out.pdf") + " --tsa " + tsa.URL());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "signed.pdf"), signedPdf);
  const std::string pdf = ReadFile(dir / "out.pdf");
  EXPECT_EQ(pdf.compare(0, signedPdf.size(), signedPdf), 0);
  const std::string update = pdf.substr(signedPdf.size());
  EXPECT_NE(update.find("/Type /DocTimeStamp"), std::string::npos);
  EXPECT_NE(update.find("/SubFilter /ETSI.RFC3161"), std::string::npos);

  std::string token, covered;
  ASSERT_TRUE(LastSignature(pdf, token, covered));
  const TCommandResult ts = TsVerify(dir, covered, token);
  EXPECT_EQ(ts.status, 0) << ts.out;
  EXPECT_NE(ts.out.find("Verification: OK"), std::string::npos) << ts.out;

  std::string qpdf;
  EXPECT_TRUE(pdftest::QpdfCheck(dir, pdf, &qpdf)) << qpdf;
  const std::string report = RunCommand("pdfsig -nssdir " + Quote("sql:" + PopplerDb()) + " " +
                                        Quote(dir / "out.pdf") + " 2>&1");
  const size_t first = report.find("Signature #1:");
  const size_t second = report.find("Signature #2:");
  ASSERT_NE(second, std::string::npos) << report;
  EXPECT_NE(report.substr(first, second - first).find("Signature is Valid."), std::string::npos)
      << report;
  // poppler does not judge document timestamps; it names the authority.
  EXPECT_NE(report.find("Common Name: Tavra Test TSA", second), std::string::npos) << report;
  EXPECT_NE(report.find("Total document signed", second), std::string::npos) << report;

  const TCommandResult verify = Tavrapdf(dir, "verify " + Quote(dir / "out.pdf") + " --trust " +
                                                  Quote(Store::Get().File("ca.crt")) + " --trust " +
                                                  Quote(AuthorityDir() + "/ca.crt"));
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_NE(verify.out.find("  level: document timestamp\n"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("changed after signing: yes, allowed"), std::string::npos)
      << verify.out;
}

}  // namespace
