// Reading a file: header, cross-reference sections (ISO 32000-1 7.5.4, 7.5.8),
// object streams (7.5.7), lazy loading and the rebuild by scanning.
#include "toolkit/pdf/CvPDFCore.h"

#include <algorithm>
#include <limits>

#include "toolkit/common/CvScope.h"
#include "toolkit/pdf/CvZlib.h"

namespace corvane {

namespace {

// Marks an object or stream as being loaded for the life of the guard.
class TCvLoadGuard {
 public:
  TCvLoadGuard(std::unordered_set<int32_t>& set, int32_t number, int& depth)
      : set_(set), number_(number), depth_(depth) {
    set_.insert(number_);
    ++depth_;
  }
  ~TCvLoadGuard() {
    set_.erase(number_);
    --depth_;
  }
  TCvLoadGuard(const TCvLoadGuard&) = delete;
  TCvLoadGuard& operator=(const TCvLoadGuard&) = delete;

 private:
  std::unordered_set<int32_t>& set_;
  int32_t number_;
  int& depth_;
};

uint64_t EntryKey(int32_t number, int32_t generation) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(generation);
}

bool AsInteger(TOvPDFObject* obj, int32_t& value) {
  auto* number = dynamic_cast<TOvPDFReal*>(obj);
  return number && TryStrToInt32(number->Data, value);
}

// Splits text into lines; CR, LF and CR LF each end one line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A filter other than FlateDecode: a name, or a non-empty chain.
bool IsOtherFilter(TOvPDFObject* filter) {
  if (auto* name = dynamic_cast<TOvPDFName*>(filter)) return !name->GetName().empty();
  auto* array = dynamic_cast<TOvPDFArray*>(filter);
  return array && !dynamic_cast<TOvPDFDictionary*>(filter) && array->ItemCount() > 0;
}

// The data of a cross-reference stream: FlateDecode (or none), then the PNG
// predictor of /DecodeParms.
std::string DecodeXRefStreamData(TOvPDFStream* stream) {
  TOvPDFObject* filter = GetResolvedEntry(stream->Dictionary, "Filter");
  std::string data;
  if (IsFlateFilter(filter)) {
    try {
      data = DecodeFlate(stream);
    } catch (const EOvPDFError&) {
      throw;
    } catch (const std::exception& e) {
      throw EOvPDFError(std::string("Decompression error: ") + e.what());
    }
  } else if (IsOtherFilter(filter)) {
    // Its output read as raw entries would be garbage.
    throw EOvPDFError("Unsupported encoding filter");
  } else {
    data = stream->GetRawData();
  }
  if (auto* parms =
          dynamic_cast<TOvPDFDictionary*>(GetResolvedEntry(stream->Dictionary, "DecodeParms"))) {
    const int64_t predictor = GetInt64Entry(parms, "Predictor", 1, false);
    if (predictor != 1) {
      const int64_t columns = predictor >= 2 ? GetInt64Entry(parms, "Columns", 1, false) : 1;
      const int64_t colors = GetInt64Entry(parms, "Colors", 1, false);
      const int64_t bits = GetInt64Entry(parms, "BitsPerComponent", 8, false);
      data = ApplyPredictor(data, predictor, columns, colors, bits);
    }
  }
  return data;
}

[[noreturn]] void XRefStreamFailure(const std::string& message) { throw EOvPDFError(message); }

uint64_t ObjectKey(int32_t number, int32_t generation) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(generation);
}

std::string ObjectName(int32_t number, int32_t generation) {
  return "object " + std::to_string(number) + " " + std::to_string(generation);
}

// "object N 0 in object stream S", for warnings.
std::string MemberName(int32_t number, int32_t streamNumber) {
  return ObjectName(number, 0) + " in object stream " + std::to_string(streamNumber);
}

// The text of an error for the warnings: the fixed message, and for a
// syntax error what exactly was wrong.
std::string WarningText(const std::exception& e) {
  if (const auto* parse = dynamic_cast<const EOvPDFParseError*>(&e);
      parse && !parse->Detail.empty()) {
    return std::string(e.what()) + " (" + parse->Detail + ")";
  }
  return e.what();
}

int64_t ErrorOffset(const std::exception& e) {
  const auto* parse = dynamic_cast<const EOvPDFParseError*>(&e);
  return parse ? parse->Offset : -1;
}

// An object the rebuild scan found, for a trailer made from what it found.
struct TCvFoundObject {
  int32_t Number = 0;
  int32_t Generation = 0;
  int64_t Offset = -1;
};

// Remembers the dictionary when it is a catalog or looks like a document
// information dictionary; the later of each wins, as later definitions do.
void NoteTrailerCandidate(TOvPDFDictionary* dict, const TOvPDFIndirect& indirect, int64_t offset,
                          TCvFoundObject& catalog, TCvFoundObject& info) {
  // A dictionary still held as its source text is read into entries only
  // when that text names what is looked for: the scan keeps the rest as text.
  const std::string_view text = dict->Data.view();
  if (!text.empty() && text.find("Catalog") == std::string_view::npos &&
      text.find("Producer") == std::string_view::npos &&
      text.find("Creat") == std::string_view::npos) {
    return;
  }
  // Only direct entries are looked at: the scan must load nothing else.
  const TCvFoundObject found{indirect.Number, indirect.Generation, offset};
  auto* type = dynamic_cast<TOvPDFName*>(GetEntry(dict, "Type"));
  if (type && type->GetName() == "Catalog") {
    catalog = found;
    return;
  }
  // An information dictionary (ISO 32000-1 14.3.3) has no type of its own;
  // an annotation, which may carry a creation date too, has a subtype.
  if (type || GetEntry(dict, "Subtype")) return;
  if (GetEntry(dict, "Producer") || GetEntry(dict, "Creator") || GetEntry(dict, "CreationDate")) {
    info = found;
  }
}

TOvPDFRef* FoundRef(TOvPDFFile& file, const TCvFoundObject& found) {
  TOvPDFRef* ref = file.NewRef(found.Number, found.Generation);
  ref->LeadingSpace.assign(1, ' ');
  return ref;
}

// A file whose scan found no trailer gets one: /Size above every number
// found, /Root the last catalog, /Info the last information dictionary.
// A trailer without a catalog gets the last one found. Nil when nothing was
// supplied.
TOvPDFDictionary* SupplyTrailer(TOvPDFFile& file, TOvPDFDictionary* trailer,
                                const TCvFoundObject& catalog, const TCvFoundObject& info) {
  if (catalog.Number <= 0) return nullptr;
  const std::string root = ObjectName(catalog.Number, catalog.Generation);
  if (trailer) {
    if (dynamic_cast<TOvPDFRef*>(GetEntry(trailer, "Root"))) return nullptr;
    SetEntry(trailer, "Root", FoundRef(file, catalog));
    trailer->SetModified(true);
    file.AddWarning(catalog.Offset, catalog.Number, "the trailer names no catalog; /Root " + root);
    return trailer;
  }
  const int64_t size = int64_t{file.MaxObjectNumber()} + 1;
  TOvPDFDictionary* made = file.NewDictionary();
  made->AddEntry("Size", file.NewInt(size));
  made->AddEntry("Root", FoundRef(file, catalog));
  std::string text = "no trailer found; one is made with /Root " + root;
  if (info.Number > 0) {
    made->AddEntry("Info", FoundRef(file, info));
    text += ", /Info " + ObjectName(info.Number, info.Generation);
  }
  made->SetModified(true);
  file.AddWarning(catalog.Offset, catalog.Number, text + " and /Size " + std::to_string(size));
  return made;
}

