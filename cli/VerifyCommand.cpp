#include "cli/VerifyCommand.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include "app/core/CertificateDatabase.h"
#include "cli/CertsCommand.h"
#include "platform/PlatformFiles.h"
#include "platform/keystore/KeyStore.h"
#include "toolkit/asn1/CvDERReader.h"
#include "toolkit/common/CvConstants.h"
#include "toolkit/common/CvScope.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_DSS.h"
#include "toolkit/pdf/CvPDF_DocTimeStamp.h"
#include "toolkit/pdf/CvPDF_RevisionChanges.h"
#include "toolkit/pdf/CvPDF_SignatureShape.h"
#include "toolkit/pki/CvCertPath.h"
#include "toolkit/pki/CvCustomCertStorage.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvPKCS7.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

namespace tavra {

using namespace corvane;

namespace {

// What every signature of one file is judged with: the trust, the document's
// security store (its certificates loaded as path candidates) and whether
// anything beyond the file may be asked.
struct TVerifyContext {
  const TVerifyTrust& Trust;
  TCvValidationData Stored;
  std::vector<std::unique_ptr<TOvX509Certificate>> StoredCertificates;
  bool Offline = false;
};

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

// The CMS check once more, keeping what the verifier found: the SignerInfo's
// certificate and the timestamps. True when the value verifies over digest.
bool CheckMessage(TOvPDFPublicKeySecurityHandler& handler, std::string_view der,
                  const std::string& subFilter, const std::string& digest,
                  TOvMessageVerifier& verifier) {
  verifier.SetCryptoProviderManager(handler.CryptoProviderManager());
  verifier.SetCertStorage(&handler.ReadCertificates());
  verifier.SetVerificationOptions(verifier.VerificationOptions() | voLiberalMode);
  const auto size = static_cast<int64_t>(der.size());
  if (subFilter == "adbe.pkcs7.sha1") {
    ByteString content(der.size(), '\0');
    int64_t contentSize = size;
    const int32_t result = verifier.Verify(der.data(), size, contentSize, content.data());
    return result == 0 && contentSize >= 0 &&
           content.substr(0, static_cast<size_t>(contentSize)) == digest;
  }
  verifier.SetInputIsHash(true);
  return verifier.VerifyDetached(digest.data(), static_cast<int64_t>(digest.size()), der.data(),
                                 size) == 0;
}

// The certificate the signature names as its signer (the handler's accessor:
// the one the SignerInfo identifies); nullptr when none was found.
const TOvX509Certificate* SignerCertificate(TOvPDFPublicKeySecurityHandler& handler) {
  return handler.SignerCertificate();
}

// The signing-time attribute among the first signer's signed attributes; 0 when none.
double SignedSigningTime(std::string_view der) {
  try {
    TOvPKCS7Message message;
    if (message.LoadFromBytes(der) != 0 || message.ContentType != ctSignedData) return 0;
    TOvPKCS7SignedData& data = message.SignedData();
    if (data.SignerCount() == 0) return 0;
    const TOvPKCS7Attributes& attributes = data.Signers(0)->AuthenticatedAttributes;
    const int at = attributes.IndexOfType(oid::ATTR_SIGNING_TIME);
    const std::vector<ByteString>* values = at >= 0 ? attributes.Values(at) : nullptr;
    if (values == nullptr || values->empty()) return 0;
    TCvDERReader reader(values->front());
    std::string_view text;
    if (reader.Read(0x17, text)) return UTCTimeToDateTime(text);
    if (reader.Read(0x18, text)) return GeneralizedTimeToDateTime(text);
  } catch (const std::exception&) {
  }
  return 0;
}

// A valid timestamp's time, else what the signer says (/M, else the signed
// signing-time attribute), else now.
void ChooseCheckedTime(const TOvMessageVerifier* verifier, bool valid, std::string_view der,
                       TSignatureReport& report) {
  if (verifier != nullptr && valid) {
    for (int i = 0; i < verifier->TimestampCount(); ++i) {
      const TOvClientTSPInfo* token = verifier->Timestamps(i);
      if (token != nullptr && token->SignatureResult() == 0 && token->GenTime > 0) {
        report.TimeSource = TCheckedTimeSource::Timestamp;
        report.CheckedTime = token->GenTime;
        return;
      }
    }
  }
  double claimed = report.SigningTime;
  if (claimed <= 0 && verifier != nullptr) claimed = SignedSigningTime(der);
  if (claimed > 0) {
    report.TimeSource = TCheckedTimeSource::Signer;
    report.CheckedTime = claimed;
  } else {
    report.TimeSource = TCheckedTimeSource::VerifyingTime;
    report.CheckedTime = NowUTC();
  }
}

// The path's trust into the report, then the revocation of its certificates
// from the signature's archived data and the document's store.
void JudgeTrust(TOvCustomCertStorage* carried, const TOvX509Certificate* signer,
                const TVerifyContext& context, const TCvValidationData& archived,
                TSignatureReport& report) {
  const TVerifyTrust& trust = context.Trust;
  TOvCertificatePath path;
  for (const auto& anchor : trust.Anchors) path.AddAnchor(anchor.get());
  for (const auto& authority : trust.Authorities) path.AddIntermediate(authority.get());
  for (int i = 0; carried && i < carried->Count(); ++i)
    path.AddIntermediate(carried->Certificates(i));
  for (const auto& stored : context.StoredCertificates) path.AddIntermediate(stored.get());
  const TOvCertPathResult result = path.Validate(signer, report.CheckedTime);
  for (const TOvX509Certificate* c : result.Path)
    report.Chain.push_back(CertificateNameText(*c, false));
  report.CertificateValidAtTime = signer != nullptr && result.ValidAtMoment;
  report.Trusted = report.Valid && result.Trusted;
  if (!report.Valid)
    report.TrustProblem = "the signature is not valid";
  else if (signer == nullptr)
    report.TrustProblem = "signer certificate not found";
  else
    report.TrustProblem = result.Reason;
  if (!report.Valid || signer == nullptr) return;
  bool endsAtAnchor = false;
  for (const auto& anchor : trust.Anchors)
    endsAtAnchor = endsAtAnchor || (!result.Path.empty() && result.Path.back() == anchor.get());
  TCvValidationData embedded = archived;
  embedded.Merge(context.Stored);
  report.Revocation =
      JudgeRevocation(result.Path, endsAtAnchor, embedded, report.CheckedTime, context.Offline);
}

// A document timestamp: its token over the byte ranges, its authority the signer.
void CheckDocTimeStamp(TOvPDFDocument& document, TOvPDFSignature& signature, TOvStream& input,
                       const TVerifyContext& context, TSignatureReport& report) {
  TOvPDFDictionary* value = signature.FieldDictionary();
  TOvPDFDocTimeStampHandler handler;
  handler.SetDocument(&document);
  handler.LoadSignatureInfo(value);
  const TOvPDFSignatureShape shape = ReadSignatureShape(input, value);
  std::string digest;
  report.Level = "document timestamp";
  report.HasTimestamp = true;
  if (!HashRanges(handler, input, signature.ByteRanges(), digest)) {
    report.Problem = "the byte ranges cannot be read";
  } else if (!handler.VerifyDigest(digest)) {
    report.Problem = handler.Problem();
  } else if (!shape.Sound()) {
    report.Problem = "byte range malformed";
  } else {
    report.Valid = true;
  }
  report.Digest = HashName(handler.HashAlgorithm());
  report.TimestampValid = report.Valid;
  report.TimestampTime = handler.GenTime();
  const TOvX509Certificate* tsa = handler.AuthorityCertificate();
  if (tsa) {
    report.TimestampAuthority = CertificateNameText(*tsa, false);
    const TOvCertificateName& name = tsa->SubjectName();
    report.Signer = !name.CommonName.empty() ? name.CommonName : name.Organization;
  } else {
    report.Signer = "unknown";
  }
  for (const TOvPDFByteRange& range : signature.ByteRanges())
    report.ByteRanges.emplace_back(range.Offset, range.Length);
  report.CoversWholeFile =
      shape.Sound() && CoversWholeFile(signature, input.Size(), shape.ContentsStart,
                                       shape.ContentsEnd - shape.ContentsStart);
  report.TimeSource =
      report.Valid ? TCheckedTimeSource::Timestamp : TCheckedTimeSource::VerifyingTime;
  report.CheckedTime = report.Valid ? report.TimestampTime : NowUTC();
  JudgeTrust(nullptr, report.Valid ? tsa : nullptr, context, {}, report);
  int64_t revisionEnd = 0;
  for (const auto& [offset, length] : report.ByteRanges)
    revisionEnd = std::max(revisionEnd, offset + length);
  report.Changes = CompareRevisionWithFinal(input, revisionEnd);
}

// The revocation data archived in the signature's signed attributes.
TCvValidationData ArchivedRevocationData(TOvPDFPublicKeySecurityHandler& handler) {
  TCvValidationData data;
  const TOvPDFPublicKeyRevocationInfo& info = handler.RevocationInfo();
  data.OCSPs = info.OCSPResponses();
  data.CRLs = info.CRLs();
  return data;
}

TSignatureReport CheckSignature(TOvPDFDocument& document, TOvPDFSignature& signature,
                                TOvStream& input, const TVerifyContext& context) {
  TSignatureReport report;
  report.Field = signature.SignatureName();
  TOvPDFDictionary* value = signature.FieldDictionary();
  report.Filter = GetNameEntry(value, "Filter", "", false);
  report.SubFilter = GetNameEntry(value, "SubFilter", "", false);
  if (report.SubFilter == "ETSI.RFC3161") {
    try {
      CheckDocTimeStamp(document, signature, input, context, report);
    } catch (const std::exception& e) {
      report.Valid = report.Trusted = report.TimestampValid = false;
      report.Problem = e.what();
      report.TrustProblem = "the signature is not valid";
    }
    return report;
  }
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
  std::string digest;
  if (problem.empty()) {
    try {
      handler->BeginSigning(&document.File());
      if (HashRanges(*handler, input, signature.ByteRanges(), digest)) {
        report.Valid = handler->VerifyDigest(digest);
        if (!report.Valid) problem = FailureText(*handler);
      } else {
        problem = "the byte ranges cannot be read";
      }
    } catch (const std::exception& e) {
      problem = e.what();
    }
    if (!shape.Sound()) {
      report.Valid = false;
      problem = "byte range malformed";
    }
  }
  report.Problem = problem;
  report.Signer = SignerName(*handler);
  report.SigningTime = signature.SigningTime();
  report.Digest = loaded ? HashName(handler->HashAlgorithm()) : "unknown";
  for (const TOvPDFByteRange& range : signature.ByteRanges())
    report.ByteRanges.emplace_back(range.Offset, range.Length);
  report.CoversWholeFile =
      shape.Sound() && CoversWholeFile(signature, input.Size(), shape.ContentsStart,
                                       shape.ContentsEnd - shape.ContentsStart);
  const std::string contents = GetStringEntry(value, "Contents", false);

  std::unique_ptr<TOvMessageVerifier> verifier;
  const std::string_view der = LeadingDERElement(contents);
  const bool cms = report.SubFilter != "adbe.x509.rsa_sha1";
  if (cms && !digest.empty()) {
    verifier = std::make_unique<TOvMessageVerifier>();
    // Both checks must agree; the handler's is the one reported.
    if (!CheckMessage(*handler, der, report.SubFilter, digest, *verifier) && report.Valid) {
      report.Valid = false;
      report.Problem = "the signature value does not verify";
    }
  }
  const TOvX509Certificate* signer = report.Valid ? SignerCertificate(*handler) : nullptr;
  ChooseCheckedTime(verifier.get(), report.Valid, der, report);
  if (verifier && verifier->TimestampCount() > 0) {
    const TOvClientTSPInfo* token = verifier->Timestamps(0);
    report.HasTimestamp = true;
    report.TimestampTime = token->GenTime;
    if (const TOvX509Certificate* tsa = token->Verifier().SignerCertificate(0))
      report.TimestampAuthority = CertificateNameText(*tsa, false);
    // The verifier refuses the whole value when a token does not stamp it.
    report.TimestampValid =
        report.Valid && token->SignatureResult() == 0 && token->ParseResult() == 0;
  }
  if (report.SubFilter == "ETSI.CAdES.detached") report.Level = report.HasTimestamp ? "B-T" : "B-B";
  JudgeTrust(&handler->ReadCertificates(), signer, context, ArchivedRevocationData(*handler),
             report);
  int64_t revisionEnd = 0;
  for (const auto& [offset, length] : report.ByteRanges)
    revisionEnd = std::max(revisionEnd, offset + length);
  report.Changes = CompareRevisionWithFinal(input, revisionEnd);
  return report;
}

// A B-T signature whose revocation status the document's own data decide is
// B-LT; a valid document timestamp over a later revision makes it B-LTA.
void NameLongTermLevels(std::vector<TSignatureReport>& reports) {
  const auto revisionEnd = [](const TSignatureReport& r) {
    int64_t end = 0;
    for (const auto& [offset, length] : r.ByteRanges) end = std::max(end, offset + length);
    return end;
  };
  for (TSignatureReport& r : reports) {
    const TCvRevocationSource source = r.Revocation.Source;
    if (r.Level != "B-T" || r.Revocation.Status != TCvRevocationStatus::Good ||
        (source != TCvRevocationSource::EmbeddedOCSP && source != TCvRevocationSource::EmbeddedCRL))
      continue;
    r.Level = "B-LT";
    const int64_t end = revisionEnd(r);
    for (const TSignatureReport& later : reports)
      if (later.Level == "document timestamp" && later.Valid && revisionEnd(later) > end)
        r.Level = "B-LTA";
  }
}

// Control characters and broken UTF-8 never reach the reader as they are.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // One well-formed UTF-8 sequence (no overlong forms, no surrogates), else U+FFFD.
      size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      if (n > 4 || c > 0xF4 || i + n > text.size()) n = 0;
      for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) n = 0;
      if (n >= 3) {
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) ||
            (c == 0xF0 && second < 0x90) || (c == 0xF4 && second >= 0x90))
          n = 0;
      }
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
    }
  }
  return out + "\"";
}

