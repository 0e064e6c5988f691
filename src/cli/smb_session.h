// The network side of one command line run: the SMB worker pool with the browse and listing
// services on it, WS-Discovery, and the browse service that merges the sources the user chose
// (--source). Set up from the connection options (credentials, time limit, worker count).
//
// Servers found by WS-Discovery go into the session's address book, which the SMB services
// consult: such a server is reached at its address even when no NetBIOS lookup finds its name.
//
// Thread safety: browse() and lister() are thread-safe services; the learn* calls are for the
// command's main thread, before the walk starts.
#pragma once

#include <memory>
#include <string_view>

#include "base/executor.h"
#include "base/result.h"
#include "browse/host_address_book.h"
#include "browse/merged_browse_service.h"
#include "cli/cli_options.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"
#include "smb/client/worker_pool.h"
#include "wsd/client/wsd_host_discovery.h"

namespace vuv::cli {

class SmbSession {
 public:
  // Resolves the credentials (-A file, password prompt) and checks that the worker can run.
  static Result<std::unique_ptr<SmbSession>> open(const ConnectionOptions& options, DiscoverySource source);

  BrowseService& browse() { return merged_; }
  DirectoryLister& lister() { return lister_; }
  // Runs discovery and search work; one thread per SMB worker at most.
  Executor& executor() { return executor_; }

  // A search of \\SERVER...: finds SERVER's address by WS-Discovery (a round that ends as soon
  // as SERVER answers) unless the sources exclude it, the address is known, or the system
  // resolver finds the name.
  Status learnAddressOf(std::string_view server);
  // A search in a saved tree: one round for the addresses of every announced server.
  Status learnAddresses();

  SmbSession(smb::WorkerPoolOptions options, std::unique_ptr<CredentialPrompt> prompt, DiscoverySource source);

 private:
  Status record(const Result<std::vector<DiscoveredHost>>& found);

  bool useWsd_;
  std::unique_ptr<CredentialPrompt> prompt_;  // before the pool, which points at it
  smb::WorkerPool pool_;
  HostAddressBook book_;  // before the services that consult it
  smb::SmbBrowseService smbBrowse_{pool_, &book_};
  smb::SmbDirectoryLister lister_{pool_, &book_};
  wsd::WsdHostDiscovery hostDiscovery_;
  Executor executor_;  // after the services its tasks use, before the one that posts tasks
  MergedBrowseService merged_;
};

}  // namespace vuv::cli
