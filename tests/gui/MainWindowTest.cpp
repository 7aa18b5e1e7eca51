// TfrmMain headless: captions, menus, the enable rule, settings through the
// form, the deferred start-up call, Enter and Esc, and the Sign action with
// its message boxes.
#include "app/gui/Main.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "app/core/SignerCore.h"
#include "app/gui/About.h"
#include "app/gui/Help.h"
#include "tests/gui/GuiTestSupport.h"

namespace tavra {
namespace {

using tavra_test::FakeToolkit;
using tavra_test::ReadFile;
using tavra_test::ScratchDir;

constexpr char kTitle[] = "tavrapdfsg";

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tavra_test::TestApp();
    input = dir.Write("in.pdf", "%PDF-1.4\n%%EOF\n");
    output = dir.File("out.pdf");
    toolkit.AddCertificate("Test CA", std::string("\x0A\x1B", 2));
    settings.stored.CertIssuer = "Test CA";
    settings.stored.CertSerial = "0A1B";
    settings.stored.CertCommonName = "Jan Novák";
    settings.stored.SigReason = "Schvaluji tento dokument";
    settings.stored.SigType = 1;
  }

  TfrmMain& Make(std::vector<std::string> args = {"tavrapdfsg"}) {
    core = std::make_unique<TSignerCore>(toolkit, reporter, ReadCommandLine(args));
    window = std::make_unique<TfrmMain>(*core, settings, reporter, services_.Services());
    ends = std::make_unique<tavra_test::EndRecorder>(window.get());
    return *window;
  }

  static void Settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }

  std::vector<tavra_test::Box>& Boxes() { return services_.boxes.boxes; }

  ScratchDir dir;
  std::string input, output;
  FakeToolkit toolkit;
  tavra_test::MemorySettings settings;
  tavra_test::FakeServices services_;
  TGuiReporter reporter{services_.boxes, kTitle};
  std::unique_ptr<TSignerCore> core;
  std::unique_ptr<TfrmMain> window;
  std::unique_ptr<tavra_test::EndRecorder> ends;
};

QString BuddyText(QWidget* window, QWidget* field) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->buddy() == field) return label->text();
  }
  return QStringLiteral("<none>");
}

TEST_F(MainWindowTest, CaptionsOfWindowLabelsAndButtons) {
  TfrmMain& w = Make();
  EXPECT_EQ(w.windowTitle(), "Tavra PDF Signer");
  EXPECT_EQ(w.Label6->text(), "Výběr souborů pro podpis");
  EXPECT_EQ(w.Label7->text(), "Nastavení");
  EXPECT_EQ(w.Label2->text(), "Podpisový certifikát");
  EXPECT_EQ(w.Label3->text(), "Rozšířené vlastnosti podpisu");
  for (QLabel* bold : {w.Label6, w.Label7, w.Label2, w.Label3}) EXPECT_TRUE(bold->font().bold());
  EXPECT_EQ(BuddyText(&w, w.edSignedPDF), "Nepodepsané PDF");
  EXPECT_EQ(BuddyText(&w, w.edTargetPDF), "Výstupní soubor ");
  EXPECT_EQ(BuddyText(&w, w.edCertIssuerName), "Vydavatel ");
  EXPECT_EQ(BuddyText(&w, w.edCertSerialNumber), "Sériové číslo ");
  EXPECT_EQ(BuddyText(&w, w.edCertCommonName), "Vydáno pro ");
  EXPECT_EQ(BuddyText(&w, w.edSigReason), "Důvod podpisu");
  EXPECT_EQ(BuddyText(&w, w.cbSignatureType), "Typ podpisu");
  EXPECT_EQ(w.SpeedButton1->text(), "Pr&ocházet...");
  EXPECT_EQ(w.SpeedButton2->text(), "P&rocházet...");
  EXPECT_EQ(w.btnSelCert->text(), "&Vybrat certifikát");
  EXPECT_EQ(w.btnSignIt->text(), "&Podepsat PDF");
  EXPECT_EQ(w.btnSaveSettings->text(), "&Uložit nastavení");
  EXPECT_EQ(w.btnClose->text(), "&Zavřít");
  EXPECT_TRUE(w.btnSignIt->isDefault());
}

