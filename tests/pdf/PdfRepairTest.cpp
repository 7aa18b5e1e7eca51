// Faults found on real files: comments in object streams, stale entries,
// odd tables, abbreviated filters, new objects and their numbers, saving
// damaged files, predictor parameters, and state held over a failing call.
#include <cstring>

#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/PdfUpdate.h"
#include "toolkit/pdf/CvPDF.h"
#include "toolkit/pdf/CvZlib.h"

using namespace corvane;
using namespace pdftest;

namespace {

// A file with a cross-reference stream, written by hand: direct objects, an
// optional object stream, and entries that may be forced to lie.
struct TStreamFile {
  std::vector<std::pair<int, std::string>> direct;
  int objStm = 0;  // number of the object stream; 0: none
  std::vector<std::pair<int, std::string>> members;
  std::string memberPrefix;  // written before each member, inside its offset
  std::string objStmFilter = "/FlateDecode";
  std::string xrefFilter = "/FlateDecode";
  std::map<int, long long> forced;  // number -> offset written instead of the real one
  std::map<int, int> forcedTo;      // number -> the object whose offset it gets
  std::string trailerExtra;

  std::string Build() const {
    std::string out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::map<int, long long> offsets;
    std::map<int, int> compressed;  // number -> index
    int highest = 0;
    for (const auto& [n, body] : direct) {
      offsets[n] = static_cast<long long>(out.size());
      out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
      highest = std::max(highest, n);
    }
    if (objStm) {
      std::string head;
      std::string body;
      for (size_t i = 0; i < members.size(); ++i) {
        head += std::to_string(members[i].first) + " " + std::to_string(body.size()) + " ";
        body += memberPrefix + members[i].second + "\n";
        compressed[members[i].first] = static_cast<int>(i);
        highest = std::max(highest, members[i].first);
      }
      const std::string data = Encode(objStmFilter, head + body);
      offsets[objStm] = static_cast<long long>(out.size());
      out += std::to_string(objStm) + " 0 obj\n<< /Type /ObjStm /N " +
             std::to_string(members.size()) + " /First " + std::to_string(head.size()) +
             (objStmFilter.empty() ? "" : " /Filter " + objStmFilter) + " /Length " +
             std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
      highest = std::max(highest, objStm);
    }
    const int self = highest + 1;
    offsets[self] = static_cast<long long>(out.size());
    std::string records;
    for (int n = 0; n <= self; ++n) {
      int type = 0;
      long long second = 0;
      int third = n == 0 ? 255 : 0;
      if (auto c = compressed.find(n); c != compressed.end()) {
        type = 2;
        second = objStm;
        third = c->second;
      } else if (auto o = offsets.find(n); o != offsets.end()) {
        type = 1;
        second = o->second;
        if (auto f = forced.find(n); f != forced.end()) second = f->second;
        if (auto t = forcedTo.find(n); t != forcedTo.end()) second = offsets.at(t->second);
      }
      records += static_cast<char>(type);
      for (int i = 3; i >= 0; --i) records += static_cast<char>((second >> (8 * i)) & 0xFF);
      records += static_cast<char>(third);
    }
    const std::string data = Encode(xrefFilter, records);
    out += std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(self + 1) +
           " /W [1 4 1] /Root 1 0 R" + (xrefFilter.empty() ? "" : " /Filter " + xrefFilter) +
           " /Length " + std::to_string(data.size()) + trailerExtra + " >>\nstream\n" + data +
           "\nendstream\nendobj\nstartxref\n" + std::to_string(offsets[self]) + "\n%%EOF\n";
    return out;
  }

  static std::string Encode(const std::string& filter, const std::string& data) {
    if (filter.empty()) return data;
    if (filter.find("Fl") != std::string::npos) return ZlibCompress(data);
    return data + ">";  // a hexadecimal filter's data; never decoded here
  }
};

std::vector<std::pair<int, std::string>> OnePageObjects() { return OnePage().objects; }

struct TLoaded {
  TOvMemoryStream source;
  TOvPDFFile file;
  explicit TLoaded(const std::string& bytes) : source(bytes) {}
  void Load() { file.Reload(source); }
  TOvPDFIndirect* Object(int number) {
    TOvPDFRef* ref = file.FindCanonical(number, 0);
    return ref ? ref->Resolve() : nullptr;
  }
  TOvPDFDictionary* Dict(int number) {
    TOvPDFIndirect* target = Object(number);
    return target ? dynamic_cast<TOvPDFDictionary*>(target->Value) : nullptr;
  }
};

}  // namespace

