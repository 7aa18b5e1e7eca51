#include "app/core/CertificateChoice.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "app/core/LowStuff.h"
#include "platform/keystore/KeyStore.h"
#include "toolkit/common/CvConstants.h"
#include "toolkit/common/CvUtils.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"
#include "toolkit/crypto/CvHashFunction.h"
#include "toolkit/pki/CvWinCertStorage.h"
#include "toolkit/pki/CvX509.h"
#include "toolkit/pki/CvX509Ext.h"

namespace tavra {

using namespace corvane;

namespace {

// A copy the caller owns.
class TOwnedCertificate final : public ISignerCertificate {
 public:
  explicit TOwnedCertificate(std::unique_ptr<TOvX509Certificate> certificate)
      : certificate_(std::move(certificate)) {}
  std::string IssuerCommonName() const override { return certificate_->IssuerName().CommonName; }
  std::string SubjectCommonName() const override { return certificate_->SubjectName().CommonName; }
  std::string SerialNumber() const override { return certificate_->SerialNumber(); }
  bool KeyAlgorithmCanSign() const override { return certificate_->KeyAlgorithmCanSign(); }
  bool PrivateKeyExists() const override { return certificate_->PrivateKeyExists(); }

 private:
  std::unique_ptr<TOvX509Certificate> certificate_;
};

class TStoreCertificate final : public IChoosableCertificate {
 public:
  explicit TStoreCertificate(TOvX509Certificate& certificate) : certificate_(certificate) {}
  std::string IssuerCommonName() const override { return certificate_.IssuerName().CommonName; }
  std::string SubjectCommonName() const override { return certificate_.SubjectName().CommonName; }
  std::string SerialNumber() const override { return certificate_.SerialNumber(); }
  bool KeyAlgorithmCanSign() const override { return certificate_.KeyAlgorithmCanSign(); }
  bool PrivateKeyExists() const override { return certificate_.PrivateKeyExists(); }
  double ValidTo() const override { return certificate_.ValidTo(); }
  uint64_t CertContextHandle() const override { return certificate_.CertContextHandle(); }
  std::unique_ptr<ISignerCertificate> Copy() const override {
    auto copy = std::make_unique<TOvX509Certificate>();
    certificate_.Clone(copy.get(), false);
    return std::make_unique<TOwnedCertificate>(std::move(copy));
  }

 private:
  TOvX509Certificate& certificate_;
};

class TPersonalStore final : public ICertificateStore {
 public:
  TPersonalStore() {
    // No strict chain building: the dialog only lists.
    storage_.SetSystemStores({"My"});
    for (int i = 0; i < storage_.Count(); ++i)
      if (TOvX509Certificate* certificate = storage_.Certificates(i))
        certificates_.push_back(std::make_unique<TStoreCertificate>(*certificate));
  }
  ~TPersonalStore() override { certificates_.clear(); }

  size_t Count() const override { return certificates_.size(); }
  const IChoosableCertificate& Certificate(size_t index) const override {
    return *certificates_.at(index);
  }
  std::string DatabaseText() const override {
    std::string dir = platform::KeyStore::Instance().DatabaseDir();
    if (dir.empty()) dir = platform::KeyStore::DefaultDatabaseDir();
    return platform::KeyStore::DatabaseFolder(dir);
  }

 private:
  TOvWinCertStorage storage_;
  std::vector<std::unique_ptr<TStoreCertificate>> certificates_;
};

// ASCII letters folded, other bytes by their code; then the length decides.
int CompareTextAscii(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    const int d = fold(static_cast<unsigned char>(a[i])) - fold(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string DateTimeText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", p.Year, p.Month, p.Day,
                p.Hour, p.Minute, p.Second);
  return text;
}

std::string AttributeName(const std::string& oidText) {
  static const std::pair<const char*, const char*> kNames[] = {{"2.5.4.3", "CN"},
                                                               {"2.5.4.6", "C"},
                                                               {"2.5.4.7", "L"},
                                                               {"2.5.4.8", "ST"},
                                                               {"2.5.4.10", "O"},
                                                               {"2.5.4.11", "OU"},
                                                               {"2.5.4.5", "SERIALNUMBER"},
                                                               {"1.2.840.113549.1.9.1", "E"}};
  for (const auto& [oid, name] : kNames)
    if (oidText == oid) return name;
  return oidText;
}

std::string NameText(const TOvRelativeDistinguishedName& name) {
  std::string text;
  for (int i = 0; i < name.Count(); ++i) {
    if (!text.empty()) text += ", ";
    text += AttributeName(OIDToText(name.Types(i))) + "=" + FromUtf8Text(name.Values(i));
  }
  return text;
}

std::string HexPairs(const std::string& bytes) {
  const std::string hex = BytesToHex(bytes);
  std::string text;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i) text += ':';
    text.append(hex, i, 2);
  }
  return text;
}

std::string KeyAlgorithmText(int32_t algorithm) {
  switch (algorithm) {
    case CERT_ALG_RSA:
      return "RSA";
    case CERT_ALG_RSAPSS:
      return "RSA-PSS";
    case CERT_ALG_DSA:
      return "DSA";
    case CERT_ALG_EC:
      return "EC";
    default:
      return "neznámý";
  }
}

void Join(std::string& text, const char* item) {
  if (!text.empty()) text += ", ";
  text += item;
}

