#include "base/executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/task_scope.h"

namespace vuv {
namespace {

// Holds tasks until opened, so a test can fill the executor's threads.
class Latch {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void waitForWaiters(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

TEST(Executor, NeverMoreThreadsThanTheBudgetAndHighTasksFirst) {
  Executor executor(2);
  Latch latch;
  std::mutex mutex;
  std::vector<std::string> order;
  const auto record = [&](std::string name) {
    return [&, name] {
      std::lock_guard lock(mutex);
      order.push_back(name);
    };
  };
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(executor.post([&] { latch.wait(); }));
  latch.waitForWaiters(2);
  // Queued behind the two busy threads: High ones first, each priority in order.
  ASSERT_TRUE(executor.post(record("n1")));
  ASSERT_TRUE(executor.post(record("h1"), Executor::Priority::High));
  ASSERT_TRUE(executor.post(record("n2")));
  ASSERT_TRUE(executor.post(record("h2"), Executor::Priority::High));
  EXPECT_FALSE(executor.idle());
  latch.open();
  executor.waitUntilIdle();
  EXPECT_TRUE(executor.idle());
  EXPECT_EQ(executor.threadsStarted(), 2u);
  // Two threads take from the queue at once, so only the priorities' order is fixed.
  const auto at = [&](const std::string& name) { return std::find(order.begin(), order.end(), name) - order.begin(); };
  ASSERT_EQ(order.size(), 4u);
  EXPECT_LT(at("h1"), at("h2"));
  EXPECT_LT(at("h1"), at("n2"));
  EXPECT_LT(at("n1"), at("n2"));
}

TEST(TaskScope, CloseDropsQueuedTasksAndWaitsForRunningOnes) {
  Executor executor(1);
  Latch latch;
  std::atomic<int> ran{0};
  TaskScope scope(executor);
  ASSERT_TRUE(scope.post([&] {
    latch.wait();
    ++ran;
  }));
  latch.waitForWaiters(1);
  ASSERT_TRUE(scope.post([&] { ++ran; }));  // queued behind the running one
  EXPECT_EQ(scope.active(), 2u);
  std::thread closer([&] { scope.close(); });
  // Until the close has begun (the one thread is held, so these only queue up to be dropped).
  while (scope.post([&] { ++ran; })) std::this_thread::yield();
  latch.open();
  closer.join();  // returned once the running task ended
  EXPECT_EQ(ran.load(), 1);
  executor.waitUntilIdle();
  EXPECT_EQ(ran.load(), 1);
  EXPECT_EQ(scope.active(), 0u);
}

TEST(TaskScope, ScopesOfOneExecutorWaitOnlyForTheirOwn) {
  Executor executor(2);
  Latch latch;
  TaskScope busy(executor);
  TaskScope quick(executor);
  ASSERT_TRUE(busy.post([&] { latch.wait(); }));
  latch.waitForWaiters(1);
  std::atomic<bool> done{false};
  ASSERT_TRUE(quick.post([&] { done = true; }));
  quick.waitUntilIdle();  // returns while the other scope's task still runs
  EXPECT_TRUE(done.load());
  EXPECT_EQ(busy.active(), 1u);
  latch.open();
  busy.waitUntilIdle();
}

}  // namespace
}  // namespace vuv
