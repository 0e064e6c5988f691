// vuvuveva-cli copy: copies a file or folder from a share into a local folder, with progress
// on standard error and the copy's local path on standard output. Ctrl+C stops the copy and
// leaves nothing behind.
#include <cstdio>
#include <iostream>

#include "cli/command_session.h"
#include "cli/commands.h"
#include "cli/interrupt_watch.h"
#include "cli/output.h"
#include "cli/tree_printer.h"
#include "transfer/copy_job.h"

namespace vuv::cli {

namespace {

std::string megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string progressText(const TransferProgress& p) {
  std::string text = "Copying " + p.currentItem + ": " + megabytes(p.bytesDone) + " of " + megabytes(p.bytesTotal);
  if (p.bytesPerSecond > 0) text += ", " + megabytes(static_cast<std::uint64_t>(p.bytesPerSecond)) + "/s";
  if (p.timeLeft) text += ", " + std::to_string(p.timeLeft->count()) + " s left";
  return text;
}

ExitCode exitCodeOf(const Error& error) {
  switch (error.code) {
    case ErrorCode::Cancelled: return ExitCode::Interrupted;
    case ErrorCode::AlreadyExists: return ExitCode::AlreadyExists;
    case ErrorCode::LocalWrite:
    case ErrorCode::Io: return ExitCode::FileError;
    default: return ExitCode::NetworkError;
  }
}

}  // namespace

ExitCode runCopy(const Invocation& invocation) {
  auto session = CommandSession::open(invocation.connection, invocation.source);
  if (!session) return reportError(session.error());
  CommandSession& command = **session;
  InterruptWatch watch([&] { command.stop(); });
  ProgressLine& progress = command.progress();
  auto copied = command.uses().copy(invocation.copySource, invocation.copyDestination, invocation.replace,
                                    command.stopToken(),
                                    [&](const TransferProgress& p) { progress.show(progressText(p)); }, noteWsdFailure);
  progress.clear();
  if (!copied) {
    if (copied.error().code == ErrorCode::Cancelled || watch.interrupted()) return ExitCode::Interrupted;
    printError(copied.error());
    return exitCodeOf(copied.error());
  }
  std::cout << escapeForTerminal(*copied) << '\n' << std::flush;
  return ExitCode::Success;
}

}  // namespace vuv::cli
