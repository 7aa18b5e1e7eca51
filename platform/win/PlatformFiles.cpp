// Files on Win32. Names are UTF-8 in the program and UTF-16 at the system:
// the wide forms of the calls, so that every name the user can type works.
#include "platform/PlatformFiles.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/win/WinText.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

using win::Utf8;
using win::Wide;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

std::string LastErrorText() {
  const DWORD code = ::GetLastError();
  errno = win::ErrnoOf(code);
  return win::ErrorText(code);
}

// Both separators count; the result keeps the path's own.
size_t LastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

// A file GetTempFileNameW made, opened for reading and writing so that it may
// be renamed or deleted while open (the scratch files are deleted at once).
bool OpenCreated(const std::wstring& name, int& fd, std::string& error) {
  HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = LastErrorText();
    ::DeleteFileW(name.c_str());
    return false;
  }
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    error = std::strerror(errno);
    ::CloseHandle(handle);
    ::DeleteFileW(name.c_str());
    return false;
  }
  return true;
}

bool CreateNamedFile(const std::string& folder, const wchar_t* prefix, TempFile& out,
                     std::string& error) {
  std::wstring dir = Wide(folder.empty() ? "." : folder);
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(dir.c_str(), prefix, 0, name) == 0) {
    error = LastErrorText();
    return false;
  }
  if (!OpenCreated(name, out.fd, error)) return false;
  out.path = Utf8(name);
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    const int n = ::_write(fd, data, static_cast<unsigned>(chunk));
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  std::string result = length > 0 && length <= MAX_PATH ? Utf8(buffer) : std::string(".");
  while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  return result;
}

bool CreateTempFile(const std::string& folder, const std::string& prefix, TempFile& out,
                    std::string& error) {
  // GetTempFileName keeps three characters of the prefix.
  const std::wstring wide = Wide(prefix.substr(0, 3));
  return CreateNamedFile(folder, wide.c_str(), out, error);
}

int64_t CopyFileBytes(int in, int64_t& inOffset, int out, int64_t& outOffset, int64_t count) {
  std::vector<char> chunk(1 << 20);
  int64_t copied = 0;
  while (count < 0 || copied < count) {
    const size_t want = static_cast<size_t>(
        count < 0 ? static_cast<int64_t>(chunk.size())
                  : std::min<int64_t>(count - copied, static_cast<int64_t>(chunk.size())));
    const ssize_t n = ::pread(in, chunk.data(), want, inOffset);
    if (n < 0) return -1;
    if (n == 0) break;
    size_t written = 0;
    while (written < static_cast<size_t>(n)) {
      const ssize_t w = ::pwrite(out, chunk.data() + written, static_cast<size_t>(n) - written,
                                 outOffset + static_cast<int64_t>(written));
      if (w <= 0) return -1;
      written += static_cast<size_t>(w);
    }
    inOffset += n;
    outOffset += n;
    copied += n;
  }
  return copied;
}

bool CreateStagingFile(const std::string& target, StagingFile& out, std::string& error) {
  TempFile file;
  std::string folder = DirectoryOf(AbsolutePath(target));
  if (!CreateNamedFile(folder, L"tav", file, error)) return false;
  out.fd = file.fd;
  out.path = file.path;
  out.target = target;
  out.slot = -1;
  return true;
}

bool CommitStagingFile(StagingFile& staging, std::string& error, bool replace) {
  if (staging.fd < 0) {
    error = "no staging file";
    return false;
  }
  if (!::FlushFileBuffers(HandleOf(staging.fd))) {
    error = LastErrorText();
    AbandonStagingFile(staging);
    return false;
  }
  ::_close(staging.fd);
  staging.fd = -1;
  DWORD flags = MOVEFILE_WRITE_THROUGH;
  if (replace) flags |= MOVEFILE_REPLACE_EXISTING;
  if (!::MoveFileExW(Wide(staging.path).c_str(), Wide(staging.target).c_str(), flags)) {
    const DWORD code = ::GetLastError();
    error = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? std::strerror(EEXIST)
                                                                      : win::ErrorText(code);
    errno = win::ErrnoOf(code);
    AbandonStagingFile(staging);
    return false;
  }
  staging.path.clear();
  return true;
}

void AbandonStagingFile(StagingFile& staging) {
  if (staging.fd >= 0) ::_close(staging.fd);
  staging.fd = -1;
  if (!staging.path.empty()) ::DeleteFileW(Wide(staging.path).c_str());
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
    thread_ = std::thread([fd] { ::FlushFileBuffers(HandleOf(fd)); });
  } catch (const std::system_error&) {
    // No thread: the caller's final sync does all the work.
  }
}

void EarlySync::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool ReplaceFileWithCopy(const std::string& source, const std::string& target, std::string& error) {
  StagingFile staging;
  if (!CreateStagingFile(target, staging, error)) return false;
  // The copy goes over the (empty) staging file; the rename then replaces
  // the target in one step.
  ::_close(staging.fd);
  staging.fd = -1;
  if (!::CopyFileW(Wide(source).c_str(), Wide(staging.path).c_str(), FALSE)) {
    error = LastErrorText();
    AbandonStagingFile(staging);
    return false;
  }
  TempFile reopened;
  if (!OpenCreated(Wide(staging.path), reopened.fd, error)) {
    staging.path.clear();
    return false;
  }
  staging.fd = reopened.fd;
  return CommitStagingFile(staging, error);
}

bool WriteFileAtomically(const std::string& path, std::string_view data, std::string& error) {
  StagingFile staging;
  if (!CreateStagingFile(path, staging, error)) return false;
  if (!WriteAll(staging.fd, data.data(), data.size())) {
    error = std::strerror(errno);
    AbandonStagingFile(staging);
    return false;
  }
  return CommitStagingFile(staging, error);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsOwnerWritable(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool IsDirectoryWritable(const std::string& folder) {
  if (!DirectoryExists(folder)) return false;
  TempFile probe;
  std::string error;
  if (!CreateTempFile(folder, "tav", probe, error)) return false;
  ::_close(probe.fd);
  ::DeleteFileW(Wide(probe.path).c_str());
  return true;
}

bool DeleteFile(const std::string& path) { return ::DeleteFileW(Wide(path).c_str()) != 0; }

bool MakeDirectories(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(fs::path(Wide(folder)), ec);
  return DirectoryExists(folder);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path result = fs::absolute(fs::path(Wide(path)), ec);
  if (ec) result = fs::path(Wide(path));
  result = result.lexically_normal();
  std::string text = Utf8(result.wstring());
  while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  return text;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = LastSeparator(path);
  if (slash == std::string::npos) return {};
  if (slash == 0) return path.substr(0, 1);
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const auto slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 6; ++attempt) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return Utf8(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 4);
  }
  return {};
}

// The per-user configuration folder: %APPDATA%.
std::string XdgConfigHome() {
  const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (length == 0) return ".";
  std::wstring value(length, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(L"APPDATA", value.data(), length);
  if (got == 0 || got >= length) return ".";
  value.resize(got);
  return Utf8(value);
}

}  // namespace platform
