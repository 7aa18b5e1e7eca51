#include "toolkit/pki/CvValidationData.h"

#include <unordered_set>

namespace corvane {

namespace {

void MergeList(std::vector<ByteString>& into, const std::vector<ByteString>& from) {
  std::unordered_set<std::string_view> present(into.begin(), into.end());
  // Views into `from` stay valid while it is walked; new items are copied
  // after the lookup so no view points into a vector that grows.
  std::vector<const ByteString*> added;
  for (const ByteString& item : from)
    if (present.insert(item).second) added.push_back(&item);
  into.reserve(into.size() + added.size());
  for (const ByteString* item : added) into.push_back(*item);
}

}  // namespace

void TCvValidationData::Merge(const TCvValidationData& other) {
  if (&other == this) return;
  MergeList(Certificates, other.Certificates);
  MergeList(OCSPs, other.OCSPs);
  MergeList(CRLs, other.CRLs);
}

std::string RevocationStatusText(TCvRevocationStatus status) {
  switch (status) {
    case TCvRevocationStatus::Good:
      return "good";
    case TCvRevocationStatus::Revoked:
      return "revoked";
    case TCvRevocationStatus::Unknown:
      return "unknown";
    default:
      return "not checked";
  }
}

std::string RevocationSourceText(TCvRevocationSource source) {
  switch (source) {
    case TCvRevocationSource::EmbeddedOCSP:
      return "embedded OCSP";
    case TCvRevocationSource::EmbeddedCRL:
      return "embedded CRL";
    case TCvRevocationSource::OnlineOCSP:
      return "OCSP";
    case TCvRevocationSource::OnlineCRL:
      return "CRL";
    default:
      return "";
  }
}

}  // namespace corvane