[[noreturn]] void ParseErrorAt(int64_t offset, const std::string& message) {
  EOvPDFParseError error(message);
  error.Offset = offset;
  throw error;
}

}  // namespace

// --- loading ----------------------------------------------------------------------

void TOvPDFFile::Load() {
  if (!source_) throw EOvPDFError("Bad document trailer");
  source_->SetPosition(0);
  damaged_ = false;
  uses_xref_streams_ = false;
  has_compressed_objects_ = false;
  revision_count_ = 0;
  sections_.clear();
  damage_reason_.clear();
  warnings_.clear();
  warning_keys_.clear();
  warnings_dropped_ = 0;
  lengths_.clear();
  last_start_xref_ = -1;
  stale_entries_.clear();
  ReadHeader();
  const int64_t scanLimit = ReadCrossReference();
  if (!trailer_) throw EOvPDFError("Bad document trailer");
  source_->SetPosition(0);
  BuildObjectList();
  if (!stale_entries_.empty() && StaleEntryIsReached()) {
    // A stale entry that the document needs: the tables are really broken.
    MarkDamaged(stale_reason_);
    stale_entries_.clear();
    for (TOvPDFRef* ref : object_list_) ref->parent_ = nullptr;
    object_list_.clear();
    canonical_.Clear();
    canonical_dirty_ = false;
    RebuildByScanning(scanLimit);
    if (!trailer_) throw EOvPDFError("Bad document trailer");
    source_->SetPosition(0);
    BuildObjectList();
  }
  FindXRefStm();
}

void TOvPDFFile::MarkDamaged(const std::string& reason, int64_t offset, int32_t number) {
  if (!damaged_) damage_reason_ = reason;
  damaged_ = true;
  AddWarning(offset, number, "cross-reference information rebuilt by scanning: " + reason);
}

void TOvPDFFile::ReadHeader() {
  version_ = 0;
  TOvPDFObject* first = nullptr;
  try {
    source_->SetPosition(0);
    first = ParseObject(*source_);
  } catch (const EOvPDFError&) {
    return;  // no readable header; the cross-reference decides whether this is a PDF
  }
  auto* comment = dynamic_cast<TOvPDFComment*>(first);
  if (!comment) return;
  std::string text = comment->GetComment();
  size_t b = 0;
  size_t e = text.size();
  while (b < e && static_cast<uint8_t>(text[b]) <= 0x20) ++b;
  while (e > b && static_cast<uint8_t>(text[e - 1]) <= 0x20) --e;
  text = text.substr(b, e - b);
  if (text.compare(0, 4, "PDF-") != 0) return;
  const std::string rest = text.substr(4);
  int32_t major = 0;
  int32_t minor = 0;
  const size_t dot = rest.find('.');
  if (dot == std::string::npos) {
    if (!TryStrToInt32(rest, major) || major < 0 || major > 1000) major = 0;
    version_ = major * 100;
    return;
  }
  if (!TryStrToInt32(rest.substr(0, dot), major) || major < 0 || major > 1000) major = 0;
  if (!TryStrToInt32(rest.substr(dot + 1), minor) || minor < 0 || minor > 99) minor = 0;
  version_ = major * 100 + (minor < 10 ? minor * 10 : minor);
}

bool TOvPDFFile::FindStartXRef(int64_t& scanLimit) {
  // Lines are read backwards from the end through a small cache.
  const int64_t size = source_->Size();
  std::string cache;
  int64_t cacheStart = 0;
  auto byteAt = [&](int64_t i) -> uint8_t {
    if (i < cacheStart || i >= cacheStart + static_cast<int64_t>(cache.size())) {
      cacheStart = std::max<int64_t>(0, i - 4095);
      source_->SetPosition(cacheStart);
      cache = source_->ReadString(static_cast<size_t>(i + 1 - cacheStart));
      if (cache.empty()) return 0;
    }
    return static_cast<uint8_t>(cache[static_cast<size_t>(i - cacheStart)]);
  };
  int64_t p = size;
  // The previous line: [start, end) with at most 256 bytes kept from its end.
  auto previousLine = [&](std::string& line, int64_t& end) -> bool {
    if (p <= 0) return false;
    if (byteAt(p - 1) == '\n') {
      --p;
      if (p > 0 && byteAt(p - 1) == '\r') --p;
    } else if (byteAt(p - 1) == '\r') {
      --p;
    }
    end = p;
    while (p > 0 && byteAt(p - 1) != '\n' && byteAt(p - 1) != '\r') --p;
    const int64_t keep = std::min<int64_t>(end - p, 256);
    line.clear();
    for (int64_t i = end - keep; i < end; ++i) line += static_cast<char>(byteAt(i));
    return true;
  };
  std::string line;
  int64_t lineEnd = 0;
  bool found = false;
  while (previousLine(line, lineEnd)) {
    const std::string trimmed = TrimPdfSpace(line);
    if (trimmed == "%%EOF" || trimmed == "%%") {
      found = true;
      scanLimit = lineEnd;
      break;
    }
  }
  if (!found) return false;
  // The offset line is the first non-empty line before it.
  std::string trimmed;
  while (previousLine(line, lineEnd)) {
    trimmed = TrimPdfSpace(line);
    if (!trimmed.empty()) break;
  }
  int64_t offset = -1;
  if (!TryStrToInt64(trimmed, offset)) {
    const size_t space = trimmed.rfind(' ');
    if (space == std::string::npos ||
        !TryStrToInt64(TrimPdfSpace(trimmed.substr(space + 1)), offset)) {
      offset = -1;
    }
  }
  last_start_xref_ = offset;
  return true;
}

int64_t TOvPDFFile::ReadCrossReference() {
  int64_t scanLimit = source_->Size();
  if (!FindStartXRef(scanLimit)) {
    // Cut short, or never finished: what the file holds is found by scanning.
    MarkDamaged("the file does not end in %%EOF", source_->Size());
  } else if (last_start_xref_ < 0) {
    MarkDamaged("the offset after startxref is not a number");
  } else {
    int64_t current = last_start_xref_;
    try {
      WalkSections(current);
    } catch (const std::exception& e) {
      const int64_t at = ErrorOffset(e);
      MarkDamaged(WarningText(e), at >= 0 ? at : current);
    }
  }
  std::string reason;
  const TOvPDFXrefEntry* bad = nullptr;
  if (!damaged_ && !VerifyEntries(reason, bad)) {
    MarkDamaged(reason, bad && !bad->Compressed ? bad->Offset : -1, bad ? bad->Number : -1);
  }
  if (damaged_) {
    stale_entries_.clear();
    RebuildByScanning(scanLimit);
  }
  return scanLimit;
}

