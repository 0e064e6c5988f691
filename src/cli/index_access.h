// The command line's side of the index of names: where it is, the walk that records into it
// (shared by search and index), and answers from it alone.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "index/index_writer.h"
#include "search/search_controller.h"

namespace vuv::cli {

// The database --index-file names, else the user's own.
Result<std::string> indexPath(const Invocation& invocation);
Result<std::unique_ptr<index::IndexWriter>> openIndexWriter(const Invocation& invocation);

struct WalkOutput {
  bool rows = true;            // the format's header before the rows
  bool failuresAsRows = true;  // folders that could not be listed among the rows (json)
  bool indexRequired = false;  // what could not be recorded fails the run (FileError)
};

struct Walked {
  SearchSummary summary;
  std::vector<std::string> locations;  // the network locations below the start, as the index keys them
  bool startFailed = false;            // a share or folder to start from could not be listed at all
};

// Walks the invocation's location for `pattern`, printing rows and failures as search does
// and recording into the index unless --no-index. Success or Interrupted with `walked` set;
// another code when the walk could not start, or FileError when `output.indexRequired` and
// the index could not be kept (the error already printed).
ExitCode walkLocation(const Invocation& invocation, const std::string& pattern, const WalkOutput& output,
                      Walked& walked);

}  // namespace vuv::cli
