// Parses arbitrary bytes as a sequence of PDF objects and exercises what the
// objects offer: decoding, rebuilding, writing and cloning.
#include <cstddef>
#include <cstdint>
#include <string>

#include "toolkit/pdf/CvPDFCore.h"

using namespace corvane;

namespace {

// Reads the entries of containers (kept as text until then) down to every
// value, a bounded number of them.
void ExerciseItems(TOvPDFObject* obj, int& budget) {
  auto* container = dynamic_cast<TOvPDFArray*>(obj);
  if (!container) return;
  try {
    for (size_t i = 0; i < container->ItemCount() && budget > 0; ++i, --budget) {
      ExerciseItems(container->GetItem(i), budget);
    }
  } catch (const EOvPDFError&) {
  }
}

void Exercise(TOvPDFObject* obj) {
  int budget = 10000;
  ExerciseItems(obj, budget);
  if (auto* s = dynamic_cast<TOvPDFString*>(obj)) {
    const std::string text = s->GetText();
    s->SetText(text);
  } else if (auto* n = dynamic_cast<TOvPDFName*>(obj)) {
    n->SetName(n->GetName());
  } else if (auto* r = dynamic_cast<TOvPDFReal*>(obj)) {
    r->GetValue();
    try {
      r->AsInt64();
    } catch (const EOvPDFError&) {
    }
  } else if (auto* stream = dynamic_cast<TOvPDFStream*>(obj)) {
    stream->GetRawData();
  }
  TOvMemoryStream out;
  try {
    obj->WriteTo(out, true);
  } catch (const EOvPDFError&) {
  }
  try {
    obj->Clone();
  } catch (const EOvPDFError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TOvPDFFile file;
  TOvMemoryStream input(std::string(reinterpret_cast<const char*>(data), size));
  try {
    for (int i = 0; i < 1000; ++i) {
      TOvPDFObject* obj = file.ParseObject(input);
      if (!obj) break;
      Exercise(obj);
    }
  } catch (const EOvPDFError&) {
  }
  return 0;
}
