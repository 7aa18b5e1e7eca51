// Object digests of the DocMDP and FieldMDP transforms: a hash over the
// structure of what a certification protects, independent of how the
// objects are laid out in the file.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "toolkit/crypto/CvMD.h"
#include "toolkit/crypto/CvSHA.h"
#include "toolkit/pdf/CvPDF.h"

namespace corvane {

namespace {

class TCvDigest {
 public:
  explicit TCvDigest(bool sha1) : sha1_(sha1) {
    if (sha1_) {
      SHA1Init(sha1State_);
    } else {
      MD5Init(md5State_);
    }
  }
  void Update(std::string_view bytes) {
    if (sha1_) {
      SHA1Update(sha1State_, bytes.data(), bytes.size());
    } else {
      MD5Update(md5State_, bytes.data(), bytes.size());
    }
  }
  void Byte(uint8_t b) { Update(std::string_view(reinterpret_cast<const char*>(&b), 1)); }
  void Int(uint32_t n) {
    const char bytes[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                           static_cast<char>(n >> 8), static_cast<char>(n)};
    Update(std::string_view(bytes, 4));
  }
  ByteString Finish() {
    if (sha1_) {
      uint8_t out[SHA1_DIGEST_SIZE];
      SHA1Finish(sha1State_, out);
      return ByteString(reinterpret_cast<char*>(out), sizeof out);
    }
    uint8_t out[MD5_DIGEST_SIZE];
    MD5Finish(md5State_, out);
    return ByteString(reinterpret_cast<char*>(out), sizeof out);
  }
  size_t Size() const { return sha1_ ? SHA1_DIGEST_SIZE : MD5_DIGEST_SIZE; }

 private:
  bool sha1_;
  TMD5State md5State_{};
  TSHA1State sha1State_{};
};

[[noreturn]] void TooDeep() { throw EOvPDFParseError("Bad object"); }

// What tells one object from another while digesting: the number of an
// indirect object (the same whether it is loaded or only looked at), else
// the direct object itself, which is known only while it lives.
struct TCvKey {
  uint64_t Id = 0;
  bool Indirect = false;
  bool operator==(const TCvKey&) const = default;
};

struct TCvKeyHash {
  size_t operator()(const TCvKey& key) const noexcept {
    return std::hash<uint64_t>()(key.Id) ^ (key.Indirect ? size_t{0x9E3779B97F4A7C15ull} : 0);
  }
};

TCvKey NumberKey(int32_t number, int32_t generation) {
  return TCvKey{(static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32) |
                    static_cast<uint32_t>(generation),
                true};
}

// The key of an object reached without a reference: a loaded indirect
// object's value by its number, anything else by itself.
TCvKey KeyOf(const TOvPDFObject* value) {
  if (const auto* indirect = value ? dynamic_cast<const TOvPDFIndirect*>(value->Parent()) : nullptr;
      indirect && indirect->Value == value) {
    return NumberKey(indirect->Number, indirect->Generation);
  }
  return TCvKey{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value)), false};
}

// The digest reads a large document without keeping it: an object that is
// not loaded is looked at where it lies and freed after its part of the
// digest, which is remembered by its number. Only the nodes above pages and
// fields, and values followed for a single test (a type, a name, a flag),
// are loaded for good.
class TCvTransformDigest {
 public:
  TCvTransformDigest(TOvPDFDocument& document, bool sha1, int32_t p)
      : document_(document), file_(document.File()), sha1_(sha1), p_(p) {}

  ByteString DocMDP();
  ByteString FieldMDP(const std::vector<std::string>& names);

 private:
  TCvDigest New() const { return TCvDigest(sha1_); }
  ByteString Empty() { return New().Finish(); }

  // Hands use the value item stands for and its key: loaded, or looked at
  // for the length of the call.
  template <class F>
  void With(TOvPDFObject* item, F&& use);
  // The value of item, loaded for good when it is a reference.
  TOvPDFObject* Value(TOvPDFObject* item);

