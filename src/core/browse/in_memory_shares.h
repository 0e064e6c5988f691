// In-memory shares behind the DirectoryLister interface, for tests and demos without servers.
// Describe folders and files by UNC path (\\server\share\dir\file); a listing gives a folder's
// entries in the order they were added. Links (folder entries that lead to another folder, with
// that folder's file id) make loops; per-path failures, a delay per listing and a hook that
// runs before every listing let tests inject errors, latency and blocking; every listing is
// counted per path. A listing gives the listed folder's own id, as a server's "." does.
//
// Stop: the delay ends early when the listing's stop token is requested, and a listing whose
// token is requested by the time it would answer fails with Cancelled; a hook that blocks
// must watch the token it is given, as a real lister's network wait would.
//
// Thread safety: all members may be called from any thread. The hook runs on the listing
// thread outside the internal lock, so it may block.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browse/directory_lister.h"

namespace vuv {

class InMemoryShares final : public DirectoryLister {
 public:
  using ListHook = std::function<void(const std::string& uncFolder, std::stop_token stop)>;

  // Adds a folder, and every missing folder above it, each as the last entry of its parent.
  // A share top (\\server\share) has no parent entry. Adding an existing folder changes
  // nothing. No fileId: a fresh unique one. Returns the folder's file id.
  std::uint64_t addFolder(std::string_view unc, std::optional<std::uint64_t> fileId = std::nullopt);
  void addFile(std::string_view unc, std::uint64_t size, std::optional<std::uint64_t> fileId = std::nullopt);
  // A folder entry at `unc` that carries the file id of `target` (an existing folder); listing
  // a path through it lists below `target`.
  void addLink(std::string_view unc, std::string_view target);
  // Appends an entry exactly as given (also "." or ".."); it names no listable folder.
  void addEntry(std::string_view folder, DirectoryEntry entry);

  // Listing `unc` (exactly this path) fails with `error`, after the hook ran.
  void fail(std::string_view unc, Error error);
  void setListHook(ListHook hook);
  // Every listing takes this long (simulated round trips) unless stopped first.
  void setListDelay(std::chrono::microseconds delay);

  std::size_t listCount(std::string_view unc) const;
  std::size_t totalListings() const;
  std::map<std::string, std::size_t, std::less<>> listCounts() const;
  // Real folders, share tops included (links and raw entries not counted).
  std::size_t folderCount() const;

  Result<DirectoryListing> list(std::string_view uncFolder, std::stop_token stop) override;

 private:
  struct Folder {
    std::uint64_t fileId = 0;
    std::vector<DirectoryEntry> entries;
    std::map<std::string, std::string, std::less<>> links;  // entry name -> target folder
  };

  // All require mutex_.
  Folder& ensureFolder(std::string_view unc, std::optional<std::uint64_t> fileId);
  Folder& parentFolder(std::string_view unc);  // adds the parent when missing
  const Folder* resolve(std::string_view unc) const;
  std::uint64_t freshId() { return nextId_++; }

  mutable std::mutex mutex_;  // guards everything below
  std::map<std::string, Folder, std::less<>> folders_;
  std::map<std::string, Error, std::less<>> failures_;
  std::map<std::string, std::size_t, std::less<>> counts_;
  std::size_t totalListings_ = 0;
  std::uint64_t nextId_ = 1000;
  ListHook hook_;
  std::chrono::microseconds delay_{0};
};

}  // namespace vuv