std::string KeyUsageText(const TOvKeyUsageExtension& usage) {
  std::string text;
  if (usage.DigitalSignature) Join(text, "digitalSignature");
  if (usage.NonRepudiation) Join(text, "nonRepudiation");
  if (usage.KeyEncipherment) Join(text, "keyEncipherment");
  if (usage.DataEncipherment) Join(text, "dataEncipherment");
  if (usage.KeyAgreement) Join(text, "keyAgreement");
  if (usage.KeyCertSign) Join(text, "keyCertSign");
  if (usage.CRLSign) Join(text, "cRLSign");
  if (usage.EncipherOnly) Join(text, "encipherOnly");
  if (usage.DecipherOnly) Join(text, "decipherOnly");
  if (usage.Critical()) text += " (kritické)";
  return text;
}

std::string ExtendedKeyUsageText(const TOvExtendedKeyUsageExtension& usage) {
  std::string text;
  if (usage.ServerAuthentication) Join(text, "serverAuth");
  if (usage.ClientAuthentication) Join(text, "clientAuth");
  if (usage.CodeSigning) Join(text, "codeSigning");
  if (usage.EmailProtection) Join(text, "emailProtection");
  if (usage.TimeStamping) Join(text, "timeStamping");
  if (usage.OCSPSigning) Join(text, "OCSPSigning");
  return text;
}

}  // namespace

std::unique_ptr<ICertificateStore> OpenPersonalStore() {
  return std::make_unique<TPersonalStore>();
}

bool CertificateListed(const ISignerCertificate& certificate) {
  return certificate.KeyAlgorithmCanSign() && certificate.PrivateKeyExists();
}

int NextSortState(int state, int column) {
  if (std::abs(state) == column + 1) return -state;
  return column + 1;
}

int CompareCertificates(const IChoosableCertificate& a, const IChoosableCertificate& b,
                        int sortState) {
  int result;
  switch (std::abs(sortState)) {
    case 2:
      result =
          CompareTextAscii(FromUtf8Text(a.IssuerCommonName()), FromUtf8Text(b.IssuerCommonName()));
      break;
    case 3:
      result = a.ValidTo() < b.ValidTo() ? -1 : a.ValidTo() > b.ValidTo() ? 1 : 0;
      break;
    default:
      result = CompareTextAscii(FromUtf8Text(a.SubjectCommonName()),
                                FromUtf8Text(b.SubjectCommonName()));
  }
  return sortState < 0 ? -result : result;
}

bool MatchesIdentity(const ISignerCertificate& certificate, const std::string& issuerText,
                     const std::string& serialText) {
  return SameTextAscii(FromUtf8Text(certificate.IssuerCommonName()), issuerText) &&
         SameTextAscii(SerialNumberText(certificate), serialText);
}

TCertificateDescription DescribeStoreCertificate(uint64_t certContextHandle) {
  platform::KeyStore& store = platform::KeyStore::Instance();
  std::string der;
  if (certContextHandle == 0 || !store.Encoded(certContextHandle, der))
    throw std::runtime_error("Certifikát není v úložišti");
  TOvX509Certificate certificate;
  certificate.LoadFromBytes(der);

  TCertificateDescription description;
  description.Title = FromUtf8Text(certificate.SubjectName().CommonName);
  auto add = [&](const char* caption, std::string text) {
    description.Fields.push_back({caption, std::move(text)});
  };
  add("Vydáno pro", NameText(certificate.SubjectRDN()));
  add("Vydavatel", NameText(certificate.IssuerRDN()));
  add("Sériové číslo", SerialNumberText(certificate.SerialNumber()));
  add("Platnost od", DateTimeText(certificate.ValidFrom()));
  add("Platnost do", DateTimeText(certificate.ValidTo()));
  add("Algoritmus klíče", KeyAlgorithmText(certificate.PublicKeyAlgorithm()));
  const uint32_t bits = store.KeyBits(certContextHandle);
  add("Délka klíče", bits ? std::to_string(bits) + " bitů" : "neznámá");

  const TOvCertificateExtensions& extensions = certificate.Extensions();
  std::string usage;
  if (extensions.IsPresent(cekKeyUsage)) usage = KeyUsageText(extensions.KeyUsage());
  add("Použití klíče", usage.empty() ? "neomezeno" : usage);
  if (extensions.IsPresent(cekExtendedKeyUsage))
    add("Rozšířené použití klíče", ExtendedKeyUsageText(extensions.ExtendedKeyUsage()));
  if (extensions.IsPresent(cekBasicConstraints))
    add("Základní omezení",
        extensions.BasicConstraints().CA ? "certifikační autorita" : "koncový subjekt");
  for (const auto& other : extensions.OtherExtensions())
    add("Další rozšíření", OIDToText(other->OID()) + (other->Critical() ? " (kritické)" : ""));

  add("Otisk SHA-1", HexPairs(certificate.FingerprintSHA1()));
  TOvHashFunction sha256(ALG_SHA256);
  sha256.Update(der.data(), der.size());
  add("Otisk SHA-256", HexPairs(sha256.Finish()));
  add("Soukromý klíč",
      store.HasPrivateKey(certContextHandle) ? "je v úložišti" : "není v úložišti");
  return description;
}

}  // namespace tavra
