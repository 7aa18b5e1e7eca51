// Which certificate database the signer works with: the folder named by the
// settings key "nssdb" in section "options" (absent by default), else the one
// discovery finds (TAVRA_NSSDB, ~/.pki/nssdb with a key, the default Firefox,
// then Thunderbird profile, ~/.pki/nssdb).
#pragma once

#include <string>
#include <vector>

#include "platform/keystore/NssDiscovery.h"

namespace tavra {

// The settings key "nssdb" of the file (empty path: the program's own
// settings file); empty when absent.
std::string ReadNssDbSetting(const std::string& iniPath = {});

// Chooses the database, points the key store at it and returns it; the
// certificate dialog shows its Dir (and Where) in its caption or status line.
// The places passed over are added to log, a line each.
platform::NssDatabase UseCertificateDatabase(std::vector<std::string>& log,
                                             const std::string& iniPath = {});

// Hands the key store to the toolkit's CryptoAPI provider and certificate
// storage. Called once at start, before anything lists or signs.
void InstallKeyStore();

}  // namespace tavra
