// The message components: TOvMessageSigner turns data or a digest into a
// PKCS#7 SignedData, TOvMessageVerifier checks one. They report integer codes
// and keep the text of a caught exception in ErrorInfo; they never throw for
// ordinary failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvPKCS7.h"

namespace corvane {

class TOvCustomCertStorage;
class TOvCustomCryptoProviderManager;
class TOvCustomTSPClient;
class TOvClientTSPInfo;
class TOvX509Certificate;
class TOvMessageProcessor;

// Results of the message components (0 is success).
inline constexpr int32_t MSG_ERROR_NO_CERTIFICATE = 8194;
inline constexpr int32_t MSG_ERROR_BUFFER_TOO_SMALL = 8196;
inline constexpr int32_t MSG_ERROR_INVALID_MESSAGE = 8198;
inline constexpr int32_t MSG_ERROR_NO_RECIPIENT = 8199;
inline constexpr int32_t MSG_ERROR_UNSUPPORTED_ALGORITHM = 8200;
inline constexpr int32_t MSG_ERROR_NOT_SIGNED_DATA = 8203;
inline constexpr int32_t MSG_ERROR_INVALID_SIGNATURE = 8204;
inline constexpr int32_t MSG_ERROR_DIGEST_MISMATCH = 8205;
inline constexpr int32_t MSG_ERROR_COUNTERSIGN_FAILED = 8206;
inline constexpr int32_t MSG_ERROR_ATTRIBUTES_ENCODING = 8207;
inline constexpr int32_t MSG_ERROR_UNSUPPORTED_SIGNATURE_TYPE = 8209;
inline constexpr int32_t MSG_ERROR_INVALID_COUNTERSIGNATURE = 8210;
inline constexpr int32_t MSG_ERROR_NO_MESSAGE_DIGEST = 8211;
inline constexpr int32_t MSG_ERROR_UNSUPPORTED_HASH = 8212;
inline constexpr int32_t MSG_ERROR_EXCEPTION = 8214;
inline constexpr int32_t MSG_ERROR_HASHING = 8215;
inline constexpr int32_t MSG_ERROR_MAC = 8216;
inline constexpr int32_t MSG_ERROR_NO_TSP_CLIENT = 8217;
inline constexpr int32_t MSG_ERROR_INVALID_TIMESTAMP = 8218;
inline constexpr int32_t MSG_ERROR_RSA_SIGNING = 8219;
inline constexpr int32_t MSG_ERROR_DSA_SIGNING = 8220;
inline constexpr int32_t MSG_ERROR_PSS_SIGNING = 8221;
// An ESS signing-certificate attribute (RFC 2634, RFC 5035) names another
// certificate than the one that verifies the signature.
inline constexpr int32_t MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH = 8222;
// A message that must have one signer has another number of them.
inline constexpr int32_t MSG_ERROR_SIGNER_COUNT = 8223;

// What a result of the message components means, in a few English words, for
// messages a person reads when no caught text says more.
std::string MessageErrorText(int32_t code);

// Progress of hashing: total and processed bytes; the handler may set cancel.
using TCvProgressEvent = std::function<void(TOvMessageProcessor* sender, int64_t total,
                                            int64_t processed, bool& cancel)>;

class TOvMessageProcessor {
 public:
  TOvMessageProcessor() = default;
  virtual ~TOvMessageProcessor() = default;
  TOvMessageProcessor(const TOvMessageProcessor&) = delete;
  TOvMessageProcessor& operator=(const TOvMessageProcessor&) = delete;

  // Not owned; none means the process-wide manager.
  TOvCustomCryptoProviderManager* CryptoProviderManager() const { return manager_; }
  void SetCryptoProviderManager(TOvCustomCryptoProviderManager* value) { manager_ = value; }
  const TCvProgressEvent& OnProgress() const { return on_progress_; }
  void SetOnProgress(TCvProgressEvent handler) { on_progress_ = std::move(handler); }
  const std::string& ErrorInfo() const { return error_info_; }

