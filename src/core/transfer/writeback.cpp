#include "transfer/writeback.h"

#include <fcntl.h>

namespace vuv {

BackgroundWriteback::~BackgroundWriteback() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

void BackgroundWriteback::written(std::uint64_t end) {
  {
    std::lock_guard lock(mutex_);
    written_ = end;
  }
  if (thread_.joinable()) {
    more_.notify_one();
  } else if (end >= kEagerWritebackBytes) {
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
  }
}

void BackgroundWriteback::run(std::stop_token stop) {
  std::uint64_t started = 0;
  std::unique_lock lock(mutex_);
  while (more_.wait(lock, stop, [&] { return written_ > started; })) {
    const std::uint64_t end = written_;
    lock.unlock();
    // Only starts the writes; a failure shows again at the fsync, which is checked.
    ::sync_file_range(fd_, static_cast<off_t>(started), static_cast<off_t>(end - started), SYNC_FILE_RANGE_WRITE);
    started = end;
    lock.lock();
  }
}

}  // namespace vuv
