#include "app/gui/SignerApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/core/CertificateDatabase.h"
#include "app/core/SignerCore.h"
#include "app/core/SignerReporter.h"
#include "app/core/ToolkitBinding.h"
#include "app/gui/GuiServices.h"
#include "app/gui/Main.h"
#include "platform/PlatformFiles.h"

namespace tavra {

std::unique_ptr<ISignerToolkit> MakeDefaultToolkit() {
  // The settings key "nssdb", else what discovery finds; the places passed
  // over are of no interest here.
  std::vector<std::string> passedOver;
  UseCertificateDatabase(passedOver);
  return std::make_unique<TToolkitBinding>();
}

void InstallCzechTranslations(QApplication& app) {
  auto* translator = new QTranslator(&app);
  if (translator->load(QLocale(QLocale::Czech), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(translator);
  } else {
    delete translator;
  }
}

int RunSignerApplication(QApplication& app, const std::vector<std::string>& args,
                         const TGuiServices& services, ISignerSettings& settings,
                         const TToolkitFactory& makeToolkit) {
  std::string exe = platform::ExecutablePath();
  if (exe.empty() && !args.empty()) exe = args[0];
  TGuiReporter reporter(*services.MessageBoxes, ApplicationTitle(exe));

  const TCommandLine command_line = ReadCommandLine(args);
  if (!CheckStartupPath(command_line, reporter)) return 0;

  std::unique_ptr<ISignerToolkit> toolkit;
  std::unique_ptr<TSignerCore> core;
  std::unique_ptr<TfrmMain> window;
  bool created = false;
  RunGuarded(reporter, [&] {
    toolkit = makeToolkit();
    core = std::make_unique<TSignerCore>(*toolkit, reporter, command_line);
    window = std::make_unique<TfrmMain>(*core, settings, reporter, services);
    created = true;
  });
  if (!created) return 1;

  app.setQuitOnLastWindowClosed(false);
  QObject::connect(window.get(), &TfrmMain::applicationEndRequested, &app,
                   [&app](int status) { app.exit(status); });
  // SHOW mode never shows the window.
  if (!(command_line.CmdLineActive && !command_line.CmdLineSignMode)) window->show();
  return app.exec();
}

}  // namespace tavra
