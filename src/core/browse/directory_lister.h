// Listing one folder of a share, and reading one file.
//
// Paths are UNC paths as people see them: \\server\share or \\server\share\dir\sub.
// Thread safety: implementations must accept concurrent calls from any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vuv {

struct DirectoryEntry {
  std::string name;           // UTF-8; never "." or ".."
  bool isFolder = false;      // a flag of its own: no size value means "folder"
  std::uint64_t size = 0;     // bytes; 0 for folders
  std::int64_t modified = 0;  // seconds since the Unix epoch
  std::uint64_t fileId = 0;   // the server's file id when it gives one, else 0
};

struct DirectoryListing {
  std::vector<DirectoryEntry> entries;
  // The listed folder's own file id (its "." entry) when the server gives one, else 0. Only
  // this tells a walk the id of a share's top folder, which no listing shows as an entry.
  std::uint64_t folderId = 0;
};

// Receives a folder's entries a batch at a time, in the server's order; it may move them out.
// Returning false stops the listing (Cancelled).
using EntryBatchSink = std::function<bool(std::vector<DirectoryEntry>& batch)>;

// What a listing tells once its entries are through.
struct ListingEnd {
  std::uint64_t folderId = 0;  // as DirectoryListing::folderId
  // The listing also paid for setting up its way to the server (an SMB worker's start and
  // first connection), so its time says little about the server's pace.
  bool coldStart = false;
};

// Entries one folder may hold before list() refuses it: a server can send any number, and
// whoever holds them all needs a bound.
inline constexpr std::size_t kDefaultMaxFolderEntries = 1'000'000;

class DirectoryLister {
 public:
  virtual ~DirectoryLister() = default;

  // All entries of one folder, from a single listing, passed on in batches as they arrive, so
  // that a folder of any size needs no more memory than a batch. Once `stop` is requested the
  // call returns promptly with Cancelled.
  virtual Result<ListingEnd> stream(std::string_view uncFolder, const EntryBatchSink& sink,
                                    std::stop_token stop) = 0;

  // The same listing held whole; TooManyEntries past `maxEntries`.
  Result<DirectoryListing> list(std::string_view uncFolder, std::stop_token stop,
                                std::size_t maxEntries = kDefaultMaxFolderEntries) {
    DirectoryListing listing;
    bool tooMany = false;
    auto end = stream(uncFolder, [&](std::vector<DirectoryEntry>& batch) {
      if (batch.size() > maxEntries - listing.entries.size()) return !(tooMany = true);
      std::move(batch.begin(), batch.end(), std::back_inserter(listing.entries));
      return true;
    }, std::move(stop));
    if (tooMany) return makeError(ErrorCode::TooManyEntries, std::string(uncFolder));
    if (!end) return end.error();
    listing.folderId = end->folderId;
    return listing;
  }
};

// Receives a file's bytes in order; returning false stops the transfer (Cancelled).
using ChunkSink = std::function<bool(const char* data, std::size_t size)>;

// What a reader tells of a file once it has opened it, before the first byte.
struct FileFacts {
  std::uint64_t size = 0;     // bytes the file holds now
  std::int64_t modified = 0;  // seconds since the Unix epoch; 0 when unknown
};

struct ReadHandlers {
  // Once, before any data; returning false stops the transfer (Cancelled).
  std::function<bool(const FileFacts& facts)> opened;
  ChunkSink data;
};

class FileReader {
 public:
  virtual ~FileReader() = default;

  // Streams the file's bytes, in order, to `handlers`. The reader announces the size it found
  // at the open; the caller compares it with what arrived (a file can shrink or grow while it
  // is read). Once `stop` is requested the call returns promptly with Cancelled.
  virtual Status read(std::string_view uncFile, const ReadHandlers& handlers, std::stop_token stop) = 0;
};

}  // namespace vuv
