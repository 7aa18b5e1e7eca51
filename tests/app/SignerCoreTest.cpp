// The Sign action and the signing run against a fake toolkit: every message of
// the workflow and the way it is reported, the command-line rules, the
// temporary file and the output file on every path.
#include "app/core/SignerCore.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "app/core/SignerSettings.h"
#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

using tavra_test::FakeToolkit;
using tavra_test::ListDir;
using tavra_test::ReadFile;
using tavra_test::RecordingReporter;
using tavra_test::Report;
using tavra_test::ScratchDir;
using tavra_test::Way;

constexpr char kInput[] = "%PDF-1.4\n1 0 obj<<>>endobj\n%%EOF\n";
constexpr char kOldOutput[] = "old output, must survive failures";

class SignerCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir.Write("in.pdf", kInput);
    output = dir.Write("out.pdf", kOldOutput);
    toolkit.AddCertificate("Test CA", std::string("\x0A\x1B", 2));
    form.SignedPDF = input;
    form.TargetPDF = output;
    form.CertIssuerName = "Test CA";
    form.CertSerialNumber = "0A1B";
    form.CertCommonName = "Jan Novák";
    form.SigReason = "Schvaluji tento dokument";
    form.SignatureTypeIndex = 1;
  }

  // A core over the fake toolkit; arguments as the process would get them.
  std::unique_ptr<TSignerCore> MakeCore(std::vector<std::string> args = {"tavrapdfsg"}) {
    auto core = std::make_unique<TSignerCore>(toolkit, reporter, ReadCommandLine(args));
    core->SetClock([] { return 45000.25; });
    return core;
  }

  std::vector<std::string> SignModeArgs() {
    return {"tavrapdfsg", "-SIGN" + input, "-PUT" + output};
  }

  void ExpectOutputUntouched() { EXPECT_EQ(ReadFile(output), kOldOutput); }
  // The temporary copy is a hidden staging file beside the output.
  void ExpectNoTempFiles() {
    for (const std::string& name : ListDir(dir.Path())) EXPECT_NE(name[0], '.') << name;
  }

  ScratchDir dir;
  std::string input, output;
  FakeToolkit toolkit;
  RecordingReporter reporter;
  TSignerForm form;
};

// ---- Reporting: the first way (application-wide error display) ----

TEST_F(SignerCoreTest, EmptyInputPathIsReportedByTheErrorDisplay) {
  form.SignedPDF = " \t ";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(
      reporter.reports,
      (std::vector<Report>{{Way::ApplicationError, "Není zadána cesta k podepisovanému souboru"}}));
  EXPECT_TRUE(toolkit.calls.empty());
}

TEST_F(SignerCoreTest, MissingInputFileNamesTheTrimmedPath) {
  form.SignedPDF = "  " + dir.File("missing.pdf") + "\n";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{
                {Way::ApplicationError, "Soubor \"" + dir.File("missing.pdf") + "\" nenalezen"}}));
}

TEST_F(SignerCoreTest, DirectoryDoesNotCountAsInputFile) {
  form.SignedPDF = dir.MakeDir("folder");
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{
                {Way::ApplicationError, "Soubor \"" + dir.File("folder") + "\" nenalezen"}}));
}

TEST_F(SignerCoreTest, EmptyOutputPathIsReportedAfterTheInputCheck) {
  form.TargetPDF = "\t";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(
      reporter.reports,
      (std::vector<Report>{{Way::ApplicationError, "Není zadána cesta k výstupnímu souboru"}}));
}

