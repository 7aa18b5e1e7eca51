// The certificate selection dialog: the signing certificates of the personal
// store in three sortable columns, the viewer for the selected one, and a
// copy of the chosen one for the main window.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "app/core/CertificateChoice.h"
#include "app/gui/GuiServices.h"

class QAction;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavra {

class ICertificateViewer;

class TSelectCertDialog : public QDialog {
  Q_OBJECT

 public:
  // Lists the store, sorts by the first column ascending and selects the
  // first item.
  TSelectCertDialog(std::unique_ptr<ICertificateStore> store, ICertificateViewer& viewer,
                    ISignerReporter& reporter, QWidget* parent = nullptr);
  ~TSelectCertDialog() override;

  // Selects the first item with these issuer and serial texts; no match
  // leaves the selection as it is.
  void Preselect(const std::string& issuerText, const std::string& serialText);
  // Modal; a copy of the selected certificate when closed with OK, else none.
  std::unique_ptr<ISignerCertificate> Execute();
  // What Execute returns once the dialog has closed with this result.
  std::unique_ptr<ISignerCertificate> Result(int dialogResult) const;

  void ColumnClick(int column);
  int SortState() const { return sort_state_; }
  const IChoosableCertificate* SelectedCertificate() const;

  QTreeWidget* ListView1;
  QWidget* Panel1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QAction* act_ShowSelected;
  QLabel* StatusLine;

 private:
  void FillList();
  void SortList();
  void ShowSelected();
  void UpdateActions();

  std::unique_ptr<ICertificateStore> store_;
  ICertificateViewer& viewer_;
  ISignerReporter& reporter_;
  int sort_state_ = 0;
};

// The desktop's certificate dialog over the store of the database in use.
class TDialogCertificateSelector final : public ICertificateSelector {
 public:
  TDialogCertificateSelector(IMessageBoxes& boxes, ICertificateViewer& viewer)
      : boxes_(boxes), viewer_(viewer) {}
  std::unique_ptr<ISignerCertificate> SelectCertificate(QWidget* parent,
                                                        const std::string& issuerText,
                                                        const std::string& serialText) override;

 private:
  IMessageBoxes& boxes_;
  ICertificateViewer& viewer_;
};

}  // namespace tavra
