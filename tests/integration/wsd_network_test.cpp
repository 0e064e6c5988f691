// Name lookups and WS-Discovery on the Samba test network with its SMB2-only hosts M1 and M2,
// which the client's /etc/hosts does not list: real wsdd peers, real sockets, hostile peers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

#include "platform/unique_fd.h"
#include "wsd/client/metadata_fetcher.h"
#include "wsd/client/name_lookup.h"
#include "wsd/client/wsd_host_discovery.h"
#include "wsd/wsd_messages.h"

namespace vuv {
namespace {

using namespace std::chrono_literals;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

const DiscoveredHost* named(const std::vector<DiscoveredHost>& hosts, std::string_view name) {
  auto it = std::find_if(hosts.begin(), hosts.end(), [&](const DiscoveredHost& h) { return h.name == name; });
  return it == hosts.end() ? nullptr : &*it;
}

TEST(NameLookupOnNetwork, HostsFileAnswersAndAStoppedLookupGivesUp) {
  wsd::NameServices names(2s);
  const auto found = names.resolve({"localhost", "s1", "no-such-host.invalid", "NOSUCHHOST"}, {});
  EXPECT_EQ(found.size(), 2u);
  EXPECT_EQ(found.at("localhost").address, "127.0.0.1");
  EXPECT_EQ(found.at("s1").address, env("VUV_NET_IP_S1"));
  EXPECT_EQ(wsd::reverseLookup({"127.0.0.1", "not an address"}, 2s),
            (std::map<std::string, std::string>{{"127.0.0.1", "localhost"}}));
  std::stop_source stopped;
  stopped.request_stop();
  EXPECT_TRUE(names.resolve({"localhost"}, stopped.get_token()).empty());
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

// A WS-Discovery responder that answers every Probe with `answers`, in the namespace of the
// thread that makes it, on the interface of address `on`.
class FakePeer {
 public:
  explicit FakePeer(std::vector<std::function<std::string(const std::string& probeId)>> answers,
                    const std::string& on = env("VUV_NET_CLIENT_IP"))
      : answers_(std::move(answers)) {
    fd_ = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(wsd::kPort);
    ip_mreq membership{};
    ::inet_pton(AF_INET, std::string(wsd::kMulticastV4).c_str(), &membership.imr_multiaddr);
    ::inet_pton(AF_INET, on.c_str(), &membership.imr_interface);
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

// Guards against an announcement aiming our metadata POST at a local service or at anyone but
// the announcer, whatever address family it hides it in. Needs no network: refused before any
// socket opens.
TEST(WsdOnNetwork, MetadataIsFetchedOnlyFromTheAnnouncer) {
  const struct {
    const char* url;
    const char* sender;
    bool allowed;
  } cases[] = {
      {"http://10.0.0.7:5357/a", "10.0.0.7", true},
      {"http://10.0.0.8:5357/a", "10.0.0.7", false},
      {"http://127.0.0.1:5357/a", "127.0.0.1", false},
      {"http://0.0.0.0/a", "0.0.0.0", false},
      {"http://239.255.255.250/a", "239.255.255.250", false},
      {"http://255.255.255.255/a", "255.255.255.255", false},
      {"http://[::1]/a", "::1", false},
      {"http://[::ffff:127.0.0.1]/a", "::ffff:127.0.0.1", false},
      {"http://[::ffff:10.0.0.7]/a", "10.0.0.7", false},
      {"http://[::]/a", "::", false},
      {"http://[ff02::c]/a", "ff02::c", false},
      {"http://[2001:db8::7]/a", "2001:db8::7", true},
      {"http://[2001:db8::8]/a", "2001:db8::7", false},
      {"http://[fe80::8]/a", "10.0.0.7", true},  // a link-local peer
  };
  for (const auto& c : cases) {
    auto url = wsd::parseHttpUrl(c.url);
    ASSERT_TRUE(url.ok()) << c.url;
    EXPECT_EQ(wsd::metadataDestination(*url, c.sender).ok(), c.allowed) << c.url << " from " << c.sender;
  }
}

// Guards against a hostile or broken peer costing more than its own answer: silent and endless
// metadata servers, entity bombs, junk, answers to others, a metadata address on loopback. The
// round still ends and finds M1 and M2, and shows the peer by its address's name.
TEST(WsdOnNetwork, HostilePeersCostOnlyTheirOwnAnswers) {
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
  auto hosts = discovery.discover({});  // a peer that could hold the round would hang it here
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());

  ASSERT_NE(named(*hosts, "M1"), nullptr);
  ASSERT_NE(named(*hosts, "M2"), nullptr);
  // silent, endless and loopback: one computer at the client's address, named as /etc/hosts says
  // (other hosts the network may announce aside).
  ASSERT_EQ(std::count_if(hosts->begin(), hosts->end(), [&](const DiscoveredHost& h) { return h.address == client; }), 1);
  const DiscoveredHost* fake = named(*hosts, "vuvclient");
  ASSERT_NE(fake, nullptr);
  EXPECT_EQ(fake->group, "WORKGROUP");
  EXPECT_EQ(fake->address, client);
  EXPECT_EQ(named(*hosts, "stray"), nullptr);
  EXPECT_TRUE(endless.cutOff()) << "the endless answer was read to the end?";
}

// Guards against taking WS-Discovery from a host off our links: a peer on the wire but not in
// the client's network (the bridge's namespace, given 10.214.0.1/14 for the test, which reaches
// the client's /24) answers the probe and must not show.
TEST(WsdOnNetwork, AnswersFromOffOurLinksAreNotTaken) {
  const std::string ip = "ip -n " + env("VUV_NET_PREFIX") + "-br addr ", address = " 10.214.0.1/14 dev br0";
  struct Undo {
    std::string command;
    ~Undo() { EXPECT_EQ(std::system(command.c_str()), 0) << command; }
  };
  ASSERT_EQ(std::system((ip + "add" + address).c_str()), 0);
  const Undo removed{ip + "del" + address};
  const UniqueFd home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
  const UniqueFd away(::open(("/run/netns/" + env("VUV_NET_PREFIX") + "-br").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::setns(away.get(), CLONE_NEWNET), 0);
  FakePeer peer({[](const std::string& id) { return probeMatch(id, "urn:uuid:away", "http://10.214.0.1:5357/m"); }}, "10.214.0.1");
  ASSERT_EQ(::setns(home.get(), CLONE_NEWNET), 0);
  auto hosts = wsd::WsdHostDiscovery().discover({});
  ASSERT_TRUE(hosts.ok()) << describe(hosts.error());
  ASSERT_NE(named(*hosts, "M1"), nullptr);
  EXPECT_EQ(std::count_if(hosts->begin(), hosts->end(), [](const DiscoveredHost& h) { return h.address == "10.214.0.1"; }), 0);
}

}  // namespace
}  // namespace vuv
