// The spawn server's protocol: how the client asks a waiting worker process to fork a worker.
//
// The client sends one byte with one descriptor attached (SCM_RIGHTS): the socket the new
// worker is to talk through. The server answers with four bytes: the new worker's process id,
// or minus the errno that stopped the fork. Both ends are Unix stream sockets.
//
// Thread safety: plain functions over descriptors; one request at a time per socket.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string_view>

namespace vuv::smb {

// argv[1] of a worker executable that is to serve spawns on its stdin/stdout.
inline constexpr std::string_view kSpawnServerFlag = "--spawn-server";

// Sends `passed` with one request byte; false with errno set when the socket failed.
bool sendSpawnRequest(int socket, int passed);
// The descriptor of the next request (close-on-exec), 0 at end of stream, -1 with errno set
// on failure.
int receiveSpawnRequest(int socket);

bool sendSpawnReply(int socket, std::int32_t pidOrMinusErrno);
// False at end of stream or on failure.
bool receiveSpawnReply(int socket, std::int32_t& pidOrMinusErrno);

}  // namespace vuv::smb
