// Helpers shared by the signature units of the document (not part of the
// toolkit's interface).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignaturePlaceholder.h"

namespace corvane::sigimpl {

// What the writer knows of the one entry whose update it is building: the
// objects made for it, kept from building the update until it is signed.
struct TCvPendingSignature {
  TOvPDFSignature* Entry = nullptr;
  // The catalog and the object holding it.
  TOvPDFDictionary* Catalog = nullptr;
  TOvPDFIndirect* CatalogObject = nullptr;
  // The form and its /Fields array.
  TOvPDFDictionary* Form = nullptr;
  TOvPDFArray* Fields = nullptr;
  // The merged field and widget dictionary, the object holding it, and
  // whether it was made for this entry.
  TOvPDFDictionary* Field = nullptr;
  TOvPDFIndirect* FieldObject = nullptr;
  bool NewField = false;
  // The widget annotation: the field itself, or an existing field's kid.
  TOvPDFDictionary* Widget = nullptr;
  // A signature after a certification: its widget is only locked (/F 128).
  bool AfterCertification = false;
  // The value dictionary and, for a certification, its /Reference array.
  TOvPDFDictionary* Value = nullptr;
  TOvPDFArray* References = nullptr;
  TCvSignaturePlaceholder Placeholder;
};

// --- form and field (CvPDF_SignatureForm.cpp) ---
// The catalog (/Root) for the update; "Invalid ROOT entry"
// when it is not a reference to a dictionary.
void FindCatalog(TOvPDFFile& file, TCvPendingSignature& pending);
// /AcroForm with /DA, /Fields, /SigFlags and, when asked, default resources.
void PrepareForm(TOvPDFDocument& document, TCvPendingSignature& pending);
// The entry's field: made or taken, checked for a signing handler, named,
// and for a certification locked.
void PrepareField(TOvPDFDocument& document, TCvPendingSignature& pending);

// --- page and widget placement (CvPDF_SignaturePlacement.cpp) ---
// The widget entries of the field on its page, its appearance when visible,
// and the page annotations that list it.
void PlaceWidget(TOvPDFDocument& document, TCvPendingSignature& pending);

// --- value, MDP references and /Perms (CvPDF_SignatureValue.cpp) ---
inline constexpr char kOnlyOneMDP[] =
    "There is only one MDP signature allowed (it should be a first signature over a document)";
// An existing certification is never broken silently, and never doubled.
void CheckExistingCertification(const TOvPDFSignature* entry, TOvPDFDictionary* catalog);
// The P of the catalog's DocMDP certification; 0 when there is none.
int32_t CertificationPermissions(TOvPDFDictionary* catalog);
// The P of a new certification that allows these changes.
int32_t PermissionsOf(uint8_t allowed);
// The value dictionary with its placeholders as the field's /V; for a
// certification also the catalog's /Perms and the annotation names.
void BuildValue(TOvPDFDocument& document, TCvPendingSignature& pending);
// After the update was written: the object digests of a certification into
// its two references.
void PatchReferenceDigests(TOvPDFSecurityHandler& handler, TCvPendingSignature& pending,
                           TOvStream& out);

// --- shared (CvPDF_SignatureImpl.cpp) ---
// "Internal error " + tag, as EOvPDFDocumentError.
[[noreturn]] void InternalError(const char* tag);
// Writes text at offset and leaves the stream's position where it was.
void PatchAt(TOvStream& out, int64_t offset, std::string_view text);
// The object as a new indirect object of the document; a reference to it.
TOvPDFRef* NewIndirectRef(TOvPDFDocument& document, TOvPDFObject* value);
// The indirect object that holds obj (directly or nested); nil when none.
TOvPDFIndirect* HolderOf(TOvPDFObject* obj);
// The object's holder, marked to be written: it goes into the update.
void Touch(TOvPDFObject* obj);
// A new text string (EncodeTextString), hexadecimal when asked.
TOvPDFString* TextString(TOvPDFFile& file, const std::string& utf8, bool hex);
// Appends an item, keeping a separator after the previous one.
void AppendToArray(TOvPDFArray* array, TOvPDFObject* item);
// A new array written on one line.
TOvPDFArray* NewFlatArray(TOvPDFFile& file);
// [a b c ...] with single spaces.
TOvPDFArray* NewNumberArray(TOvPDFFile& file, const std::vector<double>& values);
// [(name)]: one text string.
TOvPDFArray* NewNameList(TOvPDFFile& file, const std::string& name);
// Uppercase hexadecimal of the bytes.
std::string Hex(std::string_view bytes);

// --- appearance (CvPDF_Widget.cpp, CvPDF_FontMetrics.cpp, CvPDF_CompositeFont.cpp) ---
// The standard Helvetica's advance width of a character in 1/1000 em; 1000
// for a character it lacks.
int32_t HelveticaWidth(uint32_t codePoint);
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
