// "tavrapdf verify": each signature of a file, who made it and when, what it
// covers, whether it is valid and whether its certificate leads to an anchor
// the user trusts.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/VerifyRevocation.h"
#include "toolkit/pdf/CvPDF_RevisionChanges.h"
#include "toolkit/pki/CvX509.h"

namespace tavra {

// The certificates trust is judged by: anchors (the database's trusted roots
// and the files given with --trust) and authorities that may stand between a
// signer and an anchor (the database's other CA certificates).
struct TVerifyTrust {
  std::vector<std::unique_ptr<corvane::TOvX509Certificate>> Anchors;
  std::vector<std::unique_ptr<corvane::TOvX509Certificate>> Authorities;
};

// Where the time the certificates were checked at came from.
enum class TCheckedTimeSource { Timestamp, Signer, VerifyingTime };

// What verify finds for one signature; printed as text or as JSON.
struct TSignatureReport {
  std::string Field;
  std::string Signer;
  double SigningTime = 0;  // /M, 0 when not given
  std::string Filter;
  std::string SubFilter;
  std::string Digest;
  std::vector<std::pair<int64_t, int64_t>> ByteRanges;  // offset, length
  bool CoversWholeFile = false;
  bool Valid = false;
  std::string Problem;  // why it is not valid
  bool Trusted = false;
  std::string TrustProblem;  // why it is not trusted
  bool CertificateValidAtTime = false;
  TCheckedTimeSource TimeSource = TCheckedTimeSource::VerifyingTime;
  double CheckedTime = 0;          // the moment the certificates were checked at
  std::vector<std::string> Chain;  // the signer first, the anchor last when reached
  // "B-B", "B-T", "document timestamp", or empty for a signature of no PAdES level.
  std::string Level;
  // The first timestamp token: its time, the authority that signed it, and
  // whether it is sound and stamps this signature value (or, for a document
  // timestamp, the byte ranges).
  bool HasTimestamp = false;
  double TimestampTime = 0;
  std::string TimestampAuthority;
  bool TimestampValid = false;
  // The certificates' revocation at CheckedTime.
  TRevocationReport Revocation;
  // What the updates after the signed revision added, changed or freed.
  corvane::TOvPDFRevisionChanges Changes;
};

// Verifies every signature of path and prints the reports, as text or as one
// JSON document. Revocation is judged from the validation data the document
// embeds and, unless offline, asked online where those do not decide.
// Returns 0 when there is at least one signature and every one is valid,
// trusted, not revoked and without a change it does not allow, else 1.
// Raises when the file cannot be read.
int VerifySignatures(const std::string& path, std::ostream& out, const TVerifyTrust& trust,
                     bool json, bool offline = false);

// "tavrapdf verify FILE.pdf [--trust FILE.pem]... [--nssdb DIR] [--json]
// [--offline]": the
// exit status (2 for a usage error, such as a --trust file that holds no
// certificate).
int RunVerifyCommand(const std::vector<std::string>& args);

// Reads every certificate of a PEM file; raises with the reason when the file
// cannot be read or holds none, or one of them does not load.
std::vector<std::unique_ptr<corvane::TOvX509Certificate>> ReadPemCertificates(
    const std::string& path);

}  // namespace tavra
