// `tavrapdf sign INPUT... --out-dir DIR`: every output judged by pdfsig and
// by our verify, failures reported beside the files that were signed, and
// nothing half-written left in the folder, not even when the disk is full.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/fixtures/StoreFixture.h"
#include "tests/pdf/PdfFixtures.h"

using namespace pdftest;
using namespace tavra_test;
using tavra_fixture::Store;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";

struct TRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Signs with the "Jan Čáp" certificate of the fixture store; stdin is fed
// from the named file when one is given.
TRun Batch(const ScratchDir& dir, const std::string& args, const std::string& stdinFile = "") {
  TRun run;
  const std::string env =
      ". " + Quote(Store::Get().File("env.sh")) + " && TMPDIR=" + Quote(dir.Path()) + " ";
  run.out = RunCommand(env + kTool + " sign " + args + " --nssdb " + Quote(Store::Get().Db()) +
                           " --issuer 'Tavra Test CA' --serial 1005 --reason 'Schváleno'" +
                           (stdinFile.empty() ? "" : " <" + Quote(stdinFile)) + " 2>" +
                           Quote(dir / "err"),
                       &run.status);
  run.err = ReadFile(dir / "err");
  return run;
}

// A one-page invoice of its own number; padding makes it bigger.
std::string Invoice(int number, size_t padding = 0) {
  TFixture f = OnePage();
  const std::string text = "BT /F1 18 Tf 72 720 Td (Faktura 2024-" + std::to_string(number) +
                           ") Tj 0 -30 Td (Celkem " + std::to_string(1000 + number * 7) +
                           " CZK) Tj ET\n% " + std::string(padding, 'x');
  f.objects[3].second = StreamBody("", text);
  return f.Build();
}

// pdfsig's database: the test CA trusted, nothing else.
std::string PopplerDb(const ScratchDir& dir) {
  const std::string path = dir.MakeDir("popplerdb");
  int status = -1;
  const std::string out =
      RunCommand("certutil -N -d " + Quote("sql:" + path) + " --empty-password && certutil -A -d " +
                     Quote("sql:" + path) + " -n ca -t CT,C,C -i " +
                     Quote(Store::Get().File("ca.crt")) + " 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << out;
  return path;
}

// Runs pdfsig and our verify over every PDF of the folder; the files either
// one does not call valid, one a line.
std::string InvalidOutputs(const ScratchDir& dir, const std::string& folder) {
  const std::string db = PopplerDb(dir);
  const std::string env = ". " + Quote(Store::Get().File("env.sh")) + " && ";
  return RunCommand(env + "for f in " + Quote(folder) + "/*.pdf; do pdfsig -nssdir " +
                    Quote("sql:" + db) +
                    " \"$f\" 2>&1 | grep -q 'Signature Validation: Signature is Valid.' || echo "
                    "\"pdfsig $f\"; " +
                    kTool + " verify \"$f\" --nssdb " + Quote(Store::Get().Db()) +
                    " >/dev/null 2>&1 || echo \"verify $f\"; done");
}

size_t Lines(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
  return n;
}

void ExpectNoHiddenFiles(const std::string& folder) {
  for (const std::string& name : ListDir(folder)) EXPECT_NE(name[0], '.') << name;
}

TEST(BatchSign, TwoHundredInvoicesFromAListAreAllValid) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("pdfsig");
  ScratchDir dir;
  dir.MakeDir("in");
  const std::string out = dir.MakeDir("out");
  std::string list;
  for (int i = 1; i <= 200; ++i) {
    const std::string input = dir / ("in/faktura-" + std::to_string(i) + ".pdf");
    WriteFile(input, Invoice(i));
    list += input + "\n";
  }
  WriteFile(dir / "list", list);
  const TRun run = Batch(dir, "--from-file - --out-dir " + Quote(out) + " --jobs 2", dir / "list");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Lines(run.out, " -> "), 200u) << run.out;
  EXPECT_NE(run.out.find(dir / "in/faktura-7.pdf -> " + out + "/faktura-7-signed.pdf\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\nsigned 200 of 200 files, 0 failed\n"), std::string::npos) << run.out;
  EXPECT_EQ(ListDir(out).size(), 200u);
  EXPECT_EQ(InvalidOutputs(dir, out), "");
  // Each output is its own input with a signature appended.
  const std::string input = ReadFile(dir / "in/faktura-123.pdf");
  EXPECT_EQ(ReadFile(out + "/faktura-123-signed.pdf").compare(0, input.size(), input), 0);
}

