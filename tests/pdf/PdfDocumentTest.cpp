// The document component: open and close, pages, identifiers, new objects,
// encryption state, progress and the working stream.
#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvPDF.h"

using namespace corvane;
using namespace pdftest;
using namespace tavra_test;

namespace {

std::string OpenError(const std::string& bytes) {
  TOvMemoryStream input(bytes);
  TOvPDFDocument doc;
  try {
    doc.Open(input);
  } catch (const EOvPDFError& e) {
    return e.what();
  }
  return "opened";
}

// A one-page file whose form holds a signed signature field.
TFixture Signed() {
  TFixture f = OnePage();
  f.objects[0].second =
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /SigFlags 3 >> >>";
  f.Add(5, "<< /FT /Sig /T (Signature1) /V 6 0 R /Rect [0 0 0 0] /Subtype /Widget /P 3 0 R >>");
  f.Add(6,
        "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached "
        "/ByteRange [0 10 20 30] /Contents <3082> /M (D:20240101120000Z) >>");
  return f;
}

std::string Broken(std::string text) {
  text.replace(text.rfind("startxref\n") + 10, 1, "x");
  return text;
}

}  // namespace

TEST(Document, CloseWithoutSavingLeavesTheStreamAlone) {
  const std::string original = AppendUpdate(OnePage().Build(), {{5, "(x)"}}, 6);
  TOvMemoryStream input(original);
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_TRUE(doc.Opened());
  EXPECT_EQ(doc.PageCount(), 1u);
  EXPECT_EQ(doc.PageInfo(0).Width, 612);
  EXPECT_EQ(doc.PageInfo(0).Height, 792);
  doc.Close(false);
  EXPECT_FALSE(doc.Opened());
  EXPECT_EQ(input.Data(), original);
  EXPECT_EQ(doc.WorkingStream(), nullptr);
}

TEST(Document, CloseWithSavingRewritesWhenThereIsNothingToAppend) {
  const std::string original = AppendUpdate(OnePage().Build(), {{5, "(x)"}}, 6);
  TOvMemoryStream input(original);
  TOvPDFDocument doc;
  doc.Open(input);
  doc.Close(true);
  const std::string& saved = input.Data();
  EXPECT_NE(saved, original);
  EXPECT_EQ(saved.substr(0, 9), "%PDF-1.4\n");
  EXPECT_EQ(saved.find("/Prev"), std::string::npos);
  EXPECT_EQ(saved.find("\nxref"), saved.rfind("\nxref"));
  TOvMemoryStream reread(saved);
  TOvPDFDocument again;
  again.Open(reread);
  EXPECT_EQ(again.File().RevisionCount(), 1);
  EXPECT_EQ(again.File().ObjectList().size(), 5u);
  {
    TAVRA_REQUIRE_TOOL("qpdf");
    ScratchDir dir;
    std::string report;
    EXPECT_TRUE(QpdfCheck(dir, saved, &report)) << report;
  }
}

TEST(Document, DamagedFileWithoutSignaturesIsRewrittenCleanly) {
  TOvMemoryStream input(Broken(OnePage().Build()));
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_TRUE(doc.File().Damaged());
  doc.Close(true);
  TOvMemoryStream reread(input.Data());
  TOvPDFDocument again;
  again.Open(reread);
  EXPECT_FALSE(again.File().Damaged());
  EXPECT_EQ(again.PageCount(), 1u);
}

TEST(Document, SignedDocumentIsNeverRewrittenInFull) {
  for (const std::string& text : {Broken(Signed().Build()), Signed().Build()}) {
    TOvMemoryStream input(text);
    TOvPDFDocument doc;
    doc.Open(input);
    EXPECT_TRUE(doc.HasSignatureValues());
    EXPECT_THROW(doc.Close(true), EOvPDFDocumentError);
    EXPECT_EQ(input.Data(), text);  // the caller's bytes are untouched
    EXPECT_TRUE(doc.Opened());
    doc.Close(false);
  }
  TOvMemoryStream unsigned_(OnePage().Build());
  TOvPDFDocument doc;
  doc.Open(unsigned_);
  EXPECT_FALSE(doc.HasSignatureValues());
}

