// `tavrapdf verify` judging revocation: B-T files signed by tavrapdf against
// the loopback PKI, given a document security store of OCSP responses and
// CRLs that openssl made, then verified with the servers stopped (--offline)
// or running.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "tests/fixtures/LoopbackPKI.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_DSS.h"

namespace {

using namespace tavra_test;
using tavra_fixture::LoopbackPKI;

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";
const std::string kLoopback = "no_proxy='*' NO_PROXY='*' TAVRA_TSA_TIMEOUT=20 ";

class VerifyRevocation : public tavra_fixture::LoopbackPKITest {
 public:
  static void SetUpTestSuite() {
    LoopbackPKITest::SetUpTestSuite();
    dir_ = std::make_unique<ScratchDir>();
    if (PKI().Ok()) PKI().MakeStore(dir_->File("nssdb"));
    dir_->Write("in.pdf", pdftest::OnePage().Build());
  }
  static void TearDownTestSuite() {
    dir_.reset();
    LoopbackPKITest::TearDownTestSuite();
  }

 protected:
  void TearDown() override { PKI().SetMode("ok"); }

  // A B-T signature by the named signer of the PKI (serial in hex).
  std::string SignBT(const std::string& name, const std::string& serial) {
    const std::string out = dir_->File(name + "-bt.pdf");
    const TCommandResult r = RunCapturing(
        kLoopback + Quote(kTool) + " sign " + Quote(dir_->File("in.pdf")) + " " + Quote(out) +
        " --nssdb " + Quote(dir_->File("nssdb")) + " --issuer 'Tavra LTV Intermediate' --serial " +
        serial + " --type invisible --level B-T --tsa " + Quote(PKI().TSAURL()));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return out;
  }

  // The signed file with a store holding the path's certificates and the
  // given answers, as the next update.
  std::string WithStore(const std::string& pdf, const std::string& name,
                        const corvane::TCvValidationData& answers) {
    corvane::TOvMemoryStream stream(ReadFile(pdf));
    corvane::TOvPDFDocument document;
    document.Open(stream);
    EXPECT_EQ(document.SignatureCount(), 1u);
    corvane::TCvDSSEntry entry;
    entry.SignatureContents =
        corvane::GetStringEntry(document.Signatures(0)->FieldDictionary(), "Contents", false);
    entry.Data = answers;
    for (const char* cert : {"root", "intermediate"})
      entry.Data.Certificates.push_back(PKI().Der(cert));
    entry.Data.Certificates.push_back(PKI().Der(name));
    corvane::AddDSS(document, {entry});
    document.Close(true);
    return dir_->Write(name + "-lt.pdf", stream.Data());
  }

  TCommandResult Verify(const std::string& pdf, const std::string& options = "--offline") {
    return RunCapturing(kLoopback + Quote(kTool) + " verify " + Quote(pdf) + " --nssdb " +
                        Quote(dir_->File("nssdb")) + " " + options);
  }

  static std::string RevocationLine(const std::string& report) {
    std::smatch m;
    return std::regex_search(report, m, std::regex("  revocation: ([^\n]*)\n")) ? m[1].str()
                                                                                : "missing";
  }

  static inline std::unique_ptr<ScratchDir> dir_;
};

TEST_F(VerifyRevocation, EmbeddedOCSPDecidesWithEveryServerStopped) {
  const std::string bt = SignBT("signer", "2001");
  corvane::TCvValidationData answers;
  answers.OCSPs = {PKI().OCSPResponse("signer"), PKI().OCSPResponse("intermediate")};
  const std::string lt = WithStore(bt, "signer", answers);
  ASSERT_TRUE(PKI().SetMode("stopped"));

  const TCommandResult run = Verify(lt);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("  valid: yes\n  trusted: yes\n"), std::string::npos) << run.out;
  EXPECT_EQ(RevocationLine(run.out), "good (embedded OCSP)") << run.out;

