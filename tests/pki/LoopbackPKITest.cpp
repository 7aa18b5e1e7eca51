// The loopback PKI the long-term validation tests rely on, judged by openssl
// and a plain Python HTTP client: its responders, CRLs, authority and broken modes.
#include "tests/fixtures/LoopbackPKI.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace {

using tavra_fixture::LoopbackPKI;
using tavra_test::Quote;
using tavra_test::RunCapturing;
using tavra_test::ScratchDir;
using tavra_test::TCommandResult;

const std::string kNoProxy = "no_proxy='*' NO_PROXY='*' ";

// A shell command fetching url into the file out (GET, or POST of the file
// body with the content type), through no proxy, bounded in time.
std::string HTTP(const std::string& url, const std::string& out, const std::string& body = {},
                 const std::string& type = {}) {
  return "python3 -c " +
         Quote(
             "import sys, urllib.request as u\n"
             "url, out, body, kind = sys.argv[1:5]\n"
             "data = open(body, 'rb').read() if body else None\n"
             "q = u.Request(url, data=data, headers={'Content-Type': kind} if kind else {})\n"
             "reply = u.build_opener(u.ProxyHandler({})).open(q, timeout=20).read()\n"
             "open(out, 'wb').write(reply)\n") +
         " " + Quote(url) + " " + Quote(out) + " " + Quote(body) + " " + Quote(type);
}

class LoopbackPKIServices : public tavra_fixture::LoopbackPKITest {
 protected:
  void SetUp() override {
    LoopbackPKITest::SetUp();
    TAVRA_REQUIRE_TOOL("openssl");
    TAVRA_REQUIRE_TOOL("python3");
  }
  void TearDown() override { PKI().SetMode("ok"); }

  // openssl asks the responder of the certificate's level about it (with a
  // nonce) and checks the answer against the root alone.
  TCommandResult AskResponder(const std::string& name) {
    const std::string level = LoopbackPKI::IssuerOf(name);
    return RunCapturing(kNoProxy + "openssl ocsp -nonce -issuer " + Quote(PKI().Cert(level)) +
                        " -cert " + Quote(PKI().Cert(name)) + " -url " +
                        Quote(level == "root" ? PKI().RootOCSPURL() : PKI().OCSPURL()) +
                        " -CAfile " + Quote(PKI().Cert("root")) + " -verify_other " +
                        Quote(PKI().Cert("intermediate")) + " 2>&1");
  }
  // The intermediate's CRL over HTTP, then openssl's judgement of it.
  TCommandResult FetchAndCheckCRL(const ScratchDir& dir) {
    return RunCapturing(HTTP(PKI().CRLURL(), dir / "i.crl") + " && openssl crl -inform DER -in " +
                        Quote(dir / "i.crl") + " -CAfile " + Quote(PKI().Chain()) +
                        " -noout -text 2>&1");
  }
};