TEST(Document, PageTreeOrderInheritanceAndCycles) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 6 0 R 2 0 R] /Count 3 /MediaBox [10 20 110 220] >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /Rotate 90 >>");
  f.Add(4,
        "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 4 0 R] /MediaBox [0 0 300 400] /Rotate 180 >>");
  f.Add(5, "<< /Type /Page /Parent 4 0 R >>");
  f.Add(6, "<< /Type /Page /Parent 6 0 R /MediaBox [0 0 50 60] >>");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  ASSERT_EQ(doc.PageCount(), 3u);
  // Depth first: page 3, then the nested node's page 5, then page 6.
  EXPECT_EQ(doc.PageInfo(0).Width, 100);
  EXPECT_EQ(doc.PageInfo(0).Height, 200);
  EXPECT_EQ(doc.PageInfo(0).Rotate, 0);  // taken from where the box is
  EXPECT_EQ(doc.PageInfo(1).Width, 300);
  EXPECT_EQ(doc.PageInfo(1).Rotate, 180);
  EXPECT_EQ(doc.PageInfo(2).Width, 50);
  EXPECT_EQ(doc.PageInfo(2).Height, 60);
}

// A box gives the same size wherever it is read: from the text of a node's
// box not read yet, from a node's entries, and from a page only looked at.
TEST(Document, PageBoxesReadAlikeEverywhere) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R 7 0 R] /Count 3 >>");
  f.Add(3,
        "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] /MediaBox [0.4 -0.5 612.5 792] "
        "/Rotate 90 >>");
  f.Add(4, "<< /Type /Page /Parent 3 0 R >>");
  f.Add(5,
        "<< /Type /Pages /Parent 2 0 R /Kids [6 0 R] /MediaBox [0.4 -0.5 %c\n 612.5 792] "
        "/Rotate 90 >>");
  f.Add(6, "<< /Type /Page /Parent 5 0 R >>");
  f.Add(7, "<< /Type /Page /Parent 2 0 R /MediaBox [0.4 -0.5 612.5 792] /Rotate 90 >>");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  ASSERT_EQ(doc.PageCount(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(doc.PageInfo(i).Width, 613) << i;  // 612.5 rounds up, 0.4 down
    EXPECT_EQ(doc.PageInfo(i).Height, 792) << i;
    EXPECT_EQ(doc.PageInfo(i).Rotate, 90) << i;
  }
  TOvPDFDictionary* text = GetDictEntry(doc.PageInfo(0).Dictionary(), "Parent", true);
  TOvPDFDictionary* read = GetDictEntry(doc.PageInfo(1).Dictionary(), "Parent", true);
  EXPECT_TRUE(GetArrayEntry(text, "MediaBox", false)->Unread());
  EXPECT_FALSE(GetArrayEntry(read, "MediaBox", false)->Unread());
}

// The page list only looks at a plain page and keeps nothing of it; the page
// is loaded when its dictionary is asked for. A page whose entries need
// loading to be read is loaded at once.
TEST(Document, PagesAreLookedAtAndLoadedOnUse) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R 5 0 R] /MediaBox [0 0 10 20] >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 9 0 R >> >> >>");
  f.Add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 40] >>");
  f.Add(5, "<< /Type /Page /Parent 2 0 R /MediaBox 6 0 R >>");
  f.Add(6, "[0 0 50 60]");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  const auto loaded = [&](int32_t number) { return doc.File().FindCanonical(number, 0)->Resolved; };
  ASSERT_EQ(doc.PageCount(), 3u);  // page 3 listed twice counts once
  EXPECT_EQ(doc.PageInfo(0).Height, 20);
  EXPECT_EQ(doc.PageInfo(1).Height, 40);
  EXPECT_EQ(doc.PageInfo(2).Height, 60);
  EXPECT_FALSE(loaded(3));
  EXPECT_FALSE(loaded(4));
  EXPECT_TRUE(loaded(5));
  EXPECT_EQ(doc.IndexOfPage(doc.PageInfo(2).Dictionary()), 2);
  TOvPDFDictionary* page = doc.PageInfo(0).Dictionary();
  ASSERT_TRUE(page);
  EXPECT_TRUE(loaded(3));
  TOvPDFArray* kids = GetArrayEntry(GetDictEntry(doc.Catalog(), "Pages", true), "Kids", true);
  EXPECT_EQ(page, ResolveValue(kids->GetItem(0)));
  EXPECT_EQ(doc.IndexOfPage(page), 0);
  EXPECT_EQ(doc.PageInfo(0).Dictionary(), page);
  EXPECT_FALSE(loaded(4));
}

