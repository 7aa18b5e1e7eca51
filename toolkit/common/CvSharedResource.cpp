#include "toolkit/common/CvSharedResource.h"

#include <algorithm>

#include "toolkit/common/CvErrors.h"

namespace corvane {

int TOvSharedResource::ReadLevelsOf(std::thread::id thread) const {
  for (const auto& [id, levels] : readers_) {
    if (id == thread) return levels;
  }
  return 0;
}

void TOvSharedResource::LockRead() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!enabled_) return;
  const auto self = std::this_thread::get_id();
  if (holders_ == -1 && writer_ == self) {
    ++write_depth_;
    return;
  }
  // A thread that already reads must not wait for writers queued behind it.
  if (ReadLevelsOf(self) == 0) {
    ++waiting_readers_;
    readers_cv_.wait(guard, [&] { return holders_ >= 0 && waiting_writers_ == 0; });
    --waiting_readers_;
  }
  ++holders_;
  auto it = std::find_if(readers_.begin(), readers_.end(),
                         [&](const auto& r) { return r.first == self; });
  if (it == readers_.end()) {
    readers_.emplace_back(self, 1);
  } else {
    ++it->second;
  }
}

void TOvSharedResource::LockWrite() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!enabled_) return;
  const auto self = std::this_thread::get_id();
  if (holders_ == -1 && writer_ == self) {
    ++write_depth_;
    return;
  }
  if (ReadLevelsOf(self) > 0) throw ECorvaneError("Internal error SharedResource 1");
  ++waiting_writers_;
  writers_cv_.wait(guard, [&] { return holders_ == 0; });
  --waiting_writers_;
  holders_ = -1;
  write_depth_ = 1;
  writer_ = self;
}

void TOvSharedResource::Unlock() {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!enabled_) return;
  const auto self = std::this_thread::get_id();
  if (holders_ == -1) {
    if (writer_ != self) return;  // not ours to release
    if (--write_depth_ > 0) return;
    holders_ = 0;
    writer_ = std::thread::id();
  } else if (holders_ > 0) {
    auto it = std::find_if(readers_.begin(), readers_.end(),
                           [&](const auto& r) { return r.first == self; });
    if (it == readers_.end()) return;
    if (--it->second == 0) readers_.erase(it);
    if (--holders_ > 0) return;
  } else {
    return;
  }
  // Free: one waiting writer first; readers only when no writer waits (their
  // predicate keeps them waiting otherwise).
  if (waiting_writers_ > 0) {
    writers_cv_.notify_one();
  } else if (waiting_readers_ > 0) {
    readers_cv_.notify_all();
  }
}

bool TOvSharedResource::Enabled() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return enabled_;
}

void TOvSharedResource::SetEnabled(bool enabled) {
  std::lock_guard<std::mutex> guard(mutex_);
  enabled_ = enabled;
}

int32_t TOvSharedResource::Holders() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return holders_;
}

int32_t TOvSharedResource::WriteDepth() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return write_depth_;
}

int32_t TOvSharedResource::WaitingReaders() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return waiting_readers_;
}

int32_t TOvSharedResource::WaitingWriters() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return waiting_writers_;
}

}  // namespace corvane
