// The system resolver (hosts file, DNS) with a time limit: names for the IPv4 addresses of hosts
// that answered a probe but not their metadata request (reverse lookup, NI_NAMEREQD: a name or
// nothing), and whether a server name resolves at all.
//
// getnameinfo and getaddrinfo cannot be given a time limit, so each lookup runs in a thread of
// its own and the caller waits at most `timeout`; a lookup still running then finishes on its
// own, and its answer is dropped.
//
// Thread safety: reentrant.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vuv::wsd {

// Address -> name (without a trailing dot) for the addresses that have one in time.
std::map<std::string, std::string> reverseLookup(const std::vector<std::string>& addresses,
                                                 std::chrono::milliseconds timeout);

// True when the system resolver finds an address for `name` in time.
bool resolvesByName(const std::string& name, std::chrono::milliseconds timeout);

}  // namespace vuv::wsd