// Text lines may not be split by what a certificate or a file holds.
std::string Line(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

const char* TimeSourceText(TCheckedTimeSource source) {
  switch (source) {
    case TCheckedTimeSource::Timestamp:
      return "timestamp";
    case TCheckedTimeSource::Signer:
      return "signer";
    case TCheckedTimeSource::VerifyingTime:
      break;
  }
  return "verifying";
}

// "good (embedded OCSP)", "revoked since <time> (embedded CRL)", "unknown
// (why)" or "not checked"; a certificate of the path other than the signer's
// is named.
std::string RevocationText(const TRevocationReport& r) {
  const std::string source = RevocationSourceText(r.Source);
  const std::string whose = r.OfSigner ? std::string() : r.Certificate;
  switch (r.Status) {
    case TCvRevocationStatus::Good:
      return "good (" + source + (whose.empty() ? "" : ", " + whose) + ")";
    case TCvRevocationStatus::Revoked:
      return "revoked since " + TimeText(r.RevocationTime) + " (" + source +
             (whose.empty() ? "" : ", " + whose) + ")";
    case TCvRevocationStatus::Unknown:
      return "unknown (" + (whose.empty() ? "" : whose + ": ") + r.Detail + ")";
    case TCvRevocationStatus::NotChecked:
      break;
  }
  return whose.empty() ? "not checked" : "not checked (" + whose + ": " + r.Detail + ")";
}

void PrintText(const TSignatureReport& r, std::ostream& out) {
  out << r.Field << "\n";
  out << "  signer: " << r.Signer << "\n";
  out << "  signing time: " << TimeText(r.SigningTime) << "\n";
  out << "  filter: " << r.Filter << "\n";
  out << "  subfilter: " << r.SubFilter << "\n";
  out << "  digest: " << r.Digest << "\n";
  out << "  byte ranges:";
  for (const auto& [offset, length] : r.ByteRanges) out << " " << offset << "+" << length;
  out << "\n  covers the whole file but the signature value: " << (r.CoversWholeFile ? "yes" : "no")
      << "\n";
  out << "  valid: " << (r.Valid ? "yes" : "no (" + r.Problem + ")") << "\n";
  out << "  trusted: " << (r.Trusted ? "yes" : "no (" + Line(r.TrustProblem) + ")") << "\n";
  out << "  certificate valid at signing time: " << (r.CertificateValidAtTime ? "yes" : "no");
  if (r.TimeSource == TCheckedTimeSource::Signer)
    out << " (time claimed by the signer)";
  else if (r.TimeSource == TCheckedTimeSource::VerifyingTime)
    out << " (no signing time given; checked at the time of verifying)";
  out << "\n";
  if (!r.Level.empty()) out << "  level: " << r.Level << "\n";
  if (r.HasTimestamp)
    out << "  timestamp: " << TimeText(r.TimestampTime) << " by "
        << (r.TimestampAuthority.empty() ? "unknown" : r.TimestampAuthority) << ", "
        << (r.TimestampValid ? "valid" : "not valid") << "\n";
  out << "  revocation: " << Line(RevocationText(r.Revocation)) << "\n";
  out << "  changed after signing: " << Line(r.Changes.Summary()) << "\n";
}

const char* VerdictText(TOvPDFChangeVerdict verdict) {
  switch (verdict) {
    case TOvPDFChangeVerdict::cvAllowed:
      return "allowed";
    case TOvPDFChangeVerdict::cvNotAllowed:
      return "not allowed";
    case TOvPDFChangeVerdict::cvNone:
      break;
  }
  return "no";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonString(items[i]);
  return out + "]";
}

void PrintJson(const TSignatureReport& r, std::ostream& out) {
  auto optionalText = [](bool present, const std::string& text) {
    return present ? JsonString(text) : std::string("null");
  };
  out << "    {\n";
  out << "      \"field\": " << JsonString(r.Field) << ",\n";
  out << "      \"signer\": " << JsonString(r.Signer) << ",\n";
  out << "      \"signingTime\": " << optionalText(r.SigningTime > 0, TimeText(r.SigningTime))
      << ",\n";
  out << "      \"filter\": " << JsonString(r.Filter) << ",\n";
  out << "      \"subfilter\": " << JsonString(r.SubFilter) << ",\n";
  out << "      \"digest\": " << JsonString(r.Digest) << ",\n";
  out << "      \"byteRanges\": [";
  for (size_t i = 0; i < r.ByteRanges.size(); ++i)
    out << (i ? ", " : "") << "[" << r.ByteRanges[i].first << ", " << r.ByteRanges[i].second << "]";
  out << "],\n";
  out << "      \"coversWholeFile\": " << (r.CoversWholeFile ? "true" : "false") << ",\n";
  out << "      \"valid\": " << (r.Valid ? "true" : "false") << ",\n";
  out << "      \"problem\": " << optionalText(!r.Valid, r.Problem) << ",\n";
  out << "      \"trusted\": " << (r.Trusted ? "true" : "false") << ",\n";
  out << "      \"trustProblem\": " << optionalText(!r.Trusted, r.TrustProblem) << ",\n";
  out << "      \"chain\": [";
  for (size_t i = 0; i < r.Chain.size(); ++i) out << (i ? ", " : "") << JsonString(r.Chain[i]);
  out << "],\n";
  out << "      \"certificateValidAtSigningTime\": "
      << (r.CertificateValidAtTime ? "true" : "false") << ",\n";
  out << "      \"checkedTime\": " << JsonString(TimeText(r.CheckedTime)) << ",\n";
  out << "      \"checkedTimeSource\": " << JsonString(TimeSourceText(r.TimeSource)) << ",\n";
  out << "      \"level\": " << optionalText(!r.Level.empty(), r.Level) << ",\n";
  if (r.HasTimestamp)
    out << "      \"timestamp\": {\"time\": " << JsonString(TimeText(r.TimestampTime))
        << ", \"authority\": " << JsonString(r.TimestampAuthority)
        << ", \"valid\": " << (r.TimestampValid ? "true" : "false") << "},\n";
  else
    out << "      \"timestamp\": null,\n";
  const TRevocationReport& revocation = r.Revocation;
  const bool checked = revocation.Status != TCvRevocationStatus::NotChecked;
  out << "      \"revocation\": " << JsonString(RevocationStatusText(revocation.Status)) << ",\n";
  out << "      \"revocationText\": " << JsonString(RevocationText(revocation)) << ",\n";
  out << "      \"revocationSource\": "
      << optionalText(revocation.Source != TCvRevocationSource::None,
                      RevocationSourceText(revocation.Source))
      << ",\n";
  out << "      \"revocationTime\": "
      << optionalText(revocation.Status == TCvRevocationStatus::Revoked,
                      TimeText(revocation.RevocationTime))
      << ",\n";
  out << "      \"revocationCertificate\": "
      << optionalText(checked || !revocation.OfSigner, revocation.Certificate) << ",\n";
  out << "      \"revocationDetail\": "
      << optionalText(!revocation.Detail.empty(), revocation.Detail) << ",\n";
  out << "      \"changedAfterSigning\": " << JsonString(VerdictText(r.Changes.Verdict)) << ",\n";
  out << "      \"allowedChanges\": " << JsonList(r.Changes.Allowed) << ",\n";
  out << "      \"disallowedChanges\": " << JsonList(r.Changes.NotAllowed) << "\n";
  out << "    }";
}

int Usage(const std::string& message) {
  std::cerr << "tavrapdf: " << message << "\n"
            << "Try 'tavrapdf --help'.\n";
  return 2;
}

// The database's trusted roots become anchors, its other authorities intermediates.
void ReadDatabaseAuthorities(const std::string& database, TVerifyTrust& trust) {
  platform::KeyStore& store = platform::KeyStore::Instance();
  store.SetDatabaseDir(database);
  const std::pair<platform::KeyStoreName, std::vector<std::unique_ptr<TOvX509Certificate>>*>
      stores[] = {{platform::KeyStoreName::Root, &trust.Anchors},
                  {platform::KeyStoreName::CA, &trust.Authorities}};
  for (const auto& [name, into] : stores) {
    std::vector<platform::KeyStoreCertificate> listed;
    const TCvScopeExit release([&store, &listed] {
      for (const platform::KeyStoreCertificate& c : listed) store.FreeCertificate(c.Handle);
    });
    if (store.List(name, listed) != platform::KeyStoreResult::Ok) {
      std::cerr << "tavrapdf: the certificate database cannot be read";
      const std::string why = store.LastErrorText();
      if (!why.empty()) std::cerr << " (" << why << ")";
      std::cerr << "; its authorities are not used\n";
      return;
    }
    // One odd certificate does not hide the others.
    for (const platform::KeyStoreCertificate& c : listed)
      if (auto certificate = LoadCertificateOrNull(c.Der)) into->push_back(std::move(certificate));
  }
}

}  // namespace

