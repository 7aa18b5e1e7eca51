// tavrapdf: the command-line tool over the PDF toolkit.
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CertsCommand.h"
#include "cli/InfoCommand.h"

namespace {

constexpr const char* kHelp =
    "Usage: tavrapdf COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  info FILE.pdf [--password TEXT]\n"
    "                  Print what the file holds: the PDF version, the number of\n"
    "                  revisions (incremental updates count one each), the number\n"
    "                  of objects, the number of pages, whether the cross-reference\n"
    "                  information had to be rebuilt by scanning the file (and why),\n"
    "                  every repair made while reading (with its file offset),\n"
    "                  whether the file is encrypted (with its /Filter, revision,\n"
    "                  key length, crypt filters and permissions), and every\n"
    "                  signature field with its name and, when it is signed, the\n"
    "                  /Filter, /SubFilter, /M (signing time) and /ByteRange of its\n"
    "                  signature.\n"
    "                  An encrypted file is decrypted with TEXT (the user or the\n"
    "                  owner password; without --password the empty one is\n"
    "                  tried); a password that opens nothing is a failure.\n"
    "  certs [--store NAME] [--nssdb DIR]\n"
    "                  List the certificates of a store of the certificate\n"
    "                  database, one line each, in store order: subject common\n"
    "                  name, issuer common name, serial number (hex), valid-to\n"
    "                  date (UTC), can-sign or cannot-sign (whether this program\n"
    "                  can sign with it; EC keys are listed but not used), key or\n"
    "                  no-key (whether the database or one of its tokens holds the\n"
    "                  private key), separated by tabs. NAME is My (the default: certificates\n"
    "                  with a private key), ROOT (trusted authorities) or CA\n"
    "                  (other authorities). DIR is an NSS database folder; without\n"
    "                  it the first of: $TAVRA_NSSDB; ~/.pki/nssdb when it holds a\n"
    "                  certificate with a private key; the default Firefox profile\n"
    "                  (also in its Snap and Flatpak places); the default Thunderbird\n"
    "                  profile; ~/.pki/nssdb. Both cert9.db and the legacy cert8.db\n"
    "                  are read, with the security devices the database registers.\n"
    "                  The database is only read, and no token password is asked.\n"
    "                  The first line on standard error names the database used;\n"
    "                  places passed over follow, one line each.\n"
    "  stores [--nssdb DIR]\n"
    "                  List every certificate database found in the places above,\n"
    "                  one line each: * for the one certs uses (else -), the\n"
    "                  database (sql:DIR or dbm:DIR), where it was found, the number\n"
    "                  of certificates and the number of those with a private key,\n"
    "                  separated by tabs.\n"
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
    std::string path;
    std::optional<std::string> password;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--password" && i + 1 < argc && !password) {
        password = argv[++i];
      } else if (path.empty() && arg.rfind("--", 0) != 0) {
        path = arg;
      } else {
        return UsageError("info needs exactly one FILE.pdf and at most one --password TEXT");
      }
    }
    if (path.empty()) return UsageError("info needs exactly one FILE.pdf");
    try {
      tavra::PrintInfo(path, std::cout, password);
      std::cout.flush();
      return std::cout ? 0 : 1;
    } catch (const std::exception& e) {
      std::cerr << "tavrapdf: " << path << ": " << e.what() << "\n";
      return 1;
    }
  }
  if (command == "certs" || command == "stores") {
    const bool certs = command == "certs";
    std::string store = "My", database;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (((certs && arg == "--store") || arg == "--nssdb") && i + 1 < argc) {
        (arg == "--store" ? store : database) = argv[++i];
      } else {
        return UsageError(certs ? "certs takes --store NAME and --nssdb DIR only"
                                : "stores takes --nssdb DIR only");
      }
    }
    std::vector<std::string> log;
    const platform::NssDatabase chosen = tavra::ChooseCertificateDatabase(database, log);
    // The database comes first; the places passed over follow.
    std::cerr << "tavrapdf: " << tavra::DatabaseLine(chosen) << "\n";
    for (const std::string& line : log) std::cerr << "tavrapdf: " << line << "\n";
    log.clear();
    try {
      if (certs) {
        tavra::PrintCertificates(chosen.Spec, store, std::cout);
      } else {
        tavra::PrintStores(database, chosen, std::cout, log);
        for (const std::string& line : log) std::cerr << "tavrapdf: " << line << "\n";
      }
      std::cout.flush();
      return std::cout ? 0 : 1;
    } catch (const std::exception& e) {
      std::cerr << "tavrapdf: " << e.what() << "\n";
      return 1;
    }
  }
  return UsageError("unknown command '" + command + "'");
}
