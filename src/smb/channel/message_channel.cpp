#include "smb/channel/message_channel.h"

#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

namespace vuv::smb {

namespace {

// Large reads keep the number of system calls per file chunk small, but a read takes no more
// than the socket holds (some 200 KiB), and every channel keeps (and has touched) this much:
// with 32 workers a 1 MiB room cost the CLI 32 MiB.
constexpr std::size_t kReadChunk = 256 * 1024;

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
  const bool secret = protocol::carriesSecret(message);
  struct Wipe {
    std::string& bytes;
    bool secret;
    ~Wipe() {
      if (secret) ::explicit_bzero(bytes.data(), bytes.size());
    }
  } wipe{*frame, secret};
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

Status MessageChannel::sendData(std::uint32_t id, std::string_view bytes) {
  Result<std::string> start = protocol::encodeDataFrameStart(id, bytes.size());
  if (!start) return start.error();
  iovec parts[2] = {{start->data(), start->size()}, {const_cast<char*>(bytes.data()), bytes.size()}};
  iovec* next = parts;
  int count = 2;
  while (count > 0) {
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = static_cast<std::size_t>(count);
    ssize_t n = ::sendmsg(writeFd_, &message, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::writev(writeFd_, next, count);
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
      if (decoder_.midFrame()) return makeError(ErrorCode::Protocol, "stream ended inside a message");
      return false;
    }
    if (errno != EINTR && errno != EAGAIN) return makeError(ErrorCode::Io, "reading from the peer", errno);
  }
}

}  // namespace vuv::smb
