#include "search/share_walk.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <variant>

#include "base/mutex.h"
#include "base/task_scope.h"
#include "browse/unc_path.h"

namespace vuv {

namespace {

// Child indexes from the share top; lexicographic order is emission order (pre-order).
using Key = std::vector<std::uint32_t>;

enum class State { Pending, Listing, Listed, Failed };

// A path as its parent's, shared by the siblings, and a name: the subfolders or matches of a
// listing under a long path hold that path once, not once each. A server decides how long its
// paths are and how many entries a folder has; held whole, they multiplied.
struct SharedPath {
  std::shared_ptr<const std::string> parent;  // null: `name` is the whole path (the share top)
  std::string name;

  std::size_t size() const { return parent ? parent->size() + 1 + name.size() : name.size(); }
  std::string full() const { return parent ? *parent + '\\' + name : name; }
};

// A matching entry of a listed folder, under the folder's path.
struct Match {
  std::string name;
  bool isFolder = false;
  std::uint64_t size = 0;
};

struct Folder {
  Folder(SharedPath folderPath, std::shared_ptr<const FolderIdChain> folderIds)
      : path(std::move(folderPath)), ids(std::move(folderIds)) {}

  SharedPath path;
  // Its whole path, made once by its listing and shared with its subfolders.
  std::shared_ptr<const std::string> listed;
  std::shared_ptr<const FolderIdChain> ids;  // null for the top until its listing gives its own id
  State state = State::Pending;
  std::vector<Match> matches;            // once Listed, until emitted
  std::vector<ListingFailure> failures;  // its own (Failed, or listed in part), until emitted
  std::vector<std::string> cut;          // subfolders not entered (too deep), until emitted
};

using Folders = std::map<Key, Folder>;
using FolderIt = Folders::iterator;

struct ByKey {
  bool operator()(const FolderIt& a, const FolderIt& b) const { return a->first < b->first; }
};

// What one listing gave, worked out without the lock. Names, not paths: see SharedPath.
struct Listing {
  std::shared_ptr<const std::string> path;  // the listed folder's whole path
  std::optional<Error> error;  // set: the listing failed
  std::size_t entries = 0;     // taken from the listing so far
  bool truncated = false;      // it held more than maxFolderEntries: the rest was not taken
  std::vector<Match> matches;
  // To enter, by name: the file id while the listing runs, its chain of ids once it is through.
  std::vector<std::pair<std::string, std::variant<std::uint64_t, std::shared_ptr<const FolderIdChain>>>> subfolders;
  std::vector<ListingFailure> failures;  // the folder's own: listed only in part
  std::vector<std::string> cut;          // not entered: too deep or path too long
  std::uint64_t loops = 0;               // not entered: repeated file id
};

const Error& nestedTooDeep() {
  static const Error error = makeError(ErrorCode::InvalidArgument, "folders nested too deep");
  return error;
}

class OrderedWalk {
 public:
  OrderedWalk(Executor& executor, DirectoryLister& lister, const WildcardPattern& pattern,
              const ShareWalkLimits& limits, std::stop_token stop, ShareWalkSink& sink)
      : tasks_(executor), lister_(lister), pattern_(pattern), limits_(limits), stop_(std::move(stop)), sink_(sink) {
    limits_.maxParallelListings = std::max<std::size_t>(limits_.maxParallelListings, 1);
    limits_.lanParallelListings = std::clamp<std::size_t>(limits_.lanParallelListings, 1, limits_.maxParallelListings);
    limits_.nearParallelListings = std::clamp(limits_.nearParallelListings, limits_.lanParallelListings,
                                              limits_.maxParallelListings);
    limits_.midParallelListings = std::clamp(limits_.midParallelListings, limits_.nearParallelListings,
                                             limits_.maxParallelListings);
    MutexLock lock(mutex_);
    parallel_ = limits_.lanParallelListings;
  }

  ShareWalkStats run(const std::string& share) EXCLUDES(mutex_);

