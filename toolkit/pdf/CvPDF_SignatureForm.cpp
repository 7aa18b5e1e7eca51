// The form and the field of a new signature: the catalog's /AcroForm with
// its entries and default resources, and the signature field itself.
#include <algorithm>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"
#include "toolkit/pdf/CvPDF_SignaturePlacement.h"

namespace corvane::sigimpl {

namespace {

constexpr char kInvalidAcroForm[] = "Invalid AcroForm entry";

bool HasXRefEntry(TOvPDFFile& file, int32_t number) {
  for (const auto& [key, entry] : file.XRefs()) {
    if (entry.Number == number) return true;
  }
  return false;
}

bool IsArray(TOvPDFObject* obj) {
  return dynamic_cast<TOvPDFArray*>(obj) && !dynamic_cast<TOvPDFDictionary*>(obj);
}

// The catalog's /AcroForm, made (as a new object) when absent.
TOvPDFDictionary* FindOrMakeForm(TOvPDFDocument& document, TOvPDFDictionary* catalog) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* form = nullptr;
  TOvPDFObject* entry = GetEntry(catalog, "AcroForm");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(entry)) {
    TOvPDFIndirect* target = nullptr;
    try {
      target = ref->Resolve();
    } catch (const EOvPDFError&) {
      throw EOvPDFDocumentError(kInvalidAcroForm);
    }
    if (!target || !target->Value) {
      // Only a reference to nothing at all is dropped; an object that
      // exists but cannot be read is a fault to report, not to paper over.
      if (HasXRefEntry(file, ref->Number)) throw EOvPDFDocumentError(kInvalidAcroForm);
      RemoveEntry(catalog, "AcroForm");
    } else if (auto* dict = dynamic_cast<TOvPDFDictionary*>(target->Value)) {
      form = dict;
      target->MarkModified();
    } else {
      throw EOvPDFDocumentError(kInvalidAcroForm);
    }
  } else if (auto* dict = dynamic_cast<TOvPDFDictionary*>(entry)) {
    form = dict;
  } else if (entry) {
    throw EOvPDFDocumentError(kInvalidAcroForm);
  }
  if (!form) {
    form = file.NewDictionary();
    SetEntry(catalog, "AcroForm", NewIndirectRef(document, form));
  }
  return form;
}

// The form's /Fields array, made (as a new object) when absent.
TOvPDFArray* FindOrMakeFields(TOvPDFDocument& document, TOvPDFDictionary* form) {
  TOvPDFObject* entry = GetEntry(form, "Fields");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(entry)) {
    TOvPDFIndirect* target = ref->Resolve();
    TOvPDFObject* value = target ? target->Value : nullptr;
    if (!IsArray(value)) throw EOvPDFDocumentError(kInvalidAcroForm);
    target->MarkModified();
    return static_cast<TOvPDFArray*>(value);
  }
  if (entry) {
    if (!IsArray(entry)) throw EOvPDFDocumentError(kInvalidAcroForm);
    return static_cast<TOvPDFArray*>(entry);
  }
  TOvPDFArray* fields = NewFlatArray(document.File());
  SetEntry(form, "Fields", NewIndirectRef(document, fields));
  return fields;
}

TOvPDFDictionary* NewType1Font(TOvPDFFile& file, const char* name, const char* baseFont) {
  TOvPDFDictionary* font = file.NewDictionary();
  AddNameEntry(font, "Subtype", "Type1");
  AddNameEntry(font, "Name", name);
  AddNameEntry(font, "BaseFont", baseFont);
  AddNameEntry(font, "Type", "Font");
  return font;
}

// /DR with the two fonts that /DA names and the PDFDocEncoding they use.
void AddDefaultResources(TOvPDFDocument& document, TOvPDFDictionary* form) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* encoding = file.NewDictionary();
  AddNameEntry(encoding, "Type", "Encoding");
  TOvPDFRef* encodingRef = NewIndirectRef(document, encoding);
  TOvPDFDictionary* helv = NewType1Font(file, "Helv", "Helvetica");
  helv->AddEntry("Encoding", encodingRef);
  TOvPDFDictionary* zadb = NewType1Font(file, "ZaDb", "ZapfDingbats");
  TOvPDFDictionary* fonts = file.NewDictionary();
  fonts->AddEntry("Helv", NewIndirectRef(document, helv));
  fonts->AddEntry("ZaDb", NewIndirectRef(document, zadb));
  TOvPDFDictionary* encodings = file.NewDictionary();
  encodings->AddEntry("PDFDocEncoding",
                      document.MakeRef(encodingRef->Number, encodingRef->Generation));
  TOvPDFDictionary* dr = file.NewDictionary();
  dr->AddEntry("Font", fonts);
  dr->AddEntry("Encoding", encodings);
  SetEntry(form, "DR", dr);
}

