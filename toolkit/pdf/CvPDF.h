// The document component: opens a PDF from a caller's stream into a private
// working stream, exposes what signing needs (catalog, pages, trailer,
// identifier, encryption state) and writes the changes back on Close.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDFCore.h"

namespace corvane {

class TOvPDFDocument;

class TOvPDFSecurityHandler;
class TOvCustomCryptoProviderManager;

// What the registry asks of a handler class without an instance: its name,
// capabilities, subfilters, and how to make one.
struct TOvPDFSecurityHandlerClass {
  std::string HandlerName;         // GetHandlerName: written as /Filter
  std::string HandlerDescription;  // GetHandlerDescription
  bool CanSign = false;
  bool CanEncrypt = false;
  std::function<bool(std::string_view)> IsSigningSubFilter;
  std::function<bool(std::string_view)> IsEncryptionSubFilter;
  std::function<std::unique_ptr<TOvPDFSecurityHandler>()> Create;
};

// Crypt filter methods (/CFM) as the handler keeps them.
inline constexpr uint8_t PDF_CRYPT_NONE = 0;
inline constexpr uint8_t PDF_CRYPT_V2 = 1;
inline constexpr uint8_t PDF_CRYPT_AESV2 = 2;
inline constexpr uint8_t PDF_CRYPT_AESV3 = 3;
inline constexpr uint8_t PDF_CRYPT_UNKNOWN = 4;

// The pluggable component behind a PDF /Filter name: decrypts (and can
// re-encrypt) strings and streams, and produces signature values.
class TOvPDFSecurityHandler {
 public:
  TOvPDFSecurityHandler();
  virtual ~TOvPDFSecurityHandler();
  TOvPDFSecurityHandler(const TOvPDFSecurityHandler&) = delete;
  TOvPDFSecurityHandler& operator=(const TOvPDFSecurityHandler&) = delete;

  // The class-level answers of this handler.
  virtual const TOvPDFSecurityHandlerClass& HandlerClass() const = 0;

  virtual void LoadEncryptionInfo(TOvPDFDictionary* /*encryptDict*/) {}
  virtual void LoadSignatureInfo(TOvPDFDictionary* /*sigDict*/) {}
  virtual void LoadCryptFilters(TOvPDFDictionary* /*cfDict*/, const std::string& /*stmFName*/,
                                const std::string& /*strFName*/) {}
  virtual void AttachFile(TOvPDFFile* /*file*/) {}
  virtual void SaveEncryptionInfo(TOvPDFDictionary* /*encryptDict*/) {}
  virtual void SaveSignatureInfo(TOvPDFDictionary* /*sigDict*/) {}
  virtual void SaveCryptFilters(TOvPDFDictionary* /*encryptDict*/) {}
  virtual void PrepareEncryption(TOvPDFFile* file);
  virtual void BeginSignatureField(TOvPDFFile* /*file*/) {}
  virtual void BeginSigning(TOvPDFFile* /*file*/) {}
  virtual void BeginTimestamping() {}
  virtual ByteString GetEncryptionKey() { return {}; }
  virtual void CustomEncryptInit(TOvPDFObject* /*object*/) {}
  virtual bool CustomEncryptUpdate(std::string_view /*in*/, ByteString& /*out*/) { return false; }
  virtual bool CustomEncryptFinal(ByteString& /*out*/) { return false; }
  virtual void CustomDecryptInit(TOvPDFObject* /*object*/) {}
  virtual bool CustomDecryptUpdate(std::string_view /*in*/, ByteString& /*out*/) { return false; }
  virtual bool CustomDecryptFinal(ByteString& /*out*/) { return false; }
  virtual void HashInit() {}
  virtual bool HashUpdate(std::string_view /*bytes*/) { return false; }
  virtual ByteString HashFinal() { return {}; }
  virtual ByteString SignDigest(std::string_view /*digest*/) { return {}; }
  virtual bool VerifyDigest(std::string_view /*digest*/) { return false; }
  virtual int64_t EstimateSignatureSize() { return 0; }
  virtual ByteString TimestampSignature() { return {}; }
  // Clears the three texts and answers false unless the handler knows its signer.
  virtual bool GetSignerInfo(std::string& name, std::string& subjectLines,
                             std::string& keyDescription);
  virtual void InitializeHandler() {}
  virtual void FinalizeHandler() {}
  // Forgets per-document state so the instance can be bound again.
  virtual void ResetHandler();

  // Encrypts or decrypts one string or stream in place.
  void EncryptObject(TOvPDFObject* object);
  void DecryptObject(TOvPDFObject* object);
  // The key of one string or stream: the file key, or for /V below 5 the MD5
  // of it with the enclosing object's number and generation.
  ByteString ObjectKey(TOvPDFObject* object);

