// The real worker against real Samba servers: the test network of tests/network/testnet.sh.
// Runs only with VUV_TESTNET=1, inside the network's client namespace:
//
//   export VUV_NET_PREFIX=vnb
//   tests/network/testnet.sh up
//   tests/network/testnet.sh exec env VUV_TESTNET=1 ctest --test-dir build -R RealNetwork
//   tests/network/testnet.sh down
//
// The expectations follow the network's layout: workgroups ALPHA (S1 with Public and Docs;
// S2 refusing anonymous users; S3 without SMB) and ZETA (Z1; Z2 dropping SMB packets).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"

namespace vuv::smb {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kShortTimeout = 2s;  // for the dropped host, to keep the test short

class RealNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* enabled = std::getenv("VUV_TESTNET");
    if (enabled == nullptr || std::string(enabled) != "1") {
      GTEST_SKIP() << "needs the Samba test network: set VUV_TESTNET=1 inside testnet.sh exec";
    }
  }

  static bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  static const DirectoryEntry* find(const std::vector<DirectoryEntry>& entries,
                                    const std::string& name) {
    for (const DirectoryEntry& e : entries) {
      if (e.name == name) return &e;
    }
    return nullptr;
  }
};

TEST_F(RealNetwork, BrowseListsShowWorkgroupsServersAndEveryShare) {
  WorkerPool pool;
  SmbBrowseService browse(pool);
  const BrowseReply domains = browse.listDomains({});
  ASSERT_EQ(domains.status, BrowseStatus::Success) << domains.failureDetail;
  EXPECT_TRUE(contains(domains.names, "ALPHA"));
  EXPECT_TRUE(contains(domains.names, "ZETA"));

  const BrowseReply servers = browse.listServers("ALPHA", {});
  ASSERT_EQ(servers.status, BrowseStatus::Success) << servers.failureDetail;
  for (const char* server : {"S1", "S2", "S3"}) EXPECT_TRUE(contains(servers.names, server));

  std::uint32_t resume = 0;
  const BrowseReply shares = browse.listShares("S1", resume, {});
  ASSERT_EQ(shares.status, BrowseStatus::Success) << shares.failureDetail;
  for (const char* share : {"Public", "Docs", "IPC$"}) EXPECT_TRUE(contains(shares.names, share));
}

TEST_F(RealNetwork, WorkerTakesItsArgumentsOrRefusesToStart) {
  struct Case {
    std::vector<std::string> arguments;
    bool starts;
  };
  const Case cases[] = {
      {{"--kerberos", "desired", "--debuglevel", "0"}, true},
      {{"--kerberos", "off", "--configfile", "/dev/null"}, true},
      {{"--kerberos", "sometimes"}, false},
      {{"--kerberos", "Required"}, false},
      {{"--debuglevel", "11"}, false},
      {{"--debuglevel", "-1"}, false},
      {{"--debuglevel", "2x"}, false},
      {{"--configfile"}, false},
      {{"--configfile", ""}, false},
      {{"--user", "joe"}, false},
  };
  for (const Case& c : cases) {
    WorkerPoolOptions options;
    options.workerArguments = c.arguments;
    WorkerPool pool(options);
    SmbBrowseService browse(pool);
    std::uint32_t resume = 0;
    const BrowseReply shares = browse.listShares("S1", resume, {});
    const std::string what = c.arguments.front() + " " + (c.arguments.size() > 1 ? c.arguments[1] : "");
    if (c.starts) {
      EXPECT_EQ(shares.status, BrowseStatus::Success) << what << ": " << shares.failureDetail;
    } else {
      EXPECT_EQ(shares.status, BrowseStatus::Failure) << what;
      EXPECT_NE(shares.failureDetail.find("exited with status 3"), std::string::npos)
          << what << ": " << shares.failureDetail;
    }
  }
}

TEST_F(RealNetwork, RefusedAndMissingServicesFailFast) {
  WorkerPool pool;
  SmbBrowseService browse(pool);
  std::uint32_t resume = 0;
  const BrowseReply refused = browse.listShares("S2", resume, {});
  EXPECT_EQ(refused.status, BrowseStatus::Failure);
  EXPECT_EQ(refused.failureCode, EACCES) << refused.failureDetail;

  const auto start = Clock::now();
  const BrowseReply noSmb = browse.listShares("S3", resume, {});
  EXPECT_EQ(noSmb.status, BrowseStatus::Failure);
  EXPECT_EQ(noSmb.failureCode, ECONNREFUSED) << noSmb.failureDetail;
  EXPECT_LT(Clock::now() - start, kDefaultProgressTimeout) << "a refused port is no timeout";
}

