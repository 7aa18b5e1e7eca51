// The concrete security handlers: the password handler of the standard
// security scheme (/Filter /Standard, CvPDFSecurity_Password.cpp) and the
// public-key handler that signs with a certificate and reads and verifies
// existing signatures (CvPDFSecurity_PublicKey.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFUtils.h"

namespace corvane {

// The standard security handler (ISO 32000-1 7.6.3): revisions 2 to 4 (RC4
// and MD5), 5 (AES-256 with SHA-256, Adobe extension level 3) and 6 (AES-256
// with the iterated SHA-2 hash of ISO 32000-2 7.6.4.3.4).
class TOvPDFPasswordSecurityHandler : public TOvPDFSecurityHandler {
 public:
  TOvPDFPasswordSecurityHandler();
  ~TOvPDFPasswordSecurityHandler() override;

  static const TOvPDFSecurityHandlerClass& Class();
  const TOvPDFSecurityHandlerClass& HandlerClass() const override { return Class(); }

  void LoadEncryptionInfo(TOvPDFDictionary* encryptDict) override;
  void LoadCryptFilters(TOvPDFDictionary* cfDict, const std::string& stmFName,
                        const std::string& strFName) override;
  void AttachFile(TOvPDFFile* file) override;
  void SaveEncryptionInfo(TOvPDFDictionary* encryptDict) override;
  void PrepareEncryption(TOvPDFFile* file) override;
  // The file key; "Invalid password" when neither password opens the file.
  ByteString GetEncryptionKey() override;
  void CustomDecryptInit(TOvPDFObject* object) override;
  void CustomEncryptInit(TOvPDFObject* object) override;
  bool CustomEncryptUpdate(std::string_view in, ByteString& out) override;
  bool CustomEncryptFinal(ByteString& out) override;
  bool CustomDecryptUpdate(std::string_view in, ByteString& out) override;
  bool CustomDecryptFinal(ByteString& out) override;
  void InitializeHandler() override;
  void FinalizeHandler() override;
  void ResetHandler() override;

  int32_t Revision() const { return revision_; }
  void SetRevision(int32_t value) { revision_ = value; }
  int32_t P() const { return p_; }
  TOvPDFPermissions& Permissions() { return *permissions_; }
  const std::string& UserPassword() const { return userPassword_; }
  const std::string& OwnerPassword() const { return ownerPassword_; }
  // Stores the text; a handler that has loaded no /O and /U computes the
  // values of a new encryption. A wrong password shows only when the key is
  // first needed.
  void SetUserPassword(std::string value);
  void SetOwnerPassword(std::string value);

  // The checks themselves, for callers that want to know which password
  // matched. The owner check replaces UserPassword by the one kept in /O
  // (revisions 2-4).
  bool CheckUserPassword();
  bool CheckOwnerPassword();

 private:
  std::string PaddedPassword(std::string_view password) const;
  size_t KeyBytes() const;
  ByteString ComputeFileKey(std::string_view password);
  ByteString OwnerRC4Key(std::string_view ownerPassword) const;
  ByteString ComputeO();
  ByteString ComputeU(std::string_view fileKey);
  void RequireFile() const;
  void ComputeNewValues();
  // Revisions 5 and 6.
  ByteString HashR56(std::string_view password, std::string_view salt,
                     std::string_view extra) const;
  std::string PasswordR56(std::string_view password) const;
  bool CheckR56(std::string_view password, std::string_view value, std::string_view extra) const;
  ByteString KeyFromR56(std::string_view password, std::string_view value,
                        std::string_view encryptedKey, std::string_view extra) const;
  void NewR56Pair(std::string_view password, std::string_view extra, ByteString& value,
                  ByteString& encryptedKey) const;
  bool VerifyPerms(std::string_view key) const;
  ByteString ComputePerms() const;

