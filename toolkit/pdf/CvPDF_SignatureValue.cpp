// The value of a new signature: its dictionary with the reserved
// placeholders, and for a certifying signature the MDP references, the
// catalog's /Perms and the names of the annotations; after the update is
// written, the object digests into those references. Also the preparation a
// certification needs before anything is written.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <unordered_set>

#include "platform/PlatformSystem.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

namespace {

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
#ifdef _WIN32
  // No tm_gmtoff: the local digits read as UTC, less the instant itself.
  std::tm asUtc = tm;
  const long offset = static_cast<long>(_mkgmtime(&asUtc) - instant) / 60;
#else
  const long offset = tm.tm_gmtoff / 60;
#endif
  if (offset == 0) return std::string(text) + "Z00'00'";
  const long magnitude = offset < 0 ? -offset : offset;
  char zone[32];
  std::snprintf(zone, sizeof zone, "%c%02ld'%02ld'", offset < 0 ? '-' : '+', magnitude / 60 % 24,
                magnitude % 60);
  return std::string(text) + zone;
}

// 16 random bytes as a braced GUID.
std::string NewGuid() {
  unsigned char bytes[16] = {};
  platform::SystemRandomBytes(bytes, sizeof bytes);
  const std::string hex =
      sigimpl::Hex(std::string_view(reinterpret_cast<char*>(bytes), sizeof bytes));
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12) + "}";
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

// /Name, /M, /Location, /Reason and /ContactInfo of the value.
void WriteTexts(TOvPDFDocument& document, const TOvPDFSignature& entry, TOvPDFDictionary* value) {
  TOvPDFFile& file = document.File();
  const bool hex = entry.HexTextStrings();
  SetEntry(value, "Name",
           sigimpl::TextString(
               file, entry.AuthorName().empty() ? "Not specified" : entry.AuthorName(), hex));
  const bool local = (document.Options() & PDF_OPTION_USE_LOCAL_TIME_ZONE) != 0;
  SetEntry(value, "M", file.NewString(SigningDate(entry.SigningTime(), local), 0));
  if (!entry.Location().empty())
    SetEntry(value, "Location", sigimpl::TextString(file, entry.Location(), hex));
  if (!entry.Reason().empty())
    SetEntry(value, "Reason", sigimpl::TextString(file, entry.Reason(), hex));
  if (!entry.ContactInfo().empty())
    SetEntry(value, "ContactInfo", sigimpl::TextString(file, entry.ContactInfo(), hex));
}

// /TransformParams of the DocMDP reference (direct) or of the FieldMDP one
// (a new object).
TOvPDFObject* NewTransformParams(TOvPDFDocument& document, const TOvPDFSignature& entry,
                                 bool fieldMDP) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* params = file.NewDictionary();
  if (!fieldMDP) {
    AddIntEntry(params, "P", sigimpl::PermissionsOf(entry.AllowedChanges()));
    AddNameEntry(params, "V", "1.2");
    AddNameEntry(params, "Type", "TransformParams");
    return params;
  }
  params->AddEntry("Fields", sigimpl::NewNameList(file, entry.SignatureName()));
  AddNameEntry(params, "V", "1.2");
  AddNameEntry(params, "Action", "Include");
  AddNameEntry(params, "Type", "TransformParams");
  return sigimpl::NewIndirectRef(document, params);
}

// One MDP reference, its digest and location placeholders wide enough for
// the digest and its offset.
TOvPDFDictionary* NewReference(TOvPDFDocument& document, sigimpl::TCvPendingSignature& pending,
                               bool fieldMDP) {
  TOvPDFFile& file = document.File();
  const bool sha1 = pending.Entry->ReferenceDigestMethod() == 1;
  TOvPDFDictionary* ref = file.NewDictionary();
  ref->AddEntry("TransformParams", NewTransformParams(document, *pending.Entry, fieldMDP));
  TOvPDFArray* location = sigimpl::NewNumberArray(file, {0, 0});
  location->TrailingSpace.assign(20, ' ');
  ref->AddEntry("DigestLocation", location);
  TOvPDFString* digest = file.NewString("", 1);
  digest->Data = "<" + std::string(sha1 ? 40 : 32, ' ') + ">";
  ref->AddEntry("DigestValue", digest);
  AddNameEntry(ref, "DigestMethod", sha1 ? "SHA1" : "MD5");
  const TOvPDFIndirect* catalog = pending.CatalogObject;
  ref->AddEntry("Data", document.MakeRef(catalog->Number, catalog->Generation));
  AddNameEntry(ref, "TransformMethod", fieldMDP ? "FieldMDP" : "DocMDP");
  AddNameEntry(ref, "Type", "SigRef");
  return ref;
}

// The catalog's /Perms names the certification; every annotation gets a
// name, so the certification's digest can order them.
void RegisterCertification(TOvPDFDocument& document, sigimpl::TCvPendingSignature& pending,
                           TOvPDFRef* valueRef) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* perms = GetDictEntry(pending.Catalog, "Perms", false);
  if (!perms) {
    perms = file.NewDictionary();
    SetEntry(pending.Catalog, "Perms", perms);
  }
  SetEntry(perms, "DocMDP", document.MakeRef(valueRef->Number, valueRef->Generation));
  sigimpl::Touch(perms);
  for (const TOvPDFPageInfo& info : document.Pages()) {
    // Most pages have no annotations: those are only looked at.
    if (!document.PageHasAnnots(info)) continue;
    TOvPDFArray* annots = GetArrayEntry(info.Dictionary(), "Annots", false);
    if (!annots) continue;
    for (const auto& item : annots->Items()) {
      auto* annot = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
      if (!annot || GetNameEntry(annot, "FT", "", false) == "Sig" || GetEntry(annot, "NM"))
        continue;
      SetEntry(annot, "NM", file.NewString(NewGuid(), 0));
      sigimpl::Touch(annot);
    }
  }
}

