// What the executable signs with until the toolkit's documents, certificates
// and the NSS store are plugged in: a store without certificates, so the Sign
// action ends with "Certfikát nenalezen" and no file is ever touched. The
// document operations are unreachable without a certificate and refuse work.
#pragma once

#include "app/core/SignerToolkit.h"

namespace tavra {

class TPlaceholderToolkit final : public ISignerToolkit {
 public:
  size_t CertificateCount() const override { return 0; }
  const ISignerCertificate& Certificate(size_t index) const override;

  void Open(corvane::TOvStream& stream) override;
  bool Encrypted() const override { return false; }
  int AddSignature() override;
  void ConfigureSignature(int index, const TSignatureSetup& setup) override;
  void UseSigningCertificate(const ISignerCertificate& certificate) override;
  void Close(bool save) override;
};

}  // namespace tavra
