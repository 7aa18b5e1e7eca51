// "tavrapdf info": what a person wants to know about a PDF before signing it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "toolkit/pdf/CvPDF.h"

namespace tavra {

struct TSignatureFieldInfo {
  std::string Name;  // full name, partial names joined by "."
  bool Signed = false;
  std::string Filter;
  std::string SubFilter;
  std::string SigningTime;  // /M as written
  std::string ByteRange;    // /ByteRange as written
};

// Signature fields of the form (ISO 32000-1 12.7.4.5), in field-tree order.
std::vector<TSignatureFieldInfo> ListSignatureFields(corvane::TOvPDFDocument& document);

// Opens the file (through a file-backed working stream) and prints the report.
// An encrypted file is decrypted with the password (the empty one when none
// is given); a password that opens nothing raises "Invalid password".
void PrintInfo(const std::string& path, std::ostream& out,
               const std::optional<std::string>& password = std::nullopt);

}  // namespace tavra
