// Copies a file or a folder (with everything below it) from a share into a local folder,
// under the item's own name, so that a failure or a stop never leaves a partial copy:
//
// - A file is written to a hidden temporary file in the destination folder (created
//   exclusively, mode 0666 less the umask), every write checked, its modification time set to
//   the server's, then renamed into place. A folder is built the same way in a hidden
//   temporary folder, renamed into place when all of it is there. Whatever fails, the
//   temporary file or folder is removed.
// - A copy that replaces an existing item is fsynced (files and folders) before the rename, so
//   that a crash cannot lose the old one for a new one the disk has not got. A copy under a new
//   name is not, as with rsync and cp: a crash can cost only that copy, and the copy runs at
//   the network's speed rather than waiting for the disk (a fifth of a 100 MB copy's time).
// - An existing file or folder of that name stays unless `replace` is given; without it the
//   copy fails with AlreadyExists before any byte moves (and again at the rename, should one
//   appear meanwhile). Replacing keeps the old one until the new one is complete.
// - A folder is listed whole first (copy_plan.h), so progress counts against the total bytes.
// - Each file's bytes are counted against the size the reader announced at the open: fewer is
//   EndedEarly, more FileChanged; never a silently short copy. Sizes and offsets are 64-bit.
// - Blocks of zeros are not written but skipped over, so sparse files stay sparse.
//
// Errors name the copied item: "Could not copy \\S1\Public\a.txt" (and, inside a folder, the
// file or folder that failed), plus the local path for local failures (LocalWrite with the
// errno); describe() words them. A stop gives Cancelled.
//
// Thread rules: runs on the calling thread, which it blocks until the copy ends; `progress`
// is called on it too, a few times a second at most (settings.progressInterval). A stop
// request ends it as soon as the reader returns, which the reader makes prompt.
#pragma once

#include <chrono>
#include <functional>
#include <stop_token>
#include <string>

#include "base/result.h"
#include "browse/directory_lister.h"
#include "transfer/copy_plan.h"
#include "transfer/local_files.h"
#include "transfer/transfer_progress.h"

namespace vuv {

struct CopyRequest {
  std::string item;               // UNC path of the file or folder
  bool isFolder = false;
  std::string destinationFolder;  // an existing local folder
  bool replace = false;
};

struct CopySettings {
  LocalFileCalls calls = LocalFileCalls::system();
  std::function<TransferClock::time_point()> clock = [] { return TransferClock::now(); };
  TransferClock::duration progressInterval = std::chrono::milliseconds(250);
  CopyPlanLimits plan;
};

using CopyProgressSink = std::function<void(const TransferProgress& progress)>;

// The local path of the finished copy.
Result<std::string> copyToFolder(const CopyRequest& request, DirectoryLister& lister, FileReader& reader,
                                 std::stop_token stop, const CopyProgressSink& progress,
                                 const CopySettings& settings = {});

}  // namespace vuv
