// Fuzz target for the settings file reader: the input is written as an INI
// file and read through the signer's options and every kind of value the
// reader offers, then changed and written back and read again. A file that
// cannot be read raises the reader's own error; nothing else escapes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/core/RKSIni.h"
#include "toolkit/common/CvStream.h"

using namespace tavra;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const std::string& ScratchPath() {
  static const std::string path = [] {
    // Memory-backed where there is such a folder: every input is written and
    // synced twice.
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = dir != nullptr && *dir == '/'     ? dir
                               : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                 : "/tmp";
    return folder + "/fuzz_settings." + std::to_string(::getpid()) + ".ini";
  }();
  return path;
}

void ReadEverything(TCustomIniFile& ini) {
  std::vector<std::string> sections;
  ini.ReadSections(sections);
  for (size_t s = 0; s < sections.size() && s < 64; ++s) {
    std::vector<std::string> idents, lines;
    ini.ReadSection(sections[s], idents);
    ini.ReadSectionValues(sections[s], lines);
    for (size_t i = 0; i < idents.size() && i < 64; ++i) {
      const std::string& ident = idents[i];
      (void)ini.ReadString(sections[s], ident, "");
      (void)ini.ReadInteger(sections[s], ident, 0);
      (void)ini.ReadBool(sections[s], ident, false);
      (void)ini.ReadFloat(sections[s], ident, 0.0);
      (void)ini.ReadDate(sections[s], ident, 0.0);
      (void)ini.ReadTime(sections[s], ident, 0.0);
      corvane::TOvMemoryStream binary;
      const size_t count = ini.ReadBinaryStream(sections[s], ident, binary);
      Check(static_cast<int64_t>(count) <= binary.Size());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath();
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, out) == size;
  if (std::fclose(out) != 0 || !written) return 0;
  try {
    TPdfSignerOptions options;
    ReadOptions(path, options);
    Check(options.SigType >= 0 && options.SigType <= 2);
    {
      TRKSIniFile ini(path);
      ReadEverything(ini);
    }
    // Written back into whatever else the file holds and read again, the
    // changed options are what was written.
    options.SigReason = "Schváleno";
    options.SigType = 2;
    WriteOptions(path, options);
    TPdfSignerOptions again;
    ReadOptions(path, again);
    Check(again.SigReason == options.SigReason && again.SigType == 2);
  } catch (const EIniFileError&) {
  }
  std::remove(path.c_str());
  Check(SharedIniFileCount() == 0);
  return 0;
}
