// "tavrapdf certs": the certificates of one store of the user's database.
#pragma once

#include <ostream>
#include <string>

namespace tavra {

// --nssdb, else TAVRA_NSSDB, else ~/.pki/nssdb.
std::string ChooseCertificateDatabase(const std::string& option);

// One line per certificate, in store order: subject common name, issuer common
// name, serial text, valid-to (UTC), "can-sign"/"cannot-sign" (this program
// can sign with it: a signing algorithm and a key it can use) and
// "key"/"no-key" (the store holds its private key), separated by tabs. Raises the storage's error
// when the store cannot be opened.
void PrintCertificates(const std::string& database, const std::string& store, std::ostream& out);

}  // namespace tavra
