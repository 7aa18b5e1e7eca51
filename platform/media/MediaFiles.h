// The user's font and image files, made ready for a visible appearance. Each
// file is read whole (within a size limit) and checked before anything is
// written; a file that cannot be used raises EMediaError with a Czech text
// that names the file and says why.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace corvane {
class TOvTrueTypeProgram;
class TOvPDFImage;
}  // namespace corvane

namespace tavra::media {

class EMediaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The font the appearance embeds when none is named (Debian's fonts-dejavu-core).
inline constexpr char kDefaultFontPath[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// Files above this are refused unread.
inline constexpr size_t kMaxMediaFileSize = 32u << 20;
// Pictures wider or taller than this are refused; larger than kMaxImageSide
// on either side they are scaled down while being read, a few rows at a time.
inline constexpr int kMaxImageDimension = 10000;
inline constexpr int kMaxImageSide = 1024;

// A TrueType font (glyf outlines) read with HarfBuzz.
std::shared_ptr<const corvane::TOvTrueTypeProgram> LoadTrueTypeFont(const std::string& path);

// A PNG (decoded, alpha as a soft mask) or a JPEG (passed through as DCT
// data, checked by decoding it at an eighth of its size) as a background.
void LoadImageFile(const std::string& path, corvane::TOvPDFImage& image);

// The whole file, at most kMaxMediaFileSize bytes; what the error says
// begins with what (for example "Obrázek").
std::string ReadMediaFile(const std::string& path, const std::string& what);

}  // namespace tavra::media
