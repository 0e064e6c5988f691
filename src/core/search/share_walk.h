// The walk of one share: lists every folder below the share top once and passes on the names
// that match the pattern, in a fixed order, while listing many folders at once.
//
// Order: walk(F) = for each subfolder S of F in listing order whose name does not start with
// '.': S's matches, then walk(S). A share is walk(top), then the top's own matches. Matches of
// a folder are its entries whose name matches, in listing order; folders match like files.
//
// How: the emission order is the pre-order of the folder tree, so every known folder has a key
// (the child indexes from the top) whose lexicographic order is the emission order. Listing
// tasks always take the smallest-key folder not yet listed; the calling thread emits folders
// in key order, waiting for (or itself making) the listing it needs next. Only the matches and
// the subfolders of listed-but-not-yet-emitted folders are kept, and no listing starts while
// too many of those wait, except the one the emitter waits for; so memory stays bounded
// whatever the share's size. The top's matches are kept to the end, as the order demands.
//
// Not entered (their names are still reported when they match): folders whose name starts
// with '.'; a folder whose non-zero file id equals that of a folder it was reached through,
// the share's top included (a link loop; the top's id comes from its listing's folderId);
// folders deeper than maxDepth or with a path longer than maxPathBytes (counted and reported
// as failed). A folder whose listing fails is skipped, counted and reported; the walk goes on.
// A folder's entries stream in from the lister and only its matches and subfolders are kept;
// one of more than maxFolderEntries entries is walked that far and reported as failed.
//
// Thread rules: walkShare() runs on the calling thread, which may be an executor task, and
// posts up to maxParallelListings listing tasks at once to the executor (High priority). It
// never waits for a task that has not started: a folder nobody lists yet it lists itself, so
// a walk goes on even when the executor's every thread is busy. Before returning it drops its
// queued tasks and waits for its running ones. The sink is called only on the calling thread,
// never with the walk's lock held. After a stop request walkShare() returns without emitting
// anything more once the listings in flight have returned, which the lister makes prompt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "base/executor.h"
#include "browse/directory_lister.h"
#include "results/result_row.h"
#include "search/wildcard.h"
#include "status/listing_failure.h"

namespace vuv {

struct ShareWalkLimits {
  // Concurrent listings per share walk; latency, not bandwidth, bounds a walk.
  std::size_t maxParallelListings = 32;
  // While listings come back faster than quickListing, the server answers at LAN speed and
  // more parallel listings would only compete for processor time: the walk then keeps to
  // lanParallelListings. Up to nearListing (a LAN listing held up by workers starting, or a
  // round trip of a few ms) it keeps to nearParallelListings; up to slowListing (a round trip
  // of some 25 ms) to midParallelListings, where the processors (ours and the server's, per
  // connection) still bound a walk; past it (after a first sixteen listings), to
  // maxParallelListings, which --jobs may set higher (bench/README.md, "More listings at
  // once", "Forked workers", "Fewer wake-ups"). Listings that started their worker do not count,
  // and until eight that did not have come in, only one of farListing or more (four round trips
  // of some 10 ms; LAN listings took 5-30 ms while workers started) opens the walk beyond
  // lanParallelListings.
  std::size_t lanParallelListings = 4;
  std::size_t nearParallelListings = 16;
  std::size_t midParallelListings = 32;
  std::chrono::microseconds quickListing{5000};
  std::chrono::microseconds nearListing{20000};
  std::chrono::microseconds farListing{40000};
  std::chrono::microseconds slowListing{100000};
  // Listed folders waiting to be emitted before listing pauses, except for folders the emitter
  // reaches before every buffered one.
  std::size_t maxBufferedFolders = 512;
  // Matching rows of those folders before listing pauses, with the same exception. Soft:
  // listings already in flight add theirs on top.
  std::size_t maxBufferedRows = 65536;
  // Levels below the top that are still entered (the top is level 0).
  std::size_t maxDepth = 256;
  // Longest folder path, in bytes, that is still entered.
  std::size_t maxPathBytes = 32 * 1024;
  // Entries taken from one folder's listing; past them the listing stops, what came before is
  // walked and the folder is reported as failed with TooManyEntries.
  std::size_t maxFolderEntries = kDefaultMaxFolderEntries;
};

struct ShareWalkStats {
  std::uint64_t foldersListed = 0;  // listings that returned, successfully or not
  std::uint64_t failedFolders = 0;  // failed or truncated listings, folders cut by maxDepth/maxPathBytes;
                                    // not listings cut short by a stop
  std::uint64_t loopsCut = 0;       // folders not entered because of a repeated file id
  std::size_t peakBufferedFolders = 0;
  std::size_t peakBufferedRows = 0;
  std::size_t peakParallelListings = 0;
};

class ShareWalkSink {
 public:
  virtual ~ShareWalkSink() = default;
  // One successfully listed folder's matches (possibly none), in emission order; the top comes
  // last, with `path` equal to the share.
  virtual void folder(const std::string& path, std::vector<ResultRow>&& matches) = 0;
  // The walk is about to wait for the network: the moment to pass held rows on.
  virtual void waiting() = 0;
  // A folder that could not be listed, was listed only in part (TooManyEntries: its matches
  // up to the cap came first), or was not entered for its depth or path length, in
  // emission order (where its rows would have been). Not called for listings cut by a stop.
  virtual void failed(ListingFailure failure) = 0;
};

ShareWalkStats walkShare(Executor& executor, DirectoryLister& lister, const std::string& share,
                         const WildcardPattern& pattern, const ShareWalkLimits& limits,
                         std::stop_token stop, ShareWalkSink& sink);

}  // namespace vuv
