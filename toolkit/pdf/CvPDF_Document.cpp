// TOvPDFDocument: opening, closing with saving, encryption state, new objects.
#include "toolkit/pdf/CvPDF.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <unordered_set>

#include "platform/PlatformFiles.h"
#include "platform/PlatformSystem.h"
#include "toolkit/crypto/CvMD.h"

namespace corvane {

namespace {

[[noreturn]] void Interrupted() { throw EOvPDFDocumentError("Operation was interrupted by user"); }

}  // namespace

// A file-backed scratch stream that disappears with its descriptor: the name
// is removed at once, so nothing is left behind whatever happens later.
std::unique_ptr<TOvStream> NewScratchFileStream() {
  platform::TempFile temp;
  std::string error;
  if (!platform::CreateTempFile(platform::TempDirectory(), "cvn", temp, error)) {
    throw EOvPDFDocumentError("Cannot create a temporary file: " + error);
  }
  ::unlink(temp.path.c_str());
  return std::make_unique<TOvFileStream>(temp.fd, temp.path);
}

void UseScratchFileWorkingStream(TOvPDFDocument& document) {
  document.SetOnCreateTemporaryStream([](TOvPDFDocument*, TOvStream*& stream, bool& freeOnClose) {
    stream = NewScratchFileStream().release();
    freeOnClose = true;
  });
}

TOvPDFDocument::TOvPDFDocument() : file_(std::make_unique<TOvPDFFile>()) {}

TOvPDFDocument::~TOvPDFDocument() {
  try {
    Close(false);
  } catch (...) {
    // Destruction stays quiet.
  }
}

void TOvPDFDocument::ResetState() {
  nextObjectNumber_ = 0;
  numberingChecked_ = false;
  usedFieldNames_.clear();
  encrypted_ = decrypted_ = opened_ = false;
  pendingUpdate_ = false;
  linearized_ = false;
  requirements_.clear();
  pages_.clear();
  pageWalk_ = {};
  attachments_.clear();
  encryptionFilter_.clear();
  encryptionSubFilter_.clear();
  signatures_.clear();
  emptySignatureFields_.clear();
  readHandlers_.clear();
  securityHandler_.reset();  // it refers to the objects freed next
  file_->FreeObjects();
}

void TOvPDFDocument::ReleaseWorkingStream() {
  ownedWorking_.reset();
  working_ = nullptr;
  freeWorking_ = false;
}

// The document's hooks on its file for the length of one open or save.
class TOvPDFDocument::TCvFileHooks {
 public:
  explicit TCvFileHooks(TOvPDFDocument& document) : document_(document) {
    document_.InstallFileHooks();
  }
  ~TCvFileHooks() { document_.RemoveFileHooks(); }
  TCvFileHooks(const TCvFileHooks&) = delete;
  TCvFileHooks& operator=(const TCvFileHooks&) = delete;

