// Hostile and damaged input: the work done on it stays within a small multiple
// of its size (counted in bytes read, never in time), memory stays near what
// the objects need, and every recovery is recorded where it was made.
#include <algorithm>

#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;
using namespace pdftest;

namespace {

// A memory stream that counts the bytes read from it.
class TCountingStream final : public TOvStream {
 public:
  explicit TCountingStream(std::string bytes) : inner_(std::move(bytes)) {}
  size_t Read(void* buffer, size_t count) override {
    const size_t got = inner_.Read(buffer, count);
    BytesRead += static_cast<int64_t>(got);
    return got;
  }
  void Write(const void* buffer, size_t count) override { inner_.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }
  void SetSize(int64_t size) override { inner_.SetSize(size); }

  int64_t BytesRead = 0;

 private:
  TOvMemoryStream inner_;
};

struct TCounted {
  TCountingStream source;
  TOvPDFFile file;
  explicit TCounted(const std::string& bytes) : source(bytes) {}
  void Load() { file.Reload(source); }
  // How many times the file was read over, so far.
  double Passes() {
    return static_cast<double>(source.BytesRead) / static_cast<double>(source.Size());
  }
  TOvPDFObject* Value(int number) {
    TOvPDFRef* ref = file.FindCanonical(number, 0);
    TOvPDFIndirect* target = ref ? ref->Resolve() : nullptr;
    return target ? target->Value : nullptr;
  }
};

bool HasWarning(const TOvPDFFile& file, const std::string& part, int64_t offset = -2) {
  return std::any_of(file.Warnings().begin(), file.Warnings().end(), [&](const TOvPDFWarning& w) {
    return w.Text.find(part) != std::string::npos && (offset == -2 || w.Offset == offset);
  });
}

std::string WarningList(const TOvPDFFile& file) {
  std::string out;
  for (const auto& w : file.Warnings()) out += std::to_string(w.Offset) + ": " + w.Text + "\n";
  return out;
}

std::string BreakStartXRef(std::string text) {
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  return text;
}

}  // namespace

TEST(Hostile, RebuildStepsOverLinesThatNeverCloseByTheirOwnLength) {
  // 100 KB of lines opening strings that never close, then a readable file
  // whose startxref is not a number: each bad line costs its own length.
  std::string garbage;
  while (garbage.size() < 100000) garbage += "(never closed \\( " + std::string(44, 'x') + "\n";
  TFixture f = OnePage();
  f.header = "%PDF-1.4\n" + garbage;
  TCounted loaded(BreakStartXRef(f.Build()));
  loaded.Load();
  EXPECT_LT(loaded.Passes(), 8.0);
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_NE(loaded.Value(3), nullptr);
  EXPECT_TRUE(HasWarning(loaded.file, "bytes that start no object", 9)) << WarningList(loaded.file);

  // The same lines inside objects are parsed, and each failure may read to
  // the end; the scan gives up with the parse error after a few passes.
  std::string objects = "%PDF-1.4\n";
  while (objects.size() < 100000) objects += "7 0 obj (never closed " + std::string(40, 'x') + "\n";
  TCounted hostile(objects + "startxref\nx\n%%EOF\n");
  EXPECT_THROW(hostile.Load(), EOvPDFParseError);
  EXPECT_LT(hostile.Passes(), 8.0);
}

TEST(Hostile, SharedIndirectLengthIsReadOnce) {
  // Object 5, behind a 1 MB comment, is the /Length of 200 streams.
  TFixture f;
  std::string kids;
  for (int i = 0; i < 200; ++i) kids += std::to_string(10 + i) + " 0 R ";
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /Streams [" + kids + "] >>");
  f.Add(2, "<< /Type /Pages /Kids [] /Count 0 >>");
  f.Add(5, "%" + std::string(1000000, 'c') + "\n13");
  for (int i = 0; i < 200; ++i)
    f.Add(10 + i, "<< /Length 5 0 R >>\nstream\n0 0 m 9 9 l S\nendstream");
  const std::string text = f.Build();
  for (const bool rebuild : {false, true}) {
    TCounted loaded(rebuild ? BreakStartXRef(text) : text);
    loaded.Load();
    ASSERT_EQ(loaded.file.Damaged(), rebuild);
    const size_t registry = loaded.file.RegistrySize();
    for (int i = 0; i < 200; ++i) {
      auto* stream = dynamic_cast<TOvPDFStream*>(loaded.Value(10 + i));
      ASSERT_NE(stream, nullptr) << i;
      EXPECT_EQ(stream->GetRawData(), "0 0 m 9 9 l S") << i;
    }
    EXPECT_LT(loaded.Passes(), 6.0) << "rebuild " << rebuild;
    // Parsing a stream makes a handful of objects; a fresh copy of the
    // length object per stream would add its own on top.
    EXPECT_LT(loaded.file.RegistrySize() - registry, 200u * 12) << "rebuild " << rebuild;
    // The length object itself is intact and read once more as itself.
    auto* length = dynamic_cast<TOvPDFReal*>(loaded.Value(5));
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length->AsInt(), 13);
  }
}

