// The command line: what the user asked for, parsed into a plain request. Parsing only; the
// commands themselves live in their own files.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"
#include "browse/credentials.h"

namespace vuv::cli {

enum class Command { Help, Version, Discover, Tree, Search };
enum class TreeFormat { Tree, Brk };
enum class SearchFormat { Text, Csv, Json };
enum class DiscoverySource { All, NetBios, WsDiscovery };

inline constexpr double kDefaultTimeoutSeconds = 5.0;
inline constexpr double kMaxTimeoutSeconds = 3600.0;
inline constexpr int kDefaultJobs = 16;
inline constexpr int kMaxJobs = 64;

struct ConnectionOptions {
  Credentials credentials;
  bool userGiven = false;      // -U or -A
  bool passwordGiven = false;  // -U USER%PASS, or a password in the -A file
  bool noPassword = false;     // -N
  std::string authenticationFile;
  double timeoutSeconds = kDefaultTimeoutSeconds;
  int jobs = kDefaultJobs;     // SMB worker processes at most
  std::string configFile;      // -s: smb.conf on top of the user's; empty: none
  int debugLevel = -1;         // -d: libsmbclient's debug level; -1: quiet
  enum class Kerberos { Off, Desired, Required } kerberos = Kerberos::Off;
};

struct Invocation {
  Command command = Command::Help;
  ConnectionOptions connection;
  TreeFormat treeFormat = TreeFormat::Tree;

  // discover
  std::vector<std::string> addWorkgroups;
  std::string saveFile;

  // discover, search: where servers are found
  DiscoverySource source = DiscoverySource::All;

  // tree FILE, and search --tree FILE
  std::string treeFile;

  // search
  std::string location;
  std::string pattern;
  bool patternGiven = false;
  SearchFormat searchFormat = SearchFormat::Text;
};

// `args` excludes the program name. Errors are InvalidArgument with a message for the user.
Result<Invocation> parseArguments(const std::vector<std::string>& args);

std::string usageText();

}  // namespace vuv::cli