TEST_F(SignerCoreTest, CertificateErrorsAreReportedByTheErrorDisplay) {
  struct Case {
    std::function<void(TSignerForm&, FakeToolkit&)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](TSignerForm& f, FakeToolkit&) { f.CertIssuerName.clear(); },
       "Není zadán vydavatel certifikátu"},
      {[](TSignerForm& f, FakeToolkit&) { f.CertSerialNumber.clear(); },
       "Není zadáno sériové číslo certifikátu"},
      {[](TSignerForm& f, FakeToolkit&) { f.CertSerialNumber = "0A1C"; }, "Certfikát nenalezen"},
      {[](TSignerForm&, FakeToolkit& t) { t.certificates.clear(); }, "Certfikát nenalezen"},
      {[](TSignerForm&, FakeToolkit& t) {
         t.certificates.clear();
         t.AddCertificate("Test CA", std::string("\x0A\x1B", 2), "X", /*canSign=*/false, true);
       },
       "Certfikát nelze použít pro podepisování"},
      {[](TSignerForm&, FakeToolkit& t) {
         t.certificates.clear();
         t.AddCertificate("Test CA", std::string("\x0A\x1B", 2), "X", true, /*hasKey=*/false);
       },
       "Certfikát nelze použít pro podepisování"},
  };
  for (const auto& c : cases) {
    toolkit.certificates.clear();
    toolkit.AddCertificate("Test CA", std::string("\x0A\x1B", 2));
    reporter.reports.clear();
    toolkit.calls.clear();
    TSignerForm f = form;
    c.change(f, toolkit);
    auto core = MakeCore(SignModeArgs());
    EXPECT_FALSE(core->SignAction(SigningRequestOf(f))) << c.message;
    EXPECT_EQ(reporter.reports, (std::vector<Report>{{Way::ApplicationError, c.message}}));
    EXPECT_FALSE(core->CommandLine().CmdLineActive) << c.message;
    EXPECT_TRUE(toolkit.calls.empty()) << c.message;
    ExpectOutputUntouched();
    ExpectNoTempFiles();
  }
}

// ---- Reporting: the second way (the workflow's own message boxes) ----

TEST_F(SignerCoreTest, SuccessWritesInputPlusSignatureAndReportsInformation) {
  // The named staging file, so that where the document was opened shows.
  const tavra_test::ScopedEnv named("TAVRA_NAMED_STAGING_FOR_TESTING", "1");
  auto core = MakeCore();
  EXPECT_FALSE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowInformation, "Podepsání proběhlo úspěšně"}}));
  EXPECT_EQ(ReadFile(output), std::string(kInput) + FakeToolkit::kSignedTail);
  EXPECT_EQ(toolkit.calls,
            (std::vector<std::string>{"Open", "Encrypted", "AddSignature", "ConfigureSignature",
                                      "UseSigningCertificate", "Close(true)"}));
  // The document was opened from a copy staged beside the output, never from the input.
  EXPECT_TRUE(toolkit.temp_existed_at_open);
  EXPECT_EQ(platform::DirectoryOf(toolkit.temp_path_at_open), dir.Path());
  EXPECT_EQ(platform::FileNameOf(toolkit.temp_path_at_open).rfind(".out.pdf.tmp", 0), 0u);
  EXPECT_EQ(toolkit.content_at_open, kInput);
  EXPECT_EQ(ReadFile(input), kInput);
  EXPECT_EQ(toolkit.configured_index, 3);
  EXPECT_EQ(toolkit.used_certificate, toolkit.certificates[0].get());
  EXPECT_EQ(core->LastOutcome(), TSignOutcome::soSucceeded);
  ExpectNoTempFiles();
}

TEST_F(SignerCoreTest, CopyFailureOfTheInputIsAWorkflowErrorAndRemovesTheTemporaryFile) {
  // /proc/self/mem is a regular file whose first page cannot be read (EIO).
  form.SignedPDF = "/proc/self/mem";
  auto core = MakeCore(SignModeArgs());
  EXPECT_TRUE(core->SignAction(SigningRequestOf(form)));  // returned normally: sign mode ends
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Nepodařilo se vytvořit dočasný soubor"}}));
  EXPECT_TRUE(toolkit.calls.empty());
  ExpectOutputUntouched();
  ExpectNoTempFiles();  // a failed copy must not leave the temporary file behind
  EXPECT_EQ(core->ExitStatus(), 1);
}

