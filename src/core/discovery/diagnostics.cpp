#include "discovery/diagnostics.h"

#include <ostream>

namespace vuv {

void StreamDiagnostics::toStandardOutput(std::string_view text) {
  std::lock_guard lock(mutex_);
  out_ << text << std::flush;
}

void StreamDiagnostics::toStandardError(std::string_view text) {
  std::lock_guard lock(mutex_);
  err_ << text << std::flush;
}

}  // namespace vuv
