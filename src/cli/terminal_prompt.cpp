#include "cli/terminal_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "cli/credential_options.h"
#include "cli/tree_printer.h"

namespace vuv::cli {

namespace {

// How often a prompt waiting for a key looks at the command's stop.
constexpr int kStopCheckMs = 20;

// nullopt also when `stop` comes first: Ctrl+C must not wait for the Enter key.
std::optional<std::string> readLine(int fd, std::stop_token stop) {
  std::string line;
  char c = 0;
  while (true) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, kStopCheckMs);
    if (stop.stop_requested()) return std::nullopt;
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    if (ready < 0 || ::read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return line.empty() ? std::nullopt : std::optional<std::string>(line);
}

// The terminal itself, so that prompts work while standard output goes to a file.
class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void write(const std::string& text) const { (void)!::write(fd_, text.data(), text.size()); }

  std::optional<std::string> readLine(bool echo, std::stop_token stop = {}) const {
    termios saved{};
    const bool restore = !echo && ::tcgetattr(fd_, &saved) == 0;
    if (restore) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(fd_, TCSAFLUSH, &quiet);
    }
    auto line = vuv::cli::readLine(fd_, stop);
    if (restore) {
      ::tcsetattr(fd_, TCSAFLUSH, &saved);
      write("\n");
    }
    return line;
  }

 private:
  int fd_;
};

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> readSecret(const std::string& prompt) {
  if (!standardInputIsTerminal()) return std::nullopt;
  Terminal terminal;
  if (!terminal.ok()) return std::nullopt;
  terminal.write(prompt);
  return terminal.readLine(/*echo=*/false);
}

std::optional<Credentials> TerminalCredentialPrompt::credentialsFor(std::string_view server,
                                                                    std::string_view share) {
  std::lock_guard lock(mutex_);
  if (auto known = answered_.find(server); known != answered_.end()) return known->second;
  std::optional<Credentials>& answer = answered_[std::string(server)];
  if (!standardInputIsTerminal()) return answer;
  Terminal terminal;
  if (!terminal.ok()) return answer;
  std::string where = "\\\\" + escapeForTerminal(server);
  if (!share.empty()) where += "\\" + escapeForTerminal(share);
  terminal.write(where + " refuses anonymous access.\nUser name ([DOMAIN\\]USER, empty to skip): ");
  const auto user = terminal.readLine(/*echo=*/true, stop_);
  if (stop_.stop_requested()) return std::nullopt;  // not remembered: nobody answered
  if (!user || user->empty()) return answer;
  terminal.write("Password: ");
  const auto password = terminal.readLine(/*echo=*/false, stop_);
  if (stop_.stop_requested()) return std::nullopt;
  Credentials credentials = parseUserArgument(*user).credentials;
  credentials.password = password.value_or("");
  answer = credentials;
  return answer;
}

}  // namespace vuv::cli
