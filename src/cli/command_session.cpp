#include "cli/command_session.h"

#include <iostream>

#include "cli/credential_options.h"
#include "cli/tree_printer.h"

namespace vuv::cli {

Result<std::unique_ptr<CommandSession>> CommandSession::open(const ConnectionOptions& options,
                                                             DiscoverySource source) {
  auto credentials = resolveCredentials(options, systemPasswordSources());
  if (!credentials) return credentials.error();

  session::SessionOptions sessionOptions;
  sessionOptions.maxWorkers = static_cast<std::size_t>(options.jobs);
  sessionOptions.timeout = std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000.0));
  sessionOptions.credentials = *credentials;
  sessionOptions.worker = {options.configFile, options.debugLevel, options.kerberos};
  sessionOptions.sources = {source != DiscoverySource::WsDiscovery, source != DiscoverySource::NetBios};

  auto progress = std::make_unique<ProgressLine>();
  std::unique_ptr<TerminalCredentialPrompt> prompt;
  if (!options.noPassword) prompt = std::make_unique<TerminalCredentialPrompt>(progress.get());
  auto opened = session::UseCases::open(std::move(sessionOptions), prompt.get());
  if (!opened) return opened.error();
  return std::make_unique<CommandSession>(std::move(progress), std::move(prompt), std::move(*opened));
}

// The error may quote what a peer sent.
void noteWsdFailure(const Error& error) {
  std::cerr << escapeForTerminal("WS-Discovery failed: " + describe(error)) << "\n";
}

}  // namespace vuv::cli