TEST(Repair, CommentsBeforeObjectStreamMembersAreWhitespace) {
  TStreamFile f;
  f.direct = {{1, "<< /Type /Catalog /Pages 2 0 R >>"}};
  f.objStm = 5;
  f.members = {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
               {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"}};
  f.memberPrefix = "%% Object stream: object N\n%% Page 1\n";
  const std::string input = f.Build();
  TOvMemoryStream stream(input);
  TOvPDFDocument doc;
  doc.Open(stream);
  ASSERT_EQ(doc.PageCount(), 1u);
  EXPECT_EQ(doc.PageInfo(0).Width, 612);
  // The page written back is the page, not the comment.
  TOvPDFRef* page = doc.File().FindCanonical(3, 0);
  ASSERT_NE(page, nullptr);
  page->Resolve()->MarkModified();
  doc.File().SetFullRewrite(false);
  doc.File().Save();
  const std::string output = dynamic_cast<TOvMemoryStream*>(doc.WorkingStream())->Data();
  const std::string update = output.substr(input.size());
  EXPECT_NE(update.find("/Type /Page /Parent 2 0 R"), std::string::npos) << update;
  EXPECT_EQ(update.find("%% Page"), std::string::npos) << update;
  ExpectQpdfClean(output);
}

TEST(Repair, StaleEntryOfAnUnreachedObjectDoesNotCondemnTheFile) {
  // The cross-reference stream lists itself at the catalog's offset. Once an
  // update moves the catalog, that entry names nothing that reads; nothing
  // reaches the stream object, so the file stays undamaged through two updates.
  TStreamFile f;
  f.direct = OnePageObjects();
  f.forcedTo[5] = 1;
  const std::string input = f.Build();
  const std::string first = SignatureLikeUpdate(input);
  ASSERT_EQ(first.compare(0, input.size(), input), 0);
  {
    TLoaded loaded(first);
    loaded.Load();
    EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  }
  const std::string second = SignatureLikeUpdate(first);
  ASSERT_EQ(second.compare(0, first.size(), first), 0);
  TOvMemoryStream stream(second);
  TOvPDFDocument doc;
  doc.Open(stream);
  EXPECT_FALSE(doc.File().Damaged()) << doc.File().DamageReason();
  EXPECT_EQ(doc.PageCount(), 1u);
  ExpectQpdfClean(second);
}

TEST(Repair, StaleEntryOfAReachedObjectRebuilds) {
  // The page tree's entry names the old catalog's header (the catalog was
  // replaced by an update): the document needs object 2, so the file is
  // damaged and the scan finds the page tree again.
  std::map<int, long long> offsets;
  const std::string base = OnePage().Build(&offsets);
  std::string text = AppendUpdate(base, {{1, "<< /Type /Catalog /Pages 2 0 R /Lang (cs) >>"}}, 5);
  char line[16];
  std::snprintf(line, sizeof line, "%010lld", offsets[2]);
  char other[16];
  std::snprintf(other, sizeof other, "%010lld", offsets[1]);
  text.replace(text.find(std::string(line) + " 00000 n"), 10, other);
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.DamageReason(),
            "object 2 is not at its offset " + std::to_string(offsets[1]));
  ASSERT_NE(loaded.Dict(2), nullptr);
  EXPECT_EQ(GetNameEntry(loaded.Dict(2), "Type", "", false), "Pages");
}

TEST(Repair, BlankLinesInsideASubsectionAreSkipped) {
  std::map<int, long long> offsets;
  std::string text = OnePage().Build(&offsets);
  char line[32];
  std::snprintf(line, sizeof line, "%010lld 00000 n \n", offsets[2]);
  const size_t at = text.find(line);
  ASSERT_NE(at, std::string::npos);
  text.insert(at + 20, "\n\r\n");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  EXPECT_EQ(loaded.file.ObjectList().size(), 4u);
  ASSERT_NE(loaded.Dict(3), nullptr);
  EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
}

TEST(Repair, NewContainersAreWrittenFromTheirItems) {
  TOvPDFFile file;
  TOvPDFDictionary* dict = file.NewDictionary();
  AddNameEntry(dict, "Type", "Annot");
  AddIntEntry(dict, "F", 4);
  TOvPDFArray* rect = file.NewArray();
  rect->AddItem(file.NewInt(10));
  rect->AddItem(file.NewInt(20));
  SetEntry(dict, "Rect", rect);
  TOvPDFDictionary* inner = file.NewDictionary();
  AddNameEntry(inner, "S", "GoTo");
  SetEntry(dict, "A", inner);
  TOvPDFIndirect* indirect = file.NewIndirect(7, 0, dict);
  const std::string text = Written(indirect, false);
  EXPECT_EQ(text.rfind("7 0 obj", 0), 0u) << text;
  for (const char* part :
       {"/Type /Annot", "/F 4", "/Rect [", "10", "20", "/A <<", "/S /GoTo", ">>"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
  // Written after a change too, and parsed back to the same entries.
  AddIntEntry(inner, "N", 2);
  TParsed parsed;
  TOvPDFIndirect* back = parsed.ParseIndirect(Written(indirect, true));
  ASSERT_NE(back, nullptr);
  auto* readDict = dynamic_cast<TOvPDFDictionary*>(back->Value);
  ASSERT_NE(readDict, nullptr);
  EXPECT_EQ(GetNameEntry(readDict, "Type", "", false), "Annot");
  ASSERT_NE(GetArrayEntry(readDict, "Rect", false), nullptr);
  EXPECT_EQ(GetArrayEntry(readDict, "Rect", false)->ItemCount(), 2u);
  EXPECT_EQ(GetIntEntry(GetDictEntry(readDict, "A", false), "N", 0, false), 2);
}

TEST(Repair, AbbreviatedFilterNames) {
  TStreamFile f;
  f.direct = {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
              {4, StreamBody(" /Filter /DCT", "\xFF\xD8 not decoded")}};
  f.objStm = 5;
  f.members = {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"},
               {3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 200] /Contents 4 0 R >>"}};
  // /Fl is Flate wherever Flate is read: object streams and the table's stream.
  for (const std::string& fl : {std::string("/Fl"), std::string("[/Fl]")}) {
    f.objStmFilter = fl;
    f.xrefFilter = fl;
    TOvMemoryStream stream(f.Build());
    TOvPDFDocument doc;
    doc.Open(stream);
    EXPECT_FALSE(doc.File().Damaged()) << fl << ": " << doc.File().DamageReason();
    EXPECT_EQ(doc.PageCount(), 1u) << fl;
  }
  // Other abbreviations are filters we do not decode, and say so.
  f.xrefFilter = "/FlateDecode";
  for (const char* other : {"/AHx", "/A85", "/LZW", "/RL", "/CCF", "/DCT"}) {
    f.objStmFilter = other;
    TOvMemoryStream stream(f.Build());
    TOvPDFDocument doc;
    std::string error = "opened";
    try {
      doc.Open(stream);
    } catch (const EOvPDFError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, "Unsupported encoding filter") << other;
  }
}

TEST(Repair, NewObjectsTakeNumbersAboveEveryReference) {
  // /Size 5 and entries up to 4, but the page points at a missing 9 and the
  // content stream's dictionary (loaded by nothing at open) at 12.
  TFixture f = OnePage();
  f.objects[2].second =
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [9 0 R] >>";
  // Its length is an object of its own, read by nothing at open either.
  f.objects[3].second = "<< /Length 5 0 R /Resources 12 0 R >>\nstream\nBT ET\nendstream";
  f.Add(5, "5");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  int32_t number = 0;
  int32_t generation = 0;
  doc.AddNewObject(doc.File().NewString("new", 0), number, generation);
  EXPECT_EQ(number, 13);
  // Looking for references kept nothing of what it read.
  for (int32_t unread : {4, 5}) EXPECT_FALSE(doc.File().FindCanonical(unread, 0)->Resolved);
  EXPECT_EQ(GetIntEntry(doc.Trailer(), "Size", 0, false), 14);
  doc.AddNewObject(doc.File().NewString("next", 0), number, generation);
  EXPECT_EQ(number, 14);
}

TEST(Repair, DamagedFilesAreNeverAppendedTo) {
  std::string text = OnePage().Build();
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  TLoaded loaded(text);
  loaded.Load();
  ASSERT_TRUE(loaded.file.Damaged());
  loaded.Object(1)->MarkModified();
  loaded.file.SetFullRewrite(false);
  EXPECT_THROW(loaded.file.Save(), EOvPDFError);
  EXPECT_EQ(loaded.source.Data(), text);
  // The clean rewrite stays open to it.
  loaded.file.SetFullRewrite(true);
  loaded.file.Save();
  TLoaded again(loaded.source.Data());
  again.Load();
  EXPECT_FALSE(again.file.Damaged()) << again.file.DamageReason();
  ExpectQpdfClean(loaded.source.Data());
}

namespace {

// Saves a document with no new signature (a full rewrite) and returns what
// the caller's stream then holds.
std::string RewrittenByTheDocument(const std::string& input) {
  TOvMemoryStream stream(input);
  TOvPDFDocument doc;
  doc.Open(stream);
  EXPECT_TRUE(doc.File().Damaged());
  doc.Close(true);
  return stream.Data();
}

}  // namespace

TEST(Repair, AFileWithoutTrailerGetsOneMadeFromWhatTheScanFound) {
  TFixture f = OnePage();
  f.Add(5, "<< /Producer (hand) /CreationDate (D:20260101000000Z) >>");
  // An annotation may carry a creation date too; it is no information dictionary.
  f.Add(6, "<< /Subtype /Text /CreationDate (D:20260101000000Z) >>");
  const std::string full = f.Build();
  // Cut before the table, and cut before "startxref" (a table and trailer left).
  for (const size_t cut : {full.rfind("xref\n0 "), full.rfind("startxref")}) {
    const std::string text = full.substr(0, cut);
    TLoaded loaded(text);
    loaded.Load();
    EXPECT_TRUE(loaded.file.Damaged());
    TOvPDFDictionary* trailer = loaded.file.Trailer();
    auto* root = dynamic_cast<TOvPDFRef*>(GetEntry(trailer, "Root"));
    ASSERT_NE(root, nullptr) << cut;
    EXPECT_EQ(root->Number, 1);
    EXPECT_EQ(GetIntEntry(trailer, "Size", 0, false), 7);
    ASSERT_NE(loaded.Dict(3), nullptr);
    const bool made = cut == full.rfind("xref\n0 ");
    if (made) {
      auto* info = dynamic_cast<TOvPDFRef*>(GetEntry(trailer, "Info"));
      ASSERT_NE(info, nullptr);
      EXPECT_EQ(info->Number, 5);
      ASSERT_FALSE(loaded.file.Warnings().empty());
      const TOvPDFWarning& last = loaded.file.Warnings().back();
      EXPECT_EQ(
          last.Text,
          "no trailer found; one is made with /Root object 1 0, /Info object 5 0 and /Size 7");
      EXPECT_EQ(last.Offset, static_cast<int64_t>(full.find("1 0 obj")));
    }
    // Saved, it is rewritten whole into a sound file.
    const std::string rewritten = RewrittenByTheDocument(text);
    ExpectQpdfClean(rewritten);
    TLoaded again(rewritten);
    again.Load();
    EXPECT_FALSE(again.file.Damaged()) << again.file.DamageReason();
    EXPECT_EQ(GetEntry(again.file.Trailer(), "Info") != nullptr, made);
  }
}

TEST(Repair, AnEntryLeadingNowhereIsDroppedByTheRebuild) {
  // Object 5 is listed at the second ">" of the catalog's ">>" and is
  // nowhere in the file; the rewrite reads every object listed.
  TFixture f = OnePage();
  f.size = 6;
  std::map<int, long long> offsets;
  std::string text = f.Build(&offsets);
  const long long wrong = static_cast<long long>(text.find(">>", offsets[1]) + 1);
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", wrong);
  text.replace(text.find("xref\n0 5"), 8, "xref\n0 6");
  text.insert(text.find("trailer"), entry);
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.FindCanonical(5, 0), nullptr);
  const std::string dropped = "object 5 0 is neither at offset " + std::to_string(wrong) +
                              " as its entry says nor anywhere else; the entry is dropped";
  EXPECT_TRUE(
      std::any_of(loaded.file.Warnings().begin(), loaded.file.Warnings().end(),
                  [&](const TOvPDFWarning& w) { return w.Text == dropped && w.Offset == wrong; }));
  // The table written lists what the file holds, and /Size follows it.
  const std::string rewritten = RewrittenByTheDocument(text);
  ExpectQpdfClean(rewritten);
  TLoaded again(rewritten);
  again.Load();
  EXPECT_EQ(GetIntEntry(again.file.Trailer(), "Size", 0, false), 5);
}

TEST(Repair, ARewriteWritesTheLengthOfTheDataItWrites) {
  // One stream's length is indirect and lies, written before the stream;
  // another's is direct and runs past the data.
  TFixture f = OnePage();
  f.Add(5, "4");
  f.Add(6, "<< /Length 5 0 R >>\nstream\n0 0 m 100 100 l S\nendstream");
  f.Add(7, "<< /Length 900 >>\nstream\n0 0 m 200 200 l S\nendstream");
  std::string text = f.Build();
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  const std::string rewritten = RewrittenByTheDocument(text);
  ExpectQpdfClean(rewritten);
  TLoaded again(rewritten);
  again.Load();
  EXPECT_FALSE(again.file.Damaged()) << again.file.DamageReason();
  EXPECT_TRUE(again.file.Warnings().empty()) << again.file.Warnings().front().Text;
  for (const int number : {6, 7}) {
    auto* stream = dynamic_cast<TOvPDFStream*>(again.Object(number)->Value);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(GetIntEntry(stream->Dictionary, "Length", 0, false), stream->DataLength) << number;
  }
}

TEST(Repair, PredictorRejectsParametersOutOfRange) {
  const std::string rows("\x02\x01\x02\x02\x01\x01", 6);
  for (const int64_t columns : {int64_t{0}, int64_t{-1}, int64_t{-2}, INT64_MIN}) {
    EXPECT_THROW(ApplyPredictor(rows, 12, columns), EOvPDFError) << columns;
  }
  for (const int64_t colors : {int64_t{0}, int64_t{-1}, int64_t{65536}, INT64_MIN}) {
    EXPECT_THROW(ApplyPredictor(rows, 12, 2, colors, 8), EOvPDFError) << colors;
  }
  for (const int64_t bits : {int64_t{0}, int64_t{-8}, int64_t{3}, int64_t{32}}) {
    EXPECT_THROW(ApplyPredictor(rows, 12, 2, 1, bits), EOvPDFError) << bits;
  }
  // A row is columns x colors x bits, rounded up to bytes.
  EXPECT_EQ(ApplyPredictor(rows, 12, 2), std::string("\x01\x02\x02\x03", 4));
  EXPECT_EQ(ApplyPredictor(rows, 12, 1, 2, 8), ApplyPredictor(rows, 12, 2));
  EXPECT_EQ(ApplyPredictor(rows, 12, 1, 1, 16), ApplyPredictor(rows, 12, 2));
  EXPECT_EQ(ApplyPredictor(rows, 12, 3, 1, 4), ApplyPredictor(rows, 12, 2));
  // Read from a cross-reference stream's /DecodeParms.
  TStreamFile f;
  f.direct = OnePageObjects();
  f.trailerExtra = " /DecodeParms << /Predictor 12 /Columns 6 /Colors -1 >>";
  TLoaded loaded(f.Build());
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  EXPECT_EQ(loaded.file.DamageReason(), "Invalid PNG data");
}

TEST(Repair, SixtyFourBitStreamFieldsAreNotTruncated) {
  // Offsets and generations just above 2^32 must not be read as their low
  // 32 bits (which would name a real object and read as if sound).
  std::map<int, long long> offsets;
  std::string out = "%PDF-1.5\n";
  for (const auto& [n, body] : OnePageObjects()) {
    offsets[n] = static_cast<long long>(out.size());
    out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
  }
  offsets[5] = static_cast<long long>(out.size());
  auto build = [&](long long offset3, uint64_t generation3) {
    std::string records;
    for (int n = 0; n <= 5; ++n) {
      const uint64_t second = n == 0 ? 0 : n == 3 ? static_cast<uint64_t>(offset3) : offsets[n];
      const uint64_t third = n == 0 ? 255 : n == 3 ? generation3 : 0;
      records += static_cast<char>(n == 0 ? 0 : 1);
      for (int i = 7; i >= 0; --i) records += static_cast<char>((second >> (8 * i)) & 0xFF);
      for (int i = 4; i >= 0; --i) records += static_cast<char>((third >> (8 * i)) & 0xFF);
    }
    return out + "5 0 obj\n<< /Type /XRef /Size 6 /W [1 8 5] /Root 1 0 R /Length " +
           std::to_string(records.size()) + " >>\nstream\n" + records +
           "\nendstream\nendobj\nstartxref\n" + std::to_string(offsets[5]) + "\n%%EOF\n";
  };
  TLoaded sound(build(offsets[3], 0));
  sound.Load();
  EXPECT_FALSE(sound.file.Damaged()) << sound.file.DamageReason();
  TLoaded far(build((1LL << 32) + offsets[3], 0));
  far.Load();
  EXPECT_TRUE(far.file.Damaged());
  EXPECT_EQ(far.file.DamageReason(), "object 3 lies past the end of the file");
  TLoaded generation(build(offsets[3], (uint64_t{1} << 32)));
  generation.Load();
  EXPECT_TRUE(generation.file.Damaged());
  EXPECT_EQ(generation.file.DamageReason(),
            "Invalid cross-reference stream: Invalid cross-reference stream data");
}

TEST(Repair, RebuildScanStepsOverAStrayEndobj) {
  // The stray keyword and the page's header share a line: stepping over the
  // keyword (not the line) keeps the page.
  std::string text = OnePage().Build();
  const size_t page = text.find("3 0 obj");
  text.replace(page - 1, 1, " endobj ");
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  TLoaded loaded(text);
  loaded.Load();
  EXPECT_TRUE(loaded.file.Damaged());
  ASSERT_NE(loaded.Dict(3), nullptr);
  EXPECT_EQ(GetNameEntry(loaded.Dict(3), "Type", "", false), "Page");
}

TEST(Repair, FailedWritesLeaveTheLineEnd) {
  // /Size 2147483647 leaves no number for the cross-reference stream.
  TStreamFile f;
  f.direct = OnePageObjects();
  f.trailerExtra = " /Index [0 6]";
  std::string text = f.Build();
  text.replace(text.find("/Size 6"), 7, "/Size 2147483647");
  TLoaded loaded(text);
  loaded.Load();
  ASSERT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  loaded.Object(1)->MarkModified();
  EXPECT_THROW(loaded.file.Save(), EOvPDFError);
  EXPECT_EQ(loaded.file.LineEnd(), "\n");
  TOvPDFArray* array = loaded.file.NewArray();
  EXPECT_EQ(array->OpenSpace, "\n");
}

TEST(Repair, DocumentHooksEndWithTheCallThatSetThem) {
  // A signed, damaged document refuses the rewrite; the file hooks set for
  // the save are gone all the same.
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] >> >>";
  f.Add(5, "<< /FT /Sig /T (S1) /V << /Contents <00> >> >>");
  std::string text = f.Build();
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  TOvMemoryStream input(text);
  TOvPDFDocument doc;
  doc.Open(input);
  ASSERT_TRUE(doc.File().Damaged());
  EXPECT_FALSE(doc.File().OnProgress());
  EXPECT_THROW(doc.Close(true), EOvPDFError);
  EXPECT_FALSE(doc.File().OnProgress());
  EXPECT_FALSE(doc.File().OnCreateTemporaryStream());
}
