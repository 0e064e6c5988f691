// The command line: what the user asked for, parsed into a plain request. Parsing only; the
// commands themselves live in their own files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "browse/credentials.h"

namespace vuv::cli {

enum class Command { Help, Version, Discover, Tree, Search, Copy, Index };
enum class TreeFormat { Tree, Brk };
enum class SearchFormat { Text, Csv, Json };
enum class DiscoverySource { All, NetBios, WsDiscovery };

inline constexpr double kDefaultTimeoutSeconds = 5.0;
inline constexpr double kMaxTimeoutSeconds = 3600.0;
inline constexpr int kDefaultJobs = 32;
inline constexpr int kMaxJobs = 64;
inline constexpr int kMaxDebugLevel = 10;

struct ConnectionOptions {
  Credentials credentials;     // from -U and --password; the -A file is read later
  bool userGiven = false;      // -U
  bool passwordGiven = false;  // -U USER%PASS or --password, even if empty
  bool noPassword = false;     // -N: never ask, and log on without a password
  std::string authenticationFile;
  std::string workgroup;       // -W: the domain of a user who names none
  std::string configFile;      // -s: smb.conf read on top of the user's; empty: none
  int debugLevel = -1;         // -d: libsmbclient's debug output on standard error; -1 none
  using Kerberos = KerberosUse;
  Kerberos kerberos = Kerberos::Off;  // -k, --use-kerberos
  double timeoutSeconds = kDefaultTimeoutSeconds;
  int jobs = kDefaultJobs;     // SMB worker processes at most
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

  // search, index: the index of names
  std::string indexFile;    // --index-file; empty: the user's own
  bool fromIndex = false;   // search --from-index: no network
  bool noIndex = false;     // search --no-index: record nothing
  bool clearIndex = false;  // index --clear [LOC]

  // copy
  std::string copySource;       // \\SERVER\SHARE\PATH
  std::string copyDestination;  // a local folder
  bool replace = false;
};

// Short options of the network commands, for code that must read the arguments as the parser
// does (flags may be grouped: -NUjoe%pw).
inline constexpr std::string_view kShortFlags = "h?VNk";

// `args` excludes the program name. Errors are InvalidArgument with a message for the user.
Result<Invocation> parseArguments(const std::vector<std::string>& args);

std::string usageText();

}  // namespace vuv::cli