TEST(Hostile, ManyEntriesSharingAnOffsetAreSortedOutOnce) {
  // Entries 4..20003 all name object 3's offset.
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  std::map<int, long long> offsets;
  std::string text = f.Build(&offsets);
  const size_t table = text.find("xref\n0 4\n");
  std::string entries = "xref\n0 20004\n0000000000 65535 f \n";
  char line[32];
  for (int n = 1; n < 20004; ++n) {
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", offsets[std::min(n, 3)]);
    entries += line;
  }
  const size_t trailer = text.find("trailer", table);
  text = text.substr(0, table) + entries + text.substr(trailer);
  text.replace(text.find("/Size 4"), 7, "/Size 20004");
  TCounted loaded(text);
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.ObjectList().size(), 3u);
  EXPECT_NE(dynamic_cast<TOvPDFDictionary*>(loaded.Value(3)), nullptr);
  EXPECT_EQ(loaded.file.FindCanonical(4, 0), nullptr);
  EXPECT_LT(loaded.Passes(), 4.0);
  // Every dropped entry is a warning; the list stops at its cap and counts the rest.
  EXPECT_EQ(loaded.file.Warnings().size(), PDF_MAX_WARNINGS);
  EXPECT_EQ(loaded.file.WarningsDropped(), 20000u - PDF_MAX_WARNINGS);
  EXPECT_TRUE(
      HasWarning(loaded.file, "object 4 0 shares its offset with object 3 0; dropped", offsets[3]));
}

TEST(Hostile, LongPrevChainIsReadSectionBySection) {
  // 2,000 classic sections, one "startxref" at the very end.
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [] /Count 0 >>");
  std::string text = f.Build();
  text.erase(text.rfind("startxref"));
  long long prev = static_cast<long long>(text.find("xref\n0 3"));
  for (int i = 1; i < 2000; ++i) {
    const auto here = static_cast<long long>(text.size());
    text += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 3 /Root 1 0 R /Prev " +
            std::to_string(prev) + " >>\n";
    prev = here;
  }
  text += "startxref\n" + std::to_string(prev) + "\n%%EOF\n";
  TCounted loaded(text);
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  EXPECT_EQ(loaded.file.RevisionCount(), 2000);
  EXPECT_NE(loaded.Value(2), nullptr);
  // Each section costs about its own length (reading it to the end of the
  // file each time would be about a thousand passes).
  EXPECT_LT(loaded.Passes(), 40.0);
  // A section whose "startxref" follows its trailer still keeps it as its text.
  TCounted single(f.Build());
  single.Load();
  single.source.SetPosition(static_cast<int64_t>(f.Build().find("xref\n0 3")));
  auto* section = dynamic_cast<TOvPDFXRef*>(single.file.ParseObject(single.source));
  ASSERT_NE(section, nullptr);
  EXPECT_NE(section->Data.find("startxref\n"), std::string::npos);
  EXPECT_EQ(single.source.Position(), single.source.Size());
}

