// The network's browse lists, read through SMB worker processes: smb:// for the workgroups
// and domains, smb://WORKGROUP for its servers, smb://SERVER for its shares (all of them,
// IPC$ and printers included, in the server's order, in one reply).
//
// A list whose worker crashed or was killed from outside is asked again once on a fresh worker;
// a stop kills the worker at once (WorkerPool).
//
// Thread safety: as BrowseService requires, any number of threads at once (the pool runs each
// call on its own worker). The pool must outlive the service.
#pragma once

#include "browse/browse_service.h"
#include "browse/host_address_book.h"
#include "smb/client/worker_pool.h"

namespace vuv::smb {

class SmbBrowseService : public BrowseService {
 public:
  // Servers are reached where `book` (may be null) places them (HostAddressBook::hostFor).
  // `prompting` Never: a server that refuses guests fails with AccessDenied, nobody is asked.
  explicit SmbBrowseService(WorkerPool& pool, HostAddressBook* book = nullptr,
                            Prompting prompting = Prompting::Allowed)
      : pool_(pool), book_(book), prompting_(prompting) {}

  BrowseReply listDomains(std::stop_token stop) override;
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override;
  // Never MoreData: `resume` is left as it is.
  BrowseReply listShares(std::string_view server, std::uint32_t& resume,
                         std::stop_token stop) override;

 private:
  BrowseReply list(protocol::Operation operation, const std::string& url, std::stop_token stop,
                   std::string_view server = {});

  WorkerPool& pool_;
  HostAddressBook* book_;
  const Prompting prompting_;
};

}  // namespace vuv::smb
