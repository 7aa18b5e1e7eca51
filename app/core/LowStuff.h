// Small services of the signer: the command line, handing a file to its
// default viewer, the serial-number text of a certificate and the text
// conversions between the system code page (UTF-8 here) and UTF-8 proper.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavra {

class ISignerCertificate;

// Command-line state, set once at start before the main window exists.
struct TCommandLine {
  std::string CmdLinePath;    // SIGN value, else SHOW value
  std::string CmdLineOutput;  // PUT value, read only when SIGN gave a value
  bool CmdLineSignMode = false;
  // CmdLinePath is non-empty; cleared when a sign attempt fails before the
  // document is opened, so that later Sign presses no longer end the program.
  bool CmdLineActive = false;
};

// Keeps the process arguments (argv[0] first), as the system delivered them.
void SetProcessArguments(std::vector<std::string> args);
const std::vector<std::string>& ProcessArguments();

// The value glued to the first argument "-<name>..." or "/<name>..." (name
// matched as a prefix, ASCII letters folded); empty when there is none. args[0]
// is the program; the list ends at the first empty argument.
std::string GetSwitchValue(const std::vector<std::string>& args, std::string_view name);
std::string GetSwitchValue(std::string_view name);

// SIGN (with PUT) or else SHOW, from the arguments.
TCommandLine ReadCommandLine(const std::vector<std::string>& args);

// Starts the desktop's opener (xdg-open) detached, with target as its one
// argument; no shell is involved. False when it could not be started.
bool ShellOpen(const std::string& target);
// ShellOpen on the absolute form of the path.
bool ShellOpenFile(const std::string& path);

// Uppercase hex of the stored serial bytes; a 0x00 byte goes in front when the
// first octet is 0x80 or above, and empty content reads as one 0x00 byte (the
// rule is idempotent, so already padded bytes come out the same).
std::string SerialNumberText(std::string_view serialBytes);
std::string SerialNumberText(const ISignerCertificate& certificate);

// System code page -> UTF-8 for PDF text: the code page is UTF-8 here, so valid
// text passes unchanged and each invalid sequence becomes U+FFFD.
std::string ToUtf8Text(std::string_view text);
// UTF-8 -> system code page for certificate name fields: invalid sequences
// become "?".
std::string FromUtf8Text(std::string_view text);

// Trims leading and trailing blanks and control characters (bytes <= 0x20).
std::string TrimText(std::string_view text);
// Equal length and equal bytes after folding only ASCII a-z to A-Z.
bool SameTextAscii(std::string_view a, std::string_view b);

}  // namespace tavra
