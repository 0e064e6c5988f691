// The network as two sources show it: the NetBIOS browse lists (another BrowseService, over
// SMB1) and the hosts that announce themselves (HostDiscovery, WS-Discovery). Workgroups and
// domains are the union of both; a domain's servers are both lists merged, names compared
// ignoring case (the browse list's spelling wins); shares come from the SMB service for every
// server alike.
//
// One discovery, one round of host discovery: each listDomains starts a fresh round, runs it
// as an executor task beside the NetBIOS listing and waits for both. listServers uses the
// latest round's result, and starts a round only when there has been none or the last one was
// stopped (a domain added by name before any discovery).
//
// Stop: a round ends early when the call that started it is stopped; a stopped caller never
// waits for a round (its reply is a Failure with ECANCELED), whoever started the round. When a
// round ends the address book weighs its hosts (HostAddressBook::admitAnnounced): those it
// refuses (a name that resolves elsewhere, or that two hosts claim) leave the round, and the
// discovery's domain list carries a note for each; entries of hosts that did not answer again
// are kept.
//
// A domain only host discovery knows of is not asked of NetBIOS (which would have to fail,
// slowly); a domain the user adds by name and neither source knows is asked as before.
// When one source fails and the other has something, the reply is a success with a note that
// says which source failed; when nothing is left, the failure is NetBIOS's, unchanged.
//
// Thread safety: any number of threads at once, as BrowseService requires; concurrent
// listServers calls share one round. The destructor stops a running round and waits for it
// (promptly: HostDiscovery honours its stop token); a round not started yet is dropped. The
// services, the host discovery, the address book and the executor must outlive this object.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/executor.h"
#include "base/mutex.h"
#include "base/task_scope.h"
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
  MergedBrowseService(BrowseService& smb, HostDiscovery* hosts, HostAddressBook* book, Sources sources,
                      Executor& executor);
  ~MergedBrowseService() override;

  BrowseReply listDomains(std::stop_token stop) override;
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override;
  BrowseReply listShares(std::string_view server, std::uint32_t& resume,
                         std::stop_token stop) override;

 private:
  using Hosts = Result<std::vector<DiscoveredHost>>;
  struct Round;

  bool usesHosts() const { return sources_.hostDiscovery && hosts_ != nullptr; }
  std::shared_ptr<Round> launchRound() REQUIRES(mutex_);
  void runRound(Round& round);  // does nothing when someone runs it already
  std::shared_ptr<Round> startRound() EXCLUDES(mutex_);
  std::shared_ptr<Round> currentRound() EXCLUDES(mutex_);
  // The round's hosts, or nullopt when `stop` came first (the round goes on for others).
  std::optional<Hosts> await(const std::shared_ptr<Round>& round, std::stop_token stop);
  bool listedByNetbios(std::string_view domain) EXCLUDES(mutex_);

  BrowseService& smb_;
  HostDiscovery* hosts_;
  HostAddressBook* book_;
  Sources sources_;

  Mutex mutex_;
  bool netbiosListed_ GUARDED_BY(mutex_) = false;
  std::vector<std::string> netbiosDomains_ GUARDED_BY(mutex_);  // the last NetBIOS domain list
  std::shared_ptr<Round> round_ GUARDED_BY(mutex_);             // the latest round
  TaskScope tasks_;  // the rounds; last member: closed first
};

}  // namespace vuv
