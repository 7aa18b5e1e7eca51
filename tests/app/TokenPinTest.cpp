// A token that refuses the PIN, or a PIN prompt that is cancelled, ends the
// signing with the cause in words: the whole route (the workflow, the toolkit
// binding, the document, the public-key handler, the message signer, the
// provider and the key store) with the fixture's SoftHSM token "TavraCard".
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/core/SignerCore.h"
#include "app/core/ToolkitBinding.h"
#include "platform/keystore/KeyStore.h"
#include "tests/app/AppTestSupport.h"
#include "tests/fixtures/ScriptedPrompt.h"
#include "tests/fixtures/StoreFixture.h"

namespace {

using namespace tavra;
using tavra_fixture::Store;
using tavra_test::RecordingReporter;
using tavra_test::Report;
using tavra_test::Way;

class TokenPinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    tavra_fixture::ReopenKeyStore(Store::Get().Db(), &prompt_);
  }
  void TearDown() override {
    platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }

  // Signs with the token's certificate; what the person was shown.
  std::vector<Report> SignWithCard(bool expectSigned) {
    TToolkitBinding toolkit;
    RecordingReporter reporter;
    TSignerCore core(toolkit, reporter);
    TSigningRequest request;
    request.InputPath = std::string(TAVRA_SOURCE_DIR) + "/tests/golden/classic.pdf";
    request.OutputPath = output_;
    request.CertIssuer = "Tavra Test CA";
    request.CertSerial = "1009";
    EXPECT_EQ(core.SignDocument(request), expectSigned);
    EXPECT_EQ(std::filesystem::exists(output_), expectSigned);
    return reporter.reports;
  }

  tavra_fixture::ScriptedPrompt prompt_;
  tavra_test::ScratchDir scratch_;
  const std::string output_ = scratch_ / "signed.pdf";
};

TEST_F(TokenPinTest, WrongPinIsNamedAndNothingIsWritten) {
  prompt_.Answer = "0000";
  EXPECT_EQ(SignWithCard(false),
            (std::vector<Report>{
                {Way::WorkflowError,
                 "Chyba: Signing failed: wrong password or PIN for token \"TavraCard\""}}));
  EXPECT_EQ(prompt_.Calls, 1);
  // The same route with the right PIN signs: only the PIN was wrong.
  prompt_.Answer = Store::Get().Pin();
  EXPECT_EQ(SignWithCard(true), (std::vector<Report>{{Way::WorkflowInformation, kMsgSigned}}));
}

TEST_F(TokenPinTest, CancelledPromptIsNamedAndNothingIsWritten) {
  EXPECT_EQ(
      SignWithCard(false),
      (std::vector<Report>{
          {Way::WorkflowError,
           "Chyba: Signing failed: password or PIN entry for token \"TavraCard\" cancelled"}}));
  EXPECT_EQ(prompt_.Calls, 1);
}

}  // namespace
