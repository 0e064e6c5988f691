// Enumeration: lists domains, the servers of a domain and the shares of a server from the
// browse service into the network tree, with the status texts and diagnostic lines that go
// with them.
//
// Thread safety: stateless; any number of calls may run at once as long as the tree, the
// browse service and the sink are thread-safe (ours are) and the status callback is too.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "browse/browse_service.h"
#include "discovery/diagnostics.h"
#include "tree/network_tree.h"

namespace vuv {

using StatusCallback = std::function<void(const std::string& text)>;

// Status text before a domain's or a server's name, word for word as users know it.
inline constexpr std::string_view kGettingInformation = "Getting information about ";

struct EnumerationContext {
  NetworkTree& tree;
  BrowseService& browse;
  DiagnosticSink& diagnostics;
  StatusCallback status;  // may be empty
  std::stop_token stop;   // the run's; never requested by default
};

// With listDomains: every domain and workgroup as a sorted Domain node under `parent`.
// Otherwise: every server of `domain` as a sorted Server node under `parent`, each followed at
// once by its shares. Failures leave `parent` without new children and are reported only by
// the diagnostic line.
void enumerateServers(const EnumerationContext& context, bool listDomains, std::string_view domain,
                      NodeId parent);

// Every share of `server`, in the server's order, as Share nodes under `serverNode`. A failed
// listing is silent: the node keeps the shares inserted so far.
void enumerateShares(const EnumerationContext& context, std::string_view server, NodeId serverNode);

}  // namespace vuv
