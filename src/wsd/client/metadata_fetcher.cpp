#include "wsd/client/metadata_fetcher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "wsd/http_exchange.h"

namespace vuv::wsd {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

Error failed(const FetchRequest& request, const char* what, int err) {
  return makeError(errorCodeFromErrno(err), std::string(what) + " " + request.url.host + ":" +
                                                std::to_string(request.url.port), err);
}

}  // namespace

void MetadataFetcher::start(const FetchRequest& request, Clock::time_point now) {
  const int family = request.url.ipv6 ? AF_INET6 : AF_INET;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (request.url.ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&address);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(request.url.port);
    if (::inet_pton(AF_INET6, request.url.host.c_str(), &a->sin6_addr) != 1) {
      ended_.push_back({request.id, makeError(ErrorCode::InvalidArgument, "bad IPv6 address " + request.url.host)});
      return;
    }
    length = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&address);
    a->sin_family = AF_INET;
    a->sin_port = htons(request.url.port);
    if (::inet_pton(AF_INET, request.url.host.c_str(), &a->sin_addr) != 1) {
      ended_.push_back({request.id, makeError(ErrorCode::InvalidArgument, "bad IPv4 address " + request.url.host)});
      return;
    }
    length = sizeof *a;
  }
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    ended_.push_back({request.id, failed(request, "socket for", errno)});
    return;
  }
  const bool connected = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) == 0;
  if (!connected && errno != EINPROGRESS) {
    ended_.push_back({request.id, failed(request, "connecting to", errno)});
    return;
  }
  Connection c;
  c.id = request.id;
  c.fd = std::move(fd);
  c.request = request.request;
  c.connected = connected;
  c.deadline = now + timeout_;
  connections_.push_back(std::move(c));
}

void MetadataFetcher::addPollFds(std::vector<pollfd>& fds) const {
  for (const Connection& c : connections_) {
    const bool writing = !c.connected || c.sent < c.request.size();
    fds.push_back(pollfd{c.fd.get(), static_cast<short>(writing ? POLLOUT : POLLIN), 0});
  }
}

std::optional<Result<std::string>> MetadataFetcher::advance(Connection& c, short revents) {
  if (!c.connected) {
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(c.fd.get(), SOL_SOCKET, SO_ERROR, &err, &length) != 0) err = errno;
    if (err != 0) return Result<std::string>(makeError(errorCodeFromErrno(err), "connecting for metadata", err));
    c.connected = true;
  }
  if (c.sent < c.request.size()) {
    const ssize_t n = ::send(c.fd.get(), c.request.data() + c.sent, c.request.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return Result<std::string>(makeError(errorCodeFromErrno(errno), "sending the metadata request", errno));
    }
    if (n > 0) c.sent += static_cast<std::size_t>(n);
    return std::nullopt;
  }
  if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) return std::nullopt;
  // Headers and chunk lines on top of the body; more than that is refused unread.
  const std::size_t limit = maxBody_ + kMaxHttpHeaderBytes + kReadChunk;
  char buffer[kReadChunk];
  const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    return Result<std::string>(makeError(errorCodeFromErrno(errno), "reading the metadata answer", errno));
  }
  c.received.append(buffer, static_cast<std::size_t>(n));
  if (c.received.size() > limit) {
    return Result<std::string>(makeError(ErrorCode::Protocol, "metadata answer larger than " + std::to_string(limit) + " bytes"));
  }
  auto body = httpResponseBody(c.received, /*closed=*/n == 0, maxBody_);
  if (!body) return Result<std::string>(body.error());
  if (!body->has_value()) return std::nullopt;
  return Result<std::string>(std::move(**body));
}

std::vector<FetchResult> MetadataFetcher::service(const std::vector<pollfd>& fds, std::size_t first,
                                                  Clock::time_point now) {
  std::vector<FetchResult> out = std::move(ended_);
  ended_.clear();
  std::vector<Connection> open;
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    Connection& c = connections_[i];
    const short revents = first + i < fds.size() && fds[first + i].fd == c.fd.get() ? fds[first + i].revents : 0;
    std::optional<Result<std::string>> end;
    if (revents != 0) end = advance(c, revents);
    if (!end && now >= c.deadline) {
      end = Result<std::string>(makeError(ErrorCode::Timeout, "no metadata answer within " +
                                                                  std::to_string(timeout_.count()) + " ms", ETIMEDOUT));
    }
    if (end) {
      out.push_back(FetchResult{c.id, std::move(*end)});
    } else {
      open.push_back(std::move(c));
    }
  }
  connections_ = std::move(open);
  return out;
}

Clock::time_point MetadataFetcher::nextDeadline() const {
  if (!ended_.empty()) return Clock::time_point::min();
  Clock::time_point next = Clock::time_point::max();
  for (const Connection& c : connections_) next = std::min(next, c.deadline);
  return next;
}

}  // namespace vuv::wsd
