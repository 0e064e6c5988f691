#include "wsd/http_exchange.h"

#include <vector>

#include "base/casefold.h"

namespace vuv::wsd {

namespace {

constexpr std::string_view kScheme = "http://";
constexpr std::size_t kMaxHeaderLines = 64;
constexpr std::size_t kMaxChunkSizeDigits = 8;

Error badUrl(std::string_view url, const char* why) {
  return makeError(ErrorCode::InvalidArgument, std::string("metadata address ") + why + ": " +
                                                   std::string(url.substr(0, 200)));
}
Error badResponse(const std::string& why) { return makeError(ErrorCode::Protocol, "metadata answer: " + why); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<std::uint64_t> decimal(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool isTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A chunked body from `data`: nullopt while incomplete.
Result<std::optional<std::string>> dechunk(std::string_view data, bool closed, std::size_t maxBody) {
  std::string body;
  while (true) {
    const std::size_t lineEnd = data.find("\r\n");
    if (lineEnd == std::string_view::npos) {
      if (data.size() > kMaxChunkSizeDigits + 256) return badResponse("chunk size line too long");
      if (closed) return badResponse("cut short in a chunk size");
      return std::optional<std::string>();
    }
    std::string_view sizeText = data.substr(0, lineEnd);
    sizeText = trimSpaces(sizeText.substr(0, sizeText.find(';')));
    if (sizeText.empty() || sizeText.size() > kMaxChunkSizeDigits) return badResponse("bad chunk size");
    std::uint64_t size = 0;
    for (char c : sizeText) {
      int v = -1;
      if (isDigit(c)) v = c - '0';
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      if (v < 0) return badResponse("bad chunk size");
      size = size * 16 + static_cast<std::uint64_t>(v);
    }
    // The last chunk: trailers, if any, do not matter to us.
    if (size == 0) return std::optional<std::string>(std::move(body));
    if (body.size() + size > maxBody) return badResponse("body larger than " + std::to_string(maxBody) + " bytes");
    data.remove_prefix(lineEnd + 2);
    if (data.size() < size + 2) {
      if (closed) return badResponse("cut short in a chunk");
      return std::optional<std::string>();
    }
    if (data.substr(size, 2) != "\r\n") return badResponse("chunk not followed by CRLF");
    body.append(data.substr(0, size));
    data.remove_prefix(size + 2);
  }
}

}  // namespace

bool isUsableDeviceAddress(const std::array<std::uint8_t, 4>& a) {
  if (a[0] == 0 || a[0] == 127 || a[0] >= 224) return false;  // "this" network, loopback, multicast and up
  return true;
}

Result<HttpUrl> parseHttpUrl(std::string_view url) {
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return badUrl(url, "has spaces or control characters");
  }
  if (url.size() < kScheme.size() || foldCaseUtf8(url.substr(0, kScheme.size())) != kScheme) {
    return badUrl(url, "is not http://");
  }
  std::string_view rest = url.substr(kScheme.size());
  const std::size_t pathStart = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, pathStart);
  HttpUrl out;
  if (pathStart != std::string_view::npos) {
    std::string_view path = rest.substr(pathStart);
    path = path.substr(0, path.find('#'));
    out.path = path.starts_with('/') ? std::string(path) : "/" + std::string(path);
  }
  if (authority.find('@') != std::string_view::npos) return badUrl(url, "has user information");

  std::string_view portText;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return badUrl(url, "has an unclosed IPv6 literal");
    out.host = std::string(authority.substr(1, close - 1));
    out.ipv6 = true;
    if (out.host.empty() || out.host.size() > 45 ||
        out.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
        out.host.find(':') == std::string::npos) {
      return badUrl(url, "has a bad IPv6 literal");
    }
    authority.remove_prefix(close + 1);
    if (!authority.empty()) {
      if (!authority.starts_with(':')) return badUrl(url, "has junk after the address");
      portText = authority.substr(1);
      if (portText.empty()) return badUrl(url, "has an empty port");
    }
  } else {
    const std::size_t colon = authority.find(':');
    out.host = std::string(authority.substr(0, colon));
    if (!parseIpv4(out.host)) return badUrl(url, "names no literal IPv4 or IPv6 address");
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      if (portText.empty()) return badUrl(url, "has an empty port");
    }
  }
  if (!portText.empty()) {
    auto port = decimal(portText, 5);
    if (!port || *port == 0 || *port > 65535) return badUrl(url, "has a bad port");
    out.port = static_cast<std::uint16_t>(*port);
  }
  return out;
}

