#include "session/session.h"

#include <unistd.h>

#include <cerrno>

#include "base/casefold.h"
#include "smb/client/worker_path.h"

namespace vuv::session {

namespace {

// How long the hosts file, DNS and NetBIOS have to place a name: NetBIOS answers within
// milliseconds, so only a name no host has waits this long; and less than the WS-Discovery
// round it may save.
constexpr auto kResolverLimit = std::chrono::milliseconds(400);

smb::WorkerPoolOptions poolOptions(const SessionOptions& options, CredentialPrompt* prompt) {
  smb::WorkerPoolOptions pool;
  pool.workerPath = options.workerPath.empty() ? smb::defaultWorkerPath() : options.workerPath;
  pool.maxWorkers = options.maxWorkers;
  pool.progressTimeout = options.timeout;
  pool.credentials = options.credentials;
  pool.prompt = prompt;
  pool.workerArguments = smb::workerArguments(options.worker);
  return pool;
}

}  // namespace

Session::Session(SessionOptions options, CredentialPrompt* prompt)
    : useWsd_(options.sources.hostDiscovery),
      pool_(poolOptions(options, prompt)),
      names_(kResolverLimit),
      // Kerberos tickets are for names: such a session keeps DNS names in the workers' URLs.
      book_(&names_, options.worker.kerberos != KerberosUse::Off),
      hostDiscovery_(options.wsd),
      executor_(options.maxWorkers),
      merged_(quietBrowse_, &hostDiscovery_, &book_, options.sources, executor_) {}

Result<std::unique_ptr<Session>> Session::open(SessionOptions options, CredentialPrompt* prompt) {
  if (options.workerPath.empty()) options.workerPath = smb::defaultWorkerPath();
  if (::access(options.workerPath.c_str(), X_OK) != 0) {
    return makeError(ErrorCode::NotFound, "the SMB worker program " + options.workerPath, errno);
  }
  return std::make_unique<Session>(std::move(options), prompt);
}

Status Session::record(Result<std::vector<DiscoveredHost>> found, std::stop_token stop) {
  if (!found) return found.error();
  // The notes go nowhere: a name refused as claimed twice says so when it fails (hostFor),
  // and an impostor's refusal leaves the real server where the resolver placed it.
  book_.admitAnnounced(*found, stop);
  return success();
}

Status Session::learnAddressOf(std::string_view server, std::stop_token stop) {
  const Result<std::string> placed = book_.hostFor(server, stop);
  if (placed || !useWsd_ || placed.error().code != ErrorCode::UnknownHost) return success();
  Result<std::vector<DiscoveredHost>> found = hostDiscovery_.discoverHost(server, stop);
  if (!found && found.error().code == ErrorCode::Cancelled) return success();
  // Only the announcement of that name is worth weighing: the round may have heard others.
  if (found) {
    std::erase_if(*found, [&](const DiscoveredHost& host) { return compareIgnoringCase(host.name, server) != 0; });
  }
  return record(std::move(found), stop);
}

Status Session::learnAddresses(std::stop_token stop) {
  if (!useWsd_) return success();
  return record(hostDiscovery_.discover(stop), stop);
}

}  // namespace vuv::session
