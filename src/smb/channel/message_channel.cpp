#include "smb/channel/message_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vuv::smb {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// A stream socket gets MSG_NOSIGNAL; anything else (a pipe, a terminal) a plain write.
ssize_t writeSome(int fd, const char* data, std::size_t size) {
  ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data, size);
  return n;
}

}  // namespace

Status MessageChannel::send(const protocol::Message& message) {
  Result<std::string> frame = protocol::encodeFrame(message);
  if (!frame) return frame.error();
  std::string_view rest = *frame;
  while (!rest.empty()) {
    const ssize_t n = writeSome(writeFd_, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return makeError(ErrorCode::Io, "sending to the peer", errno);
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return success();
}

Status MessageChannel::waitReadable(std::optional<Clock::time_point> deadline) {
  while (true) {
    int timeoutMs = -1;
    if (deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return makeError(ErrorCode::Timeout, "waiting for the peer");
      timeoutMs = static_cast<int>(left);
    }
    pollfd pfd{readFd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready > 0) return success();  // readable, hung up or failed: read() tells which
    if (ready < 0 && errno != EINTR) {
      return makeError(ErrorCode::Io, "waiting for the peer", errno);
    }
  }
}

Result<std::optional<protocol::Message>> MessageChannel::receive(
    std::optional<Clock::time_point> deadline) {
  char buffer[kReadChunk];
  while (true) {
    auto next = decoder_.next();
    if (!next || next->has_value()) return next;

    if (Status ready = waitReadable(deadline); !ready) return ready.error();
    const ssize_t n = ::read(readFd_, buffer, sizeof buffer);
    if (n > 0) {
      decoder_.append(std::string_view(buffer, static_cast<std::size_t>(n)));
    } else if (n == 0) {
      if (decoder_.midFrame()) {
        return makeError(ErrorCode::Protocol, "stream ended inside a message");
      }
      return std::optional<protocol::Message>();
    } else if (errno != EINTR && errno != EAGAIN) {
      return makeError(ErrorCode::Io, "reading from the peer", errno);
    }
  }
}

}  // namespace vuv::smb
