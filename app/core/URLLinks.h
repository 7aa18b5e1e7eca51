// The decisions of a link label that need no window: which kind of address it
// holds, whether it shows as a link, and the text handed to the opener.
#pragma once

#include <string>

namespace tavra {

enum class TUrlLabelType { ultAUTO, ultHTML, ultMAIL };

// ultAUTO: mail when the address is non-empty, contains neither "http:" nor
// "www." and contains "@"; web otherwise. Other kinds stay as they are.
TUrlLabelType EffectiveUrlLabelType(TUrlLabelType labelType, const std::string& address);

// Active: a non-empty address whose kind the desktop can open.
bool UrlLabelIsActiveLink(TUrlLabelType effectiveType, const std::string& address, bool webOpenable,
                          bool mailOpenable);

// The target for the opener: "http://" (web) or "mailto:" (mail) goes in front
// only when the address has no scheme of its own, so "https://x" and
// "HTTP://x" are opened as given.
std::string UrlLabelTarget(TUrlLabelType effectiveType, const std::string& address);

}  // namespace tavra
