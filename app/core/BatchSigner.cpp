#include "app/core/BatchSigner.h"

#include <set>
#include <thread>

#include "app/core/SignerCore.h"
#include "app/core/SignerReporter.h"
#include "platform/PlatformFiles.h"
#include "platform/PlatformSystem.h"

namespace tavra {

namespace {

std::string WithPath(const char* pattern, const std::string& path) {
  std::string text = pattern;
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, path);
  return text;
}

bool EndsWithPdf(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == ".pdf";
}

// Keeps what the workflow says about one file; success needs no words.
class TCapturingReporter final : public ISignerReporter {
 public:
  void ShowApplicationError(const std::string& text) override { error = text; }
  void ShowWorkflowError(const std::string& text) override { error = text; }
  void ShowWorkflowInformation(const std::string&) override {}
  void ShowStartupError(const std::string& text) override { error = text; }
  void ShowPlainMessage(const std::string&) override {}

  std::string error;
};

class TBorrowedToolkit final : public ISignerToolkit {
 public:
  explicit TBorrowedToolkit(ISignerToolkit& toolkit) : toolkit_(toolkit) {}
  size_t CertificateCount() const override { return toolkit_.CertificateCount(); }
  const ISignerCertificate& Certificate(size_t index) const override {
    return toolkit_.Certificate(index);
  }
  void Open(corvane::TOvStream& stream) override { toolkit_.Open(stream); }
  bool Encrypted() const override { return toolkit_.Encrypted(); }
  int AddSignature() override { return toolkit_.AddSignature(); }
  void ConfigureSignature(int index, const TSignatureSetup& setup) override {
    toolkit_.ConfigureSignature(index, setup);
  }
  void UseSigningCertificate(const ISignerCertificate& certificate) override {
    toolkit_.UseSigningCertificate(certificate);
  }
  void Close(bool save) override { toolkit_.Close(save); }
  void SetProgressHandler(std::function<void(int percent)> handler) override {
    toolkit_.SetProgressHandler(std::move(handler));
  }
  void AddValidationData(corvane::TOvStream& stream, const TSigningRequest& request,
                         std::function<void(const std::string&)> progress) override {
    toolkit_.AddValidationData(stream, request, std::move(progress));
  }

 private:
  ISignerToolkit& toolkit_;
};

double SecondsNow() { return static_cast<double>(platform::GetTickCount()) / 1000.0; }

}  // namespace

std::string BatchOutputPath(const std::string& input, const std::string& outputDir,
                            const std::string& suffix) {
  std::string name = platform::FileNameOf(input);
  if (EndsWithPdf(name))
    name.insert(name.size() - 4, suffix);
  else
    name += suffix;
  std::string dir = outputDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir == "/" ? "/" + name : dir + "/" + name;
}

std::optional<std::string> CheckBatchOptions(const TBatchOptions& options) {
  if (options.OutputDir.empty()) return std::string("Není zadána výstupní složka");
  if (!platform::DirectoryExists(options.OutputDir))
    return WithPath("Složka \"%s\" nenalezena", options.OutputDir);
  if (options.Suffix.find('/') != std::string::npos)
    return std::string("Přípona názvu nesmí obsahovat \"/\"");
  return std::nullopt;
}

TBatchSigner::TBatchSigner(TToolkitFactory factory)
    : factory_(std::move(factory)), clock_(CurrentUtcDateTime) {}

std::vector<TBatchFileResult> TBatchSigner::Run(const TSigningRequest& common,
                                                const std::vector<std::string>& inputs,
                                                const TBatchOptions& options) {
  std::vector<TBatchFileResult> results(inputs.size());
  // Two inputs of one name would write one output: the later one is refused
  // before anything runs, whatever order the workers take them in.
  std::set<std::string> outputs;
  for (size_t i = 0; i < inputs.size(); ++i) {
    results[i].InputPath = inputs[i];
    results[i].OutputPath = BatchOutputPath(inputs[i], options.OutputDir, options.Suffix);
    if (!outputs.insert(platform::AbsolutePath(results[i].OutputPath)).second)
      results[i].Error = WithPath(kMsgSameOutput, results[i].OutputPath);
  }
  next_ = 0;
  progress_ = TBatchProgress{};
  progress_.Total = inputs.size();
  started_ = SecondsNow();

  unsigned jobs = options.Jobs != 0 ? options.Jobs : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  if (jobs > inputs.size()) jobs = static_cast<unsigned>(inputs.size());
  std::vector<std::thread> workers;
  for (unsigned i = 1; i < jobs; ++i) {
    try {
      workers.emplace_back([&] { Work(common, options, results); });
    } catch (const std::system_error&) {
      break;  // fewer helpers: the files still get signed
    }
  }
  Work(common, options, results);
  for (std::thread& worker : workers) worker.join();
  return results;
}