namespace {

std::string WithXRefStream(std::string out, std::map<int, std::pair<int, long long>> rows,
                           int self);

// Object 1 the catalog, members 10.. in object streams 20.., each stream
// inflating to head + members + padding bytes of spaces; listed in a
// cross-reference stream.
std::string ObjectStreamBombs(int streams, size_t padding, size_t memberOffset = 0) {
  std::string out = "%PDF-1.5\n";
  std::map<int, std::pair<int, long long>> rows;  // number -> (type, field)
  std::string fields;
  for (int k = 0; k < streams; ++k) fields += std::to_string(10 + k) + " 0 R ";
  rows[1] = {1, static_cast<long long>(out.size())};
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R /Fields [" + fields + "] >>\nendobj\n";
  rows[2] = {1, static_cast<long long>(out.size())};
  out += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  for (int k = 0; k < streams; ++k) {
    const std::string head = std::to_string(10 + k) + " " + std::to_string(memberOffset) + " ";
    std::string content = head + std::string(memberOffset, ' ') + "<< /Member " +
                          std::to_string(k) + " /Text (" + std::string(100, 'm') + ") >>";
    content += std::string(padding, ' ');
    const std::string packed = ZlibCompress(content, 9);
    rows[20 + k] = {1, static_cast<long long>(out.size())};
    rows[10 + k] = {2, 20 + k};
    out += std::to_string(20 + k) + " 0 obj\n<< /Type /ObjStm /N 1 /First " +
           std::to_string(head.size()) + " /Filter /FlateDecode /Length " +
           std::to_string(packed.size()) + " >>\nstream\n" + packed + "\nendstream\nendobj\n";
  }
  return WithXRefStream(out, rows, 20 + streams);
}

// Ends out with cross-reference stream `self` listing rows (number -> type,
// field; the third field is 0).
std::string WithXRefStream(std::string out, std::map<int, std::pair<int, long long>> rows,
                           int self) {
  rows[self] = {1, static_cast<long long>(out.size())};
  std::string records;
  for (int n = 0; n <= self; ++n) {
    auto it = rows.find(n);
    const int type = it == rows.end() ? 0 : it->second.first;
    const long long field = it == rows.end() ? 0 : it->second.second;
    records += static_cast<char>(type);
    for (int i = 3; i >= 0; --i) records += static_cast<char>((field >> (8 * i)) & 0xFF);
    records += static_cast<char>(0);
  }
  out += std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(self + 1) +
         " /W [1 4 1] /Root 1 0 R /Length " + std::to_string(records.size()) + " >>\nstream\n" +
         records + "\nendstream\nendobj\nstartxref\n" + std::to_string(rows[self].second) +
         "\n%%EOF\n";
  return out;
}

}  // namespace

TEST(Hostile, ObjectStreamsInflateOnlyWhatTheirMembersNeed) {
  // Five streams of 8 MB each once inflated, one small member in each.
  TCounted loaded(ObjectStreamBombs(5, size_t{8} << 20));
  loaded.Load();
  for (int k = 0; k < 5; ++k) {
    auto* member = dynamic_cast<TOvPDFDictionary*>(loaded.Value(10 + k));
    ASSERT_NE(member, nullptr) << k;
    EXPECT_EQ(GetIntEntry(member, "Member", -1, false), k);
    // Whitespace cut short by the decoding is not kept.
    EXPECT_LE(member->TrailingSpace.size(), 1u);
  }
  const int64_t used = PDF_MAX_INFLATE_TOTAL - loaded.file.InflateBudget();
  EXPECT_GT(used, 0);
  EXPECT_LT(used, int64_t{5} << 20) << "bytes inflated and kept: " << used;

  // A member far into the content, and one that crosses the first prefix's end,
  // are still read whole.
  for (const size_t offset : {size_t{3} << 20, size_t{64 * 1024 - 60}}) {
    TCounted far(ObjectStreamBombs(1, size_t{1} << 20, offset));
    far.Load();
    auto* member = dynamic_cast<TOvPDFDictionary*>(far.Value(10));
    ASSERT_NE(member, nullptr) << offset;
    EXPECT_EQ(GetStringEntry(member, "Text", false), std::string(100, 'm')) << offset;
  }
}

TEST(Hostile, AnObjectStreamThatFailsIsDecodedOnce) {
  // Two thousand members of one stream of 100 KB whose header is broken.
  std::string out = "%PDF-1.5\n";
  std::map<int, std::pair<int, long long>> rows;
  rows[1] = {1, static_cast<long long>(out.size())};
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  rows[2] = {1, static_cast<long long>(out.size())};
  out += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  const std::string content = "100 0 (" + std::string(100000, 'x') + ")";
  rows[20] = {1, static_cast<long long>(out.size())};
  out += "20 0 obj\n<< /Type /ObjStm /N 2000 /First 8000 /Length " +
         std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream\nendobj\n";
  for (int n = 100; n < 2100; ++n) rows[n] = {2, 20};
  TCounted loaded(WithXRefStream(out, rows, 2100));
  loaded.Load();
  for (int n = 100; n < 2100; ++n) EXPECT_THROW(loaded.Value(n), EOvPDFError) << n;
  EXPECT_LT(loaded.Passes(), 3.0);
}