TEST(Document, DeepPageTreeIsAnError) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  for (int n = 2; n < 400; ++n) {
    f.Add(n, "<< /Type /Pages /Kids [" + std::to_string(n + 1) + " 0 R] >>");
  }
  f.Add(400, "<< /Type /Page >>");
  EXPECT_EQ(OpenError(f.Build()), "Invalid document (Bad page tree)");
}

TEST(Document, PagesAreReadAsFarAsTheyAreAsked) {
  // Two pages, then a branch nested too deeply: opening and the first two
  // pages do not reach it.
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /MediaBox [0 0 10 20] >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R >>");
  f.Add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 40] >>");
  for (int n = 5; n < 400; ++n) {
    f.Add(n, "<< /Type /Pages /Kids [" + std::to_string(n + 1) + " 0 R] >>");
  }
  f.Add(400, "<< /Type /Page >>");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_EQ(doc.PageInfo(0).Width, 10);
  EXPECT_EQ(doc.PageInfo(1).Height, 40);
  EXPECT_EQ(doc.IndexOfPage(doc.PageInfo(1).Dictionary()), 1);
  // The damage is reported to every caller that needs the pages behind it.
  for (int call = 0; call < 2; ++call) {
    try {
      doc.PageCount();
      ADD_FAILURE() << "the deep branch was accepted";
    } catch (const EOvPDFDocumentError& e) {
      EXPECT_STREQ(e.what(), "Invalid document (Bad page tree)");
    }
  }
  EXPECT_EQ(doc.PageInfo(1).Width, 30);
}

TEST(Document, LinearizationDictionaryIsChecked) {
  TFixture f = OnePage();
  f.objects.insert(f.objects.begin(), {5, "<< /Linearized 1 /L 100 /O 3 /E 50 /N 1 /T 90 >>"});
  EXPECT_EQ(OpenError(f.Build()), "Invalid linearization dictionary");
  {
    TAVRA_REQUIRE_TOOL("qpdf");
    ScratchDir dir;
    const std::string linear = QpdfVariant(dir, OnePage().Build(), "--linearize", "lin");
    TOvMemoryStream input(linear);
    TOvPDFDocument doc;
    doc.Open(input);
    EXPECT_TRUE(doc.Linearized());
  }
}

TEST(Document, CatalogAndInfoMustBeDictionaries) {
  TFixture f = OnePage();
  f.trailerExtra = " /Info 4 0 R";
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  try {
    doc.Info();
    FAIL();
  } catch (const EOvPDFDocumentError& e) {
    EXPECT_STREQ(e.what(), "Invalid document (Bad information dictionary)");
  }
  TFixture bad = OnePage();
  bad.objects[0].second = "[1 2]";
  EXPECT_EQ(OpenError(bad.Build()), "Invalid document (Bad document catalog)");
}

TEST(Document, DocumentIdIsCreatedWhenAbsent) {
  TOvMemoryStream input(OnePage().Build());
  TOvPDFDocument doc;
  doc.Open(input);
  TOvPDFArray* id = doc.DocumentID();
  ASSERT_NE(id, nullptr);
  ASSERT_EQ(id->ItemCount(), 2u);
  auto* first = dynamic_cast<TOvPDFString*>(id->GetItem(0));
  auto* second = dynamic_cast<TOvPDFString*>(id->GetItem(1));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->Kind, 1);
  EXPECT_EQ(first->GetText().size(), 16u);
  EXPECT_EQ(first->GetText(), second->GetText());
  EXPECT_EQ(doc.DocumentID(), id);
  TFixture f = OnePage();
  f.trailerExtra = " /ID (x)";
  TOvMemoryStream other(f.Build());
  TOvPDFDocument withBadId;
  withBadId.Open(other);
  EXPECT_THROW(withBadId.DocumentID(), EOvPDFDocumentError);
}

