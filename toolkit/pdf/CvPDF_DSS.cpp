// The document security store: reading what a file holds, liberally and
// within bounds, and adding validation data to it for the next update.
#include "toolkit/pdf/CvPDF_DSS.h"

#include <array>
#include <unordered_map>
#include <unordered_set>

#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvSHA.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

namespace {

// Array items looked at while reading one store, however often a hostile
// file names the same objects.
constexpr size_t kMaxVisits = 1000000;

constexpr size_t kKinds = 3;
// The store's arrays and a VRI entry's arrays, by kind: certificates, OCSP
// responses, CRLs (ISO 32000-2 12.8.4.3, 12.8.4.4).
constexpr std::array<std::string_view, kKinds> kStoreKeys = {"Certs", "OCSPs", "CRLs"};
constexpr std::array<std::string_view, kKinds> kVRIKeys = {"Cert", "OCSP", "CRL"};

std::vector<ByteString>& ListOf(TCvValidationData& data, size_t kind) {
  return kind == 0 ? data.Certificates : kind == 1 ? data.OCSPs : data.CRLs;
}

const std::vector<ByteString>& ListOf(const TCvValidationData& data, size_t kind) {
  return kind == 0 ? data.Certificates : kind == 1 ? data.OCSPs : data.CRLs;
}

TOvPDFDictionary* AsDict(TOvPDFObject* obj) { return dynamic_cast<TOvPDFDictionary*>(obj); }

TOvPDFArray* AsArray(TOvPDFObject* obj) {
  return AsDict(obj) ? nullptr : dynamic_cast<TOvPDFArray*>(obj);
}

// The indirect object a reference names; nil when it names nothing. An
// object that exists and cannot be read raises.
TOvPDFIndirect* Target(TOvPDFObject* obj) {
  auto* ref = dynamic_cast<TOvPDFRef*>(obj);
  TOvPDFIndirect* target = ref ? ref->Resolve() : nullptr;
  return target && target->Value ? target : nullptr;
}

// The decoded data of a stream item (unfiltered or Flate); empty for
// anything else.
ByteString StreamData(TOvPDFStream* stream) {
  if (!stream || !stream->Dictionary) return {};
  try {
    return DecodeStreamData(stream);
  } catch (const std::exception&) {
    return {};
  }
}

// The VRI entry of a key: the exact key first; files exist in the wild that
// write the hex digits in lower case.
TOvPDFObject* VRIEntry(TOvPDFDictionary* vri, std::string_view key) {
  if (TOvPDFObject* entry = GetEntry(vri, key)) return entry;
  for (const auto& item : vri->Items()) {
    if (SameTextAscii(item.Key.view(), key)) return item.Object;
  }
  return nullptr;
}

// An array, or a reference to one; false for an object that cannot be read.
bool IsArrayEntry(TOvPDFObject* entry) {
  try {
    return AsArray(ResolveValue(entry)) != nullptr;
  } catch (const EOvPDFError&) {
    return false;
  }
}

// Reads the items of a store, each stream once, each value once.
class TCvStoreReader {
 public:
  // Adds the streams the array entry names that are new to data.
  void ReadArray(TOvPDFObject* entry, size_t kind, TCvValidationData& data) {
    TOvPDFArray* array = nullptr;
    try {
      array = AsArray(ResolveValue(entry));
      if (!array) return;
      for (const auto& item : array->Items()) {
        if (++visits_ > kMaxVisits) return;
        ReadItem(item.Object, kind, data);
      }
    } catch (const std::exception&) {
      // A damaged array reads as far as it goes.
    }
  }

  // Reads a VRI entry's arrays; an entry met before is not read again.
  void ReadVRIEntry(TOvPDFObject* entry, TCvValidationData& data) {
    try {
      auto* dict = AsDict(ResolveValue(entry));
      if (!dict || !entries_.insert(dict).second) return;
      for (size_t kind = 0; kind < kKinds; ++kind)
        ReadArray(GetEntry(dict, kVRIKeys[kind]), kind, data);
    } catch (const std::exception&) {
    }
  }

  bool Exhausted() const { return visits_ > kMaxVisits; }

 private:
  void ReadItem(TOvPDFObject* item, size_t kind, TCvValidationData& data) {
    try {
      auto* stream = dynamic_cast<TOvPDFStream*>(ResolveValue(item));
      if (!stream || !streams_[kind].insert(stream).second) return;
      ByteString bytes = StreamData(stream);
      if (bytes.empty() || !values_[kind].insert(bytes).second) return;
      ListOf(data, kind).push_back(std::move(bytes));
    } catch (const std::exception&) {
      // An item that cannot be read is left out.
    }
  }

