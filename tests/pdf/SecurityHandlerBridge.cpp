// The signing tests construct handlers, whose base class needs its
// encryption setup linked in. The handler framework provides it; this weak
// definition only stands in while a tree lacks it, and yields to the real one.
#include "toolkit/pdf/CvPDF.h"

namespace corvane {

__attribute__((weak)) void TOvPDFSecurityHandler::PrepareEncryption(TOvPDFFile* /*file*/) {}

}  // namespace corvane
