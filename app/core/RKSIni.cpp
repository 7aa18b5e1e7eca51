#include "app/core/RKSIni.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/PlatformFiles.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/common/CvUtils.h"

namespace tavra {

using corvane::SameTextAscii;

namespace {

// A settings file is a few hundred bytes; anything this large is not one.
constexpr int64_t kMaxIniFileSize = 16 * 1024 * 1024;

const char kOptionsSection[] = "options";

std::string OpenError(const std::string& path, const std::string& reason) {
  return "Cannot open file \"" + path + "\". " + reason;
}

// Trims blanks and control characters at both ends.
std::string TrimText(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return std::string(text.substr(first, last - first));
}

// A line break inside a written text would start a new line, and so a new key
// or section, when the file is read again.
std::string WithoutLineBreaks(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

// Lines separated by CR, LF or CR LF; a final line break ends the last line
// rather than starting an empty one.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t brk = text.find_first_of("\r\n", start);
    if (brk == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    lines.emplace_back(text.substr(start, brk - start));
    start = brk + 1;
    if (text[brk] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

// Reads the whole file. Returns false when it does not exist; raises
// EIniFileError when it exists but cannot be read as a text file.
bool ReadTextFile(const std::string& path, std::string& text, bool& readOnly) {
  // O_NONBLOCK so that a FIFO at this path cannot hang the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
  if (fd < 0) {
    const int error = errno;
    // A missing file, or a path through a non-folder, simply has no file yet;
    // saving will say why it cannot be created.
    if (error == ENOENT || error == ENOTDIR) return false;
    throw EIniFileError(OpenError(path, std::strerror(error)));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    throw EIniFileError(OpenError(path, std::strerror(error)));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EIniFileError(OpenError(path, "It is not a regular file."));
  }
  if (st.st_size > kMaxIniFileSize) {
    ::close(fd);
    throw EIniFileError(OpenError(path, "The file is too large for a settings file."));
  }
  readOnly = (st.st_mode & S_IWUSR) == 0;
  text.clear();
  char chunk[8192];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw EIniFileError(OpenError(path, std::strerror(error)));
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
    if (static_cast<int64_t>(text.size()) > kMaxIniFileSize) {
      ::close(fd);
      throw EIniFileError(OpenError(path, "The file is too large for a settings file."));
    }
  }
  ::close(fd);
  if (text.find('\0') != std::string::npos)
    throw EIniFileError(OpenError(path, "It is not a text file."));
  return true;
}

// The folder that takes INI files named without one.
std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const bool known = (xdg != nullptr && xdg[0] == '/') || (home != nullptr && home[0] != '\0');
  if (!known) throw EIniFileError("Unable to retrieve Windows directory");
  return platform::XdgConfigHome();
}

// The runtime's integer text: optional sign, decimal digits or "$" and hex
// digits (up to 32 bits, as two's complement); nothing else.
bool ParseInteger(std::string_view text, int32_t& value) {
  size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  if (pos < text.size() && text[pos] == '$') {
    ++pos;
    if (pos >= text.size()) return false;
    uint32_t hex = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), hex, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    if (negative) hex = 0u - hex;
    value = static_cast<int32_t>(hex);
    return true;
  }
  if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
  uint32_t magnitude = 0;
  const auto [end, ec] =
      std::from_chars(text.data() + pos, text.data() + text.size(), magnitude, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (negative) {
    if (magnitude > 2147483648u) return false;
    value = static_cast<int32_t>(0u - magnitude);
  } else {
    if (magnitude > 2147483647u) return false;
    value = static_cast<int32_t>(magnitude);
  }
  return true;
}

// A real with "." as the decimal point (a leading "+" allowed); finite only.
bool ParseReal(std::string_view text, double& value) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return false;
  double parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

// Fixed-width decimal fields of an ISO-style date or time text.
bool TakeNumber(std::string_view text, size_t& pos, size_t digits, int& value) {
  if (pos + digits > text.size()) return false;
  value = 0;
  for (size_t k = 0; k < digits; ++k) {
    const char c = text[pos + k];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += digits;
  return true;
}

bool TakeChar(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// "YYYY-MM-DD"
bool ParseDatePart(std::string_view text, size_t& pos, double& date) {
  int y, m, d;
  if (!TakeNumber(text, pos, 4, y) || !TakeChar(text, pos, '-') || !TakeNumber(text, pos, 2, m) ||
      !TakeChar(text, pos, '-') || !TakeNumber(text, pos, 2, d))
    return false;
  try {
    date = corvane::EncodeDate(y, m, d);
  } catch (const corvane::EConvertError&) {
    return false;
  }
  return true;
}

// "hh:mm:ss" with optional ".zzz"
bool ParseTimePart(std::string_view text, size_t& pos, double& time) {
  int h, mi, s, ms = 0;
  if (!TakeNumber(text, pos, 2, h) || !TakeChar(text, pos, ':') || !TakeNumber(text, pos, 2, mi) ||
      !TakeChar(text, pos, ':') || !TakeNumber(text, pos, 2, s))
    return false;
  if (pos < text.size() && text[pos] == '.' && (++pos, !TakeNumber(text, pos, 3, ms))) return false;
  try {
    time = corvane::EncodeTime(h, mi, s, ms);
  } catch (const corvane::EConvertError&) {
    return false;
  }
  return true;
}

std::string FormatDate(const corvane::TDateTimeParts& p) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d", p.Year, p.Month, p.Day);
  return text;
}

std::string FormatTime(const corvane::TDateTimeParts& p) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  return text;
}

// ---------------------------------------------------------------------------
// The registry of shared images. The application touches it from the GUI
// thread only; the lock keeps handles on other threads (tests, tools) safe.

struct Registry {
  std::mutex lock;
  std::vector<std::unique_ptr<TUniqueIniFile>> images;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

TUniqueIniFile* FindOrLoad(Registry& registry, const std::string& key) {
  for (const auto& image : registry.images)
    if (image->FileName() == key) return image.get();
  auto image = std::make_unique<TUniqueIniFile>(key);
  registry.images.push_back(std::move(image));
  return registry.images.back().get();
}

}  // namespace

// ---------------------------------------------------------------------------
// TCustomIniFile

bool TCustomIniFile::SectionExists(const std::string& section) {
  std::vector<std::string> idents;
  ReadSection(section, idents);
  return !idents.empty();
}

bool TCustomIniFile::ValueExists(const std::string& section, const std::string& ident) {
  std::vector<std::string> idents;
  ReadSection(section, idents);
  for (const std::string& name : idents)
    if (SameTextAscii(name, ident)) return true;
  return false;
}

int32_t TCustomIniFile::ReadInteger(const std::string& section, const std::string& ident,
                                    int32_t defaultValue) {
  std::string text = ReadString(section, ident, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = "$" + text.substr(2);
  int32_t value = 0;
  return ParseInteger(text, value) ? value : defaultValue;
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& ident,
                                  int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& ident,
                              bool defaultValue) {
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

double TCustomIniFile::ReadFloat(const std::string& section, const std::string& ident,
                                 double defaultValue) {
  double value = 0;
  return ParseReal(ReadString(section, ident, ""), value) ? value : defaultValue;
}

void TCustomIniFile::WriteFloat(const std::string& section, const std::string& ident,
                                double value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof(text), value);
  WriteString(section, ident, ec == std::errc() ? std::string(text, end) : std::string());
}

double TCustomIniFile::ReadDate(const std::string& section, const std::string& ident,
                                double defaultValue) {
  const std::string text = ReadString(section, ident, "");
  size_t pos = 0;
  double date = 0;
  return ParseDatePart(text, pos, date) && pos == text.size() ? date : defaultValue;
}

double TCustomIniFile::ReadTime(const std::string& section, const std::string& ident,
                                double defaultValue) {
  const std::string text = ReadString(section, ident, "");
  size_t pos = 0;
  double time = 0;
  return ParseTimePart(text, pos, time) && pos == text.size() ? time : defaultValue;
}

double TCustomIniFile::ReadDateTime(const std::string& section, const std::string& ident,
                                    double defaultValue) {
  const std::string text = ReadString(section, ident, "");
  size_t pos = 0;
  double date = 0, time = 0;
  if (!ParseDatePart(text, pos, date)) return defaultValue;
  if (pos == text.size()) return date;
  if (!TakeChar(text, pos, ' ') || !ParseTimePart(text, pos, time) || pos != text.size())
    return defaultValue;
  return corvane::ComposeDateTime(date, time);
}

void TCustomIniFile::WriteDate(const std::string& section, const std::string& ident, double value) {
  WriteString(section, ident, FormatDate(corvane::DecodeDateTime(value)));
}

void TCustomIniFile::WriteTime(const std::string& section, const std::string& ident, double value) {
  WriteString(section, ident, FormatTime(corvane::DecodeDateTime(value)));
}

void TCustomIniFile::WriteDateTime(const std::string& section, const std::string& ident,
                                   double value) {
  const corvane::TDateTimeParts p = corvane::DecodeDateTime(value);
  WriteString(section, ident, FormatDate(p) + " " + FormatTime(p));
}

size_t TCustomIniFile::ReadBinaryStream(const std::string& section, const std::string& ident,
                                        corvane::TOvStream& value) {
  const std::string text = ReadString(section, ident, "");
  std::string bytes;
  try {
    if (text.empty() || !corvane::HexToBytes(text, bytes)) return 0;
  } catch (const corvane::EConvertError&) {
    return 0;
  }
  value.Write(bytes);
  return bytes.size();
}

void TCustomIniFile::WriteBinaryStream(const std::string& section, const std::string& ident,
                                       corvane::TOvStream& value) {
  std::string bytes;
  char chunk[8192];
  size_t n;
  while ((n = value.Read(chunk, sizeof(chunk))) > 0) bytes.append(chunk, n);
  WriteString(section, ident, corvane::BytesToHex(bytes));
}

// ---------------------------------------------------------------------------
// TUniqueIniFile

TUniqueIniFile::TUniqueIniFile(const std::string& fileName) : TCustomIniFile(fileName) { Load(); }

TUniqueIniFile::~TUniqueIniFile() {
  if (!modified_) return;
  try {
    WriteBack();
  } catch (...) {
    // Nothing can report it from here; WriteOptions saves explicitly first.
  }
}

void TUniqueIniFile::Load() {
  std::string text;
  bool read_only = false;
  if (!FileName().empty() && ReadTextFile(FileName(), text, read_only)) {
    lines_ = SplitLines(text);
    read_only_ = read_only;
  }
  Parse();
}

void TUniqueIniFile::Parse() {
  header_lines_.clear();
  sections_.clear();
  Section* current = nullptr;
  for (const std::string& line : lines_) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string name = line.substr(1, line.size() - 2);
      current = FindSection(name);
      if (current == nullptr) {
        sections_.push_back(Section{name, {}});
        current = &sections_.back();
      }
    } else if (current != nullptr) {
      if (!line.empty()) current->lines.push_back(line);
    } else {
      header_lines_.push_back(line);
    }
  }
}

TUniqueIniFile::Section* TUniqueIniFile::FindSection(const std::string& name) {
  for (Section& section : sections_)
    if (SameTextAscii(section.name, name)) return &section;
  return nullptr;
}

namespace {

// Index of the first line "ident=..." (ident compared ignoring ASCII case, no
// trimming), or npos.
size_t FindKey(const std::vector<std::string>& lines, const std::string& ident) {
  for (size_t k = 0; k < lines.size(); ++k) {
    const size_t eq = lines[k].find('=');
    if (eq != std::string::npos && SameTextAscii(std::string_view(lines[k]).substr(0, eq), ident))
      return k;
  }
  return std::string::npos;
}

}  // namespace

std::string TUniqueIniFile::ReadString(const std::string& section, const std::string& ident,
                                       const std::string& defaultValue) {
  const Section* s = FindSection(section);
  if (s == nullptr) return defaultValue;
  const size_t k = FindKey(s->lines, ident);
  if (k == std::string::npos) return defaultValue;
  const std::string value = TrimText(std::string_view(s->lines[k]).substr(ident.size() + 1));
  return value.empty() ? defaultValue : value;
}

void TUniqueIniFile::WriteString(const std::string& sectionName, const std::string& identName,
                                 const std::string& valueText) {
  const std::string section = WithoutLineBreaks(sectionName);
  const std::string ident = WithoutLineBreaks(identName);
  const std::string value = WithoutLineBreaks(valueText);
  if (section.empty() && ident.empty() && value.empty()) {
    WriteBack();
    return;
  }
  if (ident.empty() && !section.empty()) {
    for (auto it = sections_.begin(); it != sections_.end(); ++it) {
      if (SameTextAscii(it->name, section)) {
        sections_.erase(it);
        modified_ = true;
        break;
      }
    }
    return;
  }
  Section* s = FindSection(section);
  if (s == nullptr) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  const size_t k = FindKey(s->lines, ident);
  if (!value.empty()) {
    if (k == std::string::npos)
      s->lines.push_back(ident + "=" + value);
    else
      s->lines[k] = ident + "=" + value;
  } else if (k != std::string::npos) {
    s->lines.erase(s->lines.begin() + static_cast<std::ptrdiff_t>(k));
  }
  modified_ = true;
}

void TUniqueIniFile::ReadSection(const std::string& section, std::vector<std::string>& idents) {
  idents.clear();
  const Section* s = FindSection(section);
  if (s == nullptr) return;
  for (const std::string& line : s->lines) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) idents.push_back(line.substr(0, eq));
  }
}

