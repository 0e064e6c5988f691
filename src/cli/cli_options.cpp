#include "cli/cli_options.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "cli/credential_options.h"

namespace vuv::cli {

namespace {

Error usage(std::string message) { return makeError(ErrorCode::InvalidArgument, std::move(message)); }

// Walks the arguments, splitting "--name=value" and handing out option values.
class ArgumentCursor {
 public:
  explicit ArgumentCursor(const std::vector<std::string>& args) : args_(args) {}

  bool done() const { return index_ >= args_.size(); }

  // The next argument's option name (before any '='), or the argument itself.
  std::string next() {
    pendingValue_.reset();
    std::string arg = args_[index_++];
    if (arg.rfind("--", 0) == 0) {
      if (const auto equals = arg.find('='); equals != std::string::npos) {
        pendingValue_ = arg.substr(equals + 1);
        arg.resize(equals);
      }
    }
    return arg;
  }

  Result<std::string> value(const std::string& option) {
    if (pendingValue_) {
      std::string v = std::move(*pendingValue_);
      pendingValue_.reset();
      return v;
    }
    if (done()) return usage(option + " needs a value");
    return args_[index_++];
  }

  bool hasInlineValue() const { return pendingValue_.has_value(); }

 private:
  const std::vector<std::string>& args_;
  std::size_t index_ = 0;
  std::optional<std::string> pendingValue_;
};

Result<double> parseSeconds(const std::string& text) {
  double seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) || seconds <= 0 ||
      seconds > kMaxTimeoutSeconds) {
    return usage("--timeout takes a number of seconds above 0 and at most " +
                 std::to_string(static_cast<int>(kMaxTimeoutSeconds)));
  }
  return seconds;
}

Result<int> parseJobs(const std::string& text) {
  int jobs = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (ec != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMaxJobs) {
    return usage("--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs));
  }
  return jobs;
}

Result<Command> parseCommand(const std::string& word) {
  if (word == "discover") return Command::Discover;
  if (word == "tree") return Command::Tree;
  if (word == "search") return Command::Search;
  if (word == "help" || word == "--help" || word == "-h") return Command::Help;
  if (word == "--version" || word == "version") return Command::Version;
  return usage("unknown command '" + word + "' (try --help)");
}

// Options every network command takes. Returns nullopt when `name` is not one of them.
std::optional<Status> parseConnectionOption(const std::string& name, ArgumentCursor& cursor,
                                            ConnectionOptions& connection) {
  if (name == "-U" || name == "--user") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    const UserArgument user = parseUserArgument(*value);
    connection.credentials = user.credentials;
    connection.userGiven = true;
    connection.passwordGiven = user.hasPassword;
    return success();
  }
  if (name == "-A" || name == "--authentication-file") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    connection.authenticationFile = *value;
    return success();
  }
  if (name == "-N" || name == "--no-pass") {
    connection.noPassword = true;
    return success();
  }
  if (name == "--timeout") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    auto seconds = parseSeconds(*value);
    if (!seconds) return Status(seconds.error());
    connection.timeoutSeconds = *seconds;
    return success();
  }
  if (name == "-s" || name == "--configfile") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    connection.configFile = *value;
    return success();
  }
  if (name == "-d" || name == "--debuglevel") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    int level = -1;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), level);
    if (ec != std::errc() || end != value->data() + value->size() || level < 0 || level > 10) {
      return Status(usage("-d takes a debug level from 0 to 10"));
    }
    connection.debugLevel = level;
    return success();
  }
  if (name == "-k") {
    connection.kerberos = ConnectionOptions::Kerberos::Required;
    return success();
  }
  if (name == "--use-kerberos") {
    auto given = cursor.value(name);
    if (!given) return Status(given.error());
    const std::string& value = *given;
    if (value == "required") {
      connection.kerberos = ConnectionOptions::Kerberos::Required;
    } else if (value == "desired") {
      connection.kerberos = ConnectionOptions::Kerberos::Desired;
    } else if (value == "off") {
      connection.kerberos = ConnectionOptions::Kerberos::Off;
    } else {
      return Status(usage("--use-kerberos takes required, desired or off"));
    }
    return success();
  }
  if (name == "--jobs" || name == "-j") {
    auto value = cursor.value(name);
    if (!value) return Status(value.error());
    auto jobs = parseJobs(*value);
    if (!jobs) return Status(jobs.error());
    connection.jobs = *jobs;
    return success();
  }
  return std::nullopt;
}

Result<TreeFormat> parseTreeFormat(const std::string& text) {
  if (text == "tree") return TreeFormat::Tree;
  if (text == "brk") return TreeFormat::Brk;
  return usage("--format takes tree or brk");
}

Result<SearchFormat> parseSearchFormat(const std::string& text) {
  if (text == "text") return SearchFormat::Text;
  if (text == "csv") return SearchFormat::Csv;
  if (text == "json") return SearchFormat::Json;
  return usage("--format takes text, csv or json");
}

Result<DiscoverySource> parseSource(const std::string& text) {
  if (text == "all") return DiscoverySource::All;
  if (text == "netbios") return DiscoverySource::NetBios;
  if (text == "wsd") return DiscoverySource::WsDiscovery;
  return usage("--source takes netbios, wsd or all");
}

