// The network's browse service: which domains and workgroups there are, which servers belong
// to a domain, which shares a server offers.
//
// Thread safety: implementations must accept concurrent calls from any number of threads;
// discovery calls it from one worker per domain at once.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vuv {

enum class BrowseStatus {
  Success,   // names holds the whole list
  MoreData,  // names holds a first batch; totalEntries says how many there are in all
  Failure,   // nothing listed; failureCode says why
};

struct BrowseReply {
  BrowseStatus status = BrowseStatus::Success;
  int failureCode = 0;             // with Failure: an errno-style number, never 0
  std::uint32_t totalEntries = 0;  // with MoreData
  std::vector<std::string> names;  // UTF-8, in the order the network gave them
  std::string failureDetail;       // with Failure: which source failed and how, for diagnostics
  std::vector<std::string> notes;  // any status: one diagnostic line each (a source that failed
                                   // while another answered), without the line end
};

class BrowseService {
 public:
  virtual ~BrowseService() = default;

  // Every call takes the stop token of the run it serves: once stop is requested the call
  // returns promptly (a Failure with ECANCELED) instead of waiting for a slow or silent host.
  virtual BrowseReply listDomains(std::stop_token stop) = 0;
  virtual BrowseReply listServers(std::string_view domain, std::stop_token stop) = 0;

  // Shares may come in batches: while the reply is MoreData, call again with the same
  // `resume`, which the service advanced past the batch it returned. Start with resume = 0.
  virtual BrowseReply listShares(std::string_view server, std::uint32_t& resume,
                                 std::stop_token stop) = 0;
};

}  // namespace vuv
