// `tavrapdf sign --level B-LT|B-LTA` and `tavrapdf ltv` against a PKI of the
// test's own on 127.0.0.1: the outputs judged by pdfsig, qpdf and openssl,
// the store read back with qpdf, and the failures that must write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/fixtures/LoopbackPKI.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace tavra_test;
using tavra_fixture::LoopbackPKITest;

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

class LongTerm : public LoopbackPKITest {
 protected:
  void SetUp() override {
    LoopbackPKITest::SetUp();
    if (HasFatalFailure()) return;
    db_ = PKI().MakeStore(dir_ / "nssdb");
    WriteFile(dir_ / "in.pdf", pdftest::OnePage().Build());
  }

  TCommandResult Tavrapdf(const std::string& args) const {
    return RunCapturing("HOME=" + Quote(dir_.Path()) + " TMPDIR=" + Quote(dir_.Path()) +
                        " TAVRA_PIN= " + kTool + " " + args);
  }
  // sign IN OUT with one of the PKI's signers (serials 2001, 2002, ...).
  TCommandResult Sign(const std::string& in, const std::string& out, const std::string& serial,
                      const std::string& extra) const {
    return Tavrapdf("sign " + Quote(in) + " " + Quote(out) + " --nssdb " + Quote(db_) +
                    " --issuer 'Tavra LTV Intermediate' --serial " + serial + " --type invisible " +
                    extra);
  }
  std::string Tsa() const { return " --tsa " + Quote(PKI().TSAURL()); }

  // pdfsig over the file with the test's database: every signature valid.
  // This pdfsig cannot check document timestamps ("Signature Type: unknown"):
  // openssl ts -verify judges each of their tokens over its byte ranges.
  void ExpectSignaturesValid(const std::string& file, int signatures, int stamps) const {
    const std::string out =
        RunCommand("pdfsig -nssdir " + Quote("sql:" + db_) + " " + Quote(file) + " 2>&1");
    int valid = 0, stamped = 0;
    for (size_t at = out.find("Signature is Valid."); at != std::string::npos;
         at = out.find("Signature is Valid.", at + 1))
      ++valid;
    EXPECT_EQ(valid, signatures) << out;
    const std::string pdf = ReadFile(file);
    for (size_t at = out.find("Signature Type: unknown"); at != std::string::npos;
         at = out.find("Signature Type: unknown", at + 1)) {
      long long a = 0, b = 0, c = 0, d = 0;
      const size_t ranges = out.find("Signed Ranges:", at);
      ASSERT_NE(ranges, std::string::npos) << out;
      ASSERT_EQ(std::sscanf(out.c_str() + ranges, "Signed Ranges: [%lld - %lld], [%lld - %lld]", &a,
                            &b, &c, &d),
                4)
          << out;
      ASSERT_TRUE(a == 0 && b < c && d <= static_cast<long long>(pdf.size()));
      const std::string hex = pdf.substr(b + 1, c - b - 2);
      std::string token;
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        token.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      // The DER element without the zero padding after it.
      const auto byte = [&token](size_t i) { return static_cast<unsigned char>(token[i]); };
      ASSERT_TRUE(token.size() > 4 && byte(0) == 0x30 && byte(1) == 0x82);
      token.resize(4 + (size_t{byte(2)} << 8 | byte(3)));
      WriteFile(dir_ / "token.der", token);
      WriteFile(dir_ / "stamped.bin", pdf.substr(0, b) + pdf.substr(c, d - c));
      const std::string verified =
          RunCommand("openssl ts -verify -token_in -in " + Quote(dir_ / "token.der") + " -data " +
                     Quote(dir_ / "stamped.bin") + " -CAfile " + Quote(PKI().Chain()) + " 2>&1");
      EXPECT_NE(verified.find("Verification: OK"), std::string::npos) << verified;
      ++stamped;
    }
    EXPECT_EQ(stamped, stamps) << out;
  }