TEST_F(MainWindowTest, ActionsAndMenus) {
  TfrmMain& w = Make();
  EXPECT_EQ(w.act_SignDocument->text(), "&Podepsat PDF");
  EXPECT_EQ(w.act_SelectCert->text(), "&Nastavit certifikát");
  EXPECT_EQ(w.act_SaveSettings->text(), "&Uložit nastavení");
  EXPECT_EQ(w.act_Quit->text(), "&Konec");
  EXPECT_EQ(w.act_help->text(), "Nápo&věda");
  EXPECT_EQ(w.act_About->text(), "O programu");

  const QList<QAction*> menus = w.MainMenu1->actions();
  ASSERT_EQ(menus.size(), 2);
  EXPECT_EQ(menus[0]->text(), "&Akce");
  EXPECT_EQ(menus[1]->text(), "Nápo&věda");
  const QList<QAction*> akce = w.mnuAction->actions();
  ASSERT_EQ(akce.size(), 6);
  EXPECT_EQ(akce[0], w.act_SignDocument);
  EXPECT_EQ(akce[1], w.act_SignBatch);
  EXPECT_EQ(akce[2], w.act_SelectCert);
  EXPECT_EQ(akce[3], w.act_SaveSettings);
  EXPECT_TRUE(akce[4]->isSeparator());
  EXPECT_EQ(akce[5], w.act_Quit);
  EXPECT_EQ(w.act_SignBatch->text(), "Podepsat více souborů…");
  EXPECT_EQ(w.mnuHelp->actions(), (QList<QAction*>{w.act_help, w.act_About}));
}

TEST_F(MainWindowTest, MenuMnemonicWinsOverTheCertificateButton) {
  TfrmMain& w = Make();
  // "&Vybrat certifikát" and "Nápo&věda" both claim Alt+V; the button yields.
  EXPECT_TRUE(w.btnSelCert->shortcut().isEmpty());
  EXPECT_EQ(w.btnSignIt->shortcut(), QKeySequence(Qt::ALT | Qt::Key_P));
}

TEST_F(MainWindowTest, PresetReasonsAndSignatureTypesInOrder) {
  TfrmMain& w = Make();
  QStringList reasons;
  for (int i = 0; i < w.edSigReason->count(); ++i) reasons << w.edSigReason->itemText(i);
  EXPECT_EQ(reasons, (QStringList{"Jsem autor tohoto dokumentu",
                                  "Svým podpisem tohoto dokumentu souhlasím s uvedenými podmínkami",
                                  "Tento dokument jsem zkontroloval",
                                  "Potvrzuji správnost a neporušenost tohoto dokumentu",
                                  "Schvaluji tento dokument"}));
  EXPECT_TRUE(w.edSigReason->isEditable());
  EXPECT_EQ(w.edSigReason->insertPolicy(), QComboBox::NoInsert);
  QStringList types;
  for (int i = 0; i < w.cbSignatureType->count(); ++i) types << w.cbSignatureType->itemText(i);
  EXPECT_EQ(types, (QStringList{"Neviditelný podpis dokumentu", "Viditelný podpis dokumentu",
                                "Certifikující (MDP) podpis"}));
  EXPECT_FALSE(w.cbSignatureType->isEditable());
}

TEST_F(MainWindowTest, EnableRuleFollowsTheFourFieldsAsTheyStand) {
  settings.stored = {};
  TfrmMain& w = Make();
  EXPECT_FALSE(w.act_SignDocument->isEnabled());
  EXPECT_FALSE(w.btnSignIt->isEnabled());
  w.edSignedPDF->setText(" ");
  w.edTargetPDF->setText("b");
  w.edCertIssuerName->setText("c");
  EXPECT_FALSE(w.act_SignDocument->isEnabled());
  w.edCertSerialNumber->setText("d");
  EXPECT_TRUE(w.act_SignDocument->isEnabled());
  EXPECT_TRUE(w.btnSignIt->isEnabled());
  // Common name, reason and type play no part.
  w.edCertCommonName->clear();
  w.edSigReason->setEditText(QString());
  w.cbSignatureType->setCurrentIndex(-1);
  EXPECT_TRUE(w.act_SignDocument->isEnabled());
  for (QLineEdit* e : {w.edSignedPDF, w.edTargetPDF, w.edCertIssuerName, w.edCertSerialNumber}) {
    const QString keep = e->text();
    e->clear();
    EXPECT_FALSE(w.act_SignDocument->isEnabled()) << e->objectName().toStdString();
    EXPECT_FALSE(w.btnSignIt->isEnabled());
    e->setText(keep);
    EXPECT_TRUE(w.act_SignDocument->isEnabled());
  }
}

