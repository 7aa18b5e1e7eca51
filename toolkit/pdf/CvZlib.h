// Thin wrapper over zlib for FlateDecode (RFC 1950 around RFC 1951 data).
// The wrapper raises plain runtime errors; the PDF layer decides which of them
// become EOvPDFError.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane {

// A zlib failure ("Compression failed, deflate returned [%d]" and the inflate
// counterpart). Deliberately outside the ECorvaneError tree.
class ECvZlibError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The silent abort of the runtime ("Operation aborted"): inflate could make no
// progress, typically because the compressed data ends early.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// One zlib state for the duration of one compression or decompression. The
// destructor ends a state that is still active, so exceptions never leak it.
class TCvZlibState {
 public:
  TCvZlibState() = default;
  ~TCvZlibState();
  TCvZlibState(const TCvZlibState&) = delete;
  TCvZlibState& operator=(const TCvZlibState&) = delete;

  z_stream Stream{};
  enum class TMode { None, Deflate, Inflate } Mode = TMode::None;
};

inline constexpr size_t CV_DEFLATE_CHUNK = 65536;
inline constexpr size_t CV_DEFLATE_FINISH_CHUNK = 4096;
inline constexpr size_t CV_INFLATE_CHUNK = 70000;

// Level outside 1..9 becomes 6; method 8, window bits 15, memory level 8,
// default strategy, so the output carries the zlib header and Adler-32.
void DeflateInit(TCvZlibState& state, int level);
// Feeds all of input with partial flushes, appending the output.
void DeflateChunks(TCvZlibState& state, std::string_view input, std::string& output,
                   int64_t& produced);
// Finishes the stream, appends the remaining output and ends the state.
void DeflateFinish(TCvZlibState& state, std::string& output, int64_t& produced);

// Receives each chunk of inflated output.
using TCvInflateSink = std::function<void(const char* data, size_t size)>;

void InflateInit(TCvZlibState& state, bool zlibHeader);
// Inflates until the input is used up or the stream ends. Z_BUF_ERROR raises
// EAbort; any other failure raises ECvZlibError.
void InflateAll(TCvZlibState& state, std::string_view input, const TCvInflateSink& sink);
void InflateEnd(TCvZlibState& state);

// Convenience forms used by the PDF layer and the tests.
std::string ZlibCompress(std::string_view data, int level = 6);
// Inflates zlib data; output beyond limit bytes raises EOvPDFError
// "Decompression error" so that a deflate bomb cannot exhaust memory.
std::string ZlibDecompress(std::string_view data, size_t limit);
// Inflates only the first keep bytes of zlib data; truncated tells whether
// the data would have given more. Errors past that point go unnoticed.
std::string ZlibDecompressPrefix(std::string_view data, size_t keep, bool& truncated);

}  // namespace corvane
