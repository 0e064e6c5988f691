#include "browse/merged_browse_service.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>

#include "browse/in_memory_network.h"
#include "discovery/discovery.h"
#include "support/gate.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

using Names = std::vector<std::string>;

// Host discovery as a test scripts it; counts its rounds.
class FakeHosts final : public HostDiscovery {
 public:
  void answer(Result<std::vector<DiscoveredHost>> result) {
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
  }
  Result<std::vector<DiscoveredHost>> discover(std::stop_token stop) override {
    ++rounds;
    if (during) during(stop);
    std::lock_guard lock(mutex_);
    return result_;
  }
  std::atomic<int> rounds{0};
  std::function<void(std::stop_token)> during;  // set before the first round

 private:
  std::mutex mutex_;
  Result<std::vector<DiscoveredHost>> result_ = std::vector<DiscoveredHost>{};
};

DiscoveredHost host(std::string name, std::string group, std::string address = "") {
  return DiscoveredHost{std::move(name), std::move(group), false, std::move(address)};
}

BrowseReply failed(int code, std::string detail) {
  BrowseReply r;
  r.status = BrowseStatus::Failure;
  r.failureCode = code;
  r.failureDetail = std::move(detail);
  return r;
}

BrowseReply listed(Names names, BrowseStatus status = BrowseStatus::Success, std::uint32_t total = 0) {
  BrowseReply r;
  r.status = status;
  r.names = std::move(names);
  r.totalEntries = total;
  return r;
}

const Error kNoInterface =
    makeError(ErrorCode::Unreachable, "no network interface that is up and can multicast", ENETUNREACH);

struct Fixture {
  InMemoryNetwork netbios;
  FakeHosts hosts;
  HostAddressBook book;
  std::mutex mutex;
  Names calls;  // "domains", "servers:X", "shares:X" as NetBIOS saw them

  Fixture() {
    netbios.setCallHook([this](const std::string& what, const std::string& name, std::stop_token) {
      std::lock_guard lock(mutex);
      calls.push_back(name.empty() ? what : what + ":" + name);
    });
  }
  MergedBrowseService service(MergedBrowseService::Sources sources = {}) {
    return MergedBrowseService(netbios, &hosts, &book, sources, executor);
  }
  Executor executor{4};
};

