// Asking the person at the terminal for a password or for credentials a server wants.
// Only when standard input is a terminal; otherwise nobody is asked. Answers are read from the
// terminal itself (/dev/tty), so prompts work while standard output goes to a file.
//
// A password is read with echo off, and the terminal is put back as it was on every way out:
// Enter, end of input, Ctrl+C (the signal then goes on to the handler it had before, which may
// end the program) and Ctrl+Z (the prompt starts again when the process is continued). This
// holds on any thread: while a prompt runs, its handlers catch those signals process-wide.
//
// Thread safety: any thread may ask; prompts take turns.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "browse/credentials.h"
#include "cli/output.h"

namespace vuv::cli {

bool standardInputIsTerminal();

// Reads one line without echo; nullopt when there is no terminal or the prompt was interrupted.
std::optional<std::string> readSecret(const std::string& prompt);

// Asks for a user name and password when a server refuses anonymous access or the credentials
// given (LogOnReason). Several requests may ask at once; they take turns. Remembering answers
// is the worker pool's (its credential cache asks once per server, and again after a refused
// password).
class TerminalCredentialPrompt final : public CredentialPrompt {
 public:
  // `progress` (not owned; may be null) is paused while a question is open: other walks
  // would draw it over the question.
  explicit TerminalCredentialPrompt(ProgressLine* progress = nullptr) : progress_(progress) {}

  // Asks nothing once `stop` is requested, and a stop ends a question already on the terminal
  // at once (nullopt, the terminal put back).
  std::optional<CredentialAnswer> credentialsFor(std::string_view server, std::string_view share,
                                                 LogOnReason reason, std::stop_token stop) override;

 private:
  ProgressLine* const progress_;
  std::mutex mutex_;  // one question on the terminal at a time
};

}  // namespace vuv::cli