void TOvPDFFile::WalkSections(int64_t& current) {
  std::unordered_set<int64_t> visited;
  int64_t offset = last_start_xref_;
  bool newest = true;
  for (;;) {
    current = offset;
    if (!visited.insert(offset).second) throw EOvPDFError("Cycle previous cross-reference");
    if (offset >= source_->Size()) throw EOvPDFError("Unsupported document version");
    source_->SetPosition(offset);
    if (keep_sections_) sections_.push_back(TOvPDFXRefSection{offset, false, {}});
    const TCvScopedValue<bool> noting(noting_sections_, keep_sections_);
    TOvPDFObject* obj = ParseObject(*source_);
    TOvPDFXRef* section = nullptr;
    if (dynamic_cast<TOvPDFReal*>(obj)) {
      section = ReadXRefStreamAt(*source_, offset);
      if (section && newest) uses_xref_streams_ = true;
    } else {
      section = dynamic_cast<TOvPDFXRef*>(obj);
    }
    if (!section) throw EOvPDFError("Unsupported document version");
    if (newest) trailer_ = section->Dictionary;
    if (keep_sections_) sections_.back().IsStream = section->IsStream;
    ++revision_count_;
    if (!section->IsStream) {
      ReadClassicEntries(section);
      // Read into entries, the table's text (20 bytes an object) is not needed again.
      section->Data.clear();
    }
    TOvPDFObject* prev = GetEntry(section->Dictionary, "Prev");
    if (!prev) break;
    int64_t prevOffset = 0;
    auto* number = dynamic_cast<TOvPDFReal*>(prev);
    if (!number || !TryStrToInt64(number->Data, prevOffset)) {
      throw EOvPDFError("Invalid reference table");
    }
    // Some writers put /Prev 0 for "none"; a negative offset cannot be followed.
    if (prevOffset < 0) throw EOvPDFError("Invalid reference table");
    if (prevOffset == 0) break;
    offset = prevOffset;
    newest = false;
  }
}

void TOvPDFFile::ReadClassicEntries(TOvPDFXRef* section) {
  const std::vector<std::string_view> lines = SplitLines(section->Data);
  size_t i = 0;
  // The first line starts with the keyword.
  if (lines.empty() || TrimPdfSpace(lines[0]).compare(0, 4, "xref") != 0) {
    MarkDamaged("a cross-reference section does not start with xref", section->SourceOffset);
  }
  ++i;
  struct TFree {
    int32_t number;
    int32_t generation;
  };
  std::vector<TFree> freed;
  while (i < lines.size()) {
    const std::string header = TrimPdfSpace(lines[i]);
    ++i;
    if (header.empty()) continue;
    if (header.find("trailer") != std::string::npos) break;
    const size_t space = header.find(' ');
    int64_t first = -1;
    int64_t count = -1;
    if (space == std::string::npos ||
        !TryStrToInt64(TrimPdfSpace(header.substr(0, space)), first) ||
        !TryStrToInt64(TrimPdfSpace(header.substr(space + 1)), count) || first < 0 || count < 0) {
      throw EOvPDFError("Invalid reference table");
    }
    // Each entry takes a line: no more can come than lines remain.
    xrefs_.Reserve(
        static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(lines.size() - i))));
    for (int64_t k = 0; k < count; ++k, ++i) {
      // Blank lines between entries (a CR CR line end, an editor's stray
      // line) are not entries.
      while (i < lines.size() && TrimPdfSpace(lines[i]).empty()) ++i;
      if (i >= lines.size()) throw EOvPDFError("Invalid reference table");
      const std::string_view line = lines[i];
      // An entry that cannot be read leaves its object unknown: the table
      // cannot be trusted, so the file is rebuilt.
      if (line.size() < 18 || (line[17] != 'f' && line[17] != 'n')) {
        throw EOvPDFError("Invalid reference table");
      }
      int64_t offset = -1;
      int64_t generation = -1;
      if (!TryStrToInt64(TrimPdfSpace(line.substr(0, 10)), offset) ||
          !TryStrToInt64(TrimPdfSpace(line.substr(11, 5)), generation) || offset < 0 ||
          generation < 0 || generation > PDF_MAX_OBJECT_NUMBER) {
        throw EOvPDFError("Invalid reference table");
      }
      const int64_t number = first + k;
      if (number > PDF_MAX_OBJECT_NUMBER) throw EOvPDFError("Invalid reference table");
      NoteSectionEntry(TOvPDFXrefEntry{static_cast<int32_t>(number),
                                       static_cast<int32_t>(generation),
                                       line[17] == 'f' ? 0 : offset, false, 0, 0});
      if (line[17] == 'f') {
        freed.push_back(TFree{static_cast<int32_t>(number), static_cast<int32_t>(generation)});
      } else {
        xrefs_.Add(static_cast<int32_t>(number), static_cast<int32_t>(generation), false, false,
                   offset);
      }
    }
  }
  // Hybrid file (ISO 32000-1 7.5.8.4): the stream named by /XRefStm belongs
  // to this section and is read before /Prev. Free entries of the table go in
  // after it, or they would hide its compressed entries.
  if (TOvPDFObject* stm = GetEntry(section->Dictionary, "XRefStm")) {
    int64_t stmOffset = 0;
    auto* number = dynamic_cast<TOvPDFReal*>(stm);
    if (!number || !TryStrToInt64(number->Data, stmOffset) || stmOffset <= 0 ||
        stmOffset >= source_->Size()) {
      throw EOvPDFError("Invalid reference table");
    }
    if (!ReadXRefStreamAt(*source_, stmOffset)) throw EOvPDFError("Unsupported document version");
  }
  for (const TFree& f : freed) xrefs_.Add(f.number, f.generation, false, false, 0);
}

TOvPDFXRef* TOvPDFFile::ReadXRefStreamAt(TOvStream& input, int64_t offset) {
  const TCvPositionGuard restore(input);
  input.SetPosition(offset);
  TOvPDFObject* a = ParseObject(input);
  TOvPDFObject* b = ParseObject(input);
  TOvPDFObject* c = ParseObject(input);
  int32_t number = 0;
  int32_t generation = 0;
  auto* indirect = dynamic_cast<TOvPDFIndirect*>(c);
  if (!AsInteger(a, number) || !AsInteger(b, generation) || !indirect ||
      !dynamic_cast<TOvPDFStream*>(indirect->Value)) {
    return nullptr;
  }
  indirect->Renumber(number, generation);
  return ParseXRefStream(indirect);
}

