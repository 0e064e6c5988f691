#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <functional>

namespace vuv::cli {
namespace {

using Args = std::vector<std::string>;
using Kerberos = ConnectionOptions::Kerberos;

std::string joined(const Args& args) {
  std::string line;
  for (const auto& a : args) line += a + ' ';
  return line;
}

TEST(CliOptions, DiscoverAndSearchRequests) {
  auto discover = parseArguments({"discover", "--add-workgroup", "A", "--add-workgroup=B", "--format", "brk",
                                  "--save", "t.brk", "-U", "DOM\\joe%secret"});
  ASSERT_TRUE(discover.ok()) << discover.error().detail;
  EXPECT_EQ(discover->command, Command::Discover);
  EXPECT_EQ(discover->addWorkgroups, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(discover->treeFormat, TreeFormat::Brk);
  EXPECT_EQ(discover->saveFile, "t.brk");
  EXPECT_EQ(discover->connection.credentials.domain, "DOM");
  EXPECT_EQ(discover->connection.credentials.user, "joe");
  EXPECT_EQ(discover->connection.credentials.password, "secret");
  EXPECT_TRUE(discover->connection.passwordGiven);

  auto search = parseArguments({"search", "--location", "\\\\S1\\Public", "--pattern", "", "--format=json"});
  ASSERT_TRUE(search.ok()) << search.error().detail;
  EXPECT_EQ(search->location, "\\\\S1\\Public");
  EXPECT_EQ(search->searchFormat, SearchFormat::Json);
}

// The spellings the parser handles itself (attached values, clusters, "--x=", "--"), one row
// per option otherwise: short and long names come from the same table.
TEST(CliOptions, OptionSpellings) {
  struct Case {
    Args args;
    std::function<bool(const Invocation&)> holds;
  };
  const auto& c = [](const Invocation& i) -> const ConnectionOptions& { return i.connection; };
  const Case cases[] = {
      {{"discover", "-Ujoe%secret"}, [&](auto& i) { return c(i).credentials.password == "secret"; }},
      {{"discover", "--user=DOM/joe"}, [&](auto& i) { return c(i).credentials.domain == "DOM" && !c(i).passwordGiven; }},
      {{"discover", "-NUjoe"}, [&](auto& i) { return c(i).noPassword && c(i).credentials.user == "joe"; }},
      {{"discover", "-U", "ann%a", "-U", "bob"},  // the last wins, with its password or none
       [&](auto& i) { return c(i).credentials.user == "bob" && c(i).credentials.password.empty() && !c(i).passwordGiven; }},
      {{"discover", "-Uann%a", "--user=bob%b%c"}, [&](auto& i) { return c(i).credentials.password == "b%c"; }},
      {{"discover", "-U", "joe", "--password", "p w"}, [&](auto& i) { return c(i).credentials.password == "p w"; }},
      {{"discover", "--password="}, [&](auto& i) { return c(i).passwordGiven && c(i).credentials.password.empty(); }},
      {{"discover", "--authentication-file=a b"}, [&](auto& i) { return c(i).authenticationFile == "a b"; }},
      {{"discover", "--jobs=64"}, [&](auto& i) { return c(i).jobs == 64; }},
      {{"discover", "-t", "0.5"}, [&](auto& i) { return c(i).timeoutSeconds == 0.5; }},
      {{"discover", "-WOFFICE"}, [&](auto& i) { return c(i).workgroup == "OFFICE"; }},
      {{"discover", "--configfile=my.conf"}, [&](auto& i) { return c(i).configFile == "my.conf"; }},
      {{"discover"},
       [&](auto& i) { return c(i).debugLevel == -1 && c(i).kerberos == Kerberos::Off && i.source == DiscoverySource::All; }},
      {{"discover", "--source=wsd"}, [](auto& i) { return i.source == DiscoverySource::WsDiscovery; }},
      {{"search", "--location=\\\\S", "--pattern=*", "--source", "netbios"},
       [](auto& i) { return i.source == DiscoverySource::NetBios; }},
      {{"discover", "--debuglevel", "10"}, [&](auto& i) { return c(i).debugLevel == 10; }},
      {{"discover", "-k"}, [&](auto& i) { return c(i).kerberos == Kerberos::Required; }},
      {{"discover", "--use-kerberos=desired"}, [&](auto& i) { return c(i).kerberos == Kerberos::Desired; }},
      {{"discover", "-k", "--use-kerberos", "off"}, [&](auto& i) { return c(i).kerberos == Kerberos::Off; }},
      {{"search", "--location=\\\\S", "--pattern=*", "-kNj2"},
       [&](auto& i) { return c(i).kerberos == Kerberos::Required && c(i).noPassword && c(i).jobs == 2; }},
      {{"search", "--location", "\\\\S", "--pattern", "-x*"},
       [](auto& i) { return i.pattern == "-x*" && i.source == DiscoverySource::All; }},
      {{"search", "--location=\\\\S", "--pattern="}, [](auto& i) { return i.patternGiven && i.pattern.empty(); }},
      {{"tree", "--", "--x="}, [](auto& i) { return i.treeFile == "--x="; }},  // no "=" rewriting after --
      {{"tree", "--format=brk", "t.brk"}, [](auto& i) { return i.treeFormat == TreeFormat::Brk; }},
      {{"--version"}, [](auto& i) { return i.command == Command::Version; }},
      {{"discover", "-V"}, [](auto& i) { return i.command == Command::Version; }},
      {{"version"}, [](auto& i) { return i.command == Command::Version; }},
      {{"discover", "-?"}, [](auto& i) { return i.command == Command::Help; }},
      {{"help"}, [](auto& i) { return i.command == Command::Help; }},
      {{"search", "--help"}, [](auto& i) { return i.command == Command::Help; }},  // no --location needed
      {{"copy", "-N", "\\\\S\\share\\a b.txt", "--replace", "/tmp/to"},
       [&](auto& i) {
         return i.command == Command::Copy && i.copySource == "\\\\S\\share\\a b.txt" &&
                i.copyDestination == "/tmp/to" && i.replace && c(i).noPassword;
       }},
      {{"copy", "\\\\S\\share", "--", "-dest"}, [](auto& i) { return i.copyDestination == "-dest" && !i.replace; }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(joined(test.args));
    auto parsed = parseArguments(test.args);
    ASSERT_TRUE(parsed.ok()) << parsed.error().detail;
    EXPECT_TRUE(test.holds(*parsed));
  }
}

TEST(CliOptions, RefusesWhatItCannotUse) {
  struct Case {
    Args args;
    const char* message;  // part of the message
  };
  const Case refused[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--frobnicate"}, "--frobnicate"},
      {{"discover", "--format", "xml"}, "--format takes tree or brk"},
      {{"discover", "--timeout", "0.0004"}, "--timeout takes"},  // 0 ms: every request would time out
      {{"discover", "--timeout", "nan"}, "--timeout takes"},
      {{"discover", "-t5s"}, "--timeout takes"},
      {{"discover", "--jobs", "0"}, "--jobs takes"},
      {{"discover", "-j", "100000"}, "--jobs takes"},
      {{"discover", "-d11"}, "--debuglevel takes"},
      {{"discover", "-d", "-1"}, "--debuglevel takes"},
      {{"discover", "--use-kerberos=Required"}, "--use-kerberos takes"},
      {{"discover", "-k", "required"}, "required"},  // -k takes no value
      {{"discover", "-U"}, "--user needs a value"},
      {{"discover", "--source", "NetBIOS"}, "--source"},
      {{"discover", "--add-workgroup"}, "--add-workgroup"},
      {{"discover", "--add-workgroup="}, "--add-workgroup needs a name"},
      {{"discover", "--save="}, "--save needs a value"},
      {{"index", "--clear", ""}, "LOC needs a value"},
      {{"index", "\\\\S", "--index-file", ""}, "--index-file needs a value"},
      {{"search", "--location=\\\\S", "--pattern=*", "--tree="}, "--tree needs a value"},
      {{"search", "--location=\\\\S", "--pattern=*", "-A", ""}, "--authentication-file needs a value"},
      {{"copy", "-s", "", "\\\\S\\share\\a", "/tmp"}, "--configfile needs a value"},
      {{"discover", "--pattern", "x"}, "--pattern"},  // a search option
      {{"discover", "stray"}, "stray"},
      {{"discover", "--", "-U", "joe"}, "-U"},  // after --, nothing is an option
      {{"-U", "joe", "discover"}, "-U"},        // connection options follow the command
      {{"tree"}, "tree needs a FILE"},
      {{"tree", "a.brk", "-U", "joe"}, "-U"},  // no network, no credentials
      {{"search", "--pattern", "*"}, "search needs --location"},
      {{"search", "--location", "\\\\S"}, "search needs --pattern"},
      {{"search", "--location", "\\\\S", "--pattern", "*", "--format", "brk"}, "--format takes text, csv or json"},
      {{"copy", "\\\\S\\share\\a.txt"}, "copy needs a network path and a destination folder"},
      {{"copy", "a.txt", "/tmp"}, "copy takes a network path"},
      {{"copy", "\\\\S\\share\\a.txt", "/tmp", "/var"}, "/var"},
  };
  for (const Case& test : refused) {
    SCOPED_TRACE(joined(test.args));
    auto parsed = parseArguments(test.args);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().code, ErrorCode::InvalidArgument);
    EXPECT_NE(parsed.error().detail.find(test.message), std::string::npos) << parsed.error().detail;
  }
}

}  // namespace
}  // namespace vuv::cli
