// Writing: incremental updates (ISO 32000-1 7.5.6) with a classic table, a
// cross-reference stream (7.5.8) or both, and the full rewrite.
#include "toolkit/pdf/CvPDFCore.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "toolkit/common/CvScope.h"

namespace corvane {

namespace {

[[noreturn]] void Interrupted() { throw EOvPDFError("Interrupted by user"); }

uint64_t EntryKey(int32_t number, int32_t generation) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(number)) << 32) |
         static_cast<uint32_t>(generation);
}

std::string EntryLine(const TOvPDFXrefEntry& entry) {
  if (entry.Generation < 0 || entry.Generation > 99999 || entry.Offset < 0 ||
      entry.Offset > 9999999999LL) {
    throw EOvPDFError("Invalid object or generation number");
  }
  char line[32];
  if (entry.Offset != 0) {
    std::snprintf(line, sizeof line, "%010lld %05d n\r\n", static_cast<long long>(entry.Offset),
                  entry.Generation);
  } else {
    std::snprintf(line, sizeof line, "0000000000 %05d f\r\n", entry.Generation);
  }
  return line;
}

constexpr std::string_view kFreeHead = "0000000000 65535 f\r\n";

int BytesFor(uint64_t value) {
  int bytes = 1;
  while (bytes < 8 && (value >> (8 * bytes)) != 0) ++bytes;
  return bytes;
}

void PutBigEndian(std::string& out, uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Replaces or adds an integer entry, changing an existing number in place.
void PutInt(TOvPDFDictionary* dict, std::string_view key, int64_t value) {
  if (auto* number = dynamic_cast<TOvPDFReal*>(GetEntry(dict, key))) {
    number->SetInt(value);
    dict->Rebuild();
  } else {
    SetEntry(dict, key, dict->Owner()->NewInt(value));
  }
}

}  // namespace

void TOvPDFFile::Save() {
  if (!Progress(0)) Interrupted();
  if (!source_ || !trailer_) throw EOvPDFError("Bad document trailer");
  if (full_rewrite_) {
    SaveFull();
  } else {
    // Offsets found by scanning are guesses; an update chained to them
    // would point back into tables that readers cannot follow.
    if (damaged_) {
      throw EOvPDFError("The cross-reference table was rebuilt; only a full rewrite can save it");
    }
    SaveIncremental();
  }
}

void TOvPDFFile::SaveIncremental() {
  source_->Seek(0, TSeekOrigin::soEnd);
  source_->Write(line_end_);
  // One entry per object and generation; the last change recorded wins.
  std::vector<TOvPDFXrefEntry> entries;
  std::unordered_map<uint64_t, size_t> where;
  for (const TOvPDFXrefEntry& change : modified_entries_) {
    const uint64_t key = EntryKey(change.Number, change.Generation);
    auto it = where.find(key);
    if (it == where.end()) {
      where.emplace(key, entries.size());
      entries.push_back(change);
    } else {
      entries[it->second].Offset = change.Offset;
    }
  }
  const size_t count = entries.size();
  for (size_t i = 0; i < count; ++i) {
    TOvPDFXrefEntry& entry = entries[i];
    TOvPDFRef* ref = FindCanonical(entry.Number, entry.Generation);
    if (!ref) throw EOvPDFError("Invalid object or generation number");
    if (entry.Offset != 0) {
      TOvPDFIndirect* indirect = ref->Resolve();
      if (!indirect) throw EOvPDFError("Invalid object or generation number");
      entry.Number = indirect->Number;
      entry.Generation = indirect->Generation;
      entry.Offset = source_->Position();
      indirect->WriteTo(*source_, true);
      if (indirect->TrailingSpace.empty()) source_->Write(line_end_);
    }
    if (!Progress(static_cast<int>(i * 100 / count))) Interrupted();
  }
  for (TOvPDFXrefEntry& change : modified_entries_) {
    const TOvPDFXrefEntry& written = entries[where[EntryKey(change.Number, change.Generation)]];
    change.Offset = written.Offset;
  }

  TOvPDFReal* prev = NewInt(last_start_xref_);
  SetEntry(trailer_, "Prev", prev);
  prev->LeadingSpace = " ";
  trailer_->Rebuild();

  const bool hybrid =
      xref_stream_object_ || dynamic_cast<TOvPDFReal*>(GetEntry(trailer_, "XRefStm"));
  if (uses_xref_streams_) {
    WriteXRefStream(*source_, entries, false);
  } else if (hybrid) {
    RemoveEntry(trailer_, "XRefStm");
    const int64_t streamOffset = source_->Position();
    const int32_t n = WriteXRefStream(*source_, entries, true);
    PutInt(trailer_, "Size", static_cast<int64_t>(n) + 1);
    const int64_t tableOffset = source_->Position();
    const TOvPDFXrefEntry self{n, 65535, 0, false, 0, 0};
    modified_entries_.push_back(self);
    entries.push_back(self);
    WriteXRefTable(*source_, entries, true, false);
    PutInt(trailer_, "XRefStm", streamOffset);
    PutInt(trailer_, "Prev", tableOffset);
    entries.clear();
    WriteXRefTable(*source_, entries, false, false);
  } else {
    WriteXRefTable(*source_, entries, false, false);
  }
  if (!Progress(100)) Interrupted();
}

