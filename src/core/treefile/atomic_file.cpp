#include "treefile/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace vuv {

namespace {

namespace fs = std::filesystem;

// O_EXCL clashes with someone else's temporary file are retried under a new name.
constexpr int kMaxNameAttempts = 100;

std::atomic<unsigned> tempCounter{0};

// The file a save must replace: the target itself, or what an existing symbolic link there
// points to (renaming over the link would cut it instead of updating the linked file).
std::string resolveTarget(const std::string& path) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
  fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

std::string tempNameFor(const std::string& target) {
  const fs::path p(target);
  const auto stamp = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  std::string name = "." + p.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(tempCounter.fetch_add(1)) + "-" +
                     std::to_string(stamp % 1000000007ULL);
  return (p.parent_path() / name).string();
}

Error ioError(const std::string& what, const std::string& path, int err) {
  return makeError(ErrorCode::Io, what + " " + path, err);
}

}  // namespace

FileReplaceCalls FileReplaceCalls::system() {
  FileReplaceCalls calls;
  calls.open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
  calls.write = [](int fd, const void* data, size_t size) { return ::write(fd, data, size); };
  calls.fsync = [](int fd) { return ::fsync(fd); };
  calls.close = [](int fd) { return ::close(fd); };
  calls.rename = [](const char* from, const char* to) { return ::rename(from, to); };
  return calls;
}

Status replaceFileContents(const std::string& path, std::string_view bytes,
                           const FileReplaceCalls& calls) {
  if (path.empty()) return makeError(ErrorCode::Io, "creating a file with no name", ENOENT);
  const std::string target = resolveTarget(path);

  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < kMaxNameAttempts && fd < 0; ++attempt) {
    temp = tempNameFor(target);
    fd = calls.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return ioError("creating", path, errno);

  // From here on every failure removes the temporary file; the target is not touched until
  // the rename.
  const auto fail = [&](const char* what, int err, bool closeFirst) -> Status {
    if (closeFirst) calls.close(fd);
    ::unlink(temp.c_str());
    return ioError(what, path, err);
  };

  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = calls.write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail("writing", errno, true);
    }
    // A regular file never accepts nothing without an error; do not spin if it does.
    if (n == 0) return fail("writing", EIO, true);
    done += static_cast<std::size_t>(n);
  }
  if (calls.fsync(fd) != 0) return fail("writing", errno, true);
  // Some file systems (NFS) report a failed write only at close. The descriptor is gone
  // afterwards whatever close returned, so it is never closed twice.
  if (calls.close(fd) != 0) return fail("writing", errno, false);
  if (calls.rename(temp.c_str(), target.c_str()) != 0) return fail("replacing", errno, false);

  // Make the rename itself durable. The new file is in place already, so a failure here has
  // nothing left to undo and is not reported.
  const fs::path folder = fs::path(target).parent_path();
  const int dirFd =
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return success();
}

}  // namespace vuv
