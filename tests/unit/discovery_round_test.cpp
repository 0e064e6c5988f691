#include "wsd/discovery_round.h"

#include <gtest/gtest.h>

#include "browse/host_address_book.h"
#include "unit/wsd_test_support.h"
#include "wsd/wsd_messages.h"

namespace vuv::wsd {
namespace {

using namespace std::chrono_literals;
using testing::kM1Endpoint;
using testing::replaced;
using testing::wsdData;

const Clock::time_point t0{};
constexpr const char* kM1 = "10.213.0.31";

RoundOptions options(std::uint32_t seed = 7) {
  RoundOptions o;
  o.seed = seed;
  return o;
}

// A match in wsdd's words, for any endpoint, answer id, Types and XAddrs.
std::string match(const std::string& action, const std::string& relatesTo, const std::string& endpoint,
                  const std::string& types = "wsdp:Device pub:Computer", const std::string& xaddrs = "") {
  const bool probe = action == "ProbeMatches";
  const std::string one = probe ? "ProbeMatch" : "ResolveMatch";
  std::string body;
  if (action == "Hello" || action == "Bye") {
    body = "<wsd:" + action + ">";
  } else {
    body = "<wsd:" + action + "><wsd:" + one + ">";
  }
  body += "<wsa:EndpointReference><wsa:Address>" + endpoint + "</wsa:Address></wsa:EndpointReference>";
  if (!types.empty()) body += "<wsd:Types>" + types + "</wsd:Types>";
  if (!xaddrs.empty()) body += "<wsd:XAddrs>" + xaddrs + "</wsd:XAddrs>";
  body += action == "Hello" || action == "Bye" ? "</wsd:" + action + ">" : "</wsd:" + one + "></wsd:" + action + ">";
  return R"(<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope" )"
         R"(xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing" xmlns:wsd="http://schemas.xmlsoap.org/ws/2005/04/discovery" )"
         R"(xmlns:wsdp="http://schemas.xmlsoap.org/ws/2006/02/devprof" xmlns:pub="http://schemas.microsoft.com/windows/pub/2005/07" )"
         R"(xmlns:print="http://schemas.microsoft.com/windows/2006/08/wdp/print"><soap:Header>)"
         "<wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/" + action + "</wsa:Action>"
         "<wsa:MessageID>urn:uuid:11111111-0000-4000-8000-000000000000</wsa:MessageID>" +
         (relatesTo.empty() ? "" : "<wsa:RelatesTo>" + relatesTo + "</wsa:RelatesTo>") +
         "</soap:Header><soap:Body>" + body + "</soap:Body></soap:Envelope>";
}

std::string metadataFor(const std::string& relatesTo, const std::string& computer) {
  return replaced(replaced(wsdData("metadata-m1.xml"), testing::kRecordedGetId, relatesTo), "M1/Workgroup:MODERN",
                  computer);
}

std::string messageIdOf(std::string_view message) {
  auto parsed = parseMessage(message.substr(message.find('<')));
  return parsed ? parsed->messageId : "unparsable";
}

// Sends the probe, takes a ProbeMatch for `endpoint` from `sender` and answers its Resolve with
// `xaddrs`. Returns the Resolve's message id.
std::string discoverDevice(DiscoveryRound& round, Clock::time_point at, const std::string& endpoint,
                           const std::string& sender, const std::string& xaddrs) {
  round.takeMulticasts(at);
  round.onDatagram(match("ProbeMatches", round.probeId(), endpoint), sender, at);
  std::string resolveId;
  for (const std::string& m : round.takeMulticasts(at)) {
    auto parsed = parseMessage(m);
    if (parsed && parsed->kind == MessageKind::Resolve) resolveId = parsed->messageId;
  }
  round.onDatagram(match("ResolveMatches", resolveId, endpoint, "wsdp:Device pub:Computer", xaddrs), sender, at);
  return resolveId;
}

