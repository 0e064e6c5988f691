#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "cli/argument_wipe.h"
#include "cli/credential_options.h"

namespace vuv::cli {

namespace {

Error usage(std::string message) { return makeError(ErrorCode::InvalidArgument, std::move(message)); }

// Option values as typed. CLI11 splits the arguments; the values are checked afterwards, so that
// every message about a value is ours. Passwords are not among them: CLI11 never sees one.
struct Typed {
  bool help = false;
  bool version = false;
  std::string user;
  std::string password;
  bool kerberosFlag = false;
  std::string kerberos;
  std::string debugLevel;
  std::string timeout;
  std::string jobs;
  std::string format;
  std::string source;
};

// Options that can be given once: the last one counts, as in the usual SMB tools.
CLI::Option* single(CLI::Option* option) { return option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast); }

void addHelpAndVersion(CLI::App& app, Typed& typed) {
  app.set_help_flag();
  app.add_flag("-h,-?,--help", typed.help);
  app.add_flag("-V,--version", typed.version);
}

void addConnectionOptions(CLI::App& command, Invocation& invocation, Typed& typed) {
  ConnectionOptions& connection = invocation.connection;
  single(command.add_option("-U,--user", typed.user));
  single(command.add_option("--password", typed.password));
  single(command.add_option("-A,--authentication-file", connection.authenticationFile));
  command.add_flag("-N,--no-pass", connection.noPassword);
  single(command.add_option("-W,--workgroup", connection.workgroup));
  single(command.add_option("-s,--configfile", connection.configFile));
  single(command.add_option("-d,--debuglevel", typed.debugLevel));
  command.add_flag("-k,--kerberos", typed.kerberosFlag);
  single(command.add_option("--use-kerberos", typed.kerberos));
  single(command.add_option("-t,--timeout", typed.timeout));
  single(command.add_option("-j,--jobs", typed.jobs));
  single(command.add_option("--source", typed.source));
}

template <typename Number>
bool parseWhole(const std::string& text, Number& number) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  return ec == std::errc() && end == text.data() + text.size();
}

Result<double> parseSeconds(const std::string& text) {
  double seconds = 0;
  // Below a millisecond every request would time out at once.
  if (!parseWhole(text, seconds) || !std::isfinite(seconds) || seconds < 0.001 || seconds > kMaxTimeoutSeconds) {
    return usage("--timeout takes a number of seconds from 0.001 to " +
                 std::to_string(static_cast<int>(kMaxTimeoutSeconds)));
  }
  return seconds;
}

Result<int> parseJobs(const std::string& text) {
  int jobs = 0;
  if (!parseWhole(text, jobs) || jobs < 1 || jobs > kMaxJobs) {
    return usage("--jobs takes a whole number from 1 to " + std::to_string(kMaxJobs));
  }
  return jobs;
}

Result<int> parseDebugLevel(const std::string& text) {
  int level = 0;
  if (!parseWhole(text, level) || level < 0 || level > kMaxDebugLevel) {
    return usage("--debuglevel takes a whole number from 0 to " + std::to_string(kMaxDebugLevel));
  }
  return level;
}

