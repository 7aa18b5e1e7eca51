// Everything through which the windows reach the user or the desktop: message
// boxes, file dialogs, the certificate dialog, the opener of files and links,
// the detection of link handlers and the password prompt of the key store. The windows take these
// as interfaces so that tests can drive them headless with recording fakes.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "app/core/SignerReporter.h"
#include "app/core/SignerToolkit.h"
#include "app/core/XdgHandlers.h"

class QWidget;

namespace platform {
class KeyStorePasswordPrompt;
}

namespace tavra {

class ICertificateViewer;

enum class TMessageKind { mkError, mkInformation, mkPlain };

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // A modal box with an OK button and plain text.
  virtual void Show(TMessageKind kind, const QString& caption, const QString& text) = 0;
};

// QMessageBox. With TAVRA_TEST_MESSAGE_LOG set, each box is also appended to
// that file as "<kind>\t<caption>\t<text>" and dismissed as soon as it shows.
class TQtMessageBoxes final : public IMessageBoxes {
 public:
  void Show(TMessageKind kind, const QString& caption, const QString& text) override;
};

// With TAVRA_TEST_MESSAGE_LOG set, appends "<kind>\t<caption>\t<text>" to that
// file (line breaks written as "\n"); process-level tests read it.
void LogForTests(const QString& kind, const QString& caption, const QString& text);

// The filter of the open and save dialogs, as the user sees it.
inline constexpr char kPdfDialogFilter[] = "PDF dokument (*.pdf)|*.pdf|Všechny soubory (*.*)|*.*";
// The filter of the picture dialog of a visible signature.
inline constexpr char kImageDialogFilter[] = "Obrázky (*.png *.jpg *.jpeg)|*.png;*.jpg;*.jpeg";
// "name|pattern|name|pattern" -> the names, one per filter.
QStringList DialogFilterNames(const QString& filter);

class IFileDialogs {
 public:
  virtual ~IFileDialogs() = default;
  // True when the user confirmed; fileName then holds the choice. An empty
  // start folder means the dialog's default.
  virtual bool OpenFileName(QWidget* parent, const QString& startFolder, QString& fileName) = 0;
  // Never asks before overwriting.
  virtual bool SaveFileName(QWidget* parent, const QString& startFolder, QString& fileName) = 0;
  // Several existing files at once.
  virtual bool OpenFileNames(QWidget* parent, QStringList& fileNames) {
    (void)parent;
    (void)fileNames;
    return false;
  }
  // An existing folder.
  virtual bool ExistingFolder(QWidget* parent, QString& folder) {
    (void)parent;
    (void)folder;
    return false;
  }
  // An existing picture (kImageDialogFilter).
  virtual bool OpenImageFileName(QWidget* parent, const QString& startFolder, QString& fileName) {
    (void)parent;
    (void)startFolder;
    (void)fileName;
    return false;
  }
};

class TQtFileDialogs final : public IFileDialogs {
 public:
  bool OpenFileName(QWidget* parent, const QString& startFolder, QString& fileName) override;
  bool SaveFileName(QWidget* parent, const QString& startFolder, QString& fileName) override;
  bool OpenFileNames(QWidget* parent, QStringList& fileNames) override;
  bool ExistingFolder(QWidget* parent, QString& folder) override;
  bool OpenImageFileName(QWidget* parent, const QString& startFolder, QString& fileName) override;
};

// The certificate selection dialog: preselects the certificate with the given
// issuer and serial texts and returns a copy of the chosen one (owned by the
// caller, without its private key), or nullptr when nothing was chosen.
class ICertificateSelector {
 public:
  virtual ~ICertificateSelector() = default;
  virtual std::unique_ptr<ISignerCertificate> SelectCertificate(QWidget* parent,
                                                                const std::string& issuerText,
                                                                const std::string& serialText) = 0;
};

class IShellOpener {
 public:
  virtual ~IShellOpener() = default;
  // A file path (made absolute) or a web/mail address; the result is not checked.
  virtual void OpenFile(const std::string& path) = 0;
  virtual void OpenUrl(const std::string& url) = 0;
};

class TXdgShellOpener final : public IShellOpener {
 public:
  void OpenFile(const std::string& path) override;
  void OpenUrl(const std::string& url) override;
};

// The services of one application run; the pointers are not owned.
struct TGuiServices {
  IMessageBoxes* MessageBoxes = nullptr;
  IFileDialogs* FileDialogs = nullptr;
  ICertificateSelector* CertificateSelector = nullptr;
  IShellOpener* ShellOpener = nullptr;
  IHandlerDetector* HandlerDetector = nullptr;
  // Installed in the key store for the length of each signing run.
  platform::KeyStorePasswordPrompt* PasswordPrompt = nullptr;
};

// The desktop's own services.
class TDefaultGuiServices {
 public:
  TDefaultGuiServices();
  ~TDefaultGuiServices();
  const TGuiServices& Services() const { return services_; }

 private:
  TQtMessageBoxes message_boxes_;
  TQtFileDialogs file_dialogs_;
  std::unique_ptr<ICertificateViewer> viewer_;
  std::unique_ptr<ICertificateSelector> certificate_selector_;
  std::unique_ptr<platform::KeyStorePasswordPrompt> password_prompt_;
  TXdgShellOpener shell_opener_;
  TXdgHandlerDetector handler_detector_;
  TGuiServices services_;
};

// The reporter of the windows: the three ways of reporting as message boxes.
// The application-wide error display is captioned with the title (the
// executable's name without extension) and adds the full stop; the workflow's
// boxes are captioned "Error" and "Information".
class TGuiReporter final : public ISignerReporter {
 public:
  TGuiReporter(IMessageBoxes& boxes, std::string title) : boxes_(boxes), title_(std::move(title)) {}

  void ShowApplicationError(const std::string& text) override;
  void ShowWorkflowError(const std::string& text) override;
  void ShowWorkflowInformation(const std::string& text) override;
  void ShowStartupError(const std::string& text) override;
  void ShowPlainMessage(const std::string& text) override;

  const std::string& Title() const { return title_; }

 private:
  IMessageBoxes& boxes_;
  std::string title_;
};

// The one entry helper of every slot and event handler: runs the body and
// hands any exception to the application-wide error display.
template <typename Body>
void RunGuarded(ISignerReporter& reporter, Body&& body) noexcept {
  try {
    try {
      body();
    } catch (const std::exception& e) {
      reporter.ShowApplicationError(e.what());
    } catch (...) {
      reporter.ShowApplicationError("Unknown error");
    }
  } catch (...) {
    // The display itself failed; nothing is left to tell the user with.
  }
}

QString FromStd(const std::string& text);
std::string ToStd(const QString& text);

}  // namespace tavra
