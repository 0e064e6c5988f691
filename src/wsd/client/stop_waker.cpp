#include "wsd/client/stop_waker.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vuv::wsd {

StopWaker::StopWaker(std::stop_token stop)
    : stop_(stop), fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), callback_(stop, Wake{fd_.get()}) {}

void StopWaker::wake(int fd) {
  if (fd < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

}  // namespace vuv::wsd