 protected:
  // Raises EOvMessageUserCancelledError "Cancelled by user" when the handler cancels.
  void DoProgress(int64_t total, int64_t processed);
  // Hashes the whole buffer, or count bytes of a stream in 32 KiB blocks,
  // reporting progress.
  ByteString HashBuffer(int32_t algorithm, std::string_view data);
  ByteString HashStream(int32_t algorithm, TOvStream& stream, int64_t count);

  std::string error_info_;

 private:
  TOvCustomCryptoProviderManager* manager_ = nullptr;
  TCvProgressEvent on_progress_;
};

enum TCvMessageSignatureType : int32_t { mstPublicKey = 0, mstMAC = 1 };

// TCvSigningOptions bits.
using TCvSigningOptions = uint32_t;
inline constexpr TCvSigningOptions soInsertMessageDigests = 0x01;
inline constexpr TCvSigningOptions soIgnoreTimestampFailure = 0x02;
inline constexpr TCvSigningOptions soNoOuterContentInfo = 0x04;
inline constexpr TCvSigningOptions soRawCountersign = 0x08;
inline constexpr TCvSigningOptions soInsertSigningTime = 0x10;
inline constexpr TCvSigningOptions soUseGeneralizedTimeFormat = 0x20;
inline constexpr TCvSigningOptions soIgnoreBadCountersignatures = 0x40;
inline constexpr TCvSigningOptions soUseImplicitContent = 0x80;

class TOvMessageSigner : public TOvMessageProcessor {
 public:
  TOvMessageSigner();
  ~TOvMessageSigner() override;

  TCvMessageSignatureType SignatureType() const { return signature_type_; }
  void SetSignatureType(TCvMessageSignatureType value) { signature_type_ = value; }
  // Not owned.
  TOvCustomCertStorage* CertStorage() const { return cert_storage_; }
  void SetCertStorage(TOvCustomCertStorage* value) { cert_storage_ = value; }
  bool IncludeCertificates() const { return include_certificates_; }
  void SetIncludeCertificates(bool value) { include_certificates_ = value; }
  TOvCustomCertStorage* RecipientCerts() const { return recipient_certs_; }
  void SetRecipientCerts(TOvCustomCertStorage* value) { recipient_certs_ = value; }
  bool UseUndefSize() const { return use_undef_size_; }
  void SetUseUndefSize(bool value) { use_undef_size_ = value; }
  bool UsePSS() const { return use_pss_; }
  void SetUsePSS(bool value) { use_pss_ = value; }
  TCvSigningOptions SigningOptions() const { return signing_options_; }
  void SetSigningOptions(TCvSigningOptions value) { signing_options_ = value; }
  // Not owned.
  TOvCustomTSPClient* TSPClient() const { return tsp_client_; }
  void SetTSPClient(TOvCustomTSPClient* value) { tsp_client_ = value; }
  int32_t HashAlgorithm() const { return hash_algorithm_; }
  void SetHashAlgorithm(int32_t value) { hash_algorithm_ = value; }
  int32_t MacAlgorithm() const { return mac_algorithm_; }
  void SetMacAlgorithm(int32_t value) { mac_algorithm_ = value; }
  const ByteString& ContentType() const { return content_type_; }
  void SetContentType(ByteString value) { content_type_ = std::move(value); }
  const ByteString& SignatureAlgorithmOID() const { return signature_algorithm_oid_; }
  void SetSignatureAlgorithmOID(ByteString value) { signature_algorithm_oid_ = std::move(value); }
  TDateTime SigningTime() const { return signing_time_; }
  void SetSigningTime(TDateTime value) { signing_time_ = value; }
  TOvPKCS7Attributes& AuthenticatedAttributes() { return authenticated_attributes_; }
  TOvPKCS7Attributes& UnauthenticatedAttributes() { return unauthenticated_attributes_; }
  // The content digest of the last operation.
  const ByteString& ContentDigest() const { return content_digest_; }

