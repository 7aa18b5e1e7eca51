#include "app/core/XdgHandlers.h"

#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/PlatformFiles.h"

namespace tavra {

namespace {

// Guards against a hostile tree: desktop ids have few dashes in practice.
constexpr int kMaxDesktopIdDepth = 16;

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find(separator, start);
    const std::string part =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// Relative entries are invalid and ignored (XDG Base Directory specification).
std::vector<std::string> AbsoluteDirs(const std::string& list, const std::string& fallback) {
  std::vector<std::string> dirs;
  for (const auto& dir : SplitText(list.empty() ? fallback : list, ':')) {
    if (dir[0] == '/') dirs.push_back(dir);
  }
  return dirs;
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// One group of a desktop-entry style file: key -> value.
using TGroup = std::vector<std::pair<std::string, std::string>>;

// Reads the named group of a key file; missing file or group gives nothing.
TGroup ReadGroup(const std::string& path, const std::string& group) {
  TGroup entries;
  std::ifstream in(path);
  if (!in) return entries;
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inside = line == "[" + group + "]";
      continue;
    }
    if (!inside) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t value_start = eq + 1;
    while (value_start < line.size() && line[value_start] == ' ') ++value_start;
    entries.emplace_back(key, line.substr(value_start));
  }
  return entries;
}

std::vector<std::string> GroupValues(const TGroup& entries, const std::string& key) {
  std::vector<std::string> values;
  for (const auto& [k, v] : entries) {
    if (k == key) {
      for (auto& id : SplitText(v, ';')) values.push_back(id);
    }
  }
  return values;
}

// The applications folders, most important first.
std::vector<std::string> ApplicationDirs(const TXdgEnvironment& env) {
  std::vector<std::string> dirs;
  if (!env.DataHome.empty()) dirs.push_back(env.DataHome + "/applications");
  for (const auto& dir : env.DataDirs) dirs.push_back(dir + "/applications");
  return dirs;
}

// A desktop id names "<dir>/a-b.desktop" or, for files in subfolders,
// "<dir>/a/b.desktop" (the folder separators became dashes).
std::string FindDesktopFileIn(const std::string& dir, const std::string& id, int depth) {
  if (depth > kMaxDesktopIdDepth) return {};
  const std::string direct = dir + "/" + id;
  if (platform::FileExists(direct)) return direct;
  for (size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1)) {
    const std::string sub = dir + "/" + id.substr(0, dash);
    if (!platform::DirectoryExists(sub)) continue;
    std::string found = FindDesktopFileIn(sub, id.substr(dash + 1), depth + 1);
    if (!found.empty()) return found;
  }
  return {};
}

std::string FindDesktopFile(const TXdgEnvironment& env, const std::string& id) {
  if (id.empty() || id.find('/') != std::string::npos || id.find("..") != std::string::npos) {
    return {};
  }
  for (const auto& dir : ApplicationDirs(env)) {
    std::string found = FindDesktopFileIn(dir, id, 0);
    if (!found.empty()) return found;
  }
  return {};
}

// mimeapps.list files in order of precedence.
std::vector<std::string> MimeAppsFiles(const TXdgEnvironment& env) {
  std::vector<std::string> folders;
  if (!env.ConfigHome.empty()) folders.push_back(env.ConfigHome);
  for (const auto& dir : env.ConfigDirs) folders.push_back(dir);
  for (const auto& dir : ApplicationDirs(env)) folders.push_back(dir);
  std::vector<std::string> files;
  for (const auto& folder : folders) {
    for (const auto& desktop : env.CurrentDesktops) {
      files.push_back(folder + "/" + desktop + "-mimeapps.list");
    }
    files.push_back(folder + "/mimeapps.list");
  }
  return files;
}

}  // namespace

TXdgEnvironment TXdgEnvironment::FromProcess() {
  TXdgEnvironment env;
  const std::string home = EnvText("HOME");
  env.ConfigHome = platform::XdgConfigHome();
  env.ConfigDirs = AbsoluteDirs(EnvText("XDG_CONFIG_DIRS"), "/etc/xdg");
  const std::string data_home = EnvText("XDG_DATA_HOME");
  env.DataHome = (!data_home.empty() && data_home[0] == '/')
                     ? data_home
                     : (home.empty() ? std::string() : home + "/.local/share");
  env.DataDirs = AbsoluteDirs(EnvText("XDG_DATA_DIRS"), "/usr/local/share:/usr/share");
  for (const auto& desktop : SplitText(EnvText("XDG_CURRENT_DESKTOP"), ':')) {
    env.CurrentDesktops.push_back(LowerAscii(desktop));
  }
  return env;
}

std::string FindDefaultHandler(const TXdgEnvironment& environment, const std::string& mimeType) {
  const std::vector<std::string> files = MimeAppsFiles(environment);

  // 1. The first installed default, in file order.
  for (const auto& file : files) {
    const TGroup defaults = ReadGroup(file, "Default Applications");
    for (const auto& id : GroupValues(defaults, mimeType)) {
      std::string found = FindDesktopFile(environment, id);
      if (!found.empty()) return found;
    }
  }

  // 2. Added associations, unless a file of equal or higher precedence removed them.
  std::set<std::string> removed;
  for (const auto& file : files) {
    for (const auto& id : GroupValues(ReadGroup(file, "Removed Associations"), mimeType)) {
      removed.insert(id);
    }
    for (const auto& id : GroupValues(ReadGroup(file, "Added Associations"), mimeType)) {
      if (removed.count(id) != 0) continue;
      std::string found = FindDesktopFile(environment, id);
      if (!found.empty()) return found;
    }
  }

  // 3. The caches that update-desktop-database writes.
  for (const auto& dir : ApplicationDirs(environment)) {
    for (const auto& id : GroupValues(ReadGroup(dir + "/mimeinfo.cache", "MIME Cache"), mimeType)) {
      if (removed.count(id) != 0) continue;
      std::string found = FindDesktopFile(environment, id);
      if (!found.empty()) return found;
    }
  }
  return {};
}

bool TXdgHandlerDetector::WebLinksOpenable() {
  return !FindDefaultHandler(environment_, "x-scheme-handler/http").empty() ||
         !FindDefaultHandler(environment_, "text/html").empty();
}

bool TXdgHandlerDetector::MailLinksOpenable() {
  return !FindDefaultHandler(environment_, "x-scheme-handler/mailto").empty();
}

}  // namespace tavra
