#include "platform/PlatformFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
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

// ---- Staging files ----

// Every staging name is ".<target name>" + kStagingMark + six letters or digits.
constexpr std::string_view kStagingMark = ".tmp-tavra-";
constexpr size_t kStagingRandom = 6;

// When this process started (near enough: when its libraries were set up). A
// staging file older than that cannot be one this run is writing. File times
// come from the kernel's coarse clock, which lags the precise one by up to a
// tick, so the start is read from the same clock: a file this run writes is
// never dated before it, and one from an earlier run is.
timespec RunStartOnFileClock() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}
const timespec kRunStart = RunStartOnFileClock();

bool OlderThanRunStart(const struct stat& st) {
  return st.st_mtim.tv_sec < kRunStart.tv_sec ||
         (st.st_mtim.tv_sec == kRunStart.tv_sec && st.st_mtim.tv_nsec < kRunStart.tv_nsec);
}

bool NamedStagingForced() {
  const char* value = std::getenv("TAVRA_NAMED_STAGING_FOR_TESTING");
  return value != nullptr && std::string_view(value) == "1";
}

bool IsStagingName(std::string_view name) {
  if (name.size() < 2 + kStagingMark.size() + kStagingRandom || name[0] != '.') return false;
  const size_t mark = name.size() - kStagingRandom - kStagingMark.size();
  if (mark < 2 || name.substr(mark, kStagingMark.size()) != kStagingMark) return false;
  return std::all_of(name.end() - kStagingRandom, name.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

std::string RandomStagingName(const std::string& targetName) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[kStagingRandom] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No random bytes: the time and the process still make clashes rare, and
    // a clash only costs another try.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t mix =
        static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(::getpid()) << 20);
    for (size_t i = 0; i < kStagingRandom; ++i)
      bytes[i] = static_cast<unsigned char>(mix >> (i * 7));
  }
  std::string name = "." + targetName + std::string(kStagingMark);
  for (unsigned char b : bytes) name += kLetters[b % (sizeof kLetters - 1)];
  return name;
}

// An advisory lock on the whole file, held by this open file description
// (not by the process, so that it is also seen inside this process) until
// the last descriptor of it closes, whichever way the process ends.
// A shared lock is refused while the owner holds its exclusive one, and it
// needs only read access (a staging file may carry a read-only mode).
bool LockWhole(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// ---- Removal of named staging files on SIGTERM, SIGINT and SIGHUP ----
//
// The handler only reads this fixed table and calls unlink, both safe in a
// signal handler. A slot is 0 (free), 1 (being filled) or 2 (holds a name).

constexpr int kCleanupSlots = 16;
constexpr size_t kCleanupPathMax = 4096;
struct CleanupSlot {
  std::atomic<int> state{0};
  char path[kCleanupPathMax] = {};
};
CleanupSlot g_cleanup[kCleanupSlots];
constexpr int kCleanupSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void RemoveStagingFilesAndDie(int signal_number) {
  for (CleanupSlot& slot : g_cleanup) {
    if (slot.state.load(std::memory_order_acquire) == 2) ::unlink(slot.path);
  }
  // The default action (the end of the process) with the original signal,
  // so that whoever waits for us sees why we stopped.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal_number, &fallback, nullptr);
  ::raise(signal_number);
}

void InstallCleanupHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal_number : kCleanupSignals) {
      struct sigaction old {};
      if (::sigaction(signal_number, nullptr, &old) != 0) continue;
      // An ignored signal stays ignored; a handler of the program's own stays.
      if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction ours {};
      ours.sa_handler = RemoveStagingFilesAndDie;
      sigfillset(&ours.sa_mask);
      ::sigaction(signal_number, &ours, nullptr);
    }
  });
}

// Holds back the cleanup signals for its lifetime, so that a file is never
// on disk without the handler knowing its name; what came meanwhile is
// delivered when the mask is restored.
class TCleanupSignalsHeld {
 public:
  TCleanupSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal_number : kCleanupSignals) sigaddset(&held, signal_number);
    active_ = ::pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
  }
  ~TCleanupSignalsHeld() {
    if (active_) ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  TCleanupSignalsHeld(const TCleanupSignalsHeld&) = delete;
  TCleanupSignalsHeld& operator=(const TCleanupSignalsHeld&) = delete;

 private:
  sigset_t previous_{};
  bool active_ = false;
};

