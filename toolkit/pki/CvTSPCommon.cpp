#include "toolkit/pki/CvTSPCommon.h"

#include "toolkit/common/CvErrors.h"
#include "toolkit/common/CvRandom.h"
#include "toolkit/pki/CvX509Ext.h"

namespace corvane {

TOvTSPInfo::TOvTSPInfo() : tsa_name_(std::make_unique<TOvGeneralName>()) {
  Nonce = SharedRandomBytes(8);
  // A first octet that is never zero keeps the INTEGER eight octets long.
  Nonce[0] = static_cast<char>(static_cast<uint8_t>(Nonce[0]) | 0x01);
}

TOvTSPInfo::~TOvTSPInfo() = default;

void TOvTSPInfo::ResetTSAName() { tsa_name_ = std::make_unique<TOvGeneralName>(); }

void TOvTSPInfo::Assign(const TOvTSPInfo* source) {
  if (source == nullptr) throw EConvertError("Invalid object type");
  if (source == this) return;
  Nonce = source->Nonce;
  SerialNumber = source->SerialNumber;
  GenTime = source->GenTime;
  AccuracySet = source->AccuracySet;
  AccuracySec = source->AccuracySec;
  AccuracyMilli = source->AccuracyMilli;
  AccuracyMicro = source->AccuracyMicro;
  tsa_name_->Assign(source->tsa_name_.get());
  TSANameSet = source->TSANameSet;
}

}  // namespace corvane
