#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "browse/in_memory_network.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

using testing::dump;

// Records status texts and completions from any thread.
struct Events {
  std::mutex mutex;
  std::vector<std::string> statuses;
  std::atomic<int> finished{0};

  DiscoveryEvents callbacks() {
    return {[this](const std::string& s) {
              std::lock_guard lock(mutex);
              statuses.push_back(s);
            },
            [this] { ++finished; }};
  }
};

// Holds every server listing until released, so tests can act while workers run.
class Gate {
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

struct Fixture {
  NetworkTree tree;
  InMemoryNetwork network;
  testing::RecordingDiagnostics diagnostics;
  Events events;
  Discovery discovery{tree, network, diagnostics, events.callbacks()};
};

TEST(Discovery, TwoWorkgroupsOneCompletion) {
  Fixture f;
  f.network.addServer("ZETA", "Z1", {"Data"});
  f.network.addServer("ALPHA", "S1", {"Public"});
  auto root = f.discovery.discover();
  ASSERT_TRUE(root.ok());
  f.discovery.waitUntilIdle();

  EXPECT_EQ(dump(f.tree),
            "MS Windows Network\n  ALPHA\n    S1\n      Public\n  ZETA\n    Z1\n      Data\n");
  EXPECT_EQ(f.tree.root(), *root);
  EXPECT_EQ(f.events.finished.load(), 1);
  ASSERT_FALSE(f.events.statuses.empty());
  EXPECT_EQ(f.events.statuses.front(), "Retriving network tree...");
  EXPECT_EQ(f.events.statuses.back(), "Ready");
  for (const char* expected : {"Getting information about ALPHA", "Getting information about ZETA",
                               "Getting information about ALPHA\\S1", "Getting information about ZETA\\Z1"}) {
    EXPECT_NE(std::find(f.events.statuses.begin(), f.events.statuses.end(), expected), f.events.statuses.end())
        << expected;
  }
}

// Guards against a completion per early finisher while discover() is still starting workers.
TEST(Discovery, ManyInstantWorkersCompleteOnce) {
  Fixture f;
  for (int i = 0; i < 50; ++i) f.network.addDomain("D" + std::to_string(i));  // no servers: instant
  ASSERT_TRUE(f.discovery.discover().ok());
  f.discovery.waitUntilIdle();
  EXPECT_EQ(f.events.finished.load(), 1);
  EXPECT_EQ(f.discovery.runningWorkers(), 0);
}

TEST(Discovery, NoDomainsStillCompletes) {
  Fixture f;
  BrowseReply failed;
  failed.status = BrowseStatus::Failure;
  failed.failureCode = 6118;
  f.network.scriptDomains(failed);
  ASSERT_TRUE(f.discovery.discover().ok());
  f.discovery.waitUntilIdle();
  EXPECT_EQ(dump(f.tree), "MS Windows Network\n");
  EXPECT_EQ(f.events.finished.load(), 1);
  EXPECT_EQ(f.events.statuses.back(), "Ready");
  EXPECT_EQ(f.diagnostics.err(), "A system error has occurred: 6118\n");
}

TEST(Discovery, RefusedWhileWorkersInsert) {
  Fixture f;
  f.network.addServer("ALPHA", "S1", {"Public"});
  Gate gate;
  f.network.setCallHook([&](const std::string& what, const std::string&) {
    if (what == "servers") gate.wait();
  });
  ASSERT_TRUE(f.discovery.discover().ok());
  gate.waitForWaiters(1);
  auto again = f.discovery.discover();
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().code, ErrorCode::Busy);
  EXPECT_EQ(f.events.finished.load(), 0);
  gate.open();
  f.discovery.waitUntilIdle();
  EXPECT_EQ(f.events.finished.load(), 1);
  EXPECT_EQ(dump(f.tree), "MS Windows Network\n  ALPHA\n    S1\n      Public\n");
}

TEST(Discovery, AddDomainBeforeAndAfterDiscovery) {
  Fixture f;
  f.network.addServer("BETA", "B1", {"Share"});
  f.network.addServer("ZETA", "Z1");

  // Before any discovery the name goes to the top level.
  f.discovery.addDomain("BETA");
  f.discovery.waitUntilIdle();
  EXPECT_EQ(dump(f.tree), "BETA\n  B1\n    Share\n");
  EXPECT_EQ(f.tree.root(), kNoNode);
  EXPECT_EQ(f.events.statuses.front(), "Retriving information about domain... Please wait.");

  ASSERT_TRUE(f.discovery.discover().ok());
  f.discovery.waitUntilIdle();
  // After it, appended under the root even when it sorts first; unknown names stay empty;
  // the same name twice gives two nodes.
  EXPECT_EQ(f.discovery.addDomain(""), kNoNode);
  f.discovery.addDomain("AAA-NO-SUCH");
  f.discovery.addDomain("BETA");
  f.discovery.addDomain("BETA");
  f.discovery.waitUntilIdle();
  EXPECT_EQ(dump(f.tree),
            "MS Windows Network\n"
            "  BETA\n    B1\n      Share\n"
            "  ZETA\n    Z1\n"
            "  AAA-NO-SUCH\n"
            "  BETA\n    B1\n      Share\n"
            "  BETA\n    B1\n      Share\n");
  EXPECT_GE(f.events.finished.load(), 3);
  EXPECT_EQ(f.discovery.runningWorkers(), 0);
}

TEST(Discovery, AddDomainJoinsRunningDiscoveryCount) {
  Fixture f;
  f.network.addServer("ALPHA", "S1");
  f.network.addServer("OTHER", "O1");
  Gate gate;
  f.network.setCallHook([&](const std::string& what, const std::string&) {
    if (what == "servers") gate.wait();
  });
  ASSERT_TRUE(f.discovery.discover().ok());
  f.discovery.addDomain("OTHER");
  gate.waitForWaiters(3);  // two discovered domains and the added one
  EXPECT_EQ(f.discovery.runningWorkers(), 3);
  gate.open();
  f.discovery.waitUntilIdle();
  EXPECT_EQ(f.events.finished.load(), 1);
}

}  // namespace
}  // namespace vuv
