// Helpers shared by the PDF tests: parsing from text, writing to text, running
// the independent tools (qpdf, zlib-flate) and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "toolkit/pdf/CvPDFCore.h"

namespace pdftest {

// A file with a memory source that parses objects from text.
struct TParsed {
  corvane::TOvPDFFile file;
  std::unique_ptr<corvane::TOvMemoryStream> input;

  corvane::TOvPDFObject* Parse(const std::string& text) {
    input = std::make_unique<corvane::TOvMemoryStream>(text);
    return file.ParseObject(*input);
  }
  // Parses "n g obj ... endobj" as the file loader does.
  corvane::TOvPDFIndirect* ParseIndirect(const std::string& text) {
    input = std::make_unique<corvane::TOvMemoryStream>(text);
    auto* number = dynamic_cast<corvane::TOvPDFReal*>(file.ParseObject(*input));
    auto* generation = dynamic_cast<corvane::TOvPDFReal*>(file.ParseObject(*input));
    auto* indirect = dynamic_cast<corvane::TOvPDFIndirect*>(file.ParseObject(*input));
    if (!number || !generation || !indirect) return nullptr;
    indirect->Renumber(number->AsInt(), generation->AsInt());
    return indirect;
  }
};

inline std::string Written(corvane::TOvPDFObject* obj, bool rebuild = true) {
  corvane::TOvMemoryStream out;
  obj->WriteTo(out, rebuild);
  return out.Data();
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; returns its standard output and sets status.
inline std::string Run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int rc = pclose(pipe);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// A temporary folder removed with the object.
class TTempDir {
 public:
  TTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavra-pdf-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TTempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

#define REQUIRE_TOOL(name)                                                        \
  do {                                                                            \
    if (!pdftest::HaveTool(name)) GTEST_SKIP() << name " is not installed";       \
  } while (0)

}  // namespace pdftest
