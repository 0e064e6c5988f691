// What a walk saw of each folder, for whoever keeps a record of it (the index of names).
// Thread rules: implementations accept calls from any number of threads at once and return
// quickly: the calls come from a walk's listing threads, which must not wait for a disk.
#pragma once

#include <string>
#include <vector>

#include "browse/directory_lister.h"

namespace vuv {

class ListingRecorder {
 public:
  virtual ~ListingRecorder() = default;
  // `folder` (a UNC path) was listed completely: `entries` are all it holds now.
  virtual void folderListed(const std::string& folder, std::vector<DirectoryEntry> entries) = 0;
  // `folder` could not be listed: what was known of it stays, marked as failed.
  virtual void folderFailed(const std::string& folder) = 0;
};

}  // namespace vuv
