#include "discovery/enumeration.h"

#include <gtest/gtest.h>

#include <mutex>
#include <stop_token>
#include <vector>

#include "browse/in_memory_network.h"
#include "support/recording_diagnostics.h"
#include "support/tree_dump.h"

namespace vuv {
namespace {

using testing::dump;

struct Fixture {
  NetworkTree tree;
  InMemoryNetwork network;
  testing::RecordingDiagnostics diagnostics;
  std::vector<std::string> statuses;
  std::vector<std::string> failures;
  std::stop_source stop;
  NodeId root = tree.insertTopLevel(std::string(kRootText), NodeKind::Root, InsertPosition::Last);

  EnumerationContext context() {
    return {tree, network, diagnostics, [this](const StatusUpdate& s) { statuses.push_back(statusText(s)); },
            stop.get_token(), [this](const ListingFailure& failure) { failures.push_back(failureText(failure)); }};
  }
};

BrowseReply reply(BrowseStatus status, std::vector<std::string> names, int code = 0,
                  std::uint32_t total = 0) {
  BrowseReply r;
  r.status = status;
  r.names = std::move(names);
  r.failureCode = code;
  r.totalEntries = total;
  return r;
}

// Names are inserted sorted and counted only when there are any; the listing's notes come
// after its own lines, whatever its status. (The lines' words are checked where they are shown.)
TEST(Enumeration, DomainsAndDiagnosticLines) {
  struct Case {
    const char* name;
    BrowseReply domains;
    const char* tree;
    bool counted;
  };
  const Case cases[] = {
      {"success is sorted", reply(BrowseStatus::Success, {"ZETA", "ALPHA"}), "MS Windows Network\n  ALPHA\n  ZETA\n", true},
      {"failure", reply(BrowseStatus::Failure, {}, 53), "MS Windows Network\n", false},
      {"more data keeps the first batch", reply(BrowseStatus::MoreData, {"B", "A"}, 0, 10), "MS Windows Network\n  A\n  B\n",
       true},
      {"empty success", reply(BrowseStatus::Success, {}), "MS Windows Network\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    BrowseReply domains = c.domains;
    domains.notes = {"first note", "second note"};
    f.network.scriptDomains(domains);
    enumerateServers(f.context(), true, {}, f.root);
    EXPECT_EQ(dump(f.tree), c.tree);
    EXPECT_EQ(f.diagnostics.out().find(std::to_string(c.domains.names.size())) != std::string::npos, c.counted);
    EXPECT_TRUE(f.diagnostics.err().ends_with("first note\nsecond note\n")) << f.diagnostics.err();
  }
}

TEST(Enumeration, ServersGetTheirSharesBeforeTheNextServer) {
  Fixture f;
  f.network.addServer("WORKGROUP", "SERVER2", {"Data"});
  f.network.addServer("WORKGROUP", "SERVER1", {"Public", "IPC$", "ADMIN$"});
  f.network.addServer("WORKGROUP", "DOWN", {"Lost"});
  f.network.failShares("DOWN", 113);
  std::vector<std::string> order;
  f.network.setCallHook(
      [&](const std::string& what, const std::string& name, std::stop_token) { order.push_back(what + ":" + name); });

  const NodeId domain = f.tree.insert(f.root, "WORKGROUP", NodeKind::Domain, InsertPosition::Sorted);
  enumerateServers(f.context(), false, "WORKGROUP", domain);

  EXPECT_EQ(dump(f.tree),
            "MS Windows Network\n"
            "  WORKGROUP\n"
            "    DOWN\n"
            "    SERVER1\n"
            "      Public\n"
            "      IPC$\n"
            "      ADMIN$\n"
            "    SERVER2\n"
            "      Data\n");
  EXPECT_EQ(order, (std::vector<std::string>{"servers:WORKGROUP", "shares:SERVER2", "shares:SERVER1",
                                             "shares:DOWN"}));
  EXPECT_EQ(f.statuses, (std::vector<std::string>{statusText(GettingInformation{"WORKGROUP\\SERVER2"}),
                                                  statusText(GettingInformation{"WORKGROUP\\SERVER1"}),
                                                  statusText(GettingInformation{"WORKGROUP\\DOWN"})}));
  // A failed share listing writes no diagnostic line; it is an event of its own.
  EXPECT_EQ(f.diagnostics.err(), "");
  EXPECT_EQ(f.failures, std::vector<std::string>{failureText({"\\\\DOWN", makeError(ErrorCode::Unreachable)})});
}

TEST(Enumeration, SharesAcrossBatchesKeepServerOrder) {
  Fixture f;
  f.network.addServer("W", "BIG", {"s1", "s2", "s3", "s4", "s5"});
  f.network.batchShares("BIG", 2);
  const NodeId server = f.tree.insert(f.root, "BIG", NodeKind::Server, InsertPosition::Sorted);
  enumerateShares(f.context(), "BIG", server);
  EXPECT_EQ(dump(f.tree), "MS Windows Network\n  BIG\n    s1\n    s2\n    s3\n    s4\n    s5\n");
}

// Guards against a browse service that reports more data but never advances.
class StuckShares final : public BrowseService {
 public:
  BrowseReply listDomains(std::stop_token) override { return {}; }
  BrowseReply listServers(std::string_view, std::stop_token) override { return {}; }
  BrowseReply listShares(std::string_view, std::uint32_t&, std::stop_token) override {
    return reply(BrowseStatus::MoreData, {"again"}, 0, 99);
  }
};

TEST(Enumeration, MoreDataWithoutProgressEnds) {
  NetworkTree tree;
  StuckShares browse;
  testing::RecordingDiagnostics diagnostics;
  const NodeId server = tree.insertTopLevel("S", NodeKind::Server, InsertPosition::Last);
  enumerateShares({tree, browse, diagnostics, {}, {}, {}}, "S", server);
  EXPECT_EQ(tree.children(server).size(), 1u);
}

// Guards against servers and shares landing at the top level once their parent went away.
TEST(Enumeration, ParentGoneOrStoppedEndsTheWorker) {
  for (const bool clear : {true, false}) {
    SCOPED_TRACE(clear ? "tree cleared" : "stopped");
    Fixture f;
    f.network.addServer("W", "S1", {"a"});
    f.network.addServer("W", "S2", {"b"});
    f.network.addServer("W", "S3", {"c"});
    const NodeId domain = f.tree.insert(f.root, "W", NodeKind::Domain, InsertPosition::Sorted);
    std::vector<std::string> calls;
    f.network.setCallHook([&](const std::string& what, const std::string& name, std::stop_token) {
      calls.push_back(what + ":" + name);
      if (name != "S2") return;
      if (clear) {
        f.tree.clear();
      } else {
        f.stop.request_stop();
      }
    });
    enumerateServers(f.context(), false, "W", domain);
    EXPECT_EQ(calls, (std::vector<std::string>{"servers:W", "shares:S1", "shares:S2"}));
    EXPECT_EQ(dump(f.tree), clear ? "" : "MS Windows Network\n  W\n    S1\n      a\n    S2\n");
    EXPECT_TRUE(f.failures.empty());
  }
}

}  // namespace
}  // namespace vuv
