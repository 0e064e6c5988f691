// Folder listings and file reads on shares, through SMB worker processes. UNC paths
// (\\server\share\dir) become smb:// URLs (smb_url.h); each listing is one readdirplus2 pass
// in the worker, with sizes, times and file ids from the listing itself. A listing whose worker
// crashed or was killed from outside is repeated once on a fresh worker; a read is never
// repeated (its bytes may have gone out already). A stop kills the worker at once (WorkerPool).
//
// Thread safety: any number of threads at once. The pool must outlive the lister.
#pragma once

#include "browse/directory_lister.h"
#include "browse/host_address_book.h"
#include "smb/client/worker_pool.h"

namespace vuv::smb {

class SmbDirectoryLister : public DirectoryLister, public FileReader {
 public:
  // Servers `book` (may be null) has an address for are reached at that address.
  explicit SmbDirectoryLister(WorkerPool& pool, HostAddressBook* book = nullptr) : pool_(pool), book_(book) {}

  Result<ListingEnd> stream(std::string_view uncFolder, const EntryBatchSink& sink, std::stop_token stop) override;
  Status read(std::string_view uncFile, const ReadHandlers& handlers, std::stop_token stop) override;

 private:
  WorkerPool& pool_;
  HostAddressBook* book_;
};

}  // namespace vuv::smb
