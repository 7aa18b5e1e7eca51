// `tavrapdf sign` and `tavrapdf verify` end to end, judged by software we did
// not write: poppler's pdfsig must call every signature valid and ours the
// whole document, openssl must accept /Contents over the byte ranges, qpdf
// must find no damage, and the input must stay the unchanged prefix.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

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

// launcher goes before the program (environment settings, a wrapper).
TRun Tavrapdf(const ScratchDir& dir, const std::string& args, const std::string& launcher = "") {
  TRun run;
  const std::string env =
      ". " + Quote(Store::Get().File("env.sh")) + " && TMPDIR=" + Quote(dir.Path()) + " ";
  run.out =
      RunCommand(env + launcher + kTool + " " + args + " 2>" + Quote(dir / "err"), &run.status);
  run.err = ReadFile(dir / "err");
  return run;
}

// Signs input with the "Jan Čáp" certificate of the fixture store.
TRun Sign(const ScratchDir& dir, const std::string& input, const std::string& output,
          const std::string& type) {
  return Tavrapdf(
      dir, "sign " + Quote(input) + " " + Quote(output) + " --nssdb " + Quote(Store::Get().Db()) +
               " --issuer 'Tavra Test CA' --serial 1005 --reason 'Schváleno' --type " + type);
}

// The last signature of a file: its /Contents value and the bytes its
// /ByteRange covers.
struct TSignature {
  std::string der;
  std::string signedBytes;
  bool wholeFile = false;
};

TSignature LastSignature(const std::string& pdf) {
  TSignature result;
  const size_t at = pdf.rfind("/ByteRange");
  if (at == std::string::npos) return result;
  std::smatch m;
  const std::string tail = pdf.substr(at, 120);
  if (!std::regex_search(tail, m, std::regex(R"(\[\s*(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*\])")))
    return result;
  const size_t a = std::stoull(m[1]), b = std::stoull(m[2]), c = std::stoull(m[3]),
               d = std::stoull(m[4]);
  if (a != 0 || c < b || c + d > pdf.size()) return result;
  result.signedBytes = pdf.substr(0, b) + pdf.substr(c, d);
  result.wholeFile = c + d == pdf.size();
  const std::string hex = pdf.substr(b + 1, c - b - 2);
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  // The DER value without the zero padding: its length is in its header.
  if (bytes.size() > 4 && static_cast<uint8_t>(bytes[1]) == 0x82) {
    const size_t length = (static_cast<uint8_t>(bytes[2]) << 8) | static_cast<uint8_t>(bytes[3]);
    result.der = bytes.substr(0, 4 + length);
  } else if (bytes.size() > 5 && static_cast<uint8_t>(bytes[1]) == 0x83) {
    const size_t length = (static_cast<uint8_t>(bytes[2]) << 16) |
                          (static_cast<uint8_t>(bytes[3]) << 8) | static_cast<uint8_t>(bytes[4]);
    result.der = bytes.substr(0, 5 + length);
  }
  return result;
}