// One option of one command; the caller has handled the connection options.
Status parseCommandOption(const std::string& name, ArgumentCursor& cursor, Invocation& invocation) {
  const Command command = invocation.command;
  auto take = [&](auto parse, auto& target) -> Status {
    auto value = cursor.value(name);
    if (!value) return value.error();
    auto parsed = parse(*value);
    if (!parsed) return parsed.error();
    target = *parsed;
    return success();
  };
  const auto asIs = [](const std::string& text) -> Result<std::string> { return text; };

  if (name == "--format") {
    if (command == Command::Search) return take(parseSearchFormat, invocation.searchFormat);
    return take(parseTreeFormat, invocation.treeFormat);
  }
  if (command == Command::Discover) {
    if (name == "--add-workgroup") {
      std::string workgroup;
      if (auto s = take(asIs, workgroup); !s) return s;
      if (workgroup.empty()) return usage("--add-workgroup needs a name");
      invocation.addWorkgroups.push_back(workgroup);
      return success();
    }
    if (name == "--save") return take(asIs, invocation.saveFile);
  }
  if ((command == Command::Discover || command == Command::Search) && name == "--source") {
    return take(parseSource, invocation.source);
  }
  if (command == Command::Search) {
    if (name == "--location") return take(asIs, invocation.location);
    if (name == "--pattern") {
      invocation.patternGiven = true;
      return take(asIs, invocation.pattern);
    }
    if (name == "--tree") return take(asIs, invocation.treeFile);
  }
  if (!name.empty() && name.front() == '-') return usage("unknown option '" + name + "' (try --help)");
  if (command == Command::Tree && invocation.treeFile.empty()) {
    invocation.treeFile = name;
    return success();
  }
  return usage("unexpected argument '" + name + "' (try --help)");
}

}  // namespace

Result<Invocation> parseArguments(const std::vector<std::string>& args) {
  Invocation invocation;
  if (args.empty()) return usage("no command given (try --help)");
  auto command = parseCommand(args.front());
  if (!command) return command.error();
  invocation.command = *command;
  if (invocation.command == Command::Help || invocation.command == Command::Version) return invocation;

  const std::vector<std::string> rest(args.begin() + 1, args.end());
  ArgumentCursor cursor(rest);
  while (!cursor.done()) {
    const std::string name = cursor.next();
    if (name == "--help" || name == "-h") {
      invocation.command = Command::Help;
      return invocation;
    }
    if (invocation.command != Command::Tree) {
      if (auto handled = parseConnectionOption(name, cursor, invocation.connection)) {
        if (!*handled) return handled->error();
        continue;
      }
    }
    if (auto status = parseCommandOption(name, cursor, invocation); !status) return status.error();
  }

  if (invocation.command == Command::Tree && invocation.treeFile.empty()) {
    return usage("tree needs a FILE");
  }
  if (invocation.command == Command::Search) {
    if (invocation.location.empty()) return usage("search needs --location");
    if (!invocation.patternGiven) return usage("search needs --pattern");
  }
  return invocation;
}

std::string usageText() {
  return R"(Usage:
  vuvuveva-cli discover [--add-workgroup NAME]... [--save FILE] [--format tree|brk]
                        [--source netbios|wsd|all] [CONNECTION OPTIONS]
  vuvuveva-cli tree FILE [--format tree|brk]
  vuvuveva-cli search --location LOC --pattern PAT [--tree FILE]
                      [--format text|csv|json] [--source netbios|wsd|all]
                      [CONNECTION OPTIONS]
  vuvuveva-cli --help | --version

discover   Finds the workgroups and domains of the network, their servers and each
           server's shares, then adds each --add-workgroup NAME, and prints the tree.
           --format brk prints a network tree file (the same as --save writes).
           --source: netbios = the browse lists (SMB1 master browsers), wsd = hosts
           that announce themselves by WS-Discovery, all (default) = both merged.
tree       Loads a network tree file and prints it.
search     Finds files and folders whose names match PAT (wildcards * and ?, letter case
           ignored; "*.*" matches every name) below LOC: a node path of the network tree
           ("MS Windows Network\ALPHA\S1", from --tree FILE or a fresh discovery) or a
           network path (\\SERVER, \\SERVER\SHARE, \\SERVER\SHARE\FOLDER). Unless
           --source is netbios, WS-Discovery first finds the addresses of servers that
           have no NetBIOS name.

Connection options:
  -U, --user [DOMAIN\]USER[%PASSWORD]   log on as USER (anonymous/guest otherwise)
  -A, --authentication-file FILE        read username, password, domain from FILE
  -N, --no-pass                         never ask for a password
  --timeout SECONDS                     give up on a silent server after SECONDS (default 5)
  -j, --jobs N                          SMB worker processes at most (default 16)
  -s, --configfile FILE                 smb.conf read on top of the user's
  -d, --debuglevel LEVEL                libsmbclient's debug output (0-10) on standard error
  -k, --use-kerberos=required|desired|off
                                        Kerberos with the ticket cache (KRB5CCNAME); -k: required

Standard output carries only the result; progress and diagnostics go to standard error.
Client settings come from $HOME/.smb/smb.conf, then the system's smb.conf.

Exit codes:
  0    success
  1    search completed and found nothing
  2    usage error
  3    a file could not be read, parsed or written
  4    network access could not start, or the location is unknown
  130  interrupted (Ctrl+C)
)";
}

}  // namespace vuv::cli
