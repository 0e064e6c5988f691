// A lister that passes every listing on unchanged and tells a recorder what it saw: a walk
// over it keeps the index current without a change of its own and without extra traffic.
// A listing cut short by a stop, or by its consumer (a folder past the walk's cap), is neither
// complete nor a failure: nothing is recorded. Nor is a folder past kDefaultMaxFolderEntries,
// whose entries it would have to hold.
// Thread rules: as DirectoryLister; both the lister and the recorder must outlive it.
#pragma once

#include "browse/directory_lister.h"
#include "browse/listing_recorder.h"

namespace vuv {

class RecordingLister final : public DirectoryLister {
 public:
  RecordingLister(DirectoryLister& lister, ListingRecorder& recorder) : lister_(lister), recorder_(recorder) {}

  Result<ListingEnd> stream(std::string_view uncFolder, const EntryBatchSink& sink, std::stop_token stop) override;

 private:
  DirectoryLister& lister_;
  ListingRecorder& recorder_;
};

}  // namespace vuv
