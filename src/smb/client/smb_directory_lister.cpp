#include "smb/client/smb_directory_lister.h"

#include <algorithm>

#include "browse/smb_url.h"

namespace vuv::smb {

namespace {

// Names the UNC path people know rather than the URL; the worker's detail stays for logs.
Error aboutPath(Error error, std::string_view what, std::string_view unc) {
  error.detail = std::string(what) + " " + std::string(unc) +
                 (error.detail.empty() ? "" : " [" + error.detail + "]");
  return error;
}

// The server of \\server\share...: the name the person gave.
std::string_view serverOf(std::string_view unc) {
  unc.remove_prefix(std::min<std::size_t>(2, unc.size()));
  return unc.substr(0, unc.find('\\'));
}

}  // namespace

Result<ListingEnd> SmbDirectoryLister::stream(std::string_view uncFolder, const EntryBatchSink& sink,
                                              std::stop_token stop) {
  Result<std::string> url = smbUrlFromUnc(uncFolder, book_, stop);
  if (!url) return aboutPath(url.error(), "listing", uncFolder);

  ListingEnd end;
  bool delivered = false;
  std::vector<DirectoryEntry> entries;
  ReplyHandlers handlers;
  handlers.onEntries = [&](std::vector<protocol::Entry>& batch) {
    entries.clear();
    for (protocol::Entry& e : batch) {
      if (e.name == ".") {
        end.folderId = e.fileId;
        continue;
      }
      if (e.name == "..") continue;
      const bool folder = e.kind == protocol::EntryKind::Folder;
      entries.push_back(DirectoryEntry{std::move(e.name), folder, folder ? 0 : e.size, e.modified, e.fileId});
    }
    if (entries.empty()) return true;
    delivered = true;
    return sink(entries);
  };
  Result<RequestOutcome> outcome = pool_.run(protocol::Operation::ListDirectory, *url, handlers, stop, WorkerChoice::Any,
                                              serverOf(uncFolder));
  // A listing is a read: one whose worker died or was killed from outside before it passed on
  // an entry is repeated once on a fresh worker before the folder counts as failed.
  if (!outcome && outcome.error().code == ErrorCode::WorkerCrashed && !delivered) {
    end = {};
    outcome = pool_.run(protocol::Operation::ListDirectory, *url, handlers, stop, WorkerChoice::Fresh,
                        serverOf(uncFolder));
  }
  if (!outcome) return aboutPath(outcome.error(), "listing", uncFolder);
  // An empty folder still opens: no handle without an error is no listing, not an empty one.
  if (outcome->openedNothing) {
    return aboutPath(makeError(ErrorCode::Io, "the server gave no listing and no error"), "listing", uncFolder);
  }
  end.coldStart = outcome->firstOfWorker;
  return end;
}

Status SmbDirectoryLister::read(std::string_view uncFile, const ReadHandlers& handlers,
                                std::stop_token stop) {
  Result<std::string> url = smbUrlFromUnc(uncFile, book_, stop);
  if (!url) return aboutPath(url.error(), "reading", uncFile);

  // The worker tells the file's size first, in a batch of one entry, then sends its bytes.
  bool announced = false;
  const char* broken = nullptr;  // what the worker did out of order
  ReplyHandlers replies;
  replies.onEntries = [&](std::vector<protocol::Entry>& batch) {
    if (announced || batch.size() != 1) {
      broken = "sent stray entries";
      return false;
    }
    announced = true;
    return !handlers.opened || handlers.opened(FileFacts{batch.front().size, batch.front().modified});
  };
  replies.onData = [&](const char* data, std::size_t size) {
    if (!announced) {
      broken = "sent data before the file's size";
      return false;
    }
    return handlers.data(data, size);
  };
  // Not repeated after a crash: part of the file may have gone out already.
  Result<RequestOutcome> outcome = pool_.run(protocol::Operation::ReadFile, *url, replies, stop, WorkerChoice::Any,
                                              serverOf(uncFile));
  if (broken != nullptr) {
    return aboutPath(makeError(ErrorCode::Protocol, std::string("SMB worker ") + broken), "reading", uncFile);
  }
  if (!outcome) return aboutPath(outcome.error(), "reading", uncFile);
  if (!announced) {
    return aboutPath(makeError(ErrorCode::Protocol, "SMB worker did not tell the file's size"), "reading", uncFile);
  }
  return success();
}

}  // namespace vuv::smb
