// Where the signer keeps its settings: the INI file of RKSIni, behind a small
// interface so that the windows can be tested against a file of the test's own.
#pragma once

#include <string>
#include <utility>

#include "app/core/RKSIni.h"

namespace tavra {

class ISignerSettings {
 public:
  virtual ~ISignerSettings() = default;
  virtual void Read(TPdfSignerOptions& options) = 0;
  // Raises when the file cannot be written.
  virtual void Write(const TPdfSignerOptions& options) = 0;
};

// The settings file; an empty path means the program's own (SettingsFilePath).
class TIniSignerSettings final : public ISignerSettings {
 public:
  explicit TIniSignerSettings(std::string path = {}) : path_(std::move(path)) {}
  void Read(TPdfSignerOptions& options) override;
  void Write(const TPdfSignerOptions& options) override;

 private:
  std::string path_;
};

}  // namespace tavra
