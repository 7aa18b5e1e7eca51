#include "toolkit/common/CvSharedResource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/common/CvErrors.h"

namespace corvane {
namespace {

// Polls until the condition holds (at most five seconds).
bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 5000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

TEST(SharedResource, WriterTakesReadAndWriteAgainWithoutBlocking) {
  TOvSharedResource lock;
  lock.LockWrite();
  lock.LockRead();
  lock.LockWrite();
  EXPECT_EQ(lock.Holders(), -1);
  EXPECT_EQ(lock.WriteDepth(), 3);
  lock.Unlock();
  lock.Unlock();
  EXPECT_EQ(lock.Holders(), -1);
  lock.Unlock();
  EXPECT_EQ(lock.Holders(), 0);
  EXPECT_EQ(lock.WriteDepth(), 0);
}

TEST(SharedResource, WaitingWriterGoesBeforeWaitingReaders) {
  TOvSharedResource lock;
  std::mutex order_mutex;
  std::vector<std::string> order;
  auto record = [&](const char* who) {
    std::lock_guard<std::mutex> g(order_mutex);
    order.push_back(who);
  };
  lock.LockWrite();
  std::thread reader([&] {
    lock.LockRead();
    record("reader");
    lock.Unlock();
  });
  ASSERT_TRUE(WaitFor([&] { return lock.WaitingReaders() == 1; }));
  std::thread writer([&] {
    lock.LockWrite();
    record("writer");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lock.Unlock();
  });
  ASSERT_TRUE(WaitFor([&] { return lock.WaitingWriters() == 1; }));
  lock.Unlock();
  writer.join();
  reader.join();
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], "writer");
  EXPECT_EQ(order[1], "reader");
  EXPECT_EQ(lock.Holders(), 0);
}

TEST(SharedResource, ReadersShareTheLock) {
  TOvSharedResource lock;
  std::atomic<int> inside{0};
  std::atomic<bool> release{false};
  auto body = [&] {
    lock.LockRead();
    ++inside;
    WaitFor([&] { return release.load(); });
    lock.Unlock();
  };
  std::thread a(body), b(body);
  EXPECT_TRUE(WaitFor([&] { return inside.load() == 2; }));
  EXPECT_EQ(lock.Holders(), 2);
  release = true;
  a.join();
  b.join();
  EXPECT_EQ(lock.Holders(), 0);
}

TEST(SharedResource, WriterWaitsForReadersAndExcludesThem) {
  TOvSharedResource lock;
  std::atomic<bool> writer_in{false};
  lock.LockRead();
  std::thread writer([&] {
    lock.LockWrite();
    writer_in = true;
    lock.Unlock();
  });
  ASSERT_TRUE(WaitFor([&] { return lock.WaitingWriters() == 1; }));
  EXPECT_FALSE(writer_in.load());
  lock.Unlock();
  writer.join();
  EXPECT_TRUE(writer_in.load());
}

// Writer preference must not deadlock a thread that already reads.
TEST(SharedResource, ReaderReentersWhileWriterWaits) {
  TOvSharedResource lock;
  lock.LockRead();
  std::thread writer([&] {
    lock.LockWrite();
    lock.Unlock();
  });
  ASSERT_TRUE(WaitFor([&] { return lock.WaitingWriters() == 1; }));
  lock.LockRead();
  EXPECT_EQ(lock.Holders(), 2);
  lock.Unlock();
  lock.Unlock();
  writer.join();
  EXPECT_EQ(lock.Holders(), 0);
}

TEST(SharedResource, UpgradeFromReadIsRefusedInsteadOfHanging) {
  TOvSharedResource lock;
  lock.LockRead();
  EXPECT_THROW(lock.LockWrite(), ECorvaneError);
  lock.Unlock();
  EXPECT_EQ(lock.Holders(), 0);
  lock.LockWrite();
  lock.Unlock();
}

TEST(SharedResource, DisabledLockReturnsAtOnce) {
  TOvSharedResource lock;
  lock.SetEnabled(false);
  lock.LockWrite();
  std::atomic<bool> done{false};
  std::thread other([&] {
    lock.LockWrite();
    lock.Unlock();
    done = true;
  });
  other.join();
  EXPECT_TRUE(done.load());
  EXPECT_EQ(lock.Holders(), 0);
}

TEST(SharedResource, ForeignUnlockDoesNotReleaseTheWriter) {
  TOvSharedResource lock;
  lock.LockWrite();
  std::thread other([&] { lock.Unlock(); });
  other.join();
  EXPECT_EQ(lock.Holders(), -1);
  lock.Unlock();
  EXPECT_EQ(lock.Holders(), 0);
}

}  // namespace
}  // namespace corvane
