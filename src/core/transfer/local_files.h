// The local side of a copy: the system calls it makes (a seam tests swap for failing
// stand-ins, as atomic_file does), hidden temporary names beside the target, putting a
// finished copy in place, and removing what a failed copy made.
//
// Temporary names: ".NAME.XXXXXX.part" in the destination folder, created exclusively
// (O_EXCL / mkdir), so a clash with anyone else's file is retried under a new name. A name too
// long for one is cut, at a UTF-8 character boundary.
//
// Thread-safe: no shared state.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace vuv {

// Offsets past 2 GiB must not wrap: build with 64-bit file offsets (_FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits");

// Each reports failure as the system call does: -1 and errno. Names are relative to `dir`
// (AT_FDCWD: the working directory), as openat and mkdirat take them.
struct LocalFileCalls {
  std::function<int(int dir, const char* name, int flags, mode_t mode)> openat;
  std::function<ssize_t(int fd, const void* data, size_t size, off_t offset)> pwrite;
  std::function<int(int fd)> fsync;
  std::function<int(int fd)> close;
  std::function<int(int dir, const char* name, mode_t mode)> mkdirat;
  // renameat2's flags: 0 or RENAME_NOREPLACE.
  std::function<int(const char* from, const char* to, unsigned int flags)> rename;

  static LocalFileCalls system();
};

std::string joinLocalPath(std::string_view folder, std::string_view name);

// A hidden name beside `name` in `folder`, not yet taken: ".NAME.XXXXXX" + suffix. Made by
// `create`, which returns 0 or an errno value (EEXIST: try another name).
Result<std::string> createHiddenBeside(std::string_view folder, std::string_view name, std::string_view suffix,
                                       const std::function<int(const std::string& path)>& create);

// Renames the finished copy `temp` to `target`. Without `replace`, an existing `target` stays
// and the result is AlreadyExists. With it, a file replaces a file or link in one rename; when
// either is a folder the old one is renamed away first, the new one renamed in, and only then
// the old one removed (renamed back when the new one cannot go in). Errors: the errno of the
// failing call, as a plain number (the caller words it).
Status placeCopy(const std::string& temp, const std::string& target, bool replace, const LocalFileCalls& calls);

// Removes `path` and, for a folder, everything below it, without following links. Quiet:
// cleanup after a failure has nothing better to report.
void removeLocalTree(const std::string& path);

// The process's file creation mask, read without changing it (umask() would race with other
// threads creating files); 022 where /proc does not tell.
mode_t creationMask();

// Makes the names in `folder` durable (after a rename); failures are not reported: the data
// is in place already.
void syncFolder(const std::string& folder);

// Owns one open descriptor (-1: none).
class LocalFd {
 public:
  LocalFd() = default;
  explicit LocalFd(int fd) : fd_(fd) {}
  LocalFd(LocalFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  LocalFd& operator=(LocalFd&& other) noexcept;
  ~LocalFd();
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The folder `relative` ('/'-separated; empty: `top` itself) below the open folder `top`,
// opened one component at a time, refusing links at every step (ELOOP or ENOTDIR): nothing
// swapped in below `top` can lead out of it. Invalid with errno set on failure.
LocalFd openFolderBelow(int top, std::string_view relative);

}  // namespace vuv