void TUniqueIniFile::ReadSections(std::vector<std::string>& sections) {
  sections.clear();
  for (const Section& s : sections_) sections.push_back(s.name);
}

void TUniqueIniFile::ReadSectionValues(const std::string& section,
                                       std::vector<std::string>& lines) {
  lines.clear();
  const Section* s = FindSection(section);
  if (s != nullptr) lines = s->lines;
}

void TUniqueIniFile::EraseSection(const std::string& section) { WriteString(section, "", ""); }

void TUniqueIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  WriteString(section, ident, "");
}

void TUniqueIniFile::UpdateFile() { WriteBack(); }

void TUniqueIniFile::WriteBack() {
  lines_ = header_lines_;
  for (size_t k = 0; k < sections_.size(); ++k) {
    if (k > 0) lines_.emplace_back();
    lines_.push_back("[" + sections_[k].name + "]");
    lines_.insert(lines_.end(), sections_[k].lines.begin(), sections_[k].lines.end());
  }
  if (!FileName().empty() && !read_only_) {
    std::string text;
    for (const std::string& line : lines_) text += line + "\r\n";
    std::string error;
    if (!platform::WriteFileAtomically(FileName(), text, error))
      throw EIniFileError("Cannot create file \"" + FileName() + "\". " + error);
  }
  modified_ = false;
}

