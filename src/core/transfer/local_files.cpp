#include "transfer/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "base/utf8.h"

namespace vuv {

namespace {

constexpr int kMaxNameAttempts = 100;
// A file name may have 255 bytes; the hidden name adds a dot, the random part and a suffix.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kRandomChars = 6;

std::string randomPart() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 generator{
      std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()) ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string part(kRandomChars, ' ');
  for (char& c : part) c = kChars[pick(generator)];
  return part;
}

bool isFolder(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

Error systemError(int err) { return makeError(ErrorCode::LocalWrite, {}, err); }

// A rename that never overwrites: 0 or an errno value (EEXIST when `to` is taken). Where the
// file system lacks RENAME_NOREPLACE it looks first (a small race, as without the flag).
int renameKeeping(const LocalFileCalls& calls, const std::string& from, const std::string& to) {
  if (calls.rename(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat status {};
  if (::lstat(to.c_str(), &status) == 0) return EEXIST;
  return calls.rename(from.c_str(), to.c_str(), 0) == 0 ? 0 : errno;
}

}  // namespace

LocalFileCalls LocalFileCalls::system() {
  LocalFileCalls calls;
  calls.openat = [](int dir, const char* name, int flags, mode_t mode) { return ::openat(dir, name, flags, mode); };
  calls.pwrite = [](int fd, const void* data, size_t size, off_t offset) { return ::pwrite(fd, data, size, offset); };
  calls.fsync = [](int fd) { return ::fsync(fd); };
  calls.close = [](int fd) { return ::close(fd); };
  calls.mkdirat = [](int dir, const char* name, mode_t mode) { return ::mkdirat(dir, name, mode); };
  calls.rename = [](const char* from, const char* to, unsigned int flags) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
  };
  return calls;
}

std::string joinLocalPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

Result<std::string> createHiddenBeside(std::string_view folder, std::string_view name, std::string_view suffix,
                                       const std::function<int(const std::string& path)>& create) {
  const std::size_t room = kMaxNameBytes - 2 - kRandomChars - suffix.size();
  const std::string stem = "." + std::string(cutUtf8(name, room)) + ".";
  int err = EEXIST;
  for (int attempt = 0; attempt < kMaxNameAttempts && err == EEXIST; ++attempt) {
    std::string path = joinLocalPath(folder, stem + randomPart() + std::string(suffix));
    err = create(path);
    if (err == 0) return path;
  }
  return systemError(err);
}

Status placeCopy(const std::string& temp, const std::string& target, bool replace, const LocalFileCalls& calls) {
  if (!replace) {
    const int err = renameKeeping(calls, temp, target);
    if (err == EEXIST) return makeError(ErrorCode::AlreadyExists, {}, EEXIST);
    return err == 0 ? success() : Status(systemError(err));
  }
  struct stat status {};
  const bool targetExists = ::lstat(target.c_str(), &status) == 0;
  if (!targetExists || (!S_ISDIR(status.st_mode) && !isFolder(temp))) {
    if (calls.rename(temp.c_str(), target.c_str(), 0) == 0) return success();
    return systemError(errno);
  }
  // A folder on either side: one rename cannot put it in place of the other.
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  auto old = createHiddenBeside(folder, name, ".old",
                                [&](const std::string& path) { return renameKeeping(calls, target, path); });
  if (!old) return old.error();
  if (const int err = renameKeeping(calls, temp, target); err != 0) {
    renameKeeping(calls, *old, target);
    return systemError(err);
  }
  removeLocalTree(*old);
  return success();
}

void removeLocalTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

mode_t creationMask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Umask:")) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
  }
  return 022;
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

LocalFd& LocalFd::operator=(LocalFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

LocalFd::~LocalFd() {
  if (fd_ >= 0) ::close(fd_);
}

LocalFd openFolderBelow(int top, std::string_view relative) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  LocalFd folder(::openat(top, ".", kFlags));
  while (folder.valid() && !relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    folder = LocalFd(::openat(folder.get(), name.c_str(), kFlags));
  }
  return folder;
}

}  // namespace vuv
