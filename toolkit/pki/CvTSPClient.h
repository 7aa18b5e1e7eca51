// The timestamping client interface: TOvCustomTSPClient is what the message
// signer asks for a token; TOvClientTSPInfo reads a token back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/common/CvConstants.h"
#include "toolkit/pki/CvTSPCommon.h"

namespace corvane {

class TOvCustomTSPClient;
class TOvMessageVerifier;

class TOvClientTSPInfo : public TOvTSPInfo {
 public:
  explicit TOvClientTSPInfo(TOvCustomTSPClient* owner = nullptr);
  ~TOvClientTSPInfo() override;

  void Assign(const TOvTSPInfo* source) override;

  TOvCustomTSPClient* Owner() const { return owner_; }
  TOvMessageVerifier& Verifier() const { return *verifier_; }
  const ByteString& MessageImprint() const { return message_imprint_; }
  const ByteString& ServerNonce() const { return server_nonce_; }
  const ByteString& Token() const { return token_; }
  bool IgnoreBadSignature() const { return ignore_bad_signature_; }
  void SetIgnoreBadSignature(bool value) { ignore_bad_signature_ = value; }
  int32_t ParseResult() const { return parse_result_; }
  // The outcome of the CMS check of the last token (0 when it verified) and the
  // content type it carried.
  int32_t SignatureResult() const { return signature_result_; }
  const ByteString& ContentType() const { return content_type_; }

  // Reads a TimeStampToken: 0, a verifier code, or -1 for content that is not
  // a well-formed TSTInfo. Never raises.
  int32_t ParseToken(std::string_view token);
  // The same over a bare TSTInfo.
  int32_t ParseTSTInfo(std::string_view tstInfo);

 private:
  int32_t ReadTSTInfo(std::string_view tstInfo);

  TOvCustomTSPClient* owner_;
  std::unique_ptr<TOvMessageVerifier> verifier_;
  ByteString message_imprint_;
  ByteString server_nonce_;
  ByteString token_;
  bool ignore_bad_signature_ = true;
  int32_t parse_result_ = 0;
  int32_t signature_result_ = 0;
  ByteString content_type_;
};

class TOvCustomTSPClient : public TOvTSPClass {
 public:
  TOvCustomTSPClient();
  ~TOvCustomTSPClient() override;

  TOvClientTSPInfo& TSPInfo() const { return *info_; }

  int32_t HashAlgorithm() const { return hash_algorithm_; }
  void SetHashAlgorithm(int32_t value) { hash_algorithm_ = value; }
  bool IncludeCertificates() const { return include_certificates_; }
  void SetIncludeCertificates(bool value) { include_certificates_ = value; }
  const std::string& ReqPolicy() const { return req_policy_; }
  void SetReqPolicy(std::string value) { req_policy_ = std::move(value); }
  TCvTSPOptions Options() const { return options_; }
  void SetOptions(TCvTSPOptions value) { options_ = value; }
  TCvTSPRequestFormat RequestFormat() const { return request_format_; }
  void SetRequestFormat(TCvTSPRequestFormat value) { request_format_ = value; }
  // Not owned.
  TOvCustomCertStorage* CertStorage() const { return cert_storage_; }
  void SetCertStorage(TOvCustomCertStorage* value) { cert_storage_ = value; }
  const TCvCertificateValidationEvent& OnCertificateValidate() const { return on_validate_; }
  void SetOnCertificateValidate(TCvCertificateValidationEvent handler) {
    on_validate_ = std::move(handler);
  }
  const TCvTSPBeforeSignEvent& OnBeforeSign() const { return on_before_sign_; }
  void SetOnBeforeSign(TCvTSPBeforeSignEvent handler) { on_before_sign_ = std::move(handler); }

  virtual void ValidateTSACertificate(TOvX509Certificate& certificate,
                                      TOvCustomCertStorage* additionalCertificates,
                                      TCvCertificateValidity& validity,
                                      TCvCertificateValidityReason& reason, bool& doContinue);
  // 0 and the TimeStampToken of the digest, or a non-zero code. status is the
  // reply's PKIStatus, failureInfo its PKIFailureInfo bits.
  virtual int32_t Timestamp(const ByteString& digest, uint8_t& status, uint32_t& failureInfo,
                            ByteString& token) = 0;

  // Why the last Timestamp failed, in words a person can act on (empty after
  // a success or when the client gives no cause). The signer keeps returning
  // its codes; whoever reports the failure adds this text.
  const std::string& FailureText() const { return failure_text_; }

 protected:
  void SetFailureText(std::string value) { failure_text_ = std::move(value); }

 private:
  std::unique_ptr<TOvClientTSPInfo> info_;
  std::string failure_text_;
  int32_t hash_algorithm_ = ALG_SHA1;
  bool include_certificates_ = true;
  std::string req_policy_;
  TCvTSPOptions options_ = 0;
  TCvTSPRequestFormat request_format_ = tsfRFC3161;
  TOvCustomCertStorage* cert_storage_ = nullptr;
  TCvCertificateValidationEvent on_validate_;
  TCvTSPBeforeSignEvent on_before_sign_;
};

// Asks client for the token of digest. Empty when a token came (in token);
// else why not, in words: the client's own cause, a refusal's status, a reply
// without a token, or the bare code.
std::string RequestTimestampToken(TOvCustomTSPClient& client, const ByteString& digest,
                                  ByteString& token);

}  // namespace corvane
