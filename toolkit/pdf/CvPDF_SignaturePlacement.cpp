// Where a new signature's widget goes: its page, the widget entries of the
// field, and the page annotations that list it. The appearance itself is
// written by CvPDF_Widget.cpp.
#include "toolkit/pdf/CvPDF_SignaturePlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

namespace {

// Four numbers of an array, or false.
bool FourNumbers(TOvPDFArray* array, double out[4]) {
  if (!array || array->ItemCount() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    auto* number = dynamic_cast<TOvPDFReal*>(ResolveValue(array->GetItem(i)));
    if (!number) return false;
    out[i] = number->GetValue();
    if (number->Invalid || !std::isfinite(out[i])) return false;
  }
  return true;
}

// The inheritable box of a page, looked up through /Parent, bounded.
TOvPDFArray* InheritedBox(TOvPDFDictionary* page, const char* key) {
  std::unordered_set<TOvPDFDictionary*> seen;
  TOvPDFDictionary* node = page;
  for (int depth = 0; node && depth <= PDF_MAX_TREE_DEPTH && seen.insert(node).second; ++depth) {
    if (TOvPDFArray* box = GetArrayEntry(node, key, false)) return box;
    node = GetDictEntry(node, "Parent", false);
  }
  return nullptr;
}

// The page the widget shows on: its /P, else the first page whose
// /Annots lists it; -1 when neither tells.
int64_t WidgetPage(TOvPDFDocument& document, TOvPDFDictionary* widget) {
  auto* pageDict = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(widget, "P"));
  if (pageDict) {
    const int64_t index = document.IndexOfPage(pageDict);
    if (index >= 0) return index;
  }
  const std::vector<TOvPDFPageInfo>& pages = document.Pages();
  for (size_t i = 0; i < pages.size(); ++i) {
    TOvPDFArray* annots = GetArrayEntry(pages[i].Dictionary(), "Annots", false);
    if (!annots) continue;
    for (const auto& item : annots->Items()) {
      if (ResolveValue(item.Object) == widget) return static_cast<int64_t>(i);
    }
  }
  return -1;
}

int32_t RoundedExtent(double from, double to) {
  const double extent = std::round(std::fabs(to - from));
  return extent > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(extent);
}

}  // namespace

bool PageBoxOf(TOvPDFDictionary* page, TCvPageBox& box) {
  double v[4];
  if (!FourNumbers(InheritedBox(page, "CropBox"), v) &&
      !FourNumbers(InheritedBox(page, "MediaBox"), v))
    return false;
  box.X1 = std::min(v[0], v[2]);
  box.X2 = std::max(v[0], v[2]);
  box.Y1 = std::min(v[1], v[3]);
  box.Y2 = std::max(v[1], v[3]);
  return true;
}

TOvPDFDictionary* SignatureFieldWidget(TOvPDFDictionary* field) {
  if (!field) return nullptr;
  if (GetNameEntry(field, "Subtype", "", false) == "Widget") return field;
  if (TOvPDFArray* kids = GetArrayEntry(field, "Kids", false)) {
    for (const auto& item : kids->Items()) {
      auto* kid = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
      if (kid && GetNameEntry(kid, "Subtype", "", false) == "Widget") return kid;
    }
  }
  return nullptr;
}

void UseEmptySignatureField(TOvPDFDocument& document, TOvPDFSignature& entry,
                            const TOvPDFSignatureInfo& field) {
  entry.SetFieldDictionary(field.Field);
  entry.SetExistingField(true);
  entry.SetSignatureName(field.FieldName);
  TOvPDFDictionary* widget = SignatureFieldWidget(field.Field);
  if (!widget) return;
  const int64_t page = WidgetPage(document, widget);
  if (page >= 0 && page <= std::numeric_limits<int32_t>::max())
    entry.SetPage(static_cast<int32_t>(page));
  double rect[4];
  if (entry.Invisible() || page < 0 || !FourNumbers(GetArrayEntry(widget, "Rect", false), rect))
    return;
  TOvPDFSignatureWidgetProps& props = entry.WidgetProps();
  const int32_t width = RoundedExtent(rect[0], rect[2]);
  const int32_t height = RoundedExtent(rect[1], rect[3]);
  if (width == 0 || height == 0) return;
  // The appearance is drawn for the widget's size; with AutoPos on an
  // existing field its /Rect is kept exactly as the form's author set it.
  props.AutoSize = false;
  props.Width = width;
  props.Height = height;
  props.AutoPos = true;
  props.UpdateExistingWidget = true;
}

}  // namespace corvane

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

// An existing field's widget that its page does not list yet would never
// show: it joins the page's annotations.
void ListExistingWidget(TOvPDFDocument& document, TCvPendingSignature& pending,
                        TOvPDFDictionary* page) {
  TOvPDFIndirect* widgetObject = HolderOf(pending.Widget);
  if (!widgetObject || widgetObject->Value != pending.Widget) return;
  TOvPDFArray* annots = PageAnnots(document, page);
  if (ArrayHoldsRefTo(annots, widgetObject)) return;
  AppendToArray(annots, document.MakeRef(widgetObject->Number, widgetObject->Generation));
  Touch(annots);
}

// /Type, /Subtype, /F and /P of the widget.
void WriteWidgetEntries(TOvPDFDocument& document, TCvPendingSignature& pending,
                        TOvPDFIndirect* pageObject) {
  TOvPDFFile& file = document.File();
  TOvPDFDictionary* widget = pending.Widget;
  SetEntry(widget, "Type", file.NewName("Annot"));
  SetEntry(widget, "Subtype", file.NewName("Widget"));
  if (!pending.AfterCertification) {
    SetEntry(widget, "F", file.NewInt(pending.Entry->WidgetProps().Flags()));
  } else if (pending.NewField) {
    SetEntry(widget, "F", file.NewInt(128));
  }
  SetEntry(widget, "P", document.MakeRef(pageObject->Number, pageObject->Generation));
}

// The rectangle and appearance of a visible widget, and its page listing.
void PlaceVisibleWidget(TOvPDFDocument& document, TCvPendingSignature& pending,
                        TOvPDFDictionary* page) {
  TOvPDFFile& file = document.File();
  TOvPDFSignature& entry = *pending.Entry;
  TOvPDFDictionary* widget = pending.Widget;
  const TCvWidgetRect rect = ComputeWidgetRect(entry.WidgetProps(), page);
  WriteWidgetAppearance(document, entry, widget, rect);
  if (pending.NewField) {
    SetEntry(widget, "DA", file.NewString("/Helv 0 Tf 0 g", 0));
    if (!GetEntry(widget, "MK")) SetEntry(widget, "MK", file.NewDictionary());
  }
  if (!(entry.ExistingField() && entry.WidgetProps().AutoPos)) {
    SetEntry(widget, "Rect",
             NewNumberArray(file, {static_cast<double>(rect.X1), static_cast<double>(rect.Y1),
                                   static_cast<double>(rect.X2), static_cast<double>(rect.Y2)}));
  }
  if (pending.NewField && pending.FieldObject) {
    ListOnPages(document, pending, page);
  } else if (!pending.NewField) {
    ListExistingWidget(document, pending, page);
  }
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
  if (!pending.NewField) Touch(pending.Widget);
  WriteWidgetEntries(document, pending, pageObject);
  if (entry.Invisible()) {
    SetEntry(pending.Widget, "Rect", NewNumberArray(document.File(), {0, 0, 0, 0}));
  } else {
    PlaceVisibleWidget(document, pending, page);
  }
  Touch(page);
}

}  // namespace corvane::sigimpl
