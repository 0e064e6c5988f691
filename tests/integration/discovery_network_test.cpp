// Discovery on the Samba test network: real hosts, real libsmbclient, real worker processes.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "discovery/discovery.h"
#include "integration/network_test_support.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/worker_pool.h"
#include "support/recording_diagnostics.h"
#include "treefile/tree_file_writer.h"

namespace vuv {
namespace {

using namespace std::chrono_literals;

// Passes every call on, and lets a test act just before a server's shares are listed.
class HookedBrowse final : public BrowseService {
 public:
  explicit HookedBrowse(BrowseService& inner) : inner_(inner) {}
  std::function<void(std::string_view server)> beforeShares;

  BrowseReply listDomains(std::stop_token stop) override { return inner_.listDomains(stop); }
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override {
    return inner_.listServers(domain, stop);
  }
  BrowseReply listShares(std::string_view server, std::uint32_t& resume, std::stop_token stop) override {
    if (beforeShares) beforeShares(server);
    return inner_.listShares(server, resume, stop);
  }

 private:
  BrowseService& inner_;
};

class DiscoveryOnNetwork : public ::testing::Test {
 protected:
  explicit DiscoveryOnNetwork(std::chrono::milliseconds timeout = smb::kDefaultProgressTimeout)
      : pool_([&] {
          smb::WorkerPoolOptions options;
          options.progressTimeout = timeout;
          return options;
        }()) {}

  // Runs `start` and waits for the completion; returns how many completions came.
  int discover(const std::function<void(Discovery&)>& start) {
    std::atomic<int> finished{0};
    {
      DiscoveryEvents events;
      events.finished = [&](RunId) { ++finished; };
      Discovery discovery(tree_, hooked_, diagnostics_, executor_, std::move(events));
      start(discovery);
      discovery.waitUntilIdle();
    }
    return finished.load();
  }

  std::string treeFile() {
    auto bytes = formatTree(tree_, tree_.root());
    return bytes ? *bytes : describe(bytes.error());
  }

  smb::WorkerPool pool_;
  smb::SmbBrowseService browse_{pool_};
  HookedBrowse hooked_{browse_};
  NetworkTree tree_;
  testing::RecordingDiagnostics diagnostics_;
  Executor executor_{16};
};

TEST_F(DiscoveryOnNetwork, TreeIsTheNetworksStructure) {
  EXPECT_EQ(discover([](Discovery& d) { ASSERT_TRUE(d.discover().ok()); }), 1);
  // S2 refuses its share list, S3 has no SMB service, Z2 drops SMB: all three without shares.
  EXPECT_EQ(treeFile(), testing::readFile(VUV_EXPECTED_TREE));
  EXPECT_NE(diagnostics_.out().find("\nEntries enumerated: 2\n"), std::string::npos) << diagnostics_.out();
}

TEST_F(DiscoveryOnNetwork, UnknownWorkgroupStaysEmptyAndCompletes) {
  const auto started = std::chrono::steady_clock::now();
  // Added once the discovery is done, as a person would: a run of its own.
  EXPECT_EQ(discover([](Discovery& d) {
              ASSERT_TRUE(d.discover().ok());
              d.waitUntilIdle();
              d.addDomain("NOSUCHGROUP");
            }),
            2);
  const NodeId added = tree_.children(tree_.root()).back();
  EXPECT_EQ(tree_.text(added), "NOSUCHGROUP");
  EXPECT_FALSE(tree_.hasChildren(added));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
}

class DiscoveryWithSlowTimeout : public DiscoveryOnNetwork {
 protected:
  DiscoveryWithSlowTimeout() : DiscoveryOnNetwork(30s) {}
};

// A worker killed while it waits on a silent host costs that request only, at once, and the
// next request gets a fresh worker.
TEST_F(DiscoveryWithSlowTimeout, KilledWorkerCostsOnlyItsRequest) {
  std::thread killer;
  hooked_.beforeShares = [&](std::string_view server) {
    if (server != "Z2") return;
    killer = std::thread([] {
      std::this_thread::sleep_for(500ms);  // let the request reach the worker
      for (pid_t pid : testing::ourWorkerProcesses()) ::kill(pid, SIGKILL);
    });
  };
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(discover([](Discovery& d) { d.addDomain("ZETA"); }), 1);
  killer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << "waited for the timeout, not the crash";

  const NodeId zeta = tree_.firstChild(kNoNode);
  const auto servers = tree_.children(zeta);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(tree_.text(servers[0]), "Z1");
  EXPECT_EQ(tree_.children(servers[0]).size(), 2u);  // Data, IPC$
  EXPECT_FALSE(tree_.hasChildren(servers[1]));

  std::uint32_t resume = 0;
  const BrowseReply again = browse_.listShares("Z1", resume, {});
  EXPECT_EQ(again.status, BrowseStatus::Success);
  EXPECT_EQ(again.names, (std::vector<std::string>{"Data", "IPC$"}));
}

// A host that dies in the middle of a discovery loses its own shares and nothing else.
TEST_F(DiscoveryOnNetwork, HostKilledDuringDiscovery) {
  hooked_.beforeShares = [](std::string_view server) {
    if (server == "S4") {
      ASSERT_EQ(testing::runTestNetwork("kill-host S4"), 0);
    }
  };
  const auto started = std::chrono::steady_clock::now();
  const int finished = discover([](Discovery& d) { ASSERT_TRUE(d.discover().ok()); });
  const auto elapsed = std::chrono::steady_clock::now() - started;
  // Bring the network back for whatever runs next, before any assertion can fail.
  const bool restarted = testing::runTestNetwork("start-host S4") == 0;

  EXPECT_EQ(finished, 1);
  EXPECT_LT(elapsed, 60s);
  std::string expected = testing::readFile(VUV_EXPECTED_TREE);
  // S4 keeps its node, without shares; everything else is as always.
  const std::string s4 = "1S4\n0Scratch\n0IPC$\n";
  const auto at = expected.find(s4);
  ASSERT_NE(at, std::string::npos);
  expected.replace(at, s4.size(), "0S4\n");
  EXPECT_EQ(treeFile(), expected);
  EXPECT_TRUE(restarted);
}

}  // namespace
}  // namespace vuv
