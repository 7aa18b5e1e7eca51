#include "app/core/SignerCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "app/core/SignerErrors.h"
#include "app/core/SignerReporter.h"
#include "app/core/SignerSettings.h"
#include "app/core/TempFile.h"
#include "toolkit/common/CvConstants.h"
#include "platform/PlatformFiles.h"
#include "toolkit/common/CvStream.h"

namespace tavra {

namespace {

constexpr double kUnixEpochAsDateTime = 25569.0;  // 1970-01-01 in days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// The input file, open for reading for the length of the copy.
class TInputFile {
 public:
  explicit TInputFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC, 0)) {}
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

TSignatureSetup MakeSignatureSetup(const TSigningRequest& request, double signingTimeUtc) {
  TSignatureSetup setup;
  setup.AuthorName.clear();
  setup.SigningTime = signingTimeUtc;
  if (!request.Reason.empty()) setup.Reason = ToUtf8Text(request.Reason);
  setup.SignatureType = TSignerSignatureType::sstDocument;
  switch (request.Kind) {
    case TSignatureKind::skInvisible:
      setup.Invisible = true;
      break;
    case TSignatureKind::skVisible:
      setup.Invisible = false;
      break;
    case TSignatureKind::skCertifying:
      setup.SignatureType = TSignerSignatureType::sstMDP;
      setup.Invisible = false;
      break;
  }
  if (!setup.Invisible) {
    setup.AutoFontEncoding = true;
    setup.FontPath = request.FontPath;
    setup.ImagePath = request.ImagePath;
  }
  setup.Placement = request.Placement;
  setup.Placement.Field = ToUtf8Text(request.Placement.Field);
  setup.UsePSS = request.UsePSS;
  setup.CAdES = request.Level != TPAdESLevel::plNone;
  if (request.Digest == "sha256")
    setup.HashAlgorithm = corvane::ALG_SHA256;
  else if (request.Digest == "sha384")
    setup.HashAlgorithm = corvane::ALG_SHA384;
  else if (request.Digest == "sha512")
    setup.HashAlgorithm = corvane::ALG_SHA512;
  setup.Timestamp = request.Timestamp;
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

bool TSignerCore::SignAction(const TSigningRequest& request) {
  if (Sign(request) == TSignOutcome::soRefused) {
    command_line_.CmdLineActive = false;
    return false;
  }
  return command_line_.CmdLineActive;
}

TSignOutcome TSignerCore::Sign(const TSigningRequest& request) {
  try {
    TSigningRequest checked = request;
    checked.InputPath = TrimText(request.InputPath);
    checked.OutputPath = TrimText(request.OutputPath);
    if (checked.InputPath.empty()) throw ESignerError(kMsgNoInputPath);
    if (!platform::FileExists(checked.InputPath)) {
      throw ESignerError(FileNotFoundText(checked.InputPath));
    }
    if (checked.OutputPath.empty()) throw ESignerError(kMsgNoOutputPath);
    last_outcome_ = SignDocument(checked) ? TSignOutcome::soSucceeded : TSignOutcome::soFailed;
  } catch (const std::exception& e) {
    last_outcome_ = TSignOutcome::soRefused;
    reporter_.ShowApplicationError(e.what());
  } catch (...) {
    last_outcome_ = TSignOutcome::soRefused;
    reporter_.ShowApplicationError("Unknown error");
  }
  return last_outcome_;
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

bool TSignerCore::SignDocument(const TSigningRequest& request) {
  const ISignerCertificate* certificate =
      FindSigningCertificate(request.CertIssuer, request.CertSerial);
  if (certificate == nullptr) throw ESignerError(kMsgCertNotFound);
  if (!certificate->KeyAlgorithmCanSign() || !certificate->PrivateKeyExists()) {
    throw ESignerError(kMsgCertCannotSign);
  }

  // The input is opened first: an input that cannot be read is a failed
  // temporary copy, whatever the output's folder is like.
  const TInputFile input(request.InputPath);
  if (input.Descriptor() < 0) {
    reporter_.ShowWorkflowError(kMsgTempCopyFailed);
    return false;
  }
  // The temporary copy is the output's staging file; one that cannot be made
  // in the output's folder means the output cannot be written. From here on
  // the guard deletes it whichever way we leave, unless it became the output.
  TTempFileGuard temp;
  if (!MakeStagingTempFile(request.OutputPath, temp)) {
    reporter_.ShowWorkflowError(kMsgOutputCopyFailed);
    return false;
  }
  if (!temp.CopyFrom(input.Descriptor())) {
    reporter_.ShowWorkflowError(kMsgTempCopyFailed);
    return false;
  }

  // A stream that cannot be opened is an error of the first kind. The
  // document works in this stream directly: it is our own disposable copy.
  // A copy without a name yet goes by the output's name in messages.
  auto stream = std::make_unique<corvane::TOvFileStream>(
      ::fcntl(temp.Descriptor(), F_DUPFD_CLOEXEC, 0),
      temp.Path().empty() ? request.OutputPath : temp.Path());

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
    toolkit_.ConfigureSignature(index, MakeSignatureSetup(request, clock_ ? clock_() : 0.0));
    toolkit_.UseSigningCertificate(*certificate);
    ok = true;
    close_attempted = true;
    toolkit_.Close(true);
    if (request.Level == TPAdESLevel::plBLT || request.Level == TPAdESLevel::plBLTA) {
      toolkit_.AddValidationData(*stream, request, [this](const std::string& name) {
        const std::string text = kMsgFetchingValidationData + name;
        if (progress_line_)
          progress_line_(text);
        else
          reporter_.ShowProgressLine(text);
      });
    }
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
  if (!temp.Commit(error, replace_output_)) {
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
