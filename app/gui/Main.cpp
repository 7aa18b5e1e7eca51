#include "app/gui/Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/core/BatchSigner.h"
#include "app/core/SignerCore.h"
#include "app/core/SignerErrors.h"
#include "app/core/SignerSettings.h"
#include "app/core/TimestampClient.h"
#include "app/gui/About.h"
#include "app/gui/AppearanceBox.h"
#include "app/gui/Help.h"
#include "app/gui/PasswordDlg.h"
#include "toolkit/common/CvScope.h"

namespace tavra {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, bool bold) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  if (bold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  return edit;
}

// A button that shows an action: enabled with it, triggering it. With no
// caption of its own it also shows the action's caption.
void BindButton(QAbstractButton* button, QAction* action, const QString& ownCaption = QString()) {
  auto sync = [button, action, ownCaption] {
    button->setEnabled(action->isEnabled());
    button->setText(ownCaption.isEmpty() ? action->text() : ownCaption);
  };
  sync();
  QObject::connect(action, &QAction::changed, button, sync);
  QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
}

}  // namespace

QStringList PresetReasons() {
  return {QStringLiteral("Jsem autor tohoto dokumentu"),
          QStringLiteral("Svým podpisem tohoto dokumentu souhlasím s uvedenými podmínkami"),
          QStringLiteral("Tento dokument jsem zkontroloval"),
          QStringLiteral("Potvrzuji správnost a neporušenost tohoto dokumentu"),
          QStringLiteral("Schvaluji tento dokument")};
}

QStringList SignatureTypeNames() {
  return {QStringLiteral("Neviditelný podpis dokumentu"),
          QStringLiteral("Viditelný podpis dokumentu"),
          QStringLiteral("Certifikující (MDP) podpis")};
}

TfrmMain::TfrmMain(TSignerCore& core, ISignerSettings& settings, ISignerReporter& reporter,
                   const TGuiServices& services)
    : QDialog(nullptr, Qt::Window),
      core_(core),
      settings_(settings),
      reporter_(reporter),
      services_(services) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Tavra PDF Signer"));
  CreateActions();
  CreateWidgets();
  CreateMenu();
  resize(sizeHint().expandedTo(QSize(560, 0)));
  CenterOnScreen(this);
  edSignedPDF->setFocus();

  try {
    LoadSettings();
  } catch (const std::exception& e) {
    // Shown once the event loop runs; the defaults stay in the fields.
    deferred_error_ = e.what();
  }
  UpdateActions();
  // Posted in every mode, so that a hidden SHOW run always reaches its end.
  QMetaObject::invokeMethod(this, &TfrmMain::OnStartup, Qt::QueuedConnection);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CreateActions() {
  act_SignDocument = new QAction(QStringLiteral("&Podepsat PDF"), this);
  act_SignDocument->setObjectName(QStringLiteral("act_SignDocument"));
  act_SignBatch = new QAction(QStringLiteral("Podepsat více souborů…"), this);
  act_SignBatch->setObjectName(QStringLiteral("act_SignBatch"));
  act_SelectCert = new QAction(QStringLiteral("&Nastavit certifikát"), this);
  act_SelectCert->setObjectName(QStringLiteral("act_SelectCert"));
  act_SaveSettings = new QAction(QStringLiteral("&Uložit nastavení"), this);
  act_SaveSettings->setObjectName(QStringLiteral("act_SaveSettings"));
  act_Quit = new QAction(QStringLiteral("&Konec"), this);
  act_Quit->setObjectName(QStringLiteral("act_Quit"));
  act_help = new QAction(QStringLiteral("Nápo&věda"), this);
  act_help->setObjectName(QStringLiteral("act_help"));
  act_About = new QAction(QStringLiteral("O programu"), this);
  act_About->setObjectName(QStringLiteral("act_About"));

  connect(act_SignDocument, &QAction::triggered, this, &TfrmMain::SignDocumentClick);
  connect(act_SignBatch, &QAction::triggered, this, &TfrmMain::SignBatchClick);
  connect(act_SelectCert, &QAction::triggered, this, &TfrmMain::SelectCertClick);
  connect(act_SaveSettings, &QAction::triggered, this, &TfrmMain::SaveSettingsClick);
  connect(act_Quit, &QAction::triggered, this, &QWidget::close);
  connect(act_help, &QAction::triggered, this, &TfrmMain::HelpClick);
  connect(act_About, &QAction::triggered, this, &TfrmMain::AboutClick);
}

