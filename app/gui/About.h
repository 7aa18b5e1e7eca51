// The About window: product name, description, legal notice and the maker's
// web link.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tavra {

class IHandlerDetector;
class IShellOpener;
class TURLLabel;

// The maker's copyright line and web address shown by the About window.
inline constexpr char kMakerCopyright[] = "© Tavra, všechna práva vyhrazena";
inline constexpr char kMakerWebAddress[] = "www.tavra.cz";

class TFormAbout : public QDialog {
  Q_OBJECT

 public:
  TFormAbout(QWidget* parent, IHandlerDetector* detector, IShellOpener* opener);

  QLabel* Label1;
  QLabel* Label2;
  TURLLabel* URLLabel1;
  QPushButton* Button1;
};

}  // namespace tavra
