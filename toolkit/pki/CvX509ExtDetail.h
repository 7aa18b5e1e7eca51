// Tree helpers shared by the certificate and extension units; not part of the
// toolkit's interface.
#pragma once

#include <string>
#include <string_view>

#include "toolkit/asn1/CvASN1Tree.h"

namespace corvane::x509_detail {

// The node's content: its children serialised one after another.
std::string ContentOf(const TOvASN1ConstrainedTag& node);
// Appends a copy of node (with its whole subtree) as the last child of parent.
void CopyInto(const TOvASN1CustomTag& node, TOvASN1ConstrainedTag& parent);
// Appends the elements encoded in bytes to parent; false when they do not load.
bool AppendEncoded(TOvASN1ConstrainedTag& parent, std::string_view bytes);

}  // namespace corvane::x509_detail