// Puts path into a free slot; -1 when none is free or the path is too long
// (then only the next run's cleanup can remove the file).
int RegisterForCleanup(const std::string& path) {
  if (path.size() >= kCleanupPathMax) return -1;
  InstallCleanupHandlers();
  for (int i = 0; i < kCleanupSlots; ++i) {
    int expected = 0;
    if (!g_cleanup[i].state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel))
      continue;
    std::memcpy(g_cleanup[i].path, path.c_str(), path.size() + 1);
    g_cleanup[i].state.store(2, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterForCleanup(int& slot) {
  if (slot >= 0 && slot < kCleanupSlots) g_cleanup[slot].state.store(0, std::memory_order_release);
  slot = -1;
}

// Removes the named staging files in folder that a run killed before it
// could clean up left behind: ours by name, our user's, older than this
// run, and held by no live process (the lock of the owner is gone).
void RemoveStaleStagingFiles(const std::string& folder) {
  const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return;
  DIR* dir = ::fdopendir(dirfd);
  if (dir == nullptr) {
    ::close(dirfd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!IsStagingName(name)) continue;
    struct stat st {};
    if (::fstatat(dirfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || !OlderThanRunStart(st))
      continue;
    const int fd =
        ::openat(dirfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {};
    if (LockWhole(fd, F_RDLCK) && ::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino &&
        opened.st_dev == st.st_dev)
      ::unlinkat(dirfd, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(dir);
}

// Gives the nameless staging file its short-lived hidden name beside the
// target; the name is known to the signal cleanup until the caller is done
// with it. False with error set when no link can be made.
bool LinkAnonymous(StagingFile& staging, const std::string& folder, std::string& error) {
  const std::string proc = "/proc/self/fd/" + std::to_string(staging.fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = folder + "/" + RandomStagingName(FileNameOf(staging.target));
    int slot = RegisterForCleanup(path);
    int rc = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT) {
      // No /proc: linking the descriptor itself needs more privileges, but try.
      rc = ::linkat(staging.fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
    }
    if (rc == 0) {
      staging.path = path;
      staging.slot = slot;
      return true;
    }
    const int cause = errno;
    UnregisterForCleanup(slot);
    if (cause != EEXIST) {
      error = ErrnoText(cause);
      return false;
    }
  }
  error = ErrnoText(EEXIST);
  return false;
}

// rename() that never replaces: where the file system cannot say so in the
// rename itself, a hard link (which fails on an existing name) and an unlink.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
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
  RemoveStaleStagingFiles(folder);
  struct stat st {};
  const mode_t mode =
      ::stat(real_target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

  StagingFile file;
  file.target = real_target;
  if (!NamedStagingForced()) {
    file.fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      error = ErrnoText(errno);
      return false;
    }
  }
  if (file.fd < 0) {
    // No nameless files here: a hidden name, removed on the signals that end
    // us and found by the next run when we die harder than that.
    InstallCleanupHandlers();
    const TCleanupSignalsHeld held;
    TempFile named;
    if (!CreateTempFile(folder, "." + FileNameOf(real_target) + std::string(kStagingMark), named,
                        error))
      return false;
    file.fd = named.fd;
    file.path = std::move(named.path);
    file.slot = RegisterForCleanup(file.path);
    LockWhole(file.fd, F_WRLCK);
  }
  ::fchmod(file.fd, mode);
  out = std::move(file);
  return true;
}

bool CommitStagingFile(StagingFile& staging, std::string& error, bool replace) {
  if (::fsync(staging.fd) != 0) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  std::string folder = DirectoryOf(staging.target);
  if (folder.empty()) folder = ".";
  if (staging.path.empty() && !LinkAnonymous(staging, folder, error)) {
    AbandonStagingFile(staging);
    return false;
  }
  // The descriptor (and with it the lock that marks the file as in use)
  // stays open until the rename has put the file in place.
  if ((replace ? ::rename(staging.path.c_str(), staging.target.c_str())
               : RenameNoReplace(staging.path, staging.target)) != 0) {
    error = ErrnoText(errno);
    AbandonStagingFile(staging);
    return false;
  }
  staging.path.clear();
  UnregisterForCleanup(staging.slot);
  const int fd = staging.fd;
  staging.fd = -1;
  ::close(fd);  // the data is on disk already: fsync reported any write error
  SyncFolder(folder);
  return true;
}

void AbandonStagingFile(StagingFile& staging) {
  if (!staging.path.empty()) ::unlink(staging.path.c_str());
  staging.path.clear();
  UnregisterForCleanup(staging.slot);
  if (staging.fd >= 0) ::close(staging.fd);
  staging.fd = -1;
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
