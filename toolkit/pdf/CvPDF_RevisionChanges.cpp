// Judging the updates written after a signed revision; the rules are in
// CvPDF_RevisionChanges.h.
#include "toolkit/pdf/CvPDF_RevisionChanges.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDFCore.h"
#include "toolkit/pdf/CvPDFUtils.h"

namespace corvane {

namespace {

// A read-only view of the first bytes of another stream with a position of
// its own; every read seeks the other stream first.
class TCvPrefixStream final : public TOvStream {
 public:
  TCvPrefixStream(TOvStream& base, int64_t end)
      : base_(base), end_(std::clamp<int64_t>(end, 0, base.Size())) {}

  size_t Read(void* buffer, size_t count) override {
    if (position_ >= end_ || count == 0) return 0;
    const int64_t wanted = std::min<int64_t>(
        static_cast<int64_t>(std::min<size_t>(count, size_t{1} << 30)), end_ - position_);
    base_.SetPosition(position_);
    const size_t read = base_.Read(buffer, static_cast<size_t>(wanted));
    position_ += static_cast<int64_t>(read);
    return read;
  }
  void Write(const void* /*buffer*/, size_t /*count*/) override {
    throw EStreamError("Stream write error");
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t from = origin == TSeekOrigin::soBeginning ? 0
                         : origin == TSeekOrigin::soCurrent ? position_
                                                            : end_;
    if ((offset > 0 && from > std::numeric_limits<int64_t>::max() - offset) || from + offset < 0) {
      throw EStreamError("Stream seek error");
    }
    position_ = from + offset;
    return position_;
  }
  int64_t Size() override { return end_; }
  void SetSize(int64_t /*size*/) override { throw EStreamError("Stream write error"); }