// ---------------------------------------------------------------------------
// Registry and handles

std::string IniRegistryKey(const std::string& path) {
  std::string full = path.empty() ? std::string("win.ini") : path;
  if (full.find('/') == std::string::npos) full = ConfigFolder() + "/" + full;
  return platform::AbsolutePath(full);
}

TUniqueIniFile* GetSharedIniFile(const std::string& path) {
  const std::string key = IniRegistryKey(path);
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> guard(registry.lock);
  return FindOrLoad(registry, key);
}

size_t SharedIniFileCount() {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> guard(registry.lock);
  return registry.images.size();
}

TRKSIniFile::TRKSIniFile(const std::string& path) : TCustomIniFile(IniRegistryKey(path)) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> guard(registry.lock);
  image_ = FindOrLoad(registry, FileName());
  ++image_->reference_count_;
}

TRKSIniFile::~TRKSIniFile() {
  Registry& registry = TheRegistry();
  std::unique_ptr<TUniqueIniFile> released;
  {
    const std::lock_guard<std::mutex> guard(registry.lock);
    if (--image_->reference_count_ > 0) return;
    for (auto it = registry.images.begin(); it != registry.images.end(); ++it) {
      if (it->get() == image_) {
        released = std::move(*it);
        registry.images.erase(it);
        break;
      }
    }
  }
  // Destroying the image writes it back when modified; it never raises.
}

