// Many documents signed with one request's settings, each into an output
// folder under its own name. The store is opened once per worker and the
// token logged in once for the whole run; a file that fails is reported and
// the others go on. The command line and the window both drive it.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/core/SignerToolkit.h"
#include "app/core/SigningRequest.h"
#include "platform/keystore/KeyStore.h"

namespace tavra {

inline constexpr char kBatchDefaultSuffix[] = "-signed";
inline constexpr char kMsgOutputExists[] = "Výstupní soubor \"%s\" již existuje";
inline constexpr char kMsgSameOutput[] = "Výstupní soubor \"%s\" patří už jinému vstupu";
inline constexpr char kMsgSkipped[] = "Vynecháno: přihlášení k tokenu se nezdařilo";

struct TBatchOptions {
  std::string OutputDir;
  std::string Suffix = kBatchDefaultSuffix;
  bool Overwrite = false;
  unsigned Jobs = 0;  // 0: as many as the machine has cores
};

struct TBatchFileResult {
  std::string InputPath;
  std::string OutputPath;
  bool Signed = false;
  std::string Error;  // the workflow's message when not signed
};

struct TBatchProgress {
  size_t Done = 0;
  size_t Total = 0;
  size_t Failed = 0;
  double ElapsedSeconds = 0;
};

// DIR/<input's file name> with the suffix put before a final ".pdf" (in any
// letter case), or after the name when it has none.
std::string BatchOutputPath(const std::string& input, const std::string& outputDir,
                            const std::string& suffix);

// The outputs' folder is usable and the suffix names no other folder; the
// Czech reason when not.
std::optional<std::string> CheckBatchOptions(const TBatchOptions& options);

class TBatchSigner {
 public:
  // Makes the toolkit binding one worker signs with (each worker has its own
  // document and handler; the store behind them is shared and serialized).
  using TToolkitFactory = std::function<std::unique_ptr<ISignerToolkit>()>;
  using TFileDone = std::function<void(const TBatchFileResult&, const TBatchProgress&)>;

  explicit TBatchSigner(TToolkitFactory factory);

  // Called once for each file as it finishes, never for two at once, from
  // the worker that signed it.
  void SetOnFileDone(TFileDone onFileDone) { on_file_done_ = std::move(onFileDone); }
  // Tests replace what time it is.
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }

  // Files not started yet are skipped (kMsgSkipped); safe from any thread.
  void RequestStop() { stop_.store(true); }

  // Signs every input with the request's certificate, reason and kind (its
  // paths are ignored). The results are in the order of the inputs.
  std::vector<TBatchFileResult> Run(const TSigningRequest& common,
                                    const std::vector<std::string>& inputs,
                                    const TBatchOptions& options);

 private:
  void Work(const TSigningRequest& common, const TBatchOptions& options,
            std::vector<TBatchFileResult>& results);
  void Finish(const TBatchFileResult& result);

  TToolkitFactory factory_;
  TFileDone on_file_done_;
  std::function<double()> clock_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> next_{0};
  std::mutex done_lock_;
  TBatchProgress progress_;
  double started_ = 0;
};

// The window's summary of a run: how many were signed and, a line each, the
// files that were not with the reason (at most a screenful, then how many
// more).
std::string BatchSummaryText(const std::vector<TBatchFileResult>& results);

// A toolkit the caller keeps, for a single worker signing with the window's.
std::unique_ptr<ISignerToolkit> BorrowedToolkit(ISignerToolkit& toolkit);

// Asks the wrapped prompt once for the whole run: a token logs in on the
// first signing and stays logged in. A second question means the first
// answer did not log in; it is not put to the token again (a few wrong PINs
// lock a card), the prompt reports it through onRefused and answers nothing.
class TOncePasswordPrompt final : public platform::KeyStorePasswordPrompt {
 public:
  TOncePasswordPrompt(platform::KeyStorePasswordPrompt& inner, std::function<void()> onRefused)
      : inner_(inner), on_refused_(std::move(onRefused)) {}
  std::optional<std::string> AskPassword(const std::string& tokenName, bool retry) override;
  int Questions() const { return questions_; }

 private:
  platform::KeyStorePasswordPrompt& inner_;
  std::function<void()> on_refused_;
  std::mutex lock_;
  int questions_ = 0;
};

}  // namespace tavra
