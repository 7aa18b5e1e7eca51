// GeneralName and GeneralNames (RFC 5280 4.2.1.6), read and written through
// the ASN.1 tree.
#include "toolkit/pki/CvX509Ext.h"

#include <charconv>

#include "toolkit/common/CvErrors.h"
#include "toolkit/pki/CvX509ExtDetail.h"

namespace corvane {

namespace {

// RFC 4043 id-on-permanentIdentifier.
constexpr std::string_view kPermanentIdentifierOID{"\x2B\x06\x01\x05\x05\x07\x00\x12\x08\x03", 10};

void ReadPermanentIdentifier(TOvGeneralName& name) {
  TOvASN1ConstrainedTag holder;
  if (!holder.LoadFromBytes(name.OtherName.Value) || holder.Count() != 1) return;
  const TOvASN1ConstrainedTag* seq = holder.ConstrainedChild(0);
  if (seq == nullptr || seq->TagByte() != ASN1_SEQUENCE) return;
  int32_t pos = 0;
  if (const TOvASN1SimpleTag* value = seq->SimpleChild(0);
      value != nullptr && value->TagByte() == ASN1_UTF8_STRING) {
    name.PermanentIdentifier.IdentifierValue = value->Content();
    pos = 1;
  }
  if (const TOvASN1SimpleTag* assigner = seq->SimpleChild(pos);
      assigner != nullptr && assigner->TagByte() == ASN1_OBJECT_IDENTIFIER)
    name.PermanentIdentifier.Assigner = assigner->Content();
  name.NameType = gnPermanentIdentifier;
}

uint8_t IpPart(std::string_view part) {
  unsigned value = 0;
  const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
  if (result.ec != std::errc() || result.ptr != part.data() + part.size()) return 0;
  return static_cast<uint8_t>(value);
}

}  // namespace

void TOvGeneralName::Reset() {
  NameType = gnUnknown;
  RFC822Name.clear();
  DNSName.clear();
  DirectoryName.Clear();
  EdiPartyName = {};
  UniformResourceIdentifier.clear();
  IpAddress.clear();
  RegisteredID.clear();
  OtherName = {};
  PermanentIdentifier = {};
}

bool TOvGeneralName::LoadFromTag(const TOvASN1CustomTag& node) {
  Reset();
  const auto* simple = dynamic_cast<const TOvASN1SimpleTag*>(&node);
  const auto* constructed = dynamic_cast<const TOvASN1ConstrainedTag*>(&node);
  switch (node.TagByte()) {
    case 0xA0: {
      if (constructed == nullptr || constructed->Count() != 2) return false;
      const TOvASN1SimpleTag* oid = constructed->SimpleChild(0);
      const TOvASN1ConstrainedTag* value = constructed->ConstrainedChild(1);
      if (oid == nullptr || oid->TagByte() != ASN1_OBJECT_IDENTIFIER || value == nullptr ||
          value->TagByte() != 0xA0)
        return false;
      OtherName.OID = oid->Content();
      OtherName.Value = x509_detail::ContentOf(*value);
      NameType = gnOtherName;
      if (OtherName.OID == kPermanentIdentifierOID) ReadPermanentIdentifier(*this);
      return true;
    }
    case 0x81:
      if (simple == nullptr) return false;
      RFC822Name = simple->Content();
      NameType = gnRFC822Name;
      return true;
    case 0x82:
      if (simple == nullptr) return false;
      DNSName = simple->Content();
      NameType = gnDNSName;
      return true;
    case 0xA3:  // x400Address: accepted, not kept
      return true;
    case 0xA4:
      if (constructed == nullptr) return false;
      if (constructed->Count() == 1) {
        if (const TOvASN1ConstrainedTag* name = constructed->ConstrainedChild(0);
            name != nullptr && name->TagByte() == ASN1_SEQUENCE)
          DirectoryName.LoadFromTag(*name, true);
      }
      NameType = gnDirectoryName;
      return true;
    case 0xA5: {
      if (constructed == nullptr) return false;
      int32_t pos = 0;
      if (const TOvASN1SimpleTag* assigner = constructed->SimpleChild(0);
          assigner != nullptr && assigner->TagByte() == 0x80) {
        EdiPartyName.NameAssigner = assigner->Content();
        pos = 1;
      }
      if (const TOvASN1SimpleTag* party = constructed->SimpleChild(pos);
          party != nullptr && party->TagByte() == 0x81)
        EdiPartyName.PartyName = party->Content();
      NameType = gnEdiPartyName;
      return true;
    }
    case 0x86:
      if (simple == nullptr) return false;
      UniformResourceIdentifier = simple->Content();
      NameType = gnUniformResourceIdentifier;
      return true;
    case 0x87: {
      if (simple == nullptr) return false;
      const std::string octets = simple->Content();
      for (size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) IpAddress += '.';
        IpAddress += std::to_string(static_cast<unsigned char>(octets[i]));
      }
      NameType = gnIPAddress;
      return true;
    }
    case 0x88:
      if (simple == nullptr) return false;
      RegisteredID = simple->Content();
      NameType = gnRegisteredID;
      return true;
    default:
      return false;
  }
}

