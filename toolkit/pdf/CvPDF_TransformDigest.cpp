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

class TCvTransformDigest {
 public:
  TCvTransformDigest(TOvPDFDocument& document, bool sha1, int32_t p)
      : document_(document), sha1_(sha1), p_(p) {}

  ByteString DocMDP();
  ByteString FieldMDP(const std::vector<std::string>& names);

 private:
  TCvDigest New() const { return TCvDigest(sha1_); }
  ByteString Empty() { return New().Finish(); }

  ByteString ObjectHash(TOvPDFObject* obj, bool infoText = false);
  void FeedKey(TCvDigest& hash, TOvPDFDictionary* dict, std::string_view key, bool inherited,
               bool nullWhenAbsent);
  TOvPDFObject* Lookup(TOvPDFDictionary* dict, std::string_view key, bool inherited,
                       bool* own = nullptr);
  ByteString PageDigest(TOvPDFDictionary* page);
  ByteString FieldDigest(TOvPDFDictionary* field);
  ByteString AnnotationDigest(TOvPDFDictionary* annot);
  ByteString ActionDigest(TOvPDFDictionary* action);
  void PageAnnotations(TCvDigest& hash, TOvPDFDictionary* page);

  TOvPDFDocument& document_;
  bool sha1_;
  int32_t p_;
  // Digests of dictionaries and pages already hashed in this computation.
  std::unordered_map<TOvPDFObject*, ByteString> cache_;
  std::unordered_set<TOvPDFObject*> path_;
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

TOvPDFObject* TCvTransformDigest::Lookup(TOvPDFDictionary* dict, std::string_view key,
                                         bool inherited, bool* own) {
  if (own) *own = false;
  std::unordered_set<TOvPDFDictionary*> seen;
  for (int depth = 0; dict && depth <= PDF_MAX_TREE_DEPTH && seen.insert(dict).second; ++depth) {
    if (TOvPDFObject* value = GetEntry(dict, key)) {
      if (own) *own = depth == 0;
      return value;
    }
    if (!inherited) return nullptr;
    dict = GetDictEntry(dict, "Parent", false);
  }
  return nullptr;
}

void TCvTransformDigest::FeedKey(TCvDigest& hash, TOvPDFDictionary* dict, std::string_view key,
                                 bool inherited, bool nullWhenAbsent) {
  if (TOvPDFObject* value = Lookup(dict, key, inherited)) {
    hash.Update(ObjectHash(value));
  } else if (nullWhenAbsent) {
    hash.Byte(0);
  }
}

ByteString TCvTransformDigest::ObjectHash(TOvPDFObject* obj, bool infoText) {
  const TCvDepthGuard guard(depth_);
  obj = ResolveValue(obj);
  if (!obj || dynamic_cast<TOvPDFNull*>(obj)) return std::string(1, '\0');
  if (auto it = cache_.find(obj); it != cache_.end()) return it->second;
  auto* dict = dynamic_cast<TOvPDFDictionary*>(obj);
  if (dict && GetNameEntry(dict, "Type", "", false) == "Page") return PageDigest(dict);
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
    if (!path_.insert(stream).second) {
      a.Int(0xFFFFFFFF);
      return a.Finish();
    }
    TCvDigest b = New();
    uint32_t present = 0;
    for (const char* key : {"F", "FFilter", "Filter", "Length"}) {
      TOvPDFObject* value = GetEntry(stream->Dictionary, key);
      if (!value) continue;
      ++present;
      b.Byte(4);
      b.Int(static_cast<uint32_t>(std::string_view(key).size()));
      b.Update(key);
      b.Update(ObjectHash(value));
    }
    a.Int(present);
    a.Update(b.Finish());
    const std::string data = stream->GetRawData();
    a.Int(static_cast<uint32_t>(data.size()));
    a.Update(data);
    path_.erase(stream);
    ByteString result = a.Finish();
    if (TOvPDFObject* resources = GetEntry(stream->Dictionary, "Resources")) {
      result += ObjectHash(resources);
    }
    cache_[stream] = result;
    return result;
  }
  if (auto* array = dynamic_cast<TOvPDFArray*>(obj)) {
    const bool isDict = dict != nullptr;
    TCvDigest a = New();
    a.Byte(isDict ? 6 : 7);
    if (!path_.insert(array).second) {
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
      for (const auto& [key, value] : items) {
        b.Byte(4);
        b.Int(static_cast<uint32_t>(key.size()));
        b.Update(key);
        b.Update(ObjectHash(value));
      }
    } else {
      a.Int(static_cast<uint32_t>(array->Items().size()));
      for (const auto& item : array->Items()) b.Update(ObjectHash(item.Object));
    }
    a.Update(b.Finish());
    path_.erase(array);
    ByteString result = a.Finish();
    // Arrays are kept too: a shared array reached many times is hashed once.
    cache_[array] = result;
    return result;
  }
  return std::string(1, '\0');
}

ByteString TCvTransformDigest::PageDigest(TOvPDFDictionary* page) {
  if (auto it = cache_.find(page); it != cache_.end()) return it->second;
  const TCvDepthGuard guard(depth_);
  TCvDigest hash = New();
  // A page reached again from its own resources is not hashed again.
  if (!path_.insert(page).second) return std::string(4, '\xFF');
  FeedKey(hash, page, "MediaBox", true, false);
  if (Lookup(page, "CropBox", true)) {
    FeedKey(hash, page, "CropBox", true, false);
  } else {
    FeedKey(hash, page, "MediaBox", true, false);
  }
  bool own = false;
  if (TOvPDFObject* resources = Lookup(page, "Resources", true, &own)) {
    if (own) {
      hash.Update(ObjectHash(resources));
    } else {
      hash.Update(std::string(hash.Size(), '\0'));
    }
  } else {
    hash.Byte(0);
  }
  FeedKey(hash, page, "Contents", false, true);
  FeedKey(hash, page, "Rotate", true, true);
  FeedKey(hash, page, "AA", false, false);
  path_.erase(page);
  ByteString result = hash.Finish();
  cache_[page] = result;
  return result;
}

