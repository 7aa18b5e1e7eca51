// The document component: opens a PDF from a caller's stream into a private
// working stream, exposes what signing needs (catalog, pages, trailer,
// identifier, encryption state) and writes the changes back on Close.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDFCore.h"

namespace corvane {

class TOvPDFDocument;
class TOvPDFSignature;
struct TOvPDFSignatureInfo;

class TOvPDFSecurityHandler;
class TOvCustomCryptoProviderManager;

namespace sigimpl {
struct TCvPendingSignature;
}

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
  // /Type of the value dictionaries this handler makes.
  virtual std::string ValueType() const { return "Sig"; }
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
  // Random bytes from the kernel, for keys, salts and IVs.
  static ByteString SystemRandom(size_t size);
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

  // The page's dictionary. The page list keeps no page it only looked at;
  // such a page is loaded here, on first use.
  TOvPDFDictionary* Dictionary() const;
  // True when page is this page's dictionary (nothing is loaded to tell).
  bool Is(const TOvPDFDictionary* page) const;
  // The file's reference to a page the list only looked at; nil for a page
  // it read for good. A caller may look at the page again without loading it.
  TOvPDFRef* Reference() const { return read_ ? nullptr : reference_; }

 private:
  friend class TOvPDFDocument;
  // A page read for good, or the file's reference to one only looked at.
  TOvPDFDictionary* read_ = nullptr;
  TOvPDFRef* reference_ = nullptr;
  // What the look saw: whether the page had /Annots.
  bool annots_ = false;
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

// Visits every field dictionary of the form (/Fields and their /Kids), each
// node once and to a bounded depth, in no particular order; stops when visit
// answers false.
void ForEachFormField(TOvPDFDictionary* catalog,
                      const std::function<bool(TOvPDFDictionary* field)>& visit);

// A stream in a scratch file whose name is removed at once: nothing is left
// behind whatever happens, and large documents never sit in memory.
std::unique_ptr<TOvStream> NewScratchFileStream();

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
  // For a caller whose stream is a disposable copy of its own: Open reads
  // that stream where it is and a saving Close writes into it, with no
  // working copy in between. A Close that fails may leave it half written.
  // Off by default: then the caller's stream is untouched until a saving Close.
  bool WorkInPlace() const { return workInPlace_; }
  void SetWorkInPlace(bool value) { workInPlace_ = value; }
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
  // True when the catalog's XMP metadata claims PDF/A (a pdfaid:part).
  bool DeclaresPDFA();
  TOvPDFDictionary* Info();
  TOvPDFDictionary* NamesDictionary();
  // The trailer's /ID, created (two equal 16-byte strings) when absent.
  TOvPDFArray* DocumentID();

  // Wraps value in a new indirect object with the next free number.
  void AddNewObject(TOvPDFObject* value, int32_t& number, int32_t& generation);
  TOvPDFRef* MakeRef(int32_t number, int32_t generation);
  void SetTrailerSize(int64_t size);

  // The page list is read from the page tree as far as it is asked for:
  // opening reads the first page, and signing one page of a document with
  // tens of thousands of pages reads that page and the nodes above it. A
  // damaged part of the tree raises when the pages behind it are asked for.
  // Until the pages are all listed, the count the tree's root declares when
  // it declares one (nothing else is read for it); then the number listed.
  size_t PageCount();
  // Whether the page's own dictionary has /Annots; a page the list only
  // looked at is not read again.
  bool PageHasAnnots(const TOvPDFPageInfo& page);
  // Raises std::out_of_range past the last page.
  TOvPDFPageInfo PageInfo(size_t index);
  const std::vector<TOvPDFPageInfo>& Pages();
  // The index of the page with this dictionary, or -1; reads no further than
  // that page.
  int64_t IndexOfPage(const TOvPDFDictionary* page);
  const std::vector<TOvPDFRequirement>& Requirements() const { return requirements_; }
  const std::vector<TOvPDFFileAttachment>& Attachments() const { return attachments_; }

  // Calls OnProgress; false when it asked to cancel.
  bool ReportProgress(int percent);

  // Signature entries: those read at Open, then those added for the next
  // saving Close. A new entry fails on an encrypted document.
  size_t AddSignature();
  TOvPDFSignature* Signatures(size_t index) const { return signatures_.at(index).get(); }
  size_t SignatureCount() const { return signatures_.size(); }
  const std::vector<TOvPDFSignatureInfo>& EmptySignatureFields() const {
    return emptySignatureFields_;
  }
  // Calls back for every string (and, when asked, every stream) reachable from
  // the objects of ObjectList from startIndex on and from extraObjects.
  void EnumerateStringsAndStreams(bool includeStreams, size_t startIndex,
                                  const std::vector<TOvPDFObject*>& extraObjects,
                                  const std::function<bool(TOvPDFObject*)>& callback);