 private:
  TOvStream& base_;
  int64_t end_;
  int64_t position_ = 0;
};

// What an object number is to the signed revision.
enum class TRole {
  Catalog,
  PageTree,
  Page,
  Contents,
  Resources,
  Annots,
  AcroForm,
  Fields,
  DSS,
  Info,
  Metadata,
  Perms
};

struct TRoleOf {
  TRole Role;
  int Page = 0;
};

// One file opened on a view of the input, and what its structure says.
struct TCvSide {
  TOvPDFFile File;
  TOvPDFDictionary* Catalog = nullptr;
  int32_t CatalogNumber = -1;
  // In-use entries by number (direct: offset > 0, or compressed).
  std::unordered_map<int32_t, TOvPDFXrefEntry> InUse;
  std::unordered_map<int32_t, TRoleOf> Roles;
};

TOvPDFDictionary* AsDict(TOvPDFObject* obj) { return dynamic_cast<TOvPDFDictionary*>(obj); }

// An array that is not a dictionary.
TOvPDFArray* AsArray(TOvPDFObject* obj) {
  return AsDict(obj) ? nullptr : dynamic_cast<TOvPDFArray*>(obj);
}

int32_t RefNumber(TOvPDFObject* obj) {
  auto* ref = dynamic_cast<TOvPDFRef*>(obj);
  return ref ? ref->Number : -1;
}

std::string NameOf(TOvPDFDictionary* dict, std::string_view key) {
  return dict ? GetNameEntry(dict, key, "", false) : std::string();
}

// What kind of object a value is, for saying that one was redefined.
std::string KindOf(TOvPDFObject* obj) {
  if (!obj || dynamic_cast<TOvPDFNull*>(obj)) return "null";
  if (dynamic_cast<TOvPDFStream*>(obj)) return "stream";
  if (auto* dict = AsDict(obj)) {
    const std::string type = NameOf(dict, "Type");
    if (type == "Catalog") return "catalog";
    if (type == "Pages") return "page tree";
    if (type == "Page") return "page";
    if (type == "Sig" || type == "DocTimeStamp") return "signature";
    if (type == "Font") return "font";
    if (type == "Annot" || (!NameOf(dict, "Subtype").empty() && GetEntry(dict, "Rect")))
      return "annotation";
    if (GetEntry(dict, "FT")) return "form field";
    return "dictionary";
  }
  if (dynamic_cast<TOvPDFArray*>(obj)) return "array";
  if (dynamic_cast<TOvPDFString*>(obj)) return "string";
  if (dynamic_cast<TOvPDFName*>(obj)) return "name";
  if (dynamic_cast<TOvPDFReal*>(obj)) return "number";
  if (dynamic_cast<TOvPDFBoolean*>(obj)) return "boolean";
  if (dynamic_cast<TOvPDFRef*>(obj)) return "reference";
  return "object";
}

bool Same(TOvPDFObject* a, TOvPDFObject* b, int depth);

bool SameDict(const TOvPDFDictionary* a, const TOvPDFDictionary* b, int depth) {
  const auto& left = a->Items();
  const auto& right = b->Items();
  // The first entry of a key counts, as for every lookup.
  std::unordered_map<std::string_view, TOvPDFObject*> keys;
  for (const auto& item : right) keys.emplace(item.Key.view(), item.Object);
  std::unordered_set<std::string_view> seen;
  for (const auto& item : left) {
    if (!seen.insert(item.Key.view()).second) continue;
    auto it = keys.find(item.Key.view());
    if (it == keys.end() || !Same(item.Object, it->second, depth + 1)) return false;
  }
  return seen.size() == keys.size();
}

// Equal values: numbers by value, strings and names decoded, references by
// number and generation, streams by dictionary and raw data.
bool Same(TOvPDFObject* a, TOvPDFObject* b, int depth) {
  if (a == b) return true;
  if (!a || !b || depth > PDF_MAX_NESTING) return false;
  if (std::string_view(a->ClassName()) != b->ClassName()) return false;
  if (auto* ra = dynamic_cast<TOvPDFRef*>(a)) {
    auto* rb = static_cast<TOvPDFRef*>(b);
    return ra->Number == rb->Number && ra->Generation == rb->Generation;
  }
  if (auto* na = dynamic_cast<TOvPDFReal*>(a)) {
    return na->Data == b->Data || na->GetValue() == static_cast<TOvPDFReal*>(b)->GetValue();
  }
  if (auto* sa = dynamic_cast<TOvPDFString*>(a)) {
    return sa->GetText() == static_cast<TOvPDFString*>(b)->GetText();
  }
  if (auto* name = dynamic_cast<TOvPDFName*>(a)) {
    return name->GetName() == static_cast<TOvPDFName*>(b)->GetName();
  }
  if (auto* stream = dynamic_cast<TOvPDFStream*>(a)) {
    auto* other = static_cast<TOvPDFStream*>(b);
    if (!stream->Dictionary || !other->Dictionary) return false;
    return SameDict(stream->Dictionary, other->Dictionary, depth) &&
           stream->GetRawData() == other->GetRawData();
  }
  if (auto* dict = AsDict(a)) return SameDict(dict, static_cast<TOvPDFDictionary*>(b), depth);
  if (auto* array = dynamic_cast<TOvPDFArray*>(a)) {
    const auto& left = array->Items();
    const auto& right = static_cast<TOvPDFArray*>(b)->Items();
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i) {
      if (!Same(left[i].Object, right[i].Object, depth + 1)) return false;
    }
    return true;
  }
  return a->Data == b->Data;
}

// The keys whose values differ between two dictionaries (either may be nil),
// each once, in the order they are met.
std::vector<std::string> ChangedKeys(const TOvPDFDictionary* a, const TOvPDFDictionary* b) {
  // The first entry of a key counts, as for every lookup.
  auto firsts = [](const TOvPDFDictionary* dict) {
    std::unordered_map<std::string_view, TOvPDFObject*> entries;
    if (dict) {
      for (const auto& item : dict->Items()) entries.emplace(item.Key.view(), item.Object);
    }
    return entries;
  };
  const auto left = firsts(a);
  const auto right = firsts(b);
  std::vector<std::string> keys;
  std::unordered_set<std::string_view> seen;
  auto look = [&](const TOvPDFDictionary* dict) {
    if (!dict) return;
    for (const auto& item : dict->Items()) {
      const std::string_view key = item.Key.view();
      if (!seen.insert(key).second) continue;
      auto l = left.find(key);
      auto r = right.find(key);
      TOvPDFObject* was = l == left.end() ? nullptr : l->second;
      TOvPDFObject* now = r == right.end() ? nullptr : r->second;
      if (!Same(was, now, 0)) keys.emplace_back(key);
    }
  };
  look(a);
  look(b);
  return keys;
}

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text += part;
  return text;
}

// A text string for messages: UTF-8, at most 40 bytes.
std::string ShortText(const std::string& bytes) {
  std::string text = DecodeTextString(bytes);
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  return text;
}