void TfrmMain::CreateWidgets() {
  Label6 = MakeLabel(this, "Label6", QStringLiteral("Výběr souborů pro podpis"), true);
  edSignedPDF = MakeEdit(this, "edSignedPDF");
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setText(QStringLiteral("Pr&ocházet..."));
  edTargetPDF = MakeEdit(this, "edTargetPDF");
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
  SpeedButton2->setText(QStringLiteral("P&rocházet..."));
  for (QToolButton* flat : {SpeedButton1, SpeedButton2}) {
    flat->setAutoRaise(true);
    flat->setFocusPolicy(Qt::NoFocus);  // flat buttons take no focus
  }

  Label7 = MakeLabel(this, "Label7", QStringLiteral("Nastavení"), true);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("Podpisový certifikát"), true);
  btnSelCert = new QPushButton(this);
  btnSelCert->setObjectName(QStringLiteral("btnSelCert"));
  BindButton(btnSelCert, act_SelectCert, QStringLiteral("&Vybrat certifikát"));
  // Alt+V belongs to the "Nápo&věda" menu, as on Windows where the menu wins.
  btnSelCert->setShortcut(QKeySequence());
  edCertIssuerName = MakeEdit(this, "edCertIssuerName");
  edCertSerialNumber = MakeEdit(this, "edCertSerialNumber");
  edCertCommonName = MakeEdit(this, "edCertCommonName");

  Label3 = MakeLabel(this, "Label3", QStringLiteral("Rozšířené vlastnosti podpisu"), true);
  edSigReason = new QComboBox(this);
  edSigReason->setObjectName(QStringLiteral("edSigReason"));
  edSigReason->setEditable(true);
  edSigReason->setInsertPolicy(QComboBox::NoInsert);
  edSigReason->addItems(PresetReasons());
  edSigReason->setCurrentIndex(-1);
  edSigReason->setEditText(QString());
  cbSignatureType = new QComboBox(this);
  cbSignatureType->setObjectName(QStringLiteral("cbSignatureType"));
  cbSignatureType->addItems(SignatureTypeNames());
  cbLevel = new QComboBox(this);
  cbLevel->setObjectName(QStringLiteral("cbLevel"));
  for (const char* name : kLevelNames) cbLevel->addItem(QString::fromUtf8(name));
  edTSA = MakeEdit(this, "edTSA");

  btnSignIt = new QPushButton(this);
  btnSignIt->setObjectName(QStringLiteral("btnSignIt"));
  BindButton(btnSignIt, act_SignDocument);
  btnSignIt->setDefault(true);
  btnSaveSettings = new QPushButton(this);
  btnSaveSettings->setObjectName(QStringLiteral("btnSaveSettings"));
  BindButton(btnSaveSettings, act_SaveSettings);
  btnClose = new QPushButton(this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  BindButton(btnClose, act_Quit, QStringLiteral("&Zavřít"));

  connect(SpeedButton1, &QToolButton::clicked, this, &TfrmMain::BrowseInputClick);
  connect(SpeedButton2, &QToolButton::clicked, this, &TfrmMain::BrowseOutputClick);
  for (QLineEdit* edit : {edSignedPDF, edTargetPDF, edCertIssuerName, edCertSerialNumber}) {
    connect(edit, &QLineEdit::textChanged, this, &TfrmMain::UpdateActions);
  }

  auto* grid = new QGridLayout;
  int row = 0;
  grid->addWidget(Label6, row++, 0, 1, 3);
  auto addField = [&](const char* name, const QString& caption, QWidget* field,
                      QWidget* extra = nullptr) {
    QLabel* label = MakeLabel(this, name, caption, false);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1, 1, extra != nullptr ? 1 : 2);
    if (extra != nullptr) grid->addWidget(extra, row, 2);
    ++row;
  };
  addField("lblSignedPDF", QStringLiteral("Nepodepsané PDF"), edSignedPDF, SpeedButton1);
  addField("lblTargetPDF", QStringLiteral("Výstupní soubor "), edTargetPDF, SpeedButton2);
  grid->addWidget(Label7, row++, 0, 1, 3);
  grid->addWidget(Label2, row, 0);
  grid->addWidget(btnSelCert, row++, 1, Qt::AlignLeft);
  addField("lblCertIssuerName", QStringLiteral("Vydavatel "), edCertIssuerName);
  addField("lblCertSerialNumber", QStringLiteral("Sériové číslo "), edCertSerialNumber);
  addField("lblCertCommonName", QStringLiteral("Vydáno pro "), edCertCommonName);
  grid->addWidget(Label3, row++, 0, 1, 3);
  addField("lblSigReason", QStringLiteral("Důvod podpisu"), edSigReason);
  addField("lblSignatureType", QStringLiteral("Typ podpisu"), cbSignatureType);
  addField("lblLevel", QStringLiteral("Úroveň podpisu"), cbLevel);
  addField("lblTSA", QStringLiteral("Časové razítko (URL)"), edTSA);
  gbAppearance = new TAppearanceBox(services_.FileDialogs, this);
  grid->addWidget(gbAppearance, row++, 0, 1, 3);
  auto showAppearance = [this] {
    gbAppearance->setVisible(SignatureKindOfSigType(cbSignatureType->currentIndex()) !=
                             TSignatureKind::skInvisible);
  };
  showAppearance();
  connect(cbSignatureType, &QComboBox::currentIndexChanged, this, showAppearance);
  connect(edSignedPDF, &QLineEdit::textChanged, gbAppearance, &TAppearanceBox::SetDocument);
  grid->setColumnStretch(1, 1);

  SignProgress = new QProgressBar(this);
  SignProgress->setObjectName(QStringLiteral("SignProgress"));
  SignProgress->setRange(0, 100);
  SignProgress->setVisible(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnSignIt);
  buttons->addWidget(btnSaveSettings);
  buttons->addStretch();
  buttons->addWidget(btnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch();
  layout->addWidget(SignProgress);
  layout->addLayout(buttons);
}

