// AlgorithmIdentifier objects: parameter codecs per key family, the factory, and
// agreement with what openssl writes into certificates and keys.
#include <gtest/gtest.h>

#include <string>

#include "tests/asn1/Asn1TestSupport.h"
#include "toolkit/crypto/CvAlgorithmIdentifier.h"

namespace corvane {
namespace {

using asn1test::Hex;
using asn1test::ToHex;

const std::string kSha1Rsa = Hex("300D06092A864886F70D0101050500");

// The error text an action raises, or "no error".
template <typename F>
std::string ErrorOf(F action) {
  try {
    action();
  } catch (const EOvAlgorithmIdentifierError& e) {
    return e.what();
  }
  return "no error";
}

std::unique_ptr<TOvAlgorithmIdentifier> Read(const std::string& der) {
  TOvASN1ConstrainedTag root;
  if (!root.LoadFromBytes(der) || root.ConstrainedChild(0) == nullptr) {
    throw EOvAlgorithmIdentifierError("test input does not load");
  }
  return IdentifierFromTag(*root.ConstrainedChild(0));
}

TEST(AlgorithmIdentifier, Sha1WithRsaRoundTrips) {
  auto id = Read(kSha1Rsa);
  auto* rsa = dynamic_cast<TOvRSAAlgorithmIdentifier*>(id.get());
  ASSERT_NE(rsa, nullptr);
  EXPECT_EQ(rsa->Algorithm(), CERT_ALG_SHA1_RSA);
  EXPECT_EQ(rsa->SignatureHashAlgorithm(), ALG_SHA1);
  EXPECT_TRUE(rsa->IsSignatureAlgorithm());
  EXPECT_FALSE(rsa->IsPublicKeyAlgorithm());
  EXPECT_EQ(rsa->SaveToBytes(), kSha1Rsa);
  int64_t size = 0;
  EXPECT_FALSE(rsa->SaveToBuffer(nullptr, size));
  EXPECT_EQ(size, 15);
  EXPECT_EQ(rsa->EncodedParameters(), Hex("0500"));
}

TEST(AlgorithmIdentifier, AbsentRsaParametersSaveWithNull) {
  auto id = Read(Hex("300B06092A864886F70D010105"));
  EXPECT_EQ(id->Algorithm(), CERT_ALG_SHA1_RSA);
  EXPECT_EQ(id->SaveToBytes(), kSha1Rsa);
}

TEST(AlgorithmIdentifier, RsaRejectsOtherParameters) {
  EXPECT_EQ(ErrorOf([] { Read(Hex("300F06092A864886F70D010105 0402AABB")); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([] { Read(Hex("300E06092A864886F70D010105 020100")); }), "no error");
}

TEST(AlgorithmIdentifier, Md5DigestOidOnlyWhenRead) {
  EXPECT_EQ(ErrorOf([] { IdentifierFromOID(oid::MD5); }), "Unknown algorithm identifier");
  auto id = Read(Hex("300C06082A864886F70D02050500"));
  ASSERT_NE(dynamic_cast<TOvRSAAlgorithmIdentifier*>(id.get()), nullptr);
  EXPECT_EQ(id->Algorithm(), ALG_UNKNOWN);
  EXPECT_EQ(id->SignatureHashAlgorithm(), ALG_UNKNOWN);
  // A copy is made by class, so such an identifier still clones.
  auto copy = id->Clone();
  EXPECT_EQ(copy->AlgorithmOID(), oid::MD5);
  EXPECT_TRUE(copy->Equals(id.get()));
}

TEST(AlgorithmIdentifier, MalformedIdentifiers) {
  EXPECT_EQ(ErrorOf([] { Read(Hex("3000")); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([] { Read(Hex("3004 0500 0500")); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([] { Read(Hex("300B 06052B0E03021A 0500 0500")); }),
            "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([] { Read(Hex("3007 06052B0E03021A")); }), "Unknown algorithm identifier");
  // An OID with absurdly long arcs is just an unknown OID.
  const std::string longOid = std::string(1, '\x2A') + std::string(300, '\xFF') + '\x01';
  EXPECT_EQ(ErrorOf([&] { Read(EncodeSequence({EncodeOID(longOid)})); }),
            "Unknown algorithm identifier");

  TOvRSAAlgorithmIdentifier rsa;
  EXPECT_EQ(ErrorOf([&] { rsa.LoadFromBytes(Hex("3005")); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([&] { rsa.LoadFromBytes(Hex("0500")); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([&] { rsa.LoadFromBytes(""); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([&] { rsa.LoadFromBytes(Hex("3009 06072A8648CE380401 ")); }),
            "Unknown algorithm identifier");  // a DSA OID in an RSA object
  EXPECT_EQ(ErrorOf([&] { rsa.LoadFromBytes(kSha1Rsa); }), "no error");
}

TEST(AlgorithmIdentifier, FactoryChoosesClassByOid) {
  EXPECT_NE(dynamic_cast<TOvRSAPSSAlgorithmIdentifier*>(IdentifierFromOID(oid::RSASSA_PSS).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TOvRSAOAEPAlgorithmIdentifier*>(IdentifierFromOID(oid::RSAES_OAEP).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TOvDSAAlgorithmIdentifier*>(IdentifierFromOID(oid::DSA_SHA1_OIW).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TOvDHAlgorithmIdentifier*>(IdentifierFromOID(oid::DH_PUBLIC_NUMBER).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TOvECAlgorithmIdentifier*>(IdentifierFromOID(oid::EC_PUBLIC_KEY).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<TOvECDSAAlgorithmIdentifier*>(IdentifierFromOID(oid::ECDSA_SHA256).get()),
            nullptr);
  EXPECT_NE(
      dynamic_cast<TOvGOST3410AlgorithmIdentifier*>(IdentifierFromOID(oid::GOST3410_94).get()),
      nullptr);
  EXPECT_NE(dynamic_cast<TOvGOST3411WithGOST3410AlgorithmIdentifier*>(
                IdentifierFromOID(oid::GOST3411_GOST3410_94).get()),
            nullptr);
  auto sha256 = IdentifierFromOID(oid::SHA256_RSA);
  EXPECT_EQ(sha256->Algorithm(), CERT_ALG_SHA256_RSA);
  EXPECT_EQ(sha256->SignatureHashAlgorithm(), ALG_SHA256);
  EXPECT_EQ(ErrorOf([] { IdentifierFromOID(oid::SHA256); }), "Unknown algorithm identifier");
}

TEST(AlgorithmIdentifier, RsaSignatureHashDrivesOid) {
  TOvRSAAlgorithmIdentifier rsa;
  EXPECT_EQ(rsa.Algorithm(), CERT_ALG_RSA);
  EXPECT_TRUE(rsa.IsPublicKeyAlgorithm());
  rsa.SetSignatureHash(ALG_SHA256);
  EXPECT_EQ(rsa.Algorithm(), CERT_ALG_SHA256_RSA);
  EXPECT_EQ(rsa.AlgorithmOID(), oid::SHA256_RSA);
  EXPECT_EQ(rsa.SaveToBytes(), Hex("300D06092A864886F70D01010B0500"));
  rsa.SetSignatureHash(ALG_GOST3411_94);
  EXPECT_EQ(rsa.Algorithm(), CERT_ALG_RSA);
  EXPECT_EQ(rsa.AlgorithmOID(), oid::RSA_ENCRYPTION);
  EXPECT_EQ(rsa.SignatureHashAlgorithm(), ALG_UNKNOWN);
}

TEST(AlgorithmIdentifier, SignatureCodesNameTheirHash) {
  // Codes as the OIDs of RFC 8017, RFC 3279 and RFC 5758 give them.
  EXPECT_EQ(HashOfSignatureAlgorithm(SignatureAlgorithmOfOID(oid::SHA256_RSA)), ALG_SHA256);
  EXPECT_EQ(HashOfSignatureAlgorithm(SignatureAlgorithmOfOID(oid::MD2_RSA)), ALG_MD2);
  EXPECT_EQ(HashOfSignatureAlgorithm(SignatureAlgorithmOfOID(oid::DSA_SHA1)), ALG_SHA1);
  EXPECT_EQ(HashOfSignatureAlgorithm(SignatureAlgorithmOfOID(oid::ECDSA_SHA384)), ALG_SHA384);
  // The hash of PSS and of ecdsa-with-Specified is in their parameters.
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_RSAPSS), ALG_UNKNOWN);
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_ECDSA_SPECIFIED), ALG_UNKNOWN);
  // Neither a key code, nor a hash constant, nor an unknown code names one.
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_RSA), ALG_UNKNOWN);
  EXPECT_EQ(HashOfSignatureAlgorithm(ALG_SHA256), ALG_UNKNOWN);
  EXPECT_EQ(HashOfSignatureAlgorithm(0x4242), ALG_UNKNOWN);
  // Asked for one family, the others do not answer.
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_MD2_RSA, ALG_RSA), ALG_MD2);
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_ECDSA_SHA256, ALG_RSA), ALG_UNKNOWN);
  EXPECT_EQ(HashOfSignatureAlgorithm(CERT_ALG_DSA_SHA1, ALG_DSA), ALG_SHA1);
}

TEST(AlgorithmIdentifier, SetAlgorithmAndSupport) {
  TOvRSAAlgorithmIdentifier rsa;
  rsa.SetAlgorithm(CERT_ALG_SHA384_RSA);
  EXPECT_EQ(rsa.AlgorithmOID(), oid::SHA384_RSA);
  EXPECT_EQ(rsa.SignatureHashAlgorithm(), ALG_SHA384);
  rsa.SetAlgorithm(ALG_RSA);
  EXPECT_EQ(rsa.AlgorithmOID(), oid::RSA_ENCRYPTION);
  rsa.SetAlgorithm(ALG_DSA);  // not an RSA OID: nothing changes
  EXPECT_EQ(rsa.AlgorithmOID(), oid::RSA_ENCRYPTION);
  EXPECT_TRUE(rsa.IsAlgorithmSupported(ALG_RSA));
  EXPECT_TRUE(rsa.IsAlgorithmSupported(CERT_ALG_MD2_RSA));
  EXPECT_FALSE(rsa.IsAlgorithmSupported(ALG_DSA));
  TOvDSAAlgorithmIdentifier dsa;
  dsa.SetAlgorithm(CERT_ALG_DSA_SHA1);
  EXPECT_TRUE(dsa.IsSignatureAlgorithm());
  EXPECT_FALSE(dsa.IsPublicKeyAlgorithm());
  dsa.SetAlgorithm(ALG_DSA);
  EXPECT_EQ(dsa.Algorithm(), CERT_ALG_DSA);
}

TEST(AlgorithmIdentifier, AssignNeedsACompatibleClass) {
  TOvRSAAlgorithmIdentifier rsa;
  TOvDSAAlgorithmIdentifier dsa;
  EXPECT_EQ(ErrorOf([&] { rsa.Assign(&dsa); }), "Invalid algorithm identifier");
  EXPECT_EQ(ErrorOf([&] { rsa.Assign(nullptr); }), "Invalid algorithm identifier");
  TOvRSAPSSAlgorithmIdentifier pss;
  pss.SetHashAlgorithm(ALG_SHA512);
  pss.SetSaltSize(64);
  pss.Assign(&rsa);  // from plain RSA: PSS fields back to their defaults
  EXPECT_EQ(pss.HashAlgorithm(), ALG_SHA1);
  EXPECT_EQ(pss.SaltSize(), 20);
  EXPECT_EQ(ErrorOf([&] { pss.Assign(&dsa); }), "Invalid algorithm identifier");
}

// --- RSASSA-PSS -----------------------------------------------------------------------

TEST(AlgorithmIdentifierPSS, DefaultsSaveAsNull) {
  TOvRSAPSSAlgorithmIdentifier pss;
  EXPECT_EQ(pss.Algorithm(), CERT_ALG_RSAPSS);
  EXPECT_EQ(pss.SaveToBytes(), Hex("300D06092A864886F70D01010A0500"));
}

TEST(AlgorithmIdentifierPSS, OnlyChangedFieldsAreWritten) {
  TOvRSAPSSAlgorithmIdentifier pss;
  pss.SetHashAlgorithm(ALG_SHA256);
  pss.SetSaltSize(32);
  EXPECT_EQ(ToHex(pss.SaveToBytes()), ToHex(Hex("3023 06092A864886F70D01010A 3016"
                                                "A00F 300D 0609608648016503040201 0500"
                                                "A203 020120")));
  pss.SetMGFHashAlgorithm(ALG_SHA256);
  const std::string full = pss.SaveToBytes();
  EXPECT_NE(full.find(Hex("A11C 301A 06092A864886F70D010108 300D 0609608648016503040201 0500")),
            std::string::npos);
  TOvRSAPSSAlgorithmIdentifier again;
  again.LoadFromBytes(full);
  EXPECT_EQ(again.HashAlgorithm(), ALG_SHA256);
  EXPECT_EQ(again.MGFHashAlgorithm(), ALG_SHA256);
  EXPECT_EQ(again.SaltSize(), 32);
  EXPECT_EQ(again.TrailerField(), 1);
  EXPECT_TRUE(again.Equals(&pss));
  pss.SetMGFAlgorithm(0x7FFF);
  EXPECT_EQ(ErrorOf([&] { pss.SaveToBytes(); }), "Invalid algorithm identifier parameters");
}

// An RSASSA-PSS identifier whose parameter SEQUENCE holds these fields.
std::string Pss(std::initializer_list<std::string_view> fields) {
  return EncodeSequence({EncodeOID(oid::RSASSA_PSS), EncodeSequence(fields)});
}

TEST(AlgorithmIdentifierPSS, FieldOrderAndShapeAreChecked) {
  const std::string hash =
      EncodeConstructed(0xA0, {EncodeSequence({EncodeOID(oid::SHA256), EncodeNull()})});
  const std::string salt = Hex("A203020120");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({hash, salt})); }), "no error");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({salt, hash})); }), "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({salt, salt})); }), "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({Hex("A206020120020120")})); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({Hex("8201 20")})); }),  // primitive instead of [2] EXPLICIT
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({Hex("A4030201 01")})); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({Hex("A3030201 02")})); }), "Unsupported algorithm parameters");
  const std::string otherMask = EncodeConstructed(
      0xA1, {EncodeSequence({EncodeOID(Hex("2A864886F70D0101FF")),
                             EncodeSequence({EncodeOID(oid::SHA1), EncodeNull()})})});
  EXPECT_EQ(ErrorOf([&] { Read(Pss({otherMask})); }), "Unsupported algorithm parameters");
  EXPECT_EQ(ErrorOf([&] { Read(Pss({Hex("A2030201FF")})); }),  // negative salt length
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([&] {
              Read(EncodeSequence({EncodeOID(oid::RSASSA_PSS), Hex("020101")}));
            }),
            "Invalid algorithm identifier parameters");
}