// The items of an array as reference numbers; direct items are kept apart.
struct TCvItems {
  std::vector<int32_t> Numbers;
  std::vector<TOvPDFObject*> Direct;
};

TCvItems ItemsOf(TOvPDFArray* array) {
  TCvItems items;
  if (!array) return items;
  for (const auto& item : array->Items()) {
    const int32_t number = RefNumber(item.Object);
    if (number >= 0) {
      items.Numbers.push_back(number);
    } else if (!dynamic_cast<TOvPDFNull*>(item.Object)) {
      items.Direct.push_back(item.Object);
    }
  }
  return items;
}

class TCvJudge {
 public:
  TCvJudge(TOvPDFRevisionChanges& result, TCvSide& revision, TCvSide& whole, int64_t revisionEnd)
      : result_(result), rev_(revision), fin_(whole), revisionEnd_(revisionEnd) {}

  void Run();

 private:
  void Allow(const std::string& what) {
    if (allowed_.insert(what).second) result_.Allowed.push_back(what);
  }
  void Refuse(const std::string& what) {
    if (refused_.insert(what).second) result_.NotAllowed.push_back(what);
  }
  // " (certified with /P n)" for a change the certification forbids.
  std::string Under() const {
    return level_ ? " (certified with /P " + std::to_string(level_) + ")" : std::string();
  }
  bool SignAllowed() const { return level_ != 1; }
  bool FormAllowed() const { return level_ != 1; }
  bool AnnotsAllowed() const { return level_ == 0 || level_ == 3; }

  void ReadStructure(TCvSide& side);
  void WalkPages(TCvSide& side);
  void WalkDSS(TCvSide& side, TOvPDFObject* dss);
  void ReadPermission();
  void CheckSections();
  void CheckTrailer();
  void CheckObject(int32_t number, TOvPDFObject* before, TOvPDFObject* after);
  void CheckCatalog(TOvPDFDictionary* before, TOvPDFDictionary* after);
  void CheckForm(TOvPDFDictionary* before, TOvPDFDictionary* after);
  void CheckFields(TOvPDFArray* before, TOvPDFArray* after);
  void CheckPage(int page, TOvPDFDictionary* before, TOvPDFDictionary* after);
  void CheckAnnots(int page, TOvPDFArray* before, TOvPDFArray* after);
  void CheckFieldChange(int32_t number, TOvPDFDictionary* before, TOvPDFDictionary* after);
  // A signature field (or its widget) that the form or a page gained.
  void CheckNewSignatureField(TOvPDFDictionary* field, const std::string& where);

  // The value of an object of the file, nil when it is not there.
  static TOvPDFObject* ValueOf(TCvSide& side, int32_t number) {
    auto it = side.InUse.find(number);
    if (it == side.InUse.end()) return nullptr;
    TOvPDFRef* ref = side.File.FindCanonical(number, it->second.Generation);
    TOvPDFIndirect* target = ref ? ref->Resolve() : nullptr;
    return target ? target->Value : nullptr;
  }
  // The field type, looked for along /Parent as far as the tree may reach.
  static std::string FieldType(TOvPDFDictionary* field);
  static std::string FieldName(TOvPDFDictionary* field);

  TOvPDFRevisionChanges& result_;
  TCvSide& rev_;
  TCvSide& fin_;
  int64_t revisionEnd_;
  int level_ = 0;
  std::unordered_set<std::string> allowed_;
  std::unordered_set<std::string> refused_;
};

std::string TCvJudge::FieldType(TOvPDFDictionary* field) {
  std::unordered_set<TOvPDFDictionary*> seen;
  for (int depth = 0; field && depth < PDF_MAX_TREE_DEPTH && seen.insert(field).second; ++depth) {
    std::string type = NameOf(field, "FT");
    if (!type.empty()) return type;
    field = AsDict(GetResolvedEntry(field, "Parent"));
  }
  return {};
}

std::string TCvJudge::FieldName(TOvPDFDictionary* field) {
  std::string name = GetStringEntry(field, "T", false);
  if (name.empty()) {
    if (auto* parent = AsDict(GetResolvedEntry(field, "Parent")))
      name = GetStringEntry(parent, "T", false);
  }
  return name.empty() ? std::string("without a name") : ShortText(name);
}

