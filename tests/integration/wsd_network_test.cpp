// WS-Discovery on the Samba test network with its SMB2-only hosts M1 and M2 (VUV_NET_MODERN=1):
// real wsdd peers, real sockets, real worker processes. The client's /etc/hosts does not list
// M1 and M2, so whatever reaches them does so through the address book.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <stop_token>
#include <thread>

#include "browse/merged_browse_service.h"
#include "discovery/discovery.h"
#include "integration/network_test_support.h"
#include "platform/unique_fd.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"
#include "smb/client/worker_pool.h"
#include "support/recording_diagnostics.h"
#include "treefile/tree_file_writer.h"
#include "session/session.h"
#include "wsd/client/name_lookup.h"
#include "wsd/client/wsd_host_discovery.h"
#include "wsd/wsd_messages.h"

namespace vuv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

bool modernNetwork() { return env("VUV_NET_MODERN") == "1"; }

#define REQUIRE_MODERN_NETWORK() \
  if (!modernNetwork()) GTEST_SKIP() << "needs the test network with VUV_NET_MODERN=1"

const DiscoveredHost* named(const std::vector<DiscoveredHost>& hosts, std::string_view name) {
  auto it = std::find_if(hosts.begin(), hosts.end(), [&](const DiscoveredHost& h) { return h.name == name; });
  return it == hosts.end() ? nullptr : &*it;
}

TEST(WsdOnNetwork, FindsTheModernHostsWithTheirWorkgroups) {
  REQUIRE_MODERN_NETWORK();
  wsd::WsdHostDiscovery discovery;
  const auto started = Clock::now();
  auto hosts = discovery.discover({});
  const auto took = Clock::now() - started;
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());
  ASSERT_EQ(hosts->size(), 2u);
  const DiscoveredHost* m1 = named(*hosts, "M1");
  const DiscoveredHost* m2 = named(*hosts, "M2");
  ASSERT_NE(m1, nullptr);
  ASSERT_NE(m2, nullptr);
  EXPECT_EQ(m1->group, "MODERN");
  EXPECT_EQ(m2->group, "ALPHA");
  EXPECT_FALSE(m1->isDomain);
  EXPECT_EQ(m1->address, env("VUV_NET_IP_M1"));
  EXPECT_EQ(m2->address, env("VUV_NET_IP_M2"));
  EXPECT_GE(took, 2s);  // the probe window
  EXPECT_LT(took, 3s);  // and little more
}

TEST(WsdOnNetwork, LookingForOneHostEndsWhenItAnswers) {
  REQUIRE_MODERN_NETWORK();
  wsd::WsdHostDiscovery discovery;
  const auto started = Clock::now();
  auto hosts = discovery.discoverHost("m2");
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());
  EXPECT_NE(named(*hosts, "M2"), nullptr);
  EXPECT_LT(Clock::now() - started, 1500ms);
}

TEST(WsdOnNetwork, StopEndsARoundAtOnce) {
  REQUIRE_MODERN_NETWORK();
  wsd::WsdHostDiscovery discovery;
  std::stop_source stop;
  std::jthread stopper([&] {
    std::this_thread::sleep_for(100ms);
    stop.request_stop();
  });
  auto hosts = discovery.discover(stop.get_token());
  ASSERT_FALSE(hosts.ok());
  EXPECT_EQ(hosts.error().code, ErrorCode::Cancelled);  // not the 2 s round's hosts
}

TEST(NameLookupOnNetwork, HostsFileAnswersAndAStoppedLookupGivesUp) {
  EXPECT_TRUE(wsd::resolvesByName("localhost", 2s));
  EXPECT_TRUE(wsd::inHostsFile("localhost"));
  EXPECT_FALSE(wsd::inHostsFile("no-such-host.invalid"));
  EXPECT_EQ(wsd::reverseLookup({"127.0.0.1", "not an address"}, 2s),
            (std::map<std::string, std::string>{{"127.0.0.1", "localhost"}}));
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_FALSE(wsd::resolvesByName("localhost", 2s, stopped.get_token()));
}

// A name the client's hosts file knows needs no WS-Discovery; one only WS-Discovery knows lands
// in the address book; an unknown one costs no more than the round.
TEST(SessionOnNetwork, ServerNamesAreLearnedFromTheQuickestSource) {
  REQUIRE_MODERN_NETWORK();
  auto opened = session::Session::open({}, nullptr);
  ASSERT_TRUE(opened.ok()) << describe(opened.error());
  session::Session& session = **opened;
  const Status s1 = session.learnAddressOf("S1");
  EXPECT_TRUE(s1.ok()) << describe(s1.error());
  EXPECT_FALSE(session.addresses().lookup("S1"));
  EXPECT_TRUE(session.learnAddressOf("m1").ok());
  EXPECT_EQ(session.addresses().lookup("M1"), std::optional<std::string>("10.213.0.31"));
  const auto started = Clock::now();
  EXPECT_TRUE(session.learnAddressOf("NOSUCHHOST").ok());
  EXPECT_FALSE(session.addresses().lookup("NOSUCHHOST"));
  EXPECT_LT(Clock::now() - started, 5s);
}

class ModernNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_MODERN_NETWORK();
    // The premise: nothing but WS-Discovery can tell where M1 is.
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo("M1", nullptr, nullptr, &found);
    if (rc == 0) ::freeaddrinfo(found);
    ASSERT_NE(rc, 0) << "M1 resolves without WS-Discovery: the test would prove nothing";
  }

  smb::WorkerPool pool_{smb::WorkerPoolOptions{}};
  HostAddressBook book_;
  smb::SmbBrowseService smb_{pool_, &book_};
  wsd::WsdHostDiscovery hosts_;
  NetworkTree tree_;
  testing::RecordingDiagnostics diagnostics_;
  Executor executor_{16};
};

TEST_F(ModernNetwork, DiscoveryMergesBothSources) {
  MergedBrowseService merged(smb_, &hosts_, &book_, {}, executor_);
  {
    Discovery discovery(tree_, merged, diagnostics_, executor_, {});
    ASSERT_TRUE(discovery.discover().ok());
    discovery.waitUntilIdle();
  }
  auto bytes = formatTree(tree_, tree_.root());
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(*bytes, testing::readFile(VUV_EXPECTED_TREE_MODERN));
  EXPECT_EQ(diagnostics_.err(), "");
  EXPECT_EQ(book_.lookup("M1"), env("VUV_NET_IP_M1"));
}

TEST_F(ModernNetwork, AnnouncedHostsAloneWhenChosen) {
  MergedBrowseService merged(smb_, &hosts_, &book_, {false, true}, executor_);
  {
    Discovery discovery(tree_, merged, diagnostics_, executor_, {});
    ASSERT_TRUE(discovery.discover().ok());
    discovery.waitUntilIdle();
  }
  auto bytes = formatTree(tree_, tree_.root());
  ASSERT_TRUE(bytes.ok());
  EXPECT_EQ(*bytes, "2ALPHA\n1M2\n0Media\n0IPC$\n2MODERN\n1M1\n0Media\n0IPC$\n");
}

TEST_F(ModernNetwork, FilesOnModernHostsAreListedThroughTheAddressBook) {
  smb::SmbDirectoryLister withoutBook(pool_);
  EXPECT_FALSE(withoutBook.list("\\\\M1\\Media", {}).ok()) << "M1 is reachable by name: the test proves nothing";

  auto hosts = hosts_.discoverHost("M1");
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());
  for (const DiscoveredHost& h : *hosts) book_.set(h.name, h.address);
  smb::SmbDirectoryLister lister(pool_, &book_);
  auto entries = lister.list("\\\\M1\\Media\\music", {});
  ASSERT_TRUE(entries.ok()) << describe(entries.error());
  ASSERT_EQ(entries->entries.size(), 1u);
  EXPECT_EQ(entries->entries[0].name, "song.mp3");
  auto top = lister.list("\\\\m1\\Media", {});
  ASSERT_TRUE(top.ok()) << describe(top.error());
  EXPECT_EQ(top->entries.size(), 2u);  // movie.mkv, music
}

// --- hostile peers ---------------------------------------------------------------------------

// A TCP server on the client's address that either never answers or answers without end.
class FakeHttp {
 public:
  enum class Mode { Silent, Endless };
  explicit FakeHttp(Mode mode) : mode_(mode) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, env("VUV_NET_CLIENT_IP").c_str(), &a.sin_addr);
    socklen_t length = sizeof a;
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_.get(), 8) != 0 ||
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      ADD_FAILURE() << "cannot listen";
      return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeHttp() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t port() const { return port_; }
  bool cutOff() const { return cutOff_; }  // the client closed on us

 private:
  void serve() {
    std::vector<UniqueFd> clients;
    while (!stop_) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, 20) == 1) clients.emplace_back(::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (mode_ != Mode::Endless) continue;
      static const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\n\r\n<a>";
      const std::string chunk(64 * 1024, 'x');
      for (UniqueFd& c : clients) {
        if (!c.valid()) continue;
        if (::send(c.get(), header.data(), header.size(), MSG_NOSIGNAL) < 0 ||
            (::send(c.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)) {
          if (errno == EPIPE || errno == ECONNRESET) cutOff_ = true;
          c.reset();
        }
      }
    }
  }

  Mode mode_;
  UniqueFd fd_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> cutOff_{false};
  std::thread thread_;
};