TOvPDFXRef* TOvPDFFile::ParseXRefStream(TOvPDFIndirect* indirect) {
  auto* stream = static_cast<TOvPDFStream*>(indirect->Value);
  TOvPDFDictionary* dict = stream->Dictionary;
  const std::string data = DecodeXRefStreamData(stream);
  auto* section = NewObject<TOvPDFXRef>();
  section->IsStream = true;
  section->Dictionary = dict;
  section->StreamObject = indirect;
  try {
    const int64_t size = GetInt64Entry(dict, "Size", 0, true);
    std::vector<int64_t> index;
    if (auto* array = dynamic_cast<TOvPDFArray*>(GetResolvedEntry(dict, "Index"))) {
      if (array->ItemCount() % 2 != 0) XRefStreamFailure("Invalid index");
      for (size_t i = 0; i < array->ItemCount(); ++i) {
        auto* number = dynamic_cast<TOvPDFReal*>(array->GetItem(i));
        if (!number) XRefStreamFailure("Invalid index");
        index.push_back(number->AsInt64());
      }
    } else {
      TOvPDFArray* created = NewArray();
      AppendInt(created, 0);
      AppendInt(created, size);
      SetEntry(dict, "Index", created);
      index = {0, size};
    }
    auto* w = dynamic_cast<TOvPDFArray*>(GetResolvedEntry(dict, "W"));
    if (!w || w->ItemCount() != 3) XRefStreamFailure("Invalid W entry in a cross-reference stream");
    int64_t widths[3];
    int64_t entrySize = 0;
    for (size_t i = 0; i < 3; ++i) {
      auto* number = dynamic_cast<TOvPDFReal*>(w->GetItem(i));
      if (!number) XRefStreamFailure("Invalid W entry in a cross-reference stream");
      widths[i] = number->AsInt64();
      // Up to 8 bytes: offsets beyond 4 GB need more than 4.
      if (widths[i] < 0 || widths[i] > 8) {
        XRefStreamFailure("Unsupported field size: " + std::to_string(widths[i]));
      }
      entrySize += widths[i];
    }
    if (entrySize < 1) XRefStreamFailure("Invalid W entry in a cross-reference stream");
    size_t pos = 0;
    auto field = [&](int64_t width, uint64_t defaultValue) -> uint64_t {
      if (width == 0) return defaultValue;
      if (data.size() - pos < static_cast<size_t>(width)) {
        XRefStreamFailure("Invalid cross-reference stream data");
      }
      uint64_t value = 0;
      for (int64_t k = 0; k < width; ++k) value = value << 8 | static_cast<uint8_t>(data[pos++]);
      return value;
    };
    constexpr uint64_t kMaxNumber = PDF_MAX_OBJECT_NUMBER;
    for (size_t pair = 0; pair < index.size(); pair += 2) {
      const int64_t first = index[pair];
      const int64_t count = index[pair + 1];
      if (first < 0 || count < 0 || first > PDF_MAX_OBJECT_NUMBER ||
          count > PDF_MAX_OBJECT_NUMBER - first + 1) {
        XRefStreamFailure("Invalid index");
      }
      if (count > static_cast<int64_t>((data.size() - pos) / static_cast<size_t>(entrySize))) {
        XRefStreamFailure("Invalid cross-reference stream data");
      }
      xrefs_.Reserve(static_cast<size_t>(count));
      for (int64_t k = 0; k < count; ++k) {
        const auto number = static_cast<int32_t>(first + k);
        const uint64_t type = field(widths[0], 1);
        const uint64_t second = field(widths[1], 0);
        const uint64_t third = field(widths[2], 0);
        if (type == 0) {
          NoteSectionEntry(TOvPDFXrefEntry{number, 0, 0, false, 0, 0});
          xrefs_.Add(number, 0, false, false, 0);
        } else if (type == 1) {
          if (third > kMaxNumber || second > static_cast<uint64_t>(INT64_MAX)) {
            XRefStreamFailure("Invalid cross-reference stream data");
          }
          NoteSectionEntry(TOvPDFXrefEntry{number, static_cast<int32_t>(third),
                                           static_cast<int64_t>(second), false, 0, 0});
          xrefs_.Add(number, static_cast<int32_t>(third), false, false,
                     static_cast<int64_t>(second));
        } else if (type == 2) {
          if (second > kMaxNumber || third > kMaxNumber) {
            XRefStreamFailure("Invalid cross-reference stream data");
          }
          NoteSectionEntry(TOvPDFXrefEntry{number, 0, 0, true, static_cast<int32_t>(second),
                                           static_cast<int32_t>(third)});
          xrefs_.AddCompressed(number, 0, static_cast<int32_t>(third),
                               static_cast<int32_t>(second));
          has_compressed_objects_ = true;
        }
      }
    }
  } catch (const std::exception& e) {
    throw EOvPDFError(std::string("Invalid cross-reference stream: ") + e.what());
  }
  return section;
}

void TOvPDFFile::NoteSectionEntry(const TOvPDFXrefEntry& entry) {
  if (noting_sections_ && !sections_.empty()) sections_.back().Entries.push_back(entry);
}

bool TOvPDFFile::HeaderAt(int64_t offset, int32_t& number, int32_t& generation) {
  source_->SetPosition(offset);
  const std::string head = source_->ReadString(64);
  size_t i = 0;
  auto skipSpace = [&]() {
    while (i < head.size() && IsPdfWhitespace(static_cast<uint8_t>(head[i]))) ++i;
  };
  auto integer = [&](int32_t& value) {
    const size_t start = i;
    while (i < head.size() && IsPdfRegular(static_cast<uint8_t>(head[i]))) ++i;
    return TryStrToInt32(std::string_view(head).substr(start, i - start), value);
  };
  skipSpace();
  if (!integer(number)) return false;
  skipSpace();
  if (!integer(generation)) return false;
  skipSpace();
  return head.compare(i, 3, "obj") == 0 &&
         (i + 3 >= head.size() || !IsPdfRegular(static_cast<uint8_t>(head[i + 3])));
}

bool TOvPDFFile::VerifyEntries(std::string& reason, const TOvPDFXrefEntry*& bad) {
  // Every entry in use must lead to its object; an entry that cannot be
  // followed means the tables are damaged (then the file is rebuilt).
  const int64_t size = source_->Size();
  std::vector<const TOvPDFXrefEntry*> direct;
  std::vector<const TOvPDFXrefEntry*> compressed;
  for (const auto& [key, entry] : xrefs_) {
    if (entry.Compressed) {
      compressed.push_back(&entry);
    } else if (entry.Offset > 0) {
      direct.push_back(&entry);
    }
  }
  std::sort(direct.begin(), direct.end(),
            [](const auto* a, const auto* b) { return a->Offset < b->Offset; });
  const TCvPositionGuard restore(*source_);
  for (size_t i = 0; i < direct.size(); ++i) {
    const TOvPDFXrefEntry& entry = *direct[i];
    if (entry.Offset >= size) {
      reason = "object " + std::to_string(entry.Number) + " lies past the end of the file";
      bad = &entry;
      return false;
    }
    // Entries sharing an offset are sorted out by ResolveDuplicateOffsets.
    const bool shared = (i > 0 && direct[i - 1]->Offset == entry.Offset) ||
                        (i + 1 < direct.size() && direct[i + 1]->Offset == entry.Offset);
    if (shared) continue;
    int32_t number = 0;
    int32_t generation = 0;
    const bool header = HeaderAt(entry.Offset, number, generation);
    if (header && number == entry.Number && generation == entry.Generation) continue;
    const std::string why = "object " + std::to_string(entry.Number) + " is not at its offset " +
                            std::to_string(entry.Offset);
    // Some writers leave an entry at another object's offset (a stale entry,
    // often the cross-reference stream's own). It only matters when the
    // document reaches that object; Load checks that.
    if (!header || !xrefs_.Find(number, generation)) {
      reason = why;
      bad = &entry;
      return false;
    }
    if (stale_entries_.empty()) stale_reason_ = why;
    stale_entries_.insert(EntryKey(entry.Number, entry.Generation));
    AddWarning(entry.Offset, entry.Number, why + "; the entry is left out");
  }
  for (const TOvPDFXrefEntry* entry : compressed) {
    const TOvPDFXrefEntry* container = xrefs_.Find(entry->StreamNumber, 0);
    if (!container || container->Compressed || container->Offset <= 0) {
      reason = "object " + std::to_string(entry->Number) + " names a missing object stream " +
               std::to_string(entry->StreamNumber);
      bad = entry;
      return false;
    }
  }
  return true;
}

