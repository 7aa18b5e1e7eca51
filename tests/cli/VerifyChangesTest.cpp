// `tavrapdf verify` says for each signature what was changed after it, and
// fails a file with a change its signatures do not allow.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

using namespace tavra_test;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

std::string Golden(const std::string& name) {
  return ReadFile(std::string(TAVRA_SOURCE_DIR) + "/tests/golden/" + name);
}

TEST(VerifyChanges, OneLinePerSignatureAndTheStatusFollowsTheVerdict) {
  ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " is not built";
  ScratchDir dir;
  int status = -1;
  const std::string trust =
      " --trust " + Quote(std::string(TAVRA_SOURCE_DIR) + "/tests/golden/ca.crt");
  const std::string twice = RunCommand(
      kTool + " verify " + Quote(dir.Write("twice.pdf", Golden("signed-twice.pdf"))) + trust,
      &status);
  EXPECT_EQ(status, 0) << twice;
  EXPECT_NE(
      twice.find("  revocation: not checked\n  changed after signing: yes, allowed (signature "
                 "Signature2 added)\nSignature2\n"),
      std::string::npos)
      << twice;
  EXPECT_NE(twice.find("  changed after signing: no\n"), std::string::npos) << twice;

  // The page's content stream written again after the signature: the
  // signature still verifies, the change is not allowed.
  std::string pdf = Golden("classic-visible.pdf");
  const size_t digits = pdf.find_first_of("0123456789", pdf.rfind("startxref"));
  const std::string prev = pdf.substr(digits, pdf.find_first_not_of("0123456789", digits) - digits);
  const std::string data = "BT /F1 40 Tf 100 700 Td (PAID) Tj ET";
  const size_t object = pdf.size();
  pdf += "4 0 obj\n<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
         "\nendstream\nendobj\n";
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object);
  const size_t xref = pdf.size();
  pdf += "xref\n4 1\n" + std::string(entry) +
         "trailer\n<< /Size 21 /Root 1 0 R /Info 6 0 R /Prev " + prev + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  const std::string changed =
      RunCommand(kTool + " verify " + Quote(dir.Write("paid.pdf", pdf)), &status);
  EXPECT_EQ(status, 1) << changed;
  EXPECT_NE(changed.find("  valid: yes\n"), std::string::npos) << changed;
  EXPECT_NE(changed.find("  changed after signing: yes, NOT allowed (page 1 content changed)\n"),
            std::string::npos)
      << changed;
}

}  // namespace
