// tavrapdf: the command-line tool over the PDF toolkit.
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/core/CertificateDatabase.h"
#include "cli/CertsCommand.h"
#include "cli/InfoCommand.h"
#include "cli/LtvCommand.h"
#include "cli/SignCommand.h"
#include "cli/VerifyCommand.h"
#include "platform/PlatformText.h"
#include "platform/http/CurlHTTPTransport.h"

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
    "                  can sign with it: an RSA or EC key it can use), key or\n"
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
    "  sign INPUT OUTPUT [--issuer TEXT] [--serial HEX] [--reason TEXT]\n"
    "       [--type invisible|visible|certify] [--nssdb DIR] [--pss]\n"
    "       [--page N|last] [--rect X1,Y1,X2,Y2] [--field NAME]\n"
    "       [--level B-B|B-T|B-LT|B-LTA] [--tsa URL] [--tsa-user NAME]\n"
    "       [--tsa-policy OID] [--digest sha256|sha384|sha512]\n"
    "                  Sign INPUT with the certificate of the My store whose issuer\n"
    "                  common name is TEXT and whose serial number is HEX, as the\n"
    "                  signer window does, and write the signed copy to OUTPUT:\n"
    "                  an incremental update with a detached PKCS#7 signature\n"
    "                  (SHA-256). Options that are not given come from the signer\n"
    "                  window's settings file (tavrapdfsg.ini) when one sits beside\n"
    "                  this program; the type defaults to invisible. DIR is chosen\n"
    "                  as for certs. A token or database password is taken from\n"
    "                  $TAVRA_PIN, else asked on the terminal. The messages of the\n"
    "                  signer window go to standard error. The signed copy is\n"
    "                  made as a hidden file beside OUTPUT and replaces OUTPUT\n"
    "                  only when it is complete; INPUT is never changed unless it\n"
    "                  is OUTPUT too. EC keys sign with ECDSA; with --pss (or pss=1\n"
    "                  in the settings file's options) RSA keys sign with RSASSA-PSS.\n"
    "                  A visible signature goes on page N (from 1;\n"
    "                  last: the last page; default the first) at its top right,\n"
    "                  or into the rectangle X1,Y1,X2,Y2 (whole points, within\n"
    "                  the page); --field signs the document's empty signature\n"
    "                  field NAME in its own place instead of adding a field.\n"
    "                  A visible signature takes --font FILE.ttf (a TrueType font\n"
    "                  embedded as a subset; DejaVu Sans when the document claims\n"
    "                  PDF/A) and --image FILE (a PNG or JPEG background), or the\n"
    "                  settings' fontfile and imagefile.\n"
    "                  --level B-B makes a PAdES baseline signature\n"
    "                  (ETSI.CAdES.detached, with the signer's chain); B-T adds a\n"
    "                  timestamp over the signature value from the authority at\n"
    "                  URL; --tsa without --level timestamps the adbe.pkcs7.detached\n"
    "                  signature. NAME logs in to the authority with HTTP basic\n"
    "                  authentication, the password from $TAVRA_TSA_PASSWORD, else\n"
    "                  asked on the terminal; OID asks for a timestamp policy.\n"
    "                  $TAVRA_TSA_TIMEOUT (seconds, default 60) bounds the request.\n"
    "                  B-LT (which needs --tsa too) then adds, as ltv does, the\n"
    "                  validation data of the signature; B-LTA also a document\n"
    "                  timestamp from the same authority. Nothing is written when\n"
    "                  a certificate is revoked or its revocation status cannot be\n"
    "                  had; the cause is named. The settings' level, tsa and\n"
    "                  tsauser give the defaults.\n"
    "  sign INPUT... --out-dir DIR [--suffix TEXT] [--overwrite] [--jobs N]\n"
    "       [--from-file PATH|-] [the options above]\n"
    "                  Sign every INPUT (and every path of PATH, one a line; - is\n"
    "                  standard input) as above into DIR under its own name with\n"
    "                  TEXT before \".pdf\" (default -signed). The store is opened\n"
    "                  and the password asked once. An existing output is kept\n"
    "                  (that file fails) unless --overwrite. A file that fails is\n"
    "                  reported and the others go on; nothing half-written is left\n"
    "                  in DIR. One line per file on standard output (INPUT -> OUTPUT,\n"
    "                  or INPUT: the error), then a summary; on a terminal a\n"
    "                  progress line on standard error. N files are signed at once\n"
    "                  (default: the number of cores). Exit status 0 only when\n"
    "                  every file was signed.\n"
    "  timestamp INPUT OUTPUT --tsa URL [--tsa-user NAME]\n"
    "                  Add a document timestamp to INPUT (/Type /DocTimeStamp,\n"
    "                  /SubFilter /ETSI.RFC3161: the authority's RFC 3161 token\n"
    "                  over the whole file as it then stands) as its own\n"
    "                  incremental update, and write the result to OUTPUT as sign\n"
    "                  does: earlier signatures stay valid, INPUT is never changed\n"
    "                  unless it is OUTPUT too, and nothing is written when the\n"
    "                  authority fails. URL, NAME and the password as for sign.\n"
    "  ltv INPUT OUTPUT [--tsa URL] [--tsa-user NAME] [--nssdb DIR]\n"
    "       [--trust FILE.pem]...\n"
    "                  Add to INPUT the validation data of every signature and\n"
    "                  document timestamp it holds (whoever made them): the\n"
    "                  certificates from each signer and timestamp authority up to\n"
    "                  a trusted authority, and for each but that authority an\n"
    "                  OCSP response (else a CRL) fetched from the addresses the\n"
    "                  certificates name, all in the document security store (/DSS,\n"
    "                  one /VRI entry per signature) as one incremental update.\n"
    "                  With --tsa a document timestamp from the authority at URL\n"
    "                  follows, as timestamp adds it. Run again later on its own\n"
    "                  output, it adds fresh data and a new timestamp. Chains are\n"
    "                  built from the certificates the signatures carry and the\n"
    "                  database's authorities; its trusted roots and the\n"
    "                  certificates of each --trust FILE.pem end them. DIR is chosen\n"
    "                  as for certs; URL, NAME and the password as for sign. The\n"
    "                  result is written to OUTPUT as sign does, only when every\n"
    "                  step succeeded; otherwise the cause is printed and nothing\n"
    "                  is written.\n"
    "  verify FILE.pdf [--trust FILE.pem]... [--nssdb DIR] [--json] [--offline]\n"
    "                  Print, for each signature: field name, signer, signing time,\n"
    "                  filter and subfilter, digest algorithm, the byte ranges and\n"
    "                  whether they cover the whole file but the signature value,\n"
    "                  whether the signature is valid, whether the signer's\n"
    "                  certificate leads to a trusted authority (trusted: yes, or\n"
    "                  no and why), whether the certificates were valid at the\n"
    "                  signing time (a valid timestamp's time, else the time the\n"
    "                  signer claims, which the line then says), and whether they\n"
    "                  were revoked then: good, revoked since when, unknown (why)\n"
    "                  or not checked, and from where (embedded OCSP or CRL: the\n"
    "                  document security store or the signature's own archive;\n"
    "                  OCSP or CRL: asked online). A revocation after that time\n"
    "                  leaves the signature valid. Trusted authorities are the\n"
    "                  database's trusted roots and the certificates of each\n"
    "                  --trust FILE.pem (one or more PEM certificates); the\n"
    "                  database's other CA certificates, those the signature\n"
    "                  carries and those of the document security store may stand\n"
    "                  between. DIR is chosen as for certs. --offline judges\n"
    "                  revocation from the embedded data alone; without it, a\n"
    "                  certificate they do not decide for is asked about at the\n"
    "                  responder or distribution point it names. --json prints the\n"
    "                  same as one JSON document (docs/verify-json.md). Exit status\n"
    "                  0 only when there are signatures and every one is valid,\n"
    "                  trusted and not revoked (unknown or not checked revocation\n"
    "                  alone does not fail it). The first line on standard error\n"
    "                  names the database used.\n"
    "  --help, -h      Show this text; after a COMMAND, that command's part.\n"
    "  --version       Show the program's version.\n"
    "\n"
    "info and verify read the file through a temporary copy in $TMPDIR (else /tmp)\n"
    "and never change it.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed (the reason is printed\n"
    "on standard error); 2 for a usage error.\n";

