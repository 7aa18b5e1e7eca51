// Fuzz target for a CMS SignedData as a signed PDF's /Contents holds it: the
// message verifier checks it as a detached signature over a fixed digest and
// as an encapsulated one, and the PDF public-key handler reads it as both
// PKCS#7 subfilters and verifies the digest. Any input either verifies or
// fails with a result code or a toolkit error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/common/CvErrors.h"
#include "toolkit/pdf/CvPDFCore.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvTSPClient.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const std::string kDigest(32, '\x5A');

void ThroughVerifier(const std::string& der) {
  TOvMessageVerifier detached;
  detached.SetInputIsHash(true);
  (void)detached.VerifyDetached(kDigest.data(), static_cast<int64_t>(kDigest.size()), der.data(),
                                static_cast<int64_t>(der.size()));
  for (int i = 0; i < detached.SignerCount(); ++i) (void)detached.SignerCertificate(i);
  for (int i = 0; i < detached.TimestampCount(); ++i) {
    const TOvClientTSPInfo* info = detached.Timestamps(i);
    Check(info != nullptr);
    (void)info->MessageImprint();
  }

  TOvMessageVerifier encapsulated;
  int64_t size = 0;
  const int32_t rc =
      encapsulated.Verify(der.data(), static_cast<int64_t>(der.size()), size, nullptr);
  if (rc == MSG_ERROR_BUFFER_TOO_SMALL) {
    // The content fits in what was asked for, and the message holds it.
    Check(size >= 0 && size <= static_cast<int64_t>(der.size()));
    std::string content(static_cast<size_t>(size), '\0');
    (void)encapsulated.Verify(der.data(), static_cast<int64_t>(der.size()), size, content.data());
  }
}

void ThroughPdfHandler(const std::string& der, const char* subFilter) {
  TOvPDFFile file;
  TOvPDFDictionary* dict = file.NewDictionary();
  dict->AddEntry("SubFilter", file.NewName(subFilter));
  dict->AddEntry("Contents", file.NewString(der, 1));
  TOvPDFPublicKeySecurityHandler handler;
  try {
    handler.LoadSignatureInfo(dict);
  } catch (const ECorvaneError&) {
    return;
  }
  (void)handler.VerifyDigest(kDigest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string der(reinterpret_cast<const char*>(data), size);
  try {
    ThroughVerifier(der);
  } catch (const ECorvaneError&) {
  }
  ThroughPdfHandler(der, "adbe.pkcs7.detached");
  ThroughPdfHandler(der, "adbe.pkcs7.sha1");
  return 0;
}