// A database for poppler alone: the test CA trusted and the rsa2048 key, and
// no security modules (pdfsig is not asked to reach the fixture's token).
const std::string& PopplerDb() {
  static ScratchDir dir;
  static const std::string db = [] {
    const std::string path = dir.MakeDir("nssdb");
    int status = -1;
    const std::string out = RunCommand(
        "certutil -N -d " + Quote("sql:" + path) + " --empty-password && certutil -A -d " +
            Quote("sql:" + path) + " -n ca -t CT,C,C -i " + Quote(Store::Get().File("ca.crt")) +
            " && pk12util -i " + Quote(Store::Get().File("rsa2048.p12")) + " -d " +
            Quote("sql:" + path) + " -W tavra 2>&1",
        &status);
    EXPECT_EQ(status, 0) << out;
    return path;
  }();
  return db;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Every independent check of a signed output whose last signature is ours and
// which holds `signatures` signatures in all.
void ExpectSoundSignedFile(const ScratchDir& dir, const std::string& input,
                           const std::string& output, int signatures) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string pdf = ReadFile(output);
  ASSERT_GT(pdf.size(), input.size());
  EXPECT_EQ(pdf.compare(0, input.size(), input), 0) << "the input is not the output's prefix";

  const std::string report =
      RunCommand("pdfsig -nssdir " + Quote("sql:" + PopplerDb()) + " " + Quote(output) + " 2>&1");
  EXPECT_EQ(Count(report, "Signature Validation: Signature is Valid."), signatures) << report;
  const size_t last = report.rfind("Signature #" + std::to_string(signatures));
  ASSERT_NE(last, std::string::npos) << report;
  EXPECT_NE(report.find("Total document signed", last), std::string::npos) << report;
  // SHA-1 signatures are refused or flagged by current validators.
  EXPECT_NE(report.find("Signing Hash Algorithm: SHA-256", last), std::string::npos) << report;

  const TSignature signature = LastSignature(pdf);
  ASSERT_FALSE(signature.der.empty());
  EXPECT_TRUE(signature.wholeFile);
  WriteFile(dir / "sig.der", signature.der);
  WriteFile(dir / "signed.bin", signature.signedBytes);
  int status = -1;
  const std::string cms =
      RunCommand("openssl cms -verify -binary -inform DER -in " + Quote(dir / "sig.der") +
                     " -content " + Quote(dir / "signed.bin") + " -CAfile " +
                     Quote(Store::Get().File("ca.crt")) + " -purpose any -out /dev/null 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << cms;

  std::string qpdf;
  EXPECT_TRUE(QpdfCheck(dir, pdf, &qpdf)) << qpdf;

  // The fixture database trusts the authority that issued every signer here.
  const TRun verify =
      Tavrapdf(dir, "verify " + Quote(output) + " --nssdb " + Quote(Store::Get().Db()));
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
  EXPECT_EQ(Count(verify.out, "valid: yes"), signatures) << verify.out;
}

struct TInput {
  std::string name;
  std::function<std::string(const ScratchDir&)> make;
  bool signedAlready;
};

std::string Rotated(const ScratchDir&) {
  TFixture f = OnePage();
  f.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 /Contents 4 0 R >>";
  return f.Build();
}

std::string SeveralUpdates(const ScratchDir&) {
  const std::string base = OnePage().Build();
  const std::string once =
      AppendUpdate(base, {{5, "<< /Title (first update) >>"}}, 6, " /Info 5 0 R");
  return AppendUpdate(once, {{4, StreamBody("", "BT /F1 24 Tf 72 650 Td (Changed) Tj ET")}}, 6,
                      " /Info 5 0 R");
}

std::string SignedByPdfsig(const ScratchDir& dir) {
  WriteFile(dir / "plain.pdf", OnePage().Build());
  int status = -1;
  const std::string out =
      RunCommand("pdfsig -add-signature -nssdir " + Quote("sql:" + PopplerDb()) +
                     " -nick rsa2048 -new-signature-field-name Earlier " +
                     Quote(dir / "plain.pdf") + " " + Quote(dir / "by-pdfsig.pdf") + " 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << out;
  return ReadFile(dir / "by-pdfsig.pdf");
}

class SignMatrix : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

const std::vector<TInput>& Inputs() {
  static const std::vector<TInput> inputs = {
      {"classic", [](const ScratchDir&) { return OnePage().Build(); }, false},
      {"objectstreams",
       [](const ScratchDir& dir) {
         return QpdfVariant(dir, OnePage().Build(), "--object-streams=generate", "objstm");
       },
       false},
      {"hybrid", [](const ScratchDir&) { return HybridFile(); }, false},
      {"updates", SeveralUpdates, false},
      {"rotated", Rotated, false},
      {"pdfsig", SignedByPdfsig, true},
  };
  return inputs;
}

TEST_P(SignMatrix, IndependentCheckersAcceptTheSignedFile) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  const TInput& input = Inputs()[std::get<0>(GetParam())];
  const std::string type = std::get<1>(GetParam());
  if (type == "certify" && input.signedAlready) return;  // certification comes first only
  ScratchDir dir;
  const std::string pdf = input.make(dir);
  ASSERT_FALSE(pdf.empty());
  WriteFile(dir / "in.pdf", pdf);
  const TRun run = Sign(dir, dir / "in.pdf", dir / "out.pdf", type);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Podepsání proběhlo úspěšně"), std::string::npos) << run.err;
  ExpectSoundSignedFile(dir, pdf, dir / "out.pdf", input.signedAlready ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Inputs, SignMatrix,
                         ::testing::Combine(::testing::Range(0, 6),
                                            ::testing::Values("invisible", "visible", "certify")),
                         [](const auto& test) {
                           return Inputs()[std::get<0>(test.param)].name + "_" +
                                  std::get<1>(test.param);
                         });

// Our own output signed a second and a third time; every earlier signature
// stays valid.
TEST(SignTwice, OurOwnOutputSignsAgainAndAgain) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  const std::string plain = OnePage().Build();
  WriteFile(dir / "0.pdf", plain);
  const char* types[] = {"visible", "invisible", "visible"};
  for (int i = 0; i < 3; ++i) {
    const std::string in = dir / (std::to_string(i) + ".pdf");
    const std::string out = dir / (std::to_string(i + 1) + ".pdf");
    const TRun run = Sign(dir, in, out, types[i]);
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectSoundSignedFile(dir, ReadFile(in), out, i + 1);
  }
  // Field names go on counting.
  const std::string last = ReadFile(dir / "3.pdf");
  for (const char* name : {"(Signature1)", "(Signature2)", "(Signature3)"})
    EXPECT_NE(last.find(name), std::string::npos) << name;
}

// No hidden staging file and no temporary copy is left in the folder.
void ExpectNoStrayFiles(const ScratchDir& dir) {
  for (const std::string& name : ListDir(dir.Path())) {
    EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(name.rfind("cvn", 0), std::string::npos) << name;
  }
}

// Refusals: nothing is written, an existing output stays as it was and the
// status says so.
TEST(SignRefusals, EncryptedInputAndUnknownCertificateWriteNothing) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  const std::string old = "an older output";
  WriteFile(dir / "out.pdf", old);
  TRun run;
  // Every standard encryption, with a user password, an owner password only,
  // metadata in clear, and object streams (decrypted while opening).
  const char* encryptions[] = {
      "--allow-weak-crypto --encrypt user owner 40 --",
      "--allow-weak-crypto --encrypt user owner 128 --use-aes=n --",
      "--encrypt user owner 128 --use-aes=y --",
      "--allow-weak-crypto --encrypt user owner 256 --force-R5 --",
      "--encrypt user owner 256 --",
      "--encrypt '' owner 256 --",
      "--encrypt user owner 256 --cleartext-metadata --",
      "--object-streams=generate --encrypt user owner 256 --",
      "--object-streams=generate --encrypt '' owner 128 --use-aes=y --",
  };
  int n = 0;
  for (const char* options : encryptions) {
    const std::string name = "enc" + std::to_string(n++);
    const std::string encrypted = QpdfVariant(dir, OnePage().Build(), options, name);
    ASSERT_FALSE(encrypted.empty()) << options;
    run = Sign(dir, dir / (name + ".pdf"), dir / "out.pdf", "invisible");
    EXPECT_EQ(run.status, 1) << options;
    EXPECT_NE(run.err.find("Zašifrovaný dokument nelze podepsat"), std::string::npos)
        << options << ": " << run.err;
    EXPECT_EQ(ReadFile(dir / "out.pdf"), old) << options;
  }

  WriteFile(dir / "in.pdf", OnePage().Build());
  run = Tavrapdf(dir, "sign " + Quote(dir / "in.pdf") + " " + Quote(dir / "out.pdf") + " --nssdb " +
                          Quote(Store::Get().Db()) + " --issuer 'Tavra Test CA' --serial 0BAD");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Certfikát nenalezen"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(dir / "out.pdf"), old);
  ExpectNoStrayFiles(dir);

  EXPECT_EQ(Tavrapdf(dir, "sign only-one.pdf").status, 2);
  EXPECT_EQ(Tavrapdf(dir, "sign a.pdf b.pdf --type sideways").status, 2);
}

