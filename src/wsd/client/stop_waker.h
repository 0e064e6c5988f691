// A descriptor that becomes readable when a stop is requested, so that a poll loop wakes at
// once instead of polling the token in slices.
//
// Thread safety: the stop may come from any thread (an eventfd write in a stop_callback);
// fd() and stopped() belong to the thread that polls.
#pragma once


#include <stop_token>

#include "platform/unique_fd.h"

namespace vuv::wsd {

class StopWaker {
 public:
  explicit StopWaker(std::stop_token stop);
  StopWaker(const StopWaker&) = delete;
  StopWaker& operator=(const StopWaker&) = delete;

  // -1 when no eventfd could be made: the loop then only sees stopped() at its next wake.
  int fd() const { return fd_.get(); }
  bool stopped() const { return stop_.stop_requested(); }

 private:
  static void wake(int fd);

  std::stop_token stop_;
  UniqueFd fd_;  // before the callback, which writes to it
  struct Wake {
    int fd;
    void operator()() const { wake(fd); }
  };
  std::stop_callback<Wake> callback_;
};

}  // namespace vuv::wsd
