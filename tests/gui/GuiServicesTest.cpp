// The reporter's three ways as message boxes, the guard of every slot, the
// dialog filter, and the message-box test hook.
#include "app/gui/GuiServices.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>

#include "tests/gui/GuiTestSupport.h"

namespace tavra {
namespace {

class GuiServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { tavra_test::TestApp(); }
  tavra_test::RecordingBoxes boxes;
};

TEST_F(GuiServicesTest, TheWaysOfReportingAsBoxes) {
  TGuiReporter reporter(boxes, "tavrapdfsg");
  reporter.ShowApplicationError("Certfikát nenalezen");
  reporter.ShowWorkflowError("Chyba: Bad object");
  reporter.ShowWorkflowInformation("Podepsání proběhlo úspěšně");
  reporter.ShowStartupError("Soubor \"x\" nenalezen");
  reporter.ShowPlainMessage("hotovo");
  ASSERT_EQ(boxes.boxes.size(), 5u);
  auto expect = [&](size_t i, TMessageKind kind, const char* caption, const char* text) {
    EXPECT_EQ(boxes.boxes[i].kind, kind) << i;
    EXPECT_EQ(boxes.boxes[i].caption, QString::fromUtf8(caption)) << i;
    EXPECT_EQ(boxes.boxes[i].text, QString::fromUtf8(text)) << i;
  };
  expect(0, TMessageKind::mkError, "tavrapdfsg", "Certfikát nenalezen.");
  expect(1, TMessageKind::mkError, "Error", "Chyba: Bad object");
  expect(2, TMessageKind::mkInformation, "Information", "Podepsání proběhlo úspěšně");
  expect(3, TMessageKind::mkError, "Error", "Soubor \"x\" nenalezen");
  expect(4, TMessageKind::mkPlain, "tavrapdfsg", "hotovo");
}

TEST_F(GuiServicesTest, NoExceptionLeavesTheGuard) {
  TGuiReporter reporter(boxes, "t");
  RunGuarded(reporter, [] { throw std::runtime_error("Stream read error"); });
  RunGuarded(reporter, [] { throw 42; });
  bool ran = false;
  RunGuarded(reporter, [&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text, "Stream read error.");
  EXPECT_EQ(boxes.boxes[1].caption, "t");
}

TEST_F(GuiServicesTest, DialogFilterShowsTheTwoNames) {
  EXPECT_EQ(DialogFilterNames(QString::fromUtf8(kPdfDialogFilter)),
            (QStringList{"PDF dokument (*.pdf)", "Všechny soubory (*.*)"}));
}

TEST_F(GuiServicesTest, QtDialogMatchesPdfIgnoringCase) {
  tavra_test::ScratchDir dir;
  dir.Write("lower.pdf", "x");
  dir.Write("UPPER.PDF", "x");
  dir.Write("other.txt", "x");
  QFileDialog dialog(nullptr, QString(), QString::fromStdString(dir.Path()),
                     DialogFilterNames(QString::fromUtf8(kPdfDialogFilter)).join(";;"));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(view, nullptr);
  auto* model = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  QStringList shown;
  ASSERT_TRUE(tavra_test::WaitFor(
      [&] {
        shown.clear();
        const QModelIndex root = view->rootIndex();
        for (int r = 0; r < view->model()->rowCount(root); ++r) {
          if (!view->isRowHidden(r)) shown << view->model()->index(r, 0, root).data().toString();
        }
        return shown.size() >= 2;
      },
      5000));
  shown.sort();
  EXPECT_EQ(shown, (QStringList{"UPPER.PDF", "lower.pdf"}));
}

TEST_F(GuiServicesTest, MessageLogHookRecordsAndDismissesBoxes) {
  tavra_test::ScratchDir dir;
  const std::string log = dir.File("messages.log");
  ::setenv("TAVRA_TEST_MESSAGE_LOG", log.c_str(), 1);
  TQtMessageBoxes real;
  real.Show(TMessageKind::mkError, "Error", "Soubor \"a\nb\" nenalezen");
  real.Show(TMessageKind::mkInformation, "Information", "Podepsání proběhlo úspěšně");
  ::unsetenv("TAVRA_TEST_MESSAGE_LOG");
  EXPECT_EQ(tavra_test::ReadFile(log),
            "error\tError\tSoubor \"a\\nb\" nenalezen\n"
            "information\tInformation\tPodepsání proběhlo úspěšně\n");
}

}  // namespace
}  // namespace tavra