TEST_F(MainWindowTest, SettingsRoundTripThroughTheForm) {
  TfrmMain& w = Make();
  EXPECT_EQ(w.edCertIssuerName->text(), "Test CA");
  EXPECT_EQ(w.edCertSerialNumber->text(), "0A1B");
  EXPECT_EQ(w.edCertCommonName->text(), "Jan Novák");
  EXPECT_EQ(w.edSigReason->currentText(), "Schvaluji tento dokument");
  EXPECT_EQ(w.cbSignatureType->currentIndex(), 1);

  w.edSignedPDF->setText("/a.pdf");
  w.edTargetPDF->setText("/b.pdf");
  w.edSigReason->setEditText("  vlastní důvod ");
  w.cbSignatureType->setCurrentIndex(2);
  w.edCertCommonName->setText("Jiný");
  w.act_SaveSettings->trigger();
  EXPECT_EQ(settings.writes, 1);
  EXPECT_EQ(settings.stored.SigReason, "  vlastní důvod ");
  EXPECT_EQ(settings.stored.SigType, 2);
  EXPECT_EQ(settings.stored.CertCommonName, "Jiný");
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].kind, TMessageKind::mkPlain);
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].text, "hotovo");

  // A second window reads back exactly what was stored; paths are not stored.
  TSignerCore core2(toolkit, reporter, ReadCommandLine({"x"}));
  TfrmMain w2(core2, settings, reporter, services_.Services());
  EXPECT_EQ(w2.edSigReason->currentText(), "  vlastní důvod ");
  EXPECT_EQ(w2.cbSignatureType->currentIndex(), 2);
  EXPECT_EQ(w2.edSignedPDF->text(), "");
  EXPECT_EQ(w2.edTargetPDF->text(), "");
}

TEST_F(MainWindowTest, NoTypeSelectionIsStoredAs255) {
  TfrmMain& w = Make();
  w.cbSignatureType->setCurrentIndex(-1);
  w.act_SaveSettings->trigger();
  EXPECT_EQ(settings.stored.SigType, 255);
}

TEST_F(MainWindowTest, SaveErrorGoesToTheErrorDisplay) {
  TfrmMain& w = Make();
  settings.write_error = "Cannot create file \"/ro/tavrapdfsg.ini\"";
  w.act_SaveSettings->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].kind, TMessageKind::mkError);
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  // The text ends with a quote, coded below ".", so no full stop is added.
  EXPECT_EQ(Boxes()[0].text, "Cannot create file \"/ro/tavrapdfsg.ini\"");
}

TEST_F(MainWindowTest, StartupFillsThePathsOnlyOnceTheEventLoopRuns) {
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN" + input, "-PUT" + output});
  EXPECT_EQ(w.edSignedPDF->text(), "");  // nothing happens inside the constructor
  Settle();
  EXPECT_EQ(w.edSignedPDF->text(), QString::fromStdString(input));
  EXPECT_EQ(w.edTargetPDF->text(), QString::fromStdString(output));
  EXPECT_TRUE(w.act_SignDocument->isEnabled());
  EXPECT_TRUE(ends->statuses.empty());
}

TEST_F(MainWindowTest, SignWithoutPutLeavesSignDisabled) {
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN" + input});
  Settle();
  EXPECT_EQ(w.edTargetPDF->text(), "");
  EXPECT_FALSE(w.act_SignDocument->isEnabled());
  w.edTargetPDF->setText(QString::fromStdString(output));
  EXPECT_TRUE(w.act_SignDocument->isEnabled());
}

TEST_F(MainWindowTest, ShowModeOpensTheFileAndEndsWithoutShowingTheWindow) {
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN", "-SHOW" + input});
  Settle();
  EXPECT_EQ(services_.opener.files, (std::vector<std::string>{input}));
  ASSERT_EQ(ends->statuses.size(), 1u);
  EXPECT_EQ(ends->statuses[0], 0);
  EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, SettingsErrorIsShownLaterAndShowModeStillEnds) {
  settings.read_error = "Cannot open file \"/x/tavrapdfsg.ini\". Permission denied";
  TfrmMain& w = Make({"tavrapdfsg", "-SHOW" + input});
  EXPECT_TRUE(Boxes().empty());  // no modal UI inside the constructor
  EXPECT_EQ(w.edCertIssuerName->text(), "");
  Settle();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].text, "Cannot open file \"/x/tavrapdfsg.ini\". Permission denied.");
  EXPECT_EQ(services_.opener.files.size(), 1u);
  EXPECT_EQ(ends->statuses.size(), 1u);
}