void TOvPDFFile::WriteXRefTable(TOvStream& output, std::vector<TOvPDFXrefEntry>& entries,
                                bool noTail, bool full) {
  const int64_t start = output.Position();
  std::string text = "xref\r\n";
  std::string body;
  if (full) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.Number < b.Number; });
    std::vector<const TOvPDFXrefEntry*> byNumber;
    for (const auto& entry : entries) {
      if (entry.Number <= 0) continue;
      if (!byNumber.empty() && byNumber.back()->Number == entry.Number) {
        if (entry.Generation > byNumber.back()->Generation) byNumber.back() = &entry;
        continue;
      }
      byNumber.push_back(&entry);
    }
    const int64_t highest = byNumber.empty() ? 0 : byNumber.back()->Number;
    // The whole file is in this one table: /Size is one more than its
    // highest number (readers check this), whatever the source said.
    const auto* size = dynamic_cast<const TOvPDFReal*>(GetEntry(trailer_, "Size"));
    if (!size || size->Data != std::to_string(highest + 1)) PutInt(trailer_, "Size", highest + 1);
    body = "0 " + std::to_string(highest + 1) + "\r\n";
    body += kFreeHead;
    size_t k = 0;
    for (int64_t number = 1; number <= highest; ++number) {
      if (k < byNumber.size() && byNumber[k]->Number == number) {
        body += EntryLine(*byNumber[k++]);
      } else {
        body += kFreeHead;
      }
    }
    if (dynamic_cast<TOvPDFReal*>(GetEntry(trailer_, "XRefStm"))) {
      if (xref_stream_object_) {
        PutInt(trailer_, "XRefStm", xref_stream_object_->WriteOffset());
      } else {
        RemoveEntry(trailer_, "XRefStm");
      }
    }
  } else {
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      return a.Generation != b.Generation ? a.Generation < b.Generation : a.Number < b.Number;
    });
    size_t i = 0;
    while (i < entries.size()) {
      if (entries[i].Number <= 0) {
        ++i;
        continue;
      }
      size_t j = i + 1;
      while (j < entries.size() && entries[j].Number == entries[j - 1].Number + 1) ++j;
      const int32_t first = entries[i].Number;
      const size_t runLength = j - i;
      if (first == 1) {
        body += "0 " + std::to_string(runLength + 1) + "\r\n";
        body += kFreeHead;
      } else {
        body += std::to_string(first) + " " + std::to_string(runLength) + "\r\n";
      }
      for (size_t k = i; k < j; ++k) body += EntryLine(entries[k]);
      i = j;
    }
  }
  if (body.empty()) body = "0 0\r\n";
  text += body;
  text += "trailer\r\n";
  trailer_->Rebuild();
  text += trailer_->Data;
  if (!noTail) text += "\r\nstartxref\r\n" + std::to_string(start) + "\r\n%%EOF";
  text += "\r\n";
  output.Write(text);
}

