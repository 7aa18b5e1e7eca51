// Certificate extensions (RFC 5280 4.2): the extension set a certificate owns,
// the reader that routes each extension of a certificate to its typed object,
// the typed extensions and the GeneralName forms they use.
//
// Decoding follows the shapes of RFC 5280. A value that does not have the
// expected shape stops decoding quietly, unless the extension is critical: then
// "Unrecognized critical certificate extension" fails the certificate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/asn1/CvRDN.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

// ---------------------------------------------------------------------------
// GeneralName (RFC 5280 4.2.1.6)

enum TCvGeneralNameType {
  gnRFC822Name = 0,
  gnDNSName = 1,
  gnDirectoryName = 2,
  gnEdiPartyName = 3,
  gnUniformResourceIdentifier = 4,
  gnIPAddress = 5,
  gnRegisteredID = 6,
  gnOtherName = 7,
  gnUnknown = 8,
  gnPermanentIdentifier = 9,
};

struct TOvEDIPartyName {
  ByteString NameAssigner;
  ByteString PartyName;
};

struct TOvOtherName {
  ByteString OID;    // encoded OID octets
  ByteString Value;  // the encoding of the value inside the explicit [0]
};

// RFC 4043 permanent identifier, carried as an other-name.
struct TOvPermanentIdentifier {
  ByteString IdentifierValue;  // UTF-8 text
  ByteString Assigner;         // encoded OID octets
};

class TOvGeneralName {
 public:
  TOvGeneralName() = default;
  virtual ~TOvGeneralName() = default;
  TOvGeneralName(const TOvGeneralName&) = delete;
  TOvGeneralName& operator=(const TOvGeneralName&) = delete;

  // Reads one GeneralName element; false for a form it does not know.
  bool LoadFromTag(const TOvASN1CustomTag& node);
  // Appends the element as a new child of parent; false (nothing appended) for
  // gnUnknown. A permanent identifier is first turned into its other-name form.
  bool SaveToTag(TOvASN1ConstrainedTag& parent);
  // Copies every field; a null source raises "Invalid type cast".
  void Assign(const TOvGeneralName* other);

  TCvGeneralNameType NameType = gnUnknown;
  ByteString RFC822Name;
  ByteString DNSName;
  TOvRelativeDistinguishedName DirectoryName;
  TOvEDIPartyName EdiPartyName;
  ByteString UniformResourceIdentifier;
  std::string IpAddress;  // dotted decimal
  ByteString RegisteredID;
  TOvOtherName OtherName;
  TOvPermanentIdentifier PermanentIdentifier;

 private:
  void Reset();
};

class TOvGeneralNames {
 public:
  TOvGeneralNames() = default;
  TOvGeneralNames(const TOvGeneralNames&) = delete;
  TOvGeneralNames& operator=(const TOvGeneralNames&) = delete;

  int32_t Count() const { return static_cast<int32_t>(names_.size()); }
  // Raises "List index out of bounds" outside 0 .. Count-1.
  TOvGeneralName& Names(int32_t index) const;
  // Appends a new empty general name; returns its index.
  int32_t Add();
  void Remove(int32_t index);
  void Clear() { names_.clear(); }
  // Reads the children of node; a child that is not a general name is dropped
  // and makes the result false. With allowBareName a bare Name SEQUENCE is
  // taken as a directory name.
  bool LoadFromTag(const TOvASN1ConstrainedTag& node, bool allowBareName);
  // Makes node a SEQUENCE of the names that can be written.
  void SaveToTag(TOvASN1ConstrainedTag& node) const;
  // A null source raises "Invalid type cast".
  void Assign(const TOvGeneralNames* other);

 private:
  std::vector<std::unique_ptr<TOvGeneralName>> names_;
};

// ---------------------------------------------------------------------------
// Extension objects

// PresentKinds bits, one per known kind.
inline constexpr uint32_t cekAuthorityKeyIdentifier = 0x1;
inline constexpr uint32_t cekSubjectKeyIdentifier = 0x2;
inline constexpr uint32_t cekKeyUsage = 0x4;
inline constexpr uint32_t cekPrivateKeyUsagePeriod = 0x8;
inline constexpr uint32_t cekCertificatePolicies = 0x10;
inline constexpr uint32_t cekPolicyMappings = 0x20;
inline constexpr uint32_t cekSubjectAlternativeName = 0x40;
inline constexpr uint32_t cekIssuerAlternativeName = 0x80;
inline constexpr uint32_t cekBasicConstraints = 0x100;
inline constexpr uint32_t cekNameConstraints = 0x200;
inline constexpr uint32_t cekPolicyConstraints = 0x400;
inline constexpr uint32_t cekExtendedKeyUsage = 0x800;
inline constexpr uint32_t cekCRLDistributionPoints = 0x1000;
inline constexpr uint32_t cekAuthorityInformationAccess = 0x2000;
inline constexpr uint32_t cekNetscapeCertType = 0x4000;
inline constexpr uint32_t cekNetscapeBaseURL = 0x8000;
inline constexpr uint32_t cekNetscapeRevokeURL = 0x10000;
inline constexpr uint32_t cekNetscapeCARevokeURL = 0x20000;
inline constexpr uint32_t cekNetscapeRenewalURL = 0x40000;
inline constexpr uint32_t cekNetscapeCAPolicy = 0x80000;
inline constexpr uint32_t cekNetscapeServerName = 0x100000;
inline constexpr uint32_t cekNetscapeComment = 0x200000;
inline constexpr uint32_t cekCommonName = 0x400000;
inline constexpr uint32_t cekSubjectDirectoryAttributes = 0x800000;

