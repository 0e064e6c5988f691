#include "browse/recording_lister.h"

#include <string>
#include <utility>
#include <vector>

namespace vuv {

Result<ListingEnd> RecordingLister::stream(std::string_view uncFolder, const EntryBatchSink& sink,
                                           std::stop_token stop) {
  // The recorder wants a folder whole: its entries are kept beside the consumer's, up to the
  // bound a whole listing has.
  std::vector<DirectoryEntry> seen;
  bool whole = true;
  Result<ListingEnd> end = lister_.stream(uncFolder, [&](std::vector<DirectoryEntry>& batch) {
    if (whole && batch.size() <= kDefaultMaxFolderEntries - seen.size()) {
      seen.insert(seen.end(), batch.begin(), batch.end());  // before the sink may move names out
    } else if (whole) {
      whole = false;
      std::vector<DirectoryEntry>().swap(seen);
    }
    return sink(batch);
  }, stop);
  if (end) {
    if (whole) recorder_.folderListed(std::string(uncFolder), std::move(seen));
  } else if (end.error().code != ErrorCode::Cancelled && !stop.stop_requested()) {
    recorder_.folderFailed(std::string(uncFolder));
  }
  return end;
}

}  // namespace vuv
