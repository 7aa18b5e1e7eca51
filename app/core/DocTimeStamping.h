// A document timestamp added to a copy of a PDF: the input is copied into the
// output's staging file, the stamp is appended there as its own incremental
// update, and only a complete file replaces the output.
#pragma once

#include <string>

#include "app/core/SigningRequest.h"

namespace tavra {

// Empty on success, else what went wrong; on failure nothing is written and
// the input is never changed (unless it is the output and the stamp succeeded).
std::string TimestampDocument(const std::string& inputPath, const std::string& outputPath,
                              const TTimestampServer& server);

}  // namespace tavra