  size_t visits_ = 0;
  std::array<std::unordered_set<const TOvPDFStream*>, kKinds> streams_;
  std::unordered_set<const TOvPDFDictionary*> entries_;
  std::array<std::unordered_set<ByteString>, kKinds> values_;
};

TOvPDFDictionary* ReadableStore(TOvPDFDocument& document) {
  TOvPDFDictionary* catalog = document.Catalog();
  return catalog ? AsDict(GetResolvedEntry(catalog, "DSS")) : nullptr;
}

// --- adding -----------------------------------------------------------------------------

// What the store holds already, for not writing an item twice.
struct TCvStoredItem {
  int32_t Number = 0;
  int32_t Generation = 0;
};

class TCvStoreWriter {
 public:
  explicit TCvStoreWriter(TOvPDFDocument& document) : document_(document), file_(document.File()) {}

  void Add(const std::vector<TCvDSSEntry>& entries);

 private:
  void OpenStore();
  void IndexItems(TOvPDFObject* arrayEntry, size_t kind, bool inStoreArray);
  // The store's array of a kind, made when missing.
  TOvPDFArray* StoreArray(size_t kind);
  // The item with these bytes: stored before, or written now.
  TCvStoredItem Store(size_t kind, const ByteString& bytes);
  void AddVRIEntry(const std::string& key,
                   const std::array<std::vector<TCvStoredItem>, kKinds>& items);
  // The array under key of a dictionary to be written, made when missing or
  // of another kind (a lone stream it named stays in it).
  TOvPDFArray* ArrayForUpdate(TOvPDFDictionary* owner, std::string_view key);
  TOvPDFDictionary* DictForUpdate(TOvPDFDictionary* owner, std::string_view key);
  void DeclareExtension();
  TOvPDFRef* Ref(const TCvStoredItem& item) {
    return document_.MakeRef(item.Number, item.Generation);
  }

