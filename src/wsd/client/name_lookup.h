// The hosts file and DNS with a time limit: names for the IPv4 addresses of hosts that answered
// a probe but not their metadata request (reverse lookup: a name or nothing), and whether a
// server name resolves at all.
//
// The lookups run on the calling thread through c-ares, which polls its own sockets: no
// thread is started, and the call returns by its time limit or at once on `stop`, leaving
// nothing running behind it.
//
// Thread safety: reentrant; each call has a resolver of its own.
#pragma once

#include <chrono>
#include <map>
#include <stop_token>
#include <string>
#include <vector>

namespace vuv::wsd {

// Address -> name (without a trailing dot) for the addresses that have one in time.
std::map<std::string, std::string> reverseLookup(const std::vector<std::string>& addresses,
                                                 std::chrono::milliseconds timeout,
                                                 std::stop_token stop = {});

// True when the hosts file alone gives an address for `name`: a local read, no network.
bool inHostsFile(const std::string& name);

// True when the hosts file or DNS gives an address for `name` in time.
bool resolvesByName(const std::string& name, std::chrono::milliseconds timeout,
                    std::stop_token stop = {});

}  // namespace vuv::wsd
