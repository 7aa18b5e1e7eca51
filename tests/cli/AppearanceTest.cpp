// Visible signatures as other software shows them: poppler's pdftotext must
// find the whole name inside the widget, pdffonts an embedded subset, and
// both poppler and MuPDF must draw the box; every signed file stays valid
// (pdfsig), undamaged (qpdf) and an extension of its input.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <regex>

#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"

using namespace tavra_test;

namespace {

const std::string kTool = std::string(TAVRA_BINARY_DIR) + "/cli/tavrapdf";
const std::string kSample = std::string(TAVRA_SOURCE_DIR) + "/demo/sample.pdf";
const std::string kDemoName = "Jan Novák (demo signer)";
const std::string kCzechName = "Ing. Žofie Dvořáková-Šťastná, Účetní kancelář Přerov";
const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A certificate database holding one signer of this common name, made once.
std::string SignerDb(const std::string& commonName) {
  static std::map<std::string, std::unique_ptr<ScratchDir>> made;
  auto& dir = made[commonName];
  if (!dir) {
    dir = std::make_unique<ScratchDir>();
    int status = -1;
    const std::string out =
        RunCommand(Quote(std::string(TAVRA_SOURCE_DIR) + "/tests/fixtures/make-signer.sh") + " " +
                       Quote(dir->Path()) + " " + Quote(commonName) + " 2>&1",
                   &status);
    EXPECT_EQ(status, 0) << out;
  }
  return dir->File("nssdb");
}

struct TRun {
  int status = -1;
  std::string err;
};

TRun SignVisible(const ScratchDir& dir, const std::string& db, const std::string& input,
                 const std::string& output, const std::string& extra = "") {
  TRun run;
  RunCommand("TMPDIR=" + Quote(dir.Path()) + " " + kTool + " sign " + Quote(input) + " " +
                 Quote(output) + " --nssdb " + Quote(db) +
                 " --issuer 'Tavra Appearance CA' --serial 2026 --type visible " + extra + " 2>" +
                 Quote(dir / "err"),
             &run.status);
  run.err = ReadFile(dir / "err");
  return run;
}

// pdfsig valid and whole, qpdf clean, the input an exact prefix.
void ExpectSound(const std::string& db, const std::string& input, const std::string& output) {
  TAVRA_REQUIRE_TOOL("pdfsig");
  TAVRA_REQUIRE_TOOL("qpdf");
  const std::string in = ReadFile(input), out = ReadFile(output);
  ASSERT_GT(out.size(), in.size());
  EXPECT_EQ(out.compare(0, in.size(), in), 0) << "the input is not the output's prefix";
  const std::string report =
      RunCommand("pdfsig -nssdir " + Quote("sql:" + db) + " " + Quote(output) + " 2>&1");
  EXPECT_NE(report.find("Signature Validation: Signature is Valid."), std::string::npos) << report;
  EXPECT_NE(report.find("Total document signed"), std::string::npos) << report;
  int status = -1;
  const std::string check = RunCommand("qpdf --check " + Quote(output) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << check;
}

struct TBox {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// The /Rect of the widget the last update added.
TBox LastRect(const std::string& pdf) {
  TBox box;
  std::smatch m;
  const std::string tail = pdf.substr(pdf.rfind("/Rect"));
  if (std::regex_search(tail, m, std::regex(R"(/Rect\s*\[\s*(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s*\])")))
    box = {std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
  return box;
}

double PageHeight(const std::string& pdf) {
  std::smatch m;
  const std::string info = RunCommand("pdfinfo " + Quote(pdf));
  return std::regex_search(info, m, std::regex(R"(Page size:\s+\S+ x (\S+) pts)")) ? std::stod(m[1])
                                                                                   : 0;
}

// The words pdftotext places over the widget, in reading order; each must
// lie wholly inside it.
std::string TextInBox(const std::string& output) {
  EXPECT_TRUE(ToolAvailable("pdftotext"));
  const TBox rect = LastRect(ReadFile(output));
  const double height = PageHeight(output);
  // pdftotext measures from the top of the page.
  const double top = height - rect.y2, bottom = height - rect.y1;
  const std::string html = RunCommand("pdftotext -bbox " + Quote(output) + " -");
  const std::regex word(
      R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  std::string text;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), word); it != std::sregex_iterator();
       ++it) {
    const double x1 = std::stod((*it)[1]), y1 = std::stod((*it)[2]);
    const double x2 = std::stod((*it)[3]), y2 = std::stod((*it)[4]);
    if (x2 <= rect.x1 || x1 >= rect.x2 || y2 <= top || y1 >= bottom) continue;
    EXPECT_TRUE(x1 >= rect.x1 - 0.01 && x2 <= rect.x2 + 0.01 && y1 >= top - 0.01 &&
                y2 <= bottom + 0.01)
        << "'" << (*it)[5] << "' [" << x1 << " " << y1 << " " << x2 << " " << y2
        << "] runs out of the widget [" << rect.x1 << " " << top << " " << rect.x2 << " " << bottom
        << "]";
    text += (text.empty() ? "" : " ") + (*it)[5].str();
  }
  return text;
}

// A binary PPM as width, height and RGB bytes.
struct TPixels {
  int width = 0, height = 0;
  std::string rgb;
};

TPixels ReadPpm(const std::string& path) {
  TPixels p;
  const std::string data = ReadFile(path);
  std::smatch m;
  if (!std::regex_search(data, m, std::regex(R"(^P6\s+(\d+)\s+(\d+)\s+255\s)"))) return p;
  p.width = std::stoi(m[1]);
  p.height = std::stoi(m[2]);
  p.rgb = data.substr(m[0].length());
  if (p.rgb.size() < static_cast<size_t>(p.width) * p.height * 3) p = {};
  return p;
}

// The page as poppler and as MuPDF draw it, at 72 dpi (a pixel a point).
std::vector<TPixels> Renderings(const ScratchDir& dir, const std::string& pdf) {
  EXPECT_TRUE(ToolAvailable("pdftoppm"));
  EXPECT_TRUE(ToolAvailable("mutool"));
  RunCommand("pdftoppm -r 72 -f 1 -l 1 -singlefile " + Quote(pdf) + " " + Quote(dir / "poppler"));
  RunCommand("mutool draw -q -r 72 -o " + Quote(dir / "mupdf.ppm") + " " + Quote(pdf) +
             " 1 2>/dev/null");
  return {ReadPpm(dir / "poppler.ppm"), ReadPpm(dir / "mupdf.ppm")};
}

// Pixels of the part of the box from fraction `from` to `to` of its width
// that satisfy the test.
template <typename F>
int CountInBox(const TPixels& page, const TBox& rect, double pageHeight, double from, double to,
               F test) {
  int count = 0;
  const int x1 = static_cast<int>(rect.x1 + from * (rect.x2 - rect.x1));
  const int x2 = static_cast<int>(rect.x1 + to * (rect.x2 - rect.x1));
  for (int y = static_cast<int>(pageHeight - rect.y2); y < pageHeight - rect.y1; ++y) {
    for (int x = x1; x < x2; ++x) {
      if (x < 0 || y < 0 || x >= page.width || y >= page.height) continue;
      const auto* px = reinterpret_cast<const uint8_t*>(&page.rgb[(y * page.width + x) * 3]);
      if (test(px[0], px[1], px[2])) ++count;
    }
  }
  return count;
}

// Ink: small text at a pixel a point is mostly grey.
bool Dark(uint8_t r, uint8_t g, uint8_t b) { return r + g + b < 600; }
bool Red(uint8_t r, uint8_t g, uint8_t b) { return r > 180 && g < 90 && b < 90; }

// Writes a PNG with python's zlib: colour type 2 (RGB) or 6 (RGBA), each row
// from the expression `row` (python, of y and w, giving bytes).
void WritePng(const std::string& path, int width, int height, int colourType,
              const std::string& row) {
  TAVRA_REQUIRE_TOOL("python3");
  const std::string script =
      "import struct,sys,zlib\n"
      "w,h,t=" +
      std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(colourType) +
      "\n"
      "def chunk(k,d): return struct.pack('>I',len(d))+k+d+struct.pack('>I',zlib.crc32(k+d))\n"
      "z=zlib.compressobj(1)\nbody=b''\n"
      "for y in range(h): body+=z.compress(b'\\0'+(" +
      row +
      "))\n"
      "body+=z.flush()\n"
      "open(sys.argv[1],'wb').write(b'\\x89PNG\\r\\n\\x1a\\n'+chunk(b'IHDR',struct.pack('>IIBBBBB',"
      "w,h,8,t,0,0,0))"
      "+chunk(b'IDAT',body)+chunk(b'IEND',b''))\n";
  WriteFile(path + ".py", script);
  int status = -1;
  RunCommand("python3 " + Quote(path + ".py") + " " + Quote(path), &status);
  ASSERT_EQ(status, 0);
}

// The standard layout shrinks a line only as far as it has to: the demo
// signer's name and a 60-character Czech name are shown whole inside the box,
// by the built-in font's widths and by an embedded font's own.
TEST(Appearance, WholeNameInsideTheBox) {
  for (const std::string& name : {kDemoName, kCzechName}) {
    for (const std::string& font : {std::string(), "--font " + Quote(kDejaVu)}) {
      SCOPED_TRACE(name + " " + font);
      ScratchDir dir;
      const std::string db = SignerDb(name);
      const TRun run = SignVisible(dir, db, kSample, dir / "out.pdf", font);
      ASSERT_EQ(run.status, 0) << run.err;
      ExpectSound(db, kSample, dir / "out.pdf");
      const std::string text = TextInBox(dir / "out.pdf");
      EXPECT_NE(text.find(name), std::string::npos) << text;
      EXPECT_NE(text.find("CN=" + name), std::string::npos) << text;
      for (const TPixels& page : Renderings(dir, dir / "out.pdf")) {
        ASSERT_GT(page.width, 0);
        EXPECT_GT(CountInBox(page, LastRect(ReadFile(dir / "out.pdf")), PageHeight(dir / "out.pdf"),
                             0, 1, Dark),
                  50);
      }
    }
  }
}

// A chosen font is embedded as a subset whose text extracts letter for
// letter; a document that claims PDF/A gets the default font embedded unasked.
TEST(Appearance, EmbeddedFontForPdfAAndOnRequest) {
  TAVRA_REQUIRE_TOOL("pdffonts");
  const std::string db = SignerDb(kCzechName);
  pdftest::TFixture pdfa;
  pdfa.Add(1, "<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>");
  pdfa.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  pdfa.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>");
  pdfa.Add(4, pdftest::StreamBody("", "0 0 m 10 10 l S"));
  pdfa.Add(5, pdftest::StreamBody(" /Type /Metadata /Subtype /XML",
                                  "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf="
                                  "\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                                  "<rdf:Description rdf:about=\"\" xmlns:pdfaid="
                                  "\"http://www.aiim.org/pdfa/ns/id/\" pdfaid:part=\"2\" "
                                  "pdfaid:conformance=\"B\"/></rdf:RDF></x:xmpmeta>"));
  ScratchDir dir;
  const std::string pdfaInput = dir.Write("pdfa.pdf", pdfa.Build());
  struct TCase {
    std::string input, extra;
  };
  for (const TCase& c : {TCase{pdfaInput, ""}, TCase{kSample, "--font " + Quote(kDejaVu)}}) {
    SCOPED_TRACE(c.input);
    const TRun run = SignVisible(dir, db, c.input, dir / "out.pdf", c.extra);
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectSound(db, c.input, dir / "out.pdf");
    const std::string fonts = RunCommand("pdffonts " + Quote(dir / "out.pdf"));
    EXPECT_TRUE(std::regex_search(
        fonts, std::regex(R"([A-Z]{6}\+DejaVuSans\s+CID TrueType\s+Identity-H\s+yes\s+yes\s+yes)")))
        << fonts;
    // The page's own fonts stay; the appearance's built-in one is gone.
    EXPECT_EQ(fonts.find("Custom"), std::string::npos) << fonts;
    const std::string text = RunCommand("pdftotext " + Quote(dir / "out.pdf") + " -");
    EXPECT_NE(text.find(kCzechName), std::string::npos) << text;
  }
  // Without PDF/A and without a font, the built-in font stays.
  const TRun plain = SignVisible(dir, db, kSample, dir / "plain.pdf");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(RunCommand("pdffonts " + Quote(dir / "plain.pdf")).find("DejaVu"), std::string::npos);
}

// A PNG's transparency becomes a soft mask, a JPEG goes in as it is, a huge
// picture is scaled down; poppler and MuPDF both draw them.
TEST(Appearance, BackgroundImages) {
  const std::string db = SignerDb(kDemoName);
  ScratchDir dir;
  // Red; the right half of the PNG fully transparent.
  WritePng(dir / "alpha.png", 200, 100, 6,
           "b''.join(b'\\xff\\0\\0\\xff' if x < 100 else b'\\xff\\0\\0\\0' for x in range(w))");
  const TRun png =
      SignVisible(dir, db, kSample, dir / "png.pdf", "--image " + Quote(dir / "alpha.png"));
  ASSERT_EQ(png.status, 0) << png.err;
  ExpectSound(db, kSample, dir / "png.pdf");
  EXPECT_NE(ReadFile(dir / "png.pdf").find("/SMask"), std::string::npos);
  const TBox rect = LastRect(ReadFile(dir / "png.pdf"));
  const double height = PageHeight(dir / "png.pdf");
  for (const TPixels& page : Renderings(dir, dir / "png.pdf")) {
    ASSERT_GT(page.width, 0);
    EXPECT_GT(CountInBox(page, rect, height, 0.05, 0.45, Red), 200);
    EXPECT_EQ(CountInBox(page, rect, height, 0.55, 0.95, Red), 0);
  }

  TAVRA_REQUIRE_TOOL("pdftoppm");
  RunCommand("pdftoppm -jpeg -r 20 -f 1 -l 1 -singlefile " + Quote(kSample) + " " +
             Quote(dir / "page"));
  const std::string jpeg = ReadFile(dir / "page.jpg");
  ASSERT_GT(jpeg.size(), 100u);
  const TRun jpg =
      SignVisible(dir, db, kSample, dir / "jpg.pdf", "--image " + Quote(dir / "page.jpg"));
  ASSERT_EQ(jpg.status, 0) << jpg.err;
  ExpectSound(db, kSample, dir / "jpg.pdf");
  const std::string jpgPdf = ReadFile(dir / "jpg.pdf");
  EXPECT_NE(jpgPdf.find("/DCTDecode"), std::string::npos);
  EXPECT_NE(jpgPdf.find(jpeg), std::string::npos) << "the JPEG data is not passed through";
  for (const TPixels& page : Renderings(dir, dir / "jpg.pdf")) {
    ASSERT_GT(page.width, 0);
    EXPECT_GT(CountInBox(page, LastRect(jpgPdf), height, 0, 1, Dark), 50);
  }

  WritePng(dir / "huge.png", 6000, 6000, 2, "b'\\0\\0\\xff'*w");
  const TRun huge =
      SignVisible(dir, db, kSample, dir / "huge.pdf", "--image " + Quote(dir / "huge.png"));
  ASSERT_EQ(huge.status, 0) << huge.err;
  ExpectSound(db, kSample, dir / "huge.pdf");
  const std::string hugePdf = ReadFile(dir / "huge.pdf");
  EXPECT_TRUE(std::regex_search(hugePdf, std::regex(R"(/Width\s*1000\s*/Height\s*1000)")));
}

// A truncated PNG, a file that is no picture and a font that is no font are
// refused with a message naming the file, and nothing is written.
TEST(Appearance, BrokenFilesAreRefusedBeforeWriting) {
  const std::string db = SignerDb(kDemoName);
  ScratchDir dir;
  WritePng(dir / "whole.png", 300, 300, 2, "bytes(range(256))[:3]*w");
  const std::string whole = ReadFile(dir / "whole.png");
  dir.Write("cut.png", whole.substr(0, whole.size() / 2));
  dir.Write("text.png", "not a picture at all");
  dir.Write("err", "");
  struct TCase {
    std::string option, why;
  };
  for (const TCase& c :
       {TCase{"--image " + Quote(dir / "cut.png"), "poškozený nebo neúplný"},
        TCase{"--image " + Quote(dir / "text.png"), "není to obrázek PNG ani JPEG"},
        TCase{"--font " + Quote(dir / "text.png"), "není to písmo TrueType"}}) {
    SCOPED_TRACE(c.option);
    const size_t before = ListDir(dir.Path()).size();
    const TRun run = SignVisible(dir, db, kSample, dir / "out.pdf", c.option);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
    EXPECT_EQ(ListDir(dir.Path()).size(), before) << "a staging file was left behind";
  }
}

}  // namespace