void TfrmMain::CreateMenu() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  mnuAction = MainMenu1->addMenu(QStringLiteral("&Akce"));
  mnuAction->addAction(act_SignDocument);
  mnuAction->addAction(act_SignBatch);
  mnuAction->addAction(act_SelectCert);
  mnuAction->addAction(act_SaveSettings);
  mnuAction->addSeparator();
  mnuAction->addAction(act_Quit);
  mnuHelp = MainMenu1->addMenu(QStringLiteral("Nápo&věda"));
  mnuHelp->addAction(act_help);
  mnuHelp->addAction(act_About);
  layout()->setMenuBar(MainMenu1);
}

TSignerForm TfrmMain::FormState() const {
  TSignerForm form;
  form.SignedPDF = ToStd(edSignedPDF->text());
  form.TargetPDF = ToStd(edTargetPDF->text());
  form.CertIssuerName = ToStd(edCertIssuerName->text());
  form.CertSerialNumber = ToStd(edCertSerialNumber->text());
  form.CertCommonName = ToStd(edCertCommonName->text());
  form.SigReason = ToStd(edSigReason->currentText());
  form.SignatureTypeIndex = cbSignatureType->currentIndex();
  gbAppearance->GetPlacement(form.SigPage, form.SigRect, form.SigField);
  form.ImageFile = gbAppearance->ImageFile();
  form.FontFile = hidden_.FontFile;
  form.LevelIndex = cbLevel->currentIndex();
  form.TSA = ToStd(edTSA->text());
  form.UsePSS = hidden_.UsePSS;
  form.TSAUser = hidden_.TSAUser;
  return form;
}

