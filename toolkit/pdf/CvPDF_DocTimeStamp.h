// Document timestamps (ISO 32000-2 12.8.5): a /Type /DocTimeStamp value with
// /SubFilter /ETSI.RFC3161 whose /Contents is an RFC 3161 token over the byte
// ranges. It is written as its own incremental update, with a signature field
// and an invisible widget, through the same placeholder a signature uses.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "toolkit/pdf/CvPDF.h"

namespace corvane {

class TOvCustomTSPClient;
class TOvClientTSPInfo;
class TOvHashFunction;
class TOvX509Certificate;

class TOvPDFDocTimeStampHandler : public TOvPDFSecurityHandler {
 public:
  TOvPDFDocTimeStampHandler();
  ~TOvPDFDocTimeStampHandler() override;

  static const TOvPDFSecurityHandlerClass& Class();
  const TOvPDFSecurityHandlerClass& HandlerClass() const override { return Class(); }

  std::string ValueType() const override { return "DocTimeStamp"; }
  void LoadSignatureInfo(TOvPDFDictionary* sigDict) override;
  void SaveSignatureInfo(TOvPDFDictionary* sigDict) override;
  void BeginSigning(TOvPDFFile* file) override;
  void HashInit() override;
  bool HashUpdate(std::string_view bytes) override;
  ByteString HashFinal() override;
  // The token the TSPClient gives for the digest, checked to be a sound
  // token over exactly that digest.
  ByteString SignDigest(std::string_view digest) override;
  // True when the loaded token is sound and its imprint is digest.
  bool VerifyDigest(std::string_view digest) override;
  // A token measured by asking the TSPClient once, plus a margin.
  int64_t EstimateSignatureSize() override;
  void ResetHandler() override;

  // Not owned. The client's HashAlgorithm hashes the byte ranges.
  TOvCustomTSPClient* TSPClient() const { return tspClient_; }
  void SetTSPClient(TOvCustomTSPClient* value) { tspClient_ = value; }

  // What the last LoadSignatureInfo and VerifyDigest found: the token's
  // hash algorithm, its time (0 when it does not read), the certificate
  // that signed it (nil when none), and why it does not verify.
  int32_t HashAlgorithm() const { return hashAlgorithm_; }
  double GenTime() const;
  const TOvX509Certificate* AuthorityCertificate() const;
  const std::string& Problem() const { return problem_; }

 private:
  // Parses token; empty when it is a sound token over digest, else the cause.
  std::string CheckToken(std::string_view token, std::string_view digest);
  [[noreturn]] void Fail(const std::string& message) const;

  TOvCustomTSPClient* tspClient_ = nullptr;
  std::unique_ptr<TOvHashFunction> hash_;
  std::unique_ptr<TOvClientTSPInfo> info_;
  ByteString readToken_;
  int32_t hashAlgorithm_;
  std::string problem_;
};

// Adds a document timestamp made by handler to the open document as a new
// invisible entry; Close(true) writes it as its own update.
TOvPDFSignature* AddDocTimeStamp(TOvPDFDocument& document, TOvPDFDocTimeStampHandler& handler);

}  // namespace corvane