TEST(Document, NewObjectsContinueAfterSize) {
  TFixture f = OnePage();
  f.size = 10;
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  int32_t number = 0;
  int32_t generation = -1;
  doc.AddNewObject(doc.File().NewString("new", 0), number, generation);
  EXPECT_EQ(number, 10);
  EXPECT_EQ(generation, 0);
  EXPECT_EQ(GetIntEntry(doc.Trailer(), "Size", 0, false), 11);
  TOvPDFRef* ref = doc.MakeRef(number, generation);
  EXPECT_EQ(ref->Data, "10 0 R");
  ASSERT_NE(ref->Resolve(), nullptr);
  EXPECT_EQ(dynamic_cast<TOvPDFString*>(ref->Resolve()->Value)->GetText(), "new");
  // Written by the file as an update, and read back.
  doc.File().SetFullRewrite(false);
  doc.File().Save();
  TOvMemoryStream reread(dynamic_cast<TOvMemoryStream*>(doc.WorkingStream())->Data());
  TOvPDFDocument again;
  again.Open(reread);
  EXPECT_EQ(again.NextObjectNumber(), 10);
  EXPECT_NE(again.File().FindCanonical(10, 0), nullptr);
}

TEST(Document, EncryptionIsDetected) {
  TFixture f = OnePage();
  f.Add(5, "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>");
  f.trailerExtra = " /Encrypt 5 0 R";
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_TRUE(doc.Encrypted());
  EXPECT_EQ(doc.EncryptionFilter(), "Standard");
  TOvMemoryStream plain(OnePage().Build());
  TOvPDFDocument other;
  other.Open(plain);
  EXPECT_FALSE(other.Encrypted());
  try {
    other.Decrypt();
    FAIL();
  } catch (const EOvPDFDocumentError& e) {
    EXPECT_STREQ(e.what(), "Document is not encrypted");
  }
}

TEST(Document, EncryptedObjectStreamsNeedAHandler) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const std::string encrypted =
      QpdfVariant(dir, OnePage().Build(),
                  "--object-streams=generate --encrypt user owner 128 --use-aes=y --", "enc");
  ASSERT_FALSE(encrypted.empty());
  TOvMemoryStream input(encrypted);
  TOvPDFDocument doc;
  doc.SetActivateSecurityHandlers(false);
  try {
    doc.Open(input);
    FAIL();
  } catch (const EOvPDFDocumentError& e) {
    EXPECT_STREQ(e.what(), "Security handler not found");
  }
}

TEST(Document, ProgressIsReportedAndCancelStopsOpening) {
  TOvMemoryStream input(OnePage().Build());
  TOvPDFDocument doc;
  std::vector<int> seen;
  doc.SetOnProgress([&](TOvPDFDocument* sender, int percent, bool&) {
    EXPECT_EQ(sender, &doc);
    seen.push_back(percent);
  });
  doc.Open(input);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  doc.Close(false);
  doc.SetOnProgress([](TOvPDFDocument*, int, bool& cancel) { cancel = true; });
  try {
    doc.Open(input);
    FAIL();
  } catch (const EOvPDFError& e) {
    EXPECT_STREQ(e.what(), "Interrupted by user");
  }
  EXPECT_FALSE(doc.Opened());
}

TEST(Document, WorkingStreamComesFromTheEvent) {
  const std::string original = OnePage().Build();
  TOvMemoryStream input(original);
  TOvMemoryStream mine;
  TOvPDFDocument doc;
  doc.SetOnCreateTemporaryStream([&](TOvPDFDocument*, TOvStream*& stream, bool& freeOnClose) {
    stream = &mine;
    freeOnClose = false;
  });
  doc.Open(input);
  EXPECT_EQ(doc.WorkingStream(), &mine);
  EXPECT_EQ(mine.Data(), original);
  doc.Close(true);
  EXPECT_EQ(mine.Data(), input.Data());  // the rewrite happened there, then was copied
}

TEST(Document, RequirementsAndAttachments) {
  TFixture f = OnePage();
  f.objects[0].second =
      "<< /Type /Catalog /Pages 2 0 R /Requirements [<< /Type /Requirement /S /EnableJavaScripts "
      "/RH [<< /S /JS /Script (app.alert\\(1\\)) >>] >>] /Names << /EmbeddedFiles << /Names "
      "[(a.txt) 5 0 R] >> >> >>";
  f.Add(5, "<< /Type /Filespec /F (a.txt) /Desc <FEFF00E9> /EF << /F 6 0 R >> >>");
  f.Add(6, StreamBody(" /Type /EmbeddedFile /Subtype /text#2Fplain /Params << /Size 5 "
                      "/ModDate (D:20200102030405Z) >>",
                      "hello"));
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  ASSERT_EQ(doc.Requirements().size(), 1u);
  EXPECT_EQ(doc.Requirements()[0].Name, "EnableJavaScripts");
  ASSERT_EQ(doc.Requirements()[0].Handlers.size(), 1u);
  EXPECT_EQ(doc.Requirements()[0].Handlers[0].Script, "app.alert(1)");
  ASSERT_EQ(doc.Attachments().size(), 1u);
  const TOvPDFFileAttachment& a = doc.Attachments()[0];
  EXPECT_EQ(a.KeyName, "a.txt");
  EXPECT_EQ(a.Description, "\xC3\xA9");
  EXPECT_EQ(a.Subtype, "text/plain");
  EXPECT_EQ(a.Size, 5);
  EXPECT_NEAR(a.ModificationDate, PdfDateFromString("D:20200102030405Z"), 1e-9);
  EXPECT_EQ(a.EmbeddedFile->GetRawData(), "hello");
  TFixture bad = OnePage();
  bad.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /Requirements 7 >>";
  EXPECT_EQ(OpenError(bad.Build()), "Invalid document (Invalid requirements dictionary)");
}