void TfrmMain::SetFormState(const TSignerForm& form) {
  edSignedPDF->setText(FromStd(form.SignedPDF));
  edTargetPDF->setText(FromStd(form.TargetPDF));
  edCertIssuerName->setText(FromStd(form.CertIssuerName));
  edCertSerialNumber->setText(FromStd(form.CertSerialNumber));
  edCertCommonName->setText(FromStd(form.CertCommonName));
  edSigReason->setEditText(FromStd(form.SigReason));
  cbSignatureType->setCurrentIndex(form.SignatureTypeIndex >= 0 &&
                                           form.SignatureTypeIndex < cbSignatureType->count()
                                       ? form.SignatureTypeIndex
                                       : -1);
  gbAppearance->SetPlacement(form.SigPage, form.SigRect, form.SigField);
  gbAppearance->SetImageFile(form.ImageFile);
  hidden_.FontFile = form.FontFile;
  cbLevel->setCurrentIndex(
      form.LevelIndex >= 0 && form.LevelIndex < cbLevel->count() ? form.LevelIndex : -1);
  edTSA->setText(FromStd(form.TSA));
  hidden_.UsePSS = form.UsePSS;
  hidden_.TSAUser = form.TSAUser;
  UpdateActions();
}

void TfrmMain::LoadSettings() {
  TSignerForm form = FormState();
  TSignerCore::LoadSettings(settings_, form);
  SetFormState(form);
}

void TfrmMain::SaveSettings() {
  TPdfSignerOptions options;
  FormToOptions(FormState(), options);
  settings_.Write(options);
}

void TfrmMain::UpdateActions() { act_SignDocument->setEnabled(SignActionEnabled(FormState())); }

void TfrmMain::OnStartup() {
  RunGuarded(reporter_, [this] {
    if (!deferred_error_.empty()) {
      const std::string error = std::move(deferred_error_);
      deferred_error_.clear();
      reporter_.ShowApplicationError(error);
    }
    TSignerForm form = FormState();
    switch (core_.HandleStartup(form)) {
      case TStartupAction::saNone:
        break;
      case TStartupAction::saFillPaths:
        SetFormState(form);
        break;
      case TStartupAction::saOpenAndQuit:
        services_.ShellOpener->OpenFile(core_.CommandLine().CmdLinePath);
        EndApplication(core_.ExitStatus());
        break;
    }
  });
}