Result<ConnectionOptions::Kerberos> parseKerberos(const std::string& text) {
  using Kerberos = ConnectionOptions::Kerberos;
  if (text == "required") return Kerberos::Required;
  if (text == "desired") return Kerberos::Desired;
  if (text == "off") return Kerberos::Off;
  return usage("--use-kerberos takes required, desired or off");
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

// Checks `typed` (when `option` was given) and stores the result in `target`.
template <typename Parse, typename Target>
Status take(const CLI::App& command, const char* option, const std::string& typed, Parse parse, Target& target) {
  if (command.count(option) == 0) return success();
  auto parsed = parse(typed);
  if (!parsed) return parsed.error();
  target = *parsed;
  return success();
}

Status checkConnectionOptions(const CLI::App& command, Invocation& invocation, const Typed& typed,
                              const ArgumentPasswords& passwords) {
  ConnectionOptions& connection = invocation.connection;
  if (command.count("--user") > 0) {
    const UserArgument user = parseUserArgument(typed.user);  // "USER%" when it had a password
    connection.credentials = user.credentials;
    if (user.hasPassword) connection.credentials.password = passwords.user;
    connection.userGiven = true;
    connection.passwordGiven = user.hasPassword;
  }
  if (command.count("--password") > 0) {
    assignSecret(connection.credentials.password, passwords.password);
    connection.passwordGiven = true;
  }
  if (typed.kerberosFlag) connection.kerberos = ConnectionOptions::Kerberos::Required;
  if (auto s = take(command, "--use-kerberos", typed.kerberos, parseKerberos, connection.kerberos); !s) return s;
  if (auto s = take(command, "--debuglevel", typed.debugLevel, parseDebugLevel, connection.debugLevel); !s) return s;
  if (auto s = take(command, "--timeout", typed.timeout, parseSeconds, connection.timeoutSeconds); !s) return s;
  if (auto s = take(command, "--jobs", typed.jobs, parseJobs, connection.jobs); !s) return s;
  return take(command, "--source", typed.source, parseSource, invocation.source);
}

// Values that name a file or a place. An empty one (an unset shell variable) is refused: taken
// as "not given" it would mean the user's own index, the whole index, or a guest log-on.
Status refuseEmptyValues(const CLI::App& command) {
  for (const char* name : {"--save", "--tree", "--index-file", "--authentication-file", "--configfile", "LOC"}) {
    const CLI::Option* option = command.get_option_no_throw(name);
    if (option != nullptr && option->count() > 0 && option->as<std::string>().empty()) {
      return usage(std::string(name) + " needs a value");
    }
  }
  return success();
}

// CLI11 reads "--name=" as a missing value; here it is an empty one, as in "--name ''".
// Reversed, as CLI11's parse() takes them.
std::vector<std::string> forParser(const std::vector<std::string>& args) {
  std::vector<std::string> reversed;
  bool options = true;
  for (const std::string& arg : args) {
    if (arg == "--") options = false;
    if (options && arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.find('=') == arg.size() - 1) {
      reversed.push_back(arg.substr(0, arg.size() - 1));
      reversed.emplace_back();
    } else {
      reversed.push_back(arg);
    }
  }
  std::reverse(reversed.begin(), reversed.end());
  return reversed;
}

bool isCommandWord(const std::string& word) {
  static const std::string kWords[] = {"discover", "tree", "search", "copy", "index", "help", "version"};
  return std::find(std::begin(kWords), std::end(kWords), word) != std::end(kWords);
}

}  // namespace