TEST(Document, PageCountsAgreeWithQpdf) {
  TAVRA_REQUIRE_TOOL("qpdf");
  ScratchDir dir;
  const std::string base = QpdfVariant(dir, OnePage().Build(), "--pages . . . . --", "four");
  for (const char* options : {"", "--object-streams=generate", "--qdf", "--linearize"}) {
    const std::string variant = QpdfVariant(dir, base, options, "v");
    TOvMemoryStream input(variant);
    TOvPDFDocument doc;
    doc.Open(input);
    EXPECT_EQ(static_cast<int>(doc.PageCount()), QpdfPageCount(dir, variant)) << options;
    EXPECT_EQ(doc.PageCount(), 4u);
  }
}

TEST(Document, FilesThatAreNotPdfsGiveAClearErrorAndStayUntouched) {
  const std::string onePage = OnePage().Build();
  for (const std::string& bytes :
       {std::string(), std::string("Just text.\n"), std::string(4096, '\0'),
        onePage.substr(0, onePage.find("1 0 obj"))}) {
    TOvMemoryStream input(bytes);
    TOvPDFDocument doc;
    try {
      doc.Open(input);
      ADD_FAILURE() << "opened " << bytes.size() << " bytes";
    } catch (const EOvPDFError& e) {
      EXPECT_STREQ(e.what(), "Bad document trailer");
    }
    EXPECT_FALSE(doc.Opened());
    EXPECT_EQ(input.Data(), bytes);
  }
}

TEST(Document, FieldTreeCyclesEndTheSignatureSearch) {
  // Field 5 lists itself and its parent 7 among its kids; neither holds a value.
  TFixture f = OnePage();
  f.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [7 0 R] >> >>";
  f.Add(5, "<< /T (a) /Kids [5 0 R 7 0 R] /Parent 7 0 R >>");
  f.Add(7, "<< /T (b) /Kids [5 0 R] >>");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_FALSE(doc.HasSignatureValues());
  // A value deeper down is still found through the same walk.
  TFixture g = OnePage();
  g.objects[0].second = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [7 0 R] >> >>";
  g.Add(5, "<< /T (a) /Kids [7 0 R 6 0 R] /Parent 7 0 R >>");
  g.Add(6, "<< /FT /Sig /V << /Contents <00> >> /Parent 5 0 R >>");
  g.Add(7, "<< /T (b) /Kids [5 0 R] >>");
  TOvMemoryStream second(g.Build());
  TOvPDFDocument signedDoc;
  signedDoc.Open(second);
  EXPECT_TRUE(signedDoc.HasSignatureValues());
}

TEST(Document, InPlaceWorkUsesTheCallersStreamWithoutACopy) {
  const std::string original = AppendUpdate(OnePage().Build(), {{5, "(x)"}}, 6);
  TOvMemoryStream input(original);
  TOvPDFDocument doc;
  bool eventCalled = false;
  doc.SetOnCreateTemporaryStream([&](TOvPDFDocument*, TOvStream*&, bool&) { eventCalled = true; });
  doc.SetWorkInPlace(true);
  doc.Open(input);
  EXPECT_EQ(doc.WorkingStream(), &input);
  EXPECT_FALSE(eventCalled);
  doc.Close(true);
  EXPECT_EQ(doc.WorkingStream(), nullptr);
  const std::string saved = input.Data();
  EXPECT_NE(saved, original);
  TOvMemoryStream reread(saved);
  TOvPDFDocument again;
  again.Open(reread);
  EXPECT_EQ(again.PageCount(), 1u);
}
