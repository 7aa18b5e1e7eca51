// The help text, the About window and the link label.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>

#include "app/gui/About.h"
#include "app/gui/Help.h"
#include "app/gui/URLLabel.h"
#include "tests/gui/GuiTestSupport.h"

namespace tavra {
namespace {

class HelpAboutTest : public ::testing::Test {
 protected:
  void SetUp() override { tavra_test::TestApp(); }
  tavra_test::FakeDetector detector;
  tavra_test::RecordingOpener opener;
};

QStringList MemoLines(QPlainTextEdit* memo) {
  QStringList lines;
  for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
  return lines;
}

TEST_F(HelpAboutTest, HelpTextLineByLine) {
  TFormHelp help(nullptr, QStringLiteral("tavrapdfsg.exe"));
  const QStringList lines = MemoLines(help.Memo1);
  ASSERT_EQ(lines.size(), 34);
  EXPECT_EQ(lines[0], "POUŽITÍ PROGRAMU");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "A) Spuštění bez parametrů");
  EXPECT_EQ(lines[3],
            "Když program spustíte bez parametrů, můžete zadat cestu k nepodepsanému PDF, "
            "cestu k výstupnímu souboru, do ");
  EXPECT_EQ(lines[6], "nepodepsané PDF podepíše a uloží se do výstupního souboru.");
  EXPECT_EQ(lines[11], "nastavení, přednastaví se údaje uložené při posledním uložení parametrů.");
  EXPECT_EQ(lines[13], "B) Spuštění s parametry");
  EXPECT_EQ(lines[16], "1) Podepsání PDF");
  EXPECT_EQ(lines[17],
            "tavrapdfsg.exe -SIGN<cesta k nepodepsanému souboru>-PUT<cesta k výstupnímu souboru>");
  EXPECT_EQ(lines[19], "například:");
  EXPECT_EQ(lines[20], "tavrapdfsg.exe -SIGNc:\\43983213.pdf -PUTc:\\43983213sign.pdf");
  EXPECT_EQ(lines[23],
            "uvedené v parametrech. Pak stačí stisknout tlačítko Podepsat PDF (nebo jen "
            "stisknout Enter) a PDF se podepíše. ");
  EXPECT_EQ(lines[26], "2) Zobrazení PDF");
  EXPECT_EQ(lines[27], "tavrapdfsg.exe -SHOW<cesta k PDF souboru>");
  EXPECT_EQ(lines[30], "tavrapdfsg.exe -SHOWc:\\43983213sign.pdf");
  EXPECT_EQ(lines[32],
            "Program pouze spustí prohlížeč PDF souborů, který máte na počítači "
            "přiřazen příponě PDF.");
  EXPECT_EQ(lines[33], "");
  for (int empty : {1, 7, 12, 15, 18, 21, 25, 28, 31, 33}) EXPECT_EQ(lines[empty], "") << empty;
}

TEST_F(HelpAboutTest, HelpUsesTheProgramsOwnName) {
  const QStringList lines = HelpTextLines(QStringLiteral("tavrapdfsg"));
  EXPECT_EQ(lines[27], "tavrapdfsg -SHOW<cesta k PDF souboru>");
  TFormHelp help;  // the running program: the test executable
  EXPECT_TRUE(MemoLines(help.Memo1)[27].startsWith("test_gui -SHOW"));
}

TEST_F(HelpAboutTest, HelpWindow) {
  TFormHelp help;
  EXPECT_EQ(help.windowTitle(), "Nápověda");
  EXPECT_EQ(help.size(), QSize(562, 527));
  EXPECT_TRUE(help.Memo1->isReadOnly());
  EXPECT_EQ(help.Button1->text(), "OK");
  EXPECT_TRUE(help.Button1->isDefault());
}

TEST_F(HelpAboutTest, AboutWindow) {
  TFormAbout about(nullptr, &detector, &opener);
  EXPECT_EQ(about.windowTitle(), "O programu");
  EXPECT_EQ(about.Label1->text(), "Tavra PDF Signer");
  EXPECT_TRUE(about.Label1->font().bold());
  EXPECT_EQ(about.Label1->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_TRUE(about.Label2->text().startsWith("Program na podepisování souborů typu PDF\n\n"));
  EXPECT_TRUE(about.Label2->wordWrap());
  EXPECT_EQ(about.URLLabel1->toolTip(), "Ukáže webovou stránku výrobce");
  EXPECT_EQ(about.URLLabel1->InetAddr(), QString::fromUtf8(kMakerWebAddress));
  EXPECT_EQ(about.Button1->text(), "OK");
  EXPECT_TRUE(about.Button1->isDefault());
}

TEST_F(HelpAboutTest, AboutLinkWithoutHandlerIsPassiveAndClickDoesNothing) {
  TFormAbout about(nullptr, &detector, &opener);
  about.show();
  EXPECT_FALSE(about.URLLabel1->IsActiveLink());
  EXPECT_FALSE(about.URLLabel1->font().underline());
  EXPECT_TRUE(about.URLLabel1->isVisible());
  tavra_test::MouseClick(about.URLLabel1);
  EXPECT_TRUE(opener.urls.empty());
}

TEST_F(HelpAboutTest, AboutLinkWithHandlerOpensTheMakersPage) {
  detector.web = true;
  TFormAbout about(nullptr, &detector, &opener);
  about.show();
  EXPECT_TRUE(about.URLLabel1->IsActiveLink());
  EXPECT_TRUE(about.URLLabel1->font().underline());
  EXPECT_EQ(about.URLLabel1->cursor().shape(), Qt::PointingHandCursor);
  tavra_test::MouseClick(about.URLLabel1);
  EXPECT_EQ(opener.urls, (std::vector<std::string>{"http://www.tavra.cz"}));
}

TEST_F(HelpAboutTest, LinkLabelKindsAndHidePassive) {
  QWidget host;
  detector.mail = true;  // mail links only
  TURLLabel label(&host, &detector, &opener);
  host.show();
  label.SetLabelType(TUrlLabelType::ultAUTO);
  label.SetInetAddr("info@tavra.cz");
  EXPECT_EQ(label.EffectiveType(), TUrlLabelType::ultMAIL);
  EXPECT_TRUE(label.IsActiveLink());
  EXPECT_EQ(label.Target(), "mailto:info@tavra.cz");

  label.SetInetAddr("www.tavra.cz/kontakt@x");  // "www." keeps it a web label
  EXPECT_EQ(label.EffectiveType(), TUrlLabelType::ultHTML);
  EXPECT_FALSE(label.IsActiveLink());
  EXPECT_TRUE(label.isVisible());
  label.SetHidePassive(true);
  EXPECT_FALSE(label.isVisible());
  tavra_test::MouseClick(&label);
  EXPECT_TRUE(opener.urls.empty());
  label.SetInetAddr("a@b.cz");
  EXPECT_TRUE(label.isVisible());
  tavra_test::MouseClick(&label);
  EXPECT_EQ(opener.urls, (std::vector<std::string>{"mailto:a@b.cz"}));
}

TEST_F(HelpAboutTest, LinkWithSchemeOpensAsGiven) {
  QWidget host;
  detector.web = true;
  TURLLabel label(&host, &detector, &opener);
  host.show();
  label.SetInetAddr("https://www.tavra.cz/");
  tavra_test::MouseClick(&label);
  label.SetInetAddr("HTTP://WWW.TAVRA.CZ");
  tavra_test::MouseClick(&label);
  EXPECT_EQ(opener.urls,
            (std::vector<std::string>{"https://www.tavra.cz/", "HTTP://WWW.TAVRA.CZ"}));
}

TEST_F(HelpAboutTest, LinkLabelShowsNoAccelerators) {
  QWidget host;
  TURLLabel label(&host, &detector, &opener);
  EXPECT_EQ(label.textFormat(), Qt::PlainText);
  EXPECT_EQ(label.labelType(), TUrlLabelType::ultHTML);  // the default kind
  EXPECT_FALSE(label.HidePassive());
}

}  // namespace
}  // namespace tavra
