// The program's arguments as UTF-8 text.
#pragma once

#include <string>
#include <vector>

namespace platform {

// argv as delivered where the system hands UTF-8 already; on Windows the
// process command line read as UTF-16 and converted, so that names outside
// the ANSI code page survive.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace platform
