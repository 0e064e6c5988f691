// One running SMB worker process and the socket it talks through.
//
// The worker gets one end of a socketpair as both stdin and stdout; stderr is shared with us.
// Every descriptor we make is close-on-exec, so no worker holds another one's socket open
// (which would hide that worker's end of stream). The destructor closes the socket and reaps
// the process, killing it after kShutdownGrace. Only the PID we started is ever signalled or
// waited for. One thread at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/unique_fd.h"
#include "smb/channel/message_channel.h"

namespace vuv::smb {

// How long a worker may take to leave after its stdin closes before it is killed.
inline constexpr std::chrono::milliseconds kShutdownGrace{500};

class WorkerProcess {
 public:
  // Starts `executable` with `arguments` and our environment.
  static Result<std::unique_ptr<WorkerProcess>> start(const std::string& executable,
                                                      const std::vector<std::string>& arguments = {});

  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;
  ~WorkerProcess();

  pid_t pid() const { return pid_; }
  MessageChannel& channel() { return channel_; }

  // An idle worker says nothing; one that has spoken or hung up since its last request died
  // or is confused, and must not be used.
  bool idleAndAlive() const;

  // Closes our end: the worker reads end of stream and leaves.
  void closeChannel() { socket_.reset(); }
  // Waits for the exit until `deadline`, then kills. Says how the process ended.
  std::string reap(Clock::time_point deadline);
  // SIGKILL now, then reap.
  std::string kill();

 private:
  WorkerProcess(pid_t pid, UniqueFd socket);
  // waitpid with `flags`; true once the process is reaped.
  bool collect(int flags);

  pid_t pid_;
  UniqueFd socket_;
  MessageChannel channel_;
  bool reaped_ = false;
  std::string ending_;  // how it ended, once reaped
};

}  // namespace vuv::smb
