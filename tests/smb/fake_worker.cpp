// A stand-in for vuvuveva-smb-worker that speaks the worker protocol without any network, so
// the pool's handling of slow, hung, crashing and asking workers can be tested.
//
// What it does is chosen by the last path component of the request's URL (percent-decoded):
//   pid          one entry named after its process id
//   hello        two entries: "domain|user|password|timeoutMs" from its Hello, and its
//                command-line arguments joined by "|"
//   list:N       N entries e0..eN-1 (even ones folders, odd ones files of i*1000 bytes)
//   slow:N:MS    N one-entry batches, MS milliseconds apart
//   hold:MS      waits MS milliseconds, then answers like pid
//   busy:MS      spins until it has used MS milliseconds of processor time, then answers like pid
//   data:N       the file's size N, then N bytes (byte i is i % 251) in chunks
//   unsized:N    N bytes like data:N, without telling the size first
//   fail:E       Done with status E
//   empty        Done with openedNothing
//   auth         asks its parent for credentials for the URL's server and share FAKESHARE;
//                answers "user=DOMAIN\user:password" or EACCES
//   authother    asks like auth, but about another server (OTHER), as when sent on elsewhere
//   authpw:P     asks like auth, but fails with EACCES unless the password is P
//   authagain:P  like authpw:P, but asks again (at most three times) while refused, as a real
//                worker does
//   crash        sends one batch, then dies by SIGKILL
//   crashmid     sends half of a batch's frame, then dies by SIGKILL
//   crashonce:T  the first time in the test run (per T), dies by SIGKILL before it answers;
//                then three entries
//   hang         sends one batch, then nothing more
//   deaf         answers like pid, then ignores the end of its input (must be killed)
//   garbage      sends a frame header announcing 4 GiB
//   wrongid      finishes a request of another id
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <variant>

#include "browse/smb_url.h"
#include "protocol/messages.h"
#include "platform/core_dumps.h"
#include "smb/channel/message_channel.h"
#include "smb/spawn/spawn_server.h"

