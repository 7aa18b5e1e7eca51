// What the benchmarks share: running a piece of work or a command in a child
// process and taking its wall time around it and its peak memory from wait4
// (which covers the child and everything it waited for), so our side and the
// tools we compare with are measured the same way.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// The command's standard output without its final line ends.
inline std::string Capture(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

// What the signing benchmarks sign with: the tests' key store in
// folder/store, a database of its own for pdfsig (it cannot cope with the
// store's token module) holding the same RSA key, and that key's serial.
struct TSigningStores {
  std::string Store;
  std::string PopplerDb;
  std::string Serial;
};

inline bool MakeSigningStores(const std::string& folder, TSigningStores& out) {
  out.Store = folder + "/store";
  if (std::system(("bash " +
                   Quote(std::string(TAVRA_SOURCE_DIR) + "/tests/fixtures/make-store.sh") + " " +
                   Quote(out.Store) + " >/dev/null")
                      .c_str()) != 0) {
    std::fprintf(stderr, "cannot make the key store\n");
    return false;
  }
  out.PopplerDb = folder + "/poppler-db";
  std::filesystem::create_directories(out.PopplerDb);
  if (std::system(("certutil -N -d " + Quote("sql:" + out.PopplerDb) +
                   " --empty-password && pk12util -i " + Quote(out.Store + "/rsa2048.p12") +
                   " -d " + Quote("sql:" + out.PopplerDb) + " -W tavra >/dev/null")
                      .c_str()) != 0) {
    std::fprintf(stderr, "cannot make the database for pdfsig\n");
    return false;
  }
  out.Serial = Capture("openssl x509 -noout -serial -in " + Quote(out.Store + "/rsa2048.crt") +
                       " | cut -d= -f2");
  return true;
}

}  // namespace tavra_bench
