#include "integration/network_test_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vuv::testing {

int runTestNetwork(const std::string& arguments) {
  const std::string command = std::string("'") + VUV_TESTNET_SCRIPT + "' " + arguments;
  return std::system(command.c_str());
}

std::vector<pid_t> ourWorkerProcesses() {
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return pids;
  while (dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (comm) state ppid ...": comm may hold blanks, so split at the last ')'.
    const auto close = line.rfind(')');
    const auto open = line.find('(');
    if (open == std::string::npos || close == std::string::npos) continue;
    const std::string comm = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == ::getpid() && comm.rfind("vuvuveva-smb", 0) == 0) pids.push_back(pid);
  }
  ::closedir(proc);
  return pids;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace vuv::testing
