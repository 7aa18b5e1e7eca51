// Where a new signature's widget goes: its page, the widget entries of the
// field, and the page annotations that list it. The appearance itself is
// written by CvPDF_Widget.cpp.
#include <algorithm>
#include <stdexcept>
#include <unordered_set>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane::sigimpl {

namespace {

// The entry's page, read no further than needed; a page past the end of
// the tree means the last one. The entry's Page is set to the page taken.
TOvPDFDictionary* TargetPage(TOvPDFDocument& document, TOvPDFSignature& entry) {
  size_t index = static_cast<size_t>(std::max(entry.Page(), 0));
  TOvPDFPageInfo info;
  try {
    info = document.PageInfo(index);
  } catch (const std::out_of_range&) {
    const std::vector<TOvPDFPageInfo>& pages = document.Pages();
    if (pages.empty()) throw EOvPDFDocumentError("Invalid document (no pages)");
    index = pages.size() - 1;
    info = pages.back();
  }
  entry.SetPage(static_cast<int32_t>(index));
  return info.Dictionary();
}

// Pages that share one /Annots array with the target each get their own
// copy first, so the widget lands on the target page only.
void UnshareAnnots(TOvPDFDocument& document, TOvPDFDictionary* page) {
  auto* shared = dynamic_cast<TOvPDFRef*>(GetEntry(page, "Annots"));
  if (!shared) return;
  auto* array = dynamic_cast<TOvPDFArray*>(ResolveValue(shared));
  for (const TOvPDFPageInfo& other : document.Pages()) {
    if (!array || other.Is(page)) continue;
    TOvPDFDictionary* otherPage = other.Dictionary();
    auto* ref = dynamic_cast<TOvPDFRef*>(GetEntry(otherPage, "Annots"));
    if (!ref || ref->Number != shared->Number || ref->Generation != shared->Generation) continue;
    SetEntry(otherPage, "Annots", NewIndirectRef(document, array->Clone()));
    Touch(otherPage);
  }
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
  TOvPDFArray* annots = NewFlatArray(document.File());
  SetEntry(page, "Annots", NewIndirectRef(document, annots));
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

// The field joins the annotations of its page (of every page, with
// ShowOnAllPages), once per array.
void ListOnPages(TOvPDFDocument& document, TCvPendingSignature& pending, TOvPDFDictionary* page) {
  std::vector<TOvPDFDictionary*> targets{page};
  if (pending.Entry->WidgetProps().ShowOnAllPages) {
    for (const TOvPDFPageInfo& other : document.Pages()) {
      if (!other.Is(page)) targets.push_back(other.Dictionary());
    }
  }
  TOvPDFIndirect* fieldObject = pending.FieldObject;
  std::unordered_set<TOvPDFArray*> done;
  for (TOvPDFDictionary* target : targets) {
    TOvPDFArray* annots = PageAnnots(document, target);
    if (!done.insert(annots).second) continue;
    if (!ArrayHoldsRefTo(annots, fieldObject)) {
      AppendToArray(annots, document.MakeRef(fieldObject->Number, fieldObject->Generation));
    }
    Touch(annots);
    Touch(target);
  }
}

// /Type, /Subtype, /F and /P of the widget.
void WriteWidgetEntries(TOvPDFDocument& document, TCvPendingSignature& pending,
                        TOvPDFIndirect* pageObject) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* field = pending.Field;
  SetEntry(field, "Type", file.NewName("Annot"));
  SetEntry(field, "Subtype", file.NewName("Widget"));
  if (!pending.AfterCertification) {
    SetEntry(field, "F", file.NewInt(pending.Entry->WidgetProps().Flags()));
  } else if (pending.NewField) {
    SetEntry(field, "F", file.NewInt(128));
  }
  SetEntry(field, "P", document.MakeRef(pageObject->Number, pageObject->Generation));
}

// The rectangle and appearance of a visible widget, and its page listing.
void PlaceVisibleWidget(TOvPDFDocument& document, TCvPendingSignature& pending,
                        TOvPDFDictionary* page) {
  TOvPDFFile& file = document.File();
  TOvPDFSignature& entry = *pending.Entry;
  TOvPDFDictionary* field = pending.Field;
  const TCvWidgetRect rect = ComputeWidgetRect(entry.WidgetProps(), page);
  WriteWidgetAppearance(document, entry, field, rect);
  if (pending.NewField) {
    SetEntry(field, "DA", file.NewString("/Helv 0 Tf 0 g", 0));
    if (!GetEntry(field, "MK")) SetEntry(field, "MK", file.NewDictionary());
  }
  if (!(entry.ExistingField() && entry.WidgetProps().AutoPos)) {
    SetEntry(field, "Rect",
             NewNumberArray(file, {static_cast<double>(rect.X1), static_cast<double>(rect.Y1),
                                   static_cast<double>(rect.X2), static_cast<double>(rect.Y2)}));
  }
  if (pending.NewField && pending.FieldObject) ListOnPages(document, pending, page);
}

}  // namespace

void PlaceWidget(TOvPDFDocument& document, TCvPendingSignature& pending) {
  TOvPDFSignature& entry = *pending.Entry;
  const TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  TOvPDFDictionary* page = TargetPage(document, entry);
  TOvPDFIndirect* pageObject = HolderOf(page);
  if (!(props.ShowOnAllPages && entry.SignatureType() != stMDP) && pageObject) {
    UnshareAnnots(document, page);
  }
  if (!pageObject || !(pending.NewField || props.UpdateExistingWidget)) return;
  WriteWidgetEntries(document, pending, pageObject);
  if (entry.Invisible()) {
    SetEntry(pending.Field, "Rect", NewNumberArray(document.File(), {0, 0, 0, 0}));
  } else {
    PlaceVisibleWidget(document, pending, page);
  }
  Touch(page);
}

}  // namespace corvane::sigimpl