  ByteString ObjectHash(TOvPDFObject* item, bool infoText = false);
  ByteString GuardedHash(TOvPDFObject* value, const TCvKey& key);
  ByteString ValueHash(TOvPDFObject* value, const TCvKey& key, bool infoText);
  void Remember(const TCvKey& key, const ByteString& digest);
  void FeedKey(TCvDigest& hash, TOvPDFDictionary* dict, const TCvKey& dictKey, std::string_view key,
               bool inherited, bool nullWhenAbsent);
  TOvPDFObject* Lookup(TOvPDFDictionary* dict, const TCvKey& dictKey, std::string_view key,
                       bool inherited, bool* own = nullptr);
  ByteString PageDigest(TOvPDFDictionary* page, const TCvKey& key);
  ByteString FieldDigest(TOvPDFDictionary* field, const TCvKey& key);
  ByteString AnnotationDigest(TOvPDFDictionary* annot);
  ByteString ActionDigest(TOvPDFDictionary* action);
  void PageAnnotations(TCvDigest& hash, TOvPDFDictionary* page);

  TOvPDFDocument& document_;
  TOvPDFFile& file_;
  bool sha1_;
  int32_t p_;
  // Digests of objects already hashed in this computation.
  std::unordered_map<TCvKey, ByteString, TCvKeyHash> cache_;
  std::unordered_set<TCvKey, TCvKeyHash> path_;
  // Direct objects remembered inside a look, forgotten when it ends: their
  // memory is freed then, and may hold another object next.
  std::vector<TCvKey> scoped_;
  int looks_ = 0;
  // How deeply object hashes are nested right now (pages, fields and
  // actions all pass through ObjectHash).
  int depth_ = 0;
};

// Counts one level of nesting for the length of a call.
class TCvDepthGuard {
 public:
  explicit TCvDepthGuard(int& depth) : depth_(depth) {
    if (++depth_ > PDF_MAX_NESTING) {
      --depth_;
      TooDeep();
    }
  }
  ~TCvDepthGuard() { --depth_; }
  TCvDepthGuard(const TCvDepthGuard&) = delete;
  TCvDepthGuard& operator=(const TCvDepthGuard&) = delete;

 private:
  int& depth_;
};

template <class F>
void TCvTransformDigest::With(TOvPDFObject* item, F&& use) {
  auto* ref = dynamic_cast<TOvPDFRef*>(item);
  if (!ref) {
    use(item, KeyOf(item));
    return;
  }
  const TCvKey key = NumberKey(ref->Number, ref->Generation);
  TOvPDFRef* canonical = ref->FindCanonical();
  if (canonical && !canonical->Resolved && !canonical->Target) {
    const auto look = [&](TOvPDFIndirect* object) {
      const size_t mark = scoped_.size();
      ++looks_;
      use(object ? object->Value : nullptr, key);
      --looks_;
      for (size_t i = mark; i < scoped_.size(); ++i) cache_.erase(scoped_[i]);
      scoped_.resize(mark);
    };
    if (file_.PeekObject(ref->Number, ref->Generation, look)) return;
  }
  TOvPDFIndirect* target = file_.ResolveForGood(ref);
  use(target ? target->Value : nullptr, key);
}

TOvPDFObject* TCvTransformDigest::Value(TOvPDFObject* item) {
  auto* ref = dynamic_cast<TOvPDFRef*>(item);
  if (!ref) return item;
  TOvPDFIndirect* target = file_.ResolveForGood(ref);
  return target ? target->Value : nullptr;
}

void TCvTransformDigest::Remember(const TCvKey& key, const ByteString& digest) {
  if (cache_.insert_or_assign(key, digest).second && !key.Indirect && looks_ > 0) {
    scoped_.push_back(key);
  }
}

