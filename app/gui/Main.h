// The main window: the two paths, the settings (certificate, reason, type),
// the actions and the menu. The workflow itself lives in TSignerCore; the
// window turns widgets into a TSignerForm and back and routes every message
// through the reporter.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "app/core/SignerForm.h"
#include "app/gui/GuiServices.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tavra {

class TAppearanceBox;
class ISignerSettings;
class TFormAbout;
class TFormHelp;
class TSignerCore;

// The five preset reasons and the three signature types, in order.
QStringList PresetReasons();
QStringList SignatureTypeNames();

// A dialog-like window (Enter presses the default button) with a menu bar.
class TfrmMain : public QDialog {
  Q_OBJECT

 public:
  // Loads the settings and posts the start-up call; no modal UI runs here (a
  // settings error is shown by the start-up call). Nothing is shown.
  TfrmMain(TSignerCore& core, ISignerSettings& settings, ISignerReporter& reporter,
           const TGuiServices& services);
  ~TfrmMain() override;

  // The fields as a plain form, and back.
  TSignerForm FormState() const;
  void SetFormState(const TSignerForm& form);

  void LoadSettings();
  void SaveSettings();
  // The enable rule of the Sign action.
  void UpdateActions();

  QLabel* Label6;
  QLineEdit* edSignedPDF;
  QToolButton* SpeedButton1;
  QLineEdit* edTargetPDF;
  QToolButton* SpeedButton2;
  QLabel* Label7;
  QLabel* Label2;
  QPushButton* btnSelCert;
  QLineEdit* edCertIssuerName;
  QLineEdit* edCertSerialNumber;
  QLineEdit* edCertCommonName;
  QLabel* Label3;
  QComboBox* edSigReason;
  QComboBox* cbSignatureType;
  // PAdES level and the time-stamping authority's URL.
  QComboBox* cbLevel;
  QLineEdit* edTSA;
  // Page and place of a visible or certifying signature.
  TAppearanceBox* gbAppearance;
  QPushButton* btnSignIt;
  QPushButton* btnSaveSettings;
  QPushButton* btnClose;
  // Shown while a document is signed.
  QProgressBar* SignProgress;

  QAction* act_SignDocument;
  QAction* act_SignBatch;
  QAction* act_SelectCert;
  QAction* act_SaveSettings;
  QAction* act_Quit;
  QAction* act_help;
  QAction* act_About;

  QMenuBar* MainMenu1;
  QMenu* mnuAction;
  QMenu* mnuHelp;

 signals:
  // The application is to end with this exit status.
  void applicationEndRequested(int exitStatus);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  class TSignProgressScope;

  void CreateActions();
  void CreateWidgets();
  void CreateMenu();

  void OnStartup();
  void SignDocumentClick();
  void SignBatchClick();
  void SelectCertClick();
  void SaveSettingsClick();
  void HelpClick();
  void AboutClick();
  void BrowseInputClick();
  void BrowseOutputClick();
  void EndApplication(int exitStatus);

  TSignerCore& core_;
  ISignerSettings& settings_;
  ISignerReporter& reporter_;
  TGuiServices services_;
  std::string deferred_error_;
  // Settings no field shows, kept from loading to saving and signing.
  TSignerForm hidden_;
  bool ending_ = false;
  std::unique_ptr<TFormHelp> help_;
  std::unique_ptr<TFormAbout> about_;
};

}  // namespace tavra
