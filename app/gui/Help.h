// The help window: the usage text of the program.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;

namespace tavra {

// The usage text line by line; exeName is the program's own file name.
QStringList HelpTextLines(const QString& exeName);

class TFormHelp : public QDialog {
  Q_OBJECT

 public:
  // An empty exeName means the running program's file name.
  explicit TFormHelp(QWidget* parent = nullptr, const QString& exeName = QString());

  QPlainTextEdit* Memo1;
  QPushButton* Button1;
};

// Centres a top-level window on the screen it will appear on.
void CenterOnScreen(QWidget* window);

}  // namespace tavra
