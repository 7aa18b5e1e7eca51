// The Czech password prompt of protected key stores and tokens: the key
// store asks through it while signing, never while listing.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "platform/keystore/KeyStore.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavra {

class TPasswordDialog : public QDialog {
  Q_OBJECT

 public:
  // tokenName is UTF-8; retry says the previous answer was refused.
  TPasswordDialog(const std::string& tokenName, bool retry, QWidget* parent = nullptr);

  QLabel* Prompt;
  QLineEdit* edPassword;
  QPushButton* btnOK;
  QPushButton* btnCancel;
};

class TQtPasswordPrompt final : public platform::KeyStorePasswordPrompt {
 public:
  std::optional<std::string> AskPassword(const std::string& tokenName, bool retry) override;
};

// Installs a prompt in the key store for the length of a scope.
class TPasswordPromptScope {
 public:
  explicit TPasswordPromptScope(platform::KeyStorePasswordPrompt* prompt);
  ~TPasswordPromptScope();
  TPasswordPromptScope(const TPasswordPromptScope&) = delete;
  TPasswordPromptScope& operator=(const TPasswordPromptScope&) = delete;
};

}  // namespace tavra
