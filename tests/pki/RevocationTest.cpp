// Revocation checking against answers openssl made: OCSP responses from our
// own requests, the PKI's CRLs, and the loopback responders and HTTP server
// asked through the curl transport.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/http/CurlHTTPTransport.h"
#include "tests/fixtures/LoopbackPKI.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvHTTP.h"
#include "toolkit/pki/CvCRL.h"
#include "toolkit/pki/CvOCSP.h"
#include "toolkit/pki/CvRevocation.h"
#include "toolkit/pki/CvX509.h"

namespace {

using corvane::ByteString;
using corvane::NowUTC;
using corvane::TCvRevocationResult;
using corvane::TCvRevocationSource;
using corvane::TCvRevocationStatus;
using corvane::TCvValidationData;
using corvane::TOvX509Certificate;
using tavra_test::Quote;
using tavra_test::RunCapturing;
using tavra_test::ScratchDir;

constexpr double kHour = 1.0 / 24;

std::unique_ptr<TOvX509Certificate> Certificate(const std::string& der) {
  auto c = std::make_unique<TOvX509Certificate>();
  c->LoadFromBytes(der);
  return c;
}

class Revocation : public tavra_fixture::LoopbackPKITest {
 protected:
  void SetUp() override {
    LoopbackPKITest::SetUp();
    TAVRA_REQUIRE_TOOL("openssl");
    platform::InstallHTTPTransport();
    intermediate_ = Certificate(PKI().Der("intermediate"));
    root_ = Certificate(PKI().Der("root"));
  }
  void TearDown() override { PKI().SetMode("ok"); }

  std::unique_ptr<TOvX509Certificate> Load(const std::string& name) {
    return Certificate(PKI().Der(name));
  }

