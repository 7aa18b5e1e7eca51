// Signing into a field the document already has, in the field's own place.
#include "toolkit/pdf/CvPDF_SignaturePlacement.h"

#include <gtest/gtest.h>

#include "tests/pdf/PdfFixtures.h"
#include "tests/pdf/SigningTestHandler.h"
#include "toolkit/common/CvStream.h"

using namespace pdftest;
using corvane::TOvPDFDocument;
using corvane::TOvPDFSignature;
using tavra_test::ScratchDir;

namespace {

// Two pages; an empty signature field on the second whose widget is a kid
// that the page does not list, with a /Rect of real numbers.
std::string TwoPagesWithKidField() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] >> >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, StreamBody("", "BT /F1 24 Tf 72 700 Td (Hello) Tj ET"));
  f.Add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(6, "<< /FT /Sig /T (Approval) /Kids [7 0 R] >>");
  f.Add(7,
        "<< /Type /Annot /Subtype /Widget /Parent 6 0 R /Rect [120.4 130 220 170.6] /P 5 0 R >>");
  return f.Build();
}

// The kid widget gets the appearance, keeps its rectangle and joins its
// page's annotations; the parent field gets the value, and the kid names it
// too (pdfsig reads such a kid as the field).
TEST(SignatureField, KidWidgetOfAnEmptyFieldIsSignedInPlace) {
  const std::string pdf = TwoPagesWithKidField();
  ScratchDir dir;
  corvane::TOvMemoryStream stream(pdf);
  TOvPDFDocument document;
  document.Open(stream);
  ASSERT_EQ(document.EmptySignatureFields().size(), 1u);
  TSigningTestHandler handler;
  TOvPDFSignature* entry = document.Signatures(document.AddSignature());
  entry->SetHandler(&handler);
  corvane::UseEmptySignatureField(document, *entry, document.EmptySignatureFields()[0]);
  EXPECT_EQ(entry->Page(), 1);
  EXPECT_EQ(entry->WidgetProps().Width, 100);
  EXPECT_EQ(entry->WidgetProps().Height, 41);
  document.Close(true);
  const std::string out = stream.Data();
  ASSERT_EQ(out.compare(0, pdf.size(), pdf), 0);
  const std::string update = out.substr(pdf.size());
  EXPECT_NE(update.find("/FT /Sig /T (Approval) /Kids [7 0 R] /V "), std::string::npos) << update;
  EXPECT_NE(update.find("/Rect [120.4 130 220 170.6]"), std::string::npos) << update;
  const size_t widget = update.find("7 0 obj");
  ASSERT_NE(widget, std::string::npos);
  const std::string kid = update.substr(widget, update.find("endobj", widget) - widget);
  EXPECT_NE(kid.find("/AP <<"), std::string::npos) << kid;
  EXPECT_NE(kid.find("/V "), std::string::npos) << kid;
  EXPECT_NE(update.find("/Contents 4 0 R /Annots "), std::string::npos) << update;
  EXPECT_EQ(update.find("(Signature1)"), std::string::npos);
  ExpectSignedCleanly(pdf, dir.Write("kid.pdf", out), 1);
  EXPECT_NE(Pdfsig(dir / "kid.pdf").find("Signature Field Name: Approval"), std::string::npos);
}

// The page box a rectangle is checked against: the crop box, inherited.
TEST(SignatureField, PageBoxIsTheInheritedCropBoxElseTheMediaBox) {
  TFixture f = OnePage();
  f.objects[1].second = "<< /Type /Pages /Kids [3 0 R] /Count 1 /CropBox [500 700 10 20] >>";
  corvane::TOvMemoryStream stream(f.Build());
  TOvPDFDocument document;
  document.Open(stream);
  corvane::TCvPageBox box;
  ASSERT_TRUE(corvane::PageBoxOf(document.PageInfo(0).Dictionary(), box));
  EXPECT_EQ(box.X1, 10);
  EXPECT_EQ(box.Y1, 20);
  EXPECT_EQ(box.X2, 500);
  EXPECT_EQ(box.Y2, 700);
}

}  // namespace