std::vector<std::unique_ptr<TOvX509Certificate>> ReadPemCertificates(const std::string& path) {
  constexpr size_t kLimit = 16 << 20;
  std::ifstream in(platform::StreamPath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot be read");
  std::string text(kLimit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) throw std::runtime_error("cannot be read");
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > kLimit) throw std::runtime_error("is too large for a certificate file");
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::vector<std::unique_ptr<TOvX509Certificate>> certificates;
  for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
    const size_t body = at + kBegin.size();
    const size_t end = text.find(kEnd, body);
    const std::string number = "certificate " + std::to_string(certificates.size() + 1);
    if (end == std::string::npos) throw std::runtime_error(number + " has no END line");
    ByteString der;
    if (Base64DecodeString(std::string_view(text).substr(body, end - body), der) != BASE64_OK)
      throw std::runtime_error(number + " is not valid Base64");
    auto certificate = std::make_unique<TOvX509Certificate>();
    try {
      certificate->LoadFromBytes(der);
    } catch (const std::exception& e) {
      throw std::runtime_error(number + ": " + e.what());
    }
    certificates.push_back(std::move(certificate));
    at = end + kEnd.size();
  }
  if (certificates.empty()) throw std::runtime_error("holds no PEM certificate");
  return certificates;
}

int VerifySignatures(const std::string& path, std::ostream& out, const TVerifyTrust& trust,
                     bool json, bool offline) {
  TOvFileStream input(path, TFileMode::fmOpenRead);
  TOvPDFDocument document;
  UseScratchFileWorkingStream(document);
  document.Open(input);
  TVerifyContext context{trust, ReadDSS(document), {}, offline};
  for (const ByteString& der : context.Stored.Certificates)
    if (auto certificate = LoadCertificateOrNull(der))
      context.StoredCertificates.push_back(std::move(certificate));
  std::vector<TSignatureReport> reports;
  for (size_t i = 0; i < document.SignatureCount(); ++i) {
    TOvPDFSignature& signature = *document.Signatures(i);
    if (!signature.Written() || !signature.FieldDictionary()) continue;
    reports.push_back(CheckSignature(document, signature, input, context));
  }
  document.Close(false);
  NameLongTermLevels(reports);
  bool all = !reports.empty();
  for (const TSignatureReport& r : reports)
    all = all && r.Valid && r.Trusted && r.Changes.Verdict != TOvPDFChangeVerdict::cvNotAllowed &&
          r.Revocation.Status != TCvRevocationStatus::Revoked;
  if (json) {
    out << "{\n  \"file\": " << JsonString(path) << ",\n  \"signatures\": [";
    for (size_t i = 0; i < reports.size(); ++i) {
      out << (i ? ",\n" : "\n");
      PrintJson(reports[i], out);
    }
    out << (reports.empty() ? "" : "\n  ") << "],\n  \"allVerified\": " << (all ? "true" : "false")
        << "\n}\n";
  } else {
    for (const TSignatureReport& r : reports) PrintText(r, out);
    if (reports.empty()) out << "no signatures\n";
  }
  return all ? 0 : 1;
}

