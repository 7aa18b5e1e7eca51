#include "toolkit/pki/CvPKCS7Utils.h"

#include <algorithm>

#include "toolkit/asn1/CvASN1.h"

namespace corvane {

bool DEROrderLess(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y;
  }
  // The shorter one counts as padded with zero octets.
  if (a.size() < b.size()) return b.find_first_not_of('\0', common) != std::string_view::npos;
  return false;
}

ByteString SortedSetContent(std::vector<ByteString> elements) {
  std::stable_sort(elements.begin(), elements.end(),
                   [](const ByteString& a, const ByteString& b) { return DEROrderLess(a, b); });
  ByteString out;
  for (const auto& e : elements) out += e;
  return out;
}

ByteString EncodeAlgorithmIdentifier(std::string_view oid, std::string_view params,
                                     bool writeNull) {
  ByteString content = EncodeOID(oid);
  if (!params.empty())
    content += params;
  else if (writeNull)
    content += std::string("\x05\x00", 2);
  TOvASN1ConstrainedTag seq;
  seq.SetTagByte(ASN1_SEQUENCE);
  AddRawChild(seq, std::move(content));
  return seq.SaveToBytes();
}

ByteString UnwrapTagContent(std::string_view element) {
  uint8_t tag = 0;
  return UnwrapTag(element, tag);
}

void AddRawChild(TOvASN1ConstrainedTag& parent, ByteString encoding) {
  TOvASN1SimpleTag* raw = parent.AddSimpleChild();
  raw->SetEmitHeader(false);
  raw->SetContent(std::move(encoding));
}

ByteString EncodeSigningTime(TDateTime moment, bool generalized) {
  return generalized ? WrapInTag(ASN1_GENERALIZED_TIME, DateTimeToGeneralizedTime(moment))
                     : WrapInTag(ASN1_UTC_TIME, DateTimeToUTCTime(moment));
}

std::string_view ElementOctets(std::string_view source, const TOvASN1CustomTag& node) {
  const int64_t offset = node.ElementOffset(), size = node.ElementSize();
  if (offset < 0 || size < 0 || static_cast<uint64_t>(offset) > source.size() ||
      static_cast<uint64_t>(size) > source.size() - static_cast<uint64_t>(offset))
    return {};
  return source.substr(static_cast<size_t>(offset), static_cast<size_t>(size));
}

bool ReadAlgorithmIdentifier(const TOvASN1CustomTag* node, std::string_view source, ByteString& oid,
                             ByteString& params, bool& hadParams) {
  if (!CheckTag(node, ASN1_SEQUENCE, true)) return false;
  const auto* seq = static_cast<const TOvASN1ConstrainedTag*>(node);
  const TOvASN1SimpleTag* id = seq->SimpleChild(0);
  if (id == nullptr || id->TagByte() != ASN1_OBJECT_IDENTIFIER) return false;
  oid = id->Content();
  params.clear();
  hadParams = seq->Count() > 1;
  if (hadParams) {
    const TOvASN1CustomTag* p = seq->GetChild(1);
    // A NULL stands for absent parameters.
    if (!(p->TagByte() == ASN1_NULL && !p->IsConstructed()))
      params = ByteString(ElementOctets(source, *p));
  }
  return true;
}

}  // namespace corvane