  TOvPDFDocument& document_;
  TOvPDFFile& file_;
  sigimpl::TCvPendingSignature root_;
  TOvPDFDictionary* store_ = nullptr;
  std::array<TOvPDFArray*, kKinds> arrays_ = {};
  std::array<std::unordered_map<ByteString, TCvStoredItem>, kKinds> stored_;
  // Numbers the store's own arrays name, by kind.
  std::array<std::unordered_set<int32_t>, kKinds> listed_;
  size_t visits_ = 0;
};

// A dictionary value to change in this update: a direct one in place, an
// indirect one marked to be written; nil when the entry is missing or not a
// dictionary. An entry naming an object that cannot be read raises.
TOvPDFDictionary* TCvStoreWriter::DictForUpdate(TOvPDFDictionary* owner, std::string_view key) {
  TOvPDFObject* entry = GetEntry(owner, key);
  if (auto* dict = AsDict(entry)) return dict;
  TOvPDFIndirect* target = nullptr;
  try {
    target = Target(entry);
  } catch (const EOvPDFError&) {
    throw EOvPDFDocumentError("Invalid DSS entry");
  }
  auto* dict = target ? AsDict(target->Value) : nullptr;
  if (dict) target->MarkModified();
  return dict;
}

void TCvStoreWriter::OpenStore() {
  sigimpl::FindCatalog(file_, root_);
  store_ = DictForUpdate(root_.Catalog, "DSS");
  if (!store_ || store_->Parent() == root_.Catalog) {
    // Missing, or something that is no store: a new one in its place. A
    // store written in the catalog itself moves to an object of its own.
    store_ = store_ ? static_cast<TOvPDFDictionary*>(store_->Clone()) : file_.NewDictionary();
    SetEntry(root_.Catalog, "DSS", sigimpl::NewIndirectRef(document_, store_));
  }
  root_.CatalogObject->MarkModified();
  for (size_t kind = 0; kind < kKinds; ++kind) {
    TOvPDFObject* entry = GetEntry(store_, kStoreKeys[kind]);
    IndexItems(entry, kind, true);
    // An entry of another form (a lone stream) becomes an array.
    if (entry && !IsArrayEntry(entry)) StoreArray(kind);
  }
  // What only VRI entries name is stored too; an entry that cannot be read
  // is left as it is.
  try {
    if (auto* vri = AsDict(ResolveValue(GetEntry(store_, "VRI")))) {
      for (const auto& item : vri->Items()) {
        TOvPDFDictionary* entry = nullptr;
        try {
          entry = AsDict(ResolveValue(item.Object));
        } catch (const EOvPDFError&) {
        }
        for (size_t kind = 0; entry && kind < kKinds; ++kind)
          IndexItems(GetEntry(entry, kVRIKeys[kind]), kind, false);
      }
    }
  } catch (const EOvPDFError&) {
  }
}

void TCvStoreWriter::IndexItems(TOvPDFObject* arrayEntry, size_t kind, bool inStoreArray) {
  // The references an array names; a lone reference where the array belongs
  // is taken as one (the array made for the update keeps it).
  std::vector<TOvPDFRef*> refs;
  try {
    if (auto* array = AsArray(ResolveValue(arrayEntry))) {
      for (const auto& item : array->Items()) {
        if (++visits_ > kMaxVisits) break;
        if (auto* ref = dynamic_cast<TOvPDFRef*>(item.Object)) refs.push_back(ref);
      }
    } else if (auto* ref = dynamic_cast<TOvPDFRef*>(arrayEntry)) {
      refs.push_back(ref);
    }
  } catch (const EOvPDFError&) {
  }
  for (TOvPDFRef* ref : refs) {
    TOvPDFIndirect* target = nullptr;
    try {
      target = Target(ref);
    } catch (const EOvPDFError&) {
      continue;
    }
    auto* stream = target ? dynamic_cast<TOvPDFStream*>(target->Value) : nullptr;
    ByteString bytes = StreamData(stream);
    if (bytes.empty()) continue;
    if (inStoreArray) listed_[kind].insert(ref->Number);
    stored_[kind].emplace(std::move(bytes), TCvStoredItem{ref->Number, ref->Generation});
  }
}

TOvPDFArray* TCvStoreWriter::ArrayForUpdate(TOvPDFDictionary* owner, std::string_view key) {
  TOvPDFObject* entry = GetEntry(owner, key);
  if (auto* array = AsArray(entry)) return array;
  TOvPDFIndirect* target = nullptr;
  try {
    target = Target(entry);
  } catch (const EOvPDFError&) {
    throw EOvPDFDocumentError("Invalid DSS entry");
  }
  if (auto* array = target ? AsArray(target->Value) : nullptr) {
    target->MarkModified();
    return array;
  }
  TOvPDFArray* array = sigimpl::NewFlatArray(file_);
  if (target && dynamic_cast<TOvPDFStream*>(target->Value)) {
    auto* ref = static_cast<TOvPDFRef*>(entry);
    sigimpl::AppendToArray(array, document_.MakeRef(ref->Number, ref->Generation));
  }
  SetEntry(owner, key, array);
  return array;
}

TOvPDFArray* TCvStoreWriter::StoreArray(size_t kind) {
  if (!arrays_[kind]) arrays_[kind] = ArrayForUpdate(store_, kStoreKeys[kind]);
  return arrays_[kind];
}

TCvStoredItem TCvStoreWriter::Store(size_t kind, const ByteString& bytes) {
  auto found = stored_[kind].find(bytes);
  if (found != stored_[kind].end()) {
    // Named so far only by a VRI entry: the store's array names it too.
    if (listed_[kind].insert(found->second.Number).second)
      sigimpl::AppendToArray(StoreArray(kind), Ref(found->second));
    return found->second;
  }
  TOvPDFStream* stream = TOvPDFStream::NewStream(&file_);
  stream->SetContent(bytes);
  CompressStream(stream, false);
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document_, stream);
  const TCvStoredItem item{ref->Number, ref->Generation};
  sigimpl::AppendToArray(StoreArray(kind), ref);
  listed_[kind].insert(item.Number);
  stored_[kind].emplace(bytes, item);
  return item;
}

void TCvStoreWriter::AddVRIEntry(const std::string& key,
                                 const std::array<std::vector<TCvStoredItem>, kKinds>& items) {
  TOvPDFDictionary* vri = DictForUpdate(store_, "VRI");
  if (!vri) {
    vri = file_.NewDictionary();
    SetEntry(store_, "VRI", vri);
  }
  TOvPDFDictionary* entry = nullptr;
  TOvPDFObject* existing = VRIEntry(vri, key);
  if (auto* dict = AsDict(existing)) {
    entry = dict;
  } else if (TOvPDFIndirect* target = existing ? Target(existing) : nullptr;
             target && AsDict(target->Value)) {
    entry = AsDict(target->Value);
    target->MarkModified();
  }
  if (!entry) {
    entry = file_.NewDictionary();
    SetEntry(vri, key, entry);
  }
  for (size_t kind = 0; kind < kKinds; ++kind) {
    if (items[kind].empty()) continue;
    TOvPDFArray* array = ArrayForUpdate(entry, kVRIKeys[kind]);
    std::unordered_set<int32_t> named;
    for (const auto& item : array->Items()) {
      if (auto* ref = dynamic_cast<TOvPDFRef*>(item.Object)) named.insert(ref->Number);
    }
    for (const TCvStoredItem& item : items[kind]) {
      if (named.insert(item.Number).second) sigimpl::AppendToArray(array, Ref(item));
    }
  }
}

