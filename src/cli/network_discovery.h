// Discovery for the command line: as the window's Discover command, then each named workgroup
// as Add domain; returns when every worker has ended. Diagnostic lines and servers whose
// shares could not be listed go to standard error, progress to the progress line.
#pragma once

#include <string>
#include <vector>

#include "base/executor.h"
#include "base/result.h"
#include "browse/browse_service.h"
#include "cli/output.h"
#include "tree/network_tree.h"

namespace vuv::cli {

Status discoverNetwork(NetworkTree& tree, BrowseService& browse, Executor& executor,
                       const std::vector<std::string>& addWorkgroups, ProgressLine& progress);

}  // namespace vuv::cli
