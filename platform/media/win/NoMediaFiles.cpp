// The Windows build has no font or picture reader yet: a visible signature
// uses the standard font and no picture; naming either is refused before
// anything is written.
#include <memory>

#include "platform/media/MediaFiles.h"

namespace tavra::media {

std::shared_ptr<const corvane::TOvTrueTypeProgram> LoadTrueTypeFont(const std::string& path) {
  throw EMediaError("Písmo \"" + path + "\" nelze v této verzi pro Windows použít.");
}

void LoadImageFile(const std::string& path, corvane::TOvPDFImage&) {
  throw EMediaError("Obrázek \"" + path + "\" nelze v této verzi pro Windows použít.");
}

std::string ReadMediaFile(const std::string& path, const std::string& what) {
  throw EMediaError(what + " \"" + path + "\" nelze v této verzi pro Windows použít.");
}

}  // namespace tavra::media