TEST_F(SignerCoreTest, EncryptedDocumentIsRefusedAndClosedWithoutSaving) {
  toolkit.encrypted = true;
  auto core = MakeCore(SignModeArgs());
  EXPECT_TRUE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Zašifrovaný dokument nelze podepsat"}}));
  EXPECT_EQ(toolkit.calls, (std::vector<std::string>{"Open", "Encrypted", "Close(false)"}));
  ExpectOutputUntouched();
  ExpectNoTempFiles();
  EXPECT_EQ(core->ExitStatus(), 1);
}

TEST_F(SignerCoreTest, ToolkitErrorsBeforeSavingCloseWithoutSavingAndShowChyba) {
  struct Case {
    std::string FakeToolkit::*failure;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {&FakeToolkit::fail_open, {"Open", "Close(false)"}},
      {&FakeToolkit::fail_add, {"Open", "Encrypted", "AddSignature", "Close(false)"}},
      {&FakeToolkit::fail_configure,
       {"Open", "Encrypted", "AddSignature", "ConfigureSignature", "Close(false)"}},
      {&FakeToolkit::fail_use_cert,
       {"Open", "Encrypted", "AddSignature", "ConfigureSignature", "UseSigningCertificate",
        "Close(false)"}},
  };
  for (const auto& c : cases) {
    FakeToolkit fresh;
    fresh.AddCertificate("Test CA", std::string("\x0A\x1B", 2));
    fresh.*(c.failure) = "Bad object";
    RecordingReporter rep;
    TSignerCore core(fresh, rep, ReadCommandLine(SignModeArgs()));
    EXPECT_TRUE(core.SignAction(SigningRequestOf(form)));
    EXPECT_EQ(rep.reports, (std::vector<Report>{{Way::WorkflowError, "Chyba: Bad object"}}));
    EXPECT_EQ(fresh.calls, c.calls);
    EXPECT_TRUE(core.CommandLine().CmdLineActive);
    EXPECT_EQ(core.ExitStatus(), 1);
    ExpectOutputUntouched();
    ExpectNoTempFiles();
  }
}

TEST_F(SignerCoreTest, ErrorInsideCloseWithSavingIsNotFollowedBySecondClose) {
  toolkit.fail_close_save = "Failed to sign data (error code is 8194)";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{
                {Way::WorkflowError, "Chyba: Failed to sign data (error code is 8194)"}}));
  EXPECT_EQ(toolkit.calls.back(), "Close(true)");
  ExpectOutputUntouched();
  ExpectNoTempFiles();
}

TEST_F(SignerCoreTest, FailingCloseWithoutSavingDoesNotHideTheFirstError) {
  toolkit.fail_add = "Invalid document";
  toolkit.fail_close_nosave = "second failure";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Chyba: Invalid document"}}));
  ExpectNoTempFiles();
}

TEST_F(SignerCoreTest, FailedCopyToTheOutputIsAWorkflowError) {
  // A folder cannot be replaced by a file; the copy fails after signing.
  const std::string folder_output = dir.MakeDir("out-folder");
  dir.Write("out-folder/keep.txt", "keep");
  form.TargetPDF = folder_output;
  auto core = MakeCore(SignModeArgs());
  EXPECT_TRUE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Nepodařilo se uložit dočasný soubor"}}));
  EXPECT_EQ(ReadFile(folder_output + "/keep.txt"), "keep");
  EXPECT_EQ(ListDir(folder_output).size(), 1u);
  EXPECT_EQ(ListDir(dir.Path()).size(), 3u);  // in.pdf out.pdf out-folder: no staging left
  ExpectNoTempFiles();
  EXPECT_EQ(core->ExitStatus(), 1);
}

TEST_F(SignerCoreTest, OutputFolderWithoutRoomForTheCopyIsAWorkflowErrorBeforeOpening) {
  form.TargetPDF = dir.File("missing/out.pdf");
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Nepodařilo se uložit dočasný soubor"}}));
  EXPECT_TRUE(toolkit.calls.empty());
  ExpectNoTempFiles();

  // An unreadable input is named first, whatever the output's folder.
  reporter.reports.clear();
  TSigningRequest request = SigningRequestOf(form);
  request.InputPath = dir.File("gone.pdf");
  EXPECT_FALSE(MakeCore()->SignDocument(request));
  EXPECT_EQ(reporter.reports,
            (std::vector<Report>{{Way::WorkflowError, "Nepodařilo se vytvořit dočasný soubor"}}));
}