TOvPDFObject* TCvTransformDigest::Lookup(TOvPDFDictionary* dict, const TCvKey& dictKey,
                                         std::string_view key, bool inherited, bool* own) {
  if (own) *own = false;
  std::unordered_set<TCvKey, TCvKeyHash> seen;
  TCvKey at = dictKey;
  for (int depth = 0; dict && depth <= PDF_MAX_TREE_DEPTH && seen.insert(at).second; ++depth) {
    if (TOvPDFObject* value = GetEntry(dict, key)) {
      if (own) *own = depth == 0;
      return value;
    }
    if (!inherited) return nullptr;
    TOvPDFObject* parent = GetEntry(dict, "Parent");
    auto* ref = dynamic_cast<TOvPDFRef*>(parent);
    dict = dynamic_cast<TOvPDFDictionary*>(Value(parent));
    at = ref ? NumberKey(ref->Number, ref->Generation) : KeyOf(dict);
  }
  return nullptr;
}

void TCvTransformDigest::FeedKey(TCvDigest& hash, TOvPDFDictionary* dict, const TCvKey& dictKey,
                                 std::string_view key, bool inherited, bool nullWhenAbsent) {
  if (TOvPDFObject* value = Lookup(dict, dictKey, key, inherited)) {
    hash.Update(ObjectHash(value));
  } else if (nullWhenAbsent) {
    hash.Byte(0);
  }
}

ByteString TCvTransformDigest::ObjectHash(TOvPDFObject* item, bool infoText) {
  const TCvDepthGuard guard(depth_);
  if (auto* ref = dynamic_cast<TOvPDFRef*>(item)) {
    const auto it = cache_.find(NumberKey(ref->Number, ref->Generation));
    if (it != cache_.end()) return it->second;
  }
  ByteString result;
  With(item,
       [&](TOvPDFObject* value, const TCvKey& key) { result = ValueHash(value, key, infoText); });
  return result;
}

ByteString TCvTransformDigest::GuardedHash(TOvPDFObject* value, const TCvKey& key) {
  const TCvDepthGuard guard(depth_);
  return ValueHash(value, key, false);
}

