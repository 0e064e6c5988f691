#include "search/share_walk.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace vuv {

namespace {

// Child indexes from the share top; lexicographic order is emission order (pre-order).
using Key = std::vector<std::uint32_t>;

// The file ids of a folder and of the folders it was reached through; siblings share the tail.
struct IdChain {
  std::uint64_t fileId = 0;
  std::shared_ptr<const IdChain> up;
};

bool chainHas(const IdChain* chain, std::uint64_t fileId) {
  for (; chain != nullptr; chain = chain->up.get()) {
    if (chain->fileId == fileId) return true;
  }
  return false;
}

enum class State { Pending, Listing, Listed, Failed };

struct Folder {
  Folder(std::string folderPath, std::shared_ptr<const IdChain> folderIds)
      : path(std::move(folderPath)), ids(std::move(folderIds)) {}

  std::string path;
  std::shared_ptr<const IdChain> ids;  // null for the top: its own id is in no listing
  State state = State::Pending;
  std::vector<ResultRow> matches;      // once Listed, until emitted
};

using Folders = std::map<Key, Folder>;
using FolderIt = Folders::iterator;

struct ByKey {
  bool operator()(const FolderIt& a, const FolderIt& b) const { return a->first < b->first; }
};

// What one listing gave, worked out without the lock.
struct Listing {
  bool failed = false;
  std::vector<ResultRow> matches;
  std::vector<std::pair<std::string, std::shared_ptr<const IdChain>>> subfolders;  // to enter
  std::uint64_t cut = 0;    // not entered: too deep or path too long
  std::uint64_t loops = 0;  // not entered: repeated file id
};

class OrderedWalk {
 public:
  OrderedWalk(DirectoryLister& lister, const WildcardPattern& pattern, const ShareWalkLimits& limits,
              std::stop_token stop, ShareWalkSink& sink)
      : lister_(lister), pattern_(pattern), limits_(limits), stop_(std::move(stop)), sink_(sink) {
    limits_.maxParallelListings = std::max<std::size_t>(limits_.maxParallelListings, 1);
    limits_.lanParallelListings = std::clamp<std::size_t>(limits_.lanParallelListings, 1, limits_.maxParallelListings);
    parallel_ = limits_.lanParallelListings;
  }

  ShareWalkStats run(const std::string& share);

 private:
  FolderIt startable();
  std::size_t startableCount();
  void take(FolderIt it);
  void list(std::unique_lock<std::mutex>& lock, FolderIt it);
  Listing examine(const Result<std::vector<DirectoryEntry>>& result, const Folder& folder,
                  std::size_t depth) const;
  void record(FolderIt it, Listing&& listing);
  void adaptParallelism(std::chrono::steady_clock::duration took);
  void spawnHelpers();
  void helper();

  DirectoryLister& lister_;
  const WildcardPattern& pattern_;
  ShareWalkLimits limits_;
  const std::stop_token stop_;
  ShareWalkSink& sink_;