// Base of every extension; also the object kept for an extension whose OID is
// not known (it keeps the raw value and is not decoded).
class TOvCustomExtension {
 public:
  TOvCustomExtension() = default;
  virtual ~TOvCustomExtension() = default;
  TOvCustomExtension(const TOvCustomExtension&) = delete;
  TOvCustomExtension& operator=(const TOvCustomExtension&) = delete;

  virtual void Clear();
  virtual ByteString GetOID() const;
  virtual void SetOID(std::string_view oid);
  // Clear, store the raw value, then decode it (typed classes).
  virtual void SetValue(std::string_view value);
  virtual ByteString GetValue() const;
  // Makes node the Extension SEQUENCE: OID, BOOLEAN critical, OCTET STRING value.
  virtual void SaveToTag(TOvASN1ConstrainedTag& node) const;

  bool Critical() const { return critical_; }
  void SetCritical(bool value) { critical_ = value; }
  const ByteString& OID() const { return oid_; }
  const ByteString& Value() const { return value_; }

 protected:
  // Raises "Unrecognized critical certificate extension" when Critical is set.
  void RaiseIfCritical() const;
  // The value loaded as a tree with exactly one top-level element of the given
  // identifier octet (and the constructed flag it implies); nullptr otherwise.
  // The tree is kept in holder.
  static const TOvASN1CustomTag* SingleElement(std::string_view value, uint8_t tag,
                                               TOvASN1ConstrainedTag& holder);

  bool critical_ = false;
  ByteString oid_;
  ByteString value_;
};

class TOvAuthorityKeyIdentifierExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;
  // Encodes the fields when no raw value is kept.
  ByteString GetValue() const override;

  ByteString KeyIdentifier;
  TOvGeneralNames AuthorityCertIssuer;
  ByteString AuthorityCertSerial;
};

class TOvSubjectKeyIdentifierExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  ByteString KeyIdentifier;
};

class TOvKeyUsageExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  bool DigitalSignature = false;
  bool NonRepudiation = false;
  bool KeyEncipherment = false;
  bool DataEncipherment = false;
  bool KeyAgreement = false;
  bool KeyCertSign = false;
  bool CRLSign = false;
  bool EncipherOnly = false;
  bool DecipherOnly = false;
};

class TOvPrivateKeyUsagePeriodExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  TDateTime NotBefore = 0;
  TDateTime NotAfter = 0;
};

class TOvBasicConstraintsExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  bool CA = false;
  int32_t PathLenConstraint = 0;  // -1 when absent after decoding
};

class TOvPolicyConstraintsExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  int32_t RequireExplicitPolicy = 0;
  int32_t InhibitPolicyMapping = 0;
};

class TOvExtendedKeyUsageExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  bool ServerAuthentication = false;
  bool ClientAuthentication = false;
  bool CodeSigning = false;
  bool EmailProtection = false;
  bool TimeStamping = false;
  bool OCSPSigning = false;
  std::vector<ByteString> CustomUsages;  // encoded OIDs
};

class TOvAlternativeNameExtension final : public TOvCustomExtension {
 public:
  explicit TOvAlternativeNameExtension(bool issuer) : issuer_(issuer) {}
  void Clear() override;
  ByteString GetOID() const override;
  // Kept only for the two alternative-name OIDs.
  void SetOID(std::string_view oid) override;
  void SetValue(std::string_view value) override;
  // Encodes Content when no raw value is kept.
  ByteString GetValue() const override;

  bool IsIssuerName() const { return issuer_; }

  TOvGeneralNames Content;

 private:
  bool issuer_;
};

struct TOvNameConstraint {
  TOvGeneralName Base;
  int32_t Minimum = 0;
  int32_t Maximum = 0;
};

class TOvNameConstraintsExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<std::unique_ptr<TOvNameConstraint>> PermittedSubtrees;
  std::vector<std::unique_ptr<TOvNameConstraint>> ExcludedSubtrees;

 private:
  void ReadSubtrees(const TOvASN1ConstrainedTag& node,
                    std::vector<std::unique_ptr<TOvNameConstraint>>& list);
};

