#include "toolkit/pdf/CvZlib.h"

#include <algorithm>
#include <limits>

#include "toolkit/common/CvErrors.h"

namespace corvane {

namespace {

[[noreturn]] void DeflateFailed(int code) {
  throw ECvZlibError("Compression failed, deflate returned [" + std::to_string(code) + "]");
}

[[noreturn]] void InflateFailed(int code) {
  throw ECvZlibError("Decompression failed, inflate returned [" + std::to_string(code) + "]");
}

// zlib counts in uInt; feed huge inputs in slices that fit.
constexpr size_t kMaxSlice = std::numeric_limits<uInt>::max() / 2;

}  // namespace

TCvZlibState::~TCvZlibState() {
  if (Mode == TMode::Deflate) deflateEnd(&Stream);
  if (Mode == TMode::Inflate) inflateEnd(&Stream);
}

void DeflateInit(TCvZlibState& state, int level) {
  if (level < 1 || level > 9) level = 6;
  state.Stream = z_stream{};
  const int rc = deflateInit2(&state.Stream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  if (rc != Z_OK) DeflateFailed(rc);
  state.Mode = TCvZlibState::TMode::Deflate;
}

void DeflateChunks(TCvZlibState& state, std::string_view input, std::string& output,
                   int64_t& produced) {
  z_stream& z = state.Stream;
  std::string chunk(CV_DEFLATE_CHUNK, '\0');
  size_t offset = 0;
  do {
    const size_t slice = std::min(input.size() - offset, kMaxSlice);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + offset));
    z.avail_in = static_cast<uInt>(slice);
    offset += slice;
    // Partial flush per slice; keep calling while a call fills the whole chunk.
    do {
      z.next_out = reinterpret_cast<Bytef*>(chunk.data());
      z.avail_out = static_cast<uInt>(chunk.size());
      const int rc = deflate(&z, Z_PARTIAL_FLUSH);
      if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) DeflateFailed(rc);
      const size_t have = chunk.size() - z.avail_out;
      output.append(chunk.data(), have);
      produced += static_cast<int64_t>(have);
    } while (z.avail_out == 0);
  } while (offset < input.size());
}

void DeflateFinish(TCvZlibState& state, std::string& output, int64_t& produced) {
  z_stream& z = state.Stream;
  std::string chunk(CV_DEFLATE_FINISH_CHUNK, '\0');
  z.next_in = nullptr;
  z.avail_in = 0;
  int rc = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
    rc = deflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END && rc != Z_OK) DeflateFailed(rc);
    const size_t have = chunk.size() - z.avail_out;
    output.append(chunk.data(), have);
    produced += static_cast<int64_t>(have);
    // Z_OK with room left in the chunk means deflate cannot finish.
    if (rc == Z_OK && z.avail_out != 0) DeflateFailed(rc);
  } while (rc != Z_STREAM_END);
  deflateEnd(&z);
  state.Mode = TCvZlibState::TMode::None;
}

void InflateInit(TCvZlibState& state, bool zlibHeader) {
  state.Stream = z_stream{};
  const int rc = zlibHeader ? inflateInit(&state.Stream) : inflateInit2(&state.Stream, -15);
  if (rc != Z_OK) InflateFailed(rc);
  state.Mode = TCvZlibState::TMode::Inflate;
}

void InflateAll(TCvZlibState& state, std::string_view input, const TCvInflateSink& sink) {
  z_stream& z = state.Stream;
  std::string chunk(CV_INFLATE_CHUNK, '\0');
  size_t offset = 0;
  bool ended = false;
  while (!ended && (offset < input.size() || z.avail_in > 0)) {
    if (z.avail_in == 0) {
      const size_t slice = std::min(input.size() - offset, kMaxSlice);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + offset));
      z.avail_in = static_cast<uInt>(slice);
      offset += slice;
    }
    z.next_out = reinterpret_cast<Bytef*>(chunk.data());
    z.avail_out = static_cast<uInt>(chunk.size());
    const int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_BUF_ERROR) throw EAbort();
    if (rc != Z_OK && rc != Z_STREAM_END) InflateFailed(rc);
    const size_t have = chunk.size() - z.avail_out;
    if (have > 0) sink(chunk.data(), have);
    ended = rc == Z_STREAM_END;
  }
}

void InflateEnd(TCvZlibState& state) {
  if (state.Mode == TCvZlibState::TMode::Inflate) inflateEnd(&state.Stream);
  state.Mode = TCvZlibState::TMode::None;
}

std::string ZlibCompress(std::string_view data, int level) {
  TCvZlibState state;
  DeflateInit(state, level);
  std::string output;
  output.reserve(data.size() + data.size() / 300 + 12);
  int64_t produced = 0;
  DeflateChunks(state, data, output, produced);
  DeflateFinish(state, output, produced);
  return output;
}

std::string ZlibDecompress(std::string_view data, size_t limit) {
  TCvZlibState state;
  InflateInit(state, true);
  std::string output;
  InflateAll(state, data, [&](const char* bytes, size_t size) {
    if (size > limit - output.size()) throw EOvPDFError("Decompression error");
    output.append(bytes, size);
  });
  InflateEnd(state);
  return output;
}

std::string ZlibDecompressPrefix(std::string_view data, size_t keep, bool& truncated) {
  struct TEnough {};
  TCvZlibState state;
  InflateInit(state, true);
  std::string output;
  truncated = false;
  try {
    InflateAll(state, data, [&](const char* bytes, size_t size) {
      const size_t room = keep - output.size();
      output.append(bytes, std::min(size, room));
      if (size > room) throw TEnough{};
    });
  } catch (const TEnough&) {
    truncated = true;
  }
  InflateEnd(state);
  return output;
}

}  // namespace corvane
