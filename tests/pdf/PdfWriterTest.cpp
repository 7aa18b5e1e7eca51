// Writing: incremental updates with a table, a cross-reference stream or
// both, the full rewrite, and what qpdf says about the results.
#include <regex>

#include "tests/pdf/PdfFixtures.h"

using namespace corvane;
using namespace pdftest;
using namespace tavra_test;

namespace {

struct TLoaded {
  TOvMemoryStream source;
  TOvPDFFile file;
  explicit TLoaded(const std::string& bytes) : source(bytes) { file.Reload(source); }
  TOvPDFIndirect* Object(int number) { return file.FindCanonical(number, 0)->Resolve(); }
  const std::string& Bytes() { return source.Data(); }
};

// qpdf's view of where each object starts: number -> offset.
std::map<int, long long> QpdfOffsets(const ScratchDir& dir, const std::string& pdf) {
  WriteFile(dir / "offsets.pdf", pdf);
  const std::string listing =
      RunCommand("qpdf --show-xref " + dir / "offsets.pdf" + " 2>/dev/null");
  std::map<int, long long> offsets;
  const std::regex line(R"((\d+)/\d+: uncompressed; offset = (\d+))");
  for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it) {
    offsets[std::stoi((*it)[1])] = std::stoll((*it)[2]);
  }
  return offsets;
}

}  // namespace

TEST(Writer, IncrementalUpdateKeepsEveryEarlierByte) {
  const std::string original = OnePage().Build();
  TLoaded loaded(original);
  loaded.Object(1)->MarkModified();
  loaded.file.Save();
  const std::string& saved = loaded.Bytes();
  ASSERT_GT(saved.size(), original.size());
  EXPECT_EQ(saved.compare(0, original.size(), original), 0);
  // The update: the catalog, a table for it alone, /Prev to the old table.
  const std::string update = saved.substr(original.size());
  EXPECT_EQ(update.substr(0, 8), "\n1 0 obj");
  EXPECT_NE(update.find("xref\r\n0 2\r\n0000000000 65535 f\r\n"), std::string::npos);
  EXPECT_NE(update.find("/Prev " + std::to_string(loaded.file.LastStartXRef())), std::string::npos);
  const int64_t written = loaded.file.ModifiedEntries().at(0).Offset;
  EXPECT_EQ(saved.compare(static_cast<size_t>(written), 7, "1 0 obj"), 0);
  EXPECT_EQ(loaded.Object(1)->WriteOffset(), written);
  // Read back by us and by qpdf.
  TLoaded again(saved);
  EXPECT_FALSE(again.file.Damaged());
  EXPECT_EQ(again.file.RevisionCount(), 2);
  {
    TAVRA_REQUIRE_TOOL("qpdf");
    ScratchDir dir;
    std::string report;
    EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
    EXPECT_EQ(QpdfOffsets(dir, saved)[1], written);
  }
}

TEST(Writer, NewObjectUpdateLayout) {
  const std::string original = OnePage().Build();
  TLoaded loaded(original);
  TOvPDFIndirect* added = loaded.file.NewIndirect(12, 0, loaded.file.NewString("x", 0));
  loaded.file.AddObject(added);
  added->MarkModified();
  loaded.file.Save();
  const std::string update = loaded.Bytes().substr(original.size());
  const long long objectAt = static_cast<long long>(original.size()) + 1;
  const long long xrefAt =
      static_cast<long long>(update.find("xref")) + static_cast<long long>(original.size());
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010lld 00000 n\r\n", objectAt);
  const std::string expectedTail = "xref\r\n12 1\r\n" + std::string(entry) + "trailer\r\n";
  EXPECT_EQ(update.substr(0, 9), "\n12 0 obj");
  EXPECT_NE(update.find(expectedTail), std::string::npos) << update;
  const std::string end = "\r\nstartxref\r\n" + std::to_string(xrefAt) + "\r\n%%EOF\r\n";
  EXPECT_EQ(update.substr(update.size() - end.size()), end);
}

TEST(Writer, RunsOfNumbersBecomeSubsections) {
  TFixture f = OnePage();
  f.Add(5, "(five)");
  TLoaded loaded(f.Build());
  for (const int n : {5, 1, 2}) loaded.Object(n)->MarkModified();
  const size_t before = loaded.Bytes().size();
  loaded.file.Save();
  const std::string update = loaded.Bytes().substr(before);
  const size_t table = update.find("xref\r\n");
  ASSERT_NE(table, std::string::npos);
  const std::string section = update.substr(table, update.find("trailer") - table);
  EXPECT_EQ(section.substr(0, 11), "xref\r\n0 3\r\n");
  EXPECT_NE(section.find("\r\n5 1\r\n"), std::string::npos);
}

