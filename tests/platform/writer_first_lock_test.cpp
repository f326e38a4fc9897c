// The record lock of a task: sharers come and go, but once a thread waits to take it alone,
// no newcomer shares it before that thread has had its turn.
#include "platform/writer_first_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace quarry {
namespace {

TEST(WriterFirstLockTest, AWaitingLoneTakerGoesBeforeNewSharers) {
  WriterFirstLock lock;
  std::shared_lock<WriterFirstLock> first(lock);
  EXPECT_TRUE(lock.try_lock_shared());  // sharers share
  lock.unlock_shared();
  EXPECT_FALSE(lock.try_lock());

  std::atomic<bool> taken{false};
  std::thread alone([&] {
    std::lock_guard<WriterFirstLock> guard(lock);
    taken = true;
  });
  // As soon as the lone taker waits, a newcomer can no longer share.
  bool refused = false;
  for (int i = 0; i < 2000 && !refused; ++i) {
    if (lock.try_lock_shared()) {
      lock.unlock_shared();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      refused = true;
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_FALSE(taken);
  first.unlock();
  alone.join();
  EXPECT_TRUE(taken);
  EXPECT_TRUE(lock.try_lock_shared());
  lock.unlock_shared();
}

}  // namespace
}  // namespace quarry
