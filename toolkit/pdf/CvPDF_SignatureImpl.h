// Helpers shared by the signature units of the document (not part of the
// toolkit's interface).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/pdf/CvPDF.h"

namespace corvane::sigimpl {

// The object as a new indirect object of the document; a reference to it.
TOvPDFRef* NewIndirectRef(TOvPDFDocument& document, TOvPDFObject* value);
// The indirect object that holds obj (directly or nested); nil when none.
TOvPDFIndirect* HolderOf(TOvPDFObject* obj);
// Appends an item, keeping a separator after the previous one.
void AppendToArray(TOvPDFArray* array, TOvPDFObject* item);
// A new array written on one line.
TOvPDFArray* NewFlatArray(TOvPDFFile& file);
// [a b c ...] with single spaces.
TOvPDFArray* NewNumberArray(TOvPDFFile& file, const std::vector<double>& values);
// Uppercase hexadecimal of the bytes.
std::string Hex(std::string_view bytes);

// The widget rectangle of a visible entry on its page.
struct TCvWidgetRect {
  int64_t X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  int64_t W = 0, H = 0;  // the box, exchanged for 90 and 270 degrees
};
TCvWidgetRect ComputeWidgetRect(const TOvPDFSignatureWidgetProps& props,
                                TOvPDFDictionary* pageDictionary);
// Writes the appearance streams of the entry's widget and sets /AP on field.
void WriteWidgetAppearance(TOvPDFDocument& document, TOvPDFSignature& entry,
                           TOvPDFDictionary* field, const TCvWidgetRect& rect);

}  // namespace corvane::sigimpl
