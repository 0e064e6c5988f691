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
  if (!error) {
    const std::filesystem::path beside = self.parent_path() / kWorkerExecutableName;
    if (isExecutable(beside)) return beside.string();
  }
#ifdef VUV_SMB_WORKER_BUILD_PATH
  if (isExecutable(VUV_SMB_WORKER_BUILD_PATH)) return VUV_SMB_WORKER_BUILD_PATH;
#endif
  return std::string(kWorkerExecutableName);
}

}  // namespace vuv::smb
