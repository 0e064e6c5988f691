#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "browse/in_memory_network.h"
#include "support/gate.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

using testing::dump;
using testing::Gate;

// Records events from any thread; counts those of a run after its finish, and statuses and
// failures of a run after the test closed it (stop() returned).
struct Events {
  std::mutex mutex;
  std::vector<std::string> statuses;
  std::vector<RunId> runs;  // of every event, in order
  std::atomic<int> finished{0};
  std::set<RunId> finishedRuns;
  std::set<RunId> closedRuns;
  int lateEvents = 0;

  void record(RunId run, const std::string& status) {
    std::lock_guard lock(mutex);
    if (finishedRuns.count(run) > 0) ++lateEvents;
    if (closedRuns.count(run) > 0 && status != "Ready") ++lateEvents;
    statuses.push_back(status);
    runs.push_back(run);
  }
  void close(RunId run) {
    std::lock_guard lock(mutex);
    closedRuns.insert(run);
  }

  DiscoveryEvents callbacks() {
    DiscoveryEvents events;
    events.status = [this](RunId run, const StatusUpdate& s) { record(run, statusText(s)); };
    events.failed = [this](RunId run, const ListingFailure& failure) { record(run, failureText(failure)); };
    events.finished = [this](RunId run) {
      std::lock_guard lock(mutex);
      if (!finishedRuns.insert(run).second) ++lateEvents;
      ++finished;
    };
    return events;
  }
};

struct Fixture {
  NetworkTree tree;
  InMemoryNetwork network;
  testing::RecordingDiagnostics diagnostics;
  Events events;
  Executor executor{8};
  Discovery discovery{tree, network, diagnostics, executor, events.callbacks()};
};

TEST(Discovery, TwoWorkgroupsOneCompletion) {
  Fixture f;
  f.network.addServer("ZETA", "Z1", {"Data"});
  f.network.addServer("ALPHA", "S1", {"Public"});
  auto started = f.discovery.discover();
  ASSERT_TRUE(started.ok());
  f.discovery.waitUntilIdle();

  EXPECT_EQ(dump(f.tree),
            "MS Windows Network\n  ALPHA\n    S1\n      Public\n  ZETA\n    Z1\n      Data\n");
  EXPECT_EQ(f.tree.root(), started->node);
  EXPECT_EQ(std::set<RunId>(f.events.runs.begin(), f.events.runs.end()), std::set<RunId>{started->run});
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
  f.network.setCallHook([&](const std::string& what, const std::string&, std::stop_token stop) {
    if (what == "servers") gate.wait(stop);
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
  const RunId first = f.discovery.addDomain("BETA").run;
  f.discovery.waitUntilIdle();
  EXPECT_EQ(dump(f.tree), "BETA\n  B1\n    Share\n");
  EXPECT_EQ(f.tree.root(), kNoNode);
  EXPECT_EQ(f.events.statuses.front(), "Retriving information about domain... Please wait.");

  ASSERT_TRUE(f.discovery.discover().ok());
  f.discovery.waitUntilIdle();
  // After it, appended under the root even when it sorts first; unknown names stay empty;
  // the same name twice gives two nodes.
  EXPECT_EQ(f.discovery.addDomain("").node, kNoNode);
  EXPECT_NE(f.discovery.addDomain("AAA-NO-SUCH").run, first);
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
  f.network.setCallHook([&](const std::string& what, const std::string&, std::stop_token stop) {
    if (what == "servers") gate.wait(stop);
  });
  auto started = f.discovery.discover();
  ASSERT_TRUE(started.ok());
  gate.waitForWaiters(2);  // the two discovered domains
  EXPECT_EQ(f.discovery.addDomain("OTHER").run, started->run);
  gate.waitForWaiters(3);
  EXPECT_EQ(f.discovery.runningWorkers(), 3);
  gate.open();
  f.discovery.waitUntilIdle();
  EXPECT_EQ(f.events.finished.load(), 1);
}

// A network whose every share listing would take an hour: only a stop that reaches the
// listings lets these tests end at all.
void buildSlowNetwork(InMemoryNetwork& network) {
  for (int d = 0; d < 4; ++d) {
    for (int s = 0; s < 5; ++s) {
      network.addServer("D" + std::to_string(d), "S" + std::to_string(d) + std::to_string(s), {"x"});
    }
  }
}

TEST(Discovery, StopAtRandomMomentsEndsTheRunOnce) {
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    // Before the fixture, so that they outlive the tasks of its last run, which use them.
    std::atomic<int> calls{0};
    std::mutex stopMutex;
    std::condition_variable reached;
    Fixture f;
    buildSlowNetwork(f.network);
    const bool slowShares = round % 2 == 0;  // else fast, so stops also land between calls
    const int stopAt = static_cast<int>(rng() % 12);
    f.network.setCallHook([&](const std::string& what, const std::string&, std::stop_token stop) {
      {
        std::lock_guard lock(stopMutex);
        ++calls;
        reached.notify_all();
      }
      if (slowShares && what == "shares") {
        Gate never;
        never.wait(stop);
      }
    });
    auto started = f.discovery.discover();
    ASSERT_TRUE(started.ok());
    {
      std::unique_lock lock(stopMutex);
      // Slow runs never get past one share listing per domain.
      reached.wait(lock, [&] { return calls.load() >= (slowShares ? std::min(stopAt, 5) : stopAt) ||
                                      f.events.finished.load() > 0; });
    }
    f.discovery.stop();
    f.events.close(started->run);
    f.discovery.waitUntilIdle();
    EXPECT_EQ(f.events.finished.load(), 1);
    EXPECT_EQ(f.events.lateEvents, 0);
    EXPECT_EQ(f.discovery.runningWorkers(), 0);
    f.executor.waitUntilIdle();
    EXPECT_TRUE(f.executor.idle());
    EXPECT_TRUE(f.discovery.discover().ok()) << "a stopped run must not keep the next one out";
    f.discovery.stop();
  }
}

TEST(Discovery, DestructorEndsARunningRunSilently) {
  auto f = std::make_unique<Fixture>();
  buildSlowNetwork(f->network);
  f->network.setCallDelay(std::chrono::hours(1));
  ASSERT_TRUE(f->discovery.discover().ok());
  f->discovery.addDomain("D0");
  f.reset();  // returns although every call would take an hour; no finish reaches us
}

}  // namespace
}  // namespace vuv
