#include "cli/command_session.h"

#include "cli/credential_options.h"

namespace vuv::cli {

namespace {

Result<Credentials> resolveCredentials(const ConnectionOptions& options) {
  Credentials credentials = options.credentials;
  bool passwordKnown = options.passwordGiven;
  if (!options.authenticationFile.empty()) {
    auto fromFile = readAuthenticationFile(options.authenticationFile);
    if (!fromFile) return fromFile.error();
    // -U on the same command line wins over the file, as people expect.
    if (!options.userGiven) {
      credentials = *fromFile;
      passwordKnown = !credentials.password.empty();
    }
  }
  if (!credentials.anonymous() && !passwordKnown && !options.noPassword) {
    std::string who = credentials.domain.empty() ? credentials.user : credentials.domain + "\\" + credentials.user;
    if (auto password = readSecret("Password for " + who + ": ")) credentials.password = *password;
  }
  return credentials;
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
  auto credentials = resolveCredentials(options);
  if (!credentials) return credentials.error();

  session::SessionOptions sessionOptions;
  sessionOptions.maxWorkers = static_cast<std::size_t>(options.jobs);
  sessionOptions.timeout = std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000.0));
  sessionOptions.credentials = *credentials;
  sessionOptions.sources = {source != DiscoverySource::WsDiscovery, source != DiscoverySource::NetBios};

  std::stop_source stop;
  std::unique_ptr<TerminalCredentialPrompt> prompt;
  if (!options.noPassword) prompt = std::make_unique<TerminalCredentialPrompt>(stop.get_token());
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
