// Helpers shared by the AlgorithmIdentifier implementation files; not part of the
// toolkit's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "toolkit/asn1/CvASN1Tree.h"

namespace corvane::algid_detail {

[[noreturn]] void ThrowInvalid();                // "Invalid algorithm identifier"
[[noreturn]] void ThrowUnknown();                // "Unknown algorithm identifier"
[[noreturn]] void ThrowInvalidParameters();      // "Invalid algorithm identifier parameters"
[[noreturn]] void ThrowUnsupportedParameters();  // "Unsupported algorithm parameters"

// A primitive NULL with empty content.
bool IsNull(const TOvASN1CustomTag* node);
// The node as a constructed element with that identifier octet, else nullptr.
const TOvASN1ConstrainedTag* Constructed(const TOvASN1CustomTag* node, uint8_t tag);
// The parameters of an AlgorithmIdentifier that, when present, must be a
// SEQUENCE: nullptr when absent or NULL, the SEQUENCE itself, otherwise
// "Invalid algorithm identifier parameters".
const TOvASN1ConstrainedTag* OptionalParameterSequence(const TOvASN1ConstrainedTag& node);
// Content of a primitive element with that identifier octet; raises "Invalid
// algorithm identifier parameters" for anything else.
std::string PrimitiveContent(const TOvASN1CustomTag* node, uint8_t tag);
// A non-negative INTEGER that fits 31 bits; anything else is a parameter error.
int32_t SmallInteger(const TOvASN1CustomTag* node);
// INTEGER magnitude with one leading 0x00 octet removed.
std::string IntegerMagnitude(const TOvASN1CustomTag* node);

// A hash AlgorithmIdentifier: SEQUENCE { OID, NULL OPTIONAL } -> hash constant.
int32_t LoadHashIdentifier(const TOvASN1CustomTag* node);
// Fills seq as SEQUENCE { OID, NULL }; a hash without an OID is a parameter error.
void SaveHashIdentifier(TOvASN1ConstrainedTag& seq, int32_t hash);

void AddOID(TOvASN1ConstrainedTag& parent, std::string_view oid);
void AddNull(TOvASN1ConstrainedTag& parent);
void AddInteger(TOvASN1ConstrainedTag& parent, const std::string& magnitude);
TOvASN1ConstrainedTag& AddConstructed(TOvASN1ConstrainedTag& parent, uint8_t tag);

}  // namespace corvane::algid_detail
