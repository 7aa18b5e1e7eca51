#include "app/core/SignerCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "app/core/SignerErrors.h"
#include "app/core/SignerReporter.h"
#include "app/core/SignerSettings.h"
#include "app/core/TempFile.h"
#include "platform/PlatformFiles.h"
#include "toolkit/common/CvStream.h"

namespace tavra {

namespace {

constexpr double kUnixEpochAsDateTime = 25569.0;  // 1970-01-01 in days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// The input file, open for reading for the length of the copy.
class TInputFile {
 public:
  explicit TInputFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~TInputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;
  int Descriptor() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string FileNotFoundText(const std::string& path) {
  return "Soubor \"" + path + "\" nenalezen";
}

bool CheckStartupPath(const TCommandLine& commandLine, ISignerReporter& reporter) {
  if (commandLine.CmdLineActive && !platform::FileExists(commandLine.CmdLinePath)) {
    reporter.ShowStartupError(FileNotFoundText(commandLine.CmdLinePath));
    return false;
  }
  return true;
}

TSignatureSetup MakeSignatureSetup(const TPdfSignerOptions& options, double signingTimeUtc) {
  TSignatureSetup setup;
  setup.AuthorName.clear();
  setup.SigningTime = signingTimeUtc;
  if (!options.SigReason.empty()) setup.Reason = ToUtf8Text(options.SigReason);
  setup.SignatureType = TSignerSignatureType::sstDocument;
  switch (options.SigType) {
    case 0:
      setup.Invisible = true;
      break;
    case 1:
      setup.Invisible = false;
      break;
    case 2:
      setup.SignatureType = TSignerSignatureType::sstMDP;
      setup.Invisible = false;
      break;
    default:
      break;  // a new entry is visible by default
  }
  if (!setup.Invisible) setup.AutoFontEncoding = true;
  return setup;
}

double CurrentUtcDateTime() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return kUnixEpochAsDateTime + static_cast<double>(ms) / 1000.0 / kSecondsPerDay;
}

TSignerCore::TSignerCore(ISignerToolkit& toolkit, ISignerReporter& reporter,
                         TCommandLine commandLine)
    : toolkit_(toolkit),
      reporter_(reporter),
      command_line_(std::move(commandLine)),
      started_in_sign_mode_(command_line_.CmdLineActive && command_line_.CmdLineSignMode),
      clock_(CurrentUtcDateTime) {}

void TSignerCore::SetClock(std::function<double()> clock) { clock_ = std::move(clock); }

TStartupAction TSignerCore::HandleStartup(TSignerForm& form) const {
  if (!command_line_.CmdLineActive) return TStartupAction::saNone;
  if (command_line_.CmdLineSignMode) {
    form.SignedPDF = command_line_.CmdLinePath;
    form.TargetPDF = command_line_.CmdLineOutput;
    return TStartupAction::saFillPaths;
  }
  return TStartupAction::saOpenAndQuit;
}

bool TSignerCore::SignAction(const TSignerForm& form) {
  bool signed_ok = false;
  try {
    const std::string input = TrimText(form.SignedPDF);
    const std::string output = TrimText(form.TargetPDF);
    if (input.empty()) throw ESignerError(kMsgNoInputPath);
    if (!platform::FileExists(input)) throw ESignerError(FileNotFoundText(input));
    if (output.empty()) throw ESignerError(kMsgNoOutputPath);
    TPdfSignerOptions options;
    FormToOptions(form, options);
    signed_ok = SignDocument(input, output, options);
  } catch (const std::exception& e) {
    command_line_.CmdLineActive = false;
    last_outcome_ = TSignOutcome::soFailed;
    reporter_.ShowApplicationError(e.what());
    return false;
  } catch (...) {
    command_line_.CmdLineActive = false;
    last_outcome_ = TSignOutcome::soFailed;
    reporter_.ShowApplicationError("Unknown error");
    return false;
  }
  last_outcome_ = signed_ok ? TSignOutcome::soSucceeded : TSignOutcome::soFailed;
  return command_line_.CmdLineActive;
}

const ISignerCertificate* TSignerCore::FindSigningCertificate(const std::string& issuer,
                                                              const std::string& serial) const {
  if (issuer.empty()) throw ESignerError(kMsgNoIssuer);
  if (serial.empty()) throw ESignerError(kMsgNoSerial);
  const size_t count = toolkit_.CertificateCount();
  for (size_t i = 0; i < count; ++i) {
    const ISignerCertificate& certificate = toolkit_.Certificate(i);
    if (SameTextAscii(FromUtf8Text(certificate.IssuerCommonName()), issuer) &&
        SameTextAscii(SerialNumberText(certificate), serial)) {
      return &certificate;
    }
  }
  return nullptr;
}

bool TSignerCore::SignDocument(const std::string& inputPath, const std::string& outputPath,
                               const TPdfSignerOptions& options) {
  const ISignerCertificate* certificate =
      FindSigningCertificate(options.CertIssuer, options.CertSerial);
  if (certificate == nullptr) throw ESignerError(kMsgCertNotFound);
  if (!certificate->KeyAlgorithmCanSign() || !certificate->PrivateKeyExists()) {
    throw ESignerError(kMsgCertCannotSign);
  }

  // The input is opened first: an input that cannot be read is a failed
  // temporary copy, whatever the output's folder is like.
  const TInputFile input(inputPath);
  if (input.Descriptor() < 0) {
    reporter_.ShowWorkflowError(kMsgTempCopyFailed);
    return false;
  }
  // The temporary copy is the output's staging file; one that cannot be made
  // in the output's folder means the output cannot be written. From here on
  // the guard deletes it whichever way we leave, unless it became the output.
  TTempFileGuard temp;
  if (!MakeStagingTempFile(outputPath, temp)) {
    reporter_.ShowWorkflowError(kMsgOutputCopyFailed);
    return false;
  }
  if (!temp.CopyFrom(input.Descriptor())) {
    reporter_.ShowWorkflowError(kMsgTempCopyFailed);
    return false;
  }

  // A stream that cannot be opened is an error of the first kind. The
  // document works in this stream directly: it is our own disposable copy.
  auto stream = std::make_unique<corvane::TOvFileStream>(
      ::fcntl(temp.Descriptor(), F_DUPFD_CLOEXEC, 0), temp.Path());

  bool ok = false;
  bool close_attempted = false;
  try {
    toolkit_.Open(*stream);
    if (toolkit_.Encrypted()) {
      close_attempted = true;
      try {
        toolkit_.Close(false);
      } catch (...) {
        // Nothing was written; the refusal below is what the user needs to see.
      }
      stream.reset();
      reporter_.ShowWorkflowError(kMsgEncrypted);
      return false;
    }
    const int index = toolkit_.AddSignature();
    toolkit_.ConfigureSignature(index, MakeSignatureSetup(options, clock_ ? clock_() : 0.0));
    toolkit_.UseSigningCertificate(*certificate);
    ok = true;
    close_attempted = true;
    toolkit_.Close(true);
    // The signed bytes must reach the file before it becomes the output; a
    // failed flush is a failed signing.
    stream->Close();
    stream.reset();
  } catch (const std::exception& e) {
    ok = false;
    const std::string text = e.what();
    if (!close_attempted) {
      try {
        toolkit_.Close(false);
      } catch (...) {
        // The first error is the one to report.
      }
    }
    stream.reset();
    reporter_.ShowWorkflowError(kMsgErrorPrefix + text);
  }
  if (!ok) return false;

  std::string error;
  if (!temp.Commit(error)) {
    reporter_.ShowWorkflowError(kMsgOutputCopyFailed);
    return false;
  }
  reporter_.ShowWorkflowInformation(kMsgSigned);
  return true;
}

void TSignerCore::LoadSettings(ISignerSettings& settings, TSignerForm& form) {
  TPdfSignerOptions options;
  settings.Read(options);
  OptionsToForm(options, form);
}

void TSignerCore::SaveSettingsAction(ISignerSettings& settings, const TSignerForm& form) {
  try {
    TPdfSignerOptions options;
    FormToOptions(form, options);
    settings.Write(options);
  } catch (const std::exception& e) {
    reporter_.ShowApplicationError(e.what());
    return;
  }
  reporter_.ShowPlainMessage(kMsgSettingsSaved);
}

int TSignerCore::ExitStatus() const {
  if (!started_in_sign_mode_) return 0;
  return last_outcome_ == TSignOutcome::soSucceeded ? 0 : 1;
}

}  // namespace tavra
