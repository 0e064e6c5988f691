#include "index/index_writer.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <ctime>
#include <functional>
#include <utility>

namespace vuv::index {

Result<std::unique_ptr<IndexWriter>> IndexWriter::open(const std::string& path, IndexWriterLimits limits) {
  auto store = IndexStore::open(path);
  if (!store) return store.error();
  return std::make_unique<IndexWriter>(std::move(*store), limits);
}

namespace {

// Starts the writer with every signal blocked: signals are for the threads that wait for them
// (a command's Ctrl+C watch), whenever the writer was started.
std::thread startBlockingSignals(std::function<void()> body) {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  std::thread thread(std::move(body));
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return thread;
}

}  // namespace

IndexWriter::IndexWriter(IndexStore store, IndexWriterLimits limits)
    : store_(std::move(store)), limits_(limits), thread_(startBlockingSignals([this] { run(); })) {}

IndexWriter::~IndexWriter() {
  {
    MutexLock lock(mutex_);
    closing_ = true;
    changed_.notifyAll();
  }
  thread_.join();
}

void IndexWriter::folderListed(const std::string& folder, std::vector<DirectoryEntry> entries) {
  push(Job{folder, std::move(entries), static_cast<std::int64_t>(std::time(nullptr))});
}

void IndexWriter::folderFailed(const std::string& folder) { push(Job{folder, std::nullopt, 0}); }

void IndexWriter::push(Job job) {
  const std::size_t size = job.entries ? job.entries->size() : 0;
  MutexLock lock(mutex_);
  // An empty queue takes any folder, however large: a walk never waits forever.
  while (!queue_.empty() && queuedEntries_ + size > limits_.maxQueuedEntries) changed_.wait(mutex_);
  queue_.push_back(std::move(job));
  queuedEntries_ += size;
  ++pushed_;
  changed_.notifyAll();
}

void IndexWriter::flush() {
  MutexLock lock(mutex_);
  const std::uint64_t target = pushed_;
  while (written_ < target) changed_.wait(mutex_);
}

std::optional<Error> IndexWriter::error() const {
  MutexLock lock(mutex_);
  return error_;
}

std::uint64_t IndexWriter::foldersWritten() const {
  MutexLock lock(mutex_);
  return folders_;
}

void IndexWriter::run() {
  // The walks come first: the writer takes what processor time they leave.
  sched_param idle{};
  pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
  std::vector<Job> batch;
  MutexLock lock(mutex_);
  while (true) {
    while (queue_.empty() && !closing_) changed_.wait(mutex_);
    if (queue_.empty()) return;
    std::size_t entries = 0;
    while (!queue_.empty() && (batch.empty() || entries + (queue_.front().entries ? queue_.front().entries->size() : 0) <= limits_.maxBatchEntries)) {
      entries += queue_.front().entries ? queue_.front().entries->size() : 0;
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    queuedEntries_ -= entries;
    changed_.notifyAll();  // room in the queue
    lock.unlock();
    write(batch);
    lock.lock();
    written_ += batch.size();
    batch.clear();
    changed_.notifyAll();
  }
}

void IndexWriter::write(std::vector<Job>& batch) {
  Status status = store_.begin();
  for (Job& job : batch) {
    if (!status) break;
    status = job.entries ? store_.replaceFolder(job.folder, *job.entries, job.when) : store_.markFailed(job.folder);
  }
  if (status) status = store_.commit();
  if (!status) store_.rollback();
  MutexLock lock(mutex_);
  if (status) {
    folders_ += batch.size();
  } else {
    error_ = status.error();
  }
}

}  // namespace vuv::index
