#include "smb/client/smb_browse_service.h"

#include <cerrno>

#include "browse/smb_url.h"

namespace vuv::smb {

BrowseReply SmbBrowseService::listDomains(std::stop_token /*stop*/) {
  return list(protocol::Operation::ListWorkgroups, smbUrlForName({}));
}

BrowseReply SmbBrowseService::listServers(std::string_view domain, std::stop_token /*stop*/) {
  return list(protocol::Operation::ListServers, smbUrlForName(domain));
}

BrowseReply SmbBrowseService::listShares(std::string_view server, std::uint32_t& /*resume*/,
                                         std::stop_token /*stop*/) {
  return list(protocol::Operation::ListShares, smbUrlForServer(server, book_));
}

BrowseReply SmbBrowseService::list(protocol::Operation operation, const std::string& url) {
  BrowseReply reply;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    for (protocol::Entry& entry : batch) reply.names.push_back(std::move(entry.name));
    return true;
  };
  Result<RequestOutcome> outcome = pool_.run(operation, url, handlers);
  if (!outcome) {
    return BrowseReply{BrowseStatus::Failure, errnoFromError(outcome.error()), 0, {},
                       describe(outcome.error()), {}};
  }
  return reply;
}

}  // namespace vuv::smb
