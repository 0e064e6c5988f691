// Helpers for tests that run on the Samba test network, inside its client namespace.
#pragma once

#include <cstdlib>
#include <string>

namespace vuv::testing {

// Runs tests/network/testnet.sh with `arguments`; returns its exit status.
inline int runTestNetwork(const std::string& arguments) {
  return std::system(("'" VUV_TESTNET_SCRIPT "' " + arguments).c_str());
}

}  // namespace vuv::testing
