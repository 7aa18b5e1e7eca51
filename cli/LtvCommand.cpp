#include "cli/LtvCommand.h"

#include <iostream>
#include <optional>

#include "app/core/LongTermValidation.h"
#include "app/core/SignerCore.h"
#include "cli/CertsCommand.h"
#include "cli/SignCommand.h"
#include "cli/VerifyCommand.h"
#include "platform/keystore/KeyStore.h"

namespace tavra {

namespace {

int Usage(const std::string& message) {
  std::cerr << "tavrapdf: " << message << "\n"
            << "Try 'tavrapdf --help'.\n";
  return 2;
}

bool IsHttpURL(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

int RunLtvCommand(const std::vector<std::string>& args) {
  std::vector<std::string> paths, trustFiles;
  std::optional<std::string> tsa, tsaUser, nssdb;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string>* target = arg == "--tsa"        ? &tsa
                                         : arg == "--tsa-user" ? &tsaUser
                                         : arg == "--nssdb"    ? &nssdb
                                                               : nullptr;
    if (target || arg == "--trust") {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      if (target && *target) return Usage(arg + " is given once");
      if (target)
        *target = args[++i];
      else
        trustFiles.push_back(args[++i]);
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("unknown option '" + arg + "'");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return Usage("ltv needs INPUT and OUTPUT");
  if (tsaUser && !tsa) return Usage("--tsa-user needs --tsa");
  if (tsa && !IsHttpURL(*tsa)) return Usage("--tsa needs an http:// or https:// URL");

  TLongTermOptions options;
  for (const std::string& file : trustFiles) {
    try {
      for (const auto& certificate : ReadPemCertificates(file))
        options.Anchors.emplace_back(certificate->CertificateBinary());
    } catch (const std::exception& e) {
      return Usage("--trust " + file + ": " + e.what());
    }
  }
  if (tsa) {
    options.Timestamp.URL = *tsa;
    options.Timestamp.User = tsaUser.value_or(std::string());
    if (!options.Timestamp.User.empty())
      options.Timestamp.Password = TimestampPassword(options.Timestamp.User);
  }
  options.Progress = [](const std::string& certificate) {
    std::cerr << "tavrapdf: " << kMsgFetchingValidationData << certificate << "\n";
  };

  std::vector<std::string> log;
  const platform::NssDatabase database = ChooseCertificateDatabase(nssdb.value_or(""), log);
  std::cerr << "tavrapdf: " << DatabaseLine(database) << "\n";
  platform::KeyStore::Instance().SetDatabaseDir(database.Spec);

  const std::string error = AddLongTermValidation(paths[0], paths[1], options);
  if (!error.empty()) {
    std::cerr << "tavrapdf: " << error << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tavra
