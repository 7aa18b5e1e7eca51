// FlateDecode for the streams the PDF layer reads itself (cross-reference and
// object streams) and deflate for streams it writes.
#include "toolkit/pdf/CvPDFCore.h"

#include <algorithm>

#include "toolkit/pdf/CvZlib.h"

namespace corvane {

namespace {

// "Fl" is the inline-image abbreviation; writers put it in stream
// dictionaries too, and other readers accept it there.
bool IsFlateName(TOvPDFName* name) {
  if (!name) return false;
  const std::string text = name->GetName();
  return text == "FlateDecode" || text == "Fl";
}

}  // namespace

bool IsFlateFilter(TOvPDFObject* filter) {
  filter = ResolveValue(filter);
  if (auto* name = dynamic_cast<TOvPDFName*>(filter)) return IsFlateName(name);
  // Files in the wild write [/FlateDecode] as often as /FlateDecode.
  if (auto* array = dynamic_cast<TOvPDFArray*>(filter);
      array && !dynamic_cast<TOvPDFDictionary*>(filter) && array->ItemCount() == 1) {
    return IsFlateName(dynamic_cast<TOvPDFName*>(ResolveValue(array->GetItem(0))));
  }
  return false;
}

std::string DecodeStreamData(TOvPDFStream* stream) {
  TOvPDFObject* filter = GetResolvedEntry(stream->Dictionary, "Filter");
  if (IsFlateFilter(filter)) return DecodeFlate(stream);
  const bool named = dynamic_cast<TOvPDFName*>(filter) != nullptr;
  auto* array = dynamic_cast<TOvPDFArray*>(filter);
  const bool chain = array && !dynamic_cast<TOvPDFDictionary*>(filter) && array->ItemCount() > 0;
  // Any other filter's output read as raw objects would be garbage.
  if (named || chain) throw EOvPDFError("Unsupported encoding filter");
  return stream->GetRawData();
}

std::string DecodeFlate(TOvPDFStream* stream) {
  TOvPDFFile* file = stream->Owner();
  size_t limit = PDF_MAX_INFLATE_SIZE;
  if (file)
    limit = std::min(limit, static_cast<size_t>(std::max<int64_t>(file->InflateBudget(), 0)));
  std::string data = ZlibDecompress(stream->GetRawData(), limit);
  if (file) file->SetInflateBudget(file->InflateBudget() - static_cast<int64_t>(data.size()));
  return data;
}

void CompressStream(TOvPDFStream* stream, bool appendLineEnd) {
  if (!stream || !stream->Dictionary || GetEntry(stream->Dictionary, "Filter")) return;
  std::string data = stream->GetRawData();
  if (appendLineEnd) data += "\r\n";
  TCvZlibState state;
  DeflateInit(state, 6);
  std::string compressed;
  compressed.reserve(static_cast<size_t>(static_cast<double>(data.size()) * 1.003) + 12);
  int64_t produced = 0;
  DeflateChunks(state, data, compressed, produced);
  std::string finish;
  DeflateFinish(state, finish, produced);
  compressed += finish;
  stream->SetContent(compressed);
  AddNameEntry(stream->Dictionary, "Filter", "FlateDecode");
}

}  // namespace corvane
