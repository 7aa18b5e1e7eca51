// The batch over the real toolkit and the fixture's SoftHSM token: one login
// for the whole run however many workers sign, and a refused PIN is never
// put to the token a second time.
#include "app/core/BatchSigner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/ToolkitBinding.h"
#include "tests/fixtures/ScriptedPrompt.h"
#include "tests/fixtures/StoreFixture.h"

namespace {

using namespace tavra;
using tavra_fixture::Store;

class BatchSignerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_STORE_FIXTURE();
    tavra_fixture::ReopenKeyStore(Store::Get().Db(), &prompt_);
    const std::string golden = std::string(TAVRA_SOURCE_DIR) + "/tests/golden/classic.pdf";
    for (int i = 0; i < 24; ++i) {
      inputs_.push_back(scratch_ / ("doc" + std::to_string(i) + ".pdf"));
      std::filesystem::copy_file(golden, inputs_.back());
    }
    options_.OutputDir = scratch_.MakeDir("out");
    options_.Jobs = 3;
    request_.CertIssuer = "Tavra Test CA";
    request_.CertSerial = "1009";  // the token's certificate
  }
  void TearDown() override {
    platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
    platform::KeyStore::Instance().Shutdown();
    platform::KeyStore::Instance().SetDatabaseDir("");
  }

  static size_t SignedCount(const std::vector<TBatchFileResult>& results) {
    size_t n = 0;
    for (const TBatchFileResult& result : results) n += result.Signed ? 1 : 0;
    return n;
  }

  TBatchSigner batch_{[] { return std::make_unique<TToolkitBinding>(); }};
  tavra_fixture::ScriptedPrompt prompt_;
  tavra_test::ScratchDir scratch_;
  std::vector<std::string> inputs_;
  TBatchOptions options_;
  TSigningRequest request_;
};

TEST_F(BatchSignerTest, TheTokenLogsInOnceForTheWholeBatch) {
  prompt_.Answer = Store::Get().Pin();
  size_t calls = 0, lastDone = 0;
  batch_.SetOnFileDone([&](const TBatchFileResult&, const TBatchProgress& progress) {
    ++calls;
    lastDone = progress.Done;
  });
  const std::vector<TBatchFileResult> results = batch_.Run(request_, inputs_, options_);
  EXPECT_EQ(SignedCount(results), inputs_.size()) << results[0].Error;
  EXPECT_EQ(prompt_.Calls, 1);
  EXPECT_EQ(calls, inputs_.size());
  EXPECT_EQ(lastDone, inputs_.size());
  EXPECT_EQ(results[5].OutputPath, options_.OutputDir + "/doc5-signed.pdf");
  EXPECT_TRUE(std::filesystem::exists(results[5].OutputPath));
}

TEST_F(BatchSignerTest, ARefusedPinIsNotTriedAgainAndTheRestIsSkipped) {
  prompt_.Answer = "0000";
  TOncePasswordPrompt once(prompt_, [this] { batch_.RequestStop(); });
  platform::KeyStore::Instance().SetPasswordPrompt(&once);
  options_.Jobs = 1;
  const std::vector<TBatchFileResult> results = batch_.Run(request_, inputs_, options_);
  EXPECT_EQ(SignedCount(results), 0u);
  EXPECT_EQ(prompt_.Calls, 1);
  EXPECT_EQ(results[0].Error,
            "Chyba: Signing failed: wrong password or PIN for token \"TavraCard\"");
  EXPECT_EQ(results.back().Error, kMsgSkipped);
  EXPECT_TRUE(tavra_test::ListDir(options_.OutputDir).empty());
}

TEST(BatchOutputPath, SuffixGoesBeforeThePdfExtension) {
  EXPECT_EQ(BatchOutputPath("/a/b/Faktura.pdf", "/out/", "-signed"), "/out/Faktura-signed.pdf");
  EXPECT_EQ(BatchOutputPath("x.PDF", "out", "_p"), "out/x_p.PDF");
  EXPECT_EQ(BatchOutputPath("notes", "/", "-signed"), "/notes-signed");
  EXPECT_EQ(BatchOutputPath(".pdf", "o", "-s"), "o/.pdf-s");
}

}  // namespace
