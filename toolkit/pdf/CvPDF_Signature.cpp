// Signature entries of a document: adding them, the objects written for a new
// entry, and patching its byte ranges and value into the written update.
#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <unordered_set>

#include "platform/PlatformSystem.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

namespace {

constexpr char kOnlyOneMDP[] =
    "There is only one MDP signature allowed (it should be a first signature over a document)";
constexpr char kInvalidAcroForm[] = "Invalid AcroForm entry";
constexpr size_t kHashChunk = 8192;
// Far above any real signature; keeps a broken estimate from reserving gigabytes.
constexpr int64_t kMaxSignatureSize = int64_t{1} << 24;

[[noreturn]] void InternalError(const char* tag) {
  throw EOvPDFDocumentError(std::string("Internal error ") + tag);
}

// The P of the catalog's DocMDP certification; 0 when there is none.
int32_t CertificationPermissions(TOvPDFDictionary* catalog) {
  TOvPDFDictionary* perms = GetDictEntry(catalog, "Perms", false);
  TOvPDFDictionary* value = perms ? GetDictEntry(perms, "DocMDP", false) : nullptr;
  if (!value) return 0;
  int32_t p = 2;
  if (TOvPDFArray* refs = GetArrayEntry(value, "Reference", false)) {
    for (const auto& item : refs->Items()) {
      auto* ref = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
      if (!ref || GetNameEntry(ref, "TransformMethod", "", false) != "DocMDP") continue;
      if (TOvPDFDictionary* params = GetDictEntry(ref, "TransformParams", false)) {
        p = GetIntEntry(params, "P", 2, false);
      }
    }
  }
  return p;
}

int32_t PermissionsOf(uint8_t allowed) {
  if (allowed & PDF_ALLOW_ANNOTATIONS) return 3;
  if (allowed & PDF_ALLOW_FORM_FILL) return 2;
  return 1;
}

bool HasXRefEntry(TOvPDFFile& file, int32_t number) {
  for (const auto& [key, entry] : file.XRefs()) {
    if (entry.Number == number) return true;
  }
  return false;
}

// The dictionary, marked to be written: its holder goes into the update.
void Touch(TOvPDFObject* obj) {
  if (TOvPDFIndirect* holder = sigimpl::HolderOf(obj)) holder->MarkModified();
}

TOvPDFString* TextString(TOvPDFFile& file, const std::string& utf8, bool hex) {
  return file.NewString(EncodeTextString(utf8), hex ? 1 : 0);
}

std::string NewGuid() {
  unsigned char bytes[16] = {};
  platform::SystemRandomBytes(bytes, sizeof bytes);
  const std::string hex = sigimpl::Hex(std::string_view(reinterpret_cast<char*>(bytes), 16));
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12) + "}";
}

// The page's /Annots as an array to append to, created when absent.
TOvPDFArray* PageAnnots(TOvPDFDocument& document, TOvPDFDictionary* page) {
  TOvPDFObject* entry = GetEntry(page, "Annots");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(entry)) {
    TOvPDFIndirect* target = ref->Resolve();
    if (target && dynamic_cast<TOvPDFArray*>(target->Value) &&
        !dynamic_cast<TOvPDFDictionary*>(target->Value)) {
      target->MarkModified();
      return static_cast<TOvPDFArray*>(target->Value);
    }
  } else if (entry && dynamic_cast<TOvPDFArray*>(entry) &&
             !dynamic_cast<TOvPDFDictionary*>(entry)) {
    return static_cast<TOvPDFArray*>(entry);
  }
  TOvPDFArray* annots = sigimpl::NewFlatArray(document.File());
  SetEntry(page, "Annots", sigimpl::NewIndirectRef(document, annots));
  return annots;
}

bool ArrayHoldsRefTo(TOvPDFArray* array, TOvPDFIndirect* target) {
  for (const auto& item : array->Items()) {
    auto* ref = dynamic_cast<TOvPDFRef*>(item.Object);
    if (ref && target && ref->Number == target->Number && ref->Generation == target->Generation)
      return true;
  }
  return false;
}

