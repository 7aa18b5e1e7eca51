// The document security store (ISO 32000-2 12.8.4.3): /DSS in the catalog
// with /Certs, /OCSPs and /CRLs arrays of streams and a /VRI dictionary with
// one entry per signature, keyed by the uppercase hex SHA-1 of the bytes of
// the signature's /Contents string. It is added in an incremental update of
// its own; an existing store is extended, never replaced, and an item
// already stored is referenced again rather than written twice.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pki/CvValidationData.h"

namespace corvane {

// The VRI key of a signature whose /Contents string holds these bytes (the
// decoded string, padding included).
std::string DSSVRIKey(std::string_view contentsBytes);

struct TCvDSSEntry {
  ByteString SignatureContents;  // the /Contents bytes of the signature it serves
  TCvValidationData Data;
};

// Everything the document's store holds (all revisions' view, i.e. the
// latest), empty when there is none. A damaged store reads as far as it
// goes; nothing raises for what a file holds.
TCvValidationData ReadDSS(TOvPDFDocument& document);
// The items the store's /VRI entry for that signature names; empty when none.
TCvValidationData ReadDSSForSignature(TOvPDFDocument& document, std::string_view contentsBytes);

// Adds the items of entries to the document's store (made when missing), each
// with its /VRI entry; Close(true) then writes it as the next update.
void AddDSS(TOvPDFDocument& document, const std::vector<TCvDSSEntry>& entries);

}  // namespace corvane