TEST_F(MainWindowTest, SuccessfulSignInSignModeEndsWithStatusZero) {
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN" + input, "-PUT" + output});
  Settle();
  w.act_SignDocument->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].kind, TMessageKind::mkInformation);
  EXPECT_EQ(Boxes()[0].caption, "Information");
  EXPECT_EQ(Boxes()[0].text, "Podepsání proběhlo úspěšně");
  ASSERT_EQ(ends->statuses.size(), 1u);
  EXPECT_EQ(ends->statuses[0], 0);
  EXPECT_EQ(ReadFile(output), ReadFile(input) + FakeToolkit::kSignedTail);
}

TEST_F(MainWindowTest, MissingCertificateInSignModeKeepsTheWindowOpen) {
  settings.stored.CertSerial = "FFFF";
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN" + input, "-PUT" + output});
  Settle();
  w.act_SignDocument->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].kind, TMessageKind::mkError);
  EXPECT_EQ(Boxes()[0].caption, kTitle);
  EXPECT_EQ(Boxes()[0].text, "Certfikát nenalezen.");
  EXPECT_TRUE(ends->statuses.empty());

  // A later successful run no longer ends the program.
  w.edCertSerialNumber->setText("0a1b");
  w.act_SignDocument->trigger();
  EXPECT_EQ(Boxes().back().text, "Podepsání proběhlo úspěšně");
  EXPECT_TRUE(ends->statuses.empty());
  // Closing then ends it with the status of the latest run.
  w.close();
  ASSERT_EQ(ends->statuses.size(), 1u);
  EXPECT_EQ(ends->statuses[0], 0);
}

TEST_F(MainWindowTest, EncryptedInputInSignModeEndsWithStatusOne) {
  toolkit.encrypted = true;
  TfrmMain& w = Make({"tavrapdfsg", "-SIGN" + input, "-PUT" + output});
  Settle();
  w.act_SignDocument->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Error");
  EXPECT_EQ(Boxes()[0].text, "Zašifrovaný dokument nelze podepsat");
  ASSERT_EQ(ends->statuses.size(), 1u);
  EXPECT_EQ(ends->statuses[0], 1);
}

// Several files into a folder with the window's settings: the good ones are
// signed, the summary names the one that failed, and the progress bar is
// gone afterwards.
TEST_F(MainWindowTest, BatchSignsIntoAFolderAndListsTheFailures) {
  TfrmMain& w = Make();
  Settle();
  const std::string second = dir.Write("druhy.pdf", "%PDF-1.4\n%second\n%%EOF\n");
  const std::string out = dir.MakeDir("out");
  services_.dialogs.open_files = {FromStd(input), FromStd(dir / "chybi.pdf"), FromStd(second)};
  services_.dialogs.folder_result = FromStd(out);
  w.act_SignBatch->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].caption, "Error");
  EXPECT_EQ(Boxes()[0].text,
            "Podepsáno 2 z 3 souborů\nNepodařilo se podepsat:\nchybi.pdf: Soubor \"" +
                FromStd(dir / "chybi.pdf") + "\" nenalezen");
  EXPECT_EQ(ReadFile(out + "/in-signed.pdf"), ReadFile(input) + FakeToolkit::kSignedTail);
  EXPECT_EQ(ReadFile(out + "/druhy-signed.pdf"), ReadFile(second) + FakeToolkit::kSignedTail);
  EXPECT_FALSE(w.SignProgress->isVisible());

  // Cancelling the folder dialog signs nothing.
  services_.dialogs.folder_result.clear();
  w.act_SignBatch->trigger();
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(MainWindowTest, WorkflowNeverChangesTheFields) {
  TfrmMain& w = Make();
  w.edSignedPDF->setText("  " + QString::fromStdString(input) + " ");
  w.edTargetPDF->setText(QString::fromStdString(output));
  const TSignerForm before = w.FormState();
  w.act_SignDocument->trigger();
  const TSignerForm after = w.FormState();
  EXPECT_EQ(after.SignedPDF, before.SignedPDF);
  EXPECT_EQ(after.TargetPDF, before.TargetPDF);
  EXPECT_EQ(after.SigReason, before.SigReason);
  EXPECT_EQ(Boxes().back().text, "Podepsání proběhlo úspěšně");
}

