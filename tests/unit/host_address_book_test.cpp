#include "browse/host_address_book.h"

#include <gtest/gtest.h>

#include <thread>
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

TEST(HostAddressBook, ManyThreadsAtOnce) {
  HostAddressBook book;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&book, t] {
      for (int i = 0; i < 500; ++i) {
        book.set("H" + std::to_string(i % 50), "10.0." + std::to_string(t) + "." + std::to_string(i % 250 + 1));
        (void)book.lookup("h" + std::to_string(i % 50));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(book.size(), 50u);
}

TEST(SmbUrlWithAddresses, KnownServersAreReachedAtTheirAddress) {
  HostAddressBook book;
  book.set("M1", "10.213.0.31");
  EXPECT_EQ(smbUrlForServer("M1", &book), "smb://10.213.0.31");
  EXPECT_EQ(smbUrlForServer("m1", &book), "smb://10.213.0.31");
  EXPECT_EQ(smbUrlForServer("S1", &book), "smb://S1");
  EXPECT_EQ(smbUrlForServer("M1", nullptr), "smb://M1");
  EXPECT_EQ(smbUrlForServer("", &book), "smb://");

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