  // Two-call sizing: outSize smaller than needed gives MSG_ERROR_BUFFER_TOO_SMALL
  // with the size needed stored (larger than the final message, whose length
  // the successful call stores).
  int32_t Sign(const void* data, int64_t size, bool detached, int64_t& outSize, void* outBuffer);
  // The content is count bytes of inStream from its position (0: to its end).
  int32_t SignStream(TOvStream& inStream, TOvStream& outStream, int64_t count, bool detached);
  int32_t Countersign(const void* message, int64_t size, int64_t& outSize, void* outBuffer);
  int32_t CountersignStream(TOvStream& inStream, TOvStream& outStream, int64_t count);
  int32_t Timestamp(const void* message, int64_t size, int64_t& outSize, void* outBuffer);
  // Bytes enough for a message over dataSize bytes; 0 without usable storage.
  int64_t EstimateSignedSize(int64_t dataSize, bool detached);

 private:
  // What is signed: a buffer, or count bytes of a stream from start.
  struct TContent {
    std::string_view buffer;
    TOvStream* stream = nullptr;
    int64_t start = 0;
    int64_t count = 0;
  };
  int32_t SignPublicKey(const TContent& content, bool detached, TOvPKCS7Message& message);
  int32_t SignMAC(const TContent& content, bool detached, TOvPKCS7Message& message);
  int64_t EstimateMACSize(int64_t dataSize, bool detached);
  // Builds signer's fields for certificate and signs value (the content digest or
  // the digest of the encoded signed attributes).
  int32_t FillSignerInfo(TOvPKCS7Signer& signer, TOvX509Certificate& certificate,
                         std::string_view value);
  // The value a SignerInfo signs for attributes (messageDigest set to digest);
  // 0 or an error code.
  int32_t SignedValue(std::string_view digest, ByteString& value);
  int32_t TimestampSigners(TOvPKCS7SignedData& data);
  int32_t WriteMessage(TOvPKCS7Message& message, int64_t& outSize, void* outBuffer);
  std::vector<TOvX509Certificate*> SigningCertificates() const;
  bool HasSigningCertificate() const;
  int RecipientCount() const;

  TCvMessageSignatureType signature_type_ = mstPublicKey;
  TOvCustomCertStorage* cert_storage_ = nullptr;
  bool include_certificates_ = true;
  TOvCustomCertStorage* recipient_certs_ = nullptr;
  bool use_undef_size_ = true;
  bool use_pss_ = false;
  TCvSigningOptions signing_options_ = soInsertMessageDigests;
  TOvCustomTSPClient* tsp_client_ = nullptr;
  int32_t hash_algorithm_;
  int32_t mac_algorithm_;
  ByteString content_type_;
  ByteString signature_algorithm_oid_;
  TDateTime signing_time_ = 0;
  TOvPKCS7Attributes authenticated_attributes_;
  TOvPKCS7Attributes unauthenticated_attributes_;
  ByteString content_digest_;
};

// TCvVerificationOptions bits.
using TCvVerificationOptions = uint32_t;
inline constexpr TCvVerificationOptions voUseEmbeddedCerts = 0x01;
inline constexpr TCvVerificationOptions voUseLocalCerts = 0x02;
inline constexpr TCvVerificationOptions voVerifyMessageDigests = 0x04;
inline constexpr TCvVerificationOptions voVerifyTimestamps = 0x08;
inline constexpr TCvVerificationOptions voNoOuterContentInfo = 0x10;
inline constexpr TCvVerificationOptions voLiberalMode = 0x20;

// Asked for the certificates a message names, before they are looked up.
using TCvCertIDsEvent =
    std::function<void(TOvMessageProcessor* sender, const std::vector<const TOvPKCS7Issuer*>& ids)>;

class TOvMessageVerifier : public TOvMessageProcessor {
 public:
  TOvMessageVerifier();
  ~TOvMessageVerifier() override;

