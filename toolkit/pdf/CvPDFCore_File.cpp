// TOvPDFFile: lifetime, the canonical object list and the table of entries.
#include "toolkit/pdf/CvPDFCore.h"

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <new>

#include "toolkit/common/CvScope.h"

namespace corvane {

namespace {

uint64_t Key(int32_t number, int32_t generation) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(generation);
}

}  // namespace

// --- TOvPDFXRefs ------------------------------------------------------------------

namespace {

bool KeyLess(const TOvPDFXrefEntry& a, const TOvPDFXRefs::TKey& b) {
  return TOvPDFXRefs::TKey{a.Generation, a.Number} < b;
}

// The entry with key in a sorted array, or nil.
template <class Vector>
auto FindSorted(Vector& entries, const TOvPDFXRefs::TKey& key) -> decltype(entries.data()) {
  auto it = std::lower_bound(entries.begin(), entries.end(), key, KeyLess);
  if (it == entries.end() || it->Generation != key.first || it->Number != key.second)
    return nullptr;
  return &*it;
}

}  // namespace

TOvPDFXrefEntry* TOvPDFXRefs::Add(int32_t number, int32_t generation, bool replace,
                                  bool raiseIfExists, int64_t offset) {
  const TKey key{generation, number};
  const TOvPDFXrefEntry made{number, generation, offset, false, 0, 0};
  if (entries_.empty() || KeyOf(entries_.back()) < key) {
    // Tables list their entries in order: the common case appends.
    entries_.push_back(made);
    return &entries_.back();
  }
  if (TOvPDFXrefEntry* entry = Find(number, generation)) {
    if (raiseIfExists) {
      throw EOvPDFError("Object [" + std::to_string(number) + ", " + std::to_string(generation) +
                        "] already exists");
    }
    if (!replace) return nullptr;
    *entry = made;
    return entry;
  }
  TOvPDFXrefEntry* entry = nullptr;
  if (inOrder_.empty() || KeyOf(inOrder_.back()) < key) {
    inOrder_.push_back(made);
    entry = &inOrder_.back();
  } else {
    entry = &stray_.emplace(key, made).first->second;
  }
  // Merged when the waiting entries are as many as the array holds: the
  // work stays within a few times the table's size however it comes.
  if (inOrder_.size() + stray_.size() > std::max<size_t>(entries_.size(), 64)) {
    Merge();
    entry = Find(number, generation);
  }
  return entry;
}

void TOvPDFXRefs::Merge() const {
  if (inOrder_.empty() && stray_.empty()) return;
  std::vector<TOvPDFXrefEntry> merged;
  merged.reserve(entries_.size() + inOrder_.size() + stray_.size());
  auto a = entries_.begin();
  auto b = inOrder_.begin();
  auto c = stray_.begin();
  for (;;) {
    const TOvPDFXrefEntry* next = nullptr;
    if (a != entries_.end()) next = &*a;
    if (b != inOrder_.end() && (!next || KeyOf(*b) < KeyOf(*next))) next = &*b;
    if (c != stray_.end() && (!next || c->first < KeyOf(*next))) next = &c->second;
    if (!next) break;
    merged.push_back(*next);
    if (a != entries_.end() && next == &*a) {
      ++a;
    } else if (b != inOrder_.end() && next == &*b) {
      ++b;
    } else {
      ++c;
    }
  }
  entries_ = std::move(merged);
  std::vector<TOvPDFXrefEntry>().swap(inOrder_);
  stray_.clear();
}

TOvPDFXrefEntry* TOvPDFXRefs::AddCompressed(int32_t number, int32_t generation, int32_t index,
                                            int32_t streamNumber, bool replace) {
  TOvPDFXrefEntry* entry = Add(number, generation, replace, false, 0);
  if (entry) {
    entry->Compressed = true;
    entry->StreamNumber = streamNumber;
    entry->StreamIndex = index;
  }
  return entry;
}