int32_t TOvPDFFile::WriteXRefStream(TOvStream& output, std::vector<TOvPDFXrefEntry>& entries,
                                    bool noTail) {
  TOvPDFStream* stream = TOvPDFStream::NewStream(this);
  TOvPDFDictionary* dict = stream->Dictionary;
  TOvPDFArray* index = NewArray();
  index->LeadingSpace = " ";
  index->OpenSpace.clear();
  // The numbers created for /Index get no trailing whitespace.
  std::optional<TCvScopedValue<std::string>> noLineEnd(std::in_place, line_end_, std::string());
  const int64_t start = output.Position();

  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.Number < b.Number; });
  // The stream takes the number after every object in use.
  int64_t highest = 0;
  for (const auto& entry : entries) highest = std::max<int64_t>(highest, entry.Number);
  if (auto* size = dynamic_cast<TOvPDFReal*>(GetEntry(trailer_, "Size"))) {
    highest = std::max<int64_t>(highest, size->AsInt64() - 1);
  }
  // Nor may it take the number of a reference seen in the file.
  highest = std::max<int64_t>(highest, HighestKnownNumber());
  if (highest + 1 > PDF_MAX_OBJECT_NUMBER - 1) {
    throw EOvPDFError("Invalid object or generation number");
  }
  const auto n = static_cast<int32_t>(highest + 1);
  // The stream lists itself too, so that /Size is one more than the highest
  // object number of the section (readers check this).
  std::vector<TOvPDFXrefEntry> listed = entries;
  listed.push_back(TOvPDFXrefEntry{n, 0, start, false, 0, 0});
  // Field widths grow with the values: offsets past 4 GB, generations past 255.
  uint64_t maxSecond = 0;
  uint64_t maxThird = 0;
  for (const auto& entry : listed) {
    const bool isFree = !entry.Compressed && entry.Offset == 0;
    const uint64_t second = entry.Compressed ? static_cast<uint64_t>(entry.StreamNumber)
                            : isFree         ? 0
                                             : static_cast<uint64_t>(entry.Offset);
    const uint64_t third = entry.Compressed ? static_cast<uint64_t>(entry.StreamIndex)
                                            : static_cast<uint64_t>(entry.Generation);
    maxSecond = std::max(maxSecond, second);
    maxThird = std::max(maxThird, third);
  }
  const int w2 = std::max(4, BytesFor(maxSecond));
  const int w3 = BytesFor(maxThird);
  std::string records;
  records.reserve(listed.size() * static_cast<size_t>(1 + w2 + w3));
  std::vector<TOvPDFObject*> runs;
  runs.reserve(listed.size() * 2);
  for (const auto& entry : listed) {
    runs.push_back(NewInt(entry.Number));
    runs.push_back(NewInt(1));
    if (entry.Compressed) {
      records += '\x02';
      PutBigEndian(records, static_cast<uint64_t>(entry.StreamNumber), w2);
      PutBigEndian(records, static_cast<uint64_t>(entry.StreamIndex), w3);
    } else if (entry.Offset == 0) {
      records += '\x00';
      PutBigEndian(records, 0, w2);
      PutBigEndian(records, static_cast<uint64_t>(entry.Generation), w3);
    } else {
      records += '\x01';
      PutBigEndian(records, static_cast<uint64_t>(entry.Offset), w2);
      PutBigEndian(records, static_cast<uint64_t>(entry.Generation), w3);
    }
  }
  index->AddItems(runs);
  noLineEnd.reset();
  stream->CloseSpace = line_end_;
  stream->Tail = stream->CloseSpace + "endstream";
  stream->SetContent(records);

  static const std::string_view kSkipped[] = {"Index",       "W",      "Length",
                                              "DecodeParms", "Filter", "Type"};
  for (const auto& item : trailer_->Items()) {
    if (std::find(std::begin(kSkipped), std::end(kSkipped), item.Key) != std::end(kSkipped)) {
      continue;
    }
    if (item.Key == "Size" && dynamic_cast<TOvPDFReal*>(item.Object)) continue;
    if (!item.Object) continue;
    TOvPDFObject* value = nullptr;
    try {
      value = item.Object->Clone();
    } catch (const EOvPDFError&) {
      value = item.Object;  // streams and indirect objects cannot be copied
    }
    dict->AddEntry(item.Key, value);
  }
  dict->AddEntry("Index", index);
  TOvPDFArray* w = NewArray();
  w->LeadingSpace = " ";
  w->OpenSpace.clear();
  for (const int v : {1, w2, w3}) {
    TOvPDFReal* number = NewInt(v);
    number->TrailingSpace.clear();
    w->AddItem(number);
  }
  w->SetModified(true);
  dict->AddEntry("W", w);
  dict->AddEntry("Type", NewName("XRef"));
  dict->AddEntry("Size", NewInt(static_cast<int64_t>(n) + 1));
  dict->SetModified(true);

  output.Write(std::to_string(n) + " 0 obj" + line_end_);
  stream->WriteTo(output, true);
  output.Write("endobj" + line_end_);
  if (!noTail) output.Write("startxref" + line_end_ + std::to_string(start) + line_end_ + "%%EOF");
  return n;
}

