// Signed files byte for byte. Each case signs a checked-in PDF through the
// whole route the window and tavrapdf take (the workflow, the toolkit binding,
// the document, the public-key handler, the message signer and the key store)
// with a fixed certificate, clock and random source, and compares the output
// with the file kept in tests/golden/. Any change to what we write shows here;
// a deliberate one is taken in with TAVRA_GOLDEN_UPDATE=1 after pdfsig and
// qpdf have been seen to accept the new files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "app/core/SignerCore.h"
#include "app/core/ToolkitBinding.h"
#include "platform/keystore/KeyStore.h"
#include "platform/PlatformSystem.h"
#include "tests/app/AppTestSupport.h"

namespace {

using namespace tavra;
using tavra_test::Quote;

const std::string kGolden = std::string(TAVRA_SOURCE_DIR) + "/tests/golden/";

// 2027-01-15 09:30:00 UTC.
constexpr int64_t kUnixTime = 1800005400;
constexpr double kSigningTime = 25569.0 + static_cast<double>(kUnixTime) / 86400.0;

struct GoldenCase {
  const char* input;
  const char* output;
  int sigType;  // 0 invisible, 1 visible, 2 certify
};

const GoldenCase kCases[] = {
    {"classic.pdf", "classic-invisible.pdf", 0},
    {"classic.pdf", "classic-visible.pdf", 1},
    {"classic.pdf", "classic-certify.pdf", 2},
    {"xrefstream.pdf", "xrefstream-visible.pdf", 1},
    {"xrefstream.pdf", "xrefstream-certify.pdf", 2},
    // Already signed: the second signature leaves the first one's bytes alone.
    {"classic-invisible.pdf", "signed-twice.pdf", 1},
};

class GoldenSigning : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
    database_ = new tavra_test::ScratchDir();
    const std::string db = "sql:" + database_->Path();
    int status = -1;
    tavra_test::RunCommand("certutil -N -d " + Quote(db) + " --empty-password && pk12util -i " +
                               Quote(kGolden + "signer.p12") + " -d " + Quote(db) +
                               " -W tavra >/dev/null && " + "certutil -A -d " + Quote(db) +
                               " -n 'Tavra Golden CA' -t CT,C,C -i " + Quote(kGolden + "ca.crt"),
                           &status);
    ASSERT_EQ(status, 0) << "the golden key store could not be made";
  }
  static void TearDownTestSuite() {
    platform::KeyStore::Instance().Shutdown();
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(database_, nullptr);
    platform::KeyStore::Instance().SetDatabaseDir(database_->Path());
    // A counter in place of the kernel's random bytes: the same run, the same file.
    uint8_t counter = 0;
    platform::SetSystemSourcesForTesting({[counter](void* buffer, size_t size) mutable {
                                            auto* out = static_cast<uint8_t*>(buffer);
                                            for (size_t i = 0; i < size; ++i) out[i] = counter++;
                                            return true;
                                          },
                                          [] { return kUnixTime; },
                                          [] { return uint64_t{123456}; }});
  }
  void TearDown() override {
    platform::SetSystemSourcesForTesting({});
    platform::KeyStore::Instance().Shutdown();
  }

  // Signs input into output with the golden certificate; returns the bytes.
  std::string Sign(const std::string& input, const std::string& output, int sigType) {
    TToolkitBinding toolkit;
    tavra_test::RecordingReporter reporter;
    TSignerCore core(toolkit, reporter);
    core.SetClock([] { return kSigningTime; });
    TSigningRequest request;
    request.InputPath = input;
    request.OutputPath = output;
    request.CertIssuer = "Tavra Golden CA";
    request.CertSerial = "2A17";
    request.Reason = "Schváleno";
    request.Kind = SignatureKindOfSigType(sigType);
    EXPECT_TRUE(core.SignDocument(request));
    EXPECT_EQ(reporter.reports.size(), 1u);
    for (const auto& report : reporter.reports) EXPECT_EQ(report.text, kMsgSigned);
    return tavra_test::ReadFile(output);
  }

  static tavra_test::ScratchDir* database_;
  tavra_test::ScratchDir scratch_;
};

tavra_test::ScratchDir* GoldenSigning::database_ = nullptr;

TEST_F(GoldenSigning, OutputsAreByteForByteTheKeptOnes) {
  const bool update = std::getenv("TAVRA_GOLDEN_UPDATE") != nullptr;
  for (const GoldenCase& c : kCases) {
    SCOPED_TRACE(c.output);
    const std::string out = scratch_ / c.output;
    const std::string signedBytes = Sign(kGolden + c.input, out, c.sigType);
    ASSERT_FALSE(signedBytes.empty());
    if (update) {
      // Only what independent checkers accept is kept.
      int status = -1;
      const std::string sig = tavra_test::RunCommand(
          "pdfsig -nssdir " + Quote("sql:" + database_->Path()) + " " + Quote(out), &status);
      EXPECT_NE(sig.find("Signature Validation: Signature is Valid."), std::string::npos) << sig;
      tavra_test::RunCommand("qpdf --check " + Quote(out) + " >/dev/null", &status);
      EXPECT_EQ(status, 0) << "qpdf --check";
      tavra_test::WriteFile(kGolden + c.output, signedBytes);
      continue;
    }
    const std::string kept = tavra_test::ReadFile(kGolden + c.output);
    ASSERT_EQ(signedBytes.size(), kept.size());
    EXPECT_TRUE(signedBytes == kept)
        << "first difference at byte "
        << std::mismatch(kept.begin(), kept.end(), signedBytes.begin()).first - kept.begin();
  }
}

TEST_F(GoldenSigning, TheSameRunTwiceGivesTheSameFile) {
  // Proves the run has no source of change left that the golden files would hide.
  const std::string first = Sign(kGolden + "classic.pdf", scratch_ / "a.pdf", 1);
  SetUp();
  const std::string second = Sign(kGolden + "classic.pdf", scratch_ / "b.pdf", 1);
  EXPECT_TRUE(first == second);
}

}  // namespace
