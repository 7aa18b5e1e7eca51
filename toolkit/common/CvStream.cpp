#include "toolkit/common/CvStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/PlatformFiles.h"

namespace corvane {

namespace {

int64_t ResolveSeek(int64_t offset, TSeekOrigin origin, int64_t current, int64_t size) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning:
      base = 0;
      break;
    case TSeekOrigin::soCurrent:
      base = current;
      break;
    case TSeekOrigin::soEnd:
      base = size;
      break;
  }
  int64_t result = 0;
  if (__builtin_add_overflow(base, offset, &result) || result < 0) {
    throw EStreamError("Invalid stream position");
  }
  return result;
}

std::string SystemErrorText(int error) { return std::strerror(error); }

}  // namespace

// --- TOvStream ---------------------------------------------------------------

void TOvStream::ReadBuffer(void* buffer, size_t count) {
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    const size_t got = Read(out, count);
    if (got == 0) throw EStreamError("Stream read error");
    out += got;
    count -= got;
  }
}

std::string TOvStream::ReadString(size_t count) {
  std::string result;
  const int64_t left = Size() - Position();
  if (left <= 0) return result;
  result.resize(static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(count))));
  result.resize(Read(result.data(), result.size()));
  return result;
}

int64_t TOvStream::CopyFrom(TOvStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  // Between two files the kernel copies without bringing the bytes here.
  auto* to = dynamic_cast<TOvFileStream*>(this);
  auto* from = dynamic_cast<TOvFileStream*>(&source);
  if (to && from && to != from) {
    to->CopyRangeFrom(*from, count);
    return count;
  }
  std::string chunk(std::min<int64_t>(count, 1 << 20), '\0');
  int64_t left = count;
  while (left > 0) {
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
    source.ReadBuffer(chunk.data(), want);
    Write(chunk.data(), want);
    left -= static_cast<int64_t>(want);
  }
  return count;
}

// --- TOvMemoryStream -----------------------------------------------------------

size_t TOvMemoryStream::Read(void* buffer, size_t count) {
  const int64_t size = Size();
  if (position_ >= size || count == 0) return 0;
  const size_t n =
      static_cast<size_t>(std::min<int64_t>(size - position_, static_cast<int64_t>(count)));
  std::memcpy(buffer, data_.data() + position_, n);
  position_ += static_cast<int64_t>(n);
  return n;
}

void TOvMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const auto pos = static_cast<size_t>(position_);
  if (pos + count > data_.size()) data_.resize(pos + count);
  std::memcpy(data_.data() + pos, buffer, count);
  position_ += static_cast<int64_t>(count);
}

int64_t TOvMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin, position_, Size());
  return position_;
}

void TOvMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

// --- TOvFileStream ---------------------------------------------------------------

TOvFileStream::TOvFileStream(const std::string& path, TFileMode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TFileMode::fmOpenRead:
      flags |= O_RDONLY;
      break;
    case TFileMode::fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    case TFileMode::fmCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) {
    const int error = errno;
    const char* verb = mode == TFileMode::fmCreate ? "Cannot create file" : "Cannot open file";
    throw EStreamError(std::string(verb) + " \"" + path + "\". " + SystemErrorText(error));
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EStreamError("Cannot open file \"" + path + "\". Is a directory");
  }
  size_ = st.st_size;
}

TOvFileStream::TOvFileStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot open file \"" + path_ + "\"");
  size_ = st.st_size;
}

TOvFileStream::~TOvFileStream() {
  try {
    Close();
  } catch (...) {
    // Destructors stay quiet; callers that care call Close() themselves.
  }
}

void TOvFileStream::Close() {
  if (fd_ < 0) return;
  std::string error;
  try {
    Flush();
  } catch (const EStreamError& e) {
    error = e.what();
  }
  ::close(fd_);
  fd_ = -1;
  if (!error.empty()) throw EStreamError(error);
}

