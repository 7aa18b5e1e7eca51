// Certificates made by openssl at test time: every field we read must equal
// what openssl prints; odd serials, names and versions; bad input.
#include <gtest/gtest.h>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvCryptoProvBuiltIn.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvX509.h"

using namespace corvane;
using pkitest::FixtureDER;
using pkitest::Fixtures;
using pkitest::Hex;
using pkitest::OpensslView;
using pkitest::ToHex;

namespace {

const char* const kAllFixtures[] = {"ca",      "rsa2048", "rsa3072",  "rsa4096",  "ec",
                                    "czech",   "bmp",     "serial80", "negative", "long",
                                    "unknown", "softku",  "expired",  "v1"};

#define REQUIRE_FIXTURES()       \
  TAVRA_REQUIRE_TOOL("openssl"); \
  ASSERT_FALSE(Fixtures().empty()) << "openssl could not make the test certificates"

std::unique_ptr<TOvX509Certificate> Load(std::string_view bytes) {
  auto certificate = std::make_unique<TOvX509Certificate>();
  certificate->LoadFromBytes(bytes);
  return certificate;
}

void ExpectNameEquals(const TOvCertificateName& ours,
                      const std::multimap<std::string, std::string>& theirs,
                      const std::string& what) {
  EXPECT_EQ(ours.Country, OpensslView::Last(theirs, "C")) << what;
  EXPECT_EQ(ours.StateOrProvince, OpensslView::Last(theirs, "ST")) << what;
  EXPECT_EQ(ours.Locality, OpensslView::Last(theirs, "L")) << what;
  EXPECT_EQ(ours.Organization, OpensslView::Last(theirs, "O")) << what;
  EXPECT_EQ(ours.OrganizationUnit, OpensslView::Last(theirs, "OU")) << what;
  EXPECT_EQ(ours.CommonName, OpensslView::Last(theirs, "CN")) << what;
  EXPECT_EQ(ours.EMail, OpensslView::Last(theirs, "emailAddress")) << what;
}

void ExpectEqualsOpenssl(const TOvX509Certificate& certificate, const std::string& path,
                         const std::string& what) {
  const OpensslView view = pkitest::ReadWithOpenssl(path, true);
  ASSERT_TRUE(view.ok) << what;
  EXPECT_EQ(pkitest::OpensslSerialText(certificate.SerialNumberOctets()), view.serial) << what;
  ExpectNameEquals(certificate.SubjectName(), view.subject, what + " subject");
  ExpectNameEquals(certificate.IssuerName(), view.issuer, what + " issuer");
  EXPECT_EQ(pkitest::IsoText(certificate.ValidFrom()), view.notBefore) << what;
  EXPECT_EQ(pkitest::IsoText(certificate.ValidTo()), view.notAfter) << what;
}

// The offset of the tag octet of the first attribute value of that type.
size_t ValueTagOffset(const std::string& der, std::string_view oid, size_t from = 0) {
  const std::string needle =
      std::string("\x06", 1) + static_cast<char>(oid.size()) + std::string(oid);
  const size_t at = der.find(needle, from);
  return at == std::string::npos ? at : at + needle.size();
}

const std::string kCN{"\x55\x04\x03", 3};

}  // namespace

TEST(X509Fixtures, FieldsEqualWhatOpensslPrints) {
  REQUIRE_FIXTURES();
  for (const char* name : kAllFixtures) {
    SCOPED_TRACE(name);
    const auto certificate = Load(FixtureDER(name));
    ExpectEqualsOpenssl(*certificate, (Fixtures() / (std::string(name) + ".der")).string(), name);
  }
}

TEST(X509Fixtures, IssuedCertificatesCarryTheCAsNameBytes) {
  REQUIRE_FIXTURES();
  const auto ca = Load(FixtureDER("ca"));
  EXPECT_EQ(ca->Version(), 3);
  EXPECT_EQ(ca->IssuerNameDER(), ca->SubjectNameDER());
  for (const char* name : {"rsa2048", "ec", "czech", "negative", "v1"}) {
    const auto user = Load(FixtureDER(name));
    EXPECT_EQ(user->IssuerNameDER(), ca->SubjectNameDER()) << name;
    EXPECT_TRUE(user->IssuerRDN().Equals(ca->SubjectRDN())) << name;
    EXPECT_FALSE(user->IsSelfIssued()) << name;
    // The signed region is the first element of the certificate.
    EXPECT_EQ(user->SignedRegion().substr(0, 1), "\x30") << name;
    EXPECT_EQ(user->SignedRegionOffset(), 4) << name;
  }
  EXPECT_TRUE(ca->IsSelfIssued());
}

