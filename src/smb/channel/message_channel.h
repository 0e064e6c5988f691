// Sends and receives worker protocol messages over file descriptors (a socket, or a pipe pair
// such as a worker's stdin and stdout).
//
// Blocking I/O; receive() can wait with a deadline. Writing to a closed peer gives an error
// value, never SIGPIPE, on a socket (MSG_NOSIGNAL); on a pipe the process must ignore SIGPIPE
// itself. Does not own the descriptors. One thread at a time per channel.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "protocol/frame.h"
#include "protocol/messages.h"

namespace vuv::smb {

using Clock = std::chrono::steady_clock;

class MessageChannel {
 public:
  MessageChannel(int readFd, int writeFd) : readFd_(readFd), writeFd_(writeFd) {}

  // Io with the errno when the peer is gone.
  Status send(const protocol::Message& message);
  // The same as send(DataChunk{id, bytes}), without copying the bytes into a message first.
  Status sendData(std::uint32_t id, std::string_view bytes);

  // The next message. nullopt: the peer closed the stream between two messages.
  // Errors: Timeout when `deadline` passes first (the channel stays usable), Protocol for a
  // malformed frame or a stream that ends inside one, Io with the errno for a failed read.
  Result<std::optional<protocol::Message>> receive(
      std::optional<Clock::time_point> deadline = std::nullopt);

 private:
  Status waitReadable(std::optional<Clock::time_point> deadline);

  int readFd_;
  int writeFd_;
  protocol::FrameDecoder decoder_;
};

}  // namespace vuv::smb
