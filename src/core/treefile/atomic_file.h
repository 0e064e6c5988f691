// Replacing a file's whole contents so that readers see either the old file or the new one,
// never a truncated mix: write a temporary file in the same folder, check every write, fsync,
// close, then rename it over the target. On any failure the temporary file is removed and the
// target is left as it was.
//
// Thread-safe: no shared state besides a counter for temporary names.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vuv {

// The system calls a replacement makes. Tests swap one for a stand-in that fails; everything
// else uses the defaults. Each reports failure as the system call does: -1 and errno.
struct FileReplaceCalls {
  std::function<int(const char* path, int flags, mode_t mode)> open;
  std::function<ssize_t(int fd, const void* data, size_t size)> write;
  std::function<int(int fd)> fsync;
  std::function<int(int fd)> close;
  std::function<int(const char* from, const char* to)> rename;

  static FileReplaceCalls system();
};

// Replaces the file at `path` with `bytes`. A new file gets mode 0666 less the umask. When
// `path` is a symbolic link to an existing file, that file is replaced and the link kept.
// Errors: ErrorCode::Io with the errno of the failing call; the detail names the path.
Status replaceFileContents(const std::string& path, std::string_view bytes,
                           const FileReplaceCalls& calls = FileReplaceCalls::system());

}  // namespace vuv
