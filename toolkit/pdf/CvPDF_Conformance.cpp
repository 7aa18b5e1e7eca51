// What a document claims to conform to, read from its catalog's XMP metadata
// (ISO 32000-1 14.3.2; ISO 19005 puts pdfaid:part there).
#include "toolkit/pdf/CvPDF.h"

namespace corvane {

bool TOvPDFDocument::DeclaresPDFA() {
  try {
    TOvPDFDictionary* catalog = Catalog();
    if (!catalog) return false;
    auto* metadata = dynamic_cast<TOvPDFStream*>(ResolveValue(GetEntry(catalog, "Metadata")));
    if (!metadata) return false;
    const std::string xmp = DecodeStreamData(metadata);
    // Either form XMP allows: the property as an attribute or as an element.
    return xmp.find("pdfaid:part=") != std::string::npos ||
           xmp.find("<pdfaid:part>") != std::string::npos;
  } catch (const ECorvaneError&) {
    // Metadata that cannot be read claims nothing.
    return false;
  }
}

}  // namespace corvane
