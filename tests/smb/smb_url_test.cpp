// UNC paths and browse names to smb:// URLs: one percent-encoded component per name, and
// near-miss UNC paths refused.
#include <gtest/gtest.h>

#include "browse/smb_url.h"

namespace vuv {
namespace {

TEST(SmbUrl, UncPathsMapComponentByComponent) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(\\S1)", "smb://S1"},
      {R"(\\S1\Public)", "smb://S1/Public"},
      {R"(\\S1\Public\)", "smb://S1/Public"},
      {R"(\\S1\Public\deep\level1)", "smb://S1/Public/deep/level1"},
      {R"(\\s1.example\IPC$)", "smb://s1.example/IPC%24"},
      {R"(\\S1\Public\a b\c#d%e?f;g@h)", "smb://S1/Public/a%20b/c%23d%25e%3Ff%3Bg%40h"},
      {"\\\\S1\\Public\\\xC3\x9C" "bersicht.txt", "smb://S1/Public/%C3%9Cbersicht.txt"},
      {"\\\\S1\\Public\\\xE6\x97\xA5.doc", "smb://S1/Public/%E6%97%A5.doc"},
      {R"(\\S1\Public\old.zip\...x)", "smb://S1/Public/old.zip/...x"},
  };
  for (const auto& [unc, url] : cases) {
    Result<std::string> got = smbUrlFromUnc(unc);
    ASSERT_TRUE(got.ok()) << unc << ": " << describe(got.error());
    EXPECT_EQ(*got, url) << unc;
  }
}

TEST(SmbUrl, MalformedUncPathsAreRefused) {
  const char* cases[] = {
      "",          "S1\\Public",         "\\S1\\Public",    "\\\\",
      "\\\\\\x",   "\\\\S1\\\\Public",   "\\\\S1\\Public\\\\", "\\\\S1\\.",
      "\\\\S1\\Public\\..\\x", "//S1/Public",
  };
  for (const char* unc : cases) {
    Result<std::string> got = smbUrlFromUnc(unc);
    ASSERT_FALSE(got.ok()) << unc << " gave " << *got;
    EXPECT_EQ(got.error().code, ErrorCode::InvalidArgument) << unc;
  }
}

TEST(SmbUrl, NamesAndComponentsAreEncodedAndComeBackDecoded) {
  EXPECT_EQ(smbUrlForName(""), "smb://");
  EXPECT_EQ(smbUrlForName("MY GROUP/x"), "smb://MY%20GROUP%2Fx");
  Result<std::string> url = smbUrlFromUnc("\\\\S 1\\Pub%lic\\\xC3\x84rger\\x");
  ASSERT_TRUE(url.ok());
  EXPECT_EQ(smbUrlComponent(*url, 0), "S 1");
  EXPECT_EQ(smbUrlComponent(*url, 1), "Pub%lic");
  EXPECT_EQ(smbUrlComponent(*url, 2), "\xC3\x84rger");
  EXPECT_EQ(smbUrlComponent(*url, 4), "");
  EXPECT_EQ(smbUrlComponent("smb://", 0), "");
  EXPECT_EQ(smbUrlComponent("smb://A%2", 0), "A%2");  // cut short: left as it is
  EXPECT_EQ(smbUrlComponent("smb://A%zz", 0), "A%zz");
}

}  // namespace
}  // namespace vuv
