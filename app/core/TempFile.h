// The temporary working copy of the document being signed. One guard owns the
// file from the moment it is created: it closes the descriptor and deletes the
// file on every path out of the workflow.
#pragma once

#include <string>
#include <utility>

namespace tavra {

class TTempFileGuard {
 public:
  TTempFileGuard() = default;
  TTempFileGuard(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TTempFileGuard();
  TTempFileGuard(TTempFileGuard&& other) noexcept;
  TTempFileGuard& operator=(TTempFileGuard&& other) noexcept;
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;

  const std::string& Path() const { return path_; }
  int Descriptor() const { return fd_; }

  // Replaces the file's content with the source file's; false on any failure.
  bool CopyFrom(const std::string& sourcePath);
  // Closes the descriptor, keeping the file (it is still deleted later).
  void CloseDescriptor();
  // Closes and deletes now.
  void Remove();

 private:
  int fd_ = -1;
  std::string path_;
};

// Creates a new, empty file "cvnXXXXXX" in the folder and hands it over to a
// guard. Errors: "Nemohu zjistit dočasný adresář" when the folder is empty,
// "Nepodařilo se vygenerovat jméno dočasného souboru" when no file can be made.
TTempFileGuard MakeTempFileName(const std::string& tempFolder);

}  // namespace tavra
