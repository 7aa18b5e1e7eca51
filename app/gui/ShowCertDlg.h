// The certificate viewer: an in-app modal window listing what a store
// certificate holds. The selection dialog reaches it through
// ICertificateViewer, looked up by module and function name on first use, so
// that a missing viewer is reported as such instead of crashing.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "app/core/CertificateChoice.h"

class QTreeWidget;

namespace tavra {

class ICertificateViewer {
 public:
  virtual ~ICertificateViewer() = default;
  // Modal; its result is ignored. Raises "modul %s nenalezen" or
  // "funkce %s nenalezena (%s)" when the viewer cannot be found.
  virtual void ViewCertificate(QWidget* owner, const QString& title,
                               uint64_t certContextHandle) = 0;
};

using TViewCertificateFunction = void (*)(QWidget* owner, const QString& title,
                                          uint64_t certContextHandle);

// The viewer built into the program.
inline constexpr char kViewerModule[] = "tavra-certview";
inline constexpr char kViewerFunction[] = "ViewCertificate";

// The function of a module of the program's own viewers, or nullptr; raises
// "modul %s nenalezen" when there is no such module.
TViewCertificateFunction FindViewerFunction(const std::string& module, const std::string& function);

// Looks the function up on first use and keeps it for the rest of the run.
class TLinkedCertificateViewer final : public ICertificateViewer {
 public:
  TLinkedCertificateViewer(std::string module = kViewerModule,
                           std::string function = kViewerFunction)
      : module_(std::move(module)), function_(std::move(function)) {}
  void ViewCertificate(QWidget* owner, const QString& title, uint64_t certContextHandle) override;

 private:
  std::string module_;
  std::string function_;
  TViewCertificateFunction resolved_ = nullptr;
};

class TShowCertDialog : public QDialog {
  Q_OBJECT

 public:
  TShowCertDialog(const TCertificateDescription& description, const QString& title, QWidget* owner);

  // The text of the first field with this caption; empty when absent.
  QString FieldText(const QString& caption) const;

  QTreeWidget* FieldList;
};

}  // namespace tavra
