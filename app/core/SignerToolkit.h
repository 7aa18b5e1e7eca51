// The one narrow door between the signing workflow and the toolkit. The
// workflow needs a personal certificate store, a PDF document it can open,
// extend by one signature entry and save, and a public-key handler that signs
// with one chosen certificate; nothing else. Tests put fakes behind this
// interface; the executable binds it to the real toolkit components.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "app/core/SignaturePlacement.h"
#include "app/core/SigningRequest.h"

namespace corvane {
class TOvStream;
}

namespace tavra {

// A certificate of the personal store ("My"), owned by the store.
class ISignerCertificate {
 public:
  virtual ~ISignerCertificate() = default;

  // UTF-8 texts of the last common-name attribute of the issuer and subject.
  virtual std::string IssuerCommonName() const = 0;
  virtual std::string SubjectCommonName() const = 0;
  // The stored serial bytes: the DER INTEGER content octets (a 0x00 put in
  // front when the first octet is 0x80 or above is allowed, not required).
  virtual std::string SerialNumber() const = 0;
  // True for RSA, DSA, RSA-PSS and EC public keys.
  virtual bool KeyAlgorithmCanSign() const = 0;
  // True when the store holds the private key of the certificate.
  virtual bool PrivateKeyExists() const = 0;
};

// Signature types of a signature entry.
enum class TSignerSignatureType { sstDocument = 0, sstMDP = 1 };

// Everything the workflow sets on the new signature entry, in one record.
struct TSignatureSetup {
  std::string AuthorName;
  // Days since 1899-12-30 with the time of day as the fraction, UTC.
  double SigningTime = 0;
  // UTF-8; empty means no /Reason entry.
  std::string Reason;
  TSignerSignatureType SignatureType = TSignerSignatureType::sstDocument;
  bool Invisible = false;
  // Set for visible entries so that the widget's text picks its own encoding.
  bool AutoFontEncoding = false;
  // Visible entries: the font to embed (also used, with a default, when the
  // document claims PDF/A) and the background picture; empty for none.
  std::string FontPath;
  std::string ImagePath;
  // Where the entry goes; the field name in UTF-8.
  TSignaturePlacement Placement;
  // RSA keys sign with RSASSA-PSS instead of PKCS#1 v1.5.
  bool UsePSS = false;
  // ETSI.CAdES.detached instead of adbe.pkcs7.detached.
  bool CAdES = false;
  // The digest's algorithm constant; 0 keeps the handler's default.
  int32_t HashAlgorithm = 0;
  // A timestamp from this authority (no URL: none).
  TTimestampServer Timestamp;
};

// The toolkit components the main window owns: the personal store, one
// document, one public-key handler and its memory certificate storage. Errors
// are raised as exceptions (std::exception descendants) with the toolkit's
// texts.
class ISignerToolkit {
 public:
  virtual ~ISignerToolkit() = default;

  // The personal store, listed when the toolkit was created; storage order.
  virtual size_t CertificateCount() const = 0;
  virtual const ISignerCertificate& Certificate(size_t index) const = 0;

  // Parses the document from the read/write stream, the workflow's own
  // temporary copy: the document may work in it directly, and a failed or
  // unsaved run may leave it changed.
  virtual void Open(corvane::TOvStream& stream) = 0;
  // True for a document that is encrypted or was decrypted on opening; the
  // application refuses to sign either.
  virtual bool Encrypted() const = 0;
  // Appends a new, empty signature entry; returns its index.
  virtual int AddSignature() = 0;
  // Binds the entry to the public-key handler and applies the setup.
  virtual void ConfigureSignature(int index, const TSignatureSetup& setup) = 0;
  // Clears the memory storage, puts one copy of the certificate with access to
  // its private key into it and points the handler at it: PKCS#7 signatures
  // under the filter name "Adobe.PPKMS" (PAdES signatures: "Adobe.PPKLite").
  virtual void UseSigningCertificate(const ISignerCertificate& certificate) = 0;
  // save = true writes the incremental update and the signature value into the
  // stream given to Open; save = false releases the document without writing.
  virtual void Close(bool save) = 0;

  // Called with the percentage done while a document is opened and saved;
  // an empty function removes it.
  virtual void SetProgressHandler(std::function<void(int percent)> handler) { (void)handler; }

  // B-LT and B-LTA, after Close(true): appends to the signed document in
  // stream the validation data of its signatures and, for B-LTA, a document
  // timestamp from the request's authority. progress is told the name of each
  // certificate whose data is fetched. Raises with the cause; the stream is
  // then to be discarded.
  virtual void AddValidationData(corvane::TOvStream& stream, const TSigningRequest& request,
                                 std::function<void(const std::string&)> progress);
};

inline void ISignerToolkit::AddValidationData(corvane::TOvStream&, const TSigningRequest&,
                                              std::function<void(const std::string&)>) {
  throw std::runtime_error("validation data cannot be added with this toolkit");
}

}  // namespace tavra