// The page's own or inherited /Resources, as the object it names.
TOvPDFObject* InheritedResources(TOvPDFDictionary* page) {
  std::unordered_set<TOvPDFDictionary*> seen;
  for (int depth = 0; page && depth <= PDF_MAX_TREE_DEPTH && seen.insert(page).second; ++depth) {
    if (TOvPDFObject* resources = GetEntry(page, "Resources")) return resources;
    page = GetDictEntry(page, "Parent", false);
  }
  return nullptr;
}

// /M of a new value. In local time, the digits and the offset both name the
// signing instant (the local digits, and that instant's own offset).
std::string SigningDate(double utc, bool local) {
  if (!local) return PdfDateToString(utc, false);
  const double seconds = std::floor((utc - 25569.0) * 86400.0 + 0.5);
  if (!(seconds > -1e15 && seconds < 1e15)) return PdfDateToString(utc, false);
  const auto instant = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!localtime_r(&instant, &tm)) return PdfDateToString(utc, false);
  char text[64];
  std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  const long offset = tm.tm_gmtoff / 60;
  if (offset == 0) return std::string(text) + "Z00'00'";
  const long magnitude = offset < 0 ? -offset : offset;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld'%02ld'", offset < 0 ? '-' : '+', magnitude / 60 % 24,
                magnitude % 60);
  return std::string(text) + zone;
}

}  // namespace

namespace sigimpl {

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

}  // namespace sigimpl

// --- entries --------------------------------------------------------------------------

TOvPDFSignature::TOvPDFSignature(TOvPDFDocument* document) : document_(document) {}

TOvPDFSignature::~TOvPDFSignature() = default;

void TOvPDFSignature::SetHandler(TOvPDFSecurityHandler* handler) {
  handler_ = handler;
  if (handler_) handler_->SetDocument(document_);
}

size_t TOvPDFDocument::AddSignature() {
  if (encrypted_) throw EOvPDFDocumentError("Cannot sign encrypted document");
  if (decrypted_ && decryptionMode_ != 2) {
    throw EOvPDFDocumentError("Cannot sign encrypted document. Invalid decryption mode.");
  }
  signatures_.push_back(std::make_unique<TOvPDFSignature>(this));
  return signatures_.size() - 1;
}

size_t TOvPDFDocument::PendingSignatureCount() const {
  return static_cast<size_t>(std::count_if(signatures_.begin(), signatures_.end(),
                                           [](const auto& entry) { return !entry->Written; }));
}

// Entries of other kinds (usage rights, identity) never count for certification.
TOvPDFSignature* TOvPDFDocument::FirstCertificationCandidate() const {
  for (const auto& entry : signatures_) {
    if (entry->SignatureType == stDocument || entry->SignatureType == stMDP) return entry.get();
  }
  return nullptr;
}

void TOvPDFDocument::PrepareCertification() {
  TOvPDFSignature* first = FirstCertificationCandidate();
  if (!first || first->SignatureType != stMDP || PendingSignatureCount() == 0) return;
  TOvPDFDictionary* catalog = Catalog();
  if (!catalog) return;
  if (TOvPDFDictionary* names = GetDictEntry(catalog, "Names", false)) {
    TOvPDFDictionary* templates = GetDictEntry(names, "Templates", false);
    TOvPDFArray* list = templates ? GetArrayEntry(templates, "Names", false) : nullptr;
    if (list && list->ItemCount() > 0) throw EOvPDFDocumentError("Unsupported document format");
  }
  // A form's default resources shared with a page would make a change of
  // one look like a change of the other to the certification's digest.
  TOvPDFDictionary* form = GetDictEntry(catalog, "AcroForm", false);
  auto* dr = form ? dynamic_cast<TOvPDFRef*>(GetEntry(form, "DR")) : nullptr;
  if (!dr) return;
  for (const TOvPDFPageInfo& page : Pages()) {
    auto* resources = dynamic_cast<TOvPDFRef*>(InheritedResources(page.Dictionary()));
    if (!resources || resources->Number != dr->Number || resources->Generation != dr->Generation)
      continue;
    auto* shared = dynamic_cast<TOvPDFDictionary*>(ResolveValue(dr));
    if (!shared) return;
    SetEntry(form, "DR", sigimpl::NewIndirectRef(*this, shared->Clone()));
    Touch(form);
    return;
  }
}

