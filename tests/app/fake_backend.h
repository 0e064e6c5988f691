// A backend that records what the window asks and lets a test deliver the events.
#pragma once

#include <string>
#include <vector>

#include "app/backend/window_backend.h"
#include "browse/smb_url.h"

namespace vuv::app::test {

class FakeBackend : public WindowBackend {
 public:
  void setEvents(WindowEvents events) override { events_ = std::move(events); }
  NetworkTree& tree() override { return tree_; }
  bool startDiscovery() override { return ++discoveries, discoveryStarts; }
  bool addDomain(const std::string& name) override { return addedDomains.push_back(name), true; }
  bool loadTree(const std::string& path) override { return loadedTrees.push_back(path), true; }
  void startSearch(NodeId node, const std::string& pattern) override { searches.push_back({node, pattern}); }
  void stopSearch() override { ++stops; }
  void useIndex(bool on) override { indexUsed = on; }
  bool startCopy(const std::string& item, bool isFolder, const std::string& folder, bool replace) override {
    return copies.push_back({item, isFolder, folder, replace}), copyStarts;
  }
  void stopCopy() override { ++copyStops; }
  bool logOn(NodeId server) override { return logOns.push_back(server), true; }
  // Server "srv" is known by its address only, as one found by WS-Discovery.
  Result<std::string> desktopUrl(const std::string& path) const override {
    Result<std::string> url = smbUrlFromUnc(path);
    if (url && url->starts_with("smb://srv")) url->replace(0, 9, "smb://10.0.0.7");
    return url;
  }
  void shutdown() override { ++shutdowns; }

  const WindowEvents& events() const { return events_; }

  struct Search {
    NodeId node;
    std::string pattern;
  };
  struct Copy {
    std::string item;
    bool isFolder;
    std::string folder;
    bool replace;
  };
  bool discoveryStarts = true, copyStarts = true, indexUsed = false;
  int discoveries = 0, stops = 0, copyStops = 0, shutdowns = 0;
  std::vector<Search> searches;
  std::vector<Copy> copies;
  std::vector<std::string> addedDomains, loadedTrees;
  std::vector<NodeId> logOns;

 private:
  NetworkTree tree_;
  WindowEvents events_;
};

}  // namespace vuv::app::test
