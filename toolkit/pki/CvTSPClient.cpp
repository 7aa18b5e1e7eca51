#include "toolkit/pki/CvTSPClient.h"

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvX509Ext.h"

namespace corvane {

TOvClientTSPInfo::TOvClientTSPInfo(TOvCustomTSPClient* owner)
    : owner_(owner), verifier_(std::make_unique<TOvMessageVerifier>()) {
  // A token is checked alone: tokens inside tokens are not followed, so hostile
  // nesting cannot recurse.
  verifier_->SetVerificationOptions(verifier_->VerificationOptions() & ~voVerifyTimestamps);
}

TOvClientTSPInfo::~TOvClientTSPInfo() = default;

void TOvClientTSPInfo::Assign(const TOvTSPInfo* source) {
  TOvTSPInfo::Assign(source);
  if (const auto* other = dynamic_cast<const TOvClientTSPInfo*>(source); other && other != this) {
    message_imprint_ = other->message_imprint_;
    server_nonce_ = other->server_nonce_;
    token_ = other->token_;
    ignore_bad_signature_ = other->ignore_bad_signature_;
    parse_result_ = other->parse_result_;
    signature_result_ = other->signature_result_;
    content_type_ = other->content_type_;
  }
}

int32_t TOvClientTSPInfo::ParseToken(std::string_view token) {
  token_ = ByteString(token);
  parse_result_ = 0;
  signature_result_ = 0;
  content_type_.clear();
  ByteString content;
  try {
    int64_t size = 0;
    int32_t rc = verifier_->Verify(token.data(), static_cast<int64_t>(token.size()), size, nullptr);
    if (rc != MSG_ERROR_BUFFER_TOO_SMALL) {
      parse_result_ = signature_result_ = rc;
      return rc;
    }
    content.resize(static_cast<size_t>(size));
    rc = verifier_->Verify(token.data(), static_cast<int64_t>(token.size()), size, content.data());
    content.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    parse_result_ = signature_result_ = rc;
    content_type_ = verifier_->ContentType();
    if (!ignore_bad_signature_ && rc != 0) {
      // A reply for which no certificate was asked is read on.
      const bool noCertificateAsked = owner_ == nullptr || !owner_->IncludeCertificates();
      if (!(rc == MSG_ERROR_NO_CERTIFICATE && noCertificateAsked)) return rc;
    }
  } catch (const std::exception&) {
    parse_result_ = signature_result_ = MSG_ERROR_EXCEPTION;
    return MSG_ERROR_EXCEPTION;
  }
  return ReadTSTInfo(content);
}

int32_t TOvClientTSPInfo::ParseTSTInfo(std::string_view tstInfo) {
  token_ = ByteString(tstInfo);
  parse_result_ = 0;
  signature_result_ = 0;
  content_type_.clear();
  return ReadTSTInfo(tstInfo);
}

int32_t TOvClientTSPInfo::ReadTSTInfo(std::string_view tstInfo) {
  parse_result_ = TSP_ERROR_INVALID_TSTINFO;
  try {
    TOvASN1ConstrainedTag tree;
    if (tree.LoadSingleFromBuffer(tstInfo.data(), static_cast<int64_t>(tstInfo.size())) < 0)
      return -1;
    const TOvASN1ConstrainedTag* info = tree.ConstrainedChild(0);
    if (info == nullptr || info->TagByte() != ASN1_SEQUENCE || info->Count() < 5) return -1;
    const TOvASN1SimpleTag* version = info->SimpleChild(0);
    if (version == nullptr || version->TagByte() != ASN1_INTEGER ||
        version->Content() != std::string_view("\x01", 1))
      return -1;
    if (!CheckTag(info->GetChild(1), ASN1_OBJECT_IDENTIFIER, false)) return -1;
    const TOvASN1CustomTag* imprint = info->GetChild(2);
    if (!CheckTag(imprint, ASN1_SEQUENCE, true)) return -1;
    const std::string_view source = tstInfo;
    const int64_t offset = imprint->ElementOffset(), size = imprint->ElementSize();
    if (offset < 0 || size < 0 || static_cast<uint64_t>(offset + size) > source.size()) return -1;
    message_imprint_ =
        ByteString(source.substr(static_cast<size_t>(offset), static_cast<size_t>(size)));
    const TOvASN1SimpleTag* serial = info->SimpleChild(3);
    if (serial == nullptr || serial->TagByte() != ASN1_INTEGER) return -1;
    SerialNumber = serial->Content();
    const TOvASN1SimpleTag* genTime = info->SimpleChild(4);
    if (genTime == nullptr || genTime->TagByte() != ASN1_GENERALIZED_TIME) return -1;
    GenTime = GeneralizedTimeToDateTime(genTime->Content());

    server_nonce_.clear();
    AccuracySet = false;
    AccuracySec = AccuracyMilli = AccuracyMicro = 0;
    int32_t next = 5;
    if (const TOvASN1ConstrainedTag* accuracy = info->ConstrainedChild(5);
        accuracy != nullptr && accuracy->TagByte() == ASN1_SEQUENCE) {
      AccuracySet = true;
      int32_t at = 0;
      auto take = [&](uint8_t tag, int32_t& field) {
        const TOvASN1SimpleTag* item = accuracy->SimpleChild(at);
        if (item != nullptr && item->TagByte() == tag) {
          field = static_cast<int32_t>(item->IntegerValue());
          ++at;
        }
      };
      take(ASN1_INTEGER, AccuracySec);
      take(0x80, AccuracyMilli);
      take(0x81, AccuracyMicro);
      next = 6;
    }
    if (CheckTag(info->GetChild(next), ASN1_BOOLEAN, false)) ++next;
    if (const TOvASN1SimpleTag* nonce = info->SimpleChild(next);
        nonce != nullptr && nonce->TagByte() == ASN1_INTEGER) {
      server_nonce_ = nonce->Content();
      ++next;
    }
    if (const TOvASN1ConstrainedTag* name = info->ConstrainedChild(next);
        name != nullptr && name->TagByte() == 0xA0 && name->GetChild(0) != nullptr) {
      ResetTSAName();
      TSAName().LoadFromTag(*name->GetChild(0));
      TSANameSet = true;
    }
  } catch (const std::exception&) {
    return -1;
  }
  parse_result_ = 0;
  return 0;
}

TOvCustomTSPClient::TOvCustomTSPClient() : info_(std::make_unique<TOvClientTSPInfo>(this)) {}

TOvCustomTSPClient::~TOvCustomTSPClient() = default;

void TOvCustomTSPClient::ValidateTSACertificate(TOvX509Certificate& certificate,
                                                TOvCustomCertStorage* additionalCertificates,
                                                TCvCertificateValidity& validity,
                                                TCvCertificateValidityReason& reason,
                                                bool& doContinue) {
  doContinue = true;
  if (on_validate_)
    on_validate_(this, certificate, additionalCertificates, validity, reason, doContinue);
}

std::string RequestTimestampToken(TOvCustomTSPClient& client, const ByteString& digest,
                                  ByteString& token) {
  uint8_t status = 0;
  uint32_t failureInfo = 0;
  token.clear();
  int32_t code = client.Timestamp(digest, status, failureInfo, token);
  if (code == 0 && (status > 1 || token.empty())) code = MSG_ERROR_INVALID_TIMESTAMP;
  if (code == 0) return {};
  std::string why = client.FailureText();
  if (why.empty() && code == MSG_ERROR_INVALID_TIMESTAMP)
    why = status > 1 ? "the timestamp authority refused the request (status " +
                           std::to_string(status) + ")"
          : token.empty() ? "the timestamp authority sent no token"
                          : "";
  token.clear();
  return "Timestamp request failed: " + (why.empty() ? "error " + std::to_string(code) : why);
}

}  // namespace corvane