  // True when a field of the form holds a signature value; such a document is
  // never rewritten in full (that would invalidate every signature in it).
  bool HasSignatureValues();

  // Changes to the document's objects outside a new signature (the document
  // security store): a saving Close writes them as an incremental update of
  // their own, before the updates of new signatures. Without it, a Close with
  // no new signature rewrites the whole file.
  bool PendingUpdate() const { return pendingUpdate_; }
  void SetPendingUpdate(bool value) { pendingUpdate_ = value; }

  TOvPDFFile& File() { return *file_; }
  TOvPDFDictionary* Trailer() { return file_->Trailer(); }
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
  // Starts the page list over and reads its first page.
  void ReadPages();
  // Reads the page tree until count pages are known or the tree ends; a
  // failure raises again at every later call that needs more pages.
  void ReadPagesUpTo(size_t count);
  // A page becomes the next page of the list; a /Pages node is gone through
  // next. key tells a node met before: the file's reference to it, or the
  // node itself when it is not an indirect object.
  void EnterPageNode(TOvPDFDictionary* node, const void* key);
  // A page that is not loaded yet is looked at where it lies, and becomes
  // the next page of the list without being kept. False when it is not
  // plainly a page: the caller loads it.
  bool PeekPage(TOvPDFRef* canonical);
  // Size and rotation, inherited through /Parent.
  TOvPDFPageInfo ReadPageInfo(TOvPDFDictionary* page);
  // Size and rotation from the nearest /MediaBox, starting at node.
  void InheritBox(TOvPDFDictionary* node, TOvPDFPageInfo& info);
  void ReadRequirements();
  void ReadAttachments();
  void ReadSignatures();
  // Gives a read entry the handler its /Filter or /SubFilter names, when
  // one is registered; an entry whose handler cannot read it stays without.
  void BindReadSignatureHandler(TOvPDFSignature& entry, TOvPDFDictionary* value);
  // New signature entries still to be written.
  size_t PendingSignatureCount() const;
  // The first entry that counts for certification (a document or MDP one).
  TOvPDFSignature* FirstCertificationCandidate() const;
  void PrepareCertification();
  // The pending update on its own, then one incremental update per new
  // entry (CvPDF_Signature.cpp).
  void WritePendingUpdate();
  void WriteSignatureEntries();
  // The objects of the pending entry, before its update is written.
  void BuildSignatureField(sigimpl::TCvPendingSignature& pending);
  // Refuses a new certification that is not the first entry counting for one.
  void CheckCertificationRule() const;
  // Fills the byte ranges and the value of the pending entry after its
  // update was written.
  void InsertActualSignatureInformation(sigimpl::TCvPendingSignature& pending);
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
  bool workInPlace_ = false;
  bool freeWorking_ = false;
  bool pendingUpdate_ = false;
  TOvStream* documentStream_ = nullptr;
  std::vector<TOvPDFRequirement> requirements_;
  std::vector<TOvPDFPageInfo> pages_;
  // Where reading the page tree stands: the /Kids arrays being gone through
  // (depth first), every node met so far (a node met twice is taken once),
  // and the error that stopped it.
  struct TCvPageWalk {
    struct TFrame {
      TOvPDFArray* kids;
      size_t next;
    };
    std::vector<TFrame> stack;
    std::unordered_set<const void*> visited;
    std::exception_ptr failure;
    // Scratch for the /Parent chain of one page, and for the numbers of its box.
    std::unordered_set<const TOvPDFDictionary*> chain;
    std::vector<std::string> boxText;
  };
  TCvPageWalk pageWalk_;
  bool compress_ = false;
  std::vector<TOvPDFFileAttachment> attachments_;
  uint8_t options_ = PDF_OPTION_ADD_FORM_RESOURCES;
  uint8_t decryptionMode_ = 0;
  std::string encryptionFilter_;
  std::string encryptionSubFilter_;
  std::vector<std::unique_ptr<TOvPDFSignature>> signatures_;
  // Handlers made for the signatures read from the file.
  std::vector<std::unique_ptr<TOvPDFSecurityHandler>> readHandlers_;
  std::vector<TOvPDFSignatureInfo> emptySignatureFields_;
  std::unique_ptr<TOvPDFSecurityHandler> securityHandler_;
};

// Makes the document keep its working copy in a scratch file.
void UseScratchFileWorkingStream(TOvPDFDocument& document);

}  // namespace corvane

