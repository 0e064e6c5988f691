#include "cli/terminal_prompt.h"

#include <bsd/readpassphrase.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "cli/credential_options.h"
#include "cli/tree_printer.h"

namespace vuv::cli {

namespace {

constexpr std::size_t kMaxAnswerBytes = 4096;

// libbsd's readpassphrase restores the terminal and the signal handlers itself, then passes
// the signal on; for Ctrl+Z it prompts again after the process is continued.
std::optional<std::string> ask(const std::string& prompt, bool echo) {
  if (!standardInputIsTerminal()) return std::nullopt;
  std::vector<char> buffer(kMaxAnswerBytes + 1, '\0');
  const int flags = RPP_REQUIRE_TTY | (echo ? RPP_ECHO_ON : RPP_ECHO_OFF);
  const char* line = ::readpassphrase(prompt.c_str(), buffer.data(), buffer.size(), flags);
  std::optional<std::string> answer;
  if (line != nullptr) answer = std::string(line);
  ::explicit_bzero(buffer.data(), buffer.size());
  return answer;
}

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> readSecret(const std::string& prompt) { return ask(prompt, /*echo=*/false); }

std::optional<Credentials> TerminalCredentialPrompt::credentialsFor(std::string_view server,
                                                                    std::string_view share) {
  std::lock_guard lock(mutex_);
  if (auto known = answered_.find(server); known != answered_.end()) return known->second;
  std::optional<Credentials>& answer = answered_[std::string(server)];
  std::string where = "\\\\" + escapeForTerminal(server);
  if (!share.empty()) where += "\\" + escapeForTerminal(share);
  const auto user = ask(where + " refuses anonymous access.\nUser name ([DOMAIN\\]USER, empty to skip): ",
                        /*echo=*/true);
  if (!user || user->empty()) return answer;
  const auto password = readSecret("Password: ");
  if (!password) return answer;
  Credentials credentials = parseUserArgument(*user).credentials;
  credentials.password = *password;
  answer = credentials;
  return answer;
}

}  // namespace vuv::cli
