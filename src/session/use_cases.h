// What a person does with the network, one call per action, for both front ends: the window's
// backend and the command line tool call these and re-implement none of the steps.
//
// Open a session; discover (asking no one for a password: a server that refuses guests is
// marked NetworkTree::needsLogon) and add a workgroup; log on to a marked server; load a tree
// file and learn its announced servers' addresses; find the node to search for a location;
// search; answer from the index of names without the network; copy; the smb:// URL for the
// desktop.
//
// Thread safety: the calls may come from any thread; the synchronous ones (those taking a stop
// token) wait for the network and return within milliseconds of a stop, except while a
// password prompt they opened is open (credentials.h). The network access must outlive the
// object, and so must the tree, sinks and events handed to the objects it makes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "discovery/discovery.h"
#include "index/index_store.h"
#include "search/search_controller.h"
#include "session/network_access.h"
#include "session/session.h"
#include "transfer/copy_job.h"
#include "tree/network_tree.h"

namespace vuv::session {

// A failure that does not stop the work (WS-Discovery could not run): the work goes on
// without what it would have found.
using NoteSink = std::function<void(const Error& error)>;

// A row the index of names holds for a search, with when it was last seen; returning false
// stops the answer.
using IndexedRowSink = std::function<bool(const index::IndexedRow& row)>;

class UseCases {
 public:
  // Opens a session on the real network. Fails when the smb.conf given cannot be read (every
  // worker would fail on it) or the worker program cannot run. `prompt` may be null and must
  // outlive the object.
  static Result<std::unique_ptr<UseCases>> open(SessionOptions options, CredentialPrompt* prompt);

  explicit UseCases(NetworkAccess& network) : network_(network) {}
  UseCases(const UseCases&) = delete;
  UseCases& operator=(const UseCases&) = delete;

  Executor& executor() { return network_.executor(); }
  // A new run of password answers (those for one run forgotten, declined questions asked
  // again). The use cases start none: the front end calls this as work starts with none other
  // under way (the window), or never (the command line tool: one command, one run).
  void startRun() { network_.startRun(); }

  // A discovery into `tree` that asks no one for a password.
  std::unique_ptr<Discovery> discovery(NetworkTree& tree, DiagnosticSink& diagnostics, DiscoveryEvents events);
  // Discovers, then adds each workgroup by name after the discovered ones; returns once every
  // worker has ended. Fails when the discovery could not start or `stop` came.
  Status discover(NetworkTree& tree, const std::vector<std::string>& addWorkgroups, DiagnosticSink& diagnostics,
                  DiscoveryEvents events, std::stop_token stop);

  // Lists the shares of `server` (a node of `tree`), asking for a password where the server
  // wants one (also when its question was declined earlier in the run), inserts them (unless
  // it has shares already) and clears its needsLogon mark.
  Status logOn(NetworkTree& tree, NodeId server, std::stop_token stop);

  // Replaces `tree` with the tree file at `path` (left as it was on failure); returns its root.
  // Before a search in it, learnAddresses() teaches the session the announced servers.
  Result<NodeId> loadTree(const std::string& path, NetworkTree& tree);
  Status learnAddresses(std::stop_token stop) { return network_.learnAddresses(stop); }

  // The node to search for `location`: a node path of `tree` ("MS Windows Network\ALPHA\S1",
  // names compared exactly, then ignoring case; a server marked needsLogon is logged on to
  // first), or a network path, for which `tree` must be empty: \\SERVER becomes a server node
  // with the shares it lists (asking where it must), \\SERVER\SHARE[\...] a childless node
  // searched at that path. A network path's server is looked up first (WS-Discovery as a chosen
  // source); a failing lookup goes to `note`.
  Result<NodeId> locate(NetworkTree& tree, std::string_view location, std::stop_token stop,
                        const NoteSink& note = {});
  static bool isNetworkPath(std::string_view location) { return location.starts_with("\\\\"); }
  // InvalidArgument unless `location` is \\SERVER[\...] with no empty, "." or ".." part (a
  // trailing backslash aside).
  static Status checkNetworkPath(std::string_view location);
  // A node path of `tree`, as locate() finds it, without the network.
  static Result<NodeId> findNode(const NetworkTree& tree, std::string_view path);

  // `through` (may be null) wraps lister() for the search (the index records what it lists).
  std::unique_ptr<SearchController> search(NetworkTree& tree, SearchOptions options = {},
                                           DirectoryLister* through = nullptr);
  DirectoryLister& lister() { return network_.lister(); }

  // Where the index keeps what a search of `node` walks: the share locations below it, by the
  // tree's shape (the node itself when it has no children).
  static std::vector<std::string> indexLocations(const NetworkTree& tree, NodeId node);
  // The index at `indexPath` answers for `locations` (network paths; "" for everything) and
  // `pattern`, without the network, handing each row to `each` as it is read (a sink that
  // stops, or `stop`, ends it with Cancelled; a stop also ends a long read between rows).
  // Returns when the index last listed a folder there completely (0: it does not know the
  // locations). Opens its own connection: callable from any thread.
  static Result<std::int64_t> findInIndex(const std::string& indexPath, const std::vector<std::string>& locations,
                                          std::string_view pattern, const IndexedRowSink& each,
                                          std::stop_token stop = {});

  // Copies the file or folder at the network path `item` into the local `folder` under the
  // name the server spells it with; returns the copy's local path. A failure to find the item
  // names it ("Could not copy ...").
  Result<std::string> copy(const std::string& item, const std::string& folder, bool replace, std::stop_token stop,
                           const CopyProgressSink& progress, const NoteSink& note = {});

  // The smb:// URL for the desktop's Open file or Open folder: a server whose address is known
  // already (announced, or looked up by earlier work) is named by it; no name is looked up.
  Result<std::string> desktopUrl(std::string_view path);

 private:
  UseCases(std::unique_ptr<Session> session) : owned_(std::move(session)), network_(*owned_) {}

  std::unique_ptr<Session> owned_;  // when opened on the real network
  NetworkAccess& network_;
};

}  // namespace vuv::session