void TCvJudge::ReadStructure(TCvSide& side) {
  for (const auto& [key, entry] : side.File.XRefs()) {
    if (entry.Compressed || entry.Offset > 0) side.InUse.emplace(entry.Number, entry);
  }
  TOvPDFDictionary* trailer = side.File.Trailer();
  side.CatalogNumber = RefNumber(GetEntry(trailer, "Root"));
  side.Catalog = AsDict(GetResolvedEntry(trailer, "Root"));
  if (!side.Catalog) return;
  side.Roles[side.CatalogNumber] = {TRole::Catalog};
  if (const int32_t info = RefNumber(GetEntry(trailer, "Info")); info >= 0)
    side.Roles.emplace(info, TRoleOf{TRole::Info});
  // A tree that cannot be read leaves its objects without a role: their
  // changes are then not allowed.
  try {
    WalkPages(side);
  } catch (const std::exception&) {
  }
  if (const int32_t form = RefNumber(GetEntry(side.Catalog, "AcroForm")); form >= 0)
    side.Roles.emplace(form, TRoleOf{TRole::AcroForm});
  if (auto* form = AsDict(GetResolvedEntry(side.Catalog, "AcroForm"))) {
    if (const int32_t fields = RefNumber(GetEntry(form, "Fields")); fields >= 0)
      side.Roles.emplace(fields, TRoleOf{TRole::Fields});
  }
  if (const int32_t metadata = RefNumber(GetEntry(side.Catalog, "Metadata")); metadata >= 0)
    side.Roles.emplace(metadata, TRoleOf{TRole::Metadata});
  if (const int32_t perms = RefNumber(GetEntry(side.Catalog, "Perms")); perms >= 0)
    side.Roles.emplace(perms, TRoleOf{TRole::Perms});
  try {
    WalkDSS(side, GetEntry(side.Catalog, "DSS"));
  } catch (const std::exception&) {
  }
}

void TCvJudge::WalkPages(TCvSide& side) {
  struct TNode {
    int32_t Number;
    int Depth;
  };
  std::vector<TNode> stack;
  if (const int32_t root = RefNumber(GetEntry(side.Catalog, "Pages")); root >= 0)
    stack.push_back({root, 0});
  std::unordered_set<int32_t> seen;
  int page = 0;
  auto note = [&](TOvPDFObject* entry, TRole role) {
    if (const int32_t number = RefNumber(entry); number >= 0)
      side.Roles.emplace(number, TRoleOf{role, page});
  };
  while (!stack.empty()) {
    const TNode node = stack.back();
    stack.pop_back();
    if (node.Depth > PDF_MAX_TREE_DEPTH || !seen.insert(node.Number).second) continue;
    auto* dict = AsDict(ValueOf(side, node.Number));
    if (!dict || side.Roles.count(node.Number)) continue;
    auto* kids = AsArray(GetResolvedEntry(dict, "Kids"));
    const std::string type = NameOf(dict, "Type");
    if (type == "Pages" || (kids && type != "Page")) {
      side.Roles.emplace(node.Number, TRoleOf{TRole::PageTree});
      if (!kids) continue;
      const TCvItems items = ItemsOf(kids);
      for (auto it = items.Numbers.rbegin(); it != items.Numbers.rend(); ++it)
        stack.push_back({*it, node.Depth + 1});
      continue;
    }
    ++page;
    side.Roles.emplace(node.Number, TRoleOf{TRole::Page, page});
    TOvPDFObject* contents = GetEntry(dict, "Contents");
    note(contents, TRole::Contents);
    if (auto* parts = AsArray(ResolveValue(contents))) {
      for (const int32_t part : ItemsOf(parts).Numbers)
        side.Roles.emplace(part, TRoleOf{TRole::Contents, page});
    }
    note(GetEntry(dict, "Resources"), TRole::Resources);
    note(GetEntry(dict, "Annots"), TRole::Annots);
  }
}

void TCvJudge::WalkDSS(TCvSide& side, TOvPDFObject* dss) {
  // The store and what it holds: arrays of streams, the VRI dictionary and
  // its entries. Objects that have another role are not taken in, so that a
  // store naming a page does not make the page's changes its own.
  struct TItem {
    TOvPDFObject* Object;
    int Depth;
  };
  std::vector<TItem> queue{{dss, 0}};
  std::unordered_set<int32_t> seen;
  while (!queue.empty()) {
    const TItem item = queue.back();
    queue.pop_back();
    TOvPDFObject* obj = item.Object;
    if (!obj || item.Depth > 8) continue;
    if (const int32_t number = RefNumber(obj); number >= 0) {
      if (side.Roles.count(number) || !seen.insert(number).second) continue;
      side.Roles.emplace(number, TRoleOf{TRole::DSS});
      obj = ValueOf(side, number);
      if (!obj) continue;
    }
    if (dynamic_cast<TOvPDFStream*>(obj)) continue;
    if (auto* array = dynamic_cast<TOvPDFArray*>(obj)) {
      for (const auto& entry : array->Items()) queue.push_back({entry.Object, item.Depth + 1});
    }
  }
}

