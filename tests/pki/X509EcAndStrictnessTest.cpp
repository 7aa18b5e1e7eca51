// EC certificates and the reader's strictness, against openssl: every root of
// the system's CA bundle verifies its own signature and reads its subject as
// openssl prints it; EC issuers verify what they sign, in certificates and in
// CMS; repeated extensions are refused; odd string types come back as UTF-8;
// a key algorithm we cannot compute with loads without key material.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/asn1/CvASN1.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/crypto/CvEC.h"
#include "toolkit/crypto/CvPublicKeyCrypto.h"
#include "toolkit/pki/CvMessages.h"
#include "toolkit/pki/CvX509.h"

namespace corvane {
namespace {

using pkitest::Hex;
using pkitest::ScratchDir;
using tavra_test::Quote;

const std::string kCN{"\x55\x04\x03", 3};
const std::string kO{"\x55\x04\x0A", 3};
const std::string kOU{"\x55\x04\x0B", 3};
const std::string kL{"\x55\x04\x07", 3};
const std::string kST{"\x55\x04\x08", 3};

// The Base64 body of a PEM file, which the certificate loader takes as text.
std::string PemBody(const std::string& pem) {
  const size_t begin = pem.find('\n', pem.find("-----BEGIN CERTIFICATE-----"));
  const size_t end = pem.find("-----END CERTIFICATE-----");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
  return pem.substr(begin + 1, end - begin - 1);
}

// Our UTF-8 values of one attribute type, in order.
std::vector<std::string> Values(const TOvRelativeDistinguishedName& rdn, const std::string& type) {
  std::vector<std::string> out;
  for (int i = 0; i < rdn.Count(); ++i)
    if (rdn.Types(i) == type) out.push_back(rdn.ValueText(i));
  return out;
}

std::vector<std::string> Values(const std::multimap<std::string, std::string>& name,
                                const std::string& key) {
  std::vector<std::string> out;
  for (auto [it, end] = name.equal_range(key); it != end; ++it) out.push_back(it->second);
  return out;
}

std::unique_ptr<TOvX509Certificate> Load(std::string_view bytes) {
  auto certificate = std::make_unique<TOvX509Certificate>();
  certificate->LoadFromBytes(bytes);
  return certificate;
}

std::string Attribute(const std::string& type, const std::string& value) {
  return EncodeSet({EncodeSequence({EncodeOID(type), value})});
}

std::string Extension(const std::string& oid, const std::string& value) {
  return EncodeSequence({EncodeOID(oid), EncodeOctetString(value)});
}

// A SubjectPublicKeyInfo of that key algorithm around a toy RSA key.
std::string ToyKey(const std::string& algorithm) {
  return EncodeSequence(
      {algorithm, EncodeBitString(EncodeSequence({Hex("020105"), Hex("020103")}))});
}

// A version 3 certificate put together by hand; its signature is not checked.
std::string Certificate(const std::string& subject, const std::vector<std::string>& extensions,
                        const std::string& spki = ToyKey(
                            EncodeSequence({EncodeOID(oid::RSA_ENCRYPTION), EncodeNull()}))) {
  const std::string algorithm = EncodeSequence({EncodeOID(oid::SHA256_RSA), EncodeNull()});
  const std::string issuer = EncodeSequence({Attribute(kCN, EncodePrintableString("Issuer"))});
  const std::string tbs = EncodeSequence(
      {EncodeConstructed(0xA0, {EncodeInteger(std::string(1, '\x02'))}), Hex("020101"), algorithm,
       issuer,
       EncodeSequence({EncodePrimitive(ASN1_UTC_TIME, "250101000000Z"),
                       EncodePrimitive(ASN1_UTC_TIME, "350101000000Z")}),
       subject, spki,
       extensions.empty() ? std::string() : EncodeConstructed(0xA3, {EncodeSequence(extensions)})});
  return EncodeSequence({tbs, algorithm, EncodeBitString(Hex("0102030405"))});
}

TEST(X509Roots, EveryMozillaRootVerifiesItselfAndReadsItsSubjectAsOpensslDoes) {
  TAVRA_REQUIRE_TOOL("openssl");
  const std::string folder = "/usr/share/ca-certificates/mozilla";
  int rsa = 0, ec = 0;
  for (const std::string& name : tavra_test::ListDir(folder)) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".crt") continue;
    SCOPED_TRACE(name);
    const std::string path = folder + "/" + name;
    TOvX509Certificate root;
    ASSERT_NO_THROW(root.LoadFromBytes(PemBody(tavra_test::ReadFile(path))));
    EXPECT_TRUE(root.ValidateWithIssuer(root));
    const int32_t family = root.PublicKeyAlgorithm();
    rsa += family == CERT_ALG_RSA ? 1 : 0;
    ec += family == CERT_ALG_EC ? 1 : 0;
    const pkitest::OpensslView view = pkitest::ReadWithOpenssl(path, false);
    ASSERT_TRUE(view.ok);
    for (const auto& [type, key] : {std::pair{kCN, "CN"}, std::pair{kO, "O"}, {kOU, "OU"}})
      EXPECT_EQ(Values(root.SubjectRDN(), type), Values(view.subject, key)) << key;
  }
  // The bundle holds both families; an empty or missing folder fails here.
  EXPECT_GT(rsa, 50);
  EXPECT_GT(ec, 10);
}

