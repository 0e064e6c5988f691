#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "index/index_store.h"
#include "index/index_writer.h"
#include "index/name_trigrams.h"
#include "search/wildcard.h"
#include "support/temp_folder.h"

namespace vuv::index {
namespace {

class IndexTest : public testing::TempFolder {
 protected:
  IndexStore open() {
    auto store = IndexStore::open(path());
    EXPECT_TRUE(store.ok()) << describe(store.error());
    return std::move(*store);
  }

  static std::set<std::string> find(IndexStore& store, const std::string& location, const std::string& pattern) {
    std::set<std::string> found;
    const Status status = store.find(location, pattern, [&](const IndexedRow& row) {
      found.insert(row.row.path + (row.row.isFolder ? "\\" : "=" + std::to_string(row.row.size)));
      return true;
    });
    EXPECT_TRUE(status.ok());
    return found;
  }

  std::string path() const { return pathOf("sub/index.sqlite"); }  // a folder the index makes
};

DirectoryEntry file(std::string name, std::uint64_t size = 1) { return {std::move(name), false, size, 7, 0}; }
DirectoryEntry folder(std::string name) { return {std::move(name), true, 0, 7, 0}; }

TEST_F(IndexTest, EachCompleteListingReplacesItsFolderAndAFailedOneKeepsItsEntries) {
  IndexStore store = open();
  EXPECT_EQ(std::filesystem::status(path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_TRUE(store.replaceFolder("\\\\S\\P", {file("a.txt"), folder("sub"), file("old.doc"), file(".."),
                                               file("x\\y"), file("a.txt", 9)}, 100).ok());
  ASSERT_TRUE(store.replaceFolder("\\\\S\\P\\sub", {file("x.txt"), folder("deep")}, 100).ok());
  ASSERT_TRUE(store.replaceFolder("\\\\S\\P\\sub\\deep", {file("d.txt")}, 100).ok());
  ASSERT_TRUE(store.replaceFolder("\\\\S\\Q", {file("q.txt")}, 100).ok());
  EXPECT_EQ(find(store, "\\\\S\\P", "*"),
            (std::set<std::string>{"\\\\S\\P\\a.txt=1", "\\\\S\\P\\sub\\", "\\\\S\\P\\old.doc=1",
                                   "\\\\S\\P\\sub\\x.txt=1", "\\\\S\\P\\sub\\deep\\", "\\\\S\\P\\sub\\deep\\d.txt=1"}));

  // Another casing is the same folder (named as first seen): new entries in, gone ones out,
  // changed ones changed.
  ASSERT_TRUE(store.replaceFolder("\\\\s\\p", {file("a.txt", 2), folder("sub"), file("new.doc")}, 200).ok());
  EXPECT_EQ(find(store, "\\\\S\\P", "*.doc"), std::set<std::string>{"\\\\S\\P\\new.doc=1"});
  EXPECT_EQ(find(store, "\\\\S\\P", "a.txt"), std::set<std::string>{"\\\\S\\P\\a.txt=2"});

  // A failed listing keeps what was known, marked.
  ASSERT_TRUE(store.markFailed("\\\\S\\P\\sub").ok());
  EXPECT_EQ(find(store, "\\\\S\\P\\SUB", "*.txt"),
            (std::set<std::string>{"\\\\S\\P\\sub\\x.txt=1", "\\\\S\\P\\sub\\deep\\d.txt=1"}));
  auto summary = store.summary("\\\\S\\P");
  ASSERT_TRUE(summary.ok());
  EXPECT_EQ(summary->failedFolders, 1u);
  EXPECT_EQ(summary->newestListing, 200);

  // A folder gone from its parent takes everything below it along; other shares stay.
  ASSERT_TRUE(store.replaceFolder("\\\\S\\P", {file("a.txt", 2)}, 300).ok());
  EXPECT_EQ(find(store, "", "*.txt"), (std::set<std::string>{"\\\\S\\P\\a.txt=2", "\\\\S\\Q\\q.txt=1"}));
  // Backslashes alone name no server: nothing is forgotten.
  EXPECT_FALSE(store.clear("\\\\").ok());
  EXPECT_EQ(find(store, "", "*.txt").size(), 2u);
  ASSERT_TRUE(store.clear("\\\\s\\").ok());
  EXPECT_TRUE(find(store, "", "*").empty());
}

// A clear is one transaction: a reader sees a subtree whole or gone, by either way in (the
// name index or a read of every entry), never a part of it.
TEST_F(IndexTest, ReadersSeeAClearAllOrNothing) {
  constexpr std::size_t kFolders = 20, kFiles = 50;
  IndexStore store = open();
  ASSERT_TRUE(store.begin().ok());
  for (std::size_t f = 0; f < kFolders; ++f) {
    std::vector<DirectoryEntry> entries;
    for (std::size_t e = 0; e < kFiles; ++e) entries.push_back(file("n" + std::to_string(e) + ".txt"));
    ASSERT_TRUE(store.replaceFolder("\\\\S\\P\\d" + std::to_string(f), entries, 1).ok());
  }
  ASSERT_TRUE(store.commit().ok());
  std::atomic<bool> reading{false}, clearing{true};
  std::set<std::size_t> seen;
  std::thread reader([&] {
    IndexStore other = open();
    do {
      for (const char* pattern : {"*.txt", "*"}) seen.insert(find(other, "\\\\S", pattern).size());
      reading = true;
    } while (clearing);
  });
  while (!reading) std::this_thread::yield();  // the clear starts while the reader reads
  ASSERT_TRUE(store.clear("\\\\S\\P").ok());
  clearing = false;
  reader.join();
  for (const std::size_t rows : seen) EXPECT_TRUE(rows == 0 || rows == kFolders * kFiles) << rows;
}

// Names and patterns from letters that fold in several ways, dots, bytes that are not UTF-8.
TEST_F(IndexTest, FindsExactlyWhatTheMatcherMatches) {
  const std::vector<std::string> letters = {"a", "B", "b", "c", ".", "\xC3\x84", "\xC3\xA4", "\xCE\xA3", "\xCF\x82",
                                            "\xC3\x9F", "ss", "\"", "\xFF", "\x80", "\xE2\x82\xAC", " "};
  std::mt19937 rng(16);
  auto word = [&](std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) out += letters[rng() % letters.size()];
    return out;
  };
  std::vector<DirectoryEntry> entries;
  std::set<std::string> names;
  while (names.size() < 400) {
    std::string name = word(1 + rng() % 10);
    if (name != "." && name != ".." && names.insert(name).second) entries.push_back(file(name));
  }
  IndexStore store = open();
  ASSERT_TRUE(store.replaceFolder("\\\\S\\P", entries, 1).ok());

  int narrowed = 0;
  for (int i = 0; i < 600; ++i) {
    // Pieces of real names with wildcards around and inside, so that many patterns match.
    std::string pattern;
    const std::string& base = entries[rng() % entries.size()].name;
    for (int piece = 0; piece < 1 + static_cast<int>(rng() % 3); ++piece) {
      const std::size_t from = rng() % (base.size() + 1);
      pattern += std::string(rng() % 2 ? "*" : "?") + base.substr(from, rng() % 6) + (rng() % 3 ? "" : word(1));
    }
    if (rng() % 4 == 0) pattern += ".*";
    if (!trigramQuery(pattern).empty()) ++narrowed;
    std::set<std::string> expected;
    const WildcardPattern matcher(pattern);
    for (const std::string& name : names) {
      if (matcher.matches(name)) expected.insert("\\\\S\\P\\" + name + "=1");
    }
    ASSERT_EQ(find(store, "\\\\S\\P", pattern), expected) << pattern;
  }
  EXPECT_GT(narrowed, 100);  // the trigram index answered a good share of them
}

// Guards against a statement left on its row: it held a read transaction open past every
// commit, so the log never started over and grew by every listing written.
TEST_F(IndexTest, TheLogStaysBoundedAcrossWalksOverKnownFolders) {
  IndexStore store = open();
  for (int walk = 0; walk < 80; ++walk) {
    for (int f = 0; f < 20; ++f) {
      std::vector<DirectoryEntry> entries;
      for (int e = 0; e < 20; ++e) entries.push_back(file("f" + std::to_string(e) + ".txt", walk + 1));
      ASSERT_TRUE(store.begin().ok());
      ASSERT_TRUE(store.replaceFolder("\\\\S\\P\\d" + std::to_string(f), entries, walk).ok());
      ASSERT_TRUE(store.commit().ok());
    }
  }
  // The log starts over once a checkpoint has copied its thousand pages.
  EXPECT_LT(std::filesystem::file_size(path() + "-wal"), 1500u * 4096u);
}

// A stopped read ends cancelled inside its statement: among rows that do not match (the sink
// asks for the stop and goes on), before a sorted answer's first row, inside a count.
TEST_F(IndexTest, AStoppedReadEndsBeforeItHasReadEverything) {
  IndexStore store = open();
  std::vector<DirectoryEntry> many;
  for (int e = 0; e < 5000; ++e) many.push_back(file("n" + std::to_string(e) + ".dat"));
  ASSERT_TRUE(store.begin().ok());
  for (const std::string folder : {"a", "b", "c"}) {  // written in this order, read in it
    ASSERT_TRUE(store.replaceFolder("\\\\S\\P\\" + folder, folder == "b" ? many : std::vector{file("x")}, 1).ok());
  }
  ASSERT_TRUE(store.commit().ok());
  const auto cancelled = [](const auto& read) { return !read.ok() && read.error().code == ErrorCode::Cancelled; };
  std::stop_source stop;
  int visited = 0;
  const auto visit = [&](const IndexedRow&) { stop.request_stop(); return ++visited > 0; };
  EXPECT_TRUE(cancelled(store.find("", "?", visit, stop.get_token())));  // "?" narrows nothing: all are read
  EXPECT_TRUE(cancelled(store.find("", "*.dat", visit, stop.get_token())));
  EXPECT_EQ(visited, 1);
  EXPECT_TRUE(cancelled(store.summary("", stop.get_token())));
}

// Locks this process holds on `file`, as the kernel lists them.
int locksHeldOn(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return -1;
  std::ifstream locks("/proc/locks");
  int held = 0;
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, pid, device;
    fields >> id >> kind >> mode >> access >> pid >> device;
    if (kind == "->") fields >> device >> device;  // a waiter: the fields are one further on
    const std::string inode = device.substr(device.rfind(':') + 1);
    held += pid == std::to_string(::getpid()) && inode == std::to_string(st.st_ino);
  }
  return held;
}

// A search opens a store while the window's writer has its own. The second open must not cost
// the first its locks on the file (closing any descriptor of a file drops them all): another
// program that then opens and closes the index, the last user as far as it can tell, removes
// the log the writer goes on committing to.
TEST_F(IndexTest, AnotherStoreInTheProcessLeavesTheWritersLocks) {
  IndexStore writer = open();
  ASSERT_GT(locksHeldOn(path()), 0);
  IndexStore search = open();
  EXPECT_TRUE(find(search, "", "*").empty());
  // How many lines the locks take varies with their ranges; losing them all is the fault.
  EXPECT_GT(locksHeldOn(path()), 0);
}

// Walks write through one writer from many threads while a reader searches: every folder is
// seen whole, as one listing or the next, never a mix.
TEST_F(IndexTest, ReadersSeeEachFolderAsOneListingWhileWalksWrite) {
  auto writer = IndexWriter::open(path(), IndexWriterLimits{64, 16});
  ASSERT_TRUE(writer.ok());
  constexpr int kWalks = 4, kFolders = 8, kRounds = 30, kFiles = 10;
  auto listing = [](int round) {
    std::vector<DirectoryEntry> entries;
    for (int k = 0; k < kFiles; ++k) entries.push_back(file("r" + std::to_string(round) + "-" + std::to_string(k) + ".txt"));
    return entries;
  };
  std::atomic<bool> writing{true};
  std::thread reader([&] {
    IndexStore store = open();
    while (writing) {
      std::map<std::string, std::set<std::string>> rounds;  // folder -> rounds seen in it
      std::map<std::string, int> counts;
      ASSERT_TRUE(store.find("", "r*.txt", [&](const IndexedRow& row) {
        const std::string& path = row.row.path;
        const std::size_t cut = path.rfind('\\');
        rounds[path.substr(0, cut)].insert(path.substr(cut + 1, path.find('-', cut) - cut));
        ++counts[path.substr(0, cut)];
        return true;
      }).ok());
      for (const auto& [folderPath, seen] : rounds) {
        ASSERT_EQ(seen.size(), 1u) << folderPath;
        ASSERT_EQ(counts[folderPath], kFiles) << folderPath;
      }
    }
  });
  std::vector<std::thread> walks;
  for (int w = 0; w < kWalks; ++w) {
    walks.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        for (int f = 0; f < kFolders; ++f) {
          const std::string path = "\\\\S" + std::to_string(w) + "\\P\\f" + std::to_string(f);
          if (round % 7 == 3) (*writer)->folderFailed(path);
          else (*writer)->folderListed(path, listing(round));
        }
      }
    });
  }
  for (std::thread& walk : walks) walk.join();
  (*writer)->flush();
  writing = false;
  reader.join();
  EXPECT_FALSE((*writer)->error().has_value());
  IndexStore store = open();
  std::set<std::string> last;
  for (int k = 0; k < kFiles; ++k) last.insert("\\\\S2\\P\\f5\\r" + std::to_string(kRounds - 1) + "-" + std::to_string(k) + ".txt=1");
  EXPECT_EQ(find(store, "\\\\S2\\P\\f5", "*"), last);
}

}  // namespace
}  // namespace vuv::index