const TOvPDFXrefEntry* TOvPDFXRefs::Find(int32_t number, int32_t generation) const {
  const TKey key{generation, number};
  if (entries_.empty() || KeyOf(entries_.back()) < key) return nullptr;
  if (const TOvPDFXrefEntry* entry = FindSorted(entries_, key)) return entry;
  if (const TOvPDFXrefEntry* entry = FindSorted(inOrder_, key)) return entry;
  auto it = stray_.find(key);
  return it == stray_.end() ? nullptr : &it->second;
}

TOvPDFXrefEntry* TOvPDFXRefs::Find(int32_t number, int32_t generation) {
  return const_cast<TOvPDFXrefEntry*>(std::as_const(*this).Find(number, generation));
}

void TOvPDFXRefs::Remove(int32_t number, int32_t generation) {
  Merge();
  if (TOvPDFXrefEntry* entry = FindSorted(entries_, TKey{generation, number})) {
    entries_.erase(entries_.begin() + (entry - entries_.data()));
  }
}

void TOvPDFXRefs::RemoveIf(const std::function<bool(const TOvPDFXrefEntry& entry)>& drop) {
  Merge();
  std::erase_if(entries_, drop);
}

void TOvPDFXRefs::Reserve(size_t count) {
  // Only a count that at least doubles the table: many small sections must
  // not each copy it.
  if (count >= entries_.size() && entries_.capacity() < entries_.size() + count) {
    entries_.reserve(entries_.size() + count);
  }
}

void TOvPDFXRefs::Clear() {
  std::vector<TOvPDFXrefEntry>().swap(entries_);
  std::vector<TOvPDFXrefEntry>().swap(inOrder_);
  stray_.clear();
}

// --- TCvObjectArena -----------------------------------------------------------------

// Under the address sanitizer every object is a block of its own, so that a
// use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define TAVRA_ARENA_PASS_THROUGH 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRA_ARENA_PASS_THROUGH 1
#endif
#endif
#ifndef TAVRA_ARENA_PASS_THROUGH
#define TAVRA_ARENA_PASS_THROUGH 0
#endif

void* TCvObjectArena::Allocate(size_t size) {
  size = Rounded(size);
  if (TAVRA_ARENA_PASS_THROUGH || size > kLargest) return ::operator new(size);
  void*& chain = free_[size / kGrain];
  if (chain) {
    void* memory = chain;
    chain = *static_cast<void**>(memory);
    return memory;
  }
  if (left_ < size) AddBlock();
  void* memory = next_;
  next_ += size;
  left_ -= size;
  return memory;
}

void TCvObjectArena::AddBlock() {
  const bool large = blocks_.size() >= kSmallBlocks;
  const size_t size = large ? kLargeBlock : kSmallBlock;
  blocks_.reserve(blocks_.size() + 1);
#ifdef _WIN32
  // No aligned allocation that free() releases; the alignment only served
  // the huge-page hint, which has no counterpart there.
  void* block = std::malloc(size);
  if (!block) throw std::bad_alloc();
#else
  void* block = large ? std::aligned_alloc(kLargeBlock, size) : std::malloc(size);
  if (!block) throw std::bad_alloc();
  // Only a hint: without transparent huge pages the block is faulted in as usual.
  if (large) ::madvise(block, size, MADV_HUGEPAGE);
#endif
  blocks_.push_back(block);
  next_ = static_cast<std::byte*>(block);
  left_ = size;
}

void TCvObjectArena::Free(void* memory, size_t size) noexcept {
  size = Rounded(size);
  if (TAVRA_ARENA_PASS_THROUGH || size > kLargest) {
    ::operator delete(memory);
    return;
  }
  void*& chain = free_[size / kGrain];
  *static_cast<void**>(memory) = chain;
  chain = memory;
}

