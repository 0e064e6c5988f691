// SmbBrowseService and SmbDirectoryLister over fake workers: what the core interfaces see of
// worker replies, worker failures and bad paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "fake_worker_pool.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"

namespace vuv::smb {
namespace {

using testing::fakeOptions;

TEST(SmbBrowseService, RepliesBecomeNamesOrAFailureWithItsErrno) {
  WorkerPool pool(fakeOptions());
  SmbBrowseService browse(pool);
  const BrowseReply listed = browse.listServers("list:3", {});
  EXPECT_EQ(listed.status, BrowseStatus::Success);
  EXPECT_EQ(listed.names, (std::vector<std::string>{"e0", "e1", "e2"}));
  const std::pair<const char*, int> failures[] = {{"fail:13", EACCES}, {"hang", ETIMEDOUT}, {"crash", EIO}};
  for (const auto& [name, failureCode] : failures) {
    const BrowseReply reply = browse.listServers(name, {});
    EXPECT_EQ(reply.status, BrowseStatus::Failure) << name;
    EXPECT_EQ(reply.failureCode, failureCode) << name;
    EXPECT_TRUE(reply.names.empty()) << name;
    EXPECT_FALSE(reply.failureDetail.empty()) << name;
  }
}

TEST(SmbDirectoryLister, ListingWhoseWorkerDiedIsRepeatedOnceOnAFreshWorker) {
  WorkerPool pool(fakeOptions());
  SmbDirectoryLister lister(pool);
  const std::string marker = "/tmp/vuv-fake-crashonce-" + std::to_string(::getpid()) + "-lister";
  auto listed = lister.list("\\\\fake\\crashonce:lister", {});
  ::unlink(marker.c_str());
  ASSERT_TRUE(listed.ok()) << describe(listed.error());
  ASSERT_EQ(listed->entries.size(), 3u);
  EXPECT_EQ(listed->entries[0].name, "e0");

  // A worker that dies after passing entries on, or every time, fails: entries passed on
  // cannot be taken back.
  auto crashed = lister.list("\\\\fake\\crash", {});
  ASSERT_FALSE(crashed.ok());
  EXPECT_EQ(crashed.error().code, ErrorCode::WorkerCrashed);
}

TEST(SmbDirectoryLister, ErrorsNameTheUncPath) {
  WorkerPool pool(fakeOptions());
  SmbDirectoryLister lister(pool);
  auto missing = lister.list(R"(\\srv\share\fail:2)", {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);
  EXPECT_NE(missing.error().detail.find(R"(\\srv\share\fail:2)"), std::string::npos);
  // No handle and no error: a failure, not an empty folder whose rows silently vanish.
  auto nothing = lister.list(R"(\\srv\share\empty)", {});
  ASSERT_FALSE(nothing.ok());
  EXPECT_NE(nothing.error().detail.find(R"(\\srv\share\empty)"), std::string::npos);
  auto bad = lister.list(R"(\\srv\\share)", {});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().code, ErrorCode::InvalidArgument);
  EXPECT_EQ(pool.workerCount(), 1u);  // the bad path never reached a worker
}

TEST(SmbDirectoryLister, ReadTellsTheSizeFirstDeliversEveryByteInOrderAndCanStop) {
  WorkerPool pool(fakeOptions());
  SmbDirectoryLister reader(pool);
  std::string bytes;
  std::optional<FileFacts> facts;
  ReadHandlers handlers;
  handlers.opened = [&](const FileFacts& told) { return facts = told, bytes.empty(); };
  handlers.data = [&](const char* data, std::size_t size) { return bytes.append(data, size), true; };
  Status read = reader.read(R"(\\srv\share\data:5000)", handlers, {});
  ASSERT_TRUE(read.ok()) << describe(read.error());
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->size, 5000u);
  EXPECT_EQ(facts->modified, 1700000000);
  ASSERT_EQ(bytes.size(), 5000u);
  for (std::size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(static_cast<unsigned char>(bytes[i]), i % 251) << i;

  // A worker that sends bytes without the size first is not believed.
  Status unsized = reader.read(R"(\\srv\share\unsized:10)", handlers, {});
  ASSERT_FALSE(unsized.ok());
  EXPECT_EQ(unsized.error().code, ErrorCode::Protocol);

  bytes.clear();
  handlers.data = [](const char*, std::size_t) { return false; };
  Status stopped = reader.read(R"(\\srv\share\data:5000)", handlers, {});
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().code, ErrorCode::Cancelled);
}

}  // namespace
}  // namespace vuv::smb
