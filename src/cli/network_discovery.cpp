#include "cli/network_discovery.h"

#include <iostream>

#include "cli/output.h"
#include "cli/tree_printer.h"
#include "discovery/discovery.h"

namespace vuv::cli {

Status discoverNetwork(NetworkTree& tree, BrowseService& browse, Executor& executor,
                       const std::vector<std::string>& addWorkgroups, ProgressLine& progress) {
  // Standard output carries only results, so every diagnostic line goes to standard error.
  StreamDiagnostics streams(std::cerr, std::cerr);
  TerminalDiagnostics diagnostics(streams);
  DiscoveryEvents events;
  events.status = [&progress](RunId, const StatusUpdate& status) { progress.show(statusText(status)); };
  events.failed = [&progress](RunId, const ListingFailure& failure) {
    progress.clear();
    std::cerr << escapeForTerminal(failureText(failure)) << '\n';
  };
  Discovery discovery(tree, browse, diagnostics, executor, std::move(events));
  if (auto started = discovery.discover(); !started) return started.error();
  // Added names go after the discovered ones, as when the window's Add comes later.
  discovery.waitUntilIdle();
  for (const std::string& workgroup : addWorkgroups) discovery.addDomain(workgroup);
  discovery.waitUntilIdle();
  progress.clear();
  return success();
}

}  // namespace vuv::cli