TEST_F(RealNetwork, FolderListingCarriesTypeSizeTimeAndIdFromTheListing) {
  WorkerPool pool;
  SmbDirectoryLister lister(pool);
  auto root = lister.list(R"(\\S1\Public)", {});
  ASSERT_TRUE(root.ok()) << describe(root.error());
  EXPECT_EQ(find(root->entries, "."), nullptr);
  EXPECT_EQ(find(root->entries, ".."), nullptr);
  EXPECT_NE(root->folderId, 0u) << "the share top's own id, from its \".\" entry";
  const DirectoryEntry* readme = find(root->entries, "readme.txt");
  ASSERT_NE(readme, nullptr);
  EXPECT_FALSE(readme->isFolder);
  EXPECT_EQ(readme->size, sizeof("Public share of S1") /* with its newline */);
  EXPECT_GT(readme->modified, 0);
  EXPECT_NE(find(root->entries, "\xC3\x9C" "bersicht.txt"), nullptr);
  const DirectoryEntry* loops = find(root->entries, "loops");
  ASSERT_NE(loops, nullptr);
  EXPECT_TRUE(loops->isFolder);
  EXPECT_EQ(loops->size, 0u);

  auto big = lister.list(R"(\\S1\Public\big)", {});
  ASSERT_TRUE(big.ok()) << describe(big.error());
  ASSERT_NE(find(big->entries, "huge-5GiB.iso"), nullptr);
  EXPECT_EQ(find(big->entries, "huge-5GiB.iso")->size, 5ull << 30);
  ASSERT_NE(find(big->entries, "size-4294967295.bin"), nullptr);
  EXPECT_EQ(find(big->entries, "size-4294967295.bin")->size, 4294967295ull);

  // A link back to its own folder carries that folder's file id: how walkers spot loops.
  auto inLoops = lister.list(R"(\\S1\Public\loops)", {});
  ASSERT_TRUE(inLoops.ok()) << describe(inLoops.error());
  ASSERT_NE(find(inLoops->entries, "loop"), nullptr);
  EXPECT_EQ(find(inLoops->entries, "loop")->fileId, loops->fileId);
  EXPECT_EQ(inLoops->folderId, loops->fileId);
}

TEST_F(RealNetwork, ReadsFilesAndReportsMissingOrDeniedPaths) {
  WorkerPool pool;
  SmbDirectoryLister lister(pool);
  auto readAll = [&](const std::string& unc) -> Result<std::string> {
    std::string bytes;
    std::uint64_t announced = 0;
    ReadHandlers handlers;
    handlers.opened = [&](const FileFacts& facts) {
      announced = facts.size;
      return true;
    };
    handlers.data = [&](const char* data, std::size_t size) {
      bytes.append(data, size);
      return true;
    };
    Status read = lister.read(unc, handlers, {});
    if (!read) return read.error();
    EXPECT_EQ(announced, bytes.size()) << unc;
    return bytes;
  };
  auto readme = readAll(R"(\\S1\Public\readme.txt)");
  ASSERT_TRUE(readme.ok()) << describe(readme.error());
  EXPECT_EQ(*readme, "Public share of S1\n");
  auto accented = readAll("\\\\S1\\Public\\\xC3\x84rger\\caf\xC3\xA9.jpg");
  ASSERT_TRUE(accented.ok()) << describe(accented.error());
  EXPECT_EQ(*accented, "caf\xC3\xA9\n");

  auto missing = lister.list(R"(\\S1\Public\no-such-folder)", {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  auto denied = lister.list(R"(\\S1\Public\denied)", {});
  ASSERT_FALSE(denied.ok());
  EXPECT_EQ(denied.error().code, ErrorCode::AccessDenied);
}

TEST_F(RealNetwork, DroppedHostTimesOutWithoutHoldingUpOthers) {
  WorkerPoolOptions options;
  options.progressTimeout = kShortTimeout;
  WorkerPool pool(options);
  SmbDirectoryLister lister(pool);

  std::atomic<bool> droppedDone = false;
  std::thread dropped([&] {
    const auto start = Clock::now();
    auto listed = lister.list(R"(\\Z2\Data)", {});
    ASSERT_FALSE(listed.ok());
    EXPECT_EQ(listed.error().code, ErrorCode::Timeout) << describe(listed.error());
    EXPECT_LT(Clock::now() - start, 3 * kShortTimeout);
    droppedDone = true;
  });
  for (int i = 0; i < 5; ++i) {
    auto docs = lister.list(R"(\\S1\Docs)", {});
    ASSERT_TRUE(docs.ok()) << describe(docs.error());
  }
  EXPECT_FALSE(droppedDone) << "requests to S1 waited for the dropped host";
  dropped.join();
}

}  // namespace
}  // namespace vuv::smb
