// What a folder copy will make: every folder and file below the copied folder, found by
// listing it through the DirectoryLister one folder at a time, with the bytes in all. Also the
// checks on names that come from the network before any of them becomes a local name.
//
// A name is refused (UnsafeName) when it is empty, "." or "..", or holds '/', '\' or NUL:
// written locally it would leave the copy's folder or not name a file at all. A name past
// kMaxLocalNameBytes (a server allows 255 UTF-16 units, up to three bytes each here) fails
// with LocalWrite, ENAMETOOLONG. A folder whose non-zero file id is that of a folder it was
// reached through (a link loop, as the share walk sees it) fails the plan (LinkLoop): a copy
// of it would never end. So does a folder that cannot be listed, a path past
// kMaxRelativeBytes bytes (LocalWrite, ENAMETOOLONG), and, since a server can make up any
// tree, a plan past one of CopyPlanLimits (TooBig, the detail saying which).
//
// Thread rules: runs on the calling thread; the lister must accept calls from it.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "browse/directory_lister.h"

namespace vuv {

inline constexpr std::size_t kMaxRelativeBytes = 3072;
inline constexpr std::size_t kMaxLocalNameBytes = 255;  // the local file system's longest name

struct CopyPlanLimits {
  std::size_t maxDepth = 256;            // levels below the copied folder
  std::size_t maxItems = 1'000'000;      // files and folders
  std::size_t maxNameBytes = 64u << 20;  // their relative paths, added up
};

struct PlannedItem {
  std::string unc;        // where it is on the network
  std::string relative;   // where it goes below the copy's top folder, '/'-separated
  bool isFolder = false;
  std::uint64_t size = 0;     // as listed
  std::int64_t modified = 0;  // as listed; 0 when unknown
};

struct CopyPlan {
  std::vector<PlannedItem> items;  // each folder before what it holds
  std::uint64_t totalBytes = 0;
};

Status checkLocalName(std::string_view name);

// The last component of a UNC path, checked; InvalidArgument for what is no \\server\share...
// path (a server alone has nothing to copy).
Result<std::string> copiedName(std::string_view unc);

// Calls `listing` with each folder before it is listed and the bytes found so far. On failure
// `failedItem` (when given) names the folder or entry that failed the plan.
using PlanListing = std::function<void(const std::string& uncFolder, std::uint64_t bytesSoFar)>;
Result<CopyPlan> planFolderCopy(DirectoryLister& lister, std::string_view uncFolder, std::stop_token stop,
                                const PlanListing& listing, std::string* failedItem = nullptr,
                                const CopyPlanLimits& limits = {});

// What is at `unc`: a share top is a folder; anything else is looked up in its parent's
// listing, by exact name first, then ignoring letter case as the server does. NotFound when
// the parent does not list it.
Result<DirectoryEntry> lookUpItem(DirectoryLister& lister, std::string_view unc, std::stop_token stop);

}  // namespace vuv
