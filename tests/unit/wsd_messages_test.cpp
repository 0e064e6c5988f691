#include "wsd/wsd_messages.h"

#include <gtest/gtest.h>

#include <set>

#include "unit/wsd_test_support.h"
#include "wsd/netbios_name_query.h"
#include "wsd/xml_reader.h"

namespace vuv::wsd {
namespace {

using testing::kM1Endpoint;
using testing::replaced;
using testing::wsdData;

TEST(WsdMessages, ComputerEntries) {
  struct Case {
    std::string text;
    bool ok;
    std::string name, group;
    bool isDomain;
  };
  const Case cases[] = {
      {"M1/Workgroup:MODERN", true, "M1", "MODERN", false}, {"  DC7/Domain:CORP \n", true, "DC7", "CORP", true},
      {"pc/workgroup:home", true, "pc", "home", false},
      {"PC/DOMAIN:corp.example.com", true, "PC", "corp.example.com", true}, {"BARE", true, "BARE", "", false},
      {"M1/Workgroup:", true, "M1", "", false}, {"Über/Workgroup:Gruppe", true, "Über", "Gruppe", false},
      {"/Workgroup:A", false, "", "", false}, {"", false, "", "", false}, {"M1/Group:A", false, "", "", false},
      {"M1/Workgroup", false, "", "", false}, {"M\\1/Workgroup:A", false, "", "", false},
      {"M1/Workgroup:A\\B", false, "", "", false}, {"M1/Workgroup:A/B", false, "", "", false},
      {"M1\x01/Workgroup:A", false, "", "", false}, {std::string(255, 'N'), true, std::string(255, 'N'), "", false},
      {std::string(256, 'N'), false, "", "", false},
  };
  for (const Case& c : cases) {
    auto computer = parseComputer(c.text);
    ASSERT_EQ(computer.ok(), c.ok) << "'" << c.text << "'";
    if (!c.ok) continue;
    EXPECT_EQ(computer->name, c.name) << c.text;
    EXPECT_EQ(computer->group, c.group) << c.text;
    EXPECT_EQ(computer->isDomain, c.isDomain) << c.text;
  }
}

TEST(WsdMessages, OurMessagesReadBack) {
  const std::string id = newMessageId();
  auto probe = parseMessage(probeMessage(id));
  ASSERT_TRUE(probe.ok()) << probe.error().detail;
  EXPECT_EQ(probe->kind, MessageKind::Probe);
  EXPECT_EQ(probe->messageId, id);

  // An endpoint is the device's word: it must not be able to change our message.
  const std::string hostile = "urn:x</wsa:Address><wsa:Address>urn:evil";
  auto resolve = parseMessage(resolveMessage(id, hostile));
  ASSERT_TRUE(resolve.ok()) << resolve.error().detail;
  EXPECT_EQ(resolve->kind, MessageKind::Resolve);
  EXPECT_NE(resolveMessage(id, hostile).find("urn:x&lt;/wsa:Address&gt;"), std::string::npos);
  EXPECT_TRUE(xml::parse(getMessage(id, hostile)).ok());
}

TEST(WsdMessages, MessageIdsAreRandomVersion4) {
  std::array<std::uint8_t, 16> ones;
  ones.fill(0xFF);
  EXPECT_EQ(uuidUrn(ones), "urn:uuid:ffffffff-ffff-4fff-bfff-ffffffffffff");  // version and variant bits set
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) seen.insert(newMessageId());
  EXPECT_EQ(seen.size(), 100u);
}

TEST(WsdMessages, DamagedAndHostileMessagesAreRefused) {
  const std::string match = wsdData("probe-match-m1.xml");
  struct Case {
    const char* what;
    std::string message;
  };
  const Case cases[] = {
      {"SOAP 1.1 envelope", replaced(match, "http://www.w3.org/2003/05/soap-envelope",
                                     "http://schemas.xmlsoap.org/soap/envelope/")},
      {"body in the discovery namespace of another version",
       replaced(match, "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"",
                "xmlns:wsd=\"http://docs.oasis-open.org/ws-dd/ns/discovery/2009/01\"")},
      {"addressing namespace of another version",
       replaced(match, "http://schemas.xmlsoap.org/ws/2004/08/addressing", "http://www.w3.org/2005/08/addressing")},
      {"body of another action", replaced(match, "ProbeMatches</wsa:Action>", "Hello</wsa:Action>")},
      {"no endpoint reference", replaced(match, "wsa:EndpointReference", "wsa:Other")},
      {"empty endpoint", replaced(match, kM1Endpoint, "")},
      {"endpoint with a space", replaced(match, kM1Endpoint, "urn:a b")},
      {"endpoint too long", replaced(match, kM1Endpoint, std::string(kMaxEndpointBytes + 1, 'e'))},
      {"no body", replaced(replaced(match, "<soap:Body>", ""), "</soap:Body>", "")},
      {"document type first", "<!DOCTYPE x [<!ENTITY e \"e\">]>" + match.substr(38)},
      {"not XML at all", "\x16\x03\x01 binary"},
  };
  for (const Case& c : cases) {
    auto parsed = parseMessage(c.message);
    EXPECT_FALSE(parsed.ok()) << c.what;
  }
  // Another version throughout is no error, just nothing we take.
  auto otherVersion = parseMessage(replaced(match, "http://schemas.xmlsoap.org/ws/2005/04/discovery",
                                            "http://docs.oasis-open.org/ws-dd/ns/discovery/2009/01"));
  ASSERT_TRUE(otherVersion.ok()) << otherVersion.error().detail;
  EXPECT_EQ(otherVersion->kind, MessageKind::Other);
  EXPECT_TRUE(otherVersion->endpoints.empty());
  // Near miss: only the pub prefix is bound elsewhere, so this is a device but no computer.
  auto printer = parseMessage(replaced(match, "xmlns:pub=\"http://schemas.microsoft.com/windows/pub/2005/07\"",
                                       "xmlns:pub=\"http://example.com/printers\""));
  ASSERT_TRUE(printer.ok()) << printer.error().detail;
  EXPECT_TRUE(printer->endpoints[0].typesGiven);
  EXPECT_FALSE(printer->endpoints[0].computer);
}

// Guards against reading past the end of a message cut short anywhere.
TEST(WsdMessages, EveryTruncationIsRefused) {
  for (const char* file : {"probe-match-m1.xml", "resolve-match-m1.xml", "metadata-m1.xml"}) {
    std::string whole = wsdData(file);
    whole.erase(whole.find_last_not_of(" \r\n") + 1);  // cutting white space off the end is no damage
    ASSERT_TRUE(parseMessage(whole).ok()) << file;
    for (std::size_t size = 0; size < whole.size(); ++size) {
      EXPECT_FALSE(parseMessage(whole.substr(0, size)).ok()) << file << " cut at " << size;
    }
  }
}

TEST(WsdMessages, ManyMatchesAndAddressesAreBounded) {
  const std::string match = wsdData("resolve-match-m1.xml");
  const std::string open = "<wsd:ResolveMatch>";
  const std::size_t from = match.find(open);
  const std::size_t to = match.find("</wsd:ResolveMatch>") + 19;
  std::string many = match.substr(0, from);
  for (int i = 0; i < 100; ++i) many += replaced(match.substr(from, to - from), kM1Endpoint, "urn:e" + std::to_string(i));
  many += match.substr(to);
  auto parsed = parseMessage(many);
  ASSERT_TRUE(parsed.ok()) << parsed.error().detail;
  EXPECT_EQ(parsed->endpoints.size(), kMaxMatchesPerMessage);

  std::string addresses;
  for (int i = 0; i < 20; ++i) addresses += " http://10.0.0." + std::to_string(i + 1) + "/";
  auto capped = parseMessage(replaced(match, "http://10.213.0.31:5357/47954a0b-b3a7-31d8-8776-fe33e4988d58", addresses));
  ASSERT_TRUE(capped.ok()) << capped.error().detail;
  EXPECT_EQ(capped->endpoints[0].xaddrs.size(), kMaxXAddrsPerEndpoint);
  EXPECT_EQ(capped->endpoints[0].xaddrs.front(), "http://10.0.0.1/");
}

TEST(WsdMessages, MetadataWithoutComputerOrOfAnotherKind) {
  const std::string metadata = wsdData("metadata-m1.xml");
  auto printer = parseMetadata(replaced(replaced(metadata, "<pub:Computer>M1/Workgroup:MODERN</pub:Computer>", ""),
                                        "pub:Computer", "print:Printer"));
  ASSERT_FALSE(printer.ok());
  EXPECT_EQ(printer.error().code, ErrorCode::NotFound);
  EXPECT_FALSE(parseMetadata(replaced(metadata, "GetResponse", "Get")).ok());
  EXPECT_FALSE(parseMetadata(replaced(metadata, "M1/Workgroup:MODERN", "M1/Workgroup:MOD\\ERN")).ok());
  EXPECT_FALSE(parseMetadata(wsdData("probe-match-m1.xml")).ok());
}


// A NetBIOS answer is read only when it answers our query for our name with a usable address.
TEST(NetbiosNameQuery, AnswersAreCheckedBeforeTheyPlaceAName) {
  const std::string query = netbiosQuery("s1", 0x1234);
  ASSERT_EQ(query.size(), 50u);
  EXPECT_EQ(query, netbiosQuery("S1", 0x1234));
  for (const char* bad : {"", "sixteen-chars-xx", "s1.lab.test"}) EXPECT_EQ(netbiosQuery(bad, 1), "") << bad;

  // An answer as nmbd sends it: our id, response flags, no question, one record.
  const std::string name = query.substr(12, 34);
  const std::string head = std::string("\x12\x34\x85\x00\x00\x00\x00\x01\x00\x00\x00\x00", 12);
  const std::string record = std::string("\x00\x20\x00\x01\x00\x04\x93\xe0\x00\x06\x00\x00", 12);
  const std::string answer = head + name + record + std::string("\x0a\xd5\x00\x0b", 4);
  EXPECT_EQ(netbiosAnswer(answer, "S1", 0x1234), "10.213.0.11");

  auto with = [&](std::size_t at, char byte) { std::string a = answer; a[at] = byte; return a; };
  const std::pair<const char*, std::string> refused[] = {
      {"another id", with(1, 0x35)},           {"a query, not an answer", with(2, 0x05)},
      {"negative answer", with(3, 0x03)},      {"another name", with(14, 'F')},
      {"loopback address", with(58, 127)},     {"multicast address", with(58, static_cast<char>(224))},
      {"unspecified", with(58, 0)},            {"cut short", answer.substr(0, answer.size() - 1)},
      {"record too long", with(55, 0x0c)},     {"no record", with(7, 0)},
  };
  for (const auto& [what, packet] : refused) EXPECT_EQ(netbiosAnswer(packet, "S1", 0x1234), std::nullopt) << what;
  EXPECT_EQ(netbiosAnswer(answer, "S2", 0x1234), std::nullopt);
}

}  // namespace
}  // namespace vuv::wsd
