#include "app/core/TempFile.h"

#include <unistd.h>

namespace tavra {

TTempFileGuard::~TTempFileGuard() { Remove(); }

TTempFileGuard::TTempFileGuard(TTempFileGuard&& other) noexcept
    : file_(std::move(other.file_)), sync_(std::move(other.sync_)) {
  other.file_ = {};
}

TTempFileGuard& TTempFileGuard::operator=(TTempFileGuard&& other) noexcept {
  if (this != &other) {
    Remove();
    file_ = std::move(other.file_);
    sync_ = std::move(other.sync_);
    other.file_ = {};
  }
  return *this;
}

bool TTempFileGuard::CopyFrom(int sourceFd) {
  if (file_.fd < 0) return false;
  sync_.Wait();
  int64_t from = 0, to = 0;
  if (::ftruncate(file_.fd, 0) != 0 ||
      platform::CopyFileBytes(sourceFd, from, file_.fd, to, -1) < 0)
    return false;
  // The whole file goes to disk while the document is read and signed; the
  // sync before the rename then has only the appended update left to write.
  sync_.Start(file_.fd);
  return true;
}

bool TTempFileGuard::Commit(std::string& error, bool replace) {
  if (file_.fd < 0) return false;
  sync_.Wait();
  const bool ok = platform::CommitStagingFile(file_, error, replace);
  file_ = {};
  return ok;
}

void TTempFileGuard::Remove() {
  sync_.Wait();  // its descriptor is about to close
  platform::AbandonStagingFile(file_);
}

bool MakeStagingTempFile(const std::string& outputPath, TTempFileGuard& guard) {
  platform::StagingFile file;
  std::string error;
  if (!platform::CreateStagingFile(outputPath, file, error)) return false;
  guard = TTempFileGuard(std::move(file));
  return true;
}

}  // namespace tavra