// ---------------------------------------------------------------------------
// Signature entries: what a document knows of each signature, read from the
// file or added before a saving Close.

namespace corvane {

enum TCvPDFSignatureType : uint8_t {
  stDocument = 0,
  stMDP = 1,
  stUsageRights = 2,
  stIdentity = 3,
  stUnknown = 4,
};

// Bits of AllowedChanges (what a certification still permits).
inline constexpr uint8_t PDF_ALLOW_FORM_FILL = 0x01;
inline constexpr uint8_t PDF_ALLOW_ANNOTATIONS = 0x02;

// Offsets and lengths are 64-bit: files past 2 GB are signed too.
struct TOvPDFByteRange {
  int64_t Offset = 0;
  int64_t Length = 0;
};

// One transform reference (/Reference) of a signature value.
struct TOvPDFSigRefEntry {
  uint8_t DigestMethod = 0;     // 0 MD5, 1 SHA-1, 2 other
  uint8_t TransformMethod = 0;  // 0 DocMDP, 1 UR, 2 UR3, 3 FieldMDP, 4 Identity, 6 other
  TOvPDFObject* Data = nullptr;
  ByteString DigestValue;
  int64_t DigestLocationOffset = 0;
  int64_t DigestLocationLength = 0;
  int32_t P = 2;
  std::string V = "1.2";
  uint8_t Action = 0;  // 0 All, 1 Include, 2 Exclude, 3 other
  std::vector<std::string> Fields;
};

// An empty signature field found when the document was opened.
struct TOvPDFSignatureInfo {
  std::string FieldName;
  std::string AlternateName;  // /TU
  std::string MappingName;    // /TM
  TOvPDFDictionary* Field = nullptr;
};

// A font of a widget appearance; remembers its object once written.
class TOvPDFCustomFont {
 public:
  virtual ~TOvPDFCustomFont() = default;
  std::string Subtype = "Type1";
  std::string BaseFont = "Helvetica";
  std::string ResourceName;
  ByteString ToUnicode;
  int32_t ObjectNumber = 0;
  int32_t ObjectGeneration = 0;
  bool IsWritten() const { return ObjectNumber > 0; }
  // Writes the font as a new object of the document (once).
  virtual void Write(TOvPDFDocument& document);

 protected:
  TOvPDFDictionary* BuildDictionary(TOvPDFDocument& document);
};

// A simple-font encoding: a base encoding and up to 256 glyph names.
class TOvPDFEncoding {
 public:
  std::string BaseEncoding;
  int32_t ObjectNumber = 0;
  int32_t ObjectGeneration = 0;
  const std::string& GlyphName(int32_t code) const;
  void SetGlyphName(int32_t code, std::string name);
  bool IsWritten() const { return ObjectNumber > 0; }
  void Write(TOvPDFDocument& document);

 private:
  std::string names_[256];
};

class TOvPDFSimpleFont : public TOvPDFCustomFont {
 public:
  std::string EncodingName;
  TOvPDFEncoding* Encoding = nullptr;  // not owned (the widget's Encodings own them)
  std::string Name;
  TOvPDFCustomFont* FontDescriptor = nullptr;  // not owned
  int32_t FirstChar = 0;
  int32_t LastChar = 0;
  std::vector<int32_t> Widths;
  void Write(TOvPDFDocument& document) override;
};

// A TrueType font program an appearance can embed. The toolkit has no font
// engine of its own: the application supplies one.
class TOvTrueTypeProgram {
 public:
  virtual ~TOvTrueTypeProgram() = default;
  struct TMetrics {
    int32_t Ascent = 0, Descent = 0, CapHeight = 0;  // 1/1000 em
    double ItalicAngle = 0;
    int32_t BBox[4] = {0, 0, 0, 0};  // 1/1000 em
  };
  // A name usable as a PDF name (no spaces or delimiters).
  virtual std::string PostScriptName() const = 0;
  // The glyph of a character; 0 (.notdef) when the font lacks it.
  virtual uint32_t GlyphOf(uint32_t codePoint) const = 0;
  // Advance width in 1/1000 em.
  virtual int32_t GlyphWidth(uint32_t glyph) const = 0;
  virtual TMetrics Metrics() const = 0;
  // A font program with only these glyphs, each under its own glyph id.
  virtual ByteString Subset(const std::vector<uint32_t>& glyphs) const = 0;
};

// A composite font (Type0, Identity-H) over an embedded TrueType subset. Its
// codes are the UTF-16 units of the texts, so the operands are the ones
// UnicodeText writes; /CIDToGIDMap takes each to its glyph.
class TOvPDFCompositeFont : public TOvPDFCustomFont {
 public:
  explicit TOvPDFCompositeFont(std::shared_ptr<const TOvTrueTypeProgram> program);
  // Notes the characters of a text, so the subset has their glyphs.
  void Use(const std::string& utf8);
  // The width of a text in 1/1000 em.
  double TextWidth(const std::string& utf8) const;
  void Write(TOvPDFDocument& document) override;

