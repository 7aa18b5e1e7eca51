#include "cli/SignCommand.h"

#ifndef _WIN32
#include <termios.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>

#include "app/core/BatchSigner.h"
#include "app/core/CertificateDatabase.h"
#include "app/core/DocTimeStamping.h"
#include "app/core/RKSIni.h"
#include "app/core/SignaturePlacement.h"
#include "app/core/SignerCore.h"
#include "app/core/SigningRequest.h"
#include "app/core/SignerReporter.h"
#include "app/core/ToolkitBinding.h"
#include "cli/CertsCommand.h"
#include "platform/keystore/KeyStore.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformSystem.h"
#include "toolkit/common/CvScope.h"

namespace tavra {

namespace {

// Every way the workflow talks ends up as a line on standard error.
class TStderrReporter final : public ISignerReporter {
 public:
  void ShowApplicationError(const std::string& text) override { Print(ApplicationErrorText(text)); }
  void ShowWorkflowError(const std::string& text) override { Print(text); }
  void ShowWorkflowInformation(const std::string& text) override { Print(text); }
  void ShowStartupError(const std::string& text) override { Print(text); }
  void ShowPlainMessage(const std::string& text) override { Print(text); }
  void ShowProgressLine(const std::string& text) override { Print(text); }

 private:
  static void Print(const std::string& text) { std::cerr << "tavrapdf: " << text << "\n"; }
};

// Asks on the terminal without echo; nothing when there is no terminal.
#ifdef _WIN32
// The key container's CSP asks for its PIN itself on Windows.
std::optional<std::string> AskOnTerminal(const std::string&, bool) { return std::nullopt; }
#else
std::optional<std::string> AskOnTerminal(const std::string& name, bool retry) {
  {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return std::nullopt;
    std::fprintf(tty, "%sPassword for %s: ", retry ? "Wrong password. " : "", name.c_str());
    std::fflush(tty);
    termios saved{};
    const bool haveTerminal = tcgetattr(fileno(tty), &saved) == 0;
    if (haveTerminal) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
    }
    std::string answer;
    int c = 0;
    while ((c = std::fgetc(tty)) != EOF && c != '\n') answer.push_back(static_cast<char>(c));
    if (haveTerminal) tcsetattr(fileno(tty), TCSAFLUSH, &saved);
    std::fprintf(tty, "\n");
    std::fclose(tty);
    if (c == EOF && answer.empty()) return std::nullopt;
    return answer;
  }
}
#endif

// A token or protected database asks for its password: TAVRA_PIN when set
// (once: a refused PIN is not offered again), else the terminal, else nothing.
class TTerminalPasswordPrompt final : public platform::KeyStorePasswordPrompt {
 public:
  std::optional<std::string> AskPassword(const std::string& tokenName, bool retry) override {
    if (const char* pin = std::getenv("TAVRA_PIN")) {
      if (retry) return std::nullopt;
      return std::string(pin);
    }
    return AskOnTerminal(tokenName, retry);
  }
};

int Usage(const std::string& message) {
  std::cerr << "tavrapdf: " << message << "\n"
            << "Try 'tavrapdf --help'.\n";
  return 2;
}

// The settings file of the signer window when one sits beside this program.
// Through the platform's calls: on Windows the folder may be named in UTF-8
// letters that the runtime's narrow file calls do not read.
std::string SignerSettingsBeside() {
  const std::string self = platform::ExecutablePath();
  if (self.empty()) return {};
  const std::string ini = platform::DirectoryOf(self) + "/tavrapdfsg.ini";
  return platform::FileExists(ini) ? ini : std::string();
}

// Reads one path a line (an empty line is skipped) from the file, or from
// standard input for "-". False with the reason when the list is unusable.
bool ReadInputList(const std::string& from, std::vector<std::string>& paths, std::string& error) {
  constexpr size_t kMaxPaths = 1000000;
  constexpr size_t kMaxPathLength = 4096;
  std::ifstream file;
  if (from != "-") {
    file.open(platform::StreamPath(from));
    if (!file) {
      error = "cannot read the input list '" + from + "'";
      return false;
    }
  }
  std::istream& in = from == "-" ? std::cin : file;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.size() > kMaxPathLength || paths.size() >= kMaxPaths) {
      error = "the input list holds a line too long or too many lines";
      return false;
    }
    paths.push_back(line);
  }
  return true;
}

