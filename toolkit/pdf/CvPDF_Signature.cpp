// Signature entries of a document: adding them, and writing each new one as
// an incremental update. The steps of an update live in their own units:
// the form and field (CvPDF_SignatureForm.cpp), the widget's page and
// placement (CvPDF_SignaturePlacement.cpp, appearance in CvPDF_Widget.cpp),
// the value with its MDP references (CvPDF_SignatureValue.cpp), and the
// reserved placeholder (CvPDF_SignaturePlaceholder.cpp).
#include <algorithm>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

// --- entries --------------------------------------------------------------------------

TOvPDFSignature::TOvPDFSignature(TOvPDFDocument* document) : document_(document) {}

TOvPDFSignature::~TOvPDFSignature() = default;

void TOvPDFSignature::SetHandler(TOvPDFSecurityHandler* handler) {
  handler_ = handler;
  if (handler_) handler_->SetDocument(document_);
}

size_t TOvPDFDocument::AddSignature() {
  if (encrypted_) throw EOvPDFDocumentError("Cannot sign encrypted document");
  if (decrypted_ && decryptionMode_ != 2) {
    throw EOvPDFDocumentError("Cannot sign encrypted document. Invalid decryption mode.");
  }
  signatures_.push_back(std::make_unique<TOvPDFSignature>(this));
  return signatures_.size() - 1;
}

size_t TOvPDFDocument::PendingSignatureCount() const {
  return static_cast<size_t>(std::count_if(signatures_.begin(), signatures_.end(),
                                           [](const auto& entry) { return !entry->Written(); }));
}

// Entries of other kinds (usage rights, identity) never count for certification.
TOvPDFSignature* TOvPDFDocument::FirstCertificationCandidate() const {
  for (const auto& entry : signatures_) {
    if (entry->SignatureType() == stDocument || entry->SignatureType() == stMDP) return entry.get();
  }
  return nullptr;
}

// --- one update per new entry ----------------------------------------------------------

void TOvPDFDocument::WritePendingUpdate() {
  if (!pendingUpdate_) return;
  pendingUpdate_ = false;
  file_->Save();
  if (PendingSignatureCount() == 0) return;
  // The signatures build on it as their previous revision.
  file_->Reload(*working_);
  const std::vector<std::string> names = usedFieldNames_;
  ReadStructure();
  usedFieldNames_ = names;
}

void TOvPDFDocument::WriteSignatureEntries() {
  for (size_t i = 0; i < signatures_.size(); ++i) {
    TOvPDFSignature* entry = signatures_[i].get();
    if (entry->Written()) continue;
    sigimpl::TCvPendingSignature pending;
    pending.Entry = entry;
    BuildSignatureField(pending);
    file_->Save();
    InsertActualSignatureInformation(pending);
    entry->written_ = true;
    const bool more = std::any_of(signatures_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                  signatures_.end(), [](const auto& e) { return !e->Written(); });
    if (!more) break;
    // The next update builds on this one as its previous revision.
    file_->Reload(*working_);
    const std::vector<std::string> names = usedFieldNames_;
    ReadStructure();
    usedFieldNames_ = names;
  }
}

// Only the first entry that counts for certification may certify.
void TOvPDFDocument::CheckCertificationRule() const {
  TOvPDFSignature* first = FirstCertificationCandidate();
  bool afterFirst = false;
  for (const auto& e : signatures_) {
    if (e.get() == first) {
      afterFirst = true;
      continue;
    }
    if (afterFirst && e->SignatureType() == stMDP && !e->Written()) {
      throw EOvPDFError(sigimpl::kOnlyOneMDP);
    }
  }
}

void TOvPDFDocument::BuildSignatureField(sigimpl::TCvPendingSignature& pending) {
  file_->SetLineEnd("\r\n");
  CheckCertificationRule();
  sigimpl::FindCatalog(*file_, pending);
  TOvPDFSignature* entry = pending.Entry;
  sigimpl::CheckExistingCertification(entry, pending.Catalog);
  pending.CatalogObject->MarkModified();

  sigimpl::PrepareForm(*this, pending);
  if (!entry) return;
  sigimpl::PrepareField(*this, pending);
  TOvPDFSignature* first = FirstCertificationCandidate();
  pending.AfterCertification =
      first && first->SignatureType() == stMDP && first != entry && first->Written();
  sigimpl::PlaceWidget(*this, pending);
  sigimpl::Touch(pending.Field);
  if (entry->EmptyField()) return;

  sigimpl::BuildValue(*this, pending);
  if (entry->SignatureType() == stDocument) entry->byteRanges_.clear();
  sigimpl::Touch(pending.Field);
  sigimpl::Touch(pending.Catalog);
}

void TOvPDFDocument::InsertActualSignatureInformation(sigimpl::TCvPendingSignature& pending) {
  TOvPDFSignature* entry = pending.Entry;
  if (!entry || entry->EmptyField()) return;
  TOvPDFSecurityHandler* handler = entry->Handler();
  if (!handler) throw EOvPDFDocumentError("Security handler is not assigned");
  sigimpl::PatchReferenceDigests(*handler, pending, *working_);
  entry->byteRanges_ = pending.Placeholder.Sign(*working_, *handler, file_.get());
}

}  // namespace corvane