TEST(MergedBrowse, DomainsFromBothSources) {
  struct Case {
    const char* what;
    std::optional<BrowseReply> netbios;  // nullopt: ALPHA and ZETA, as described
    Result<std::vector<DiscoveredHost>> hosts;
    BrowseReply expected;
    Names notes;  // the source each note names
  };
  const std::string noMaster = "NetBIOS", wsdFailed = "WS-Discovery";
  const Case cases[] = {
      {"browse lists only", std::nullopt, std::vector<DiscoveredHost>{}, listed({"ALPHA", "ZETA"}), {}},
      {"announcements only", listed({}), std::vector{host("M1", "MODERN")}, listed({"MODERN"}), {noMaster}},
      {"both, equal but for case", std::nullopt,
       std::vector{host("M2", "alpha"), host("M1", "MODERN"), host("M3", "Modern")},
       listed({"ALPHA", "ZETA", "MODERN"}), {}},
      {"browse lists failed", failed(110, "list smb://: timed out"), std::vector{host("M1", "MODERN")},
       listed({"MODERN"}), {"NetBIOS"}},
      {"both failed", failed(110, "list smb://: timed out"), kNoInterface, failed(110, "list smb://: timed out"),
       {wsdFailed}},
      {"browse lists failed, nothing announced", failed(110, "list smb://: timed out"), std::vector<DiscoveredHost>{},
       failed(110, "list smb://: timed out"), {}},
      {"announcements failed", std::nullopt, kNoInterface, listed({"ALPHA", "ZETA"}), {wsdFailed}},
      {"more data", listed({"A", "B"}, BrowseStatus::MoreData, 10), std::vector{host("M", "C"), host("N", "a")},
       listed({"A", "B", "C"}, BrowseStatus::MoreData, 11), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    f.netbios.addDomain("ALPHA");
    f.netbios.addDomain("ZETA");
    if (c.netbios) f.netbios.scriptDomains(*c.netbios);
    f.hosts.answer(c.hosts);
    MergedBrowseService merged = f.service();
    const BrowseReply reply = merged.listDomains({});
    const auto fields = [](const BrowseReply& r) {
      return std::tuple(r.status, r.names, r.failureCode, r.failureDetail, r.totalEntries);
    };
    EXPECT_EQ(fields(reply), fields(c.expected));
    ASSERT_EQ(reply.notes.size(), c.notes.size());
    for (std::size_t i = 0; i < c.notes.size(); ++i) EXPECT_TRUE(reply.notes[i].starts_with(c.notes[i])) << reply.notes[i];
  }
}

TEST(MergedBrowse, ServersOfADomain) {
  Fixture f;
  f.netbios.addServer("ALPHA", "S1");
  f.netbios.addServer("ALPHA", "S2");
  f.netbios.addServer("ZETA", "Z1");
  f.hosts.answer(std::vector{host("M2", "ALPHA"), host("s1", "alpha"), host("M1", "MODERN"), host("m1", "MODERN"),
                             host("D1", "ZETA")});
  f.netbios.scriptServers("ZETA", failed(13, "list smb://ZETA: denied"));
  MergedBrowseService merged = f.service();
  ASSERT_EQ(merged.listDomains({}).names, (Names{"ALPHA", "ZETA", "MODERN"}));

  const BrowseReply alpha = merged.listServers("ALPHA", {});
  EXPECT_EQ(alpha.names, (Names{"S1", "S2", "M2"}));  // the browse list's spelling of S1 wins
  EXPECT_TRUE(alpha.notes.empty());

  const BrowseReply modern = merged.listServers("modern", {});
  EXPECT_EQ(modern.names, (Names{"M1"}));  // one entry per name

  const BrowseReply zeta = merged.listServers("ZETA", {});
  EXPECT_EQ(zeta.status, BrowseStatus::Success);
  EXPECT_EQ(zeta.names, (Names{"D1"}));
  ASSERT_EQ(zeta.notes.size(), 1u);
  EXPECT_TRUE(zeta.notes[0].starts_with("NetBIOS") && zeta.notes[0].find("ZETA") != std::string::npos) << zeta.notes[0];

  // Added by name and known to neither: the browse lists' answer, unchanged.
  const BrowseReply unknown = merged.listServers("NOSUCHGROUP", {});
  EXPECT_EQ(unknown.status, BrowseStatus::Failure);
  EXPECT_EQ(unknown.failureCode, ENOENT);
  EXPECT_TRUE(unknown.notes.empty());

  // MODERN is announced only: NetBIOS was never asked for it.
  EXPECT_EQ(f.calls, (Names{"domains", "servers:ALPHA", "servers:ZETA", "servers:NOSUCHGROUP"}));
}

// Guards against asking NetBIOS for workgroups it never listed when its listing failed: with no
// SMB1 master anywhere each such request would wait for its timeout.
TEST(MergedBrowse, AnnouncedDomainsAreNotBrowsedWhenBrowsingFailed) {
  Fixture f;
  f.netbios.scriptDomains(failed(110, "timed out"));
  f.hosts.answer(std::vector{host("M2", "ALPHA"), host("M1", "MODERN")});
  MergedBrowseService merged = f.service();
  EXPECT_EQ(merged.listDomains({}).names, (Names{"ALPHA", "MODERN"}));
  EXPECT_EQ(merged.listServers("ALPHA", {}).names, (Names{"M2"}));
  EXPECT_EQ(f.calls, (Names{"domains"}));
}

// Announcements alone: a failed round is the listing's failure, not a note beside an empty list.
TEST(MergedBrowse, AnnouncedOnlyFailsWithItsRound) {
  Fixture f;
  f.hosts.answer(kNoInterface);
  const BrowseReply reply = f.service({false, true}).listDomains({});
  EXPECT_EQ(reply.status, BrowseStatus::Failure);
  EXPECT_EQ(reply.failureCode, ENETUNREACH);
  EXPECT_TRUE(reply.failureDetail.starts_with("WS-Discovery")) << reply.failureDetail;
  EXPECT_TRUE(f.calls.empty());
}

TEST(MergedBrowse, OneRoundPerDiscoveryWhateverTheThreads) {
  Fixture f;
  f.hosts.answer(std::vector{host("M1", "MODERN", "10.213.0.31"), host("NOADDR", "MODERN")});
  MergedBrowseService merged = f.service();

  // Domains added by name before any discovery: the first listServers starts the round, the
  // others wait for it.
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { EXPECT_EQ(merged.listServers("MODERN", {}).names, (Names{"M1", "NOADDR"})); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(f.hosts.rounds.load(), 1);
  EXPECT_EQ(f.book.lookup("m1"), "10.213.0.31");
  EXPECT_EQ(f.book.lookup("NOADDR"), std::nullopt);

  // A discovery starts afresh, and its workers use its round; its addresses replace the last.
  f.hosts.answer(std::vector{host("M1", "MODERN", "10.213.0.99"), host("M9", "MODERN")});
  merged.listDomains({});
  EXPECT_EQ(merged.listServers("MODERN", {}).names, (Names{"M1", "M9"}));
  EXPECT_EQ(merged.listServers("MODERN", {}).names, (Names{"M1", "M9"}));
  EXPECT_EQ(f.hosts.rounds.load(), 2);
  EXPECT_EQ(f.book.lookup("M1"), "10.213.0.99");
}

// Guards against running the round after the NetBIOS listing instead of beside it: each waits
// until the other has started, so that fault shows as a test that never ends.
TEST(MergedBrowse, BrowseListAndRoundRunSideBySide) {
  Fixture f;
  testing::Gate round, browse;
  f.hosts.during = [&](std::stop_token) {
    round.wait();
    browse.waitForWaiters(1);
  };
  f.netbios.setCallHook([&](const std::string& what, const std::string&, std::stop_token) {
    if (what != "domains") return;
    round.waitForWaiters(1);
    round.open();
    browse.open();
    browse.wait();
  });
  MergedBrowseService merged = f.service();
  EXPECT_EQ(merged.listDomains({}).status, BrowseStatus::Success);
}

// Guards against the domain listing waiting for a round that no executor thread is free to run.
TEST(MergedBrowse, DiscoveryOnASingleThreadShowsBothSources) {
  Fixture f;
  f.netbios.addServer("ALPHA", "S1", {"Public"});
  f.hosts.answer(std::vector{host("M2", "ALPHA", "10.0.0.32"), host("M1", "MODERN", "10.0.0.31")});
  Executor executor(1);
  MergedBrowseService merged(f.netbios, &f.hosts, &f.book, {}, executor);
  NetworkTree tree;
  testing::RecordingDiagnostics diagnostics;
  Discovery discovery(tree, merged, diagnostics, executor, {});
  ASSERT_TRUE(discovery.discover().ok());
  discovery.waitUntilIdle();
  EXPECT_EQ(testing::dump(tree), "MS Windows Network\n  ALPHA\n    M2\n    S1\n      Public\n  MODERN\n    M1\n");
  EXPECT_EQ(f.hosts.rounds.load(), 1);
}

// Guards against a stopped discovery waiting for the host discovery round (and the service's
// destructor waiting for a round nobody stopped).
TEST(MergedBrowse, StoppedCallersDoNotWaitForTheRound) {
  Fixture f;
  testing::Gate round;  // never opened: a round answers only when stopped
  f.hosts.during = [&](std::stop_token stop) { round.wait(stop); };
  auto merged = std::make_unique<MergedBrowseService>(f.netbios, &f.hosts, &f.book, MergedBrowseService::Sources{},
                                                      f.executor);
  std::stop_source discovery;
  std::thread stopper([&] {
    round.waitForWaiters(1);
    discovery.request_stop();
  });
  EXPECT_EQ(merged->listDomains(discovery.get_token()).failureCode, ECANCELED);
  stopper.join();

  // The stopped round is not relied on: listServers starts another, and a stopped caller
  // leaves it running and returns.
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_EQ(merged->listServers("ALPHA", stopped.get_token()).failureCode, ECANCELED);
  round.waitForWaiters(2);
  merged.reset();  // stops the round that still runs, and returns
  EXPECT_EQ(f.hosts.rounds.load(), 2);
}

}  // namespace
}  // namespace vuv
