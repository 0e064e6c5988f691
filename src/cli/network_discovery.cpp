#include "cli/network_discovery.h"

#include <iostream>

#include "discovery/discovery.h"

namespace vuv::cli {

Status discoverNetwork(NetworkTree& tree, BrowseService& browse, const std::vector<std::string>& addWorkgroups,
                       ProgressLine& progress) {
  // Standard output carries only results, so every diagnostic line goes to standard error.
  StreamDiagnostics diagnostics(std::cerr, std::cerr);
  Discovery discovery(tree, browse, diagnostics,
                      DiscoveryEvents{[&progress](const std::string& text) { progress.show(text); }, {}});
  if (auto root = discovery.discover(); !root) return root.error();
  for (const std::string& workgroup : addWorkgroups) discovery.addDomain(workgroup);
  discovery.waitUntilIdle();
  progress.clear();
  return success();
}

}  // namespace vuv::cli