void TCvObjectArena::Clear() noexcept {
  for (void* block : blocks_) std::free(block);
  blocks_.clear();
  next_ = nullptr;
  left_ = 0;
  for (void*& chain : free_) chain = nullptr;
}

// --- TOvPDFFile ---------------------------------------------------------------------

TOvPDFFile::TOvPDFFile() = default;

TOvPDFFile::~TOvPDFFile() { DestroyNewest(0); }

void TOvPDFFile::Destroy(TOvPDFObject* obj) noexcept {
  const size_t size = obj->allocated_;
  if (obj->writeRecorded_) write_positions_.erase(obj);
  obj->~TOvPDFObject();
  arena_.Free(obj, size);
}

void TOvPDFFile::DestroyNewest(size_t count) noexcept {
  if (count == 0) {
    // Everything goes: the blocks are dropped whole instead of each object's
    // memory being chained up for reuse first.
    for (TOvPDFObject* obj : registry_) {
      if (TAVRA_ARENA_PASS_THROUGH) {
        Destroy(obj);
      } else {
        obj->~TOvPDFObject();
      }
    }
    registry_.clear();
    arena_.Clear();
    write_positions_.clear();
    return;
  }
  while (registry_.size() > count) {
    Destroy(registry_.back());
    registry_.pop_back();
  }
}

void TOvPDFFile::DestroyScratch(size_t count) noexcept {
  size_t kept = count;
  for (size_t i = count; i < registry_.size(); ++i) {
    TOvPDFObject* obj = registry_[i];
    if (obj->scratch_) {
      Destroy(obj);
    } else {
      registry_[kept++] = obj;
    }
  }
  registry_.resize(kept);
}

void TOvPDFFile::Reset() {
  for (TOvPDFRef* ref : object_list_) ref->parent_ = nullptr;
  object_list_.clear();
  canonical_.Clear();
  canonical_dirty_ = false;
  trailer_ = nullptr;
  modified_entries_.clear();
  xrefs_.Clear();
  xref_stream_object_ = nullptr;
  on_stream_data_ = nullptr;
  lengths_.clear();
  highest_reference_ = 0;
  std::vector<bool>().swap(counted_);
  counted_other_.clear();
}

void TOvPDFFile::Reload(TOvStream& source) {
  Reset();
  source_ = &source;
  full_rewrite_ = false;
  Load();
}

void TOvPDFFile::FreeObjects() {
  Reset();
  DestroyNewest(0);
}

void TOvPDFFile::AddWarning(int64_t offset, int32_t number, const std::string& text) {
  if (warnings_.size() >= PDF_MAX_WARNINGS) {
    ++warnings_dropped_;
    return;
  }
  const std::string key = std::to_string(offset) + "/" + std::to_string(number) + "/" + text;
  if (!warning_keys_.insert(key).second) return;
  warnings_.push_back(TOvPDFWarning{offset, number, text});
}

void TOvPDFFile::ReleaseScratch(TOvPDFObject* obj) {
  // Scratch objects are released right after they were parsed, so they sit at
  // the end; a bounded look keeps this constant time.
  constexpr size_t kNewest = 4;
  const size_t count = registry_.size();
  for (size_t k = 1; k <= kNewest && k <= count; ++k) {
    auto& slot = registry_[count - k];
    if (slot != obj) continue;
    std::swap(slot, registry_.back());
    registry_.pop_back();
    Destroy(obj);
    return;
  }
}

TOvPDFObject* TOvPDFFile::ParseMember(TOvStream& input) {
  // Comments are whitespace before an object as anywhere else (QDF files put
  // "%% Object stream: ..." before each member); each one consumes at least
  // its "%", so the loop ends.
  TOvPDFObject* obj = ParseObject(input);
  while (dynamic_cast<TOvPDFComment*>(obj)) {
    ReleaseScratch(obj);
    obj = ParseObject(input);
  }
  return obj;
}

