// The command line tool's commands. Each returns the process exit code.
#pragma once

#include "cli/cli_options.h"
#include "cli/exit_codes.h"

namespace vuv::cli {

ExitCode runDiscover(const Invocation& invocation);
ExitCode runTree(const Invocation& invocation);
ExitCode runSearch(const Invocation& invocation);
ExitCode runCopy(const Invocation& invocation);
ExitCode runIndex(const Invocation& invocation);
// search --from-index
ExitCode runIndexedSearch(const Invocation& invocation);

}  // namespace vuv::cli
