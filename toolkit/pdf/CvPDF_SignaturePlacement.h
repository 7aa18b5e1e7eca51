// Placing a new signature where the caller wants it: the page's visible box
// to check a requested rectangle against, and signing into a signature field
// the document already has.
#pragma once

#include "toolkit/pdf/CvPDF.h"

namespace corvane {

// A page's box in default user space, corners ordered (X1 <= X2, Y1 <= Y2).
struct TCvPageBox {
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

// The page's /CropBox, else its /MediaBox, both looked up through /Parent
// (ISO 32000-1 7.7.3.3); false when neither is an array of four numbers.
bool PageBoxOf(TOvPDFDictionary* page, TCvPageBox& box);

// The widget annotation of a signature field: the field itself when it is
// merged with its widget, else its first widget kid; nil when it has none.
TOvPDFDictionary* SignatureFieldWidget(TOvPDFDictionary* field);

// Makes a new, not yet written entry sign into an empty field of the
// document (one of EmptySignatureFields): its value goes into that field,
// no new field is made, and its page is the widget's. A visible entry (set
// visibility first) draws its appearance into the widget's own rectangle,
// which stays as it is; a field without an area keeps its widget untouched.
void UseEmptySignatureField(TOvPDFDocument& document, TOvPDFSignature& entry,
                            const TOvPDFSignatureInfo& field);

}  // namespace corvane
