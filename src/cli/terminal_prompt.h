// Asking the person at the terminal for a password or for credentials a server wants.
// Only when standard input is a terminal; otherwise nobody is asked.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "browse/credentials.h"

namespace vuv::cli {

bool standardInputIsTerminal();

// Reads one line from the terminal without echo; nullopt when there is no terminal.
std::optional<std::string> readSecret(const std::string& prompt);

// Asks for a user name and password when a server refuses anonymous access. Several requests
// may ask at once; they take turns, and a server that was answered once is not asked again.
// A stop of `stop` (the command's Ctrl+C) ends an open prompt at once with nullopt.
class TerminalCredentialPrompt final : public CredentialPrompt {
 public:
  explicit TerminalCredentialPrompt(std::stop_token stop = {}) : stop_(std::move(stop)) {}
  std::optional<Credentials> credentialsFor(std::string_view server, std::string_view share) override;

 private:
  const std::stop_token stop_;
  std::mutex mutex_;
  std::map<std::string, std::optional<Credentials>, std::less<>> answered_;  // by server; guarded by mutex_
};

}  // namespace vuv::cli
