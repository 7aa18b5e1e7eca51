// Reading the signatures a document already holds, when it is opened.
#include <limits>
#include <random>
#include <unordered_set>

#include "platform/PlatformSystem.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"
#include "toolkit/pdf/CvPDF_SignaturePlacement.h"

namespace corvane {

namespace {

[[noreturn]] void InvalidSignature() { throw EOvPDFDocumentError("Invalid signature information"); }

uint8_t TransformMethodOf(const std::string& name) {
  if (name == "DocMDP") return 0;
  if (name == "UR") return 1;
  if (name == "UR3") return 2;
  if (name == "FieldMDP") return 3;
  if (name == "Identity") return 4;
  return 6;
}

// A field's own entry, or its nearest ancestor's (bounded, cycles stop it).
TOvPDFObject* InheritedEntry(TOvPDFDictionary* field, std::string_view key) {
  std::unordered_set<TOvPDFDictionary*> seen;
  for (int depth = 0; field && depth <= PDF_MAX_TREE_DEPTH && seen.insert(field).second; ++depth) {
    if (TOvPDFObject* value = GetResolvedEntry(field, key)) return value;
    field = GetDictEntry(field, "Parent", false);
  }
  return nullptr;
}

std::string TextEntry(TOvPDFDictionary* dict, std::string_view key) {
  auto* text = dynamic_cast<TOvPDFString*>(GetResolvedEntry(dict, key));
  return text ? DecodeTextString(text->GetText()) : std::string();
}

}  // namespace

namespace {

// /TransformParams of a DocMDP or FieldMDP reference.
void ReadTransformParams(TOvPDFDictionary* params, TOvPDFSigRefEntry& entry) {
  if (entry.TransformMethod == 0) {
    entry.P = GetIntEntry(params, "P", 2, false);
    entry.V = GetNameEntry(params, "V", "1.2", false);
    return;
  }
  if (entry.TransformMethod != 3) return;
  std::string action;
  try {
    action = GetNameEntry(params, "Action", "", true);
  } catch (const EOvPDFSilentError&) {
    InvalidSignature();
  }
  entry.Action = action == "All" ? 0 : action == "Include" ? 1 : action == "Exclude" ? 2 : 3;
  if (TOvPDFArray* fields = GetArrayEntry(params, "Fields", false)) {
    for (const auto& name : fields->Items()) {
      if (auto* text = dynamic_cast<TOvPDFString*>(ResolveValue(name.Object)))
        entry.Fields.push_back(DecodeTextString(text->GetText()));
    }
  }
}

// One dictionary of /Reference.
TOvPDFSigRefEntry ReadReference(TOvPDFDictionary* ref) {
  TOvPDFSigRefEntry entry;
  std::string method;
  try {
    method = GetNameEntry(ref, "TransformMethod", "", true);
  } catch (const EOvPDFSilentError&) {
    InvalidSignature();
  }
  entry.TransformMethod = TransformMethodOf(method);
  const std::string digest = GetNameEntry(ref, "DigestMethod", "MD5", false);
  entry.DigestMethod = digest == "MD5" ? 0 : digest == "SHA1" ? 1 : 2;
  entry.DigestValue = GetStringEntry(ref, "DigestValue", false);
  entry.Data = GetEntry(ref, "Data");
  if (entry.TransformMethod == 0 || entry.TransformMethod == 3) {
    if (TOvPDFArray* location = GetArrayEntry(ref, "DigestLocation", false)) {
      auto* offset = dynamic_cast<TOvPDFReal*>(location->GetItem(0));
      auto* length = dynamic_cast<TOvPDFReal*>(location->GetItem(1));
      if (location->ItemCount() != 2 || !offset || !length) InvalidSignature();
      entry.DigestLocationOffset = offset->AsInt64();
      entry.DigestLocationLength = length->AsInt64();
    }
  }
  if (TOvPDFDictionary* params = GetDictEntry(ref, "TransformParams", false)) {
    ReadTransformParams(params, entry);
  }
  return entry;
}

// The kind of signature its first transform reference names.
TCvPDFSignatureType SignatureTypeOf(const std::vector<TOvPDFSigRefEntry>& references) {
  if (references.empty()) return stDocument;
  switch (references.front().TransformMethod) {
    case 0:
    case 3:
      return stMDP;
    case 1:
    case 2:
      return stUsageRights;
    case 4:
      return stIdentity;
    default:
      return stUnknown;
  }
}

// /ByteRange: pairs of integers. A last number without its pair is left out
// here: the signature is still listed, and its shape check refuses it.
std::vector<TOvPDFByteRange> ReadByteRanges(TOvPDFArray* byteRange) {
  std::vector<TOvPDFByteRange> ranges;
  for (size_t i = 0; i + 1 < byteRange->ItemCount(); i += 2) {
    auto* offset = dynamic_cast<TOvPDFReal*>(ResolveValue(byteRange->GetItem(i)));
    auto* length = dynamic_cast<TOvPDFReal*>(ResolveValue(byteRange->GetItem(i + 1)));
    if (!offset || !length || !offset->IsInteger() || !length->IsInteger()) InvalidSignature();
    ranges.push_back(TOvPDFByteRange{offset->AsInt64(), length->AsInt64()});
  }
  return ranges;
}

// Visibility, page and rectangle of a read entry, from its widget.
void ReadWidget(TOvPDFDocument& document, TOvPDFSignature& entry, TOvPDFDictionary* widget) {
  entry.SetInvisible(!widget || !GetEntry(widget, "AP"));
  entry.SetPage(0);
  if (!widget) return;
  auto* pageDict = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(widget, "P"));
  const int64_t index = document.IndexOfPage(pageDict);
  if (index >= 0 && index <= std::numeric_limits<int32_t>::max())
    entry.SetPage(static_cast<int32_t>(index));
  TOvPDFArray* rect = GetArrayEntry(widget, "Rect", false);
  if (!rect || rect->ItemCount() != 4) return;
  int32_t v4[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    auto* number = dynamic_cast<TOvPDFReal*>(ResolveValue(rect->GetItem(i)));
    if (!number || !number->IsInteger()) return;
    v4[i] = number->AsInt();
  }
  TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  props.OffsetX = v4[0];
  props.OffsetY = v4[1];
  props.Width = static_cast<int32_t>(static_cast<int64_t>(v4[2]) - v4[0]);
  props.Height = static_cast<int32_t>(static_cast<int64_t>(v4[3]) - v4[1]);
  props.AutoSize = props.AutoPos = false;
  if (props.Width == 0 || props.Height == 0) entry.SetInvisible(true);
}

}  // namespace

