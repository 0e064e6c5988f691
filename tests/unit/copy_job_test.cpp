// Copies from in-memory shares into a real temporary folder: what lands where, what is left
// after every kind of failure (nothing), how the errors read, and the progress arithmetic.
#include "transfer/copy_job.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>

#include "browse/in_memory_shares.h"
#include "support/temp_folder.h"
#include "transfer/transfer_progress.h"

namespace vuv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kShare = R"(\\srv\share)";

std::string at(const std::string& relative) { return kShare + '\\' + relative; }

mode_t umaskNow() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string generated(const std::string& unc, std::uint64_t size) {
  std::string bytes(size, '\0');
  for (std::uint64_t i = 0; i < size; ++i) bytes[i] = InMemoryShares::generatedByte(unc, i);
  return bytes;
}

// An error's words name the remote item and, for local failures, the local path; the words
// themselves are the one place's that turns errors into text.
void expectNames(const Error& error, const std::string& remote, const std::string& local = "") {
  const std::string text = describe(error);
  EXPECT_NE(text.find(remote), std::string::npos) << text;
  if (!local.empty()) {
    EXPECT_NE(text.find(local), std::string::npos) << text;
  }
}

class CopyJobTest : public testing::TempFolder {
 protected:
  void SetUp() override {
    TempFolder::SetUp();
    std::filesystem::create_directory(dest_ = folder_ / "dest");
    shares_.addFolder(kShare);
  }
  static std::string readLocal(const fs::path& path) { return readFile(path.string()); }
  std::vector<std::string> everything() const { return entries("dest"); }

  Result<std::string> copy(const std::string& item, bool isFolder, bool replace = false,
                           std::stop_token stop = {}, const CopySettings& settings = {}) {
    return copyToFolder(CopyRequest{item, isFolder, dest_.string(), replace}, shares_, shares_, stop,
                        [this](const TransferProgress& p) { progress_.push_back(p); }, settings);
  }

  fs::path dest_;
  InMemoryShares shares_;
  std::vector<TransferProgress> progress_;
};