  int32_t revision_ = 3;
  ByteString o_;
  ByteString u_;
  ByteString oe_;
  ByteString ue_;
  ByteString fileKey_;
  ByteString perms_;
  ByteString newO_;
  ByteString newU_;
  int32_t p_ = 0;
  int32_t keyLength_ = 128;
  int32_t v_ = 2;
  std::unique_ptr<TOvPDFPermissions> permissions_;
  std::string userPassword_;
  std::string ownerPassword_;
  TOvPDFFile* file_ = nullptr;
};

// ---------------------------------------------------------------------------
// The public-key handler

class TOvCustomCertStorage;
class TOvMemoryCertStorage;
class TOvX509Certificate;
class TOvHashFunction;
class TOvCustomTSPClient;
class TOvPKCS7Attributes;

// Revocation data embedded in a signature (adbe-revocationInfoArchival):
// CRLs and OCSP responses as DER, and other (type OID, value) entries.
class TOvPDFPublicKeyRevocationInfo {
 public:
  struct TOtherEntry {
    ByteString TypeOID;  // content octets of the OBJECT IDENTIFIER
    ByteString Value;
  };

  std::vector<ByteString>& CRLs() { return crls_; }
  std::vector<ByteString>& OCSPResponses() { return ocspResponses_; }
  std::vector<TOtherEntry>& OtherEntries() { return others_; }
  const std::vector<ByteString>& CRLs() const { return crls_; }
  const std::vector<ByteString>& OCSPResponses() const { return ocspResponses_; }
  const std::vector<TOtherEntry>& OtherEntries() const { return others_; }

  bool Empty() const { return crls_.empty() && ocspResponses_.empty() && others_.empty(); }
  void Clear();
  // Bytes the signature grows by when these data are embedded.
  int64_t EstimatedSize() const;
  // The DER of the attribute value, and its reading back.
  ByteString Encode() const;
  bool Decode(std::string_view der);

 private:
  std::vector<ByteString> crls_;
  std::vector<ByteString> ocspResponses_;
  std::vector<TOtherEntry> others_;
};

// Values of SignatureKind.
inline constexpr uint8_t PDF_SIGNATURE_KIND_X509 = 0;
inline constexpr uint8_t PDF_SIGNATURE_KIND_PKCS7 = 1;

class TOvPDFPublicKeySecurityHandler : public TOvPDFSecurityHandler {
 public:
  TOvPDFPublicKeySecurityHandler();
  ~TOvPDFPublicKeySecurityHandler() override;

  static const TOvPDFSecurityHandlerClass& Class();
  const TOvPDFSecurityHandlerClass& HandlerClass() const override { return Class(); }

  void LoadSignatureInfo(TOvPDFDictionary* sigDict) override;
  void SaveSignatureInfo(TOvPDFDictionary* sigDict) override;
  void BeginSignatureField(TOvPDFFile* file) override;
  void BeginSigning(TOvPDFFile* file) override;
  void BeginTimestamping() override;
  void HashInit() override;
  bool HashUpdate(std::string_view bytes) override;
  ByteString HashFinal() override;
  ByteString SignDigest(std::string_view digest) override;
  bool VerifyDigest(std::string_view digest) override;
  int64_t EstimateSignatureSize() override;
  ByteString TimestampSignature() override;
  bool GetSignerInfo(std::string& name, std::string& subjectLines,
                     std::string& keyDescription) override;
  void ResetHandler() override;

  uint8_t SignatureKind() const { return signatureKind_; }
  void SetSignatureKind(uint8_t value) { signatureKind_ = value; }
  bool DetachedSignature() const { return detachedSignature_; }
  void SetDetachedSignature(bool value) { detachedSignature_ = value; }
  // A detached PKCS#7 value written as /SubFilter /ETSI.CAdES.detached, with
  // the signer's certificate bound by an ESS signing-certificate-v2
  // attribute (a PAdES baseline signature; with a TSPClient, B-T). Survives
  // a reset, as DetachedSignature does.
  bool CAdES() const { return cades_; }
  void SetCAdES(bool value) { cades_ = value; }
  int32_t HashAlgorithm() const { return hashAlgorithm_; }
  void SetHashAlgorithm(int32_t value) { hashAlgorithm_ = value; }
  TOvCustomCertStorage* CertStorage() const { return certStorage_; }
  void SetCertStorage(TOvCustomCertStorage* value) { certStorage_ = value; }
  TOvCustomTSPClient* TSPClient() const { return tspClient_; }
  void SetTSPClient(TOvCustomTSPClient* value) { tspClient_ = value; }
  bool IgnoreTimestampFailure() const { return ignoreTimestampFailure_; }
  void SetIgnoreTimestampFailure(bool value) { ignoreTimestampFailure_ = value; }
  // PKCS#7 values signed with an RSA key use RSASSA-PSS (the hash, MGF1 with
  // it, a salt as long as the hash) instead of PKCS#1 v1.5.
  bool UsePSS() const { return usePSS_; }
  void SetUsePSS(bool value) { usePSS_ = value; }
  TOvPDFPublicKeyRevocationInfo& RevocationInfo() { return revocationInfo_; }

