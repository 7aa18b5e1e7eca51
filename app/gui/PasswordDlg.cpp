#include "app/gui/PasswordDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/gui/GuiServices.h"

namespace tavra {

TPasswordDialog::TPasswordDialog(const std::string& tokenName, bool retry, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("PasswordDialog"));
  setWindowTitle(QStringLiteral("Zadejte heslo"));
  setModal(true);
  const QString name = FromStd(tokenName);
  Prompt = new QLabel(this);
  Prompt->setTextFormat(Qt::PlainText);
  Prompt->setWordWrap(true);
  Prompt->setText((retry ? QStringLiteral("Heslo nebylo přijato. ") : QString()) +
                  QStringLiteral("Zadejte heslo pro „%1“:").arg(name));
  edPassword = new QLineEdit(this);
  edPassword->setObjectName(QStringLiteral("edPassword"));
  edPassword->setEchoMode(QLineEdit::Password);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Storno"), this);
  btnCancel->setAutoDefault(false);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Prompt);
  layout->addWidget(edPassword);
  layout->addLayout(buttons);
  edPassword->setFocus();
}

std::optional<std::string> TQtPasswordPrompt::AskPassword(const std::string& tokenName,
                                                          bool retry) {
  TPasswordDialog dialog(tokenName, retry, QApplication::activeWindow());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ToStd(dialog.edPassword->text());
}

TPasswordPromptScope::TPasswordPromptScope(platform::KeyStorePasswordPrompt* prompt) {
  platform::KeyStore::Instance().SetPasswordPrompt(prompt);
}

TPasswordPromptScope::~TPasswordPromptScope() {
  platform::KeyStore::Instance().SetPasswordPrompt(nullptr);
}

}  // namespace tavra