TEST(X509Fixtures, SerialsKeepTheirOctetsAndPadOnlyTheText) {
  REQUIRE_FIXTURES();
  // Positive with a high first octet: DER already has the 0x00, nothing is added.
  auto c = Load(FixtureDER("serial80"));
  EXPECT_EQ(ToHex(c->SerialNumberOctets()), "0080A1B2C3D4");
  EXPECT_EQ(ToHex(c->SerialNumber()), "0080A1B2C3D4");
  EXPECT_FALSE(c->SerialNumberPadded());
  // Negative (-0x1234 is ED CC): the text form is padded, the octets stay as encoded.
  c = Load(FixtureDER("negative"));
  EXPECT_EQ(ToHex(c->SerialNumberOctets()), "EDCC");
  EXPECT_EQ(ToHex(c->SerialNumber()), "00EDCC");
  EXPECT_TRUE(c->SerialNumberPadded());
  // 21 octets are read as they are.
  c = Load(FixtureDER("long"));
  EXPECT_EQ(ToHex(c->SerialNumberOctets()), "0102030405060708090A0B0C0D0E0F101112131415");
  EXPECT_EQ(c->SerialNumber(), c->SerialNumberOctets());
}

TEST(X509Fixtures, VersionOneExpiredAndGeneralizedTime) {
  REQUIRE_FIXTURES();
  const auto v1 = Load(FixtureDER("v1"));
  EXPECT_EQ(v1->Version(), 1);
  EXPECT_EQ(v1->Extensions().PresentKinds(), 0u);
  EXPECT_EQ(pkitest::IsoText(v1->ValidTo()), "2051-01-01 00:00:00Z");  // GeneralizedTime
  EXPECT_EQ(pkitest::IsoText(v1->ValidFrom()), "2024-02-29 23:59:59Z");
  const auto expired = Load(FixtureDER("expired"));
  EXPECT_LT(expired->ValidTo(), NowUTC());
  EXPECT_EQ(pkitest::IsoText(expired->ValidTo()), "2021-01-01 12:00:00Z");
}

TEST(X509Fixtures, DerBase64AndUtf16Base64LoadTheSame) {
  REQUIRE_FIXTURES();
  const std::string der = FixtureDER("czech");
  const std::string base64 = Base64EncodeString(der, true);  // CR LF every 64 characters
  ASSERT_NE(base64.find("\r\n"), std::string::npos);
  std::string utf16;
  for (const char c : base64) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  const auto a = Load(der);
  const auto b = Load(base64);
  const auto c = Load(utf16);
  for (const TOvX509Certificate* other : {b.get(), c.get()}) {
    EXPECT_EQ(other->CertificateBinary(), der);
    EXPECT_EQ(other->SubjectName().CommonName, "Jan Čáp");
    EXPECT_TRUE(TOvX509Certificate::SameCertificate(*a, *other));
  }
}