// "1:05" for 65 seconds.
std::string Duration(double seconds) {
  const long total = seconds > 0 && seconds < 1e7 ? static_cast<long>(seconds + 0.5) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

// One line per file on standard output, whole; on a terminal a progress line
// on standard error that each of them clears first.
class TBatchPrinter {
 public:
  TBatchPrinter() : progress_(::isatty(STDERR_FILENO) == 1) {}

  void FileDone(const TBatchFileResult& result, const TBatchProgress& progress) {
    ClearProgress();
    std::cout << (result.Signed ? result.InputPath + " -> " + result.OutputPath
                                : result.InputPath + ": " + result.Error)
              << std::endl;
    if (!progress_ || progress.Done == progress.Total) return;
    const double rate = progress.ElapsedSeconds > 0 ? progress.Done / progress.ElapsedSeconds : 0;
    const double left = rate > 0 ? (progress.Total - progress.Done) / rate : 0;
    char line[128];
    std::snprintf(line, sizeof line, "\r%zu / %zu  %.1f files/s  %s left", progress.Done,
                  progress.Total, rate, Duration(left).c_str());
    std::cerr << line << std::flush;
    shown_ = true;
  }

  void ClearProgress() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  bool progress_;
  bool shown_ = false;
};

int RunBatch(const TSigningRequest& common, const std::vector<std::string>& inputs,
             const TBatchOptions& options) {
  if (const std::optional<std::string> problem = CheckBatchOptions(options)) return Usage(*problem);
  TBatchSigner batch([] { return std::make_unique<TToolkitBinding>(); });
  TTerminalPasswordPrompt terminal;
  TOncePasswordPrompt prompt(terminal, [&batch] { batch.RequestStop(); });
  platform::KeyStore::Instance().SetPasswordPrompt(&prompt);
  const corvane::TCvScopeExit forgetPrompt(
      [] { platform::KeyStore::Instance().SetPasswordPrompt(nullptr); });
  TBatchPrinter printer;
  batch.SetOnFileDone([&printer](const TBatchFileResult& result, const TBatchProgress& progress) {
    printer.FileDone(result, progress);
  });
  const std::vector<TBatchFileResult> results = batch.Run(common, inputs, options);
  printer.ClearProgress();
  size_t failed = 0;
  for (const TBatchFileResult& result : results) failed += result.Signed ? 0 : 1;
  std::cout << "signed " << results.size() - failed << " of " << results.size() << " files, "
            << failed << " failed" << std::endl;
  return failed == 0 && std::cout ? 0 : 1;
}

}  // namespace

std::string TimestampPassword(const std::string& user) {
  if (const char* password = std::getenv("TAVRA_TSA_PASSWORD")) return password;
  return AskOnTerminal("timestamp authority user " + user, false).value_or(std::string());
}

