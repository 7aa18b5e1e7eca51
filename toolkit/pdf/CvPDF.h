// The document component: opens a PDF from a caller's stream into a private
// working stream, exposes what signing needs (catalog, pages, trailer,
// identifier, encryption state) and writes the changes back on Close.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDFCore.h"

namespace corvane {

class TOvPDFDocument;

using TCvPDFProgressEvent = std::function<void(TOvPDFDocument* sender, int percent, bool& cancel)>;
using TCvPDFCreateTemporaryStreamEvent =
    std::function<void(TOvPDFDocument* sender, TOvStream*& stream, bool& freeOnClose)>;
using TCvPDFNotifyEvent = std::function<void(TOvPDFDocument* sender)>;

struct TOvPDFPageInfo {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Rotate = 0;
  TOvPDFDictionary* PageDictionary = nullptr;
};

struct TOvPDFRequirementHandler {
  std::string Name;
  std::string Script;
};

struct TOvPDFRequirement {
  std::string Name;
  std::vector<TOvPDFRequirementHandler> Handlers;
};

struct TOvPDFFileAttachment {
  std::string KeyName;
  std::string FileName;
  std::string Description;
  TOvPDFDictionary* FileSpecification = nullptr;
  TOvPDFArray* NamesArray = nullptr;
  TOvPDFStream* EmbeddedFile = nullptr;
  std::string Subtype;
  int64_t Size = -1;
  double CreationDate = 0;
  double ModificationDate = 0;
  std::string CheckSum;
};

// Bits of the options byte.
inline constexpr uint8_t PDF_OPTION_ADD_FORM_RESOURCES = 0x01;
inline constexpr uint8_t PDF_OPTION_USE_LOCAL_TIME_ZONE = 0x02;

class TOvPDFDocument {
 public:
  TOvPDFDocument();
  virtual ~TOvPDFDocument();
  TOvPDFDocument(const TOvPDFDocument&) = delete;
  TOvPDFDocument& operator=(const TOvPDFDocument&) = delete;

  // Copies the stream into the working stream and reads the document.
  void Open(TOvStream& stream);
  // With save: writes the changes and copies the result over the caller's
  // stream. Always (unless saving failed) releases the working stream.
  void Close(bool save);
  // Decrypts an opened encrypted document in place.
  void Decrypt();

  bool Encrypted() const { return encrypted_; }
  bool Decrypted() const { return decrypted_; }
  bool Opened() const { return opened_; }
  bool Linearized() const { return linearized_; }
  // /Filter and /SubFilter of the Encrypt dictionary (empty when not encrypted).
  const std::string& EncryptionFilter() const { return encryptionFilter_; }
  const std::string& EncryptionSubFilter() const { return encryptionSubFilter_; }

  // nil when the trailer has no /Root; a /Root that is not a dictionary raises
  // "Invalid document (Bad document catalog)".
  TOvPDFDictionary* Catalog();
  TOvPDFDictionary* Info();
  TOvPDFDictionary* NamesDictionary();
  // The trailer's /ID, created (two equal 16-byte strings) when absent.
  TOvPDFArray* DocumentID();

  // Wraps value in a new indirect object with the next free number.
  void AddNewObject(TOvPDFObject* value, int32_t& number, int32_t& generation);
  TOvPDFRef* MakeRef(int32_t number, int32_t generation);
  void SetTrailerSize(int64_t size);

  size_t PageCount() const { return pages_.size(); }
  const TOvPDFPageInfo& PageInfo(size_t index) const { return pages_.at(index); }
  const std::vector<TOvPDFPageInfo>& Pages() const { return pages_; }
  const std::vector<TOvPDFRequirement>& Requirements() const { return requirements_; }
  const std::vector<TOvPDFFileAttachment>& Attachments() const { return attachments_; }

  // Calls OnProgress; false when it asked to cancel.
  bool ReportProgress(int percent);

  // Calls back for every string (and, when asked, every stream) reachable from
  // the objects of ObjectList from startIndex on and from extraObjects.
  void EnumerateStringsAndStreams(bool includeStreams, size_t startIndex,
                                  const std::vector<TOvPDFObject*>& extraObjects,
                                  const std::function<bool(TOvPDFObject*)>& callback);

