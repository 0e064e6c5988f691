// The HTTP side of the device metadata exchange, without sockets: which URLs we are willing to
// fetch, the POST request that carries the Get, and reading the response as it arrives.
//
// Only plain http:// to a literal address is fetched: a device names itself in its XAddrs, and
// following names or redirects would let it send us anywhere. Responses are bounded in header
// and body size; anything unexpected is an error for that one device.
//
// Thread safety: pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ipv4.h"
#include "base/result.h"

namespace vuv::wsd {

struct HttpUrl {
  std::string host;  // an IPv4 literal ("10.0.0.5") or an IPv6 literal without brackets
  bool ipv6 = false;
  std::uint16_t port = 80;
  std::string path = "/";  // as given, with its query; "/" when the URL has none
};

// "http://A.B.C.D[:PORT][/PATH]" or "http://[IPV6][:PORT][/PATH]". InvalidArgument for any other
// scheme, host names, user information, a bad port, control characters or spaces.
Result<HttpUrl> parseHttpUrl(std::string_view url);

using ::vuv::parseIpv4;

// A unicast address a device may really have: not 0.0.0.0/8, loopback, multicast or broadcast.
bool isUsableDeviceAddress(const std::array<std::uint8_t, 4>& address);

// The request bytes: POST of a SOAP 1.2 body, Connection: close.
std::string httpPostRequest(const HttpUrl& url, std::string_view body);

inline constexpr std::size_t kMaxHttpHeaderBytes = 16 * 1024;

// Reads a response from what has arrived so far. nullopt: not complete yet, read on. A value:
// the body (Content-Length, chunked, or up to the close). Errors: status other than 200, bad
// syntax, a body above `maxBody`, a response cut short by the close.
Result<std::optional<std::string>> httpResponseBody(std::string_view received, bool closed, std::size_t maxBody);

}  // namespace vuv::wsd