  std::mutex mutex_;                    // guards everything below
  std::condition_variable_any listed_;  // the emitter waits for the next folder
  std::condition_variable_any work_;    // helpers wait for a folder they may list
  Folders folders_;                     // known and not yet emitted; begin() is emitted next
  std::set<FolderIt, ByKey> pending_;   // known and not yet listed
  std::size_t listing_ = 0;             // listings in flight
  std::size_t bufferedFolders_ = 0;     // listed (or failed), not yet emitted
  std::size_t bufferedRows_ = 0;        // their matches
  std::size_t idleHelpers_ = 0;
  std::size_t parallel_ = 1;            // listings allowed at once now (adaptParallelism)
  std::array<std::chrono::steady_clock::duration, 16> recentListings_{};  // how long they took
  std::size_t recentCount_ = 0;         // listings recorded in recentListings_, ever
  bool finished_ = false;               // the emitter is done; helpers leave
  std::vector<std::thread> helpers_;
  ShareWalkStats stats_;
};

// The folder that may be listed now, or end(). Requires mutex_.
FolderIt OrderedWalk::startable() {
  if (pending_.empty() || listing_ >= parallel_) return folders_.end();
  const FolderIt first = *pending_.begin();
  // Everything before the smallest pending key is listed, so when it is the first known
  // folder the emitter is waiting for it, and it may start whatever is buffered.
  if (first == folders_.begin()) return first;
  const bool room = bufferedFolders_ + listing_ < limits_.maxBufferedFolders &&
                    bufferedRows_ < limits_.maxBufferedRows;
  return room ? first : folders_.end();
}

// Requires mutex_.
std::size_t OrderedWalk::startableCount() {
  if (startable() == folders_.end()) return 0;
  const bool room = bufferedFolders_ + listing_ < limits_.maxBufferedFolders &&
                    bufferedRows_ < limits_.maxBufferedRows;
  if (!room) return 1;
  const std::size_t roomFor = std::min(parallel_ - listing_,
                                        limits_.maxBufferedFolders - bufferedFolders_ - listing_);
  return std::min(pending_.size(), roomFor);
}

// Requires mutex_.
void OrderedWalk::take(FolderIt it) {
  pending_.erase(it);
  it->second.state = State::Listing;
  ++listing_;
  stats_.peakParallelListings = std::max(stats_.peakParallelListings, listing_);
}

// Lists a taken folder with mutex_ released. Its path and ids do not change while it is
// Listing, and only the emitter erases folders, so reading them unlocked is safe.
void OrderedWalk::list(std::unique_lock<std::mutex>& lock, FolderIt it) {
  const Folder& folder = it->second;
  const std::size_t depth = it->first.size();
  lock.unlock();
  const auto started = std::chrono::steady_clock::now();
  auto entries = lister_.list(folder.path, stop_);
  const auto took = std::chrono::steady_clock::now() - started;
  Listing listing = examine(entries, folder, depth);
  lock.lock();
  adaptParallelism(took);
  record(it, std::move(listing));
}

// Latency, not bandwidth, bounds a walk: when listings take long, many at once hide the round
// trips; when they are quick, a few keep the processors for the work itself. The quickest of
// the recent listings tells the two apart: a worker's first listing also pays for its start and
// its connection, and those outliers must not open up a LAN walk. Requires mutex_.
void OrderedWalk::adaptParallelism(std::chrono::steady_clock::duration took) {
  recentListings_[recentCount_++ % recentListings_.size()] = took;
  const std::size_t known = std::min(recentCount_, recentListings_.size());
  const auto quickest = *std::min_element(recentListings_.begin(), recentListings_.begin() + known);
  parallel_ = quickest < limits_.quickListing ? limits_.lanParallelListings : limits_.maxParallelListings;
}

Listing OrderedWalk::examine(const Result<std::vector<DirectoryEntry>>& result,
                             const Folder& folder, std::size_t depth) const {
  Listing out;
  if (!result.ok()) {
    out.failed = true;
    return out;
  }
  for (const DirectoryEntry& entry : *result) {
    const std::string& name = entry.name;
    if (name.empty() || name == "." || name == "..") continue;
    const bool matches = pattern_.matches(name);
    const bool enter = entry.isFolder && name.front() != '.';
    if (!matches && !enter) continue;
    std::string path = folder.path + '\\' + name;
    if (enter) {
      if (entry.fileId != 0 && chainHas(folder.ids.get(), entry.fileId)) {
        ++out.loops;
      } else if (depth + 1 > limits_.maxDepth || path.size() > limits_.maxPathBytes) {
        ++out.cut;
      } else {
        out.subfolders.emplace_back(path, std::make_shared<const IdChain>(IdChain{entry.fileId, folder.ids}));
      }
    }
    if (matches) {
      out.matches.push_back(ResultRow{std::move(path), entry.isFolder, entry.isFolder ? 0 : entry.size});
    }
  }
  return out;
}

// Requires mutex_.
void OrderedWalk::record(FolderIt it, Listing&& listing) {
  --listing_;
  ++stats_.foldersListed;
  stats_.failedFolders += listing.cut;
  stats_.loopsCut += listing.loops;
  Folder& folder = it->second;
  if (listing.failed) {
    folder.state = State::Failed;
    ++stats_.failedFolders;
  } else {
    folder.state = State::Listed;
    folder.matches = std::move(listing.matches);
    // The top's matches are set aside at once and held to the end whatever the bound.
    if (!it->first.empty()) bufferedRows_ += folder.matches.size();
    // Children sort right after their parent and before its next sibling, in listing order.
    Key key = it->first;
    key.push_back(0);
    FolderIt hint = std::next(it);
    for (auto& [path, ids] : listing.subfolders) {
      const FolderIt child = folders_.emplace_hint(hint, key, Folder{std::move(path), std::move(ids)});
      pending_.insert(child);
      hint = std::next(child);
      ++key.back();
    }
  }
  ++bufferedFolders_;
  stats_.peakBufferedFolders = std::max(stats_.peakBufferedFolders, bufferedFolders_);
  stats_.peakBufferedRows = std::max(stats_.peakBufferedRows, bufferedRows_);
  listed_.notify_all();
  work_.notify_all();
  spawnHelpers();
}

// Starts helpers until every folder that may be listed now has an idle one. Requires mutex_.
void OrderedWalk::spawnHelpers() {
  if (finished_ || stop_.stop_requested()) return;
  const std::size_t wanted = startableCount();
  while (idleHelpers_ < wanted && helpers_.size() < limits_.maxParallelListings) {
    try {
      helpers_.emplace_back([this] { helper(); });
    } catch (const std::system_error&) {
      return;  // the emitter still lists the folder it needs, so the walk goes on
    }
    ++idleHelpers_;
  }
}

void OrderedWalk::helper() {
  std::unique_lock lock(mutex_);
  while (true) {
    FolderIt it = folders_.end();
    work_.wait(lock, stop_, [&] {
      if (finished_) return true;
      it = startable();
      return it != folders_.end();
    });
    if (finished_ || stop_.stop_requested() || it == folders_.end()) break;
    --idleHelpers_;
    take(it);
    list(lock, it);
    ++idleHelpers_;
  }
  --idleHelpers_;
}

ShareWalkStats OrderedWalk::run(const std::string& share) {
  std::unique_lock lock(mutex_);
  pending_.insert(folders_.emplace(Key{}, Folder{share, nullptr}).first);
  std::vector<ResultRow> topMatches;
  bool topListed = false;
  bool complete = false;
  while (!stop_.stop_requested()) {
    if (folders_.empty()) {
      complete = true;
      break;
    }
    const FolderIt next = folders_.begin();
    Folder& folder = next->second;
    if (folder.state == State::Listed || folder.state == State::Failed) {
      const bool listed = folder.state == State::Listed;
      const bool isTop = next->first.empty();
      std::string path = std::move(folder.path);
      std::vector<ResultRow> matches = std::move(folder.matches);
      --bufferedFolders_;
      if (!isTop) bufferedRows_ -= matches.size();
      folders_.erase(next);
      // Room in the buffer: wake as many helpers as may start now (usually one).
      if (const std::size_t startableNow = startableCount(); startableNow > 1) {
        work_.notify_all();
      } else if (startableNow == 1) {
        work_.notify_one();
      }
      if (isTop) {
        topListed = listed;
        topMatches = std::move(matches);  // the top's matches come last
      } else if (listed) {
        lock.unlock();
        sink_.folder(path, std::move(matches));
        lock.lock();
      }
      continue;
    }
    if (folder.state == State::Pending && listing_ < parallel_) {
      // Nobody lists it yet and the emitter has nothing else to do: list it here.
      take(next);
      spawnHelpers();
      lock.unlock();
      sink_.waiting();
      lock.lock();
      list(lock, next);
      continue;
    }
    lock.unlock();
    sink_.waiting();
    lock.lock();
    listed_.wait(lock, stop_, [this] {
      const Folder& first = folders_.begin()->second;
      return first.state == State::Listed || first.state == State::Failed ||
             (first.state == State::Pending && listing_ < parallel_);
    });
  }
  finished_ = true;
  work_.notify_all();
  std::vector<std::thread> helpers = std::move(helpers_);
  lock.unlock();
  // Helpers in a listing finish it first; the lister's own time limits bound that.
  for (std::thread& helper : helpers) helper.join();
  if (complete && topListed) sink_.folder(share, std::move(topMatches));
  return stats_;
}

}  // namespace

ShareWalkStats walkShare(DirectoryLister& lister, const std::string& share,
                         const WildcardPattern& pattern, const ShareWalkLimits& limits,
                         std::stop_token stop, ShareWalkSink& sink) {
  OrderedWalk walk(lister, pattern, limits, std::move(stop), sink);
  return walk.run(share);
}

}  // namespace vuv