void TOvPDFSignature::LoadFromDictionary(TOvPDFDictionary* value) {
  if (!value) InvalidSignature();
  try {
    GetNameEntry(value, "Filter", "", true);
  } catch (const EOvPDFSilentError&) {
    InvalidSignature();
  }
  const std::string subFilter = GetNameEntry(value, "SubFilter", "", false);
  if (!dynamic_cast<TOvPDFString*>(GetResolvedEntry(value, "Contents"))) InvalidSignature();
  if (subFilter == "adbe.x509.rsa_sha1" && !GetEntry(value, "Cert")) InvalidSignature();
  TOvPDFArray* byteRange = GetArrayEntry(value, "ByteRange", false);
  if (!byteRange || dynamic_cast<TOvPDFDictionary*>(byteRange)) InvalidSignature();

  std::vector<TOvPDFSigRefEntry> references;
  if (TOvPDFArray* refs = GetArrayEntry(value, "Reference", false)) {
    for (const auto& item : refs->Items()) {
      auto* ref = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
      if (!ref) InvalidSignature();
      references.push_back(ReadReference(ref));
      referenceDigestMethod_ = references.back().DigestMethod;
    }
  }
  signatureType_ = SignatureTypeOf(references);
  references_ = std::move(references);
  authorName_ = TextEntry(value, "Name");
  contactInfo_ = TextEntry(value, "ContactInfo");
  location_ = TextEntry(value, "Location");
  reason_ = TextEntry(value, "Reason");
  signingTime_ = PdfDateFromString(GetStringEntry(value, "M", false));
  byteRanges_ = ReadByteRanges(byteRange);
}