TEST(X509Ec, EcIssuersVerifyCertificatesAndCmsSignatures) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  bool ok = false;
  const std::string out = pkitest::Run(
      "cd " + Quote(dir.Path()) +
          " && openssl ecparam -name secp384r1 -genkey -noout -out ca.key"
          " && openssl req -x509 -new -sha384 -key ca.key -subj '/CN=EC Root' -days 30 -out ca.pem"
          " && openssl ecparam -name prime256v1 -genkey -noout -out leaf.key"
          " && openssl req -new -key leaf.key -subj '/CN=EC Leaf' -out leaf.csr"
          " && openssl x509 -req -sha512 -in leaf.csr -CA ca.pem -CAkey ca.key -set_serial 7"
          " -days 30 -out leaf.pem"
          " && printf 'signed content' > data.bin"
          " && openssl cms -sign -binary -md sha256 -outform DER -in data.bin -signer leaf.pem"
          " -inkey leaf.key -out cms.der && echo made",
      &ok);
  ASSERT_TRUE(ok) << out;
  const auto ca = Load(PemBody(tavra_test::ReadFile(dir.File("ca.pem"))));
  const std::string leafDER =
      pkitest::Run("openssl x509 -in " + Quote(dir.File("leaf.pem")) + " -outform DER");
  const auto leaf = Load(leafDER);
  ASSERT_NE(dynamic_cast<TOvECKeyMaterial*>(leaf->KeyMaterial()), nullptr);
  EXPECT_EQ(dynamic_cast<TOvECKeyMaterial*>(ca->KeyMaterial())->Curve()->Name(), "P-384");
  EXPECT_TRUE(ca->IsSelfSigned());
  EXPECT_TRUE(leaf->ValidateWithIssuer(*ca));
  EXPECT_FALSE(leaf->ValidateWithIssuer(*leaf));
  EXPECT_FALSE(ca->ValidateWithIssuer(*leaf));
  // One letter of the signed subject changed.
  std::string changed = leafDER;
  changed[changed.rfind("EC Leaf")] = 'F';
  EXPECT_FALSE(Load(changed)->ValidateWithIssuer(*ca));

  const std::string cms = tavra_test::ReadFile(dir.File("cms.der"));
  const std::string data = "signed content";
  TOvMessageVerifier verifier;
  EXPECT_EQ(verifier.VerifyDetached(data.data(), static_cast<int64_t>(data.size()), cms.data(),
                                    static_cast<int64_t>(cms.size())),
            0)
      << verifier.ErrorInfo();
  // The last octet of the message is the signature value's.
  std::string damaged = cms;
  damaged.back() ^= 0x01;
  EXPECT_EQ(verifier.VerifyDetached(data.data(), static_cast<int64_t>(data.size()), damaged.data(),
                                    static_cast<int64_t>(damaged.size())),
            MSG_ERROR_INVALID_SIGNATURE);
}

TEST(X509Strictness, RepeatedExtensionIsRefused) {
  const std::string subject = EncodeSequence({Attribute(kCN, EncodePrintableString("Subject"))});
  const std::string ski = Extension(std::string("\x55\x1D\x0E", 3), Hex("0402ABCD"));
  const std::string other = Extension(std::string("\x2B\x06\x01\x04\x01\x82\x37\x01", 8), "x");
  EXPECT_NO_THROW(Load(Certificate(subject, {ski, other})));
  for (const auto& twice : {std::vector{ski, other, ski}, std::vector{other, other}}) {
    TOvX509Certificate c;
    try {
      c.LoadFromBytes(Certificate(subject, twice));
      ADD_FAILURE() << "loaded with an extension twice";
    } catch (const EOvCertificateError& e) {
      EXPECT_STREQ(e.what(), "Invalid certificate data");
    }
    EXPECT_TRUE(c.IsEmpty());
  }
}

