#include "app/core/LowStuff.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <thread>
#include <utility>

#include "app/core/SignerToolkit.h"
#include "platform/PlatformFiles.h"

extern char** environ;

namespace tavra {

namespace {

std::vector<std::string>& ArgumentStore() {
  static std::vector<std::string> args;
  return args;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// Steps over one UTF-8 sequence at i. Returns true for a well-formed one;
// otherwise steps over its maximal ill-formed subpart (Unicode 15, 3.9) and
// returns false, so that one replacement stands for each broken sequence.
bool StepUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return true;
  }
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (InRange(b0, 0xC2, 0xDF)) {
    length = 2;
  } else if (b0 == 0xE0) {
    length = 3, low = 0xA0;
  } else if (InRange(b0, 0xE1, 0xEC) || InRange(b0, 0xEE, 0xEF)) {
    length = 3;
  } else if (b0 == 0xED) {
    length = 3, high = 0x9F;  // no surrogates
  } else if (b0 == 0xF0) {
    length = 4, low = 0x90;
  } else if (InRange(b0, 0xF1, 0xF3)) {
    length = 4;
  } else if (b0 == 0xF4) {
    length = 4, high = 0x8F;  // nothing above U+10FFFF
  } else {
    ++i;
    return false;
  }
  size_t k = 1;
  for (; k < length && i + k < s.size(); ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    const bool ok = k == 1 ? InRange(b, low, high) : InRange(b, 0x80, 0xBF);
    if (!ok) break;
  }
  i += k;
  return k == length;
}

std::string ReplaceInvalidUtf8(std::string_view text, std::string_view replacement) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t start = i;
    if (StepUtf8(text, i)) {
      result.append(text.substr(start, i - start));
    } else {
      result.append(replacement);
    }
  }
  return result;
}

}  // namespace

void SetProcessArguments(std::vector<std::string> args) { ArgumentStore() = std::move(args); }

const std::vector<std::string>& ProcessArguments() { return ArgumentStore(); }

std::string GetSwitchValue(const std::vector<std::string>& args, std::string_view name) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty()) break;
    if (arg[0] != '-' && arg[0] != '/') continue;
    if (arg.size() - 1 < name.size()) continue;
    const std::string_view candidate = std::string_view(arg).substr(1, name.size());
    if (SameTextAscii(candidate, name)) return arg.substr(1 + name.size());
  }
  return {};
}

std::string GetSwitchValue(std::string_view name) {
  return GetSwitchValue(ProcessArguments(), name);
}

TCommandLine ReadCommandLine(const std::vector<std::string>& args) {
  TCommandLine cmd;
  if (args.size() > 1) {
    cmd.CmdLinePath = GetSwitchValue(args, "SIGN");
    if (!cmd.CmdLinePath.empty()) {
      cmd.CmdLineSignMode = true;
      cmd.CmdLineOutput = GetSwitchValue(args, "PUT");
    } else {
      cmd.CmdLinePath = GetSwitchValue(args, "SHOW");
      cmd.CmdLineSignMode = false;
    }
  }
  cmd.CmdLineActive = !cmd.CmdLinePath.empty();
  return cmd;
}

#ifdef _WIN32
bool ShellOpen(const std::string& target) {
  const int size = static_cast<int>(std::min<size_t>(target.size(), 32767));
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (size == 0 || ::MultiByteToWideChar(CP_UTF8, 0, target.data(), size, wide.data(), size) <= 0)
    return false;
  wide.resize(std::wcslen(wide.c_str()));
  // Success is any value above 32.
  return reinterpret_cast<intptr_t>(
             ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}
#else
bool ShellOpen(const std::string& target) {
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  // A session of its own: the viewer outlives us and never gets our signals.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::string program = "xdg-open";
  std::string argument = target;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  // xdg-open returns once the viewer runs; reap it so no zombie stays behind.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}
#endif

bool ShellOpenFile(const std::string& path) { return ShellOpen(platform::AbsolutePath(path)); }

std::string SerialNumberText(std::string_view serialBytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  if (serialBytes.empty() || static_cast<unsigned char>(serialBytes[0]) >= 0x80) result = "00";
  for (const char c : serialBytes) {
    const auto b = static_cast<unsigned char>(c);
    result += kHex[b >> 4];
    result += kHex[b & 0x0F];
  }
  return result;
}

std::string SerialNumberText(const ISignerCertificate& certificate) {
  return SerialNumberText(certificate.SerialNumber());
}

std::string ToUtf8Text(std::string_view text) { return ReplaceInvalidUtf8(text, "\xEF\xBF\xBD"); }

std::string FromUtf8Text(std::string_view text) { return ReplaceInvalidUtf8(text, "?"); }

std::string TrimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace tavra
