#include "smbconf/client_protocol_range.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vuv {
namespace {

// Files in memory; a missing name reads as "cannot be opened".
struct Files {
  std::map<std::string, std::string> contents;
  ConfigReader reader() const {
    return [this](const std::string& path) -> std::optional<std::string> {
      const auto it = contents.find(path);
      if (it == contents.end()) return std::nullopt;
      return it->second;
    };
  }
};

ProtocolRange rangeOf(const std::string& text, std::map<std::string, std::string> more = {}) {
  Files files{std::move(more)};
  files.contents["/main.conf"] = text;
  return clientProtocolRange({"/main.conf"}, files.reader());
}

TEST(ClientProtocolRange, ReadsWhatSambaReadsAndIgnoresNearMisses) {
  struct Case {
    const char* text;
    const char* min;
    const char* max;
  };
  const Case cases[] = {
      {"", "SMB2_02", "SMB3_11"},
      {"[global]\nclient min protocol = NT1\n", "NT1", "SMB3_11"},
      {"[global]\n  Client Min Protocol=nt1\n  client max protocol = smb3\n", "NT1", "SMB3"},
      {"[global]\nclientminprotocol = NT1\n", "NT1", "SMB3_11"},  // spaces do not count
      {"client min protocol = NT1\n", "NT1", "SMB3_11"},          // before any section: global
      {"[GLOBAL]\nclient min protocol = NT1\n", "NT1", "SMB3_11"},
      {"[global]\r\nclient min protocol = NT1\r\n", "NT1", "SMB3_11"},
      {"[global]\nclient min \\\n  protocol = NT1\n", "NT1", "SMB3_11"},  // continued line
      {"[global]\nclient min protocol = NT1\nclient min protocol = default\n", "SMB2_02", "SMB3_11"},
      // near misses
      {"[global]\n# client min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"[global]\n; client min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"[share]\nclient min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"[global]\nclient_min_protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"[global]\nclient min protocol = NT2\n", "SMB2_02", "SMB3_11"},  // rejected, default kept
      {"[global]\nclient ipc min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"[global]\nclient min protocol NT1\n", "SMB2_02", "SMB3_11"},
      {"[global]\nclient min protocol = NT1 \\\n", "NT1", "SMB3_11"},  // continuation at the end
  };
  for (const Case& c : cases) {
    const ProtocolRange range = rangeOf(c.text);
    EXPECT_EQ(range.min, c.min) << c.text;
    EXPECT_EQ(range.max, c.max) << c.text;
  }
}

TEST(ClientProtocolRange, FollowsIncludesButNotLoopsMacrosOrMissingFiles) {
  struct Case {
    const char* what;
    const char* main;
    const char* other;  // the file /inc.conf
    const char* min;
    const char* max;
  };
  const Case cases[] = {
      {"include", "[global]\ninclude = /inc.conf\n", "client min protocol = NT1\n", "NT1", "SMB3_11"},
      {"a later line wins", "[global]\ninclude = /inc.conf\nclient min protocol = SMB3\n", "client min protocol = NT1\n",
       "SMB3", "SMB3_11"},
      {"the include's section ends the global part", "[global]\ninclude = /inc.conf\n",
       "[data]\nclient min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      {"missing include", "[global]\ninclude = /missing.conf\nclient max protocol = SMB2\n", "", "SMB2_02", "SMB2"},
      {"macros are not expanded", "[global]\ninclude = /%U.conf\n", "client min protocol = NT1\n", "SMB2_02", "SMB3_11"},
      // Guards against endless recursion on a file that includes itself.
      {"self include", "[global]\ninclude = /main.conf\nclient min protocol = NT1\n", "", "NT1", "SMB3_11"},
      // `config file` starts over with the named file; the rest of this one is not read.
      {"config file", "[global]\nclient max protocol = SMB2\nconfig file = /inc.conf\nclient min protocol = LANMAN2\n",
       "client min protocol = NT1\n", "NT1", "SMB3_11"},
  };
  for (const Case& c : cases) {
    const ProtocolRange range = rangeOf(c.main, {{"/inc.conf", c.other}, {"/%U.conf", c.other}});
    EXPECT_EQ(range.min, c.min) << c.what;
    EXPECT_EQ(range.max, c.max) << c.what;
  }
}

TEST(ClientProtocolRange, LoadsTheFilesLibsmbclientLoadsInItsOrder) {
  Files files;
  files.contents["/etc/smb.conf"] = "client min protocol = NT1\n";
  files.contents["/home/u/.smb/smb.conf.append"] = "client max protocol = SMB2\n";
  const auto withoutUserFile = clientConfigFiles("/home/u", "/etc/smb.conf", "", files.reader());
  EXPECT_EQ(withoutUserFile,
            (std::vector<std::string>{"/etc/smb.conf", "/home/u/.smb/smb.conf.append"}));
  const ProtocolRange systemAndAppend = clientProtocolRange(withoutUserFile, files.reader());
  EXPECT_EQ(systemAndAppend.min, "NT1");
  EXPECT_EQ(systemAndAppend.max, "SMB2");

  // The user's own file replaces the system's and the append file.
  files.contents["/home/u/.smb/smb.conf"] = "client max protocol = SMB3_02\n";
  const auto withUserFile = clientConfigFiles("/home/u", "/etc/smb.conf", "/given.conf", files.reader());
  EXPECT_EQ(withUserFile, (std::vector<std::string>{"/home/u/.smb/smb.conf", "/given.conf"}));
  files.contents["/given.conf"] = "client min protocol = NT1\n";
  const ProtocolRange userAndGiven = clientProtocolRange(withUserFile, files.reader());
  EXPECT_EQ(userAndGiven.min, "NT1");
  EXPECT_EQ(userAndGiven.max, "SMB3_02");

  EXPECT_EQ(clientConfigFiles("", "/etc/smb.conf", "", files.reader()),
            (std::vector<std::string>{"/etc/smb.conf"}));
}

TEST(ClientProtocolRange, AllowsSmb1OnlyWhenNt1LiesInTheRange) {
  struct Case {
    const char* min;
    const char* max;
    bool allows;
  };
  const Case cases[] = {{"LANMAN2", "SMB3", true}, {"NT1", "NT1", true}, {"SMB2_02", "SMB3_11", false},
                        {"LANMAN1", "LANMAN2", false}, {"bogus", "SMB3", false}};
  for (const Case& c : cases) EXPECT_EQ(allowsSmb1({c.min, c.max}), c.allows) << c.min << ".." << c.max;
}

}  // namespace
}  // namespace vuv
