// What a signature does to a file, for tests: one new object and a changed
// catalog appended as an incremental update; and qpdf's verdict on a file.
#pragma once

#include <set>
#include <sstream>
#include <string>

#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvPDF.h"

namespace pdftest {

// What a signature does to a file: one new object and a changed catalog,
// appended as an incremental update. Returns the updated bytes.
inline std::string SignatureLikeUpdate(const std::string& input, int* newNumber = nullptr) {
  corvane::TOvMemoryStream stream(input);
  corvane::TOvPDFDocument doc;
  doc.Open(stream);
  EXPECT_FALSE(doc.File().Damaged()) << doc.File().DamageReason();
  corvane::TOvPDFFile& file = doc.File();
  corvane::TOvPDFDictionary* value = file.NewDictionary();
  AddNameEntry(value, "Type", "Sig");
  AddStringEntry(value, "Contents", std::string(8, '\0'), 1);
  int32_t number = 0;
  int32_t generation = 0;
  doc.AddNewObject(value, number, generation);
  if (newNumber) *newNumber = number;
  auto* root = dynamic_cast<corvane::TOvPDFRef*>(GetEntry(file.Trailer(), "Root"));
  EXPECT_NE(root, nullptr);
  corvane::TOvPDFIndirect* catalog = root ? root->Resolve() : nullptr;
  EXPECT_NE(catalog, nullptr);
  if (!catalog) return {};
  SetRefEntry(static_cast<corvane::TOvPDFDictionary*>(catalog->Value), "TavraTest",
              doc.MakeRef(number, 0), true);
  catalog->MarkModified();
  file.SetFullRewrite(false);
  file.Save();
  return dynamic_cast<corvane::TOvMemoryStream*>(doc.WorkingStream())->Data();
}

inline void ExpectQpdfClean(const std::string& pdf) {
  TAVRA_REQUIRE_TOOL("qpdf");
  tavra_test::ScratchDir dir;
  std::string report;
  EXPECT_TRUE(QpdfCheck(dir, pdf, &report)) << report;
}

// The warning lines of qpdf --check (with the file's name, which is always
// the same scratch name); status is qpdf's exit status.
inline std::set<std::string> QpdfWarnings(const tavra_test::ScratchDir& dir, const std::string& pdf,
                                          int* status) {
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  tavra_test::WriteFile(dir / "warn.pdf", pdf);
  const std::string out =
      tavra_test::RunCommand("qpdf --check " + dir / "warn.pdf" + " 2>&1", status);
  std::set<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos) {
      lines.insert(line);
    }
  }
  return lines;
}

}  // namespace pdftest
