// The worker side of fast starts: a worker executable run with kSpawnServerFlag does not serve
// requests itself but forks workers on request (spawn_protocol.h).
//
// Why: a worker links libsmbclient, whose ~110 shared libraries cost a fresh process some
// 50 ms of processor time to load and relocate, and a walk over a distant server starts 32
// workers at once on processors it shares with everything else. A fork of a process that has
// loaded them already costs well under a millisecond.
//
// Each fork is made with CLONE_PARENT, so the new worker is a child of the server's parent
// (the program), which reaps and signals it like a worker it started itself. glibc has no
// wrapper for that, and the raw clone skips fork()'s atfork handlers, which is sound only
// because the server does nothing but wait: one thread, no lock held, and no library set up
// (it loads the modules workers would load at their first connection, code only:
// module_preload.h). Keep it so: a random generator seeded here (a libsmbclient context made
// "to warm up" may seed one) would be the same in every worker, and its reseed-after-fork
// handler would not run.
#pragma once

namespace vuv::smb {

// With argv[1] equal to kSpawnServerFlag, serves spawn requests on fds 0 and 1 and returns
// only in each forked worker: fds 0 and 1 are then that worker's own socket, and argc/argv
// skip the flag. The server exits when its socket closes or fails. Without the flag, returns
// at once.
void serveSpawnsIfAsked(int& argc, char**& argv);

}  // namespace vuv::smb
