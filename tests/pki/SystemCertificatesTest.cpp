// Every certificate of the system's CA collection (package ca-certificates)
// parses, and its names, serial and validity equal what openssl prints.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;

namespace {

// The Base64 body of a PEM file with one certificate (the loader takes bare Base64).
std::string PemBody(const std::string& pem) {
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const size_t start = pem.find(begin);
  const size_t end = pem.find("-----END CERTIFICATE-----");
  if (start == std::string::npos || end == std::string::npos || end < start) return {};
  std::string body = pem.substr(start + begin.size(), end - start - begin.size());
  // Keep line breaks; drop anything else that is not Base64 (stray spaces).
  std::string clean;
  for (const char c : body)
    if (c != ' ' && c != '\t') clean.push_back(c);
  return clean;
}

}  // namespace

TEST(SystemCertificates, EveryCertificateParsesAndEqualsOpenssl) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::filesystem::path folder = "/etc/ssl/certs";
  int checked = 0;
  int self_signed = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string path = entry.path().string();
    if (entry.path().extension() != ".pem") continue;
    SCOPED_TRACE(path);
    const std::string body = PemBody(pkitest::ReadFile(entry.path()));
    ASSERT_FALSE(body.empty());
    TOvX509Certificate certificate;
    try {
      certificate.LoadFromBytes(body);
    } catch (const ECorvaneError& e) {
      ADD_FAILURE() << "does not parse: " << e.what();
      continue;
    }
    const pkitest::OpensslView view = pkitest::ReadWithOpenssl(path, false);
    ASSERT_TRUE(view.ok);
    EXPECT_EQ(pkitest::OpensslSerialText(certificate.SerialNumberOctets()), view.serial);
    EXPECT_EQ(certificate.SubjectName().CommonName, pkitest::OpensslView::Last(view.subject, "CN"));
    EXPECT_EQ(certificate.IssuerName().CommonName, pkitest::OpensslView::Last(view.issuer, "CN"));
    EXPECT_EQ(certificate.SubjectName().Organization,
              pkitest::OpensslView::Last(view.subject, "O"));
    EXPECT_EQ(pkitest::IsoText(certificate.ValidFrom()), view.notBefore);
    EXPECT_EQ(pkitest::IsoText(certificate.ValidTo()), view.notAfter);
    // Roots sign themselves; RSA ones are checked with our own RSA.
    if (certificate.IsSelfIssued() && certificate.KeyMaterial() != nullptr) {
      EXPECT_TRUE(certificate.IsSelfSigned());
      ++self_signed;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0) << "no certificates under " << folder << " (install ca-certificates)";
  EXPECT_GT(self_signed, checked / 2);
}
