// The POSIX calls of platform/win/compat/tavra_posix.h on Win32 handles.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/PlatformSystem.h"
#include "platform/win/WinText.h"

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int Failed(DWORD code) {
  errno = platform::win::ErrnoOf(code);
  return -1;
}

}  // namespace

int open(const char* path, int flags, int mode) {
  const std::wstring wide = platform::win::Wide(path != nullptr ? path : "");
  if (wide.empty()) {
    errno = ENOENT;
    return -1;
  }
  const int permission = (mode & 0200) != 0 ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
  return ::_wopen(wide.c_str(), flags | _O_BINARY, permission);
}

ssize_t pread(int fd, void* buffer, size_t count, int64_t offset) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE || offset < 0) return Failed(ERROR_INVALID_HANDLE);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD done = 0;
  if (!::ReadFile(handle, buffer, want, &done, &at)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    return Failed(code);
  }
  return static_cast<ssize_t>(done);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, int64_t offset) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE || offset < 0) return Failed(ERROR_INVALID_HANDLE);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  const DWORD want = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD done = 0;
  if (!::WriteFile(handle, buffer, want, &done, &at)) return Failed(::GetLastError());
  return static_cast<ssize_t>(done);
}

int fsync(int fd) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) return Failed(ERROR_INVALID_HANDLE);
  return ::FlushFileBuffers(handle) ? 0 : Failed(::GetLastError());
}

int fdatasync(int fd) { return fsync(fd); }

int fcntl(int fd, int command, int) {
  if (command != F_DUPFD_CLOEXEC) {
    errno = EINVAL;
    return -1;
  }
  return ::_dup(fd);
}

char* mkdtemp(char* pattern) {
  const size_t length = pattern != nullptr ? std::strlen(pattern) : 0;
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    if (!platform::SystemRandomBytes(random, sizeof random)) break;
    for (int i = 0; i < 6; ++i) pattern[length - 6 + i] = kLetters[random[i] % 36];
    if (::CreateDirectoryW(platform::win::Wide(pattern).c_str(), nullptr)) return pattern;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  errno = EEXIST;
  return nullptr;
}

int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

int unsetenv(const char* name) { return ::_putenv_s(name, "") == 0 ? 0 : -1; }
