// Finding the user's certificate database where Linux desktops keep it. The
// first place that applies wins: a folder the user named (command-line option
// or settings key), TAVRA_NSSDB, ~/.pki/nssdb when it holds a certificate with
// a private key, the default Firefox profile, the default Thunderbird profile,
// and ~/.pki/nssdb even when empty. Profiles are found through profiles.ini in
// the usual, Snap and Flatpak locations. Nothing found is ever written to.
#pragma once

#ifndef TAVRA_KEYSTORE_LINKED
#error "The key store is the application's: link tavra_keystore (no toolkit target does)"
#endif

#include <functional>
#include <string>
#include <vector>

#include "platform/keystore/KeyStore.h"

namespace platform {

struct NssDatabase {
  std::string Dir;    // the folder, as NSS gets it without its "sql:"/"dbm:"
  std::string Spec;   // "sql:DIR" or "dbm:DIR"
  std::string Where;  // "--nssdb", "settings", "TAVRA_NSSDB", "~/.pki/nssdb", "Firefox (Snap)", ...
  KeyStoreCounts Counts;
};

using NssLog = std::function<void(const std::string& line)>;
using NssInspect = std::function<KeyStoreResult(const std::string& dir, KeyStoreCounts& counts)>;

struct NssDiscovery {
  std::string Explicit;                   // the folder the user named; empty: none
  std::string ExplicitWhere = "--nssdb";  // how it was named, for Where
  std::string Home;                       // empty: $HOME, else the password database's
  NssLog Log;                             // a line per place skipped; empty: standard error
  NssInspect Inspect;                     // empty: KeyStore::Instance().Inspect
};

// The database to use. Explicit and TAVRA_NSSDB are taken as they are (a
// missing folder is an empty store); every other place must hold a database
// that opens.
NssDatabase DiscoverNssDatabase(const NssDiscovery& how);

// Every database found, each once, in the order above with every profile of
// each profiles.ini (its default first), counted. Places that fail are logged
// and left out.
std::vector<NssDatabase> FindNssDatabases(const NssDiscovery& how);

// A profile folder read from a profiles.ini, with where it came from.
struct NssProfile {
  std::string Folder;
  bool IsDefault = false;
};

// The profiles a profiles.ini names, the default first: the one its first
// [Install…] section names, else the one marked Default=1; with all, the
// others follow. Relative paths are relative to the file's folder. A missing
// file gives none; a malformed one gives none and a log line.
std::vector<NssProfile> ReadProfilesIni(const std::string& iniPath, bool all, const NssLog& log);

}  // namespace platform