TEST(BatchSign, EncryptedAndMissingInputsAreReportedTheOthersSigned) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("pdfsig");
  ScratchDir dir;
  const std::string out = dir.MakeDir("out");
  WriteFile(dir / "a.pdf", Invoice(1));
  WriteFile(dir / "b.pdf", Invoice(2));
  WriteFile(dir / "c.PDF", Invoice(3));
  ASSERT_FALSE(QpdfVariant(dir, Invoice(4), "--encrypt user owner 256 --", "locked").empty());
  const TRun run =
      Batch(dir, Quote(dir / "a.pdf") + " " + Quote(dir / "locked.pdf") + " " +
                     Quote(dir / "gone.pdf") + " " + Quote(dir / "b.pdf") + " " +
                     Quote(dir / "c.PDF") + " --out-dir " + Quote(out) + " --suffix _podepsano");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.out.find(dir / "locked.pdf: Zašifrovaný dokument nelze podepsat\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(dir / "gone.pdf: Soubor \"" + dir / "gone.pdf" + "\" nenalezen\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("signed 3 of 5 files, 2 failed\n"), std::string::npos) << run.out;
  EXPECT_EQ(ListDir(out).size(), 3u);
  for (const char* name : {"a_podepsano.pdf", "b_podepsano.pdf", "c_podepsano.PDF"})
    EXPECT_TRUE(std::filesystem::exists(out + "/" + name)) << name;
  std::filesystem::rename(out + "/c_podepsano.PDF", out + "/c_podepsano.pdf");
  EXPECT_EQ(InvalidOutputs(dir, out), "");
}

TEST(BatchSign, ExistingOutputsAreKeptUnlessOverwriteAndNamesNeverCollide) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  const std::string out = dir.MakeDir("out");
  dir.MakeDir("other");
  WriteFile(dir / "a.pdf", Invoice(1));
  WriteFile(dir / "other/a.pdf", Invoice(2));
  WriteFile(out + "/a-signed.pdf", "older");
  TRun run = Batch(dir, Quote(dir / "a.pdf") + " --out-dir " + Quote(out));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("již existuje"), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(out + "/a-signed.pdf"), "older");

  // Two inputs of one name: the second is refused, the first overwrites.
  run = Batch(dir, Quote(dir / "a.pdf") + " " + Quote(dir / "other/a.pdf") +
                       " --overwrite --out-dir " + Quote(out));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(dir / "other/a.pdf: Výstupní soubor \"" + out +
                         "/a-signed.pdf\" patří už jinému vstupu\n"),
            std::string::npos)
      << run.out;
  const std::string input = ReadFile(dir / "a.pdf");
  EXPECT_EQ(ReadFile(out + "/a-signed.pdf").compare(0, input.size(), input), 0);
  ExpectNoHiddenFiles(out);

  EXPECT_EQ(Batch(dir, Quote(dir / "a.pdf") + " --out-dir " + Quote(dir / "none")).status, 2);
  EXPECT_EQ(Batch(dir, Quote(dir / "a.pdf") + " --out-dir " + Quote(out) + " --jobs 0").status, 2);
  EXPECT_EQ(Batch(dir, Quote(dir / "a.pdf") + " " + Quote(out) + " --overwrite").status, 2);
}

// A tmpfs too small for all outputs: the files that fit are whole and valid,
// the rest are reported, and nothing partial or hidden stays behind.
TEST(BatchSign, FullFileSystemLeavesNoPartialFile) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ASSERT_EQ(::geteuid(), 0u) << "mounting the small tmpfs needs root";
  ScratchDir dir;
  const std::string out = dir.MakeDir("out");
  ASSERT_EQ(::mount("tmpfs", out.c_str(), "tmpfs", 0, "size=160k"), 0) << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{out};
  std::string inputs;
  for (int i = 1; i <= 12; ++i) {
    WriteFile(dir / ("big-" + std::to_string(i) + ".pdf"), Invoice(i, 30000));
    inputs += Quote(dir / ("big-" + std::to_string(i) + ".pdf")) + " ";
  }
  const TRun run = Batch(dir, inputs + "--out-dir " + Quote(out) + " --jobs 2");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  const size_t written = ListDir(out).size();
  EXPECT_GT(written, 0u) << run.out;
  EXPECT_LT(written, 12u) << run.out;
  EXPECT_EQ(Lines(run.out, " -> "), written) << run.out;
  EXPECT_NE(run.out.find("signed " + std::to_string(written) + " of 12 files, " +
                         std::to_string(12 - written) + " failed\n"),
            std::string::npos)
      << run.out;
  ExpectNoHiddenFiles(out);
  EXPECT_EQ(InvalidOutputs(dir, out), "");
}

}  // namespace
