// Reading large documents without keeping them: the certification digest of
// objects only looked at, the page count a tree declares, the cross-reference
// table when its entries come out of order, and the references of object
// streams read from their text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pdf/PdfFixtures.h"
#include "toolkit/pdf/CvPDF.h"

namespace pdftest {
namespace {

using corvane::ByteString;
using corvane::TOvMemoryStream;
using corvane::TOvPDFDocument;
using corvane::TOvPDFRef;
using corvane::TOvPDFSigRefEntry;
using tavra_test::ScratchDir;

// Two pages under a node that gives them their box, a font and a form field
// shared by both, actions, annotations whose order a parent's name changes,
// a resource dictionary that reaches its own page, and an indirect /Type.
TFixture CertifiableDocument() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [20 0 R] >> >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 595 842] /Rotate 90 >>");
  f.Add(3,
        "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 0 R >> /XObject << /P 3 0 R "
        ">> >> /Contents 6 0 R /Annots [11 0 R 10 0 R 21 0 R] >>");
  f.Add(4,
        "<< /Type 9 0 R /Parent 2 0 R /CropBox [10 10 500 800] /Resources 8 0 R /Contents [7 0 R "
        "6 0 R] /Annots 12 0 R >>");
  f.Add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  f.Add(6, "<< /Length 24 >>\nstream\nBT /F1 12 Tf (One) Tj ET\nendstream");
  f.Add(7, "<< /Length 9 /Resources 8 0 R >>\nstream\n0 0 m 1 l\nendstream");
  f.Add(8, "<< /Font << /F1 5 0 R >> /ProcSet [/PDF /Text] >>");
  f.Add(9, "/Page");
  f.Add(10, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A 13 0 R /NM (b) >>");
  f.Add(11, "<< /Type /Annot /Subtype /Text /T (Zed) /F 4 /Name /Note /NM (a) /Parent 14 0 R >>");
  f.Add(12, "[10 0 R 21 0 R]");
  f.Add(13, "<< /S /URI /URI (http://127.0.0.1/) >>");
  f.Add(14, "<< /T (Alpha) >>");
  f.Add(20, "<< /FT /Tx /T (Name) /Kids [21 0 R] /DV (x) /Ff 2 /A 13 0 R >>");
  f.Add(21, "<< /Type /Annot /Subtype /Widget /Parent 20 0 R /Rect [0 0 5 5] /F 4 >>");
  return f;
}

// Pages the page list only looked at.
size_t PagesLookedAt(TOvPDFDocument& doc) {
  size_t count = 0;
  for (const auto& page : doc.Pages()) count += page.Reference() && !page.Reference()->Resolved;
  return count;
}

// The three digests a certification writes (MD5 and SHA-1 of the document,
// SHA-1 of the field), each from a document opened afresh. Those named in
// untouched are checked to stay unloaded.
std::vector<ByteString> Digests(const std::string& pdf, bool loadEverything,
                                const std::vector<int>& untouched = {}) {
  std::vector<ByteString> digests;
  for (const auto& [method, transform] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{1, 3}}) {
    TOvMemoryStream input(pdf);
    TOvPDFDocument doc;
    doc.Open(input);
    if (loadEverything) {
      for (TOvPDFRef* ref : doc.File().ObjectList()) ref->Resolve();
    }
    const size_t looked = PagesLookedAt(doc);
    TOvPDFSigRefEntry reference;
    reference.DigestMethod = static_cast<uint8_t>(method);
    reference.TransformMethod = static_cast<uint8_t>(transform);
    reference.Fields = {"Name"};
    digests.push_back(
        corvane::ComputeTransformDigest(nullptr, *doc.Signatures(doc.AddSignature()), reference));
    // The pages, their contents and annotations were looked at, not kept.
    EXPECT_EQ(PagesLookedAt(doc), looked);
    for (const int number : untouched) {
      EXPECT_FALSE(doc.File().FindCanonical(number, 0)->Resolved) << number;
    }
  }
  return digests;
}

// The digest is the same whether the objects were loaded before or are only
// looked at while it is computed, in a classic file and with object streams.
TEST(LargeDocument, CertificationDigestIsTheSameFromObjectsLookedAt) {
  const ScratchDir dir;
  const std::string classic = CertifiableDocument().Build();
  const std::string compressed =
      QpdfVariant(dir, classic, "--object-streams=generate", "digest-objstm");
  const std::vector<ByteString> loaded = Digests(classic, true);
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0].size(), 16u);
  EXPECT_EQ(loaded[1].size(), 20u);
  EXPECT_EQ(Digests(classic, false, {3, 6, 7, 10, 11, 12}), loaded);
  // qpdf compresses the content streams: the digest is another one.
  EXPECT_EQ(Digests(compressed, false), Digests(compressed, true));
}

// The count comes from the root until the pages are listed; listing them
// reads the tree, and a tree that holds fewer shows then.
TEST(LargeDocument, PageCountIsDeclaredUntilThePagesAreListed) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 7 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 20] >>");
  f.Add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 40] >>");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_EQ(doc.PageCount(), 7u);
  EXPECT_EQ(doc.Pages().size(), 2u);
  EXPECT_EQ(doc.PageCount(), 2u);

  // A count that cannot be one is not taken.
  TFixture negative = f;
  negative.objects[1].second = "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count -3 >>";
  TOvMemoryStream again(negative.Build());
  TOvPDFDocument other;
  other.Open(again);
  EXPECT_EQ(other.PageCount(), 2u);
}

