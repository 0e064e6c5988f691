#include "wsd/client/metadata_fetcher.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "wsd/http_exchange.h"
#include "wsd/on_link.h"

namespace vuv::wsd {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

Error failed(const FetchRequest& request, const char* what, int err) {
  return makeError(errorCodeFromErrno(err), std::string(what) + " " + request.url.host + ":" +
                                                std::to_string(request.url.port), err);
}

std::optional<sockaddr_in6> ipv6Address(std::string_view text) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  const std::string address(text.substr(0, text.find('%')));
  if (::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr) != 1) return std::nullopt;
  if (const auto percent = text.find('%'); percent != std::string_view::npos) {
    a.sin6_scope_id = static_cast<std::uint32_t>(std::strtoul(std::string(text.substr(percent + 1)).c_str(), nullptr, 10));
  }
  return a;
}

}  // namespace

Result<sockaddr_storage> metadataDestination(const HttpUrl& url, std::string_view sender) {
  sockaddr_storage address{};
  const auto refused = [&](const char* why) {
    return makeError(ErrorCode::AccessDenied, "metadata address " + url.host + " refused: " + why, EACCES);
  };
  if (url.ipv6) {
    const auto a = ipv6Address(url.host);
    if (!a || url.host.find('%') != std::string::npos) return makeError(ErrorCode::InvalidArgument, "bad IPv6 address " + url.host);
    const in6_addr& ip = a->sin6_addr;
    if (IN6_IS_ADDR_UNSPECIFIED(&ip) || IN6_IS_ADDR_LOOPBACK(&ip) || IN6_IS_ADDR_MULTICAST(&ip) ||
        IN6_IS_ADDR_V4MAPPED(&ip) || IN6_IS_ADDR_V4COMPAT(&ip)) {
      return refused("loopback, multicast, unspecified or IPv4 in IPv6");
    }
    const auto from = ipv6Address(sender);
    const bool fromSender = from && IN6_ARE_ADDR_EQUAL(&from->sin6_addr, &ip);
    const bool linkLocal = isLinkLocal(IpAddress{true, std::bit_cast<std::array<std::uint8_t, 16>>(ip)});
    if (!fromSender && !linkLocal) return refused("not the announcer's address");
    auto* out = reinterpret_cast<sockaddr_in6*>(&address);
    *out = *a;
    out->sin6_port = htons(url.port);
    // A link-local address means something only on the link the announcement came in on.
    if (from && linkLocal) out->sin6_scope_id = from->sin6_scope_id;
    return address;
  }
  auto* out = reinterpret_cast<sockaddr_in*>(&address);
  out->sin_family = AF_INET;
  out->sin_port = htons(url.port);
  in_addr from{};
  if (::inet_pton(AF_INET, url.host.c_str(), &out->sin_addr) != 1) return makeError(ErrorCode::InvalidArgument, "bad IPv4 address " + url.host);
  const std::uint32_t ip = ntohl(out->sin_addr.s_addr);
  if ((ip >> 24) == 0 || (ip >> 24) == 127 || IN_MULTICAST(ip) || (ip >> 28) == 0xF) {
    return refused("loopback, multicast, broadcast or unspecified");
  }
  if (::inet_pton(AF_INET, std::string(sender).c_str(), &from) != 1 || from.s_addr != out->sin_addr.s_addr) {
    return refused("not the announcer's address");
  }
  return address;
}

void MetadataFetcher::start(const FetchRequest& request, Clock::time_point now) {
  auto address = metadataDestination(request.url, request.sender);
  if (!address) {
    ended_.push_back({request.id, address.error()});
    return;
  }
  const int family = address->ss_family;
  const socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    ended_.push_back({request.id, failed(request, "socket for", errno)});
    return;
  }
  // Never IPv4 through an IPv6 socket: a mapped address would slip past the checks above.
  const int one = 1;
  if (family == AF_INET6 && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) {
    ended_.push_back({request.id, failed(request, "socket for", errno)});
    return;
  }
  const bool connected = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&*address), length) == 0;
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
