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
  bool startDiscovery() override {
    ++discoveries;
    return discoveryStarts;
  }
  bool addDomain(const std::string& name) override {
    addedDomains.push_back(name);
    return true;
  }
  bool loadTree(const std::string& path) override {
    loadedTrees.push_back(path);
    return true;
  }
  void startSearch(NodeId node, const std::string& pattern) override {
    searches.push_back({node, pattern});
  }
  void stopSearch() override { ++stops; }
  bool startCopy(const std::string& item, bool isFolder, const std::string& folder,
                 bool replace) override {
    copies.push_back({item, isFolder, folder, replace});
    return copyStarts;
  }
  void stopCopy() override { ++copyStops; }
  bool logOn(NodeId server) override {
    logOns.push_back(server);
    return true;
  }
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
  bool discoveryStarts = true;
  bool copyStarts = true;
  int copyStops = 0;
  std::vector<Copy> copies;
  int discoveries = 0;
  int stops = 0;
  int shutdowns = 0;
  std::vector<std::string> addedDomains;
  std::vector<NodeId> logOns;
  std::vector<std::string> loadedTrees;
  std::vector<Search> searches;

 private:
  NetworkTree tree_;
  WindowEvents events_;
};

}  // namespace vuv::app::test
