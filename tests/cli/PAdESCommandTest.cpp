// `tavrapdf sign --level/--digest` and what `tavrapdf verify` reports of
// PAdES levels, timestamps and document timestamps.
#include <gtest/gtest.h>

#include "platform/keystore/KeyStore.h"
#include "tests/fixtures/LocalTSA.h"
#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace {

using namespace corvane;
using namespace tavra_test;
using tavra_fixture::LocalTSA;
using tavra_fixture::LocalTSPClient;
using tavra_fixture::Store;

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

TCommandResult Tavrapdf(const ScratchDir& dir, const std::string& args) {
  return RunCapturing(". " + Quote(Store::Get().File("env.sh")) +
                      " && TMPDIR=" + Quote(dir.Path()) + " " + kTool + " " + args);
}

std::string SignArgs(const std::string& in, const std::string& out) {
  return "sign " + Quote(in) + " " + Quote(out) + " --nssdb " + Quote(Store::Get().Db()) +
         " --issuer 'Tavra Test CA' --serial 1001 --type invisible";
}

TEST(PAdESCommand, LevelsDigestsAndTheirUsage) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  const std::string in = dir.Write("in.pdf", pdftest::OnePage().Build());
  const std::string out = dir / "out.pdf";
  const TCommandResult bb = Tavrapdf(dir, SignArgs(in, out) + " --level B-B --digest sha512");
  ASSERT_EQ(bb.status, 0) << bb.err;
  const TCommandResult report =
      Tavrapdf(dir, "verify " + Quote(out) + " --trust " + Quote(Store::Get().File("ca.crt")));
  EXPECT_EQ(report.status, 0) << report.out;
  EXPECT_NE(report.out.find("  filter: Adobe.PPKLite\n  subfilter: ETSI.CAdES.detached\n"),
            std::string::npos)
      << report.out;
  EXPECT_NE(report.out.find("  digest: SHA-512\n"), std::string::npos) << report.out;
  EXPECT_NE(report.out.find("  level: B-B\n"), std::string::npos) << report.out;

  struct {
    const char* args;
    const char* says;
  } refused[] = {
      {" --level B-LT", "--level B-LT needs --tsa"},
      {" --level B-LTA", "--level B-LTA needs --tsa"},
      {" --level B-X", "--level is B-B, B-T, B-LT or B-LTA"},
      {" --level B-T", "--level B-T needs --tsa"},
      {" --level B-B --tsa http://127.0.0.1:9/", "--level B-B takes no --tsa"},
      {" --digest md5", "--digest is sha256, sha384 or sha512"},
      {" --tsa-user someone", "need --tsa"},
  };
  for (const auto& r : refused) {
    const TCommandResult run = Tavrapdf(dir, SignArgs(in, dir / "no.pdf") + r.args);
    EXPECT_EQ(run.status, 2) << r.args;
    EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "no.pdf"));
  }
}

// A B-T signature and a document timestamp made by the toolkit with a local
// authority: verify names the levels, the times and the authority.
TEST(PAdESCommand, VerifyShowsTimestampsAndLevels) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  LocalTSA tsa;
  ASSERT_TRUE(tsa.Ok()) << tsa.Error();
  platform::KeyStore::Instance().SetDatabaseDir(Store::Get().Db());
  TOvWinCertStorage store;
  store.SetSystemStores({"My"});
  TOvMemoryCertStorage storage;
  for (int i = 0; i < store.Count(); ++i)
    if (store.Certificates(i)->SubjectName().CommonName == "User RSA 2048")
      storage.Add(*store.Certificates(i), true);
  ASSERT_EQ(storage.Count(), 1);
  LocalTSPClient client(tsa);
  TOvPDFPublicKeySecurityHandler handler;
  handler.SetSignatureKind(PDF_SIGNATURE_KIND_PKCS7);
  handler.SetCertStorage(&storage);
  handler.SetCAdES(true);
  handler.SetTSPClient(&client);
  TOvPDFDocTimeStampHandler stamper;
  stamper.SetTSPClient(&client);
  TOvMemoryStream stream(pdftest::OnePage().Build());
  {
    TOvPDFDocument document;
    document.Open(stream);
    TOvPDFSignature* entry = document.Signatures(document.AddSignature());
    entry->SetHandler(&handler);
    entry->SetInvisible(true);
    AddDocTimeStamp(document, stamper);
    document.Close(true);
  }
  ScratchDir dir;
  const std::string path = dir.Write("stamped.pdf", stream.Data());
  const TCommandResult run = Tavrapdf(
      dir, "verify " + Quote(path) + " --json --trust " + Quote(Store::Get().File("ca.crt")));
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("\"level\": \"B-T\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"level\": \"document timestamp\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"authority\": \"CN=Tavra Test TSA\", \"valid\": true"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("\"valid\": false"), std::string::npos) << run.out;

  // A stamp whose token no longer matches its ranges is not valid.
  std::string broken = stream.Data();
  const size_t at = broken.find("/Type /DocTimeStamp");
  ASSERT_NE(at, std::string::npos);
  // The padding of the signature's value lies inside the stamped ranges.
  const size_t end = broken.find('>', broken.find("/Contents <"));
  ASSERT_EQ(broken[end - 2], '0');
  broken[end - 2] = '1';
  const TCommandResult bad = Tavrapdf(dir, "verify " + Quote(dir.Write("broken.pdf", broken)) +
                                               " --trust " + Quote(Store::Get().File("ca.crt")));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("valid: no (the token is not over the document's byte ranges)"),
            std::string::npos)
      << bad.out << bad.err;
}

}  // namespace