  // The common part of an Encrypt dictionary (/V, /Filter, /Length and the
  // strings and streams never to be processed).
  void ReadEncryptionDictionary(TOvPDFDictionary* encryptDict);
  // Finds the Metadata stream, the signature values and the trailer /ID.
  void BindDocumentObjects();
  void ReadCryptFilters(TOvPDFDictionary* cfDict, const std::string& stmFName,
                        const std::string& strFName);
  // /Filter of a signature or Encrypt dictionary: CustomName or the class name.
  void WriteFilterName(TOvPDFDictionary* dict) const;

  const std::string& CustomName() const { return customName_; }
  void SetCustomName(std::string value) { customName_ = std::move(value); }
  TOvPDFDocument* Document() const { return document_; }
  void SetDocument(TOvPDFDocument* value) { document_ = value; }
  bool EncryptMetadata() const { return encryptMetadata_; }
  void SetEncryptMetadata(bool value) { encryptMetadata_ = value; }
  TOvCustomCryptoProviderManager* CryptoProviderManager() const { return providerManager_; }
  void SetCryptoProviderManager(TOvCustomCryptoProviderManager* value) { providerManager_ = value; }

  std::vector<TOvPDFObject*>& ExcludedObjects() { return excludedObjects_; }
  std::vector<TOvPDFString*>& SignatureContents() { return signatureContents_; }
  TOvPDFStream* MetadataStream() const { return metadataStream_; }
  uint8_t StreamCryptMethod() const { return streamCryptMethod_; }
  uint8_t StringCryptMethod() const { return stringCryptMethod_; }
  int32_t StreamAlgorithm() const { return streamAlgorithm_; }
  void SetStreamAlgorithm(int32_t value) { streamAlgorithm_ = value; }
  int32_t StringAlgorithm() const { return stringAlgorithm_; }
  void SetStringAlgorithm(int32_t value) { stringAlgorithm_ = value; }
  int32_t StreamKeyBits() const { return streamKeyBits_; }
  void SetStreamKeyBits(int32_t value) { streamKeyBits_ = value; }
  int32_t StringKeyBits() const { return stringKeyBits_; }
  void SetStringKeyBits(int32_t value) { stringKeyBits_ = value; }
  int32_t EncryptionVersion() const { return encryptionVersion_; }
  void SetEncryptionVersion(int32_t value) { encryptionVersion_ = value; }
  int32_t KeyLength() const { return keyLength_; }
  void SetKeyLength(int32_t value) { keyLength_ = value; }

 protected:
  bool IsExcluded(const TOvPDFObject* object) const;
  // The cipher of one object for /V and its crypt filter method.
  int CipherFor(TOvPDFObject* object) const;

  std::vector<TOvPDFObject*> excludedObjects_;
  uint8_t streamCryptMethod_ = PDF_CRYPT_UNKNOWN;
  uint8_t stringCryptMethod_ = PDF_CRYPT_UNKNOWN;
  // Objects that received a Hash while a transform digest was computed.
  std::vector<TOvPDFObject*> hashedObjects_;
  std::string customName_;
  TOvPDFDocument* document_ = nullptr;
  bool encryptMetadata_ = true;
  TOvPDFStream* metadataStream_ = nullptr;
  std::vector<TOvPDFString*> signatureContents_;
  int32_t streamAlgorithm_ = 0x7001;
  int32_t stringAlgorithm_ = 0x7001;
  int32_t streamKeyBits_ = 128;
  int32_t stringKeyBits_ = 128;
  int32_t encryptionVersion_ = 2;
  int32_t keyLength_ = 128;
  TOvCustomCryptoProviderManager* providerManager_ = nullptr;
};

// The process-wide registry of handler classes.
void RegisterSecurityHandler(const TOvPDFSecurityHandlerClass& handlerClass);
void UnregisterSecurityHandler(const TOvPDFSecurityHandlerClass& handlerClass);
const TOvPDFSecurityHandlerClass* FindSecurityHandlerClass(std::string_view name, bool encryption,
                                                           bool signing);
const TOvPDFSecurityHandlerClass* FindSecurityHandlerClassBySubFilter(std::string_view subFilter,
                                                                      bool encryption,
                                                                      bool signing);
std::unique_ptr<TOvPDFSecurityHandler> CreateEncryptionHandler(std::string_view filter,
                                                               std::string_view subFilter);
std::unique_ptr<TOvPDFSecurityHandler> CreateSigningHandler(std::string_view filter,
                                                            std::string_view subFilter);

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

  // --- encryption (CvPDF_Encryption.cpp) ---
  // The handler created for the Encrypt dictionary; nil when none.
  TOvPDFSecurityHandler* SecurityHandler() const { return securityHandler_.get(); }

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
  std::unique_ptr<TOvPDFSecurityHandler> securityHandler_;
};

}  // namespace corvane
