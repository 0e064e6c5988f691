#include "cli/network_discovery.h"

#include <iostream>

#include "cli/output.h"
#include "cli/tree_printer.h"

namespace vuv::cli {

Status discoverNetwork(session::UseCases& uses, NetworkTree& tree, const std::vector<std::string>& addWorkgroups,
                       ProgressLine& progress, std::stop_token stop) {
  // Standard output carries only results, so every diagnostic line goes to standard error.
  StreamDiagnostics streams(std::cerr, std::cerr);
  TerminalDiagnostics diagnostics(streams);
  DiscoveryEvents events;
  events.status = [&progress](RunId, const StatusUpdate& status) { progress.show(statusText(status)); };
  events.failed = [&progress](RunId, const ListingFailure& failure) {
    progress.write(std::cerr, escapeForTerminal(failureText(failure)) + '\n');
  };
  const Status discovered = uses.discover(tree, addWorkgroups, diagnostics, std::move(events), stop);
  progress.clear();
  return discovered;
}

}  // namespace vuv::cli
