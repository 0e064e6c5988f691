// Sends and receives worker protocol messages over file descriptors (a socket, or a pipe pair
// such as a worker's stdin and stdout).
//
// Blocking I/O; receive() can wait with a deadline. Writing to a closed peer gives an error
// value, never SIGPIPE, on a socket (MSG_NOSIGNAL); on a pipe the process must ignore SIGPIPE
// itself. Does not own the descriptors. One thread at a time per channel.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
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
  // The messages in order, in one write: a peer that waits for the last wakes once for all.
  Status send(std::span<const protocol::Message> messages);
  // The same as send(DataChunk{id, bytes}), without copying the bytes into a message first.
  Status sendData(std::uint32_t id, std::string_view bytes);

  // The next message. nullopt: the peer closed the stream between two messages.
  // Errors: Timeout when `deadline` passes first (the channel stays usable), Protocol for a
  // malformed frame, Io for a stream that ends inside a frame, or with the errno for a failed read.
  Result<std::optional<protocol::Message>> receive(
      std::optional<Clock::time_point> deadline = std::nullopt);

  // Like receive(), but every DataChunk goes to `onData` (id, bytes) straight from the receive
  // buffer, without a copy, and the wait goes on: the next other message is returned. The
  // time limit `idle` starts again after each chunk. Cancelled once `onData` returns false.
  using DataSink = std::function<bool(std::uint32_t id, std::string_view bytes)>;
  Result<std::optional<protocol::Message>> receive(std::chrono::milliseconds idle, const DataSink& onData);

 private:
  Status waitReadable(std::optional<Clock::time_point> deadline);
  // Reads what has arrived into the decoder; false when the peer closed the stream.
  Result<bool> readSome(std::optional<Clock::time_point> deadline);

  int readFd_;
  int writeFd_;
  protocol::FrameDecoder decoder_;
};

}  // namespace vuv::smb