  // True when a field of the form holds a signature value; such a document is
  // never rewritten in full (that would invalidate every signature in it).
  bool HasSignatureValues();

  TOvPDFFile& File() { return *file_; }
  TOvPDFDictionary* Trailer() { return file_->Trailer; }
  TOvStream* WorkingStream() const { return working_; }
  bool FreeWorkingStream() const { return freeWorking_; }
  TOvStream* DocumentStream() const { return documentStream_; }

  int32_t NextObjectNumber() const { return nextObjectNumber_; }
  void SetNextObjectNumber(int32_t value) { nextObjectNumber_ = value; }
  std::vector<std::string>& UsedFieldNames() { return usedFieldNames_; }

  bool ActivateSecurityHandlers() const { return activateSecurityHandlers_; }
  void SetActivateSecurityHandlers(bool value) { activateSecurityHandlers_ = value; }
  bool Compress() const { return compress_; }
  void SetCompress(bool value) { compress_ = value; }
  uint8_t Options() const { return options_; }
  void SetOptions(uint8_t value) { options_ = value; }
  uint8_t DecryptionMode() const { return decryptionMode_; }
  void SetDecryptionMode(uint8_t value) { decryptionMode_ = value; }

  const TCvPDFProgressEvent& OnProgress() const { return onProgress_; }
  void SetOnProgress(TCvPDFProgressEvent handler) { onProgress_ = std::move(handler); }
  const TCvPDFCreateTemporaryStreamEvent& OnCreateTemporaryStream() const {
    return onCreateTemporaryStream_;
  }
  void SetOnCreateTemporaryStream(TCvPDFCreateTemporaryStreamEvent handler) {
    onCreateTemporaryStream_ = std::move(handler);
  }
  const TCvPDFNotifyEvent& OnDecryptionInfoNeeded() const { return onDecryptionInfoNeeded_; }
  void SetOnDecryptionInfoNeeded(TCvPDFNotifyEvent handler) {
    onDecryptionInfoNeeded_ = std::move(handler);
  }

  // Decrypts one string or stream in place; bound by the security handler
  // that was set up for the document's Encrypt dictionary. Without one,
  // Decrypt fails with "Security handler not found".
  void SetObjectDecryptor(std::function<bool(TOvPDFObject*)> decryptor) {
    objectDecryptor_ = std::move(decryptor);
  }

 private:
  void ResetState();
  void ReleaseWorkingStream();
  void OpenStream();
  void DetectEncryption();
  void SetupSecurityHandler(TOvPDFDictionary* encryptDictionary);
  void ReadStructure();
  void ReadLinearization();
  void ReadPages();
  void ReadRequirements();
  void ReadAttachments();
  // Existing signature entries are read here once signature entries exist.
  void ReadSignatures() {}
  // New signature entries still to be written (none yet).
  size_t PendingSignatureCount() const { return 0; }
  void RefuseRewriteOfSignedDocument();
  class TCvFileHooks;
  void InstallFileHooks();
  void RemoveFileHooks();

  std::unique_ptr<TOvPDFFile> file_;
  bool linearized_ = false;
  int32_t nextObjectNumber_ = 0;
  // Whether AddNewObject has looked for references past nextObjectNumber_.
  bool numberingChecked_ = false;
  std::vector<std::string> usedFieldNames_;
  bool activateSecurityHandlers_ = true;
  TCvPDFProgressEvent onProgress_;
  TCvPDFCreateTemporaryStreamEvent onCreateTemporaryStream_;
  TCvPDFNotifyEvent onDecryptionInfoNeeded_;
  std::function<bool(TOvPDFObject*)> objectDecryptor_;
  bool encrypted_ = false;
  bool decrypted_ = false;
  bool opened_ = false;
  TOvStream* working_ = nullptr;
  std::unique_ptr<TOvStream> ownedWorking_;
  bool freeWorking_ = false;
  TOvStream* documentStream_ = nullptr;
  std::vector<TOvPDFRequirement> requirements_;
  std::vector<TOvPDFPageInfo> pages_;
  bool compress_ = false;
  std::vector<TOvPDFFileAttachment> attachments_;
  uint8_t options_ = PDF_OPTION_ADD_FORM_RESOURCES;
  uint8_t decryptionMode_ = 0;
  std::string encryptionFilter_;
  std::string encryptionSubFilter_;
};

}  // namespace corvane
