// The settings file: a cached, shared in-memory image of an INI file.
//
// Every TRKSIniFile handle opened on the same path shares one TUniqueIniFile
// image; the image is parsed once, changed in memory and written back in one
// piece when the last handle closes (or on UpdateFile). The signer keeps its
// options in the section "options" of a file beside the executable.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvane {
class TOvStream;
}

namespace tavra {

// Loading or saving an INI file failed ("Cannot open file ...", "Cannot create
// file ...", a binary or oversized file).
class EIniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The abstract INI file: typed reads and writes on top of ReadString and
// WriteString. Keys and sections are compared ignoring ASCII letter case.
class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : file_name_(std::move(fileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  virtual std::string ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) = 0;
  virtual void WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) = 0;
  // The key names of a section, in file order.
  virtual void ReadSection(const std::string& section, std::vector<std::string>& idents) = 0;
  virtual void ReadSections(std::vector<std::string>& sections) = 0;
  // The raw lines (key=value) of a section.
  virtual void ReadSectionValues(const std::string& section, std::vector<std::string>& lines) = 0;
  virtual void EraseSection(const std::string& section) = 0;
  virtual void DeleteKey(const std::string& section, const std::string& ident) = 0;
  // Writes the image to its file now; raises EIniFileError when saving fails.
  virtual void UpdateFile() = 0;

  bool SectionExists(const std::string& section);
  bool ValueExists(const std::string& section, const std::string& ident);

  // Decimal, or hexadecimal with "0x"/"0X"/"$"; anything else gives the default.
  virtual int32_t ReadInteger(const std::string& section, const std::string& ident,
                              int32_t defaultValue);
  virtual void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  // Stored as an integer: 0 is false, any other number true; written as 1 or 0.
  virtual bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue);
  virtual void WriteBool(const std::string& section, const std::string& ident, bool value);
  // Always with "." as the decimal point, whatever the locale.
  virtual double ReadFloat(const std::string& section, const std::string& ident,
                           double defaultValue);
  virtual void WriteFloat(const std::string& section, const std::string& ident, double value);
  // Date-time values (days since 1899-12-30) as "YYYY-MM-DD", "hh:mm:ss" and
  // "YYYY-MM-DD hh:mm:ss"; a text that does not parse gives the default.
  virtual double ReadDate(const std::string& section, const std::string& ident,
                          double defaultValue);
  virtual double ReadTime(const std::string& section, const std::string& ident,
                          double defaultValue);
  virtual double ReadDateTime(const std::string& section, const std::string& ident,
                              double defaultValue);
  virtual void WriteDate(const std::string& section, const std::string& ident, double value);
  virtual void WriteTime(const std::string& section, const std::string& ident, double value);
  virtual void WriteDateTime(const std::string& section, const std::string& ident, double value);
  // Binary values as uppercase hex. ReadBinaryStream appends the bytes to the
  // stream and returns their count (0 when missing or not valid hex).
  virtual size_t ReadBinaryStream(const std::string& section, const std::string& ident,
                                  corvane::TOvStream& value);
  virtual void WriteBinaryStream(const std::string& section, const std::string& ident,
                                 corvane::TOvStream& value);

 private:
  std::string file_name_;
};

// One shared, parsed image of an INI file (one per distinct absolute path).
// Lines before the first section header are kept exactly; empty lines inside
// sections are dropped; write-back joins lines with CR LF.
class TUniqueIniFile final : public TCustomIniFile {
 public:
  // Loads the file when it exists; raises EIniFileError when it cannot be read
  // or is not a text file.
  explicit TUniqueIniFile(const std::string& fileName);
  // Writes back when modified; never raises (a failed save is lost here, so
  // callers that care call UpdateFile first).
  ~TUniqueIniFile() override;

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& defaultValue) override;
  void WriteString(const std::string& section, const std::string& ident,
                   const std::string& value) override;
  void ReadSection(const std::string& section, std::vector<std::string>& idents) override;
  void ReadSections(std::vector<std::string>& sections) override;
  void ReadSectionValues(const std::string& section, std::vector<std::string>& lines) override;
  void EraseSection(const std::string& section) override;
  void DeleteKey(const std::string& section, const std::string& ident) override;
  void UpdateFile() override;

  bool Modified() const { return modified_; }
  // The file was read-only (no owner-write bit) when loaded: it is never written.
  bool ReadOnly() const { return read_only_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Number of open TRKSIniFile handles.
  int32_t ReferenceCount() const { return reference_count_; }

 private:
  friend class TRKSIniFile;

  struct Section {
    std::string name;
    std::vector<std::string> lines;
  };

  void Load();
  void Parse();
  void WriteBack();
  Section* FindSection(const std::string& name);

  bool read_only_ = false;
  std::vector<std::string> lines_;
  std::vector<std::string> header_lines_;
  std::vector<Section> sections_;
  bool modified_ = false;
  int32_t reference_count_ = 0;
};