void TOvPDFDocument::WriteSignatureEntries() {
  for (size_t i = 0; i < signatures_.size(); ++i) {
    TOvPDFSignature* entry = signatures_[i].get();
    if (entry->Written) continue;
    BuildSignatureField();
    file_->Save();
    InsertActualSignatureInformation();
    entry->Written = true;
    const bool more = std::any_of(signatures_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                  signatures_.end(), [](const auto& e) { return !e->Written; });
    if (!more) break;
    // The next update builds on this one as its previous revision.
    file_->Reload(*working_);
    const std::vector<std::string> names = usedFieldNames_;
    ReadStructure();
    usedFieldNames_ = names;
  }
}

// --- building the objects of a new entry ------------------------------------------------

void TOvPDFDocument::BuildSignatureField() {
  TOvPDFFile& file = *file_;
  file.SetLineEnd("\r\n");

  TOvPDFSignature* first = FirstCertificationCandidate();
  bool afterFirst = false;
  for (const auto& e : signatures_) {
    if (e.get() == first) {
      afterFirst = true;
      continue;
    }
    if (afterFirst && e->SignatureType == stMDP && !e->Written) throw EOvPDFError(kOnlyOneMDP);
  }

  auto* rootRef = dynamic_cast<TOvPDFRef*>(GetEntry(file.Trailer(), "Root"));
  TOvPDFIndirect* rootObject = rootRef ? rootRef->Resolve() : nullptr;
  auto* catalog = rootObject ? dynamic_cast<TOvPDFDictionary*>(rootObject->Value) : nullptr;
  if (!catalog) throw EOvPDFDocumentError("Invalid ROOT entry");

  TOvPDFSignature* entry = nullptr;
  for (const auto& e : signatures_) {
    if (!e->Written) {
      entry = e.get();
      break;
    }
  }
  // An existing certification is never broken silently, and never doubled.
  const int32_t certified = CertificationPermissions(catalog);
  if (entry && certified != 0) {
    if (entry->SignatureType == stMDP) throw EOvPDFError(kOnlyOneMDP);
    if (certified == 1) {
      throw EOvPDFDocumentError("Document certification does not permit changes");
    }
  }
  rootObject->MarkModified();

  // The form.
  TOvPDFDictionary* form = nullptr;
  TOvPDFObject* formEntry = GetEntry(catalog, "AcroForm");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(formEntry)) {
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
  } else if (auto* dict = dynamic_cast<TOvPDFDictionary*>(formEntry)) {
    form = dict;
  } else if (formEntry) {
    throw EOvPDFDocumentError(kInvalidAcroForm);
  }
  if (!form) {
    form = file.NewDictionary();
    SetEntry(catalog, "AcroForm", sigimpl::NewIndirectRef(*this, form));
  }
  if (!dynamic_cast<TOvPDFString*>(GetResolvedEntry(form, "DA"))) {
    SetEntry(form, "DA", file.NewString("/Helv 0 Tf 0 g", 0));
  }
  TOvPDFArray* fields = nullptr;
  TOvPDFObject* fieldsEntry = GetEntry(form, "Fields");
  if (auto* ref = dynamic_cast<TOvPDFRef*>(fieldsEntry)) {
    TOvPDFIndirect* target = ref->Resolve();
    fields = target ? dynamic_cast<TOvPDFArray*>(target->Value) : nullptr;
    if (!fields || dynamic_cast<TOvPDFDictionary*>(fields))
      throw EOvPDFDocumentError(kInvalidAcroForm);
    target->MarkModified();
  } else if (fieldsEntry) {
    fields = dynamic_cast<TOvPDFArray*>(fieldsEntry);
    if (!fields || dynamic_cast<TOvPDFDictionary*>(fields))
      throw EOvPDFDocumentError(kInvalidAcroForm);
  } else {
    fields = sigimpl::NewFlatArray(file);
    SetEntry(form, "Fields", sigimpl::NewIndirectRef(*this, fields));
  }
  if (TOvPDFObject* flags = GetEntry(form, "SigFlags")) {
    if (!dynamic_cast<TOvPDFReal*>(ResolveValue(flags)))
      throw EOvPDFDocumentError(kInvalidAcroForm);
    SetEntry(form, "SigFlags", file.NewInt(3));
  } else {
    SetEntry(form, "SigFlags", file.NewInt(3));
  }
  if (options_ & PDF_OPTION_ADD_FORM_RESOURCES) {
    if (!GetEntry(form, "DA")) SetEntry(form, "DA", file.NewString("/Helv 0 Tf 0 g ", 0));
    if (!GetEntry(form, "DR")) {
      TOvPDFDictionary* encoding = file.NewDictionary();
      AddNameEntry(encoding, "Type", "Encoding");
      TOvPDFRef* encodingRef = sigimpl::NewIndirectRef(*this, encoding);
      TOvPDFDictionary* helv = file.NewDictionary();
      AddNameEntry(helv, "Subtype", "Type1");
      AddNameEntry(helv, "Name", "Helv");
      AddNameEntry(helv, "BaseFont", "Helvetica");
      AddNameEntry(helv, "Type", "Font");
      helv->AddEntry("Encoding", encodingRef);
      TOvPDFDictionary* zadb = file.NewDictionary();
      AddNameEntry(zadb, "Subtype", "Type1");
      AddNameEntry(zadb, "Name", "ZaDb");
      AddNameEntry(zadb, "BaseFont", "ZapfDingbats");
      AddNameEntry(zadb, "Type", "Font");
      TOvPDFDictionary* fonts = file.NewDictionary();
      fonts->AddEntry("Helv", sigimpl::NewIndirectRef(*this, helv));
      fonts->AddEntry("ZaDb", sigimpl::NewIndirectRef(*this, zadb));
      TOvPDFDictionary* encodings = file.NewDictionary();
      encodings->AddEntry("PDFDocEncoding", MakeRef(encodingRef->Number, encodingRef->Generation));
      TOvPDFDictionary* dr = file.NewDictionary();
      dr->AddEntry("Font", fonts);
      dr->AddEntry("Encoding", encodings);
      SetEntry(form, "DR", dr);
    }
  }
  Touch(form);
  if (!entry) return;

  // The field.
  TOvPDFDictionary* field = entry->FieldDictionary;
  const bool newField = field == nullptr;
  if (newField) {
    field = file.NewDictionary();
    TOvPDFRef* ref = sigimpl::NewIndirectRef(*this, field);
    sigimpl::AppendToArray(fields, ref);
    entry->FieldDictionary = field;
  }
  TOvPDFIndirect* fieldObject = sigimpl::HolderOf(field);
  if (!entry->EmptyField) {
    TOvPDFSecurityHandler* handler = entry->Handler();
    if (!handler) throw EOvPDFDocumentError("Security handler is not assigned");
    if (!handler->HandlerClass().CanSign) {
      throw EOvPDFDocumentError("Security handler not intended for signing");
    }
    handler->BeginSignatureField(&file);
  }
  if (!entry->ExistingField) {
    field->ClearItems();
    AddNameEntry(field, "FT", "Sig");
    if (entry->SignatureName.empty()) {
      for (int n = 1;; ++n) {
        std::string name = "Signature" + std::to_string(n);
        if (std::find(usedFieldNames_.begin(), usedFieldNames_.end(), name) ==
            usedFieldNames_.end()) {
          usedFieldNames_.push_back(name);
          entry->SignatureName = std::move(name);
          break;
        }
      }
    }
    field->AddEntry("T", TextString(file, entry->SignatureName, false));
  } else if (fieldObject) {
    fieldObject->MarkModified();
  }
  if (entry->SignatureType == stMDP) {
    TOvPDFDictionary* lock = file.NewDictionary();
    TOvPDFArray* names = sigimpl::NewFlatArray(file);
    names->AddItem(TextString(file, entry->SignatureName, false));
    names->Items().back().Object->TrailingSpace.clear();
    lock->AddEntry("Fields", names);
    AddNameEntry(lock, "Action", "Include");
    AddNameEntry(lock, "Type", "SigFieldLock");
    SetEntry(field, "Lock", sigimpl::NewIndirectRef(*this, lock));
  }

  // The page.
  // Only the pages up to the target are read (a later page past the end of
  // the tree means the last one).
  ReadPagesUpTo(static_cast<size_t>(std::max(entry->Page, 0)) + 1);
  if (pages_.empty()) throw EOvPDFDocumentError("Invalid document (no pages)");
  entry->Page = std::clamp<int32_t>(entry->Page, 0, static_cast<int32_t>(pages_.size()) - 1);
  TOvPDFDictionary* page = pages_[static_cast<size_t>(entry->Page)].Dictionary();
  TOvPDFIndirect* pageObject = sigimpl::HolderOf(page);
  TOvPDFSignatureWidgetProps& props = entry->WidgetProps;
  if (!(props.ShowOnAllPages && entry->SignatureType != stMDP) && pageObject) {
    // Pages that share one /Annots array each get their own copy first, so
    // the widget lands on the target page only.
    if (auto* shared = dynamic_cast<TOvPDFRef*>(GetEntry(page, "Annots"))) {
      auto* array = dynamic_cast<TOvPDFArray*>(ResolveValue(shared));
      for (const TOvPDFPageInfo& other : Pages()) {
        if (!array || other.Is(page)) continue;
        TOvPDFDictionary* otherPage = other.Dictionary();
        auto* ref = dynamic_cast<TOvPDFRef*>(GetEntry(otherPage, "Annots"));
        if (!ref || ref->Number != shared->Number || ref->Generation != shared->Generation)
          continue;
        SetEntry(otherPage, "Annots", sigimpl::NewIndirectRef(*this, array->Clone()));
        Touch(otherPage);
      }
    }
  }
  if (pageObject && (newField || props.UpdateExistingWidget)) {
    SetEntry(field, "Type", file.NewName("Annot"));
    SetEntry(field, "Subtype", file.NewName("Widget"));
    const bool afterCertification =
        first && first->SignatureType == stMDP && first != entry && first->Written;
    if (!afterCertification) {
      SetEntry(field, "F", file.NewInt(props.Flags()));
    } else if (newField) {
      SetEntry(field, "F", file.NewInt(128));
    }
    SetEntry(field, "P", MakeRef(pageObject->Number, pageObject->Generation));
    if (entry->Invisible) {
      SetEntry(field, "Rect", sigimpl::NewNumberArray(file, {0, 0, 0, 0}));
    } else {
      const sigimpl::TCvWidgetRect rect = sigimpl::ComputeWidgetRect(props, page);
      sigimpl::WriteWidgetAppearance(*this, *entry, field, rect);
      if (newField) {
        SetEntry(field, "DA", file.NewString("/Helv 0 Tf 0 g", 0));
        if (!GetEntry(field, "MK")) SetEntry(field, "MK", file.NewDictionary());
      }
      if (!(entry->ExistingField && props.AutoPos)) {
        SetEntry(field, "Rect",
                 sigimpl::NewNumberArray(
                     file, {static_cast<double>(rect.X1), static_cast<double>(rect.Y1),
                            static_cast<double>(rect.X2), static_cast<double>(rect.Y2)}));
      }
      if (newField && fieldObject) {
        std::vector<TOvPDFDictionary*> targets{page};
        if (props.ShowOnAllPages) {
          for (const TOvPDFPageInfo& other : Pages()) {
            if (!other.Is(page)) targets.push_back(other.Dictionary());
          }
        }
        std::unordered_set<TOvPDFArray*> done;
        for (TOvPDFDictionary* target : targets) {
          TOvPDFArray* annots = PageAnnots(*this, target);
          if (!done.insert(annots).second) continue;
          if (!ArrayHoldsRefTo(annots, fieldObject)) {
            sigimpl::AppendToArray(annots, MakeRef(fieldObject->Number, fieldObject->Generation));
          }
          Touch(annots);
          Touch(target);
        }
      }
    }
    Touch(page);
  }
  Touch(field);
  if (entry->EmptyField) return;

  // The value.
  TOvPDFSecurityHandler* handler = entry->Handler();
  TOvPDFDictionary* value = file.NewDictionary();
  handler->SaveSignatureInfo(value);
  handler->WriteFilterName(value);
  SetEntry(value, "Type", file.NewName("Sig"));
  const int64_t reserved = handler->EstimateSignatureSize() + entry->ExtraSpace;
  if (reserved <= 0 || reserved > kMaxSignatureSize) {
    InternalError("OvPDFDocument.BuildSignatureField.1");
  }
  entry->ContentsObject = file.NewString(std::string(static_cast<size_t>(reserved), '\0'), 1);
  SetEntry(value, "Contents", entry->ContentsObject);
  TOvPDFArray* range = sigimpl::NewFlatArray(file);
  for (int i = 0; i < 4; ++i) {
    TOvPDFReal* zero = file.NewInt(0);
    zero->TrailingSpace.assign(10, ' ');
    range->AddItem(zero);
  }
  range->OpenSpace.clear();
  range->LeadingSpace.clear();
  range->TrailingSpace = "\r\n";
  range->SetModified(true);
  entry->ByteRangeObject = range;
  SetEntry(value, "ByteRange", range);
  SetEntry(value, "Name",
           TextString(file, entry->AuthorName.empty() ? "Not specified" : entry->AuthorName,
                      entry->HexTextStrings));
  SetEntry(
      value, "M",
      file.NewString(
          SigningDate(entry->SigningTime, (options_ & PDF_OPTION_USE_LOCAL_TIME_ZONE) != 0), 0));
  if (!entry->Location.empty())
    SetEntry(value, "Location", TextString(file, entry->Location, entry->HexTextStrings));
  if (!entry->Reason.empty())
    SetEntry(value, "Reason", TextString(file, entry->Reason, entry->HexTextStrings));
  if (!entry->ContactInfo.empty())
    SetEntry(value, "ContactInfo", TextString(file, entry->ContactInfo, entry->HexTextStrings));
  if (entry->SignatureType == stMDP) {
    const bool sha1 = entry->ReferenceDigestMethod == 1;
    TOvPDFArray* references = sigimpl::NewFlatArray(file);
    for (int kind = 0; kind < 2; ++kind) {
      TOvPDFDictionary* ref = file.NewDictionary();
      if (kind == 0) {
        TOvPDFDictionary* params = file.NewDictionary();
        AddIntEntry(params, "P", PermissionsOf(entry->AllowedChanges));
        AddNameEntry(params, "V", "1.2");
        AddNameEntry(params, "Type", "TransformParams");
        ref->AddEntry("TransformParams", params);
      } else {
        TOvPDFDictionary* params = file.NewDictionary();
        TOvPDFArray* names = sigimpl::NewFlatArray(file);
        names->AddItem(TextString(file, entry->SignatureName, false));
        names->Items().back().Object->TrailingSpace.clear();
        params->AddEntry("Fields", names);
        AddNameEntry(params, "V", "1.2");
        AddNameEntry(params, "Action", "Include");
        AddNameEntry(params, "Type", "TransformParams");
        ref->AddEntry("TransformParams", sigimpl::NewIndirectRef(*this, params));
      }
      TOvPDFArray* location = sigimpl::NewNumberArray(file, {0, 0});
      location->TrailingSpace.assign(20, ' ');
      ref->AddEntry("DigestLocation", location);
      TOvPDFString* digest = file.NewString("", 1);
      digest->Data = "<" + std::string(sha1 ? 40 : 32, ' ') + ">";
      ref->AddEntry("DigestValue", digest);
      AddNameEntry(ref, "DigestMethod", sha1 ? "SHA1" : "MD5");
      ref->AddEntry("Data", MakeRef(rootObject->Number, rootObject->Generation));
      AddNameEntry(ref, "TransformMethod", kind == 0 ? "DocMDP" : "FieldMDP");
      AddNameEntry(ref, "Type", "SigRef");
      references->AddItem(ref);
    }
    SetEntry(value, "Reference", references);
  }
  TOvPDFRef* valueRef = sigimpl::NewIndirectRef(*this, value);
  SetEntry(field, "V", valueRef);
  if (entry->SignatureType == stDocument) entry->ByteRanges.clear();
  if (entry->SignatureType == stMDP) {
    TOvPDFDictionary* perms = GetDictEntry(catalog, "Perms", false);
    if (!perms) {
      perms = file.NewDictionary();
      SetEntry(catalog, "Perms", perms);
    }
    SetEntry(perms, "DocMDP", MakeRef(valueRef->Number, valueRef->Generation));
    Touch(perms);
    // Every annotation gets a name, so the certification's digest can
    // order them.
    for (const TOvPDFPageInfo& info : Pages()) {
      TOvPDFArray* annots = GetArrayEntry(info.Dictionary(), "Annots", false);
      if (!annots) continue;
      for (const auto& item : annots->Items()) {
        auto* annot = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
        if (!annot || GetNameEntry(annot, "FT", "", false) == "Sig" || GetEntry(annot, "NM"))
          continue;
        SetEntry(annot, "NM", file.NewString(NewGuid(), 0));
        Touch(annot);
      }
    }
  }
  Touch(field);
  Touch(catalog);
}

