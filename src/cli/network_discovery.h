// Discovery for the command line: the session's discovery with each named workgroup added
// after it; returns when every worker has ended. Diagnostic lines and servers whose shares
// could not be listed go to standard error, progress to the progress line.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/output.h"
#include "session/use_cases.h"
#include "tree/network_tree.h"

namespace vuv::cli {

Status discoverNetwork(session::UseCases& uses, NetworkTree& tree, const std::vector<std::string>& addWorkgroups,
                       ProgressLine& progress, std::stop_token stop);

}  // namespace vuv::cli
