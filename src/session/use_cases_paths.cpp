// The use cases aimed at a path: where a search starts, and a copy.
#include <algorithm>
#include <cerrno>

#include "base/casefold.h"
#include "browse/unc_path.h"
#include "discovery/enumeration.h"
#include "session/use_cases.h"
#include "transfer/copy_plan.h"

namespace vuv::session {

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

// The server of a network path, as given: \\SERVER\... -> SERVER.
std::string_view serverOf(std::string_view path) {
  path.remove_prefix(2);
  return path.substr(0, path.find('\\'));
}

void learnServer(NetworkAccess& network, std::string_view path, std::stop_token stop, const NoteSink& note) {
  const Status learned = network.learnAddressOf(serverOf(path), stop);
  if (!learned && learned.error().code != ErrorCode::Cancelled && note) note(learned.error());
}

}  // namespace

Result<NodeId> UseCases::findNode(const NetworkTree& tree, std::string_view path) {
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

Status UseCases::checkNetworkPath(std::string_view location) {
  std::string_view rest = isNetworkPath(location) ? location.substr(2) : std::string_view();
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  const auto parts = splitAtBackslashes(rest);
  const bool fine = !rest.empty() && std::none_of(parts.begin(), parts.end(), [](std::string_view part) {
    return part.empty() || part == "." || part == "..";
  });
  if (!fine) return makeError(ErrorCode::InvalidArgument, "not a network path: " + std::string(location));
  return success();
}

Result<NodeId> UseCases::locate(NetworkTree& tree, std::string_view location, std::stop_token stop,
                                const NoteSink& note) {
  if (!isNetworkPath(location)) {
    auto node = findNode(tree, location);
    // A search aimed at a server that refused guests asks for a password first.
    if (node && tree.needsLogon(*node)) {
      if (Status loggedOn = logOn(tree, *node, stop); !loggedOn) return loggedOn.error();
    }
    return node;
  }
  if (Status checked = checkNetworkPath(location); !checked) return checked.error();
  std::string_view rest = location.substr(2);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  const auto parts = splitAtBackslashes(rest);
  learnServer(network_, location, stop, note);
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, std::string(location));
  const std::string server(parts.front());
  const NodeId serverNode = tree.insertTopLevel(server, NodeKind::Server, InsertPosition::Last);
  if (parts.size() > 1) {
    // A childless node is walked at \\<parent>\<text>, so the share and any folders below it
    // go into the one text.
    return tree.insert(serverNode, std::string(rest.substr(server.size() + 1)), NodeKind::Share, InsertPosition::Last);
  }
  // A server whose shares cannot be listed says why (refused, unreachable, a dialect smb.conf
  // does not allow).
  int failure = ENOENT;
  NullDiagnostics quiet;
  enumerateShares({tree, network_.askingBrowse(), quiet, {}, stop,
                   [&](const ListingFailure& f) { failure = errnoFromError(f.error); }},
                  server, serverNode);
  if (!tree.hasChildren(serverNode)) {
    return makeError(errorCodeFromErrno(failure), "\\\\" + server + ": no shares could be listed", failure);
  }
  return serverNode;
}

Result<std::string> UseCases::copy(const std::string& item, const std::string& folder, bool replace,
                                   std::stop_token stop, const CopyProgressSink& progress, const NoteSink& note) {
  if (!isNetworkPath(item)) return makeError(ErrorCode::InvalidArgument, "not a network path: " + item);
  // A server known only by WS-Discovery needs its address first; failing that costs nothing
  // when NetBIOS or DNS knows the name.
  learnServer(network_, item, stop, note);
  // Whether it is a file or a folder, and its name as the server spells it.
  auto found = lookUpItem(network_.lister(), item, stop);
  if (!found) {
    Error error = found.error();
    error.detail = "Could not copy " + item;
    return error;
  }
  std::string source = item;
  if (std::count(source.begin() + 2, source.end(), '\\') >= 2) {  // below a share top
    source = source.substr(0, source.rfind('\\') + 1) + found->name;
  }
  const CopyRequest request{source, found->isFolder, folder, replace};
  return copyToFolder(request, network_.lister(), network_.reader(), stop, progress);
}

}  // namespace vuv::session