void TCvJudge::ReadPermission() {
  auto* perms = AsDict(GetResolvedEntry(rev_.Catalog, "Perms"));
  auto* mdp = perms ? AsDict(GetResolvedEntry(perms, "DocMDP")) : nullptr;
  if (!mdp) return;
  level_ = 2;
  auto* references = AsArray(GetResolvedEntry(mdp, "Reference"));
  if (!references) return;
  for (const auto& item : references->Items()) {
    auto* reference = AsDict(ResolveValue(item.Object));
    if (!reference || NameOf(reference, "TransformMethod") != "DocMDP") continue;
    auto* params = AsDict(GetResolvedEntry(reference, "TransformParams"));
    auto* p = params ? dynamic_cast<TOvPDFReal*>(ResolveValue(GetEntry(params, "P"))) : nullptr;
    int32_t value = 2;
    if (p && TryStrToInt32(p->Data, value) && value >= 1 && value <= 3) level_ = value;
    break;
  }
}

void TCvJudge::Run() {
  ReadStructure(rev_);
  if (!rev_.Catalog) {
    Refuse("the signed revision has no catalog");
    return;
  }
  ReadStructure(fin_);
  ReadPermission();
  result_.Permission = level_;
  CheckTrailer();
  CheckSections();
}

void TCvJudge::CheckTrailer() {
  TOvPDFDictionary* before = rev_.File.Trailer();
  TOvPDFDictionary* after = fin_.File.Trailer();
  if (rev_.CatalogNumber != fin_.CatalogNumber) Refuse("the trailer names another catalog");
  if (!Same(GetEntry(before, "Encrypt"), GetEntry(after, "Encrypt"), 0))
    Refuse("the trailer's /Encrypt changed");
  if (!Same(GetEntry(before, "Info"), GetEntry(after, "Info"), 0))
    Allow("document information changed");
}

void TCvJudge::CheckSections() {
  // The sections written after the revision, oldest first.
  const std::vector<TOvPDFXRefSection>& sections = fin_.File.Sections();
  const int64_t signedSection = rev_.File.LastStartXRef();
  size_t later = 0;
  while (later < sections.size() && sections[later].Offset != signedSection) ++later;
  if (later == sections.size()) {
    Refuse("the updates after the signed revision do not continue it");
    return;
  }
  // The newest entry of each object the later sections list.
  std::map<int32_t, TOvPDFXrefEntry> touched;
  for (size_t s = later; s-- > 0;) {
    const TOvPDFXRefSection& section = sections[s];
    if (section.Offset < revisionEnd_) {
      Refuse("a later cross-reference section lies inside the signed revision");
    }
    bool bringsObjects = false;
    for (const TOvPDFXrefEntry& entry : section.Entries) {
      if (entry.Number == 0) continue;
      touched[entry.Number] = entry;
      auto old = rev_.InUse.find(entry.Number);
      if (entry.Compressed) {
        const bool same = old != rev_.InUse.end() && old->second.Compressed &&
                          old->second.StreamNumber == entry.StreamNumber &&
                          old->second.StreamIndex == entry.StreamIndex;
        bringsObjects = bringsObjects || !same;
      } else if (entry.Offset > 0 && entry.Offset != section.Offset) {
        if (entry.Offset >= revisionEnd_) {
          bringsObjects = true;
        } else if (old == rev_.InUse.end() || old->second.Compressed ||
                   old->second.Offset != entry.Offset ||
                   old->second.Generation != entry.Generation) {
          Refuse("object " + std::to_string(entry.Number) +
                 " marked in use at bytes of the signed revision");
        }
      }
    }
    if (!bringsObjects) {
      Refuse("the cross-reference section at " + std::to_string(section.Offset) +
             " only marks objects free or in use again");
    }
  }
  if (later == 0) return;
  const int64_t revisionSize = GetInt64Entry(rev_.File.Trailer(), "Size", 0, false);
  for (const auto& [number, entry] : touched) {
    auto old = rev_.InUse.find(number);
    const bool inUse = entry.Compressed || entry.Offset > 0;
    if (!inUse) {
      if (old != rev_.InUse.end()) Refuse("object " + std::to_string(number) + " freed");
      continue;
    }
    if (old == rev_.InUse.end()) {
      // A new object counts through what refers to it; a number the signed
      // revision had free may be named by what it holds.
      if (number < revisionSize) {
        Refuse("object " + std::to_string(number) + ", free in the signed revision, defined again");
      }
      continue;
    }
    if (old->second.Generation != entry.Generation) {
      Refuse("object " + std::to_string(number) + " given another generation");
      continue;
    }
    if (!old->second.Compressed && !entry.Compressed && old->second.Offset == entry.Offset)
      continue;
    try {
      TOvPDFObject* before = ValueOf(rev_, number);
      TOvPDFObject* after = ValueOf(fin_, number);
      if (!Same(before, after, 0)) CheckObject(number, before, after);
    } catch (const std::exception&) {
      Refuse("object " + std::to_string(number) + " cannot be read");
    }
  }
}