TEST(DiscoveryRound, RecordedExchangeFindsTheComputer) {
  DiscoveryRound round(options(), t0);
  const std::vector<std::string> first = round.takeMulticasts(t0);
  ASSERT_EQ(first.size(), 1u);

  round.onDatagram(replaced(wsdData("probe-match-m1.xml"), testing::kRecordedProbeId, round.probeId()), kM1, t0 + 3ms);
  EXPECT_TRUE(round.takeFetches(t0 + 3ms).empty());  // no address yet: Resolve first
  const std::vector<std::string> resolves = round.takeMulticasts(t0 + 3ms);
  ASSERT_EQ(resolves.size(), 1u);
  auto resolve = parseMessage(resolves[0]);
  ASSERT_TRUE(resolve.ok());
  EXPECT_NE(resolves[0].find(kM1Endpoint), std::string::npos);

  round.onDatagram(replaced(wsdData("resolve-match-m1.xml"), testing::kRecordedResolveId, resolve->messageId), kM1,
                   t0 + 5ms);
  const std::vector<FetchRequest> fetches = round.takeFetches(t0 + 5ms);
  ASSERT_EQ(fetches.size(), 1u);
  EXPECT_EQ(fetches[0].url.host, kM1);
  EXPECT_TRUE(fetches[0].request.starts_with("POST /47954a0b-b3a7-31d8-8776-fe33e4988d58 HTTP/1.1\r\n"));
  const std::string getId = messageIdOf(fetches[0].request);

  round.onFetched(fetches[0].id, Result<std::string>(metadataFor(getId, "M1/Workgroup:MODERN")), t0 + 8ms);
  EXPECT_FALSE(round.finished(t0 + 8ms));  // others may still answer within the window
  EXPECT_TRUE(round.finished(t0 + 2s));
  const std::vector<FoundHost> hosts = round.hosts();
  ASSERT_EQ(hosts.size(), 1u);
  EXPECT_EQ(hosts[0].name, "M1");
  EXPECT_EQ(hosts[0].group, "MODERN");
  EXPECT_EQ(hosts[0].address, kM1);
  EXPECT_EQ(round.droppedMessages(), 0u);
}

// Once the wanted computer is known the round ends, unless another host already heard may claim
// its name too: that one is waited for, briefly, so that both claims reach the address book.
TEST(DiscoveryRound, WantedHostWaitsBrieflyForOthersHeard) {
  RoundOptions o = options();
  o.wantedName = "m1";
  for (const bool otherAnswers : {true, false}) {
    DiscoveryRound round(o, t0);
    discoverDevice(round, t0, "urn:a", kM1, "http://10.213.0.31:5357/a");
    discoverDevice(round, t0, "urn:b", "10.213.0.66", "http://10.213.0.66:5357/b");
    const auto fetches = round.takeFetches(t0);
    ASSERT_EQ(fetches.size(), 2u);
    const auto answer = [&](std::size_t i, Clock::time_point at) {
      round.onFetched(fetches[i].id, Result<std::string>(metadataFor(messageIdOf(fetches[i].request), "M1/Workgroup:MODERN")), at);
    };
    answer(0, t0 + 10ms);
    EXPECT_FALSE(round.finished(t0 + 10ms));
    if (otherAnswers) answer(1, t0 + 20ms);
    EXPECT_EQ(round.finished(t0 + 20ms), otherAnswers);
    EXPECT_TRUE(round.finished(t0 + 10ms + o.wantedGrace));
    EXPECT_EQ(round.hosts().at(1).name, otherAnswers ? "M1" : "");
  }
}

TEST(DiscoveryRound, ProbeIsRepeatedTwiceWithGrowingDelays) {
  for (std::uint32_t seed : {1u, 2u, 3u, 99u}) {
    DiscoveryRound round(options(seed), t0);
    std::vector<Clock::duration> sent;
    for (auto at = t0; at < t0 + 3s; at += 1ms) {
      for (const std::string& m : round.takeMulticasts(at)) {
        EXPECT_EQ(messageIdOf(m), round.probeId());  // repeats keep the message id
        sent.push_back(at - t0);
      }
    }
    ASSERT_EQ(sent.size(), 3u) << seed;
    const auto first = sent[1] - sent[0];
    EXPECT_GE(first, 50ms);
    EXPECT_LE(first, 250ms);
    EXPECT_EQ(sent[2] - sent[1], 2 * first);
  }
}