void TBatchSigner::Work(const TSigningRequest& common, const TBatchOptions& options,
                        std::vector<TBatchFileResult>& results) {
  std::unique_ptr<ISignerToolkit> toolkit;
  std::string toolkitError;
  TCapturingReporter reporter;
  std::unique_ptr<TSignerCore> core;
  for (size_t i = next_++; i < results.size(); i = next_++) {
    TBatchFileResult& result = results[i];
    if (result.Error.empty() && stop_.load()) result.Error = kMsgSkipped;
    if (!result.Error.empty()) {
      Finish(result);
      continue;
    }
    if (!options.Overwrite && platform::FileExists(result.OutputPath)) {
      result.Error = WithPath(kMsgOutputExists, result.OutputPath);
      Finish(result);
      continue;
    }
    // The store is listed once per worker, when it first has work.
    if (!core && toolkitError.empty()) {
      try {
        toolkit = factory_();
        core = std::make_unique<TSignerCore>(*toolkit, reporter);
        core->SetReplaceOutput(options.Overwrite);
        core->SetClock(clock_);
      } catch (const std::exception& e) {
        toolkitError = ApplicationErrorText(e.what());
      }
    }
    if (!core) {
      result.Error = toolkitError;
      Finish(result);
      continue;
    }
    TSigningRequest request = common;
    request.InputPath = result.InputPath;
    request.OutputPath = result.OutputPath;
    reporter.error.clear();
    result.Signed = core->Sign(request) == TSignOutcome::soSucceeded;
    if (!result.Signed) {
      result.Error = reporter.error;
      // The rename found a file that appeared while this one was signed.
      if (!options.Overwrite && platform::FileExists(result.OutputPath))
        result.Error = WithPath(kMsgOutputExists, result.OutputPath);
      if (result.Error.empty()) result.Error = kMsgOutputCopyFailed;
    }
    Finish(result);
  }
}

void TBatchSigner::Finish(const TBatchFileResult& result) {
  const std::lock_guard<std::mutex> guard(done_lock_);
  ++progress_.Done;
  if (!result.Signed) ++progress_.Failed;
  progress_.ElapsedSeconds = SecondsNow() - started_;
  if (on_file_done_) on_file_done_(result, progress_);
}

std::string BatchSummaryText(const std::vector<TBatchFileResult>& results) {
  constexpr size_t kListed = 20;
  size_t failed = 0;
  std::string list;
  for (const TBatchFileResult& result : results) {
    if (result.Signed) continue;
    if (++failed <= kListed)
      list += "\n" + platform::FileNameOf(result.InputPath) + ": " + result.Error;
  }
  std::string text = "Podepsáno " + std::to_string(results.size() - failed) + " z " +
                     std::to_string(results.size()) + " souborů";
  if (failed == 0) return text;
  text += "\nNepodařilo se podepsat:" + list;
  if (failed > kListed) text += "\n… a " + std::to_string(failed - kListed) + " dalších";
  return text;
}

std::unique_ptr<ISignerToolkit> BorrowedToolkit(ISignerToolkit& toolkit) {
  return std::make_unique<TBorrowedToolkit>(toolkit);
}

std::optional<std::string> TOncePasswordPrompt::AskPassword(const std::string& tokenName,
                                                            bool retry) {
  const std::lock_guard<std::mutex> guard(lock_);
  if (++questions_ > 1 || retry) {
    if (on_refused_) on_refused_();
    return std::nullopt;
  }
  return inner_.AskPassword(tokenName, false);
}

}  // namespace tavra
