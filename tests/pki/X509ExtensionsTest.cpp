// Extension values decoded through the reader: the shapes of RFC 5280, the
// critical rule, and general names read and written back.
#include <gtest/gtest.h>

#include "tests/pki/PkiTestSupport.h"
#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvX509Ext.h"

using namespace corvane;
using pkitest::Hex;
using pkitest::ToHex;

namespace {

std::string OID(const char* dotted_hex) { return Hex(dotted_hex); }

const std::string kTwenty = Hex("00112233445566778899AABBCCDDEEFF01234567");

void Read(TOvCertificateExtensions& set, const std::string& oid, bool critical,
          const std::string& value) {
  TOvExtensionReader(set).ReadExtension(oid, critical, value);
}

void ExpectUnrecognized(const std::string& oid, const std::string& value) {
  TOvCertificateExtensions set;
  try {
    Read(set, oid, true, value);
    ADD_FAILURE() << ToHex(oid) << " " << ToHex(value) << " decoded";
  } catch (const EOvCertificateError& e) {
    EXPECT_STREQ(e.what(), "Unrecognized critical certificate extension");
  }
  EXPECT_NO_THROW(Read(set, oid, false, value));
}

}  // namespace

TEST(X509Extensions, KeyIdentifiers) {
  TOvCertificateExtensions set;
  Read(set, OID("551D0E"), false, Hex("0414") + kTwenty);
  EXPECT_EQ(set.SubjectKeyIdentifier().KeyIdentifier, kTwenty);
  EXPECT_EQ(set.PresentKinds(), cekSubjectKeyIdentifier);

  Read(set, OID("551D23"), false, Hex("30168014") + kTwenty);
  const TOvAuthorityKeyIdentifierExtension& aki = set.AuthorityKeyIdentifier();
  EXPECT_EQ(aki.KeyIdentifier, kTwenty);
  EXPECT_EQ(aki.AuthorityCertIssuer.Count(), 0);
  EXPECT_TRUE(aki.AuthorityCertSerial.empty());

  // Written from the fields when no raw value is kept, and read back the same.
  TOvAuthorityKeyIdentifierExtension built;
  built.KeyIdentifier = kTwenty;
  built.AuthorityCertSerial = Hex("0102");
  TOvGeneralName& issuer = built.AuthorityCertIssuer.Names(built.AuthorityCertIssuer.Add());
  issuer.NameType = gnDNSName;
  issuer.DNSName = "ca.example";
  const std::string encoded = built.GetValue();
  TOvAuthorityKeyIdentifierExtension again;
  again.SetValue(encoded);
  EXPECT_EQ(again.KeyIdentifier, kTwenty);
  EXPECT_EQ(ToHex(again.AuthorityCertSerial), "0102");
  ASSERT_EQ(again.AuthorityCertIssuer.Count(), 1);
  EXPECT_EQ(again.AuthorityCertIssuer.Names(0).DNSName, "ca.example");
  EXPECT_EQ(again.GetValue(), encoded);

  ExpectUnrecognized(OID("551D0E"), Hex("0302 0000"));
  ExpectUnrecognized(OID("551D23"), Hex("0400"));
}

TEST(X509Extensions, BasicConstraintsAndTheOldOID) {
  TOvCertificateExtensions set;
  Read(set, OID("551D13"), false, Hex("3000"));
  EXPECT_FALSE(set.BasicConstraints().CA);
  EXPECT_EQ(set.BasicConstraints().PathLenConstraint, -1);
  Read(set, OID("551D0A"), true, Hex("30060101FF020100"));
  EXPECT_TRUE(set.BasicConstraints().CA);
  EXPECT_EQ(set.BasicConstraints().PathLenConstraint, 0);
  EXPECT_EQ(set.PresentKinds(), cekBasicConstraints);
  EXPECT_EQ(OIDToText(set.BasicConstraints().GetOID()), "2.5.29.19");
  ExpectUnrecognized(OID("551D13"), Hex("0101FF"));
}

