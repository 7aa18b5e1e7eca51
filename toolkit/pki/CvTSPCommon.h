// What a time-stamp token (RFC 3161) says: TOvTSPInfo holds the fields of a
// TSTInfo; the component base of the timestamping classes lives here too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvCustomCertStorage.h"

namespace corvane {

class TOvGeneralName;
class TOvX509Certificate;

// Result of ParseToken when the content is not a well-formed TSTInfo.
inline constexpr int32_t TSP_ERROR_INVALID_TSTINFO = 81921;

// TCvTSPOptions bits.
using TCvTSPOptions = uint32_t;
inline constexpr TCvTSPOptions tsoIncludeReqPolicy = 0x01;
inline constexpr TCvTSPOptions tsoIgnoreBadSignature = 0x02;
inline constexpr TCvTSPOptions tsoIgnoreBadNonce = 0x04;

enum TCvTSPRequestFormat : int32_t { tsfRFC3161 = 0, tsfCMS = 1 };

using TCvCertificateValidityReason = uint16_t;
using TCvCertificateValidationEvent = std::function<void(
    void* sender, TOvX509Certificate& certificate, TOvCustomCertStorage* additionalCertificates,
    TCvCertificateValidity& validity, TCvCertificateValidityReason& reason, bool& doContinue)>;
using TCvTSPBeforeSignEvent = std::function<void(void* sender, void* signer)>;

// Base of the timestamping components.
class TOvTSPClass {
 public:
  TOvTSPClass() = default;
  virtual ~TOvTSPClass() = default;
  TOvTSPClass(const TOvTSPClass&) = delete;
  TOvTSPClass& operator=(const TOvTSPClass&) = delete;
};

class TOvTSPInfo {
 public:
  // The nonce is 8 random octets with the lowest bit of the first one set.
  TOvTSPInfo();
  virtual ~TOvTSPInfo();
  TOvTSPInfo(const TOvTSPInfo&) = delete;
  TOvTSPInfo& operator=(const TOvTSPInfo&) = delete;

  // Copies every field; a null source raises EConvertError "Invalid object type".
  virtual void Assign(const TOvTSPInfo* source);

  ByteString Nonce;
  ByteString SerialNumber;  // INTEGER content octets
  TDateTime GenTime = 0;
  bool AccuracySet = false;
  int32_t AccuracySec = 0;
  int32_t AccuracyMilli = 0;
  int32_t AccuracyMicro = 0;
  TOvGeneralName& TSAName() const { return *tsa_name_; }
  bool TSANameSet = false;

 protected:
  void ResetTSAName();

 private:
  std::unique_ptr<TOvGeneralName> tsa_name_;
};

}  // namespace corvane
