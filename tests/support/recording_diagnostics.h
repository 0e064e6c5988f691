// A diagnostic sink that keeps what was written, for assertions.
#pragma once

#include <mutex>
#include <string>

#include "discovery/diagnostics.h"

namespace vuv::testing {

class RecordingDiagnostics final : public DiagnosticSink {
 public:
  void toStandardOutput(std::string_view text) override {
    std::lock_guard lock(mutex_);
    out_ += text;
  }
  void toStandardError(std::string_view text) override {
    std::lock_guard lock(mutex_);
    err_ += text;
  }
  std::string out() const {
    std::lock_guard lock(mutex_);
    return out_;
  }
  std::string err() const {
    std::lock_guard lock(mutex_);
    return err_;
  }

 private:
  mutable std::mutex mutex_;
  std::string out_;
  std::string err_;
};

}  // namespace vuv::testing