 private:
  TOvPDFDocument& document_;
};

void TOvPDFDocument::InstallFileHooks() {
  file_->SetOnProgress([this](TOvPDFFile&, int percent, bool& cancel) {
    if (onProgress_) onProgress_(this, percent, cancel);
  });
  // A full rewrite is built in a scratch file, so memory does not grow with
  // the size of the document.
  file_->SetOnCreateTemporaryStream([](TOvPDFFile&, TOvStream*& stream, bool& owns) {
    stream = NewScratchFileStream().release();
    owns = true;
  });
}

void TOvPDFDocument::RemoveFileHooks() {
  file_->SetOnProgress(nullptr);
  file_->SetOnCreateTemporaryStream(nullptr);
}

void TOvPDFDocument::Open(TOvStream& stream) {
  // Opening again releases the previous working stream first.
  ReleaseWorkingStream();
  documentStream_ = nullptr;
  ResetState();

  if (workInPlace_) {
    working_ = &stream;  // the caller's own: nothing to copy, nothing to free
  } else {
    TOvStream* supplied = nullptr;
    bool freeOnClose = false;
    if (onCreateTemporaryStream_) onCreateTemporaryStream_(this, supplied, freeOnClose);
    if (supplied) {
      working_ = supplied;
      freeWorking_ = freeOnClose;
      if (freeOnClose) ownedWorking_.reset(supplied);
    } else {
      ownedWorking_ = std::make_unique<TOvMemoryStream>();
      working_ = ownedWorking_.get();
      freeWorking_ = true;
    }
  }
  try {
    if (working_ != &stream) {
      const int64_t size = stream.Size();
      working_->SetSize(size);
      working_->SetPosition(0);
      stream.SetPosition(0);
      if (size > 0) working_->CopyFrom(stream, size);
    }
    OpenStream();
  } catch (...) {
    ReleaseWorkingStream();
    throw;
  }
  documentStream_ = &stream;
  opened_ = true;
}

void TOvPDFDocument::OpenStream() {
  {
    const TCvFileHooks hooks(*this);
    file_->Reload(*working_);
  }
  if (file_->IsEncrypted() && file_->HasCompressedObjects()) {
    DetectEncryption();
    if (onDecryptionInfoNeeded_) onDecryptionInfoNeeded_(this);
    Decrypt();
    ReadStructure();
  } else {
    ReadStructure();
    DetectEncryption();
  }
}

// DetectEncryption, SetupSecurityHandler and Decrypt: CvPDF_Encryption.cpp.

void TOvPDFDocument::EnumerateStringsAndStreams(
    bool includeStreams, size_t startIndex, const std::vector<TOvPDFObject*>& extraObjects,
    const std::function<bool(TOvPDFObject*)>& callback) {
  std::vector<TOvPDFObject*> roots;
  std::unordered_set<TOvPDFObject*> seen;
  const auto& list = file_->ObjectList();
  const size_t count = list.size() > startIndex ? list.size() - startIndex : 0;
  for (size_t i = startIndex; i < list.size(); ++i) {
    TOvPDFIndirect* target = list[i]->Resolve();
    if (target && target->Value && seen.insert(target->Value).second)
      roots.push_back(target->Value);
    if (!ReportProgress(static_cast<int>(45 * (i - startIndex) / std::max<size_t>(count, 1)))) {
      Interrupted();
    }
  }
  for (TOvPDFObject* extra : extraObjects) {
    TOvPDFObject* value = ResolveValue(extra);
    if (value && seen.insert(value).second) roots.push_back(value);
  }
  // Breadth first; references are not followed (every indirect object is a root).
  std::deque<TOvPDFObject*> queue(roots.begin(), roots.end());
  std::vector<TOvPDFObject*> taken;
  size_t processed = 0;
  int best = 0;
  while (!queue.empty()) {
    TOvPDFObject* obj = queue.front();
    queue.pop_front();
    ++processed;
    if (dynamic_cast<TOvPDFString*>(obj)) {
      taken.push_back(obj);
    } else if (auto* stream = dynamic_cast<TOvPDFStream*>(obj)) {
      if (includeStreams) {
        taken.push_back(stream);
        if (stream->Dictionary) {
          for (const auto& item : stream->Dictionary->Items()) {
            if (item.Object) queue.push_back(item.Object);
          }
        }
      }
    } else if (auto* array = dynamic_cast<TOvPDFArray*>(obj)) {
      for (const auto& item : array->Items()) {
        if (item.Object) queue.push_back(item.Object);
      }
    }
    best = std::max(best, static_cast<int>(processed * 100 / (processed + queue.size())));
    if (!ReportProgress(45 + best * 39 / 100)) Interrupted();
  }
  for (size_t i = 0; i < taken.size(); ++i) {
    if (!callback(taken[i])) {
      throw EOvPDFDocumentError("Internal error OvPDFDocument.EnumerateStringsAndStreams.1");
    }
    if (!ReportProgress(static_cast<int>(84 + i * 16 / taken.size()))) Interrupted();
  }
}

void ForEachFormField(TOvPDFDictionary* catalog,
                      const std::function<bool(TOvPDFDictionary* field)>& visit) {
  TOvPDFDictionary* form = catalog ? GetDictEntry(catalog, "AcroForm", false) : nullptr;
  TOvPDFArray* fields = form ? GetArrayEntry(form, "Fields", false) : nullptr;
  if (!fields) return;
  std::vector<std::pair<TOvPDFArray*, int>> pending{{fields, 0}};
  std::unordered_set<TOvPDFObject*> visited;
  while (!pending.empty()) {
    auto [list, depth] = pending.back();
    pending.pop_back();
    if (depth > PDF_MAX_TREE_DEPTH) continue;
    for (const auto& item : list->Items()) {
      auto* field = dynamic_cast<TOvPDFDictionary*>(ResolveValue(item.Object));
      if (!field || !visited.insert(field).second) continue;
      if (!visit(field)) return;
      if (TOvPDFArray* kids = GetArrayEntry(field, "Kids", false))
        pending.emplace_back(kids, depth + 1);
    }
  }
}

bool TOvPDFDocument::HasSignatureValues() {
  TOvPDFDictionary* catalog = nullptr;
  try {
    catalog = Catalog();
  } catch (const EOvPDFError&) {
    return false;
  }
  if (!catalog) return false;
  bool found = false;
  ForEachFormField(catalog, [&found](TOvPDFDictionary* field) {
    auto* value = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(field, "V"));
    found = value && GetEntry(value, "Contents");
    return !found;
  });
  return found;
}

void TOvPDFDocument::RefuseRewriteOfSignedDocument() {
  if (HasSignatureValues()) {
    throw EOvPDFDocumentError(
        "The document is signed; rewriting it would invalidate its signatures");
  }
}

