#include "cli/smb_session.h"

#include <unistd.h>

#include "cli/credential_options.h"
#include "cli/terminal_prompt.h"
#include "smb/client/worker_path.h"
#include "wsd/client/name_lookup.h"

namespace vuv::cli {

namespace {

constexpr auto kResolverLimit = std::chrono::milliseconds(300);

// The user's smb.conf, debug and Kerberos choices, as every worker takes them.
std::vector<std::string> workerArguments(const ConnectionOptions& options) {
  std::vector<std::string> arguments;
  if (!options.configFile.empty()) arguments.insert(arguments.end(), {"--configfile", options.configFile});
  if (options.debugLevel >= 0) {
    arguments.insert(arguments.end(), {"--debuglevel", std::to_string(options.debugLevel)});
  }
  switch (options.kerberos) {
    case ConnectionOptions::Kerberos::Off: break;
    case ConnectionOptions::Kerberos::Desired: arguments.insert(arguments.end(), {"--kerberos", "desired"}); break;
    case ConnectionOptions::Kerberos::Required: arguments.insert(arguments.end(), {"--kerberos", "required"}); break;
  }
  return arguments;
}

}  // namespace

SmbSession::SmbSession(smb::WorkerPoolOptions options, std::unique_ptr<CredentialPrompt> prompt,
                       DiscoverySource source)
    : useWsd_(source != DiscoverySource::NetBios),
      prompt_(std::move(prompt)),
      pool_([&] {
        options.prompt = prompt_.get();
        return options;
      }()),
      executor_(options.maxWorkers),
      merged_(smbBrowse_, &hostDiscovery_, &book_,
              MergedBrowseService::Sources{source != DiscoverySource::WsDiscovery, useWsd_}, executor_) {}

Status SmbSession::record(const Result<std::vector<DiscoveredHost>>& found) {
  if (!found) return found.error();
  for (const DiscoveredHost& host : *found) {
    if (!host.address.empty()) book_.set(host.name, host.address);
  }
  return success();
}

Status SmbSession::learnAddressOf(std::string_view server) {
  if (!useWsd_ || book_.lookup(server)) return success();
  // A name the system resolver knows, libsmbclient finds too ("host" in its name resolve
  // order): no round needed. Bounded, so that a slow DNS costs less than the round would.
  if (wsd::resolvesByName(std::string(server), kResolverLimit)) return success();
  return record(hostDiscovery_.discoverHost(server));
}

Status SmbSession::learnAddresses() {
  if (!useWsd_) return success();
  return record(hostDiscovery_.discover({}));
}

Result<std::unique_ptr<SmbSession>> SmbSession::open(const ConnectionOptions& options, DiscoverySource source) {
  // Checked here, once: a worker that cannot load it would fail every request.
  if (!options.configFile.empty() && ::access(options.configFile.c_str(), R_OK) != 0) {
    return makeError(ErrorCode::Io, "reading " + options.configFile, errno);
  }
  auto credentials = resolveCredentials(options, systemPasswordSources());
  if (!credentials) return credentials.error();

  smb::WorkerPoolOptions poolOptions;
  poolOptions.workerPath = smb::defaultWorkerPath();
  if (::access(poolOptions.workerPath.c_str(), X_OK) != 0) {
    return makeError(ErrorCode::NotFound, "the SMB worker program " + poolOptions.workerPath, errno);
  }
  poolOptions.maxWorkers = static_cast<std::size_t>(options.jobs);
  poolOptions.progressTimeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000.0));
  poolOptions.credentials = *credentials;
  poolOptions.workerArguments = workerArguments(options);

  std::unique_ptr<CredentialPrompt> prompt;
  if (!options.noPassword) prompt = std::make_unique<TerminalCredentialPrompt>();
  return std::make_unique<SmbSession>(std::move(poolOptions), std::move(prompt), source);
}

}  // namespace vuv::cli
