// vuvuveva-cli tree FILE: load a network tree file and print it.
#include "cli/commands.h"
#include "cli/output.h"
#include "treefile/tree_file_reader.h"

namespace vuv::cli {

ExitCode runTree(const Invocation& invocation) {
  NetworkTree tree;
  if (auto root = loadTreeFile(invocation.treeFile, tree); !root) {
    printError(root.error());
    return ExitCode::FileError;
  }
  return printTree(tree, invocation.treeFormat);
}

}  // namespace vuv::cli
