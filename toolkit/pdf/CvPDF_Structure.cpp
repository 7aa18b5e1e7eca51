// Reading the document structure: linearization, pages (ISO 32000-1 7.7.3),
// requirements (12.10) and embedded files (7.11.4).
#include "toolkit/pdf/CvPDF.h"

#include <cmath>
#include <limits>
#include <unordered_set>

namespace corvane {

namespace {

[[noreturn]] void BadPageTree() { throw EOvPDFDocumentError("Invalid document (Bad page tree)"); }

int32_t Difference(TOvPDFObject* high, TOvPDFObject* low) {
  const int64_t value = static_cast<int64_t>(static_cast<TOvPDFReal*>(high)->AsInt()) -
                        static_cast<TOvPDFReal*>(low)->AsInt();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    throw EOvPDFParseError("Bad object");
  }
  return static_cast<int32_t>(value);
}

// The numbers of an array still held as text, read without making objects
// of them: a page's box is looked at once, when the page list is read, and a
// large document has one on every page. Each is taken as the parser would
// take it. False when the text holds anything but numbers.
bool NumbersOfUnreadArray(const TOvPDFArray* array, std::vector<std::string>& numbers) {
  if (!array->Unread() || dynamic_cast<const TOvPDFDictionary*>(array)) return false;
  const std::string_view text = array->Data.view();
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  numbers.clear();
  size_t i = 1;
  while (i + 1 < text.size()) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (IsPdfWhitespace(c)) {
      ++i;
      continue;
    }
    if (!(c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9'))) return false;
    const size_t start = i;
    while (i + 1 < text.size() && IsPdfRegular(static_cast<uint8_t>(text[i]))) ++i;
    numbers.emplace_back(text.substr(start, i - start));
  }
  return true;
}

// Width and height of a box: from its text when it is not read yet, else
// from its entries. False when it does not hold four numbers.
bool BoxSize(TOvPDFArray* box, std::vector<std::string>& text, int32_t& width, int32_t& height) {
  TOvPDFReal fromText[4] = {TOvPDFReal(nullptr), TOvPDFReal(nullptr), TOvPDFReal(nullptr),
                            TOvPDFReal(nullptr)};
  TOvPDFObject* numbers[4] = {};
  bool four = false;
  if (NumbersOfUnreadArray(box, text)) {
    four = text.size() == 4;
    for (size_t i = 0; four && i < 4; ++i) {
      fromText[i].SetData(text[i]);
      numbers[i] = &fromText[i];
    }
  } else if (box->ItemCount() == 4) {
    four = true;
    for (size_t i = 0; i < 4; ++i) {
      numbers[i] = box->GetItem(i);
      four = four && dynamic_cast<TOvPDFReal*>(numbers[i]);
    }
  }
  if (!four) return false;
  width = Difference(numbers[2], numbers[0]);
  height = Difference(numbers[3], numbers[1]);
  return true;
}

// What tells a page tree node met before: the file's reference to it, or
// the node itself when it is not an indirect object.
const void* VisitKey(TOvPDFObject* item, TOvPDFDictionary* node) {
  auto* ref = dynamic_cast<TOvPDFRef*>(item);
  TOvPDFRef* canonical = ref ? ref->FindCanonical() : nullptr;
  return canonical ? static_cast<const void*>(canonical) : node;
}

}  // namespace

void TOvPDFDocument::ReadStructure() {
  ReadLinearization();
  const auto* size = dynamic_cast<TOvPDFReal*>(GetEntry(file_->Trailer(), "Size"));
  int32_t next = 0;
  if (size && TryStrToInt32(size->Data, next)) {
    next = next > 0 ? next - 1 : 0;
  } else {
    next = 0;
  }
  nextObjectNumber_ = std::max(next, file_->MaxObjectNumber());
  numberingChecked_ = false;
  usedFieldNames_.clear();
  ReadPages();
  ReadRequirements();
  if (!file_->IsEncrypted()) ReadAttachments();
}

void TOvPDFDocument::ReadLinearization() {
  linearized_ = false;
  // The linearization dictionary is the first object in the file (ISO 32000-1
  // F.2), whatever its number.
  const TOvPDFXrefEntry* firstEntry = nullptr;
  for (const auto& [key, entry] : file_->XRefs()) {
    if (!entry.Compressed && entry.Offset > 0 &&
        (!firstEntry || entry.Offset < firstEntry->Offset)) {
      firstEntry = &entry;
    }
  }
  TOvPDFRef* ref =
      firstEntry ? file_->FindCanonical(firstEntry->Number, firstEntry->Generation) : nullptr;
  if (!ref) return;
  TOvPDFIndirect* first = ref->Resolve();
  auto* dict = first ? dynamic_cast<TOvPDFDictionary*>(first->Value) : nullptr;
  auto* flag = dict ? dynamic_cast<TOvPDFReal*>(GetEntry(dict, "Linearized")) : nullptr;
  if (!flag || std::floor(flag->GetValue() + 0.5) != 1) return;
  try {
    for (const char* key : {"L", "O", "E", "N", "T"}) GetInt64Entry(dict, key, 0, true);
    GetInt64Entry(dict, "P", 0, false);
    GetArrayEntry(dict, "H", true);
  } catch (const EOvPDFError&) {
    throw EOvPDFDocumentError("Invalid linearization dictionary");
  }
  linearized_ = true;
}

void TOvPDFDocument::ReadPages() {
  pages_.clear();
  pageWalk_ = {};
  TOvPDFDictionary* catalog = Catalog();
  TOvPDFDictionary* root = catalog ? GetDictEntry(catalog, "Pages", false) : nullptr;
  if (!root) return;
  EnterPageNode(root, VisitKey(GetEntry(catalog, "Pages"), root));
  ReadPagesUpTo(1);
}

void TOvPDFDocument::EnterPageNode(TOvPDFDictionary* node, const void* key) {
  if (!pageWalk_.visited.insert(key).second) return;
  if (GetNameEntry(node, "Type", "Pages", false) != "Pages") {
    pages_.push_back(ReadPageInfo(node));
    return;
  }
  if (pageWalk_.stack.size() >= static_cast<size_t>(PDF_MAX_TREE_DEPTH)) BadPageTree();
  if (TOvPDFArray* kids = GetArrayEntry(node, "Kids", false)) {
    pageWalk_.stack.push_back(TCvPageWalk::TFrame{kids, 0});
  }
}

void TOvPDFDocument::ReadPagesUpTo(size_t count) {
  TCvPageWalk& walk = pageWalk_;
  if (walk.failure && pages_.size() < count) std::rethrow_exception(walk.failure);
  try {
    // Depth first, in /Kids order.
    while (pages_.size() < count && !walk.stack.empty()) {
      TCvPageWalk::TFrame& frame = walk.stack.back();
      if (frame.next >= frame.kids->ItemCount()) {
        walk.stack.pop_back();
        continue;
      }
      TOvPDFObject* item = frame.kids->GetItem(frame.next++);
      auto* ref = dynamic_cast<TOvPDFRef*>(item);
      TOvPDFRef* canonical = ref ? ref->FindCanonical() : nullptr;
      if (canonical && !canonical->Resolved && PeekPage(canonical)) continue;
      TOvPDFObject* kid = ResolveValue(item);
      if (auto* node = dynamic_cast<TOvPDFDictionary*>(kid))
        EnterPageNode(node, VisitKey(item, node));
    }
  } catch (...) {
    walk.failure = std::current_exception();
    walk.stack.clear();
    throw;
  }
}

bool TOvPDFDocument::PeekPage(TOvPDFRef* canonical) {
  if (pageWalk_.visited.count(canonical)) return true;
  // What the look finds, read from direct values only: while peeking
  // nothing else can be loaded.
  bool plain = false;
  TOvPDFPageInfo info;
  int32_t parentNumber = -1;
  int32_t parentGeneration = 0;
  const auto look = [&](TOvPDFIndirect* object) {
    auto* page = object ? dynamic_cast<TOvPDFDictionary*>(object->Value) : nullptr;
    if (!page) return;
    auto* type = dynamic_cast<TOvPDFName*>(GetEntry(page, "Type"));
    TOvPDFObject* box = GetEntry(page, "MediaBox");
    TOvPDFObject* rotate = GetEntry(page, "Rotate");
    TOvPDFObject* parent = GetEntry(page, "Parent");
    info.annots_ = GetEntry(page, "Annots") != nullptr;
    if (!type || type->GetName() == "Pages" || dynamic_cast<TOvPDFRef*>(box) ||
        dynamic_cast<TOvPDFRef*>(rotate)) {
      return;
    }
    if (auto* array = dynamic_cast<TOvPDFArray*>(box)) {
      if (BoxSize(array, pageWalk_.boxText, info.Width, info.Height)) {
        info.Rotate = GetIntEntry(page, "Rotate", 0, false);
      }
    } else if (type->GetName() == "Page" && parent) {
      auto* parentRef = dynamic_cast<TOvPDFRef*>(parent);
      if (!parentRef) return;
      parentNumber = parentRef->Number;
      parentGeneration = parentRef->Generation;
    }
    plain = true;
  };
  try {
    if (!file_->PeekObject(canonical->Number, canonical->Generation, look)) return false;
  } catch (const EOvPDFError&) {
    // Loading it reports what is wrong, the way every object reports it.
    return false;
  } catch (const EStreamError&) {
    return false;
  }
  if (!plain) return false;
  pageWalk_.visited.insert(canonical);
  info.reference_ = canonical;
  if (parentNumber >= 0) {
    TOvPDFRef* parent = file_->FindCanonical(parentNumber, parentGeneration);
    if (auto* node = parent ? dynamic_cast<TOvPDFDictionary*>(ResolveValue(parent)) : nullptr) {
      pageWalk_.chain.clear();
      InheritBox(node, info);
    }
  }
  pages_.push_back(info);
  return true;
}

TOvPDFPageInfo TOvPDFDocument::ReadPageInfo(TOvPDFDictionary* page) {
  TOvPDFPageInfo info;
  info.read_ = page;
  pageWalk_.chain.clear();
  InheritBox(page, info);
  return info;
}

void TOvPDFDocument::InheritBox(TOvPDFDictionary* node, TOvPDFPageInfo& info) {
  // Up the /Parent chain to the nearest /MediaBox (ISO 32000-1 7.7.3.4).
  std::unordered_set<const TOvPDFDictionary*>& chain = pageWalk_.chain;
  for (int depth = 0; node && depth <= PDF_MAX_TREE_DEPTH; ++depth) {
    if (!chain.insert(node).second) break;
    const std::string type = GetNameEntry(node, "Type", "", false);
    if (TOvPDFArray* box = GetArrayEntry(node, "MediaBox", false)) {
      if (BoxSize(box, pageWalk_.boxText, info.Width, info.Height)) {
        info.Rotate = GetIntEntry(node, "Rotate", 0, false);
      }
      break;
    }
    if (type != "Page" && type != "Pages") break;
    node = GetDictEntry(node, "Parent", false);
  }
}

TOvPDFDictionary* TOvPDFPageInfo::Dictionary() const {
  if (read_) return read_;
  return reference_ ? dynamic_cast<TOvPDFDictionary*>(ResolveValue(reference_)) : nullptr;
}

bool TOvPDFPageInfo::Is(const TOvPDFDictionary* page) const {
  if (!page) return false;
  if (read_) return read_ == page;
  return reference_ && reference_->Resolved && reference_->Target &&
         reference_->Target->Value == page;
}

size_t TOvPDFDocument::PageCount() {
  // Listing every page reads each of them (and, in a compressed file, every
  // object stream holding one); the count the root declares costs nothing.
  // A tree that does not hold what it declares shows when it is listed.
  if (!pageWalk_.stack.empty() && !pageWalk_.failure) {
    TOvPDFDictionary* catalog = Catalog();
    TOvPDFDictionary* root = catalog ? GetDictEntry(catalog, "Pages", false) : nullptr;
    auto* count = root ? dynamic_cast<TOvPDFReal*>(GetResolvedEntry(root, "Count")) : nullptr;
    int64_t declared = -1;
    if (count && GetNameEntry(root, "Type", "Pages", false) == "Pages" &&
        TryStrToInt64(count->Data, declared) && declared >= 0 &&
        static_cast<uint64_t>(declared) >= pages_.size()) {
      return static_cast<size_t>(declared);
    }
  }
  return Pages().size();
}

bool TOvPDFDocument::PageHasAnnots(const TOvPDFPageInfo& page) {
  // A page only looked at is as the look saw it: nothing has changed it.
  if (TOvPDFRef* ref = page.Reference(); ref && !ref->Resolved && !ref->Target) {
    return page.annots_;
  }
  return GetEntry(page.Dictionary(), "Annots") != nullptr;
}

TOvPDFPageInfo TOvPDFDocument::PageInfo(size_t index) {
  if (index < std::numeric_limits<size_t>::max()) ReadPagesUpTo(index + 1);
  return pages_.at(index);
}

const std::vector<TOvPDFPageInfo>& TOvPDFDocument::Pages() {
  ReadPagesUpTo(std::numeric_limits<size_t>::max());
  return pages_;
}

int64_t TOvPDFDocument::IndexOfPage(const TOvPDFDictionary* page) {
  if (!page) return -1;
  for (size_t i = 0;; ++i) {
    if (i == pages_.size()) ReadPagesUpTo(i + 1);
    if (i == pages_.size()) return -1;
    if (pages_[i].Is(page)) return static_cast<int64_t>(i);
  }
}

void TOvPDFDocument::ReadRequirements() {
  requirements_.clear();
  TOvPDFDictionary* catalog = Catalog();
  if (!catalog) return;
  TOvPDFObject* entry = GetResolvedEntry(catalog, "Requirements");
  if (!GetEntry(catalog, "Requirements")) return;
  auto* list = dynamic_cast<TOvPDFArray*>(entry);
  if (!list || dynamic_cast<TOvPDFDictionary*>(entry)) {
    throw EOvPDFDocumentError("Invalid document (Invalid requirements dictionary)");
  }
  for (const auto& item : list->Items()) {
    auto* requirement = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
    if (!requirement) continue;
    auto* name = dynamic_cast<TOvPDFName*>(GetResolvedEntry(requirement, "S"));
    if (!name) continue;
    TOvPDFRequirement result;
    result.Name = name->GetName();
    if (TOvPDFArray* handlers = GetArrayEntry(requirement, "RH", false)) {
      for (const auto& h : handlers->Items()) {
        auto* handler = dynamic_cast<TOvPDFDictionary*>(ResolveValue(h.Object));
        if (!handler) continue;
        result.Handlers.push_back(
            TOvPDFRequirementHandler{GetNameEntry(handler, "S", "", false),
                                     DecodeTextString(GetStringEntry(handler, "Script", false))});
      }
    }
    requirements_.push_back(std::move(result));
  }
}

void TOvPDFDocument::ReadAttachments() {
  attachments_.clear();
  TOvPDFDictionary* names = NamesDictionary();
  TOvPDFDictionary* embedded = names ? GetDictEntry(names, "EmbeddedFiles", false) : nullptr;
  TOvPDFArray* list = embedded ? GetArrayEntry(embedded, "Names", false) : nullptr;
  if (!list) return;
  for (size_t i = 0; i + 1 < list->ItemCount(); i += 2) {
    auto* spec = dynamic_cast<TOvPDFDictionary*>(ResolveValue(list->GetItem(i + 1)));
    if (!spec) continue;
    const std::string type = GetNameEntry(spec, "Type", "", false);
    if (type != "Filespec" && type != "F") continue;
    TOvPDFDictionary* ef = GetDictEntry(spec, "EF", false);
    auto* stream = ef ? dynamic_cast<TOvPDFStream*>(GetResolvedEntry(ef, "F")) : nullptr;
    if (!stream) continue;
    TOvPDFFileAttachment attachment;
    if (auto* key = dynamic_cast<TOvPDFString*>(ResolveValue(list->GetItem(i)))) {
      attachment.KeyName = key->GetText();
    }
    attachment.FileName = DecodeTextString(GetStringEntry(spec, "F", false));
    attachment.Description = DecodeTextString(GetStringEntry(spec, "Desc", false));
    attachment.FileSpecification = spec;
    attachment.NamesArray = list;
    attachment.EmbeddedFile = stream;
    attachment.Subtype = GetNameEntry(stream->Dictionary, "Subtype", "", false);
    if (TOvPDFDictionary* params = GetDictEntry(stream->Dictionary, "Params", false)) {
      attachment.Size = GetInt64Entry(params, "Size", -1, false);
      attachment.CreationDate = PdfDateFromString(GetStringEntry(params, "CreationDate", false));
      attachment.ModificationDate = PdfDateFromString(GetStringEntry(params, "ModDate", false));
      attachment.CheckSum = GetStringEntry(params, "CheckSum", false);
    }
    attachments_.push_back(std::move(attachment));
  }
}

}  // namespace corvane
