// What the window's searches list: passed on to the index of names while the index is on, and
// the folders listed completely kept for the running search, so that rows the index showed
// and the walk did not confirm are removed only where the walk looked.
//
// Thread rules: folderListed() and folderFailed() from the walks' threads; the others from
// any thread. The recorder handed in must outlive this one.
#pragma once

#include <atomic>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/mutex.h"
#include "browse/listing_recorder.h"

namespace vuv::app {

class WalkRecorder final : public ListingRecorder {
 public:
  // `index` may be null: nothing is recorded.
  explicit WalkRecorder(ListingRecorder* index) : index_(index) {}

  void folderListed(const std::string& folder, std::vector<DirectoryEntry> entries) override;
  void folderFailed(const std::string& folder) override;

  void setRecording(bool on) { recording_ = on; }
  // Forgets the folders kept so far; keeps them from now on when `on`.
  void keepListed(bool on);
  // The folders listed completely since keepListed(true), by their folded form
  // (index::locationKey); forgets them and keeps no more.
  std::unordered_set<std::string> takeListed();

 private:
  ListingRecorder* const index_;
  std::atomic<bool> recording_ = true;
  Mutex mutex_;
  bool keeping_ GUARDED_BY(mutex_) = false;
  std::unordered_set<std::string> listed_ GUARDED_BY(mutex_);  // folded
};

}  // namespace vuv::app
