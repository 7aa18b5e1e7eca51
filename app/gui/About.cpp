#include "app/gui/About.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/GuiServices.h"
#include "app/gui/Help.h"
#include "app/gui/URLLabel.h"

namespace tavra {

TFormAbout::TFormAbout(QWidget* parent, IHandlerDetector* detector, IShellOpener* opener)
    : QDialog(parent) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(QStringLiteral("O programu"));
  resize(325, 258);

  Label1 = new QLabel(QStringLiteral("Tavra PDF Signer"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  QFont title(QStringLiteral("Arial"));
  title.setPointSize(14);
  title.setBold(true);
  Label1->setFont(title);
  QPalette blue = Label1->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  Label1->setPalette(blue);
  Label1->setAlignment(Qt::AlignCenter);

  Label2 = new QLabel(this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setTextFormat(Qt::PlainText);
  Label2->setText(QStringLiteral(
      "Program na podepisování souborů typu PDF\n\n"
      "Program je chráněn autorským právem. Používat jej smíte pouze v souladu s licenčními "
      "podmínkami autora."));
  QFont bold = Label2->font();
  bold.setBold(true);
  Label2->setFont(bold);
  Label2->setAlignment(Qt::AlignCenter);
  Label2->setWordWrap(true);

  URLLabel1 = new TURLLabel(this, detector, opener);
  URLLabel1->setObjectName(QStringLiteral("URLLabel1"));
  URLLabel1->setText(QString::fromUtf8(kMakerCopyright));
  URLLabel1->setToolTip(QStringLiteral("Ukáže webovou stránku výrobce"));
  URLLabel1->setAlignment(Qt::AlignCenter);
  QFont link = URLLabel1->font();
  link.setUnderline(true);
  QFont plain = URLLabel1->font();
  plain.setUnderline(false);
  URLLabel1->SetLinkFont(link, Qt::blue);
  URLLabel1->SetPassiveFont(plain);
  URLLabel1->SetInetAddr(QString::fromUtf8(kMakerWebAddress));

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);  // Esc rejects: the cancel key

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(Label2, 1);
  layout->addWidget(URLLabel1);
  layout->addLayout(buttons);
  CenterOnScreen(this);
}

}  // namespace tavra