struct TOvPolicyMapping {
  ByteString IssuerDomainPolicy;  // encoded OIDs
  ByteString SubjectDomainPolicy;
};

class TOvPolicyMappingsExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<TOvPolicyMapping> Mappings;
};

struct TOvUserNotice {
  std::string Organization;
  std::vector<int32_t> NoticeNumbers;
  std::string ExplicitText;
};

struct TOvSinglePolicyInformation {
  ByteString PolicyIdentifier;  // encoded OID
  std::string CPSURI;
  TOvUserNotice UserNotice;
};

class TOvCertificatePoliciesExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<TOvSinglePolicyInformation> Policies;
};

// ReasonFlags bits as this toolkit numbers them.
inline constexpr uint16_t CRL_REASONS_ALL = 0x077F;

struct TOvDistributionPoint {
  TOvGeneralNames DistributionPoint;
  uint16_t ReasonFlags = CRL_REASONS_ALL;
  TOvGeneralNames CRLIssuer;
};

class TOvCRLDistributionPointsExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<std::unique_ptr<TOvDistributionPoint>> DistributionPoints;
};

struct TOvAccessDescription {
  ByteString AccessMethod;  // encoded OID
  TOvGeneralName AccessLocation;
};

class TOvAuthorityInformationAccessExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<std::unique_ptr<TOvAccessDescription>> AccessDescriptions;
};

// CertType bits.
inline constexpr uint8_t NS_SSL_CLIENT = 0x01;
inline constexpr uint8_t NS_SSL_SERVER = 0x02;
inline constexpr uint8_t NS_SMIME = 0x04;
inline constexpr uint8_t NS_OBJECT_SIGNING = 0x08;
inline constexpr uint8_t NS_SSL_CA = 0x10;
inline constexpr uint8_t NS_SMIME_CA = 0x20;
inline constexpr uint8_t NS_OBJECT_SIGNING_CA = 0x40;

class TOvNetscapeCertTypeExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  uint8_t CertType = 0;
};

// The Netscape string extensions keep only the decoded text, not the raw value.
class TOvNetscapeString : public TOvCustomExtension {
 public:
  void Clear() override;
  void SetValue(std::string_view value) override;

  ByteString Text;

 protected:
  // Clears and decodes without keeping the raw value.
  void DecodeString(std::string_view value);
};

#define CV_NETSCAPE_STRING(Name)                \
  class Name final : public TOvNetscapeString { \
   public:                                      \
    ByteString GetOID() const override;         \
  };
CV_NETSCAPE_STRING(TOvNetscapeBaseURL)
CV_NETSCAPE_STRING(TOvNetscapeRevokeURL)
CV_NETSCAPE_STRING(TOvNetscapeCARevokeURL)
CV_NETSCAPE_STRING(TOvNetscapeRenewalURL)
CV_NETSCAPE_STRING(TOvNetscapeCAPolicy)
CV_NETSCAPE_STRING(TOvNetscapeServerName)
CV_NETSCAPE_STRING(TOvNetscapeComment)
#undef CV_NETSCAPE_STRING

class TOvCommonName final : public TOvNetscapeString {
 public:
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
};

// One attribute: its type and the complete encodings of its values.
struct TOvExtensionAttribute {
  ByteString Type;  // encoded OID
  std::vector<ByteString> Values;
};

class TOvSubjectDirectoryAttributesExtension final : public TOvCustomExtension {
 public:
  void Clear() override;
  ByteString GetOID() const override;
  void SetOID(std::string_view) override {}
  void SetValue(std::string_view value) override;

  std::vector<TOvExtensionAttribute> Attributes;
};

// ---------------------------------------------------------------------------
// The extension set of one certificate.

class TOvCertificateExtensions {
 public:
  TOvCertificateExtensions();
  ~TOvCertificateExtensions();
  TOvCertificateExtensions(const TOvCertificateExtensions&) = delete;
  TOvCertificateExtensions& operator=(const TOvCertificateExtensions&) = delete;

  // Clears every typed object, frees the other extensions, PresentKinds = 0.
  void Clear();

  uint32_t PresentKinds() const { return present_kinds_; }
  bool IsPresent(uint32_t kind) const { return (present_kinds_ & kind) != 0; }

