// The real worker against the Samba servers of tests/network (see its README for the shares):
// what one listing carries that no end-to-end test looks at (sizes past 32 bits, the file ids
// that show loops, names beyond ASCII), and which log-on a share gets. Runs inside the
// network's client namespace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "list_prompt.h"
#include "smb/client/smb_directory_lister.h"

namespace vuv::smb {
namespace {

std::map<std::string, DirectoryEntry> byName(const DirectoryListing& listing) {
  std::map<std::string, DirectoryEntry> entries;
  for (const DirectoryEntry& e : listing.entries) entries[e.name] = e;
  return entries;
}

TEST(RealWorker, ListingCarriesTypeSizeTimeAndIdAndLeavesOutDotEntries) {
  WorkerPool pool;
  SmbDirectoryLister lister(pool);
  auto root = lister.list(R"(\\S1\Public)", {});
  ASSERT_TRUE(root.ok()) << describe(root.error());
  auto top = byName(*root);
  EXPECT_FALSE(top.contains(".") || top.contains(".."));
  EXPECT_TRUE(top.contains("\xC3\x9C" "bersicht.txt"));  // UTF-8 names arrive as they are
  EXPECT_FALSE(top["readme.txt"].isFolder);
  EXPECT_GT(top["readme.txt"].modified, 0);
  EXPECT_TRUE(top["loops"].isFolder);
  EXPECT_NE(root->folderId, 0u) << "the share top's own id, from its \".\" entry";

  auto big = lister.list(R"(\\S1\Public\big)", {});
  ASSERT_TRUE(big.ok()) << describe(big.error());
  EXPECT_EQ(byName(*big)["huge-5GiB.iso"].size, 5ull << 30);
  EXPECT_EQ(byName(*big)["size-4294967295.bin"].size, 4294967295ull);

  // A link back to its own folder carries that folder's file id: how walkers spot loops.
  auto loops = lister.list(R"(\\S1\Public\loops)", {});
  ASSERT_TRUE(loops.ok()) << describe(loops.error());
  EXPECT_EQ(byName(*loops)["loop"].fileId, top["loops"].fileId);
  EXPECT_EQ(loops->folderId, top["loops"].fileId);
}

// S2 takes its account everywhere but in Vault, which admits only an account of its own: asked
// for in the same request, and kept for Vault alone by the one worker that holds both.
TEST(RealWorker, AShareRefusingItsServersLogOnGetsOneOfItsOwn) {
  const auto env = [](const char* name) { return std::string(std::getenv(name) ? std::getenv(name) : ""); };
  testing::ListPrompt prompt({Credentials{"", env("VUV_NET_USER"), env("VUV_NET_PASSWORD")},
                              Credentials{"", env("VUV_NET_VAULT_USER"), env("VUV_NET_VAULT_PASSWORD")}});
  WorkerPoolOptions options;
  options.prompt = &prompt;
  options.maxWorkers = 1;
  WorkerPool pool(options);
  SmbDirectoryLister lister(pool);
  const std::pair<const char*, const char*> steps[] = {
      {R"(\\S2\Private)", "salaries.xls"}, {R"(\\S2\Vault)", "keys.txt"}, {R"(\\S2\Private)", "salaries.xls"}};
  for (const auto& [share, file] : steps) {
    auto listing = lister.list(share, {});
    ASSERT_TRUE(listing.ok()) << share << ": " << describe(listing.error());
    EXPECT_TRUE(byName(*listing).contains(file)) << share;
  }
  EXPECT_EQ(prompt.asked, 2);
  EXPECT_EQ(prompt.where, "S2/Vault");
  EXPECT_EQ(prompt.reason, LogOnReason::ServerLogOnRefused);
}

}  // namespace
}  // namespace vuv::smb