// Listing the pages looks at each and counts the references it makes; the
// numbering of new objects then skips those pages but still passes a
// dangling reference only a page makes, and one only its contents make.
TEST(LargeDocument, NumberingAfterListingPassesReferencesOfPagesLookedAt) {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 20] /Thumb 77 0 R >>");
  f.Add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 40] /Contents 5 0 R >>");
  f.Add(5, "<< /Length 2 /Extra [40 0 R] >>\nstream\nq Q\nendstream");
  TOvMemoryStream input(f.Build());
  TOvPDFDocument doc;
  doc.Open(input);
  ASSERT_EQ(doc.Pages().size(), 2u);
  EXPECT_FALSE(doc.File().FindCanonical(3, 0)->Resolved);
  EXPECT_EQ(doc.File().HighestUsedNumber(), 77);
  int32_t number = 0;
  int32_t generation = 0;
  doc.AddNewObject(doc.File().NewNull(), number, generation);
  EXPECT_EQ(number, 78);
}

// Sections listed newest first, each in its own order, many small
// subsections in descending order: the table finds and lists every entry in
// order, and the newer entry of an object wins.
TEST(LargeDocument, CrossReferenceEntriesOutOfOrder) {
  corvane::TOvPDFXRefs table;
  constexpr int kCount = 5000;
  for (int n = kCount; n >= 1; --n) table.Add(n, 0, false, false, 1000 + n);
  for (int n = 1; n <= kCount; n += 2) EXPECT_EQ(table.Add(n, 0, false, false, 7), nullptr);
  table.Add(3, 1, false, false, 99);
  table.AddCompressed(kCount + 1, 0, 4, 2);
  ASSERT_EQ(table.Count(), static_cast<size_t>(kCount + 2));
  ASSERT_NE(table.Find(kCount, 0), nullptr);
  EXPECT_EQ(table.Find(kCount, 0)->Offset, 1000 + kCount);
  EXPECT_EQ(table.Find(3, 1)->Offset, 99);
  EXPECT_TRUE(table.Find(kCount + 1, 0)->Compressed);
  EXPECT_EQ(table.Find(kCount + 2, 0), nullptr);
  corvane::TOvPDFXRefs::TKey last{-1, -1};
  for (const auto& [key, entry] : table) {
    EXPECT_LT(last, key);
    EXPECT_EQ(key, (corvane::TOvPDFXRefs::TKey{entry.Generation, entry.Number}));
    last = key;
  }
  EXPECT_EQ(last, (corvane::TOvPDFXRefs::TKey{1, 3}));
  table.RemoveIf([](const corvane::TOvPDFXrefEntry& e) { return e.Number % 2 == 0; });
  EXPECT_EQ(table.Find(2, 0), nullptr);
  EXPECT_NE(table.Find(kCount + 1, 0), nullptr);
}

// References are read from text as the parser reads them: two integers and
// R, never inside strings, names or comments.
TEST(LargeDocument, ReferencesAreFoundInTextWithoutParsing) {
  EXPECT_EQ(corvane::HighestReferenceIn("<< /A [1 2 3 0 R] /B 7 0 R /C (9 0 R) >>"), 7);
  EXPECT_EQ(corvane::HighestReferenceIn("[1.0 0 R 2 0R /8 0 R <3930> 0 R 4 % 99 0 R\n0 R]"), 4);
  EXPECT_EQ(corvane::HighestReferenceIn("<<(a\\) (12 0 R)) /K 5 0 R>><</X 6 0 R"), 6);
  EXPECT_EQ(corvane::HighestReferenceIn("(unterminated 40 0 R"), 0);
}

// A new object takes a number past every reference, also one that only a
// member of an object stream makes to an object that does not exist.
TEST(LargeDocument, NewObjectsPassReferencesInObjectStreams) {
  // Catalog 1 at its offset; pages 2 and 3 and an array nothing reaches, 6,
  // in object stream 4 (unfiltered); the cross-reference stream 5.
  std::string pdf = "%PDF-1.5\n";
  const auto catalog = static_cast<long long>(pdf.size());
  pdf += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  const std::string members =
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>\n"
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>\n"
      "[(70 0 R) 55 0 R]\n";
  const std::string head = "2 0 3 42 6 96 ";
  const auto objStm = static_cast<long long>(pdf.size());
  pdf += "4 0 obj\n<< /Type /ObjStm /N 3 /First " + std::to_string(head.size()) + " /Length " +
         std::to_string(head.size() + members.size()) + " >>\nstream\n" + head + members +
         "\nendstream\nendobj\n";
  const auto xref = static_cast<long long>(pdf.size());
  std::string records;
  const auto record = [&](int type, long long second, int third) {
    records += static_cast<char>(type);
    for (int i = 3; i >= 0; --i) records += static_cast<char>((second >> (8 * i)) & 0xFF);
    records += static_cast<char>(third);
  };
  record(0, 0, 255);
  record(1, catalog, 0);
  record(2, 4, 0);
  record(2, 4, 1);
  record(1, objStm, 0);
  record(1, xref, 0);
  record(2, 4, 2);
  pdf += "5 0 obj\n<< /Type /XRef /Size 7 /W [1 4 1] /Root 1 0 R /Length " +
         std::to_string(records.size()) + " >>\nstream\n" + records +
         "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TOvMemoryStream input(pdf);
  TOvPDFDocument doc;
  doc.Open(input);
  EXPECT_FALSE(doc.File().Damaged());
  EXPECT_EQ(doc.File().HighestUsedNumber(), 55);
}

}  // namespace
}  // namespace pdftest