  TOvBasicConstraintsExtension& BasicConstraints() const { return *basic_constraints_; }
  TOvAuthorityKeyIdentifierExtension& AuthorityKeyIdentifier() const { return *authority_key_id_; }
  TOvSubjectKeyIdentifierExtension& SubjectKeyIdentifier() const { return *subject_key_id_; }
  TOvKeyUsageExtension& KeyUsage() const { return *key_usage_; }
  TOvPrivateKeyUsagePeriodExtension& PrivateKeyUsagePeriod() const { return *private_key_usage_; }
  TOvCertificatePoliciesExtension& CertificatePolicies() const { return *policies_; }
  TOvPolicyMappingsExtension& PolicyMappings() const { return *policy_mappings_; }
  TOvPolicyConstraintsExtension& PolicyConstraints() const { return *policy_constraints_; }
  TOvExtendedKeyUsageExtension& ExtendedKeyUsage() const { return *extended_key_usage_; }
  TOvAuthorityInformationAccessExtension& AuthorityInformationAccess() const { return *aia_; }
  TOvNameConstraintsExtension& NameConstraints() const { return *name_constraints_; }
  TOvCRLDistributionPointsExtension& CRLDistributionPoints() const { return *crl_points_; }
  TOvAlternativeNameExtension& IssuerAlternativeName() const { return *issuer_alt_name_; }
  TOvAlternativeNameExtension& SubjectAlternativeName() const { return *subject_alt_name_; }
  TOvNetscapeCertTypeExtension& NetscapeCertType() const { return *ns_cert_type_; }
  TOvNetscapeBaseURL& NetscapeBaseURL() const { return *ns_base_url_; }
  TOvNetscapeRevokeURL& NetscapeRevokeURL() const { return *ns_revoke_url_; }
  TOvNetscapeCARevokeURL& NetscapeCARevokeURL() const { return *ns_ca_revoke_url_; }
  TOvNetscapeRenewalURL& NetscapeRenewalURL() const { return *ns_renewal_url_; }
  TOvNetscapeCAPolicy& NetscapeCAPolicy() const { return *ns_ca_policy_; }
  TOvNetscapeServerName& NetscapeServerName() const { return *ns_server_name_; }
  TOvNetscapeComment& NetscapeComment() const { return *ns_comment_; }
  TOvCommonName& CommonName() const { return *common_name_; }
  TOvSubjectDirectoryAttributesExtension& SubjectDirectoryAttributes() const {
    return *directory_attributes_;
  }

  // Extensions whose OID is not known, in the order read.
  const std::vector<std::unique_ptr<TOvCustomExtension>>& OtherExtensions() const { return other_; }

 private:
  friend class TOvExtensionReader;

  std::unique_ptr<TOvBasicConstraintsExtension> basic_constraints_;
  std::unique_ptr<TOvAuthorityKeyIdentifierExtension> authority_key_id_;
  std::unique_ptr<TOvSubjectKeyIdentifierExtension> subject_key_id_;
  std::unique_ptr<TOvKeyUsageExtension> key_usage_;
  std::unique_ptr<TOvPrivateKeyUsagePeriodExtension> private_key_usage_;
  std::unique_ptr<TOvCertificatePoliciesExtension> policies_;
  std::unique_ptr<TOvPolicyMappingsExtension> policy_mappings_;
  std::unique_ptr<TOvPolicyConstraintsExtension> policy_constraints_;
  std::unique_ptr<TOvExtendedKeyUsageExtension> extended_key_usage_;
  std::unique_ptr<TOvAuthorityInformationAccessExtension> aia_;
  std::unique_ptr<TOvNameConstraintsExtension> name_constraints_;
  std::unique_ptr<TOvCRLDistributionPointsExtension> crl_points_;
  std::unique_ptr<TOvAlternativeNameExtension> issuer_alt_name_;
  std::unique_ptr<TOvAlternativeNameExtension> subject_alt_name_;
  std::unique_ptr<TOvNetscapeCertTypeExtension> ns_cert_type_;
  std::unique_ptr<TOvNetscapeBaseURL> ns_base_url_;
  std::unique_ptr<TOvNetscapeRevokeURL> ns_revoke_url_;
  std::unique_ptr<TOvNetscapeCARevokeURL> ns_ca_revoke_url_;
  std::unique_ptr<TOvNetscapeRenewalURL> ns_renewal_url_;
  std::unique_ptr<TOvNetscapeCAPolicy> ns_ca_policy_;
  std::unique_ptr<TOvNetscapeServerName> ns_server_name_;
  std::unique_ptr<TOvNetscapeComment> ns_comment_;
  std::unique_ptr<TOvCommonName> common_name_;
  std::unique_ptr<TOvSubjectDirectoryAttributesExtension> directory_attributes_;

  uint32_t present_kinds_ = 0;
  std::vector<std::unique_ptr<TOvCustomExtension>> other_;
};

// Routes each extension read from a certificate to its typed object.
class TOvExtensionReader {
 public:
  explicit TOvExtensionReader(TOvCertificateExtensions& extensions) : extensions_(extensions) {}

  // oid is the encoded OID; value the content of the extnValue OCTET STRING.
  void ReadExtension(std::string_view oid, bool critical, std::string_view value);

 private:
  TOvCertificateExtensions& extensions_;
};

}  // namespace corvane