  // openssl answers our own request for name from the intermediate's index,
  // signed by the certificate and key given (the delegated responder by default).
  ByteString Answer(const TOvX509Certificate& subject, std::string cert = {},
                    std::string key = {}) {
    if (cert.empty()) cert = PKI().Cert("ocsp-intermediate"), key = PKI().Key("ocsp-intermediate");
    work_.Write("req.der", corvane::BuildOCSPRequest(subject, *intermediate_, "0123456789abcdef"));
    const auto r =
        RunCapturing("cd " + Quote(work_.Path()) + " && openssl ocsp -index " +
                     Quote(PKI().File("db-intermediate/index.txt")) + " -CA " +
                     Quote(PKI().Cert("intermediate")) + " -rsigner " + Quote(cert) + " -rkey " +
                     Quote(key) + " -nmin 60 -reqin req.der -respout resp.der 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    return tavra_test::ReadFile(work_ / "resp.der");
  }

  // A certificate (and its key) issued by the intermediate with the extension lines given.
  std::string Issue(const std::string& name, const std::string& extensions) {
    work_.Write(name + ".ext", extensions);
    const auto r = RunCapturing(
        "cd " + Quote(work_.Path()) + " && openssl req -new -newkey rsa:2048 -nodes -keyout " +
        name + ".key -subj '/CN=" + name + "' -out " + name +
        ".csr 2>/dev/null && openssl x509 -req -in " + name + ".csr -CA " +
        Quote(PKI().Cert("intermediate")) + " -CAkey " + Quote(PKI().Key("intermediate")) +
        " -set_serial 0x7001 -days 30 -extfile " + name + ".ext -out " + name +
        ".crt 2>&1 && openssl x509 -in " + name + ".crt -outform DER -out " + name + ".der");
    EXPECT_EQ(r.status, 0) << r.out;
    return work_ / name;
  }

  static TCvRevocationResult Check(const TOvX509Certificate& c, const TOvX509Certificate& issuer,
                                   const ByteString& ocsp, const ByteString& crl,
                                   double moment = NowUTC()) {
    TCvValidationData data;
    if (!ocsp.empty()) data.OCSPs.push_back(ocsp);
    if (!crl.empty()) data.CRLs.push_back(crl);
    return corvane::CheckRevocation(c, issuer, data, moment);
  }

  ScratchDir work_;
  std::unique_ptr<TOvX509Certificate> intermediate_, root_;
};

TEST_F(Revocation, OurRequestIsReadByOpenssl) {
  const auto signer = Load("signer");
  work_.Write("req.der", corvane::BuildOCSPRequest(*signer, *intermediate_, "nonce-octets-16b"));
  const auto r = RunCapturing("openssl ocsp -reqin " + Quote(work_ / "req.der") + " -req_text");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Hash Algorithm: sha1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Serial Number: 2001"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("OCSP Nonce"), std::string::npos) << r.out;
  // openssl's own request for the same certificate names it with the same hashes.
  const auto theirs =
      RunCapturing("openssl ocsp -issuer " + Quote(PKI().Cert("intermediate")) + " -cert " +
                   Quote(PKI().Cert("signer")) + " -no_nonce -req_text -reqout /dev/null");
  const auto hashes = [](const std::string& text) {
    const size_t at = text.find("Issuer Name Hash");
    return text.substr(at, text.find("Serial Number") - at);
  };
  EXPECT_EQ(hashes(r.out), hashes(theirs.out));
}

TEST_F(Revocation, OCSPStatusAtTheMoment) {
  const auto signer = Load("signer"), revoked = Load("revoked");
  const TCvRevocationResult good = Check(*signer, *intermediate_, Answer(*signer), {});
  EXPECT_EQ(good.Status, TCvRevocationStatus::Good) << good.Detail;
  EXPECT_EQ(good.Source, TCvRevocationSource::EmbeddedOCSP);

  // Revoked an hour before the PKI was made: revoked now, good two hours before.
  const ByteString answer = Answer(*revoked);
  const TCvRevocationResult now = Check(*revoked, *intermediate_, answer, {});
  EXPECT_EQ(now.Status, TCvRevocationStatus::Revoked);
  EXPECT_LT(now.RevocationTime, NowUTC() - 0.5 * kHour);
  EXPECT_NE(now.Detail.find("keyCompromise"), std::string::npos) << now.Detail;
  const TCvRevocationResult before =
      Check(*revoked, *intermediate_, answer, {}, now.RevocationTime - kHour);
  EXPECT_EQ(before.Status, TCvRevocationStatus::Good) << before.Detail;

  // After its next update a response decides nothing.
  const TCvRevocationResult stale =
      Check(*signer, *intermediate_, Answer(*signer), {}, NowUTC() + 2 * kHour);
  EXPECT_EQ(stale.Status, TCvRevocationStatus::Unknown);
  EXPECT_NE(stale.Detail.find("outdated"), std::string::npos) << stale.Detail;

  // A certificate the responder's index does not hold.
  const auto stranger = Certificate(
      tavra_test::ReadFile(Issue("unlisted", "keyUsage=critical,digitalSignature\n") + ".der"));
  const TCvRevocationResult unknown = Check(*stranger, *intermediate_, Answer(*stranger), {});
  EXPECT_EQ(unknown.Status, TCvRevocationStatus::Unknown);

  // A response about another certificate says nothing about this one.
  EXPECT_EQ(Check(*revoked, *intermediate_, Answer(*signer), {}).Status,
            TCvRevocationStatus::NotChecked);
}

TEST_F(Revocation, WhoMaySignAnOCSPResponse) {
  const auto signer = Load("signer");
  // The issuer itself.
  EXPECT_EQ(Check(*signer, *intermediate_,
                  Answer(*signer, PKI().Cert("intermediate"), PKI().Key("intermediate")), {})
                .Status,
            TCvRevocationStatus::Good);
  // A delegate of the issuer without id-kp-OCSPSigning.
  const std::string plain = Issue("plain", "keyUsage=critical,digitalSignature\n");
  const TCvRevocationResult unmarked =
      Check(*signer, *intermediate_, Answer(*signer, plain + ".crt", plain + ".key"), {});
  EXPECT_EQ(unmarked.Status, TCvRevocationStatus::Unknown);
  EXPECT_NE(unmarked.Detail.find("not authorized for OCSP signing"), std::string::npos)
      << unmarked.Detail;
  // The root's delegate is a proper responder, but not for the intermediate's certificates.
  const TCvRevocationResult stranger =
      Check(*signer, *intermediate_,
            Answer(*signer, PKI().Cert("ocsp-root"), PKI().Key("ocsp-root")), {});
  EXPECT_EQ(stranger.Status, TCvRevocationStatus::Unknown);
  EXPECT_NE(stranger.Detail.find("not issued by the certificate's issuer"), std::string::npos)
      << stranger.Detail;
  // A changed signed byte.
  ByteString forged = Answer(*signer);
  const size_t at = forged.find(std::string("\x18\x0F", 2));  // producedAt
  ASSERT_NE(at, std::string::npos);
  forged[at + 5] = static_cast<char>(forged[at + 5] ^ 1);
  const TCvRevocationResult bad = Check(*signer, *intermediate_, forged, {});
  EXPECT_EQ(bad.Status, TCvRevocationStatus::Unknown);
  EXPECT_NE(bad.Detail.find("signature does not verify"), std::string::npos) << bad.Detail;
}

TEST_F(Revocation, CRLListsTheRevokedSerialOnly) {
  const auto signer = Load("signer"), revoked = Load("revoked");
  const ByteString crl = PKI().CRL("intermediate");
  const TCvRevocationResult good = Check(*signer, *intermediate_, {}, crl);
  EXPECT_EQ(good.Status, TCvRevocationStatus::Good) << good.Detail;
  EXPECT_EQ(good.Source, TCvRevocationSource::EmbeddedCRL);
  const TCvRevocationResult listed = Check(*revoked, *intermediate_, {}, crl);
  EXPECT_EQ(listed.Status, TCvRevocationStatus::Revoked) << listed.Detail;
  EXPECT_NE(listed.Detail.find("keyCompromise"), std::string::npos) << listed.Detail;

  // The same name with another key: the CRL's signature is not that key's.
  work_.Write("impostor.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=keyCertSign,cRLSign\n");
  const auto r = RunCapturing(
      "cd " + Quote(work_.Path()) +
      " && openssl req -x509 -newkey rsa:2048 -nodes -keyout i.key -days 30 -subj " +
      "'/C=CZ/O=Tavra Test LTV/CN=Tavra LTV Intermediate' -outform DER -out impostor.der 2>&1");
  ASSERT_EQ(r.status, 0) << r.out;
  const auto impostor = Certificate(tavra_test::ReadFile(work_ / "impostor.der"));
  const TCvRevocationResult foreign = Check(*revoked, *impostor, {}, crl);
  EXPECT_EQ(foreign.Status, TCvRevocationStatus::Unknown);
  EXPECT_NE(foreign.Detail.find("CRL signature does not verify"), std::string::npos)
      << foreign.Detail;
}

TEST_F(Revocation, TruncatedAnswersAreRefusedNotTrusted) {
  const auto signer = Load("signer");
  const ByteString ocsp = Answer(*signer), crl = PKI().CRL("intermediate");
  for (size_t n = 0; n < ocsp.size(); ++n) {
    corvane::TCvOCSPResponse parsed;
    std::string error;
    ASSERT_FALSE(corvane::ParseOCSPResponse(ocsp.substr(0, n), parsed, error)) << n;
    ASSERT_FALSE(error.empty());
  }
  for (size_t n = 0; n < crl.size(); ++n) {
    corvane::TCvCRL parsed;
    std::string error;
    ASSERT_FALSE(corvane::ParseCRL(crl.substr(0, n), parsed, error)) << n;
  }
}

TEST_F(Revocation, FetchedFromTheLoopbackServices) {
  const auto signer = Load("signer");
  corvane::TOvRevocationFetcher fetcher;
  ByteString response, crl;
  std::string error;
  ASSERT_TRUE(fetcher.FetchOCSP(*signer, *intermediate_, response, error)) << error;
  // openssl accepts what we fetched (and would embed).
  work_.Write("fetched.der", response);
  const auto checked =
      RunCapturing("openssl ocsp -respin " + Quote(work_ / "fetched.der") + " -issuer " +
                   Quote(PKI().Cert("intermediate")) + " -cert " + Quote(PKI().Cert("signer")) +
                   " -CAfile " + Quote(PKI().Chain()) + " -no_nonce 2>&1");
  EXPECT_NE(checked.out.find("Response verify OK"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find(": good"), std::string::npos) << checked.out;

  ASSERT_TRUE(fetcher.FetchCRL(*signer, *intermediate_, crl, error)) << error;
  EXPECT_EQ(crl, PKI().CRL("intermediate"));
  const std::vector<ByteString> issuers = fetcher.FetchIssuers(*signer, error);
  ASSERT_EQ(issuers.size(), 1u) << error;
  EXPECT_EQ(issuers[0], PKI().Der("intermediate"));

  // The responder answering "unauthorized", then nothing listening.
  ASSERT_TRUE(PKI().SetMode("ocsp-unauthorized"));
  EXPECT_FALSE(fetcher.FetchOCSP(*signer, *intermediate_, response, error));
  EXPECT_EQ(error, "OCSP responder " + PKI().OCSPURL() + " answered unauthorized");
  ASSERT_TRUE(PKI().SetMode("ocsp-stopped"));
  EXPECT_FALSE(fetcher.FetchOCSP(*signer, *intermediate_, response, error));
  EXPECT_EQ(error, "OCSP responder " + PKI().OCSPURL() + " unreachable: connection refused");
}

// Answers every POST with one fixed response, as a replaying responder would.
class ReplayingResponder final : public corvane::TOvHTTPTransport {
 public:
  explicit ReplayingResponder(ByteString body) : body_(std::move(body)) {}
  corvane::TCvHTTPResponse Post(const corvane::TCvHTTPRequest&) override {
    corvane::TCvHTTPResponse response;
    response.Status = 200;
    response.ContentType = "application/ocsp-response";
    response.Body = body_;
    return response;
  }

 private:
  ByteString body_;
};

TEST_F(Revocation, AnEchoedNonceMustBeOurs) {
  const auto signer = Load("signer");
  // A good answer, but to a request with another nonce.
  ReplayingResponder replay(Answer(*signer));
  corvane::SetHTTPTransport(&replay);
  ByteString response;
  std::string error;
  corvane::TOvRevocationFetcher withNonce;
  const bool fetched = withNonce.FetchOCSP(*signer, *intermediate_, response, error);
  corvane::TCvRevocationFetchOptions options;
  options.UseNonce = false;
  corvane::TOvRevocationFetcher withoutNonce(options);
  std::string error2;
  const bool fetchedWithout = withoutNonce.FetchOCSP(*signer, *intermediate_, response, error2);
  platform::InstallHTTPTransport();
  EXPECT_FALSE(fetched);
  EXPECT_EQ(error, "OCSP responder " + PKI().OCSPURL() + " answered with a wrong nonce");
  EXPECT_TRUE(fetchedWithout) << error2;
}

TEST_F(Revocation, CollectedAlongThePath) {
  const auto signer = Load("signer"), revoked = Load("revoked");
  // Only the root is known: the intermediate comes from the signer's caIssuers URL.
  corvane::TOvValidationDataCollector collector;
  collector.AddAnchor(root_.get());
  TCvValidationData data;
  std::string error;
  ASSERT_TRUE(collector.Collect(*signer, NowUTC(), data, error)) << error;
  const auto has = [&data](const std::string& der) {
    for (const ByteString& c : data.Certificates)
      if (c == der) return true;
    return false;
  };
  for (const char* name : {"root", "intermediate", "signer", "ocsp-intermediate", "ocsp-root"})
    EXPECT_TRUE(has(PKI().Der(name))) << name;
  // Judged again from the data alone, as a verifier without network would.
  EXPECT_EQ(corvane::CheckRevocation(*signer, *intermediate_, data, NowUTC()).Status,
            TCvRevocationStatus::Good);
  EXPECT_EQ(corvane::CheckRevocation(*intermediate_, *root_, data, NowUTC()).Status,
            TCvRevocationStatus::Good);
  const auto responder = Load("ocsp-intermediate");
  EXPECT_EQ(corvane::CheckRevocation(*responder, *intermediate_, data, NowUTC()).Source,
            TCvRevocationSource::EmbeddedCRL);

  TCvValidationData none;
  EXPECT_FALSE(collector.Collect(*revoked, NowUTC(), none, error));
  EXPECT_NE(error.find("the signer's certificate CN=Tavra LTV Revoked Signer is revoked (since "),
            std::string::npos)
      << error;
  EXPECT_TRUE(none.Empty());
}

TEST_F(Revocation, CollectFallsBackToCRLsAndNamesTheirFaults) {
  const auto signer = Load("signer");
  ASSERT_TRUE(PKI().SetMode("ocsp-unauthorized"));
  TCvValidationData data;
  std::string error;
  {
    corvane::TOvValidationDataCollector collector;
    collector.AddAnchor(root_.get());
    collector.AddCandidate(intermediate_.get());
    ASSERT_TRUE(collector.Collect(*signer, NowUTC(), data, error)) << error;
    EXPECT_TRUE(data.OCSPs.empty());
    EXPECT_EQ(data.CRLs.size(), 2u);
  }
  ASSERT_TRUE(PKI().SetMode("ocsp-stopped,crl-bad-signature"));
  corvane::TOvValidationDataCollector collector;
  collector.AddAnchor(root_.get());
  collector.AddCandidate(intermediate_.get());
  TCvValidationData none;
  EXPECT_FALSE(collector.Collect(*signer, NowUTC(), none, error));
  EXPECT_NE(error.find("unreachable: connection refused"), std::string::npos) << error;
  EXPECT_NE(error.find("CRL signature does not verify"), std::string::npos) << error;
  EXPECT_TRUE(none.Empty());
}

TEST(ValidationData, MergeKeepsByteEqualItemsOnce) {
  TCvValidationData a, b;
  a.Certificates = {"x", "y"};
  b.Certificates = {"y", "z", "z"};
  b.CRLs = {"c"};
  a.Merge(b);
  EXPECT_EQ(a.Certificates, (std::vector<ByteString>{"x", "y", "z"}));
  EXPECT_EQ(a.CRLs, (std::vector<ByteString>{"c"}));
  a.Merge(a);
  EXPECT_EQ(a.Certificates.size(), 3u);
}

}  // namespace