TEST_F(SignerCoreTest, OutputEqualToInputIsOverwrittenOnlyAfterSuccessfulSigning) {
  form.TargetPDF = input;
  toolkit.fail_close_save = "Bad object";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(ReadFile(input), kInput);

  FakeToolkit ok;
  ok.AddCertificate("Test CA", std::string("\x0A\x1B", 2));
  RecordingReporter rep;
  TSignerCore core(ok, rep, ReadCommandLine({"tavrapdfsg"}));
  core.SignAction(SigningRequestOf(form));
  EXPECT_EQ(ReadFile(input), std::string(kInput) + FakeToolkit::kSignedTail);
}

// ---- The command line: when the Sign action ends the program ----

TEST_F(SignerCoreTest, SignModeEndsAfterASuccessfulRunWithStatusZero) {
  auto core = MakeCore(SignModeArgs());
  EXPECT_TRUE(core->CommandLine().CmdLineActive);
  EXPECT_TRUE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(core->ExitStatus(), 0);
}

TEST_F(SignerCoreTest, FailedValidationInSignModeKeepsTheWindowAndLaterRunsDoNotEnd) {
  auto core = MakeCore(SignModeArgs());
  TSignerForm bad = form;
  bad.CertSerialNumber = "FFFF";
  EXPECT_FALSE(core->SignAction(SigningRequestOf(bad)));
  EXPECT_FALSE(core->CommandLine().CmdLineActive);
  EXPECT_EQ(core->ExitStatus(), 1);

  EXPECT_FALSE(
      core->SignAction(SigningRequestOf(form)));  // now succeeds, but no longer ends the program
  EXPECT_EQ(reporter.reports.back(),
            (Report{Way::WorkflowInformation, "Podepsání proběhlo úspěšně"}));
  EXPECT_EQ(core->ExitStatus(), 0);  // the latest run wrote the file

  toolkit.encrypted = true;
  EXPECT_FALSE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(core->ExitStatus(), 1);
}

TEST_F(SignerCoreTest, InteractiveRunsNeverEndTheProgramAndExitWithZero) {
  auto core = MakeCore();
  EXPECT_FALSE(core->CommandLine().CmdLineActive);
  EXPECT_FALSE(core->SignAction(SigningRequestOf(form)));
  toolkit.encrypted = true;
  EXPECT_FALSE(core->SignAction(SigningRequestOf(form)));
  EXPECT_EQ(core->ExitStatus(), 0);
}

TEST_F(SignerCoreTest, SignModeWithoutAnyRunExitsWithOne) {
  EXPECT_EQ(MakeCore(SignModeArgs())->ExitStatus(), 1);
  EXPECT_EQ(MakeCore({"tavrapdfsg", "-SHOW" + input})->ExitStatus(), 0);
}

// ---- The start-up call ----

TEST_F(SignerCoreTest, StartupFillsBothPathsInSignMode) {
  TSignerForm f;
  EXPECT_EQ(MakeCore(SignModeArgs())->HandleStartup(f), TStartupAction::saFillPaths);
  EXPECT_EQ(f.SignedPDF, input);
  EXPECT_EQ(f.TargetPDF, output);

  TSignerForm g;
  EXPECT_EQ(MakeCore({"tavrapdfsg", "-SIGN" + input})->HandleStartup(g),
            TStartupAction::saFillPaths);
  EXPECT_EQ(g.TargetPDF, "");
  EXPECT_FALSE(SignActionEnabled(g));
}

TEST_F(SignerCoreTest, StartupOpensInShowModeAndDoesNothingInteractively) {
  TSignerForm f;
  EXPECT_EQ(MakeCore({"tavrapdfsg", "-SHOW" + input})->HandleStartup(f),
            TStartupAction::saOpenAndQuit);
  EXPECT_EQ(MakeCore({"tavrapdfsg"})->HandleStartup(f), TStartupAction::saNone);
  EXPECT_EQ(MakeCore({"tavrapdfsg", "-PUTx"})->HandleStartup(f), TStartupAction::saNone);
  EXPECT_TRUE(f.SignedPDF.empty());
}