bool TOvPDFFile::ParseInteger(TOvStream& input, int32_t& value) {
  TOvPDFObject* obj = ParseMember(input);
  const auto* number = dynamic_cast<const TOvPDFReal*>(obj);
  const bool ok = number && TryStrToInt32(number->Data, value);
  ReleaseScratch(obj);
  return ok;
}

void TOvPDFFile::AddObject(TOvPDFObject* obj) {
  auto* indirect = dynamic_cast<TOvPDFIndirect*>(obj);
  if (!indirect) throw EOvPDFTypeError("Only indirect objects allowed");
  TOvPDFRef* ref = NewRef(indirect->Number, indirect->Generation);
  ref->Target = indirect;
  indirect->owner_ = this;
  AppendCanonical(ref);
}

void TOvPDFFile::AppendCanonical(TOvPDFRef* ref) {
  object_list_.push_back(ref);
  if (!canonical_dirty_) canonical_.Insert(ref);
}

void TOvPDFFile::RebuildCanonicalIndex() {
  canonical_.Clear();
  canonical_.Size(MaxObjectNumber(), object_list_.size());
  for (TOvPDFRef* ref : object_list_) canonical_.Insert(ref);
  canonical_dirty_ = false;
}

TOvPDFRef* TOvPDFFile::FindCanonical(int32_t number, int32_t generation) {
  if (canonical_dirty_) RebuildCanonicalIndex();
  return canonical_.Find(number, generation);
}

void TOvPDFFile::TCvCanonicalIndex::Clear() {
  std::vector<TOvPDFRef*>().swap(table);
  other.clear();
}

void TOvPDFFile::TCvCanonicalIndex::Size(int32_t highest, size_t objects) {
  // A table for sparse numbers would cost far more than the objects: a file
  // may name one object 2,000,000,000.
  const auto wanted = static_cast<size_t>(std::max(highest, 0)) + 1;
  if (wanted > 2 * objects + 1024 || wanted <= table.size()) return;
  table.resize(wanted, nullptr);
}

void TOvPDFFile::TCvCanonicalIndex::Insert(TOvPDFRef* ref) {
  const uint64_t key = Key(ref->Number, ref->Generation);
  if (ref->Generation == 0 && ref->Number >= 0 && static_cast<size_t>(ref->Number) < table.size()) {
    TOvPDFRef*& slot = table[static_cast<size_t>(ref->Number)];
    if (!slot && (other.empty() || !other.count(key))) slot = ref;
    return;
  }
  other.emplace(key, ref);
}

TOvPDFRef* TOvPDFFile::TCvCanonicalIndex::Find(int32_t number, int32_t generation) const {
  if (generation == 0 && number >= 0 && static_cast<size_t>(number) < table.size()) {
    if (TOvPDFRef* ref = table[static_cast<size_t>(number)]) return ref;
  }
  if (other.empty()) return nullptr;
  auto it = other.find(Key(number, generation));
  return it == other.end() ? nullptr : it->second;
}

bool TOvPDFFile::IsEncrypted() { return trailer_ && trailer_->IndexOfKey("Encrypt") >= 0; }

void TOvPDFFile::AddCompressedObjects() {
  for (const auto& [key, entry] : xrefs_) {
    if (entry.Compressed && !FindCanonical(entry.Number, entry.Generation)) {
      TOvPDFRef* ref = NewRef(entry.Number, entry.Generation);
      AppendCanonical(ref);
    }
  }
}

int64_t TOvPDFFile::IndexOfObject(TOvPDFObject* obj) {
  if (auto* ref = dynamic_cast<TOvPDFRef*>(obj)) {
    TOvPDFIndirect* target = ref->Resolve();
    obj = target ? target->Value : nullptr;
  } else if (auto* indirect = dynamic_cast<TOvPDFIndirect*>(obj)) {
    obj = indirect->Value;
  }
  if (!obj) return -1;
  // Only objects that were loaded (or added) can be the value asked for, so the
  // search never loads anything.
  for (size_t i = 0; i < object_list_.size(); ++i) {
    const TOvPDFIndirect* target = object_list_[i]->Target;
    if (target && target->Value == obj) return static_cast<int64_t>(i);
  }
  return -1;
}

