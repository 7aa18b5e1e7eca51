// Helpers shared by the PDF tests: parsing from text and writing to text.
// Running qpdf and zlib-flate and scratch folders come from the shared test
// support.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/TestSupport.h"
#include "toolkit/pdf/CvPDFCore.h"

namespace pdftest {

// A file with a memory source that parses objects from text.
struct TParsed {
  corvane::TOvPDFFile file;
  std::unique_ptr<corvane::TOvMemoryStream> input;

  corvane::TOvPDFObject* Parse(const std::string& text) {
    input = std::make_unique<corvane::TOvMemoryStream>(text);
    return file.ParseObject(*input);
  }
  // Parses "n g obj ... endobj" as the file loader does.
  corvane::TOvPDFIndirect* ParseIndirect(const std::string& text) {
    input = std::make_unique<corvane::TOvMemoryStream>(text);
    auto* number = dynamic_cast<corvane::TOvPDFReal*>(file.ParseObject(*input));
    auto* generation = dynamic_cast<corvane::TOvPDFReal*>(file.ParseObject(*input));
    auto* indirect = dynamic_cast<corvane::TOvPDFIndirect*>(file.ParseObject(*input));
    if (!number || !generation || !indirect) return nullptr;
    indirect->Renumber(number->AsInt(), generation->AsInt());
    return indirect;
  }
};

inline std::string Written(corvane::TOvPDFObject* obj, bool rebuild = true) {
  corvane::TOvMemoryStream out;
  obj->WriteTo(out, rebuild);
  return out.Data();
}

}  // namespace pdftest