void TCvJudge::CheckObject(int32_t number, TOvPDFObject* before, TOvPDFObject* after) {
  const std::string object = "object " + std::to_string(number);
  const std::string kindBefore = KindOf(before);
  const std::string kindAfter = KindOf(after);
  if (kindBefore != kindAfter) {
    Refuse(object + " redefined from " + kindBefore + " to " + kindAfter);
    return;
  }
  auto role = rev_.Roles.find(number);
  if (role != rev_.Roles.end()) {
    const int page = role->second.Page;
    const std::string pageName = "page " + std::to_string(page);
    switch (role->second.Role) {
      case TRole::Catalog:
        CheckCatalog(AsDict(before), AsDict(after));
        return;
      case TRole::PageTree:
        Refuse("page tree changed");
        return;
      case TRole::Page:
        CheckPage(page, AsDict(before), AsDict(after));
        return;
      case TRole::Contents:
        Refuse(pageName + " content changed");
        return;
      case TRole::Resources:
        Refuse(pageName + " resources changed");
        return;
      case TRole::Annots:
        CheckAnnots(page, AsArray(before), AsArray(after));
        return;
      case TRole::AcroForm:
        CheckForm(AsDict(before), AsDict(after));
        return;
      case TRole::Fields:
        CheckFields(AsArray(before), AsArray(after));
        return;
      case TRole::DSS:
        Allow("DSS updated");
        return;
      case TRole::Info:
        Allow("document information changed");
        return;
      case TRole::Metadata:
        Allow("XMP metadata changed");
        return;
      case TRole::Perms:
        if (Same(GetEntry(AsDict(before), "DocMDP"), GetEntry(AsDict(after), "DocMDP"), 0)) {
          Allow("permissions changed");
        } else {
          Refuse("catalog /Perms changed");
        }
        return;
    }
  }
  if (kindBefore == "annotation" || kindBefore == "form field") {
    CheckFieldChange(number, AsDict(before), AsDict(after));
    return;
  }
  if (kindBefore == "signature") {
    Refuse("signature dictionary " + std::to_string(number) + " changed");
    return;
  }
  Refuse(object + " (" + kindBefore + ") changed");
}

void TCvJudge::CheckCatalog(TOvPDFDictionary* before, TOvPDFDictionary* after) {
  if (!before || !after) {
    Refuse("catalog changed");
    return;
  }
  for (const std::string& key : ChangedKeys(before, after)) {
    TOvPDFObject* was = GetEntry(before, key);
    TOvPDFObject* now = GetEntry(after, key);
    if (key == "AcroForm") {
      CheckForm(AsDict(ResolveValue(was)), AsDict(ResolveValue(now)));
    } else if (key == "DSS") {
      Allow(was ? "DSS updated" : "DSS added");
    } else if (key == "Metadata") {
      Allow("XMP metadata changed");
    } else if (key == "Perms" && Same(GetEntry(AsDict(ResolveValue(was)), "DocMDP"),
                                      GetEntry(AsDict(ResolveValue(now)), "DocMDP"), 0)) {
      Allow("permissions changed");
    } else {
      Refuse("catalog /" + key + (!was ? " added" : !now ? " removed" : " changed"));
    }
  }
}

