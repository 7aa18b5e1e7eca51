// tavrapdfsg: the signer's window, or with -SIGN<file> -PUT<file> / -SHOW<file>
// a run driven by another program.
#include <QApplication>
#include <string>
#include <vector>

#include "app/core/CertificateDatabase.h"
#include "app/core/LowStuff.h"
#include "app/core/SignerSettings.h"
#include "app/gui/GuiServices.h"
#include "app/gui/SignerApp.h"
#include "platform/http/CurlHTTPTransport.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: the desktop libraries under Qt keep process-lifetime
// caches that they never free; our own allocations stay checked.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}
#endif

int main(int argc, char* argv[]) {
  // The arguments as delivered, before Qt takes out the ones it knows.
  std::vector<std::string> args(argv, argv + argc);
  tavra::SetProcessArguments(args);
  tavra::InstallKeyStore();
  platform::InstallHTTPTransport();

  QApplication app(argc, argv);
  tavra::InstallCzechTranslations(app);
  tavra::TDefaultGuiServices services;
  tavra::TIniSignerSettings settings;
  return tavra::RunSignerApplication(app, args, services.Services(), settings);
}
