// Every PDF we keep (test files, fuzz seeds) and files qpdf writes in its
// real-world layouts get the update a signature makes, twice: each output
// keeps its input byte for byte, passes qpdf --check without new warnings and
// opens again without a rebuild.
#include <filesystem>

#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/PdfUpdate.h"

using namespace corvane;
using namespace pdftest;
using namespace tavra_test;

namespace {

struct TInput {
  std::string name;
  std::string bytes;
};

std::vector<TInput> Inputs(const ScratchDir& dir) {
  namespace fs = std::filesystem;
  std::vector<TInput> inputs;
  const fs::path source(TAVRA_SOURCE_DIR);
  std::error_code ec;
  for (fs::recursive_directory_iterator it(source / "tests", ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == ".pdf") {
      inputs.push_back({it->path().string(), ReadFile(it->path().string())});
    }
  }
  for (const auto& entry : fs::directory_iterator(source / "fuzz" / "corpus" / "pdf_file")) {
    if (entry.is_regular_file()) {
      inputs.push_back({entry.path().string(), ReadFile(entry.path().string())});
    }
  }
  // The layouts other writers produce: QDF with its comments, object and
  // cross-reference streams, linearized files.
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>";
  f.Add(5, "<< /Type /Outlines /Count 0 >>");
  const std::string three = QpdfVariant(dir, f.Build(), "--pages . . . --", "three");
  EXPECT_FALSE(three.empty());
  for (const char* options :
       {"--qdf", "--object-streams=generate", "--qdf --object-streams=generate", "--linearize",
        "--linearize --object-streams=generate",
        "--compress-streams=n --object-streams=preserve"}) {
    const std::string variant = QpdfVariant(dir, three, options, "variant");
    EXPECT_FALSE(variant.empty()) << options;
    inputs.push_back({std::string("qpdf ") + options, variant});
  }
  return inputs;
}

// Whether the document opens as a file we may append to.
bool OpensForUpdate(const std::string& bytes) {
  TOvMemoryStream stream(bytes);
  TOvPDFDocument doc;
  try {
    doc.Open(stream);
  } catch (const std::exception&) {
    return false;
  }
  return !doc.File().Damaged() && !doc.Encrypted();
}

void ExpectSoundUpdate(const ScratchDir& dir, const std::string& name, const std::string& before,
                       const std::string& after, const std::set<std::string>& inputWarnings,
                       int inputStatus) {
  ASSERT_GT(after.size(), before.size()) << name;
  EXPECT_EQ(after.compare(0, before.size(), before), 0) << name << ": prefix changed";
  int status = -1;
  const std::set<std::string> warnings = QpdfWarnings(dir, after, &status);
  for (const std::string& line : warnings) {
    EXPECT_TRUE(inputWarnings.count(line)) << name << ": new qpdf message: " << line;
  }
  EXPECT_LE(status, inputStatus == 0 ? 0 : inputStatus) << name;
  TOvMemoryStream stream(after);
  TOvPDFDocument doc;
  doc.Open(stream);
  EXPECT_FALSE(doc.File().Damaged()) << name << ": " << doc.File().DamageReason();
  // Every page is still there, for us and for qpdf.
  const int pages = QpdfPageCount(dir, after);
  EXPECT_GT(pages, 0) << name;
  EXPECT_EQ(static_cast<int>(doc.PageCount()), pages) << name;
}

}  // namespace

TEST(RoundTrip, EveryKeptPdfTakesTwoUpdates) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  int updated = 0;
  for (const TInput& input : Inputs(dir)) {
    SCOPED_TRACE(input.name);
    int inputStatus = -1;
    const std::set<std::string> inputWarnings = QpdfWarnings(dir, input.bytes, &inputStatus);
    if (!OpensForUpdate(input.bytes)) {
      // Damaged or unreadable inputs take the clean rewrite instead; a file
      // qpdf finds sound must not be one of them.
      EXPECT_NE(inputStatus, 0) << "sound for qpdf, but not opened for an update";
      continue;
    }
    int firstNumber = 0;
    const std::string first = SignatureLikeUpdate(input.bytes, &firstNumber);
    ExpectSoundUpdate(dir, input.name + " (first)", input.bytes, first, inputWarnings, inputStatus);
    int secondNumber = 0;
    const std::string second = SignatureLikeUpdate(first, &secondNumber);
    ExpectSoundUpdate(dir, input.name + " (second)", first, second, inputWarnings, inputStatus);
    EXPECT_GT(secondNumber, firstNumber);
    // qpdf sees the object the second update added, through the catalog.
    WriteFile(dir / "shown.pdf", second);
    const std::string shown = RunCommand("qpdf --show-object=" + std::to_string(secondNumber) +
                                         " " + dir / "shown.pdf" + " 2>&1");
    EXPECT_NE(shown.find("/Type /Sig"), std::string::npos) << shown;
    ++updated;
  }
  // At least the sound seeds and every qpdf layout.
  EXPECT_GE(updated, 11);
}