ByteString TCvTransformDigest::ValueHash(TOvPDFObject* obj, const TCvKey& key, bool infoText) {
  if (!obj || dynamic_cast<TOvPDFNull*>(obj)) return std::string(1, '\0');
  if (auto it = cache_.find(key); it != cache_.end()) return it->second;
  auto* dict = dynamic_cast<TOvPDFDictionary*>(obj);
  if (dict) {
    auto* type = dynamic_cast<TOvPDFName*>(Value(GetEntry(dict, "Type")));
    if (type && type->GetName() == "Page") return PageDigest(dict, key);
  }
  std::string bytes;
  auto put4 = [&bytes](uint32_t n) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((n >> shift) & 0xFF);
  };
  if (auto* number = dynamic_cast<TOvPDFReal*>(obj)) {
    bytes += number->IsInteger() ? '\x01' : '\x02';
    put4(static_cast<uint32_t>(number->AsInt()));
    return bytes;
  }
  if (auto* boolean = dynamic_cast<TOvPDFBoolean*>(obj)) {
    return std::string{'\x03', boolean->GetBool() ? '\x01' : '\x00'};
  }
  if (auto* name = dynamic_cast<TOvPDFName*>(obj)) {
    const std::string text = name->GetName();
    bytes += '\x04';
    put4(static_cast<uint32_t>(text.size()));
    return bytes + text;
  }
  if (auto* string = dynamic_cast<TOvPDFString*>(obj)) {
    std::string text = string->PlainValue.empty() ? string->GetText() : string->PlainValue;
    if (infoText) {
      std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    }
    if (text.empty()) return {};
    bytes += '\x05';
    put4(static_cast<uint32_t>(text.size()));
    return bytes + text;
  }
  if (auto* stream = dynamic_cast<TOvPDFStream*>(obj)) {
    TCvDigest a = New();
    a.Byte(8);
    if (!path_.insert(key).second) {
      a.Int(0xFFFFFFFF);
      return a.Finish();
    }
    TCvDigest b = New();
    uint32_t present = 0;
    for (const char* name : {"F", "FFilter", "Filter", "Length"}) {
      TOvPDFObject* value = GetEntry(stream->Dictionary, name);
      if (!value) continue;
      ++present;
      b.Byte(4);
      b.Int(static_cast<uint32_t>(std::string_view(name).size()));
      b.Update(name);
      b.Update(ObjectHash(value));
    }
    a.Int(present);
    a.Update(b.Finish());
    const std::string data = stream->GetRawData();
    a.Int(static_cast<uint32_t>(data.size()));
    a.Update(data);
    path_.erase(key);
    ByteString result = a.Finish();
    if (TOvPDFObject* resources = GetEntry(stream->Dictionary, "Resources")) {
      result += ObjectHash(resources);
    }
    Remember(key, result);
    return result;
  }
  if (auto* array = dynamic_cast<TOvPDFArray*>(obj)) {
    const bool isDict = dict != nullptr;
    TCvDigest a = New();
    a.Byte(isDict ? 6 : 7);
    if (!path_.insert(key).second) {
      a.Int(0xFFFFFFFF);
      return a.Finish();
    }
    TCvDigest b = New();
    if (isDict) {
      std::vector<std::pair<std::string, TOvPDFObject*>> items;
      std::unordered_set<std::string> keys;
      for (const auto& item : array->Items()) {
        if (keys.insert(item.Key.str()).second) items.emplace_back(item.Key.str(), item.Object);
      }
      std::sort(items.begin(), items.end(),
                [](const auto& x, const auto& y) { return x.first < y.first; });
      a.Int(static_cast<uint32_t>(items.size()));
      for (const auto& [name, value] : items) {
        b.Byte(4);
        b.Int(static_cast<uint32_t>(name.size()));
        b.Update(name);
        b.Update(ObjectHash(value));
      }
    } else {
      a.Int(static_cast<uint32_t>(array->Items().size()));
      for (const auto& item : array->Items()) b.Update(ObjectHash(item.Object));
    }
    a.Update(b.Finish());
    path_.erase(key);
    ByteString result = a.Finish();
    // Arrays are kept too: a shared array reached many times is hashed once.
    Remember(key, result);
    return result;
  }
  return std::string(1, '\0');
}

ByteString TCvTransformDigest::PageDigest(TOvPDFDictionary* page, const TCvKey& key) {
  if (auto it = cache_.find(key); it != cache_.end()) return it->second;
  const TCvDepthGuard guard(depth_);
  TCvDigest hash = New();
  // A page reached again from its own resources is not hashed again.
  if (!path_.insert(key).second) return std::string(4, '\xFF');
  FeedKey(hash, page, key, "MediaBox", true, false);
  if (Lookup(page, key, "CropBox", true)) {
    FeedKey(hash, page, key, "CropBox", true, false);
  } else {
    FeedKey(hash, page, key, "MediaBox", true, false);
  }
  bool own = false;
  if (TOvPDFObject* resources = Lookup(page, key, "Resources", true, &own)) {
    if (own) {
      hash.Update(ObjectHash(resources));
    } else {
      hash.Update(std::string(hash.Size(), '\0'));
    }
  } else {
    hash.Byte(0);
  }
  FeedKey(hash, page, key, "Contents", false, true);
  FeedKey(hash, page, key, "Rotate", true, true);
  FeedKey(hash, page, key, "AA", false, false);
  path_.erase(key);
  ByteString result = hash.Finish();
  Remember(key, result);
  return result;
}

ByteString TCvTransformDigest::ActionDigest(TOvPDFDictionary* action) {
  TCvDigest hash = New();
  const TCvKey key = KeyOf(action);
  for (const char* name : {"S", "D", "F", "NewWindow", "O", "P", "B", "Base", "Sound", "Vol",
                           "Annot", "T", "H", "N", "JS", "URI"}) {
    FeedKey(hash, action, key, name, false, false);
  }
  return hash.Finish();
}