bool TOvGeneralName::SaveToTag(TOvASN1ConstrainedTag& parent) {
  if (NameType == gnPermanentIdentifier) {
    std::vector<std::string> parts;
    if (!PermanentIdentifier.IdentifierValue.empty())
      parts.push_back(EncodeUTF8String(PermanentIdentifier.IdentifierValue));
    if (!PermanentIdentifier.Assigner.empty())
      parts.push_back(EncodeOID(PermanentIdentifier.Assigner));
    OtherName.OID = std::string(kPermanentIdentifierOID);
    OtherName.Value = EncodeSequence(parts);
    NameType = gnOtherName;
  }
  auto addSimple = [&parent](uint8_t tag, std::string content) {
    TOvASN1SimpleTag* node = parent.AddSimpleChild();
    node->SetTagByte(tag);
    node->SetContent(std::move(content));
  };
  switch (NameType) {
    case gnRFC822Name:
      addSimple(0x81, RFC822Name);
      return true;
    case gnDNSName:
      addSimple(0x82, DNSName);
      return true;
    case gnUniformResourceIdentifier:
      addSimple(0x86, UniformResourceIdentifier);
      return true;
    case gnRegisteredID:
      addSimple(0x88, RegisteredID);
      return true;
    case gnIPAddress: {
      std::string octets(4, '\0');
      std::string_view rest = IpAddress;
      for (size_t i = 0; i < 4 && !rest.empty(); ++i) {
        const size_t dot = rest.find('.');
        octets[i] = static_cast<char>(IpPart(rest.substr(0, dot)));
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
      }
      addSimple(0x87, octets);
      return true;
    }
    case gnDirectoryName: {
      TOvASN1ConstrainedTag* node = parent.AddConstrainedChild();
      node->SetTagByte(0xA4);
      DirectoryName.SaveToTag(*node->AddConstrainedChild());
      return true;
    }
    case gnEdiPartyName: {
      TOvASN1ConstrainedTag* node = parent.AddConstrainedChild();
      node->SetTagByte(0xA5);
      if (!EdiPartyName.NameAssigner.empty()) {
        TOvASN1SimpleTag* assigner = node->AddSimpleChild();
        assigner->SetTagByte(0x80);
        assigner->SetContent(EdiPartyName.NameAssigner);
      }
      TOvASN1SimpleTag* party = node->AddSimpleChild();
      party->SetTagByte(0x81);
      party->SetContent(EdiPartyName.PartyName);
      return true;
    }
    case gnOtherName: {
      return x509_detail::AppendEncoded(
          parent, EncodeConstructed(0xA0, {EncodeOID(OtherName.OID),
                                           EncodeConstructed(0xA0, {OtherName.Value})}));
    }
    default:
      return false;
  }
}

void TOvGeneralName::Assign(const TOvGeneralName* other) {
  if (other == nullptr) throw EOvCertificateError("Invalid type cast");
  if (other == this) return;
  NameType = other->NameType;
  RFC822Name = other->RFC822Name;
  DNSName = other->DNSName;
  DirectoryName.Assign(other->DirectoryName);
  EdiPartyName = other->EdiPartyName;
  UniformResourceIdentifier = other->UniformResourceIdentifier;
  IpAddress = other->IpAddress;
  RegisteredID = other->RegisteredID;
  OtherName = other->OtherName;
  PermanentIdentifier = other->PermanentIdentifier;
}

TOvGeneralName& TOvGeneralNames::Names(int32_t index) const {
  if (index < 0 || index >= Count()) throw EOvCertificateError("List index out of bounds");
  return *names_[static_cast<size_t>(index)];
}

int32_t TOvGeneralNames::Add() {
  names_.push_back(std::make_unique<TOvGeneralName>());
  return Count() - 1;
}

void TOvGeneralNames::Remove(int32_t index) {
  if (index < 0 || index >= Count()) throw EOvCertificateError("List index out of bounds");
  names_.erase(names_.begin() + index);
}

bool TOvGeneralNames::LoadFromTag(const TOvASN1ConstrainedTag& node, bool allowBareName) {
  Clear();
  bool result = true;
  for (int32_t i = 0; i < node.Count(); ++i) {
    const TOvASN1CustomTag* child = node.GetChild(i);
    const int32_t index = Add();
    TOvGeneralName& name = Names(index);
    if (name.LoadFromTag(*child)) continue;
    const auto* bare = dynamic_cast<const TOvASN1ConstrainedTag*>(child);
    if (allowBareName && bare != nullptr && bare->TagByte() == ASN1_SEQUENCE) {
      name.NameType = gnDirectoryName;
      name.DirectoryName.LoadFromTag(*bare, false);
      continue;
    }
    Remove(index);
    result = false;
  }
  return result;
}

void TOvGeneralNames::SaveToTag(TOvASN1ConstrainedTag& node) const {
  node.ClearChildren();
  node.SetTagByte(ASN1_SEQUENCE);
  for (const auto& name : names_) name->SaveToTag(node);
}

void TOvGeneralNames::Assign(const TOvGeneralNames* other) {
  if (other == nullptr) throw EOvCertificateError("Invalid type cast");
  if (other == this) return;
  Clear();
  for (const auto& name : other->names_) Names(Add()).Assign(name.get());
}

}  // namespace corvane
