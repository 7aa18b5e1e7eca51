// "tavrapdf certs": the certificates of one store of the user's database.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/keystore/NssDiscovery.h"

namespace tavra {

// --nssdb, else what discovery finds (TAVRA_NSSDB, ~/.pki/nssdb with a key,
// the default Firefox, then Thunderbird profile, ~/.pki/nssdb). Places skipped
// are added to log, one line each.
platform::NssDatabase ChooseCertificateDatabase(const std::string& option,
                                                std::vector<std::string>& log);

// The first line on standard error: "certificate database DIR", the legacy
// format as "dbm:DIR", a profile's with where it was found.
std::string DatabaseLine(const platform::NssDatabase& database);

// "tavrapdf stores": a line per database found, in discovery order: "*" for
// the chosen one (what certs uses) else "-", the database ("sql:DIR" or "dbm:DIR"),
// where it was found, its number of certificates and of those with a private
// key, separated by tabs.
void PrintStores(const std::string& option, const platform::NssDatabase& chosen, std::ostream& out,
                 std::vector<std::string>& log);

// One line per certificate, in store order: subject common name, issuer common
// name, serial text, valid-to (UTC), "can-sign"/"cannot-sign" (this program
// can sign with it: a signing algorithm and a key it can use) and
// "key"/"no-key" (the store holds its private key), separated by tabs. Raises the storage's error
// when the store cannot be opened.
void PrintCertificates(const std::string& database, const std::string& store, std::ostream& out);

}  // namespace tavra
