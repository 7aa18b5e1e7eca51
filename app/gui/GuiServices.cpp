#include "app/gui/GuiServices.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "app/core/LowStuff.h"
#include "app/gui/PasswordDlg.h"
#include "app/gui/SelCertDlg.h"
#include "app/gui/ShowCertDlg.h"

namespace tavra {

namespace {

constexpr char kMessageLogVariable[] = "TAVRA_TEST_MESSAGE_LOG";

const char* KindName(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::mkError:
      return "error";
    case TMessageKind::mkInformation:
      return "information";
    case TMessageKind::mkPlain:
      break;
  }
  return "plain";
}

QString QtFilter(const QString& filter) { return DialogFilterNames(filter).join(";;"); }

bool RunFileDialog(QWidget* parent, const QString& startFolder, QString& fileName, bool save,
                   const char* filter = kPdfDialogFilter) {
  QFileDialog dialog(parent, QString(), startFolder, QtFilter(QString::fromUtf8(filter)));
  // Qt's own dialog: its filters match "*.pdf" ignoring case, as users expect.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().constFirst();
  return true;
}

}  // namespace

void LogForTests(const QString& kind, const QString& caption, const QString& text) {
  const char* logPath = std::getenv(kMessageLogVariable);
  if (logPath == nullptr || *logPath == '\0') return;
  QFile log(QString::fromLocal8Bit(logPath));
  if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  QString line = kind + '\t' + caption + '\t' + text;
  line.replace('\n', QStringLiteral("\\n"));
  log.write(line.toUtf8() + '\n');
}

QString FromStd(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }

void TQtMessageBoxes::Show(TMessageKind kind, const QString& caption, const QString& text) {
  QMessageBox box;
  box.setWindowTitle(caption);
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setIcon(kind == TMessageKind::mkError         ? QMessageBox::Critical
              : kind == TMessageKind::mkInformation ? QMessageBox::Information
                                                    : QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  if (const char* logPath = std::getenv(kMessageLogVariable); logPath != nullptr && *logPath) {
    LogForTests(QString::fromLatin1(KindName(kind)), caption, text);
    // Shown for real, then dismissed by the event loop it runs.
    QTimer::singleShot(0, &box, &QMessageBox::accept);
  }
  box.exec();
}

QStringList DialogFilterNames(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList names;
  for (qsizetype i = 0; i < parts.size(); i += 2) names << parts[i];
  return names;
}

bool TQtFileDialogs::OpenFileName(QWidget* parent, const QString& startFolder, QString& fileName) {
  return RunFileDialog(parent, startFolder, fileName, false);
}

bool TQtFileDialogs::SaveFileName(QWidget* parent, const QString& startFolder, QString& fileName) {
  return RunFileDialog(parent, startFolder, fileName, true);
}

bool TQtFileDialogs::OpenFileNames(QWidget* parent, QStringList& fileNames) {
  QFileDialog dialog(parent, QString(), QString(), QtFilter(QString::fromUtf8(kPdfDialogFilter)));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  if (dialog.exec() != QDialog::Accepted) return false;
  fileNames = dialog.selectedFiles();
  return !fileNames.isEmpty();
}

bool TQtFileDialogs::ExistingFolder(QWidget* parent, QString& folder) {
  const QString chosen = QFileDialog::getExistingDirectory(parent);
  if (chosen.isEmpty()) return false;
  folder = chosen;
  return true;
}

bool TQtFileDialogs::OpenImageFileName(QWidget* parent, const QString& startFolder,
                                       QString& fileName) {
  return RunFileDialog(parent, startFolder, fileName, false, kImageDialogFilter);
}

void TXdgShellOpener::OpenFile(const std::string& path) { ShellOpenFile(path); }

void TXdgShellOpener::OpenUrl(const std::string& url) { ShellOpen(url); }

TDefaultGuiServices::TDefaultGuiServices()
    : viewer_(std::make_unique<TLinkedCertificateViewer>()),
      certificate_selector_(std::make_unique<TDialogCertificateSelector>(message_boxes_, *viewer_)),
      password_prompt_(std::make_unique<TQtPasswordPrompt>()) {
  services_.MessageBoxes = &message_boxes_;
  services_.FileDialogs = &file_dialogs_;
  services_.CertificateSelector = certificate_selector_.get();
  services_.PasswordPrompt = password_prompt_.get();
  services_.ShellOpener = &shell_opener_;
  services_.HandlerDetector = &handler_detector_;
}

TDefaultGuiServices::~TDefaultGuiServices() = default;

void TGuiReporter::ShowApplicationError(const std::string& text) {
  boxes_.Show(TMessageKind::mkError, FromStd(title_), FromStd(ApplicationErrorText(text)));
}

void TGuiReporter::ShowWorkflowError(const std::string& text) {
  boxes_.Show(TMessageKind::mkError, QStringLiteral("Error"), FromStd(text));
}

void TGuiReporter::ShowWorkflowInformation(const std::string& text) {
  boxes_.Show(TMessageKind::mkInformation, QStringLiteral("Information"), FromStd(text));
}

void TGuiReporter::ShowStartupError(const std::string& text) {
  boxes_.Show(TMessageKind::mkError, QStringLiteral("Error"), FromStd(text));
}

void TGuiReporter::ShowPlainMessage(const std::string& text) {
  boxes_.Show(TMessageKind::mkPlain, FromStd(title_), FromStd(text));
}

}  // namespace tavra
