// A credential prompt for tests that answers from a list: the fake worker pool's tests and the
// real worker's on the test network.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "browse/credentials.h"

namespace vuv::smb::testing {

// Hands out its answers in turn (the last one repeats), counts the questions and keeps where
// the last one was for. `beforeAnswer` runs first, outside the lock.
class ListPrompt : public CredentialPrompt {
 public:
  explicit ListPrompt(std::vector<std::optional<Credentials>> answers, bool remember = true)
      : answers_(std::move(answers)), remember_(remember) {}
  std::optional<CredentialAnswer> credentialsFor(std::string_view server, std::string_view share,
                                                 LogOnReason why, std::stop_token) override {
    if (beforeAnswer) beforeAnswer();
    std::lock_guard lock(mutex_);
    where = std::string(server) + "/" + std::string(share);
    reason = why;
    const std::optional<Credentials>& answer = answers_[std::min<std::size_t>(asked++, answers_.size() - 1)];
    if (!answer) return std::nullopt;
    return CredentialAnswer{*answer, remember_};
  }
  std::function<void()> beforeAnswer;
  std::atomic<int> asked = 0;
  std::string where;
  LogOnReason reason = LogOnReason::GuestRefused;

 private:
  std::mutex mutex_;
  std::vector<std::optional<Credentials>> answers_;
  bool remember_;
};

}  // namespace vuv::smb::testing
