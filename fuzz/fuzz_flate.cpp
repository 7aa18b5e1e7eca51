// Inflates arbitrary bytes with the size limit and runs the PNG predictor over
// the result, as cross-reference streams are decoded.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "toolkit/common/CvErrors.h"
#include "toolkit/pdf/CvPDFUtils.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the predictor columns; the rest is zlib data.
  const int64_t columns = data[0] % 16 - 1;
  const int64_t predictor = data[1] % 16;
  const std::string packed(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string plain;
  try {
    plain = ZlibDecompress(packed, 1 << 20);
  } catch (const EOvPDFError&) {
    return 0;
  } catch (const ECvZlibError&) {
    return 0;
  } catch (const EAbort&) {
    return 0;
  }
  try {
    ApplyPredictor(plain, predictor, columns);
  } catch (const EOvPDFError&) {
  }
  // What was inflated deflates and inflates back to itself.
  if (ZlibDecompress(ZlibCompress(plain), plain.size()) != plain) __builtin_trap();
  return 0;
}
