// Whether a process is held up on this machine rather than waiting for its peer, from
// /proc/PID/stat (Linux): a worker that waits for a processor, the disk or a debugger is not
// hearing silence from its server.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "platform/unique_fd.h"

namespace vuv::smb {

struct ProcessActivity {
  char state = '?';             // R running or runnable, S sleeping, D disk, T/t stopped, ...
  std::uint64_t cpuTicks = 0;   // user + system time so far
};

// One process's /proc/PID/stat, opened once, so that each sample is a single read: the pool
// samples a worker after every reply, and a worker serves many requests. Opened while the
// process is alive, the entry stays that process's even if its number is reused. One thread at
// a time.
class ProcessActivityReader {
 public:
  explicit ProcessActivityReader(pid_t pid);
  // nullopt: the process is gone or its entry is unreadable.
  std::optional<ProcessActivity> read() const;

 private:
  UniqueFd stat_;
};

// True when the process used the processor since `before`, or now wants one, waits for the
// disk or is stopped.
bool heldUpLocally(const ProcessActivity& before, const ProcessActivity& now);

}  // namespace vuv::smb
