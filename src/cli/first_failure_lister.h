// A DirectoryLister that passes every listing on and keeps the first failure, so that a
// search's summary can say why folders could not be listed, not only how many (a share on a
// server that speaks only SMB1, refused access, a silent host).
//
// Thread safety: list() may be called from any number of threads, like the lister it wraps;
// firstFailure() from any thread.
#pragma once

#include <mutex>
#include <optional>

#include "browse/directory_lister.h"

namespace vuv::cli {

class FirstFailureLister final : public DirectoryLister {
 public:
  // `inner` must outlive this object.
  explicit FirstFailureLister(DirectoryLister& inner) : inner_(inner) {}

  Result<std::vector<DirectoryEntry>> list(std::string_view uncFolder, std::stop_token stop) override {
    auto listed = inner_.list(uncFolder, stop);
    // A stop is the user's doing, not the network's.
    if (!listed && listed.error().code != ErrorCode::Cancelled) {
      std::lock_guard lock(mutex_);
      if (!first_) first_ = listed.error();
    }
    return listed;
  }

  std::optional<Error> firstFailure() const {
    std::lock_guard lock(mutex_);
    return first_;
  }

 private:
  DirectoryLister& inner_;
  mutable std::mutex mutex_;
  std::optional<Error> first_;  // protected by mutex_
};

}  // namespace vuv::cli