ByteString TCvTransformDigest::FieldDigest(TOvPDFDictionary* field, const TCvKey& key) {
  TCvDigest hash = New();
  if (dynamic_cast<TOvPDFString*>(Value(Lookup(field, key, "T", true))))
    FeedKey(hash, field, key, "T", true, false);
  if (dynamic_cast<TOvPDFName*>(Value(Lookup(field, key, "FT", true))))
    FeedKey(hash, field, key, "FT", true, false);
  FeedKey(hash, field, key, "DV", true, true);
  if (!GetEntry(field, "Lock")) {
    With(GetEntry(field, "V"), [&](TOvPDFObject* v, const TCvKey&) {
      auto* value = dynamic_cast<TOvPDFDictionary*>(v);
      auto* p = value ? dynamic_cast<TOvPDFReal*>(Value(GetEntry(value, "P"))) : nullptr;
      if (!p || p->AsInt() != 1) return;
      if (Lookup(field, key, "V", true)) {
        FeedKey(hash, field, key, "V", true, false);
      } else if (Lookup(field, key, "AS", true)) {
        FeedKey(hash, field, key, "AS", true, false);
      } else {
        hash.Byte(0);
      }
    });
  }
  With(Lookup(field, key, "A", true), [&](TOvPDFObject* value, const TCvKey&) {
    if (auto* action = dynamic_cast<TOvPDFDictionary*>(value)) hash.Update(ActionDigest(action));
  });
  auto* ff = dynamic_cast<TOvPDFReal*>(Value(Lookup(field, key, "Ff", true)));
  const int32_t flags = ff ? ff->AsInt() : 0;
  auto* f = dynamic_cast<TOvPDFReal*>(Value(GetEntry(field, "F")));
  const int32_t annotFlags = f ? f->AsInt() : 0;
  for (const int32_t n : {flags & ~1, annotFlags & 127}) {
    hash.Byte(1);
    hash.Int(static_cast<uint32_t>(n));
  }
  With(GetEntry(field, "Lock"), [&](TOvPDFObject* value, const TCvKey& lockKey) {
    if (dynamic_cast<TOvPDFDictionary*>(value)) hash.Update(GuardedHash(value, lockKey));
  });
  return hash.Finish();
}

ByteString TCvTransformDigest::AnnotationDigest(TOvPDFDictionary* annot) {
  TCvDigest hash = New();
  const TCvKey key = KeyOf(annot);
  FeedKey(hash, annot, key, "T", false, false);
  if (GetEntry(annot, "F")) {
    FeedKey(hash, annot, key, "F", false, false);
  } else {
    hash.Byte(1);
    hash.Int(0);
  }
  for (const char* name : {"A", "AA"}) {
    With(GetEntry(annot, name), [&](TOvPDFObject* value, const TCvKey&) {
      if (auto* action = dynamic_cast<TOvPDFDictionary*>(value)) hash.Update(ActionDigest(action));
    });
  }
  for (const char* name : {"Dest", "QuadPoints", "Inklist", "Name", "FS", "Sound", "AP"}) {
    FeedKey(hash, annot, key, name, false, false);
  }
  return hash.Finish();
}

