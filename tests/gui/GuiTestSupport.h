// Headless set-up of the window tests: one QApplication on the offscreen
// platform, and recording fakes for everything the windows reach the user or
// the desktop through.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QObject>
#include <QString>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/core/SignerSettings.h"
#include "app/gui/GuiServices.h"
#include "tests/app/AppTestSupport.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace tavra_test {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "test_gui";
  static char* argv[] = {name, nullptr};
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);  // lives as long as the process
  return *app;
}

// Input as the user would give it, through the application's event delivery
// (ignored key events travel up to the window, as real ones do).
inline void KeyClick(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(widget, &release);
}

inline void MouseClick(QWidget* widget) {
  const QPointF pos = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(pos);
  QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

inline bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Records the exit statuses a window asks the application to end with.
class EndRecorder {
 public:
  template <typename Window>
  explicit EndRecorder(Window* window) {
    QObject::connect(window, &Window::applicationEndRequested,
                     [this](int status) { statuses.push_back(status); });
  }
  std::vector<int> statuses;
};

struct Box {
  tavra::TMessageKind kind;
  QString caption;
  QString text;
};

class RecordingBoxes final : public tavra::IMessageBoxes {
 public:
  std::vector<Box> boxes;
  void Show(tavra::TMessageKind kind, const QString& caption, const QString& text) override {
    boxes.push_back({kind, caption, text});
  }
};

class FakeDialogs final : public tavra::IFileDialogs {
 public:
  QString open_result, save_result;  // empty: the user cancels
  std::vector<QString> open_starts, save_starts;
  bool OpenFileName(QWidget*, const QString& start, QString& name) override {
    open_starts.push_back(start);
    if (open_result.isEmpty()) return false;
    name = open_result;
    return true;
  }
  bool SaveFileName(QWidget*, const QString& start, QString& name) override {
    save_starts.push_back(start);
    if (save_result.isEmpty()) return false;
    name = save_result;
    return true;
  }
  QStringList open_files;  // empty: the user cancels
  QString folder_result;
  bool OpenFileNames(QWidget*, QStringList& names) override {
    names = open_files;
    return !open_files.isEmpty();
  }
  bool ExistingFolder(QWidget*, QString& folder) override {
    folder = folder_result;
    return !folder_result.isEmpty();
  }
  QString image_result;  // empty: the user cancels
  std::vector<QString> image_starts;
  bool OpenImageFileName(QWidget*, const QString& start, QString& name) override {
    image_starts.push_back(start);
    if (image_result.isEmpty()) return false;
    name = image_result;
    return true;
  }
};

class FakeSelector final : public tavra::ICertificateSelector {
 public:
  bool choose = false;
  std::vector<std::pair<std::string, std::string>> asked;  // issuer, serial texts
  std::unique_ptr<tavra::ISignerCertificate> SelectCertificate(QWidget*, const std::string& issuer,
                                                               const std::string& serial) override {
    asked.emplace_back(issuer, serial);
    if (!choose) return nullptr;
    return std::make_unique<FakeCertificate>("Vydavatel CA", std::string("\x9A\x01", 2),
                                             "Jan Novák");
  }
};

class RecordingOpener final : public tavra::IShellOpener {
 public:
  std::vector<std::string> files, urls;
  void OpenFile(const std::string& path) override { files.push_back(path); }
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
};

class FakeDetector final : public tavra::IHandlerDetector {
 public:
  bool web = false, mail = false;
  bool WebLinksOpenable() override { return web; }
  bool MailLinksOpenable() override { return mail; }
};

class MemorySettings final : public tavra::ISignerSettings {
 public:
  tavra::TPdfSignerOptions stored;
  std::string read_error, write_error;
  int writes = 0;
  void Read(tavra::TPdfSignerOptions& options) override {
    if (!read_error.empty()) throw std::runtime_error(read_error);
    options = stored;
  }
  void Write(const tavra::TPdfSignerOptions& options) override {
    if (!write_error.empty()) throw std::runtime_error(write_error);
    stored = options;
    ++writes;
  }
};

struct FakeServices {
  RecordingBoxes boxes;
  FakeDialogs dialogs;
  FakeSelector selector;
  RecordingOpener opener;
  FakeDetector detector;
  tavra::TGuiServices Services() {
    tavra::TGuiServices s;
    s.MessageBoxes = &boxes;
    s.FileDialogs = &dialogs;
    s.CertificateSelector = &selector;
    s.ShellOpener = &opener;
    s.HandlerDetector = &detector;
    return s;
  }
};

}  // namespace tavra_test