void TOvFileStream::Flush() {
  if (!buffer_dirty_) return;
  const char* data = buffer_.data();
  size_t left = buffer_.size();
  int64_t offset = buffer_start_;
  while (left > 0) {
    const ssize_t n = ::pwrite(fd_, data, left, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EStreamError("Stream write error");
    }
    data += n;
    left -= static_cast<size_t>(n);
    offset += n;
  }
  buffer_dirty_ = false;
}

void TOvFileStream::Sync() {
  Flush();
  if (::fsync(fd_) != 0) throw EStreamError("Stream write error");
}

void TOvFileStream::FillReadBuffer() {
  Flush();
  buffer_.resize(kBufferSize);
  buffer_start_ = position_;
  size_t filled = 0;
  while (filled < kBufferSize) {
    const ssize_t n = ::pread(fd_, buffer_.data() + filled, kBufferSize - filled,
                              buffer_start_ + static_cast<int64_t>(filled));
    if (n < 0) {
      if (errno == EINTR) continue;
      buffer_.clear();
      throw EStreamError("Stream read error");
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  buffer_.resize(filled);
}

size_t TOvFileStream::Read(void* buffer, size_t count) {
  if (count == 0 || position_ >= size_) return 0;
  count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position_));
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const int64_t buffer_end = buffer_start_ + static_cast<int64_t>(buffer_.size());
    if (position_ >= buffer_start_ && position_ < buffer_end) {
      const size_t offset = static_cast<size_t>(position_ - buffer_start_);
      const size_t n = std::min(count - done, buffer_.size() - offset);
      std::memcpy(out + done, buffer_.data() + offset, n);
      done += n;
      position_ += static_cast<int64_t>(n);
      continue;
    }
    FillReadBuffer();
    if (buffer_.empty()) break;
  }
  return done;
}

void TOvFileStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (fd_ < 0) throw EStreamError("Stream write error");
  const auto* in = static_cast<const char*>(buffer);
  const int64_t buffer_end = buffer_start_ + static_cast<int64_t>(buffer_.size());
  // Keep appending to a dirty buffer while writes are contiguous; anything else
  // (including a clean read buffer) is written out and replaced.
  if (!(buffer_dirty_ && position_ == buffer_end)) {
    Flush();
    buffer_.clear();
    buffer_start_ = position_;
  }
  if (buffer_.size() + count > kBufferSize) {
    Flush();
    buffer_.clear();
    buffer_start_ = position_;
    if (count >= kBufferSize) {
      buffer_.assign(in, count);
      buffer_dirty_ = true;
      Flush();
      buffer_.clear();
      position_ += static_cast<int64_t>(count);
      buffer_start_ = position_;
      size_ = std::max(size_, position_);
      return;
    }
  }
  buffer_.append(in, count);
  buffer_dirty_ = true;
  position_ += static_cast<int64_t>(count);
  size_ = std::max(size_, position_);
}

void TOvFileStream::CopyRangeFrom(TOvFileStream& source, int64_t count) {
  if (count < 0 || source.size_ - source.position_ < count) throw EStreamError("Stream read error");
  if (fd_ < 0 || source.fd_ < 0) throw EStreamError("Stream write error");
  source.Flush();
  Flush();
  buffer_.clear();
  buffer_start_ = position_;
  int64_t inOffset = source.position_, outOffset = position_;
  const int64_t copied = platform::CopyFileBytes(source.fd_, inOffset, fd_, outOffset, count);
  if (copied < 0) throw EStreamError("Stream write error");
  if (copied != count) throw EStreamError("Stream read error");
  source.position_ = inOffset;
  position_ = outOffset;
  size_ = std::max(size_, position_);
}

int64_t TOvFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = ResolveSeek(offset, origin, position_, size_);
  return position_;
}

void TOvFileStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  Flush();
  buffer_.clear();
  buffer_start_ = 0;
  if (::ftruncate(fd_, size) != 0) throw EStreamError("Stream write error");
  size_ = size;
  if (position_ > size_) position_ = size_;
}

}  // namespace corvane