TEST_F(MainWindowTest, EnterInAFieldPressesTheDefaultButton) {
  TfrmMain& w = Make();
  w.show();
  w.edSignedPDF->setText(QString::fromStdString(input));
  w.edTargetPDF->setText(QString::fromStdString(output));
  tavra_test::KeyClick(w.edTargetPDF, Qt::Key_Return);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "Podepsání proběhlo úspěšně");
  tavra_test::KeyClick(w.edSigReason->lineEdit(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(w.edSigReason->count(), 5);  // typed text is not inserted as an item
  // Disabled: Enter does nothing.
  w.edTargetPDF->clear();
  tavra_test::KeyClick(w.edSignedPDF, Qt::Key_Return);
  EXPECT_EQ(Boxes().size(), 2u);
  w.hide();
}

TEST_F(MainWindowTest, EscapeDoesNotCloseAndQuitEnds) {
  TfrmMain& w = Make();
  w.show();
  tavra_test::KeyClick(w.edSignedPDF, Qt::Key_Escape);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(ends->statuses.empty());
  w.act_Quit->trigger();
  EXPECT_FALSE(w.isVisible());
  ASSERT_EQ(ends->statuses.size(), 1u);
  EXPECT_EQ(ends->statuses[0], 0);
  EXPECT_EQ(settings.writes, 0);  // closing never saves
}

TEST_F(MainWindowTest, SelectedCertificateFillsTheFields) {
  TfrmMain& w = Make();
  services_.selector.choose = false;
  w.act_SelectCert->trigger();
  ASSERT_EQ(services_.selector.asked.size(), 1u);
  EXPECT_EQ(services_.selector.asked[0], (std::pair<std::string, std::string>{"Test CA", "0A1B"}));
  EXPECT_EQ(w.edCertIssuerName->text(), "Test CA");

  services_.selector.choose = true;
  tavra_test::MouseClick(w.btnSelCert);
  EXPECT_EQ(w.edCertIssuerName->text(), "Vydavatel CA");
  EXPECT_EQ(w.edCertSerialNumber->text(), "009A01");
  EXPECT_EQ(w.edCertCommonName->text(), "Jan Novák");
  EXPECT_EQ(settings.writes, 0);  // nothing is saved
}

TEST_F(MainWindowTest, BrowseButtonsStartInTheRightFolderAndTakeTheChoice) {
  TfrmMain& w = Make();
  w.edSignedPDF->setText(QString::fromStdString(input));
  w.edTargetPDF->setText(QString::fromStdString(dir.File("missing/out.pdf")));
  services_.dialogs.open_result = "/chosen/in.pdf";
  tavra_test::MouseClick(w.SpeedButton1);
  tavra_test::MouseClick(w.SpeedButton2);  // cancelled
  EXPECT_EQ(services_.dialogs.open_starts,
            (std::vector<QString>{QString::fromStdString(dir.Path())}));
  EXPECT_EQ(services_.dialogs.save_starts, (std::vector<QString>{QString()}));
  EXPECT_EQ(w.edSignedPDF->text(), "/chosen/in.pdf");
  EXPECT_EQ(w.edTargetPDF->text(), QString::fromStdString(dir.File("missing/out.pdf")));
  services_.dialogs.save_result = "/chosen/out.pdf";
  w.edTargetPDF->setText(QString::fromStdString(output));
  tavra_test::MouseClick(w.SpeedButton2);
  EXPECT_EQ(services_.dialogs.save_starts.back(), QString::fromStdString(dir.Path()));
  EXPECT_EQ(w.edTargetPDF->text(), "/chosen/out.pdf");
}

TEST_F(MainWindowTest, HelpAndAboutOpenModallyWithoutOwner) {
  TfrmMain& w = Make();
  QString seen;
  QTimer::singleShot(0, [&seen] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    seen = QString::fromLatin1(modal->metaObject()->className()) + "|" + modal->windowTitle() +
           (modal->parentWidget() == nullptr ? "|no owner" : "|owned");
    modal->close();
  });
  w.act_help->trigger();
  EXPECT_EQ(seen, "tavra::TFormHelp|Nápověda|no owner");
  QTimer::singleShot(0, [&seen] {
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    seen = QString::fromLatin1(modal->metaObject()->className()) + "|" + modal->windowTitle();
    modal->close();
  });
  w.act_About->trigger();
  EXPECT_EQ(seen, "tavra::TFormAbout|O programu");
}

}  // namespace
}  // namespace tavra