void TOvPDFFile::RebuildByScanning(int64_t scanLimit) {
  // Later definitions replace earlier ones: incremental updates append the
  // newer text of an object after the older one.
  source_->SetPosition(0);
  lengths_.clear();
  TOvPDFObject* previous[2] = {nullptr, nullptr};
  TOvPDFDictionary* lastTrailer = nullptr;
  // What a trailer is made of when the scan finds none.
  TCvFoundObject catalog;
  TCvFoundObject info;
  // The objects the scan found where they stand.
  std::unordered_set<uint64_t> found;
  // What parses that fail may read in all: a few passes over the file. A
  // failure can read far beyond its own line (a string that never closes
  // runs to the end), so without a bound the scan would be quadratic.
  const int64_t failBudget = 4 * scanLimit + int64_t{64} * 1024;
  int64_t failedWork = 0;
  // Moves to the start of the line after the one holding position, reading
  // about as much as the line holds.
  auto SkipLine = [this, scanLimit](int64_t position) {
    source_->SetPosition(position + 1);
    for (size_t want = 128;; want = std::min<size_t>(want * 2, size_t{64} * 1024)) {
      const std::string chunk = source_->ReadString(want);
      if (chunk.empty()) return;
      const size_t eol = chunk.find_first_of("\r\n");
      if (eol != std::string::npos) {
        source_->SetPosition(source_->Position() - static_cast<int64_t>(chunk.size() - eol - 1));
        return;
      }
      if (source_->Position() >= scanLimit) return;
    }
  };
  // Runs of lines stepped over unread make one warning each.
  int64_t skippedFrom = -1;
  auto EndSkipped = [&](int64_t at) {
    if (skippedFrom < 0) return;
    AddWarning(skippedFrom, -1,
               "skipped " + std::to_string(at - skippedFrom) + " bytes that start no object");
    skippedFrom = -1;
  };
  while (source_->Position() < scanLimit) {
    const int64_t before = source_->Position();
    std::string peek = source_->ReadString(32);
    size_t i = 0;
    while (i < peek.size() && IsPdfWhitespace(static_cast<uint8_t>(peek[i]))) ++i;
    if (i == peek.size()) {
      if (peek.empty()) break;
      source_->SetPosition(before + static_cast<int64_t>(i));
      continue;
    }
    const int64_t lineStart = before + static_cast<int64_t>(i);
    // "startxref" and its offset stand outside any object.
    if (peek.compare(i, 9, "startxref") == 0) {
      EndSkipped(lineStart);
      source_->SetPosition(lineStart + 9);
      previous[0] = previous[1] = nullptr;
      continue;
    }
    // Numbers (object headers), comments and keywords (xref, trailer, a stray
    // endobj) are what the scan looks for. A line that starts with anything
    // else is stepped over by its own length, never parsed.
    const auto c = static_cast<uint8_t>(peek[i]);
    const bool candidate = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == '%' ||
                           (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!candidate) {
      if (skippedFrom < 0) skippedFrom = lineStart;
      SkipLine(lineStart);
      previous[0] = previous[1] = nullptr;
      continue;
    }
    source_->SetPosition(before);
    TOvPDFObject* obj = nullptr;
    const int64_t readBefore = parse_read_;
    try {
      obj = ParseObject(*source_);
    } catch (const EOvPDFParseError& e) {
      // What cannot be read (typically the broken table that caused the
      // rebuild) is stepped over a line at a time, within the budget.
      failedWork += parse_read_ - readBefore;
      if (failedWork > failBudget) throw;
      EndSkipped(lineStart);
      AddWarning(e.Offset >= 0 ? e.Offset : lineStart, -1,
                 "skipped unreadable text: " + WarningText(e));
      SkipLine(lineStart);
      previous[0] = previous[1] = nullptr;
      continue;
    }
    EndSkipped(lineStart);
    if (!obj) break;
    if (auto* null = dynamic_cast<TOvPDFNull*>(obj); null && null->Data.empty()) {
      // A stray "endobj": step over it.
      source_->SetPosition(obj->SourceOffset + 6);
      previous[0] = previous[1] = nullptr;
      continue;
    }
    int32_t number = 0;
    int32_t generation = 0;
    if (auto* indirect = dynamic_cast<TOvPDFIndirect*>(obj);
        indirect && AsInteger(previous[0], number) && AsInteger(previous[1], generation) &&
        number >= 0 && generation >= 0) {
      indirect->Renumber(number, generation);
      xrefs_.Add(number, generation, true, false, previous[0]->SourceOffset);
      found.insert(EntryKey(number, generation));
      if (auto* stream = dynamic_cast<TOvPDFStream*>(indirect->Value)) {
        const std::string type = GetNameEntry(stream->Dictionary, "Type", "", false);
        if (type == "ObjStm") IndexObjectStream(indirect);
        if (type == "XRef") lastTrailer = stream->Dictionary;
      } else if (auto* dict = dynamic_cast<TOvPDFDictionary*>(indirect->Value)) {
        NoteTrailerCandidate(dict, *indirect, previous[0]->SourceOffset, catalog, info);
      }
    }
    if (auto* section = dynamic_cast<TOvPDFXRef*>(obj)) lastTrailer = section->Dictionary;
    previous[0] = previous[1];
    previous[1] = obj;
    if (source_->Position() <= before) source_->SetPosition(before + 1);
  }
  EndSkipped(std::min(source_->Position(), scanLimit));
  {
    // An entry of the broken tables whose object the scan did not find, and
    // whose offset holds no such object, cannot be followed: reading it would
    // fail wherever the object is needed (a rewrite reads every object).
    const int64_t size = source_->Size();
    const TCvPositionGuard restore(*source_);
    std::vector<std::pair<int32_t, int32_t>> dropped;
    for (const auto& [key, entry] : xrefs_) {
      if (entry.Compressed || entry.Offset <= 0 ||
          found.count(EntryKey(entry.Number, entry.Generation))) {
        continue;
      }
      int32_t number = 0;
      int32_t generation = 0;
      if (entry.Offset < size && HeaderAt(entry.Offset, number, generation) &&
          number == entry.Number && generation == entry.Generation) {
        continue;
      }
      dropped.emplace_back(entry.Number, entry.Generation);
      AddWarning(entry.Offset, entry.Number,
                 ObjectName(entry.Number, entry.Generation) + " is neither at offset " +
                     std::to_string(entry.Offset) +
                     " as its entry says nor anywhere else; the entry is dropped");
    }
    if (!dropped.empty()) {
      std::unordered_set<uint64_t> keys;
      for (const auto& [number, generation] : dropped) keys.insert(EntryKey(number, generation));
      xrefs_.RemoveIf([&](const TOvPDFXrefEntry& entry) {
        return keys.count(EntryKey(entry.Number, entry.Generation)) > 0;
      });
    }
  }
  if (!trailer_ && lastTrailer) trailer_ = lastTrailer;
  if (TOvPDFDictionary* made = SupplyTrailer(*this, trailer_, catalog, info)) trailer_ = made;
  // Lengths read during the scan may name objects the scan replaced later.
  lengths_.clear();
}

