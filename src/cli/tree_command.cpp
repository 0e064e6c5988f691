// vuvuveva-cli tree FILE: load a network tree file and print it.
#include <iostream>

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
  auto text = renderTree(tree, invocation.treeFormat);
  if (!text) {
    printError(text.error());
    return ExitCode::FileError;
  }
  std::cout << *text << std::flush;
  return ExitCode::Success;
}

}  // namespace vuv::cli