TEST(Writer, AnObjectMarkedTwiceIsWrittenOnce) {
  TLoaded loaded(OnePage().Build());
  loaded.Object(3)->MarkModified();
  loaded.Object(3)->MarkModified();
  const size_t before = loaded.Bytes().size();
  loaded.file.Save();
  const std::string update = loaded.Bytes().substr(before);
  EXPECT_EQ(update.find("3 0 obj"), update.rfind("3 0 obj"));
  ASSERT_EQ(loaded.file.ModifiedEntries().size(), 2u);
  EXPECT_EQ(loaded.file.ModifiedEntries()[0].Offset, loaded.file.ModifiedEntries()[1].Offset);
  EXPECT_EQ(loaded.Object(3)->WriteOffset(), loaded.file.ModifiedEntries()[0].Offset);
}

TEST(Writer, UpdateWithoutChangesIsAnEmptyTable) {
  TLoaded loaded(OnePage().Build());
  const size_t before = loaded.Bytes().size();
  loaded.file.Save();
  const std::string update = loaded.Bytes().substr(before);
  EXPECT_EQ(update.substr(0, 19), "\nxref\r\n0 0\r\ntrailer");
  TLoaded again(loaded.Bytes());
  EXPECT_FALSE(again.file.Damaged());
}

TEST(Writer, CrossReferenceStreamFilesGetAStreamUpdate) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const std::string original =
      QpdfVariant(dir, OnePage().Build(), "--object-streams=generate", "objstm");
  ASSERT_FALSE(original.empty());
  TLoaded loaded(original);
  ASSERT_TRUE(loaded.file.UsesXRefStreams());
  const int64_t size = GetInt64Entry(loaded.file.Trailer(), "Size", 0, false);
  // The catalog, compressed in qpdf's output.
  const int catalog = dynamic_cast<TOvPDFRef*>(GetEntry(loaded.file.Trailer(), "Root"))->Number;
  ASSERT_TRUE(loaded.Object(catalog)->InObjectStream);
  loaded.Object(catalog)->MarkModified();
  loaded.file.Save();
  const std::string& saved = loaded.Bytes();
  EXPECT_EQ(saved.compare(0, original.size(), original), 0);
  const std::string update = saved.substr(original.size());
  const std::string n = std::to_string(size);  // the stream takes the next free number
  EXPECT_NE(update.find("\n" + n + " 0 obj\n"), std::string::npos) << update;
  EXPECT_NE(update.find("/W [1 4 1 ]"), std::string::npos) << update;
  EXPECT_NE(update.find("/Index [" + std::to_string(catalog) + " 1 " + n + " 1 ]"),
            std::string::npos)
      << update;
  EXPECT_NE(update.find("/Size " + std::to_string(size + 1)), std::string::npos);
  EXPECT_EQ(update.substr(update.size() - 5), "%%EOF");
  std::string report;
  EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
  EXPECT_EQ(QpdfOffsets(dir, saved)[catalog], loaded.Object(catalog)->WriteOffset());
  TLoaded again(saved);
  EXPECT_FALSE(again.file.Damaged()) << again.file.DamageReason();
  EXPECT_EQ(again.file.RevisionCount(), 2);
  EXPECT_FALSE(again.Object(catalog)->InObjectStream);
}

TEST(Writer, FreeEntriesAndGenerationsInStreams) {
  // Generations above 255 and offsets past 4 GB widen the fields.
  TLoaded loaded(OnePage().Build());
  std::vector<TOvPDFXrefEntry> entries{TOvPDFXrefEntry{7, 300, int64_t{1} << 33, false, 0, 0},
                                       TOvPDFXrefEntry{8, 2, 0, false, 0, 0},
                                       TOvPDFXrefEntry{9, 0, 0, true, 4, 3}};
  TOvMemoryStream out;
  const int32_t n = loaded.file.WriteXRefStream(out, entries, true);
  EXPECT_EQ(n, 10);
  const std::string& text = out.Data();
  EXPECT_NE(text.find("/W [1 5 2 ]"), std::string::npos) << text;
  EXPECT_NE(text.find("/Index [7 1 8 1 9 1 10 1 ]"), std::string::npos) << text;
  const size_t data = text.find("stream\n") + 7;
  const std::string expected = std::string("\x01\x02\x00\x00\x00\x00\x01\x2C", 8) +
                               std::string("\x00\x00\x00\x00\x00\x00\x00\x02", 8) +
                               std::string("\x02\x00\x00\x00\x00\x04\x00\x03", 8);
  EXPECT_EQ(text.substr(data, 24), expected);
}

TEST(Writer, HybridFilesGetStreamAndTables) {
  const std::string original = HybridFile();
  TLoaded loaded(original);
  loaded.Object(5)->MarkModified();
  loaded.file.Save();
  const std::string& saved = loaded.Bytes();
  EXPECT_EQ(saved.compare(0, original.size(), original), 0);
  const std::string update = saved.substr(original.size());
  const size_t stream = update.find("/Type /XRef");
  const size_t firstTable = update.find("xref\r\n");
  const size_t lastTable = update.rfind("xref\r\n0 0\r\n");
  ASSERT_NE(stream, std::string::npos);
  ASSERT_NE(firstTable, std::string::npos);
  ASSERT_NE(lastTable, std::string::npos);
  EXPECT_LT(stream, firstTable);
  EXPECT_LT(firstTable, lastTable);
  EXPECT_NE(update.find("0000000000 65535 f\r\n", firstTable), std::string::npos);
  EXPECT_NE(update.find("/XRefStm", lastTable), std::string::npos);
  TLoaded again(saved);
  EXPECT_FALSE(again.file.Damaged()) << again.file.DamageReason();
  EXPECT_EQ(dynamic_cast<TOvPDFString*>(again.Object(5)->Value)->GetText(), "hidden");
  EXPECT_EQ(again.Object(5)->SourceOffset, loaded.Object(5)->WriteOffset() + 4);
  {
    TAVRA_REQUIRE_TOOL("qpdf");
    ScratchDir dir;
    std::string report;
    EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
  }
}

