#include "platform/keystore/NssDiscovery.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Real profiles.ini files are a few hundred bytes; anything this big is not one.
constexpr std::uintmax_t kMaxIniSize = 1 << 20;

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

struct IniSection {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Keys;
  std::string Get(const std::string& key) const {
    for (const auto& [k, v] : Keys)
      if (k == key) return v;
    return {};
  }
};

// Sections in file order; false with *why set when the file is not an INI file.
bool ParseIni(const std::string& path, std::vector<IniSection>& sections, std::string* why) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    *why = "cannot be read";
    return false;
  }
  if (size > kMaxIniSize) {
    *why = "too large";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot be read";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && StartsWith(line, "\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) {
        *why = "malformed line " + std::to_string(number);
        return false;
      }
      sections.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || sections.empty() ||
        line.find('\0') != std::string::npos) {
      *why = "malformed line " + std::to_string(number);
      return false;
    }
    sections.back().Keys.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return true;
}

std::string HomeFolder(const std::string& given) {
  if (!given.empty()) return given;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return {};
}

struct ProfileRoot {
  const char* Where;
  const char* Folder;  // under the home folder
};

constexpr ProfileRoot kFirefoxRoots[] = {
    {"Firefox", ".mozilla/firefox"},
    {"Firefox (Snap)", "snap/firefox/common/.mozilla/firefox"},
    {"Firefox (Flatpak)", ".var/app/org.mozilla.firefox/.mozilla/firefox"},
};
constexpr ProfileRoot kThunderbirdRoots[] = {
    {"Thunderbird", ".thunderbird"},
    {"Thunderbird (Snap)", "snap/thunderbird/common/.thunderbird"},
    {"Thunderbird (Flatpak)", ".var/app/org.mozilla.Thunderbird/.thunderbird"},
};

class Finder {
 public:
  explicit Finder(const NssDiscovery& how) : how_(how) {
    home_ = HomeFolder(how.Home);
    std::error_code ec;
    if (!home_.empty()) realHome_ = fs::canonical(home_, ec).string();
    if (ec) realHome_.clear();
    log_ = how.Log ? how.Log : [](const std::string& line) { std::cerr << line << '\n'; };
    inspect_ = how.Inspect ? how.Inspect : [](const std::string& dir, KeyStoreCounts& counts) {
      return KeyStore::Instance().Inspect(dir, counts);
    };
  }

  std::string Pki() const { return home_ + "/.pki/nssdb"; }

  static NssDatabase Named(const std::string& dir, const std::string& where) {
    NssDatabase db;
    db.Dir = KeyStore::DatabaseFolder(dir);
    db.Spec = KeyStore::DatabaseSpec(dir);
    db.Where = where;
    return db;
  }

  const char* Environment() const {
    const char* env = std::getenv("TAVRA_NSSDB");
    return env != nullptr && *env != '\0' ? env : nullptr;
  }

  // A database NSS opens in the folder, counted; logs why not otherwise.
  bool Usable(const std::string& folder, const std::string& where, NssDatabase& out) {
    if (!KeyStore::HoldsDatabase(folder)) {
      log_(where + " profile " + folder + " skipped: it holds no certificate database");
      return false;
    }
    out = Named(folder, where);
    const KeyStoreResult result = inspect_(out.Spec, out.Counts);
    if (result != KeyStoreResult::Ok) {
      log_(where + " database " + out.Spec + " skipped: it cannot be opened");
      return false;
    }
    return true;
  }

