// The embedded composite font of an appearance (ISO 32000-1 9.7): a Type0
// font with Identity-H over a CIDFontType2 whose program is a TrueType
// subset. Codes are UTF-16 units; /CIDToGIDMap takes them to glyphs and
// /ToUnicode back to the text, so extraction gives the letters we wrote.
#include <algorithm>
#include <cmath>

#include "toolkit/common/CvUtils.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvPDF_SignatureImpl.h"

namespace corvane {

namespace {

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

std::string Hex4(uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 15];
  return out;
}

// ISO 32000-1 9.10.3: a ToUnicode CMap of single characters.
std::string ToUnicodeCMap(const std::vector<char16_t>& units) {
  std::string cmap =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  std::vector<char16_t> mapped;
  for (const char16_t unit : units)
    if (!IsSurrogate(unit)) mapped.push_back(unit);
  // At most 100 entries per block.
  for (size_t start = 0; start < mapped.size(); start += 100) {
    const size_t end = std::min(mapped.size(), start + 100);
    cmap += std::to_string(end - start) + " beginbfchar\n";
    for (size_t i = start; i < end; ++i)
      cmap += "<" + Hex4(mapped[i]) + "> <" + Hex4(mapped[i]) + ">\n";
    cmap += "endbfchar\n";
  }
  return cmap + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

// The six capital letters a subset's name begins with (ISO 32000-1 9.6.4),
// derived from the glyphs it holds so the same text gives the same name.
std::string SubsetTag(const std::vector<uint32_t>& glyphs) {
  uint64_t hash = 14695981039346656037ull;
  for (const uint32_t glyph : glyphs) {
    hash ^= glyph;
    hash *= 1099511628211ull;
  }
  std::string tag;
  for (int i = 0; i < 6; ++i) {
    tag += static_cast<char>('A' + hash % 26);
    hash /= 26;
  }
  return tag;
}

TOvPDFArray* IntArray(TOvPDFFile& file, std::initializer_list<int64_t> values) {
  TOvPDFArray* array = sigimpl::NewFlatArray(file);
  for (const int64_t value : values) sigimpl::AppendToArray(array, file.NewInt(value));
  return array;
}

TOvPDFRef* NewCompressedStream(TOvPDFDocument& document, const std::string& bytes,
                               TOvPDFStream** made = nullptr) {
  TOvPDFStream* stream = TOvPDFStream::NewStream(&document.File());
  stream->SetContent(bytes);
  CompressStream(stream, false);
  if (made) *made = stream;
  return sigimpl::NewIndirectRef(document, stream);
}

}  // namespace

TOvPDFCompositeFont::TOvPDFCompositeFont(std::shared_ptr<const TOvTrueTypeProgram> program)
    : program_(std::move(program)) {
  Subtype = "Type0";
  BaseFont = program_->PostScriptName();
}

void TOvPDFCompositeFont::Use(const std::string& utf8) {
  for (const char16_t unit : UTF8ToWide(utf8)) {
    const auto at = std::lower_bound(used_.begin(), used_.end(), unit);
    if (at == used_.end() || *at != unit) used_.insert(at, unit);
  }
}

uint32_t TOvPDFCompositeFont::GlyphOfUnit(char16_t unit) const {
  return IsSurrogate(unit) ? 0 : program_->GlyphOf(unit);
}

double TOvPDFCompositeFont::TextWidth(const std::string& utf8) const {
  double width = 0;
  for (const char16_t unit : UTF8ToWide(utf8)) width += program_->GlyphWidth(GlyphOfUnit(unit));
  return width;
}

void TOvPDFCompositeFont::Write(TOvPDFDocument& document) {
  if (IsWritten()) return;
  TOvPDFFile& file = document.File();
  std::vector<uint32_t> glyphs = {0};
  for (const char16_t unit : used_) glyphs.push_back(GlyphOfUnit(unit));
  std::sort(glyphs.begin(), glyphs.end());
  glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
  const ByteString program = program_->Subset(glyphs);
  const std::string name = SubsetTag(glyphs) + "+" + program_->PostScriptName();

  TOvPDFStream* fontFile = nullptr;
  TOvPDFRef* fontFileRef = NewCompressedStream(document, program, &fontFile);
  AddIntEntry(fontFile->Dictionary, "Length1", static_cast<int64_t>(program.size()));

  const TOvTrueTypeProgram::TMetrics metrics = program_->Metrics();
  TOvPDFDictionary* descriptor = file.NewDictionary();
  AddNameEntry(descriptor, "Type", "FontDescriptor");
  AddNameEntry(descriptor, "FontName", name);
  AddIntEntry(descriptor, "Flags", 32);  // nonsymbolic
  descriptor->AddEntry("FontBBox", IntArray(file, {metrics.BBox[0], metrics.BBox[1],
                                                   metrics.BBox[2], metrics.BBox[3]}));
  AddIntEntry(descriptor, "ItalicAngle", std::lround(metrics.ItalicAngle));
  AddIntEntry(descriptor, "Ascent", metrics.Ascent);
  AddIntEntry(descriptor, "Descent", metrics.Descent);
  AddIntEntry(descriptor, "CapHeight", metrics.CapHeight);
  AddIntEntry(descriptor, "StemV", 80);
  descriptor->AddEntry("FontFile2", fontFileRef);
  TOvPDFRef* descriptorRef = sigimpl::NewIndirectRef(document, descriptor);

  // Codes are UTF-16 units: the map holds a glyph for every code up to the
  // highest one used (two bytes each, big-endian).
  const uint32_t highest = used_.empty() ? 0 : used_.back();
  std::string map(2 * (static_cast<size_t>(highest) + 1), '\0');
  TOvPDFArray* widths = sigimpl::NewFlatArray(file);
  for (const char16_t unit : used_) {
    const uint32_t glyph = GlyphOfUnit(unit);
    const size_t at = 2 * static_cast<size_t>(unit);
    map[at] = static_cast<char>(glyph >> 8);
    map[at + 1] = static_cast<char>(glyph & 0xFF);
    sigimpl::AppendToArray(widths, file.NewInt(unit));
    sigimpl::AppendToArray(widths, IntArray(file, {program_->GlyphWidth(glyph)}));
  }

  TOvPDFDictionary* cidFont = file.NewDictionary();
  AddNameEntry(cidFont, "Type", "Font");
  AddNameEntry(cidFont, "Subtype", "CIDFontType2");
  AddNameEntry(cidFont, "BaseFont", name);
  TOvPDFDictionary* systemInfo = file.NewDictionary();
  AddStringEntry(systemInfo, "Registry", "Adobe", 0);
  AddStringEntry(systemInfo, "Ordering", "Identity", 0);
  AddIntEntry(systemInfo, "Supplement", 0);
  cidFont->AddEntry("CIDSystemInfo", systemInfo);
  cidFont->AddEntry("FontDescriptor", descriptorRef);
  AddIntEntry(cidFont, "DW", 1000);
  cidFont->AddEntry("W", widths);
  cidFont->AddEntry("CIDToGIDMap", NewCompressedStream(document, map));
  TOvPDFRef* cidFontRef = sigimpl::NewIndirectRef(document, cidFont);

  BaseFont = name;
  ToUnicode = ToUnicodeCMap(used_);
  TOvPDFDictionary* dict = BuildDictionary(document);
  AddNameEntry(dict, "Encoding", "Identity-H");
  TOvPDFArray* descendants = sigimpl::NewFlatArray(file);
  sigimpl::AppendToArray(descendants, cidFontRef);
  dict->AddEntry("DescendantFonts", descendants);
  TOvPDFRef* ref = sigimpl::NewIndirectRef(document, dict);
  ObjectNumber = ref->Number;
  ObjectGeneration = ref->Generation;
}

}  // namespace corvane
