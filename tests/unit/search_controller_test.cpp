#include "search/search_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <memory>
#include <variant>
#include <string>
#include <thread>
#include <vector>

#include "browse/in_memory_shares.h"
#include "search_test_support.h"
#include "support/run_log.h"
#include "tree/network_tree.h"

namespace vuv {
namespace {

using testing::paths;

// One search's events: its rows and batch sizes besides the shared log.
struct Recorder : testing::RunLog {
  std::vector<ResultRow> rows;
  std::vector<std::size_t> batches;
  std::vector<SearchSummary> finishes;
  std::function<void()> duringRows;  // runs inside the rows event

  SearchEvents events() {
    SearchEvents e;
    e.rows = [this](RunId run, std::vector<ResultRow> batch) {
      event(run, false, [&] {
        batches.push_back(batch.size());
        for (ResultRow& row : batch) rows.push_back(std::move(row));
      });
      if (duringRows) duringRows();
    };
    e.status = [this](RunId run, const StatusUpdate& s) {
      status(run, statusText(s), std::holds_alternative<SearchFinished>(s));
    };
    e.failed = [this](RunId run, const ListingFailure& failure) { this->failure(run, failureText(failure)); };
    e.finished = [this](RunId run, const SearchSummary& summary) {
      finish(run, [&] { finishes.push_back(summary); });
    };
    return e;
  }
  void waitForRows(std::size_t count) { waitFor([&] { return rows.size() >= count; }); }
  void waitForFinish() { waitFor([&] { return !finishes.empty(); }); }
};

std::string shareOf(const std::string& path) {
  const auto server = path.find('\\', 2);
  return path.substr(0, path.find('\\', server + 1));
}

// MS Windows Network
//   WG: S1 (shares a, b), S2 (share c), S3 (no shares)
//   ZEMPTY (no servers)
struct Fixture {
  explicit Fixture(SearchOptions options = {}, std::size_t threads = 16) : executor(threads) {
    root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);
    wg = tree.insert(root, "WG", NodeKind::Domain, InsertPosition::Sorted);
    empty = tree.insert(root, "ZEMPTY", NodeKind::Domain, InsertPosition::Sorted);
    s1 = tree.insert(wg, "S1", NodeKind::Server, InsertPosition::Sorted);
    shareA = tree.insert(s1, "a", NodeKind::Share, InsertPosition::Last);
    tree.insert(s1, "b", NodeKind::Share, InsertPosition::Last);
    const NodeId s2 = tree.insert(wg, "S2", NodeKind::Server, InsertPosition::Sorted);
    tree.insert(s2, "c", NodeKind::Share, InsertPosition::Last);
    s3 = tree.insert(wg, "S3", NodeKind::Server, InsertPosition::Sorted);

    shares.addFile("\\\\S1\\a\\a1.txt", 1);
    shares.addFile("\\\\S1\\a\\sub\\a2.txt", 2);
    shares.addFile("\\\\S1\\b\\b1.txt", 3);
    shares.addFile("\\\\S2\\c\\c1.txt", 4);
    shares.addFile("\\\\S2\\c\\d\\c2.txt", 5);
    controller = std::make_unique<SearchController>(tree, shares, executor, options);
  }
  ~Fixture() {
    if (gate) gate->open();  // before the controller waits for held listings
    controller.reset();
  }

  // A server of its own under `domain`: \\BIG\big with folders f0..f9, three files each.
  NodeId addBigShare(NodeId domain) {
    const NodeId server = tree.insert(domain, "BIG", NodeKind::Server, InsertPosition::Sorted);
    for (int f = 0; f < 10; ++f) {
      for (int x = 0; x < 3; ++x) {
        shares.addFile("\\\\BIG\\big\\f" + std::to_string(f) + "\\x" + std::to_string(x) + ".txt", 1);
      }
    }
    return tree.insert(server, "big", NodeKind::Share, InsertPosition::Last);
  }