  // A profile folder inside the home folder (symbolic links followed).
  bool Inside(const std::string& folder, const std::string& where) {
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(real, ec)) {
      log_(where + " profile " + folder + " skipped: no such folder");
      return false;
    }
    const std::string text = real.string();
    if (realHome_.empty() || !StartsWith(text, realHome_ + "/")) {
      log_(where + " profile " + folder + " skipped: it is outside the home folder");
      return false;
    }
    return true;
  }

  // The databases of the roots' profiles: the default of each root, or all.
  template <size_t N>
  void Profiles(const ProfileRoot (&roots)[N], bool all, std::vector<NssDatabase>& found) {
    if (home_.empty()) return;
    for (const ProfileRoot& root : roots) {
      const std::string ini = home_ + "/" + root.Folder + "/profiles.ini";
      for (const NssProfile& profile : ReadProfilesIni(ini, all, log_)) {
        NssDatabase db;
        if (Inside(profile.Folder, root.Where) && Usable(profile.Folder, root.Where, db)) {
          found.push_back(db);
          if (!all) return;
        }
      }
    }
  }

  NssDatabase Discover() {
    if (!how_.Explicit.empty()) return Named(how_.Explicit, how_.ExplicitWhere);
    if (const char* env = Environment()) return Named(env, "TAVRA_NSSDB");
    const std::string pki = Pki();
    if (KeyStore::HoldsDatabase(pki)) {
      NssDatabase db = Named(pki, "~/.pki/nssdb");
      if (inspect_(db.Spec, db.Counts) != KeyStoreResult::Ok)
        log_("~/.pki/nssdb database " + db.Spec + " skipped: it cannot be opened");
      else if (db.Counts.WithKey > 0)
        return db;
    }
    std::vector<NssDatabase> found;
    Profiles(kFirefoxRoots, false, found);
    if (found.empty()) Profiles(kThunderbirdRoots, false, found);
    if (!found.empty()) return found.front();
    return Named(pki, "~/.pki/nssdb");
  }

  std::vector<NssDatabase> FindAll() {
    std::vector<NssDatabase> candidates;
    auto counted = [&](const std::string& dir, const std::string& where) {
      NssDatabase db = Named(dir, where);
      if (!KeyStore::HoldsDatabase(db.Dir)) return;
      if (inspect_(db.Spec, db.Counts) != KeyStoreResult::Ok) {
        log_(where + " database " + db.Spec + " skipped: it cannot be opened");
        return;
      }
      candidates.push_back(db);
    };
    if (!how_.Explicit.empty()) counted(how_.Explicit, how_.ExplicitWhere);
    if (const char* env = Environment()) counted(env, "TAVRA_NSSDB");
    if (!home_.empty()) counted(Pki(), "~/.pki/nssdb");
    Profiles(kFirefoxRoots, true, candidates);
    Profiles(kThunderbirdRoots, true, candidates);
    // One database reached through two places is listed once, at its first.
    std::vector<NssDatabase> unique;
    std::set<std::string> seen;
    for (NssDatabase& db : candidates) {
      std::error_code ec;
      const fs::path real = fs::canonical(db.Dir, ec);
      if (seen.insert(ec ? db.Dir : real.string()).second) unique.push_back(std::move(db));
    }
    return unique;
  }

 private:
  const NssDiscovery& how_;
  std::string home_, realHome_;
  NssLog log_;
  NssInspect inspect_;
};

}  // namespace

std::vector<NssProfile> ReadProfilesIni(const std::string& iniPath, bool all, const NssLog& log) {
  std::vector<NssProfile> profiles;
  std::error_code ec;
  if (!fs::exists(iniPath, ec)) return profiles;
  std::vector<IniSection> sections;
  std::string why;
  if (!ParseIni(iniPath, sections, &why)) {
    log(iniPath + " skipped: " + why);
    return profiles;
  }
  const fs::path base = fs::path(iniPath).parent_path();
  auto resolve = [&](const std::string& path, bool relative) {
    return relative ? (base / path).lexically_normal().string() : path;
  };

  std::string installDefault;
  for (const IniSection& s : sections) {
    if (StartsWith(s.Name, "Install") && !s.Get("Default").empty()) {
      installDefault = s.Get("Default");
      break;
    }
  }
  struct Listed {
    std::string Folder, RawPath;
    bool Marked;
  };
  std::vector<Listed> listed;
  for (const IniSection& s : sections) {
    if (!StartsWith(s.Name, "Profile")) continue;
    const std::string path = s.Get("Path");
    if (path.empty()) {
      log(iniPath + ": [" + s.Name + "] skipped: it names no folder");
      continue;
    }
    listed.push_back({resolve(path, s.Get("IsRelative") == "1"), path, s.Get("Default") == "1"});
  }

  auto add = [&](const std::string& folder, bool isDefault) {
    for (const NssProfile& p : profiles)
      if (p.Folder == folder) return;
    profiles.push_back({folder, isDefault});
  };
  if (!installDefault.empty()) {
    std::string folder = resolve(installDefault, installDefault[0] != '/');
    for (const Listed& l : listed)
      if (l.RawPath == installDefault) folder = l.Folder;
    add(folder, true);
  }
  for (const Listed& l : listed)
    if (l.Marked) add(l.Folder, true);
  if (all)
    for (const Listed& l : listed) add(l.Folder, false);
  return profiles;
}

NssDatabase DiscoverNssDatabase(const NssDiscovery& how) { return Finder(how).Discover(); }

std::vector<NssDatabase> FindNssDatabases(const NssDiscovery& how) { return Finder(how).FindAll(); }

}  // namespace platform