TEST(X509Extensions, KeyUsageBits) {
  TOvCertificateExtensions set;
  Read(set, OID("551D0F"), true, Hex("030205A0"));
  const TOvKeyUsageExtension& ku = set.KeyUsage();
  EXPECT_TRUE(ku.DigitalSignature);
  EXPECT_TRUE(ku.KeyEncipherment);
  EXPECT_FALSE(ku.NonRepudiation || ku.DataEncipherment || ku.KeyAgreement || ku.KeyCertSign ||
               ku.CRLSign || ku.EncipherOnly || ku.DecipherOnly);
  Read(set, OID("551D0F"), true, Hex("0303070080"));
  EXPECT_TRUE(set.KeyUsage().DecipherOnly);
  EXPECT_FALSE(set.KeyUsage().DigitalSignature);
  ExpectUnrecognized(OID("551D0F"), Hex("040100"));
  ExpectUnrecognized(OID("551D0F"), Hex("0302 05A0 0500"));  // two elements
}

TEST(X509Extensions, UnknownExtensionsAreKeptRaw) {
  TOvCertificateExtensions set;
  const std::string oid = OID("2B0601040183A2470101");
  EXPECT_NO_THROW(Read(set, oid, true, Hex("FFFF")));
  ASSERT_EQ(set.OtherExtensions().size(), 1u);
  EXPECT_TRUE(set.OtherExtensions()[0]->Critical());
  EXPECT_EQ(set.OtherExtensions()[0]->OID(), oid);
  EXPECT_EQ(set.OtherExtensions()[0]->Value(), Hex("FFFF"));
  EXPECT_EQ(set.PresentKinds(), 0u);

  // Written back: SEQUENCE { OID, BOOLEAN, OCTET STRING }, the BOOLEAN always present.
  TOvASN1ConstrainedTag node;
  set.OtherExtensions()[0]->SaveToTag(node);
  EXPECT_EQ(node.SaveToBytes(),
            EncodeSequence({EncodeOID(oid), Hex("0101FF"), EncodeOctetString(Hex("FFFF"))}));
  set.Clear();
  EXPECT_TRUE(set.OtherExtensions().empty());
}

