// vuvuveva-cli search: find files and folders by name pattern below a node of the network
// tree or a network path, printing rows as they arrive. Ctrl+C stops like the Stop button.
#include <csignal>
#include <condition_variable>
#include <iostream>
#include <mutex>

#include "cli/commands.h"
#include "cli/first_failure_lister.h"
#include "cli/location.h"
#include "cli/network_discovery.h"
#include "cli/output.h"
#include "cli/result_writer.h"
#include "cli/smb_session.h"
#include "search/search_controller.h"
#include "treefile/tree_file_reader.h"

namespace vuv::cli {

namespace {

constexpr auto kInterruptPoll = std::chrono::milliseconds(50);

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

// WS-Discovery failing costs the servers only it finds; the search goes on without them.
void noteFailure(const Status& learned) {
  if (!learned) std::cerr << "WS-Discovery failed: " << describe(learned.error()) << "\n";
}

// The tree to search in and the node to start from.
Result<NodeId> prepareLocation(const Invocation& invocation, SmbSession& session, NetworkTree& tree,
                               ProgressLine& progress) {
  if (isNetworkPath(invocation.location)) {
    const std::string_view path = std::string_view(invocation.location).substr(2);
    noteFailure(session.learnAddressOf(path.substr(0, path.find('\\'))));
    return placeNetworkPath(tree, session.browse(), invocation.location);
  }
  if (!invocation.treeFile.empty()) {
    if (auto root = loadTreeFile(invocation.treeFile, tree); !root) return root.error();
    noteFailure(session.learnAddresses());
  } else if (auto discovered = discoverNetwork(tree, session.browse(), {}, progress); !discovered) {
    return discovered.error();
  }
  return findNodeByPath(tree, invocation.location);
}

}  // namespace

ExitCode runSearch(const Invocation& invocation) {
  auto session = SmbSession::open(invocation.connection, invocation.source);
  if (!session) return reportError(session.error());

  NetworkTree tree;
  ProgressLine progress;
  auto start = prepareLocation(invocation, **session, tree, progress);
  if (!start) return reportError(start.error());

  std::mutex mutex;
  std::condition_variable done;
  std::optional<SearchSummary> summary;
  SearchEvents events;
  events.rows = [&](std::vector<ResultRow> rows) {
    progress.clear();
    for (const ResultRow& row : rows) std::cout << formatResultRow(row, invocation.searchFormat);
    std::cout << std::flush;
  };
  events.status = [&](const std::string& text) { progress.show(text); };
  events.finished = [&](const SearchSummary& result) {
    std::lock_guard lock(mutex);
    summary = result;
    done.notify_all();
  };

  SearchOptions options;
  options.shareWalk.maxParallelListings = static_cast<std::size_t>(invocation.connection.jobs);
  FirstFailureLister lister((*session)->lister());
  SearchController search(tree, lister, options);

  std::cout << resultHeader(invocation.searchFormat);
  interrupted = 0;
  const auto previous = std::signal(SIGINT, onInterrupt);
  if (auto started = search.start(*start, invocation.pattern, events); !started) {
    std::signal(SIGINT, previous);
    return reportError(started.error());
  }
  {
    std::unique_lock lock(mutex);
    while (!done.wait_for(lock, kInterruptPoll, [&] { return summary.has_value(); })) {
      if (interrupted) search.stop();
    }
  }
  search.waitUntilIdle();
  std::signal(SIGINT, previous);
  progress.clear();

  std::cerr << "Search finished. " << summary->rows << " files found.\n";
  std::cerr << summary->failedFolders << (summary->failedFolders == 1 ? " folder" : " folders")
            << " could not be listed.\n";
  if (auto first = lister.firstFailure(); first && summary->failedFolders > 0) {
    std::cerr << "The first: " << describe(*first) << "\n";
  }
  if (summary->stopped) return ExitCode::Interrupted;
  return summary->rows > 0 ? ExitCode::Success : ExitCode::NothingFound;
}

}  // namespace vuv::cli
