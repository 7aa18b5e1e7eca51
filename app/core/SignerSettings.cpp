#include "app/core/SignerSettings.h"

namespace tavra {

void TIniSignerSettings::Read(TPdfSignerOptions& options) {
  if (path_.empty()) {
    ReadOptions(options);
  } else {
    ReadOptions(path_, options);
  }
}

void TIniSignerSettings::Write(const TPdfSignerOptions& options) {
  if (path_.empty()) {
    WriteOptions(options);
  } else {
    WriteOptions(path_, options);
  }
}

}  // namespace tavra
