// Helpers of the RSA and multi-precision tests: running a checker with its
// exit status, and RSA keys that openssl makes once per test run.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CryptoTestUtil.h"
#include "tests/support/TestSupport.h"

namespace corvane::testutil {

using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::ScratchDir;
using tavra_test::WriteFile;

struct ToolResult {
  int status = tavra_test::kNoExit;
  std::string output;  // standard output (then standard error, when merged)
};

// mergeStderr false: only standard output (for binary output).
inline ToolResult RunTool(const std::string& command, bool mergeStderr = true) {
  const tavra_test::TCommandResult r = tavra_test::RunCapturing(command);
  return {r.status, mergeStderr ? r.out + r.err : r.out};
}

// Keys made by openssl, cached for the run: "<name>.pem" (PKCS#8 private
// key) and "<name>.pub.pem" (SubjectPublicKeyInfo) in one scratch folder.
class OpenSSLKeys {
 public:
  static OpenSSLKeys& Instance() {
    static OpenSSLKeys keys;
    return keys;
  }
  // genpkeyArgs: e.g. "-algorithm RSA -pkeyopt rsa_keygen_bits:2048"; only
  // the first request for a name makes the key.
  std::string Private(const std::string& name, const std::string& genpkeyArgs) {
    Make(name, genpkeyArgs);
    return dir_.File(name + ".pem");
  }
  std::string Public(const std::string& name, const std::string& genpkeyArgs) {
    Make(name, genpkeyArgs);
    return dir_.File(name + ".pub.pem");
  }
  std::string RSA(int bits) { return Private("rsa" + std::to_string(bits), Args(bits)); }
  std::string RSAPublic(int bits) { return Public("rsa" + std::to_string(bits), Args(bits)); }

 private:
  static std::string Args(int bits) {
    return "-algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits);
  }
  void Make(const std::string& name, const std::string& args) {
    if (made_.count(name) != 0) return;
    const std::string key = dir_.File(name + ".pem");
    const ToolResult gen = RunTool("openssl genpkey " + args + " -out " + Quote(key));
    EXPECT_EQ(gen.status, 0) << gen.output;
    const ToolResult pub = RunTool("openssl pkey -in " + Quote(key) + " -pubout -out " +
                                   Quote(dir_.File(name + ".pub.pem")));
    EXPECT_EQ(pub.status, 0) << pub.output;
    made_[name] = true;
  }

  ScratchDir dir_;
  std::map<std::string, bool> made_;
};

}  // namespace corvane::testutil
