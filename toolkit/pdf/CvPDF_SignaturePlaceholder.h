// The space a new signature value reserves in its update, and how it is
// filled once the update is written (not part of the toolkit's interface).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "toolkit/pdf/CvPDF.h"

namespace corvane::sigimpl {

// A /Contents hex string of N zero bytes and a fixed-width /ByteRange in a
// value dictionary. Nothing is inserted or removed after the update is
// written: the byte ranges and the value overwrite the placeholders in place,
// so every offset of the file stays valid.
//
// Reserve puts the placeholders into the value; the file writer writes them;
// PatchByteRange names the written /Contents; Hash feeds every byte outside
// it to the handler; WriteValue puts the value into it. Sign does the last
// three in that order.
class TCvSignaturePlaceholder {
 public:
  // The /ByteRange placeholder: "[", then kRangeNumbers times a 0 followed
  // by kRangePadding spaces, then "]". The four numbers are written over it.
  static constexpr size_t kRangeNumbers = 4;
  static constexpr size_t kRangePadding = 10;
  static constexpr int64_t kRangeWidth = 2 + kRangeNumbers * (1 + kRangePadding);
  static_assert(kRangeWidth == 46);
  // Far above any real signature; keeps a broken estimate from reserving gigabytes.
  static constexpr int64_t kMaxValueSize = int64_t{1} << 24;
  // The signed bytes are read and hashed in pieces of this size.
  static constexpr size_t kHashChunk = 8192;

  // Adds /Contents (size zero bytes, written in hexadecimal) and /ByteRange
  // to value. A size of 0 or above kMaxValueSize is refused.
  void Reserve(TOvPDFFile& file, TOvPDFDictionary* value, int64_t size);
  bool Reserved() const { return contents_ && range_; }

  // Once the update is written: the absolute offset and the written length
  // of the /Contents string, angle brackets included.
  int64_t ContentsOffset() const;
  int64_t ContentsLength() const;

  // Writes [0 C C+L S-C-L] over the /ByteRange placeholder, padded to its
  // width (S the size of out); returns the two ranges it names.
  std::vector<TOvPDFByteRange> PatchByteRange(TOvStream& out) const;
  // Feeds the bytes of the ranges to the handler's running hash (HashInit,
  // HashUpdate per piece); returns HashFinal.
  static ByteString Hash(TOvStream& out, TOvPDFSecurityHandler& handler,
                         const std::vector<TOvPDFByteRange>& ranges);
  // Writes the value, padded with zero bytes to the reservation, over the
  // /Contents placeholder. A value larger than the reservation is refused.
  void WriteValue(TOvStream& out, std::string_view value) const;
  // PatchByteRange, then BeginSigning(file), Hash, SignDigest, WriteValue and
  // ReadBack; returns the byte ranges.
  std::vector<TOvPDFByteRange> Sign(TOvStream& out, TOvPDFSecurityHandler& handler,
                                    TOvPDFFile* file) const;
  // Reads the written value dictionary back from out, as a verifier reads
  // it: the byte range must have its strict shape and name ranges, /Contents
  // must decode to value, and a public-key handler's value must verify for
  // digest. The file is not hashed again. Raises EOvPDFDocumentError (or the
  // handler's error) with the cause.
  void ReadBack(TOvStream& out, TOvPDFSecurityHandler& handler,
                const std::vector<TOvPDFByteRange>& ranges, std::string_view value,
                std::string_view digest) const;

 private:
  // The placeholders must have been reserved and written.
  void CheckWritten() const;

  TOvPDFDictionary* value_ = nullptr;
  TOvPDFString* contents_ = nullptr;
  TOvPDFArray* range_ = nullptr;
};

// Test-only: while set, the last byte of every new signature value is
// flipped before it is written, so that its read-back must refuse it.
void SetCorruptSignatureValueForTesting(bool corrupt);

}  // namespace corvane::sigimpl
