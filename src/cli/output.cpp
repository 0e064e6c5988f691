#include "cli/output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>

#include "base/utf8.h"
#include "cli/tree_printer.h"
#include "treefile/tree_file_writer.h"

namespace vuv::cli {

constexpr std::size_t kProgressWidth = 100;  // keeps the line from wrapping on narrow terminals
constexpr char kEraseLine[] = "\r\033[K";

namespace {

Result<std::string> renderTree(const NetworkTree& tree, TreeFormat format) {
  if (format == TreeFormat::Tree) return formatTreeForPeople(tree);
  const NodeId root = tree.root();
  if (root == kNoNode) {
    // Only domains added by name: no root, and the file format has no way to say so.
    return makeError(ErrorCode::InvalidArgument, "no network tree to write (no discovery)");
  }
  return formatTree(tree, root);
}

}  // namespace

ExitCode printTree(const NetworkTree& tree, TreeFormat format) {
  auto text = renderTree(tree, format);
  if (!text) {
    printError(text.error());
    return ExitCode::FileError;
  }
  std::cout << *text << std::flush;
  return ExitCode::Success;
}

// Errors name servers, shares and files as the network spelled them.
void printError(const std::string& message) { std::cerr << "vuvuveva-cli: " << escapeForTerminal(message) << '\n'; }

void printError(const Error& error) { printError(describe(error)); }

ExitCode reportError(const Error& error) {
  printError(error);
  return error.code == ErrorCode::Io || error.code == ErrorCode::BadFormat ? ExitCode::FileError
                                                                            : ExitCode::NetworkError;
}

ExitCode finishStandardOutput(ExitCode code) {
  std::cout.flush();
  if (std::cout) return code;
  // The stream keeps no reason; errno is that of the failed write unless a later call failed.
  printError(makeError(ErrorCode::Io, "writing standard output", errno));
  return code == ExitCode::Success || code == ExitCode::NothingFound ? ExitCode::FileError : code;
}

std::string escapeLines(std::string_view text) {
  std::string out;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    out += escapeForTerminal(text.substr(start, end - start));
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

void TerminalDiagnostics::toStandardOutput(std::string_view text) { inner_.toStandardOutput(escapeLines(text)); }

void TerminalDiagnostics::toStandardError(std::string_view text) { inner_.toStandardError(escapeLines(text)); }

ProgressLine::ProgressLine() : ProgressLine(std::cerr, ::isatty(STDERR_FILENO) == 1) {}

ProgressLine::ProgressLine(std::ostream& out, bool terminal) : out_(out), enabled_(terminal) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::show(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  text_ = escapeForTerminal(text);
  if (text_.size() > kProgressWidth) text_ = std::string(cutUtf8(text_, kProgressWidth - 3)) + "...";
  shown_ = true;
  if (pauses_ == 0) draw();
}

void ProgressLine::clear() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  if (shown_ && pauses_ == 0) out_ << kEraseLine << std::flush;
  shown_ = false;
}

void ProgressLine::write(std::ostream& out, const std::string& lines) {
  std::lock_guard lock(mutex_);
  if (pauses_ > 0) {
    held_.emplace_back(&out, lines);
    return;
  }
  if (shown_) out_ << kEraseLine << std::flush;
  shown_ = false;
  out << lines << std::flush;
}

void ProgressLine::draw() { out_ << kEraseLine << text_ << std::flush; }

ProgressLine::Pause::Pause(ProgressLine* line) : line_(line != nullptr && line->enabled_ ? line : nullptr) {
  if (line_ == nullptr) return;
  std::lock_guard lock(line_->mutex_);
  if (line_->pauses_++ == 0 && line_->shown_) line_->out_ << kEraseLine << std::flush;
}

ProgressLine::Pause::~Pause() {
  if (line_ == nullptr) return;
  std::lock_guard lock(line_->mutex_);
  if (--line_->pauses_ > 0) return;
  for (const auto& [out, lines] : line_->held_) *out << lines << std::flush;
  line_->held_.clear();
  if (line_->shown_) line_->draw();
}

}  // namespace vuv::cli