std::string TRKSIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& defaultValue) {
  return image_->ReadString(section, ident, defaultValue);
}

void TRKSIniFile::WriteString(const std::string& section, const std::string& ident,
                              const std::string& value) {
  image_->WriteString(section, ident, value);
}

void TRKSIniFile::ReadSection(const std::string& section, std::vector<std::string>& idents) {
  image_->ReadSection(section, idents);
}

void TRKSIniFile::ReadSections(std::vector<std::string>& sections) {
  image_->ReadSections(sections);
}

void TRKSIniFile::ReadSectionValues(const std::string& section, std::vector<std::string>& lines) {
  image_->ReadSectionValues(section, lines);
}

void TRKSIniFile::EraseSection(const std::string& section) { image_->EraseSection(section); }

void TRKSIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  image_->DeleteKey(section, ident);
}

void TRKSIniFile::UpdateFile() { image_->UpdateFile(); }

double TRKSIniFile::ReadFloat(const std::string& section, const std::string& ident,
                              double defaultValue) {
  // The "." rule first; the inherited rule is the same rule here, since
  // numbers never depend on the locale.
  double value = 0;
  if (ParseReal(ReadString(section, ident, ""), value)) return value;
  return TCustomIniFile::ReadFloat(section, ident, defaultValue);
}