// The last line of a tool's messages (listing the store may warn before it).
std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return text;
  const size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1);
}

// The token's PIN: a wrong one, or none to be had (no TAVRA_PIN and no
// terminal, so the prompt gives nothing), ends with the cause in words.
TEST(SignWithToken, WrongOrMissingPinIsNamedAndWritesNothing) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("setsid");
  ScratchDir dir;
  WriteFile(dir / "in.pdf", OnePage().Build());
  const std::string sign = "sign " + Quote(dir / "in.pdf") + " " + Quote(dir / "out.pdf") +
                           " --nssdb " + Quote(Store::Get().Db()) +
                           " --issuer 'Tavra Test CA' --serial 1009";
  TRun run = Tavrapdf(dir, sign, "TAVRA_PIN=0000 ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(LastLine(run.err),
            "tavrapdf: Chyba: Signing failed: wrong password or PIN for token \"TavraCard\"\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));

  // A session of its own has no terminal to ask on.
  run = Tavrapdf(dir, sign, "env -u TAVRA_PIN setsid -w ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(LastLine(run.err),
            "tavrapdf: Chyba: Signing failed: password or PIN entry for token \"TavraCard\" "
            "cancelled\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
  ExpectNoStrayFiles(dir);
}

// The output may be the input itself: it is replaced only by the signed file.
TEST(SignInPlace, OutputEqualToInputIsSignedOverIt) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  const std::string pdf = OnePage().Build();
  WriteFile(dir / "doc.pdf", pdf);
  const TRun run = Sign(dir, dir / "doc.pdf", dir / "doc.pdf", "visible");
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectSoundSignedFile(dir, pdf, dir / "doc.pdf", 1);
  ExpectNoStrayFiles(dir);
}

