// vuvuveva-cli index: records everything below a location in the index of names, or forgets
// it (--clear); and search --from-index, which answers from the index without the network.
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <vector>

#include "cli/commands.h"
#include "cli/index_access.h"
#include "cli/output.h"
#include "cli/result_writer.h"
#include "index/index_path.h"
#include "index/index_store.h"
#include "session/use_cases.h"
#include "status/status_update.h"
#include "treefile/tree_file_reader.h"

namespace vuv::cli {

namespace {

// Network paths as given; a node path through the tree file, without the network.
Result<std::vector<std::string>> indexedLocations(const Invocation& invocation) {
  if (invocation.location.empty()) return std::vector<std::string>{std::string()};
  if (session::UseCases::isNetworkPath(invocation.location)) {
    if (Status checked = session::UseCases::checkNetworkPath(invocation.location); !checked) return checked.error();
    return std::vector<std::string>{invocation.location};
  }
  if (invocation.treeFile.empty()) {
    return makeError(ErrorCode::InvalidArgument,
                     "the index knows network paths only: give \\\\SERVER[\\SHARE...], or a node path with --tree FILE");
  }
  NetworkTree tree;
  if (auto root = loadTreeFile(invocation.treeFile, tree); !root) return root.error();
  auto node = session::UseCases::findNode(tree, invocation.location);
  if (!node) return node.error();
  return session::UseCases::indexLocations(tree, *node);
}

Result<index::IndexStore> openStore(const Invocation& invocation) {
  auto path = indexPath(invocation);
  if (!path) return path.error();
  return index::IndexStore::open(*path);
}

// Where an index to read or clear is: one that is not there is said so, not made empty (a
// mistyped --index-file would otherwise answer "nothing found").
Result<std::string> existingIndexPath(const Invocation& invocation) {
  auto path = indexPath(invocation);
  if (!path) return path.error();
  std::error_code error;
  if (!std::filesystem::exists(*path, error)) {
    return makeError(ErrorCode::Io, "no index at " + *path + " (index or a live search makes one)", ENOENT);
  }
  return path;
}

ExitCode clearIndex(const Invocation& invocation) {
  auto locations = indexedLocations(invocation);
  if (!locations) return reportError(locations.error());
  auto path = existingIndexPath(invocation);
  if (!path) return reportError(path.error());
  auto store = index::IndexStore::open(*path);
  if (!store) return reportError(store.error());
  for (const std::string& location : *locations) {
    if (auto cleared = store->clear(location); !cleared) return reportError(cleared.error());
  }
  return ExitCode::Success;
}

}  // namespace

Result<std::string> indexPath(const Invocation& invocation) {
  if (!invocation.indexFile.empty()) return invocation.indexFile;
  return index::defaultIndexPath();
}

Result<std::unique_ptr<index::IndexWriter>> openIndexWriter(const Invocation& invocation) {
  auto path = indexPath(invocation);
  if (!path) return path.error();
  return index::IndexWriter::open(*path);
}

ExitCode runIndex(const Invocation& invocation) {
  if (invocation.clearIndex) return clearIndex(invocation);
  // Opened first: a walk that could record nothing is not worth its time.
  auto store = openStore(invocation);
  if (!store) return reportError(store.error());
  Walked walked;
  WalkOutput output;
  output.rows = false;
  output.failuresAsRows = false;
  output.indexRequired = true;
  // An empty pattern matches nothing, and every folder is still listed.
  const ExitCode code = walkLocation(invocation, "", output, walked);
  if (code != ExitCode::Success && code != ExitCode::Interrupted) return code;

  index::IndexSummary known;
  for (const std::string& location : walked.locations) {
    auto part = store->summary(location);
    if (!part) return reportError(part.error());
    known.folders += part->folders;
    known.entries += part->entries;
  }
  std::cout << "The index holds " << known.entries << (known.entries == 1 ? " entry" : " entries") << " in "
            << known.folders << (known.folders == 1 ? " folder" : " folders") << " below " << invocation.location
            << "; " << walked.summary.failedFolders << (walked.summary.failedFolders == 1 ? " folder" : " folders")
            << " could not be listed.\n";
  return code == ExitCode::Success && walked.startFailed ? ExitCode::NetworkError : code;
}

ExitCode runIndexedSearch(const Invocation& invocation) {
  auto locations = indexedLocations(invocation);
  if (!locations) return reportError(locations.error());
  auto path = existingIndexPath(invocation);
  if (!path) return reportError(path.error());
  // Rows are written as the index hands them over: a million of them are never held at once.
  std::uint64_t rows = 0;
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  std::cout << resultHeader(invocation.searchFormat);
  const auto write = [&](const index::IndexedRow& row) {
    std::cout << formatResultRow(row.row, invocation.searchFormat, row.seen, terminal);
    ++rows;
    return true;
  };
  const auto answered = session::UseCases::findInIndex(*path, *locations, invocation.pattern, write);
  if (!answered) return reportError(answered.error());
  std::cout << std::flush;
  std::cerr << searchDoneNotice(rows) << "\n";
  return rows > 0 ? ExitCode::Success : ExitCode::NothingFound;
}

}  // namespace vuv::cli