TEST(X509Extensions, UsagePoliciesAndConstraints) {
  TOvCertificateExtensions set;
  // serverAuth, timeStamping, and one custom usage.
  Read(set, OID("551D25"), false,
       EncodeSequence({EncodeOID(OID("2B06010505070301")), EncodeOID(OID("2B06010505070308")),
                       EncodeOID(OID("2A0304"))}));
  EXPECT_TRUE(set.ExtendedKeyUsage().ServerAuthentication);
  EXPECT_TRUE(set.ExtendedKeyUsage().TimeStamping);
  EXPECT_FALSE(set.ExtendedKeyUsage().CodeSigning);
  ASSERT_EQ(set.ExtendedKeyUsage().CustomUsages.size(), 1u);
  ExpectUnrecognized(OID("551D25"), EncodeSequence({Hex("020101")}));

  // A policy with a CPS pointer and a user notice.
  const std::string notice =
      EncodeSequence({EncodeSequence({EncodeUTF8String("Tavra"),
                                      EncodeSequence({Hex("020101"), Hex("020203E8")})}),
                      EncodeUTF8String("Jen pro testy")});
  Read(set, OID("551D20"), false,
       EncodeSequence({EncodeSequence(
           {EncodeOID(OID("2A0304")),
            EncodeSequence({EncodeSequence({EncodeOID(OID("2B06010505070201")),
                                            EncodeIA5String("http://cps/")}),
                            EncodeSequence({EncodeOID(OID("2B06010505070202")), notice})})})}));
  ASSERT_EQ(set.CertificatePolicies().Policies.size(), 1u);
  const TOvSinglePolicyInformation& policy = set.CertificatePolicies().Policies[0];
  EXPECT_EQ(policy.CPSURI, "http://cps/");
  EXPECT_EQ(policy.UserNotice.Organization, "Tavra");
  EXPECT_EQ(policy.UserNotice.NoticeNumbers, (std::vector<int32_t>{1, 1000}));
  EXPECT_EQ(policy.UserNotice.ExplicitText, "Jen pro testy");

  Read(set, OID("551D24"), false, Hex("3006 800102 810103"));
  EXPECT_EQ(set.PolicyConstraints().RequireExplicitPolicy, 2);
  EXPECT_EQ(set.PolicyConstraints().InhibitPolicyMapping, 3);

  Read(set, OID("551D21"), false,
       EncodeSequence({EncodeSequence({EncodeOID(OID("2A03")), EncodeOID(OID("2A04"))})}));
  ASSERT_EQ(set.PolicyMappings().Mappings.size(), 1u);
  EXPECT_EQ(set.PolicyMappings().Mappings[0].SubjectDomainPolicy, OID("2A04"));
  ExpectUnrecognized(OID("551D21"), EncodeSequence({EncodeSequence({EncodeOID(OID("2A03"))})}));

  // Name constraints: permitted DNS subtree with a minimum, excluded IP range.
  Read(
      set, OID("551D1E"), true,
      EncodeSequence(
          {EncodeConstructed(0xA0, {EncodeSequence({EncodePrimitive(0x82, ".cz"), Hex("800101")})}),
           EncodeConstructed(0xA1,
                             {EncodeSequence({EncodePrimitive(0x87, Hex("C0000200FFFFFF00"))})})}));
  ASSERT_EQ(set.NameConstraints().PermittedSubtrees.size(), 1u);
  EXPECT_EQ(set.NameConstraints().PermittedSubtrees[0]->Base.DNSName, ".cz");
  EXPECT_EQ(set.NameConstraints().PermittedSubtrees[0]->Minimum, 1);
  ASSERT_EQ(set.NameConstraints().ExcludedSubtrees.size(), 1u);
  EXPECT_EQ(set.NameConstraints().ExcludedSubtrees[0]->Base.IpAddress, "192.0.2.0.255.255.255.0");
  ExpectUnrecognized(OID("551D1E"), EncodeSequence({EncodeConstructed(0xA0, {Hex("0500")})}));
}

TEST(X509Extensions, DistributionPointsAndAccess) {
  TOvCertificateExtensions set;
  // keyCompromise and cACompromise (bits 1 and 2), and a CRL issuer.
  Read(set, OID("551D1F"), false,
       EncodeSequence({EncodeSequence(
           {EncodeConstructed(0xA0,
                              {EncodeConstructed(0xA0, {EncodePrimitive(0x86, "http://crl/")})}),
            EncodePrimitive(0x81, Hex("0560")),
            EncodeConstructed(0xA2, {EncodePrimitive(0x82, "issuer.example")})})}));
  ASSERT_EQ(set.CRLDistributionPoints().DistributionPoints.size(), 1u);
  const TOvDistributionPoint& dp = *set.CRLDistributionPoints().DistributionPoints[0];
  EXPECT_EQ(dp.DistributionPoint.Names(0).UniformResourceIdentifier, "http://crl/");
  EXPECT_EQ(dp.ReasonFlags, 0x06);
  EXPECT_EQ(dp.CRLIssuer.Names(0).DNSName, "issuer.example");

  Read(set, OID("2B06010505070101"), true,
       EncodeSequence({EncodeSequence(
           {EncodeOID(OID("2B06010505073002")), EncodePrimitive(0x86, "http://ca/ca.crt")})}));
  ASSERT_EQ(set.AuthorityInformationAccess().AccessDescriptions.size(), 1u);
  EXPECT_EQ(set.AuthorityInformationAccess()
                .AccessDescriptions[0]
                ->AccessLocation.UniformResourceIdentifier,
            "http://ca/ca.crt");
  ExpectUnrecognized(OID("2B06010505070101"), EncodeSequence({Hex("0500")}));
}

