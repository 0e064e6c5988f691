// What the main window asks of the network side: discovery, adding a domain, searching. The
// window owns no threads; an implementation runs the work elsewhere and reports back through
// WindowEvents.
//
// Thread rules: every member is called on the GUI thread and must return without waiting on
// the network. Every WindowEvents callback must be called on the GUI thread (an implementation
// fed from worker threads queues to it) and never from inside a member call of this interface,
// so the window may call back into the backend from a callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "results/result_row.h"
#include "status/listing_failure.h"
#include "status/status_update.h"
#include "tree/network_tree.h"

namespace vuv::app {

struct SearchOutcome {
  std::vector<ListingFailure> skipped;  // folders the search could not list, and why
  // Rows shown from the index that the walk did not find in folders it listed completely:
  // gone from the network, by their full paths.
  std::vector<std::string> stale;
};

// How far a copy has come; for the progress dialog.
struct CopyProgress {
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;  // of everything the copy takes; known before the first byte
  double bytesPerSecond = 0;     // recent rate; 0 until it can be told
  std::optional<std::chrono::seconds> timeLeft;  // nullopt until it can be told
  std::string currentItem;       // UNC path of the file being copied now
};

struct CopyOutcome {
  bool cancelled = false;             // ended by stopCopy(); nothing was left behind
  std::optional<std::string> error;   // why it failed, in words; nothing was left behind
  std::string destination;            // on success: the local path of the copy
};

struct WindowEvents {
  // What the work is doing; the window shows its status line text.
  std::function<void(const StatusUpdate& update)> status;
  // Found rows of the running search, in the order found; none already shown from the index.
  std::function<void(std::vector<ResultRow> rows)> rows;
  // What the index of names holds for the running search, once, before any of its `rows`,
  // when it knows the location and holds a match; `listed` is when it last listed there
  // (seconds since the Unix epoch).
  std::function<void(std::vector<ResultRow> rows, std::int64_t listed)> indexedRows;
  // Rows shown from the index that the walk found changed; they take the walk's values.
  std::function<void(std::vector<RowChange> changes)> changedRows;
  // The search ended on its own or after stopSearch(); once per startSearch(). The rows
  // come before it; SearchFinished comes through `status` just before it.
  std::function<void(const SearchOutcome& outcome)> searchFinished;
  // The last discovery worker ended; once per startDiscovery() or addDomain() that started
  // work.
  std::function<void()> discoveryFinished;
  // The running copy made progress; a few times a second at most.
  std::function<void(const CopyProgress& progress)> copyProgress;
  // The copy ended: done, failed or cancelled; once per startCopy() that returned true.
  std::function<void(const CopyOutcome& outcome)> copyFinished;
  // A command was refused or failed; shown to the user in an error box.
  std::function<void(const std::string& message)> error;
};

class WindowBackend {
 public:
  virtual ~WindowBackend() = default;

  // Set once, before any other call.
  virtual void setEvents(WindowEvents events) = 0;

  // The tree the window shows; lives as long as the backend.
  virtual NetworkTree& tree() = 0;

  // Clears the tree and discovers the network into it. Returns false when it did not start
  // (then `error` tells why and no discoveryFinished follows).
  virtual bool startDiscovery() = 0;
  // Adds one domain or workgroup by name under the root and lists its servers.
  virtual bool addDomain(const std::string& name) = 0;
  // Logs on to a server that discovery marked (NetworkTree::needsLogon): asks the person for
  // credentials, lists its shares into the tree and clears the mark. Returns false when it did
  // not start (then `error` tells why); a listing that fails comes through `error` too.
  virtual bool logOn(NodeId server) = 0;

  // The smb:// URL to hand the desktop for the item at UNC path `path` (Open file, Open
  // folder): a server whose address is known already is named by it; no name is looked up.
  virtual Result<std::string> desktopUrl(const std::string& path) const = 0;

  // Replaces the tree with the one saved in the tree file at `path`, at once (a tree file is
  // small and local). Refused while a discovery or a search runs. Returns false when the tree
  // was left as it was; then `error` tells why, with the file's line number where it has one.
  virtual bool loadTree(const std::string& path) = 0;

  // Searches every share below `node` for names matching `pattern`. Replaces a search that is
  // still ending: from the call on, no rows and no searchFinished of the replaced one arrive,
  // also none that were already queued for the GUI thread.
  virtual void startSearch(NodeId node, const std::string& pattern) = 0;
  // Asks the running search to end; its searchFinished still follows.
  virtual void stopSearch() = 0;
  // Whether searches show what the index of names holds and record what they list into it;
  // for the searches started after the call.
  virtual void useIndex(bool on) = 0;

  // Copies the file or folder (with everything below it) at UNC path `item` into the local
  // folder `folder`, under the item's own name. The copy is written beside its place under a
  // temporary name and renamed into place only when complete, so a failure or a stop leaves
  // nothing. An existing file or folder of that name is replaced only when `replace` is true
  // (else copyFinished reports the error). One copy at a time: returns false (and `error`
  // tells why) while one runs.
  virtual bool startCopy(const std::string& item, bool isFolder, const std::string& folder,
                         bool replace) = 0;
  // Asks the running copy to end; its copyFinished (cancelled) still follows.
  virtual void stopCopy() = 0;

  // The window is closing: stop all work at once. No event is delivered afterwards.
  virtual void shutdown() = 0;
};

}  // namespace vuv::app
