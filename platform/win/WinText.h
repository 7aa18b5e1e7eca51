// Text conversion between the UTF-8 the program works in and the UTF-16 of
// the system's calls.
#pragma once

#include <string>
#include <string_view>

namespace platform::win {

// Invalid sequences become U+FFFD (UTF-8 to UTF-16) or "?" the other way.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// The system's text for an error code, without the trailing line break.
std::string ErrorText(unsigned long code);
// A runtime errno for a system error code, for the callers that read errno.
int ErrnoOf(unsigned long code);

}  // namespace platform::win
