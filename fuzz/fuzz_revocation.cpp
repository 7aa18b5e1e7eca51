// Fuzz target for the OCSP response and CRL readers and the judgement over
// them: any input is read or refused without raising; what is read lies
// inside the input; judging it against the certificates it carries never
// raises and never says "good" without an answer that verified.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/pki/CvCRL.h"
#include "toolkit/pki/CvOCSP.h"
#include "toolkit/pki/CvRevocation.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Judge(const TOvX509Certificate& certificate, const TOvX509Certificate& issuer,
           const TCvValidationData& data) {
  const TCvRevocationResult result = CheckRevocation(certificate, issuer, data, 46000.0);
  if (result.Status == TCvRevocationStatus::Good || result.Status == TCvRevocationStatus::Revoked)
    Check(result.Source != TCvRevocationSource::None);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string input(reinterpret_cast<const char*>(bytes), size);
  std::string error;

  TCvOCSPResponse response;
  if (ParseOCSPResponse(input, response, error)) {
    Check(error.empty());
    if (response.ResponseStatus == OCSP_SUCCESSFUL) {
      Check(input.find(response.TBSResponseData) != std::string::npos);
      Check(input.find(response.SignatureAlgorithm) != std::string::npos);
      Check(response.Certificates.size() <= 64);
      // The response's own certificates as subject and issuer, every pairing.
      TCvValidationData data;
      data.OCSPs.push_back(input);
      for (size_t i = 0; i < response.Certificates.size() && i < 3; ++i) {
        const auto a = LoadCertificateOrNull(response.Certificates[i]);
        if (a == nullptr) continue;
        Judge(*a, *a, data);
        for (size_t j = 0; j < response.Certificates.size() && j < 3; ++j)
          if (const auto b = LoadCertificateOrNull(response.Certificates[j])) Judge(*a, *b, data);
      }
    }
  } else {
    Check(!error.empty());
  }

  TCvCRL crl;
  if (ParseCRL(input, crl, error)) {
    Check(input.find(crl.TBSCertList) != std::string::npos);
    Check(!crl.HasNextUpdate || crl.NextUpdate >= crl.ThisUpdate);
    for (const TCvRevokedEntry& entry : crl.Revoked) Check(crl.Find(entry.Serial) != nullptr);
  } else {
    Check(!error.empty());
    Check(crl.Revoked.empty() && crl.TBSCertList.empty());
  }
  return 0;
}
