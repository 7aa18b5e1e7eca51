// The temporary copy of the document being signed. It is made as the staging
// file of the output, in the output's folder, so that a finished signing only
// has to sync it and rename it over the output: no second copy of the whole
// file. One guard owns it from the moment it is created and deletes it on
// every path out of the workflow that does not end in that rename.
#pragma once

#include <string>

#include "platform/PlatformFiles.h"

namespace tavra {

class TTempFileGuard {
 public:
  TTempFileGuard() = default;
  explicit TTempFileGuard(platform::StagingFile file) : file_(std::move(file)) {}
  ~TTempFileGuard();
  TTempFileGuard(TTempFileGuard&& other) noexcept;
  TTempFileGuard& operator=(TTempFileGuard&& other) noexcept;
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;

  // Empty while the file has no name (where the file system allows that,
  // it has none until the commit).
  const std::string& Path() const { return file_.path; }
  int Descriptor() const { return file_.fd; }

  // Replaces the file's content with everything the source descriptor holds
  // from its start, then starts putting it on disk while the caller goes on;
  // false on any failure.
  bool CopyFrom(int sourceFd);
  // Syncs the file and renames it over the output (with replace false only
  // where no output exists); false (and the file is gone, the output
  // untouched) on failure.
  bool Commit(std::string& error, bool replace = true);
  // Closes and deletes now.
  void Remove();

 private:
  platform::StagingFile file_;
  platform::EarlySync sync_;
};

// Creates the temporary file as the staging file of outputPath; false when
// no file can be made in the output's folder.
bool MakeStagingTempFile(const std::string& outputPath, TTempFileGuard& guard);

}  // namespace tavra
