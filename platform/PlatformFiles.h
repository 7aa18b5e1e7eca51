// File-system services of the operating system: temporary files, the safe
// replacement of an output file, the executable's location and the per-user
// configuration folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

namespace platform {

// $TMPDIR when set and non-empty, else /tmp; no trailing slash.
std::string TempDirectory();

// A new, empty file "<prefix>XXXXXX" created atomically in the folder. On
// success fd is open for reading and writing and path names the file.
struct TempFile {
  int fd = -1;
  std::string path;
};
bool CreateTempFile(const std::string& folder, const std::string& prefix, TempFile& out,
                    std::string& error);

// Copies count bytes (to the end of the input when count is negative) from
// in at inOffset to out at outOffset, inside the kernel where it can; the
// offsets are advanced. Returns the number of bytes copied, or -1 with errno
// set on a read or write error. Copies less only when the input ends.
int64_t CopyFileBytes(int in, int64_t& inOffset, int out, int64_t& outOffset, int64_t count);

// A file that is to replace target, in the folder of the file target really
// names (symlinks followed, so that the link stays and the file it points to
// is updated), with that file's mode (new files: 0666 & ~umask). fd is open
// for reading and writing.
//
// Where the file system allows it the file has no name until the commit
// links it in (path is empty): a process that dies at any moment leaves
// nothing behind. Elsewhere it is a hidden ".<name>.tmp-tavra-XXXXXX" made
// with O_EXCL (path names it); SIGTERM, SIGINT and SIGHUP remove it before
// the process ends, and a later CreateStagingFile in the same folder removes
// such files that no live process holds and that are older than its own
// start (what a SIGKILL or a crash left).
//
// The environment variable TAVRA_NAMED_STAGING_FOR_TESTING=1 forces the
// named file, so that tests can reach that path on any file system.
struct StagingFile {
  int fd = -1;
  std::string path;    // empty while the file has no name
  std::string target;  // the file the rename replaces
  int slot = -1;       // where the signal cleanup knows the name from
};
bool CreateStagingFile(const std::string& target, StagingFile& out, std::string& error);
// Syncs the staging file, puts it in place of its target in one rename and
// syncs the folder. On failure the staging file is removed, the target is
// untouched and error tells why. The descriptor is closed either way. With
// replace false an existing target is kept and the commit fails (EEXIST),
// decided by the file system in the same step as the rename.
bool CommitStagingFile(StagingFile& staging, std::string& error, bool replace = true);
// Closes and removes the staging file; the target is untouched.
void AbandonStagingFile(StagingFile& staging);

// Puts a file's data on disk in a helper thread while the caller goes on
// working with the file, so that the sync that has to come at the end finds
// almost nothing left to do. The thread touches nothing but the descriptor,
// which must stay open until Wait (the destructor waits too).
class EarlySync {
 public:
  EarlySync() = default;
  ~EarlySync() { Wait(); }
  EarlySync(const EarlySync&) = delete;
  EarlySync& operator=(const EarlySync&) = delete;
  EarlySync(EarlySync&&) noexcept = default;
  EarlySync& operator=(EarlySync&& other) noexcept;

  // Starts syncing (when no thread can be had, the final sync does it all).
  void Start(int fd);
  void Wait();

 private:
  std::thread thread_;
};

// Copies source over target without ever leaving a half-written or missing
// target: a staging file as above is written, synced and renamed over the
// target. On failure target is untouched and error tells why.
bool ReplaceFileWithCopy(const std::string& source, const std::string& target, std::string& error);

// Writes data to path the same way: a staging file beside it, then a rename.
bool WriteFileAtomically(const std::string& path, std::string_view data, std::string& error);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// False when the owner-write bit is missing (the "read-only attribute").
bool IsOwnerWritable(const std::string& path);
bool IsDirectoryWritable(const std::string& folder);
bool DeleteFile(const std::string& path);
bool MakeDirectories(const std::string& folder);

// A UTF-8 file name as the standard library's streams open it: made from
// char8_t, so that on Windows it is not read in the ANSI code page.
inline std::filesystem::path StreamPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The absolute, lexically cleaned form of path (no symlink resolution).
std::string AbsolutePath(const std::string& path);
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// The running executable, from /proc/self/exe.
std::string ExecutablePath();
// $XDG_CONFIG_HOME when set and absolute, else $HOME/.config.
std::string XdgConfigHome();

}  // namespace platform
