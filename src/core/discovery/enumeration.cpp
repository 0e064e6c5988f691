#include "discovery/enumeration.h"

#include <cerrno>
#include <cstdint>

namespace vuv {

namespace {

void setStatus(const EnumerationContext& context, const StatusUpdate& update) {
  if (context.status) context.status(update);
}

// After the reply's own lines, whatever its status.
void writeNotes(const EnumerationContext& context, const BrowseReply& reply) {
  for (const std::string& note : reply.notes) context.diagnostics.toStandardError(note + "\n");
}

}  // namespace

std::vector<NodeId> enumerateServers(const EnumerationContext& context, bool listDomains,
                                     std::string_view domain, NodeId parent) {
  const BrowseReply reply =
      listDomains ? context.browse.listDomains(context.stop) : context.browse.listServers(domain, context.stop);

  if (reply.status == BrowseStatus::Failure) {
    context.diagnostics.toStandardError("A system error has occurred: " +
                                        std::to_string(reply.failureCode) + "\n");
    if (!reply.failureDetail.empty()) context.diagnostics.toStandardError(reply.failureDetail + "\n");
    writeNotes(context, reply);
    return {};
  }
  // A successful listing with nothing in it says nothing at all (but its notes).
  if (reply.status == BrowseStatus::Success && reply.names.empty()) {
    writeNotes(context, reply);
    return {};
  }

  std::vector<NodeId> inserted;
  for (const std::string& name : reply.names) {
    if (context.stop.stop_requested()) return inserted;
    const NodeId node = context.tree.insert(parent, name, listDomains ? NodeKind::Domain : NodeKind::Server,
                                            InsertPosition::Sorted);
    // The parent went away (a new discovery or a load cleared the tree): our work is gone too.
    if (node == kNoNode) return inserted;
    inserted.push_back(node);
    if (!listDomains) {
      setStatus(context, GettingInformation{std::string(domain) + '\\' + name});
      enumerateShares(context, name, node);
    }
  }

  if (reply.status == BrowseStatus::MoreData) {
    context.diagnostics.toStandardError("\nMore entries available!!!\n");
    context.diagnostics.toStandardError("Total entries: " + std::to_string(reply.totalEntries));
  }
  context.diagnostics.toStandardOutput("\nEntries enumerated: " + std::to_string(inserted.size()) + "\n");
  writeNotes(context, reply);
  return inserted;
}

void enumerateShares(const EnumerationContext& context, std::string_view server, NodeId serverNode) {
  std::uint32_t resume = 0;
  for (;;) {
    const std::uint32_t before = resume;
    const BrowseReply reply = context.browse.listShares(server, resume, context.stop);
    if (context.stop.stop_requested()) return;
    if (reply.status == BrowseStatus::Failure) {
      // Refused guests: the person may log on to it later.
      if (reply.failureCode == EACCES || reply.failureCode == EPERM) context.tree.setNeedsLogon(serverNode, true);
      if (context.failed) {
        const Error error{errorCodeFromErrno(reply.failureCode), reply.failureCode, reply.failureDetail};
        context.failed(ListingFailure{"\\\\" + std::string(server), error});
      }
      return;
    }
    for (const std::string& name : reply.names) {
      if (context.tree.insert(serverNode, name, NodeKind::Share, InsertPosition::Last) == kNoNode) return;
    }
    // A service that claims more data but does not move on would loop for ever.
    if (reply.status != BrowseStatus::MoreData || resume == before) return;
  }
}

}  // namespace vuv
