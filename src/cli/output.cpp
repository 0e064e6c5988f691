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

ProgressLine::ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::show(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  std::string line = escapeForTerminal(text);
  if (line.size() > kProgressWidth) line = std::string(cutUtf8(line, kProgressWidth - 3)) + "...";
  std::cerr << "\r\033[K" << line << std::flush;
  shown_ = true;
}

void ProgressLine::clear() {
  if (!enabled_) return;
  std::lock_guard lock(mutex_);
  if (shown_) std::cerr << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace vuv::cli
