// Seekable byte streams with 64-bit positions. Everything that reads or writes
// "a stream" (the PDF parser and writer, the settings file, hashing of byte
// ranges) goes through TOvStream, so a document can live in memory or in a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane {

// Stream failures of the runtime layer ("Stream read error" and the like).
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TOvStream {
 public:
  virtual ~TOvStream() = default;

  // Reads up to count bytes at the current position; returns how many were read
  // (0 at the end of the stream).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes all count bytes at the current position or raises "Stream write error".
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size() = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  // Reads exactly count bytes or raises "Stream read error".
  void ReadBuffer(void* buffer, size_t count);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
  // Reads up to count bytes into a byte string (shorter at the end of the stream).
  std::string ReadString(size_t count);

  // Copies count bytes from the source's current position; count 0 copies the
  // whole source from its beginning. Returns the number of bytes copied.
  int64_t CopyFrom(TOvStream& source, int64_t count);
};

// A growable in-memory stream.
class TOvMemoryStream final : public TOvStream {
 public:
  TOvMemoryStream() = default;
  explicit TOvMemoryStream(std::string data) : data_(std::move(data)) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  using TOvStream::Write;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  const std::string& Data() const { return data_; }
  std::string& Data() { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

enum class TFileMode {
  fmOpenRead,       // existing file, read only
  fmOpenReadWrite,  // existing file, read and write
  fmCreate,         // created or truncated, read and write
};

// A buffered file stream over a POSIX descriptor. Reads and writes go through
// one 64 KiB buffer so that byte-wise parsing stays cheap on large files.
class TOvFileStream final : public TOvStream {
 public:
  TOvFileStream(const std::string& path, TFileMode mode);
  // Takes ownership of an already open descriptor (a freshly made temporary file).
  TOvFileStream(int fd, std::string path);
  ~TOvFileStream() override;
  TOvFileStream(const TOvFileStream&) = delete;
  TOvFileStream& operator=(const TOvFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  using TOvStream::Write;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t size) override;

  // Writes buffered data to the file; raises on failure. Sync also asks the
  // system to put it on disk.
  void Flush();
  void Sync();
  // Flushes and closes; raises when the buffered data cannot be written. The
  // destructor closes quietly.
  void Close();

  const std::string& FileName() const { return path_; }

  // Copies count bytes from the source's position to this stream's position
  // inside the kernel (both positions advance). Raises "Stream read error"
  // when the source holds fewer bytes, "Stream write error" on failure.
  void CopyRangeFrom(TOvFileStream& source, int64_t count);

 private:
  static constexpr size_t kBufferSize = size_t{64} * 1024;

  void FillReadBuffer();

  int fd_ = -1;
  std::string path_;
  int64_t position_ = 0;
  int64_t size_ = 0;
  std::string buffer_;
  int64_t buffer_start_ = 0;   // file offset of buffer_[0]
  bool buffer_dirty_ = false;  // buffer_ holds written bytes not yet in the file
};

}  // namespace corvane
