#include "cli/VerifyCommand.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "toolkit/common/CvConstants.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_RevisionChanges.h"
#include "toolkit/pdf/CvPDF_SignatureShape.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvX509.h"

namespace tavra {

using namespace corvane;

namespace {

std::string HashName(int32_t algorithm) {
  switch (algorithm) {
    case ALG_SHA1:
      return "SHA-1";
    case ALG_SHA256:
      return "SHA-256";
    case ALG_SHA384:
      return "SHA-384";
    case ALG_SHA512:
      return "SHA-512";
    case ALG_MD5:
      return "MD5";
    case ALG_MD2:
      return "MD2";
    case ALG_RIPEMD160:
      return "RIPEMD-160";
    default:
      return "unknown";
  }
}

std::string TimeText(double value) {
  if (value <= 0) return "not given";
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  DecodeDateTimeParts(value, year, month, day, hour, minute, second);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", year, month, day, hour,
                minute, second);
  return text;
}

// Two ranges, the first from 0, the second to the end of the file, and the
// gap between them exactly the /Contents string.
bool CoversWholeFile(const TOvPDFSignature& signature, int64_t fileSize, int64_t contentsOffset,
                     int64_t contentsLength) {
  const auto& ranges = signature.ByteRanges();
  if (ranges.size() != 2) return false;
  const int64_t gapStart = int64_t{ranges[0].Offset} + ranges[0].Length;
  return ranges[0].Offset == 0 && ranges[1].Offset == gapStart + contentsLength &&
         int64_t{ranges[1].Offset} + ranges[1].Length == fileSize &&
         (contentsOffset < 0 || contentsOffset == gapStart);
}

// Hashes the byte ranges through the handler, reading the file in chunks.
// False when a range lies outside the file.
bool HashRanges(TOvPDFSecurityHandler& handler, TOvStream& file,
                const std::vector<TOvPDFByteRange>& ranges, std::string& digest) {
  handler.HashInit();
  std::string buffer(65536, '\0');
  for (const TOvPDFByteRange& range : ranges) {
    if (range.Offset < 0 || range.Length < 0 || int64_t{range.Offset} + range.Length > file.Size())
      return false;
    file.Seek(range.Offset, TSeekOrigin::soBeginning);
    int64_t left = range.Length;
    while (left > 0) {
      const int64_t chunk = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
      const int64_t read =
          static_cast<int64_t>(file.Read(buffer.data(), static_cast<size_t>(chunk)));
      if (read != chunk) return false;
      if (!handler.HashUpdate(std::string_view(buffer.data(), static_cast<size_t>(read))))
        return false;
      left -= read;
    }
  }
  digest = handler.HashFinal();
  return !digest.empty();
}

// The certificate the signature names as its signer, not whichever the
// value happens to list first.
std::string SignerName(TOvPDFPublicKeySecurityHandler& handler) {
  const TOvX509Certificate* certificate = handler.SignerCertificate();
  if (certificate == nullptr) return "unknown";
  const TOvCertificateName& name = certificate->SubjectName();
  return !name.CommonName.empty() ? name.CommonName : name.Organization;
}

std::string FailureText(TOvPDFPublicKeySecurityHandler& handler) {
  const int32_t code = handler.LastVerificationResult();
  if (code == MSG_ERROR_SIGNING_CERTIFICATE_MISMATCH || code == MSG_ERROR_SIGNER_COUNT)
    return MessageErrorText(code);
  return "error " + std::to_string(code);
}

}  // namespace

int VerifySignatures(const std::string& path, std::ostream& out) {
  TOvFileStream input(path, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  UseScratchFileWorkingStream(document);
  document.Open(input);
  const int64_t fileSize = input.Size();
  int valid = 0, total = 0, refused = 0;
  for (size_t i = 0; i < document.SignatureCount(); ++i) {
    TOvPDFSignature& signature = *document.Signatures(i);
    if (!signature.Written() || !signature.FieldDictionary()) continue;
    ++total;
    out << signature.SignatureName() << "\n";
    TOvPDFDictionary* value = signature.FieldDictionary();
    const std::string filter = GetNameEntry(value, "Filter", "", false);
    const std::string subFilter = GetNameEntry(value, "SubFilter", "", false);
    // Our own handler reads every subfilter the signer writes; it is made
    // here so that verifying does not depend on how the entry was bound.
    auto handler = std::make_unique<TOvPDFPublicKeySecurityHandler>();
    std::string problem;
    try {
      handler->SetDocument(&document);
      handler->LoadSignatureInfo(value);
    } catch (const std::exception& e) {
      problem = e.what();
    }
    // The value is verified first: the signer is the certificate that
    // verification finds.
    const TOvPDFSignatureShape shape = ReadSignatureShape(input, value);
    const bool loaded = problem.empty();
    bool ok = false;
    if (problem.empty()) {
      try {
        handler->BeginSigning(&document.File());
        std::string digest;
        if (HashRanges(*handler, input, signature.ByteRanges(), digest)) {
          ok = handler->VerifyDigest(digest);
          if (!ok) problem = FailureText(*handler);
        } else {
          problem = "the byte ranges cannot be read";
        }
      } catch (const std::exception& e) {
        problem = e.what();
      }
      if (!shape.Sound()) {
        ok = false;
        problem = "byte range malformed";
      }
    }
    out << "  signer: " << SignerName(*handler) << "\n";
    out << "  signing time: " << TimeText(signature.SigningTime()) << "\n";
    out << "  filter: " << filter << "\n";
    out << "  subfilter: " << subFilter << "\n";
    out << "  digest: " << (loaded ? HashName(handler->HashAlgorithm()) : "unknown") << "\n";
    out << "  byte ranges:";
    for (const TOvPDFByteRange& range : signature.ByteRanges())
      out << " " << range.Offset << "+" << range.Length;
    out << "\n  covers the whole file but the signature value: "
        << (shape.Sound() && CoversWholeFile(signature, fileSize, shape.ContentsStart,
                                             shape.ContentsEnd - shape.ContentsStart)
                ? "yes"
                : "no")
        << "\n";
    out << "  valid: " << (ok ? "yes" : "no (" + problem + ")") << "\n";
    valid += ok;
    // What the updates after the signed revision changed.
    int64_t revisionEnd = 0;
    for (const TOvPDFByteRange& range : signature.ByteRanges())
      revisionEnd = std::max(revisionEnd, int64_t{range.Offset} + range.Length);
    const TOvPDFRevisionChanges changes = CompareRevisionWithFinal(input, revisionEnd);
    out << "  changed after signing: " << changes.Summary() << "\n";
    refused += changes.Verdict == TOvPDFChangeVerdict::cvNotAllowed;
  }
  if (total == 0) out << "no signatures\n";
  document.Close(false);
  return total > 0 && valid == total && refused == 0 ? 0 : 1;
}

}  // namespace tavra
