#include "wsd/http_exchange.h"

#include <gtest/gtest.h>

namespace vuv::wsd {
namespace {

constexpr std::size_t kMax = 1000;

// What httpResponseBody makes of the whole response: the body, "error" or "more".
std::string outcome(std::string_view received, bool closed, std::size_t max = kMax) {
  auto body = httpResponseBody(received, closed, max);
  if (!body) return "error";
  if (!body->has_value()) return "more";
  return **body;
}

TEST(HttpExchange, MetadataUrls) {
  struct Case {
    const char* url;
    const char* host;
    int port;
    const char* path;
  };
  const Case good[] = {
      {"http://10.213.0.31:5357/47954a0b", "10.213.0.31", 5357, "/47954a0b"},
      {"http://10.0.0.1", "10.0.0.1", 80, "/"},
      {"HTTP://10.0.0.1/x?y=1#frag", "10.0.0.1", 80, "/x?y=1"},
      {"http://[fe80::1]:5357/x", "fe80::1", 5357, "/x"},
  };
  for (const Case& c : good) {
    auto url = parseHttpUrl(c.url);
    ASSERT_TRUE(url.ok()) << c.url;
    EXPECT_EQ(url->host, c.host) << c.url;
    EXPECT_EQ(url->port, c.port) << c.url;
    EXPECT_EQ(url->path, c.path) << c.url;
  }
  for (const char* bad :
       {"https://10.0.0.1/", "ftp://10.0.0.1/", "http://host.example/", "http://user@10.0.0.1/", "http://10.0.0.1:0/",
        "http://10.0.0.1:65536/", "http://10.0.0.1:/", "http://10.0.0.1:80x/", "http://10.0.0.256/",
        "http://010.0.0.1/", "http://10.0.0/", "http://10.0.0.1.5/", "http://10.0.0.1 /x", "http://10.0.0.1/\x01",
        "http://[::1", "http://[::1]x/", "http://[g::1]/", "http://", ""}) {
    EXPECT_FALSE(parseHttpUrl(bad).ok()) << bad;
  }
}

TEST(HttpExchange, DeviceAddresses) {
  EXPECT_TRUE(isUsableDeviceAddress(*parseIpv4("10.213.0.31")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("127.0.0.1")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("0.0.0.0")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("224.0.0.1")));
  EXPECT_EQ(parseIpv4("1.2.3.4"), (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1..3.4", "01.2.3.4", "1.2.3.-4", "1.2.3.1000", " 1.2.3.4"}) {
    EXPECT_FALSE(parseIpv4(bad)) << bad;
  }
}

TEST(HttpExchange, ResponsesTable) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  struct Case {
    const char* what;
    std::string received;
    bool closed;
    std::string expected;
  };
  const Case cases[] = {
      {"length, complete", ok + "Content-Length: 5\r\n\r\nhello", false, "hello"},
      {"length, not all there yet", ok + "Content-Length: 5\r\n\r\nhel", false, "more"},
      {"length, cut short by the close", ok + "Content-Length: 5\r\n\r\nhel", true, "error"},
      {"length above the limit", ok + "Content-Length: 1001\r\n\r\n", false, "error"},
      {"length at the limit", ok + "Content-Length: 1000\r\n\r\n" + std::string(1000, 'x'), false,
       std::string(1000, 'x')},
      {"conflicting lengths", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false, "error"},
      {"same length twice", ok + "content-length: 2\r\nCONTENT-LENGTH:2\r\n\r\nhi", false, "hi"},
      {"bad length", ok + "Content-Length: -1\r\n\r\n", false, "error"},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;ext=1\r\n!\r\n0\r\n\r\n", false, "hello!"},
      {"chunked, capitals", ok + "Transfer-Encoding: Chunked\r\n\r\nA\r\n0123456789\r\n0\r\n", false, "0123456789"},
      {"chunked, cut short", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", true, "error"},
      {"chunked, bad size", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", false, "error"},
      {"chunked, huge size", ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFF\r\n", false, "error"},
      {"chunked above the limit", ok + "Transfer-Encoding: chunked\r\n\r\n3E9\r\n", false, "error"},
      {"chunk without its CRLF", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhiXX0\r\n", false, "error"},
      {"other transfer encoding", ok + "Transfer-Encoding: gzip\r\n\r\n", false, "error"},
      {"until the close", ok + "\r\nall of it", true, "all of it"},
      {"until the close, above the limit", ok + "\r\n" + std::string(1001, 'x'), false, "error"},
      {"status without reason", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nhi", false, "hi"},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", false, "error"},
      {"HTTP/2", "HTTP/2 200\r\n\r\n", true, "error"}, {"status 2000", "HTTP/1.1 2000 OK\r\n\r\n", true, "error"},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", true, "error"},
      {"folded header line", ok + "X: a\r\n b\r\n\r\n", true, "error"},
      {"header name with a space", ok + "Content Length: 2\r\n\r\nhi", true, "error"},
      {"closed in the header", ok + "Content-Len", true, "error"}, {"closed at once", "", true, "error"},
      {"header too long", ok + "X: " + std::string(kMaxHttpHeaderBytes, 'x'), false, "error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(c.received, c.closed), c.expected) << c.what;
  }
}

// Guards against a parser that only works on whole responses: byte by byte, the answer is
// "more" until the last byte and then the same body.
TEST(HttpExchange, ArrivingByteByByte) {
  const std::string response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n";
  const std::size_t complete = response.find("0\r\n\r\n") + 3;
  for (std::size_t size = 0; size < response.size(); ++size) {
    EXPECT_EQ(outcome(response.substr(0, size), false), size < complete ? "more" : "abcde") << size;
  }
}

}  // namespace
}  // namespace vuv::wsd
