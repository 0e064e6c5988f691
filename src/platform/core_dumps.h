// Keeps a process that holds passwords from leaving them in a core file: no core is written
// when it crashes (core size 0), and it is not dumpable (no core, no ptrace attach by the
// same user, its /proc files owned by root). Call it first thing in main, before any password
// can arrive. Linux only.
#pragma once

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>

namespace vuv {

// 0, or the errno of the call that failed.
inline int forbidCoreDumps() {
  const rlimit none{0, 0};
  if (::setrlimit(RLIMIT_CORE, &none) != 0) return errno;
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) return errno;
  return 0;
}

}  // namespace vuv
