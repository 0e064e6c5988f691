#include "cli/command_session.h"

#include <unistd.h>

#include <cerrno>

#include "cli/credential_options.h"

namespace vuv::cli {

namespace {

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

// Stopped when either token is: the caller's or the command's.
template <class Call>
BrowseReply eitherStop(std::stop_token own, std::stop_token given, Call call) {
  std::stop_source both;
  std::stop_callback onOwn(own, [&] { both.request_stop(); });
  std::stop_callback onGiven(given, [&] { both.request_stop(); });
  return call(both.get_token());
}

}  // namespace

Result<std::unique_ptr<CommandSession>> CommandSession::open(const ConnectionOptions& options,
                                                             DiscoverySource source) {
  // Checked here, once: a worker that cannot load it would fail every request.
  if (!options.configFile.empty() && ::access(options.configFile.c_str(), R_OK) != 0) {
    return makeError(ErrorCode::Io, "reading " + options.configFile, errno);
  }
  auto credentials = resolveCredentials(options, systemPasswordSources());
  if (!credentials) return credentials.error();

  session::SessionOptions sessionOptions;
  sessionOptions.maxWorkers = static_cast<std::size_t>(options.jobs);
  sessionOptions.timeout = std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000.0));
  sessionOptions.credentials = *credentials;
  sessionOptions.workerArguments = workerArguments(options);
  sessionOptions.sources = {source != DiscoverySource::WsDiscovery, source != DiscoverySource::NetBios};

  std::stop_source stop;
  std::unique_ptr<TerminalCredentialPrompt> prompt;
  if (!options.noPassword) prompt = std::make_unique<TerminalCredentialPrompt>();
  auto opened = session::Session::open(std::move(sessionOptions), prompt.get());
  if (!opened) return opened.error();
  return std::make_unique<CommandSession>(std::move(stop), std::move(prompt), std::move(*opened));
}

BrowseReply CommandSession::listDomains(std::stop_token stop) {
  return eitherStop(stop_.get_token(), stop, [&](std::stop_token both) { return session_->browse().listDomains(both); });
}

BrowseReply CommandSession::listServers(std::string_view domain, std::stop_token stop) {
  return eitherStop(stop_.get_token(), stop,
                    [&](std::stop_token both) { return session_->browse().listServers(domain, both); });
}

BrowseReply CommandSession::listShares(std::string_view server, std::uint32_t& resume, std::stop_token stop) {
  return eitherStop(stop_.get_token(), stop,
                    [&](std::stop_token both) { return session_->browse().listShares(server, resume, both); });
}

}  // namespace vuv::cli
