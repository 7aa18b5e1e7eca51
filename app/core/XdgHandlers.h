// Whether the desktop can open web pages and mail addresses: the default
// handler of a MIME type as the XDG MIME Applications specification (1.0.1)
// finds it through mimeapps.list files, then added associations, then the
// mimeinfo.cache files. A handler counts only when its .desktop file exists.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tavra {

// The folders the lookup reads, as the XDG Base Directory specification names
// them (absolute paths only).
struct TXdgEnvironment {
  std::string ConfigHome;
  std::vector<std::string> ConfigDirs;
  std::string DataHome;
  std::vector<std::string> DataDirs;
  std::vector<std::string> CurrentDesktops;  // lower case, most important first

  static TXdgEnvironment FromProcess();
};

// The path of the .desktop file that handles the MIME type; empty when none.
std::string FindDefaultHandler(const TXdgEnvironment& environment, const std::string& mimeType);

// What a link label asks before it shows itself as a link.
class IHandlerDetector {
 public:
  virtual ~IHandlerDetector() = default;
  virtual bool WebLinksOpenable() = 0;
  virtual bool MailLinksOpenable() = 0;
};

// Web: x-scheme-handler/http, else text/html. Mail: x-scheme-handler/mailto.
class TXdgHandlerDetector final : public IHandlerDetector {
 public:
  TXdgHandlerDetector() : environment_(TXdgEnvironment::FromProcess()) {}
  explicit TXdgHandlerDetector(TXdgEnvironment environment)
      : environment_(std::move(environment)) {}
  bool WebLinksOpenable() override;
  bool MailLinksOpenable() override;

 private:
  TXdgEnvironment environment_;
};

}  // namespace tavra
