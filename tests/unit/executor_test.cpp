#include "base/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/task_scope.h"
#include "support/gate.h"

namespace vuv {
namespace {

using testing::Gate;

TEST(Executor, NeverMoreThreadsThanTheBudgetAndHighTasksFirst) {
  {
    Executor executor(2);
    Gate gate;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(executor.post([&] { gate.wait(); }));
    gate.waitForWaiters(2);
    EXPECT_FALSE(executor.idle());
    gate.open();
    executor.waitUntilIdle();
    EXPECT_TRUE(executor.idle());
    EXPECT_EQ(executor.threadsStarted(), 2u);
  }
  // One thread, so that the order it takes tasks in is the order they run in.
  Executor executor(1);
  Gate gate;
  std::vector<std::string> order;  // written by the one thread only
  const auto record = [&](std::string name) { return [&, name] { order.push_back(name); }; };
  ASSERT_TRUE(executor.post([&] { gate.wait(); }));
  gate.waitForWaiters(1);
  // Queued behind the busy thread: High ones first, each priority in order.
  ASSERT_TRUE(executor.post(record("n1")));
  ASSERT_TRUE(executor.post(record("h1"), Executor::Priority::High));
  ASSERT_TRUE(executor.post(record("n2")));
  ASSERT_TRUE(executor.post(record("h2"), Executor::Priority::High));
  gate.open();
  executor.waitUntilIdle();
  EXPECT_EQ(order, (std::vector<std::string>{"h1", "h2", "n1", "n2"}));
}

TEST(TaskScope, CloseDropsQueuedTasksAndWaitsForRunningOnes) {
  Executor executor(1);
  Gate gate;
  std::atomic<int> ran{0};
  TaskScope scope(executor);
  ASSERT_TRUE(scope.post([&] {
    gate.wait();
    ++ran;
  }));
  gate.waitForWaiters(1);
  ASSERT_TRUE(scope.post([&] { ++ran; }));  // queued behind the running one
  EXPECT_EQ(scope.active(), 2u);
  std::thread closer([&] { scope.close(); });
  // Until the close has begun (the one thread is held, so these only queue up to be dropped).
  while (scope.post([&] { ++ran; })) std::this_thread::yield();
  gate.open();
  closer.join();  // returned once the running task ended
  EXPECT_EQ(ran.load(), 1);
  executor.waitUntilIdle();
  EXPECT_EQ(ran.load(), 1);
  EXPECT_EQ(scope.active(), 0u);
}

TEST(TaskScope, ScopesOfOneExecutorWaitOnlyForTheirOwn) {
  Executor executor(2);
  Gate gate;
  TaskScope busy(executor);
  TaskScope quick(executor);
  ASSERT_TRUE(busy.post([&] { gate.wait(); }));
  gate.waitForWaiters(1);
  std::atomic<bool> done{false};
  ASSERT_TRUE(quick.post([&] { done = true; }));
  quick.waitUntilIdle();  // returns while the other scope's task still runs
  EXPECT_TRUE(done.load());
  EXPECT_EQ(busy.active(), 1u);
  gate.open();
  busy.waitUntilIdle();
}

}  // namespace
}  // namespace vuv
