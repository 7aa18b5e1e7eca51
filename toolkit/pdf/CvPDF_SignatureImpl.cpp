// Small object-building helpers shared by the signature units.
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

#include "toolkit/common/CvScope.h"

namespace corvane::sigimpl {

void InternalError(const char* tag) {
  throw EOvPDFDocumentError(std::string("Internal error ") + tag);
}

void PatchAt(TOvStream& out, int64_t offset, std::string_view text) {
  const TCvPositionGuard keep(out);
  out.SetPosition(offset);
  out.Write(text);
}

TOvPDFRef* NewIndirectRef(TOvPDFDocument& document, TOvPDFObject* value) {
  int32_t number = 0;
  int32_t generation = 0;
  document.AddNewObject(value, number, generation);
  return document.MakeRef(number, generation);
}

TOvPDFIndirect* HolderOf(TOvPDFObject* obj) {
  for (int depth = 0; obj && depth <= 4 * PDF_MAX_NESTING; ++depth) {
    if (auto* indirect = dynamic_cast<TOvPDFIndirect*>(obj)) return indirect;
    obj = obj->Parent();
  }
  return nullptr;
}

void Touch(TOvPDFObject* obj) {
  if (TOvPDFIndirect* holder = HolderOf(obj)) holder->MarkModified();
}

TOvPDFString* TextString(TOvPDFFile& file, const std::string& utf8, bool hex) {
  return file.NewString(EncodeTextString(utf8), hex ? 1 : 0);
}

void AppendToArray(TOvPDFArray* array, TOvPDFObject* item) {
  if (!array->Items().empty()) {
    TOvPDFObject* last = array->Items().back().Object;
    if (last && last->TrailingSpace.empty() && array->LeadingSpace.empty())
      last->TrailingSpace = " ";
  }
  item->TrailingSpace.clear();
  array->AddItem(item);
}

TOvPDFArray* NewFlatArray(TOvPDFFile& file) {
  TOvPDFArray* array = file.NewArray();
  array->OpenSpace.clear();
  array->Rebuild();
  return array;
}

TOvPDFArray* NewNumberArray(TOvPDFFile& file, const std::vector<double>& values) {
  TOvPDFArray* array = NewFlatArray(file);
  for (size_t i = 0; i < values.size(); ++i) {
    TOvPDFReal* number = file.NewReal(values[i]);
    number->TrailingSpace = i + 1 < values.size() ? " " : "";
    array->AddItem(number);
  }
  array->SetModified(true);
  return array;
}

TOvPDFArray* NewNameList(TOvPDFFile& file, const std::string& name) {
  TOvPDFArray* names = NewFlatArray(file);
  names->AddItem(TextString(file, name, false));
  names->Items().back().Object->TrailingSpace.clear();
  return names;
}

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

}  // namespace corvane::sigimpl