TEST_F(LoopbackPKIServices, RespondersAnswerGoodAndRevokedWithNonceAndNextUpdate) {
  for (const char* name : {"signer", "tsa", "ocsp-intermediate", "intermediate"}) {
    const auto r = AskResponder(name);
    EXPECT_EQ(r.status, 0) << name << ": " << r.out;
    EXPECT_NE(r.out.find("Response verify OK"), std::string::npos) << name << ": " << r.out;
    EXPECT_NE(r.out.find(std::string(name) + ".crt: good"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Next Update:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("WARNING: no nonce"), std::string::npos) << r.out;
  }
  const auto revoked = AskResponder("revoked");
  EXPECT_NE(revoked.out.find("revoked.crt: revoked"), std::string::npos) << revoked.out;
  EXPECT_NE(revoked.out.find("Reason: keyCompromise"), std::string::npos) << revoked.out;
}

TEST_F(LoopbackPKIServices, CRLOverHTTPVerifiesAndListsOnlyTheRevoked) {
  const ScratchDir dir;
  const auto r = FetchAndCheckCRL(dir);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("verify OK"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Serial Number: 2002"), std::string::npos) << r.out;  // revoked
  EXPECT_EQ(r.out.find("Serial Number: 2001"), std::string::npos) << r.out;  // signer
  EXPECT_EQ(tavra_test::ReadFile(dir / "i.crl"), PKI().CRL("intermediate"));
  // The caIssuers file is the intermediate itself.
  const auto issuers = RunCapturing(HTTP(PKI().IssuersURL(), dir / "issuer.der"));
  EXPECT_EQ(issuers.status, 0) << issuers.err;
  EXPECT_EQ(tavra_test::ReadFile(dir / "issuer.der"), PKI().Der("intermediate"));
}

TEST_F(LoopbackPKIServices, AuthorityStampsWithAChainUnderTheIntermediate) {
  const ScratchDir dir;
  tavra_test::WriteFile(dir / "data", "long-term");
  const auto r = RunCapturing(
      "cd " + Quote(dir.Path()) + " && openssl ts -query -data data -sha256 -cert -out q.tsq && " +
      HTTP(PKI().TSAURL(), "r.tsr", "q.tsq", "application/timestamp-query") +
      " && openssl ts -verify -in r.tsr -data data -CAfile " + Quote(PKI().Cert("root")) +
      " -untrusted " + Quote(PKI().Cert("intermediate")) + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Verification: OK"), std::string::npos) << r.out;
}

TEST_F(LoopbackPKIServices, BrokenModesAndALateRevocation) {
  const ScratchDir dir;
  ASSERT_TRUE(PKI().SetMode("ocsp-unauthorized,crl-bad-signature"));
  EXPECT_NE(AskResponder("signer").out.find("unauthorized (6)"), std::string::npos);
  const auto bad = FetchAndCheckCRL(dir);
  EXPECT_NE(bad.out.find("verify failure"), std::string::npos) << bad.out;

  // Responders gone, CRLs still served: the fallback path.
  ASSERT_TRUE(PKI().SetMode("ocsp-stopped"));
  EXPECT_NE(AskResponder("signer").out.find("Connection refused"), std::string::npos);
  EXPECT_NE(FetchAndCheckCRL(dir).out.find("verify OK"), std::string::npos);

  ASSERT_TRUE(PKI().Revoke("later"));
  EXPECT_NE(AskResponder("later").out.find("later.crt: revoked"), std::string::npos);
  EXPECT_NE(FetchAndCheckCRL(dir).out.find("Serial Number: 2003"), std::string::npos);
  // Offline answers come from the same index.
  tavra_test::WriteFile(dir / "later.ocsp", PKI().OCSPResponse("later"));
  const auto offline =
      RunCapturing("openssl ocsp -respin " + Quote(dir / "later.ocsp") + " -issuer " +
                   Quote(PKI().Cert("intermediate")) + " -cert " + Quote(PKI().Cert("later")) +
                   " -CAfile " + Quote(PKI().Chain()) + " 2>&1");
  EXPECT_NE(offline.out.find("later.crt: revoked"), std::string::npos) << offline.out;

  ASSERT_TRUE(PKI().SetMode("stopped"));
  EXPECT_NE(FetchAndCheckCRL(dir).status, 0);
  EXPECT_NE(AskResponder("intermediate").out.find("Connection refused"), std::string::npos);
}

TEST_F(LoopbackPKIServices, StoreHoldsTheSignersUnderTheTrustedRoot) {
  TAVRA_REQUIRE_TOOL("certutil");
  TAVRA_REQUIRE_TOOL("pk12util");
  const ScratchDir dir;
  const std::string db = "sql:" + PKI().MakeStore(dir / "nssdb");
  for (const char* name : {"signer", "revoked", "later"}) {
    const auto r = RunCapturing("certutil -V -u S -n " + std::string(name) + " -d " + Quote(db));
    EXPECT_NE(r.out.find("certificate is valid"), std::string::npos) << name << r.out << r.err;
    const auto keys = RunCapturing("certutil -K -d " + Quote(db));
    EXPECT_NE(keys.out.find(name), std::string::npos) << keys.out;
  }
}

TEST(LoopbackPKIStop, EveryPortRefusesOnceStopped) {
  LoopbackPKI pki;
  ASSERT_LOOPBACK_PKI(pki);
  const std::string url = pki.CRLURL();
  pki.Stop();
  const ScratchDir dir;
  const auto r = RunCapturing(HTTP(url, dir / "crl"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Connection refused"), std::string::npos) << r.err;
}

}  // namespace