void TCvTransformDigest::PageAnnotations(TCvDigest& hash, TOvPDFDictionary* page) {
  TOvPDFObject* entry = GetEntry(page, "Annots");
  if (!entry) return;
  With(entry, [&](TOvPDFObject* value, const TCvKey&) {
    auto* annots = dynamic_cast<TOvPDFArray*>(value);
    if (!annots || dynamic_cast<TOvPDFDictionary*>(annots)) {
      throw EOvPDFSecurityHandlerError("Invalid document (Invalid annotation)");
    }
    // Each annotation is looked at twice: for its place in the order, then
    // for its digest. Holding them all between would hold the whole page.
    struct TItem {
      size_t Index;
      std::string Name;
      std::string NM;
      bool HasNM;
    };
    std::vector<TItem> items;
    const auto text = [&](TOvPDFDictionary* dict, std::string_view name) {
      auto* string = dynamic_cast<TOvPDFString*>(Value(GetEntry(dict, name)));
      return string ? string->GetText() : std::string();
    };
    for (size_t i = 0; i < annots->Items().size(); ++i) {
      With(annots->Items()[i].Object, [&](TOvPDFObject* object, const TCvKey& key) {
        auto* annot = dynamic_cast<TOvPDFDictionary*>(object);
        if (!annot) throw EOvPDFSecurityHandlerError("Invalid document (Invalid annotation)");
        std::string name;
        std::unordered_set<TCvKey, TCvKeyHash> seen;
        TOvPDFDictionary* node = annot;
        TCvKey at = key;
        for (int depth = 0; node && depth <= PDF_MAX_TREE_DEPTH && seen.insert(at).second;
             ++depth) {
          const std::string t = text(node, "T");
          if (!t.empty()) name = t;
          TOvPDFObject* parent = GetEntry(node, "Parent");
          auto* ref = dynamic_cast<TOvPDFRef*>(parent);
          node = dynamic_cast<TOvPDFDictionary*>(Value(parent));
          at = ref ? NumberKey(ref->Number, ref->Generation) : KeyOf(node);
        }
        for (char& c : name) {
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        }
        const bool hasNM = GetEntry(annot, "NM") != nullptr;
        items.push_back(TItem{i, name, text(annot, "NM"), hasNM});
      });
    }
    std::stable_sort(items.begin(), items.end(), [](const TItem& x, const TItem& y) {
      if (x.Name != y.Name) return x.Name < y.Name;
      if (x.HasNM != y.HasNM) return x.HasNM;
      return x.NM < y.NM;
    });
    for (const TItem& item : items) {
      With(annots->Items()[item.Index].Object, [&](TOvPDFObject* object, const TCvKey& key) {
        auto* annot = dynamic_cast<TOvPDFDictionary*>(object);
        if (!annot) throw EOvPDFSecurityHandlerError("Invalid document (Invalid annotation)");
        auto* subtype = dynamic_cast<TOvPDFName*>(Value(GetEntry(annot, "Subtype")));
        if (subtype && subtype->GetName() == "Widget") {
          hash.Update(FieldDigest(annot, key));
        } else if (p_ != 3) {
          hash.Update(AnnotationDigest(annot));
        }
      });
    }
  });
}

