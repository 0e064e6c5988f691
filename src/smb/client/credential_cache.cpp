#include "smb/client/credential_cache.h"

#include "base/casefold.h"

namespace vuv::smb {

namespace {

// Server names compare ignoring case, as in the address book.
std::string serverKey(std::string_view server) { return foldCaseUtf8(server); }

}  // namespace

std::optional<CredentialAnswer> CredentialCache::credentialsFor(std::string_view server,
                                                           std::string_view share,
                                                           std::stop_token stop, bool mayPrompt) {
  const std::string serverName = serverKey(server);
  const ShareKey shareKey{serverName, std::string(share)};
  std::unique_lock lock(mutex_);
  while (true) {
    if (auto it = shares_.find(shareKey); it != shares_.end()) {
      return CredentialAnswer{it->second.credentials, it->second.remember};
    }
    const bool ownShare = sharesRefusingServer_.contains(shareKey);
    if (!ownShare) {
      if (auto it = servers_.find(serverName); it != servers_.end()) {
        return CredentialAnswer{it->second.credentials, it->second.remember};
      }
    }
    const std::string promptKey = ownShare ? serverName + "\\" + shareKey.second : serverName;
    if (declined_.contains(promptKey) || prompt_ == nullptr || !mayPrompt) return std::nullopt;
    if (!asking_.contains(promptKey)) {
      asking_.insert(promptKey);
      lock.unlock();
      const LogOnReason reason = ownShare            ? LogOnReason::ServerLogOnRefused
                                 : credentialsGiven_ ? LogOnReason::GivenLogOnRefused
                                                     : LogOnReason::GuestRefused;
      std::optional<CredentialAnswer> answer = prompt_->credentialsFor(server, share, reason, stop);
      lock.lock();
      asking_.erase(promptKey);
      answered_.notify_all();
      if (!answer) {
        declined_.insert(promptKey);
      } else if (ownShare) {
        shares_[shareKey] = Known{answer->credentials, false, answer->remember};
      } else {
        servers_[serverName] = Known{answer->credentials, false, answer->remember};
      }
      return answer;
    }
    if (!answered_.wait(lock, stop, [&] { return !asking_.contains(promptKey); })) {
      return std::nullopt;
    }
  }
}

void CredentialCache::startRun() {
  std::lock_guard lock(mutex_);
  std::erase_if(servers_, [](const auto& entry) { return !entry.second.remember; });
  std::erase_if(shares_, [](const auto& entry) { return !entry.second.remember; });
  declined_.clear();
}

void CredentialCache::askAgain(std::string_view server) {
  std::lock_guard lock(mutex_);
  declined_.erase(serverKey(server));
}

void CredentialCache::accepted(std::string_view server, std::string_view /*share*/,
                               const Credentials& given) {
  std::lock_guard lock(mutex_);
  if (auto it = servers_.find(serverKey(server)); it != servers_.end() && it->second.credentials == given) {
    it->second.confirmed = true;
  }
}

void CredentialCache::refused(std::string_view server, std::string_view share,
                              const Credentials& given) {
  std::lock_guard lock(mutex_);
  const ShareKey shareKey{serverKey(server), std::string(share)};
  if (auto it = shares_.find(shareKey); it != shares_.end() && it->second.credentials == given) {
    shares_.erase(it);
    return;
  }
  auto it = servers_.find(shareKey.first);
  if (it == servers_.end() || it->second.credentials != given) return;  // already replaced
  if (it->second.confirmed) {
    sharesRefusingServer_.insert(shareKey);  // right for the server, not for this share
  } else {
    servers_.erase(it);  // a wrong password: ask again next time
  }
}

}  // namespace vuv::smb
