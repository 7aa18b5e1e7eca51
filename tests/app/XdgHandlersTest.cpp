// Default handler lookup over private XDG trees.
#include "app/core/XdgHandlers.h"

#include <gtest/gtest.h>

#include "tests/app/AppTestSupport.h"

namespace tavra {
namespace {

class XdgHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.ConfigHome = dir.MakeDir("config");
    env.ConfigDirs = {dir.MakeDir("etc-xdg")};
    env.DataHome = dir.MakeDir("local-share");
    env.DataDirs = {dir.MakeDir("usr-share")};
    dir.MakeDir("local-share/applications");
    dir.MakeDir("usr-share/applications");
  }
  std::string Desktop(const std::string& relative) {
    return dir.Write(relative, "[Desktop Entry]\nType=Application\nExec=true %u\n");
  }

  tavra_test::ScratchDir dir;
  TXdgEnvironment env;
};

TEST_F(XdgHandlersTest, NothingConfiguredMeansNoHandler) {
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/http"), "");
  TXdgHandlerDetector detector(env);
  EXPECT_FALSE(detector.WebLinksOpenable());
  EXPECT_FALSE(detector.MailLinksOpenable());
}

TEST_F(XdgHandlersTest, DefaultNeedsAnInstalledDesktopFile) {
  dir.Write("config/mimeapps.list",
            "[Default Applications]\nx-scheme-handler/http=gone.desktop;browser.desktop\n");
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/http"), "");
  const std::string browser = Desktop("usr-share/applications/browser.desktop");
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/http"), browser);
  EXPECT_TRUE(TXdgHandlerDetector(env).WebLinksOpenable());
  EXPECT_FALSE(TXdgHandlerDetector(env).MailLinksOpenable());
}

TEST_F(XdgHandlersTest, UserFileWinsOverSystemFiles) {
  const std::string a = Desktop("usr-share/applications/a.desktop");
  const std::string b = Desktop("local-share/applications/b.desktop");
  dir.Write("etc-xdg/mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
  dir.Write("config/mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
  EXPECT_EQ(FindDefaultHandler(env, "text/html"), b);
}

TEST_F(XdgHandlersTest, DesktopSpecificFileComesFirst) {
  const std::string a = Desktop("usr-share/applications/a.desktop");
  const std::string b = Desktop("usr-share/applications/b.desktop");
  env.CurrentDesktops = {"gnome"};
  dir.Write("config/mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
  dir.Write("config/gnome-mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
  EXPECT_EQ(FindDefaultHandler(env, "text/html"), b);
}

TEST_F(XdgHandlersTest, WebFallsBackToTextHtml) {
  Desktop("usr-share/applications/viewer.desktop");
  dir.Write("usr-share/applications/mimeapps.list",
            "# comment\n[Default Applications]\ntext/html = viewer.desktop\n");
  EXPECT_TRUE(TXdgHandlerDetector(env).WebLinksOpenable());
}

TEST_F(XdgHandlersTest, AddedAssociationsAndCacheUnlessRemoved) {
  const std::string mail = Desktop("usr-share/applications/mail.desktop");
  dir.Write("usr-share/applications/mimeinfo.cache",
            "[MIME Cache]\nx-scheme-handler/mailto=mail.desktop;\n");
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/mailto"), mail);
  dir.Write("config/mimeapps.list",
            "[Removed Associations]\nx-scheme-handler/mailto=mail.desktop\n");
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/mailto"), "");
  const std::string other = Desktop("local-share/applications/other.desktop");
  dir.Write("etc-xdg/mimeapps.list",
            "[Added Associations]\nx-scheme-handler/mailto=other.desktop;\n");
  EXPECT_EQ(FindDefaultHandler(env, "x-scheme-handler/mailto"), other);
}

TEST_F(XdgHandlersTest, DesktopIdsMapDashesToSubfolders) {
  dir.MakeDir("usr-share/applications/kde4");
  const std::string k = Desktop("usr-share/applications/kde4/web-browser.desktop");
  dir.Write("config/mimeapps.list", "[Default Applications]\ntext/html=kde4-web-browser.desktop\n");
  EXPECT_EQ(FindDefaultHandler(env, "text/html"), k);
}

TEST_F(XdgHandlersTest, IdsCannotLeaveTheApplicationsFolders) {
  Desktop("local-share/evil.desktop");
  dir.Write("config/mimeapps.list",
            "[Default Applications]\ntext/html=../evil.desktop;/etc/passwd\n");
  EXPECT_EQ(FindDefaultHandler(env, "text/html"), "");
}

TEST(XdgEnvironment, FromProcessReadsTheBaseDirectoryVariables) {
  const char* names[] = {"HOME",          "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                         "XDG_DATA_HOME", "XDG_DATA_DIRS",   "XDG_CURRENT_DESKTOP"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    saved.emplace_back(n, v ? v : std::string("\x01"));
  }
  ::setenv("HOME", "/home/u", 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("XDG_CONFIG_DIRS", "/etc/a:relative:/etc/b", 1);
  ::setenv("XDG_DATA_HOME", "relative", 1);
  ::unsetenv("XDG_DATA_DIRS");
  ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
  const TXdgEnvironment env = TXdgEnvironment::FromProcess();
  for (const auto& [n, v] : saved) {
    if (v == "\x01") {
      ::unsetenv(n.c_str());
    } else {
      ::setenv(n.c_str(), v.c_str(), 1);
    }
  }
  EXPECT_EQ(env.ConfigHome, "/home/u/.config");
  EXPECT_EQ(env.ConfigDirs, (std::vector<std::string>{"/etc/a", "/etc/b"}));
  EXPECT_EQ(env.DataHome, "/home/u/.local/share");
  EXPECT_EQ(env.DataDirs, (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
  EXPECT_EQ(env.CurrentDesktops, (std::vector<std::string>{"ubuntu", "gnome"}));
}

}  // namespace
}  // namespace tavra