void TOvPDFFile::IndexObjectStream(TOvPDFIndirect* indirect) {
  // The members of an object stream are defined where the stream stands.
  auto* stream = static_cast<TOvPDFStream*>(indirect->Value);
  try {
    const int64_t count = GetInt64Entry(stream->Dictionary, "N", 0, true);
    std::vector<int32_t> numbers;
    ReadObjectStreamPrefix(stream, [&](TOvMemoryStream& input, bool truncated) {
      numbers.clear();
      for (int64_t i = 0; i < count; ++i) {
        int32_t number = 0;
        int32_t offset = 0;
        bool ok = false;
        try {
          ok = ParseInteger(input, number) && ParseInteger(input, offset);
        } catch (const EOvPDFError&) {
          if (truncated) return false;
          throw;
        }
        if (truncated && input.Position() >= input.Size()) return false;
        if (!ok || number < 0) break;
        numbers.push_back(number);
      }
      return true;
    });
    for (size_t i = 0; i < numbers.size(); ++i) {
      // A stream cannot lie inside itself (ISO 32000-1 7.5.7); taking such a
      // member would hide the object stream and all its members.
      if (numbers[i] == indirect->Number) continue;
      xrefs_.AddCompressed(numbers[i], 0, static_cast<int32_t>(i), indirect->Number, true);
      has_compressed_objects_ = true;
    }
  } catch (const std::exception& e) {
    // An object stream that cannot be read (encrypted, broken) indexes nothing.
    AddWarning(indirect->SourceOffset, indirect->Number,
               "object stream cannot be read, its members are not indexed: " + WarningText(e));
  }
}

void TOvPDFFile::BuildObjectList() {
  if (!dynamic_cast<TOvPDFRef*>(GetEntry(trailer_, "Root"))) {
    throw EOvPDFParseError("Bad document trailer");
  }
  if (!Progress(0)) throw EOvPDFError("Interrupted by user");
  // Entries that lose a shared offset never get a reference: thousands of
  // them must cost neither memory nor a search each.
  const std::unordered_set<uint64_t> dropped = ResolveDuplicateOffsets();
  const size_t count = xrefs_.Count();
  // Sized once: a hundred thousand objects must not leave growth slack behind.
  object_list_.reserve(object_list_.size() + count);
  if (!canonical_dirty_) canonical_.Size(MaxObjectNumber(), object_list_.size() + count);
  size_t i = 0;
  for (const auto& [key, entry] : xrefs_) {
    if (!entry.Compressed && entry.Offset > 0) {
      if (!dropped.count(ObjectKey(entry.Number, entry.Generation)) &&
          !stale_entries_.count(EntryKey(entry.Number, entry.Generation))) {
        AppendCanonical(NewRef(entry.Number, entry.Generation));
      }
      if (!Progress(static_cast<int>(i * 50 / count))) throw EOvPDFError("Interrupted by user");
    }
    ++i;
  }
  if (IsEncrypted()) return;  // compressed objects wait for decryption
  i = 0;
  for (const auto& [key, entry] : xrefs_) {
    if (entry.Compressed) {
      AppendCanonical(NewRef(entry.Number, entry.Generation));
      if (!Progress(static_cast<int>(i * 50 / count + 50))) {
        throw EOvPDFError("Interrupted by user");
      }
    }
    ++i;
  }
  if (!Progress(100)) throw EOvPDFError("Interrupted by user");
}

std::unordered_set<uint64_t> TOvPDFFile::ResolveDuplicateOffsets() {
  std::vector<const TOvPDFXrefEntry*> direct;
  for (const auto& [key, entry] : xrefs_) {
    if (!entry.Compressed && entry.Offset > 0) direct.push_back(&entry);
  }
  std::stable_sort(direct.begin(), direct.end(),
                   [](const auto* a, const auto* b) { return a->Offset < b->Offset; });
  const int64_t size = source_->Size();
  const TCvPositionGuard restore(*source_);
  // Each shared offset is read once: many entries naming one offset must
  // not cost their square.
  std::unordered_set<uint64_t> dropped;
  for (size_t i = 0; i < direct.size();) {
    const int64_t offset = direct[i]->Offset;
    size_t end = i + 1;
    while (end < direct.size() && direct[end]->Offset == offset) ++end;
    if (end - i > 1 && offset < size) {
      source_->SetPosition(offset);
      int32_t number = 0;
      int32_t generation = 0;
      if (!ParseInteger(*source_, number) || !ParseInteger(*source_, generation)) {
        ParseErrorAt(offset, "Indirect object expected");
      }
      for (size_t k = i; k < end; ++k) {
        const TOvPDFXrefEntry& entry = *direct[k];
        if (entry.Number == number && entry.Generation == generation) continue;
        dropped.insert(ObjectKey(entry.Number, entry.Generation));
        AddWarning(offset, entry.Number,
                   ObjectName(entry.Number, entry.Generation) + " shares its offset with " +
                       ObjectName(number, generation) + "; dropped");
      }
    }
    i = end;
  }
  return dropped;
}

bool TOvPDFFile::StaleEntryIsReached() {
  // Every object reachable from the trailer, each once, without recursion.
  std::vector<TOvPDFObject*> pending{trailer_};
  std::unordered_set<uint64_t> seen;
  while (!pending.empty()) {
    TOvPDFObject* obj = pending.back();
    pending.pop_back();
    if (auto* ref = dynamic_cast<TOvPDFRef*>(obj)) {
      const uint64_t key = EntryKey(ref->Number, ref->Generation);
      if (stale_entries_.count(key)) return true;
      if (!seen.insert(key).second) continue;
      TOvPDFRef* canonical = FindCanonical(ref->Number, ref->Generation);
      if (!canonical) continue;  // free or unknown: null, as for any reader
      try {
        if (TOvPDFIndirect* target = canonical->Resolve()) pending.push_back(target->Value);
      } catch (const EOvPDFError&) {
        return true;  // a reachable object that does not read: damaged after all
      } catch (const EStreamError&) {
        return true;
      }
    } else if (auto* stream = dynamic_cast<TOvPDFStream*>(obj)) {
      pending.push_back(stream->Dictionary);
    } else if (auto* array = dynamic_cast<TOvPDFArray*>(obj)) {
      for (const auto& item : array->Items()) {
        if (item.Object) pending.push_back(item.Object);
      }
    }
  }
  return false;
}

void TOvPDFFile::FindXRefStm() {
  xref_stream_object_ = nullptr;
  auto* number = dynamic_cast<TOvPDFReal*>(GetEntry(trailer_, "XRefStm"));
  int64_t offset = 0;
  if (!number || !TryStrToInt64(number->Data, offset) || offset < 1) return;
  for (const auto& [key, entry] : xrefs_) {
    if (!entry.Compressed && entry.Offset == offset) {
      if (TOvPDFRef* ref = FindCanonical(entry.Number, entry.Generation)) {
        xref_stream_object_ = ref->Resolve();
      }
      return;
    }
  }
}

// --- objects on demand ----------------------------------------------------------------

