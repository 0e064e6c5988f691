// --source: which sources discovery and search use.
#include <gtest/gtest.h>

#include "cli/cli_options.h"

namespace vuv::cli {
namespace {

TEST(CliSourceOption, DiscoverAndSearchTakeIt) {
  struct Case {
    std::vector<std::string> args;
    DiscoverySource source;
  };
  const Case cases[] = {
      {{"discover"}, DiscoverySource::All},
      {{"discover", "--source", "netbios"}, DiscoverySource::NetBios},
      {{"discover", "--source=wsd"}, DiscoverySource::WsDiscovery},
      {{"discover", "--source", "all"}, DiscoverySource::All},
      {{"search", "--location", "\\\\M1\\Media", "--pattern", "*"}, DiscoverySource::All},
      {{"search", "--location", "\\\\M1\\Media", "--pattern", "*", "--source", "netbios"}, DiscoverySource::NetBios},
  };
  for (const Case& c : cases) {
    auto parsed = parseArguments(c.args);
    ASSERT_TRUE(parsed.ok()) << parsed.error().detail;
    EXPECT_EQ(parsed->source, c.source);
  }
}

TEST(CliSourceOption, RefusesOtherValuesAndTheTreeCommand) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"discover", "--source", "NetBIOS"},
           {"discover", "--source", "both"},
           {"discover", "--source"},
           {"discover", "--source="},
           {"tree", "t.brk", "--source", "wsd"}}) {
    auto parsed = parseArguments(args);
    ASSERT_FALSE(parsed.ok()) << args.back();
    EXPECT_EQ(parsed.error().code, ErrorCode::InvalidArgument);
  }
  EXPECT_NE(usageText().find("--source netbios|wsd|all"), std::string::npos);
}

}  // namespace
}  // namespace vuv::cli
