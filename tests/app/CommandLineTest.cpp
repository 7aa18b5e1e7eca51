// The command-line switches: prefix match, "-" or "/", ASCII case folding, the
// first match wins, the list ends at the first empty argument.
#include "app/core/LowStuff.h"

#include <gtest/gtest.h>

namespace tavra {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, SwitchValueIsGluedToTheSwitch) {
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGN/tmp/a.pdf"}, "SIGN"), "/tmp/a.pdf");
  // Separate switch and path give an empty value; the path is no switch.
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGN", "/tmp/a.pdf"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{"p", "/tmp/a.pdf"}, "SIGN"), "");
  // Blanks inside one argument stay (the shell already removed the quotes).
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGN/tmp/my file.pdf"}, "SIGN"), "/tmp/my file.pdf");
}

TEST(CommandLine, SlashCaseAndPrefixRules) {
  EXPECT_EQ(GetSwitchValue(Args{"p", "/sign/a.pdf"}, "SIGN"), "/a.pdf");
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SiGn/a.pdf"}, "SIGN"), "/a.pdf");
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGNATURE"}, "SIGN"), "ATURE");
  EXPECT_EQ(GetSwitchValue(Args{"p", "SIGN/a.pdf"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIG"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{"p", "--SIGNx"}, "SIGN"), "");
  // Only ASCII letters fold: a dotless or accented letter is another letter.
  EXPECT_EQ(GetSwitchValue(Args{"p", "-S\xC4\xB0GNx"}, "SIGN"), "");
}

TEST(CommandLine, FirstMatchWinsAndEmptyArgumentEndsTheList) {
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGNa", "-SIGNb"}, "SIGN"), "a");
  EXPECT_EQ(GetSwitchValue(Args{"p", "-SIGN", "-SIGNb"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{"p", "", "-SIGNb"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{"p", "-x", "", "-PUTo"}, "PUT"), "");
  // argv[0] is never a switch.
  EXPECT_EQ(GetSwitchValue(Args{"-SIGNa"}, "SIGN"), "");
  EXPECT_EQ(GetSwitchValue(Args{}, "SIGN"), "");
}

TEST(CommandLine, ProcessArgumentsServeTheOneArgumentForm) {
  SetProcessArguments({"tavrapdfsg", "-PUT/o.pdf", "-sign/i.pdf"});
  EXPECT_EQ(GetSwitchValue("SIGN"), "/i.pdf");
  EXPECT_EQ(GetSwitchValue("PUT"), "/o.pdf");
  SetProcessArguments({});
}

TEST(CommandLine, ModesFromTheSwitches) {
  TCommandLine c = ReadCommandLine({"p"});
  EXPECT_FALSE(c.CmdLineActive);
  EXPECT_FALSE(c.CmdLineSignMode);

  c = ReadCommandLine({"p", "-SIGN/i.pdf", "-PUT/o.pdf", "-SHOW/s.pdf"});
  EXPECT_TRUE(c.CmdLineActive);
  EXPECT_TRUE(c.CmdLineSignMode);
  EXPECT_EQ(c.CmdLinePath, "/i.pdf");
  EXPECT_EQ(c.CmdLineOutput, "/o.pdf");

  // An empty SIGN together with SHOW: SHOW mode for that file; PUT is not read.
  c = ReadCommandLine({"p", "-SIGN", "-SHOW/s.pdf", "-PUT/o.pdf"});
  EXPECT_TRUE(c.CmdLineActive);
  EXPECT_FALSE(c.CmdLineSignMode);
  EXPECT_EQ(c.CmdLinePath, "/s.pdf");
  EXPECT_EQ(c.CmdLineOutput, "");

  // Arguments without a SIGN or SHOW value: interactive.
  c = ReadCommandLine({"p", "-PUT/o.pdf", "file.pdf"});
  EXPECT_FALSE(c.CmdLineActive);
  EXPECT_EQ(c.CmdLinePath, "");

  c = ReadCommandLine({"p", "-SIGN/i.pdf"});
  EXPECT_TRUE(c.CmdLineSignMode);
  EXPECT_EQ(c.CmdLineOutput, "");
}

}  // namespace
}  // namespace tavra
