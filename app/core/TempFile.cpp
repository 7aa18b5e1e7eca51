#include "app/core/TempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/core/SignerErrors.h"
#include "platform/PlatformFiles.h"

namespace tavra {

TTempFileGuard::~TTempFileGuard() { Remove(); }

TTempFileGuard::TTempFileGuard(TTempFileGuard&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.path_.clear();
}

TTempFileGuard& TTempFileGuard::operator=(TTempFileGuard&& other) noexcept {
  if (this != &other) {
    Remove();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
    other.path_.clear();
  }
  return *this;
}

bool TTempFileGuard::CopyFrom(const std::string& sourcePath) {
  if (fd_ < 0) return false;
  const int in = ::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  int64_t from = 0, to = 0;
  const bool ok = ::ftruncate(fd_, 0) == 0 && platform::CopyFileBytes(in, from, fd_, to, -1) >= 0;
  ::close(in);
  return ok;
}

void TTempFileGuard::CloseDescriptor() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TTempFileGuard::Remove() {
  CloseDescriptor();
  if (!path_.empty()) {
    platform::DeleteFile(path_);
    path_.clear();
  }
}

TTempFileGuard MakeTempFileName(const std::string& tempFolder) {
  if (tempFolder.empty()) throw ESignerError("Nemohu zjistit dočasný adresář");
  platform::TempFile file;
  std::string error;
  if (!platform::CreateTempFile(tempFolder, "cvn", file, error)) {
    throw ESignerError("Nepodařilo se vygenerovat jméno dočasného souboru");
  }
  return TTempFileGuard(file.fd, file.path);
}

}  // namespace tavra