std::string httpPostRequest(const HttpUrl& url, std::string_view body) {
  const std::string host = url.ipv6 ? "[" + url.host + "]" : url.host;
  std::string request = "POST " + url.path + " HTTP/1.1\r\n";
  request += "Host: " + host + ":" + std::to_string(url.port) + "\r\n";
  request += "Content-Type: application/soap+xml; charset=utf-8\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  request += "Connection: close\r\n\r\n";
  request += body;
  return request;
}

Result<std::optional<std::string>> httpResponseBody(std::string_view received, bool closed, std::size_t maxBody) {
  const std::size_t headerEnd = received.find("\r\n\r\n");
  if (headerEnd == std::string_view::npos) {
    if (received.size() > kMaxHttpHeaderBytes) return badResponse("header too long");
    if (closed) return badResponse(received.empty() ? "connection closed without an answer" : "cut short in the header");
    return std::optional<std::string>();
  }
  if (headerEnd > kMaxHttpHeaderBytes) return badResponse("header too long");

  std::string_view head = received.substr(0, headerEnd + 2);
  const std::size_t statusEnd = head.find("\r\n");
  const std::string_view status = head.substr(0, statusEnd);
  head.remove_prefix(statusEnd + 2);
  if (!(status.starts_with("HTTP/1.0 ") || status.starts_with("HTTP/1.1 ")) || status.size() < 12 ||
      !isDigit(status[9]) || !isDigit(status[10]) || !isDigit(status[11]) ||
      (status.size() > 12 && status[12] != ' ')) {
    return badResponse("not an HTTP/1.x status line");
  }
  if (status.substr(9, 3) != "200") return badResponse("HTTP status " + std::string(status.substr(9, 3)));

  std::optional<std::uint64_t> contentLength;
  bool chunked = false;
  std::size_t lines = 0;
  while (!head.empty()) {
    const std::size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    head.remove_prefix(end + 2);
    if (++lines > kMaxHeaderLines) return badResponse("too many header lines");
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return badResponse("bad header line");
    for (char c : line.substr(0, colon)) {
      if (!isTokenChar(c)) return badResponse("bad header name");
    }
    const std::string name = foldCaseUtf8(line.substr(0, colon));
    const std::string_view value = trimSpaces(line.substr(colon + 1));
    if (name == "content-length") {
      auto length = decimal(value, 12);
      if (!length) return badResponse("bad Content-Length");
      if (contentLength && *contentLength != *length) return badResponse("conflicting Content-Length");
      contentLength = length;
    } else if (name == "transfer-encoding") {
      if (foldCaseUtf8(value) != "chunked") return badResponse("unsupported transfer encoding");
      chunked = true;
    }
  }

  const std::string_view data = received.substr(headerEnd + 4);
  if (chunked) return dechunk(data, closed, maxBody);
  if (contentLength) {
    if (*contentLength > maxBody) return badResponse("body larger than " + std::to_string(maxBody) + " bytes");
    if (data.size() >= *contentLength) return std::optional<std::string>(std::string(data.substr(0, *contentLength)));
    if (closed) return badResponse("cut short in the body");
    return std::optional<std::string>();
  }
  if (data.size() > maxBody) return badResponse("body larger than " + std::to_string(maxBody) + " bytes");
  if (!closed) return std::optional<std::string>();
  return std::optional<std::string>(std::string(data));
}

}  // namespace vuv::wsd