  // The streams of the document security store, decoded, by array
  // ("Certs", "OCSPs", "CRLs"), and the number of /VRI entries ("VRI").
  std::map<std::string, std::vector<std::string>> ReadStore(const std::string& file) const {
    const std::string streams = dir_ / "streams";
    std::filesystem::remove_all(streams);
    std::filesystem::create_directories(streams);
    const std::string script =
        "import json,sys\n"
        "d=json.load(open(sys.argv[1]))['qpdf'][1]\n"
        "o=lambda v: d['obj:'+v]['value'] if isinstance(v,str) else v\n"
        "dss=o(o(d['trailer']['value']['/Root'])['/DSS'])\n"
        "for k in ('/Certs','/OCSPs','/CRLs'):\n"
        "  for r in o(dss.get(k,[])): print(k[1:], d['obj:'+r]['stream']['datafile'])\n"
        "print('VRI', len(o(dss.get('/VRI',{}))))\n";
    WriteFile(dir_ / "dss.py", script);
    int status = -1;
    RunCommand("qpdf --json=2 --json-stream-data=file --json-stream-prefix=" +
                   Quote(streams + "/s") + " " + Quote(file) + " " + Quote(dir_ / "dss.json"),
               &status);
    EXPECT_EQ(status, 0) << "qpdf --json failed";
    const std::string listed =
        RunCommand("python3 " + Quote(dir_ / "dss.py") + " " + Quote(dir_ / "dss.json"), &status);
    EXPECT_EQ(status, 0) << listed;
    std::map<std::string, std::vector<std::string>> store;
    std::istringstream lines(listed);
    std::string key, value;
    while (lines >> key >> value) store[key].push_back(key == "VRI" ? value : ReadFile(value));
    return store;
  }

  // The store holds the chain and, for each certificate but the root, an
  // OCSP response that openssl accepts as "good" or a CRL of its issuer.
  void ExpectStoreCovers(const std::string& file, const std::vector<std::string>& names) const {
    const auto store = ReadStore(file);
    const auto has = [&store](const std::string& array, const std::string& der) {
      const auto it = store.find(array);
      return it != store.end() &&
             std::find(it->second.begin(), it->second.end(), der) != it->second.end();
    };
    EXPECT_TRUE(has("Certs", PKI().Der("root")));
    const auto ocsps = store.count("OCSPs") ? store.at("OCSPs") : std::vector<std::string>{};
    for (const std::string& name : names) {
      EXPECT_TRUE(has("Certs", PKI().Der(name))) << name;
      const std::string issuer = tavra_fixture::LoopbackPKI::IssuerOf(name);
      bool answered = has("CRLs", PKI().CRL(issuer));
      for (size_t i = 0; i < ocsps.size() && !answered; ++i) {
        WriteFile(dir_ / "r.der", ocsps[i]);
        const std::string out =
            RunCommand("openssl ocsp -respin " + Quote(dir_ / "r.der") + " -issuer " +
                       Quote(PKI().Cert(issuer)) + " -cert " + Quote(PKI().Cert(name)) +
                       " -CAfile " + Quote(PKI().Chain()) + " 2>&1");
        answered = out.find("Response verify OK") != std::string::npos &&
                   out.find(": good") != std::string::npos;
      }
      EXPECT_TRUE(answered) << "no accepted OCSP response or CRL for " << name;
    }
  }

  void ExpectExtends(const std::string& in, const std::string& out) const {
    const std::string before = ReadFile(in), after = ReadFile(out);
    EXPECT_GT(after.size(), before.size());
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << out << " does not extend " << in;
    std::string qpdf;
    EXPECT_TRUE(pdftest::QpdfCheck(dir_, after, &qpdf)) << qpdf;
  }

  ScratchDir dir_;
  std::string db_;
};

TEST_F(LongTerm, BLTAndBLTASignaturesCarryTheirValidationData) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string in = dir_ / "in.pdf", lt = dir_ / "lt.pdf", lta = dir_ / "lta.pdf";
  const TCommandResult signedLT = Sign(in, lt, "2001", "--level B-LT" + Tsa());
  ASSERT_EQ(signedLT.status, 0) << signedLT.err;
  // A line for each certificate whose data was fetched: the signer's and the authority's.
  EXPECT_NE(signedLT.err.find("údaje o platnosti certifikátu CN=Tavra LTV Signer"),
            std::string::npos)
      << signedLT.err;
  ExpectExtends(in, lt);
  ExpectSignaturesValid(lt, 1, 0);
  ExpectStoreCovers(lt, {"signer", "intermediate", "tsa"});
  EXPECT_EQ(ReadStore(lt).at("VRI").front(), "1");

  const TCommandResult signedLTA = Sign(in, lta, "2001", "--level B-LTA" + Tsa());
  ASSERT_EQ(signedLTA.status, 0) << signedLTA.err;
  ExpectExtends(in, lta);
  ExpectSignaturesValid(lta, 1, 1);
  ExpectStoreCovers(lta, {"signer", "intermediate", "tsa"});

  // Renewal: fresh data for both signatures and a second document timestamp.
  const std::string renewed = dir_ / "renewed.pdf";
  const TCommandResult ltv =
      Tavrapdf("ltv " + Quote(lta) + " " + Quote(renewed) + " --nssdb " + Quote(db_) + Tsa());
  ASSERT_EQ(ltv.status, 0) << ltv.err;
  ExpectExtends(lta, renewed);
  ExpectSignaturesValid(renewed, 1, 2);
  EXPECT_EQ(ReadStore(renewed).at("VRI").front(), "2");

  // The store and the document timestamp are changes a certification allows.
  const std::string certified = dir_ / "certified.pdf";
  const TCommandResult certify = Tavrapdf(
      "sign " + Quote(in) + " " + Quote(certified) + " --nssdb " + Quote(db_) +
      " --issuer 'Tavra LTV Intermediate' --serial 2001 --type certify --level B-LTA" + Tsa());
  ASSERT_EQ(certify.status, 0) << certify.err;
  ExpectSignaturesValid(certified, 1, 1);
  const TCommandResult verify = Tavrapdf("verify " + Quote(certified) + " --nssdb " + Quote(db_));
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_EQ(verify.out.find("not allowed"), std::string::npos) << verify.out;

  // With every server stopped the embedded data alone decides.
  ASSERT_TRUE(PKI().SetMode("stopped"));
  for (const std::string& file : {lt, lta}) {
    const TCommandResult offline =
        Tavrapdf("verify " + Quote(file) + " --nssdb " + Quote(db_) + " --offline");
    EXPECT_NE(offline.out.find("  valid: yes\n  trusted: yes\n"), std::string::npos) << offline.out;
    EXPECT_NE(offline.out.find("  revocation: good (embedded OCSP)\n"), std::string::npos)
        << offline.out;
    EXPECT_NE(offline.out.find(file == lt ? "  level: B-LT\n" : "  level: B-LTA\n"),
              std::string::npos)
        << offline.out;
    if (file == lt) {
      EXPECT_EQ(offline.status, 0) << offline.out << offline.err;
    }
  }
  ASSERT_TRUE(PKI().SetMode("ok"));
}

