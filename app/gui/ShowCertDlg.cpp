#include "app/gui/ShowCertDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "app/gui/GuiServices.h"

namespace tavra {

namespace {

void ShowBuiltInViewer(QWidget* owner, const QString& title, uint64_t certContextHandle) {
  TShowCertDialog dialog(DescribeStoreCertificate(certContextHandle), title, owner);
  dialog.exec();
}

}  // namespace

TViewCertificateFunction FindViewerFunction(const std::string& module,
                                            const std::string& function) {
  if (module != kViewerModule) throw std::runtime_error("modul " + module + " nenalezen");
  return function == kViewerFunction ? &ShowBuiltInViewer : nullptr;
}

void TLinkedCertificateViewer::ViewCertificate(QWidget* owner, const QString& title,
                                               uint64_t certContextHandle) {
  if (resolved_ == nullptr) {
    resolved_ = FindViewerFunction(module_, function_);
    if (resolved_ == nullptr)
      throw std::runtime_error("funkce " + function_ + " nenalezena (" + module_ + ")");
  }
  resolved_(owner, title, certContextHandle);
}

TShowCertDialog::TShowCertDialog(const TCertificateDescription& description, const QString& title,
                                 QWidget* owner)
    : QDialog(owner) {
  setObjectName(QStringLiteral("ShowCertDlg"));
  setWindowTitle(title);
  setModal(true);
  FieldList = new QTreeWidget(this);
  FieldList->setObjectName(QStringLiteral("FieldList"));
  FieldList->setColumnCount(2);
  FieldList->setHeaderLabels({QStringLiteral("Pole"), QStringLiteral("Hodnota")});
  FieldList->setRootIsDecorated(false);
  FieldList->setSelectionMode(QAbstractItemView::SingleSelection);
  FieldList->setWordWrap(true);
  for (const TCertificateField& field : description.Fields)
    new QTreeWidgetItem(FieldList, {FromStd(field.Caption), FromStd(field.Text)});
  FieldList->resizeColumnToContents(0);
  FieldList->header()->setStretchLastSection(true);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(QStringLiteral("Zavřít"), QDialogButtonBox::RejectRole);
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FieldList);
  layout->addWidget(buttons);
  resize(820, 420);
}

QString TShowCertDialog::FieldText(const QString& caption) const {
  for (int i = 0; i < FieldList->topLevelItemCount(); ++i)
    if (FieldList->topLevelItem(i)->text(0) == caption) return FieldList->topLevelItem(i)->text(1);
  return {};
}

}  // namespace tavra