TEST_F(SignerCoreTest, MissingCommandLineFileIsAStartupError) {
  RecordingReporter rep;
  const std::string missing = dir.File("nope.pdf");
  EXPECT_FALSE(CheckStartupPath(ReadCommandLine({"x", "-SIGN" + missing}), rep));
  EXPECT_FALSE(CheckStartupPath(ReadCommandLine({"x", "-show" + missing}), rep));
  EXPECT_EQ(rep.reports,
            (std::vector<Report>{{Way::StartupError, "Soubor \"" + missing + "\" nenalezen"},
                                 {Way::StartupError, "Soubor \"" + missing + "\" nenalezen"}}));
  rep.reports.clear();
  // The PUT path is not checked; no switches means no check.
  EXPECT_TRUE(CheckStartupPath(ReadCommandLine({"x", "-SIGN" + input, "-PUT" + missing}), rep));
  EXPECT_TRUE(CheckStartupPath(ReadCommandLine({"x", missing}), rep));
  EXPECT_TRUE(rep.reports.empty());
}

// ---- The signature entry ----

TEST(SignatureSetup, TypeAndVisibilityFollowTheKind) {
  TSigningRequest r;
  r.Kind = TSignatureKind::skInvisible;
  auto s = MakeSignatureSetup(r, 1.0);
  EXPECT_EQ(s.SignatureType, TSignerSignatureType::sstDocument);
  EXPECT_TRUE(s.Invisible);
  EXPECT_FALSE(s.AutoFontEncoding);

  r.Kind = TSignatureKind::skVisible;
  s = MakeSignatureSetup(r, 1.0);
  EXPECT_EQ(s.SignatureType, TSignerSignatureType::sstDocument);
  EXPECT_FALSE(s.Invisible);
  EXPECT_TRUE(s.AutoFontEncoding);

  r.Kind = TSignatureKind::skCertifying;
  s = MakeSignatureSetup(r, 1.0);
  EXPECT_EQ(s.SignatureType, TSignerSignatureType::sstMDP);
  EXPECT_FALSE(s.Invisible);
  EXPECT_TRUE(s.AutoFontEncoding);
}

TEST(SignatureSetup, StoredSigTypeOutsideTheListIsAVisibleDocumentSignature) {
  EXPECT_EQ(SignatureKindOfSigType(0), TSignatureKind::skInvisible);
  EXPECT_EQ(SignatureKindOfSigType(1), TSignatureKind::skVisible);
  EXPECT_EQ(SignatureKindOfSigType(2), TSignatureKind::skCertifying);
  for (const int other : {3, 7, 255, -1})
    EXPECT_EQ(SignatureKindOfSigType(other), TSignatureKind::skVisible) << other;
}

TEST(SignatureSetup, ReasonIsUtf8AndEmptyReasonStaysEmpty) {
  TSigningRequest r;
  r.Reason = "Schvaluji tento dokument";
  EXPECT_EQ(MakeSignatureSetup(r, 0).Reason, "Schvaluji tento dokument");
  r.Reason = "Důvod \xFF";
  EXPECT_EQ(MakeSignatureSetup(r, 0).Reason, "Důvod \xEF\xBF\xBD");
  r.Reason.clear();
  EXPECT_EQ(MakeSignatureSetup(r, 0).Reason, "");
  EXPECT_EQ(MakeSignatureSetup(r, 0).AuthorName, "");
  EXPECT_EQ(MakeSignatureSetup(r, 44927.5).SigningTime, 44927.5);
}

