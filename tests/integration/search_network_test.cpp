// The search walk on the Samba test network: real shares, real worker processes.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "integration/network_test_support.h"
#include "search/search_controller.h"
#include "search/wildcard.h"
#include "smb/client/smb_directory_lister.h"
#include "smb/client/worker_pool.h"

namespace vuv {
namespace {

constexpr std::string_view kPublic = "\\\\S1\\Public";

// Passes listings on; a test may act before the n-th one.
class HookedLister final : public DirectoryLister {
 public:
  explicit HookedLister(DirectoryLister& inner) : inner_(inner) {}
  std::function<void(int count)> beforeList;

  Result<DirectoryListing> list(std::string_view folder, std::stop_token stop) override {
    const int count = ++count_;
    if (beforeList) beforeList(count);
    return inner_.list(folder, stop);
  }

 private:
  DirectoryLister& inner_;
  std::atomic<int> count_{0};
};

struct Outcome {
  std::vector<ResultRow> rows;
  std::vector<std::string> failures;
  SearchSummary summary;
};

// The walk's order written out plainly, one listing at a time: each subfolder's matches, then
// its own subfolders, the top's matches last; dot folders and loops back to an ancestor are
// not entered.
class ReferenceWalk {
 public:
  ReferenceWalk(DirectoryLister& lister, std::string_view pattern) : lister_(lister), pattern_(pattern) {}

  std::vector<ResultRow> share(const std::string& top) {
    auto listing = lister_.list(top, {});
    if (!listing) return rows_;
    below(top, listing->entries, {listing->folderId});
    emit(top, listing->entries);
    return rows_;
  }

 private:
  void below(const std::string& folder, const std::vector<DirectoryEntry>& entries,
             std::vector<std::uint64_t> ancestors) {
    for (const DirectoryEntry& entry : entries) {
      if (!entry.isFolder || entry.name.front() == '.') continue;
      if (entry.fileId != 0 && std::count(ancestors.begin(), ancestors.end(), entry.fileId) > 0) continue;
      const std::string sub = folder + '\\' + entry.name;
      auto subListing = lister_.list(sub, {});
      if (!subListing) continue;
      emit(sub, subListing->entries);
      auto path = ancestors;
      path.push_back(entry.fileId);
      below(sub, subListing->entries, path);
    }
  }

  void emit(const std::string& folder, const std::vector<DirectoryEntry>& entries) {
    for (const DirectoryEntry& entry : entries) {
      if (pattern_.matches(entry.name)) rows_.push_back({folder + '\\' + entry.name, entry.isFolder, entry.size});
    }
  }

  DirectoryLister& lister_;
  WildcardPattern pattern_;
  std::vector<ResultRow> rows_;
};

class SearchOnNetwork : public ::testing::Test {
 protected:
  Outcome search(std::string_view location, const std::string& pattern, DirectoryLister& lister) {
    NetworkTree tree;
    // A childless node is walked at \\<parent>\<text>.
    const auto cut = location.find('\\', 2);
    const NodeId server = tree.insertTopLevel(std::string(location.substr(2, cut - 2)), NodeKind::Server,
                                      InsertPosition::Last);
    const NodeId share =
        tree.insert(server, std::string(location.substr(cut + 1)), NodeKind::Share, InsertPosition::Last);

    std::mutex mutex;
    std::condition_variable done;
    Outcome outcome;
    std::optional<SearchSummary> summary;
    Executor executor(16);
    SearchController controller(tree, lister, executor);
    SearchEvents events;
    events.rows = [&](RunId, std::vector<ResultRow> rows) {
      std::lock_guard lock(mutex);
      outcome.rows.insert(outcome.rows.end(), rows.begin(), rows.end());
    };
    events.failed = [&](RunId, const ListingFailure& failure) {
      std::lock_guard lock(mutex);
      outcome.failures.push_back(failureText(failure));
    };
    events.finished = [&](RunId, const SearchSummary& s) {
      std::lock_guard lock(mutex);
      EXPECT_FALSE(summary.has_value()) << "a second finish";
      summary = s;
      done.notify_all();
    };
    EXPECT_TRUE(controller.start(share, pattern, events).ok());
    std::unique_lock lock(mutex);
    EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(90), [&] { return summary.has_value(); }));
    lock.unlock();
    controller.waitUntilIdle();
    outcome.summary = summary.value_or(SearchSummary{});
    return outcome;
  }

