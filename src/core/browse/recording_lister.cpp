#include "browse/recording_lister.h"

#include <string>

namespace vuv {

Result<DirectoryListing> RecordingLister::list(std::string_view uncFolder, std::stop_token stop) {
  Result<DirectoryListing> listing = lister_.list(uncFolder, stop);
  if (listing) {
    recorder_.folderListed(std::string(uncFolder), listing->entries);
  } else if (listing.error().code != ErrorCode::Cancelled && !stop.stop_requested()) {
    recorder_.folderFailed(std::string(uncFolder));
  }
  return listing;
}

}  // namespace vuv
