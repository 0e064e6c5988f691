// One running SMB worker process and the socket it talks through.
//
// The worker gets one end of a socketpair as both stdin and stdout; stderr is shared with us.
// Every descriptor we make is close-on-exec, so no worker holds another one's socket open
// (which would hide that worker's end of stream). The destructor closes the socket and reaps
// the process, killing it after kShutdownGrace. Only the PID we started is ever signalled or
// waited for, and never once reaped (its number may then belong to another process).
//
// Thread safety: one thread at a time, except interrupt(), which any thread may call at any
// time (a stop callback kills the worker of a cancelled request while its thread reads).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "platform/unique_fd.h"
#include "smb/channel/message_channel.h"
#include "smb/client/process_activity.h"

namespace vuv::smb {

// How long a worker may take to leave after its stdin closes before it is killed.
inline constexpr std::chrono::milliseconds kShutdownGrace{500};

class WorkerProcess {
 public:
  // Starts `executable` with `arguments` and our environment less PASSWD, PASSWD_FD and PASSWD_FILE.
  static Result<std::unique_ptr<WorkerProcess>> start(const std::string& executable,
                                                      const std::vector<std::string>& arguments = {});
  // The two ends of a new worker's socket: ours, and the one it talks through (closed here once
  // it has it).
  struct SocketPair {
    UniqueFd ours;
    UniqueFd theirs;
  };
  static Result<SocketPair> makeSocketPair();
  // A worker that another process started as our child (spawn_server.h), on `ours`.
  static std::unique_ptr<WorkerProcess> adopt(pid_t pid, UniqueFd ours);

  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;
  ~WorkerProcess();

  pid_t pid() const { return pid_; }
  // Marks a request begun; true for the first, whose time includes the worker's start-up.
  bool beginRequest() { return !std::exchange(servedAny_, true); }
  int socket() const { return socket_.get(); }
  MessageChannel& channel() { return channel_; }
  // What the process is doing on this machine now (process_activity.h); nullopt once gone.
  std::optional<ProcessActivity> activity() const { return activity_.read(); }

  // An idle worker says nothing; one that has spoken or hung up since its last request died
  // or is confused, and must not be used; nor one signalled to die, which may not be gone yet.
  bool idleAndAlive() const;

  // Closes our end: the worker reads end of stream and leaves.
  void closeChannel() { socket_.reset(); }
  // Waits for the exit until `deadline`, then kills. Says how the process ended.
  std::string reap(Clock::time_point deadline);
  // SIGKILL now, then reap.
  std::string kill();
  // SIGKILL now unless already reaped; the owner's next read sees the end of stream.
  void interrupt();

 private:
  WorkerProcess(pid_t pid, UniqueFd socket);
  // waitpid with `flags`; true once the process is reaped.
  bool collect(int flags);

  pid_t pid_;
  bool servedAny_ = false;
  UniqueFd socket_;
  MessageChannel channel_;
  const ProcessActivityReader activity_;  // opened at the start, before the pid can be reaped
  std::mutex reapMutex_;  // held while signalling or reaping, so interrupt() never hits a reused pid
  bool reaped_ = false;   // written under reapMutex_
  std::atomic<bool> interrupted_{false};
  std::string ending_;  // how it ended, once reaped
};

}  // namespace vuv::smb
