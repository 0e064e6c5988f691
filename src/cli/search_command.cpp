// vuvuveva-cli search: find files and folders by name pattern below a node of the network
// tree or a network path, printing rows as they arrive. Ctrl+C stops like the Stop button.
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/commands.h"
#include "cli/network_discovery.h"
#include "cli/output.h"
#include "cli/result_writer.h"
#include "cli/command_session.h"
#include "cli/interrupt_watch.h"
#include "cli/tree_printer.h"
#include "cli/index_access.h"
#include "browse/recording_lister.h"
#include "search/search_controller.h"

namespace vuv::cli {

namespace {

constexpr auto kInterruptPoll = std::chrono::milliseconds(10);

}  // namespace

// The tree to search in and the node to start from.
Result<NodeId> prepareLocation(const Invocation& invocation, CommandSession& session, NetworkTree& tree,
                               ProgressLine& progress) {
  session::UseCases& uses = session.uses();
  if (session::UseCases::isNetworkPath(invocation.location)) {
    return uses.locate(tree, invocation.location, session.stopToken(), noteWsdFailure);
  }
  if (!invocation.treeFile.empty()) {
    if (auto root = uses.loadTree(invocation.treeFile, tree); !root) return root.error();
    if (Status learned = uses.learnAddresses(session.stopToken()); !learned && learned.error().code != ErrorCode::Cancelled) {
      noteWsdFailure(learned.error());
    }
  } else if (Status discovered = discoverNetwork(uses, tree, {}, progress, session.stopToken()); !discovered) {
    return discovered.error();
  }
  return uses.locate(tree, invocation.location, session.stopToken());
}

ExitCode walkLocation(const Invocation& invocation, const std::string& pattern, const WalkOutput& output,
                      Walked& walked) {
  auto session = CommandSession::open(invocation.connection, invocation.source);
  if (!session) return reportError(session.error());

  // Ctrl+C stops the session's calls at once (the lookups and the tree before the search
  // too); the search itself is stopped below, like the Stop button. Before any thread starts:
  // a thread that does not block SIGINT could take it, and the watch would never see it.
  InterruptWatch watch([&] { (*session)->stop(); });

  // What the walk lists goes into the index, off the walk's threads.
  std::unique_ptr<index::IndexWriter> recorder;
  if (!invocation.noIndex) {
    auto opened = openIndexWriter(invocation);
    if (opened) {
      recorder = std::move(*opened);
    } else if (output.indexRequired) {
      return reportError(opened.error());
    } else {
      std::cerr << "The index is not kept: " << describe(opened.error()) << "\n";
    }
  }

  NetworkTree tree;
  ProgressLine& progress = (*session)->progress();
  auto start = prepareLocation(invocation, **session, tree, progress);
  if (watch.interrupted()) {
    progress.clear();
    return ExitCode::Interrupted;
  }
  if (!start) return reportError(start.error());
  walked.locations = session::UseCases::indexLocations(tree, *start);
  const std::string startLocation = tree.shareLocation(*start);  // empty unless a share or folder
  std::atomic<bool> startFailed = false;

  std::mutex mutex;
  std::condition_variable done;
  std::optional<SearchSummary> finished;
  SearchEvents events;
  // One search per run of the tool, so every event is of our run: no id to compare.
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  // Only a terminal shares its lines with the progress line and a password question; rows for
  // a file or a pipe are never held back, however long a question stays open.
  const auto toOutput = [&](const std::string& lines) {
    if (terminal) {
      progress.write(std::cout, lines);
    } else {
      std::cout << lines << std::flush;
    }
  };
  events.rows = [&](RunId, std::vector<ResultRow> rows) {
    std::string lines;
    for (const ResultRow& row : rows) lines += formatResultRow(row, invocation.searchFormat, {}, terminal);
    toOutput(lines);
  };
  events.status = [&](RunId, const StatusUpdate& status) { progress.show(statusText(status)); };
  events.failed = [&](RunId, const ListingFailure& failure) {
    progress.write(std::cerr, escapeForTerminal(failureText(failure)) + '\n');
    if (!startLocation.empty() && failure.path == startLocation) startFailed = true;
    if (output.failuresAsRows) toOutput(formatFailure(failure, invocation.searchFormat));
  };
  events.finished = [&](RunId, const SearchSummary& result) {
    std::lock_guard lock(mutex);
    finished = result;
    done.notify_all();
  };

  SearchOptions options;
  options.shareWalk.maxParallelListings = static_cast<std::size_t>(invocation.connection.jobs);
  std::optional<RecordingLister> recording;
  session::UseCases& uses = (*session)->uses();
  if (recorder) recording.emplace(uses.lister(), *recorder);
  std::unique_ptr<SearchController> running = uses.search(tree, options, recording ? &*recording : nullptr);
  SearchController& search = *running;

  if (output.rows) std::cout << resultHeader(invocation.searchFormat);
  if (auto started = search.start(*start, pattern, events); !started) {
    return reportError(started.error());
  }
  while (true) {
    {
      std::unique_lock lock(mutex);
      if (done.wait_for(lock, kInterruptPoll, [&] { return finished.has_value(); })) break;
    }
    // Without `mutex`: stop() takes the search's delivery lock, under which `finished` takes
    // `mutex`.
    if (watch.interrupted()) search.stop();
  }
  search.waitUntilIdle();
  progress.clear();
  bool recorded = true;
  if (recorder) {
    recorder->flush();
    if (auto error = recorder->error()) {
      std::cerr << "The index could not be updated: " << describe(*error) << "\n";
      recorded = false;
    }
  }
  walked.summary = *finished;
  walked.startFailed = startFailed;
  if (!recorded && output.indexRequired) return ExitCode::FileError;
  // Ctrl+C may come as the search ends.
  if (walked.summary.stopped || watch.interrupted()) return ExitCode::Interrupted;
  return ExitCode::Success;
}

ExitCode runSearch(const Invocation& invocation) {
  if (invocation.fromIndex) return runIndexedSearch(invocation);
  Walked walked;
  const ExitCode code = walkLocation(invocation, invocation.pattern, WalkOutput{}, walked);
  if (code != ExitCode::Success && code != ExitCode::Interrupted) return code;
  const SearchSummary& summary = walked.summary;
  std::cerr << searchDoneNotice(summary.rows) << "\n";
  std::cerr << summary.failedFolders << (summary.failedFolders == 1 ? " folder" : " folders")
            << " could not be listed.\n";
  if (code == ExitCode::Interrupted) return code;
  // As for a server that lists no shares: the location cannot be reached, nothing was searched.
  if (walked.startFailed) return ExitCode::NetworkError;
  return summary.rows > 0 ? ExitCode::Success : ExitCode::NothingFound;
}

}  // namespace vuv::cli
