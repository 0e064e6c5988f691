#include "smb/client/smb_directory_lister.h"

#include "browse/smb_url.h"

namespace vuv::smb {

namespace {

// Names the UNC path people know rather than the URL; the worker's detail stays for logs.
Error aboutPath(Error error, std::string_view what, std::string_view unc) {
  error.detail = std::string(what) + " " + std::string(unc) +
                 (error.detail.empty() ? "" : " [" + error.detail + "]");
  return error;
}

}  // namespace

Result<DirectoryListing> SmbDirectoryLister::list(std::string_view uncFolder, std::stop_token stop) {
  Result<std::string> url = smbUrlFromUnc(uncFolder, book_);
  if (!url) return url.error();

  DirectoryListing listing;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    for (protocol::Entry& e : batch) {
      if (e.name == ".") {
        listing.folderId = e.fileId;
        continue;
      }
      if (e.name == "..") continue;
      const bool folder = e.kind == protocol::EntryKind::Folder;
      listing.entries.push_back(DirectoryEntry{std::move(e.name), folder, folder ? 0 : e.size,
                                               e.modified, e.fileId});
    }
    return true;
  };
  Result<RequestOutcome> outcome = pool_.run(protocol::Operation::ListDirectory, *url, handlers, stop);
  // A listing is a read: one whose worker died or was killed from outside is repeated once on
  // a fresh worker before the folder counts as failed.
  if (!outcome && outcome.error().code == ErrorCode::WorkerCrashed) {
    listing = {};
    outcome = pool_.run(protocol::Operation::ListDirectory, *url, handlers, stop, WorkerChoice::Fresh);
  }
  if (!outcome) return aboutPath(outcome.error(), "listing", uncFolder);
  return listing;
}

Status SmbDirectoryLister::read(std::string_view uncFile, const ChunkSink& sink) {
  Result<std::string> url = smbUrlFromUnc(uncFile, book_);
  if (!url) return url.error();

  ReplyHandlers handlers;
  handlers.onData = sink;
  Result<RequestOutcome> outcome = pool_.run(protocol::Operation::ReadFile, *url, handlers);
  if (!outcome) return aboutPath(outcome.error(), "reading", uncFile);
  return success();
}

}  // namespace vuv::smb
