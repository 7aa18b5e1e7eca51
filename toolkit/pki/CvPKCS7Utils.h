// Small encoders and readers shared by the PKCS#7 codec, the message
// components and the timestamp reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/asn1/CvASN1.h"
#include "toolkit/asn1/CvASN1Tree.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

// DER ordering of the elements of a SET OF (X.690 11.6): octet-wise, the
// shorter encoding padded with zero octets at its end.
bool DEROrderLess(std::string_view a, std::string_view b);
// The elements sorted into DER order and joined.
ByteString SortedSetContent(std::vector<ByteString> elements);

// AlgorithmIdentifier: SEQUENCE { OID, params }; empty params give NULL when
// writeNull, else a one-element SEQUENCE.
ByteString EncodeAlgorithmIdentifier(std::string_view oid, std::string_view params, bool writeNull);
// The content of an element without its header (the input when it does not load).
ByteString UnwrapTagContent(std::string_view element);
// Appends a primitive child that writes the octets as they are.
void AddRawChild(TOvASN1ConstrainedTag& parent, ByteString encoding);

// UTCTime (YYMMDDhhmmssZ) or GeneralizedTime (YYYYMMDDhhmmssZ) element.
ByteString EncodeSigningTime(TDateTime moment, bool generalized);

// The octets of a loaded node within the source it was loaded from (empty when
// the node lies outside it).
std::string_view ElementOctets(std::string_view source, const TOvASN1CustomTag& node);

// Reads an AlgorithmIdentifier SEQUENCE: the OID, the parameters element (its
// octets, empty when absent) and whether it had more than one element.
bool ReadAlgorithmIdentifier(const TOvASN1CustomTag* node, std::string_view source, ByteString& oid,
                             ByteString& params, bool& hadParams);

}  // namespace corvane
