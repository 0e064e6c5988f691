#include "smb/client/smb_browse_service.h"

#include <cerrno>

#include "browse/smb_url.h"

namespace vuv::smb {

BrowseReply SmbBrowseService::listDomains(std::stop_token stop) {
  return list(protocol::Operation::ListWorkgroups, smbUrlForName({}), stop);
}

BrowseReply SmbBrowseService::listServers(std::string_view domain, std::stop_token stop) {
  return list(protocol::Operation::ListServers, smbUrlForName(domain), stop);
}

BrowseReply SmbBrowseService::listShares(std::string_view server, std::uint32_t& /*resume*/,
                                         std::stop_token stop) {
  const Result<std::string> url = smbUrlForServer(server, book_, stop);
  if (!url) {
    return BrowseReply{BrowseStatus::Failure, errnoFromError(url.error()), 0, {}, describe(url.error()), {}};
  }
  return list(protocol::Operation::ListShares, *url, stop, server);
}

BrowseReply SmbBrowseService::list(protocol::Operation operation, const std::string& url,
                                   std::stop_token stop, std::string_view server) {
  BrowseReply reply;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    for (protocol::Entry& entry : batch) reply.names.push_back(std::move(entry.name));
    return true;
  };
  Result<RequestOutcome> outcome = pool_.run(operation, url, handlers, stop, WorkerChoice::Any, server, prompting_);
  // Lists are reads: one whose worker died is asked again once, on a fresh worker.
  if (!outcome && outcome.error().code == ErrorCode::WorkerCrashed) {
    reply.names.clear();
    outcome = pool_.run(operation, url, handlers, stop, WorkerChoice::Fresh, server, prompting_);
  }
  if (!outcome) {
    return BrowseReply{BrowseStatus::Failure, errnoFromError(outcome.error()), 0, {},
                       describe(outcome.error()), {}};
  }
  return reply;
}

}  // namespace vuv::smb