ByteString TCvTransformDigest::DocMDP() {
  TCvDigest h = New();
  const ByteString empty = Empty();
  TOvPDFDictionary* catalog = document_.Catalog();
  {
    TCvDigest sub = New();
    FeedKey(sub, catalog, KeyOf(catalog), "AA", false, false);
    FeedKey(sub, catalog, KeyOf(catalog), "Legal", false, false);
    sub.Update(
        std::string_view("\x04\x00\x00\x00\x06"
                         "DocMDP",
                         11));
    h.Update(sub.Finish());
  }
  {
    TCvDigest sub = New();
    if (TOvPDFDictionary* info = document_.Info()) {
      for (const char* key : {"Title", "Author", "Keywords", "Subject"}) {
        if (TOvPDFObject* value = GetEntry(info, key)) sub.Update(ObjectHash(value, true));
      }
    }
    h.Update(sub.Finish());
  }
  h.Update(empty);
  const auto digestPage = [&](TOvPDFObject* value, const TCvKey& key) {
    auto* page = dynamic_cast<TOvPDFDictionary*>(value);
    h.Update(PageDigest(page, key));
    PageAnnotations(h, page);
  };
  for (const TOvPDFPageInfo& page : document_.Pages()) {
    if (TOvPDFRef* ref = page.Reference()) {
      With(ref, digestPage);
    } else {
      TOvPDFDictionary* dict = page.Dictionary();
      digestPage(dict, KeyOf(dict));
    }
  }
  h.Update(empty);
  {
    TCvDigest g = New();
    std::vector<std::pair<std::string, TOvPDFObject*>> pairs;
    TOvPDFDictionary* names = document_.NamesDictionary();
    TOvPDFDictionary* tree = names ? GetDictEntry(names, "EmbeddedFiles", false) : nullptr;
    std::vector<std::pair<TOvPDFDictionary*, int>> pending;
    if (tree) pending.emplace_back(tree, 0);
    std::unordered_set<TOvPDFDictionary*> seen;
    while (!pending.empty()) {
      auto [node, depth] = pending.back();
      pending.pop_back();
      if (depth > PDF_MAX_TREE_DEPTH || !seen.insert(node).second) continue;
      if (TOvPDFArray* list = GetArrayEntry(node, "Names", false)) {
        for (size_t i = 0; i + 1 < list->ItemCount(); i += 2) {
          auto* key = dynamic_cast<TOvPDFString*>(ResolveValue(list->GetItem(i)));
          pairs.emplace_back(key ? key->GetText() : std::string(), list->GetItem(i));
        }
      }
      if (TOvPDFArray* kids = GetArrayEntry(node, "Kids", false)) {
        for (const auto& kid : kids->Items()) {
          if (auto* dict = dynamic_cast<TOvPDFDictionary*>(ResolveValue(kid.Object)))
            pending.emplace_back(dict, depth + 1);
        }
      }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    for (const auto& [name, keyObject] : pairs) {
      auto* array = dynamic_cast<TOvPDFArray*>(keyObject->Parent());
      TOvPDFObject* value = nullptr;
      for (size_t i = 0; array && i + 1 < array->ItemCount(); i += 2) {
        if (array->GetItem(i) == keyObject) value = array->GetItem(i + 1);
      }
      if (!dynamic_cast<TOvPDFDictionary*>(ResolveValue(value))) continue;
      TCvDigest sub = New();
      sub.Update(ObjectHash(keyObject));
      sub.Update(ObjectHash(value));
      g.Update(sub.Finish());
    }
    h.Update(g.Finish());
  }
  h.Update(empty);
  return h.Finish();
}

ByteString TCvTransformDigest::FieldMDP(const std::vector<std::string>& names) {
  TCvDigest h = New();
  TOvPDFDictionary* catalog = document_.Catalog();
  TOvPDFDictionary* form = catalog ? GetDictEntry(catalog, "AcroForm", false) : nullptr;
  TOvPDFArray* fields = form ? GetArrayEntry(form, "Fields", false) : nullptr;
  for (const std::string& name : names) {
    for (size_t i = 0; fields && i < fields->ItemCount(); ++i) {
      if (!dynamic_cast<TOvPDFRef*>(fields->GetItem(i))) continue;
      auto* field = dynamic_cast<TOvPDFDictionary*>(ResolveValue(fields->GetItem(i)));
      if (field && DecodeTextString(GetStringEntry(field, "T", false)) == name)
        h.Update(FieldDigest(field, KeyOf(field)));
    }
  }
  h.Update(Empty());
  return h.Finish();
}

}  // namespace

ByteString ComputeTransformDigest(TOvPDFSecurityHandler* handler, TOvPDFSignature& entry,
                                  const TOvPDFSigRefEntry& reference) {
  if (reference.DigestMethod > 1) {
    throw EOvPDFSecurityHandlerError("Unsupported digest algorithm");
  }
  TOvPDFDocument* document = entry.Document();
  if (!document && handler) document = handler->Document();
  if (!document) throw EOvPDFSecurityHandlerError("Security handler is not bound to PDF document");
  TCvTransformDigest digest(*document, reference.DigestMethod == 1, reference.P);
  if (reference.TransformMethod == 3) return digest.FieldMDP(reference.Fields);
  return digest.DocMDP();
}

}  // namespace corvane
