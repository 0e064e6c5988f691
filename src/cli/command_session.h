// The network session of one command: the progress line, the terminal prompt (which pauses
// it), the session's use cases, and the command's stop, which Ctrl+C requests; every use case
// is called with stopToken().
//
// Thread safety: uses() from the command's thread; stop() and progress() from any thread.
#pragma once

#include <memory>
#include <stop_token>

#include "base/result.h"
#include "cli/cli_options.h"
#include "cli/output.h"
#include "cli/terminal_prompt.h"
#include "session/use_cases.h"

namespace vuv::cli {

class CommandSession {
 public:
  // Resolves the credentials (-A file, password prompt), then opens the session.
  static Result<std::unique_ptr<CommandSession>> open(const ConnectionOptions& options,
                                                      DiscoverySource source);

  session::UseCases& uses() { return *uses_; }
  ProgressLine& progress() { return *progress_; }
  void stop() { stop_.request_stop(); }
  std::stop_token stopToken() const { return stop_.get_token(); }

  CommandSession(std::unique_ptr<ProgressLine> progress, std::unique_ptr<TerminalCredentialPrompt> prompt,
                 std::unique_ptr<session::UseCases> uses)
      : progress_(std::move(progress)), prompt_(std::move(prompt)), uses_(std::move(uses)) {}

 private:
  std::stop_source stop_;
  std::unique_ptr<ProgressLine> progress_;            // before the prompt, which points at it
  std::unique_ptr<TerminalCredentialPrompt> prompt_;  // before the session, which points at it
  std::unique_ptr<session::UseCases> uses_;
};

// WS-Discovery failing costs the servers only it finds; the command goes on without them.
void noteWsdFailure(const Error& error);

}  // namespace vuv::cli
