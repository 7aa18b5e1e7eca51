// TOvPDFDocument and encryption: recognising an Encrypt dictionary, binding
// the registered handler for it, and decrypting the document in place.
#include "toolkit/pdf/CvPDF.h"

namespace corvane {

void TOvPDFDocument::DetectEncryption() {
  securityHandler_.reset();
  encrypted_ = false;
  encryptionFilter_.clear();
  encryptionSubFilter_.clear();
  TOvPDFObject* entry = GetEntry(file_->Trailer(), "Encrypt");
  TOvPDFDictionary* dictionary = nullptr;
  if (auto* ref = dynamic_cast<TOvPDFRef*>(entry)) {
    if (TOvPDFIndirect* target = ref->Resolve()) {
      encrypted_ = true;
      dictionary = dynamic_cast<TOvPDFDictionary*>(target->Value);
    }
  } else if (auto* direct = dynamic_cast<TOvPDFDictionary*>(entry)) {
    encrypted_ = true;
    dictionary = direct;
  }
  if (dictionary) SetupSecurityHandler(dictionary);
  if (!encrypted_) ReadSignatures();
}

void TOvPDFDocument::SetupSecurityHandler(TOvPDFDictionary* encryptDictionary) {
  std::string filter;
  std::string subFilter;
  std::string stmF;
  std::string strF;
  int32_t version = 0;
  int32_t length = 40;
  TOvPDFDictionary* cryptFilters = nullptr;
  // A dictionary whose basic entries cannot be read leaves the document
  // without a handler (it still counts as encrypted).
  try {
    filter = GetNameEntry(encryptDictionary, "Filter", "", true);
    subFilter = GetNameEntry(encryptDictionary, "SubFilter", "", false);
    stmF = GetNameEntry(encryptDictionary, "StmF", "Identity", false);
    strF = GetNameEntry(encryptDictionary, "StrF", "Identity", false);
    version = GetIntEntry(encryptDictionary, "V", 0, false);
    length = GetIntEntry(encryptDictionary, "Length", 40, false);
    cryptFilters = dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(encryptDictionary, "CF"));
  } catch (const EOvPDFError&) {
    return;
  }
  encryptionFilter_ = filter;
  encryptionSubFilter_ = subFilter;
  if (!activateSecurityHandlers_) return;
  std::unique_ptr<TOvPDFSecurityHandler> handler = CreateEncryptionHandler(filter, subFilter);
  handler->SetDocument(this);
  handler->ReadEncryptionDictionary(encryptDictionary);
  handler->LoadEncryptionInfo(encryptDictionary);
  handler->BindDocumentObjects();
  handler->AttachFile(file_.get());
  if (cryptFilters) {
    handler->ReadCryptFilters(cryptFilters, stmF, strF);
    handler->LoadCryptFilters(cryptFilters, stmF, strF);
  } else {
    handler->SetStreamAlgorithm(0x7001);
    handler->SetStringAlgorithm(0x7001);
    const int32_t bits = version == 1 ? 40 : length;
    handler->SetStreamKeyBits(bits);
    handler->SetStringKeyBits(bits);
  }
  securityHandler_ = std::move(handler);
}

void TOvPDFDocument::Decrypt() {
  if (!encrypted_) throw EOvPDFDocumentError("Document is not encrypted");
  if (!securityHandler_ || !securityHandler_->HandlerClass().CanEncrypt) {
    throw EOvPDFDocumentError("Security handler not found");
  }
  if (decryptionMode_ == 0) {
    EnumerateStringsAndStreams(true, 0, {}, [this](TOvPDFObject* obj) {
      securityHandler_->DecryptObject(obj);
      if (auto* owner = dynamic_cast<TOvPDFIndirect*>(obj->Parent())) owner->MarkModified();
      return true;
    });
    RemoveEntry(file_->Trailer(), "Encrypt");
  }
  encrypted_ = false;
  decrypted_ = true;
  file_->AddCompressedObjects();
  ReadSignatures();
  ReadAttachments();
}

}  // namespace corvane
