// The shape of a signature dictionary as it stands in the file's bytes: the
// /ByteRange must be [0 a b c] with a the offset of the "<" of /Contents, b
// the offset just after its ">" and b + c the end of the revision that holds
// the dictionary (its %%EOF and end of line). The bytes are read as they are,
// not through the object parser, so that a key given twice, a range that
// leaves out more or less than the signature value, or a value the parser
// would normalise, is seen.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"

namespace corvane {

class TOvPDFDictionary;

struct TOvPDFSignatureShape {
  // The four /ByteRange numbers as written.
  int64_t ByteRange[4] = {0, 0, 0, 0};
  // Offsets of the "<" of /Contents and just after its ">".
  int64_t ContentsStart = -1;
  int64_t ContentsEnd = -1;
  // Just after the %%EOF line of the revision holding the dictionary.
  int64_t RevisionEnd = -1;
  // /Contents decoded (whitespace between the digits ignored).
  ByteString Contents;
  // Empty when the shape is sound; else what is wrong, in a few words.
  std::string Problem;
  bool Sound() const { return Problem.empty(); }
};

// Reads the signature dictionary of the indirect object whose "N G obj" (or
// just its "obj") starts at objectOffset in file (the position of file is kept). Never
// throws for malformed bytes: the result says what is wrong.
TOvPDFSignatureShape ReadSignatureShape(TOvStream& file, int64_t objectOffset);

// The same for a signature dictionary read from file: it must be an indirect
// object of its own, not a member of an object stream.
TOvPDFSignatureShape ReadSignatureShape(TOvStream& file, const TOvPDFDictionary* sigDict);

}  // namespace corvane
