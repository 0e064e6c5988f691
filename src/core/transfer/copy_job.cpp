#include "transfer/copy_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "transfer/copy_plan.h"
#include "transfer/writeback.h"

namespace vuv {

namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;

bool allZero(const char* data, std::size_t size) {
  constexpr std::size_t kHead = 16;
  const std::size_t head = std::min(size, kHead);
  for (std::size_t i = 0; i < head; ++i) {
    if (data[i] != 0) return false;
  }
  // With the head all zeros, each byte equal to the one kHead before it means all zeros.
  return size <= kHead || std::memcmp(data, data + kHead, size - kHead) == 0;
}

// The folder just made at `path`, opened without following a link, and only if it is still
// ours: in a destination others may write to, it could have been swapped meanwhile.
LocalFd openOwnFolder(const std::string& path) {
  LocalFd folder(::openat(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (folder.valid() && (::fstat(folder.get(), &status) != 0 || status.st_uid != ::geteuid())) {
    errno = EPERM;
    return LocalFd();
  }
  return folder;
}

class CopyJob {
 public:
  CopyJob(const CopyRequest& request, DirectoryLister& lister, FileReader& reader, std::stop_token stop,
          const CopyProgressSink& progress, const CopySettings& settings)
      : request_(request), lister_(lister), reader_(reader), stop_(std::move(stop)), progress_(progress),
        settings_(settings), throttle_(settings.progressInterval) {}

  Result<std::string> run();

 private:
  Result<std::string> copyFile(const std::string& name, const std::string& target);
  Result<std::string> copyFolder(const std::string& target);
  Status copyFolderItems(const CopyPlan& plan, int top, const std::string& target);
  // Streams `unc` into `fd` and closes it, whatever happens.
  Status fillAndClose(int fd, const std::string& unc, const std::string& finalPath, std::uint64_t listedSize,
                      std::int64_t listedModified);
  void report(bool force = false);

  Error cancelled() const { return makeError(ErrorCode::Cancelled, "Copy of " + request_.item); }
  // A failure of the network side, or of the plan, at `item`.
  Error remote(Error error, const std::string& item) const {
    if (stop_.stop_requested()) return cancelled();
    // A plan too big says which of its bounds it passed.
    const std::string bound = error.code == ErrorCode::TooBig ? " (" + error.detail + ")" : "";
    error.detail = "Could not copy " + item + bound;
    return error;
  }
  Error local(int err, const std::string& item, const std::string& finalPath) const {
    return makeError(ErrorCode::LocalWrite, "Could not copy " + item + " to " + finalPath, err);
  }
  // Errors of local_files.h carry only the errno.
  Error placed(Error error, const std::string& target) const {
    error.detail = "Could not copy " + request_.item + " to " + target;
    return error;
  }

  const CopyRequest& request_;
  DirectoryLister& lister_;
  FileReader& reader_;
  std::stop_token stop_;
  const CopyProgressSink& progress_;
  const CopySettings& settings_;
  // The copy replaces something: its bytes and names reach the disk before the rename, so
  // that a crash cannot take the old item away and leave a new one the disk has not got.
  bool durable_ = false;
  TransferProgress state_;
  RateMeter meter_;
  ProgressThrottle throttle_;
};

Result<std::string> CopyJob::run() {
  auto name = copiedName(request_.item);
  if (!name && name.error().code == ErrorCode::InvalidArgument) return name.error();
  if (!name) return remote(name.error(), request_.item);
  const std::string& folder = request_.destinationFolder;
  struct stat status {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &status) != 0) return local(errno, request_.item, folder);
  if (!S_ISDIR(status.st_mode)) return local(ENOTDIR, request_.item, folder);
  const std::string target = joinLocalPath(folder, *name);
  const bool exists = ::lstat(target.c_str(), &status) == 0;
  if (exists && !request_.replace) return placed(makeError(ErrorCode::AlreadyExists), target);
  durable_ = exists;
  if (stop_.stop_requested()) return cancelled();
  state_.currentItem = request_.item;
  auto copied = request_.isFolder ? copyFolder(target) : copyFile(*name, target);
  if (copied && durable_) syncFolder(folder);
  return copied;
}

Result<std::string> CopyJob::copyFile(const std::string& name, const std::string& target) {
  int fd = -1;
  auto temp = createHiddenBeside(request_.destinationFolder, name, ".part", [&](const std::string& path) {
    fd = settings_.calls.openat(AT_FDCWD, path.c_str(), kCreateFlags, 0666);
    return fd < 0 ? errno : 0;
  });
  if (!temp) return local(temp.error().systemCode, request_.item, target);
  Status filled = fillAndClose(fd, request_.item, target, 0, 0);
  if (filled && stop_.stop_requested()) filled = cancelled();
  if (filled) {
    if (Status in = placeCopy(*temp, target, request_.replace, settings_.calls); !in) filled = placed(in.error(), target);
  }
  if (!filled) {
    ::unlink(temp->c_str());
    return filled.error();
  }
  return target;
}

Result<std::string> CopyJob::copyFolder(const std::string& target) {
  std::string failed;
  auto plan = planFolderCopy(
      lister_, request_.item, stop_,
      [&](const std::string& folder, std::uint64_t bytesSoFar) {
        state_.currentItem = folder;
        state_.bytesTotal = bytesSoFar;
        report();
      },
      &failed, settings_.plan);
  if (!plan) return remote(plan.error(), failed);
  state_.bytesTotal = plan->totalBytes;
  report(true);

  const std::string name = target.substr(target.rfind('/') + 1);
  // Private while it fills: in a shared destination nobody else may add to it or look in.
  auto temp = createHiddenBeside(request_.destinationFolder, name, ".part", [&](const std::string& path) {
    return settings_.calls.mkdirat(AT_FDCWD, path.c_str(), 0700) == 0 ? 0 : errno;
  });
  if (!temp) return local(temp.error().systemCode, request_.item, target);
  const LocalFd top = openOwnFolder(*temp);
  Status copied = top.valid() ? copyFolderItems(*plan, top.get(), target) : Status(local(errno, request_.item, target));
  if (copied && stop_.stop_requested()) copied = cancelled();
  if (copied) {
    if (Status in = placeCopy(*temp, target, request_.replace, settings_.calls); !in) copied = placed(in.error(), target);
  }
  if (!copied) {
    removeLocalTree(*temp);
    return copied.error();
  }
  return target;
}

// Everything is made relative to a handle on its folder, reached from `top` without following
// links: a folder swapped for a link meanwhile fails the copy instead of leading it elsewhere.
Status CopyJob::copyFolderItems(const CopyPlan& plan, int top, const std::string& target) {
  const LocalFileCalls& calls = settings_.calls;
  LocalFd parent;
  std::string parentRelative;
  for (const PlannedItem& item : plan.items) {
    if (stop_.stop_requested()) return cancelled();
    const std::string finalPath = target + '/' + item.relative;
    const std::size_t slash = item.relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : item.relative.substr(0, slash);
    const std::string name = item.relative.substr(slash == std::string::npos ? 0 : slash + 1);
    // A folder's items come together in the plan: one handle serves them all.
    if (!parent.valid() || folder != parentRelative) {
      parent = openFolderBelow(top, folder);
      parentRelative = folder;
      if (!parent.valid()) return local(errno, item.unc, finalPath);
    }
    if (item.isFolder) {
      if (calls.mkdirat(parent.get(), name.c_str(), 0777) != 0) return local(errno, item.unc, finalPath);
      continue;
    }
    const int fd = calls.openat(parent.get(), name.c_str(), kCreateFlags | O_NOFOLLOW, 0666);
    if (fd < 0) return local(errno, item.unc, finalPath);
    if (Status filled = fillAndClose(fd, item.unc, finalPath, item.size, item.modified); !filled) return filled;
  }
  // Files are in: now the folders' times (a new entry would change them again), deepest first,
  // and, when the copy replaces something, their names made durable before the rename.
  for (auto it = plan.items.rbegin(); it != plan.items.rend(); ++it) {
    if (!it->isFolder) continue;
    const LocalFd folder = openFolderBelow(top, it->relative);
    if (!folder.valid()) return local(errno, it->unc, target + '/' + it->relative);
    if (it->modified != 0) {
      const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(it->modified), 0}};
      ::futimens(folder.get(), times);
    }
    if (durable_) ::fsync(folder.get());  // as syncFolder: failures are not reported
  }
  // Private no longer: the finished copy gets the mode a folder made here would have.
  if (::fchmod(top, 0777 & ~creationMask()) != 0) return local(errno, request_.item, target);
  if (durable_) ::fsync(top);
  return success();
}