  // A domain MANY with servers M0.. each sharing \\Mi\s holding one file.
  NodeId addManyServers(int count) {
    const NodeId domain = tree.insert(root, "MANY", NodeKind::Domain, InsertPosition::Sorted);
    for (int i = 0; i < count; ++i) {
      const std::string server = "M" + std::to_string(i);
      tree.insert(tree.insert(domain, server, NodeKind::Server, InsertPosition::Sorted), "s", NodeKind::Share,
                  InsertPosition::Last);
      shares.addFile("\\\\" + server + "\\s\\x.txt", 1);
    }
    return domain;
  }

  void hold(std::function<bool(const std::string&)> predicate, bool ignoreStop = false) {
    gate = std::make_unique<testing::Gate>();
    testing::holdListings(shares, *gate, std::move(predicate), ignoreStop);
  }
  void holdPath(const std::string& path) {
    hold([path](const std::string& listed) { return listed == path; });
  }

  NetworkTree tree;
  InMemoryShares shares;
  Executor executor;
  std::unique_ptr<testing::Gate> gate;
  std::unique_ptr<SearchController> controller;
  NodeId root = kNoNode, wg = kNoNode, empty = kNoNode, s1 = kNoNode, s3 = kNoNode, shareA = kNoNode;
};

TEST(SearchController, StartNodeDecidesSharesAndWorkers) {
  const std::vector<std::string> rowsA = {"\\\\S1\\a\\sub\\a2.txt", "\\\\S1\\a\\a1.txt"};
  const std::vector<std::string> rowsB = {"\\\\S1\\b\\b1.txt"};
  const std::vector<std::string> rowsC = {"\\\\S2\\c\\d\\c2.txt", "\\\\S2\\c\\c1.txt"};
  struct Case {
    std::string name;
    NodeId Fixture::*node;
    std::map<std::string, std::vector<std::string>> rowsByShare;
    std::uint64_t workers;
  };
  const std::vector<Case> cases = {
      {"root", &Fixture::root, {{"\\\\S1\\a", rowsA}, {"\\\\S1\\b", rowsB}, {"\\\\S2\\c", rowsC}}, 4},
      {"domain", &Fixture::wg, {{"\\\\S1\\a", rowsA}, {"\\\\S1\\b", rowsB}, {"\\\\S2\\c", rowsC}}, 3},
      {"server", &Fixture::s1, {{"\\\\S1\\a", rowsA}, {"\\\\S1\\b", rowsB}}, 1},
      {"share", &Fixture::shareA, {{"\\\\S1\\a", rowsA}}, 1},
      // Guards against reporting a failed listing of \\DOMAIN\SERVER: a childless server or
      // domain names no share and is not walked.
      {"childless server", &Fixture::s3, {}, 1},
      {"childless domain", &Fixture::empty, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    Recorder events;
    ASSERT_TRUE(f.controller->start(f.*c.node, "*.txt", events.events()).ok());
    events.waitForFinish();
    f.controller->waitUntilIdle();

    std::map<std::string, std::vector<std::string>> byShare;
    std::vector<std::string> shareOrder;  // the leaves of one node are walked one after another
    for (const ResultRow& row : events.rows) {
      byShare[shareOf(row.path)].push_back(row.path);
      if (shareOrder.empty() || shareOrder.back() != shareOf(row.path)) shareOrder.push_back(shareOf(row.path));
    }
    EXPECT_EQ(byShare, c.rowsByShare);
    EXPECT_EQ(shareOrder.size(), byShare.size());
    ASSERT_EQ(events.finishes.size(), 1u);
    EXPECT_EQ(events.finishes[0].rows, events.rows.size());
    EXPECT_EQ(events.finishes[0].failedFolders, 0u);
    EXPECT_TRUE(events.failures.empty());
    EXPECT_FALSE(events.finishes[0].stopped);
    EXPECT_EQ(f.controller->stats().nodeWorkers, c.workers);
    EXPECT_EQ(events.lateEvents, 0);
  }
}

TEST(SearchController, StartRefusesMissingAndStaleNodes) {
  Fixture f;
  Recorder events;
  const NodeId old = f.shareA;
  f.tree.clear();
  for (const NodeId node : {kNoNode, old}) {
    const auto refused = f.controller->start(node, "*", events.events());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, ErrorCode::InvalidArgument);
  }
  f.controller->waitUntilIdle();
  EXPECT_TRUE(events.finishes.empty());
  EXPECT_EQ(f.shares.totalListings(), 0u);
}

TEST(SearchController, RowsComeInBoundedBatchesInShareOrder) {
  const std::size_t batch = 7;  // divides no folder's row count
  SearchOptions options;
  options.maxBatchRows = batch;
  Fixture f(options);
  std::vector<std::string> expected;
  for (int i = 0; i < 1000; ++i) {
    const std::string path = "\\\\S1\\a\\many\\m" + std::to_string(i) + ".txt";
    f.shares.addFile(path, 1);
    expected.push_back(path);
  }
  expected.insert(expected.begin(), "\\\\S1\\a\\sub\\a2.txt");
  expected.push_back("\\\\S1\\a\\a1.txt");
  Recorder events;
  ASSERT_TRUE(f.controller->start(f.shareA, "*.txt", events.events()).ok());
  events.waitForFinish();
  EXPECT_EQ(paths(events.rows), expected);
  for (const std::size_t size : events.batches) {
    EXPECT_GE(size, 1u);
    EXPECT_LE(size, batch);
  }
}

// The share when its walk starts, then each folder as its rows go out (not the share again at
// the end, when its own matches come), unless the interval holds them back.
TEST(SearchController, StatusNamesFoldersAtMostOncePerInterval) {
  const std::string a = "\\\\S1\\a";
  for (const bool limited : {false, true}) {
    SearchOptions options;
    options.statusInterval = limited ? std::chrono::milliseconds(std::chrono::hours(1)) : std::chrono::milliseconds(0);
    Fixture f(options);
    Recorder events;
    ASSERT_TRUE(f.controller->start(f.shareA, "*", events.events()).ok());
    events.waitForFinish();
    f.controller->waitUntilIdle();
    std::vector<std::string> expected = {statusText(SearchingIn{a}), statusText(SearchingIn{a + "\\sub"}),
                                         statusText(SearchFinished{})};
    if (limited) expected.erase(expected.begin() + 1);
    EXPECT_EQ(events.statuses, expected);
  }
}

// Guards against a deadlock when an event calls back into the controller: a stop from the rows
// event, and a new search from the stopped one's finished event.
TEST(SearchController, StopAndStartFromInsideEvents) {
  SearchOptions options;
  options.maxBatchRows = 1;
  Fixture f(options);
  for (int i = 0; i < 5; ++i) f.shares.addFile("\\\\S1\\a\\sub\\more" + std::to_string(i), 1);
  Recorder first, second;
  first.duringRows = [&] {
    f.controller->stop();
    first.close();
  };
  SearchEvents firstEvents = first.events();
  firstEvents.finished = [&, inner = firstEvents.finished](RunId run, const SearchSummary& summary) {
    inner(run, summary);
    EXPECT_TRUE(f.controller->start(f.s1, "b*.txt", second.events()).ok());
  };
  // The rest of the folder's rows are already on their way to delivery.
  ASSERT_TRUE(f.controller->start(f.shareA, "*", firstEvents).ok());
  second.waitForFinish();
  f.controller->waitUntilIdle();
  EXPECT_EQ(first.rows.size(), 1u);
  ASSERT_EQ(first.finishes.size(), 1u);
  EXPECT_EQ(first.finishes[0].rows, 1u);
  EXPECT_TRUE(first.finishes[0].stopped);
  EXPECT_EQ(first.lateEvents, 0);
  EXPECT_EQ(paths(second.rows), std::vector<std::string>{"\\\\S1\\b\\b1.txt"});
  EXPECT_EQ(second.finishes.size(), 1u);
}

TEST(SearchController, NodeWorkersRunAtMostTheCapAndAStopDropsTheQueued) {
  SearchOptions options;
  options.maxNodeWorkers = 2;
  Fixture f(options);
  const NodeId domain = f.addManyServers(6);
  f.hold([](const std::string& path) { return path.rfind("\\\\M", 0) == 0; });
  Recorder events;
  ASSERT_TRUE(f.controller->start(domain, "*", events.events()).ok());
  // The domain's worker ends at once, so two servers' workers hold listings; each one let
  // through frees its thread for the next server.
  for (std::size_t i = 0; i < 3; ++i) {
    f.gate->waitForWaiters(i + 2);
    f.gate->release(f.gate->arrived()[i]);
  }
  f.gate->waitForWaiters(5);  // M3 and M4 held, M5 queued
  f.controller->stop();
  f.gate->open();
  events.waitForFinish();
  f.controller->waitUntilIdle();
  EXPECT_EQ(f.gate->mostHeldAtOnce(), 2u);
  EXPECT_LE(f.controller->stats().peakNodeWorkers, 2u);
  EXPECT_EQ(f.controller->stats().nodeWorkers, 6u);  // the domain's and M0..M4's
  EXPECT_EQ(f.shares.totalListings(), 5u);
  EXPECT_EQ(events.finishes.size(), 1u);
}

// Guards against a replaced search finishing or delivering into its successor's session.
TEST(SearchController, NewSearchReplacesOneStillEnding) {
  for (const bool stopFirst : {true, false}) {
    SCOPED_TRACE(stopFirst ? "stopped, then replaced" : "replaced while running");
    Fixture f;
    const NodeId big = f.addBigShare(f.wg);
    // Held past the stop, so the stopped search is still ending when the next one starts.
    f.hold([](const std::string& path) { return path == "\\\\BIG\\big\\f5"; }, /*ignoreStop=*/true);
    Recorder old;
    ASSERT_TRUE(f.controller->start(big, "*.txt", old.events()).ok());
    old.waitForRows(15);
    if (stopFirst) f.controller->stop();
    Recorder fresh;
    ASSERT_TRUE(f.controller->start(f.s1, "*.txt", fresh.events()).ok());
    old.close();
    fresh.waitForFinish();
    f.gate->open();
    f.controller->waitUntilIdle();

    EXPECT_EQ(old.rows.size(), 15u);
    EXPECT_TRUE(old.finishes.empty());
    EXPECT_EQ(old.lateEvents, 0);
    ASSERT_EQ(fresh.finishes.size(), 1u);
    EXPECT_EQ(fresh.finishes[0].rows, 3u);
    EXPECT_FALSE(fresh.finishes[0].stopped);
    EXPECT_EQ(fresh.rows.size(), 3u);
  }
}

TEST(SearchController, DestructorWaitsForListingsInFlight) {
  Fixture f;
  f.holdPath("\\\\S1\\a\\sub");
  Recorder events;
  ASSERT_TRUE(f.controller->start(f.root, "*", events.events()).ok());
  f.gate->waitForWaiters(1);
  std::thread destroyer([&] { f.controller.reset(); });
  f.gate->open();  // before or after the destructor began: it must wait for the listing
  destroyer.join();
  EXPECT_EQ(f.gate->passed(), 1u);
  EXPECT_LE(events.finishes.size(), 1u);
  EXPECT_EQ(events.lateEvents, 0);
}

// Guards against threads of a search's own beside the executor's (one per share or listing
// before): 12 servers of 3 shares with 8 folders each run on the budget's 4 threads.
TEST(SearchController, WholeNetworkRunsOnTheExecutorsThreads) {
  constexpr std::size_t kBudget = 4;
#if defined(__SANITIZE_THREAD__)
  constexpr std::size_t kRuntimeThreads = 1;  // ThreadSanitizer's runtime starts one of its own
#else
  constexpr std::size_t kRuntimeThreads = 0;
#endif
  SearchOptions options;
  options.shareWalk.quickListing = std::chrono::microseconds(0);  // as on a slow network: wide open
  options.maxNodeWorkers = 2;  // leaves threads for the walks' listings
  Fixture f(options, kBudget);
  for (int s = 0; s < 12; ++s) {
    const NodeId node = f.tree.insert(f.wg, "T" + std::to_string(s), NodeKind::Server, InsertPosition::Sorted);
    for (const std::string share : {"h0", "h1", "h2"}) {
      f.tree.insert(node, share, NodeKind::Share, InsertPosition::Last);
      for (int d = 0; d < 8; ++d) f.shares.addFile("\\\\T" + std::to_string(s) + "\\" + share + "\\f" + std::to_string(d) + "\\x", 1);
    }
  }
  const auto threadsNow = [] {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
  };
  const std::size_t before = threadsNow();
  std::atomic<std::size_t> peak{0};
  f.shares.setListHook([&](const std::string&, std::stop_token) {
    for (std::size_t now = threadsNow(), seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  });
  Recorder events;
  ASSERT_TRUE(f.controller->start(f.wg, "x", events.events()).ok());
  events.waitForFinish();
  f.controller->waitUntilIdle();
  EXPECT_EQ(events.rows.size(), 12u * 3 * 8);
  EXPECT_LE(peak.load(), before + kBudget + kRuntimeThreads);
}

TEST(SearchController, FailedFoldersComeWithPathAndReason) {
  Fixture f;
  // Guards against walking IPC$ below a chosen node: it holds no files and would only fail.
  f.tree.insert(f.s1, "ipc$", NodeKind::Share, InsertPosition::Last);
  f.shares.fail("\\\\S1\\ipc$", makeError(ErrorCode::Unreachable, "ipc$"));
  f.shares.fail("\\\\S1\\a\\sub", makeError(ErrorCode::AccessDenied, "sub"));
  f.shares.fail("\\\\S2\\c", makeError(ErrorCode::Timeout, "c"));
  Recorder events;
  const auto run = f.controller->start(f.root, "*.txt", events.events());
  ASSERT_TRUE(run.ok());
  events.waitForFinish();
  f.controller->waitUntilIdle();
  const std::set<std::string> failures(events.failures.begin(), events.failures.end());
  EXPECT_EQ(failures, (std::set<std::string>{failureText({"\\\\S1\\a\\sub", makeError(ErrorCode::AccessDenied)}),
                                             failureText({"\\\\S2\\c", makeError(ErrorCode::Timeout)})}));
  EXPECT_EQ(events.finishes.at(0).failedFolders, 2u);
  EXPECT_EQ(events.runs, std::set<RunId>{*run});
}

// Stops at random moments (from a listing thread, as a window's thread would race it): the
// search finishes exactly once, sends nothing after the stop but its closing status, reports
// no failure for listings the stop cut short, and leaves no task behind.
TEST(SearchController, StopAtRandomMoments) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    SearchOptions options;
    options.maxBatchRows = 1 + rng() % 8;
    options.maxNodeWorkers = 1 + rng() % 4;
    options.shareWalk.maxParallelListings = 1 + rng() % 6;
    Fixture f(options);
    for (const std::string server : {"R0", "R1", "R2"}) {
      const NodeId node = f.tree.insert(f.wg, server, NodeKind::Server, InsertPosition::Sorted);
      for (const std::string share : {"p", "q"}) {
        f.tree.insert(node, share, NodeKind::Share, InsertPosition::Last);
        for (int file = 0; file < 24; ++file) {
          f.shares.addFile("\\\\" + server + "\\" + share + "\\d" + std::to_string(file / 4) + "\\e\\f" +
                               std::to_string(file % 4) + ".txt", 1);
        }
      }
    }
    Recorder events;
    std::atomic<int> listings{0};
    const int stopAt = 1 + static_cast<int>(rng() % 80);
    const unsigned seed = static_cast<unsigned>(rng());
    f.shares.setListHook([&](const std::string& path, std::stop_token) {
      std::this_thread::sleep_for(std::chrono::microseconds((std::hash<std::string>{}(path) ^ seed) % 200));
      if (++listings == stopAt) {
        f.controller->stop();
        events.close();
      }
    });
    const auto run = f.controller->start(f.root, "*", events.events());
    ASSERT_TRUE(run.ok());
    events.waitForFinish();
    f.controller->waitUntilIdle();
    f.executor.waitUntilIdle();
    EXPECT_TRUE(f.executor.idle());
    ASSERT_EQ(events.finishes.size(), 1u);
    EXPECT_EQ(events.finishes[0].rows, events.rows.size());
    EXPECT_EQ(events.lateEvents, 0);
    EXPECT_EQ(events.runs, std::set<RunId>{*run});
    // Only the leaf nodes that name no share fail.
    EXPECT_LE(events.failures.size(), 2u);
  }
}

}  // namespace
}  // namespace vuv