namespace {

// Object 10 alone in object stream 20, whose content is given, listed in a
// cross-reference stream.
std::string OneMemberStream(const std::string& content, int first) {
  std::string out = "%PDF-1.5\n";
  std::map<int, std::pair<int, long long>> rows;
  rows[1] = {1, static_cast<long long>(out.size())};
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  rows[2] = {1, static_cast<long long>(out.size())};
  out += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
  const std::string packed = ZlibCompress(content, 9);
  rows[20] = {1, static_cast<long long>(out.size())};
  rows[10] = {2, 20};
  out += "20 0 obj\n<< /Type /ObjStm /N 1 /First " + std::to_string(first) +
         " /Filter /FlateDecode /Length " + std::to_string(packed.size()) + " >>\nstream\n" +
         packed + "\nendstream\nendobj\n";
  return WithXRefStream(out, rows, 21);
}

}  // namespace

TEST(Hostile, ObjectStreamsLieWhereTheirHeaderSays) {
  // Two megabytes of spaces after a header of no bytes (too short for one
  // pair: damage at once) and after one of sixteen spaces (read no further
  // than /First): the small budget left is never reached.
  const std::string spaces(size_t{2} << 20, ' ');
  for (const int first : {0, 16}) {
    TCounted loaded(OneMemberStream(std::string(static_cast<size_t>(first), ' ') + spaces, first));
    loaded.Load();
    loaded.file.SetInflateBudget(1 << 20);
    try {
      loaded.Value(10);
      ADD_FAILURE() << "no error";
    } catch (const EOvPDFError& e) {
      EXPECT_STREQ(e.what(), "Invalid object stream") << first;
      // Too short for one pair: nothing is inflated at all.
      const auto* parse = dynamic_cast<const EOvPDFParseError*>(&e);
      EXPECT_EQ(parse ? parse->Detail : "",
                first ? "" : "/First 0 cannot hold the header of /N 1 objects");
    }
  }
  // A member whose offset is followed by nothing but spaces holds no object.
  TCounted empty(OneMemberStream("10 0 " + spaces, 5));
  empty.Load();
  empty.file.SetInflateBudget(1 << 20);
  EXPECT_NE(dynamic_cast<TOvPDFNull*>(empty.Value(10)), nullptr);
  EXPECT_TRUE(HasWarning(empty.file, "object 10 0 in object stream 20 holds no object"))
      << WarningList(empty.file);
}

TEST(Hostile, ObjectStreamsStillRespectTheBudget) {
  // A member beyond what the file may still inflate is an error, not a read.
  TCounted loaded(ObjectStreamBombs(1, 0, size_t{2} << 20));
  loaded.Load();
  loaded.file.SetInflateBudget(1 << 20);
  try {
    loaded.Value(10);
    ADD_FAILURE() << "no error";
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Decompression error");
  }
}

// --- recoveries are recorded ------------------------------------------------------------

TEST(Warnings, ParseErrorsCarryTheirOffsetAndWhatWasWrong) {
  TParsed parsed;
  try {
    parsed.Parse("[1 2 (never closed");
    ADD_FAILURE() << "no error";
  } catch (const EOvPDFParseError& e) {
    EXPECT_STREQ(e.what(), "Illegal string");
    EXPECT_EQ(e.Offset, 5);
    EXPECT_EQ(e.Detail, "string never closed");
  }
  try {
    parsed.Parse("<< /A 1 (key) 2 >>");
    ADD_FAILURE() << "no error";
  } catch (const EOvPDFParseError& e) {
    EXPECT_STREQ(e.what(), "Bad object");
    EXPECT_EQ(e.Detail, "dictionary key is not a name");
    EXPECT_EQ(e.Offset, 8);
  }
  try {
    parsed.Parse(std::string(300, '[') + std::string(300, ']'));
    ADD_FAILURE() << "no error";
  } catch (const EOvPDFParseError& e) {
    EXPECT_STREQ(e.what(), "Bad object");
    EXPECT_EQ(e.Detail, "nested too deep");
  }
}