// Shows the document's progress while one run signs. The window keeps
// painting (events are processed from the callback), but takes no input, so
// nothing can start a second run inside the first.
class TfrmMain::TSignProgressScope {
 public:
  explicit TSignProgressScope(TfrmMain& window) : window_(window) {
    window_.SignProgress->setValue(0);
    window_.SignProgress->setVisible(true);
    window_.core_.Toolkit().SetProgressHandler([this](int percent) {
      window_.SignProgress->setValue(percent);
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    // Validation data is fetched after the document is saved: the bar says whose.
    window_.core_.SetProgressLineHandler([this](const std::string& line) {
      window_.SignProgress->setFormat(QString::fromStdString(line));
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
  }
  ~TSignProgressScope() {
    window_.core_.SetProgressLineHandler(nullptr);
    window_.SignProgress->resetFormat();
    window_.core_.Toolkit().SetProgressHandler(nullptr);
    window_.SignProgress->setVisible(false);
  }
  TSignProgressScope(const TSignProgressScope&) = delete;
  TSignProgressScope& operator=(const TSignProgressScope&) = delete;

 private:
  TfrmMain& window_;
};

void TfrmMain::SignDocumentClick() {
  RunGuarded(reporter_, [this] {
    if (!act_SignDocument->isEnabled()) return;
    bool end = false;
    {
      TSigningRequest request = SigningRequestOf(FormState());
      if (!AskTimestampPassword(request.Timestamp, services_.PasswordPrompt)) return;
      // A protected store or token asks for its password while this run signs.
      TPasswordPromptScope prompt(services_.PasswordPrompt);
      TSignProgressScope progress(*this);
      end = core_.SignAction(request);
    }
    if (end) EndApplication(core_.ExitStatus());
  });
}

// Many files into one folder with the window's settings: one at a time on
// this thread (the password dialog and the progress bar live here), a line
// per failure in the summary.
void TfrmMain::SignBatchClick() {
  RunGuarded(reporter_, [this] {
    QStringList files;
    if (!services_.FileDialogs->OpenFileNames(this, files)) return;
    QString folder;
    if (!services_.FileDialogs->ExistingFolder(this, folder)) return;
    TSigningRequest request = SigningRequestOf(FormState());
    if (!AskTimestampPassword(request.Timestamp, services_.PasswordPrompt)) return;
    if (TrimText(request.CertIssuer).empty()) throw ESignerError(kMsgNoIssuer);
    if (TrimText(request.CertSerial).empty()) throw ESignerError(kMsgNoSerial);
    TBatchOptions options;
    options.OutputDir = ToStd(folder);
    options.Jobs = 1;
    if (const std::optional<std::string> problem = CheckBatchOptions(options))
      throw ESignerError(*problem);
    std::vector<std::string> inputs;
    for (const QString& file : files) inputs.push_back(ToStd(file));

    TBatchSigner batch([this] { return BorrowedToolkit(core_.Toolkit()); });
    std::vector<TBatchFileResult> results;
    {
      std::optional<TOncePasswordPrompt> once;
      if (services_.PasswordPrompt != nullptr)
        once.emplace(*services_.PasswordPrompt, [&batch] { batch.RequestStop(); });
      TPasswordPromptScope prompt(once ? &*once : nullptr);
      SignProgress->setRange(0, static_cast<int>(inputs.size()));
      SignProgress->setValue(0);
      SignProgress->setVisible(true);
      const corvane::TCvScopeExit hide([this] {
        SignProgress->setVisible(false);
        SignProgress->setRange(0, 100);
      });
      batch.SetOnFileDone([this](const TBatchFileResult&, const TBatchProgress& progress) {
        SignProgress->setValue(static_cast<int>(progress.Done));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      });
      results = batch.Run(request, inputs, options);
    }
    bool all = true;
    for (const TBatchFileResult& result : results) all = all && result.Signed;
    if (all)
      reporter_.ShowWorkflowInformation(BatchSummaryText(results));
    else
      reporter_.ShowWorkflowError(BatchSummaryText(results));
  });
}

void TfrmMain::SelectCertClick() {
  RunGuarded(reporter_, [this] {
    const std::unique_ptr<ISignerCertificate> chosen =
        services_.CertificateSelector->SelectCertificate(this, ToStd(edCertIssuerName->text()),
                                                         ToStd(edCertSerialNumber->text()));
    if (!chosen) return;
    TSignerForm form = FormState();
    CertificateToForm(*chosen, form);
    SetFormState(form);
  });
}

void TfrmMain::SaveSettingsClick() {
  RunGuarded(reporter_, [this] { core_.SaveSettingsAction(settings_, FormState()); });
}

void TfrmMain::HelpClick() {
  RunGuarded(reporter_, [this] {
    // Without owner, modal, kept for the next time.
    if (!help_) help_ = std::make_unique<TFormHelp>(nullptr);
    help_->exec();
  });
}

void TfrmMain::AboutClick() {
  RunGuarded(reporter_, [this] {
    if (!about_) {
      about_ =
          std::make_unique<TFormAbout>(nullptr, services_.HandlerDetector, services_.ShellOpener);
    }
    about_->exec();
  });
}

void TfrmMain::BrowseInputClick() {
  RunGuarded(reporter_, [this] {
    QString name;
    const QString start = FromStd(OpenDialogStartFolder(ToStd(edSignedPDF->text())));
    if (services_.FileDialogs->OpenFileName(this, start, name)) edSignedPDF->setText(name);
  });
}

void TfrmMain::BrowseOutputClick() {
  RunGuarded(reporter_, [this] {
    QString name;
    const QString start = FromStd(SaveDialogStartFolder(ToStd(edTargetPDF->text())));
    if (services_.FileDialogs->SaveFileName(this, start, name)) edTargetPDF->setText(name);
  });
}

void TfrmMain::EndApplication(int exitStatus) {
  if (ending_) return;
  ending_ = true;
  emit applicationEndRequested(exitStatus);
}

void TfrmMain::keyPressEvent(QKeyEvent* event) {
  // A main window does not close on Esc (no button is the cancel button).
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  LogForTests(QStringLiteral("window"), windowTitle(), QStringLiteral("shown"));
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
  // Closing ends the program without asking and without saving settings.
  if (event->isAccepted()) EndApplication(core_.ExitStatus());
}

}  // namespace tavra
