#include "session/session.h"

#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "smb/client/worker_path.h"
#include "wsd/client/name_lookup.h"

namespace vuv::session {

namespace {

// A slow DNS must cost less than the WS-Discovery round it would save.
constexpr auto kResolverLimit = std::chrono::milliseconds(300);

smb::WorkerPoolOptions poolOptions(const SessionOptions& options, CredentialPrompt* prompt) {
  smb::WorkerPoolOptions pool;
  pool.workerPath = options.workerPath.empty() ? smb::defaultWorkerPath() : options.workerPath;
  pool.maxWorkers = options.maxWorkers;
  pool.progressTimeout = options.timeout;
  pool.credentials = options.credentials;
  pool.prompt = prompt;
  pool.workerArguments = options.workerArguments;
  return pool;
}

}  // namespace

Session::Session(SessionOptions options, CredentialPrompt* prompt)
    : useWsd_(options.sources.hostDiscovery),
      pool_(poolOptions(options, prompt)),
      hostDiscovery_(options.wsd),
      executor_(options.maxWorkers),
      merged_(smbBrowse_, &hostDiscovery_, &book_, options.sources, executor_) {}

Result<std::unique_ptr<Session>> Session::open(SessionOptions options, CredentialPrompt* prompt) {
  if (options.workerPath.empty()) options.workerPath = smb::defaultWorkerPath();
  if (::access(options.workerPath.c_str(), X_OK) != 0) {
    return makeError(ErrorCode::NotFound, "the SMB worker program " + options.workerPath, errno);
  }
  return std::make_unique<Session>(std::move(options), prompt);
}

Status Session::record(const Result<std::vector<DiscoveredHost>>& found) {
  if (!found) return found.error();
  for (const DiscoveredHost& host : *found) {
    if (!host.address.empty()) book_.set(host.name, host.address);
  }
  return success();
}

// The share list through a worker: libsmbclient resolves the name its own way (NetBIOS
// broadcast, WINS, lmhosts, DNS). A refusal still means the server was found.
bool Session::answersByNetBios(std::string_view server, std::stop_token stop) {
  std::uint32_t resume = 0;
  const BrowseReply reply = smbBrowse_.listShares(server, resume, stop);
  return reply.status != BrowseStatus::Failure || reply.failureCode == EACCES || reply.failureCode == EPERM;
}

Status Session::learnAddressOf(std::string_view server, std::stop_token stop) {
  if (!useWsd_ || book_.lookup(server)) return success();
  // A name the hosts file holds needs no race: no worker started and killed, no round.
  if (wsd::inHostsFile(std::string(server))) return success();

  // Three at once: the hosts file and DNS, NetBIOS (milliseconds when it knows the name), and
  // a WS-Discovery round (it ends as soon as the server answers). The first answer settles it,
  // and so does the round ending without the server: the search then finds out for itself,
  // rather than wait here for a silent host. `settled` stops whatever still runs.
  std::stop_source settled;
  std::stop_callback onStop(stop, [&] { settled.request_stop(); });
  std::mutex mutex;
  int running = 2;                  // guarded by mutex: the round and the NetBIOS ask
  Status announced = success();     // guarded by mutex
  auto finished = [&](bool settles) {
    std::lock_guard lock(mutex);
    if (--running == 0 || settles) settled.request_stop();
  };
  std::jthread round([&] {
    Status recorded = record(hostDiscovery_.discoverHost(server, settled.get_token()));
    const bool failed = !recorded && recorded.error().code != ErrorCode::Cancelled;
    {
      std::lock_guard lock(mutex);
      announced = recorded;
    }
    finished(!failed);  // a round that could not run says nothing about the name
  });
  std::atomic<bool> resolved = false;
  std::jthread netbios([&] {
    const bool answered = answersByNetBios(server, settled.get_token());
    if (answered) resolved = true;
    finished(answered);
  });
  if (wsd::resolvesByName(std::string(server), kResolverLimit, settled.get_token())) {
    resolved = true;
    settled.request_stop();
  }

  std::condition_variable_any never;
  {
    std::unique_lock lock(mutex);
    never.wait(lock, settled.get_token(), [] { return false; });
  }
  round.join();
  netbios.join();
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "looking up " + std::string(server));
  if (resolved || book_.lookup(server)) return success();
  std::lock_guard lock(mutex);
  return announced;  // a round that failed is worth a note; the name may still resolve
}

Status Session::learnAddresses(std::stop_token stop) {
  if (!useWsd_) return success();
  return record(hostDiscovery_.discover(stop));
}

}  // namespace vuv::session
