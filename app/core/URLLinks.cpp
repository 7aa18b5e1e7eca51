#include "app/core/URLLinks.h"

#include "app/core/LowStuff.h"

namespace tavra {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// scheme "://" as RFC 3986 3.1 spells a scheme: ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ).
bool HasWebScheme(const std::string& address) {
  if (address.empty() || !IsAsciiLetter(address[0])) return false;
  size_t i = 1;
  while (i < address.size() && (IsAsciiLetter(address[i]) || IsAsciiDigit(address[i]) ||
                                address[i] == '+' || address[i] == '-' || address[i] == '.')) {
    ++i;
  }
  return address.compare(i, 3, "://") == 0;
}

bool HasMailScheme(const std::string& address) {
  return address.size() >= 7 && SameTextAscii(std::string_view(address).substr(0, 7), "mailto:");
}

}  // namespace

TUrlLabelType EffectiveUrlLabelType(TUrlLabelType labelType, const std::string& address) {
  if (labelType != TUrlLabelType::ultAUTO) return labelType;
  const bool mail = !address.empty() && address.find("http:") == std::string::npos &&
                    address.find("www.") == std::string::npos &&
                    address.find('@') != std::string::npos;
  return mail ? TUrlLabelType::ultMAIL : TUrlLabelType::ultHTML;
}

bool UrlLabelIsActiveLink(TUrlLabelType effectiveType, const std::string& address, bool webOpenable,
                          bool mailOpenable) {
  if (address.empty()) return false;
  return effectiveType == TUrlLabelType::ultMAIL ? mailOpenable : webOpenable;
}

std::string UrlLabelTarget(TUrlLabelType effectiveType, const std::string& address) {
  if (effectiveType == TUrlLabelType::ultMAIL) {
    return HasMailScheme(address) ? address : "mailto:" + address;
  }
  return HasWebScheme(address) ? address : "http://" + address;
}

}  // namespace tavra