  // Not owned: certificates looked up with voUseLocalCerts.
  TOvCustomCertStorage* CertStorage() const { return cert_storage_; }
  void SetCertStorage(TOvCustomCertStorage* value) { cert_storage_ = value; }
  bool VerifyCountersignatures() const { return verify_countersignatures_; }
  void SetVerifyCountersignatures(bool value) { verify_countersignatures_ = value; }
  TCvVerificationOptions VerificationOptions() const { return options_; }
  void SetVerificationOptions(TCvVerificationOptions value) { options_ = value; }
  const TCvCertIDsEvent& OnCertIDs() const { return on_cert_ids_; }
  void SetOnCertIDs(TCvCertIDsEvent handler) { on_cert_ids_ = std::move(handler); }
  // The detached data passed in is the content digest already.
  bool InputIsHash() const { return input_is_hash_; }
  void SetInputIsHash(bool value) { input_is_hash_ = value; }

  // The encapsulated content is written to content; a contentSize smaller than
  // the message size is answered with MSG_ERROR_BUFFER_TOO_SMALL and that size.
  int32_t Verify(const void* message, int64_t size, int64_t& contentSize, void* content);
  int32_t VerifyDetached(const void* data, int64_t dataSize, const void* signature,
                         int64_t signatureSize);

  // What the last verification found.
  TOvMemoryCertStorage& Certificates() { return certificates_; }
  TOvPKCS7Attributes& Attributes() { return attributes_; }
  int TimestampCount() const { return static_cast<int>(timestamps_.size()); }
  TOvClientTSPInfo* Timestamps(int index) const;
  void ClearTimestamps();
  // The eContentType of the last message verified.
  const ByteString& ContentType() const { return content_type_; }
  // The certificate that the index-th SignerInfo names (its
  // IssuerAndSerialNumber or SubjectKeyIdentifier), found among the message's
  // certificates or else in CertStorage; owned by the verifier.
  TOvX509Certificate* SignerCertificate(int index) const;
  int SignerCount() const { return static_cast<int>(signer_certificates_.size()); }

 private:
  int32_t Run(std::string_view message, const std::string_view* detached, ByteString* content);
  int32_t CheckSigner(TOvPKCS7Signer& signer, TOvPKCS7SignedData& data,
                      std::string_view contentDigest, int32_t hashAlgorithm, bool checkDigest);
  int32_t CheckSignature(TOvPKCS7Signer& signer, const TOvX509Certificate& certificate,
                         std::string_view value, int32_t hashAlgorithm);
  int32_t CheckSigningCertificate(const TOvPKCS7Signer& signer,
                                  const TOvX509Certificate& certificate);
  int32_t CheckCountersignatures(TOvPKCS7Signer& signer, TOvPKCS7SignedData& data);
  int32_t CheckTimestamps(TOvPKCS7Signer& signer);
  TOvX509Certificate* FindCertificate(const TOvPKCS7Issuer& issuer, TOvPKCS7SignedData& data);
  int32_t DigestAlgorithmOf(const TOvPKCS7Signer& signer) const;
  int32_t CheckAuthenticatedData(std::string_view encoding, const std::string_view* detached,
                                 ByteString* content);

  TOvCustomCertStorage* cert_storage_ = nullptr;
  bool verify_countersignatures_ = true;
  TCvVerificationOptions options_ =
      voUseEmbeddedCerts | voUseLocalCerts | voVerifyMessageDigests | voVerifyTimestamps;
  TCvCertIDsEvent on_cert_ids_;
  bool input_is_hash_ = false;
  TOvMemoryCertStorage certificates_;
  TOvPKCS7Attributes attributes_;
  std::vector<std::unique_ptr<TOvClientTSPInfo>> timestamps_;
  std::vector<std::unique_ptr<TOvX509Certificate>> signer_certificates_;
  ByteString content_type_;
};

}  // namespace corvane
