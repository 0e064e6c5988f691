// What the use cases (use_cases.h) need of a session's network side: Session on the real
// network, the in-memory network in tests.
//
// Thread safety: every member from any thread; the services are thread-safe. Each call honours
// its stop token.
#pragma once

#include <stop_token>
#include <string_view>

#include "base/executor.h"
#include "base/result.h"
#include "browse/browse_service.h"
#include "browse/directory_lister.h"
#include "browse/host_address_book.h"

namespace vuv::session {

class NetworkAccess {
 public:
  virtual ~NetworkAccess() = default;

  // The browse lists for a discovery: a server that refuses guests fails with AccessDenied,
  // and no one is asked for a password.
  virtual BrowseService& browse() = 0;
  // A server's share list that may ask for credentials (the person aimed at that server).
  virtual BrowseService& askingBrowse() = 0;
  virtual DirectoryLister& lister() = 0;
  virtual FileReader& reader() = 0;
  virtual Executor& executor() = 0;
  virtual HostAddressBook& addresses() = 0;

  // A new run of the password answers; see UseCases::startRun().
  virtual void startRun() = 0;
  // A question about `server` declined in this run is asked again (a log-on: the person asks
  // to be asked); the others stay declined.
  virtual void askAgain(std::string_view server) = 0;
  // Makes sure `server` can be reached; see Session.
  virtual Status learnAddressOf(std::string_view server, std::stop_token stop) = 0;
  // One WS-Discovery round for every announced server; see Session.
  virtual Status learnAddresses(std::stop_token stop) = 0;
};

}  // namespace vuv::session
