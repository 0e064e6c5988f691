// vuvuveva-cli discover: build the network tree as the window's Discover command does, add the
// named workgroups as Add domain does, then print (and optionally save) the tree.
#include "cli/commands.h"
#include "cli/network_discovery.h"
#include "cli/output.h"
#include "cli/smb_session.h"
#include "treefile/tree_file_writer.h"

namespace vuv::cli {

ExitCode runDiscover(const Invocation& invocation) {
  auto session = SmbSession::open(invocation.connection, invocation.source);
  if (!session) return reportError(session.error());

  NetworkTree tree;
  ProgressLine progress;
  if (auto discovered =
          discoverNetwork(tree, (*session)->browse(), (*session)->executor(), invocation.addWorkgroups, progress);
      !discovered) {
    printError(discovered.error());
    return ExitCode::NetworkError;
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