TEST(DiscoveryRound, WhatIsNotOursIsDropped) {
  DiscoveryRound round(options(), t0);
  round.takeMulticasts(t0);
  round.onDatagram(match("ProbeMatches", "urn:uuid:someone-elses-probe", "urn:a"), "10.0.0.5", t0);
  round.onDatagram(match("ResolveMatches", "urn:uuid:no-resolve-of-ours", "urn:a", "", "http://10.0.0.5/"), "10.0.0.5", t0);
  round.onDatagram(match("ProbeMatches", "", "urn:a"), "10.0.0.5", t0);
  round.onDatagram("<not xml", "10.0.0.5", t0);
  EXPECT_EQ(round.droppedMessages(), 4u);
  // Our own probe looped back, and other clients' probes: ignored, not counted.
  round.onDatagram(probeMessage(round.probeId()), "10.0.0.100", t0);
  EXPECT_EQ(round.droppedMessages(), 4u);
  EXPECT_TRUE(round.takeMulticasts(t0 + 1ms).empty());
  EXPECT_TRUE(round.hosts().empty());
}

TEST(DiscoveryRound, DevicesOtherThanComputersAreIgnored) {
  DiscoveryRound round(options(), t0);
  round.takeMulticasts(t0);
  round.onDatagram(match("ProbeMatches", round.probeId(), "urn:printer", "wsdp:Device print:PrintDeviceType"), "10.0.0.9", t0);
  EXPECT_TRUE(round.takeMulticasts(t0).empty());  // no Resolve for a printer
  // A Hello says nothing of its kind, so it is asked; its metadata then says "no computer".
  round.onDatagram(match("Hello", "", "urn:camera", "", "http://10.0.0.8:5357/c"), "10.0.0.8", t0);
  auto fetches = round.takeFetches(t0);
  ASSERT_EQ(fetches.size(), 1u);
  const std::string noComputer =
      replaced(metadataFor(messageIdOf(fetches[0].request), "x"), "<pub:Computer>x</pub:Computer>", "");
  round.onFetched(fetches[0].id, Result<std::string>(noComputer), t0);
  EXPECT_TRUE(round.hosts().empty());
}

TEST(DiscoveryRound, HelloIsFetchedAtOnceAndByeForgets) {
  DiscoveryRound round(options(), t0);
  round.takeMulticasts(t0);
  round.onDatagram(wsdData("hello-m1.xml"), kM1, t0 + 1ms);
  EXPECT_TRUE(round.takeMulticasts(t0 + 1ms).empty());  // its XAddrs came with it
  auto fetches = round.takeFetches(t0 + 1ms);
  ASSERT_EQ(fetches.size(), 1u);
  round.onFetched(fetches[0].id, Result<std::string>(metadataFor(messageIdOf(fetches[0].request), "M1/Workgroup:MODERN")), t0 + 2ms);
  ASSERT_EQ(round.hosts().size(), 1u);
  // Another sender can neither say goodbye for it nor restart it.
  round.onDatagram(wsdData("bye-m1.xml"), "10.213.0.66", t0 + 3ms);
  round.onDatagram(wsdData("hello-m1.xml"), "10.213.0.66", t0 + 3ms);
  EXPECT_EQ(round.hosts().at(0).name, "M1");

  round.onDatagram(wsdData("bye-m1.xml"), kM1, t0 + 3ms);
  EXPECT_TRUE(round.hosts().empty());
  // A late repeat of the match does not bring it back; a new Hello (a restart) does.
  round.onDatagram(match("ProbeMatches", round.probeId(), kM1Endpoint), kM1, t0 + 4ms);
  EXPECT_TRUE(round.hosts().empty());
  round.onDatagram(wsdData("hello-m1.xml"), kM1, t0 + 5ms);
  EXPECT_EQ(round.takeFetches(t0 + 5ms).size(), 1u);
}

TEST(DiscoveryRound, UnansweredResolveAndFailedMetadataLeaveTheAddress) {
  DiscoveryRound round(options(), t0);
  round.takeMulticasts(t0);
  round.onDatagram(match("ProbeMatches", round.probeId(), "urn:silent"), "10.0.0.7", t0);
  round.onDatagram(match("ProbeMatches", round.probeId(), "urn:broken", "wsdp:Device pub:Computer",
                         "http://10.0.0.6:5357/b"), "10.0.0.6", t0);
  auto fetches = round.takeFetches(t0);
  ASSERT_EQ(fetches.size(), 1u);
  round.onFetched(fetches[0].id, Result<std::string>(makeError(ErrorCode::Unreachable, "refused", 111)), t0 + 1ms);
  std::vector<std::string> resolves;  // only for the one without XAddrs, sent twice
  for (auto at = t0; at < t0 + 999ms; at += 1ms) {
    for (const std::string& m : round.takeMulticasts(at)) {
      if (parseMessage(m)->kind == MessageKind::Resolve) resolves.push_back(m);
    }
  }
  ASSERT_EQ(resolves.size(), 2u);
  EXPECT_EQ(resolves[0], resolves[1]);

  EXPECT_FALSE(round.finished(t0 + 999ms));
  EXPECT_TRUE(round.finished(t0 + 2s));  // the Resolve has timed out by the window's end
  const auto hosts = round.hosts();
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].address, "10.0.0.7");
  EXPECT_EQ(hosts[0].name, "");
  EXPECT_FALSE(hosts[0].failure.empty());
  EXPECT_EQ(hosts[1].address, "10.0.0.6");
  EXPECT_NE(hosts[1].failure.find("refused"), std::string::npos) << hosts[1].failure;  // the fetch's own error
}