Status CopyJob::fillAndClose(int fd, const std::string& unc, const std::string& finalPath, std::uint64_t listedSize,
                             std::int64_t listedModified) {
  const LocalFileCalls& calls = settings_.calls;
  std::uint64_t announced = 0;
  std::int64_t modified = listedModified;
  std::uint64_t received = 0;
  bool holeAtEnd = false;
  bool grew = false;
  std::optional<Error> failedLocally;
  state_.currentItem = unc;
  std::optional<BackgroundWriteback> writeback(std::in_place, fd);

  ReadHandlers handlers;
  handlers.opened = [&](const FileFacts& facts) {
    announced = facts.size;
    if (facts.modified != 0) modified = facts.modified;
    // The file may have changed since it was listed: the total follows what it holds now.
    state_.bytesTotal = addBytes(state_.bytesTotal - std::min(state_.bytesTotal, listedSize), facts.size);
    report();
    return true;
  };
  handlers.data = [&](const char* data, std::size_t size) {
    if (size > announced - received) {
      grew = true;
      return false;
    }
    holeAtEnd = allZero(data, size);
    for (std::size_t done = 0; !holeAtEnd && done < size;) {
      const ssize_t n = calls.pwrite(fd, data + done, size - done, static_cast<off_t>(received + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // A regular file never takes nothing without an error; do not spin if one does.
        failedLocally = local(n < 0 ? errno : EIO, unc, finalPath);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    received += size;
    if (!holeAtEnd) writeback->written(received);
    state_.bytesDone += size;
    report();
    return true;
  };
  const Status read = reader_.read(unc, handlers, stop_);
  writeback.reset();  // before the descriptor closes

  auto fail = [&](Error error) -> Status {
    calls.close(fd);
    return error;
  };
  if (failedLocally) return fail(*failedLocally);
  if (grew) return fail(remote(makeError(ErrorCode::FileChanged), unc));
  if (!read) return fail(remote(read.error(), unc));
  if (received < announced) return fail(remote(makeError(ErrorCode::EndedEarly), unc));
  // Skipped zeros at the end leave the file short until it is given its length.
  if (holeAtEnd && ::ftruncate(fd, static_cast<off_t>(received)) != 0) return fail(local(errno, unc, finalPath));
  if (modified != 0) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(modified), 0}};
    ::futimens(fd, times);  // the bytes matter more than their time: not a failure
  }
  if (durable_ && calls.fsync(fd) != 0) return fail(local(errno, unc, finalPath));
  // Some file systems (NFS) report a failed write only at close; the descriptor is gone
  // afterwards whatever close returned.
  if (calls.close(fd) != 0) return local(errno, unc, finalPath);
  return success();
}

void CopyJob::report(bool force) {
  if (!progress_) return;
  const TransferClock::time_point now = settings_.clock();
  meter_.sample(now, state_.bytesDone);
  if (!throttle_.due(now) && !force) return;
  state_.bytesPerSecond = meter_.bytesPerSecond();
  state_.timeLeft = meter_.timeLeft(state_.bytesDone, state_.bytesTotal);
  progress_(state_);
}

}  // namespace

Result<std::string> copyToFolder(const CopyRequest& request, DirectoryLister& lister, FileReader& reader,
                                 std::stop_token stop, const CopyProgressSink& progress, const CopySettings& settings) {
  return CopyJob(request, lister, reader, std::move(stop), progress, settings).run();
}

}  // namespace vuv
