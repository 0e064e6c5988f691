#include "smb/client/worker_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <string_view>
#include <thread>

extern char** environ;

namespace vuv::smb {

namespace {

constexpr std::chrono::milliseconds kReapPoll{5};

std::string describeStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "ended";
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

constexpr int kWorkerSendBuffer = 8 * 1024 * 1024;

// Our environment less the variables that may hold a password (or say where one is): a worker
// gets its credentials through the protocol only, and keeps no copy where /proc shows it.
std::vector<char*> workerEnvironment() {
  std::vector<char*> kept;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view entry(*variable);
    const std::string_view name = entry.substr(0, entry.find('='));
    if (name != "PASSWD" && name != "PASSWD_FD" && name != "PASSWD_FILE") kept.push_back(*variable);
  }
  kept.push_back(nullptr);
  return kept;
}

}  // namespace

Result<WorkerProcess::SocketPair> WorkerProcess::makeSocketPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    return makeError(ErrorCode::Io, "creating a socket for the SMB worker", errno);
  }
  SocketPair pair{UniqueFd(fds[0]), UniqueFd(fds[1])};
  // A file's chunk fits in the worker's send buffer, so the worker reads the next one from
  // the network while we take this one in. The system caps the size (net.core.wmem_max);
  // a smaller buffer only costs speed.
  const int sendBuffer = kWorkerSendBuffer;
  ::setsockopt(pair.theirs.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  return pair;
}

std::unique_ptr<WorkerProcess> WorkerProcess::adopt(pid_t pid, UniqueFd ours) {
  return std::unique_ptr<WorkerProcess>(new WorkerProcess(pid, std::move(ours)));
}

Result<std::unique_ptr<WorkerProcess>> WorkerProcess::start(
    const std::string& executable, const std::vector<std::string>& arguments) {
  auto pair = makeSocketPair();
  if (!pair) return pair.error();
  UniqueFd& theirs = pair->theirs;
  SpawnSetup setup;
  // The worker gets its socket as fds 0 and 1, and stderr; nothing else, not even what we
  // were handed without close-on-exec (a PASSWD_FD, say): the worker runs libsmbclient.
  posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
  // The calling thread's blocked or ignored signals are not the worker's business.
  sigset_t noSignals;
  sigset_t allSignals;
  sigemptyset(&noSignals);
  sigfillset(&allSignals);
  posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
  posix_spawnattr_setsigdefault(&setup.attributes, &allSignals);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv{const_cast<char*>(executable.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> environment = workerEnvironment();
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes,
                               argv.data(), environment.data());
  if (rc != 0) return makeError(ErrorCode::Other, "starting " + executable, rc);
  return adopt(pid, std::move(pair->ours));
}

WorkerProcess::WorkerProcess(pid_t pid, UniqueFd socket)
    : pid_(pid), socket_(std::move(socket)), channel_(socket_.get(), socket_.get()), activity_(pid) {}

WorkerProcess::~WorkerProcess() {
  closeChannel();
  reap(Clock::now() + kShutdownGrace);
}

bool WorkerProcess::idleAndAlive() const {
  if (reaped_ || interrupted_ || !socket_.valid()) return false;
  pollfd pfd{socket_.get(), POLLIN, 0};
  return ::poll(&pfd, 1, 0) == 0;
}

bool WorkerProcess::collect(int flags) {
  std::lock_guard lock(reapMutex_);
  if (reaped_) return true;
  int status = 0;
  pid_t done = 0;
  do {
    done = ::waitpid(pid_, &status, flags);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return false;
  reaped_ = true;
  ending_ = done == pid_ ? describeStatus(status) : "gone";
  return true;
}

std::string WorkerProcess::reap(Clock::time_point deadline) {
  while (!reaped_ && !collect(WNOHANG)) {
    if (Clock::now() >= deadline) return kill();
    std::this_thread::sleep_for(kReapPoll);
  }
  return ending_;
}

std::string WorkerProcess::kill() {
  if (!reaped_) {
    interrupt();
    collect(0);
  }
  return ending_;
}

void WorkerProcess::interrupt() {
  interrupted_ = true;
  std::lock_guard lock(reapMutex_);
  if (!reaped_) ::kill(pid_, SIGKILL);
}

}  // namespace vuv::smb
