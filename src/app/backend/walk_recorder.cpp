#include "app/backend/walk_recorder.h"

#include <utility>

#include "index/index_store.h"

namespace vuv::app {

void WalkRecorder::folderListed(const std::string& folder, std::vector<DirectoryEntry> entries) {
  {
    MutexLock lock(mutex_);
    if (keeping_) listed_.insert(index::locationKey(folder));
  }
  if (index_ != nullptr && recording_) index_->folderListed(folder, std::move(entries));
}

void WalkRecorder::folderFailed(const std::string& folder) {
  if (index_ != nullptr && recording_) index_->folderFailed(folder);
}

void WalkRecorder::keepListed(bool on) {
  MutexLock lock(mutex_);
  keeping_ = on;
  listed_.clear();
}

std::unordered_set<std::string> WalkRecorder::takeListed() {
  MutexLock lock(mutex_);
  keeping_ = false;
  return std::exchange(listed_, {});
}

}  // namespace vuv::app
