#include "tests/support/TestSupport.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tavra_test {

namespace {

int ExitCode(int status) {
  if (status == -1) return kNoExit;
  return WIFEXITED(status) ? WEXITSTATUS(status) : kNoExit;
}

}  // namespace

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = kNoExit;
    return output;
  }
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  const int rc = ::pclose(pipe);
  if (status != nullptr) *status = ExitCode(rc);
  return output;
}

TCommandResult RunCapturing(const std::string& command) {
  ScratchDir capture;
  TCommandResult result;
  result.out = RunCommand("( " + command + " ) 2>" + Quote(capture.File("stderr")), &result.status);
  result.err = ReadFile(capture.File("stderr"));
  return result;
}

std::string Quote(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + Quote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

::testing::AssertionResult ToolAvailable(const std::string& name) {
  if (HaveTool(name)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "the checker '" << name
         << "' is not on PATH; this test needs it (scripts/setup installs it)";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec))
    names.push_back(entry.path().filename().string());
  return names;
}

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavra-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a scratch folder from " + pattern);
  path_ = pattern;
}

namespace {

// Gives back the owner's rights on every folder a test locked, so that the
// whole tree can be removed.
void UnlockFolders(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) UnlockFolders(entry.path());
  }
}

}  // namespace

ScratchDir::~ScratchDir() {
  UnlockFolders(path_);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Write(const std::string& name, std::string_view bytes) const {
  WriteFile(File(name), bytes);
  return File(name);
}

std::string ScratchDir::MakeDir(const std::string& name) const {
  std::filesystem::create_directories(File(name));
  return File(name);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  if (value != nullptr)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

}  // namespace tavra_test
