#include "smb/channel/message_channel.h"

#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <string>
#include <vector>

namespace vuv::smb {

namespace {

// Large reads keep the number of system calls per file chunk small, but a read takes no more
// than the socket holds (some 200 KiB), and every channel keeps this much room: the pages a
// file's chunks once filled stay touched (with 32 workers a 1 MiB room cost the CLI 32 MiB).
constexpr std::size_t kReadChunk = 256 * 1024;

// Writes every part, in one system call when the peer keeps up. A stream socket gets
// MSG_NOSIGNAL; anything else (a pipe, a terminal) a plain writev.
Status writeAll(int fd, std::span<iovec> parts) {
  iovec* next = parts.data();
  auto count = static_cast<int>(parts.size());
  while (count > 0) {
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = static_cast<std::size_t>(count);
    ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::writev(fd, next, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return makeError(ErrorCode::Io, "sending to the peer", errno);
    }
    // Drop what went out: whole parts, then the front of a part sent in part.
    auto sent = static_cast<std::size_t>(n);
    while (count > 0 && sent >= next->iov_len) {
      sent -= next->iov_len;
      ++next;
      --count;
    }
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + sent;
      next->iov_len -= sent;
    }
  }
  return success();
}

}  // namespace

Status MessageChannel::send(const protocol::Message& message) {
  return send(std::span(&message, 1));
}

Status MessageChannel::send(std::span<const protocol::Message> messages) {
  std::vector<std::string> frames;
  frames.reserve(messages.size());
  bool secret = false;
  struct Wipe {
    std::vector<std::string>& frames;
    const bool& secret;
    ~Wipe() {
      if (!secret) return;
      for (std::string& frame : frames) ::explicit_bzero(frame.data(), frame.size());
    }
  } wipe{frames, secret};
  for (const protocol::Message& message : messages) {
    Result<std::string> frame = protocol::encodeFrame(message);
    if (!frame) return frame.error();
    secret = secret || protocol::carriesSecret(message);
    frames.push_back(std::move(*frame));
  }
  std::vector<iovec> parts;
  parts.reserve(frames.size());
  for (std::string& frame : frames) parts.push_back({frame.data(), frame.size()});
  return writeAll(writeFd_, parts);
}

Status MessageChannel::sendData(std::uint32_t id, std::string_view bytes) {
  Result<std::string> start = protocol::encodeDataFrameStart(id, bytes.size());
  if (!start) return start.error();
  iovec parts[2] = {{start->data(), start->size()}, {const_cast<char*>(bytes.data()), bytes.size()}};
  return writeAll(writeFd_, parts);
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

Result<std::optional<protocol::Message>> MessageChannel::receive(std::chrono::milliseconds idle,
                                                                const DataSink& onData) {
  Clock::time_point deadline = Clock::now() + idle;
  while (true) {
    while (auto data = decoder_.nextData()) {
      if (!onData(data->id, data->bytes)) return makeError(ErrorCode::Cancelled, "data refused");
      deadline = Clock::now() + idle;
    }
    auto next = decoder_.next();
    if (!next || next->has_value()) return next;
    Result<bool> more = readSome(deadline);
    if (!more) return more.error();
    if (!*more) return std::optional<protocol::Message>();
  }
}

Result<std::optional<protocol::Message>> MessageChannel::receive(
    std::optional<Clock::time_point> deadline) {
  while (true) {
    auto next = decoder_.next();
    if (!next || next->has_value()) return next;
    Result<bool> more = readSome(deadline);
    if (!more) return more.error();
    if (!*more) return std::optional<protocol::Message>();
  }
}

Result<bool> MessageChannel::readSome(std::optional<Clock::time_point> deadline) {
  while (true) {
    if (Status ready = waitReadable(deadline); !ready) return ready.error();
    const ssize_t n = ::read(readFd_, decoder_.prepare(kReadChunk), kReadChunk);
    if (n > 0) {
      decoder_.commit(static_cast<std::size_t>(n));
      return true;
    }
    if (n == 0) {
      // The peer went away while writing, which is no fault of what it wrote.
      if (decoder_.midFrame()) return makeError(ErrorCode::Io, "stream ended inside a message");
      return false;
    }
    if (errno != EINTR && errno != EAGAIN) return makeError(ErrorCode::Io, "reading from the peer", errno);
  }
}

}  // namespace vuv::smb
