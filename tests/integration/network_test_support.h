// Helpers for tests that run on the Samba test network, inside its client namespace.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace vuv::testing {

// Runs tests/network/testnet.sh with `arguments`; returns its exit status.
int runTestNetwork(const std::string& arguments);

// PIDs of this process's SMB worker children (processes this test started).
std::vector<pid_t> ourWorkerProcesses();

std::string readFile(const std::string& path);

}  // namespace vuv::testing
