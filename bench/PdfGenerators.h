// Generated inputs for the PDF benchmarks: a file of many small pages and a
// file whose bulk is one large stream. Both use a classic cross-reference table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace tavra_bench {

class TPdfBuilder {
 public:
  explicit TPdfBuilder(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {
    Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  }
  void Put(const std::string& text) {
    out_ << text;
    position_ += static_cast<int64_t>(text.size());
  }
  void Begin(int number) {
    if (offsets_.size() <= static_cast<size_t>(number)) offsets_.resize(number + 1, -1);
    offsets_[number] = position_;
    Put(std::to_string(number) + " 0 obj\n");
  }
  void Finish(int root) {
    const int64_t xref = position_;
    Put("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    char line[32];
    for (size_t n = 1; n < offsets_.size(); ++n) {
      std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(offsets_[n]));
      Put(line);
    }
    Put("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root " + std::to_string(root) +
        " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  }

 private:
  std::ofstream out_;
  int64_t position_ = 0;
  std::vector<int64_t> offsets_;
};

// Catalog 1, root page-tree node 2, font 3, intermediate nodes from 4, then a
// page and its content stream per page: 2 * pages + nodes + 3 objects.
inline void WriteManyPagesPdf(const std::string& path, int pages, int kidsPerNode = 100) {
  TPdfBuilder pdf(path);
  const int nodes = (pages + kidsPerNode - 1) / kidsPerNode;
  const int firstNode = 4;
  const int firstPage = firstNode + nodes;
  pdf.Begin(1);
  pdf.Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  std::string kids;
  for (int i = 0; i < nodes; ++i) kids += std::to_string(firstNode + i) + " 0 R ";
  pdf.Begin(2);
  pdf.Put("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>\nendobj\n");
  pdf.Begin(3);
  pdf.Put("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n");
  for (int i = 0; i < nodes; ++i) {
    std::string nodeKids;
    const int count = std::min(kidsPerNode, pages - i * kidsPerNode);
    for (int k = 0; k < count; ++k)
      nodeKids += std::to_string(firstPage + 2 * (i * kidsPerNode + k)) + " 0 R ";
    pdf.Begin(firstNode + i);
    pdf.Put("<< /Type /Pages /Parent 2 0 R /Kids [" + nodeKids + "] /Count " +
            std::to_string(count) + " >>\nendobj\n");
  }
  for (int p = 0; p < pages; ++p) {
    const int page = firstPage + 2 * p;
    const int node = firstNode + p / kidsPerNode;
    pdf.Begin(page);
    pdf.Put("<< /Type /Page /Parent " + std::to_string(node) +
            " 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
            std::to_string(page + 1) + " 0 R >>\nendobj\n");
    const std::string content = "BT /F1 12 Tf 72 712 Td (Page " + std::to_string(p + 1) + ") Tj ET";
    pdf.Begin(page + 1);
    pdf.Put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
            "\nendstream\nendobj\n");
  }
  pdf.Finish(1);
}

// One page showing one uncompressed grey image of about megabytes MiB of
// noise, so the file is large and nothing in it compresses.
inline void WriteLargeStreamPdf(const std::string& path, int megabytes) {
  TPdfBuilder pdf(path);
  const int64_t side = 4096;
  const int64_t rows = (int64_t{megabytes} << 20) / side;
  pdf.Begin(1);
  pdf.Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  pdf.Begin(2);
  pdf.Put("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
  pdf.Begin(3);
  pdf.Put(
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /Im1 5 0 R "
      ">> >> /Contents 4 0 R >>\nendobj\n");
  const std::string content = "q 612 0 0 792 0 0 cm /Im1 Do Q";
  pdf.Begin(4);
  pdf.Put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
          "\nendstream\nendobj\n");
  pdf.Begin(5);
  pdf.Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(side) + " /Height " +
          std::to_string(rows) + " /ColorSpace /DeviceGray /BitsPerComponent 8 /Length " +
          std::to_string(side * rows) + " >>\nstream\n");
  std::mt19937_64 random(20261209);
  std::string row(static_cast<size_t>(side), '\0');
  for (int64_t r = 0; r < rows; ++r) {
    for (size_t i = 0; i + 8 <= row.size(); i += 8) {
      const uint64_t word = random();
      for (int b = 0; b < 8; ++b) row[i + b] = static_cast<char>(word >> (8 * b));
    }
    pdf.Put(row);
  }
  pdf.Put("\nendstream\nendobj\n");
  pdf.Finish(1);
}

// A one-page invoice of its own number: catalog, pages, page, font and a
// content stream of a few lines, about 1.5 KB.
inline void WriteInvoicePdf(const std::string& path, int number) {
  TPdfBuilder pdf(path);
  pdf.Begin(1);
  pdf.Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  pdf.Begin(2);
  pdf.Put("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n");
  pdf.Begin(3);
  pdf.Put(
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 4 0 R >> "
      ">> /Contents 5 0 R >>\nendobj\n");
  pdf.Begin(4);
  pdf.Put("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n");
  std::string text = "BT /F1 20 Tf 56 780 Td (Faktura 2024-" + std::to_string(number) + ") Tj ET\n";
  for (int line = 0; line < 20; ++line)
    text += "BT /F1 10 Tf 56 " + std::to_string(700 - line * 18) + " Td (Polozka " +
            std::to_string(line + 1) + "  " + std::to_string((number * 37 + line * 11) % 9000) +
            ",00 CZK) Tj ET\n";
  pdf.Begin(5);
  pdf.Put("<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text +
          "\nendstream\nendobj\n");
  pdf.Finish(1);
}

}  // namespace tavra_bench