int32_t TOvPDFFile::MaxObjectNumber() const {
  int32_t max = 0;
  for (const auto& [key, entry] : xrefs_) max = std::max(max, entry.Number);
  return max;
}

int32_t TOvPDFFile::HighestKnownNumber() const {
  int32_t highest = std::max(MaxObjectNumber(), highest_reference_);
  if (const auto* size = dynamic_cast<const TOvPDFReal*>(GetEntry(trailer_, "Size"))) {
    int32_t value = 0;
    if (TryStrToInt32(size->Data, value) && value > 0) highest = std::max(highest, value - 1);
  }
  return highest;
}

int32_t HighestReferenceIn(std::string_view text) {
  int32_t highest = 0;
  // The last two tokens while they are integers (the parser's rule for the
  // numbers before "R"); anything else starts over.
  int32_t numbers[2] = {0, 0};
  int held = 0;
  size_t i = 0;
  const size_t size = text.size();
  while (i < size) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (IsPdfWhitespace(c)) {
      ++i;
    } else if (c == '%') {
      // A comment is whitespace to the parser too.
      while (i < size && text[i] != '\r' && text[i] != '\n') ++i;
    } else if (c == '(') {
      int depth = 0;
      for (; i < size; ++i) {
        if (text[i] == '\\') {
          ++i;
        } else if (text[i] == '(') {
          ++depth;
        } else if (text[i] == ')' && --depth == 0) {
          ++i;
          break;
        }
      }
      held = 0;
    } else if (c == '<' && i + 1 < size && text[i + 1] == '<') {
      i += 2;
      held = 0;
    } else if (c == '<') {
      const size_t end = text.find('>', i);
      i = end == std::string_view::npos ? size : end + 1;
      held = 0;
    } else if (c == '/' || IsPdfRegular(c)) {
      const size_t start = i++;
      while (i < size && IsPdfRegular(static_cast<uint8_t>(text[i]))) ++i;
      const std::string_view token = text.substr(start, i - start);
      int32_t value = 0;
      if (c != '/' && TryStrToInt32(token, value)) {
        if (held == 2) numbers[0] = numbers[1];
        numbers[held == 2 ? 1 : held] = value;
        held = std::min(held + 1, 2);
      } else {
        if (token == "R" && held == 2) highest = std::max(highest, numbers[0]);
        held = 0;
      }
    } else {
      ++i;  // a delimiter
      held = 0;
    }
  }
  return highest;
}

bool TOvPDFFile::CountObjectStreamReferences(int32_t number, int32_t streamNumber) {
  try {
    const TOvPDFStream* stream = DecodedObjectStream(number, streamNumber);
    if (!stream) return false;
    const TCvObjectStreamCache& cache = stream->ObjectStream;
    // Let go once every member was made: they counted their references.
    if (cache.Content.empty()) return cache.Made == cache.Objects.size();
    const auto first = static_cast<size_t>(std::max<int64_t>(cache.First, 0));
    const std::string_view members =
        std::string_view(cache.Content).substr(std::min(first, cache.Content.size()));
    highest_reference_ = std::max(highest_reference_, HighestReferenceIn(members));
    return true;
  } catch (const EOvPDFError&) {
  } catch (const EStreamError&) {
  }
  return false;
}

