// Loads, once in the spawn server, the modules libsmbclient would otherwise load in every
// forked worker at its first connection: Samba's authentication (gensec) modules, and glibc's
// iconv converters for the SMB wire charset (UTF-16LE) and the DOS code page (CP850, Samba's
// default). Each worker found them missing and paid a few ms of processor time to map and
// relocate them into a process of ~110 libraries; with them loaded before the fork a worker
// finds them in place (measured: a LAN walk that starts 32 workers used 4-6 % less processor
// time, bench/README.md "Forked workers").
//
// Only code is loaded: no library is set up and nothing random is seeded, as the spawn
// server requires (spawn_server.h). Whatever is not found where expected (another module
// folder, another code page in smb.conf) is simply loaded by the worker as before.
#pragma once

namespace vuv::smb {

// Best effort; safe to call more than once. Not thread-safe (the server has one thread).
void preloadWorkerModules();

}  // namespace vuv::smb