void TCvJudge::CheckForm(TOvPDFDictionary* before, TOvPDFDictionary* after) {
  if (!after) {
    Refuse("form removed");
    return;
  }
  for (const std::string& key : ChangedKeys(before, after)) {
    if (key == "Fields") {
      CheckFields(before ? AsArray(GetResolvedEntry(before, "Fields")) : nullptr,
                  AsArray(GetResolvedEntry(after, "Fields")));
    } else if (key == "SigFlags" || ((key == "DR" || key == "DA") && SignAllowed())) {
      // Set for any signature, a document timestamp too; the resources the
      // appearances of new fields use.
    } else if (key == "NeedAppearances" && FormAllowed()) {
      Allow("form appearances to be rebuilt");
    } else {
      Refuse("form /" + key + " changed" + Under());
    }
  }
}

void TCvJudge::CheckFields(TOvPDFArray* before, TOvPDFArray* after) {
  const TCvItems was = ItemsOf(before);
  const TCvItems now = ItemsOf(after);
  if (!now.Direct.empty() || !was.Direct.empty()) {
    Refuse("form fields changed");
    return;
  }
  const std::unordered_set<int32_t> old(was.Numbers.begin(), was.Numbers.end());
  const std::unordered_set<int32_t> kept(now.Numbers.begin(), now.Numbers.end());
  for (const int32_t number : was.Numbers) {
    if (!kept.count(number)) Refuse("form field " + std::to_string(number) + " removed");
  }
  for (const int32_t number : now.Numbers) {
    if (old.count(number)) continue;
    auto* field = AsDict(ValueOf(fin_, number));
    if (!field) {
      Refuse("form fields changed");
      continue;
    }
    CheckNewSignatureField(field, "form field");
  }
}

void TCvJudge::CheckNewSignatureField(TOvPDFDictionary* field, const std::string& where) {
  const std::string name = FieldName(field);
  if (FieldType(field) != "Sig") {
    Refuse(where + " " + name + " added");
    return;
  }
  auto* value = AsDict(GetResolvedEntry(field, "V"));
  const std::string type = NameOf(value, "Type");
  if (type == "DocTimeStamp") {
    Allow("document timestamp " + name + " added");
  } else if (!SignAllowed()) {
    Refuse("signature " + name + " added" + Under());
  } else {
    Allow(value ? "signature " + name + " added" : "empty signature field " + name + " added");
  }
}

void TCvJudge::CheckPage(int page, TOvPDFDictionary* before, TOvPDFDictionary* after) {
  const std::string name = "page " + std::to_string(page);
  for (const std::string& key : ChangedKeys(before, after)) {
    if (key == "Annots") {
      CheckAnnots(page, AsArray(GetResolvedEntry(before, "Annots")),
                  AsArray(GetResolvedEntry(after, "Annots")));
    } else if (key == "Contents") {
      Refuse(name + " content changed");
    } else if (key == "Resources") {
      Refuse(name + " resources changed");
    } else {
      Refuse(Join({name, " /", key, " changed"}));
    }
  }
}

void TCvJudge::CheckAnnots(int page, TOvPDFArray* before, TOvPDFArray* after) {
  const std::string name = "page " + std::to_string(page);
  const TCvItems was = ItemsOf(before);
  const TCvItems now = ItemsOf(after);
  if (!now.Direct.empty() || !was.Direct.empty()) {
    Refuse(name + " annotations changed");
    return;
  }
  const std::unordered_set<int32_t> old(was.Numbers.begin(), was.Numbers.end());
  const std::unordered_set<int32_t> kept(now.Numbers.begin(), now.Numbers.end());
  for (const int32_t number : was.Numbers) {
    if (kept.count(number)) continue;
    auto* annotation = AsDict(ValueOf(rev_, number));
    if (NameOf(annotation, "Subtype") == "Widget") {
      Refuse("widget removed from " + name);
    } else if (AnnotsAllowed()) {
      Allow("annotation removed from " + name);
    } else {
      Refuse("annotation removed from " + name + Under());
    }
  }
  for (const int32_t number : now.Numbers) {
    if (old.count(number)) continue;
    auto* annotation = AsDict(ValueOf(fin_, number));
    if (!annotation) {
      Refuse(name + " annotations changed");
      continue;
    }
    const std::string subtype = NameOf(annotation, "Subtype");
    if (subtype == "Widget") {
      CheckNewSignatureField(annotation, "form field widget");
    } else if (AnnotsAllowed()) {
      Allow(Join({"annotation added to ", name, " (/", subtype, ")"}));
    } else {
      Refuse(Join({"annotation added to ", name, " (/", subtype, ")", Under()}));
    }
  }
}