// ISO 32000-2 features in an older file are declared as its writers do: the
// ESIC extension of 1.7 at level 5. The catalog gets a direct /Extensions of
// its own (an indirect one is copied, not changed), so the update changes
// nothing but the catalog and the store.
void TCvStoreWriter::DeclareExtension() {
  if (file_.Version() >= 200) return;
  const std::string version = GetNameEntry(root_.Catalog, "Version", "", false);
  if (!version.empty() && version[0] >= '2' && version[0] <= '9') return;
  TOvPDFObject* entry = GetEntry(root_.Catalog, "Extensions");
  TOvPDFDictionary* extensions = AsDict(entry);
  if (!extensions) {
    TOvPDFIndirect* target = nullptr;
    try {
      target = Target(entry);
    } catch (const EOvPDFError&) {
    }
    auto* shared = target ? AsDict(target->Value) : nullptr;
    extensions = shared ? static_cast<TOvPDFDictionary*>(shared->Clone()) : file_.NewDictionary();
    SetEntry(root_.Catalog, "Extensions", extensions);
  }
  auto* esic = AsDict(ResolveValue(GetEntry(extensions, "ESIC")));
  if (esic && GetIntEntry(esic, "ExtensionLevel", 0, false) >= 5) return;
  if (GetEntry(extensions, "ESIC") && !esic) return;  // another form (an array): left as it is
  TOvPDFDictionary* declared = file_.NewDictionary();
  AddNameEntry(declared, "BaseVersion", "1.7");
  AddIntEntry(declared, "ExtensionLevel", 5);
  SetEntry(extensions, "ESIC", declared);
}

void TCvStoreWriter::Add(const std::vector<TCvDSSEntry>& entries) {
  OpenStore();
  for (const TCvDSSEntry& entry : entries) {
    std::array<std::vector<TCvStoredItem>, kKinds> items;
    for (size_t kind = 0; kind < kKinds; ++kind) {
      std::unordered_set<int32_t> taken;
      for (const ByteString& bytes : ListOf(entry.Data, kind)) {
        if (bytes.empty()) continue;
        const TCvStoredItem item = Store(kind, bytes);
        if (taken.insert(item.Number).second) items[kind].push_back(item);
      }
    }
    if (!entry.SignatureContents.empty()) AddVRIEntry(DSSVRIKey(entry.SignatureContents), items);
  }
  DeclareExtension();
  sigimpl::Touch(store_);
  document_.SetPendingUpdate(true);
}

}  // namespace

std::string DSSVRIKey(std::string_view contentsBytes) {
  return sigimpl::Hex(HashSHA1(contentsBytes));
}

TCvValidationData ReadDSS(TOvPDFDocument& document) {
  TCvValidationData data;
  try {
    TOvPDFDictionary* store = ReadableStore(document);
    if (!store) return data;
    TCvStoreReader reader;
    for (size_t kind = 0; kind < kKinds; ++kind)
      reader.ReadArray(GetEntry(store, kStoreKeys[kind]), kind, data);
    // Items only a VRI entry names belong to the store as well.
    if (auto* vri = AsDict(GetResolvedEntry(store, "VRI"))) {
      for (const auto& item : vri->Items()) {
        if (reader.Exhausted()) break;
        reader.ReadVRIEntry(item.Object, data);
      }
    }
  } catch (const std::exception&) {
    // What could be read is kept.
  }
  return data;
}

TCvValidationData ReadDSSForSignature(TOvPDFDocument& document, std::string_view contentsBytes) {
  TCvValidationData data;
  try {
    TOvPDFDictionary* store = ReadableStore(document);
    auto* vri = store ? AsDict(GetResolvedEntry(store, "VRI")) : nullptr;
    if (!vri) return data;
    TCvStoreReader reader;
    reader.ReadVRIEntry(VRIEntry(vri, DSSVRIKey(contentsBytes)), data);
  } catch (const std::exception&) {
  }
  return data;
}

void AddDSS(TOvPDFDocument& document, const std::vector<TCvDSSEntry>& entries) {
  if (!document.Opened()) throw EOvPDFDocumentError("Document is not opened");
  // The items would have to be encrypted, and a decrypted document is only
  // ever written anew.
  if (document.Encrypted() || document.Decrypted())
    throw EOvPDFDocumentError("Cannot add validation data to an encrypted document");
  bool any = false;
  for (const TCvDSSEntry& entry : entries) any = any || !entry.Data.Empty();
  if (!any) return;
  TCvStoreWriter(document).Add(entries);
}

}  // namespace corvane
