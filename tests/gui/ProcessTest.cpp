// tavrapdfsg as a process: the start-up error for a missing file and its exit
// status, the window under Xvfb, and SHOW mode handing the file to the opener.
// Each run gets a private HOME, XDG folders, TMPDIR and NSS folder; message
// boxes are logged and dismissed through TAVRA_TEST_MESSAGE_LOG.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/AppTestSupport.h"

namespace {

using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::ScratchDir;

const std::string kBinary = std::string(TAVRA_BINARY_DIR) + "/app/gui/tavrapdfsg";

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::FileExists(kBinary)) << "tavrapdfsg is not built: " << kBinary;
    home = dir.MakeDir("home");
    log = dir.File("messages.log");
    bin = dir.MakeDir("bin");
  }

  // A clean environment: nothing of the caller's desktop leaks in.
  std::string Environment(bool offscreen) const {
    std::string env = "env -i";
    auto add = [&env](const std::string& name, const std::string& value) {
      env += " " + Quote(name + "=" + value);
    };
    add("HOME", home);
    add("XDG_CONFIG_HOME", home + "/.config");
    add("XDG_DATA_HOME", home + "/.local/share");
    add("XDG_CONFIG_DIRS", dir.MakeDir("etc-xdg"));
    add("XDG_DATA_DIRS", dir.MakeDir("share"));
    add("XDG_RUNTIME_DIR", dir.MakeDir("runtime"));
    ::chmod(dir.File("runtime").c_str(), 0700);
    add("TMPDIR", dir.MakeDir("tmp"));
    add("TAVRA_NSSDB", dir.MakeDir("nssdb"));
    add("TAVRA_TEST_MESSAGE_LOG", log);
    const char* path = std::getenv("PATH");
    add("PATH", bin + ":" + (path != nullptr ? path : "/usr/bin:/bin"));
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) add(name, value);
    }
    if (offscreen) {
      add("QT_QPA_PLATFORM", "offscreen");
    } else {
      // Expanded by the shell that xvfb-run starts, which knows the display.
      env += " \"DISPLAY=$DISPLAY\" \"XAUTHORITY=$XAUTHORITY\"";
    }
    return env;
  }

  // Exit status of the shell command (-1 when it did not exit normally).
  static int Run(const std::string& command) {
    int status = tavra_test::kNoExit;
    tavra_test::RunCommand(command, &status);
    return status;
  }

  ScratchDir dir;
  std::string home, log, bin;
};

TEST_F(ProcessTest, MissingSignFileShowsStartupErrorAndExitsWithZero) {
  const int status = Run("cd " + Quote(dir.Path()) + " && timeout 60 " + Environment(true) + " " +
                         Quote(kBinary) + " -SIGN/no/such.pdf -PUT/tmp/out.pdf");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
  EXPECT_TRUE(tavra_test::ListDir(dir.File("tmp")).empty());
}

TEST_F(ProcessTest, SlashAndLowerCaseSwitchesWorkTheSame) {
  const int status =
      Run("timeout 60 " + Environment(true) + " " + Quote(kBinary) + " /show/no/such.pdf");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
}

TEST_F(ProcessTest, StartupErrorUnderXvfb) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  const std::string script = Environment(false) + " " + Quote(kBinary) + " -SIGN/no/such.pdf";
  const int status = Run("timeout 120 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "error\tError\tSoubor \"/no/such.pdf\" nenalezen\n");
}

TEST_F(ProcessTest, OpensItsWindowUnderXvfb) {
  TAVRA_REQUIRE_TOOL("xvfb-run");
  TAVRA_REQUIRE_TOOL("xwininfo");
  const std::string input = dir.Write("in.pdf", "%PDF-1.4\n%%EOF\n");
  // Inside the X session: start the program, wait for its window, end it.
  const std::string script = Environment(false) + " " + Quote(kBinary) + " -SIGN" + Quote(input) +
                             " & pid=$!; " + "for i in $(seq 1 300); do grep -q '^window' " +
                             Quote(log) + " 2>/dev/null && break; sleep 0.1; done; " +
                             "xwininfo -root -tree > " + Quote(dir.File("tree.txt")) +
                             "; kill $pid; wait $pid; exit 0";
  const int status = Run("timeout 120 xvfb-run -a sh -c " + Quote(script));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(log), "window\tTavra PDF Signer\tshown\n");
  EXPECT_NE(ReadFile(dir.File("tree.txt")).find("\"Tavra PDF Signer\""), std::string::npos);
}

TEST_F(ProcessTest, ShowModeHandsTheAbsolutePathToTheOpenerAndNeverShowsTheWindow) {
  const std::string record = dir.File("opened.txt");
  const std::string opener =
      dir.Write("bin/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " +
                                    Quote(record + ".part") + "\nmv " + Quote(record + ".part") +
                                    " " + Quote(record) + "\n");
  ::chmod(opener.c_str(), 0755);
  const std::string file = dir.Write("view me.pdf", "%PDF-1.4\n%%EOF\n");
  const int status = Run("cd " + Quote(dir.Path()) + " && timeout 60 " + Environment(true) + " " +
                         Quote(kBinary) + " -SHOW" + Quote("view me.pdf"));
  EXPECT_EQ(status, 0);
  for (int i = 0; i < 500 && !platform::FileExists(record); ++i) ::usleep(10000);
  EXPECT_EQ(ReadFile(record), file + "\n");
  EXPECT_EQ(ReadFile(log), "");  // no window, no message
}

}  // namespace