TEST_F(LongTerm, LtvKeepsAForeignSignatureValid) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  const std::string in = dir_ / "in.pdf", bySig = dir_ / "by-pdfsig.pdf", out = dir_ / "ltv.pdf";
  int status = -1;
  const std::string made =
      RunCommand("pdfsig -add-signature -nssdir " + Quote("sql:" + db_) + " -nick signer " +
                     Quote(in) + " " + Quote(bySig) + " 2>&1",
                 &status);
  ASSERT_EQ(status, 0) << made;
  // The CMS of pdfsig carries the signer only: the intermediate comes from the database.
  const TCommandResult ltv =
      Tavrapdf("ltv " + Quote(bySig) + " " + Quote(out) + " --nssdb " + Quote(db_));
  ASSERT_EQ(ltv.status, 0) << ltv.err;
  ExpectExtends(bySig, out);
  ExpectSignaturesValid(out, 1, 0);
  ExpectStoreCovers(out, {"signer", "intermediate"});
}

// Each failure names its cause, exits 1 and leaves no output behind.
TEST_F(LongTerm, FailuresNameTheCauseAndWriteNothing) {
  const std::string in = dir_ / "in.pdf", bb = dir_ / "bb.pdf", no = dir_ / "no.pdf";
  ASSERT_EQ(Sign(in, bb, "2001", "--level B-B").status, 0);
  const auto expectRefused = [&](const TCommandResult& run, const std::string& cause) {
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(cause), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(no));
    for (const std::string& name : ListDir(dir_.Path()))
      EXPECT_EQ(name.find(".no.pdf"), std::string::npos) << "staging file left: " << name;
  };

  expectRefused(Sign(in, no, "2002", "--level B-LT" + Tsa()),
                "the signer's certificate CN=Tavra LTV Revoked Signer is revoked");

  ASSERT_TRUE(PKI().SetMode("ocsp-unauthorized,crl-bad-signature"));
  expectRefused(Sign(in, no, "2001", "--level B-LT" + Tsa()), "unauthorized");
  const TCommandResult badCRL =
      Tavrapdf("ltv " + Quote(bb) + " " + Quote(no) + " --nssdb " + Quote(db_));
  expectRefused(badCRL, "no revocation information for the signer's certificate");
  EXPECT_NE(badCRL.err.find("CRL"), std::string::npos) << badCRL.err;

  ASSERT_TRUE(PKI().SetMode("stopped"));
  expectRefused(Tavrapdf("ltv " + Quote(bb) + " " + Quote(no) + " --nssdb " + Quote(db_)),
                "unreachable");
  ASSERT_TRUE(PKI().SetMode("ok"));

  // A file without a signature has nothing to add.
  expectRefused(Tavrapdf("ltv " + Quote(in) + " " + Quote(no) + " --nssdb " + Quote(db_)),
                "the document holds no signature");
  const TCommandResult usage = Tavrapdf("ltv " + Quote(bb));
  EXPECT_EQ(usage.status, 2);
  const TCommandResult help = Tavrapdf("ltv --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: tavrapdf ltv INPUT OUTPUT", 0), 0u) << help.out;
}

}  // namespace
