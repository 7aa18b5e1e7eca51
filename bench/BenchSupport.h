// What the benchmarks share: running a piece of work or a command in a child
// process and taking its wall time around it and its peak memory from wait4
// (which covers the child and everything it waited for), so our side and the
// tools we compare with are measured the same way.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

namespace tavra_bench {

// A new folder for a benchmark's generated inputs, under $TMPDIR (else /tmp);
// empty when none can be made.
inline std::string MakeScratchFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavra-bench-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

struct TRunFigures {
  double WallMs = 0;
  long PeakKiB = 0;
  // User and system time: on a shared, loaded machine the fairer comparison.
  double CpuMs = 0;
  int Status = -1;  // exit status, -1 when the child did not exit normally
};

inline TRunFigures WaitFor(pid_t pid, std::chrono::steady_clock::time_point start) {
  TRunFigures figures;
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return figures;
  figures.WallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  figures.PeakKiB = usage.ru_maxrss;
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3;
  };
  figures.CpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  figures.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return figures;
}

// body's result is the child's exit status.
inline TRunFigures MeasureChild(const std::function<int()>& body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return WaitFor(pid, start);
}

// A shell command line, run by /bin/sh.
inline TRunFigures MeasureCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return WaitFor(pid, start);
}

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace tavra_bench