 private:
  bool room(std::size_t times) const REQUIRES(mutex_);
  bool aheadOfBuffered(FolderIt it) const REQUIRES(mutex_);
  FolderIt startable() REQUIRES(mutex_);
  std::size_t startableCount() REQUIRES(mutex_);
  void take(FolderIt it) REQUIRES(mutex_);
  void list(FolderIt it) REQUIRES(mutex_);
  bool examine(std::vector<DirectoryEntry>& batch, std::size_t pathSize, std::size_t depth, Listing& out) const;
  void chain(const Folder& folder, std::uint64_t folderId, Listing& out) const;
  void record(FolderIt it, Listing&& listing) REQUIRES(mutex_);
  void adaptParallelism(std::chrono::steady_clock::duration took, bool coldStart) REQUIRES(mutex_);
  void postHelpers() REQUIRES(mutex_);
  void helper() EXCLUDES(mutex_);
  bool folderReady() REQUIRES(mutex_);

  TaskScope tasks_;  // first member: destroyed last, after every helper has left
  DirectoryLister& lister_;
  const WildcardPattern& pattern_;
  ShareWalkLimits limits_;
  const std::stop_token stop_;
  ShareWalkSink& sink_;

  Mutex mutex_;
  CondVar listed_;  // the emitter waits for the next folder
  // Known and not yet emitted; begin() is emitted next. Folders that are Listing are read
  // without the lock by the task listing them (path, ids): only the emitter erases folders,
  // and only once they are listed.
  Folders folders_ GUARDED_BY(mutex_);
  std::set<FolderIt, ByKey> pending_ GUARDED_BY(mutex_);  // known and not yet listed
  std::size_t listing_ GUARDED_BY(mutex_) = 0;            // listings in flight
  std::set<FolderIt, ByKey> buffered_ GUARDED_BY(mutex_);  // listed (or failed), not yet emitted
  std::size_t bufferedRows_ GUARDED_BY(mutex_) = 0;       // their matches
  std::size_t queuedHelpers_ GUARDED_BY(mutex_) = 0;      // posted, not yet taking work
  std::size_t helpers_ GUARDED_BY(mutex_) = 0;            // posted and not yet ended
  std::size_t parallel_ GUARDED_BY(mutex_) = 1;           // listings allowed at once now
  std::array<std::chrono::steady_clock::duration, 16> recentListings_ GUARDED_BY(mutex_){};
  std::size_t recentCount_ GUARDED_BY(mutex_) = 0;        // listings counted (no cold starts), ever
  bool finished_ GUARDED_BY(mutex_) = false;              // the emitter is done; helpers leave
  ShareWalkStats stats_ GUARDED_BY(mutex_);
};

// Whether `times` the buffer bounds leave room to list one more folder.
bool OrderedWalk::room(std::size_t times) const {
  return buffered_.size() + listing_ < times * limits_.maxBufferedFolders &&
         bufferedRows_ < times * limits_.maxBufferedRows;
}

// Whether the emitter reaches `it` before every buffered folder: none of them can go out
// until it is listed.
bool OrderedWalk::aheadOfBuffered(FolderIt it) const {
  return buffered_.empty() || it->first < (*buffered_.begin())->first;
}

// The folder that may be listed now, or end(): pending folders go smallest key first.
FolderIt OrderedWalk::startable() {
  return startableCount() > 0 ? *pending_.begin() : folders_.end();
}

// How many of the first pending folders may be listed now. Full buffers hold back folders
// behind a buffered one. Those ahead of all of them are what the emitter waits for, and they
// go on, as many at once as the walk allows, up to twice the bounds: listed one at a time, the
// subtree of a folder behind one slow listing was walked serially (16 s instead of 6 at a
// 10 ms round trip). Past that, as past the bounds before, only the folder the emitter waits
// for.
std::size_t OrderedWalk::startableCount() {
  if (pending_.empty() || listing_ >= parallel_) return 0;
  const std::size_t free = std::min(parallel_ - listing_, pending_.size());
  const std::size_t held = buffered_.size() + listing_;
  const auto roomFor = [&](std::size_t times) REQUIRES(mutex_) {
    return room(times) ? std::min(free, times * limits_.maxBufferedFolders - held) : 0;
  };
  std::size_t count = roomFor(1);
  const std::size_t ahead = roomFor(2);
  for (auto it = std::next(pending_.begin(), static_cast<std::ptrdiff_t>(count));
       count < ahead && aheadOfBuffered(*it); ++it) {
    ++count;
  }
  if (count == 0 && *pending_.begin() == folders_.begin()) count = 1;
  return count;
}

void OrderedWalk::take(FolderIt it) {
  pending_.erase(it);
  it->second.state = State::Listing;
  ++listing_;
  stats_.peakParallelListings = std::max(stats_.peakParallelListings, listing_);
}

// Lists a taken folder with mutex_ released meanwhile; it is held again on return.
void OrderedWalk::list(FolderIt it) {
  const Folder& folder = it->second;
  const std::size_t depth = it->first.size();
  mutex_.unlock();
  const auto started = std::chrono::steady_clock::now();
  Listing listing;
  listing.path = std::make_shared<const std::string>(folder.path.full());
  const std::string& path = *listing.path;
  const auto end = lister_.stream(
      path, [&](std::vector<DirectoryEntry>& batch) { return examine(batch, path.size(), depth, listing); }, stop_);
  const auto took = std::chrono::steady_clock::now() - started;
  if (end) {
    chain(folder, end->folderId, listing);
  } else if (listing.truncated && !stop_.stop_requested()) {
    // What came before the cap is walked; the folder is reported as listed in part.
    chain(folder, 0, listing);
    listing.failures.push_back(ListingFailure{path, makeError(ErrorCode::TooManyEntries)});
  } else {
    listing.error = end.error();
  }
  mutex_.lock();
  adaptParallelism(took, end && end->coldStart);
  record(it, std::move(listing));
}

// Latency, not bandwidth, bounds a walk: when listings take long, many at once hide the round
// trips; when they are quick, a few keep the processors for the work itself, and in between
// the processors still bound it. The quickest of the recent listings tells them apart. A
// listing that also paid for its worker's start and connection (a cold start) does not count:
// opened on cold starts, a LAN walk started dozens of workers, which then kept each other's
// listings slow enough to hold it open, at twice the processor time. Nor is one listing
// enough, unless it took farListing or more: the first ones on a LAN share the processors
// with the other workers' start-ups (the server spends some 40 ms of processor time on each
// new connection) and took 5-30 ms, and opened on them a LAN walk started 16 or 32 workers in
// one run out of two (2.6-2.9 s against 1.9-2.1 s). Until kListingsToOpen have come in, the
// walk keeps to the LAN limit: with four, the first four LAN listings were all 5 ms or more in
// two walks of ten, which went to 16 (2.6-2.7 s against 2.1 s); with eight, in none, and a
// 3 ms round trip opened 70 ms later but was not slower. Over a 10 ms round trip the wait held
// four listings for some 0.2 s while the processors were half idle: farListing ends it.
void OrderedWalk::adaptParallelism(std::chrono::steady_clock::duration took, bool coldStart) {
  constexpr std::size_t kListingsToOpen = 8;
  if (coldStart) return;
  recentListings_[recentCount_++ % recentListings_.size()] = took;
  const std::size_t known = std::min(recentCount_, recentListings_.size());
  const auto quickest = *std::min_element(recentListings_.begin(), recentListings_.begin() + known);
  const bool seen = recentCount_ >= kListingsToOpen || quickest >= limits_.farListing;
  // Only a full window of slow listings opens the walk all the way, or a start-up would start
  // maxParallelListings workers for round trips that turn out middling.
  const bool slow = quickest >= limits_.slowListing && recentCount_ >= recentListings_.size();
  parallel_ = !seen || quickest < limits_.quickListing ? limits_.lanParallelListings
              : quickest < limits_.nearListing ? limits_.nearParallelListings
              : slow                           ? limits_.maxParallelListings
                                               : limits_.midParallelListings;
}

// Takes one batch of a folder's entries: only its matches and the subfolders to enter stay.
bool OrderedWalk::examine(std::vector<DirectoryEntry>& batch, std::size_t pathSize, std::size_t depth,
                          Listing& out) const {
  if (batch.size() > limits_.maxFolderEntries - out.entries) {
    out.truncated = true;
    batch.resize(limits_.maxFolderEntries - out.entries);
  }
  out.entries += batch.size();
  for (DirectoryEntry& entry : batch) {
    const std::string& name = entry.name;
    if (name.empty() || name == "." || name == "..") continue;
    const bool matches = pattern_.matches(name);
    const bool enter = entry.isFolder && name.front() != '.';
    if (!matches && !enter) continue;
    if (enter) {
      if (depth + 1 > limits_.maxDepth || pathSize + 1 + name.size() > limits_.maxPathBytes) {
        out.cut.push_back(name);
      } else {
        out.subfolders.emplace_back(name, entry.fileId);
      }
    }
    if (matches) out.matches.push_back(Match{name, entry.isFolder, entry.isFolder ? 0 : entry.size});
  }
  return !out.truncated;
}

// Once the listing is through: the top's own id is in no parent's listing, only its own
// listing tells it, so folder ids are chained (and loops cut) only now.
void OrderedWalk::chain(const Folder& folder, std::uint64_t folderId, Listing& out) const {
  std::shared_ptr<const FolderIdChain> ids = folder.ids;
  if (!ids && folderId != 0) ids = std::make_shared<const FolderIdChain>(FolderIdChain{folderId, nullptr});
  std::erase_if(out.subfolders, [&](auto& subfolder) {
    auto& [path, id] = subfolder;
    if (std::get<std::uint64_t>(id) != 0 && FolderIdChain::holds(ids.get(), std::get<std::uint64_t>(id))) {
      ++out.loops;
      return true;
    }
    id = std::make_shared<const FolderIdChain>(FolderIdChain{std::get<std::uint64_t>(id), ids});
    return false;
  });
}

void OrderedWalk::record(FolderIt it, Listing&& listing) {
  --listing_;
  ++stats_.foldersListed;
  stats_.failedFolders += listing.failures.size() + listing.cut.size();
  stats_.loopsCut += listing.loops;
  Folder& folder = it->second;
  folder.listed = listing.path;
  // Where a folder's listing ends: failed (listing.error), or listed, whole or only in part
  // (listing.truncated; its TooManyEntries failure is then in listing.failures).
  if (listing.error) {
    folder.state = State::Failed;
    // A stop cuts listings short: that is no failure of the folder, and nobody hears of it.
    if (listing.error->code != ErrorCode::Cancelled) {
      ++stats_.failedFolders;
      folder.failures.push_back(ListingFailure{*folder.listed, std::move(*listing.error)});
    }
  } else {
    folder.state = State::Listed;
    folder.matches = std::move(listing.matches);
    folder.failures = std::move(listing.failures);
    folder.cut = std::move(listing.cut);
    // The top's matches are set aside at once and held to the end whatever the bound.
    if (!it->first.empty()) bufferedRows_ += folder.matches.size();
    // Children sort right after their parent and before its next sibling, in listing order.
    Key key = it->first;
    key.push_back(0);
    FolderIt hint = std::next(it);
    for (auto& [name, ids] : listing.subfolders) {
      auto chain = std::move(std::get<std::shared_ptr<const FolderIdChain>>(ids));
      const FolderIt child =
          folders_.emplace_hint(hint, key, Folder{SharedPath{folder.listed, std::move(name)}, std::move(chain)});
      pending_.insert(child);
      hint = std::next(child);
      ++key.back();
    }
  }
  buffered_.insert(it);
  stats_.peakBufferedFolders = std::max(stats_.peakBufferedFolders, buffered_.size());
  stats_.peakBufferedRows = std::max(stats_.peakBufferedRows, bufferedRows_);
  // Only the emitter waits, and only for the first folder: most listings end elsewhere.
  if (folderReady()) listed_.notifyAll();
  postHelpers();
}

// Posts listing tasks until every folder that may be listed now has one on its way.
void OrderedWalk::postHelpers() {
  if (finished_ || stop_.stop_requested()) return;
  const std::size_t wanted = startableCount();
  while (queuedHelpers_ < wanted && helpers_ < limits_.maxParallelListings) {
    if (!tasks_.post([this] { helper(); }, Executor::Priority::High)) return;  // the emitter lists alone
    ++queuedHelpers_;
    ++helpers_;
  }
}

// Lists folders while there are some it may list; never waits for work.
void OrderedWalk::helper() {
  MutexLock lock(mutex_);
  --queuedHelpers_;
  while (!finished_ && !stop_.stop_requested()) {
    const FolderIt it = startable();
    if (it == folders_.end()) break;
    take(it);
    list(it);
  }
  --helpers_;
  // Folders may have become startable while we left: another task picks them up.
  postHelpers();
}

bool OrderedWalk::folderReady() {
  const Folder& first = folders_.begin()->second;
  return first.state == State::Listed || first.state == State::Failed ||
         (first.state == State::Pending && listing_ < parallel_);
}

ShareWalkStats OrderedWalk::run(const std::string& share) {
  MutexLock lock(mutex_);
  pending_.insert(folders_.emplace(Key{}, Folder{SharedPath{nullptr, share}, nullptr}).first);
  std::vector<ResultRow> topMatches;
  std::vector<ListingFailure> topFailures;
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
      const std::shared_ptr<const std::string> listedPath = std::move(folder.listed);
      const std::string& path = *listedPath;
      std::vector<Match> matched = std::move(folder.matches);
      std::vector<ListingFailure> failures = std::move(folder.failures);
      std::vector<std::string> cut = std::move(folder.cut);
      buffered_.erase(next);
      if (!isTop) bufferedRows_ -= matched.size();
      folders_.erase(next);
      // Room in the buffer: more folders may be listed now.
      postHelpers();
      lock.unlock();
      std::vector<ResultRow> matches;
      matches.reserve(matched.size());
      for (Match& match : matched) matches.push_back(ResultRow{path + '\\' + match.name, match.isFolder, match.size});
      for (std::string& name : cut) failures.push_back(ListingFailure{path + '\\' + name, nestedTooDeep()});
      if (isTop && listed) {
        lock.lock();
        topListed = true;
        topMatches = std::move(matches);  // the top's matches come last
        topFailures = std::move(failures);
        continue;
      }
      if (listed) sink_.folder(path, std::move(matches));
      for (ListingFailure& failure : failures) sink_.failed(std::move(failure));
      lock.lock();
      continue;
    }
    if (folder.state == State::Pending && listing_ < parallel_) {
      // Nobody lists it yet and the emitter has nothing else to do: list it here.
      take(next);
      postHelpers();
      lock.unlock();
      sink_.waiting();
      lock.lock();
      list(next);
      continue;
    }
    lock.unlock();
    sink_.waiting();
    lock.lock();
    listed_.wait(mutex_, stop_, [this]() REQUIRES(mutex_) { return folderReady(); });
  }
  finished_ = true;
  lock.unlock();
  // Queued helpers are dropped; those in a listing finish it first, promptly after a stop.
  tasks_.close();
  lock.lock();
  const ShareWalkStats stats = stats_;
  lock.unlock();
  if (complete && topListed) {
    sink_.folder(share, std::move(topMatches));
    for (ListingFailure& failure : topFailures) sink_.failed(std::move(failure));
  }
  return stats;
}

}  // namespace

ShareWalkStats walkShare(Executor& executor, DirectoryLister& lister, const std::string& share,
                         const WildcardPattern& pattern, const ShareWalkLimits& limits,
                         std::stop_token stop, ShareWalkSink& sink) {
  OrderedWalk walk(executor, lister, pattern, limits, std::move(stop), sink);
  return walk.run(share);
}

}  // namespace vuv
