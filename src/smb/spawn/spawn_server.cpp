#include "smb/spawn/spawn_server.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>

#include "smb/spawn/module_preload.h"
#include "smb/spawn/spawn_protocol.h"

namespace vuv::smb {

namespace {

// fork() with CLONE_PARENT, which glibc offers no wrapper for. With no new stack the child goes
// on from here like fork()'s (the first arguments are the same on every architecture).
pid_t forkForParent() {
  return static_cast<pid_t>(
      ::syscall(SYS_clone, CLONE_PARENT | SIGCHLD, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace

void serveSpawnsIfAsked(int& argc, char**& argv) {
  if (argc < 2 || std::string_view(argv[1]) != kSpawnServerFlag) return;
  preloadWorkerModules();
  while (true) {
    const int passed = receiveSpawnRequest(STDIN_FILENO);
    if (passed <= 0) std::_Exit(passed == 0 ? EXIT_SUCCESS : EXIT_FAILURE);
    const pid_t pid = forkForParent();
    if (pid == 0) {
      // The new worker: its socket becomes fds 0 and 1, which drops the server's.
      if (::dup2(passed, STDIN_FILENO) < 0 || ::dup2(passed, STDOUT_FILENO) < 0) {
        std::_Exit(EXIT_FAILURE);
      }
      ::close(passed);
      argv[1] = argv[0];
      ++argv;
      --argc;
      return;
    }
    const int error = errno;
    ::close(passed);
    if (!sendSpawnReply(STDOUT_FILENO, pid > 0 ? pid : -error)) std::_Exit(EXIT_FAILURE);
  }
}

}  // namespace vuv::smb
