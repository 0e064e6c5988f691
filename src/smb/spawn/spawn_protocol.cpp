#include "smb/spawn/spawn_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vuv::smb {

namespace {

constexpr char kRequestByte = 'S';

// Sends all of `data` on a stream socket, retried on EINTR; never raises SIGPIPE.
bool sendAll(int socket, const void* data, std::size_t size) {
  const auto* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::send(socket, at, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// One request byte with room for one descriptor, sent or received in place.
struct RequestMessage {
  char byte = kRequestByte;
  iovec part{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  RequestMessage() {
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  RequestMessage(const RequestMessage&) = delete;
  RequestMessage& operator=(const RequestMessage&) = delete;
};

}  // namespace

bool sendSpawnRequest(int socket, int passed) {
  RequestMessage request;
  cmsghdr* header = CMSG_FIRSTHDR(&request.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &passed, sizeof(int));
  ssize_t n = 0;
  do {
    n = ::sendmsg(socket, &request.message, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == 1;
}

int receiveSpawnRequest(int socket) {
  RequestMessage request;
  request.byte = 0;
  ssize_t n = 0;
  do {
    n = ::recvmsg(socket, &request.message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return static_cast<int>(n);
  int passed = -1;
  const cmsghdr* header = CMSG_FIRSTHDR(&request.message);
  if (header != nullptr && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
      header->cmsg_len == CMSG_LEN(sizeof(int))) {
    std::memcpy(&passed, CMSG_DATA(header), sizeof(int));
  }
  if (request.byte != kRequestByte || (request.message.msg_flags & MSG_CTRUNC) != 0 || passed < 0) {
    if (passed >= 0) ::close(passed);
    errno = EPROTO;
    return -1;
  }
  return passed;
}

bool sendSpawnReply(int socket, std::int32_t pidOrMinusErrno) {
  return sendAll(socket, &pidOrMinusErrno, sizeof pidOrMinusErrno);
}

bool receiveSpawnReply(int socket, std::int32_t& pidOrMinusErrno) {
  char buffer[sizeof(std::int32_t)];
  std::size_t have = 0;
  while (have < sizeof buffer) {
    const ssize_t n = ::recv(socket, buffer + have, sizeof buffer - have, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    have += static_cast<std::size_t>(n);
  }
  std::memcpy(&pidOrMinusErrno, buffer, sizeof buffer);
  return true;
}

}  // namespace vuv::smb