TEST(Writer, FullRewriteWritesOneCleanFile) {
  TFixture f = OnePage();
  f.header = "%PDF-1.7\n";
  std::string text =
      AppendUpdate(f.Build(), {{2, "<< /Type /Pages /Kids [3 0 R] /Count 1 /New 1 >>"}}, 5);
  TLoaded loaded(text);
  RemoveEntry(loaded.file.Trailer(), "Prev");
  loaded.file.SetFullRewrite(true);
  loaded.file.Save();
  const std::string& saved = loaded.Bytes();
  EXPECT_EQ(saved.substr(0, 15), "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
  EXPECT_EQ(saved.find("\nxref"), saved.rfind("\nxref"));
  EXPECT_EQ(saved.find("/Prev"), std::string::npos);
  EXPECT_NE(saved.find("xref\r\n0 5\r\n0000000000 65535 f\r\n"), std::string::npos);
  TLoaded again(saved);
  EXPECT_FALSE(again.file.Damaged());
  EXPECT_EQ(again.file.RevisionCount(), 1);
  EXPECT_EQ(GetIntEntry(dynamic_cast<TOvPDFDictionary*>(again.Object(2)->Value), "New", 0, false),
            1);
  {
    TAVRA_REQUIRE_TOOL("qpdf");
    ScratchDir dir;
    std::string report;
    EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
  }
}

// Reloading after a save reads what the save wrote, and the next save
// appends to that: after a full rewrite too.
TEST(Writer, ReloadReadsTheSavedRevisionAndAppendsToIt) {
  TLoaded loaded(OnePage().Build());
  loaded.file.SetFullRewrite(true);
  loaded.file.Save();
  const std::string rewritten = loaded.Bytes();
  loaded.file.Reload(loaded.source);
  EXPECT_FALSE(loaded.file.FullRewrite());
  EXPECT_TRUE(loaded.file.ModifiedEntries().empty());
  EXPECT_EQ(loaded.file.RevisionCount(), 1);
  const int64_t previous = loaded.file.LastStartXRef();
  auto* pages = dynamic_cast<TOvPDFDictionary*>(loaded.Object(2)->Value);
  ASSERT_NE(pages, nullptr);
  AddIntEntry(pages, "New", 1);
  loaded.Object(2)->MarkModified();
  loaded.file.Save();
  const std::string saved = loaded.Bytes();
  EXPECT_EQ(saved.compare(0, rewritten.size(), rewritten), 0);
  EXPECT_NE(saved.find("/Prev " + std::to_string(previous), rewritten.size()), std::string::npos);
  loaded.file.Reload(loaded.source);
  EXPECT_FALSE(loaded.file.Damaged()) << loaded.file.DamageReason();
  EXPECT_EQ(loaded.file.RevisionCount(), 2);
  EXPECT_GT(loaded.file.LastStartXRef(), previous);
  EXPECT_EQ(GetIntEntry(dynamic_cast<TOvPDFDictionary*>(loaded.Object(2)->Value), "New", 0, false),
            1);
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  std::string report;
  EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
}

TEST(Writer, FullRewriteOfAStreamFileDropsStreamKeys) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const std::string original =
      QpdfVariant(dir, OnePage().Build(), "--object-streams=generate", "objstm");
  TLoaded loaded(original);
  loaded.file.SetFullRewrite(true);
  loaded.file.Save();
  const std::string& saved = loaded.Bytes();
  const std::string trailer = saved.substr(saved.rfind("trailer"));
  EXPECT_EQ(trailer.find("/W "), std::string::npos) << trailer;
  EXPECT_EQ(trailer.find("/Type"), std::string::npos) << trailer;
  std::string report;
  EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
  EXPECT_EQ(QpdfPageCount(dir, saved), 1);
}

TEST(Writer, FailuresAndCancel) {
  TLoaded loaded(OnePage().Build());
  // Recorded as changed, but never added to the file.
  loaded.file.NewIndirect(99, 0, loaded.file.NewNull())->MarkModified();
  try {
    loaded.file.Save();
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Invalid object or generation number");
  }
  EXPECT_THROW(loaded.file.AddObject(loaded.file.NewNull()), EOvPDFTypeError);
  TLoaded cancelled(OnePage().Build());
  cancelled.file.SetOnProgress(
      [](TOvPDFFile&, int percent, bool& cancel) { cancel = percent > 0; });
  cancelled.Object(1)->MarkModified();
  try {
    cancelled.file.Save();
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Interrupted by user");
  }
}
