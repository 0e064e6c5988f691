// The network as two sources show it: the NetBIOS browse lists (another BrowseService, over
// SMB1) and the hosts that announce themselves (HostDiscovery, WS-Discovery). Workgroups and
// domains are the union of both; a domain's servers are both lists merged, names compared
// ignoring case (the browse list's spelling wins); shares come from the SMB service for every
// server alike.
//
// One discovery, one round of host discovery: each listDomains starts a fresh round, runs it
// beside the NetBIOS listing and waits for both. listServers uses the latest round's result,
// and starts a round only when there has been none (a domain added by name before any
// discovery). When a round ends its hosts' addresses go into the address book, replacing older
// entries of the same name; entries of hosts that did not answer again are kept.
//
// A domain only host discovery knows of is not asked of NetBIOS (which would have to fail,
// slowly); a domain the user adds by name and neither source knows is asked as before.
// When one source fails and the other has something, the reply is a success with a note that
// says which source failed; when nothing is left, the failure is NetBIOS's, unchanged.
//
// Thread safety: any number of threads at once, as BrowseService requires; concurrent
// listServers calls share one round. A caller whose stop comes while it waits for the round
// returns a Cancelled failure and leaves the round to the others; the destructor stops a
// running round and waits for it. The services,
// the host discovery and the address book must outlive this object.
#pragma once

#include <future>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "browse/browse_service.h"
#include "browse/host_address_book.h"
#include "browse/host_discovery.h"

namespace vuv {

class MergedBrowseService final : public BrowseService {
 public:
  struct Sources {
    bool netbios = true;
    bool hostDiscovery = true;
  };

  // `hosts` and `book` may be null: NetBIOS only (or nothing to record).
  MergedBrowseService(BrowseService& smb, HostDiscovery* hosts, HostAddressBook* book, Sources sources);
  ~MergedBrowseService() override;
  MergedBrowseService(const MergedBrowseService&) = delete;
  MergedBrowseService& operator=(const MergedBrowseService&) = delete;

  BrowseReply listDomains(std::stop_token stop) override;
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override;
  BrowseReply listShares(std::string_view server, std::uint32_t& resume,
                         std::stop_token stop) override;

 private:
  using Hosts = Result<std::vector<DiscoveredHost>>;
  using Round = std::shared_future<Hosts>;

  bool usesHosts() const { return sources_.hostDiscovery && hosts_ != nullptr; }
  Round launchRound();  // with mutex_ held
  Round startRound();
  Round currentRound();
  bool listedByNetbios(std::string_view domain);

  BrowseService& smb_;
  HostDiscovery* hosts_;
  HostAddressBook* book_;
  Sources sources_;

  std::stop_source rounds_;  // stops the round when this service goes
  std::mutex mutex_;
  bool netbiosListed_ = false;               // guarded by mutex_
  std::vector<std::string> netbiosDomains_;  // guarded by mutex_: the last NetBIOS domain list
  Round round_;                              // guarded by mutex_; last member: destroyed first
};

}  // namespace vuv
