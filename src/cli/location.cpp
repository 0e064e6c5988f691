#include "cli/location.h"

#include <cerrno>
#include <vector>

#include "base/casefold.h"
#include "browse/unc_path.h"
#include "discovery/enumeration.h"

namespace vuv::cli {

namespace {

NodeId findChild(const NetworkTree& tree, NodeId parent, std::string_view name) {
  const auto children = tree.children(parent);
  for (NodeId child : children) {
    if (tree.text(child) == name) return child;
  }
  for (NodeId child : children) {
    if (compareIgnoringCase(tree.text(child), name) == 0) return child;
  }
  return kNoNode;
}

class NullDiagnostics final : public DiagnosticSink {
 public:
  void toStandardOutput(std::string_view) override {}
  void toStandardError(std::string_view) override {}
};

// Passes every call on and keeps the last failure's number: a server whose shares cannot be
// listed then says why (refused, unreachable, a dialect smb.conf does not allow).
class FailureKeeper final : public BrowseService {
 public:
  explicit FailureKeeper(BrowseService& inner) : inner_(inner) {}
  BrowseReply listDomains(std::stop_token stop) override { return keep(inner_.listDomains(stop)); }
  BrowseReply listServers(std::string_view domain, std::stop_token stop) override {
    return keep(inner_.listServers(domain, stop));
  }
  BrowseReply listShares(std::string_view server, std::uint32_t& resume, std::stop_token stop) override {
    return keep(inner_.listShares(server, resume, stop));
  }
  int failure = 0;  // errno-style; 0: none

 private:
  BrowseReply keep(BrowseReply reply) {
    if (reply.status == BrowseStatus::Failure) failure = reply.failureCode;
    return reply;
  }
  BrowseService& inner_;
};

}  // namespace

bool isNetworkPath(std::string_view location) { return location.rfind("\\\\", 0) == 0; }

Result<NodeId> findNodeByPath(const NetworkTree& tree, std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (path.empty()) return makeError(ErrorCode::InvalidArgument, "empty location");
  NodeId node = kNoNode;
  for (std::string_view name : splitAtBackslashes(path)) {
    node = findChild(tree, node, name);
    if (node == kNoNode) {
      return makeError(ErrorCode::NotFound, "no node '" + std::string(name) + "' in the network tree");
    }
  }
  return node;
}

Result<NodeId> placeNetworkPath(NetworkTree& tree, BrowseService& browse, std::string_view location) {
  std::string_view rest = location.substr(2);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  const auto parts = splitAtBackslashes(rest);
  for (std::string_view part : parts) {
    if (part.empty() || part == "." || part == "..") {
      return makeError(ErrorCode::InvalidArgument, "not a network path: " + std::string(location));
    }
  }
  const std::string server(parts.front());
  const NodeId serverNode = tree.insertTopLevel(server, NodeKind::Server, InsertPosition::Last);

  if (parts.size() == 1) {
    NullDiagnostics quiet;
    FailureKeeper keeper(browse);
    enumerateShares({tree, keeper, quiet, {}, {}, {}}, server, serverNode);
    if (!tree.hasChildren(serverNode)) {
      const int why = keeper.failure != 0 ? keeper.failure : ENOENT;
      return makeError(errorCodeFromErrno(why), "\\\\" + server + ": no shares could be listed", why);
    }
    return serverNode;
  }
  // A childless node is walked at \\<parent>\<text>, so the share and any folders below it
  // go into the one text.
  std::string below(rest.substr(server.size() + 1));
  return tree.insert(serverNode, std::move(below), NodeKind::Share, InsertPosition::Last);
}

}  // namespace vuv::cli
