#include "platform/PlatformFiles.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Writes all bytes or returns false with errno set.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// The file a write to target really lands in: symlinks followed, so that
// replacing it keeps the link and updates the file it points to.
std::string ResolveTarget(const std::string& target) {
  std::error_code ec;
  fs::path path(target);
  for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
    const fs::path link = fs::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return AbsolutePath(path.string());
}

}  // namespace

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

bool CreateTempFile(const std::string& folder, const std::string& prefix, TempFile& out,
                    std::string& error) {
  std::string pattern = folder;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  out.fd = fd;
  out.path = name.data();
  return true;
}

int64_t CopyFileBytes(int in, int64_t& inOffset, int out, int64_t& outOffset, int64_t count) {
  int64_t copied = 0;
  bool inKernel = true;
  std::vector<char> chunk;
  while (count < 0 || copied < count) {
    const size_t want = static_cast<size_t>(
        count < 0 ? int64_t{1} << 30 : std::min<int64_t>(count - copied, int64_t{1} << 30));
    if (inKernel) {
      loff_t from = inOffset, to = outOffset;
      const ssize_t n = ::copy_file_range(in, &from, out, &to, want, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        inKernel = false;  // another file system or an old kernel: copy through memory
        continue;
      }
      if (n < 0) return -1;
      if (n == 0) break;
      inOffset += n;
      outOffset += n;
      copied += n;
      continue;
    }
    if (chunk.empty()) chunk.resize(1 << 20);
    const ssize_t n = ::pread(in, chunk.data(), std::min(want, chunk.size()), inOffset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w =
          ::pwrite(out, chunk.data() + done, static_cast<size_t>(n - done), outOffset + done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return -1;
      done += w;
    }
    inOffset += n;
    outOffset += n;
    copied += n;
  }
  return copied;
}

bool CreateStagingFile(const std::string& target, StagingFile& out, std::string& error) {
  const std::string real_target = ResolveTarget(target);
  std::string folder = DirectoryOf(real_target);
  if (folder.empty()) folder = ".";
  TempFile file;
  if (!CreateTempFile(folder, "." + FileNameOf(real_target) + ".tmp", file, error)) return false;
  struct stat st {};
  const mode_t mode =
      ::stat(real_target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  ::fchmod(file.fd, mode);
  out.fd = file.fd;
  out.path = std::move(file.path);
  out.target = real_target;
  return true;
}

bool CommitStagingFile(StagingFile& staging, std::string& error) {
  if (::fsync(staging.fd) != 0) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  const int fd = staging.fd;
  staging.fd = -1;
  if (::close(fd) != 0) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  if (::rename(staging.path.c_str(), staging.target.c_str()) != 0) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  staging.path.clear();
  SyncFolder(DirectoryOf(staging.target));
  return true;
}

void AbandonStagingFile(StagingFile& staging) {
  if (staging.fd >= 0) ::close(staging.fd);
  staging.fd = -1;
  if (!staging.path.empty()) ::unlink(staging.path.c_str());
  staging.path.clear();
}

EarlySync& EarlySync::operator=(EarlySync&& other) noexcept {
  if (this != &other) {
    Wait();
    thread_ = std::move(other.thread_);
  }
  return *this;
}

void EarlySync::Start(int fd) {
  Wait();
  try {
    thread_ = std::thread([fd] { ::fdatasync(fd); });
  } catch (const std::system_error&) {
    // No thread: the caller's final sync does all the work.
  }
}

void EarlySync::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool ReplaceFileWithCopy(const std::string& source, const std::string& target, std::string& error) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    error = ErrnoText(errno);
    return false;
  }
  StagingFile staging;
  if (!CreateStagingFile(target, staging, error)) {
    ::close(in);
    return false;
  }
  int64_t from = 0, to = 0;
  if (CopyFileBytes(in, from, staging.fd, to, -1) < 0) {
    error = ErrnoText(errno);
    ::close(in);
    AbandonStagingFile(staging);
    return false;
  }
  ::close(in);
  return CommitStagingFile(staging, error);
}

bool WriteFileAtomically(const std::string& path, std::string_view data, std::string& error) {
  StagingFile staging;
  if (!CreateStagingFile(path, staging, error)) return false;
  if (!WriteAll(staging.fd, data.data(), data.size())) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  return CommitStagingFile(staging, error);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsOwnerWritable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

bool IsDirectoryWritable(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MakeDirectories(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return DirectoryExists(folder);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path result = fs::absolute(fs::path(path), ec);
  if (ec) result = fs::path(path);
  result = result.lexically_normal();
  std::string text = result.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string XdgConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

}  // namespace platform
