// Fuzz target for the certificate parser: any input either loads or raises a
// toolkit error and leaves the certificate empty. What loads must be
// consistent: the signed region lies inside the encoding, the kept octets of
// the serial and names are where the encoding has them, a clone is the same
// certificate, and every extension writes itself back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Inspect(const TOvX509Certificate& certificate) {
  const std::string_view der = certificate.CertificateBinary();
  Check(!der.empty() && der.size() <= X509_MAX_CERTIFICATE_SIZE);
  Check(certificate.SignedRegionOffset() >= 0 &&
        certificate.SignedRegionOffset() + certificate.SignedRegionSize() <=
            static_cast<int64_t>(der.size()));
  Check(der.find(certificate.IssuerNameDER()) != std::string_view::npos);
  Check(der.find(certificate.SubjectNameDER()) != std::string_view::npos);
  Check(der.find(certificate.SerialNumberOctets()) != std::string_view::npos);
  Check(!certificate.SerialNumber().empty());
  Check(certificate.SerialNumber().size() ==
        std::max<size_t>(certificate.SerialNumberOctets().size(), 1) +
            (certificate.SerialNumberPadded() ? 1 : 0));
  (void)certificate.KeyAlgorithmCanSign();
  (void)certificate.PrivateKeyExists();
  (void)certificate.IsSelfIssued();
  (void)certificate.IsSelfSigned();

  TOvX509Certificate copy;
  certificate.Clone(&copy, false);
  Check(TOvX509Certificate::SameCertificate(certificate, copy));

  const TOvCertificateExtensions& extensions = certificate.Extensions();
  for (const auto& other : extensions.OtherExtensions()) {
    TOvASN1ConstrainedTag node;
    other->SaveToTag(node);
    (void)node.SaveToBytes();
  }
  TOvASN1ConstrainedTag names;
  extensions.SubjectAlternativeName().Content.SaveToTag(names);
  (void)names.SaveToBytes();
  (void)extensions.AuthorityKeyIdentifier().GetValue();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TOvX509Certificate certificate;
  try {
    certificate.LoadFromBuffer(data, size);
  } catch (const ECorvaneError&) {
    Check(certificate.IsEmpty());
    return 0;
  }
  Inspect(certificate);
  return 0;
}
