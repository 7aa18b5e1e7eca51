// Advance widths of the standard Helvetica, the built-in font of the
// appearance, from the public metrics (AFM) of the standard 14 fonts: what a
// reader lays the text out with when the font is not embedded.
#include <cstdint>

#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane::sigimpl {

namespace {

// U+0020..U+007E as WinAnsiEncoding shows them (39 is quotesingle, 96 grave).
constexpr int16_t kAscii[95] = {
    278,  278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // sp../
    556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0..?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @..O
    667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // P.._
    333,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // `..o
    556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};      // p..~

// U+00A0..U+00FF.
constexpr int16_t kLatin1[96] = {
    278, 333, 556, 556, 556, 556, 260,  556, 333, 737, 370, 556, 584, 333, 737, 333,   // A0
    400, 584, 333, 333, 333, 556, 537,  278, 333, 333, 365, 556, 834, 834, 834, 611,   // B0
    667, 667, 667, 667, 667, 667, 1000, 722, 667, 667, 667, 667, 278, 278, 278, 278,   // C0
    722, 722, 778, 778, 778, 778, 778,  584, 778, 722, 722, 722, 722, 667, 667, 611,   // D0
    556, 556, 556, 556, 556, 556, 889,  500, 556, 556, 556, 556, 278, 278, 278, 278,   // E0
    556, 556, 556, 556, 556, 556, 556,  584, 611, 556, 556, 556, 556, 500, 556, 500};  // F0

// U+0100..U+017F: the base letter of each, in the order of the block.
constexpr char kExtendedBase[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlLlLlNnNnNnnNnOoOoOoOoRrRrRrSsSs"
    "SsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzl";
static_assert(sizeof kExtendedBase == 129);

// Letters whose width is not their base letter's.
struct TWidthException {
  uint16_t CodePoint;
  int16_t Width;
};
constexpr TWidthException kExceptions[] = {
    {0x010F, 643},                                                  // dcaron
    {0x0129, 278},  {0x012B, 278},  {0x012D, 278},  {0x0131, 278},  // dotless i forms
    {0x0132, 778},  {0x0133, 444},                                  // IJ ij
    {0x013E, 299},                                                  // lcaron
    {0x0152, 1000}, {0x0153, 944},                                  // OE oe
    {0x0165, 317},                                                  // tcaron
    {0x0192, 556},  {0x02C6, 333},  {0x02C7, 333},  {0x02D8, 333},  {0x02D9, 333},  {0x02DA, 333},
    {0x02DB, 333},  {0x02DC, 333},  {0x02DD, 333},  {0x2013, 556},  {0x2014, 1000}, {0x2018, 222},
    {0x2019, 222},  {0x201A, 222},  {0x201C, 333},  {0x201D, 333},  {0x201E, 333},  {0x2020, 556},
    {0x2021, 556},  {0x2022, 350},  {0x2026, 1000}, {0x2030, 1000}, {0x2039, 333},  {0x203A, 333},
    {0x20AC, 556},  {0x2122, 1000},
};

}  // namespace

int32_t HelveticaWidth(uint32_t codePoint) {
  for (const TWidthException& e : kExceptions) {
    if (e.CodePoint == codePoint) return e.Width;
  }
  if (codePoint >= 0x20 && codePoint <= 0x7E) return kAscii[codePoint - 0x20];
  if (codePoint >= 0xA0 && codePoint <= 0xFF) return kLatin1[codePoint - 0xA0];
  if (codePoint >= 0x100 && codePoint <= 0x17F) {
    const char base = kExtendedBase[codePoint - 0x100];
    return kAscii[static_cast<unsigned char>(base) - 0x20];
  }
  // A character the font does not have: counted wide, so that whatever a
  // reader puts in its place still fits.
  return 1000;
}

}  // namespace corvane::sigimpl
