// Long-term validation of the signatures a PDF already holds: for each
// signature and document timestamp, the certificates of its signer and of
// its timestamp authorities with their paths and revocation answers go into
// the document security store in one incremental update (one /VRI entry per
// signature); an archive timestamp over everything may follow as an update
// of its own. Signing B-LT/B-LTA runs this over its staging file; "tavrapdf
// ltv" over a copy of any signed file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/SigningRequest.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/pki/CvRevocation.h"

namespace corvane {
class TOvStream;
class TOvCustomTSPClient;
}  // namespace corvane

namespace tavra {

struct TLongTermOptions {
  // A document timestamp after the validation data; no URL: none.
  TTimestampServer Timestamp;
  // Trust anchors and other authorities besides the certificate database's
  // ("ROOT" and "CA" stores), as DER.
  std::vector<corvane::ByteString> Anchors;
  std::vector<corvane::ByteString> Authorities;
  bool UseDatabase = true;
  // The moment the certificates are judged at; 0 is now.
  double Moment = 0;
  corvane::TCvRevocationFetchOptions Fetch;
  // Told the name of each certificate before its data is gathered.
  std::function<void(const std::string& certificate)> Progress;
  // Makes the client of the document timestamp (default MakeTimestampClient).
  std::function<std::unique_ptr<corvane::TOvCustomTSPClient>(const TTimestampServer&)> TSPFactory;
};

// Appends the validation data (and the timestamp, when asked for) to the PDF
// in stream, our own staging copy, updates written in place. Raises
// std::runtime_error with the cause in plain words (a revoked certificate, a
// responder that cannot be reached or refuses, a CRL that does not verify,
// no signature at all); what was appended is then worthless and the caller
// discards the copy.
void AppendLongTermValidation(corvane::TOvStream& stream, const TLongTermOptions& options);

// The whole run over a copy of inputPath that replaces outputPath only when
// every step succeeded. Empty on success, else the message (the workflow's
// Czech texts for files, "Chyba: " and the cause for the rest).
std::string AddLongTermValidation(const std::string& inputPath, const std::string& outputPath,
                                  const TLongTermOptions& options);

}  // namespace tavra
