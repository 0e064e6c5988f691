// vuvuveva-cli copy: copies a file or folder from a share into a local folder, with progress
// on standard error and the copy's local path on standard output. Ctrl+C stops the copy and
// leaves nothing behind.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/command_session.h"
#include "cli/commands.h"
#include "cli/interrupt_watch.h"
#include "cli/output.h"
#include "cli/tree_printer.h"
#include "transfer/copy_job.h"
#include "transfer/copy_plan.h"

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
  ProgressLine progress;
  const std::stop_token stop = command.stopToken();

  // A server known only by WS-Discovery needs its address first; failing that costs nothing
  // when NetBIOS or DNS knows the name.
  const std::string_view path = std::string_view(invocation.copySource).substr(2);
  if (Status learned = command.session().learnAddressOf(path.substr(0, path.find('\\')), stop);
      !learned && learned.error().code != ErrorCode::Cancelled) {
    std::cerr << "WS-Discovery failed: " << describe(learned.error()) << "\n";
  }

  // Whether it is a file or a folder, and its name as the server spells it.
  auto item = lookUpItem(command.lister(), invocation.copySource, stop);
  if (watch.interrupted()) return ExitCode::Interrupted;
  if (!item) {
    Error error = item.error();
    error.detail = "Could not copy " + invocation.copySource;
    printError(error);
    return exitCodeOf(error);
  }
  std::string source = invocation.copySource;
  if (std::count(source.begin() + 2, source.end(), '\\') >= 2) {  // below a share top
    source = source.substr(0, source.rfind('\\') + 1) + item->name;
  }

  const CopyRequest request{source, item->isFolder, invocation.copyDestination, invocation.replace};
  auto copied = copyToFolder(request, command.lister(), command.session().reader(), stop,
                             [&](const TransferProgress& p) { progress.show(progressText(p)); });
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
