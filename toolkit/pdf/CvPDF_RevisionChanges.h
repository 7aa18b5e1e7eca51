// What the updates after a signed revision changed, and whether the signature
// allows it (ISO 32000-1 7.5.6, 12.8.2.2).
//
// A signature covers the bytes up to the end of its revision; anything
// appended later can change what a viewer shows while the signature still
// verifies. CompareRevisionWithFinal opens the signed revision as a file of
// its own (a bounded view of the first bytes, nothing copied) and the whole
// file, walks the cross-reference sections written after the revision and
// judges every object they add, change or free.
//
// Allowed at every level:
//  - a /DSS dictionary and everything in it, the catalog gaining /DSS;
//  - document timestamp signatures (/Type /DocTimeStamp) with their fields
//    and widgets;
//  - changes of the document information dictionary (the trailer's /Info)
//    and of the XMP metadata stream (the catalog's /Metadata): viewers show
//    neither as page content and allow both;
//  - objects written again with the same value.
// Allowed when the revision carries no certification, or one with /P 2 or 3:
//  - later signatures: new signature fields with their widgets and signature
//    dictionaries, empty signature fields filled, and what they need: the
//    form's /Fields growing by them, /SigFlags, /DR and /DA of the form, the
//    page's /Annots growing by their widgets;
//  - form filling: /V, /AS and /AP of existing fields and widgets, and
//    /NeedAppearances of the form.
// Allowed when the revision carries no certification, or one with /P 3:
//  - annotations other than widgets added, changed or removed.
// An approval signature without a certification thus allows what the most
// permissive certification does, as viewers treat such documents.
//
// Anything else is not allowed, among it: page content streams, resources,
// fonts, the page tree, catalog entries other than /AcroForm, /DSS,
// /Metadata and /Perms (and /Perms only when its /DocMDP stays), the trailer
// naming another catalog or encryption, objects freed, objects that were free
// in the signed revision defined again, an object redefined as another kind
// (a widget turned into a stream), a section that brings no new object (it
// only marks objects free or in use again), form fields other than signature
// fields added, and a damaged file whose later sections cannot be followed.
//
// The work is linear in the number of objects: every object is compared at
// most once, every walk keeps the objects it has seen, and every tree walk is
// bounded in depth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/common/CvStream.h"

namespace corvane {

enum class TOvPDFChangeVerdict {
  cvNone,        // nothing was written after the revision
  cvAllowed,     // later updates, all of them allowed
  cvNotAllowed,  // at least one change the signature does not allow
};

struct TOvPDFRevisionChanges {
  TOvPDFChangeVerdict Verdict = TOvPDFChangeVerdict::cvNone;
  // Short descriptions ("page 1 content changed", "signature Signature2
  // added"), each once, in the order they were found.
  std::vector<std::string> Allowed;
  std::vector<std::string> NotAllowed;
  // The /P of the certification the revision carries; 0 without one.
  int32_t Permission = 0;

  // "no", "yes, allowed (...)" or "yes, NOT allowed (...)".
  std::string Summary() const;
};

// Compares the revision that ends at revisionEnd (the end of the last byte
// range of its signature) with the whole of file. Never raises for malformed
// input: what cannot be read is a change that is not allowed. The position of
// file is kept.
TOvPDFRevisionChanges CompareRevisionWithFinal(TOvStream& file, int64_t revisionEnd);

}  // namespace corvane
