// tavrapdf: the command-line tool over the PDF toolkit.
#include <exception>
#include <iostream>
#include <string>

#include "cli/InfoCommand.h"

namespace {

constexpr const char* kHelp =
    "Usage: tavrapdf COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  info FILE.pdf   Print what the file holds: the PDF version, the number of\n"
    "                  revisions (incremental updates count one each), the number\n"
    "                  of objects, the number of pages, whether the cross-reference\n"
    "                  information had to be rebuilt by scanning the file (and why),\n"
    "                  every repair made while reading (with its file offset),\n"
    "                  whether the file is encrypted (with its /Filter), and every\n"
    "                  signature field with its name and, when it is signed, the\n"
    "                  /Filter, /SubFilter, /M (signing time) and /ByteRange of its\n"
    "                  signature.\n"
    "  --help, -h      Show this text.\n"
    "\n"
    "The file is read through a temporary copy in $TMPDIR (else /tmp) and is never\n"
    "changed.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed (the reason is printed\n"
    "on standard error); 2 for a usage error.\n";

int UsageError(const std::string& message) {
  std::cerr << "tavrapdf: " << message << "\n"
            << "Try 'tavrapdf --help'.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageError("missing command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    if (argc > 2) return UsageError("--help takes no arguments");
    std::cout << kHelp;
    return 0;
  }
  if (command == "info") {
    if (argc != 3) return UsageError("info needs exactly one FILE.pdf");
    try {
      tavra::PrintInfo(argv[2], std::cout);
      std::cout.flush();
      return std::cout ? 0 : 1;
    } catch (const std::exception& e) {
      std::cerr << "tavrapdf: " << argv[2] << ": " << e.what() << "\n";
      return 1;
    }
  }
  return UsageError("unknown command '" + command + "'");
}