Result<Invocation> parseArguments(const std::vector<std::string>& args) {
  if (args.empty()) return usage("no command given (try --help)");
  if (args.front().empty() || (args.front().front() != '-' && !isCommandWord(args.front()))) {
    return usage("unknown command '" + args.front() + "' (try --help)");
  }

  // CLI11 copies what it reads and frees the copies without overwriting them: it gets the
  // arguments without their passwords.
  std::vector<std::string> withoutPasswords = args;
  const ArgumentPasswords passwords = takePasswordArguments(withoutPasswords);
  Invocation invocation;
  Typed typed;
  CLI::App app("vuvuveva-cli", "vuvuveva-cli");
  addHelpAndVersion(app, typed);
  app.require_subcommand(0, 1);

  CLI::App* discover = app.add_subcommand("discover");
  addHelpAndVersion(*discover, typed);
  addConnectionOptions(*discover, invocation, typed);
  discover->add_option("--add-workgroup", invocation.addWorkgroups);
  single(discover->add_option("--save", invocation.saveFile));
  single(discover->add_option("--format", typed.format));

  CLI::App* tree = app.add_subcommand("tree");
  addHelpAndVersion(*tree, typed);
  tree->add_option("FILE", invocation.treeFile);
  single(tree->add_option("--format", typed.format));

  CLI::App* search = app.add_subcommand("search");
  addHelpAndVersion(*search, typed);
  addConnectionOptions(*search, invocation, typed);
  single(search->add_option("--location", invocation.location));
  single(search->add_option("--pattern", invocation.pattern));
  single(search->add_option("--tree", invocation.treeFile));
  single(search->add_option("--format", typed.format));
  search->add_flag("--from-index", invocation.fromIndex);
  search->add_flag("--no-index", invocation.noIndex);
  single(search->add_option("--index-file", invocation.indexFile));

  CLI::App* index = app.add_subcommand("index");
  addHelpAndVersion(*index, typed);
  addConnectionOptions(*index, invocation, typed);
  index->add_option("LOC", invocation.location);
  single(index->add_option("--tree", invocation.treeFile));
  single(index->add_option("--index-file", invocation.indexFile));
  index->add_flag("--clear", invocation.clearIndex);

  CLI::App* copy = app.add_subcommand("copy");
  addHelpAndVersion(*copy, typed);
  addConnectionOptions(*copy, invocation, typed);
  copy->add_option("SOURCE", invocation.copySource);
  copy->add_option("DEST_FOLDER", invocation.copyDestination);
  copy->add_flag("--replace", invocation.replace);

  CLI::App* help = app.add_subcommand("help");
  CLI::App* version = app.add_subcommand("version");

  try {
    app.parse(forParser(withoutPasswords));
  } catch (const CLI::ArgumentMismatch& e) {
    // "--user: 1 required TEXT missing" says less than it could.
    const std::string message = e.what();
    const auto colon = message.find(": ");
    if (colon != std::string::npos && message.find(" required ", colon) != std::string::npos) {
      return usage(message.substr(0, colon) + " needs a value (try --help)");
    }
    return usage(message + " (try --help)");
  } catch (const CLI::ParseError& e) {
    return usage(std::string(e.what()) + " (try --help)");
  }

  if (typed.help || help->parsed()) {
    invocation.command = Command::Help;
    return invocation;
  }
  if (typed.version || version->parsed()) {
    invocation.command = Command::Version;
    return invocation;
  }

  for (const CLI::App* command : {discover, search, index, copy}) {
    if (command->parsed()) {
      if (auto s = refuseEmptyValues(*command); !s) return s.error();
    }
  }
  if (discover->parsed()) {
    invocation.command = Command::Discover;
    if (auto s = checkConnectionOptions(*discover, invocation, typed, passwords); !s) return s.error();
    if (std::any_of(invocation.addWorkgroups.begin(), invocation.addWorkgroups.end(),
                    [](const std::string& name) { return name.empty(); })) {
      return usage("--add-workgroup needs a name");
    }
    if (auto s = take(*discover, "--format", typed.format, parseTreeFormat, invocation.treeFormat); !s) {
      return s.error();
    }
  } else if (tree->parsed()) {
    invocation.command = Command::Tree;
    if (invocation.treeFile.empty()) return usage("tree needs a FILE");
    if (auto s = take(*tree, "--format", typed.format, parseTreeFormat, invocation.treeFormat); !s) return s.error();
  } else if (search->parsed()) {
    invocation.command = Command::Search;
    if (auto s = checkConnectionOptions(*search, invocation, typed, passwords); !s) return s.error();
    if (auto s = take(*search, "--format", typed.format, parseSearchFormat, invocation.searchFormat); !s) {
      return s.error();
    }
    invocation.patternGiven = search->count("--pattern") > 0;
    if (invocation.location.empty()) return usage("search needs --location");
    if (!invocation.patternGiven) return usage("search needs --pattern");
    if (invocation.fromIndex && invocation.noIndex) return usage("--from-index and --no-index exclude each other");
  } else if (index->parsed()) {
    invocation.command = Command::Index;
    if (auto s = checkConnectionOptions(*index, invocation, typed, passwords); !s) return s.error();
    if (invocation.location.empty() && !invocation.clearIndex) return usage("index needs a location");
  } else if (copy->parsed()) {
    invocation.command = Command::Copy;
    if (auto s = checkConnectionOptions(*copy, invocation, typed, passwords); !s) return s.error();
    if (invocation.copySource.empty() || invocation.copyDestination.empty()) {
      return usage("copy needs a network path and a destination folder");
    }
    if (invocation.copySource.rfind("\\\\", 0) != 0) {
      return usage("copy takes a network path (\\\\SERVER\\SHARE\\PATH), not '" + invocation.copySource + "'");
    }
  } else {
    return usage("no command given (try --help)");
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
                      [--from-index | --no-index] [--index-file FILE]
                      [CONNECTION OPTIONS]
  vuvuveva-cli index LOC [--tree FILE] [--index-file FILE] [--source netbios|wsd|all]
                     [CONNECTION OPTIONS]
  vuvuveva-cli index --clear [LOC] [--index-file FILE]
  vuvuveva-cli copy [--replace] [CONNECTION OPTIONS] \\SERVER\SHARE\PATH DEST_FOLDER
  vuvuveva-cli -h|--help | -V|--version

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
           have no NetBIOS name. Every folder the search lists goes into the index of
           names (--no-index: nothing does); --from-index answers from the index alone,
           without the network (a node path then needs --tree FILE).
index      Lists every folder below LOC (as search takes it) and records what it holds
           in the index of names, with progress on a terminal and a summary.
           --clear forgets what the index knows below LOC, or everything without LOC.
           The index is $XDG_CACHE_HOME/vuvuveva/index.sqlite (~/.cache/... when that
           is unset); --index-file FILE uses another.
copy       Copies the file or folder (with everything below it) at the network path
           into the local folder DEST_FOLDER, under its own name, and prints the copy's
           local path. The copy is written under a hidden temporary name and renamed
           into place when complete: a failure or Ctrl+C leaves nothing behind. An
           existing file or folder of that name stays, and the copy fails, unless
           --replace is given. Progress goes to standard error on a terminal.

Values may follow their option (-U joe, --user joe, --user=joe) or be attached to a
short one (-Ujoe, -j8). After --, every argument is a file name, even one that starts
with a dash. When an option is given twice, the last one counts.

Connection options:
  -U, --user [DOMAIN\]USER[%PASSWORD]   log on as USER (anonymous/guest otherwise);
                                        DOMAIN/USER works too
  -A, --authentication-file FILE        read username, password, domain from FILE
                                        (lines "key = value", keys in any letter case)
  --password PASSWORD                   the password for -U USER
  -N, --no-pass                         never ask for a password, and log on without one
  -W, --workgroup WORKGROUP             the domain of a user who names none
  -k, --kerberos                        the same as --use-kerberos=required
  --use-kerberos required|desired|off   log on with the Kerberos ticket of KRB5CCNAME:
                                        only (required), if there is one (desired)
  -s, --configfile FILE                 read this smb.conf instead of the usual ones
  -d, --debuglevel LEVEL                SMB library debug output on standard error, 0-10
  -t, --timeout SECONDS                 give up on a silent server after SECONDS (default 5)
  -j, --jobs N                          SMB worker processes at most (default 32)

Passwords: a password on the command line is wiped from the process list once read,
but other users may see it before that. Prefer -A FILE (readable only by you), or the
prompt: a user without a password gets it from the environment (PASSWD, PASSWD_FD: an
open descriptor, PASSWD_FILE: a file holding only the password), else Vuvuveva asks
for it on the terminal.

Standard output carries only the result; progress and diagnostics go to standard error.
Client settings come from $HOME/.smb/smb.conf, then the system's smb.conf.

Exit codes:
  0    success
  1    search completed and found nothing
  2    usage error
  3    a file could not be read, parsed or written
  4    network access could not start, the location is unknown or could not be
       listed at all, or a copy could not read from the network
  5    copy: a file or folder of that name is already in the destination folder
  130  interrupted (Ctrl+C)
)";
}

}  // namespace vuv::cli
