#include "session/use_cases.h"

#include <unistd.h>

#include <cerrno>

#include "browse/smb_url.h"
#include "discovery/enumeration.h"
#include "treefile/tree_file_reader.h"

namespace vuv::session {

namespace {

class NullDiagnostics final : public DiagnosticSink {
 public:
  void toStandardOutput(std::string_view) override {}
  void toStandardError(std::string_view) override {}
};

}  // namespace

Result<std::unique_ptr<UseCases>> UseCases::open(SessionOptions options, CredentialPrompt* prompt) {
  // Checked here, once: a worker that cannot load it would fail every request.
  const std::string& config = options.worker.configFile;
  if (!config.empty() && ::access(config.c_str(), R_OK) != 0) {
    return makeError(ErrorCode::Io, "reading " + config, errno);
  }
  auto session = Session::open(std::move(options), prompt);
  if (!session) return session.error();
  return std::unique_ptr<UseCases>(new UseCases(std::move(*session)));
}

std::unique_ptr<Discovery> UseCases::discovery(NetworkTree& tree, DiagnosticSink& diagnostics,
                                               DiscoveryEvents events) {
  return std::make_unique<Discovery>(tree, network_.browse(), diagnostics, network_.executor(), std::move(events));
}

Status UseCases::discover(NetworkTree& tree, const std::vector<std::string>& addWorkgroups,
                          DiagnosticSink& diagnostics, DiscoveryEvents events, std::stop_token stop) {
  auto discovery = this->discovery(tree, diagnostics, std::move(events));
  std::stop_callback onStop(stop, [&] { discovery->stop(); });
  if (auto started = discovery->discover(); !started) return started.error();
  // Added names go after the discovered ones, as when the window's Add comes later.
  discovery->waitUntilIdle();
  for (const std::string& workgroup : addWorkgroups) {
    if (stop.stop_requested()) break;
    discovery->addDomain(workgroup);
    if (stop.stop_requested()) discovery->stop();  // the callback may have run just before
  }
  discovery->waitUntilIdle();
  if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "discovery");
  return success();
}

Status UseCases::logOn(NetworkTree& tree, NodeId server, std::stop_token stop) {
  if (tree.kind(server) != NodeKind::Server) return makeError(ErrorCode::InvalidArgument, "not a server");
  // Shares already there were listed before: nothing to add.
  if (!tree.hasChildren(server)) {
    std::optional<ListingFailure> failed;
    NullDiagnostics quiet;
    const std::string name = tree.text(server);
    // A log-on is the person asking to be asked, even if they declined earlier in the run.
    network_.askAgain(name);
    enumerateShares({tree, network_.askingBrowse(), quiet, {}, stop, [&](const ListingFailure& f) { failed = f; }},
                    name, server);
    if (stop.stop_requested()) return makeError(ErrorCode::Cancelled, "\\\\" + name);
    if (failed) {
      Error error = failed->error;
      error.detail = "Could not list " + failed->path;
      return error;
    }
  }
  tree.setNeedsLogon(server, false);
  return success();
}

Result<NodeId> UseCases::loadTree(const std::string& path, NetworkTree& tree) { return loadTreeFile(path, tree); }

std::unique_ptr<SearchController> UseCases::search(NetworkTree& tree, SearchOptions options,
                                                  DirectoryLister* through) {
  return std::make_unique<SearchController>(tree, through ? *through : network_.lister(), network_.executor(), options);
}

Result<std::string> UseCases::desktopUrl(std::string_view path) {
  // Only what the address book holds: a lookup would hold up the window.
  Result<std::string> url = smbUrlFromUnc(path);
  if (!url) return url;
  const std::optional<std::string> host = network_.addresses().knownHostFor(smbUrlComponent(*url, 0));
  return host ? smbUrlWithHost(*url, *host) : std::move(*url);
}

}  // namespace vuv::session
