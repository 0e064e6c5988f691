// Keeps the index current from the walks: the ListingRecorder they call, writing on a thread
// of its own so that no walk waits for the disk.
//
// Each folder's replacement is one transaction with others (a batch): a reader sees a folder
// either as it was or as it is now. Listings wait in a bounded queue; a walk thread blocks
// only when the queue is full, which a disk slower than the network would cause.
//
// Thread rules: folderListed() and folderFailed() from any threads; flush() and error() from
// any thread; the destructor writes what is queued, then ends the writer thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/mutex.h"
#include "base/result.h"
#include "browse/listing_recorder.h"
#include "index/index_store.h"

namespace vuv::index {

struct IndexWriterLimits {
  std::size_t maxQueuedEntries = 262144;  // entries waiting before a walk thread waits
  std::size_t maxBatchEntries = 65536;    // entries written in one transaction at most
};

class IndexWriter final : public ListingRecorder {
 public:
  static Result<std::unique_ptr<IndexWriter>> open(const std::string& path, IndexWriterLimits limits = {});
  ~IndexWriter() override;
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  void folderListed(const std::string& folder, std::vector<DirectoryEntry> entries) override;
  void folderFailed(const std::string& folder) override;

  // Returns once everything recorded before the call is written (or failed to be).
  void flush();
  // The last write that failed, if any; writing goes on with the next batch.
  std::optional<Error> error() const;
  std::uint64_t foldersWritten() const;

  IndexWriter(IndexStore store, IndexWriterLimits limits);

 private:
  struct Job {
    std::string folder;
    std::optional<std::vector<DirectoryEntry>> entries;  // none: the listing failed
    std::int64_t when = 0;
  };

  void push(Job job);
  void run();
  void write(std::vector<Job>& batch);

  IndexStore store_;  // the writer thread's only
  const IndexWriterLimits limits_;

  mutable Mutex mutex_;
  CondVar changed_;
  std::deque<Job> queue_ GUARDED_BY(mutex_);
  std::size_t queuedEntries_ GUARDED_BY(mutex_) = 0;
  std::uint64_t pushed_ GUARDED_BY(mutex_) = 0;   // jobs ever queued
  std::uint64_t written_ GUARDED_BY(mutex_) = 0;  // jobs ever done with
  std::uint64_t folders_ GUARDED_BY(mutex_) = 0;  // folders written successfully
  std::optional<Error> error_ GUARDED_BY(mutex_);
  bool closing_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace vuv::index