TEST(X509Extensions, NetscapeStringsKeepOnlyText) {
  TOvCertificateExtensions set;
  Read(set, OID("6086480186F842010D"), false, EncodeIA5String("komentář"));
  EXPECT_EQ(set.NetscapeComment().Text, "komentář");
  EXPECT_TRUE(set.NetscapeComment().Value().empty());
  EXPECT_EQ(set.PresentKinds(), cekNetscapeComment);
  Read(set, OID("6086480186F8420101"), false, Hex("03020780"));
  EXPECT_EQ(set.NetscapeCertType().CertType, NS_SSL_CLIENT);
  ExpectUnrecognized(OID("6086480186F842010D"), Hex("16FF"));
}

TEST(X509Extensions, GeneralNamesReadAndWriteBack) {
  TOvASN1ConstrainedTag root;
  const std::string permanent = EncodeConstructed(
      0xA0, {EncodeOID(OID("2B06010505070012 0803")),
             EncodeConstructed(
                 0xA0, {EncodeSequence({EncodeUTF8String("ID-42"), EncodeOID(OID("2A03"))})})});
  const std::string names = EncodeSequence(
      {Hex("8704C0000201"), EncodePrimitive(0x81, "a@b.cz"),
       EncodeConstructed(0xA4, {EncodeSequence({EncodeSet({EncodeSequence(
                                   {EncodeOID(OID("550403")), EncodeUTF8String("Jan")})})})}),
       permanent, EncodePrimitive(0x88, OID("2A0304"))});
  ASSERT_TRUE(root.LoadFromBytes(names));
  TOvGeneralNames list;
  EXPECT_TRUE(list.LoadFromTag(*root.ConstrainedChild(0), false));
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list.Names(0).IpAddress, "192.0.2.1");
  EXPECT_EQ(list.Names(1).RFC822Name, "a@b.cz");
  EXPECT_EQ(list.Names(2).NameType, gnDirectoryName);
  EXPECT_EQ(list.Names(2).DirectoryName.Values(0), "Jan");
  EXPECT_EQ(list.Names(3).NameType, gnPermanentIdentifier);
  EXPECT_EQ(list.Names(3).PermanentIdentifier.IdentifierValue, "ID-42");
  EXPECT_EQ(list.Names(3).PermanentIdentifier.Assigner, OID("2A03"));
  EXPECT_EQ(list.Names(4).NameType, gnRegisteredID);

  TOvASN1ConstrainedTag saved;
  list.SaveToTag(saved);
  EXPECT_EQ(ToHex(saved.SaveToBytes()), ToHex(names));

  TOvGeneralNames copy;
  copy.Assign(&list);
  EXPECT_EQ(copy.Names(3).PermanentIdentifier.IdentifierValue, "ID-42");
  EXPECT_THROW(copy.Assign(nullptr), EOvCertificateError);
  EXPECT_THROW(copy.Remove(5), EOvCertificateError);

  // An unknown form is dropped and reported; a bare Name is taken when allowed.
  TOvASN1ConstrainedTag odd;
  ASSERT_TRUE(odd.LoadFromBytes(EncodeSequence({Hex("8901FF"), Hex("3000")})));
  TOvGeneralNames strict, lenient;
  EXPECT_FALSE(strict.LoadFromTag(*odd.ConstrainedChild(0), false));
  EXPECT_EQ(strict.Count(), 0);
  EXPECT_FALSE(lenient.LoadFromTag(*odd.ConstrainedChild(0), true));
  ASSERT_EQ(lenient.Count(), 1);
  EXPECT_EQ(lenient.Names(0).NameType, gnDirectoryName);
}
