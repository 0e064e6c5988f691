// vuvuveva-cli: maps the SMB network and finds files on its shares from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "cli/argument_wipe.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "platform/core_dumps.h"

namespace {

vuv::cli::ExitCode run(const vuv::cli::Invocation& invocation) {
  using namespace vuv::cli;
  switch (invocation.command) {
    case Command::Help:
      std::cout << usageText();
      return ExitCode::Success;
    case Command::Version:
      std::cout << "vuvuveva-cli " VUV_VERSION "\n";
      return ExitCode::Success;
    case Command::Discover: return runDiscover(invocation);
    case Command::Tree: return runTree(invocation);
    case Command::Search: return runSearch(invocation);
    case Command::Copy: return runCopy(invocation);
    case Command::Index: return runIndex(invocation);
  }
  return ExitCode::Usage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vuv::cli;
  // Before any password arrives: from the arguments, the environment or the prompt.
  if (const int error = vuv::forbidCoreDumps(); error != 0) {
    return toInt(reportError(vuv::makeError(vuv::ErrorCode::Other, "turning core dumps off", error)));
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  wipePasswordArguments(argc, argv);
  auto invocation = parseArguments(args);
  wipeArgumentCopies(args);
  if (!invocation) {
    printError(invocation.error().detail);
    return toInt(ExitCode::Usage);
  }
  return toInt(finishStandardOutput(run(*invocation)));
}
