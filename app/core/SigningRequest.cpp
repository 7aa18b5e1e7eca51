#include "app/core/SigningRequest.h"

namespace tavra {

TSignatureKind SignatureKindOfSigType(int sigType) {
  switch (sigType) {
    case 0:
      return TSignatureKind::skInvisible;
    case 2:
      return TSignatureKind::skCertifying;
    default:
      return TSignatureKind::skVisible;
  }
}

bool PAdESLevelOfText(const std::string& text, TPAdESLevel& level) {
  if (text.empty())
    level = TPAdESLevel::plNone;
  else if (text == "B-B")
    level = TPAdESLevel::plBB;
  else if (text == "B-T")
    level = TPAdESLevel::plBT;
  else if (text == "B-LT")
    level = TPAdESLevel::plBLT;
  else if (text == "B-LTA")
    level = TPAdESLevel::plBLTA;
  else
    return false;
  return true;
}

std::string PAdESLevelText(TPAdESLevel level) {
  switch (level) {
    case TPAdESLevel::plBB:
      return "B-B";
    case TPAdESLevel::plBT:
      return "B-T";
    case TPAdESLevel::plBLT:
      return "B-LT";
    case TPAdESLevel::plBLTA:
      return "B-LTA";
    default:
      return {};
  }
}

}  // namespace tavra
