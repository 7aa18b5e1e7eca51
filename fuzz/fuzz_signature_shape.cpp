// Reads arbitrary bytes as a signature dictionary and the revision around it,
// from the start and from each "obj" the bytes hold (a bounded number).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF_SignatureShape.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TOvMemoryStream stream{std::string(bytes)};
  (void)ReadSignatureShape(stream, int64_t{0});
  size_t at = 0;
  for (int n = 0; n < 16 && (at = bytes.find("obj", at)) != std::string_view::npos; ++n, ++at)
    (void)ReadSignatureShape(stream, static_cast<int64_t>(at));
  return 0;
}