 private:
  uint32_t GlyphOfUnit(char16_t unit) const;
  std::shared_ptr<const TOvTrueTypeProgram> program_;
  std::vector<char16_t> used_;  // sorted, distinct
};

// A background image of a widget: JPEG 2000 (type 0), JPEG passed through
// as DCT data (type 1), or 8-bit samples compressed with Flate (type 2, with
// an optional alpha channel that becomes a soft mask).
class TOvPDFImage {
 public:
  int32_t ImageType = 0;
  ByteString Data;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Components = 3;     // types 1 and 2: 1 gray, 3 RGB, 4 CMYK
  bool InvertedCMYK = false;  // type 1: Adobe's inverted CMYK
  ByteString Alpha;           // type 2: one byte per pixel, or empty
  int32_t ObjectNumber = 0;
  int32_t ObjectGeneration = 0;
  bool Empty() const { return Data.empty(); }
  void Write(TOvPDFDocument& document);
};

using TCvPDFConvertTextEvent =
    std::function<void(TOvPDFDocument* document, const std::string& text, ByteString& bytes)>;
using TCvPDFGlyphNameEvent =
    std::function<void(TOvPDFDocument* document, uint32_t codePoint, std::string& name)>;

// The glyph name readers know for a character: the standard Adobe name where
// there is one (Latin letters with diacritics), else "uniXXXX".
std::string DefaultGlyphName(uint32_t codePoint);

class TOvPDFSignatureWidgetProps {
 public:
  TOvPDFSignatureWidgetProps();
  ~TOvPDFSignatureWidgetProps();
  TOvPDFSignatureWidgetProps(const TOvPDFSignatureWidgetProps&) = delete;
  TOvPDFSignatureWidgetProps& operator=(const TOvPDFSignatureWidgetProps&) = delete;

  bool Print = true, NoZoom = false, NoRotate = false, NoView = false, ReadOnly = false,
       Locked = true, ToggleNoView = false;
  bool ShowDate = true;
  std::string SignerName, SignerDetails, KeyDescription;
  bool AutoFontEncoding = true;
  bool AutoText = true;
  bool StandardLayout = true;
  bool AutoSize = true;
  bool AutoPos = true;
  bool AutoStretchBackground = true;
  int32_t Width = 70, Height = 70;
  int32_t OffsetX = 0, OffsetY = 0;
  double TitleFontSize = 8.77, DateFontSize = 4.89, CaptionFontSize = 7, TextFontSize = 5;
  TOvPDFImage Background;
  int32_t BackgroundStyle = 0;  // 0 built-in logo, 1 none, 2 Background
  double BackgroundWidth = 66, BackgroundHeight = 66;
  int32_t Rotate = 0;
  std::string SignerCaption = "Signer:";
  std::string PublicKeyCaption = "Public key:";
  ByteString CustomAppearance;
  bool UpdateExistingWidget = false;
  std::vector<std::unique_ptr<TOvPDFCustomFont>> Fonts;
  std::vector<std::unique_ptr<TOvPDFEncoding>> Encodings;
  TCvPDFConvertTextEvent OnConvertText;
  // Defaults to DefaultGlyphName.
  TCvPDFGlyphNameEvent OnGlyphName;
  bool ShowOnAllPages = false;
  bool UnicodeText = false;

  void AddFont(std::unique_ptr<TOvPDFCustomFont> font) { Fonts.push_back(std::move(font)); }
  void AddEncoding(std::unique_ptr<TOvPDFEncoding> encoding) {
    Encodings.push_back(std::move(encoding));
  }
  // The annotation flags (/F).
  int32_t Flags() const;
};

class TOvPDFSignature {
 public:
  explicit TOvPDFSignature(TOvPDFDocument* document);
  ~TOvPDFSignature();
  TOvPDFSignature(const TOvPDFSignature&) = delete;
  TOvPDFSignature& operator=(const TOvPDFSignature&) = delete;

  TOvPDFDocument* Document() const { return document_; }
  TOvPDFSecurityHandler* Handler() const { return handler_; }
  // Binds the handler to this entry's document as well.
  void SetHandler(TOvPDFSecurityHandler* handler);

