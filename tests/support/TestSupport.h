// What every test folder shares: running a command and capturing its output,
// requiring an independent checker (a missing one fails the test, it never
// skips it), private scratch folders and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace tavra_test {

// Exit status of a command that could not run or did not exit normally.
inline constexpr int kNoExit = -1;

struct TCommandResult {
  int status = kNoExit;
  std::string out;
  std::string err;
};

// Runs a shell command; returns its standard output and sets status to its
// exit code (kNoExit when it could not run or died by a signal). Standard
// error goes where the test's own does.
std::string RunCommand(const std::string& command, int* status = nullptr);

// Runs a shell command with standard output and standard error captured apart.
TCommandResult RunCapturing(const std::string& command);

// The text as one single-quoted shell word.
std::string Quote(std::string_view text);

bool HaveTool(const std::string& name);

// Success when the tool is on PATH; otherwise a failure naming it.
::testing::AssertionResult ToolAvailable(const std::string& name);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view bytes);
// Names of the entries of a folder (none when it cannot be read).
std::vector<std::string> ListDir(const std::string& path);

// A private folder under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(const std::string& name) const { return File(name); }
  // Writes the bytes to the named file in the folder; returns its path.
  std::string Write(const std::string& name, std::string_view bytes) const;
  // Makes the named sub-folder (and its parents); returns its path.
  std::string MakeDir(const std::string& name) const;

 private:
  std::string path_;
};

// Sets (or, with nullptr, unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace tavra_test

// Fails the current test (returning from the calling void function) when the
// checker tool is not installed.
#define TAVRA_REQUIRE_TOOL(name) ASSERT_TRUE(::tavra_test::ToolAvailable(name))