// Placement: a page, a rectangle, or a field of the document.
TRun SignPlaced(const ScratchDir& dir, const std::string& input, const std::string& output,
                const std::string& options) {
  return Tavrapdf(dir, "sign " + Quote(input) + " " + Quote(output) + " --nssdb " +
                           Quote(Store::Get().Db()) + " --issuer 'Tavra Test CA' --serial 1005 " +
                           options);
}

// Three pages, the last of another size.
std::string ThreePages() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R 6 0 R] /Count 3 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, StreamBody("", "BT /F1 24 Tf 72 700 Td (Hello, world) Tj ET"));
  f.Add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(6, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>");
  return f.Build();
}

// The form of ThreePages: an empty signature field on page 2 and a text field.
std::string ThreePagesWithForm() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [7 0 R 8 0 R] >> >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R 6 0 R] /Count 3 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, StreamBody("", "BT /F1 24 Tf 72 700 Td (Hello, world) Tj ET"));
  f.Add(5,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Annots [7 0 R 8 0 R] >>");
  f.Add(6, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>");
  f.Add(7,
        "<< /FT /Sig /T (Approval) /Type /Annot /Subtype /Widget /F 4 "
        "/Rect [300 400 420 460] /P 5 0 R >>");
  f.Add(8,
        "<< /FT /Tx /T (Name) /Type /Annot /Subtype /Widget /F 4 /Rect [50 50 200 70] "
        "/P 5 0 R >>");
  return f.Build();
}

// The form's fields as qpdf reads them, one line each: name, type, page
// (from 1), the widget's /Rect and whether it has an appearance.
std::string QpdfFields(const std::string& path) {
  const std::string script =
      "import json,sys\n"
      "d=json.load(sys.stdin)\n"
      "objs=d['qpdf'][1]\n"
      "for f in d['acroform']['fields']:\n"
      "  v=objs['obj:'+f['annotation']['object']]['value']\n"
      "  r=' '.join(str(x) for x in v.get('/Rect',[]))\n"
      "  print(f['fullname'],f['fieldtype'],f['pageposfrom1'],r,'/AP' in v)\n";
  return RunCommand("qpdf --json=2 --json-key=acroform --json-key=qpdf " + Quote(path) +
                    " | python3 -c " + Quote(script) + " 2>&1");
}

TEST(SignPlacement, LastPageAndRectanglePutTheWidgetWhereAsked) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("python3");
  ScratchDir dir;
  const std::string pdf = ThreePages();
  WriteFile(dir / "in.pdf", pdf);
  const TRun run = SignPlaced(dir, dir / "in.pdf", dir / "out.pdf",
                              "--type visible --page last --rect 100,200,250,260");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(QpdfFields(dir / "out.pdf"), "Signature1 /Sig 3 100 200 250 260 True\n");
  ExpectSoundSignedFile(dir, pdf, dir / "out.pdf", 1);
}

