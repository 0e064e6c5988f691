#include "wsd/client/fd.h"

#include <unistd.h>

namespace vuv::wsd {

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace vuv::wsd
