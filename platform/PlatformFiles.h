// File-system services of the operating system: temporary files, the safe
// replacement of an output file, the executable's location and the per-user
// configuration folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Copies source over target without ever leaving a half-written or missing
// target: symlinks of the target are resolved, a staging file with a random
// name is written beside it (with the existing file's mode, else 0666 & ~umask),
// synced, renamed over the target, and the folder is synced. On failure the
// staging file is removed, target is untouched and error tells why.
// Copies count bytes (to the end of the input when count is negative) from
// in at inOffset to out at outOffset, inside the kernel where it can; the
// offsets are advanced. Returns the number of bytes copied, or -1 with errno
// set on a read or write error. Copies less only when the input ends.
int64_t CopyFileBytes(int in, int64_t& inOffset, int out, int64_t& outOffset, int64_t count);

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

// The absolute, lexically cleaned form of path (no symlink resolution).
std::string AbsolutePath(const std::string& path);
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// The running executable, from /proc/self/exe.
std::string ExecutablePath();
// $XDG_CONFIG_HOME when set and absolute, else $HOME/.config.
std::string XdgConfigHome();

}  // namespace platform