int RunVerifyCommand(const std::vector<std::string>& args) {
  std::string path;
  std::vector<std::string> trustFiles;
  std::optional<std::string> nssdb;
  bool json = false;
  bool offline = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--trust" || arg == "--nssdb") {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      if (arg == "--trust")
        trustFiles.push_back(args[++i]);
      else if (nssdb)
        return Usage("--nssdb is given once");
      else
        nssdb = args[++i];
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--offline") {
      offline = true;
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("unknown option '" + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      return Usage("verify needs exactly one FILE.pdf");
    }
  }
  if (path.empty()) return Usage("verify needs exactly one FILE.pdf");

  TVerifyTrust trust;
  for (const std::string& file : trustFiles) {
    try {
      for (auto& certificate : ReadPemCertificates(file))
        trust.Anchors.push_back(std::move(certificate));
    } catch (const std::exception& e) {
      return Usage("--trust " + file + ": " + e.what());
    }
  }
  std::vector<std::string> log;
  const platform::NssDatabase database = ChooseCertificateDatabase(nssdb.value_or(""), log);
  std::cerr << "tavrapdf: " << DatabaseLine(database) << "\n";
  ReadDatabaseAuthorities(database.Spec, trust);
  try {
    const int status = VerifySignatures(path, std::cout, trust, json, offline);
    std::cout.flush();
    return std::cout ? status : 1;
  } catch (const std::exception& e) {
    std::cerr << "tavrapdf: " << path << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tavra