// --- patching the written update ------------------------------------------------------------

void TOvPDFDocument::InsertActualSignatureInformation() {
  TOvPDFSignature* entry = nullptr;
  for (const auto& e : signatures_) {
    if (!e->Written && !e->EmptyField) {
      entry = e.get();
      break;
    }
  }
  if (!entry) return;
  TOvPDFSecurityHandler* handler = entry->Handler();
  if (!handler) throw EOvPDFDocumentError("Security handler is not assigned");
  if (!entry->ContentsObject || !entry->ByteRangeObject) {
    InternalError("OvPDFDocument.InsertActualSignatureInformation.1");
  }
  TOvStream& out = *working_;
  auto patch = [&out](int64_t offset, const std::string& text) {
    const TCvPositionGuard keep(out);
    out.SetPosition(offset);
    out.Write(text);
  };

  if (entry->SignatureType == stMDP) {
    auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(entry->FieldDictionary, "V"));
    TOvPDFArray* refs = value ? GetArrayEntry(value, "Reference", false) : nullptr;
    if (refs && refs->ItemCount() == 2) {
      TOvPDFSigRefEntry work;
      work.DigestMethod = entry->ReferenceDigestMethod;
      work.Fields = {entry->SignatureName};
      work.P = PermissionsOf(entry->AllowedChanges);
      for (size_t k = 0; k < 2; ++k) {
        work.TransformMethod = k == 0 ? 0 : 3;
        const ByteString digest = ComputeTransformDigest(handler, *entry, work);
        auto* ref = dynamic_cast<TOvPDFDictionary*>(refs->GetItem(k));
        if (!ref) continue;
        const std::string text = "<" + sigimpl::Hex(digest) + ">";
        auto* digestValue = dynamic_cast<TOvPDFString*>(GetEntry(ref, "DigestValue"));
        if (digestValue) {
          if (static_cast<int64_t>(text.size()) > digestValue->WriteLength()) {
            InternalError("OvPDFDocument.InsertActualSignatureInformation.4");
          }
          std::string padded = text;
          padded.resize(static_cast<size_t>(digestValue->WriteLength()), ' ');
          patch(AbsoluteWriteOffset(digestValue), padded);
        }
        auto* location = dynamic_cast<TOvPDFArray*>(GetEntry(ref, "DigestLocation"));
        if (location && digestValue) {
          const std::string where = "[" + std::to_string(AbsoluteWriteOffset(digestValue)) + " " +
                                    std::to_string(text.size()) + "]";
          const auto room =
              location->WriteLength() + static_cast<int64_t>(location->TrailingSpace.size());
          if (static_cast<int64_t>(where.size()) > room) {
            InternalError("OvPDFDocument.InsertActualSignatureInformation.4");
          }
          std::string padded = where;
          if (static_cast<int64_t>(padded.size()) < location->WriteLength())
            padded.resize(static_cast<size_t>(location->WriteLength()), ' ');
          patch(AbsoluteWriteOffset(location), padded);
        }
      }
    }
  }

  TOvPDFString* contents = entry->ContentsObject;
  const int64_t c = AbsoluteWriteOffset(contents);
  const int64_t l = contents->WriteLength();
  const int64_t s = out.Size();
  if (entry->ByteRangeObject->WriteLength() != 46) {
    InternalError("OvPDFDocument.InsertActualSignatureInformation.1");
  }
  std::string rangeText = "[0 " + std::to_string(c) + " " + std::to_string(c + l) + " " +
                          std::to_string(s - c - l) + "]";
  if (rangeText.size() > 46) InternalError("OvPDFDocument.InsertActualSignatureInformation.1");
  rangeText.resize(46, ' ');
  patch(AbsoluteWriteOffset(entry->ByteRangeObject), rangeText);
  entry->ByteRanges = {TOvPDFByteRange{0, c}, TOvPDFByteRange{c + l, s - c - l}};

  handler->BeginSigning(file_.get());
  handler->HashInit();
  {
    const TCvPositionGuard keep(out);
    std::string chunk(kHashChunk, '\0');
    for (const TOvPDFByteRange& range : entry->ByteRanges) {
      out.SetPosition(range.Offset);
      int64_t left = range.Length;
      while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(left, kHashChunk));
        const size_t got = out.Read(chunk.data(), want);
        // Signing fewer bytes than /ByteRange declares would give a value
        // that no verifier accepts, reported as success.
        if (got == 0) throw EOvPDFDocumentError("Cannot read the signed byte ranges");
        if (!handler->HashUpdate(std::string_view(chunk.data(), got))) {
          throw EOvPDFDocumentError("The security handler failed to hash the signed byte ranges");
        }
        left -= static_cast<int64_t>(got);
      }
    }
  }
  const ByteString digest = handler->HashFinal();
  const ByteString signature = handler->SignDigest(digest);
  const int64_t n = (l - 2) / 2;
  if (static_cast<int64_t>(signature.size()) > n) {
    InternalError("OvPDFDocument.InsertActualSignatureInformation.2");
  }
  std::string padded = signature;
  padded.resize(static_cast<size_t>(n), '\0');
  const std::string text = "<" + sigimpl::Hex(padded) + ">";
  if (static_cast<int64_t>(text.size()) != l) {
    InternalError("OvPDFDocument.InsertActualSignatureInformation.3");
  }
  patch(c, text);
}

}  // namespace corvane