int RunSignCommand(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  std::optional<std::string> issuer, serial, reason, type, nssdb, font, image, outDir, suffix, jobs,
      fromFile, page, rect, field;
  std::optional<std::string> level, tsa, tsaUser, tsaPolicy, digest;
  bool overwrite = false, pss = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string>* target = arg == "--issuer"       ? &issuer
                                         : arg == "--serial"     ? &serial
                                         : arg == "--reason"     ? &reason
                                         : arg == "--type"       ? &type
                                         : arg == "--nssdb"      ? &nssdb
                                         : arg == "--font"       ? &font
                                         : arg == "--image"      ? &image
                                         : arg == "--out-dir"    ? &outDir
                                         : arg == "--suffix"     ? &suffix
                                         : arg == "--jobs"       ? &jobs
                                         : arg == "--from-file"  ? &fromFile
                                         : arg == "--page"       ? &page
                                         : arg == "--rect"       ? &rect
                                         : arg == "--field"      ? &field
                                         : arg == "--level"      ? &level
                                         : arg == "--tsa"        ? &tsa
                                         : arg == "--tsa-user"   ? &tsaUser
                                         : arg == "--tsa-policy" ? &tsaPolicy
                                         : arg == "--digest"     ? &digest
                                                                 : nullptr;
    if (target) {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      *target = args[++i];
    } else if (arg == "--overwrite") {
      overwrite = true;
    } else if (arg == "--pss") {
      pss = true;
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }
  TBatchOptions batch;
  if (outDir) {
    if (fromFile) {
      std::string error;
      if (!ReadInputList(*fromFile, paths, error)) return Usage(error);
    }
    if (paths.empty()) return Usage("sign --out-dir needs at least one INPUT");
    batch.OutputDir = *outDir;
    batch.Suffix = suffix.value_or(kBatchDefaultSuffix);
    batch.Overwrite = overwrite;
    if (jobs) {
      char* end = nullptr;
      const long n = std::strtol(jobs->c_str(), &end, 10);
      if (jobs->empty() || *end != '\0' || n < 1 || n > 256)
        return Usage("--jobs is a number from 1 to 256");
      batch.Jobs = static_cast<unsigned>(n);
    }
  } else {
    if (suffix || jobs || fromFile || overwrite)
      return Usage("--suffix, --jobs, --from-file and --overwrite go with --out-dir");
    if (paths.size() != 2) return Usage("sign needs INPUT and OUTPUT");
  }

  // The window's stored settings first, then what the command line says.
  TPdfSignerOptions stored;
  const std::string settings = SignerSettingsBeside();
  if (!settings.empty()) ReadOptions(settings, stored);
  TSigningRequest request;
  if (!outDir) {
    request.InputPath = paths[0];
    request.OutputPath = paths[1];
  }
  request.CertIssuer = issuer.value_or(stored.CertIssuer);
  request.CertSerial = serial.value_or(stored.CertSerial);
  request.Reason = reason.value_or(stored.SigReason);
  request.Kind = SignatureKindOfSigType(stored.SigType);
  request.FontPath = font.value_or(stored.FontFile);
  request.ImagePath = image.value_or(stored.ImageFile);
  request.UsePSS = pss || stored.UsePSS;
  if (type) {
    if (*type == "invisible")
      request.Kind = TSignatureKind::skInvisible;
    else if (*type == "visible")
      request.Kind = TSignatureKind::skVisible;
    else if (*type == "certify")
      request.Kind = TSignatureKind::skCertifying;
    else
      return Usage("--type is invisible, visible or certify");
  }
  std::string placementError;
  if (!PlacementOfTexts(page.value_or(stored.SigPage), rect.value_or(stored.SigRect),
                        field.value_or(stored.SigField), request.Placement, placementError))
    return Usage(placementError);

  // The settings' level and authority stand when the command line names
  // neither; its user goes only with its own authority.
  if (!level && !stored.Level.empty()) level = stored.Level;
  if (!tsa && !stored.TSA.empty() && (!level || *level != "B-B")) {
    tsa = stored.TSA;
    if (!tsaUser && !stored.TSAUser.empty()) tsaUser = stored.TSAUser;
  }
  if (level) {
    if (!PAdESLevelOfText(*level, request.Level) || request.Level == TPAdESLevel::plNone)
      return Usage("--level is B-B, B-T, B-LT or B-LTA");
    if (LevelNeedsTimestamp(request.Level) && !tsa)
      return Usage("--level " + *level + " needs --tsa");
  }
  if (digest) {
    if (*digest != "sha256" && *digest != "sha384" && *digest != "sha512")
      return Usage("--digest is sha256, sha384 or sha512");
    request.Digest = *digest;
  }
  if ((tsaUser || tsaPolicy) && !tsa) return Usage("--tsa-user and --tsa-policy need --tsa");
  if (tsa) {
    if (tsa->rfind("http://", 0) != 0 && tsa->rfind("https://", 0) != 0)
      return Usage("--tsa needs an http:// or https:// URL");
    request.Timestamp.URL = *tsa;
    request.Timestamp.User = tsaUser.value_or(std::string());
    request.Timestamp.Policy = tsaPolicy.value_or(std::string());
  }
  // Without a level a named TSA stamps the adbe.pkcs7.detached signature.
  if (request.Level == TPAdESLevel::plBB && tsa)
    return Usage("--level B-B takes no --tsa (B-T does)");
  if (!request.Timestamp.User.empty())
    request.Timestamp.Password = TimestampPassword(request.Timestamp.User);

  std::vector<std::string> log;
  const platform::NssDatabase database =
      nssdb ? ChooseCertificateDatabase(*nssdb, log) : UseCertificateDatabase(log, settings);
  platform::KeyStore::Instance().SetDatabaseDir(database.Spec);
  if (outDir) return RunBatch(request, paths, batch);

  TTerminalPasswordPrompt prompt;
  platform::KeyStore::Instance().SetPasswordPrompt(&prompt);
  const corvane::TCvScopeExit forgetPrompt(
      [] { platform::KeyStore::Instance().SetPasswordPrompt(nullptr); });

  TStderrReporter reporter;
  int status = 1;
  try {
    TToolkitBinding toolkit;
    TSignerCore core(toolkit, reporter);
    status = core.Sign(request) == TSignOutcome::soSucceeded ? 0 : 1;
  } catch (const std::exception& e) {
    reporter.ShowApplicationError(e.what());
  }
  return status;
}

int RunTimestampCommand(const std::vector<std::string>& args) {
  std::vector<std::string> paths;
  std::optional<std::string> tsa, tsaUser;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--tsa" || arg == "--tsa-user") {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      (arg == "--tsa" ? tsa : tsaUser) = args[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return Usage("timestamp needs INPUT and OUTPUT");
  if (!tsa) return Usage("timestamp needs --tsa URL");
  if (tsa->rfind("http://", 0) != 0 && tsa->rfind("https://", 0) != 0)
    return Usage("--tsa needs an http:// or https:// URL");
  TTimestampServer server;
  server.URL = *tsa;
  server.User = tsaUser.value_or(std::string());
  if (!server.User.empty()) server.Password = TimestampPassword(server.User);
  const std::string error = TimestampDocument(paths[0], paths[1], server);
  if (!error.empty()) {
    std::cerr << "tavrapdf: " << error << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tavra
