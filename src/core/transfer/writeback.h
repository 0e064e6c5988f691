// Starts the disk writes of a file's new bytes on a thread of its own, so that the thread that
// receives them never waits for the disk (asking the kernel to start writing blocks while the
// disk's queue is full). A big copy then leaves no gigabytes of unwritten pages behind it, and
// the fsync of a copy that replaces something finds little left to do.
//
// The thread starts only once a file has kEagerWritebackBytes written: small files, as a
// folder copy has many of, cost no thread.
//
// Thread rules: written() from the one thread that writes the file; the destructor stops and
// joins the thread, and must run before the descriptor is closed.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vuv {

inline constexpr std::uint64_t kEagerWritebackBytes = 8 * 1024 * 1024;

class BackgroundWriteback {
 public:
  explicit BackgroundWriteback(int fd) : fd_(fd) {}
  ~BackgroundWriteback();
  BackgroundWriteback(const BackgroundWriteback&) = delete;
  BackgroundWriteback& operator=(const BackgroundWriteback&) = delete;

  // The bytes before `end` are in the page cache.
  void written(std::uint64_t end);

 private:
  void run(std::stop_token stop);

  const int fd_;
  std::mutex mutex_;
  std::condition_variable_any more_;
  std::uint64_t written_ = 0;  // guarded by mutex_
  std::jthread thread_;        // last: started once there is enough to write
};

}  // namespace vuv