  static std::vector<std::string> sortedPaths(const std::vector<ResultRow>& rows) {
    std::vector<std::string> paths;
    for (const ResultRow& row : rows) paths.push_back(row.path);
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  smb::WorkerPool pool_;
  smb::SmbDirectoryLister lister_{pool_};
};

TEST_F(SearchOnNetwork, PatternsFindWhatUsersExpect) {
  const std::string p(kPublic);
  struct Case {
    std::string pattern;
    std::vector<std::string> paths;  // sorted
  };
  const Case cases[] = {
      {"*.txt",
       {p + "\\big\\small.txt", p + "\\deep\\level1\\level2\\level3\\level4\\level5\\level6\\level7\\level8"
                                    "\\level9\\level10\\bottom.txt",
        p + "\\deep\\level1\\level2\\level3\\middle.txt", p + "\\docs\\B.TXT", p + "\\docs\\a.txt",
        p + "\\loops\\here.txt", p + "\\old.zip\\inside.txt", p + "\\readme.txt", p + "\\Übersicht.txt"}},
      {"*.JPG", {p + "\\CAMERA.JPG", p + "\\holiday.jpg", p + "\\Ärger\\café.jpg"}},
      {"übersicht.???", {p + "\\Übersicht.txt"}},
      {"??.doc", {}},
      {"???.doc", {p + "\\日本語.doc"}},
      // Dot entries are reported when they match, but nothing inside a dot folder is.
      {".*", {p + "\\.hidden", p + "\\.profile"}},
      {"secret.txt", {}},
      {"old.zip", {p + "\\old.zip"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("pattern '" + c.pattern + "'");
    auto expected = c.paths;
    std::sort(expected.begin(), expected.end());
    const Outcome outcome = search(kPublic, c.pattern, lister_);
    EXPECT_EQ(sortedPaths(outcome.rows), expected);
    EXPECT_EQ(outcome.summary.rows, outcome.rows.size());
    EXPECT_EQ(outcome.summary.failedFolders, 1u);
    EXPECT_EQ(outcome.failures, std::vector<std::string>{"Could not list " + p + "\\denied: access denied"});
    EXPECT_FALSE(outcome.summary.stopped);
  }
}

// Guards against a link to the walk's top folder (loops\loop -> loops) being entered once.
TEST_F(SearchOnNetwork, LinkToTheTopFolderIsNotEntered) {
  const std::string top = std::string(kPublic) + "\\loops";
  const Outcome outcome = search(top, "*", lister_);
  EXPECT_EQ(sortedPaths(outcome.rows), (std::vector<std::string>{top + "\\here.txt", top + "\\loop"}));
  EXPECT_EQ(outcome.summary.failedFolders, 0u);
}

TEST_F(SearchOnNetwork, SizesAndFolderFlags) {
  const Outcome outcome = search(kPublic, "*", lister_);
  auto find = [&](std::string_view name) -> const ResultRow* {
    for (const ResultRow& row : outcome.rows) {
      if (row.path == std::string(kPublic) + std::string(name)) return &row;
    }
    return nullptr;
  };
  const ResultRow* huge = find("\\big\\huge-5GiB.iso");
  ASSERT_NE(huge, nullptr);
  EXPECT_FALSE(huge->isFolder);
  EXPECT_EQ(huge->size, 5ull << 30);
  const ResultRow* allOnes = find("\\big\\size-4294967295.bin");
  ASSERT_NE(allOnes, nullptr);
  EXPECT_FALSE(allOnes->isFolder);
  EXPECT_EQ(allOnes->size, 4294967295ull);
  const ResultRow* oldZip = find("\\old.zip");
  ASSERT_NE(oldZip, nullptr);
  EXPECT_TRUE(oldZip->isFolder);
  // The link loop is reported once and not walked for ever.
  EXPECT_NE(find("\\loops\\loop"), nullptr);
  EXPECT_EQ(find("\\loops\\loop\\here.txt"), nullptr);
  for (const ResultRow& row : outcome.rows) {
    EXPECT_EQ(row.path.find("\\.hidden\\"), std::string::npos) << row.path;
    EXPECT_EQ(row.path.find("\\denied\\"), std::string::npos) << row.path;
  }
}

TEST_F(SearchOnNetwork, RowsComeInTheWalksOrder) {
  for (const char* pattern : {"*", "*.txt", "level*"}) {
    SCOPED_TRACE(pattern);
    const Outcome outcome = search(kPublic, pattern, lister_);
    EXPECT_EQ(outcome.rows, ReferenceWalk(lister_, pattern).share(std::string(kPublic)));
  }
}

// A worker killed in the middle of a walk costs its own listing; the walk ends with a count.
TEST_F(SearchOnNetwork, KilledWorkerMidWalk) {
  HookedLister hooked(lister_);
  hooked.beforeList = [](int count) {
    if (count == 5) {
      for (pid_t pid : testing::ourWorkerProcesses()) ::kill(pid, SIGKILL);
    }
  };
  const Outcome outcome = search(kPublic, "*", hooked);
  EXPECT_EQ(outcome.summary.rows, outcome.rows.size());
  EXPECT_GE(outcome.summary.failedFolders, 1u);
  EXPECT_GT(outcome.rows.size(), 10u);
}

// A server that dies in the middle of a walk: the rest of the walk fails fast and finishes.
TEST_F(SearchOnNetwork, ServerKilledMidWalk) {
  HookedLister hooked(lister_);
  hooked.beforeList = [](int count) {
    if (count == 4) {
      ASSERT_EQ(testing::runTestNetwork("kill-host S4"), 0);
    }
  };
  const Outcome outcome = search("\\\\S4\\Scratch", "*", hooked);
  const bool restored = testing::runTestNetwork("start-host S4") == 0;
  EXPECT_EQ(outcome.summary.rows, outcome.rows.size());
  EXPECT_GE(outcome.summary.failedFolders, 1u);
  EXPECT_LT(outcome.rows.size(), 25u);  // the whole share has 25 entries
  EXPECT_TRUE(restored);
}

}  // namespace
}  // namespace vuv