TEST_F(CopyJobTest, FileArrivesWholeUnderItsNameWithItsTimeAndNothingElse) {
  const std::string unc = at(R"(dir\report.bin)");
  const std::uint64_t size = 5 * InMemoryShares::kReadChunk + 123;  // several chunks, a short last one
  shares_.addFile(unc, size);
  shares_.setContents(at("dir\\dated.txt"), "dated", 1700000000);

  auto copied = copy(unc, false);
  ASSERT_TRUE(copied.ok()) << describe(copied.error());
  EXPECT_EQ(*copied, (dest_ / "report.bin").string());
  EXPECT_EQ(readLocal(*copied), generated(unc, size));
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.front().bytesTotal, size);
  EXPECT_EQ(progress_.back().currentItem, unc);

  ASSERT_TRUE(copy(at("dir\\dated.txt"), false).ok());
  EXPECT_EQ(readLocal(dest_ / "dated.txt"), "dated");
  struct stat status {};
  ASSERT_EQ(::stat((dest_ / "dated.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1700000000);
  EXPECT_EQ((status.st_mode & 0777), 0666 & ~umaskNow());
  EXPECT_EQ(everything(), (std::vector<std::string>{"dated.txt", "report.bin"}));
}

TEST_F(CopyJobTest, ZeroBlocksStaySparseAndTheLengthIsKept) {
  const std::string unc = at("disk.img");
  std::string bytes(3 * InMemoryShares::kReadChunk, '\0');
  bytes[InMemoryShares::kReadChunk + 7] = 'x';  // data between two holes, a hole at the end
  shares_.setContents(unc, bytes);
  ASSERT_TRUE(copy(unc, false).ok());
  EXPECT_EQ(readLocal(dest_ / "disk.img"), bytes);
}

TEST_F(CopyJobTest, FolderCopyTakesEverythingBelowWithOneProgressAgainstTheTotal) {
  shares_.setContents(at(R"(proj\a.txt)"), "alpha", 1600000000);
  shares_.addFile(at(R"(proj\src\main.bin)"), 70000);
  shares_.setContents(at(R"(proj\src\deep\z.txt)"), "zed");
  shares_.addFolder(at(R"(proj\empty)"));
  shares_.addFile(at(R"(proj\.hidden\h)"), 10);
  const std::uint64_t total = 5 + 70000 + 3 + 10;

  CopySettings settings;
  TransferClock::time_point now{};
  settings.clock = [&] { return now += 100ms; };
  auto copied = copy(at("proj"), true, false, {}, settings);
  ASSERT_TRUE(copied.ok()) << describe(copied.error());
  const fs::path top = dest_ / "proj";
  EXPECT_EQ(*copied, top.string());
  EXPECT_EQ(everything(), (std::vector<std::string>{"proj", "proj/.hidden", "proj/.hidden/h", "proj/a.txt",
                                                          "proj/empty", "proj/src", "proj/src/deep",
                                                          "proj/src/deep/z.txt", "proj/src/main.bin"}));
  EXPECT_EQ(readLocal(top / "src" / "main.bin"), generated(at(R"(proj\src\main.bin)"), 70000));
  EXPECT_EQ(readLocal(top / "src" / "deep" / "z.txt"), "zed");
  struct stat status {};
  ASSERT_EQ(::stat((top / "a.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1600000000);
  ASSERT_EQ(::stat(top.c_str(), &status), 0);
  EXPECT_EQ((status.st_mode & 0777), 0777 & ~umaskNow());  // no longer private once in place

  // The total is known before the first byte and never changes; bytes only grow.
  const auto first = std::find_if(progress_.begin(), progress_.end(), [](const auto& p) { return p.bytesDone > 0; });
  ASSERT_NE(first, progress_.end());
  for (auto it = first; it != progress_.end(); ++it) {
    EXPECT_EQ(it->bytesTotal, total);
    if (it != first) {
      EXPECT_GE(it->bytesDone, (it - 1)->bytesDone);
    }
  }
}

TEST_F(CopyJobTest, ExistingNamesStayUnlessReplacedAndReplacingSwapsKinds) {
  shares_.setContents(at("a.txt"), "new file");
  shares_.setContents(at(R"(box\inside.txt)"), "new folder");
  { std::ofstream(dest_ / "a.txt") << "old file"; }
  fs::create_directories(dest_ / "box" / "old-sub");

  auto refused = copy(at("a.txt"), false);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, ErrorCode::AlreadyExists);
  expectNames(refused.error(), at("a.txt"), (dest_ / "a.txt").string());
  EXPECT_EQ(shares_.listCount(kShare), 0u);  // refused before anything was read
  ASSERT_FALSE(copy(at("box"), true).ok());
  EXPECT_EQ(readLocal(dest_ / "a.txt"), "old file");

  ASSERT_TRUE(copy(at("a.txt"), false, true).ok());
  EXPECT_EQ(readLocal(dest_ / "a.txt"), "new file");
  ASSERT_TRUE(copy(at("box"), true, true).ok());
  EXPECT_EQ(everything(), (std::vector<std::string>{"a.txt", "box", "box/inside.txt"}));

  // A folder in place of a file and a file in place of a folder.
  shares_.setContents(at("box2"), "now a file");
  fs::create_directories(dest_ / "box2" / "x");
  shares_.addFile(at(R"(a2\f)"), 3);
  { std::ofstream(dest_ / "a2") << "was a file"; }
  ASSERT_TRUE(copy(at("box2"), false, true).ok());
  ASSERT_TRUE(copy(at("a2"), true, true).ok());
  EXPECT_EQ(readLocal(dest_ / "box2"), "now a file");
  EXPECT_TRUE(fs::is_regular_file(dest_ / "a2" / "f"));
  EXPECT_EQ(everything().size(), 6u);  // a.txt box box/inside.txt box2 a2 a2/f: no leftovers
}

TEST_F(CopyJobTest, StopOrAFailingReadMidCopyLeavesNothingAndAnOldFileUntouched) {
  const std::string big = at(R"(tree\sub\big.bin)");
  shares_.setContents(at(R"(tree\first.txt)"), "first");
  shares_.addFile(big, 10 * InMemoryShares::kReadChunk);
  { std::ofstream(dest_ / "big.bin") << "old"; }

  // Stop while the third chunk is read, in a file copy that replaces and in a folder copy.
  for (const bool folder : {false, true}) {
    std::stop_source stop;
    shares_.setReadHook([&](const std::string&, std::uint64_t offset, std::stop_token) {
      if (offset >= 2 * InMemoryShares::kReadChunk) stop.request_stop();
    });
    auto stopped = copy(folder ? at("tree") : big, folder, true, stop.get_token());
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error().code, ErrorCode::Cancelled);
    EXPECT_EQ(everything(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(readLocal(dest_ / "big.bin"), "old");
  }
  shares_.setReadHook({});

  shares_.failRead(big, 3 * InMemoryShares::kReadChunk, makeError(ErrorCode::AccessDenied, "reading", EACCES));
  for (const bool folder : {false, true}) {
    auto failed = copy(folder ? at("tree") : big, folder, true);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code, ErrorCode::AccessDenied);
    expectNames(failed.error(), big);
    EXPECT_EQ(everything(), std::vector<std::string>{"big.bin"});
  }
}

TEST_F(CopyJobTest, FewerOrMoreBytesThanAnnouncedFailTheCopy) {
  // Made-up sizes whose sum passes the largest number: the total holds at it.
  for (const std::string& unc : {at(R"(short\a)"), at(R"(short\b)")}) {
    shares_.addFile(unc, std::uint64_t{1} << 63);
    shares_.failRead(unc, 150000, std::nullopt);  // the stream ends without an error
  }
  auto shortened = copy(at("short"), true);
  ASSERT_FALSE(shortened.ok());
  EXPECT_EQ(shortened.error().code, ErrorCode::EndedEarly);
  EXPECT_EQ(progress_.back().bytesTotal, std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE(everything().empty());

  // A reader that sends more than it announced.
  struct GrowingReader final : FileReader {
    Status read(std::string_view, const ReadHandlers& handlers, std::stop_token) override {
      handlers.opened(FileFacts{4, 0});
      if (!handlers.data("abcd", 4) || !handlers.data("e", 1)) return makeError(ErrorCode::Cancelled);
      return success();
    }
  } growing;
  auto grown = copyToFolder(CopyRequest{at("grown"), false, dest_.string(), false}, shares_, growing, {}, {});
  ASSERT_FALSE(grown.ok());
  EXPECT_EQ(grown.error().code, ErrorCode::FileChanged);
  EXPECT_TRUE(everything().empty());
}

TEST_F(CopyJobTest, UnsafeNamesAndLinkLoopsAreRefusedWithoutWritingAnything) {
  for (const std::string& bad : std::vector<std::string>{"..", ".", "", "a/b", std::string("nul\0in", 6)}) {
    InMemoryShares shares;
    shares.setContents(R"(\\srv\share\f\ok.txt)", "ok");
    shares.addEntry(R"(\\srv\share\f)", DirectoryEntry{bad, false, 1, 0, 0});
    auto copied = copyToFolder(CopyRequest{R"(\\srv\share\f)", true, dest_.string(), false}, shares, shares, {}, {});
    ASSERT_FALSE(copied.ok()) << bad;
    EXPECT_EQ(copied.error().code, ErrorCode::UnsafeName) << bad;
    EXPECT_TRUE(entries() == std::vector<std::string>{"dest"}) << bad;
  }

  // A name longer than a local one may be (86 three-byte characters) fails before any byte is
  // read, alone or in a folder.
  std::string tooLong;
  for (int i = 0; i < 86; ++i) tooLong += "\xe6\x96\x87";
  shares_.addFile(at("long\\" + tooLong), 1 << 20);
  bool read = false;
  shares_.setReadHook([&](const std::string&, std::uint64_t, std::stop_token) { read = true; });
  for (auto [item, isFolder] : {std::pair{at("long\\" + tooLong), false}, std::pair{at("long"), true}}) {
    auto copied = copy(item, isFolder);
    ASSERT_FALSE(copied.ok());
    EXPECT_EQ(copied.error().code, ErrorCode::LocalWrite);
    EXPECT_EQ(copied.error().systemCode, ENAMETOOLONG);
    EXPECT_FALSE(read);
    EXPECT_TRUE(everything().empty());
  }

  shares_.setContents(at(R"(loops\here.txt)"), "here");
  shares_.addLink(at(R"(loops\sub\back)"), at("loops"));
  auto looped = copy(at("loops"), true);
  ASSERT_FALSE(looped.ok());
  EXPECT_EQ(looped.error().code, ErrorCode::LinkLoop);
  expectNames(looped.error(), at(R"(loops\sub\back)"));
  EXPECT_TRUE(everything().empty());
}

TEST_F(CopyJobTest, MadeUpTreesPastThePlanLimitsFailInClearWords) {
  shares_.addFile(at(R"(t\a\b\c.txt)"), 1);
  shares_.addFile(at(R"(t\a\d.txt)"), 1);  // relative names a, a/b, a/d.txt, a/b/c.txt
  struct Case {
    CopyPlanLimits limits;
    std::string words;
  };
  for (const Case& c : {Case{{1, 100, 100}, "folders nested more than 1 deep"},
                        Case{{256, 2, 100}, "more than 2 files and folders"},
                        Case{{256, 100, 10}, "names of more than 10 bytes in all"}}) {
    CopySettings settings;
    settings.plan = c.limits;
    auto copied = copy(at("t"), true, false, {}, settings);
    ASSERT_FALSE(copied.ok()) << c.words;
    EXPECT_NE(describe(copied.error()).find(" (" + c.words + "): too big to copy"), std::string::npos)
        << describe(copied.error());
    EXPECT_TRUE(everything().empty());
  }
}

// Guards against another local user redirecting a copy: its temporary folder is private, and
// a folder in it swapped for a link fails the copy instead of leading it out.
TEST_F(CopyJobTest, AFolderSwappedForALinkFailsTheCopyAndNothingLandsElsewhere) {
  shares_.addFile(at(R"(t\a\f.txt)"), 10);
  fs::create_directories(folder_ / "outside");
  mode_t tempMode = 0;
  CopySettings swapping;
  swapping.calls.mkdirat = [&](int dir, const char* name, mode_t mode) {
    const int made = ::mkdirat(dir, name, mode);
    struct stat status {};
    if (dir == AT_FDCWD) {
      tempMode = ::stat(name, &status) == 0 ? status.st_mode & 07777 : 0;
    } else if (made == 0) {
      ::unlinkat(dir, name, AT_REMOVEDIR);
      ::symlinkat((folder_ / "outside").c_str(), dir, name);
    }
    return made;
  };
  auto copied = copy(at("t"), true, false, {}, swapping);
  ASSERT_FALSE(copied.ok());
  EXPECT_EQ(copied.error().code, ErrorCode::LocalWrite);
  EXPECT_EQ(tempMode, 0700u);
  EXPECT_TRUE(entries("outside").empty());
  EXPECT_TRUE(everything().empty());
}

TEST_F(CopyJobTest, LocalFailuresReadWellAndLeaveNothing) {
  const std::string unc = at(R"(d\data.bin)");
  shares_.addFile(unc, 4 * InMemoryShares::kReadChunk);

  CopySettings full;
  std::uint64_t room = InMemoryShares::kReadChunk + 10;
  full.calls.pwrite = [&](int fd, const void* data, size_t size, off_t offset) -> ssize_t {
    if (size > room) {
      errno = ENOSPC;
      return -1;
    }
    room -= size;
    return ::pwrite(fd, data, size, offset);
  };
  for (const bool folder : {false, true}) {
    room = InMemoryShares::kReadChunk + 10;
    auto copied = copy(folder ? at("d") : unc, folder, false, {}, full);
    ASSERT_FALSE(copied.ok());
    EXPECT_EQ(copied.error().code, ErrorCode::LocalWrite);
    const std::string local = (dest_ / (folder ? "d/data.bin" : "data.bin")).string();
    expectNames(copied.error(), unc, local);
    EXPECT_TRUE(everything().empty());
  }

  // Replacing, the new bytes must reach the disk before the old file goes: a failing fsync
  // keeps the old file and leaves nothing else. A copy under a new name needs no fsync.
  int syncs = 0;
  CopySettings failingSync;
  failingSync.calls.fsync = [&](int) {
    ++syncs;
    errno = EIO;
    return -1;
  };
  ASSERT_TRUE(copy(unc, false, false, {}, failingSync).ok());
  EXPECT_EQ(syncs, 0);
  { std::ofstream(dest_ / "data.bin") << "old"; }
  ASSERT_FALSE(copy(unc, false, true, {}, failingSync).ok());
  EXPECT_EQ(syncs, 1);
  EXPECT_EQ(everything(), std::vector<std::string>{"data.bin"});
  EXPECT_EQ(readLocal(dest_ / "data.bin"), "old");
  std::filesystem::remove(dest_ / "data.bin");

  auto nowhere = copyToFolder(CopyRequest{unc, false, (folder_ / "missing").string(), false}, shares_, shares_, {}, {});
  ASSERT_FALSE(nowhere.ok());
  expectNames(nowhere.error(), unc, (folder_ / "missing").string());
}

TEST(TransferProgress, RateOverTheRecentWindowAndTimeLeft) {
  const TransferClock::time_point t0{};
  RateMeter meter(3s, 500ms);
  meter.sample(t0, 0);
  EXPECT_EQ(meter.bytesPerSecond(), 0);  // one sample tells no rate
  meter.sample(t0 + 200ms, 1000);
  EXPECT_EQ(meter.bytesPerSecond(), 0);  // too short a span
  EXPECT_FALSE(meter.timeLeft(1000, 5000).has_value());
  meter.sample(t0 + 1s, 10'000'000);
  EXPECT_DOUBLE_EQ(meter.bytesPerSecond(), 10'000'000.0);
  EXPECT_EQ(meter.timeLeft(10'000'000, 25'000'001), 2s);  // 1.5 s and a bit: rounded up
  EXPECT_EQ(meter.timeLeft(30, 20), 0s);
  RateMeter slow(3s, 500ms);  // a byte a second towards a size a server made up
  slow.sample(t0, 0);
  slow.sample(t0 + 1s, 1);
  EXPECT_FALSE(slow.timeLeft(1, std::numeric_limits<std::uint64_t>::max()).has_value());

  // Ten seconds at 1 MB/s after a fast start: only the last three seconds count.
  for (int s = 2; s <= 11; ++s) meter.sample(t0 + std::chrono::seconds(s), 10'000'000 + (s - 1) * 1'000'000ULL);
  EXPECT_NEAR(meter.bytesPerSecond(), 1'000'000.0, 1.0);
}

// The throttle, through the job: however often the data comes, progress comes a few times a second.
TEST_F(CopyJobTest, ProgressComesAFewTimesASecondAtMost) {
  const std::string unc = at("f.bin");
  shares_.addFile(unc, 100 * InMemoryShares::kReadChunk);
  CopySettings settings;
  TransferClock::time_point now{};
  settings.clock = [&] { return now += 10ms; };  // every look at the clock: 10 ms later
  ASSERT_TRUE(copy(unc, false, false, {}, settings).ok());
  ASSERT_GE(progress_.size(), 2u);
  EXPECT_LE(progress_.size(), 100 * 10ms / 250ms + 3);
  EXPECT_GT(progress_.back().bytesPerSecond, 0);
  EXPECT_TRUE(progress_.back().timeLeft.has_value());
}

}  // namespace
}  // namespace vuv
