// Placement as the user states it: the texts of the command line and the
// settings file, what an open document refuses, and the preview's geometry.
#include "app/core/SignaturePlacement.h"

#include <gtest/gtest.h>

#include "app/core/RKSIni.h"
#include "app/core/SignerErrors.h"
#include "tests/pdf/PdfFixtures.h"
#include "tests/support/TestSupport.h"
#include "toolkit/common/CvStream.h"
#include "toolkit/pdf/CvPDF.h"

namespace tavra {
namespace {

using pdftest::TFixture;

TEST(PlacementTexts, PageAndRectangleParseOrSayWhy) {
  std::string error;
  TSignaturePlacement p;
  ASSERT_TRUE(PlacementOfTexts(" last ", " 10, 20 ,110,-5 ", "", p, error) == false);
  EXPECT_EQ(error, "--rect ' 10, 20 ,110,-5 ': a rectangle needs X1 < X2 and Y1 < Y2");
  ASSERT_TRUE(PlacementOfTexts(" last ", " -10, 20 ,110,95 ", "", p, error)) << error;
  EXPECT_EQ(p.Page, kLastPage);
  EXPECT_EQ(p.Rect, (TSignatureRect{-10, 20, 110, 95}));
  EXPECT_EQ(PageText(p.Page) + " " + RectText(*p.Rect), "last -10,20,110,95");
  ASSERT_TRUE(PlacementOfTexts("", "", "", p, error));
  EXPECT_EQ(p, TSignaturePlacement{});

  for (const char* bad : {"0", "-1", "1000001", "2x", "1.5", "99999999999"}) {
    EXPECT_FALSE(PlacementOfTexts(bad, "", "", p, error)) << bad;
  }
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "a,2,3,4", "1,,3,4", "0,0,2000000,4"}) {
    EXPECT_FALSE(PlacementOfTexts("", bad, "", p, error)) << bad;
    EXPECT_NE(error.find("X1,Y1,X2,Y2"), std::string::npos) << bad;
  }
  EXPECT_FALSE(PlacementOfTexts("", "1,2,3,4", "Approval", p, error));
  EXPECT_TRUE(PlacementOfTexts("", "", "Approval", p, error));
  EXPECT_EQ(p.Field, "Approval");
}

// The settings keep the three texts; absent keys stay absent.
TEST(PlacementTexts, SettingsKeysRoundTrip) {
  tavra_test::ScratchDir dir;
  const std::string path = dir / "s.ini";
  TPdfSignerOptions options;
  options.SigType = 1;
  options.SigPage = "last";
  options.SigRect = "10,20,110,90";
  WriteOptions(path, options);
  EXPECT_EQ(tavra_test::ReadFile(path),
            "[options]\r\nsigtype=1\r\npage=last\r\nrect=10,20,110,90\r\n");
  options.SigRect.clear();
  options.SigField = "Approval";
  WriteOptions(path, options);
  TPdfSignerOptions back;
  ReadOptions(path, back);
  EXPECT_EQ(back.SigPage, "last");
  EXPECT_EQ(back.SigRect, "");
  EXPECT_EQ(back.SigField, "Approval");
}

// A document of two pages: a letter page and one whose box has its origin
// elsewhere, with an empty signature field.
std::string TwoPagesWithKidField() {
  TFixture f;
  f.Add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R] >> >>");
  f.Add(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
  f.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  f.Add(4, pdftest::StreamBody("", "BT /F1 24 Tf 72 700 Td (Hello) Tj ET"));
  f.Add(5,
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [100 100 400 500] "
        "/Contents 4 0 R >>");
  f.Add(6, "<< /FT /Sig /T (Approval) /Kids [7 0 R] >>");
  f.Add(7,
        "<< /Type /Annot /Subtype /Widget /Parent 6 0 R /Rect [120.4 130 220 170.6] /P 5 0 R >>");
  return f.Build();
}

struct TOpened {
  corvane::TOvMemoryStream stream;
  corvane::TOvPDFDocument document;
  corvane::TOvPDFSignature* entry = nullptr;
  explicit TOpened(const std::string& pdf) : stream(pdf) {
    document.Open(stream);
    entry = document.Signatures(document.AddSignature());
  }
};

std::string ErrorOf(const std::string& pdf, const TSignaturePlacement& placement) {
  TOpened opened(pdf);
  try {
    ApplyPlacement(opened.document, *opened.entry, placement);
  } catch (const ESignerError& e) {
    return e.what();
  }
  return "";
}

TEST(PlacementInDocument, PageBoxAndFieldAreCheckedAgainstTheDocument) {
  const std::string pdf = TwoPagesWithKidField();
  TSignaturePlacement p;
  p.Page = 3;
  EXPECT_EQ(ErrorOf(pdf, p), "Dokument nemá stránku 3 (počet stránek: 2)");
  p.Page = kLastPage;
  // The crop box counts, with its origin.
  p.Rect = TSignatureRect{90, 110, 200, 200};
  EXPECT_EQ(ErrorOf(pdf, p),
            "Obdélník podpisu 90,110,200,200 přesahuje stránku 2 (100,100,400,500)");
  p.Rect = TSignatureRect{100, 100, 400, 500};
  EXPECT_EQ(ErrorOf(pdf, p), "");
  EXPECT_EQ(ErrorOf(pdf, {0, std::nullopt, "Nothing"}),
            "Pole podpisu \"Nothing\" v dokumentu není");

  TOpened opened(pdf);
  ApplyPlacement(opened.document, *opened.entry, p);
  const corvane::TOvPDFSignatureWidgetProps& props = opened.entry->WidgetProps();
  EXPECT_EQ(opened.entry->Page(), 1);
  EXPECT_FALSE(props.AutoPos || props.AutoSize);
  EXPECT_EQ(props.OffsetX, 100);
  EXPECT_EQ(props.Height, 400);
}

// The preview's box: the toolkit's default place on an A4 page, pixels, and
// a drag that stops at the page's edge.
TEST(PreviewGeometry, DefaultPlacePixelsAndDrag) {
  const TPreviewGeometry a4{0, 0, 595, 842, 0.5};
  const TSignatureRect place = DefaultRect(a4);
  EXPECT_EQ(place, (TSignatureRect{470, 727, 540, 797}));
  const TPixelRect pixels = RectToPixels(a4, place);
  EXPECT_DOUBLE_EQ(pixels.Left, 235);
  EXPECT_DOUBLE_EQ(pixels.Top, 22.5);
  EXPECT_DOUBLE_EQ(pixels.Width, 35);
  // 10 pixels right and 20 down are 20 points right and 40 down.
  EXPECT_EQ(DragRect(a4, place, 10, 20), (TSignatureRect{490, 687, 560, 757}));
  EXPECT_EQ(DragRect(a4, place, 1000, -1000), (TSignatureRect{525, 772, 595, 842}));
  const TPreviewGeometry cropped{100, 100, 300, 400, 1};
  EXPECT_EQ(DragRect(cropped, {150, 150, 200, 200}, -500, 500),
            (TSignatureRect{100, 100, 150, 150}));
}

}  // namespace
}  // namespace tavra
