#include "browse/host_address_book.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "browse/smb_url.h"

namespace vuv {
namespace {

TEST(HostAddressBook, NamesIgnoreCaseAndAddressesMustBeIpv4) {
  HostAddressBook book;
  EXPECT_TRUE(book.set("M1", "10.213.0.31"));
  EXPECT_EQ(book.lookup("m1"), "10.213.0.31");
  EXPECT_TRUE(book.set("\xC3\x84RGER", "10.0.0.1"));  // ÄRGER
  EXPECT_EQ(book.lookup("\xC3\xA4rger"), "10.0.0.1");
  EXPECT_EQ(book.lookup("M2"), std::nullopt);

  EXPECT_TRUE(book.set("m1", "10.213.0.99"));  // a newer answer replaces the older
  EXPECT_EQ(book.lookup("M1"), "10.213.0.99");
  EXPECT_EQ(book.size(), 2u);

  for (const char* bad : {"", "m1.example", "10.0.0.256", "10.0.0", "fe80::1", "10.0.0.1/24", " 10.0.0.1"}) {
    EXPECT_FALSE(book.set("X", bad)) << bad;
  }
  EXPECT_FALSE(book.set("", "10.0.0.1"));
  EXPECT_EQ(book.size(), 2u);
  book.clear();
  EXPECT_EQ(book.lookup("M1"), std::nullopt);
}

// The hosts file, DNS and NetBIOS as a table; counts the names asked.
class TableResolver final : public NameResolver {
 public:
  std::map<std::string, ResolvedName> known;
  int asked = 0;
  std::map<std::string, ResolvedName> resolve(const std::vector<std::string>& names, std::stop_token) override {
    std::map<std::string, ResolvedName> found;
    for (const std::string& name : names) {
      ++asked;
      if (auto it = known.find(name); it != known.end()) found.emplace(name, it->second);
    }
    return found;
  }
};

TEST(HostAddressBook, AnnouncementsServeOnlyNamesNothingElsePlaces) {
  struct Case {
    const char* what;
    std::vector<DiscoveredHost> announced;
    std::vector<std::string> admitted;  // names left in the round
    std::map<std::string, std::string> book;
    std::size_t notes;
  };
  const DiscoveredHost real{"S1", "ALPHA", false, "10.0.0.11"};
  const DiscoveredHost impostor{"s1", "ALPHA", false, "10.0.0.33"};
  const DiscoveredHost modern{"M1", "MODERN", false, "10.0.0.31"};
  const DiscoveredHost twin{"M1", "MODERN", false, "10.0.0.32"};
  const DiscoveredHost nameless{"10.0.0.40", "WORKGROUP", false, "10.0.0.40"};
  const Case cases[] = {
      {"only announced", {modern, nameless}, {"M1", "10.0.0.40"}, {{"M1", "10.0.0.31"}}, 0},
      {"announced where it resolves", {real}, {"S1"}, {{"S1", "10.0.0.11"}}, 0},
      {"impostor", {impostor, modern}, {"M1"}, {{"S1", "10.0.0.11"}, {"M1", "10.0.0.31"}}, 1},
      {"two claim one name", {modern, twin}, {}, {{"M1", ""}}, 2},
  };
  for (const Case& c : cases) {
    TableResolver resolver;
    resolver.known["S1"] = ResolvedName{"10.0.0.11", false};
    resolver.known["s1"] = resolver.known["S1"];
    HostAddressBook book(&resolver);
    std::vector<DiscoveredHost> hosts = c.announced;
    EXPECT_EQ(book.admitAnnounced(hosts, {}).size(), c.notes) << c.what;
    std::vector<std::string> left;
    for (const DiscoveredHost& host : hosts) left.push_back(host.name);
    EXPECT_EQ(left, c.admitted) << c.what;
    for (const auto& [name, address] : c.book) {
      EXPECT_EQ(book.lookup(name).value_or(""), address) << c.what << ": " << name;
      if (!address.empty()) continue;
      book.forgetUnknown();  // a search in a later run still learns why
      EXPECT_NE(reason(book.hostFor(name, {}).error()).find("more than one host claims"), std::string::npos);
    }
  }
}

TEST(HostAddressBook, EachNameIsLookedUpOncePerRun) {
  TableResolver resolver;
  resolver.known["dns"] = ResolvedName{"10.0.0.1", true};
  resolver.known["NB"] = ResolvedName{"10.0.0.2", false};
  for (const bool kerberos : {false, true}) {
    resolver.asked = 0;
    resolver.known.erase("gone");
    HostAddressBook book(&resolver, kerberos);
    EXPECT_EQ(*book.hostFor("dns", {}), kerberos ? "dns" : "10.0.0.1");  // tickets are for names
    EXPECT_EQ(*book.hostFor("DNS", {}), kerberos ? "DNS" : "10.0.0.1");
    EXPECT_EQ(*book.hostFor("NB", {}), "10.0.0.2");
    EXPECT_EQ(*book.hostFor("10.0.0.9", {}), "10.0.0.9");
    for (int i = 0; i < 2; ++i) EXPECT_EQ(book.hostFor("gone", {}).error().code, ErrorCode::UnknownHost);
    EXPECT_EQ(resolver.asked, 3);
    EXPECT_FALSE(book.set("nb", "10.0.0.99"));  // an announcement never replaces a lookup
    EXPECT_EQ(book.lookup("NB"), "10.0.0.2");
    book.forgetUnknown();
    resolver.known["gone"] = ResolvedName{"10.0.0.3", false};
    EXPECT_EQ(*book.hostFor("gone", {}), "10.0.0.3");
  }
}

TEST(SmbUrlWithAddresses, KnownServersAreReachedAtTheirAddress) {
  HostAddressBook book;
  book.set("M1", "10.213.0.31");
  EXPECT_EQ(*smbUrlForServer("M1", &book), "smb://10.213.0.31");
  EXPECT_EQ(*smbUrlForServer("S1", &book), "smb://S1");  // no resolver: the worker looks it up
  EXPECT_EQ(*smbUrlForServer("M1", nullptr), "smb://M1");
  EXPECT_EQ(*smbUrlForServer("", &book), "smb://");

  struct Case {
    const char* unc;
    const char* url;
  };
  const Case cases[] = {
      {R"(\\M1)", "smb://10.213.0.31"},
      {R"(\\m1\Media)", "smb://10.213.0.31/Media"},
      {R"(\\M1\Media\a b\M1)", "smb://10.213.0.31/Media/a%20b/M1"},  // only the server is replaced
      {R"(\\S1\M1)", "smb://S1/M1"},
      {R"(\\M1x\Media)", "smb://M1x/Media"},
  };
  for (const Case& c : cases) {
    auto url = smbUrlFromUnc(c.unc, &book);
    ASSERT_TRUE(url.ok()) << c.unc;
    EXPECT_EQ(*url, c.url) << c.unc;
  }
  EXPECT_FALSE(smbUrlFromUnc(R"(\\M1\\Media)", &book).ok());  // still checked as before
  EXPECT_EQ(*smbUrlFromUnc(R"(\\M1\Media)", nullptr), "smb://M1/Media");
}

}  // namespace
}  // namespace vuv