  // What the last LoadSignatureInfo read.
  const std::string& ReadSubFilter() const { return readSubFilter_; }
  const ByteString& ReadSignatureValue() const { return readValue_; }
  TOvMemoryCertStorage& ReadCertificates() { return *readCertificates_; }
  // Code of the last VerifyDigest, 0 when it succeeded.
  int32_t LastVerificationResult() const { return lastVerificationResult_; }
  // Signing time of the last loaded PKCS#7 value, from its signed attributes
  // (0 when it has none).
  double ReadSigningTime() const { return readSigningTime_; }

  // The certificate that signs: the first of CertStorage with a private key.
  TOvX509Certificate* SigningCertificate() const;
  // The certificate the last verified signature names as its signer: the one
  // its SignerInfo identifies, from the value's certificates or else from
  // CertStorage (adbe.x509.rsa_sha1: the first of /Cert). Nil when none was
  // found or nothing was verified.
  TOvX509Certificate* SignerCertificate() const;
  // Reads back a value this handler made for digest, as it was written into
  // the file: it must parse in this handler's format, name the signing
  // certificate, verify with its public key and carry digest as its message
  // digest. Trust and timestamps are not asked. Raises
  // EOvPDFPublicKeySecurityHandlerError with the cause.
  void CheckWrittenValue(std::string_view value, std::string_view digest) const;

 private:
  TOvX509Certificate& RequireSigningCertificate() const;
  int32_t RequireSupportedHash() const;
  ByteString SignRaw(std::string_view digest);
  ByteString SignPKCS7(std::string_view digest);
  int64_t EstimatePKCS7Size();
  // The size of a token the TSPClient gives for a digest of its hash.
  int64_t MeasureTimestampToken();
  void AddCAdESAttributes(TOvPKCS7Attributes& attributes) const;
  void WriteCertificateChain(TOvPDFDictionary* sigDict);
  void LoadPKCS7Value();
  void LoadX509Value();
  bool VerifyRaw(std::string_view digest);
  bool VerifyPKCS7(std::string_view digest);

  std::string readSubFilter_;
  TOvCustomCertStorage* certStorage_ = nullptr;
  std::unique_ptr<TOvHashFunction> hash_;
  ByteString readValue_;
  std::unique_ptr<TOvMemoryCertStorage> readCertificates_;
  uint8_t signatureKind_ = PDF_SIGNATURE_KIND_X509;
  TOvPDFFile* file_ = nullptr;
  bool hashMode_ = false;
  ByteString collected_;
  int32_t hashAlgorithm_;
  TOvPDFPublicKeyRevocationInfo revocationInfo_;
  bool detachedSignature_ = true;
  bool cades_ = false;
  int32_t lastVerificationResult_ = 0;
  TOvCustomTSPClient* tspClient_ = nullptr;
  bool ignoreTimestampFailure_ = false;
  bool usePSS_ = false;
  double readSigningTime_ = 0;
  std::unique_ptr<TOvX509Certificate> signerCertificate_;
  int readSignerCount_ = 0;
  int readTimestampCount_ = 0;
  int64_t measuredToken_ = 0;
  bool verifyTimestamps_ = true;
};

}  // namespace corvane
