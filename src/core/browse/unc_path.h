// Taking UNC paths (\\server\share\dir\name) apart, and the chain of folder ids a walk down a
// share keeps to tell a link that leads back up from a real subfolder. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace vuv {

// "a\b\\c" -> {"a", "b", "", "c"}: every piece, empty ones too.
std::vector<std::string_view> splitAtBackslashes(std::string_view text);

// "\\server\share\a\b" -> {"server", "share", "a", "b"}; empty when not a UNC path.
std::vector<std::string_view> uncComponents(std::string_view unc);

// The file ids of a folder and of the folders it was reached through; siblings share the tail.
struct FolderIdChain {
  std::uint64_t fileId = 0;
  std::shared_ptr<const FolderIdChain> up;

  // Whether `fileId` is this folder's or one of those above it.
  static bool holds(const FolderIdChain* chain, std::uint64_t fileId) {
    for (; chain != nullptr; chain = chain->up.get()) {
      if (chain->fileId == fileId) return true;
    }
    return false;
  }
};

}  // namespace vuv
