#include "app/core/ToolkitBinding.h"

#include <stdexcept>
#include <unordered_set>

#include "app/core/LongTermValidation.h"
#include "app/core/TimestampClient.h"
#include "platform/media/MediaFiles.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace tavra {

using namespace corvane;

class TToolkitBinding::TCertificate final : public ISignerCertificate {
 public:
  explicit TCertificate(TOvX509Certificate* certificate) : certificate_(certificate) {}

  std::string IssuerCommonName() const override { return certificate_->IssuerName().CommonName; }
  std::string SubjectCommonName() const override { return certificate_->SubjectName().CommonName; }
  std::string SerialNumber() const override { return certificate_->SerialNumber(); }
  bool KeyAlgorithmCanSign() const override { return certificate_->KeyAlgorithmCanSign(); }
  bool PrivateKeyExists() const override { return certificate_->PrivateKeyExists(); }

  TOvX509Certificate& Certificate() const { return *certificate_; }

 private:
  TOvX509Certificate* certificate_;
};

TToolkitBinding::TToolkitBinding()
    : document_(std::make_unique<TOvPDFDocument>()),
      handler_(std::make_unique<TOvPDFPublicKeySecurityHandler>()),
      certStorage_(std::make_unique<TOvMemoryCertStorage>()),
      winCertStorage_(std::make_unique<TOvWinCertStorage>()),
      tspFactory_(MakeTimestampClient) {
  // The workflow hands over its own temporary copy: no second copy of a large
  // document at Open, none written back at Close.
  document_->SetWorkInPlace(true);
  certStorage_->SetOptions(csoStrictChainBuilding);
  winCertStorage_->SetOptions(csoStrictChainBuilding);
  winCertStorage_->SetSystemStores({"My"});
  for (int i = 0; i < winCertStorage_->Count(); ++i)
    if (TOvX509Certificate* certificate = winCertStorage_->Certificates(i))
      certificates_.push_back(std::make_unique<TCertificate>(certificate));
}

TToolkitBinding::~TToolkitBinding() {
  // The document refers to the handler, the handler to the storage and the client.
  document_.reset();
  handler_.reset();
  tspClient_.reset();
}

const ISignerCertificate& TToolkitBinding::Certificate(size_t index) const {
  return *certificates_.at(index);
}

void TToolkitBinding::Open(TOvStream& stream) {
  try {
    document_->Open(stream);
  } catch (const ECorvaneError&) {
    // An encrypted file that cannot be decrypted (no password, a password
    // needed for its object streams, a damaged Encrypt dictionary) is
    // refused as encrypted, not reported as a broken file.
    if (!document_->Encrypted()) throw;
  }
}

bool TToolkitBinding::Encrypted() const {
  // A document decrypted on opening is refused like an encrypted one.
  return document_->Encrypted() || document_->Decrypted();
}

int TToolkitBinding::AddSignature() { return static_cast<int>(document_->AddSignature()); }

void TToolkitBinding::ConfigureSignature(int index, const TSignatureSetup& setup) {
  TOvPDFSignature& signature = *document_->Signatures(static_cast<size_t>(index));
  signature.SetHandler(handler_.get());
  signature.SetAuthorName(setup.AuthorName);
  signature.SetSigningTime(setup.SigningTime);
  signature.SetReason(setup.Reason);
  signature.SetSignatureType(setup.SignatureType == TSignerSignatureType::sstMDP ? stMDP
                                                                                 : stDocument);
  signature.SetInvisible(setup.Invisible);
  handler_->SetUsePSS(setup.UsePSS);
  if (!signature.Invisible()) {
    TOvPDFSignatureWidgetProps& props = signature.WidgetProps();
    props.AutoFontEncoding = setup.AutoFontEncoding;
    // Both files are read and checked here, before anything is written.
    if (!setup.ImagePath.empty()) {
      media::LoadImageFile(setup.ImagePath, props.Background);
      props.BackgroundStyle = 2;
    }
    // A PDF/A document may not use a font it does not embed.
    if (!setup.FontPath.empty() || document_->DeclaresPDFA()) {
      props.AddFont(std::make_unique<TOvPDFCompositeFont>(media::LoadTrueTypeFont(
          setup.FontPath.empty() ? media::kDefaultFontPath : setup.FontPath)));
      props.AutoFontEncoding = false;
      props.UnicodeText = true;
    }
  }
  ApplyPlacement(*document_, signature, setup.Placement);
  handler_->SetCAdES(setup.CAdES);
  withChain_ = setup.CAdES;
  if (setup.HashAlgorithm != 0) handler_->SetHashAlgorithm(setup.HashAlgorithm);
  handler_->SetTSPClient(nullptr);
  tspClient_.reset();
  if (!setup.Timestamp.URL.empty()) {
    if (tspFactory_) tspClient_ = tspFactory_(setup.Timestamp);
    if (!tspClient_) throw std::runtime_error("No timestamping client for " + setup.Timestamp.URL);
    handler_->SetTSPClient(tspClient_.get());
  }
}

void TToolkitBinding::UseSigningCertificate(const ISignerCertificate& certificate) {
  certStorage_->Clear();
  handler_->SetSignatureKind(PDF_SIGNATURE_KIND_PKCS7);
  TOvX509Certificate& signing = static_cast<const TCertificate&>(certificate).Certificate();
  certStorage_->Add(signing, true);
  if (withChain_) {
    // The issuers the database knows, up to the root; bounded, each once.
    if (!authorities_) {
      authorities_ = std::make_unique<TOvWinCertStorage>();
      authorities_->SetSystemStores({"CA", "ROOT"});
    }
    std::unordered_set<std::string> seen{std::string(signing.CertificateBinary())};
    const TOvX509Certificate* current = &signing;
    for (int depth = 0; depth < 16; ++depth) {
      const int at = authorities_->IndexOfIssuer(*current);
      TOvX509Certificate* issuer = at >= 0 ? authorities_->Certificates(at) : nullptr;
      if (!issuer || !seen.insert(std::string(issuer->CertificateBinary())).second) break;
      certStorage_->Add(*issuer, false);
      current = issuer;
    }
  }
  handler_->SetCertStorage(certStorage_.get());
  // PAdES names the filter its readers expect; the plain signature keeps the
  // window's traditional one.
  handler_->SetCustomName(withChain_ ? "Adobe.PPKLite" : "Adobe.PPKMS");
}

void TToolkitBinding::Close(bool save) { document_->Close(save); }

void TToolkitBinding::AddValidationData(TOvStream& stream, const TSigningRequest& request,
                                        std::function<void(const std::string&)> progress) {
  TLongTermOptions options;
  if (request.Level == TPAdESLevel::plBLTA) options.Timestamp = request.Timestamp;
  options.TSPFactory = tspFactory_;
  options.Progress = std::move(progress);
  AppendLongTermValidation(stream, options);
}

void TToolkitBinding::SetProgressHandler(std::function<void(int percent)> handler) {
  if (!handler) {
    document_->SetOnProgress(nullptr);
    return;
  }
  document_->SetOnProgress(
      [handler = std::move(handler)](TOvPDFDocument*, int percent, bool&) { handler(percent); });
}

}  // namespace tavra
