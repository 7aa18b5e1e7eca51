// The desktop entry, the icon and the manual pages, as the desktop's own tools
// read them, and where `cmake --install` puts them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace {

using tavra_test::Quote;
using tavra_test::ReadFile;
using tavra_test::RunCapturing;

const std::string kSource = TAVRA_SOURCE_DIR;

TEST(DesktopFiles, EntryIsValidAndOffersItselfForPdf) {
  TAVRA_REQUIRE_TOOL("desktop-file-validate");
  const std::string entry = kSource + "/data/tavrapdfsg.desktop";
  const tavra_test::TCommandResult r = RunCapturing("desktop-file-validate " + Quote(entry));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out + r.err, "");  // not even a hint
  const std::string text = ReadFile(entry);
  EXPECT_NE(text.find("\nMimeType=application/pdf;\n"), std::string::npos);
  EXPECT_NE(text.find("\nName=Tavra PDF Signer\n"), std::string::npos);
  EXPECT_NE(text.find("\nName[cs]="), std::string::npos);
  EXPECT_NE(text.find("\nExec=tavrapdfsg -SIGN%f\n"), std::string::npos);
}

TEST(DesktopFiles, ManualPagesRenderAndListEveryCommandOfTheHelp) {
  TAVRA_REQUIRE_TOOL("man");
  for (const char* page : {"tavrapdfsg.1", "tavrapdf.1"}) {
    const tavra_test::TCommandResult r =
        RunCapturing("MANWIDTH=80 man --warnings -l " + Quote(kSource + "/data/man/" + page));
    EXPECT_EQ(r.status, 0) << page;
    EXPECT_EQ(r.err, "") << page;  // groff warnings
    EXPECT_NE(r.out.find("NAME"), std::string::npos) << page;
  }
  const std::string help =
      RunCapturing(Quote(std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf") + " --help").out;
  const std::string page =
      RunCapturing("MANWIDTH=200 man -l " + Quote(kSource + "/data/man/tavrapdf.1")).out;
  // Each command line of the help ("  info FILE.pdf ...") is an entry of the page.
  std::istringstream lines(help.substr(help.find("Commands:")));
  int commands = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() < 3 || line[0] != ' ' || line[1] != ' ' || line[2] == ' ') continue;
    const std::string command = line.substr(2, line.find(' ', 2) - 2);
    EXPECT_NE(page.find("\n       " + command), std::string::npos) << command;
    ++commands;
  }
  // info, certs, stores, sign, sign --out-dir, timestamp, ltv, verify, --help, --version
  EXPECT_EQ(commands, 10);
}

TEST(DesktopFiles, InstallPutsEverythingInItsPlace) {
  tavra_test::ScratchDir dir;
  const tavra_test::TCommandResult r = RunCapturing("cmake --install " + Quote(TAVRA_BINARY_DIR) +
                                                    " --prefix " + Quote(dir.File("usr")));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* file :
       {"bin/tavrapdf", "bin/tavrapdfsg", "share/applications/tavrapdfsg.desktop",
        "share/icons/hicolor/scalable/apps/tavrapdfsg.svg", "share/man/man1/tavrapdf.1.gz",
        "share/man/man1/tavrapdfsg.1.gz"})
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.File(std::string("usr/") + file))) << file;
}

}  // namespace
