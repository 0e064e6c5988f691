// The hosts file and DNS with a time limit: names for the IPv4 addresses of hosts that answered
// a probe but not their metadata request (reverse lookup: a name or nothing), and whether a
// server name resolves at all. NameServices places server names by the hosts file, DNS and
// a NetBIOS broadcast at once, the first answer for a name winning: the session's one lookup
// per name (the NetBIOS answer arrives in milliseconds; only a name nobody has waits out the
// time limit). NetBIOS goes to the broadcast address of every interface that is up; WINS
// servers are not asked.
//
// The lookups run on the calling thread through c-ares, which polls its own sockets: no
// thread is started, and the call returns by its time limit or at once on `stop`, leaving
// nothing running behind it.
//
// Thread safety: reentrant; each call has a resolver and sockets of its own.
#pragma once

#include <chrono>
#include <map>
#include <stop_token>
#include <string>
#include <vector>

#include "browse/name_resolver.h"

namespace vuv::wsd {

// Address -> name (without a trailing dot) for the addresses that have one in time.
std::map<std::string, std::string> reverseLookup(const std::vector<std::string>& addresses,
                                                 std::chrono::milliseconds timeout,
                                                 std::stop_token stop = {});

class NameServices final : public NameResolver {
 public:
  explicit NameServices(std::chrono::milliseconds timeout) : timeout_(timeout) {}
  std::map<std::string, ResolvedName> resolve(const std::vector<std::string>& names,
                                              std::stop_token stop) override;

 private:
  const std::chrono::milliseconds timeout_;
};

}  // namespace vuv::wsd