// --- RSAES-OAEP -----------------------------------------------------------------------

TEST(AlgorithmIdentifierOAEP, LabelRoundTrips) {
  TOvRSAOAEPAlgorithmIdentifier oaep;
  EXPECT_EQ(oaep.SaveToBytes(), Hex("300D06092A864886F70D0101070500"));
  oaep.SetStrLabel("tavra");
  const std::string der = oaep.SaveToBytes();
  EXPECT_NE(der.find(Hex("A214 3012 06092A864886F70D010109 04057461767261")), std::string::npos);
  auto again = Read(der);
  auto* read = dynamic_cast<TOvRSAOAEPAlgorithmIdentifier*>(again.get());
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->StrLabel(), "tavra");
  EXPECT_EQ(read->HashAlgorithm(), ALG_SHA1);
  EXPECT_TRUE(read->IsEncryptionAlgorithm());
  EXPECT_FALSE(read->IsSignatureAlgorithm());
  // A label source other than pSpecified.
  std::string other = der;
  other[other.find(Hex("2A864886F70D010109")) + 8] = '\x0F';
  EXPECT_EQ(ErrorOf([&] { Read(other); }), "Unsupported algorithm parameters");
}

// --- DSA, DH, EC, ECDSA, GOST ---------------------------------------------------------

