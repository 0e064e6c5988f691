#include "smb/client/process_activity.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace vuv::smb {

std::optional<ProcessActivity> readProcessActivity(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  // The command name in parentheses may hold spaces and parentheses itself: fields follow the last ')'.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  ProcessActivity activity;
  std::string skipped;
  fields >> activity.state;
  // ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt, then utime stime.
  for (int i = 0; i < 10; ++i) fields >> skipped;
  std::uint64_t user = 0;
  std::uint64_t system = 0;
  if (!(fields >> user >> system)) return std::nullopt;
  activity.cpuTicks = user + system;
  return activity;
}

bool heldUpLocally(const ProcessActivity& before, const ProcessActivity& now) {
  switch (now.state) {
    case 'R':
    case 'D':
    case 'T':
    case 't': return true;
    default: return now.cpuTicks > before.cpuTicks;
  }
}

}  // namespace vuv::smb
