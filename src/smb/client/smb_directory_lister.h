// Folder listings and file reads on shares, through SMB worker processes. UNC paths
// (\\server\share\dir) become smb:// URLs (smb_url.h); each listing is one readdirplus2 pass
// in the worker, with sizes, times and file ids from the listing itself.
//
// Thread safety: any number of threads at once. The pool must outlive the lister.
#pragma once

#include "browse/directory_lister.h"
#include "smb/client/worker_pool.h"

namespace vuv::smb {

class SmbDirectoryLister : public DirectoryLister, public FileReader {
 public:
  explicit SmbDirectoryLister(WorkerPool& pool) : pool_(pool) {}

  Result<std::vector<DirectoryEntry>> list(std::string_view uncFolder) override;
  Status read(std::string_view uncFile, const ChunkSink& sink) override;

 private:
  WorkerPool& pool_;
};

}  // namespace vuv::smb
