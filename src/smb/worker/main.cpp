// vuvuveva-smb-worker: runs libsmbclient on behalf of the program, one request at a time.
//
// Requests arrive on stdin, replies leave on stdout (the worker protocol, protocol/), and
// diagnostics go to stderr. The first message must be a Hello; the worker ends cleanly when
// stdin closes. Credentials come only through the protocol, never argv or the environment.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <variant>

#include "base/error.h"
#include "protocol/messages.h"
#include "smb/channel/message_channel.h"
#include "smb/worker/authenticator.h"
#include "smb/worker/request_handler.h"
#include "smb/worker/smb_context.h"

namespace {

using namespace vuv;
using namespace vuv::smb;

enum ExitCode : int {
  kExitClean = 0,      // the parent closed our stdin
  kExitChannel = 1,    // the parent went away or broke the protocol
  kExitStartup = 2,    // no usable Hello, or libsmbclient would not start
};

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

int serve(MessageChannel& channel, const protocol::Hello& hello) {
  Authenticator authenticator(hello.credentials);
  const int timeoutMs = static_cast<int>(hello.timeoutMs);
  // Browse lists come from master browsers, which answer only SMB1 (NT1).
  auto browse = SmbContext::create({"NT1", "NT1", timeoutMs}, authenticator);
  auto files = SmbContext::create({"SMB2_02", "SMB3", timeoutMs}, authenticator);
  if (!browse || !files) {
    report("starting libsmbclient", browse ? files.error() : browse.error());
    return kExitStartup;
  }
  RequestHandler handler(channel, authenticator, *browse, *files);

  while (true) {
    auto message = channel.receive();
    if (!message) {
      report("reading a request", message.error());
      return kExitChannel;
    }
    if (!message->has_value()) return kExitClean;
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

int main() {
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
  const auto* hello = std::get_if<protocol::Hello>(&**first);
  if (hello == nullptr || hello->version != protocol::kProtocolVersion) {
    report("reading the hello", makeError(ErrorCode::Protocol, "no hello of our version"));
    return kExitStartup;
  }
  return serve(channel, *hello);
}
