#include "cli/terminal_prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/credential_options.h"
#include "cli/tree_printer.h"

namespace vuv::cli {

namespace {

constexpr std::size_t kMaxAnswerBytes = 4096;

// What ends or stops a program waiting at the terminal. Each one puts the terminal back first.
constexpr std::array kPromptSignals = {SIGINT, SIGTSTP, SIGTERM, SIGHUP, SIGQUIT, SIGTTIN, SIGTTOU};

bool stops(int signal) { return signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU; }

// One prompt at a time owns the terminal and the handlers.
std::mutex promptMutex;

// The write end of the running prompt's wake-up pipe. A signal may arrive on any thread (a
// prompt for a server runs on a worker pool thread), so the handler only writes the signal
// number here and the prompting thread, which polls the pipe with the terminal, acts on it.
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onPromptSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  (void)!::write(wakeFd.load(), &byte, 1);
  errno = savedErrno;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Our handlers while installed; the previous ones afterwards, whatever way the prompt ends.
class PromptSignals {
 public:
  PromptSignals() {
    struct sigaction ours {};
    ours.sa_handler = onPromptSignal;
    ::sigemptyset(&ours.sa_mask);
    for (std::size_t i = 0; i < kPromptSignals.size(); ++i) ::sigaction(kPromptSignals[i], &ours, &previous_[i]);
  }
  PromptSignals(const PromptSignals&) = delete;
  PromptSignals& operator=(const PromptSignals&) = delete;
  ~PromptSignals() {
    for (std::size_t i = 0; i < kPromptSignals.size(); ++i) ::sigaction(kPromptSignals[i], &previous_[i], nullptr);
  }

 private:
  std::array<struct sigaction, kPromptSignals.size()> previous_{};
};

// Echo off while it lives, when asked for.
class QuietTerminal {
 public:
  QuietTerminal(int tty, bool echo) : tty_(tty) {
    if (echo || ::tcgetattr(tty_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    restore_ = ::tcsetattr(tty_, TCSAFLUSH, &quiet) == 0;
  }
  QuietTerminal(const QuietTerminal&) = delete;
  QuietTerminal& operator=(const QuietTerminal&) = delete;
  ~QuietTerminal() {
    if (!restore_) return;
    ::tcsetattr(tty_, TCSAFLUSH, &saved_);
    (void)!::write(tty_, "\n", 1);  // the Enter that was not echoed
  }

 private:
  int tty_;
  termios saved_{};
  bool restore_ = false;
};

enum class Outcome { Line, EndOfInput, TooLong, Signal };

// Reads up to the line end, or until a signal arrives through `wake`.
Outcome readLine(int tty, int wake, std::string& line, int& signal) {
  pollfd fds[] = {{tty, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Outcome::EndOfInput;
    }
    unsigned char number = 0;
    if ((fds[1].revents & POLLIN) != 0 && ::read(wake, &number, 1) == 1) {
      signal = number;
      return Outcome::Signal;
    }
    if (fds[0].revents == 0) continue;
    char c = 0;
    const ssize_t n = ::read(tty, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Outcome::EndOfInput;
    if (c == '\n' || c == '\r') return Outcome::Line;
    if (line.size() == kMaxAnswerBytes) return Outcome::TooLong;
    line += c;
  }
}

// Asks on the terminal. Ctrl+C and the like: the terminal is put back, then the signal goes on
// to the handler it had before (which may end the program); Ctrl+Z: the program stops with the
// terminal put back, and asks again when continued.
// A stop of `stop` ends the question at once with nullopt, the terminal put back: it comes
// through the wake-up pipe as "signal" 0.
std::optional<std::string> ask(const std::string& prompt, bool echo, std::stop_token stop = {}) {
  if (!standardInputIsTerminal()) return std::nullopt;
  std::lock_guard lock(promptMutex);
  const FileDescriptor tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (tty.get() < 0) return std::nullopt;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return std::nullopt;
  const FileDescriptor wakeRead(pipeFds[0]);
  const FileDescriptor wakeWrite(pipeFds[1]);
  wakeFd = wakeWrite.get();
  const std::stop_callback onStop(stop, [fd = wakeWrite.get()] {
    const unsigned char stopped = 0;
    (void)!::write(fd, &stopped, 1);
  });

  std::optional<std::string> answer;
  for (;;) {
    std::string line;
    line.reserve(kMaxAnswerBytes);  // never reallocated: no copy of a password left behind
    int signal = 0;
    Outcome outcome;
    {
      const PromptSignals handlers;
      const QuietTerminal quiet(tty.get(), echo);
      (void)!::write(tty.get(), prompt.data(), prompt.size());
      outcome = readLine(tty.get(), wakeRead.get(), line, signal);
    }
    if (outcome == Outcome::Line || (outcome == Outcome::EndOfInput && !line.empty())) answer = line;
    ::explicit_bzero(line.data(), line.size());
    if (outcome == Outcome::TooLong) (void)!::write(tty.get(), "Too long; ignored.\n", 19);
    if (outcome != Outcome::Signal) {
      // Ctrl+C right after Enter still counts, as if it had come a moment later.
      unsigned char late = 0;
      if (::read(wakeRead.get(), &late, 1) == 1 && late != 0) ::raise(late);
      break;
    }
    if (signal == 0) break;  // stopped
    // raise(), not kill(): the signal must reach this thread, so that a stop takes effect
    // before we ask again.
    ::raise(signal);
    if (!stops(signal)) break;
  }
  wakeFd = -1;
  return answer;
}

}  // namespace

bool standardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> readSecret(const std::string& prompt) { return ask(prompt, /*echo=*/false); }

std::optional<CredentialAnswer> TerminalCredentialPrompt::credentialsFor(std::string_view server,
                                                                         std::string_view share,
                                                                         LogOnReason reason,
                                                                         std::stop_token stop) {
  std::lock_guard lock(mutex_);
  if (stop.stop_requested()) return std::nullopt;
  const ProgressLine::Pause paused(progress_);
  std::string where = "\\\\" + escapeForTerminal(server);
  if (!share.empty()) where += "\\" + escapeForTerminal(share);
  const char* refusal = " refuses anonymous access.";
  if (reason == LogOnReason::ServerLogOnRefused) refusal = " refuses the log-on its server accepted.";
  if (reason == LogOnReason::GivenLogOnRefused) refusal = " refuses the user name and password given.";
  const auto user = ask(where + refusal + "\nUser name ([DOMAIN\\]USER, empty to skip): ",
                        /*echo=*/true, stop);
  if (!user || user->empty()) return std::nullopt;
  auto password = ask("Password: ", /*echo=*/false, stop);
  if (!password) return std::nullopt;
  Credentials credentials = parseUserArgument(*user).credentials;
  assignSecret(credentials.password, *password);
  wipeSecret(*password);
  return CredentialAnswer{std::move(credentials)};  // kept for the session, as a terminal user expects
}

}  // namespace vuv::cli
