#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include "cli/credential_options.h"

namespace vuv::cli {
namespace {

using Args = std::vector<std::string>;

TEST(CliOptions, DiscoverAndSearchRequests) {
  auto discover = parseArguments({"discover", "--add-workgroup", "A", "--add-workgroup=B", "--format", "brk",
                                  "--save", "t.brk", "-U", "DOM\\joe%secret", "--timeout", "2.5", "-j", "3"});
  ASSERT_TRUE(discover.ok()) << discover.error().detail;
  EXPECT_EQ(discover->command, Command::Discover);
  EXPECT_EQ(discover->addWorkgroups, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(discover->treeFormat, TreeFormat::Brk);
  EXPECT_EQ(discover->saveFile, "t.brk");
  EXPECT_EQ(discover->connection.credentials.domain, "DOM");
  EXPECT_EQ(discover->connection.credentials.user, "joe");
  EXPECT_EQ(discover->connection.credentials.password, "secret");
  EXPECT_TRUE(discover->connection.passwordGiven);
  EXPECT_DOUBLE_EQ(discover->connection.timeoutSeconds, 2.5);
  EXPECT_EQ(discover->connection.jobs, 3);

  auto search = parseArguments({"search", "--location", "\\\\S1\\Public", "--pattern", "", "--format=json"});
  ASSERT_TRUE(search.ok()) << search.error().detail;
  EXPECT_EQ(search->location, "\\\\S1\\Public");
  EXPECT_TRUE(search->patternGiven);  // an empty pattern is a pattern
  EXPECT_EQ(search->searchFormat, SearchFormat::Json);

  auto tree = parseArguments({"tree", "file.brk"});
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ(tree->treeFile, "file.brk");
}

TEST(CliOptions, RefusesWhatItCannotUse) {
  const Args refused[] = {
      {},
      {"frobnicate"},
      {"discover", "--format", "xml"},
      {"discover", "--timeout", "0"},
      {"discover", "--timeout", "nan"},
      {"discover", "--timeout", "5s"},
      {"discover", "--jobs", "0"},
      {"discover", "--jobs", "100000"},
      {"discover", "--add-workgroup"},
      {"discover", "--add-workgroup="},
      {"discover", "--pattern", "x"},  // a search option
      {"discover", "stray"},
      {"tree"},
      {"tree", "a.brk", "b.brk"},
      {"tree", "a.brk", "-U", "joe"},  // no network, no credentials
      {"search", "--pattern", "*"},
      {"search", "--location", "\\\\S"},
      {"search", "--location", "\\\\S", "--pattern", "*", "--format", "brk"},
  };
  for (const Args& args : refused) {
    std::string line;
    for (const auto& a : args) line += a + ' ';
    SCOPED_TRACE(line);
    auto parsed = parseArguments(args);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().code, ErrorCode::InvalidArgument);
    EXPECT_FALSE(parsed.error().detail.empty());
  }
}

TEST(CliOptions, UserArgumentForms) {
  struct Case {
    const char* text;
    const char* domain;
    const char* user;
    const char* password;
    bool hasPassword;
  };
  const Case cases[] = {
      {"joe", "", "joe", "", false},
      {"joe%", "", "joe", "", true},
      {"joe%p%ss", "", "joe", "p%ss", true},  // only the first % separates
      {"DOM\\joe%pw", "DOM", "joe", "pw", true},
      {"DOM/joe", "DOM", "joe", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const UserArgument user = parseUserArgument(c.text);
    EXPECT_EQ(user.credentials.domain, c.domain);
    EXPECT_EQ(user.credentials.user, c.user);
    EXPECT_EQ(user.credentials.password, c.password);
    EXPECT_EQ(user.hasPassword, c.hasPassword);
  }
}

TEST(CliOptions, AuthenticationFile) {
  auto parsed = parseAuthenticationText("# comment\nusername = OFFICE\\anna\r\npassword =  s3 cret \n\n; x\n");
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed->domain, "OFFICE");
  EXPECT_EQ(parsed->user, "anna");
  EXPECT_EQ(parsed->password, "s3 cret");

  auto explicitDomain = parseAuthenticationText("domain = WG\nusername = bob\n");
  ASSERT_TRUE(explicitDomain.ok());
  EXPECT_EQ(explicitDomain->domain, "WG");

  auto broken = parseAuthenticationText("username anna\n");
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.error().detail, "line 1: expected key = value");
}

}  // namespace
}  // namespace vuv::cli