void TOvPDFFile::SaveFull() {
  TOvStream* output = nullptr;
  bool owns = false;
  if (on_create_temporary_stream_) on_create_temporary_stream_(*this, output, owns);
  std::unique_ptr<TOvStream> owned;
  if (!output) {
    owned = std::make_unique<TOvMemoryStream>();
    output = owned.get();
  } else if (owns) {
    owned.reset(output);
  }
  output->SetPosition(0);

  std::string header;
  if (version_ > 0) {
    const int32_t minor = version_ % 10 != 0 ? version_ % 100 : (version_ % 100) / 10;
    header = "%PDF-" + std::to_string(version_ / 100) + "." + std::to_string(minor);
  } else {
    header = uses_xref_streams_ ? "%PDF-1.5" : "%PDF-1.4";
  }
  output->Write(header + line_end_ + "%\xE2\xE3\xCF\xD3" + line_end_);

  std::vector<TOvPDFXrefEntry> entries;
  const size_t count = object_list_.size();
  int64_t highest = 0;
  for (size_t i = 0; i < count; ++i) {
    TOvPDFIndirect* indirect = object_list_[i]->Resolve();
    if (indirect) {
      TOvPDFXrefEntry entry{
          indirect->Number, indirect->Generation, output->Position(), false, 0, 0};
      indirect->WriteTo(*output, true);
      if (indirect->TrailingSpace.empty()) output->Write(line_end_);
      entries.push_back(entry);
      highest = std::max<int64_t>(highest, indirect->Number);
    }
    if (!Progress(static_cast<int>(i * 100 / std::max<size_t>(count, 1)))) Interrupted();
  }

  // The trailer of a file that used cross-reference streams is a stream
  // dictionary; what described that stream does not belong in a table trailer.
  if (GetNameEntry(trailer_, "Type", "", false) == "XRef") {
    for (const char* key : {"Type", "W", "Index", "Length", "Filter", "DecodeParms"}) {
      RemoveEntry(trailer_, key);
    }
  }
  // /Size covers every object written (ISO 32000-1 7.5.5).
  auto* size = dynamic_cast<TOvPDFReal*>(GetEntry(trailer_, "Size"));
  if (!size || size->AsInt64() < highest + 1) PutInt(trailer_, "Size", highest + 1);

  WriteXRefTable(*output, entries, false, true);
  output->SetSize(output->Position());
  source_->SetSize(output->Size());
  source_->SetPosition(0);
  output->SetPosition(0);
  source_->CopyFrom(*output, output->Size());
}

}  // namespace corvane
