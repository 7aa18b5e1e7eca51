// Opens arbitrary bytes as a PDF document: cross-reference reading (with the
// rebuild), object and object-stream loading, the page tree; then appends an
// update and reads the result again. The document security store is read too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_DSS.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;

// The failures a malformed file may cause; anything else escaping is a bug.
#define EXPECTED_FAILURES       \
  catch (const EOvPDFError&) {  \
  }                             \
  catch (const ECvZlibError&) { \
  }                             \
  catch (const EAbort&) {       \
  }                             \
  catch (const EStreamError&) { \
  }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TOvMemoryStream input(std::string(reinterpret_cast<const char*>(data), size));
  TOvPDFDocument document;
  bool opened = false;
  try {
    document.Open(input);
    opened = true;
  }
  EXPECTED_FAILURES
  if (!opened) return 0;
  TOvPDFFile& file = document.File();
  // The page list only looks at plain pages; each must still load when asked for.
  try {
    const std::vector<TOvPDFPageInfo>& pages = document.Pages();
    const size_t count = std::min<size_t>(pages.size(), 2000);
    for (size_t i = 0; i < count; ++i) pages[i].Dictionary();
  }
  EXPECTED_FAILURES
  // Numbering a new object reads the objects not loaded yet and frees them
  // again; whatever it read must still load afterwards.
  try {
    file.HighestUsedNumber();
  }
  EXPECTED_FAILURES
  try {
    const size_t count = std::min<size_t>(file.ObjectList().size(), 2000);
    for (size_t i = 0; i < count; ++i) {
      try {
        if (TOvPDFIndirect* obj = file.ObjectList()[i]->Resolve()) obj->Rebuild();
      }
      EXPECTED_FAILURES
    }
    document.HasSignatureValues();
    ReadDSS(document);
    document.DocumentID();
    if (auto* root = dynamic_cast<TOvPDFRef*>(GetEntry(file.Trailer(), "Root"))) {
      if (TOvPDFIndirect* catalog = root->Resolve()) catalog->MarkModified();
    }
    file.SetFullRewrite(false);
    file.Save();
  } catch (const EOvPDFError&) {
    return 0;
  } catch (const ECvZlibError&) {
    return 0;
  } catch (const EAbort&) {
    return 0;
  } catch (const EStreamError&) {
    return 0;
  }
  // What was written must read back.
  auto* working = dynamic_cast<TOvMemoryStream*>(document.WorkingStream());
  if (!working) return 0;
  TOvMemoryStream saved(working->Data());
  TOvPDFFile again;
  try {
    again.Reload(saved);
  }
  EXPECTED_FAILURES
  return 0;
}