TOvPDFIndirect* TOvPDFFile::LoadObject(TOvStream& input, int32_t number, int32_t generation) {
  const TOvPDFXrefEntry* entry = xrefs_.Find(number, generation);
  if (!entry) {
    // Objects added since loading have no entry yet; they are not missing.
    const TOvPDFRef* added = FindCanonical(number, generation);
    if (!added || !added->Target) {
      AddWarning(-1, number, ObjectName(number, generation) + " is not defined; read as null");
    }
    return nullptr;
  }
  if (loading_objects_.count(number)) {
    AddWarning(-1, number,
               ObjectName(number, generation) +
                   " is needed while it is being read (a cycle); read as null");
    return nullptr;
  }
  if (load_depth_ >= PDF_MAX_LOAD_DEPTH) {
    AddWarning(-1, number,
               ObjectName(number, generation) + " is nested too deep in other loads; read as null");
    return nullptr;
  }
  const TCvLoadGuard guard(loading_objects_, number, load_depth_);
  if (entry->Compressed) {
    return LoadCompressedObject(number, entry->StreamNumber, entry->StreamIndex);
  }
  const int64_t offset = entry->Offset;
  if (offset <= 0 || offset >= input.Size()) {
    AddWarning(offset > 0 ? offset : -1, number,
               ObjectName(number, generation) +
                   (offset > 0 ? " lies past the end of the file; read as null"
                               : " is free; read as null"));
    return nullptr;
  }
  const TCvPositionGuard restore(input);
  input.SetPosition(offset);
  int32_t foundNumber = 0;
  int32_t foundGeneration = 0;
  if (!ParseInteger(input, foundNumber) || !ParseInteger(input, foundGeneration)) {
    ParseErrorAt(offset, "Indirect object expected");
  }
  if (foundNumber != number || foundGeneration != generation) {
    ParseErrorAt(offset, "possible error in Xref table: indirect expected " +
                             std::to_string(number) + ":" + std::to_string(generation) + ", got " +
                             std::to_string(foundNumber) + ":" + std::to_string(foundGeneration));
  }
  auto* indirect = dynamic_cast<TOvPDFIndirect*>(ParseObject(input));
  if (!indirect) ParseErrorAt(offset, "Indirect object expected");
  indirect->Renumber(number, generation);
  if (indirect->Value) indirect->Value->parent_ = nullptr;
  return indirect;
}

bool TOvPDFFile::LoadLengthValue(int32_t number, int32_t generation, int64_t& length) {
  // Many streams may share one length object: it is read once, through the
  // file's own copy when the object list exists and through lengths_ while the
  // tables are still being read. The integer is copied; the object stays intact.
  constexpr int64_t kNotInteger = -2;
  int64_t value = -1;
  TOvPDFRef* canonical = FindCanonical(number, generation);
  // A peek keeps nothing: an object not loaded yet is read
  // the way it is while the tables are read.
  if (canonical && (canonical->Resolved || !peeking_)) {
    try {
      if (TOvPDFIndirect* target = canonical->Resolve(); target && target->Value) {
        auto* real = dynamic_cast<TOvPDFReal*>(target->Value);
        if (!real || !TryStrToInt64(real->Data, value) || value < 0) value = kNotInteger;
      }
    } catch (const EOvPDFError& e) {
      AddWarning(ErrorOffset(e), number,
                 "the length of a stream cannot be read from " + ObjectName(number, generation) +
                     ": " + WarningText(e));
    } catch (const EStreamError&) {
    }
  } else {
    const uint64_t key = ObjectKey(number, generation);
    auto it = lengths_.find(key);
    if (it == lengths_.end()) {
      // Not known yet (the rebuild scan may meet it later): not remembered.
      if (!source_ || !xrefs_.Find(number, generation)) return false;
      try {
        if (TOvPDFIndirect* loaded = LoadObject(*source_, number, generation);
            loaded && loaded->Value) {
          auto* real = dynamic_cast<TOvPDFReal*>(loaded->Value);
          if (!real || !TryStrToInt64(real->Data, value) || value < 0) value = kNotInteger;
        }
      } catch (const EOvPDFError& e) {
        AddWarning(ErrorOffset(e), number,
                   "the length of a stream cannot be read from " + ObjectName(number, generation) +
                       ": " + WarningText(e));
      } catch (const EStreamError&) {
      }
      it = lengths_.emplace(key, value).first;
    }
    value = it->second;
  }
  if (value == kNotInteger) throw EOvPDFParseError("Illegal stream dictionary");
  if (value < 0) return false;
  length = value;
  return true;
}

void TOvPDFFile::ReadObjectStreamPrefix(
    TOvPDFStream* stream,
    const std::function<bool(TOvMemoryStream& input, bool truncated)>& parse) {
  if (!IsFlateFilter(GetResolvedEntry(stream->Dictionary, "Filter"))) {
    TOvMemoryStream input(DecodeStreamData(stream));
    parse(input, false);
    return;
  }
  // Members usually sit near the start; a stream that inflates to far more
  // than they need is decoded only as far as they reach. A parse that runs
  // into the end of the prefix asks for a longer one (four times as long,
  // decoded again), so the work stays within a small multiple of what is kept.
  constexpr size_t kFirstPrefix = size_t{64} * 1024;
  const size_t limit =
      std::min(PDF_MAX_INFLATE_SIZE, static_cast<size_t>(std::max<int64_t>(inflate_budget_, 0)));
  const std::string raw = stream->GetRawData();
  size_t keep = std::min(limit, kFirstPrefix);
  for (;;) {
    bool truncated = false;
    std::string data = ZlibDecompressPrefix(raw, keep, truncated);
    const auto kept = static_cast<int64_t>(data.size());
    TOvMemoryStream input(std::move(data));
    if (parse(input, truncated) || !truncated) {
      inflate_budget_ -= kept;
      return;
    }
    if (keep >= limit) throw EOvPDFError("Decompression error");
    keep = keep > limit / 4 ? limit : keep * 4;
  }
}

void TOvPDFFile::DecodeObjectStream(TOvPDFStream* stream) {
  TCvObjectStreamCache& cache = stream->ObjectStream;
  if (cache.Loaded) return;
  // A stream that failed fails again at once: its thousand members must
  // not decode it a thousand times.
  if (cache.Failure) std::rethrow_exception(cache.Failure);
  try {
    DecodeObjectStreamOnce(stream);
  } catch (const EOvPDFError&) {
    cache.Failure = std::current_exception();
    throw;
  } catch (const ECvZlibError&) {
    cache.Failure = std::current_exception();
    throw;
  } catch (const EStreamError&) {
    cache.Failure = std::current_exception();
    throw;
  }
}

// How much whitespace may stand between a member's offset and its object.
constexpr size_t kMemberSpace = size_t{64} * 1024;

