// The network side of one user session, shared by the command line tool and the app: the SMB
// worker pool with the browse and listing services on it, WS-Discovery, the host address book
// the SMB services consult, and the browse service that merges the chosen sources.
//
// Credentials come resolved from the caller (command line options, the app's settings); when a
// server refuses them, the pool asks `prompt` (a terminal in the command line tool, a dialog in
// the app) and remembers what servers accept for every worker of the session.
//
// Every server name is looked up once (hosts file, DNS and NetBIOS at once, by our own lookups)
// and the workers are given the address (the name itself, under Kerberos, for a name the
// hosts file or DNS knows). Servers found by WS-Discovery go into the address book only where
// those sources say nothing of their name (HostAddressBook).
//
// Thread safety: browse(), lister() and reader() are thread-safe services; learnAddressOf()
// and learnAddresses() may be called from any thread and run on the calling thread only. Every call honours its stop token and
// returns within milliseconds of a stop, except one that is blocked in the prompt: it returns
// when the prompt does (callers waiting for that same answer return at once). To close, first
// request stop on every call and dismiss an open prompt, wait for the calls to return, then
// destroy the session: that kills and reaps every worker process; the session runs no thread
// of its own once its calls have returned.
#pragma once

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/executor.h"
#include "session/network_access.h"
#include "base/result.h"
#include "browse/credentials.h"
#include "browse/host_address_book.h"
#include "browse/merged_browse_service.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"
#include "smb/client/worker_pool.h"
#include "smb/client/worker_settings.h"
#include "wsd/client/name_lookup.h"
#include "wsd/client/wsd_host_discovery.h"

namespace vuv::session {

struct SessionOptions {
  std::string workerPath;  // empty: the worker beside the program or in the build tree
  std::size_t maxWorkers = smb::kDefaultMaxWorkers;
  std::chrono::milliseconds timeout = smb::kDefaultProgressTimeout;  // a silent server's limit
  Credentials credentials;  // every worker's first choice; anonymous when empty
  smb::WorkerSettings worker;  // smb.conf, debug level, Kerberos
  MergedBrowseService::Sources sources;
  wsd::WsdOptions wsd;
};

class Session final : public NetworkAccess {
 public:
  // Checks that the worker program can run. `prompt` (may be null: servers that refuse the
  // given credentials fail) must outlive the session.
  static Result<std::unique_ptr<Session>> open(SessionOptions options, CredentialPrompt* prompt);

  Session(SessionOptions options, CredentialPrompt* prompt);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Discovery's browse lists: they never open the prompt.
  BrowseService& browse() override { return merged_; }
  BrowseService& askingBrowse() override { return smbBrowse_; }
  DirectoryLister& lister() override { return lister_; }
  FileReader& reader() override { return lister_; }
  HostAddressBook& addresses() override { return book_; }
  // Runs discovery and search work: one thread per SMB worker at most.
  Executor& executor() override { return executor_; }

  // A search, discovery or copy begins: what the user answered for one run only is forgotten,
  // and servers whose question was declined are asked again. The command line tool, one run
  // per command, needs none.
  void startRun() override {
    pool_.startRun();
    book_.forgetUnknown();
  }

  void askAgain(std::string_view server) override { pool_.askAgain(server); }

  // Before a search of \\SERVER...: places SERVER in the address book. The hosts file, DNS
  // and NetBIOS first (milliseconds for a name they know; kResolverLimit for one they do not);
  // only when they do not know it, a WS-Discovery round that ends as soon as the server
  // answers (about 2 s when none does). A failed round is returned (worth a note: the search
  // then finds out for itself); a name nothing places is left for the search to report.
  Status learnAddressOf(std::string_view server, std::stop_token stop = {}) override;
  // Before a search in a saved tree: one WS-Discovery round for every announced server.
  Status learnAddresses(std::stop_token stop = {}) override;

 private:
  Status record(Result<std::vector<DiscoveredHost>> found, std::stop_token stop);

  const bool useWsd_;
  smb::WorkerPool pool_;
  wsd::NameServices names_;
  HostAddressBook book_;  // before the services that consult it
  smb::SmbBrowseService smbBrowse_{pool_, &book_};
  smb::SmbBrowseService quietBrowse_{pool_, &book_, smb::Prompting::Never};
  smb::SmbDirectoryLister lister_{pool_, &book_};
  wsd::WsdHostDiscovery hostDiscovery_;
  Executor executor_;  // after the services its tasks use, before the one that posts tasks
  MergedBrowseService merged_;
};

}  // namespace vuv::session