// A handle onto the shared image of its path; every operation is forwarded.
class TRKSIniFile final : public TCustomIniFile {
 public:
  explicit TRKSIniFile(const std::string& path);
  // Releases the image; the last handle writes it back when modified. Never raises.
  ~TRKSIniFile() override;

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& defaultValue) override;
  void WriteString(const std::string& section, const std::string& ident,
                   const std::string& value) override;
  void ReadSection(const std::string& section, std::vector<std::string>& idents) override;
  void ReadSections(std::vector<std::string>& sections) override;
  void ReadSectionValues(const std::string& section, std::vector<std::string>& lines) override;
  void EraseSection(const std::string& section) override;
  void DeleteKey(const std::string& section, const std::string& ident) override;
  void UpdateFile() override;
  // Tries the "." rule first, then the inherited rule.
  double ReadFloat(const std::string& section, const std::string& ident,
                   double defaultValue) override;

  TUniqueIniFile& Image() { return *image_; }

 private:
  TUniqueIniFile* image_ = nullptr;
};

// The registry key of a path: empty means "win.ini"; a bare file name goes to
// $XDG_CONFIG_HOME (else ~/.config); the result is absolute and cleaned.
// Raises EIniFileError "Unable to retrieve Windows directory" when a bare name
// is given and no configuration folder is known.
std::string IniRegistryKey(const std::string& path);
// The shared image of a path, loaded on first use. The registry owns it; a
// TRKSIniFile handle keeps it alive.
TUniqueIniFile* GetSharedIniFile(const std::string& path);
// Number of live images (for diagnostics and tests).
size_t SharedIniFileCount();

// The signer's options, section "options" of the settings file.
struct TPdfSignerOptions {
  std::string CertIssuer, CertSerial, CertCommonName, SigReason;
  int SigType = 0;
  // Visible signatures: "fontfile" and "imagefile" (empty: none).
  std::string FontFile, ImageFile;
  // Placement as the command line writes it ("3" or "last"; "X1,Y1,X2,Y2";
  // a field name); empty is absent.
  std::string SigPage, SigRect, SigField;
  // "pss": RSA keys sign with RSASSA-PSS; absent means PKCS#1 v1.5.
  bool UsePSS = false;
  // "level" (B-B or B-T), "tsa" (the authority's URL) and "tsauser" (its
  // basic-auth user); absent means an adbe.pkcs7.detached signature without
  // a timestamp.
  std::string Level, TSA, TSAUser;
};

// "tavrapdfsg.ini" beside the running executable (its name with the suffix
// replaced by ".ini"), or $XDG_CONFIG_HOME/tavrapdfsg/<that name> when the
// executable's folder is not writable and no file exists there.
std::string SettingsFilePath();
std::string SettingsFilePathFor(const std::string& exePath);

// Reads the keys with their defaults (empty texts, SigType 0 clamped to 0..2).
void ReadOptions(TPdfSignerOptions& options);
void ReadOptions(const std::string& iniPath, TPdfSignerOptions& options);
// Writes the keys and saves the file; raises EIniFileError when saving fails.
// An empty text removes its key; CR and LF in texts become spaces.
void WriteOptions(const TPdfSignerOptions& options);
void WriteOptions(const std::string& iniPath, const TPdfSignerOptions& options);

}  // namespace tavra