TEST(DiscoveryRound, MetadataAddressChoice) {
  struct Case {
    const char* what;
    std::string xaddrs;
    std::string sender;
    std::string expected;  // host fetched, or "" for none
  };
  const Case cases[] = {
      {"the sender's address first", "http://192.168.1.5:5357/a http://10.0.0.7:5357/a", "10.0.0.7", "10.0.0.7"},
      {"another address refused", "http://192.168.1.5:5357/a http://[2001:db8::1]/a", "10.0.0.7", ""},
      {"a link-local peer", "http://192.168.1.5/a http://[FE80::1]:5357/a", "10.0.0.7", "FE80::1"},
      {"the IPv6 sender", "http://[2001:db8::1]:5357/a", "2001:db8::1", "2001:db8::1"},
      {"a loopback sender refused", "http://127.0.0.1:5357/a", "127.0.0.1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DiscoveryRound round(options(), t0);
    discoverDevice(round, t0, "urn:a", c.sender, c.xaddrs);
    const auto fetches = round.takeFetches(t0);
    ASSERT_EQ(fetches.size(), c.expected.empty() ? 0u : 1u);
    if (fetches.empty()) {
      EXPECT_FALSE(round.hosts().at(0).failure.empty());
    } else {
      EXPECT_EQ(fetches[0].url.host, c.expected);
    }
  }
}

TEST(DiscoveryRound, MetadataMustAnswerOurRequest) {
  DiscoveryRound round(options(), t0);
  discoverDevice(round, t0, "urn:a", "10.0.0.7", "http://10.0.0.7:5357/a");
  auto fetches = round.takeFetches(t0);
  ASSERT_EQ(fetches.size(), 1u);
  round.onFetched(fetches[0].id, Result<std::string>(metadataFor("urn:uuid:another-request", "EVIL/Workgroup:X")), t0);
  ASSERT_EQ(round.hosts().size(), 1u);
  EXPECT_EQ(round.hosts()[0].name, "");
  EXPECT_FALSE(round.hosts()[0].failure.empty());
  round.onFetched(fetches[0].id, Result<std::string>(metadataFor(messageIdOf(fetches[0].request), "M/Workgroup:W")), t0);
  EXPECT_EQ(round.hosts()[0].name, "");  // an answer after the end of a request changes nothing
}

TEST(DiscoveryRound, FetchesAreBoundedAndDevicesToo) {
  RoundOptions o = options();
  o.maxConcurrentFetches = 3;
  o.maxDevices = 5;
  DiscoveryRound round(o, t0);
  round.takeMulticasts(t0);
  for (int i = 0; i < 8; ++i) {
    const std::string n = std::to_string(i);
    const std::string address = "10.0.0." + std::to_string(10 + i);
    round.onDatagram(match("Hello", "", "urn:d" + n, "", "http://" + address + ":5357/"), address, t0);
  }
  EXPECT_EQ(round.droppedMessages(), 3u);  // devices beyond the bound
  auto first = round.takeFetches(t0);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_TRUE(round.takeFetches(t0).empty());
  round.onFetched(first[1].id, Result<std::string>(makeError(ErrorCode::Timeout, "slow")), t0);
  EXPECT_EQ(round.takeFetches(t0).size(), 1u);
  EXPECT_TRUE(round.takeFetches(t0).empty());

  // A Bye, then a Hello, while its request is out: the request still counts, and the restarted
  // device waits for it to end; the old answer is not taken for the new request.
  const std::string hello = match("Hello", "", "urn:d0", "", "http://10.0.0.10:5357/");
  for (int churn = 0; churn < 20; ++churn) {
    round.onDatagram(match("Bye", "", "urn:d0"), "10.0.0.10", t0);
    round.onDatagram(hello, "10.0.0.10", t0);
    EXPECT_TRUE(round.takeFetches(t0).empty());
  }
  round.onFetched(first[0].id, Result<std::string>(metadataFor(messageIdOf(first[0].request), "OLD/Workgroup:W")), t0);
  const auto again = round.takeFetches(t0);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].id, first[0].id);
  for (const FoundHost& host : round.hosts()) EXPECT_NE(host.name, "OLD");
}

