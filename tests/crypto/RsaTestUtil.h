// Helpers of the RSA and multi-precision tests: a scratch folder, files,
// running a checker with its exit status, and RSA keys that openssl makes
// once per test run.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

#include "CryptoTestUtil.h"

namespace corvane::testutil {

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/tavra-rsa-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made != nullptr ? made : "";
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

using tavra_test::HaveTool;

// A file with the given contents, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::string& contents) : path_(dir_.Write("data", contents)) {}
  const std::string& Path() const { return path_; }

 private:
  tavra_test::ScratchDir dir_;
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

struct ToolResult {
  int status = -1;
  std::string output;  // standard output (and standard error)
};

// mergeStderr false: standard error is dropped (for binary output).
inline ToolResult RunTool(const std::string& command, bool mergeStderr = true) {
  ToolResult result;
  FILE* pipe = popen((command + (mergeStderr ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  const int raw = pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

// Keys made by openssl, cached for the run: "<name>.pem" (PKCS#8 private
// key) and "<name>.pub.pem" (SubjectPublicKeyInfo) in one scratch folder.
class OpenSSLKeys {
 public:
  static OpenSSLKeys& Instance() {
    static OpenSSLKeys keys;
    return keys;
  }
  // genpkeyArgs: e.g. "-algorithm RSA -pkeyopt rsa_keygen_bits:2048".
  std::string Private(const std::string& name, const std::string& genpkeyArgs) {
    Make(name, genpkeyArgs);
    return dir_.File(name + ".pem");
  }
  std::string Public(const std::string& name, const std::string& genpkeyArgs) {
    Make(name, genpkeyArgs);
    return dir_.File(name + ".pub.pem");
  }
  std::string RSA(int bits) {
    return Private("rsa" + std::to_string(bits),
                   "-algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits));
  }
  std::string RSAPublic(int bits) {
    return Public("rsa" + std::to_string(bits),
                  "-algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits));
  }
  const ScratchDir& Dir() const { return dir_; }

 private:
  void Make(const std::string& name, const std::string& args) {
    if (made_.count(name) != 0) return;
    const std::string key = dir_.File(name + ".pem");
    const ToolResult gen = RunTool("openssl genpkey " + args + " -out '" + key + "'");
    EXPECT_EQ(gen.status, 0) << gen.output;
    const ToolResult pub = RunTool("openssl pkey -in '" + key + "' -pubout -out '" +
                                   dir_.File(name + ".pub.pem") + "'");
    EXPECT_EQ(pub.status, 0) << pub.output;
    made_[name] = true;
  }

  ScratchDir dir_;
  std::map<std::string, bool> made_;
};

}  // namespace corvane::testutil