// ---------------------------------------------------------------------------
// The signer's options

std::string SettingsFilePathFor(const std::string& exePath) {
  std::string name = "tavrapdfsg.ini";
  std::string folder;
  if (!exePath.empty()) {
    std::filesystem::path exe(platform::AbsolutePath(exePath));
    folder = platform::DirectoryOf(exe.string());
    exe.replace_extension(".ini");
    name = exe.filename().string();
  }
  if (!folder.empty()) {
    const std::string beside = (folder == "/" ? "" : folder) + "/" + name;
    if (platform::FileExists(beside) || platform::IsDirectoryWritable(folder)) return beside;
  }
  return platform::XdgConfigHome() + "/tavrapdfsg/" + name;
}

std::string SettingsFilePath() { return SettingsFilePathFor(platform::ExecutablePath()); }

void ReadOptions(TPdfSignerOptions& options) { ReadOptions(SettingsFilePath(), options); }

void ReadOptions(const std::string& iniPath, TPdfSignerOptions& options) {
  TRKSIniFile ini(iniPath);
  // The file is in the "ANSI" code page, UTF-8 here: malformed bytes become "?".
  auto text = [&ini](const char* key) {
    return corvane::SanitizeUTF8(ini.ReadString(kOptionsSection, key, ""), "?");
  };
  options.CertIssuer = text("certissuer");
  options.CertSerial = text("certserial");
  options.CertCommonName = text("certcn");
  options.SigReason = text("sigreason");
  const int32_t type = ini.ReadInteger(kOptionsSection, "sigtype", 0);
  options.SigType = type < 0 ? 0 : (type > 2 ? 2 : type);
  options.FontFile = text("fontfile");
  options.ImageFile = text("imagefile");
  options.SigPage = text("page");
  options.SigRect = text("rect");
  options.SigField = text("field");
  options.UsePSS = ini.ReadBool(kOptionsSection, "pss", false);
  options.Level = text("level");
  options.TSA = text("tsa");
  options.TSAUser = text("tsauser");
}

void WriteOptions(const TPdfSignerOptions& options) { WriteOptions(SettingsFilePath(), options); }

void WriteOptions(const std::string& iniPath, const TPdfSignerOptions& options) {
  TRKSIniFile ini(iniPath);
  ini.WriteString(kOptionsSection, "certissuer", options.CertIssuer);
  ini.WriteString(kOptionsSection, "certserial", options.CertSerial);
  ini.WriteString(kOptionsSection, "certcn", options.CertCommonName);
  ini.WriteString(kOptionsSection, "sigreason", options.SigReason);
  ini.WriteInteger(kOptionsSection, "sigtype", options.SigType);
  ini.WriteString(kOptionsSection, "page", options.SigPage);
  ini.WriteString(kOptionsSection, "rect", options.SigRect);
  ini.WriteString(kOptionsSection, "field", options.SigField);
  // Written only when set, so a file without it stays as it was.
  if (options.UsePSS)
    ini.WriteBool(kOptionsSection, "pss", true);
  else
    ini.DeleteKey(kOptionsSection, "pss");
  const std::pair<const char*, const std::string*> optionalKeys[] = {
      {"fontfile", &options.FontFile},
      {"imagefile", &options.ImageFile},
      {"level", &options.Level},
      {"tsa", &options.TSA},
      {"tsauser", &options.TSAUser}};
  for (const auto& [key, value] : optionalKeys) {
    if (value->empty())
      ini.DeleteKey(kOptionsSection, key);
    else
      ini.WriteString(kOptionsSection, key, *value);
  }
  // The settings folder may not exist yet (the per-user configuration folder).
  const std::string folder = platform::DirectoryOf(ini.FileName());
  if (!ini.Image().ReadOnly() && !folder.empty() && !platform::DirectoryExists(folder))
    platform::MakeDirectories(folder);
  // Saved here rather than by the handle's destructor, so a failure reaches the caller.
  ini.UpdateFile();
}

}  // namespace tavra
