// A server that dies in the middle of a discovery or a search, on the Samba test network: the
// run loses that server's part only, fails fast and finishes once. Both stop and restart S4.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "discovery/discovery.h"
#include "integration/network_test_support.h"
#include "search/search_controller.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

// Passes every call on; stops S4 just before its shares, or the n-th folder, are listed.
class KillingS4 final : public BrowseService, public DirectoryLister {
 public:
  KillingS4(BrowseService& browse, DirectoryLister& lister) : browse_(browse), lister_(lister) {}
  bool armed = false;
  int beforeListing = 0;  // 0: never

  BrowseReply listDomains(std::stop_token stop) override { return browse_.listDomains(stop); }
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override {
    return browse_.listServers(domain, stop);
  }
  BrowseReply listShares(std::string_view server, std::uint32_t& resume, std::stop_token stop) override {
    if (armed && server == "S4") killS4();
    return browse_.listShares(server, resume, stop);
  }
  Result<ListingEnd> stream(std::string_view folder, const EntryBatchSink& sink, std::stop_token stop) override {
    if (++listed_ == beforeListing) killS4();
    return lister_.stream(folder, sink, stop);
  }

 private:
  static void killS4() { ASSERT_EQ(testing::runTestNetwork("kill-host S4"), 0); }
  BrowseService& browse_;
  DirectoryLister& lister_;
  std::atomic<int> listed_{0};
};

class KilledHost : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(testing::runTestNetwork("start-host S4"), 0); }

  // The tree a whole discovery gives, and how many times it finished.
  std::pair<std::string, int> discover() {
    NetworkTree tree;
    testing::RecordingDiagnostics diagnostics;
    std::atomic<int> finished{0};
    {
      DiscoveryEvents events;
      events.finished = [&](RunId) { ++finished; };
      Discovery discovery(tree, killing_, diagnostics, executor_, std::move(events));
      EXPECT_TRUE(discovery.discover().ok());
      discovery.waitUntilIdle();
    }
    return {testing::dump(tree), finished.load()};
  }

  // A server's first share list starts its RPC service, slower under load than the default
  // limit: a slow server, not a silent one.
  smb::WorkerPool pool_{[] {
    smb::WorkerPoolOptions options;
    options.progressTimeout = std::chrono::seconds(20);
    return options;
  }()};
  smb::SmbBrowseService browse_{pool_};
  smb::SmbDirectoryLister lister_{pool_};
  KillingS4 killing_{browse_, lister_};
  Executor executor_{16};
};

TEST_F(KilledHost, DiscoveryLosesOnlyThatHostsShares) {
  auto [expected, finishedOnce] = discover();
  ASSERT_EQ(finishedOnce, 1);
  // S4 keeps its node, without shares; everything else is as in a calm discovery.
  const auto s4 = expected.find("  S4\n");
  ASSERT_NE(s4, std::string::npos) << expected;
  auto end = s4 + 5;
  while (expected.compare(end, 4, "    ") == 0) end = expected.find('\n', end) + 1;
  expected.erase(s4 + 5, end - s4 - 5);

  killing_.armed = true;
  const auto [killed, finished] = discover();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(killed, expected);
}

TEST_F(KilledHost, SearchFailsTheRestOfTheShareAndFinishesOnce) {
  NetworkTree tree;
  const NodeId server = tree.insertTopLevel("S4", NodeKind::Server, InsertPosition::Last);
  const NodeId share = tree.insert(server, "Scratch", NodeKind::Share, InsertPosition::Last);
  std::mutex mutex;
  std::condition_variable done;
  std::size_t rows = 0;
  int finished = 0;
  SearchSummary summary;
  SearchEvents events;
  events.rows = [&](RunId, std::vector<ResultRow> batch) {
    std::lock_guard lock(mutex);
    rows += batch.size();
  };
  events.finished = [&](RunId, const SearchSummary& s) {
    std::lock_guard lock(mutex);
    ++finished;
    summary = s;
    done.notify_all();
  };
  killing_.beforeListing = 4;
  SearchController controller(tree, killing_, executor_);
  ASSERT_TRUE(controller.start(share, "*", events).ok());
  {
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished > 0; });
  }
  controller.waitUntilIdle();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(summary.rows, rows);
  EXPECT_GE(summary.failedFolders, 1u);
  EXPECT_LT(rows, 25u);  // the whole share has 25 entries
}

}  // namespace
}  // namespace vuv
