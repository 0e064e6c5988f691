// The real worker against the Samba servers of tests/network (see its README for the shares):
// what one listing carries that no end-to-end test looks at (sizes past 32 bits, the file ids
// that show loops, names beyond ASCII). Runs inside the network's client namespace.
#include <gtest/gtest.h>

#include <map>

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

}  // namespace
}  // namespace vuv::smb
