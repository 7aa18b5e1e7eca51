// The reserved placeholder of a new signature value: reserving it, naming the
// byte ranges around it, hashing them and writing the value into it.
#include "toolkit/pdf/CvPDF_SignaturePlaceholder.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvPDFSecurity.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"
#include "toolkit/pdf/CvPDF_SignatureShape.h"

namespace corvane::sigimpl {

namespace {

// Each failure of the patching names its own step.
constexpr char kTooLarge[] = "OvPDFDocument.BuildSignatureField.1";
constexpr char kRangeWidthChanged[] = "OvPDFDocument.InsertActualSignatureInformation.1";
constexpr char kValueTooLong[] = "OvPDFDocument.InsertActualSignatureInformation.2";
constexpr char kContentsWidthChanged[] = "OvPDFDocument.InsertActualSignatureInformation.3";
constexpr char kNotReserved[] = "OvPDFDocument.InsertActualSignatureInformation.6";
constexpr char kRangeTooLong[] = "OvPDFDocument.InsertActualSignatureInformation.7";

std::atomic<bool> g_corruptValue{false};

}  // namespace

void SetCorruptSignatureValueForTesting(bool corrupt) { g_corruptValue = corrupt; }

void TCvSignaturePlaceholder::Reserve(TOvPDFFile& file, TOvPDFDictionary* value, int64_t size) {
  if (size <= 0 || size > kMaxValueSize) InternalError(kTooLarge);
  value_ = value;
  contents_ = file.NewString(std::string(static_cast<size_t>(size), '\0'), 1);
  SetEntry(value, "Contents", contents_);
  TOvPDFArray* range = NewFlatArray(file);
  for (size_t i = 0; i < kRangeNumbers; ++i) {
    TOvPDFReal* zero = file.NewInt(0);
    zero->TrailingSpace.assign(kRangePadding, ' ');
    range->AddItem(zero);
  }
  range->OpenSpace.clear();
  range->LeadingSpace.clear();
  range->TrailingSpace = "\r\n";
  range->SetModified(true);
  range_ = range;
  SetEntry(value, "ByteRange", range);
}

int64_t TCvSignaturePlaceholder::ContentsOffset() const {
  CheckWritten();
  return AbsoluteWriteOffset(contents_);
}

int64_t TCvSignaturePlaceholder::ContentsLength() const {
  CheckWritten();
  return contents_->WriteLength();
}

void TCvSignaturePlaceholder::CheckWritten() const {
  if (!Reserved()) InternalError(kNotReserved);
  if (range_->WriteLength() != kRangeWidth) InternalError(kRangeWidthChanged);
}

std::vector<TOvPDFByteRange> TCvSignaturePlaceholder::PatchByteRange(TOvStream& out) const {
  const int64_t c = ContentsOffset();
  const int64_t l = ContentsLength();
  const int64_t s = out.Size();
  std::string text = "[0 " + std::to_string(c) + " " + std::to_string(c + l) + " " +
                     std::to_string(s - c - l) + "]";
  if (static_cast<int64_t>(text.size()) > kRangeWidth) InternalError(kRangeTooLong);
  text.resize(static_cast<size_t>(kRangeWidth), ' ');
  PatchAt(out, AbsoluteWriteOffset(range_), text);
  return {TOvPDFByteRange{0, c}, TOvPDFByteRange{c + l, s - c - l}};
}

ByteString TCvSignaturePlaceholder::Hash(TOvStream& out, TOvPDFSecurityHandler& handler,
                                         const std::vector<TOvPDFByteRange>& ranges) {
  handler.HashInit();
  {
    const TCvPositionGuard keep(out);
    std::string chunk(kHashChunk, '\0');
    for (const TOvPDFByteRange& range : ranges) {
      out.SetPosition(range.Offset);
      int64_t left = range.Length;
      while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(left, kHashChunk));
        const size_t got = out.Read(chunk.data(), want);
        // Signing fewer bytes than /ByteRange declares would give a value
        // that no verifier accepts, reported as success.
        if (got == 0) throw EOvPDFDocumentError("Cannot read the signed byte ranges");
        if (!handler.HashUpdate(std::string_view(chunk.data(), got))) {
          throw EOvPDFDocumentError("The security handler failed to hash the signed byte ranges");
        }
        left -= static_cast<int64_t>(got);
      }
    }
  }
  return handler.HashFinal();
}

void TCvSignaturePlaceholder::WriteValue(TOvStream& out, std::string_view value) const {
  const int64_t l = ContentsLength();
  const int64_t n = (l - 2) / 2;
  if (static_cast<int64_t>(value.size()) > n) InternalError(kValueTooLong);
  std::string padded(value);
  padded.resize(static_cast<size_t>(n), '\0');
  const std::string text = "<" + Hex(padded) + ">";
  if (static_cast<int64_t>(text.size()) != l) InternalError(kContentsWidthChanged);
  PatchAt(out, ContentsOffset(), text);
}

std::vector<TOvPDFByteRange> TCvSignaturePlaceholder::Sign(TOvStream& out,
                                                           TOvPDFSecurityHandler& handler,
                                                           TOvPDFFile* file) const {
  std::vector<TOvPDFByteRange> ranges = PatchByteRange(out);
  handler.BeginSigning(file);
  const ByteString digest = Hash(out, handler, ranges);
  ByteString value = handler.SignDigest(digest);
  if (g_corruptValue && !value.empty()) value.back() = static_cast<char>(value.back() ^ 1);
  WriteValue(out, value);
  ReadBack(out, handler, ranges, value, digest);
  return ranges;
}

void TCvSignaturePlaceholder::ReadBack(TOvStream& out, TOvPDFSecurityHandler& handler,
                                       const std::vector<TOvPDFByteRange>& ranges,
                                       std::string_view value, std::string_view digest) const {
  const TOvPDFSignatureShape shape = ReadSignatureShape(out, AbsoluteWriteOffset(value_));
  if (!shape.Sound())
    throw EOvPDFDocumentError("The signature written is malformed: " + shape.Problem);
  if (ranges.size() != 2 || shape.ByteRange[1] != ranges[0].Length ||
      shape.ByteRange[2] != ranges[1].Offset || shape.ByteRange[3] != ranges[1].Length)
    throw EOvPDFDocumentError(
        "The signature written is malformed: the byte range is not the one hashed");
  const std::string_view written(shape.Contents);
  if (written.substr(0, value.size()) != value ||
      written.find_first_not_of('\0', value.size()) != std::string_view::npos)
    throw EOvPDFDocumentError("The signature written is not the value that was made");
  if (auto* publicKey = dynamic_cast<TOvPDFPublicKeySecurityHandler*>(&handler))
    publicKey->CheckWrittenValue(written, digest);
}

}  // namespace corvane::sigimpl