int UsageError(const std::string& message) {
  std::cerr << "tavrapdf: " << message << "\n"
            << "Try 'tavrapdf --help'.\n";
  return 2;
}

// The command's entries in kHelp, each up to the next entry, so the two
// texts never disagree.
std::string CommandHelp(const std::string& command) {
  const std::string help = kHelp;
  std::string text;
  for (size_t at = help.find("\n  " + command); at != std::string::npos;
       at = help.find("\n  " + command, at + 1)) {
    const char after = at + 3 + command.size() < help.size() ? help[at + 3 + command.size()] : '\0';
    if (after != ' ' && after != '\n') continue;  // another command that starts alike
    size_t end = at + 1;
    // An entry's continuation lines are indented further than its first.
    while ((end = help.find('\n', end)) != std::string::npos && end + 3 < help.size() &&
           help.compare(end + 1, 3, "   ") == 0)
      ++end;
    if (end == std::string::npos) end = help.size() - 1;
    text += "Usage: tavrapdf " + help.substr(at + 3, end - at - 2);
  }
  return text;
}

bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i)
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8 from here on, whatever the system delivered.
  std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  argc = static_cast<int>(arguments.size());
  argv = pointers.data();
  tavra::InstallKeyStore();
  platform::InstallHTTPTransport();
  if (argc < 2) return UsageError("missing command");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    if (argc > 2) return UsageError("--help takes no arguments");
    std::cout << kHelp;
    return 0;
  }
  if (command == "--version") {
    if (argc > 2) return UsageError("--version takes no arguments");
    std::cout << "tavrapdf " << TAVRA_VERSION << "\n";
    return 0;
  }
  if (AsksForHelp(argc, argv)) {
    const std::string help = CommandHelp(command);
    if (help.empty()) return UsageError("unknown command '" + command + "'");
    std::cout << help;
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
  if (command == "sign") {
    return tavra::RunSignCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (command == "timestamp") {
    return tavra::RunTimestampCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (command == "ltv") {
    return tavra::RunLtvCommand(std::vector<std::string>(argv + 2, argv + argc));
  }
  if (command == "verify") {
    return tavra::RunVerifyCommand(std::vector<std::string>(argv + 2, argv + argc));
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
