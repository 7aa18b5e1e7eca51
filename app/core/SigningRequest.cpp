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

}  // namespace tavra
