// A source of hosts other than the browse lists: computers that announce themselves (by
// WS-Discovery) with their name, their workgroup or domain and their address.
//
// Thread safety: discover() may be called from any thread, also while another call runs (two
// discoveries started close together each run their own round).
#pragma once

#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vuv {

struct DiscoveredHost {
  std::string name;      // as the host gives it; its address when it gave none
  std::string group;     // workgroup or domain; "WORKGROUP" when the host named none
  bool isDomain = false;
  std::string address;   // IPv4, dotted; empty when unknown
};

inline constexpr std::string_view kDefaultWorkgroup = "WORKGROUP";

class HostDiscovery {
 public:
  virtual ~HostDiscovery() = default;
  // One round: asks the network and returns what answered within the round's time. An empty
  // list is a success; errors mean the question could not be asked at all.
  // Once `stop` is requested the round ends promptly with what it has found so far.
  virtual Result<std::vector<DiscoveredHost>> discover(std::stop_token stop) = 0;
};

}  // namespace vuv
