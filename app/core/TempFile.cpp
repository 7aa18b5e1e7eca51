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
  bool ok = ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
  std::vector<char> chunk(1 << 16);
  while (ok) {
    const ssize_t n = ::read(in, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    const char* p = chunk.data();
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t w = ::write(fd_, p, left);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      p += w;
      left -= static_cast<size_t>(w);
    }
  }
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
