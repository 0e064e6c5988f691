#include "transfer/copy_plan.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>
#include <optional>

#include "base/casefold.h"
#include "browse/unc_path.h"
#include "transfer/transfer_progress.h"

namespace vuv {

namespace {

struct PendingFolder {
  std::string unc;
  std::string relative;
  std::size_t depth = 0;
  std::shared_ptr<const FolderIdChain> ids;
};


}  // namespace

Status checkLocalName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    return makeError(ErrorCode::UnsafeName);
  }
  // Said before any byte is read, not at the final rename after all of them.
  if (name.size() > kMaxLocalNameBytes) return makeError(ErrorCode::LocalWrite, {}, ENAMETOOLONG);
  return success();
}

Result<std::string> copiedName(std::string_view unc) {
  const auto parts = uncComponents(unc);
  const bool blank = std::any_of(parts.begin(), parts.end(), [](std::string_view p) { return p.empty(); });
  if (parts.size() < 2 || blank) {
    return makeError(ErrorCode::InvalidArgument, std::string(unc) + " is no path to a share, folder or file");
  }
  if (auto safe = checkLocalName(parts.back()); !safe) return safe.error();
  return std::string(parts.back());
}

Result<CopyPlan> planFolderCopy(DirectoryLister& lister, std::string_view uncFolder, std::stop_token stop,
                                const PlanListing& listing, std::string* failedItem, const CopyPlanLimits& limits) {
  CopyPlan plan;
  std::size_t nameBytes = 0;
  std::optional<Error> failure;
  std::string failed;
  // Depth first, a folder's subfolders in listing order.
  std::vector<PendingFolder> pending{PendingFolder{std::string(uncFolder), "", 0, nullptr}};
  bool top = true;
  while (!pending.empty() && !failure) {
    PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    if (listing) listing(folder.unc, plan.totalBytes);
    std::vector<PendingFolder> subfolders;
    auto take = [&](const DirectoryEntry& entry) -> std::optional<Error> {
      failed = folder.unc + '\\' + entry.name;
      if (auto safe = checkLocalName(entry.name); !safe) return safe.error();
      const std::string relative = folder.relative.empty() ? entry.name : folder.relative + '/' + entry.name;
      if (relative.size() > kMaxRelativeBytes) return makeError(ErrorCode::LocalWrite, {}, ENAMETOOLONG);
      if (folder.depth + 1 > limits.maxDepth) {
        return makeError(ErrorCode::TooBig, "folders nested more than " + std::to_string(limits.maxDepth) + " deep");
      }
      if (plan.items.size() >= limits.maxItems) {
        return makeError(ErrorCode::TooBig, "more than " + std::to_string(limits.maxItems) + " files and folders");
      }
      nameBytes += relative.size();
      if (nameBytes > limits.maxNameBytes) {
        return makeError(ErrorCode::TooBig, "names of more than " + std::to_string(limits.maxNameBytes) + " bytes in all");
      }
      plan.items.push_back(PlannedItem{failed, relative, entry.isFolder, entry.isFolder ? 0 : entry.size, entry.modified});
      if (entry.isFolder) subfolders.push_back(PendingFolder{failed, relative, folder.depth + 1, nullptr});
      plan.totalBytes = addBytes(plan.totalBytes, entry.isFolder ? 0 : entry.size);
      return std::nullopt;
    };
    std::vector<std::uint64_t> ids;  // of the subfolders, chained once the folder's own id is known
    auto end = lister.stream(folder.unc, [&](std::vector<DirectoryEntry>& batch) {
      for (const DirectoryEntry& entry : batch) {
        if ((failure = take(entry))) return false;
        if (entry.isFolder) ids.push_back(entry.fileId);
      }
      return true;
    }, stop);
    if (failure) break;
    if (!end) {
      failure = end.error();
      failed = folder.unc;
      break;
    }
    if (top && end->folderId != 0) {
      folder.ids = std::make_shared<const FolderIdChain>(FolderIdChain{end->folderId, nullptr});
    }
    top = false;
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
      if (ids[i] != 0 && FolderIdChain::holds(folder.ids.get(), ids[i])) {
        failure = makeError(ErrorCode::LinkLoop);
        failed = subfolders[i].unc;
        break;
      }
      subfolders[i].ids = ids[i] == 0 ? folder.ids : std::make_shared<const FolderIdChain>(FolderIdChain{ids[i], folder.ids});
    }
    // Reversed onto the stack, so the first subfolder is listed next.
    std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
  }
  if (failure) {
    if (failedItem != nullptr) *failedItem = failed;
    return *failure;
  }
  return plan;
}

Result<DirectoryEntry> lookUpItem(DirectoryLister& lister, std::string_view unc, std::stop_token stop) {
  auto name = copiedName(unc);
  if (!name) return name.error();
  const auto parts = uncComponents(unc);
  if (parts.size() == 2) return DirectoryEntry{*name, true, 0, 0, 0};
  const std::string_view parent = unc.substr(0, unc.rfind('\\'));
  // Streamed: the parent may hold any number of entries, and only one is wanted.
  std::optional<DirectoryEntry> exact;
  std::optional<DirectoryEntry> caseless;
  auto listed = lister.stream(parent, [&](std::vector<DirectoryEntry>& batch) {
    for (DirectoryEntry& e : batch) {
      // Never stopped early: a stop would cost the worker serving the listing.
      if (!exact && e.name == *name) exact = std::move(e);
      if (!caseless && compareIgnoringCase(e.name, *name) == 0) caseless = std::move(e);
    }
    return true;
  }, stop);
  if (!listed) return listed.error();
  if (exact) return *exact;
  if (caseless) return *caseless;
  return makeError(ErrorCode::NotFound, std::string(unc));
}

}  // namespace vuv
