// The signing workflow bound to the real toolkit: the personal store is the
// certificate database's "My" store, the document is a TOvPDFDocument that
// works directly in the workflow's temporary copy, and the signature is a detached PKCS#7
// made by one public-key handler over a memory storage holding the chosen
// certificate.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/core/SignerToolkit.h"

namespace corvane {
class TOvPDFDocument;
class TOvPDFPublicKeySecurityHandler;
class TOvMemoryCertStorage;
class TOvWinCertStorage;
class TOvX509Certificate;
class TOvCustomTSPClient;
}  // namespace corvane

namespace tavra {

class TToolkitBinding final : public ISignerToolkit {
 public:
  // Opens and lists the "My" store of the database the key store points at.
  TToolkitBinding();
  ~TToolkitBinding() override;

  size_t CertificateCount() const override { return certificates_.size(); }
  const ISignerCertificate& Certificate(size_t index) const override;

  void Open(corvane::TOvStream& stream) override;
  bool Encrypted() const override;
  int AddSignature() override;
  void ConfigureSignature(int index, const TSignatureSetup& setup) override;
  void UseSigningCertificate(const ISignerCertificate& certificate) override;
  void Close(bool save) override;
  void SetProgressHandler(std::function<void(int percent)> handler) override;
  void AddValidationData(corvane::TOvStream& stream, const TSigningRequest& request,
                         std::function<void(const std::string&)> progress) override;

  corvane::TOvPDFDocument& Document() { return *document_; }

  // Makes the timestamping client for a signature that names an authority;
  // by default the HTTP client (MakeTimestampClient).
  using TTSPClientFactory =
      std::function<std::unique_ptr<corvane::TOvCustomTSPClient>(const TTimestampServer&)>;
  void SetTSPClientFactory(TTSPClientFactory factory) { tspFactory_ = std::move(factory); }

 private:
  class TCertificate;

  std::unique_ptr<corvane::TOvPDFDocument> document_;
  std::unique_ptr<corvane::TOvPDFPublicKeySecurityHandler> handler_;
  std::unique_ptr<corvane::TOvMemoryCertStorage> certStorage_;
  std::unique_ptr<corvane::TOvWinCertStorage> winCertStorage_;
  std::vector<std::unique_ptr<TCertificate>> certificates_;
  TTSPClientFactory tspFactory_;
  std::unique_ptr<corvane::TOvCustomTSPClient> tspClient_;
  // Authorities of the database, for the chain a CAdES signature carries.
  std::unique_ptr<corvane::TOvWinCertStorage> authorities_;
  bool withChain_ = false;
};

}  // namespace tavra
