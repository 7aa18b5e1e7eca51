// The program run of tavrapdfsg: command line, start-up check, the toolkit,
// the main window and the event loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QApplication;

namespace tavra {

class ISignerSettings;
class ISignerToolkit;
struct TGuiServices;

using TToolkitFactory = std::function<std::unique_ptr<ISignerToolkit>()>;

// The real toolkit over the certificate database the settings name or
// discovery finds.
std::unique_ptr<ISignerToolkit> MakeDefaultToolkit();

// Runs the program on args (argv[0] first, as the system delivered them) and
// returns the exit status: 0, or in sign mode 1 when the file was not signed;
// 1 when the main window cannot be created. A SIGN or SHOW file that does not
// exist ends the program with status 0 before any window is created.
int RunSignerApplication(QApplication& app, const std::vector<std::string>& args,
                         const TGuiServices& services, ISignerSettings& settings,
                         const TToolkitFactory& makeToolkit = MakeDefaultToolkit);

// Loads Qt's Czech translations so that standard dialogs speak Czech.
void InstallCzechTranslations(QApplication& app);

}  // namespace tavra
