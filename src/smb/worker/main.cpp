// vuvuveva-smb-worker: runs libsmbclient on behalf of the program, one request at a time.
//
// Requests arrive on stdin, replies leave on stdout (the worker protocol, protocol/), and
// diagnostics go to stderr. The first message must be a Hello; the worker ends cleanly when
// stdin closes. Credentials come only through the protocol, never argv or the environment,
// and the worker dumps no core (platform/core_dumps.h).
//
// Arguments (all optional; the parent passes the user's choices to every worker):
//   --configfile FILE                 smb.conf loaded on top of the user's ($HOME/.smb/smb.conf,
//                                     else the system's); its settings win
//   --debuglevel N                    libsmbclient's debug output on stderr, N from 0 to 10
//   --spawn-server                    first, before the rest: fork workers with the rest of
//                                     the arguments on request (smb/spawn/spawn_server.h)
//   --kerberos required|desired|off   Kerberos with the ticket cache (KRB5CCNAME):
//                                     required = Kerberos only, desired = NTLM when Kerberos
//                                     fails (no ticket), off = NTLM only (the default)
//
// Browse lists go to master browsers, which answer only SMB1 (NT1); shares and files use the
// range `client min protocol` .. `client max protocol` of those smb.conf files (Samba's
// default SMB2_02 .. SMB3_11 where they say nothing).
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "base/error.h"
#include "platform/core_dumps.h"
#include "protocol/messages.h"
#include "smb/channel/message_channel.h"
#include "smb/spawn/spawn_server.h"
#include "smb/worker/authenticator.h"
#include "smb/worker/request_handler.h"
#include "smb/worker/smb_context.h"
#include "smbconf/client_protocol_range.h"

namespace {

using namespace vuv;
using namespace vuv::smb;

enum ExitCode : int {
  kExitClean = 0,      // the parent closed our stdin
  kExitChannel = 1,    // the parent went away or broke the protocol
  kExitStartup = 2,    // no usable Hello, or libsmbclient would not start
  kExitUsage = 3,      // arguments we do not understand
};

constexpr int kMaxDebugLevel = 10;
// Where Debian's libsmbclient looks for the system smb.conf (its built-in path).
constexpr const char* kSystemConfig = "/etc/samba/smb.conf";

struct WorkerArguments {
  std::string configFile;
  int debugLevel = 0;
  KerberosUse kerberos = KerberosUse::Off;
};

Result<WorkerArguments> parseArguments(int argc, char** argv) {
  WorkerArguments parsed;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) return makeError(ErrorCode::InvalidArgument, std::string(name) + " needs a value");
    const std::string_view value = argv[++i];
    if (name == "--configfile" && !value.empty()) {
      parsed.configFile = value;
    } else if (name == "--debuglevel") {
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed.debugLevel);
      if (ec != std::errc() || end != value.data() + value.size() || parsed.debugLevel < 0 ||
          parsed.debugLevel > kMaxDebugLevel) {
        return makeError(ErrorCode::InvalidArgument, "--debuglevel takes 0 to 10");
      }
    } else if (name == "--kerberos" && value == "required") {
      parsed.kerberos = KerberosUse::Required;
    } else if (name == "--kerberos" && value == "desired") {
      parsed.kerberos = KerberosUse::Desired;
    } else if (name == "--kerberos" && value == "off") {
      parsed.kerberos = KerberosUse::Off;
    } else {
      return makeError(ErrorCode::InvalidArgument,
                       "not an argument we take: " + std::string(name) + " " + std::string(value));
    }
  }
  return parsed;
}

// smbclient's default user: the login name. With a ticket the principal counts, not this.
std::string loginName() {
  if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') return user;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr) return entry->pw_name;
  return "guest";
}

void report(const char* what, const Error& error) {
  std::fprintf(stderr, "vuvuveva-smb-worker: %s: %s\n", what, describe(error).c_str());
}

// Moves the protocol off fd 1, and points fd 1 at stderr: nothing the library may print can
// then corrupt the stream.
int protectProtocolOutput() {
  const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (out >= 0) ::dup2(STDERR_FILENO, STDOUT_FILENO);
  return out;
}

int serve(MessageChannel& channel, protocol::Hello& hello, const WorkerArguments& arguments) {
  Authenticator authenticator(hello.credentials, arguments.kerberos, loginName());
  hello.credentials = {};  // the authenticator's copy is the only one left
  const char* home = std::getenv("HOME");
  const ProtocolRange fileRange = clientProtocolRange(
      clientConfigFiles(home != nullptr ? home : "", kSystemConfig, arguments.configFile, readWholeFile),
      readWholeFile);

  ContextSettings settings;
  settings.timeoutMs = static_cast<int>(hello.timeoutMs);
  settings.debugLevel = arguments.debugLevel;
  settings.kerberos = arguments.kerberos;
  settings.configFile = arguments.configFile;
  ContextSettings browseSettings = settings;
  browseSettings.minProtocol = browseSettings.maxProtocol = "NT1";
  ContextSettings fileSettings = settings;
  fileSettings.minProtocol = fileRange.min;
  fileSettings.maxProtocol = fileRange.max;

  auto browse = SmbContext::create(browseSettings, authenticator);
  auto files = SmbContext::create(fileSettings, authenticator);
  if (!browse || !files) {
    report("starting libsmbclient", browse ? files.error() : browse.error());
    return kExitStartup;
  }
  RequestHandler handler(channel, authenticator, *browse, *files,
                         {allowsSmb1(fileRange), arguments.kerberos == KerberosUse::Required,
                          std::chrono::milliseconds(hello.timeoutMs)});

  while (true) {
    auto message = channel.receive();
    if (!message) {
      report("reading a request", message.error());
      return kExitChannel;
    }
    // Leaves without logging off: a polite goodbye costs each connection a round trip or two,
    // which the program waits out when it ends, and a closed connection tells a server the same.
    if (!message->has_value()) std::_Exit(kExitClean);
    const auto* request = std::get_if<protocol::Request>(&**message);
    if (request == nullptr) {
      report("reading a request", makeError(ErrorCode::Protocol, "not a request"));
      return kExitChannel;
    }
    if (Status served = handler.serve(*request); !served) {
      report("answering a request", served.error());
      return kExitChannel;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (const int error = vuv::forbidCoreDumps(); error != 0) {
    report("turning core dumps off", makeError(ErrorCode::Other, {}, error));
    return kExitStartup;
  }
  vuv::smb::useLightEventLoops();
  // Run as the spawn server, this returns in each worker it forks.
  vuv::smb::serveSpawnsIfAsked(argc, argv);
  const auto arguments = parseArguments(argc, argv);
  if (!arguments) {
    report("reading the arguments", arguments.error());
    return kExitUsage;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a vanished parent shows as EPIPE, handled like EOF
  const int out = protectProtocolOutput();
  if (out < 0) return kExitStartup;
  MessageChannel channel(STDIN_FILENO, out);

  auto first = channel.receive();
  if (!first) {
    report("reading the hello", first.error());
    return kExitStartup;
  }
  if (!first->has_value()) return kExitClean;
  auto* hello = std::get_if<protocol::Hello>(&**first);
  if (hello == nullptr || hello->version != protocol::kProtocolVersion) {
    report("reading the hello", makeError(ErrorCode::Protocol, "no hello of our version"));
    return kExitStartup;
  }
  return serve(channel, *hello, *arguments);
}