int32_t TOvPDFFile::HighestUsedNumber() {
  // Object-stream members first: their streams are decoded for good, and
  // afterwards nothing the scan of the other objects reaches needs loading.
  // Members hold no streams: their references are read from the decoded
  // text token by token, without making objects; those of a stream that
  // cannot be read that way are looked at one by one. Index based: loading
  // an object stream may add to the list.
  std::unordered_map<int32_t, bool> counted;
  for (size_t pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < object_list_.size(); ++i) {
      TOvPDFRef* ref = object_list_[i];
      // Parsed objects counted their references when they were read, and
      // so did those a look went through (the pages a certification walks).
      if (ref->Resolved || ref->Target || Counted(ref->Number, ref->Generation)) continue;
      const TOvPDFXrefEntry* entry = xrefs_.Find(ref->Number, ref->Generation);
      if ((entry && entry->Compressed) == (pass == 1)) continue;
      if (pass == 0) {
        const int32_t container = entry->StreamNumber;
        auto [it, fresh] = counted.emplace(container, false);
        if (fresh) it->second = CountObjectStreamReferences(ref->Number, container);
        if (it->second) continue;
      }
      try {
        if (!PeekObject(ref->Number, ref->Generation, {})) ref->Resolve();
      } catch (const EOvPDFError&) {
        // An object that does not read references nothing we could see.
      } catch (const EStreamError&) {
      }
    }
  }
  return HighestKnownNumber();
}

bool TOvPDFFile::PeekObject(int32_t number, int32_t generation,
                            const std::function<void(TOvPDFIndirect* object)>& look) {
  const TOvPDFRef* canonical = FindCanonical(number, generation);
  const TOvPDFXrefEntry* entry = xrefs_.Find(number, generation);
  if (!source_ || !canonical || canonical->Resolved || canonical->Target || !entry) return false;
  TOvPDFStream* stream = nullptr;
  int64_t member = -1;
  if (entry->Compressed) {
    if (generation != 0) return false;
    {
      // Decoded for good even inside another look: its members are looked
      // at one by one, each decoding would cost the whole stream.
      const TCvScopedValue<bool> forGood(peeking_, false);
      stream = DecodedObjectStream(number, entry->StreamNumber);
    }
    member = stream ? MemberIndex(stream->ObjectStream, number, entry->StreamIndex) : -1;
    if (member < 0 || stream->ObjectStream.Objects[static_cast<size_t>(member)]) return false;
  }
  // Looking through a large file must not keep a second copy of it in
  // memory. While peeking, nothing is loaded for good (see TOvPDFRef::Resolve
  // and LoadLengthValue), so nothing outside the freed objects can point
  // into them.
  const TCvRegistryRollback rollback{*this, registry_.size()};
  const TCvScopedValue<bool> scanning(peeking_, true);
  TOvPDFIndirect* object = stream ? ParseMemberAt(stream, static_cast<size_t>(member))
                                  : LoadObject(*source_, number, generation);
  NoteCounted(number, generation);
  if (look) look(object);
  return true;
}

void TOvPDFFile::NoteCounted(int32_t number, int32_t generation) {
  if (generation == 0 && number >= 0 && static_cast<size_t>(number) < canonical_.table.size()) {
    if (counted_.size() < canonical_.table.size()) counted_.resize(canonical_.table.size(), false);
    counted_[static_cast<size_t>(number)] = true;
  } else {
    counted_other_.insert(Key(number, generation));
  }
}

bool TOvPDFFile::Counted(int32_t number, int32_t generation) const {
  if (generation == 0 && number >= 0 && static_cast<size_t>(number) < counted_.size()) {
    return counted_[static_cast<size_t>(number)];
  }
  return !counted_other_.empty() && counted_other_.count(Key(number, generation)) > 0;
}

TOvPDFIndirect* TOvPDFFile::ResolveForGood(TOvPDFRef* ref) {
  const TCvScopedValue<bool> forGood(peeking_, false);
  return ref->Resolve();
}

bool TOvPDFFile::Progress(int percent) {
  if (!on_progress_) return true;
  bool cancel = false;
  on_progress_(*this, percent, cancel);
  return !cancel;
}

}  // namespace corvane
