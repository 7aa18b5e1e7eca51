// TOvPDFSecurityHandler: the state and algorithms every handler shares, and
// the process-wide registry of handler classes.
#include "toolkit/pdf/CvPDF.h"

namespace corvane {

TOvPDFSecurityHandler::TOvPDFSecurityHandler() = default;

TOvPDFSecurityHandler::~TOvPDFSecurityHandler() = default;

bool TOvPDFSecurityHandler::GetSignerInfo(std::string& name, std::string& subjectLines,
                                          std::string& keyDescription) {
  name.clear();
  subjectLines.clear();
  keyDescription.clear();
  return false;
}

void TOvPDFSecurityHandler::ResetHandler() { excludedObjects_.clear(); }

}  // namespace corvane