TEST(Warnings, RebuildRecordsWhatItSkippedAndWhy) {
  TFixture f = OnePage();
  f.Add(5, "<< /A 1 (key) 2 >>");
  f.Add(6, std::string(300, '[') + std::string(300, ']'));
  std::map<int, long long> offsets;
  const std::string text = BreakStartXRef(f.Build(&offsets));
  TCounted loaded(text);
  loaded.Load();
  ASSERT_TRUE(loaded.file.Damaged());
  const TOvPDFFile& file = loaded.file;
  EXPECT_TRUE(HasWarning(file, "rebuilt by scanning: the offset after startxref is not a number"))
      << WarningList(file);
  // The two "Bad object" faults are told apart, each where it was found.
  const auto key = static_cast<int64_t>(text.find("(key)"));
  EXPECT_TRUE(
      HasWarning(file, "skipped unreadable text: Bad object (dictionary key is not a name)", key))
      << WarningList(file);
  EXPECT_TRUE(HasWarning(file, "skipped unreadable text: Bad object (nested too deep)"))
      << WarningList(file);
  EXPECT_EQ(loaded.file.FindCanonical(5, 0), nullptr);
  EXPECT_NE(loaded.Value(3), nullptr);
}

TEST(Warnings, ObjectsReadAsNullSayWhy) {
  TFixture f = OnePage();
  f.objects[3].second = "<< /Length 4 0 R >>\nstream\nabc\nendstream";  // its own length
  f.Add(5, "[7 0 R 9 0 R]");
  f.Add(7, "null");
  f.size = 10;
  std::map<int, long long> offsets;
  std::string text = f.Build(&offsets);
  // Object 7's entry made free; 9 has none.
  auto entry = [&](int number) {
    char line[32];
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", offsets[number]);
    return text.find(line, text.find("xref\n"));
  };
  text.replace(entry(7), 20, "0000000000 00000 f \n");
  TCounted loaded(text);
  loaded.Load();
  auto* array = dynamic_cast<TOvPDFArray*>(loaded.Value(5));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(ResolveValue(array->GetItem(0)), nullptr);
  EXPECT_EQ(ResolveValue(array->GetItem(1)), nullptr);
  EXPECT_NE(loaded.Value(4), nullptr);
  const TOvPDFFile& file = loaded.file;
  EXPECT_TRUE(HasWarning(file, "object 7 0 is free; read as null")) << WarningList(file);
  EXPECT_TRUE(HasWarning(file, "object 9 0 is not defined; read as null")) << WarningList(file);
  EXPECT_TRUE(HasWarning(file, "object 4 0 is needed while it is being read (a cycle)"))
      << WarningList(file);
  EXPECT_TRUE(HasWarning(file, "stream data length unknown corrected to 4")) << WarningList(file);
  // An object added since loading is not missing.
  TOvPDFIndirect* added = loaded.file.NewIndirect(50, 0, loaded.file.NewInt(1));
  loaded.file.AddObject(added);
  added->MarkModified();
  EXPECT_EQ(loaded.file.NewRef(50, 0)->Resolve(), added);
  EXPECT_FALSE(HasWarning(file, "object 50 0")) << WarningList(file);
  // The same recovery made again is listed once.
  ResolveValue(array->GetItem(1));
  EXPECT_EQ(std::count_if(file.Warnings().begin(), file.Warnings().end(),
                          [](const TOvPDFWarning& w) {
                            return w.Text.find("9 0 is not") != std::string::npos;
                          }),
            1);
}

TEST(Warnings, UnreadableObjectStreamInARebuildIsRecorded) {
  // The rebuild indexes object streams; one whose data does not inflate
  // indexes nothing and says so.
  TFixture f = OnePage();
  f.Add(5,
        "<< /Type /ObjStm /N 1 /First 4 /Filter /FlateDecode /Length 10 >>\nstream\nnot "
        "zlib!!\nendstream");
  TCounted loaded(BreakStartXRef(f.Build()));
  loaded.Load();
  EXPECT_TRUE(HasWarning(loaded.file, "object stream cannot be read, its members are not indexed"))
      << WarningList(loaded.file);
  EXPECT_NE(loaded.Value(3), nullptr);
}
