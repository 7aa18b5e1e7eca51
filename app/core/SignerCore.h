// The signing workflow of the main window without the window: the Sign action
// with its validation, the signing run over a temporary copy, the certificate
// lookup, the start-up handling of the command line and the exit status.
#pragma once

#include <functional>
#include <string>

#include "app/core/LowStuff.h"
#include "app/core/RKSIni.h"
#include "app/core/SignerForm.h"
#include "app/core/SignerToolkit.h"
#include "app/core/SigningRequest.h"

namespace tavra {

class ISignerReporter;
class ISignerSettings;

enum class TSignOutcome {
  soNotRun,
  soSucceeded,
  soFailed,   // reported by the workflow's own message boxes
  soRefused,  // refused before the document was opened, on the error display
};

// What the deferred start-up call has to do.
enum class TStartupAction {
  saNone,         // interactive start
  saFillPaths,    // sign mode: the paths were put into the form
  saOpenAndQuit,  // SHOW mode: hand CmdLinePath to the viewer, then end
};

// Texts of the workflow.
inline constexpr char kMsgNoInputPath[] = "Není zadána cesta k podepisovanému souboru";
inline constexpr char kMsgFileNotFound[] = "Soubor \"%s\" nenalezen";
inline constexpr char kMsgNoOutputPath[] = "Není zadána cesta k výstupnímu souboru";
inline constexpr char kMsgNoIssuer[] = "Není zadán vydavatel certifikátu";
inline constexpr char kMsgNoSerial[] = "Není zadáno sériové číslo certifikátu";
inline constexpr char kMsgCertNotFound[] = "Certfikát nenalezen";
inline constexpr char kMsgCertCannotSign[] = "Certfikát nelze použít pro podepisování";
inline constexpr char kMsgTempCopyFailed[] = "Nepodařilo se vytvořit dočasný soubor";
inline constexpr char kMsgEncrypted[] = "Zašifrovaný dokument nelze podepsat";
inline constexpr char kMsgErrorPrefix[] = "Chyba: ";
inline constexpr char kMsgOutputCopyFailed[] = "Nepodařilo se uložit dočasný soubor";
inline constexpr char kMsgSigned[] = "Podepsání proběhlo úspěšně";
inline constexpr char kMsgSettingsSaved[] = "hotovo";
inline constexpr char kMsgFetchingValidationData[] = "Získávají se údaje o platnosti certifikátu ";

// "Soubor \"<path>\" nenalezen".
std::string FileNotFoundText(const std::string& path);

// Algorithm 1 step 3: when the command line names a file that does not exist,
// reports it as a start-up error and returns false (the program then ends with
// status 0 before any window exists).
bool CheckStartupPath(const TCommandLine& commandLine, ISignerReporter& reporter);

// The signature entry's settings for the request: Reason as UTF-8, type and
// visibility by its kind.
TSignatureSetup MakeSignatureSetup(const TSigningRequest& request, double signingTimeUtc);

// Now as days since 1899-12-30, UTC.
double CurrentUtcDateTime();

class TSignerCore {
 public:
  // Without a command line the core runs as the interactive window does.
  TSignerCore(ISignerToolkit& toolkit, ISignerReporter& reporter, TCommandLine commandLine = {});

  const TCommandLine& CommandLine() const { return command_line_; }
  ISignerToolkit& Toolkit() { return toolkit_; }

  // The deferred start-up call (Algorithm 3): fills the paths in sign mode.
  TStartupAction HandleStartup(TSignerForm& form) const;

  // The window's Sign action (Algorithm 4) on the request its form makes: Sign,
  // and a refused request clears CmdLineActive. Returns true when the
  // application should end now.
  bool SignAction(const TSigningRequest& request);

  // One request from its checks to the written file: the paths, trimmed, are
  // checked in the Sign action's order, then SignDocument runs. Errors before
  // the document is opened go to the application-wide error display.
  TSignOutcome Sign(const TSigningRequest& request);

  // Algorithm 5 on checked paths. Raises for the errors before the document is
  // opened; reports everything after that itself. True when the signed file
  // was written.
  bool SignDocument(const TSigningRequest& request);

  // Algorithm 6: the first store certificate whose issuer text and serial text
  // match (ASCII letters folded); nullptr when none does.
  const ISignerCertificate* FindSigningCertificate(const std::string& issuer,
                                                   const std::string& serial) const;

  // Settings file <-> form. LoadSettings raises on a read error; the save
  // action reports a write error to the error display, else shows "hotovo".
  static void LoadSettings(ISignerSettings& settings, TSignerForm& form);
  void SaveSettingsAction(ISignerSettings& settings, const TSignerForm& form);

  TSignOutcome LastOutcome() const { return last_outcome_; }
  // 0, except in sign mode: 0 when the latest signing run wrote the signed
  // file, 1 otherwise (a failure, or no run at all), so a caller can tell.
  int ExitStatus() const;

  // Tests replace what time it is.
  void SetClock(std::function<double()> clock);

  // False keeps an existing output: the signed copy then takes its place only
  // where no file is, decided at the final rename. True by default.
  void SetReplaceOutput(bool replace) { replace_output_ = replace; }

  // Where the passing lines of a run go (the window's progress bar) instead
  // of the reporter; an empty function gives them back to the reporter.
  void SetProgressLineHandler(std::function<void(const std::string&)> handler) {
    progress_line_ = std::move(handler);
  }

 private:
  ISignerToolkit& toolkit_;
  ISignerReporter& reporter_;
  TCommandLine command_line_;
  bool started_in_sign_mode_ = false;
  TSignOutcome last_outcome_ = TSignOutcome::soNotRun;
  std::function<double()> clock_;
  bool replace_output_ = true;
  std::function<void(const std::string&)> progress_line_;
};

}  // namespace tavra
