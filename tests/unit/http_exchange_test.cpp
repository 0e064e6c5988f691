#include "wsd/http_exchange.h"

#include <gtest/gtest.h>

#include "unit/wsd_test_support.h"

namespace vuv::wsd {
namespace {

using testing::wsdData;

constexpr std::size_t kMax = 1000;

// What httpResponseBody makes of the whole response: the body, or "error: ...", or "more".
std::string outcome(std::string_view received, bool closed, std::size_t max = kMax) {
  auto body = httpResponseBody(received, closed, max);
  if (!body) return "error: " + body.error().detail;
  if (!body->has_value()) return "more";
  return **body;
}

TEST(HttpExchange, MetadataUrls) {
  struct Case {
    const char* url;
    bool ok;
    const char* host;
    int port;
    const char* path;
  };
  const Case cases[] = {
      {"http://10.213.0.31:5357/47954a0b-b3a7-31d8-8776-fe33e4988d58", true, "10.213.0.31", 5357,
       "/47954a0b-b3a7-31d8-8776-fe33e4988d58"},
      {"http://10.0.0.1", true, "10.0.0.1", 80, "/"},
      {"HTTP://10.0.0.1/x?y=1#frag", true, "10.0.0.1", 80, "/x?y=1"},
      {"http://10.0.0.1?q", true, "10.0.0.1", 80, "/?q"},
      {"http://[fe80::1]:5357/x", true, "fe80::1", 5357, "/x"},
      {"http://255.255.255.255:65535/", true, "255.255.255.255", 65535, "/"},
      {"https://10.0.0.1/", false, "", 0, ""},
      {"ftp://10.0.0.1/", false, "", 0, ""},
      {"http://host.example/", false, "", 0, ""},
      {"http://user@10.0.0.1/", false, "", 0, ""},
      {"http://10.0.0.1:0/", false, "", 0, ""},
      {"http://10.0.0.1:65536/", false, "", 0, ""},
      {"http://10.0.0.1:/", false, "", 0, ""},
      {"http://10.0.0.1:80x/", false, "", 0, ""},
      {"http://10.0.0.256/", false, "", 0, ""},
      {"http://010.0.0.1/", false, "", 0, ""},
      {"http://10.0.0/", false, "", 0, ""},
      {"http://10.0.0.1.5/", false, "", 0, ""},
      {"http://10.0.0.1 /x", false, "", 0, ""},
      {"http://10.0.0.1/\x01", false, "", 0, ""},
      {"http://[::1", false, "", 0, ""},
      {"http://[::1]x/", false, "", 0, ""},
      {"http://[g::1]/", false, "", 0, ""},
      {"http://", false, "", 0, ""},
      {"", false, "", 0, ""},
  };
  for (const Case& c : cases) {
    auto url = parseHttpUrl(c.url);
    ASSERT_EQ(url.ok(), c.ok) << c.url;
    if (!c.ok) continue;
    EXPECT_EQ(url->host, c.host) << c.url;
    EXPECT_EQ(url->port, c.port) << c.url;
    EXPECT_EQ(url->path, c.path) << c.url;
  }
}

TEST(HttpExchange, DeviceAddresses) {
  EXPECT_TRUE(isUsableDeviceAddress(*parseIpv4("10.213.0.31")));
  EXPECT_TRUE(isUsableDeviceAddress(*parseIpv4("223.255.255.254")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("127.0.0.1")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("0.0.0.0")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("224.0.0.1")));
  EXPECT_FALSE(isUsableDeviceAddress(*parseIpv4("255.255.255.255")));
  EXPECT_EQ(parseIpv4("1.2.3.4"), (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1..3.4", "01.2.3.4", "1.2.3.-4", "1.2.3.1000", " 1.2.3.4"}) {
    EXPECT_FALSE(parseIpv4(bad)) << bad;
  }
}

TEST(HttpExchange, PostRequest) {
  auto url = parseHttpUrl("http://10.213.0.31:5357/abc");
  ASSERT_TRUE(url.ok());
  const std::string request = httpPostRequest(*url, "<body/>");
  EXPECT_EQ(request,
            "POST /abc HTTP/1.1\r\nHost: 10.213.0.31:5357\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
            "Content-Length: 7\r\nConnection: close\r\n\r\n<body/>");
  auto v6 = parseHttpUrl("http://[fe80::1]/");
  EXPECT_NE(httpPostRequest(*v6, "").find("Host: [fe80::1]:80\r\n"), std::string::npos);
}

TEST(HttpExchange, RecordedAnswerEndsWithTheClose) {
  const std::string raw = wsdData("metadata-m1.http");
  const std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
  ASSERT_TRUE(body.starts_with("<?xml"));
  EXPECT_EQ(outcome(raw, false, 256 * 1024), "more");  // no length given: read until the close
  EXPECT_EQ(outcome(raw, true, 256 * 1024), body);
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
      {"length, more than announced", ok + "Content-Length: 5\r\n\r\nhello world", false, "hello"},
      {"length, not all there yet", ok + "Content-Length: 5\r\n\r\nhel", false, "more"},
      {"length, cut short by the close", ok + "Content-Length: 5\r\n\r\nhel", true, "error: metadata answer: cut short in the body"},
      {"length above the limit", ok + "Content-Length: 1001\r\n\r\n", false,
       "error: metadata answer: body larger than 1000 bytes"},
      {"length at the limit", ok + "Content-Length: 1000\r\n\r\n" + std::string(1000, 'x'), false, std::string(1000, 'x')},
      {"conflicting lengths", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", false,
       "error: metadata answer: conflicting Content-Length"},
      {"same length twice", ok + "content-length: 2\r\nCONTENT-LENGTH:2\r\n\r\nhi", false, "hi"},
      {"bad length", ok + "Content-Length: -1\r\n\r\n", false, "error: metadata answer: bad Content-Length"},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;ext=1\r\n!\r\n0\r\n\r\n", false, "hello!"},
      {"chunked, capitals", ok + "Transfer-Encoding: Chunked\r\n\r\nA\r\n0123456789\r\n0\r\n", false, "0123456789"},
      {"chunked, not all there", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", false, "more"},
      {"chunked, cut short", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", true, "error: metadata answer: cut short in a chunk"},
      {"chunked, bad size", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", false, "error: metadata answer: bad chunk size"},
      {"chunked, huge size", ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFF\r\n", false,
       "error: metadata answer: bad chunk size"},
      {"chunked above the limit", ok + "Transfer-Encoding: chunked\r\n\r\n3E9\r\n", false,
       "error: metadata answer: body larger than 1000 bytes"},
      {"chunk without its CRLF", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhiXX0\r\n", false,
       "error: metadata answer: chunk not followed by CRLF"},
      {"other transfer encoding", ok + "Transfer-Encoding: gzip\r\n\r\n", false,
       "error: metadata answer: unsupported transfer encoding"},
      {"until the close", ok + "\r\nall of it", true, "all of it"},
      {"until the close, above the limit", ok + "\r\n" + std::string(1001, 'x'), false,
       "error: metadata answer: body larger than 1000 bytes"},
      {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nhi", false, "hi"},
      {"status without reason", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nhi", false, "hi"},
      {"not found", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", false, "error: metadata answer: HTTP status 404"},
      {"redirect", "HTTP/1.1 302 Found\r\nLocation: http://1.2.3.4/\r\n\r\n", false, "error: metadata answer: HTTP status 302"},
      {"HTTP/2", "HTTP/2 200\r\n\r\n", true, "error: metadata answer: not an HTTP/1.x status line"},
      {"status 2000", "HTTP/1.1 2000 OK\r\n\r\n", true, "error: metadata answer: not an HTTP/1.x status line"},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", true, "error: metadata answer: not an HTTP/1.x status line"},
      {"folded header line", ok + "X: a\r\n b\r\n\r\n", true, "error: metadata answer: bad header line"},
      {"header name with a space", ok + "Content Length: 2\r\n\r\nhi", true, "error: metadata answer: bad header name"},
      {"header not complete", ok + "Content-Len", false, "more"},
      {"closed in the header", ok + "Content-Len", true, "error: metadata answer: cut short in the header"},
      {"closed at once", "", true, "error: metadata answer: connection closed without an answer"},
      {"header too long", ok + "X: " + std::string(kMaxHttpHeaderBytes, 'x'), false, "error: metadata answer: header too long"},
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
