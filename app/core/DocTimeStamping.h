// A document timestamp added to a copy of a PDF: the input is copied into the
// output's staging file, the stamp is appended there as its own incremental
// update, and only a complete file replaces the output.
#pragma once

#include <functional>
#include <string>

#include "app/core/SigningRequest.h"

namespace corvane {
class TOvStream;
class TOvFileStream;
class TOvCustomTSPClient;
}  // namespace corvane

namespace tavra {

// Appends a document timestamp from client to the PDF in stream, our own
// staging copy, as its own update written in place. False (nothing written)
// for an encrypted document; raises for every other failure.
bool AppendDocTimeStamp(corvane::TOvStream& stream, corvane::TOvCustomTSPClient& client);

// Copies inputPath into the staging file of outputPath, lets update append
// to it and puts it in outputPath's place only when update returned no text.
// Empty on success, else the window's text of what went wrong (an error an
// update raises included); nothing is written on a failure.
std::string UpdateStagedCopy(const std::string& inputPath, const std::string& outputPath,
                             const std::function<std::string(corvane::TOvFileStream&)>& update);

// Empty on success, else what went wrong; on failure nothing is written and
// the input is never changed (unless it is the output and the stamp succeeded).
std::string TimestampDocument(const std::string& inputPath, const std::string& outputPath,
                              const TTimestampServer& server);

}  // namespace tavra
