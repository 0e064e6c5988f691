// What the commands write: results on standard output, everything else on standard error.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "discovery/diagnostics.h"
#include "tree/network_tree.h"

namespace vuv::cli {

// Prints the tree on standard output in the chosen format (brk output is a valid tree file).
// FileError when a node cannot be written as a tree file line.
ExitCode printTree(const NetworkTree& tree, TreeFormat format);

// "vuvuveva-cli: MESSAGE" on standard error, escaped for the terminal (escapeForTerminal).
void printError(const std::string& message);
void printError(const Error& error);

// Prints the error and returns the exit code that goes with it: FileError for a file that
// cannot be read or parsed, NetworkError for everything that keeps us off the network.
ExitCode reportError(const Error& error);

// Flushes standard output. When what was written there did not all arrive (a full disk, a
// closed pipe), says so and turns `code` into FileError unless it is already a failure.
ExitCode finishStandardOutput(ExitCode code);

// `text` escaped for the terminal line by line: its line feeds stay.
std::string escapeLines(std::string_view text);

// Diagnostic lines escaped for the terminal on their way to `inner`.
class TerminalDiagnostics final : public DiagnosticSink {
 public:
  explicit TerminalDiagnostics(DiagnosticSink& inner) : inner_(inner) {}
  void toStandardOutput(std::string_view text) override;
  void toStandardError(std::string_view text) override;

 private:
  DiagnosticSink& inner_;
};

// Progress on standard error: one line rewritten in place on a terminal, nothing otherwise.
// A question on the terminal pauses it (Pause): the line is erased, shows nothing while
// paused, and its last text comes back when the last pause ends. What a command prints while
// its progress shows goes through write(), so that it lands neither on the progress line nor
// in a question.
// Thread safety: every call from any thread.
class ProgressLine {
 public:
  ProgressLine();
  ProgressLine(std::ostream& out, bool terminal);  // tests
  ~ProgressLine();
  void show(const std::string& text);
  void clear();
  // Whole lines for `out`: the progress line is erased first; while paused, they are held
  // back until the pause ends.
  void write(std::ostream& out, const std::string& lines);

  class Pause {
   public:
    explicit Pause(ProgressLine* line);  // may be null: nothing to pause
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;
    ~Pause();

   private:
    ProgressLine* line_;
  };

 private:
  void draw();  // under mutex_

  std::ostream& out_;
  const bool enabled_;
  std::mutex mutex_;
  std::string text_;  // what shows, or would but for a pause; guarded by mutex_
  bool shown_ = false;  // guarded by mutex_
  int pauses_ = 0;      // guarded by mutex_
  std::vector<std::pair<std::ostream*, std::string>> held_;  // guarded by mutex_
};

}  // namespace vuv::cli
