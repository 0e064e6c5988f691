#include "smb/client/worker_path.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace vuv::smb {

namespace {

bool isExecutable(const std::filesystem::path& path) {
  return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string defaultWorkerPath() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path beside = self.parent_path() / kWorkerExecutableName;
  if (!error) {
    if (isExecutable(beside)) return beside.string();
    const std::filesystem::path installed =
        (self.parent_path() / kInstalledWorkerDir / kWorkerExecutableName).lexically_normal();
    if (isExecutable(installed)) return installed.string();
  }
#if defined(VUV_SMB_WORKER_BUILD_PATH) && defined(VUV_BUILD_TREE)
  const std::string_view buildTree = VUV_BUILD_TREE "/";
  if (!error && self.string().starts_with(buildTree) && isExecutable(VUV_SMB_WORKER_BUILD_PATH)) {
    return VUV_SMB_WORKER_BUILD_PATH;
  }
#endif
  // Never the bare name: a path without a slash is taken from the current folder, where a
  // file copied off a share may sit under that name, and the worker is sent the credentials.
  return error ? "/" + std::string(kWorkerExecutableName) : beside.string();
}

}  // namespace vuv::smb
