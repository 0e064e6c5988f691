#include "discovery/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <variant>

#include "browse/in_memory_network.h"
#include "support/gate.h"
#include "support/recording_diagnostics.h"
#include "support/run_log.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

using testing::dump;
using testing::Gate;

DiscoveryEvents eventsInto(testing::RunLog& log) {
  DiscoveryEvents e;
  e.status = [&log](RunId run, const StatusUpdate& s) {
    log.status(run, statusText(s), std::holds_alternative<Ready>(s));
  };
  e.failed = [&log](RunId run, const ListingFailure& failure) { log.failure(run, failureText(failure)); };
  e.finished = [&log](RunId run) { log.finish(run); };
  return e;
}

struct Fixture {
  NetworkTree tree;
  InMemoryNetwork network;
  testing::RecordingDiagnostics diagnostics;
  testing::RunLog log;
  Executor executor{8};
  Discovery discovery{tree, network, diagnostics, executor, eventsInto(log)};
};

std::string getting(const std::string& what) { return statusText(GettingInformation{what}); }

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
  EXPECT_EQ(f.log.runs, std::set<RunId>{started->run});
  EXPECT_EQ(f.log.finishes.load(), 1);
  ASSERT_FALSE(f.log.statuses.empty());
  EXPECT_EQ(f.log.statuses.front(), statusText(RetrievingTree{}));
  EXPECT_EQ(f.log.statuses.back(), statusText(Ready{}));
  for (const std::string& expected : {getting("ALPHA"), getting("ZETA"), getting("ALPHA\\S1"), getting("ZETA\\Z1")}) {
    EXPECT_NE(std::find(f.log.statuses.begin(), f.log.statuses.end(), expected), f.log.statuses.end()) << expected;
  }
}

// Guards against a completion per early finisher while discover() is still starting workers.
TEST(Discovery, ManyInstantWorkersOrNoneCompleteOnce) {
  for (const int domains : {50, 0}) {
    Fixture f;
    for (int i = 0; i < domains; ++i) f.network.addDomain("D" + std::to_string(i));  // no servers: instant
    if (domains == 0) {
      BrowseReply failure;
      failure.status = BrowseStatus::Failure;
      failure.failureCode = 6118;
      f.network.scriptDomains(failure);
    }
    ASSERT_TRUE(f.discovery.discover().ok());
    f.discovery.waitUntilIdle();
    EXPECT_EQ(f.log.finishes.load(), 1);
    EXPECT_EQ(f.log.statuses.back(), statusText(Ready{}));
    EXPECT_EQ(f.discovery.runningWorkers(), 0);
  }
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
  EXPECT_EQ(f.log.finishes.load(), 0);
  gate.open();
  f.discovery.waitUntilIdle();
  EXPECT_EQ(f.log.finishes.load(), 1);
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
  EXPECT_EQ(f.log.statuses.front(), statusText(RetrievingDomain{}));

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
  // However the later calls fell into runs: each run finished exactly once.
  EXPECT_EQ(f.log.finished, f.log.runs);
  EXPECT_EQ(f.log.lateEvents, 0);
  EXPECT_EQ(f.discovery.runningWorkers(), 0);
}

// Guards against the domain listing also starting a worker for a domain added by name while
// it starts its own (it walked the live tree): the added domain got its servers twice.
TEST(Discovery, AddDomainWhileTheListingStartsWorkersJoinsTheRunOnce) {
  Fixture f;
  f.network.addServer("ALPHA", "S1");
  f.network.addServer("OTHER", "O1");
  f.network.addServer("ADDED", "A1");
  BrowseReply listed;
  listed.names = {"ALPHA", "OTHER"};  // ADDED is known only by name
  f.network.scriptDomains(listed);
  DiscoveryStarted added;
  f.log.duringStatus = [&](const std::string& status) {
    // The listing's thread, between two of its workers.
    if (status == getting("ALPHA") && added.run == RunId::None) added = f.discovery.addDomain("ADDED");
  };
  auto started = f.discovery.discover();
  ASSERT_TRUE(started.ok());
  f.discovery.waitUntilIdle();
  EXPECT_EQ(added.run, started->run);
  EXPECT_EQ(dump(f.tree), "MS Windows Network\n  ALPHA\n    S1\n  OTHER\n    O1\n  ADDED\n    A1\n");
  EXPECT_EQ(f.log.finishes.load(), 1);
  EXPECT_EQ(f.discovery.runningWorkers(), 0);
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
                                      f.log.finishes.load() > 0; });
    }
    f.discovery.stop();
    f.log.close(started->run);
    f.discovery.waitUntilIdle();
    EXPECT_EQ(f.log.finishes.load(), 1);
    EXPECT_EQ(f.log.lateEvents, 0);
    EXPECT_EQ(f.discovery.runningWorkers(), 0);
    f.executor.waitUntilIdle();
    EXPECT_TRUE(f.executor.idle());
    EXPECT_TRUE(f.discovery.discover().ok()) << "a stopped run must not keep the next one out";
    f.discovery.stop();
  }
}

TEST(Discovery, DestructorEndsARunningRunSilently) {
  testing::RunLog log;  // outlives the discovery
  auto f = std::make_unique<Fixture>();
  buildSlowNetwork(f->network);
  f->network.setCallDelay(std::chrono::hours(1));
  auto discovery = std::make_unique<Discovery>(f->tree, f->network, f->diagnostics, f->executor, eventsInto(log));
  ASSERT_TRUE(discovery->discover().ok());
  discovery->addDomain("D0");
  discovery.reset();  // returns although every call would take an hour
  f->executor.waitUntilIdle();
  EXPECT_EQ(log.finishes.load(), 0);
  EXPECT_EQ(log.statuses.back(), statusText(RetrievingDomain{}));  // nothing after the destructor began
}

}  // namespace
}  // namespace vuv