TEST(X509Strictness, T61UniversalAndBMPNamesComeBackAsUTF8) {
  TAVRA_REQUIRE_TOOL("openssl");
  // U+017D U+006C U+0075 U+0165 U+0020 U+1D11E in UCS-4; the same without
  // the last (outside the BMP) in UCS-2.
  const std::string ucs4 = Hex("0000017D 0000006C 00000075 00000165 00000020 0001D11E");
  const std::string ucs2 = Hex("017D 006C 0075 0165 0020");
  const std::string subject = EncodeSequence({
      Attribute(kCN, EncodePrimitive(0x14, "M\xFCller")),
      Attribute(kO, EncodePrimitive(0x1C, ucs4)),
      Attribute(kOU, EncodePrimitive(0x1E, ucs2)),
  });
  // openssl reads the certificate only with a key it can decode.
  ScratchDir dir;
  bool ok = false;
  const std::string spki = pkitest::Run(
      "openssl ecparam -name prime256v1 -genkey -noout | openssl ec -pubout -outform DER", &ok);
  ASSERT_TRUE(ok);
  const std::string path = dir.Write("names.der", Certificate(subject, {}, spki));
  const auto c = Load(tavra_test::ReadFile(path));
  const std::string expectedO = "\xC5\xBDlu\xC5\xA5 \xF0\x9D\x84\x9E";
  EXPECT_EQ(c->SubjectName().CommonName, "M\xC3\xBCller");
  EXPECT_EQ(c->SubjectName().Organization, expectedO);
  EXPECT_EQ(c->SubjectName().OrganizationUnit, expectedO.substr(0, 7));
  // The raw values stay as they were.
  EXPECT_EQ(c->SubjectRDN().Values(1), ucs4);
  const pkitest::OpensslView view = pkitest::ReadWithOpenssl(path, true);
  ASSERT_TRUE(view.ok);
  for (const auto& [type, key] : {std::pair{kCN, "CN"}, std::pair{kO, "O"}, {kOU, "OU"}})
    EXPECT_EQ(Values(c->SubjectRDN(), type), Values(view.subject, key)) << key;

  // What is not a character becomes U+FFFD: a code point past U+10FFFF, a
  // surrogate (paired or not: BMPString is UCS-2), a cut last unit.
  const auto odd = Load(Certificate(
      EncodeSequence({Attribute(kL, EncodePrimitive(0x1C, Hex("00110000 0000D800 00000041 00"))),
                      Attribute(kST, EncodePrimitive(0x1E, Hex("0061 DC00 0062 D834 DD1E 00")))}),
      {}));
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(odd->SubjectName().Locality, fffd + fffd + "A" + fffd);
  EXPECT_EQ(odd->SubjectName().StateOrProvince, "a" + fffd + "b" + fffd + fffd + fffd);
}

TEST(X509Strictness, UnknownKeyAlgorithmLoadsWithoutKeyMaterial) {
  TAVRA_REQUIRE_TOOL("openssl");
  ScratchDir dir;
  bool ok = false;
  const std::string der = pkitest::Run(
      "cd " + Quote(dir.Path()) +
          " && openssl genpkey -algorithm ed25519 -out ed.key"
          " && openssl req -x509 -new -key ed.key -subj '/CN=Ed25519 Root' -days 30 -out ed.pem"
          " && openssl x509 -in ed.pem -outform DER",
      &ok);
  ASSERT_TRUE(ok);
  const auto c = Load(der);
  EXPECT_EQ(c->SubjectName().CommonName, "Ed25519 Root");
  EXPECT_EQ(c->PublicKeyAlgorithm(), ALG_UNKNOWN);
  EXPECT_EQ(c->PublicKeyAlgorithmIdentifier(), nullptr);
  EXPECT_EQ(c->PublicKeyAlgorithmOID(), std::string("\x2B\x65\x70", 3));
  EXPECT_EQ(c->PublicKey().size(), 32u);
  EXPECT_EQ(c->KeyMaterial(), nullptr);
  EXPECT_TRUE(c->IsSelfIssued());
  EXPECT_FALSE(c->ValidateWithIssuer(*c));
  // A known key algorithm with broken parameters still refuses the certificate.
  const std::string subject = EncodeSequence({Attribute(kCN, EncodePrintableString("x"))});
  EXPECT_NO_THROW(Load(Certificate(
      subject, {}, ToyKey(EncodeSequence({EncodeOID(std::string("\x2B\x65\x70", 3))})))));
  EXPECT_THROW(
      Load(Certificate(subject, {},
                       ToyKey(EncodeSequence({EncodeOID(oid::RSA_ENCRYPTION),
                                              EncodeOID(std::string("\x2B\x65\x70", 3))})))),
      EOvCertificateError);
}

}  // namespace
}  // namespace corvane
