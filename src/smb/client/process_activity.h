// Whether a process is held up on this machine rather than waiting for its peer, from
// /proc/PID/stat (Linux): a worker that waits for a processor, the disk or a debugger is not
// hearing silence from its server. Thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace vuv::smb {

struct ProcessActivity {
  char state = '?';             // R running or runnable, S sleeping, D disk, T/t stopped, ...
  std::uint64_t cpuTicks = 0;   // user + system time so far
};

// nullopt: the process is gone or its entry is unreadable.
std::optional<ProcessActivity> readProcessActivity(pid_t pid);

// True when the process used the processor since `before`, or now wants one, waits for the
// disk or is stopped.
bool heldUpLocally(const ProcessActivity& before, const ProcessActivity& now);

}  // namespace vuv::smb
