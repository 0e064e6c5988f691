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
#include <vector>

#include "browse/browse_service.h"
#include "discovery/diagnostics.h"
#include "status/listing_failure.h"
#include "status/status_update.h"
#include "tree/network_tree.h"

namespace vuv {

using StatusCallback = std::function<void(const StatusUpdate& status)>;
using FailureCallback = std::function<void(const ListingFailure& failure)>;

struct EnumerationContext {
  NetworkTree& tree;
  BrowseService& browse;
  DiagnosticSink& diagnostics;
  StatusCallback status;   // may be empty
  std::stop_token stop;    // the run's; never requested by default
  FailureCallback failed;  // may be empty
};

// With listDomains: every domain and workgroup as a sorted Domain node under `parent`.
// Otherwise: every server of `domain` as a sorted Server node under `parent`, each followed at
// once by its shares. Failures leave `parent` without new children and are reported only by
// the diagnostic line. Ends early, inserting nothing more, when the stop token is requested
// or `parent` went away (the tree was cleared): never inserts anywhere else instead. Returns
// the nodes it inserted under `parent`.
std::vector<NodeId> enumerateServers(const EnumerationContext& context, bool listDomains,
                                     std::string_view domain, NodeId parent);

// Every share of `server`, in the server's order, as Share nodes under `serverNode`. A failed
// listing leaves the node with the shares inserted so far and goes to `failed` (not when the
// run was stopped); a refusal (access denied) also marks the server NetworkTree::needsLogon. Ends early like enumerateServers.
void enumerateShares(const EnumerationContext& context, std::string_view server, NodeId serverNode);

}  // namespace vuv
