// The SMB side of one command line run: the worker pool and the browse and listing services on
// it, set up from the connection options (credentials, time limit, worker count).
#pragma once

#include <memory>

#include "base/result.h"
#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "smb/client/smb_browse_service.h"
#include "smb/client/smb_directory_lister.h"
#include "smb/client/worker_pool.h"

namespace vuv::cli {

class SmbSession;

// Says why a session could not open; returns the exit code that goes with it.
ExitCode reportSessionError(const Error& error);

class SmbSession {
 public:
  // Resolves the credentials (-A file, password prompt) and checks that the worker can run.
  static Result<std::unique_ptr<SmbSession>> open(const ConnectionOptions& options);

  BrowseService& browse() { return browse_; }
  DirectoryLister& lister() { return lister_; }

  explicit SmbSession(smb::WorkerPoolOptions options, std::unique_ptr<CredentialPrompt> prompt);

 private:
  std::unique_ptr<CredentialPrompt> prompt_;  // before the pool, which points at it
  smb::WorkerPool pool_;
  smb::SmbBrowseService browse_{pool_};
  smb::SmbDirectoryLister lister_{pool_};
};

}  // namespace vuv::cli
