#include "app/core/SignerReporter.h"

namespace tavra {

std::string ApplicationErrorText(const std::string& text) {
  // Compared as unsigned bytes: the last byte of a multi-byte UTF-8 character
  // is above "." just as the character itself is.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') return text + ".";
  return text;
}

std::string ApplicationTitle(const std::string& executablePath) {
  const auto slash = executablePath.rfind('/');
  std::string name = slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace tavra
