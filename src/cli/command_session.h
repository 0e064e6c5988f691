// The network session of one command: the terminal prompt, the session library's Session, and
// the command's stop, which Ctrl+C requests. Every browse call made through browse() honours
// that stop as well as its own token, so a stop ends work that has no stop of its own.
//
// Thread safety: browse() and lister() are thread-safe services; stop() from any thread.
#pragma once

#include <memory>
#include <stop_token>

#include "base/result.h"
#include "browse/browse_service.h"
#include "cli/cli_options.h"
#include "cli/terminal_prompt.h"
#include "session/session.h"

namespace vuv::cli {

class CommandSession final : public BrowseService {
 public:
  // Resolves the credentials (-A file, password prompt), then opens the session.
  static Result<std::unique_ptr<CommandSession>> open(const ConnectionOptions& options,
                                                      DiscoverySource source);

  BrowseService& browse() { return *this; }
  DirectoryLister& lister() { return session_->lister(); }
  session::Session& session() { return *session_; }
  Executor& executor() { return session_->executor(); }

  void stop() { stop_.request_stop(); }
  std::stop_token stopToken() const { return stop_.get_token(); }

  BrowseReply listDomains(std::stop_token stop) override;
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override;
  BrowseReply listShares(std::string_view server, std::uint32_t& resume, std::stop_token stop) override;

  CommandSession(std::stop_source stop, std::unique_ptr<TerminalCredentialPrompt> prompt,
                 std::unique_ptr<session::Session> session)
      : stop_(std::move(stop)), prompt_(std::move(prompt)), session_(std::move(session)) {}

 private:
  std::stop_source stop_;  // the prompt ends on it too
  std::unique_ptr<TerminalCredentialPrompt> prompt_;  // before the session, which points at it
  std::unique_ptr<session::Session> session_;
};

}  // namespace vuv::cli