TEST_F(SignerCoreTest, WorkflowPassesTheOptionsOfTheFormToTheEntry) {
  form.SignatureTypeIndex = 2;
  form.SigReason = "Jsem autor tohoto dokumentu";
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(toolkit.setup.SignatureType, TSignerSignatureType::sstMDP);
  EXPECT_EQ(toolkit.setup.Reason, "Jsem autor tohoto dokumentu");
  EXPECT_EQ(toolkit.setup.SigningTime, 45000.25);

  // No selection in the type list is SigType 255: a visible document signature.
  form.SignatureTypeIndex = -1;
  MakeCore()->SignAction(SigningRequestOf(form));
  EXPECT_EQ(toolkit.setup.SignatureType, TSignerSignatureType::sstDocument);
  EXPECT_FALSE(toolkit.setup.Invisible);
}

TEST(SignatureSetup, CurrentTimeIsUtcDaysSince1899) {
  const double now = CurrentUtcDateTime();
  const double unix_days = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  EXPECT_NEAR(now, unix_days, 2.0 / 86400.0);
}

// ---- Certificate lookup ----

TEST_F(SignerCoreTest, LookupFoldsAsciiLettersOnly) {
  toolkit.certificates.clear();
  toolkit.AddCertificate("ČESKÁ AUTORITA", std::string("\x0A\x1B", 2));
  toolkit.AddCertificate("TEST CA", std::string("\x0A\x1B", 2), "first");
  toolkit.AddCertificate("Test CA", std::string("\x0A\x1B", 2), "second");
  auto core = MakeCore();
  const ISignerCertificate* found = core->FindSigningCertificate("test ca", "0a1b");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->SubjectCommonName(), "first");  // storage order, first match wins
  EXPECT_NE(core->FindSigningCertificate("ČESKÁ AUTORITA", "0A1B"), nullptr);
  // Accented letters in a different case do not match.
  EXPECT_EQ(core->FindSigningCertificate("čESKÁ AUTORITA", "0A1B"), nullptr);
  EXPECT_EQ(core->FindSigningCertificate("Test CA ", "0A1B"), nullptr);
  EXPECT_EQ(core->FindSigningCertificate("Test CA", "0A1B0"), nullptr);
}

TEST_F(SignerCoreTest, LookupUsesPaddedSerialTextAndSanitisedIssuer) {
  toolkit.certificates.clear();
  toolkit.AddCertificate("Bad \xC3", std::string("\x80\x01", 2));
  auto core = MakeCore();
  EXPECT_NE(core->FindSigningCertificate("Bad ?", "008001"), nullptr);
  EXPECT_EQ(core->FindSigningCertificate("Bad ?", "8001"), nullptr);
}

// ---- Settings ----

class MemorySettings final : public ISignerSettings {
 public:
  TPdfSignerOptions stored;
  std::string fail;
  void Read(TPdfSignerOptions& options) override { options = stored; }
  void Write(const TPdfSignerOptions& options) override {
    if (!fail.empty()) throw std::runtime_error(fail);
    stored = options;
  }
};

TEST_F(SignerCoreTest, SaveSettingsStoresOnlyTheSettingsAndSaysHotovo) {
  MemorySettings settings;
  auto core = MakeCore();
  core->SaveSettingsAction(settings, form);
  EXPECT_EQ(reporter.reports, (std::vector<Report>{{Way::Plain, "hotovo"}}));
  EXPECT_EQ(settings.stored.CertIssuer, "Test CA");
  EXPECT_EQ(settings.stored.SigType, 1);

  TSignerForm loaded;
  TSignerCore::LoadSettings(settings, loaded);
  EXPECT_EQ(loaded.CertSerialNumber, "0A1B");
  EXPECT_EQ(loaded.SigReason, "Schvaluji tento dokument");
  EXPECT_TRUE(loaded.SignedPDF.empty());
  EXPECT_TRUE(loaded.TargetPDF.empty());
}

TEST_F(SignerCoreTest, SaveErrorGoesToTheErrorDisplayWithoutHotovo) {
  MemorySettings settings;
  settings.fail = "Cannot create file \"/ro/tavrapdfsg.ini\"";
  MakeCore()->SaveSettingsAction(settings, form);
  EXPECT_EQ(
      reporter.reports,
      (std::vector<Report>{{Way::ApplicationError, "Cannot create file \"/ro/tavrapdfsg.ini\""}}));
}

}  // namespace
}  // namespace tavra
