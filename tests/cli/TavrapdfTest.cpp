// The tavrapdf command line: exit statuses, the info report, and that the
// file read is left alone.
#include <sys/wait.h>

#include <filesystem>

#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;
using namespace tavra_test;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

struct TResult {
  int status = -1;
  std::string out;
  std::string err;
};

TResult Tavrapdf(const std::string& args, const std::string& tmpdir = "") {
  ScratchDir capture;
  TResult result;
  const std::string env = tmpdir.empty() ? "" : "TMPDIR=" + tmpdir + " ";
  result.out = RunCommand(env + kTool + " " + args + " 2>" + capture / "err", &result.status);
  result.err = ReadFile(capture / "err");
  return result;
}

#define REQUIRE_BINARY()                                                     \
  do {                                                                       \
    ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " is not built"; \
  } while (0)

TFixture SignedFixture() {
  TFixture f = OnePage();
  f.objects[0].second =
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 7 0 R] /SigFlags 3 >> >>";
  f.Add(5, "<< /FT /Sig /T (Signature1) /V 6 0 R /Rect [0 0 0 0] /Subtype /Widget /P 3 0 R >>");
  f.Add(6,
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached "
        "/ByteRange [0 10 20 30] /Contents <3082> /M (D:20240101120000Z) >>");
  f.Add(7, "<< /T (group) /Kids [8 0 R] >>");
  f.Add(8, "<< /FT /Sig /T (empty) /Parent 7 0 R >>");
  return f;
}

}  // namespace

TEST(Tavrapdf, HelpAndUsageErrors) {
  REQUIRE_BINARY();
  TResult help = Tavrapdf("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("info FILE.pdf"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  for (const char* args : {"", "frobnicate", "info", "info a.pdf b.pdf", "--help extra"}) {
    TResult usage = Tavrapdf(args);
    EXPECT_EQ(usage.status, 2) << args;
    EXPECT_NE(usage.err.find("tavrapdf: "), std::string::npos) << args;
    EXPECT_TRUE(usage.out.empty()) << args;
  }
}

TEST(Tavrapdf, InfoReportsStructureAndSignatures) {
  REQUIRE_BINARY();
  ScratchDir dir;
  const std::string path = dir / "signed.pdf";
  const std::string bytes = AppendUpdate(SignedFixture().Build(), {{9, "(later)"}}, 10);
  WriteFile(path, bytes);
  ScratchDir scratch;
  TResult info = Tavrapdf("info " + path, scratch.Path());
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(info.err.empty()) << info.err;
  EXPECT_NE(info.out.find("PDF version: 1.4\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Revisions: 2\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Objects: 9\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Pages: 1\n"), std::string::npos);
  EXPECT_NE(info.out.find("Rebuilt by scanning: no\nWarnings: 0\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Encrypted: no\n"), std::string::npos);
  EXPECT_NE(info.out.find("Signature fields: 2\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  Signature1: signed\n"
                          "    /Filter /Adobe.PPKLite\n"
                          "    /SubFilter /adbe.pkcs7.detached\n"
                          "    /M D:20240101120000Z\n"
                          "    /ByteRange [0 10 20 30]\n"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("  group.empty: not signed\n"), std::string::npos) << info.out;
  // The file is read, never written; the working copy leaves nothing behind.
  EXPECT_EQ(ReadFile(path), bytes);
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Path()));
}

TEST(Tavrapdf, InfoOnDamagedAndEncryptedFiles) {
  REQUIRE_BINARY();
  ScratchDir dir;
  TFixture junk = OnePage();
  junk.header += "(junk\n";
  std::string damaged = junk.Build();
  damaged.replace(damaged.rfind("startxref\n") + 10, 1, "x");
  WriteFile(dir / "damaged.pdf", damaged);
  TResult info = Tavrapdf("info " + dir / "damaged.pdf");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Rebuilt by scanning: yes"), std::string::npos) << info.out;
  // What was repaired is listed, with where it was found.
  EXPECT_NE(info.out.find("Warnings: 2\n  cross-reference information rebuilt by scanning: the "
                          "offset after startxref is not a number\n  offset " +
                          std::to_string(damaged.find("(junk")) +
                          ": skipped 6 bytes that start no object\n"),
            std::string::npos)
      << info.out;
  TFixture encrypted = OnePage();
  encrypted.Add(5, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>");
  encrypted.trailerExtra = " /Encrypt 5 0 R";
  WriteFile(dir / "encrypted.pdf", encrypted.Build());
  info = Tavrapdf("info " + dir / "encrypted.pdf");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Encrypted: yes (/Filter /Standard)\n"), std::string::npos) << info.out;
}

TEST(Tavrapdf, InfoFailuresGoToStandardError) {
  REQUIRE_BINARY();
  ScratchDir dir;
  WriteFile(dir / "text.pdf", "just some text\n");
  TResult info = Tavrapdf("info " + dir / "text.pdf");
  EXPECT_EQ(info.status, 1);
  EXPECT_TRUE(info.out.empty());
  EXPECT_NE(info.err.find("Bad document trailer"), std::string::npos) << info.err;
  info = Tavrapdf("info " + dir / "missing.pdf");
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.err.find("missing.pdf"), std::string::npos) << info.err;
  WriteFile(dir / "empty.pdf", "");
  EXPECT_EQ(Tavrapdf("info " + dir / "empty.pdf").status, 1);
}

TEST(Tavrapdf, InfoReportsEncryptionAndTakesAPassword) {
  REQUIRE_BINARY();
  ScratchDir dir;
  const std::string pdf = QpdfVariant(
      dir, SignedFixture().Build(), "--encrypt user owner 128 --use-aes=y --print=none --", "enc");
  ASSERT_FALSE(pdf.empty());
  const std::string path = dir.Write("encrypted.pdf", pdf);
  for (const char* password : {"user", "owner"}) {
    TResult info = Tavrapdf("info " + path + " --password " + password);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Encrypted: yes (/Filter /Standard)\n"
                            "  Revision: 4 (/V 4)\n"
                            "  Key length: 128 bits\n"
                            "  Streams: AESV2 (AES-128), strings: AESV2 (AES-128)\n"
                            "  Metadata encrypted: yes\n"
                            "  Permissions: modify, copy, annotate, fill-forms, "
                            "extract-accessibility, assemble (/P -2056)\n"
                            "  Decrypted: yes\n"),
              std::string::npos)
        << info.out;
    // Field names are encrypted strings: readable only once decrypted.
    EXPECT_NE(info.out.find("  Signature1: signed\n"), std::string::npos) << info.out;
  }
  TResult wrong = Tavrapdf("info " + path + " --password wrong");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(wrong.out.empty()) << wrong.out;
  EXPECT_EQ(wrong.err, "tavrapdf: " + path + ": Invalid password\n");
  TResult none = Tavrapdf("info " + path);
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_NE(none.out.find("  Decrypted: no (a password is needed: --password TEXT)\n"),
            std::string::npos)
      << none.out;
  EXPECT_EQ(Tavrapdf("info " + path + " --password").status, 2);
  EXPECT_EQ(Tavrapdf("info --password x").status, 2);
}