// Writes the digest over a reference's /DigestValue placeholder and its
// offset and length over /DigestLocation.
void PutDigest(TOvPDFDictionary* ref, const ByteString& digest, TOvStream& out) {
  const std::string text = "<" + sigimpl::Hex(digest) + ">";
  auto* digestValue = dynamic_cast<TOvPDFString*>(GetEntry(ref, "DigestValue"));
  if (!digestValue) return;
  if (static_cast<int64_t>(text.size()) > digestValue->WriteLength()) {
    sigimpl::InternalError("OvPDFDocument.InsertActualSignatureInformation.4");
  }
  std::string padded = text;
  padded.resize(static_cast<size_t>(digestValue->WriteLength()), ' ');
  sigimpl::PatchAt(out, AbsoluteWriteOffset(digestValue), padded);
  auto* location = dynamic_cast<TOvPDFArray*>(GetEntry(ref, "DigestLocation"));
  if (!location) return;
  std::string where = "[" + std::to_string(AbsoluteWriteOffset(digestValue)) + " " +
                      std::to_string(text.size()) + "]";
  // The location may run into the spaces written after its placeholder.
  const auto room = location->WriteLength() + static_cast<int64_t>(location->TrailingSpace.size());
  if (static_cast<int64_t>(where.size()) > room) {
    sigimpl::InternalError("OvPDFDocument.InsertActualSignatureInformation.5");
  }
  if (static_cast<int64_t>(where.size()) < location->WriteLength())
    where.resize(static_cast<size_t>(location->WriteLength()), ' ');
  sigimpl::PatchAt(out, AbsoluteWriteOffset(location), where);
}

}  // namespace

namespace sigimpl {

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

void CheckExistingCertification(const TOvPDFSignature* entry, TOvPDFDictionary* catalog) {
  const int32_t certified = CertificationPermissions(catalog);
  if (!entry || certified == 0) return;
  if (entry->SignatureType() == stMDP) throw EOvPDFError(kOnlyOneMDP);
  // Every level allows document timestamps (ISO 32000-2 12.8.2.2).
  const bool stamp = entry->Handler() && entry->Handler()->ValueType() == "DocTimeStamp";
  if (certified == 1 && !stamp)
    throw EOvPDFDocumentError("Document certification does not permit changes");
}

int32_t PermissionsOf(uint8_t allowed) {
  if (allowed & PDF_ALLOW_ANNOTATIONS) return 3;
  if (allowed & PDF_ALLOW_FORM_FILL) return 2;
  return 1;
}

void BuildValue(TOvPDFDocument& document, TCvPendingSignature& pending) {
  TOvPDFFile& file = document.File();
  TOvPDFSignature& entry = *pending.Entry;
  TOvPDFSecurityHandler* handler = entry.Handler();
  TOvPDFDictionary* value = file.NewDictionary();
  handler->SaveSignatureInfo(value);
  handler->WriteFilterName(value);
  const std::string type = handler->ValueType();
  SetEntry(value, "Type", file.NewName(type));
  pending.Placeholder.Reserve(file, value, handler->EstimateSignatureSize() + entry.ExtraSpace());
  // A document timestamp's time and authority are in its token.
  if (type == "Sig") WriteTexts(document, entry, value);
  const bool certify = entry.SignatureType() == stMDP;
  if (certify) {
    pending.References = NewFlatArray(file);
    pending.References->AddItem(NewReference(document, pending, false));
    pending.References->AddItem(NewReference(document, pending, true));
    SetEntry(value, "Reference", pending.References);
  }
  TOvPDFRef* valueRef = NewIndirectRef(document, value);
  SetEntry(pending.Field, "V", valueRef);
  // /V is inherited by a widget kid, but readers exist that take such a kid
  // for a field of its own and see it unsigned: the kid names the value too.
  if (pending.Widget && pending.Widget != pending.Field) {
    SetEntry(pending.Widget, "V", document.MakeRef(valueRef->Number, valueRef->Generation));
    Touch(pending.Widget);
  }
  pending.Value = value;
  if (certify) RegisterCertification(document, pending, valueRef);
}

void PatchReferenceDigests(TOvPDFSecurityHandler& handler, TCvPendingSignature& pending,
                           TOvStream& out) {
  TOvPDFSignature& entry = *pending.Entry;
  TOvPDFArray* refs = pending.References;
  if (entry.SignatureType() != stMDP || !refs || refs->ItemCount() != 2) return;
  TOvPDFSigRefEntry work;
  work.DigestMethod = entry.ReferenceDigestMethod();
  work.Fields = {entry.SignatureName()};
  work.P = PermissionsOf(entry.AllowedChanges());
  for (size_t k = 0; k < 2; ++k) {
    work.TransformMethod = k == 0 ? 0 : 3;
    const ByteString digest = ComputeTransformDigest(&handler, entry, work);
    if (auto* ref = dynamic_cast<TOvPDFDictionary*>(refs->GetItem(k))) PutDigest(ref, digest, out);
  }
}

}  // namespace sigimpl

void TOvPDFDocument::PrepareCertification() {
  TOvPDFSignature* first = FirstCertificationCandidate();
  if (!first || first->SignatureType() != stMDP || PendingSignatureCount() == 0) return;
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
    sigimpl::Touch(form);
    return;
  }
}

}  // namespace corvane
