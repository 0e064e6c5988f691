#include "transfer/copy_plan.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <memory>

#include "base/casefold.h"
#include "browse/unc_path.h"

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
                                const PlanListing& listing, std::string* failedItem) {
  CopyPlan plan;
  auto fail = [&](Error error, const std::string& item) {
    if (failedItem != nullptr) *failedItem = item;
    return error;
  };
  // Depth first, a folder's subfolders in listing order.
  std::vector<PendingFolder> pending{PendingFolder{std::string(uncFolder), "", 0, nullptr}};
  bool top = true;
  while (!pending.empty()) {
    PendingFolder folder = std::move(pending.back());
    pending.pop_back();
    if (listing) listing(folder.unc, plan.totalBytes);
    auto listed = lister.list(folder.unc, stop);
    if (!listed) return fail(listed.error(), folder.unc);
    if (top && listed->folderId != 0) {
      folder.ids = std::make_shared<const FolderIdChain>(FolderIdChain{listed->folderId, nullptr});
    }
    top = false;

    std::vector<PendingFolder> subfolders;
    for (const DirectoryEntry& entry : listed->entries) {
      const std::string unc = folder.unc + '\\' + entry.name;
      if (auto safe = checkLocalName(entry.name); !safe) return fail(safe.error(), unc);
      const std::string relative = folder.relative.empty() ? entry.name : folder.relative + '/' + entry.name;
      if (relative.size() > kMaxRelativeBytes || folder.depth + 1 > kMaxCopyDepth) {
        return fail(makeError(ErrorCode::LocalWrite, {}, ENAMETOOLONG), unc);
      }
      plan.items.push_back(PlannedItem{unc, relative, entry.isFolder, entry.isFolder ? 0 : entry.size, entry.modified});
      if (!entry.isFolder) {
        plan.totalBytes += entry.size;
        continue;
      }
      if (entry.fileId != 0 && FolderIdChain::holds(folder.ids.get(), entry.fileId)) {
        return fail(makeError(ErrorCode::LinkLoop), unc);
      }
      auto ids = entry.fileId == 0 ? folder.ids : std::make_shared<const FolderIdChain>(FolderIdChain{entry.fileId, folder.ids});
      subfolders.push_back(PendingFolder{unc, relative, folder.depth + 1, std::move(ids)});
    }
    // Reversed onto the stack, so the first subfolder is listed next.
    std::move(subfolders.rbegin(), subfolders.rend(), std::back_inserter(pending));
  }
  return plan;
}

Result<DirectoryEntry> lookUpItem(DirectoryLister& lister, std::string_view unc, std::stop_token stop) {
  auto name = copiedName(unc);
  if (!name) return name.error();
  const auto parts = uncComponents(unc);
  if (parts.size() == 2) return DirectoryEntry{*name, true, 0, 0, 0};
  const std::string_view parent = unc.substr(0, unc.rfind('\\'));
  auto listed = lister.list(parent, stop);
  if (!listed) return listed.error();
  const auto& entries = listed->entries;
  auto found = std::find_if(entries.begin(), entries.end(), [&](const DirectoryEntry& e) { return e.name == *name; });
  if (found == entries.end()) {
    found = std::find_if(entries.begin(), entries.end(),
                         [&](const DirectoryEntry& e) { return compareIgnoringCase(e.name, *name) == 0; });
  }
  if (found == entries.end()) return makeError(ErrorCode::NotFound, std::string(unc));
  return *found;
}

}  // namespace vuv