  // Without a store, offline has nothing to judge by; online, the stopped
  // responder and distribution point leave it unknown. Neither fails it.
  const TCommandResult bare = Verify(bt);
  EXPECT_EQ(bare.status, 0) << bare.out;
  EXPECT_EQ(RevocationLine(bare.out), "not checked");
  const TCommandResult unreachable = Verify(bt, "");
  EXPECT_EQ(unreachable.status, 0) << unreachable.out;
  EXPECT_NE(RevocationLine(unreachable.out).find("unknown (OCSP responder http://127.0.0.1:"),
            std::string::npos)
      << unreachable.out;
  EXPECT_NE(RevocationLine(unreachable.out).find("connection refused"), std::string::npos)
      << unreachable.out;

  // Running again, the responder decides for the bare file.
  ASSERT_TRUE(PKI().SetMode("ok"));
  EXPECT_EQ(RevocationLine(Verify(bt, "").out), "good (OCSP)");
}

TEST_F(VerifyRevocation, RevokedBeforeTheTimestampFailsFromCRLOrOCSP) {
  const std::string bt = SignBT("revoked", "2002");
  corvane::TCvValidationData crls;
  crls.CRLs = {PKI().CRL("intermediate"), PKI().CRL("root")};
  ASSERT_TRUE(PKI().SetMode("stopped"));

  const TCommandResult run = Verify(WithStore(bt, "revoked", crls), "--offline --json");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  dir_->Write("revoked.json", run.out);
  // The time is the one the CA's index holds, read back by openssl.
  const std::string since = RunCommand(
      "openssl crl -inform DER -noout -text -in " + Quote(PKI().File("crl/intermediate.crl")) +
      " | sed -n 's/.*Revocation Date: //p' | head -1 | xargs -I{} date -u -d {} "
      "'+%Y-%m-%d %H:%M:%S UTC'");
  const TCommandResult parsed = RunCapturing(
      "python3 -c 'import json,sys; s=json.load(open(sys.argv[1]))[\"signatures\"][0]; "
      "print(s[\"revocation\"], s[\"revocationSource\"], s[\"revocationTime\"], "
      "s[\"revocationCertificate\"], sep=\"|\")' " +
      Quote(dir_->File("revoked.json")));
  EXPECT_EQ(parsed.out, "revoked|embedded CRL|" + since.substr(0, since.size() - 1) +
                            "|CN=Tavra LTV Revoked Signer\n")
      << parsed.err << run.out;

  corvane::TCvValidationData ocsp;
  ocsp.OCSPs = {PKI().OCSPResponse("revoked"), PKI().OCSPResponse("intermediate")};
  const TCommandResult text = Verify(WithStore(bt, "revoked", ocsp));
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(RevocationLine(text.out),
            "revoked since " + since.substr(0, since.size() - 1) + " (embedded OCSP)")
      << text.out;
}

TEST_F(VerifyRevocation, RevokedAfterTheTimestampStaysValid) {
  const std::string bt = SignBT("later", "2003");
  // The revocation lands in a later second than the timestamp's.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_TRUE(PKI().Revoke("later"));
  corvane::TCvValidationData answers;
  answers.OCSPs = {PKI().OCSPResponse("later"), PKI().OCSPResponse("intermediate")};
  const std::string lt = WithStore(bt, "later", answers);
  ASSERT_TRUE(PKI().SetMode("stopped"));

  const TCommandResult run = Verify(lt, "--offline --json");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  dir_->Write("later.json", run.out);
  const TCommandResult parsed = RunCapturing(
      "python3 -c 'import json,sys; s=json.load(open(sys.argv[1]))[\"signatures\"][0]; "
      "print(s[\"checkedTimeSource\"], s[\"revocation\"], s[\"revocationSource\"], "
      "s[\"revocationDetail\"].split(\",\")[0], sep=\"|\")' " +
      Quote(dir_->File("later.json")));
  EXPECT_EQ(parsed.out, "timestamp|good|embedded OCSP|revoked later\n") << parsed.err << run.out;
}

TEST_F(VerifyRevocation, AChainCertificateWithoutAnswersIsNamed) {
  const std::string bt = SignBT("signer", "2001");
  corvane::TCvValidationData answers;
  answers.OCSPs = {PKI().OCSPResponse("signer")};  // nothing for the intermediate
  const TCommandResult run = Verify(WithStore(bt, "signer", answers));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(RevocationLine(run.out),
            "not checked (CN=Tavra LTV Intermediate: no revocation information for this "
            "certificate)");
}

}  // namespace