void TOvPDFDocument::ReadSignatures() {
  signatures_.clear();
  emptySignatureFields_.clear();
  readHandlers_.clear();
  TOvPDFDictionary* catalog = nullptr;
  try {
    catalog = Catalog();
  } catch (const EOvPDFError&) {
    return;
  }
  if (!catalog) return;
  std::unordered_set<TOvPDFDictionary*> held;

  if (TOvPDFDictionary* perms = GetDictEntry(catalog, "Perms", false)) {
    if (TOvPDFDictionary* ur3 = GetDictEntry(perms, "UR3", false)) {
      auto entry = std::make_unique<TOvPDFSignature>(this);
      try {
        entry->LoadFromDictionary(ur3);
        uint32_t random = 0;
        platform::SystemRandomBytes(&random, sizeof random);
        entry->SetSignatureName("UsageRightsSignature-" + std::to_string(random % 1000000000u));
        entry->written_ = true;
        entry->SetFieldDictionary(catalog);
        BindReadSignatureHandler(*entry, ur3);
        held.insert(ur3);
        signatures_.push_back(std::move(entry));
      } catch (const EOvPDFError&) {
        // A usage-rights entry that cannot be read is left out.
      }
    }
  }

  TOvPDFDictionary* form = GetDictEntry(catalog, "AcroForm", false);
  TOvPDFArray* fields = form ? GetArrayEntry(form, "Fields", false) : nullptr;
  if (!fields) return;
  // The field tree, each node once, kids in place of their parent, bounded.
  std::vector<std::pair<TOvPDFDictionary*, int>> pending;
  for (auto it = fields->Items().rbegin(); it != fields->Items().rend(); ++it) {
    if (auto* field = dynamic_cast<TOvPDFDictionary*>(ResolveValue(it->Object)))
      pending.emplace_back(field, 0);
  }
  std::unordered_set<TOvPDFDictionary*> visited;
  while (!pending.empty()) {
    auto [field, depth] = pending.back();
    pending.pop_back();
    if (depth > PDF_MAX_TREE_DEPTH || !visited.insert(field).second) continue;
    if (TOvPDFArray* kids = GetArrayEntry(field, "Kids", false)) {
      for (auto it = kids->Items().rbegin(); it != kids->Items().rend(); ++it) {
        if (auto* kid = dynamic_cast<TOvPDFDictionary*>(ResolveValue(it->Object)))
          pending.emplace_back(kid, depth + 1);
      }
    }
    // Every field name is taken, so a new "SignatureN" never collides
    // with a text field of that name.
    const std::string name = TextEntry(field, "T");
    if (GetEntry(field, "T")) usedFieldNames_.push_back(name);
    auto* type = dynamic_cast<TOvPDFName*>(InheritedEntry(field, "FT"));
    if (!type || !SameTextAscii(type->GetName(), "sig")) continue;
    if (!GetEntry(field, "T") && !GetEntry(field, "V")) continue;  // a bare widget kid
    TOvPDFObject* v = GetEntry(field, "V");
    if (!v) {
      TOvPDFSignatureInfo info;
      info.FieldName = name;
      info.MappingName = TextEntry(field, "TM");
      info.AlternateName = TextEntry(field, "TU");
      info.Field = field;
      emptySignatureFields_.push_back(std::move(info));
      continue;
    }
    auto* value =
        dynamic_cast<TOvPDFRef*>(v) ? dynamic_cast<TOvPDFDictionary*>(ResolveValue(v)) : nullptr;
    if (!value || held.count(value)) continue;
    auto entry = std::make_unique<TOvPDFSignature>(this);
    try {
      entry->LoadFromDictionary(value);
    } catch (const EOvPDFError&) {
      continue;  // a signature that cannot be read is skipped
    }
    entry->written_ = true;
    entry->SetSignatureName(name);
    ReadWidget(*this, *entry, SignatureFieldWidget(field));
    entry->SetFieldDictionary(value);
    BindReadSignatureHandler(*entry, value);
    held.insert(value);
    signatures_.push_back(std::move(entry));
  }
}

void TOvPDFDocument::BindReadSignatureHandler(TOvPDFSignature& entry, TOvPDFDictionary* value) {
  if (!activateSecurityHandlers_) return;
  try {
    std::unique_ptr<TOvPDFSecurityHandler> handler = CreateSigningHandler(
        GetNameEntry(value, "Filter", "", false), GetNameEntry(value, "SubFilter", "", false));
    handler->SetDocument(this);
    handler->LoadSignatureInfo(value);
    entry.SetHandler(handler.get());
    readHandlers_.push_back(std::move(handler));
  } catch (const ECorvaneError&) {
    // Read without a handler: it cannot be verified, but it is kept.
  }
}

}  // namespace corvane