  // Written as /Name; empty is written "Not specified".
  const std::string& AuthorName() const { return authorName_; }
  void SetAuthorName(std::string value) { authorName_ = std::move(value); }
  const std::string& ContactInfo() const { return contactInfo_; }
  void SetContactInfo(std::string value) { contactInfo_ = std::move(value); }
  const std::string& Location() const { return location_; }
  void SetLocation(std::string value) { location_ = std::move(value); }
  const std::string& Reason() const { return reason_; }
  void SetReason(std::string value) { reason_ = std::move(value); }
  // The form field name (/T); empty gets the next free "SignatureN".
  const std::string& SignatureName() const { return signatureName_; }
  void SetSignatureName(std::string value) { signatureName_ = std::move(value); }
  TCvPDFSignatureType SignatureType() const { return signatureType_; }
  void SetSignatureType(TCvPDFSignatureType value) { signatureType_ = value; }
  // UTC, days since 1899-12-30.
  double SigningTime() const { return signingTime_; }
  void SetSigningTime(double value) { signingTime_ = value; }
  // The transform references and byte ranges read from the value (for a
  // new entry, the ranges it was signed over).
  const std::vector<TOvPDFSigRefEntry>& References() const { return references_; }
  const std::vector<TOvPDFByteRange>& ByteRanges() const { return byteRanges_; }
  // The value is in the file: read from it, or written by a saving Close.
  bool Written() const { return written_; }
  // For a new entry, the field already in the file that it fills (with
  // ExistingField), nil for a new field; for an entry read from the file,
  // its signature value dictionary.
  TOvPDFDictionary* FieldDictionary() const { return fieldDictionary_; }
  void SetFieldDictionary(TOvPDFDictionary* value) { fieldDictionary_ = value; }
  TOvPDFSignatureWidgetProps& WidgetProps() { return widgetProps_; }
  const TOvPDFSignatureWidgetProps& WidgetProps() const { return widgetProps_; }
  bool Invisible() const { return invisible_; }
  void SetInvisible(bool value) { invisible_ = value; }
  // Zero-based page of the widget.
  int32_t Page() const { return page_; }
  void SetPage(int32_t value) { page_ = value; }
  // PDF_ALLOW_* bits: what a certification still permits.
  uint8_t AllowedChanges() const { return allowedChanges_; }
  void SetAllowedChanges(uint8_t value) { allowedChanges_ = value; }
  bool ExistingField() const { return existingField_; }
  void SetExistingField(bool value) { existingField_ = value; }
  bool HexTextStrings() const { return hexTextStrings_; }
  void SetHexTextStrings(bool value) { hexTextStrings_ = value; }
  // Digest of the MDP references: 0 MD5, 1 SHA-1.
  uint8_t ReferenceDigestMethod() const { return referenceDigestMethod_; }
  void SetReferenceDigestMethod(uint8_t value) { referenceDigestMethod_ = value; }
  // Bytes reserved for the value beyond the handler's estimate.
  int64_t ExtraSpace() const { return extraSpace_; }
  void SetExtraSpace(int64_t value) { extraSpace_ = value; }
  // Only an empty signature field is written, no value.
  bool EmptyField() const { return emptyField_; }
  void SetEmptyField(bool value) { emptyField_ = value; }

  // Reads a signature value dictionary; "Invalid signature information" when
  // it is malformed.
  void LoadFromDictionary(TOvPDFDictionary* value);

 private:
  // Reads entries from the file and writes new ones.
  friend class TOvPDFDocument;

  TOvPDFDocument* document_;
  TOvPDFSecurityHandler* handler_ = nullptr;
  std::string authorName_;
  std::string contactInfo_;
  std::string location_;
  std::string reason_;
  std::string signatureName_;
  TCvPDFSignatureType signatureType_ = stDocument;
  double signingTime_ = 0;
  std::vector<TOvPDFSigRefEntry> references_;
  std::vector<TOvPDFByteRange> byteRanges_;
  bool written_ = false;
  TOvPDFDictionary* fieldDictionary_ = nullptr;
  TOvPDFSignatureWidgetProps widgetProps_;
  bool invisible_ = false;
  int32_t page_ = 0;
  uint8_t allowedChanges_ = 0;
  bool existingField_ = false;
  bool hexTextStrings_ = false;
  uint8_t referenceDigestMethod_ = 0;
  int64_t extraSpace_ = 0;
  bool emptyField_ = false;
};

// The object digest of a DocMDP or FieldMDP transform reference.
ByteString ComputeTransformDigest(TOvPDFSecurityHandler* handler, TOvPDFSignature& entry,
                                  const TOvPDFSigRefEntry& reference);

}  // namespace corvane