TEST(X509Fixtures, KeysAndAlgorithmsMatchOpenssl) {
  REQUIRE_FIXTURES();
  struct Case {
    const char* name;
    int32_t key;
    bool canEncrypt;
  } const cases[] = {
      {"rsa2048", CERT_ALG_RSA, true}, {"rsa4096", CERT_ALG_RSA, true}, {"ec", CERT_ALG_EC, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const auto c = Load(FixtureDER(k.name));
    EXPECT_EQ(c->PublicKeyAlgorithm(), k.key);
    EXPECT_EQ(c->SignatureAlgorithm(), CERT_ALG_SHA256_RSA);
    EXPECT_TRUE(c->KeyAlgorithmCanSign());
    EXPECT_EQ(c->KeyAlgorithmCanEncrypt(), k.canEncrypt);
    bool ok = false;
    const std::string spki = pkitest::Run(
        "openssl x509 -inform DER -in '" + (Fixtures() / (std::string(k.name) + ".der")).string() +
            "' -noout -pubkey | openssl pkey -pubin -outform DER",
        &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(c->SubjectPublicKeyInfo(), spki);
    EXPECT_EQ(c->GetPublicKeyBits(), std::string(1, '\0') + c->PublicKey());
    EXPECT_NE(spki.find(c->PublicKey()), std::string::npos);
  }
}

TEST(X509Fixtures, FingerprintsEqualOpenssl) {
  REQUIRE_FIXTURES();
  const std::string path = (Fixtures() / "rsa3072.der").string();
  const auto c = Load(FixtureDER("rsa3072"));
  auto openssl = [&](const char* digest) {
    std::string line =
        pkitest::Run("openssl x509 -inform DER -in '" + path + "' -noout -fingerprint -" + digest);
    line = line.substr(line.find('=') + 1);
    return ToHex(Hex(line));
  };
  EXPECT_EQ(ToHex(c->FingerprintSHA1()), openssl("sha1"));
  EXPECT_EQ(ToHex(c->FingerprintMD5()), openssl("md5"));
}

TEST(X509Fixtures, ExtensionsOfAUserCertificate) {
  REQUIRE_FIXTURES();
  const auto ca = Load(FixtureDER("ca"));
  const auto c = Load(FixtureDER("rsa2048"));
  const TOvCertificateExtensions& e = c->Extensions();
  const uint32_t expected = cekBasicConstraints | cekKeyUsage | cekExtendedKeyUsage |
                            cekSubjectKeyIdentifier | cekAuthorityKeyIdentifier |
                            cekSubjectAlternativeName | cekCertificatePolicies |
                            cekCRLDistributionPoints | cekAuthorityInformationAccess;
  EXPECT_EQ(e.PresentKinds(), expected);
  EXPECT_FALSE(e.BasicConstraints().CA);
  EXPECT_TRUE(e.KeyUsage().Critical());
  EXPECT_TRUE(e.KeyUsage().DigitalSignature && e.KeyUsage().NonRepudiation &&
              e.KeyUsage().KeyEncipherment);
  EXPECT_FALSE(e.KeyUsage().DataEncipherment || e.KeyUsage().KeyCertSign);
  EXPECT_TRUE(e.ExtendedKeyUsage().ClientAuthentication && e.ExtendedKeyUsage().EmailProtection);
  EXPECT_FALSE(e.ExtendedKeyUsage().ServerAuthentication);
  ASSERT_EQ(e.ExtendedKeyUsage().CustomUsages.size(), 1u);
  EXPECT_EQ(OIDToText(e.ExtendedKeyUsage().CustomUsages[0]), "1.3.6.1.4.1.311.10.3.12");
  EXPECT_EQ(e.AuthorityKeyIdentifier().KeyIdentifier,
            ca->Extensions().SubjectKeyIdentifier().KeyIdentifier);
  EXPECT_EQ(e.SubjectKeyIdentifier().KeyIdentifier.size(), 20u);

  const TOvGeneralNames& san = e.SubjectAlternativeName().Content;
  ASSERT_EQ(san.Count(), 4);
  EXPECT_EQ(san.Names(0).NameType, gnRFC822Name);
  EXPECT_EQ(san.Names(0).RFC822Name, "jan@example.cz");
  EXPECT_EQ(san.Names(1).DNSName, "tavra.example");
  EXPECT_EQ(san.Names(2).IpAddress, "192.0.2.1");
  EXPECT_EQ(san.Names(3).UniformResourceIdentifier, "http://tavra.example/");
  ASSERT_EQ(e.CertificatePolicies().Policies.size(), 1u);
  EXPECT_EQ(OIDToText(e.CertificatePolicies().Policies[0].PolicyIdentifier), "1.2.203.99999.1");
  ASSERT_EQ(e.CRLDistributionPoints().DistributionPoints.size(), 1u);
  const auto& dp = *e.CRLDistributionPoints().DistributionPoints[0];
  ASSERT_EQ(dp.DistributionPoint.Count(), 1);
  EXPECT_EQ(dp.DistributionPoint.Names(0).UniformResourceIdentifier, "http://crl.example/ca.crl");
  EXPECT_EQ(dp.ReasonFlags, CRL_REASONS_ALL);
  ASSERT_EQ(e.AuthorityInformationAccess().AccessDescriptions.size(), 1u);
  const auto& ocsp = *e.AuthorityInformationAccess().AccessDescriptions[0];
  EXPECT_EQ(OIDToText(ocsp.AccessMethod), "1.3.6.1.5.5.7.48.1");
  EXPECT_EQ(ocsp.AccessLocation.UniformResourceIdentifier, "http://ocsp.example/");

  EXPECT_TRUE(ca->Extensions().BasicConstraints().CA);
  EXPECT_EQ(ca->Extensions().BasicConstraints().PathLenConstraint, -1);
  EXPECT_TRUE(ca->Extensions().KeyUsage().KeyCertSign && ca->Extensions().KeyUsage().CRLSign);
}

TEST(X509Fixtures, CriticalExtensions) {
  REQUIRE_FIXTURES();
  // An unknown critical extension is kept, not refused.
  const auto unknown = Load(FixtureDER("unknown"));
  ASSERT_EQ(unknown->Extensions().OtherExtensions().size(), 1u);
  const TOvCustomExtension& other = *unknown->Extensions().OtherExtensions()[0];
  EXPECT_EQ(OIDToText(other.OID()), "1.3.6.1.4.1.99999.1");
  EXPECT_TRUE(other.Critical());
  EXPECT_EQ(other.Value(), Hex("0500"));
  // A known kind marked critical whose value does not decode fails the load.
  TOvX509Certificate bad;
  bad.LoadFromBytes(FixtureDER("rsa2048"));
  try {
    bad.LoadFromBytes(FixtureDER("badku"));
    FAIL() << "a malformed critical key usage loaded";
  } catch (const EOvCertificateError& e) {
    EXPECT_STREQ(e.what(), "Unrecognized critical certificate extension");
  }
  // Nothing of the previous certificate or of the failed one is left behind.
  EXPECT_TRUE(bad.IsEmpty());
  EXPECT_TRUE(bad.SerialNumber().empty());
  EXPECT_EQ(bad.SubjectName().CommonName, "");
  EXPECT_EQ(bad.Extensions().PresentKinds(), 0u);
  // Not critical: loads, with the kind present and every flag false.
  const auto soft = Load(FixtureDER("softku"));
  EXPECT_TRUE(soft->Extensions().IsPresent(cekKeyUsage));
  const TOvKeyUsageExtension& ku = soft->Extensions().KeyUsage();
  EXPECT_FALSE(ku.DigitalSignature || ku.NonRepudiation || ku.KeyEncipherment ||
               ku.DataEncipherment || ku.KeyAgreement || ku.KeyCertSign || ku.CRLSign ||
               ku.EncipherOnly || ku.DecipherOnly);
  EXPECT_EQ(ku.Value(), Hex("040100"));
}

TEST(X509Fixtures, NamesInUtf8BmpT61AndIA5Strings) {
  REQUIRE_FIXTURES();
  const auto czech = Load(FixtureDER("czech"));
  EXPECT_EQ(czech->SubjectName().CommonName, "Jan Čáp");
  EXPECT_EQ(czech->SubjectName().Locality, "Praha 1");
  const auto bmp = Load(FixtureDER("bmp"));
  EXPECT_EQ(bmp->SubjectName().CommonName, "Tí Čáp");
  const int cn = bmp->SubjectRDN().IndexOfType(kCN);
  ASSERT_GE(cn, 0);
  EXPECT_EQ(bmp->SubjectRDN().Tags(cn), 0x1E);
  EXPECT_EQ(bmp->SubjectRDN().Values(cn), Hex("0054 00ED 0020 010C 00E1 0070"));

  // The same bytes as T61String (0x14) and IA5String (0x16): read byte for byte.
  pkitest::ScratchDir scratch;
  for (const uint8_t tag : {0x14, 0x16}) {
    std::string der = FixtureDER("rsa3072");
    const size_t issuer_cn = ValueTagOffset(der, kCN);
    const size_t subject_cn = ValueTagOffset(der, kCN, issuer_cn);
    ASSERT_NE(subject_cn, std::string::npos);
    der[subject_cn] = static_cast<char>(tag);
    const std::string path = scratch / "odd.der";
    pkitest::WriteFile(path, der);
    const auto odd = Load(der);
    EXPECT_EQ(odd->SubjectRDN().Tags(odd->SubjectRDN().IndexOfType(kCN)), tag);
    ExpectEqualsOpenssl(*odd, path, "tag " + std::to_string(tag));
  }
}

// --- Hand-built certificates for the parse rules -------------------------------

namespace {

const std::string kRSAKeyAlgorithm = EncodeSequence({EncodeOID(oid::RSA_ENCRYPTION), EncodeNull()});
const std::string kSignatureAlgorithm = EncodeSequence({EncodeOID(oid::SHA256_RSA), EncodeNull()});

std::string Name(std::initializer_list<std::pair<std::string, std::string>> attributes) {
  std::vector<std::string> sets;
  for (const auto& [type, value] : attributes)
    sets.push_back(EncodeSet({EncodeSequence({EncodeOID(type), value})}));
  return EncodeSequence(sets);
}

struct Parts {
  std::string version = EncodeConstructed(0xA0, {EncodeInteger(std::string(1, '\x02'))});
  std::string serial = Hex("020101");
  std::string issuer = Name({{kCN, EncodePrintableString("Issuer")}});
  std::string validity = EncodeSequence({EncodePrimitive(ASN1_UTC_TIME, "250101000000Z"),
                                         EncodePrimitive(ASN1_UTC_TIME, "350101000000Z")});
  std::string subject = Name({{kCN, EncodePrintableString("Subject")}});
  std::string spki = EncodeSequence(
      {kRSAKeyAlgorithm, EncodeBitString(EncodeSequence({Hex("020105"), Hex("020103")}))});
  std::string tail;
  std::string signature = EncodeBitString(Hex("0102030405"));

  std::string Build() const {
    const std::string tbs = EncodeSequence(
        {version, serial, kSignatureAlgorithm, issuer, validity, subject, spki, tail});
    return EncodeSequence({tbs, kSignatureAlgorithm, signature});
  }
};

void ExpectInvalid(const std::string& der, const std::string& what) {
  TOvX509Certificate c;
  try {
    c.LoadFromBytes(der);
    ADD_FAILURE() << what << ": loaded";
  } catch (const EOvCertificateError& e) {
    EXPECT_STREQ(e.what(), "Invalid certificate data") << what;
  }
  EXPECT_TRUE(c.IsEmpty()) << what;
}

}  // namespace

TEST(X509Parse, SerialRules) {
  Parts p;
  p.serial = Hex("020100");
  EXPECT_EQ(ToHex(Load(p.Build())->SerialNumber()), "00");
  p.serial = Hex("020185");
  auto c = Load(p.Build());
  EXPECT_EQ(ToHex(c->SerialNumber()), "0085");
  EXPECT_TRUE(c->SerialNumberPadded());
  EXPECT_EQ(ToHex(c->SerialNumberOctets()), "85");
  p.serial = Hex("02020085");
  c = Load(p.Build());
  EXPECT_EQ(ToHex(c->SerialNumber()), "0085");
  EXPECT_FALSE(c->SerialNumberPadded());
}

TEST(X509Parse, NameRules) {
  Parts p;
  p.subject = Name({{kCN, EncodePrintableString("First")},
                    {kCN, EncodeUTF8String("Second")},
                    {std::string("\x55\x04\x0A", 3), EncodeConstructed(0x30, {EncodeNull()})}});
  p.issuer = Name({{kCN, EncodePrimitive(0x1E, Hex("0054 00ED"))}});
  const auto c = Load(p.Build());
  EXPECT_EQ(c->SubjectName().CommonName, "Second");
  EXPECT_EQ(c->IssuerName().CommonName, "Tí");
  // A constructed value keeps its content and the default tag.
  EXPECT_EQ(c->SubjectRDN().Values(2), EncodeNull());
  EXPECT_EQ(c->SubjectRDN().Tags(2), 4);
  EXPECT_EQ(c->SubjectRDN().Groups(2), 2);
  EXPECT_EQ(c->IssuerNameDER(), p.issuer);
}

TEST(X509Parse, VersionRules) {
  Parts p;
  p.version.clear();
  p.tail = EncodeConstructed(0xA3, {EncodeSequence(std::vector<std::string>{})});
  ExpectInvalid(p.Build(), "version 1 with extensions");
  p.tail = EncodePrimitive(0x81, Hex("00AB"));
  ExpectInvalid(p.Build(), "version 1 with a unique id");
  p.tail.clear();
  EXPECT_EQ(Load(p.Build())->Version(), 1);

  p.version = EncodeConstructed(0xA0, {EncodeInteger(std::string(1, '\x01'))});
  p.tail = EncodePrimitive(0x81, Hex("00AB")) + EncodePrimitive(0x82, Hex("01CD"));
  auto c = Load(p.Build());
  EXPECT_EQ(c->Version(), 2);
  EXPECT_EQ(ToHex(c->IssuerUniqueID()), "AB");
  EXPECT_EQ(ToHex(c->SubjectUniqueID()), "01CD");
  p.tail += EncodeConstructed(0xA3, {EncodeSequence(std::vector<std::string>{})});
  ExpectInvalid(p.Build(), "version 2 with extensions");

  p.version = EncodeConstructed(0xA0, {EncodeInteger(std::string(1, '\x02'))});
  p.tail += Hex("0500");
  ExpectInvalid(p.Build(), "trailing element");
}

TEST(X509Parse, ShapeViolationsAreInvalidData) {
  {
    Parts p;
    p.validity = EncodeSequence(
        {EncodePrimitive(ASN1_UTC_TIME, "250101000000Z"), EncodePrimitive(0x13, "350101000000Z")});
    ExpectInvalid(p.Build(), "validity as PrintableString");
  }
  {
    Parts p;
    p.spki = EncodeSequence(
        {kRSAKeyAlgorithm, EncodePrimitive(ASN1_BIT_STRING, Hex("07 300602010502 0103"))});
    ExpectInvalid(p.Build(), "key with unused bits");
  }
  {
    Parts p;
    p.spki = EncodeSequence({kRSAKeyAlgorithm, EncodeBitString(Hex("FFFF"))});
    ExpectInvalid(p.Build(), "RSA key that is not ASN.1");
  }
  {
    Parts p;
    p.spki = EncodeSequence(
        {EncodeSequence({EncodeOID(Hex("2A0304")), EncodeNull()}), EncodeBitString(Hex("3000"))});
    // An unknown key algorithm loads; its key is unsupported.
    const auto unknown = Load(p.Build());
    EXPECT_EQ(unknown->PublicKeyAlgorithm(), ALG_UNKNOWN);
    EXPECT_EQ(unknown->KeyMaterial(), nullptr);
  }
  {
    Parts p;
    p.subject = EncodeSequence({EncodeSet({EncodeSequence({EncodeOID(kCN)})})});
    ExpectInvalid(p.Build(), "attribute without a value");
  }
  {
    Parts p;
    p.tail = EncodeConstructed(0xA3, {EncodeSequence({EncodeSequence({EncodeOID(kCN)})})});
    ExpectInvalid(p.Build(), "extension without a value");
  }
  {
    Parts p;
    p.subject.clear();
    p.spki.clear();
    ExpectInvalid(p.Build(), "missing subject");
  }
  {
    Parts p;
    p.signature = EncodeOctetString("x");
    ExpectInvalid(p.Build(), "signature not a BIT STRING");
  }
  ExpectInvalid("", "empty input");
  ExpectInvalid(Hex("3000"), "empty SEQUENCE");
}

TEST(X509BadInput, TruncatedSignaturesAndDamageNeverCrash) {
  REQUIRE_FIXTURES();
  const std::string der = FixtureDER("rsa2048");
  // Cut inside the signature, and at every other length: always a clear error.
  ExpectInvalid(der.substr(0, der.size() - 7), "truncated signature");
  for (size_t n = 0; n < der.size(); n += 13) ExpectInvalid(der.substr(0, n), "prefix");
  // Flipping bits anywhere either loads or raises the toolkit's errors.
  for (size_t i = 0; i < der.size(); i += 3) {
    std::string damaged = der;
    damaged[i] = static_cast<char>(damaged[i] ^ (1 << (i % 8)));
    TOvX509Certificate c;
    try {
      c.LoadFromBytes(damaged);
    } catch (const ECorvaneError&) {
      EXPECT_TRUE(c.IsEmpty());
    }
  }
}

TEST(X509BadInput, TooLong) {
  const std::string huge = EncodeSequence({EncodeOctetString(std::string(40000, 'x'))});
  TOvX509Certificate c;
  EXPECT_THROW(
      {
        try {
          c.LoadFromBytes(huge);
        } catch (const EOvX509Error& e) {
          EXPECT_STREQ(e.what(), "Certificate is too long");
          throw;
        }
      },
      EOvX509Error);
  // Base64 text longer than 64 KiB still decodes and is judged by its decoded size.
  EXPECT_THROW(c.LoadFromBytes(Base64EncodeString(huge, true)), EOvX509Error);
  EXPECT_THROW(c.LoadFromBytes("QUJD\r\n==x"), EOvCertificateError);  // not Base64: DER, and bad
}

TEST(X509Parse, LargeCertificateAsUtf16Base64IsNotCut) {
  // A 25 KB certificate is more than 64 KiB as UTF-16 Base64 text; a 16-bit
  // size would cut it.
  Parts p;
  p.tail = EncodeConstructed(
      0xA3, {EncodeSequence({EncodeSequence(
                {EncodeOID(Hex("2A0304")), EncodeOctetString(std::string(25000, 'x'))})})});
  const std::string der = p.Build();
  std::string utf16;
  for (const char c : Base64EncodeString(der, true)) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  ASSERT_GT(utf16.size(), 65535u);
  const auto c = Load(utf16);
  EXPECT_EQ(c->CertificateBinary(), der);
  ASSERT_EQ(c->Extensions().OtherExtensions().size(), 1u);
  EXPECT_EQ(c->Extensions().OtherExtensions()[0]->Value().size(), 25000u);
}

// --- Key material and signatures ------------------------------------------------

TEST(X509Signatures, IssuedCertificatesVerifyWithTheCA) {
  REQUIRE_FIXTURES();
  const auto ca = Load(FixtureDER("ca"));
  EXPECT_TRUE(ca->IsSelfSigned());
  for (const char* name : {"rsa2048", "rsa3072", "rsa4096", "ec", "czech", "bmp", "negative",
                           "long", "expired", "v1"}) {
    const auto user = Load(FixtureDER(name));
    EXPECT_TRUE(user->ValidateWithIssuer(*ca)) << name;
    EXPECT_FALSE(user->IsSelfSigned()) << name;
    // Checked with the wrong key: false.
    EXPECT_FALSE(ca->ValidateWithIssuer(*user)) << name;
  }
}

TEST(X509Signatures, DamageMakesVerificationFail) {
  REQUIRE_FIXTURES();
  const auto ca = Load(FixtureDER("ca"));
  const std::string der = FixtureDER("rsa2048");
  // One bit of the signature value (its last octet).
  std::string flipped = der;
  flipped.back() = static_cast<char>(flipped.back() ^ 0x01);
  EXPECT_FALSE(Load(flipped)->ValidateWithIssuer(*ca));
  // One bit of the subject's common name inside the signed part.
  std::string renamed = der;
  const size_t cn = ValueTagOffset(renamed, kCN, ValueTagOffset(renamed, kCN) + 1);
  renamed[cn + 2] = static_cast<char>(renamed[cn + 2] ^ 0x01);
  const auto c = Load(renamed);
  EXPECT_NE(c->SubjectName().CommonName, "RSA 2048 User");
  EXPECT_FALSE(c->ValidateWithIssuer(*ca));
  // The signature cut short and the certificate re-encoded around it.
  const auto original = Load(der);
  const std::string tbs(original->SignedRegion());
  const std::string shorter = EncodeSequence(
      {tbs, original->SignatureIdentifier()->SaveToBytes(),
       EncodeBitString(original->Signature().substr(0, original->Signature().size() - 1))});
  EXPECT_FALSE(Load(shorter)->ValidateWithIssuer(*ca));
  EXPECT_TRUE(original->ValidateWithIssuer(*ca));
}

TEST(X509Signatures, KeyMaterialByFamily) {
  REQUIRE_FIXTURES();
  const auto rsa = Load(FixtureDER("rsa3072"));
  ASSERT_NE(rsa->KeyMaterial(), nullptr);
  EXPECT_EQ(rsa->KeyMaterial()->Bits(), 3072);
  EXPECT_FALSE(rsa->PrivateKeyExists());
  // A built-in key holds no store context.
  EXPECT_EQ(rsa->CertContextHandle(), 0u);
  // EC key material on a named curve, without a private key.
  const auto ec = Load(FixtureDER("ec"));
  ASSERT_NE(ec->KeyMaterial(), nullptr);
  EXPECT_EQ(ec->KeyMaterial()->Algorithm(), ALG_EC);
  EXPECT_EQ(ec->KeyMaterial()->Bits(), 256);
  EXPECT_TRUE(ec->KeyAlgorithmCanSign());
  EXPECT_FALSE(ec->PrivateKeyExists());
  EXPECT_EQ(ec->CertContextHandle(), 0u);
}

TEST(X509Signatures, ClonesKeepOrDropThePrivateKey) {
  REQUIRE_FIXTURES();
  const auto c = Load(FixtureDER("rsa2048"));
  ASSERT_NE(c->KeyMaterial(), nullptr);
  c->KeyMaterial()->LoadSecret(pkitest::ReadFile(Fixtures() / "rsa2048.key"));
  c->SetStorageName("My");
  c->SetFromStorage(true);
  ASSERT_TRUE(c->PrivateKeyExists());

  TOvX509Certificate without, with;
  c->Clone(&without, false);
  c->Clone(&with, true);
  for (const TOvX509Certificate* copy : {&without, &with}) {
    EXPECT_TRUE(TOvX509Certificate::SameCertificate(*c, *copy));
    EXPECT_EQ(copy->StorageName(), "My");
    ASSERT_NE(copy->KeyMaterial(), nullptr);
    EXPECT_NE(copy->KeyMaterial(), c->KeyMaterial());
  }
  EXPECT_FALSE(without.PrivateKeyExists());
  EXPECT_FALSE(without.FromStorage());
  EXPECT_TRUE(with.PrivateKeyExists());
  EXPECT_TRUE(with.FromStorage());
  EXPECT_TRUE(c->PrivateKeyExists());  // the original keeps its key

  // The cloned secret signs: openssl checks it with the certificate.
  const std::string data = "Tavra";
  auto* material = with.KeyMaterial();
  TOvRSAPublicKeyCrypto signer(oid::SHA256_RSA);
  signer.SetKeyMaterial(material);
  const std::string signature = signer.SignDetached(data);
  pkitest::ScratchDir scratch;
  pkitest::WriteFile(scratch / "data", data);
  pkitest::WriteFile(scratch / "sig", signature);
  bool ok = false;
  pkitest::Run("openssl x509 -inform DER -in '" + (Fixtures() / "rsa2048.der").string() +
                   "' -pubkey -noout > '" + (scratch / "pub.pem") +
                   "' && openssl dgst -sha256 -verify '" + (scratch / "pub.pem") +
                   "' -signature '" + (scratch / "sig") + "' '" + (scratch / "data") + "'",
               &ok);
  EXPECT_TRUE(ok);
}

TEST(X509Signatures, KeyMaterialLivesOnTheCertificatesProvider) {
  REQUIRE_FIXTURES();
  // A storage points the certificate at its provider before loading.
  TOvBuiltInCryptoProvider own;
  TOvX509Certificate c;
  c.SetCryptoProvider(&own);
  c.LoadFromBytes(FixtureDER("rsa2048"));
  ASSERT_NE(c.KeyMaterial(), nullptr);
  EXPECT_EQ(c.KeyMaterial()->KeyProvider(), &own);
  // A copy keeps using that provider, whatever the target was set to.
  TOvX509Certificate copy;
  c.Clone(&copy, false);
  ASSERT_NE(copy.KeyMaterial(), nullptr);
  EXPECT_EQ(copy.KeyMaterial()->KeyProvider(), &own);
  EXPECT_TRUE(copy.ValidateWithIssuer(*Load(FixtureDER("ca"))));
}