// The first of Signature1, Signature2, ... not taken yet; it is taken now.
std::string TakeFreeFieldName(std::vector<std::string>& used) {
  for (int n = 1;; ++n) {
    std::string name = "Signature" + std::to_string(n);
    if (std::find(used.begin(), used.end(), name) == used.end()) {
      used.push_back(name);
      return name;
    }
  }
}

// The handler that will give the value; it learns the file it signs.
void BeginHandlerField(TOvPDFFile& file, TOvPDFSignature& entry) {
  TOvPDFSecurityHandler* handler = entry.Handler();
  if (!handler) throw EOvPDFDocumentError("Security handler is not assigned");
  if (!handler->HandlerClass().CanSign) {
    throw EOvPDFDocumentError("Security handler not intended for signing");
  }
  handler->BeginSignatureField(&file);
}

// A certified field locks itself against later changes.
void LockField(TOvPDFDocument& document, TOvPDFSignature& entry, TOvPDFDictionary* field) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* lock = file.NewDictionary();
  lock->AddEntry("Fields", NewNameList(file, entry.SignatureName()));
  AddNameEntry(lock, "Action", "Include");
  AddNameEntry(lock, "Type", "SigFieldLock");
  SetEntry(field, "Lock", NewIndirectRef(document, lock));
}

}  // namespace

void FindCatalog(TOvPDFFile& file, TCvPendingSignature& pending) {
  auto* rootRef = dynamic_cast<TOvPDFRef*>(GetEntry(file.Trailer(), "Root"));
  TOvPDFIndirect* rootObject = rootRef ? rootRef->Resolve() : nullptr;
  auto* catalog = rootObject ? dynamic_cast<TOvPDFDictionary*>(rootObject->Value) : nullptr;
  if (!catalog) throw EOvPDFDocumentError("Invalid ROOT entry");
  pending.Catalog = catalog;
  pending.CatalogObject = rootObject;
}

void PrepareForm(TOvPDFDocument& document, TCvPendingSignature& pending) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* form = FindOrMakeForm(document, pending.Catalog);
  // A certification with /P 1 allows a document timestamp but no other
  // change of the form; an invisible stamp needs no default appearance.
  TOvPDFSecurityHandler* handler = pending.Entry ? pending.Entry->Handler() : nullptr;
  const bool resources = !handler || handler->ValueType() != "DocTimeStamp" ||
                         CertificationPermissions(pending.Catalog) != 1;
  if (resources && !dynamic_cast<TOvPDFString*>(GetResolvedEntry(form, "DA"))) {
    SetEntry(form, "DA", file.NewString("/Helv 0 Tf 0 g", 0));
  }
  TOvPDFArray* fields = FindOrMakeFields(document, form);
  if (TOvPDFObject* flags = GetEntry(form, "SigFlags")) {
    if (!dynamic_cast<TOvPDFReal*>(ResolveValue(flags)))
      throw EOvPDFDocumentError(kInvalidAcroForm);
  }
  SetEntry(form, "SigFlags", file.NewInt(3));
  if (resources && (document.Options() & PDF_OPTION_ADD_FORM_RESOURCES)) {
    if (!GetEntry(form, "DA")) SetEntry(form, "DA", file.NewString("/Helv 0 Tf 0 g ", 0));
    if (!GetEntry(form, "DR")) AddDefaultResources(document, form);
  }
  Touch(form);
  pending.Form = form;
  pending.Fields = fields;
}

void PrepareField(TOvPDFDocument& document, TCvPendingSignature& pending) {
  TOvPDFFile& file = document.File();
  TOvPDFSignature& entry = *pending.Entry;
  TOvPDFDictionary* field = entry.FieldDictionary();
  pending.NewField = field == nullptr;
  if (pending.NewField) {
    field = file.NewDictionary();
    AppendToArray(pending.Fields, NewIndirectRef(document, field));
  }
  pending.Field = field;
  pending.FieldObject = HolderOf(field);
  pending.Widget = pending.NewField ? field : SignatureFieldWidget(field);
  if (!pending.Widget) pending.Widget = field;
  if (!entry.EmptyField()) BeginHandlerField(file, entry);
  if (!entry.ExistingField()) {
    field->ClearItems();
    AddNameEntry(field, "FT", "Sig");
    if (entry.SignatureName().empty())
      entry.SetSignatureName(TakeFreeFieldName(document.UsedFieldNames()));
    field->AddEntry("T", TextString(file, entry.SignatureName(), false));
  } else if (pending.FieldObject) {
    pending.FieldObject->MarkModified();
  }
  if (entry.SignatureType() == stMDP) LockField(document, entry, field);
}

}  // namespace corvane::sigimpl
