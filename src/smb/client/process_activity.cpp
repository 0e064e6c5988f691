#include "smb/client/process_activity.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <string>
#include <string_view>

namespace vuv::smb {

ProcessActivityReader::ProcessActivityReader(pid_t pid)
    : stat_(::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC)) {}

std::optional<ProcessActivity> ProcessActivityReader::read() const {
  if (!stat_.valid()) return std::nullopt;
  std::array<char, 1024> buffer{};  // the fields up to stime fit with room to spare
  const ssize_t n = ::pread(stat_.get(), buffer.data(), buffer.size(), 0);
  if (n <= 0) return std::nullopt;
  std::string_view text(buffer.data(), static_cast<std::size_t>(n));
  // The command name in parentheses may hold spaces and parentheses itself: fields follow the
  // last ')'.
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  text.remove_prefix(close + 1);
  // state, then ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt, then utime
  // stime: fields 0 to 12 after the name.
  std::array<std::string_view, 13> fields;
  for (std::string_view& field : fields) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    field = text.substr(0, text.find(' '));
    text.remove_prefix(field.size());
  }
  ProcessActivity activity;
  activity.state = fields[0].front();
  std::uint64_t user = 0;
  std::uint64_t system = 0;
  const auto parse = [](std::string_view field, std::uint64_t& value) {
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && end == field.data() + field.size();
  };
  if (!parse(fields[11], user) || !parse(fields[12], system)) return std::nullopt;
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