ByteString TCvTransformDigest::ActionDigest(TOvPDFDictionary* action) {
  TCvDigest hash = New();
  for (const char* key : {"S", "D", "F", "NewWindow", "O", "P", "B", "Base", "Sound", "Vol",
                          "Annot", "T", "H", "N", "JS", "URI"}) {
    FeedKey(hash, action, key, false, false);
  }
  return hash.Finish();
}

ByteString TCvTransformDigest::FieldDigest(TOvPDFDictionary* field) {
  TCvDigest hash = New();
  if (dynamic_cast<TOvPDFString*>(ResolveValue(Lookup(field, "T", true))))
    FeedKey(hash, field, "T", true, false);
  if (dynamic_cast<TOvPDFName*>(ResolveValue(Lookup(field, "FT", true))))
    FeedKey(hash, field, "FT", true, false);
  FeedKey(hash, field, "DV", true, true);
  if (!GetEntry(field, "Lock")) {
    auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(field, "V"));
    if (value && GetIntEntry(value, "P", 0, false) == 1) {
      if (Lookup(field, "V", true)) {
        FeedKey(hash, field, "V", true, false);
      } else if (Lookup(field, "AS", true)) {
        FeedKey(hash, field, "AS", true, false);
      } else {
        hash.Byte(0);
      }
    }
  }
  if (auto* action = dynamic_cast<TOvPDFDictionary*>(ResolveValue(Lookup(field, "A", true))))
    hash.Update(ActionDigest(action));
  auto* ff = dynamic_cast<TOvPDFReal*>(ResolveValue(Lookup(field, "Ff", true)));
  const int32_t flags = ff ? ff->AsInt() : 0;
  const int32_t annotFlags = GetIntEntry(field, "F", 0, false);
  for (const int32_t n : {flags & ~1, annotFlags & 127}) {
    hash.Byte(1);
    hash.Int(static_cast<uint32_t>(n));
  }
  if (auto* lock = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(field, "Lock")))
    hash.Update(ObjectHash(lock));
  return hash.Finish();
}

ByteString TCvTransformDigest::AnnotationDigest(TOvPDFDictionary* annot) {
  TCvDigest hash = New();
  FeedKey(hash, annot, "T", false, false);
  if (GetEntry(annot, "F")) {
    FeedKey(hash, annot, "F", false, false);
  } else {
    hash.Byte(1);
    hash.Int(0);
  }
  for (const char* key : {"A", "AA"}) {
    if (auto* action = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(annot, key)))
      hash.Update(ActionDigest(action));
  }
  for (const char* key : {"Dest", "QuadPoints", "Inklist", "Name", "FS", "Sound", "AP"}) {
    FeedKey(hash, annot, key, false, false);
  }
  return hash.Finish();
}

void TCvTransformDigest::PageAnnotations(TCvDigest& hash, TOvPDFDictionary* page) {
  TOvPDFObject* entry = GetEntry(page, "Annots");
  if (!entry) return;
  auto* annots = dynamic_cast<TOvPDFArray*>(ResolveValue(entry));
  if (!annots || dynamic_cast<TOvPDFDictionary*>(annots)) {
    throw EOvPDFSecurityHandlerError("Invalid document (Invalid annotation)");
  }
  struct TItem {
    TOvPDFDictionary* Annot;
    std::string Name;
    std::string NM;
    bool HasNM;
  };
  std::vector<TItem> items;
  for (const auto& item : annots->Items()) {
    auto* annot = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
    if (!annot) throw EOvPDFSecurityHandlerError("Invalid document (Invalid annotation)");
    std::string name;
    std::unordered_set<TOvPDFDictionary*> seen;
    TOvPDFDictionary* node = annot;
    for (int depth = 0; node && depth <= PDF_MAX_TREE_DEPTH && seen.insert(node).second; ++depth) {
      const std::string t = GetStringEntry(node, "T", false);
      if (!t.empty()) name = t;
      node = GetDictEntry(node, "Parent", false);
    }
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    const bool hasNM = GetEntry(annot, "NM") != nullptr;
    items.push_back(TItem{annot, name, GetStringEntry(annot, "NM", false), hasNM});
  }
  std::stable_sort(items.begin(), items.end(), [](const TItem& x, const TItem& y) {
    if (x.Name != y.Name) return x.Name < y.Name;
    if (x.HasNM != y.HasNM) return x.HasNM;
    return x.NM < y.NM;
  });
  for (const TItem& item : items) {
    if (GetNameEntry(item.Annot, "Subtype", "", false) == "Widget") {
      hash.Update(FieldDigest(item.Annot));
    } else if (p_ != 3) {
      hash.Update(AnnotationDigest(item.Annot));
    }
  }
}

ByteString TCvTransformDigest::DocMDP() {
  TCvDigest h = New();
  const ByteString empty = Empty();
  TOvPDFDictionary* catalog = document_.Catalog();
  {
    TCvDigest sub = New();
    FeedKey(sub, catalog, "AA", false, false);
    FeedKey(sub, catalog, "Legal", false, false);
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
  for (const TOvPDFPageInfo& page : document_.Pages()) {
    h.Update(PageDigest(page.Dictionary()));
    PageAnnotations(h, page.Dictionary());
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
        h.Update(FieldDigest(field));
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