TEST(SignPlacement, FieldSignsTheNamedEmptyFieldInItsPlace) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  TAVRA_REQUIRE_TOOL("qpdf");
  TAVRA_REQUIRE_TOOL("python3");
  ScratchDir dir;
  const std::string pdf = ThreePagesWithForm();
  WriteFile(dir / "in.pdf", pdf);
  EXPECT_EQ(QpdfFields(dir / "in.pdf"),
            "Approval /Sig 2 300 400 420 460 False\nName /Tx 2 50 50 200 70 False\n");
  const TRun run =
      SignPlaced(dir, dir / "in.pdf", dir / "out.pdf", "--type certify --field Approval");
  ASSERT_EQ(run.status, 0) << run.err;
  // Signed in place, with an appearance; no field was added.
  EXPECT_EQ(QpdfFields(dir / "out.pdf"),
            "Approval /Sig 2 300 400 420 460 True\nName /Tx 2 50 50 200 70 False\n");
  ExpectSoundSignedFile(dir, pdf, dir / "out.pdf", 1);
  const std::string report =
      RunCommand("pdfsig -nssdir " + Quote("sql:" + PopplerDb()) + " " + Quote(dir / "out.pdf"));
  EXPECT_NE(report.find("Signature Field Name: Approval"), std::string::npos) << report;
}

TEST(SignPlacement, RefusalsNameTheCauseAndWriteNothing) {
  ASSERT_TRUE(Store::Get().Ok()) << Store::Get().Error();
  ScratchDir dir;
  WriteFile(dir / "in.pdf", ThreePagesWithForm());
  struct TCase {
    const char* options;
    int status;
    const char* message;
  };
  const TCase cases[] = {
      {"--page 0", 2, "--page '0': a page is a number from 1, or last"},
      {"--page first", 2, "--page 'first': a page is a number from 1, or last"},
      {"--rect 10,10,10,50", 2, "--rect '10,10,10,50': a rectangle needs X1 < X2 and Y1 < Y2"},
      {"--rect 1,2,3", 2, "--rect '1,2,3': a rectangle is X1,Y1,X2,Y2 in whole points"},
      {"--field Approval --page 2", 2,
       "--field goes with neither --page nor --rect: the field keeps its own place"},
      {"--type visible --page 9", 1, "Chyba: Dokument nemá stránku 9 (počet stránek: 3)"},
      {"--type visible --page last --rect 500,700,600,850", 1,
       "Chyba: Obdélník podpisu 500,700,600,850 přesahuje stránku 3 (0,0,595,842)"},
      {"--field Missing", 1, "Chyba: Pole podpisu \"Missing\" v dokumentu není"},
      {"--field Name", 1, "Chyba: Pole \"Name\" není pole pro podpis"},
  };
  for (const TCase& c : cases) {
    const TRun run = SignPlaced(dir, dir / "in.pdf", dir / "out.pdf", c.options);
    EXPECT_EQ(run.status, c.status) << c.options;
    EXPECT_NE(run.err.find(std::string("tavrapdf: ") + c.message), std::string::npos)
        << c.options << ": " << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf")) << c.options;
  }
  // A field signed once is not signed again.
  ASSERT_EQ(SignPlaced(dir, dir / "in.pdf", dir / "once.pdf", "--field Approval").status, 0);
  const TRun again = SignPlaced(dir, dir / "once.pdf", dir / "out.pdf", "--field Approval");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("Chyba: Pole podpisu \"Approval\" je již podepsáno"), std::string::npos)
      << again.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
  ExpectNoStrayFiles(dir);
}

}  // namespace