// Made-up endpoints from one sender cannot fill the round.
TEST(DiscoveryRound, OneSenderHoldsFewDevices) {
  DiscoveryRound round(options(), t0);
  for (std::size_t i = 0; i < options().maxDevices; ++i) {
    round.onDatagram(match("ProbeMatches", round.probeId(), "urn:fake" + std::to_string(i)), "10.0.0.66", t0);
  }
  round.onDatagram(match("Hello", "", "urn:real", "", "http://10.213.0.31:5357/"), kM1, t0);
  EXPECT_EQ(round.takeFetches(t0).size(), 1u);
}

// Guards against a round that waits for ever on a device that never answers its metadata
// request: the hard limit ends it, and the device keeps its address.
TEST(DiscoveryRound, HardLimitEndsWhateverIsPending) {
  DiscoveryRound round(options(), t0);
  const auto late = t0 + 1999ms;
  round.takeMulticasts(late);
  round.onDatagram(match("ProbeMatches", round.probeId(), "urn:late", "wsdp:Device pub:Computer", "http://10.0.0.3:5357/"),
                   "10.0.0.3", late);
  ASSERT_EQ(round.takeFetches(late).size(), 1u);
  EXPECT_FALSE(round.finished(t0 + 4999ms));
  EXPECT_EQ(round.wakeAt(t0 + 2500ms), t0 + 5s);  // nothing earlier to wake for
  EXPECT_TRUE(round.finished(t0 + 5s));
  round.takeFetches(t0 + 5s);
  ASSERT_EQ(round.hosts().size(), 1u);
  EXPECT_FALSE(round.hosts()[0].failure.empty());
  EXPECT_EQ(round.hosts()[0].address, "10.0.0.3");
}

TEST(DiscoveryRound, HostsToShow) {
  const std::vector<FoundHost> found = {
      {"urn:1", "M1", "MODERN", false, "10.0.0.1", ""},
      {"urn:2", "m1", "OTHER", false, "10.0.0.2", ""},      // a second claim to M1: kept
      {"urn:3", "DC", "CORP", true, "", ""},                // no address: shown, not reachable by it
      {"urn:4", "", "", false, "", "no answer"},            // nothing to show it by
      {"urn:5", "", "", false, "10.0.0.5", "no answer"},    // reverse name refused
      {"urn:6", "", "", false, "10.0.0.6", "no answer"},    // reverse name taken
      {"urn:7", "dc", "", false, "10.0.0.7", ""},           // fills in the address of DC
  };
  const auto shown = toDiscoveredHosts(found, [](const std::string& address) -> std::string {
    if (address == "10.0.0.5") return "evil/Workgroup:X";
    if (address == "10.0.0.6") return "six.lan";
    return "";
  });
  std::vector<std::pair<std::string, std::string>> namesAndAddresses;
  for (const DiscoveredHost& h : shown) namesAndAddresses.emplace_back(h.name, h.address);
  EXPECT_EQ(namesAndAddresses, (std::vector<std::pair<std::string, std::string>>{
                                   {"M1", "10.0.0.1"}, {"m1", "10.0.0.2"}, {"DC", "10.0.0.7"},
                                   {"10.0.0.5", "10.0.0.5"}, {"six.lan", "10.0.0.6"}}));
  EXPECT_TRUE(shown.at(2).isDomain);
  EXPECT_FALSE(shown.at(3).group.empty());
  // Both claims reach the address book, which leaves both out.
  std::vector<DiscoveredHost> admitted = shown;
  HostAddressBook book;
  EXPECT_EQ(book.admitAnnounced(admitted, {}).size(), 2u);
  EXPECT_EQ(admitted.size(), shown.size() - 2);
  EXPECT_EQ(book.lookup("M1"), std::nullopt);
}

}  // namespace
}  // namespace vuv::wsd