// A WS-Discovery responder in the client's namespace that answers every Probe with `answers`.
class FakePeer {
 public:
  explicit FakePeer(std::vector<std::function<std::string(const std::string& probeId)>> answers)
      : answers_(std::move(answers)) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(wsd::kPort);
    ip_mreq membership{};
    ::inet_pton(AF_INET, std::string(wsd::kMulticastV4).c_str(), &membership.imr_multiaddr);
    ::inet_pton(AF_INET, env("VUV_NET_CLIENT_IP").c_str(), &membership.imr_interface);
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        ::setsockopt(fd_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
      ADD_FAILURE() << "cannot join the WS-Discovery group";
      return;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~FakePeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void serve() {
    std::string buffer(65536, '\0');
    while (!stop_) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n = ::recvfrom(fd_.get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n <= 0) continue;
      auto message = wsd::parseMessage(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      if (!message || message->kind != wsd::MessageKind::Probe) continue;
      for (const auto& answer : answers_) {
        const std::string bytes = answer(message->messageId);
        ::sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
      }
    }
  }

  std::vector<std::function<std::string(const std::string&)>> answers_;
  UniqueFd fd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string probeMatch(const std::string& relatesTo, const std::string& endpoint, const std::string& xaddrs) {
  return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" )"
         R"(xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" )"
         R"(xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07">)"
         "<soap:Header><wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</wsa:Action>"
         "<wsa:MessageID>urn:uuid:fake</wsa:MessageID><wsa:RelatesTo>" + relatesTo + "</wsa:RelatesTo></soap:Header>"
         "<soap:Body><wsd:ProbeMatches><wsd:ProbeMatch><wsa:EndpointReference><wsa:Address>" + endpoint +
         "</wsa:Address></wsa:EndpointReference><wsd:Types>wsdp:Device pub:Computer</wsd:Types><wsd:XAddrs>" + xaddrs +
         "</wsd:XAddrs></wsd:ProbeMatch></wsd:ProbeMatches></soap:Body></soap:Envelope>";
}

// Guards against a hostile or broken peer costing more than its own answer: silent and endless
// metadata servers, entity bombs, junk, answers to others, a metadata address on loopback. The
// round still finds M1 and M2 in its bounded time, and shows the peer by its address's name.
TEST(WsdOnNetwork, HostilePeersCostOnlyTheirOwnAnswers) {
  REQUIRE_MODERN_NETWORK();
  const std::string client = env("VUV_NET_CLIENT_IP");
  FakeHttp silent(FakeHttp::Mode::Silent);
  FakeHttp endless(FakeHttp::Mode::Endless);
  const std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><l>&c;</l>";
  FakePeer peer({
      [&](const std::string& id) { return probeMatch(id, "urn:uuid:silent", "http://" + client + ":" + std::to_string(silent.port()) + "/m"); },
      [&](const std::string& id) { return probeMatch(id, "urn:uuid:endless", "http://" + client + ":" + std::to_string(endless.port()) + "/m"); },
      [&](const std::string& id) { return probeMatch(id, "urn:uuid:loopback", "http://127.0.0.1:22/"); },
      [&](const std::string&) { return probeMatch("urn:uuid:not-yours", "urn:uuid:stray", "http://" + client + ":1/"); },
      [&](const std::string&) { return bomb; },
      [&](const std::string&) { return std::string(60000, '<'); },
  });

  wsd::WsdOptions options;
  options.round.fetchTimeout = 1s;
  options.round.maxResponseBytes = 64 * 1024;
  wsd::WsdHostDiscovery discovery(options);
  const auto started = Clock::now();
  auto hosts = discovery.discover({});
  const auto took = Clock::now() - started;
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());
  // Window, Resolve and metadata limits, the reverse lookups, and some slack.
  EXPECT_LT(took, 2s + 1s + 1s + 1s + 500ms);

  ASSERT_NE(named(*hosts, "M1"), nullptr);
  ASSERT_NE(named(*hosts, "M2"), nullptr);
  // silent, endless and loopback: one computer at the client's address, named as /etc/hosts says.
  ASSERT_EQ(hosts->size(), 3u);
  const DiscoveredHost* fake = named(*hosts, "vuvclient");
  ASSERT_NE(fake, nullptr);
  EXPECT_EQ(fake->group, "WORKGROUP");
  EXPECT_EQ(fake->address, client);
  EXPECT_EQ(named(*hosts, "stray"), nullptr);
  EXPECT_TRUE(endless.cutOff()) << "the endless answer was read to the end?";
}

}  // namespace
}  // namespace vuv
