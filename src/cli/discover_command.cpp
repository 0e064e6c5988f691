// vuvuveva-cli discover: build the network tree as the window's Discover command does, add the
// named workgroups as Add domain does, then print (and optionally save) the tree.
#include "cli/commands.h"
#include "cli/network_discovery.h"
#include "cli/output.h"
#include "cli/command_session.h"
#include "cli/interrupt_watch.h"
#include "treefile/tree_file_writer.h"

namespace vuv::cli {

ExitCode runDiscover(const Invocation& invocation) {
  auto session = CommandSession::open(invocation.connection, invocation.source);
  if (!session) return reportError(session.error());

  NetworkTree tree;
  ProgressLine& progress = (*session)->progress();
  {
    // Ctrl+C stops every browse call at once; the workers of the discovery then end quickly.
    InterruptWatch watch([&] { (*session)->stop(); });
    const Status discovered = discoverNetwork((*session)->uses(), tree, invocation.addWorkgroups, progress,
                                              (*session)->stopToken());
    if (watch.interrupted()) {
      progress.clear();
      return ExitCode::Interrupted;
    }
    if (!discovered) {
      printError(discovered.error());
      return ExitCode::NetworkError;
    }
  }

  if (!invocation.saveFile.empty()) {
    if (auto saved = saveTreeFile(tree, tree.root(), invocation.saveFile); !saved) {
      printError(saved.error());
      return ExitCode::FileError;
    }
  }
  return printTree(tree, invocation.treeFormat);
}

}  // namespace vuv::cli
