// A backend without network access: an empty tree, discovery that does not start and searches
// that end at once with nothing found. What the window runs on until the network session is
// connected; also handy to look at the window. GUI thread only.
#pragma once

#include "app/backend/window_backend.h"

namespace vuv::app {

class NoNetworkBackend : public WindowBackend {
 public:
  void setEvents(WindowEvents events) override { events_ = std::move(events); }
  NetworkTree& tree() override { return tree_; }
  bool startDiscovery() override { return false; }
  bool addDomain(const std::string&) override { return false; }
  void startSearch(NodeId node, const std::string& pattern) override;
  void stopSearch() override {}
  void shutdown() override { events_ = {}; }

 private:
  NetworkTree tree_;
  WindowEvents events_;
};

}  // namespace vuv::app
