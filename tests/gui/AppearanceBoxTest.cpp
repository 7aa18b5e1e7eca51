// The "Vzhled podpisu" section of the main window: shown for visible and
// certifying signatures, a page preview of the real input on which the box
// is dragged, and the placement saved with the settings.
#include "app/gui/AppearanceBox.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/core/SignerCore.h"
#include "app/core/SignerSettings.h"
#include "app/gui/Main.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/pdf/PdfFixtures.h"

namespace tavra {
namespace {

class AppearanceBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tavra_test::TestApp();
    settings.stored.SigType = 1;
    core = std::make_unique<TSignerCore>(toolkit, reporter, ReadCommandLine({"tavrapdfsg"}));
    window = std::make_unique<TfrmMain>(*core, settings, reporter, services.Services());
  }

  // Two letter pages.
  std::string TwoPages() {
    pdftest::TFixture f = pdftest::OnePage();
    f.objects[1].second = "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>";
    f.Add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    return dir.Write("two.pdf", f.Build());
  }

  void Mouse(QWidget* widget, QEvent::Type type, QPointF at) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  }

  tavra_test::ScratchDir dir;
  tavra_test::FakeToolkit toolkit;
  tavra_test::MemorySettings settings;
  tavra_test::FakeServices services;
  TGuiReporter reporter{services.boxes, "tavrapdfsg"};
  std::unique_ptr<TSignerCore> core;
  std::unique_ptr<TfrmMain> window;
};

TEST_F(AppearanceBoxTest, ShownForVisibleAndCertifyingSignaturesOnly) {
  TfrmMain& w = *window;
  EXPECT_EQ(w.gbAppearance->title(), "Vzhled podpisu");
  EXPECT_TRUE(w.gbAppearance->isVisibleTo(&w));
  w.cbSignatureType->setCurrentIndex(0);
  EXPECT_FALSE(w.gbAppearance->isVisibleTo(&w));
  w.cbSignatureType->setCurrentIndex(2);
  EXPECT_TRUE(w.gbAppearance->isVisibleTo(&w));
  EXPECT_EQ(w.gbAppearance->cbLastPage->text(), "poslední");
  EXPECT_EQ(w.gbAppearance->lblPlace->text(), "Umístění: vpravo nahoře");
}

// The user drags the box on the preview of the input's page, picks the last
// page, and saves: the settings hold exactly that placement.
TEST_F(AppearanceBoxTest, DraggedBoxAndLastPageAreSaved) {
  TfrmMain& w = *window;
  TAppearanceBox& box = *w.gbAppearance;
  w.edSignedPDF->setText(QString::fromStdString(TwoPages()));
  ASSERT_TRUE(box.Preview->HasPage());
  EXPECT_EQ(box.Preview->Page().PageCount, 2);
  EXPECT_FALSE(box.Preview->Rect());
  // The page is drawn by poppler: white paper.
  const QImage shown = box.Preview->grab().toImage();
  EXPECT_EQ(shown.pixelColor(2, 2), QColor(Qt::white));

  // The toolkit's default place on a letter page, 220/612 pixels a point.
  const TSignatureRect start{487, 677, 557, 747};
  EXPECT_EQ(box.Preview->ShownRect(), start);
  const double scale = 220.0 / 612.0;
  const QPointF grip((start.X1 + 35) * scale, (792 - start.Y2 + 35) * scale);
  Mouse(box.Preview, QEvent::MouseButtonPress, grip);
  Mouse(box.Preview, QEvent::MouseMove, grip + QPointF(-20, 40));
  Mouse(box.Preview, QEvent::MouseButtonRelease, grip + QPointF(-20, 40));
  // 20 pixels left and 40 down: 56 and 111 points.
  ASSERT_TRUE(box.Preview->Rect());
  EXPECT_EQ(*box.Preview->Rect(), (TSignatureRect{431, 566, 501, 636}));
  EXPECT_EQ(box.lblPlace->text(), "Umístění (body): 431,566,501,636");
  box.cbLastPage->setChecked(true);
  EXPECT_FALSE(box.sePage->isEnabled());

  w.act_SaveSettings->trigger();
  EXPECT_EQ(settings.stored.SigPage, "last");
  EXPECT_EQ(settings.stored.SigRect, "431,566,501,636");
  EXPECT_EQ(settings.stored.SigField, "");

  // Back to the default place: nothing of it is stored.
  box.btnDefaultPlace->click();
  box.cbLastPage->setChecked(false);
  w.act_SaveSettings->trigger();
  EXPECT_EQ(settings.stored.SigPage, "");
  EXPECT_EQ(settings.stored.SigRect, "");
}

// A field named in the settings file is kept through the window until the
// user places the signature himself.
TEST_F(AppearanceBoxTest, StoredFieldIsKeptUntilAPageIsChosen) {
  settings.stored.SigField = "Approval";
  window->LoadSettings();
  TAppearanceBox& box = *window->gbAppearance;
  EXPECT_EQ(box.lblPlace->text(), "Do pole podpisu: Approval");
  window->act_SaveSettings->trigger();
  EXPECT_EQ(settings.stored.SigField, "Approval");
  box.sePage->setValue(2);
  window->act_SaveSettings->trigger();
  EXPECT_EQ(settings.stored.SigField, "");
  EXPECT_EQ(settings.stored.SigPage, "2");
}

// The picture is chosen through the window's dialog and saved to the settings
// file beside the font the file already names; "Bez obrázku" removes the key.
TEST_F(AppearanceBoxTest, ChosenPictureIsSavedToTheSettingsFile) {
  const std::string ini =
      dir.Write("tavrapdfsg.ini", "[options]\r\nsigtype=1\r\nfontfile=/f.ttf\r\n");
  const std::string input = TwoPages();
  const std::string picture = dir.Write("stamp.png", "");
  TIniSignerSettings fileSettings(ini);
  TfrmMain w(*core, fileSettings, reporter, services.Services());
  w.LoadSettings();
  w.edSignedPDF->setText(QString::fromStdString(input));
  TAppearanceBox& box = *w.gbAppearance;
  EXPECT_TRUE(box.edImage->isReadOnly());
  EXPECT_FALSE(box.btnNoImage->isEnabled());

  services.dialogs.image_result = QString::fromStdString(picture);
  box.btnImage->click();
  ASSERT_EQ(services.dialogs.image_starts.size(), 1u);
  EXPECT_EQ(services.dialogs.image_starts[0], QString::fromStdString(dir.Path()));
  EXPECT_EQ(box.edImage->text(), QString::fromStdString(picture));
  w.act_SaveSettings->trigger();
  const std::string saved = tavra_test::ReadFile(ini);
  EXPECT_NE(saved.find("\r\nimagefile=" + picture + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\r\nfontfile=/f.ttf\r\n"), std::string::npos) << saved;

  box.btnNoImage->click();
  EXPECT_TRUE(box.edImage->text().isEmpty());
  w.act_SaveSettings->trigger();
  EXPECT_EQ(tavra_test::ReadFile(ini).find("imagefile"), std::string::npos);
}

}  // namespace
}  // namespace tavra