TEST(AlgorithmIdentifierDSA, LeadingZeroDroppedAndRestored) {
  const std::string der = Hex("301A 06072A8648CE380401 300F 020300C101 0202009F 020400FF0102");
  auto id = Read(der);
  auto* dsa = dynamic_cast<TOvDSAAlgorithmIdentifier*>(id.get());
  ASSERT_NE(dsa, nullptr);
  EXPECT_EQ(dsa->P(), Hex("C101"));
  EXPECT_EQ(dsa->Q(), Hex("9F"));
  EXPECT_EQ(dsa->G(), Hex("FF0102"));
  EXPECT_TRUE(dsa->IsPublicKeyAlgorithm());
  EXPECT_EQ(dsa->SignatureHashAlgorithm(), ALG_SHA1);
  EXPECT_EQ(dsa->SaveToBytes(), der);
}

TEST(AlgorithmIdentifierDSA, ParameterRules) {
  // dsa-with-sha1 takes no parameters (or NULL); none are written.
  EXPECT_EQ(Read(Hex("3009 06072A8648CE380403"))->SaveToBytes(), Hex("3009 06072A8648CE380403"));
  EXPECT_EQ(Read(Hex("300B 06072A8648CE380403 0500"))->EncodedParameters(), "");
  EXPECT_EQ(ErrorOf([] { Read(Hex("300C 06072A8648CE380403 020101")); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([] { Read(Hex("3011 06072A8648CE380401 3006 020101 020101")); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(Read(Hex("3009 06072A8648CE380401"))->EncodedParameters(), "");
}

TEST(AlgorithmIdentifierDH, DomainRoundTrips) {
  const std::string der = Hex("3015 06072A8648CE3E0201 300A 020200E1 020102 020171");
  auto id = Read(der);
  auto* dh = dynamic_cast<TOvDHAlgorithmIdentifier*>(id.get());
  ASSERT_NE(dh, nullptr);
  EXPECT_EQ(dh->P(), Hex("E1"));
  EXPECT_EQ(dh->G(), Hex("02"));
  EXPECT_EQ(dh->Q(), Hex("71"));
  EXPECT_EQ(dh->SaveToBytes(), der);
  EXPECT_EQ(ErrorOf([] { Read(Hex("3009 06072A8648CE3E0201")); }),
            "Invalid algorithm identifier parameters");
}

TEST(AlgorithmIdentifierEC, NamedAndImplicitCurves) {
  const std::string prime256 = Hex("3013 06072A8648CE3D0201 06082A8648CE3D030107");
  auto id = Read(prime256);
  auto* ec = dynamic_cast<TOvECAlgorithmIdentifier*>(id.get());
  ASSERT_NE(ec, nullptr);
  EXPECT_EQ(ec->Domain().CurveOID, Hex("2A8648CE3D030107"));
  EXPECT_FALSE(ec->Domain().SpecifiedCurve);
  EXPECT_EQ(ec->SaveToBytes(), prime256);
  EXPECT_EQ(KeyFamilyOf(ec->Algorithm()), ALG_EC);
  auto implicit = Read(Hex("300B 06072A8648CE3D0201 0500"));
  EXPECT_TRUE(dynamic_cast<TOvECAlgorithmIdentifier*>(implicit.get())->Domain().ImplicitCurve);
  EXPECT_EQ(ErrorOf([] { Read(Hex("300C 06072A8648CE3D0201 020101")); }),
            "Invalid algorithm identifier parameters");
}

TEST(AlgorithmIdentifierEC, UnknownFieldTypeIsUnsupported) {
  const std::string domain = EncodeSequence(
      {Hex("020101"), EncodeSequence({EncodeOID(Hex("2A8648CE3D0103")), Hex("020117")}),
       EncodeSequence({EncodeOctetString("a"), EncodeOctetString("b")}), EncodeOctetString("G"),
       Hex("020107")});
  EXPECT_EQ(ErrorOf([&] {
              Read(EncodeSequence({EncodeOID(oid::EC_PUBLIC_KEY), domain}));
            }),
            "Unsupported algorithm parameters");
}

TEST(AlgorithmIdentifierEC, CharacteristicTwoDomainRoundTrips) {
  const std::string domain = EncodeSequence(
      {Hex("020101"),
       EncodeSequence(
           {EncodeOID(oid::EC_CHAR2_FIELD),
            EncodeSequence({Hex("020200A3"), EncodeOID(oid::EC_BASIS_PP),
                            EncodeSequence({Hex("020103"), Hex("020106"), Hex("020107")})})}),
       EncodeSequence({EncodeOctetString("a"), EncodeOctetString("b"), EncodeBitString("seed")}),
       EncodeOctetString(Hex("03AA")), Hex("020107"), Hex("020102")});
  const std::string der = EncodeSequence({EncodeOID(oid::EC_PUBLIC_KEY), domain});
  auto id = Read(der);
  const auto& d = dynamic_cast<TOvECAlgorithmIdentifier*>(id.get())->Domain();
  EXPECT_TRUE(d.SpecifiedCurve);
  EXPECT_EQ(d.FieldType, eftCharacteristicTwo);
  EXPECT_EQ(d.M, 163);
  EXPECT_EQ(d.K3, 7);
  EXPECT_EQ(d.Seed, "seed");
  EXPECT_TRUE(d.CompressPoints);
  EXPECT_EQ(d.H, Hex("02"));
  EXPECT_EQ(id->SaveToBytes(), der);
}

TEST(AlgorithmIdentifierECDSA, HashAndOidFollowEachOther) {
  TOvECDSAAlgorithmIdentifier ecdsa;
  EXPECT_EQ(ecdsa.Algorithm(), CERT_ALG_ECDSA_SHA1);
  ecdsa.SetHash(ALG_SHA384);
  EXPECT_EQ(ecdsa.Algorithm(), CERT_ALG_ECDSA_SHA384);
  EXPECT_EQ(ecdsa.AlgorithmOID(), oid::ECDSA_SHA384);
  ecdsa.SetHash(ALG_MD5);
  EXPECT_EQ(ecdsa.HashAlgorithm(), ALG_SHA1);
  EXPECT_EQ(ecdsa.AlgorithmOID(), oid::ECDSA_SHA1);

  auto specified = Read(Hex("3016 06072A8648CE3D0403 300B 0609608648016503040202"));
  EXPECT_EQ(specified->SignatureHashAlgorithm(), ALG_SHA384);
  EXPECT_EQ(specified->EncodedParameters(), Hex("0609608648016503040202"));
  EXPECT_EQ(ErrorOf([] { Read(Hex("3009 06072A8648CE3D0403")); }),
            "Invalid algorithm identifier parameters");
  EXPECT_EQ(ErrorOf([] { Read(Hex("300D 06082A8648CE3D040302 020101")); }),
            "Invalid algorithm identifier parameters");
  auto recommended = Read(Hex("3009 06072A8648CE3D0402"));
  EXPECT_EQ(recommended->SignatureHashAlgorithm(), ALG_UNKNOWN);
}

TEST(AlgorithmIdentifierGOST, ParameterSets) {
  const std::string sets =
      EncodeSequence({EncodeOID(Hex("2A850302022301")), EncodeOID(Hex("2A850302021E01"))});
  auto id = Read(EncodeSequence({EncodeOID(oid::GOST3410_2001), sets}));
  auto* gost = dynamic_cast<TOvGOST3410AlgorithmIdentifier*>(id.get());
  ASSERT_NE(gost, nullptr);
  EXPECT_EQ(gost->PublicKeyParamSet(), Hex("2A850302022301"));
  EXPECT_EQ(gost->EncryptionParamSet(), oid::GOST28147_CRYPTOPRO_A);  // default filled in
  EXPECT_EQ(Read(EncodeSequence({EncodeOID(oid::GOST3410_94)}))->EncodedParameters(), "");
  auto combined = IdentifierFromOID(oid::GOST3411_GOST3410_2001);
  EXPECT_EQ(combined->SignatureHashAlgorithm(), ALG_GOST3411_94);
  EXPECT_EQ(combined->SaveToBytes(), EncodeSequence({EncodeOID(oid::GOST3411_GOST3410_2001)}));
}

// --- against openssl ------------------------------------------------------------------

class AlgorithmIdentifierOpenssl : public testing::Test {
 protected:
  void SetUp() override { TAVRA_REQUIRE_TOOL("openssl"); }
  // The DER of a file made by a shell script in the scratch folder.
  std::string Make(const std::string& script, const std::string& file) {
    const tavra_test::TCommandResult run =
        tavra_test::RunCapturing("cd " + tavra_test::Quote(dir_.Path()) + " && " + script);
    EXPECT_EQ(run.status, 0) << script << "\n" << run.err;
    return tavra_test::ReadFile(dir_ / file);
  }
  // The AlgorithmIdentifier element at a child path of the file's first element.
  static std::string Element(const std::string& der, std::initializer_list<int> path) {
    TOvASN1ConstrainedTag root;
    EXPECT_TRUE(root.LoadFromBytes(der));
    TOvASN1CustomTag* node = root.GetChild(0);
    for (const int index : path) {
      TOvASN1ConstrainedTag* parent = AsConstrained(node);
      node = parent != nullptr ? parent->GetChild(index) : nullptr;
    }
    return node != nullptr ? node->SaveToBytes() : std::string();
  }
  tavra_test::ScratchDir dir_;
};

TEST_F(AlgorithmIdentifierOpenssl, PssCertificateIdentifiers) {
  const std::string cert = Make(
      "openssl req -x509 -newkey rsa-pss -pkeyopt rsa_keygen_bits:1024 -nodes -keyout k.pem"
      " -out c.pem -days 2 -subj /CN=PSS -sha256 -sigopt rsa_padding_mode:pss"
      " -sigopt rsa_pss_saltlen:32 -sigopt rsa_mgf1_md:sha256 &&"
      " openssl x509 -in c.pem -outform DER -out c.der",
      "c.der");
  const std::string signature = Element(cert, {1});
  auto id = Read(signature);
  auto* pss = dynamic_cast<TOvRSAPSSAlgorithmIdentifier*>(id.get());
  ASSERT_NE(pss, nullptr);
  EXPECT_EQ(pss->HashAlgorithm(), ALG_SHA256);
  EXPECT_EQ(pss->MGFHashAlgorithm(), ALG_SHA256);
  EXPECT_EQ(pss->SaltSize(), 32);
  EXPECT_EQ(ToHex(pss->SaveToBytes()), ToHex(signature));

  // The key's identifier has no parameters at all (RFC 4055 3.1 allows that).
  const std::string keyAlgorithm = Element(cert, {0, 6, 0});
  auto key = Read(keyAlgorithm);
  auto* keyPss = dynamic_cast<TOvRSAPSSAlgorithmIdentifier*>(key.get());
  ASSERT_NE(keyPss, nullptr);
  EXPECT_EQ(keyPss->HashAlgorithm(), ALG_SHA1);
  EXPECT_EQ(keyPss->SaltSize(), 20);
}

TEST_F(AlgorithmIdentifierOpenssl, RsaAndEcCertificates) {
  const std::string rsa = Make(
      "openssl req -x509 -newkey rsa:1024 -nodes -keyout r.pem -out r.pem.crt -days 2"
      " -subj /CN=R -sha384 && openssl x509 -in r.pem.crt -outform DER -out r.der",
      "r.der");
  auto signature = Read(Element(rsa, {1}));
  EXPECT_EQ(signature->Algorithm(), CERT_ALG_SHA384_RSA);
  EXPECT_EQ(signature->SaveToBytes(), Element(rsa, {1}));
  auto key = Read(Element(rsa, {0, 6, 0}));
  EXPECT_EQ(key->Algorithm(), CERT_ALG_RSA);
  EXPECT_TRUE(key->IsPublicKeyAlgorithm());

  const std::string ec = Make(
      "openssl ecparam -name secp384r1 -genkey -noout -out e.pem &&"
      " openssl req -x509 -new -key e.pem -out e.crt -days 2 -subj /CN=E -sha256 &&"
      " openssl x509 -in e.crt -outform DER -out e.der",
      "e.der");
  auto ecdsa = Read(Element(ec, {1}));
  EXPECT_EQ(ecdsa->Algorithm(), CERT_ALG_ECDSA_SHA256);
  EXPECT_EQ(ecdsa->SignatureHashAlgorithm(), ALG_SHA256);
  auto ecKey = Read(Element(ec, {0, 6, 0}));
  EXPECT_EQ(ToHex(ecKey->SaveToBytes()), ToHex(Element(ec, {0, 6, 0})));
}

TEST_F(AlgorithmIdentifierOpenssl, ExplicitCurveDomain) {
  const std::string spki = Make(
      "openssl ecparam -name prime256v1 -param_enc explicit -genkey -noout -out x.pem &&"
      " openssl pkey -in x.pem -pubout -outform DER -out x.der",
      "x.der");
  const std::string algorithm = Element(spki, {0});
  auto id = Read(algorithm);
  const auto& d = dynamic_cast<TOvECAlgorithmIdentifier*>(id.get())->Domain();
  EXPECT_TRUE(d.SpecifiedCurve);
  EXPECT_EQ(d.FieldType, eftPrime);
  EXPECT_EQ(ToHex(d.P), "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_EQ(d.N.size(), 32u);
  EXPECT_EQ(d.Base.size(), 65u);
  EXPECT_EQ(ToHex(id->SaveToBytes()), ToHex(algorithm));
}

TEST_F(AlgorithmIdentifierOpenssl, DsaKeyDomain) {
  const std::string spki = Make(
      "openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024"
      " -pkeyopt dsa_paramgen_q_bits:160 -out p.pem &&"
      " openssl genpkey -paramfile p.pem -out k.pem &&"
      " openssl pkey -in k.pem -pubout -outform DER -out k.der",
      "k.der");
  const std::string algorithm = Element(spki, {0});
  auto id = Read(algorithm);
  auto* dsa = dynamic_cast<TOvDSAAlgorithmIdentifier*>(id.get());
  ASSERT_NE(dsa, nullptr);
  EXPECT_EQ(dsa->P().size(), 128u);
  EXPECT_EQ(dsa->Q().size(), 20u);
  EXPECT_EQ(ToHex(dsa->SaveToBytes()), ToHex(algorithm));
}

}  // namespace
}  // namespace corvane