namespace {

using namespace vuv;
using namespace vuv::protocol;

std::string command(const std::string& url) {
  std::size_t last = 0;
  while (!smbUrlComponent(url, last + 1).empty()) ++last;
  return smbUrlComponent(url, last);
}

// The n-th ':'-separated argument of a command, as a number.
long argument(const std::string& cmd, int n) {
  std::size_t at = 0;
  for (int i = 0; i < n; ++i) at = cmd.find(':', at) + 1;
  return std::stol(cmd.substr(at));
}

void sleepMs(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool g_deaf = false;
std::string g_arguments;

void serve(smb::MessageChannel& channel, const Hello& hello, const Request& request) {
  const std::string cmd = command(request.target);
  const std::uint32_t id = request.id;
  auto done = [&](int status = 0, bool openedNothing = false) {
    (void)channel.send(Done{id, status, openedNothing, "fake " + cmd});
  };
  auto one = [&](std::string name) { (void)channel.send(EntriesBatch{id, {Entry{EntryKind::File, std::move(name)}}}); };

  if (cmd == "pid" || cmd.starts_with("hold:") || cmd.starts_with("busy:") || cmd == "deaf") {
    if (cmd.starts_with("hold:")) sleepMs(argument(cmd, 1));
    for (timespec used{}; cmd.starts_with("busy:") && ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used) == 0 &&
                          used.tv_sec * 1000 + used.tv_nsec / 1000000 < argument(cmd, 1);) {
    }
    g_deaf = cmd == "deaf";
    one(std::to_string(::getpid()));
    done();
  } else if (cmd == "hello") {
    const Credentials& c = hello.credentials;
    one(c.domain + "|" + c.user + "|" + c.password + "|" + std::to_string(hello.timeoutMs));
    one(g_arguments);
    done();
  } else if (cmd.starts_with("list:")) {
    const long n = argument(cmd, 1);
    EntriesBatch batch{id, {}};
    for (long i = 0; i < n; ++i) {
      const bool folder = i % 2 == 0;
      batch.entries.push_back(Entry{folder ? EntryKind::Folder : EntryKind::File,
                                    "e" + std::to_string(i),
                                    folder ? 0 : static_cast<std::uint64_t>(i) * 1000,
                                    1700000000 + i, static_cast<std::uint64_t>(i) + 1});
      if (batch.entries.size() == 100 || i + 1 == n) {
        (void)channel.send(batch);
        batch.entries.clear();
      }
    }
    done();
  } else if (cmd.starts_with("slow:")) {
    for (long i = 0; i < argument(cmd, 1); ++i) {
      sleepMs(argument(cmd, 2));
      one("s" + std::to_string(i));
    }
    done();
  } else if (cmd.starts_with("data:") || cmd.starts_with("unsized:")) {
    const long n = argument(cmd, 1);
    if (cmd.starts_with("data:")) {
      (void)channel.send(EntriesBatch{id, {Entry{EntryKind::File, "", static_cast<std::uint64_t>(n), 1700000000, 7}}});
    }
    std::string bytes;
    for (long i = 0; i < n; ++i) {
      bytes += static_cast<char>(i % 251);
      if (bytes.size() == 1000 || i + 1 == n) {
        (void)channel.send(DataChunk{id, bytes});
        bytes.clear();
      }
    }
    done();
  } else if (cmd.starts_with("fail:") || cmd == "empty") {
    done(cmd == "empty" ? 0 : static_cast<int>(argument(cmd, 1)), cmd == "empty");
  } else if (cmd == "auth" || cmd == "authother" || cmd.starts_with("authpw:") || cmd.starts_with("authagain:")) {
    const std::string server = cmd == "authother" ? "OTHER" : smbUrlComponent(request.target, 0);
    const bool again = cmd.starts_with("authagain:");
    const std::string password = cmd.substr(cmd.find(':') + 1);
    for (int asked = 1;; ++asked) {
      (void)channel.send(AuthRequest{id, server, "FAKESHARE"});
      auto reply = channel.receive();
      const auto* auth = reply && reply->has_value() ? std::get_if<AuthReply>(&**reply) : nullptr;
      if (auth == nullptr || auth->id != id) ::_exit(3);
      if (!auth->credentials) return done(EACCES);
      const Credentials& c = *auth->credentials;
      if (cmd.find(':') != std::string::npos && c.password != password) {
        if (again && asked < 3) continue;
        return done(EACCES);
      }
      one("user=" + c.domain + "\\" + c.user + ":" + c.password);
      return done();
    }
  } else if (cmd == "hang") {
    one("hanging");
    while (true) ::pause();
  } else if (cmd == "crash" || cmd.starts_with("crashonce:")) {
    // The marker's name carries the test process's pid, so every test run starts afresh.
    const bool once = cmd != "crash";
    const std::string marker = "/tmp/vuv-fake-crashonce-" + std::to_string(::getppid()) + "-" + cmd.substr(once ? 10 : 0);
    const int fd = once ? ::open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600) : -1;
    if (!once || fd >= 0) {
      if (fd >= 0) ::close(fd);
      if (!once) one("before the crash");
      ::kill(::getpid(), SIGKILL);
    }
    for (int i = 0; i < 3; ++i) one("e" + std::to_string(i));
    done();
  } else if (cmd == "crashmid") {
    const auto frame = encodeFrame(EntriesBatch{id, {Entry{EntryKind::File, "cut short"}}});
    (void)!::write(STDOUT_FILENO, frame->data(), frame->size() / 2);
    ::kill(::getpid(), SIGKILL);
  } else if (cmd == "garbage") {
    const char header[] = {'\xff', '\xff', '\xff', '\xff'};
    (void)!::write(STDOUT_FILENO, header, sizeof header);
  } else if (cmd == "wrongid") {
    (void)channel.send(Done{id + 1, 0, false, "not yours"});
  } else {
    done(ENOENT);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (forbidCoreDumps() != 0) return 2;  // as the real worker does
  smb::serveSpawnsIfAsked(argc, argv);
  for (int i = 1; i < argc; ++i) g_arguments += (i > 1 ? "|" : "") + std::string(argv[i]);
  ::signal(SIGPIPE, SIG_IGN);
  smb::MessageChannel channel(STDIN_FILENO, STDOUT_FILENO);
  auto first = channel.receive();
  const auto* hello = first && first->has_value() ? std::get_if<Hello>(&**first) : nullptr;
  if (hello == nullptr) return 2;
  const Hello kept = *hello;
  for (auto message = channel.receive(); message && message->has_value(); message = channel.receive()) {
    const auto* request = std::get_if<Request>(&**message);
    if (request == nullptr) return 1;
    serve(channel, kept, *request);
  }
  while (g_deaf) ::pause();
  return 0;
}
