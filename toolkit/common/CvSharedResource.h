// TOvSharedResource: the toolkit's reader/writer lock, guarding provider key
// and context lists, provider manager lists and certificate storages.
//
// Built on a mutex and two condition variables rather than std::shared_mutex,
// because the lock is re-entrant: the writer may take the write lock again and
// may take read locks (each counting as one more write level), and a thread
// that already reads may read again even while writers wait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace corvane {

class TOvSharedResource {
 public:
  TOvSharedResource() = default;
  TOvSharedResource(const TOvSharedResource&) = delete;
  TOvSharedResource& operator=(const TOvSharedResource&) = delete;

  // Waits while a writer holds the lock or writers are waiting, unless this
  // thread already holds it. Inside the write lock it adds one write level.
  void LockRead();
  // Granted when nobody holds the lock; the writer may take it again (one more
  // level each time). A thread that only reads cannot take the write lock
  // (that would wait for itself forever): it gets ECorvaneError.
  void LockWrite();
  // Removes one level or one reader. When the lock becomes free one waiting
  // writer goes first; only without waiting writers do the readers enter.
  void Unlock();

  // A disabled lock returns from every call at once.
  bool Enabled() const;
  void SetEnabled(bool enabled);

  // Snapshot of the state for diagnostics and tests: readers (> 0), -1 for a
  // writer, 0 when free.
  int32_t Holders() const;
  int32_t WriteDepth() const;
  int32_t WaitingReaders() const;
  int32_t WaitingWriters() const;

 private:
  int ReadLevelsOf(std::thread::id thread) const;

  mutable std::mutex mutex_;
  std::condition_variable readers_cv_;
  std::condition_variable writers_cv_;
  int32_t holders_ = 0;
  int32_t waiting_readers_ = 0;
  int32_t waiting_writers_ = 0;
  int32_t write_depth_ = 0;
  std::thread::id writer_;
  std::vector<std::pair<std::thread::id, int>> readers_;  // read levels per reading thread
  bool enabled_ = true;
};

// Scoped guards.
class TOvReadLock {
 public:
  explicit TOvReadLock(TOvSharedResource& lock) : lock_(lock) { lock_.LockRead(); }
  ~TOvReadLock() { lock_.Unlock(); }
  TOvReadLock(const TOvReadLock&) = delete;
  TOvReadLock& operator=(const TOvReadLock&) = delete;

 private:
  TOvSharedResource& lock_;
};

class TOvWriteLock {
 public:
  explicit TOvWriteLock(TOvSharedResource& lock) : lock_(lock) { lock_.LockWrite(); }
  ~TOvWriteLock() { lock_.Unlock(); }
  TOvWriteLock(const TOvWriteLock&) = delete;
  TOvWriteLock& operator=(const TOvWriteLock&) = delete;

 private:
  TOvSharedResource& lock_;
};

}  // namespace corvane