void TOvPDFDocument::Close(bool save) {
  if (!opened_) return;
  if (save) {
    const TCvFileHooks hooks(*this);
    if (PendingSignatureCount() == 0 && !pendingUpdate_) {
      // Nothing to sign: the document is written anew.
      file_->SetFullRewrite(true);
      RemoveEntry(file_->Trailer(), "Prev");
      RefuseRewriteOfSignedDocument();
      file_->Save();
    } else {
      file_->SetFullRewrite(false);
      PrepareCertification();
      if (file_->Damaged() || decrypted_) {
        // Updates are appended to a clean rewrite, never to damaged tables.
        RefuseRewriteOfSignedDocument();
        RemoveEntry(file_->Trailer(), "Prev");
        file_->SetFullRewrite(true);
        file_->Save();
        file_->Reload(*working_);
        if (!file_->IsEncrypted()) ReadStructure();
        pendingUpdate_ = false;  // the rewrite holds it
      }
      WritePendingUpdate();
      WriteSignatureEntries();
    }
    if (working_ != documentStream_) {
      working_->SetPosition(0);
      documentStream_->SetSize(working_->Size());
      documentStream_->SetPosition(0);
      if (working_->Size() > 0) documentStream_->CopyFrom(*working_, working_->Size());
    }
  }
  ReleaseWorkingStream();
  documentStream_ = nullptr;
  opened_ = false;
}

TOvPDFDictionary* TOvPDFDocument::Catalog() {
  TOvPDFObject* root = GetEntry(file_->Trailer(), "Root");
  if (!root) return nullptr;
  auto* catalog = dynamic_cast<TOvPDFDictionary*>(ResolveValue(root));
  if (!catalog) throw EOvPDFDocumentError("Invalid document (Bad document catalog)");
  return catalog;
}

TOvPDFDictionary* TOvPDFDocument::Info() {
  TOvPDFObject* info = GetEntry(file_->Trailer(), "Info");
  if (!info) return nullptr;
  auto* dictionary = dynamic_cast<TOvPDFDictionary*>(ResolveValue(info));
  if (!dictionary) throw EOvPDFDocumentError("Invalid document (Bad information dictionary)");
  return dictionary;
}

TOvPDFDictionary* TOvPDFDocument::NamesDictionary() {
  TOvPDFDictionary* catalog = Catalog();
  return catalog ? GetDictEntry(catalog, "Names", false) : nullptr;
}

TOvPDFArray* TOvPDFDocument::DocumentID() {
  TOvPDFDictionary* trailer = file_->Trailer();
  if (TOvPDFObject* id = GetEntry(trailer, "ID")) {
    auto* array = dynamic_cast<TOvPDFArray*>(ResolveValue(id));
    if (!array || dynamic_cast<TOvPDFDictionary*>(array)) {
      throw EOvPDFDocumentError("Invalid document ID");
    }
    return array;
  }
  // ISO 32000-1 14.4: any unique value; time, size and tick count, with bytes
  // from the system's random source so that two runs never collide.
  char text[96];
  const std::time_t now = static_cast<std::time_t>(platform::CurrentUnixTime());
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
  std::string seed = text;
  seed += std::to_string(working_ ? working_->Size() : 0);
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(platform::GetTickCount()));
  seed += text;
  char random[16] = {};
  platform::SystemRandomBytes(random, sizeof random);
  seed.append(random, sizeof random);
  const std::string digest = HashMD5(seed);
  TOvPDFArray* array = file_->NewArray();
  array->AddItem(file_->NewString(digest, 1));
  array->AddItem(file_->NewString(digest, 1));
  array->SetModified(true);
  SetEntry(trailer, "ID", array);
  return array;
}

void TOvPDFDocument::AddNewObject(TOvPDFObject* value, int32_t& number, int32_t& generation) {
  if (!numberingChecked_) {
    // Once per document: past every number the file defines or references,
    // so no dangling reference ever lands on a new object.
    numberingChecked_ = true;
    nextObjectNumber_ = std::max(nextObjectNumber_, file_->HighestUsedNumber());
  }
  if (nextObjectNumber_ >= PDF_MAX_OBJECT_NUMBER - 1) {
    throw EOvPDFDocumentError("Invalid document (too many objects)");
  }
  number = nextObjectNumber_ + 1;
  generation = 0;
  TOvPDFIndirect* indirect = file_->NewIndirect(number, generation, value);
  file_->AddObject(indirect);
  indirect->MarkModified();
  SetTrailerSize(static_cast<int64_t>(number) + 1);
  nextObjectNumber_ = number;
}

TOvPDFRef* TOvPDFDocument::MakeRef(int32_t number, int32_t generation) {
  TOvPDFRef* ref = file_->NewRef(number, generation);
  ref->LeadingSpace.assign(1, ' ');
  return ref;
}

void TOvPDFDocument::SetTrailerSize(int64_t size) {
  SetIntEntry(file_->Trailer(), "Size", size, true);
}

bool TOvPDFDocument::ReportProgress(int percent) {
  if (!onProgress_) return true;
  bool cancel = false;
  onProgress_(this, percent, cancel);
  return !cancel;
}

}  // namespace corvane