void TCvJudge::CheckFieldChange(int32_t number, TOvPDFDictionary* before, TOvPDFDictionary* after) {
  const std::string object = "object " + std::to_string(number);
  const bool widgetOrField =
      NameOf(before, "Subtype") == "Widget" || GetEntry(before, "FT") || GetEntry(before, "T");
  if (!widgetOrField) {
    if (AnnotsAllowed()) {
      Allow("annotation changed");
    } else {
      Refuse("annotation " + std::to_string(number) + " changed" + Under());
    }
    return;
  }
  const std::string name = FieldName(after);
  if (FieldType(before) == "Sig") {
    const bool filled = !GetEntry(before, "V") && GetEntry(after, "V");
    for (const std::string& key : ChangedKeys(before, after)) {
      const bool appearance =
          key == "AP" || key == "AS" || key == "MK" || key == "DA" || key == "Rect" || key == "F";
      if (key != "V" && !(appearance && filled)) {
        Refuse(Join({"signature field ", name, " /", key, " changed"}));
        return;
      }
    }
    if (!filled) {
      Refuse("signature field " + name + " signed again");
      return;
    }
    CheckNewSignatureField(after, "form field");
    return;
  }
  for (const std::string& key : ChangedKeys(before, after)) {
    if (key != "V" && key != "AS" && key != "AP") {
      Refuse(Join({"form field ", name, " /", key, " changed"}));
      return;
    }
  }
  if (FormAllowed()) {
    Allow("form field " + name + " filled");
  } else {
    Refuse("form field " + name + " filled" + Under());
  }
}

}  // namespace

std::string TOvPDFRevisionChanges::Summary() const {
  if (Verdict == TOvPDFChangeVerdict::cvNone) return "no";
  const bool refused = Verdict == TOvPDFChangeVerdict::cvNotAllowed;
  const std::vector<std::string>& list = refused ? NotAllowed : Allowed;
  constexpr size_t kShown = 6;
  std::string text = refused ? "yes, NOT allowed (" : "yes, allowed (";
  for (size_t i = 0; i < list.size() && i < kShown; ++i) text += (i ? ", " : "") + list[i];
  if (list.size() > kShown) text += ", and " + std::to_string(list.size() - kShown) + " more";
  return text + ")";
}

TOvPDFRevisionChanges CompareRevisionWithFinal(TOvStream& file, int64_t revisionEnd) {
  TOvPDFRevisionChanges result;
  const TCvPositionGuard restore(file);
  const int64_t size = file.Size();
  if (revisionEnd >= size) return result;
  auto refuse = [&](const std::string& what) {
    result.NotAllowed.push_back(what);
    result.Verdict = TOvPDFChangeVerdict::cvNotAllowed;
    return result;
  };
  if (revisionEnd <= 0) return refuse("the signed revision cannot be found");
  TCvPrefixStream revisionBytes(file, revisionEnd);
  TCvPrefixStream finalBytes(file, size);
  // The sides hold the files, which are large; they live on the heap.
  auto revision = std::make_unique<TCvSide>();
  auto whole = std::make_unique<TCvSide>();
  try {
    revision->File.Reload(revisionBytes);
  } catch (const std::exception&) {
    return refuse("the signed revision cannot be read");
  }
  try {
    whole->File.SetKeepSections(true);
    whole->File.Reload(finalBytes);
  } catch (const std::exception&) {
    return refuse("the file cannot be read");
  }
  // Nothing reachable after the revision: bytes no viewer reads.
  if (whole->File.LastStartXRef() == revision->File.LastStartXRef() && !whole->File.Damaged())
    return result;
  try {
    TCvJudge judge(result, *revision, *whole, revisionEnd);
    judge.Run();
  } catch (const std::exception&) {
    result.NotAllowed.push_back("the later updates cannot be read");
  }
  if (!result.NotAllowed.empty()) {
    result.Verdict = TOvPDFChangeVerdict::cvNotAllowed;
  } else {
    result.Verdict = TOvPDFChangeVerdict::cvAllowed;
    if (result.Allowed.empty()) result.Allowed.emplace_back("an update that changes nothing");
  }
  return result;
}

}  // namespace corvane