void TOvPDFFile::DecodeObjectStreamOnce(TOvPDFStream* stream) {
  TCvObjectStreamCache& cache = stream->ObjectStream;
  TOvPDFDictionary* dict = stream->Dictionary;
  if (GetNameEntry(dict, "Type", "", true) != "ObjStm") throw EOvPDFError("Invalid object stream");
  const int64_t count = GetInt64Entry(dict, "N", 0, true);
  const int64_t first = GetInt64Entry(dict, "First", 0, true);
  if (first < 0 || count < 0) throw EOvPDFError("Invalid object stream");
  // The header of N pairs lies in the first /First bytes; the shortest,
  // "0 0 0 0 ... 0 0", takes 4 N - 1 of them.
  if (count > (first + 1) / 4) {
    throw EOvPDFParseError("Invalid object stream", "/First " + std::to_string(first) +
                                                        " cannot hold the header of /N " +
                                                        std::to_string(count) + " objects");
  }
  ReadObjectStreamPrefix(stream, [&](TOvMemoryStream& input, bool truncated) {
    const int64_t size = input.Size();
    cache.Numbers.clear();
    cache.Offsets.clear();
    cache.Objects.clear();
    cache.Ends.clear();
    cache.Index.clear();
    // Running into the end of a truncated prefix asks for more; the end of
    // the whole content is an error.
    auto incomplete = [&]() {
      if (!truncated) throw EOvPDFError("Invalid object stream");
      return false;
    };
    if (first > size) return incomplete();
    // The header is read from its own bytes: nothing past /First is inflated
    // to find it.
    TOvMemoryStream header(input.Data().substr(0, static_cast<size_t>(first)));
    for (int64_t i = 0; i < count; ++i) {
      int32_t number = 0;
      int64_t offset = 0;
      bool ok = false;
      bool offsetRead = false;
      {
        TOvPDFObject* a = ParseMember(header);
        auto* b = dynamic_cast<TOvPDFReal*>(ParseMember(header));
        offsetRead = b && TryStrToInt64(b->Data, offset) && offset >= 0;
        ok = AsInteger(a, number) && number >= 0 && offsetRead && offset <= size;
        ReleaseScratch(b);
        ReleaseScratch(a);
      }
      if (!ok) {
        // An offset past a truncated prefix may lie within the whole content.
        if (truncated && offsetRead) return false;
        throw EOvPDFError("Invalid object stream");
      }
      cache.Numbers.push_back(number);
      cache.Offsets.push_back(offset);
    }
    // Each member is read from its own bytes, from its offset to the next
    // member's: the members of a hostile stream may all point into one long
    // object, and must cost no more than the content holds. A member at an
    // offset an earlier member has already reads as null.
    const size_t n = cache.Numbers.size();
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return cache.Offsets[a] < cache.Offsets[b]; });
    cache.Ends.assign(n, -1);
    size_t last = n;
    for (size_t k = 0; k < n;) {
      size_t next = k + 1;
      while (next < n && cache.Offsets[order[next]] == cache.Offsets[order[k]]) ++next;
      cache.Ends[order[k]] = next < n ? cache.Offsets[order[next]] : size - first;
      last = order[k];
      k = next;
    }
    // Only the last member reaches the end of a prefix: the prefix must hold
    // all of it, and it is parsed once to find out (and freed again).
    if (truncated && last < n) {
      const int64_t start = first + cache.Offsets[last];
      if (start >= size) return false;
      const TCvScopedValue<bool> scanning(peeking_, true);
      const TCvRegistryRollback rollback{*this, registry_.size()};
      input.SetPosition(start);
      TOvPDFObject* obj = nullptr;
      try {
        obj = ParseMember(input);
      } catch (const EOvPDFError&) {
        return false;
      }
      // Whitespace cut by the prefix's end follows a complete object;
      // anything else may continue beyond it. An object begins where its
      // offset says: a first prefix's length of nothing but whitespace after
      // it holds none, however far the whitespace runs.
      const bool nothing = !obj && size - start >= static_cast<int64_t>(kMemberSpace);
      if (input.Position() >= size && !nothing && (!obj || obj->TrailingSpace.empty())) {
        return false;
      }
    }
    cache.First = first;
    cache.Truncated = truncated;
    cache.Objects.assign(cache.Numbers.size(), nullptr);
    cache.Made = 0;
    // The content is done with here: it is taken rather than copied.
    cache.Content = std::move(input.Data());
    return true;
  });
  cache.Loaded = true;
}

TOvPDFIndirect* TOvPDFFile::ParseMemberAt(TOvPDFStream* stream, size_t i) {
  TCvObjectStreamCache& cache = stream->ObjectStream;
  const auto* owner = dynamic_cast<const TOvPDFIndirect*>(stream->Parent());
  const int32_t container = owner ? owner->Number : 0;
  const auto size = static_cast<int64_t>(cache.Content.size());
  const int64_t start = cache.First + cache.Offsets[i];
  const int64_t end = std::min(cache.First + cache.Ends[i], size);
  TOvPDFObject* obj = nullptr;
  if (cache.Ends[i] < 0) {
    AddWarning(
        -1, cache.Numbers[i],
        MemberName(cache.Numbers[i], container) + " lies where another member does; read as null");
  } else if (start < end) {
    TOvMemoryStream input(
        cache.Content.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
    obj = ParseMember(input);
    if (obj && cache.Truncated && end == size && input.Position() >= input.Size()) {
      obj->TrailingSpace.clear();
    }
    if (!obj) {
      AddWarning(-1, cache.Numbers[i],
                 MemberName(cache.Numbers[i], container) + " holds no object; read as null");
    }
  }
  if (!obj) obj = NewNull();
  if (obj->TrailingSpace.empty()) obj->TrailingSpace = line_end_;
  // Like an object read from the file, a member gets its text only when
  // it is written: a large document must not hold a copy of all of them.
  auto* indirect = NewObject<TOvPDFIndirect>();
  indirect->Value = obj;
  obj->parent_ = indirect;
  indirect->Renumber(cache.Numbers[i], 0);
  indirect->InObjectStream = true;
  indirect->ContainerNumber = container;
  indirect->ContainerIndex = static_cast<int32_t>(i);
  return indirect;
}

int64_t TOvPDFFile::MemberIndex(TCvObjectStreamCache& cache, int32_t number, int32_t index) {
  if (index >= 0 && static_cast<size_t>(index) < cache.Numbers.size() &&
      cache.Numbers[static_cast<size_t>(index)] == number) {
    return index;
  }
  if (cache.Index.empty()) {
    for (size_t i = 0; i < cache.Numbers.size(); ++i) cache.Index.emplace(cache.Numbers[i], i);
  }
  auto it = cache.Index.find(number);
  return it == cache.Index.end() ? -1 : static_cast<int64_t>(it->second);
}

TOvPDFStream* TOvPDFFile::DecodedObjectStream(int32_t number, int32_t streamNumber) {
  if (loading_streams_.count(streamNumber) || load_depth_ >= PDF_MAX_LOAD_DEPTH) {
    AddWarning(-1, number,
               MemberName(number, streamNumber) +
                   " is needed while that stream is being read; read as null");
    return nullptr;
  }
  const TCvLoadGuard guard(loading_streams_, streamNumber, load_depth_);
  TOvPDFRef* ref = FindCanonical(streamNumber, 0);
  if (peeking_) {
    // A peek loads and decodes nothing: what it cannot see without that is
    // read when the object is loaded for good.
    TOvPDFIndirect* container = ref && ref->Resolved ? ref->Target : nullptr;
    auto* stream = container ? dynamic_cast<TOvPDFStream*>(container->Value) : nullptr;
    return stream && stream->ObjectStream.Loaded ? stream : nullptr;
  }
  TOvPDFIndirect* container = ref ? ref->Resolve() : nullptr;
  auto* stream = container ? dynamic_cast<TOvPDFStream*>(container->Value) : nullptr;
  if (!stream) {
    AddWarning(-1, number,
               MemberName(number, streamNumber) + ": the object stream is missing; read as null");
    return nullptr;
  }
  DecodeObjectStream(stream);
  return stream;
}

TOvPDFIndirect* TOvPDFFile::LoadCompressedObject(int32_t number, int32_t streamNumber,
                                                 int32_t index) {
  TOvPDFStream* stream = DecodedObjectStream(number, streamNumber);
  if (!stream) return nullptr;
  TCvObjectStreamCache& cache = stream->ObjectStream;
  const int64_t i = MemberIndex(cache, number, index);
  if (i < 0) {
    AddWarning(-1, number,
               MemberName(number, streamNumber) + ": not among its members; read as null");
    return nullptr;
  }
  TOvPDFIndirect*& member = cache.Objects[static_cast<size_t>(i)];
  if (member) return member;
  TOvPDFIndirect* parsed = ParseMemberAt(stream, static_cast<size_t>(i));
  // A peek frees what it parsed.
  if (peeking_) return parsed;
  member = parsed;
  // Once every member is made, the content has nothing left to give.
  if (++cache.Made == cache.Objects.size()) std::string().swap(cache.Content);
  return parsed;
}

}  // namespace corvane
