#include "app/gui/Help.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/gui/GuiServices.h"
#include "platform/PlatformFiles.h"

namespace tavra {

QStringList HelpTextLines(const QString& exeName) {
  return {
      QStringLiteral("POUŽITÍ PROGRAMU"),
      QString(),
      QStringLiteral("A) Spuštění bez parametrů"),
      QStringLiteral("Když program spustíte bez parametrů, můžete zadat cestu k nepodepsanému PDF, "
                     "cestu k výstupnímu souboru, do "),
      QStringLiteral("kterého se uloží podepsané PDF, dále můžete vybrat podpisový certifikát, "
                     "kterým se PDF podepíše, zadat důvod "),
      QStringLiteral("podpisu a zvolit zda bude podpis ve výstupním PDF viditelný či neviditelný. "
                     "Stiskem tlačítka Podepsat PDF se "),
      QStringLiteral("nepodepsané PDF podepíše a uloží se do výstupního souboru."),
      QString(),
      QStringLiteral("Tlačítkem Uložit nastavení můžete uložit informace ze sekce Nastavení, tzn. "
                     "vybraný podpisový certifikát, důvod "),
      QStringLiteral("podpisu a viditelnost podpisu. Případně vybrané cesty k souborům se neuloží. "
                     "Při příštím startu se přednastaví "),
      QStringLiteral("uložené hodnoty. Pokud změníte některou hodnotu (například důvod podpisu) a "
                     "nestisknete tlačítko Uložit "),
      QStringLiteral("nastavení, přednastaví se údaje uložené při posledním uložení parametrů."),
      QString(),
      QStringLiteral("B) Spuštění s parametry"),
      QStringLiteral("Program můžete spouštět s následujícími parametry (například jej může "
                     "spouštět jiná aplikace)"),
      QString(),
      QStringLiteral("1) Podepsání PDF"),
      exeName + QStringLiteral(" -SIGN<cesta k nepodepsanému souboru>-PUT<cesta k výstupnímu "
                               "souboru>"),
      QString(),
      QStringLiteral("například:"),
      exeName + QStringLiteral(" -SIGNc:\\43983213.pdf -PUTc:\\43983213sign.pdf"),
      QString(),
      QStringLiteral("Program se spustí, načtou se naposled uložené údaje o nastavení a jako cesty "
                     "k souborům se přednastaví cesty "),
      QStringLiteral("uvedené v parametrech. Pak stačí stisknout tlačítko Podepsat PDF (nebo jen "
                     "stisknout Enter) a PDF se podepíše. "),
      QStringLiteral("Před podpisem můžete ještě měnit jakékoliv parametry z nastavení."),
      QString(),
      QStringLiteral("2) Zobrazení PDF"),
      exeName + QStringLiteral(" -SHOW<cesta k PDF souboru>"),
      QString(),
      QStringLiteral("například:"),
      exeName + QStringLiteral(" -SHOWc:\\43983213sign.pdf"),
      QString(),
      QStringLiteral("Program pouze spustí prohlížeč PDF souborů, který máte na počítači přiřazen "
                     "příponě PDF."),
      QString(),
  };
}

void CenterOnScreen(QWidget* window) {
  QScreen* screen =
      window->screen() != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

TFormHelp::TFormHelp(QWidget* parent, const QString& exeName) : QDialog(parent) {
  setObjectName(QStringLiteral("FormHelp"));
  setWindowTitle(QStringLiteral("Nápověda"));
  resize(562, 527);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  const QString name =
      exeName.isEmpty() ? FromStd(platform::FileNameOf(platform::ExecutablePath())) : exeName;
  Memo1->setPlainText(HelpTextLines(name).join('\n'));

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);  // Esc rejects: the cancel key

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1, 1);
  layout->addLayout(buttons);
  CenterOnScreen(this);
}

}  // namespace tavra
