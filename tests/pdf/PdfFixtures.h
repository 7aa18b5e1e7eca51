// Fixture PDFs written by hand (with computed offsets) and variants made by
// qpdf. Nothing here uses the code under test to produce a fixture.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/pdf/PdfTestUtil.h"

namespace pdftest {

// Objects by number, written in the order given, with a classic table.
struct TFixture {
  std::string header = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::pair<int, std::string>> objects;  // number, body between obj and endobj
  std::string trailerExtra;
  int size = 0;  // 0: highest number + 1

  void Add(int number, const std::string& body) { objects.emplace_back(number, body); }

  std::string Build(std::map<int, long long>* offsetsOut = nullptr) const {
    std::string out = header;
    std::map<int, long long> offsets;
    int highest = 0;
    for (const auto& [number, body] : objects) {
      offsets[number] = static_cast<long long>(out.size());
      out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
      highest = std::max(highest, number);
    }
    const long long xref = static_cast<long long>(out.size());
    out += "xref\n0 " + std::to_string(highest + 1) + "\n0000000000 65535 f \n";
    for (int n = 1; n <= highest; ++n) {
      char line[32];
      auto it = offsets.find(n);
      if (it == offsets.end()) {
        std::snprintf(line, sizeof line, "0000000000 00001 f \n");
      } else {
        std::snprintf(line, sizeof line, "%010lld 00000 n \n", it->second);
      }
      out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(size ? size : highest + 1) + " /Root 1 0 R" +
           trailerExtra + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    if (offsetsOut) *offsetsOut = offsets;
    return out;
  }
};

// "<< /Length n extra >> stream ... endstream" for data.
inline std::string StreamBody(const std::string& extra, const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + extra + " >>\nstream\n" + data +
         "\nendstream";
}

// Catalog, page tree with one page and a content stream.
inline TFixture OnePage() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, StreamBody("", "BT /F1 24 Tf 72 700 Td (Hello, world) Tj ET"));
  return f;
}

// Appends an update holding the given objects, with /Prev to the previous
// "startxref" of base.
inline std::string AppendUpdate(const std::string& base,
                                const std::vector<std::pair<int, std::string>>& objects, int size,
                                const std::string& trailerExtra = "") {
  const size_t sx = base.rfind("startxref");
  const long long prev = std::stoll(base.substr(base.find_first_of("0123456789", sx)));
  std::string out = base;
  std::map<int, long long> offsets;
  for (const auto& [number, body] : objects) {
    offsets[number] = static_cast<long long>(out.size());
    out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  }
  const long long xref = static_cast<long long>(out.size());
  out += "xref\n";
  for (const auto& [number, offset] : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", offset);
    out += std::to_string(number) + " 1\n" + line;
  }
  out += "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R /Prev " +
         std::to_string(prev) + trailerExtra + " >>\nstartxref\n" + std::to_string(xref) +
         "\n%%EOF\n";
  return out;
}

// A hybrid file (ISO 32000-1 7.5.8.4): object 5 is listed only by the
// cross-reference stream (object 6) that the trailer's /XRefStm names.
inline std::string HybridFile() {
  const std::string text = OnePage().Build();
  const size_t tableAt = text.rfind("xref\n0 5");
  std::string head = text.substr(0, tableAt);
  const long long o5 = static_cast<long long>(head.size());
  head += "5 0 obj\n(hidden)\nendobj\n";
  const long long o6 = static_cast<long long>(head.size());
  std::string records = "\x01";
  records += static_cast<char>((o5 >> 16) & 0xFF);
  records += static_cast<char>((o5 >> 8) & 0xFF);
  records += static_cast<char>(o5 & 0xFF);
  records += '\0';
  head += "6 0 obj\n<< /Type /XRef /Size 7 /W [1 3 1] /Index [5 1] /Length 5 >>\nstream\n" +
          records + "\nendstream\nendobj\n";
  const long long table = static_cast<long long>(head.size());
  std::string tail = text.substr(tableAt);
  tail.replace(tail.find("/Size 5"), 7, "/Size 7 /XRefStm " + std::to_string(o6));
  tail.replace(tail.rfind("startxref\n") + 10, std::to_string(tableAt).size(),
               std::to_string(table));
  return head + tail;
}

// A copy of input made by qpdf with the given options; empty when qpdf fails.
inline std::string QpdfVariant(const tavra_test::ScratchDir& dir, const std::string& input,
                               const std::string& options, const std::string& name) {
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  tavra_test::WriteFile(dir / (name + ".in.pdf"), input);
  int status = -1;
  tavra_test::RunCommand(
      "qpdf " + dir / (name + ".in.pdf") + " " + options + " " + dir / (name + ".pdf") + " 2>&1",
      &status);
  // 3 means warnings; the file is still written.
  if (status != 0 && status != 3) return {};
  return tavra_test::ReadFile(dir / (name + ".pdf"));
}

// Number of entries qpdf lists as in use (uncompressed or compressed).
inline int QpdfObjectCount(const tavra_test::ScratchDir& dir, const std::string& pdf) {
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  tavra_test::WriteFile(dir / "count.pdf", pdf);
  const std::string listing =
      tavra_test::RunCommand("qpdf --show-xref " + dir / "count.pdf" + " 2>/dev/null");
  int count = 0;
  size_t at = 0;
  while ((at = listing.find("compressed", at)) != std::string::npos) {
    ++count;
    at += 10;
  }
  return count;
}

inline int QpdfPageCount(const tavra_test::ScratchDir& dir, const std::string& pdf) {
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  tavra_test::WriteFile(dir / "pages.pdf", pdf);
  const std::string text =
      tavra_test::RunCommand("qpdf --show-npages " + dir / "pages.pdf" + " 2>/dev/null");
  return text.empty() ? -1 : std::stoi(text);
}

// qpdf --check: true when it finds no damage (warnings included).
inline bool QpdfCheck(const tavra_test::ScratchDir& dir, const std::string& pdf,
                      std::string* report = nullptr) {
  EXPECT_TRUE(tavra_test::ToolAvailable("qpdf"));
  tavra_test::WriteFile(dir / "check.pdf", pdf);
  int status = -1;
  const std::string out =
      tavra_test::RunCommand("qpdf --check " + dir / "check.pdf" + " 2>&1", &status);
  if (report) *report = out;
  return status == 0 && out.find("No syntax or stream encoding errors") != std::string::npos;
}

}  // namespace pdftest
